// Usage line, long help and version banner, generated from an option table and written through
// a print operation.
#pragma once

#include "cli/options.h"
#include "cli/program.h"

namespace norvalex {

// Prints `banner` and "\n".
void print_version(const char* banner, PrintFunction print);

// Prints "usage: ", the program name, the options and the positional argument's name as one
// line. With `grouped` non-zero each run of adjacent flags forms one bracket and each option with
// an argument a bracket of its own; with it zero "[options] " stands for them all.
void print_usage(OptionTable table, PrintFunction print, int grouped);

// Prints the grouped usage line (`long_form` zero) or the long help with the title line and one
// line per option (`long_form` non-zero), then ends the process with status 0.
[[noreturn]] void print_help(OptionTable table, int long_form, PrintFunction print);

} // namespace norvalex
