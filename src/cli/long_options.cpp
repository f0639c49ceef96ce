#include "cli/long_options.h"

#include "cli/diagnostics.h"
#include "cli/text_output.h"

#include "norvalex/version.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace norvalex {

namespace {

const OptionSpec* option_row(OptionTable table, char letter) {
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
    if (row->letter == letter) {
      return row;
    }
  }
  return nullptr;
}

const char* long_name(std::span<const LongOption> long_options, char letter) {
  for (const LongOption& option : long_options) {
    if (option.letter == letter) {
      return option.name;
    }
  }
  return "";
}

} // namespace

char* CommandLine::make(std::string word) {
  return made_.emplace_back(std::move(word)).data();
}

CommandLine::CommandLine(OptionTable table, std::span<const LongOption> long_options, int argc,
                         char** argv, int first) {
  // A command line without even a first word (possible through exec) has nothing to parse, and
  // the program keeps its default name.
  if (argc == 0) {
    return;
  }
  // The option words in front of the operands, for parse_options: the program's name is the
  // command line's first word itself, so that it outlives the parse.
  std::vector<char*> option_words{argv[0]};
  char unknown_letter = 0; // the first option letter without a row, as the parse meets it
  const auto refuse_missing_value = [&](std::string_view word, char letter) {
    const std::string option = word.starts_with("--")
                                   ? std::string("--") + long_name(long_options, letter)
                                   : std::string("-") + letter;
    refuse("option " + option + " needs an argument");
  };
  int i = first;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.size() < 2 || word[0] != '-') {
      // The first operand; options after it are refused, as they would not be read.
      for (int k = i; k < argc; ++k) {
        if (argv[k][0] == '-' && argv[k][1] != '\0') {
          refuse(std::string("option after the file names: ") + argv[k]);
        }
      }
      break;
    }
    // The row whose value is the next word, if any.
    const OptionSpec* row = nullptr;
    if (word[1] == '-') {
      const std::size_t equals = word.find('=');
      const std::string name(
          word.substr(2, equals == std::string_view::npos ? equals : equals - 2));
      const auto option = std::find_if(long_options.begin(), long_options.end(),
                                       [&](const LongOption& o) { return name == o.name; });
      if (option == long_options.end()) {
        refuse("unknown option --" + name);
      }
      const OptionSpec* long_row = option_row(table, option->letter);
      option_words.push_back(make(std::string("-") + option->letter));
      if (equals == std::string_view::npos) {
        row = long_row->argument_name ? long_row : nullptr;
      } else if (!long_row->argument_name) {
        refuse("option --" + name + " takes no argument");
      } else {
        option_words.push_back(make(std::string(word.substr(equals + 1))));
      }
    } else {
      option_words.push_back(argv[i]);
      // Letters after the first that takes a value are that value.
      for (std::size_t k = 1; k < word.size(); ++k) {
        const OptionSpec* letter_row = option_row(table, word[k]);
        if (!letter_row && unknown_letter == 0) {
          unknown_letter = word[k];
        }
        if (letter_row && letter_row->argument_name) {
          row = k + 1 == word.size() ? letter_row : nullptr;
          break;
        }
      }
    }
    if (row) {
      if (i + 1 == argc) {
        refuse_missing_value(word, static_cast<char>(row->letter));
      }
      option_words.push_back(argv[++i]);
    }
  }
  operands_.assign(argv + i, argv + argc);
  int count = static_cast<int>(option_words.size());
  char** vector = option_words.data();
  // Every value is in place, so the parse reads every word.
  parse_options(&count, &vector, table);
  if (unknown_letter != 0) {
    refuse(std::string("unknown option -") + unknown_letter);
  }
}

void print_option_lines(OptionTable table, std::span<const LongOption> long_options,
                        PrintFunction print) {
  std::vector<std::string> texts;
  std::size_t width = 20; // descriptions start at column 22 at least
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
    std::string text = std::string(" -") + static_cast<char>(row->letter) + ", --" +
                       long_name(long_options, static_cast<char>(row->letter));
    if (row->argument_name) {
      text += std::string(" ") + row->argument_name;
    }
    width = std::max(width, text.size());
    texts.push_back(std::move(text));
  }
  std::size_t k = 0;
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row, ++k) {
    texts[k].resize(width + 2, ' ');
    print((texts[k] + row->description + "\n").c_str());
  }
}

std::string shown_program_name() {
  return escape_control_bytes(program_name);
}

void print_program_version() {
  std::printf("%s %s\n", shown_program_name().c_str(), NORVALEX_VERSION_STRING);
  flush_stdout();
  end_process(0);
}

} // namespace norvalex
