// tqsinfo's command line: one option table read by the project's option parser, with a long
// name for each option row ("--stats" for -s). The long words are turned into their letters
// before the parse; help is generated from the two tables.
#pragma once

#include "cli/options.h"

#include <optional>
#include <string>
#include <vector>

struct Command {
  bool stats = false;
  bool json = false;
  bool check = false;
  const char* dump_names = nullptr; // --dump: comma-separated array names
  std::optional<int> series;        // --series: the series --dump reads, from 1
  std::vector<const char*> files;
};

// Reads the command line. Help and the version are printed on standard output and end the
// process with status 0 (a failed write throws); a wrong command line ends it with one error
// line and status 1.
Command read_command_line(int argc, char** argv);
