#include "tqsinfo/tqsinfo_options.h"

#include "cli/diagnostics.h"
#include "cli/help.h"
#include "cli/long_options.h"
#include "cli/text_output.h"

#include "norvalex/version.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace norvalex {

namespace {

// What the option rows set during one parse.
struct OptionTargets {
  int help = 0;
  int version = 0;
  int stats = 0;
  int json = 0;
  int check = 0;
  const char* dump_names = nullptr;
  const char* series_text = nullptr;
};

// The option table with its targets in `targets`. The terminator has no callback: the command
// line's split notes the first unknown letter.
std::array<OptionSpec, 9> option_table(OptionTargets& targets) {
  return {{
      {' ', nullptr, nullptr, "FILE...", "list, summarize, dump and check TQS files"},
      {'h', &targets.help, set_flag, nullptr, "Give this help and quit"},
      {'V', &targets.version, set_flag, nullptr, "Print the version and quit"},
      {'s', &targets.stats, set_flag, nullptr, "Add the statistics of every array of doubles"},
      {'j', &targets.json, set_flag, nullptr, "Print the listing as one JSON document"},
      {'c', &targets.check, set_flag, nullptr,
       "Check each file's structure: OK, or its first defect"},
      {'d', &targets.dump_names, set_string, "names",
       "Write these arrays (names separated by commas) as columns"},
      {'n', &targets.series_text, set_string, "number",
       "The series whose arrays --dump writes (default 1)"},
      {0, nullptr, nullptr, nullptr, "unknown option -"},
  }};
}

constexpr LongOption long_options[] = {
    {"help", 'h'},  {"version", 'V'}, {"stats", 's'},  {"json", 'j'},
    {"check", 'c'}, {"dump", 'd'},    {"series", 'n'},
};

void print_stdout(const char* text) {
  std::fputs(text, stdout);
}

[[noreturn]] void print_tqsinfo_help(OptionTable table) {
  std::printf("%s %s - %s\n", shown_program_name().c_str(), NORVALEX_VERSION_STRING,
              table[0].description);
  print_usage(table, print_stdout, 1);
  std::printf("\noptions:\n");
  print_option_lines(table, long_options, print_stdout);
  std::printf("\nOptions stand in front of the file names; -- ends them.\n");
  flush_stdout();
  end_process(0);
}

} // namespace

Command read_command_line(int argc, char** argv) {
  OptionTargets targets;
  const std::array<OptionSpec, 9> table = option_table(targets);
  const CommandLine words(table.data(), long_options, argc, argv);
  if (targets.help) {
    print_tqsinfo_help(table.data());
  }
  if (targets.version) {
    print_program_version();
  }

  Command command;
  command.stats = targets.stats != 0;
  command.json = targets.json != 0;
  command.check = targets.check != 0;
  if (targets.dump_names) {
    command.dump_names = targets.dump_names;
  }
  if (const char* series_text = targets.series_text) {
    const char* end = series_text + std::strlen(series_text);
    int number = 0;
    const auto [stop, error] = std::from_chars(series_text, end, number);
    if (error != std::errc() || stop != end || number < 1) {
      refuse(std::string("--series needs a number from 1 on, not \"") + series_text + "\"");
    }
    command.series = number;
  }
  command.files = words.operands();
  if (command.files.empty()) {
    refuse("no file given; \"tqsinfo --help\" lists the options");
  }
  return command;
}

} // namespace norvalex
