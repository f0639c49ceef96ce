// The program as users run it: help, conversions to every kind of output, and every error,
// checked by exit status and the exact bytes on standard output, standard error and disk.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using test_support::crlf_of;
using test_support::golden_text;
using test_support::kSmallRfMap;
using test_support::mask_created;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::run_program;
using test_support::TempDir;
using test_support::write_file;

namespace {

const char* const kVerbose = "Grid dimensions: 2*3=6 points\n"
                             "Decoding array names\n"
                             "Decoding array units\n"
                             "Z->Z, [0.01*(cm)]->[m]\n"
                             "R->R, [0.01*(cm)]->[m]\n"
                             "Ez->Ez, [1e+06*(MV/m)]->[V/m]\n"
                             "Er->Er, [1e+06*(MV/m)]->[V/m]\n"
                             "\xB3"
                             "E\xB3->|E|, [1e+06*(MV/m)]->[V/m]\n"
                             "H\xED->Bphi, [1.25664e-06*(A/m)]->[T]\n"
                             "Allocating memory\n"
                             "Reading file\n"
                             "Writing results to TQS\n";

// The file header as written, with a zero creation time.
std::string file_header() {
  return test_support::file_header_bytes({.creator = "NORVALEX", .versions = {1, 0, 0, 0}});
}

// The "creator" block that starts an appended series.
std::string creator_block() {
  return test_support::creator_block("NORVALEX");
}

// The six columns of kSmallRfMap as blocks.
std::string map_blocks() {
  const std::vector<std::vector<double>> columns = test_support::small_rf_map_columns();
  std::string bytes;
  for (std::size_t k = 0; k < columns.size(); ++k)
    bytes += test_support::doubles_block(test_support::kSmallRfMapNames[k], columns[k]);
  return bytes;
}

// A path as the UTF-8 bytes a program gets in its argument vector.
std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

class Converter : public testing::Test {
protected:
  void SetUp() override { write_file(input_, kSmallRfMap); }

  ProcessResult run(std::vector<std::string> args, const test_support::RunOptions& options = {}) {
    args.insert(args.begin(), NORVALEX_BINARY);
    return run_program(args, options);
  }

  TempDir dir_;
  const std::string input_ = dir_.file("map.sf7");
};

TEST_F(Converter, HelpAndUsageEndWithStatus0) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::string in = input_;
  const std::string usage = golden_text("norvalex-usage.txt");
  const std::string long_help = golden_text("norvalex-long-help.txt");
  const std::vector<Case> cases = {
      {{}, usage},
      {{"-h"}, usage},
      {{"-h", in}, usage},
      {{in, "-v"}, usage}, // options after the file name are positional words
      {{in, in}, usage},
      {{"-o"}, "\n" + usage}, // an option without its argument
      {{"-vo"}, "\n" + usage},
      {{in, "-o"}, usage},
      {{"-H"}, long_help},
      {{"-H", in}, long_help},
      {{"-h", "-H"}, long_help},
      {{"-Hh"}, long_help},
      {{"-x", "-H"}, "Warning: unknown option -x\n\n" + long_help},
      {{"-x\x07", "-H"},
       "Warning: unknown option -x\\x07\nWarning: unknown option -\\x07\n\n" + long_help},
  };
  for (const Case& c : cases) {
    ProcessResult result = run(c.args);
    const std::string shown = testing::PrintToString(c.args);
    EXPECT_EQ(result.exit_status, 0) << shown;
    EXPECT_EQ(result.err, c.expected) << shown;
    EXPECT_EQ(result.out, "") << shown;
  }
}

TEST_F(Converter, WritesTheMapToEveryKindOfOutput) {
  const std::string out = dir_.file("out.tqs");
  const std::string whole = file_header() + map_blocks();
  const std::string appended = creator_block() + map_blocks();

  ProcessResult result = run({input_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.size(), 48U + 6 * (24 + 8 * 6));
  EXPECT_EQ(mask_created(result.out), whole);

  result = run({"-o", "-", input_});
  EXPECT_EQ(mask_created(result.out), whole);
  result = run({"-a", "-", input_});
  EXPECT_EQ(result.out, appended);

  write_file(out, "stale bytes that -o replaces");
  result = run({"-o" + out, input_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(mask_created(read_file(out)), whole);

  // Appending after the file's own blocks: every old byte stays, twice over.
  result = run({"-a", out, input_});
  EXPECT_EQ(result.exit_status, 0);
  result = run({"-va", out, input_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, kVerbose);
  EXPECT_EQ(mask_created(read_file(out)), whole + appended + appended);

  const std::string fresh = dir_.file("fresh.tqs");
  result = run({"-a", fresh, input_});
  EXPECT_EQ(read_file(fresh), appended);
}

TEST_F(Converter, UnknownOptionsWarnAndTheConversionGoesOn) {
  ProcessResult result = run({"-xvq", input_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, std::string("Warning: unknown option -xvq\n"
                                    "Warning: unknown option -q\n"
                                    "\n") +
                            kVerbose);
  EXPECT_EQ(mask_created(result.out), file_header() + map_blocks());
}

TEST_F(Converter, ErrorsEndWithOneLineAndStatus1) {
  const std::string out = dir_.file("out.tqs");
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{dir_.file("missing.sf7")},
       "Error: " + dir_.file("missing.sf7") + ": No such file or directory\n"},
      {{"-"}, "Error: -: No such file or directory\n"}, // standard input is never read
      {{"-o", out, "-a", out + "2", input_},
       "norvalex: Error: Output cannot be written to \"" + out + "\" and appended to \"" + out +
           "2\" at the same time\n"},
      {{"-o", dir_.file("no/such/folder.tqs"), input_},
       "norvalex: Error: \"" + dir_.file("no/such/folder.tqs") + "\": No such file or directory\n"},
      {{"-o", "", input_}, "norvalex: Error: \"\": No such file or directory\n"},
      // Control bytes of names are shown escaped, so the error stays one line.
      {{dir_.file("missing\n\x1B[2J.sf7")},
       "Error: " + dir_.file("missing") + "\\x0A\\x1B[2J.sf7: No such file or directory\n"},
      {{"-o", dir_.file("no\r/out.tqs"), input_},
       "norvalex: Error: \"" + dir_.file("no") + "\\x0D/out.tqs\": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    ProcessResult result = run(c.args);
    const std::string shown = testing::PrintToString(c.args);
    EXPECT_EQ(result.exit_status, 1) << shown;
    EXPECT_EQ(result.err, c.expected) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_FALSE(std::filesystem::exists(out)) << shown;
  }
}

TEST_F(Converter, InputDefectsLeaveEveryOutputUntouched) {
  const std::string head = "x\nSF7\nincrements: 1 2\n\n";
  const std::string names = "R Z Er Ez |E| V\n";
  const std::string units = "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)\n";
  const std::string point = "1 2 3 4 5 6\n";
  struct Case {
    std::string input;
    std::string message; // after "Error: <input>"
  };
  const std::vector<Case> cases = {
      {"", "(0): Unexpected end of file\n"},
      {"SF7\nincrements: none\n", "(2): Unsupported header\n"},
      {"SF7\nincrements: -2 3\n", "(2): Increment count out of range: -2\n"},
      {"SF7\nincrements: 99999 99999\n", "(2): Grid too large: 100000*100000 points\n"},
      {head + "R Z\n", "(5): Can not find 6 array names\n"},
      {head + "R Z Er Ez |E| Potential\n", "(5): Array name longer than 7 characters: Potential\n"},
      {head + names + "(cm)\n", "(6): Can not find 6 array units\n"},
      {head + names + "(cm) (cm) (V/cm) (V/cm) (V/cm) (kV)\n",
       "(6): Unknown unit: (kV) for column V\n"},
      {head + names + units + point + "1 2 3\n", "(8): Error reading point (0,1)\n"},
      {head + names + units + point + point, "(8): Unexpected end of file\n"},
      {head + names + "(cm) (cm) (V/cm) (V/cm) (V/cm) \x1B[31m\n",
       "(6): Unknown unit: \\x1B[31m for column V\n"},
      {head + names + units + point + "1 2 3e307 4 5 6\n",
       "(8): Value out of range at point (0,1)\n"},
  };
  const std::string out = dir_.file("out.tqs");
  const std::string existing = dir_.file("existing.tqs");
  const std::string old_bytes = "bytes appended to earlier";
  write_file(existing, old_bytes);
  for (const Case& c : cases) {
    write_file(input_, c.input);
    const std::string expected = "Error: " + input_ + c.message;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-o", out, input_}, {"-a", existing, input_}, {input_}}) {
      ProcessResult result = run(args);
      EXPECT_EQ(result.exit_status, 1) << c.message;
      EXPECT_EQ(result.err, expected);
      EXPECT_EQ(result.out, "") << c.message;
    }
    EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
    EXPECT_EQ(read_file(existing), old_bytes) << c.message;
  }
}

TEST_F(Converter, ProgressLinesShowControlBytesOfTheInputEscaped) {
  write_file(input_,
             "SF7\nincrements: 0\n\nR\x01 Z Er Ez E V\n(cm) (cm) (V) (V) (V) (V)\n1 2 3 4 5 6\n");
  ProcessResult result = run({"-v", input_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.err.find("\nR\\x01->R\\x01, [0.01*(cm)]->[m]\n"), std::string::npos);
  // The array keeps its name as read: the output's bytes are data.
  EXPECT_NE(result.out.find(std::string("R\x01\0", 3)), std::string::npos);
}

TEST_F(Converter, RefusesATerminalOnlyAfterReadingTheWholeInput) {
#ifdef _WIN32
  GTEST_SKIP() << "no pseudo-terminal on Windows";
#endif
  test_support::RunOptions terminal;
  terminal.stdout_mode = test_support::StdoutMode::terminal;
  ProcessResult result = run({"-v", input_}, terminal);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err,
            std::string(kVerbose) +
                "norvalex: Error: TQS output can not be read from or written to a terminal\n");
  // A file output does not care where standard output goes.
  result = run({"-o", dir_.file("out.tqs"), input_}, terminal);
  EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Converter, ReadsAndWritesFilesWithNonAsciiNames) {
  // "carte-été-€.sf7", "résultat-😀.tqs", "manquant-é.sf7"
  const std::filesystem::path input = dir_.path() / u8"carte-\u00E9t\u00E9-\u20AC.sf7";
  const std::filesystem::path output = dir_.path() / u8"r\u00E9sultat-\U0001F600.tqs";
  const std::filesystem::path missing = dir_.path() / u8"manquant-\u00E9.sf7";
  write_file(input, kSmallRfMap);
  ProcessResult result = run({"-o", utf8_of(output), utf8_of(input)});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(mask_created(read_file(output)), file_header() + map_blocks());

  result = run({"-a", utf8_of(output), utf8_of(input)});
  EXPECT_EQ(mask_created(read_file(output)),
            file_header() + map_blocks() + creator_block() + map_blocks());

  result = run({utf8_of(missing)});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "Error: " + utf8_of(missing) + ": No such file or directory\n");
}

// The bytes of the Linux build on every kind of output: the committed example output and the
// hand-built bytes of kSmallRfMap, from LF and from CR LF input, through an output file, standard
// output redirected to a file, and a pipe.
TEST(SameBytes, OnEveryKindOfOutputFromEveryLineEnd) {
  TempDir dir;
  const std::string example = NORVALEX_SOURCE_DIR "/examples/pillbox-tm010";
  const std::string example_bytes = mask_created(read_file(example + ".tqs"));
  write_file(dir.file("example-crlf.sf7"), crlf_of(read_file(example + ".sf7")));
  write_file(dir.file("map.sf7"), kSmallRfMap);
  write_file(dir.file("map-crlf.sf7"), crlf_of(kSmallRfMap));
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {example + ".sf7", example_bytes},
      {dir.file("example-crlf.sf7"), example_bytes},
      {dir.file("map.sf7"), file_header() + map_blocks()},
      {dir.file("map-crlf.sf7"), file_header() + map_blocks()},
  };
  const test_support::RunOptions piped{test_support::StdoutMode::pipe, ""};
  for (const Case& c : cases) {
    const std::string out = dir.file("out.tqs");
    ProcessResult result = run_program({NORVALEX_BINARY, "-o", out, c.input});
    EXPECT_EQ(result.exit_status, 0) << c.input;
    EXPECT_EQ(result.err, "") << c.input;
    EXPECT_EQ(mask_created(read_file(out)), c.expected) << c.input;
    result = run_program({NORVALEX_BINARY, c.input});
    EXPECT_EQ(mask_created(result.out), c.expected) << c.input << ", standard output to a file";
    result = run_program({NORVALEX_BINARY, c.input}, piped);
    EXPECT_EQ(result.exit_status, 0) << c.input;
    EXPECT_EQ(mask_created(result.out), c.expected) << c.input << ", standard output to a pipe";
  }
  // The progress lines end in a line feed alone, as every message does.
  const ProcessResult verbose =
      run_program({NORVALEX_BINARY, "-v", dir.file("map-crlf.sf7")}, piped);
  EXPECT_EQ(verbose.err, kVerbose);
}

TEST(BundledExample, ConvertsToTheFileShippedBesideIt) {
  TempDir dir;
  const std::string example = NORVALEX_SOURCE_DIR "/examples/pillbox-tm010";
  ProcessResult result =
      run_program({NORVALEX_BINARY, "-o", dir.file("out.tqs"), example + ".sf7"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(mask_created(read_file(dir.file("out.tqs"))),
            mask_created(read_file(example + ".tqs")));
}

} // namespace
