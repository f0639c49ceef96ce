// Long names for the rows of an option table ("--stats" for -s), read by the same option parser:
// each long word becomes its letter, and an option's value a word of its own, before the parse.
// Options stand in front of the operands, and "--" ends them.
#pragma once

#include "cli/options.h"
#include "cli/program.h"

#include <deque>
#include <span>
#include <string>
#include <vector>

namespace norvalex {

struct LongOption {
  const char* name;
  char letter;
};

// One parse of a command line: the table's callbacks have run, and the values they stored point
// into the command line's words or into this record, which must outlive their use.
class CommandLine {
public:
  // Parses the words of `argv` from `first` on, the program's name taken from argv[0]. Ends the
  // run with one error line and status 1 (refuse) for an unknown option, long or short, an option
  // that lacks its value, a value given to a flag ("--json=1") and an option after the operands.
  CommandLine(OptionTable table, std::span<const LongOption> long_options, int argc, char** argv,
              int first = 1);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // The words from the first that is no option on, and every word after "--".
  const std::vector<const char*>& operands() const { return operands_; }

private:
  char* make(std::string word);

  std::deque<std::string> made_; // the words made here: letters of long options, their values
  std::vector<const char*> operands_;
};

// One help line per option row: " -s, --stats" and its argument name, padded to one column for
// all (column 22 at least), then the description.
void print_option_lines(OptionTable table, std::span<const LongOption> long_options,
                        PrintFunction print);

// The program's name as help and version lines show it, its control bytes escaped.
std::string shown_program_name();

// Prints "<program> <version>" on standard output and ends the run with status 0 (a failed write
// throws).
[[noreturn]] void print_program_version();

} // namespace norvalex
