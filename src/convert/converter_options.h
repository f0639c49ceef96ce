// The converter's command line: its option table, the variables that the options set, and the
// banner that the long help starts with.
#pragma once

#include "cli/options.h"

namespace norvalex {

// Zero or null until an option sets them.
extern int short_help;          // -h; also wanted when the positional count is not exactly one
extern int long_help;           // -H
extern int verbose;             // -v: progress lines on standard error
extern const char* output_file; // -o outfile
extern const char* append_file; // -a outfile

// Header, the rows h, H, v, o and a in the order that help lists them, and the terminator.
extern const OptionSpec converter_options[7];

extern const char version_banner[];

} // namespace norvalex
