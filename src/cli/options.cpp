#include "cli/options.h"

#include "cli/program.h"
#include "platform/process.h"

#include <cstring>
#include <string>
#include <string_view>

namespace norvalex {

int unknown_option_count = 0;
char help_line[HELP_LINE_SIZE] = "";

void append_to_help_line(const char* text, std::size_t keep_free) {
  std::size_t length = std::strlen(help_line);
  const std::size_t limit = HELP_LINE_SIZE - 1 - keep_free;
  while (*text != '\0' && length < limit)
    help_line[length++] = *text++;
  help_line[length] = '\0';
}

void append_escaped_to_help_line(const char* text, std::size_t keep_free) {
  std::size_t length = std::strlen(help_line);
  const std::size_t limit = HELP_LINE_SIZE - 1 - keep_free;
  for (; *text != '\0'; ++text) {
    const std::string shown = escape_control_bytes(std::string_view(text, 1));
    if (length + shown.size() > limit)
      break;
    shown.copy(help_line + length, shown.size());
    length += shown.size();
  }
  help_line[length] = '\0';
}

void set_flag(const char*, void* target) {
  *static_cast<int*>(target) = 1;
}

void set_string(const char* value, void* target) {
  *static_cast<const char**>(target) = value;
}

void warn_unknown_option(const char* text, void* rest_of_word) {
  // A word too long for the line is cut; the line still ends with its newline.
  help_line[0] = '\0';
  append_to_help_line(text, 1);
  append_escaped_to_help_line(static_cast<const char*>(rest_of_word), 1);
  append_to_help_line("\n");
  print_stderr(help_line);
}

namespace {

// The first option row with `letter`, or the terminator row when there is none.
const OptionSpec* find_option(OptionTable table, char letter) {
  const OptionSpec* row = table + 1;
  while (row->letter != 0 && row->letter != static_cast<unsigned char>(letter))
    ++row;
  return row;
}

} // namespace

int parse_options(int* argc, char*** argv, OptionTable table) {
  unknown_option_count = 0;
  // An empty vector (possible through exec) has no name to take; the default name stays.
  if (*argc > 0) {
    program_name = platform_program_name(**argv);
    ++*argv;
    --*argc;
  }
  while (*argc > 0) {
    char* word = **argv;
    if (word[0] != '-' || word[1] == '\0')
      break;
    ++*argv;
    --*argc;
    for (char* letter = word + 1; *letter != '\0'; ++letter) {
      const OptionSpec* row = find_option(table, *letter);
      if (row->letter == 0) {
        if (row->callback != nullptr)
          row->callback(row->description, letter);
        ++unknown_option_count;
      } else if (row->argument_name == nullptr) {
        row->callback("", row->target);
      } else {
        // The value is the rest of the word (less one leading space) or the whole next word.
        const char* value;
        if (letter[1] != '\0') {
          value = letter[1] == ' ' ? letter + 2 : letter + 1;
        } else if (*argc > 0) {
          value = **argv;
          ++*argv;
          --*argc;
        } else {
          return 1;
        }
        row->callback(value, row->target);
        break;
      }
    }
  }
  return unknown_option_count;
}

} // namespace norvalex
