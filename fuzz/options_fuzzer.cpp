// Any argument vector, parsed with the converter's option table or with a table made from the
// input, then printed as usage and help: every line the printers assemble stays within its
// buffer, the parse leaves a consistent argument vector, and help always ends the run with 0.
//
// Input: words separated by NUL bytes. The first word steers the run: its first byte's bits
// choose the table (bit 0: made from the input), the usage form (bit 1) and the help form
// (bit 2); with a made table its other bytes are the option letters, and for each letter two
// words follow, the argument name (empty: a flag) and the description, then the positional
// name and the program's description (none when the words run out). The remaining words are
// the argument vector, program name first.
#include "cli/help.h"
#include "convert/converter_options.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

constexpr std::size_t MAX_ROWS = 16;

// Splits the input at its NUL bytes; an input that ends in a NUL has an empty last word.
std::vector<std::string> split_words(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }
  return words;
}

// An option table made from the input, with its own targets.
struct MadeTable {
  std::vector<OptionSpec> rows;
  int flags[MAX_ROWS] = {};
  const char* values[MAX_ROWS] = {};
};

// Takes the rows' texts from `words` from `next` on, advancing `next` past them.
void make_table(const std::string& letters, const std::vector<std::string>& words,
                std::size_t& next, MadeTable& table) {
  auto take = [&]() -> const char* { return next < words.size() ? words[next++].c_str() : ""; };
  const std::size_t count = std::min(letters.size(), MAX_ROWS);
  table.rows.push_back({' ', nullptr, nullptr, "", nullptr}); // header, filled below
  for (std::size_t k = 0; k < count; ++k) {
    const char* argument = take();
    const char* description = take();
    OptionSpec row{static_cast<unsigned char>(letters[k]), &table.flags[k], set_flag, nullptr,
                   description};
    if (argument[0] != '\0')
      row = {row.letter, &table.values[k], set_string, argument, description};
    table.rows.push_back(row);
  }
  table.rows[0].argument_name = take();
  table.rows[0].description = next < words.size() ? words[next++].c_str() : nullptr;
  table.rows.push_back({0, nullptr, warn_unknown_option, nullptr, "Warning: unknown option -"});
}

// Measuring each text lets the sanitizers see that it ends inside its buffer.
volatile std::size_t printed_bytes = 0;

// Discards the text, after checking that a line assembled in the line buffer fits it.
void check_and_discard(const char* text) {
  FUZZ_CHECK(text != nullptr);
  const std::size_t length = std::strlen(text);
  if (text == help_line)
    FUZZ_CHECK(length < HELP_LINE_SIZE);
  printed_bytes = printed_bytes + length;
}

void reset_converter_targets() {
  short_help = 0;
  long_help = 0;
  verbose = 0;
  output_file = nullptr;
  append_file = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  process_end_hook = throw_run_ended;
  program_name = "norvalex";
  help_line[0] = '\0';
  reset_converter_targets();

  std::vector<std::string> words = split_words(data, size);
  const std::string steering = words[0];
  const unsigned mode = steering.empty() ? 0 : static_cast<unsigned char>(steering[0]);
  std::size_t next = 1;
  MadeTable made;
  OptionTable table = converter_options;
  if (mode & 1) {
    make_table(steering.empty() ? "" : steering.substr(1), words, next, made);
    table = made.rows.data();
  }

  std::vector<char*> argv;
  for (std::size_t k = next; k < words.size(); ++k)
    argv.push_back(words[k].data());
  argv.push_back(nullptr);
  const int total = static_cast<int>(argv.size()) - 1;
  int argc = total;
  char** rest = argv.data();
  const int result = parse_options(&argc, &rest, table);
  FUZZ_CHECK(argc >= 0 && argc <= total && rest + argc == argv.data() + total);
  FUZZ_CHECK(result == unknown_option_count || result == 1);
  FUZZ_CHECK(std::strlen(program_name) <= (total > 0 ? words[next].size() : 8));

  print_usage(table, check_and_discard, static_cast<int>(mode & 2));
  try {
    print_help(table, static_cast<int>(mode & 4), check_and_discard);
    FUZZ_CHECK(false); // help never returns
  } catch (const RunEnded& ended) {
    FUZZ_CHECK(ended.status == 0);
  }
  program_name = "norvalex"; // it pointed into this input's words
  return 0;
}
