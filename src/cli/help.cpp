#include "cli/help.h"

#include <algorithm>
#include <cstring>

namespace norvalex {

namespace {

void append_letter_to_help_line(int letter) {
  const char text[2] = {static_cast<char>(letter), '\0'};
  append_to_help_line(text);
}

// Prints `help_line` as one bracket group of the usage line and empties it.
void print_group(PrintFunction print) {
  print("[-");
  print(help_line);
  print("] ");
  help_line[0] = '\0';
}

// Pads `help_line` with spaces up to `column`. An option text that already reaches the column,
// or a column past the last character a line can hold, gets one space instead, so that a
// description never runs into its option. No padding goes where the closing newline belongs.
void pad_help_line(std::size_t column) {
  const std::size_t last = HELP_LINE_SIZE - 2; // the newline's place in a full line
  std::size_t length = std::strlen(help_line);
  const std::size_t end = length < column && column < last ? column : length + 1;
  while (length < std::min(end, last))
    help_line[length++] = ' ';
  help_line[length] = '\0';
}

} // namespace

void print_version(const char* banner, PrintFunction print) {
  print(banner);
  print("\n");
}

void print_usage(OptionTable table, PrintFunction print, int grouped) {
  print("usage: ");
  print(escape_control_bytes(program_name).c_str());
  print(" ");
  help_line[0] = '\0';
  if (grouped == 0) {
    print("[options] ");
  } else {
    for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
      if (row->argument_name == nullptr) {
        append_letter_to_help_line(row->letter);
        continue;
      }
      if (help_line[0] != '\0')
        print_group(print);
      append_letter_to_help_line(row->letter);
      append_to_help_line(" ");
      append_to_help_line(row->argument_name);
      print_group(print);
    }
    if (help_line[0] != '\0')
      print_group(print);
  }
  append_to_help_line(table->argument_name, 1);
  append_to_help_line("\n");
  print(help_line);
}

void print_help(OptionTable table, int long_form, PrintFunction print) {
  if (long_form == 0) {
    print_usage(table, print, 1);
    end_process(0);
  }
  if (table->description != nullptr) {
    help_line[0] = '\0';
    append_escaped_to_help_line(program_name, 1);
    append_to_help_line(" - ", 1);
    append_to_help_line(table->description, 1);
    append_to_help_line("\n");
    print(help_line);
  }
  print_usage(table, print, 0);
  print("\noptions:\n");

  // The scan starts at the header, so the positional argument's name widens the column too,
  // though it gets no line of its own; a header letter of 0 ends the scan at once.
  std::size_t width = 10;
  for (const OptionSpec* row = table; row->letter != 0; ++row) {
    if (row->argument_name != nullptr)
      width = std::max(width, std::strlen(row->argument_name));
  }
  for (const OptionSpec* row = table + 1; row->letter != 0; ++row) {
    help_line[0] = '\0';
    append_to_help_line(" -", 1);
    append_letter_to_help_line(row->letter);
    if (row->argument_name != nullptr) {
      append_to_help_line(" ", 1);
      append_to_help_line(row->argument_name, 1);
    }
    pad_help_line(width + 3);
    append_to_help_line(row->description, 1);
    append_to_help_line("\n");
    print(help_line);
  }
  end_process(0);
}

} // namespace norvalex
