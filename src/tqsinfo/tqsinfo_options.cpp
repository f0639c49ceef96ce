#include "tqsinfo/tqsinfo_options.h"

#include "cli/diagnostics.h"
#include "cli/help.h"
#include "tqsinfo/output.h"

#include "norvalex/version.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string_view>

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

// The option table with its targets in `targets`. The terminator has no callback: unknown letters
// are found while the words are split, where the first one is noted.
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

struct LongOption {
  const char* name;
  char letter;
};

constexpr LongOption long_options[] = {
    {"help", 'h'},  {"version", 'V'}, {"stats", 's'},  {"json", 'j'},
    {"check", 'c'}, {"dump", 'd'},    {"series", 'n'},
};

const OptionSpec* option_row(OptionTable table, char letter) {
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
    if (row->letter == letter) {
      return row;
    }
  }
  return nullptr;
}

const char* long_name(char letter) {
  for (const LongOption& option : long_options) {
    if (option.letter == letter) {
      return option.name;
    }
  }
  return nullptr;
}

void print_stdout(const char* text) {
  std::fputs(text, stdout);
}

[[noreturn]] void print_tqsinfo_help(OptionTable table) {
  std::printf("%s %s - %s\n", program_name, NORVALEX_VERSION_STRING, table[0].description);
  print_usage(table, print_stdout, 1);
  std::printf("\noptions:\n");
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
    std::string text = std::string(" -") + static_cast<char>(row->letter) + ", --" +
                       long_name(static_cast<char>(row->letter));
    if (row->argument_name) {
      text += std::string(" ") + row->argument_name;
    }
    text.resize(std::max<std::size_t>(text.size() + 2, 22), ' ');
    std::printf("%s%s\n", text.c_str(), row->description);
  }
  std::printf("\nOptions stand in front of the file names; -- ends them.\n");
  flush_stdout();
  end_process(0);
}

// The option words in front of the file names, each long option turned into its letter and an
// option's value into a word of its own, for parse_options; and the file names, which are the
// words from the first one that is no option on, and every word after "--". The words point into
// the command line, or into `made` for those made here; the program's name is the command line's
// first word itself, so that it outlives the parse.
struct SplitWords {
  std::vector<char*> option_words;
  std::deque<std::string> made;
  std::vector<const char*> files;
  char unknown_letter = 0; // the first option letter without a row

  char* make(std::string word) { return made.emplace_back(std::move(word)).data(); }
};

[[noreturn]] void refuse_missing_argument(std::string_view word, char letter) {
  const std::string option =
      word.starts_with("--") ? std::string("--") + long_name(letter) : std::string("-") + letter;
  refuse("option " + option + " needs an argument");
}

// Appends the letter of the long option `word` ("--name" or "--name=value") and its value, if
// given in the word; returns the row when its value is the next word.
const OptionSpec* add_long_option(OptionTable table, std::string_view word, SplitWords& split) {
  const std::size_t equals = word.find('=');
  const std::string name(word.substr(2, equals == std::string_view::npos ? equals : equals - 2));
  for (const LongOption& option : long_options) {
    if (name != option.name) {
      continue;
    }
    const OptionSpec* row = option_row(table, option.letter);
    split.option_words.push_back(split.make(std::string("-") + option.letter));
    if (equals == std::string_view::npos) {
      return row->argument_name ? row : nullptr;
    }
    if (!row->argument_name) {
      refuse("option --" + name + " takes no argument");
    }
    split.option_words.push_back(split.make(std::string(word.substr(equals + 1))));
    return nullptr;
  }
  refuse("unknown option --" + name);
}

// The row of the letter in the word of short options `word` whose value is the next word: the
// first letter that takes a value, when it ends the word. Notes the first letter without a row,
// as the parse meets it: letters after one that takes a value are that value.
const OptionSpec* value_in_next_word(OptionTable table, std::string_view word, SplitWords& split) {
  for (std::size_t k = 1; k < word.size(); ++k) {
    const OptionSpec* row = option_row(table, word[k]);
    if (!row && split.unknown_letter == 0) {
      split.unknown_letter = word[k];
    }
    if (row && row->argument_name) {
      return k + 1 == word.size() ? row : nullptr;
    }
  }
  return nullptr;
}

SplitWords split_words(OptionTable table, int argc, char** argv) {
  SplitWords split;
  static char default_name[] = "tqsinfo"; // for a command line without even a first word
  split.option_words.push_back(argc > 0 ? argv[0] : default_name);
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.size() < 2 || word[0] != '-') {
      // The first file name; options after it are refused, as they would not be read.
      for (int k = i; k < argc; ++k) {
        if (argv[k][0] == '-' && argv[k][1] != '\0') {
          refuse(std::string("option after the file names: ") + argv[k]);
        }
      }
      break;
    }
    const OptionSpec* row = nullptr;
    if (word[1] == '-') {
      row = add_long_option(table, word, split);
    } else {
      split.option_words.push_back(argv[i]);
      row = value_in_next_word(table, word, split);
    }
    if (row) {
      if (i + 1 == argc) {
        refuse_missing_argument(word, static_cast<char>(row->letter));
      }
      split.option_words.push_back(argv[++i]);
    }
  }
  split.files.assign(argv + i, argv + argc);
  return split;
}

} // namespace

Command read_command_line(int argc, char** argv) {
  OptionTargets targets;
  const std::array<OptionSpec, 9> table = option_table(targets);
  SplitWords split = split_words(table.data(), argc, argv);
  int count = static_cast<int>(split.option_words.size());
  char** vector = split.option_words.data();
  // Every value is in place, so the parse reads every word.
  parse_options(&count, &vector, table.data());
  if (split.unknown_letter != 0) {
    refuse(std::string("unknown option -") + split.unknown_letter);
  }
  if (targets.help) {
    print_tqsinfo_help(table.data());
  }
  if (targets.version) {
    std::printf("%s %s\n", program_name, NORVALEX_VERSION_STRING);
    flush_stdout();
    end_process(0);
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
  command.files = split.files;
  if (command.files.empty()) {
    refuse("no file given; \"tqsinfo --help\" lists the options");
  }
  return command;
}

} // namespace norvalex
