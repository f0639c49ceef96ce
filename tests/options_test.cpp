// The parse of the converter's command line and of other tables, as a user's script meets it.
#include "cli/diagnostics.h"
#include "cli/options.h"
#include "convert/converter_options.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

// What `body` writes to standard error; the parse runs in this process.
std::string capture_stderr(const std::function<void()>& body) {
  test_support::TempDir dir;
  const std::string path = dir.file("stderr");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(fileno(file), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(file);
  return test_support::read_file(path);
}

struct Parse {
  int result = 0;
  std::vector<std::string> left;
  std::string warnings;
};

// Parses `words` (program name first) from a fresh start; the words must outlive the values.
Parse parse_words(std::vector<std::string>& words, OptionTable table = converter_options) {
  short_help = long_help = verbose = 0;
  output_file = append_file = nullptr;
  std::vector<char*> pointers;
  for (std::string& word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);
  int argc = static_cast<int>(words.size());
  char** argv = pointers.data();
  Parse parse;
  parse.warnings = capture_stderr([&] { parse.result = parse_options(&argc, &argv, table); });
  parse.left.assign(argv, argv + argc);
  return parse;
}

// The result and the converter's targets after a parse: the result, the flags set, "o=[value]"
// and "a=[value]" for the file names set, then "|" and each word left in brackets.
std::string describe(const Parse& parse) {
  const std::string flags =
      std::string(short_help ? "h" : "") + (long_help ? "H" : "") + (verbose ? "v" : "");
  std::string text = std::to_string(parse.result) + (flags.empty() ? "" : " " + flags);
  if (output_file)
    text += std::string(" o=[") + output_file + "]";
  if (append_file)
    text += std::string(" a=[") + append_file + "]";
  text += " |";
  for (const std::string& word : parse.left)
    text += " [" + word + "]";
  return text;
}

TEST(ConverterCommandLine, ParsesOptionWordsInFrontOfTheFirstPositional) {
  struct Case {
    std::vector<std::string> words; // after the program name
    std::string state;
    std::string warnings = "";
  };
  const std::string x = "Warning: unknown option -x";
  const Case cases[] = {
      {{}, "0 |"},
      {{"in.sf7"}, "0 | [in.sf7]"},
      {{"--", "in.sf7"}, "1 | [in.sf7]", "Warning: unknown option --\n"},
      {{"-", "-v"}, "0 | [-] [-v]"},
      {{"", "-v"}, "0 | [] [-v]"},
      {{"in.sf7", "-v"}, "0 | [in.sf7] [-v]"},
      {{"-v", "a.sf7", "-o", "b"}, "0 v | [a.sf7] [-o] [b]"},
      {{"-vofile", "in.sf7"}, "0 v o=[file] | [in.sf7]"},
      {{"-ov"}, "0 o=[v] |"},
      {{"-o", "-v", "in.sf7"}, "0 o=[-v] | [in.sf7]"},
      {{"-o", "", "in.sf7"}, "0 o=[] | [in.sf7]"},
      {{"-o"}, "1 |"},
      {{"-vo"}, "1 v |"},
      {{"-xx", "-o"}, "1 |", x + "x\n" + x + "\n"},
      {{"-o name"}, "0 o=[name] |"},
      {{"-o  name"}, "0 o=[ name] |"},
      {{"-o "}, "0 o=[] |"},
      {{"-xvx", "in.sf7"}, "2 v | [in.sf7]", x + "vx\n" + x + "\n"},
      {{"- v"}, "1 v |", "Warning: unknown option - v\n"}, // the header's space is no option
      {{"-Hh", "-a", "old", "-o", "a", "-oout", "in"}, "0 hH o=[out] a=[old] | [in]"},
      // Control bytes of the word are shown escaped, so it cannot clear the terminal.
      {{"-\x1B[2J"},
       "4 |",
       "Warning: unknown option -\\x1B[2J\nWarning: unknown option -[2J\n"
       "Warning: unknown option -2J\nWarning: unknown option -J\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = {"norvalex"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const Parse parse = parse_words(words);
    SCOPED_TRACE(testing::PrintToString(c.words));
    EXPECT_EQ(describe(parse), c.state);
    EXPECT_EQ(parse.warnings, c.warnings);
    EXPECT_EQ(unknown_option_count, std::count(c.warnings.begin(), c.warnings.end(), '\n'));
  }
}

TEST(ConverterCommandLine, ProgramNameIsTheFirstWordAfterItsLastSlash) {
  const std::pair<std::string, std::string> cases[] = {
      {"norvalex", "norvalex"},
      {"/usr/local/bin/norvalex", "norvalex"},
      {"./bin//norvalex", "norvalex"},
      {"tools/", ""},
#ifdef _WIN32
      // Windows gives the full path with its drive and ".exe" in any case.
      {"C:\\tools\\norvalex.exe", "norvalex"},
      {"Z:\\tmp/bin\\NORVALEX.EXE", "NORVALEX"},
      {"C:norvalex.Exe", "norvalex"},
      {"norvalex.exe.exe", "norvalex.exe"},
      {"norvalex.exe.", "norvalex.exe."},
#else
      {"C:\\tools\\norvalex.exe", "C:\\tools\\norvalex.exe"},
      {"norvalex.exe", "norvalex.exe"},
#endif
  };
  for (const auto& [first, name] : cases) {
    std::vector<std::string> words = {first, "in.sf7"};
    EXPECT_EQ(parse_words(words).left, std::vector<std::string>{"in.sf7"});
    EXPECT_EQ(program_name, name);
    // The name is not a copy: it points into the first word.
    EXPECT_EQ(program_name, words[0].data() + first.rfind(name));
  }
}

TEST(ConverterCommandLine, EmptyVectorKeepsTheDefaultProgramName) {
  program_name = "norvalex";
  std::vector<std::string> words;
  const Parse parse = parse_words(words);
  EXPECT_EQ(parse.result, 0);
  EXPECT_TRUE(parse.left.empty());
  EXPECT_STREQ(program_name, "norvalex");
}

TEST(ConverterCommandLine, OverlongUnknownWordGivesOneCutWarningLine) {
  // 300 characters from the unknown letter on: the rest of the word is cut to 229 so that the
  // warning line with its newline is 255 characters long; the flags after the letter still count.
  std::vector<std::string> words = {"norvalex", "-x" + std::string(299, 'v')};
  const Parse parse = parse_words(words);
  EXPECT_EQ(parse.result, 1);
  EXPECT_EQ(verbose, 1);
  EXPECT_EQ(parse.warnings, "Warning: unknown option -x" + std::string(228, 'v') + "\n");
}

TEST(OtherTables, FirstRowWinsAndTerminatorWithoutCallbackCountsSilently) {
  int first_flag = 0;
  int second_flag = 0;
  const char* name_value = nullptr;
  const OptionSpec table[] = {
      {' ', nullptr, nullptr, "file", nullptr},
      {'x', &first_flag, set_flag, nullptr, "first"},
      {'x', &second_flag, set_flag, nullptr, "second"},
      {'n', &name_value, set_string, "name", "a name"},
      {0, nullptr, nullptr, nullptr, "never printed"},
  };
  std::vector<std::string> words = {"tool", "-xqn", "-q", "rest"};
  const Parse parse = parse_words(words, table);
  EXPECT_EQ(parse.result, 1);
  EXPECT_EQ(parse.warnings, "");
  EXPECT_EQ(parse.left, std::vector<std::string>{"rest"});
  EXPECT_EQ(first_flag, 1);
  EXPECT_EQ(second_flag, 0);
  EXPECT_STREQ(name_value, "-q");
  EXPECT_STREQ(program_name, "tool");
}

} // namespace
