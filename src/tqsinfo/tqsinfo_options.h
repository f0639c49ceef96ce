// tqsinfo's command line: one option table read by the project's option parser, with a long
// name for each option row ("--stats" for -s). The long words are turned into their letters
// before the parse; help is generated from the two tables. A parse keeps everything it finds in
// the record it returns, so every parse reads its own words.
#pragma once

#include "cli/options.h"

#include <optional>
#include <string>
#include <vector>

namespace norvalex {

struct Command {
  bool stats = false;
  bool json = false;
  bool check = false;
  std::optional<std::string> dump_names; // --dump: comma-separated array names
  std::optional<int> series;             // --series: the series --dump reads, from 1
  std::vector<const char*> files;        // the command-line words themselves
};

// Reads the command line. Help and the version are printed on standard output and end the
// process with status 0 (a failed write throws); a wrong command line ends it with one error
// line and status 1.
Command read_command_line(int argc, char** argv);

} // namespace norvalex
