#include "tqsinfo/tqsinfo_options.h"

#include "cli/diagnostics.h"
#include "cli/help.h"
#include "tqsinfo/output.h"

#include "norvalex/version.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

int want_help = 0;
int want_version = 0;
int want_stats = 0;
int want_json = 0;
int want_check = 0;
const char* dump_names = nullptr;
const char* series_text = nullptr;
char unknown_letter = 0; // the first option letter without a row

void note_unknown_option(const char*, void* rest_of_word) {
  if (unknown_letter == 0) {
    unknown_letter = *static_cast<const char*>(rest_of_word);
  }
}

constexpr OptionSpec tqsinfo_options[] = {
    {' ', nullptr, nullptr, "FILE...", "list, summarize, dump and check TQS files"},
    {'h', &want_help, set_flag, nullptr, "Give this help and quit"},
    {'V', &want_version, set_flag, nullptr, "Print the version and quit"},
    {'s', &want_stats, set_flag, nullptr, "Add the statistics of every array of doubles"},
    {'j', &want_json, set_flag, nullptr, "Print the listing as one JSON document"},
    {'c', &want_check, set_flag, nullptr, "Check each file's structure: OK, or its first defect"},
    {'d', &dump_names, set_string, "names",
     "Write these arrays (names separated by commas) as columns"},
    {'n', &series_text, set_string, "number", "The series whose arrays --dump writes (default 1)"},
    {0, nullptr, note_unknown_option, nullptr, "unknown option -"},
};

struct LongOption {
  const char* name;
  char letter;
};

constexpr LongOption long_options[] = {
    {"help", 'h'},  {"version", 'V'}, {"stats", 's'},  {"json", 'j'},
    {"check", 'c'}, {"dump", 'd'},    {"series", 'n'},
};

const OptionSpec* option_row(char letter) {
  for (const OptionSpec* row = tqsinfo_options + 1; row->letter != 0; ++row) {
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

[[noreturn]] void print_tqsinfo_help() {
  std::printf("%s %s - %s\n", program_name, NORVALEX_VERSION_STRING,
              tqsinfo_options[0].description);
  print_usage(tqsinfo_options, print_stdout, 1);
  std::printf("\noptions:\n");
  for (const OptionSpec* row = tqsinfo_options + 1; row->letter != 0; ++row) {
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
// words from the first one that is no option on, and every word after "--".
struct SplitWords {
  std::vector<std::string> option_words; // the program's name first
  std::vector<const char*> files;
};

[[noreturn]] void refuse_missing_argument(std::string_view word, char letter) {
  const std::string option =
      word.starts_with("--") ? std::string("--") + long_name(letter) : std::string("-") + letter;
  refuse("option " + option + " needs an argument");
}

// Appends the letter of the long option `word` ("--name" or "--name=value") and its value, if
// given in the word; returns the row when its value is the next word.
const OptionSpec* add_long_option(std::string_view word, std::vector<std::string>& words) {
  const std::size_t equals = word.find('=');
  const std::string name(word.substr(2, equals == std::string_view::npos ? equals : equals - 2));
  for (const LongOption& option : long_options) {
    if (name != option.name) {
      continue;
    }
    const OptionSpec* row = option_row(option.letter);
    words.push_back(std::string("-") + option.letter);
    if (equals == std::string_view::npos) {
      return row->argument_name ? row : nullptr;
    }
    if (!row->argument_name) {
      refuse("option --" + name + " takes no argument");
    }
    words.emplace_back(word.substr(equals + 1));
    return nullptr;
  }
  refuse("unknown option --" + name);
}

// The row of the letter in the word of short options `word` whose value is the next word: the
// first letter that takes a value, when it ends the word.
const OptionSpec* value_in_next_word(std::string_view word) {
  for (std::size_t k = 1; k < word.size(); ++k) {
    const OptionSpec* row = option_row(word[k]);
    if (row && row->argument_name) {
      return k + 1 == word.size() ? row : nullptr;
    }
  }
  return nullptr;
}

SplitWords split_words(int argc, char** argv) {
  SplitWords split;
  split.option_words.emplace_back(argc > 0 ? argv[0] : "tqsinfo");
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
      row = add_long_option(word, split.option_words);
    } else {
      split.option_words.emplace_back(word);
      row = value_in_next_word(word);
    }
    if (row) {
      if (i + 1 == argc) {
        refuse_missing_argument(word, static_cast<char>(row->letter));
      }
      split.option_words.emplace_back(argv[++i]);
    }
  }
  split.files.assign(argv + i, argv + argc);
  return split;
}

} // namespace

Command read_command_line(int argc, char** argv) {
  // The parse keeps pointers into the words (the program's name, the option values): they live
  // as long as the process.
  static SplitWords split = split_words(argc, argv);
  std::vector<char*> words;
  for (std::string& word : split.option_words) {
    words.push_back(word.data());
  }
  int count = static_cast<int>(words.size());
  char** vector = words.data();
  // Every value is in place, so the parse reads every word.
  parse_options(&count, &vector, tqsinfo_options);
  if (unknown_letter != 0) {
    refuse(std::string("unknown option -") + unknown_letter);
  }
  if (want_help) {
    print_tqsinfo_help();
  }
  if (want_version) {
    std::printf("%s %s\n", program_name, NORVALEX_VERSION_STRING);
    flush_stdout();
    end_process(0);
  }

  Command command;
  command.stats = want_stats != 0;
  command.json = want_json != 0;
  command.check = want_check != 0;
  command.dump_names = dump_names;
  if (series_text) {
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
