// Usage line and help text, compared byte for byte with what a user reads on standard error.
#include "cli/help.h"
#include "convert/converter_options.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::golden_text;
using test_support::run_in_child;

namespace {

std::string printed;
void record(const char* text) {
  printed += text;
}

// Runs `print_help` in a child, as the program invoked under `name` does, and checks that it
// ends the process with status 0 and writes nothing on standard output.
std::string help_text(OptionTable table, int long_form, const char* name = "tool") {
  auto result = run_in_child([&] {
    program_name = name;
    print_help(table, long_form, print_stderr);
  });
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  return result.err;
}

TEST(ConverterHelp, ShortHelpIsTheGroupedUsageLine) {
  EXPECT_EQ(help_text(converter_options, 0, "norvalex"), golden_text("norvalex-usage.txt"));
}

TEST(ConverterHelp, LongHelpAfterTheBanner) {
  auto result = run_in_child([] {
    program_name = "norvalex";
    print_version(version_banner, print_stderr);
    print_help(converter_options, 1, print_stderr);
  });
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, golden_text("norvalex-long-help.txt"));
}

constexpr OptionSpec kTerminator = {0, nullptr, nullptr, nullptr, "Warning: unknown option -"};

OptionSpec header(const char* positional, const char* description = nullptr, int letter = ' ') {
  return {letter, nullptr, nullptr, positional, description};
}
OptionSpec flag(int letter, const char* description = "Flag") {
  return {letter, nullptr, set_flag, nullptr, description};
}
OptionSpec with_argument(int letter, const char* name, const char* description = "Value") {
  return {letter, nullptr, set_string, name, description};
}

TEST(Usage, EachRunOfAdjacentFlagsFormsOneBracket) {
  struct Case {
    std::vector<OptionSpec> rows; // between header and terminator
    int grouped;
    const char* expected;
  };
  const Case cases[] = {
      {{flag('h'), with_argument('o', "outfile"), flag('v')},
       1,
       "usage: tool [-h] [-o outfile] [-v] file\n"},
      {{with_argument('o', "out"), with_argument('a', "in"), flag('x'), flag('y')},
       1,
       "usage: tool [-o out] [-a in] [-xy] file\n"},
      {{}, 1, "usage: tool file\n"},
      {{flag('h'), with_argument('o', "outfile")}, 0, "usage: tool [options] file\n"},
  };
  for (const Case& c : cases) {
    std::vector<OptionSpec> table = {header("file")};
    table.insert(table.end(), c.rows.begin(), c.rows.end());
    table.push_back(kTerminator);
    program_name = "tool";
    std::strcpy(help_line, "left over"); // from an earlier warning: never part of the usage
    printed.clear();
    print_usage(table.data(), record, c.grouped);
    EXPECT_EQ(printed, c.expected);
  }
}

TEST(LongHelp, ColumnFollowsTheLongestArgumentName) {
  struct Case {
    std::vector<OptionSpec> rows; // header first, without the terminator
    const char* expected;
  };
  const Case cases[] = {
      {{header("file", "Tool")}, "tool - Tool\nusage: tool [options] file\n\noptions:\n"},
      {{header("file"), flag('v', "Verbose")},
       "usage: tool [options] file\n\noptions:\n -v          Verbose\n"},
      // A positional name of 12 characters moves every description to column 15.
      {{header("twelve_chars"), flag('v'), with_argument('o', "out")},
       "usage: tool [options] twelve_chars\n\noptions:\n"
       " -v            Flag\n"
       " -o out        Value\n"},
      // A header letter of 0 keeps the width at 10 whatever the names.
      {{header("twelve_chars", nullptr, 0), flag('v'), with_argument('o', "name")},
       "usage: tool [options] twelve_chars\n\noptions:\n"
       " -v          Flag\n"
       " -o name     Value\n"},
      // An option text that reaches the column keeps one space before its description.
      {{header("f"), with_argument('o', "nine_char"), with_argument('a', "ten__chars"), flag('v')},
       "usage: tool [options] f\n\noptions:\n"
       " -o nine_char Value\n"
       " -a ten__chars Value\n"
       " -v          Flag\n"},
  };
  for (const Case& c : cases) {
    std::vector<OptionSpec> table = c.rows;
    table.push_back(kTerminator);
    EXPECT_EQ(help_text(table.data(), 1), c.expected);
  }
}

TEST(LongLines, AreCutToTheBufferAndKeepTheirNewline) {
  // Every line assembled in help_line holds at most 255 characters, its newline included.
  const std::string name(300, 'n'), argument(300, 'a'), positional(300, 'p');
  const OptionSpec table[] = {header(positional.c_str(), "Tool"),
                              with_argument('o', argument.c_str()), flag('v'), kTerminator};
  const std::string usage = "usage: " + name + " "; // printed directly, never cut
  const std::string positional_line = positional.substr(0, 254) + "\n";
  EXPECT_EQ(help_text(table, 0, name.c_str()),
            usage + "[-o " + argument.substr(0, 253) + "] [-v] " + positional_line);
  // The description column (303) lies past the line: one space takes the padding's place.
  EXPECT_EQ(help_text(table, 1, name.c_str()), name.substr(0, 254) + "\n" + usage + "[options] " +
                                                   positional_line + "\noptions:\n" + " -o " +
                                                   argument.substr(0, 250) + "\n -v Flag\n");
}

TEST(ControlBytes, OfTheProgramNameAreEscapedAndNeverSplitByTheCut) {
  const OptionSpec table[] = {header("file", "Tool"), flag('v'), kTerminator};
  struct Case {
    std::string name;
    int long_form;
    std::string expected;
  };
  const std::string n250(250, 'n');
  const Case cases[] = {
      {"to\x1B]0;x\x07ol", 0, "usage: to\\x1B]0;x\\x07ol [-v] file\n"},
      {"to\nol", 1,
       "to\\x0Aol - Tool\nusage: to\\x0Aol [options] file\n\noptions:\n -v          Flag\n"},
      // The title line holds 254 characters before its newline: an escape that fits ends it, one
      // that would not fit is left out whole.
      {n250 + "\x07x", 1,
       n250 + "\\x07\nusage: " + n250 + "\\x07x [options] file\n\noptions:\n -v          Flag\n"},
      {n250 + "n\x07", 1,
       n250 + "n - \nusage: " + n250 + "n\\x07 [options] file\n\noptions:\n -v          Flag\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(help_text(table, c.long_form, c.name.c_str()), c.expected) << c.name;
}

} // namespace
