// The built converter on damaged and odd inputs: unreadable files, NUL bytes, random bytes,
// counts and grids out of range, overlong lines, control bytes, and inputs that look odd but are
// whole maps. A defective input ends the run by itself with exactly one line on standard error
// and exit status 1, leaves every output as it was and writes nothing on standard output; an
// odd but whole input converts like its plain form.
#include "support/converter_runs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using test_support::Block;
using test_support::blocks_of;
using test_support::crlf_of;
using test_support::expect_error_line;
using test_support::expect_success;
using test_support::FileState;
using test_support::kSf7Names;
using test_support::names_of;
using test_support::run_norvalex;
using test_support::sf7_map_text;
using test_support::state_of;
using test_support::TempDir;
using test_support::write_file;

namespace {

// One defective input: how to make it in the test's folder, and the line that reports it, in
// which "{in}" stands for the input's name.
struct InputDefect {
  const char* label;
  std::function<std::string(const TempDir&)> make; // returns the input's name
  std::string expected;
};

std::function<std::string(const TempDir&)> file_with(std::string bytes) {
  return [bytes = std::move(bytes)](const TempDir& dir) {
    const std::string path = dir.file("defective.sf7");
    write_file(path, bytes);
    return path;
  };
}

std::string random_bytes(std::size_t count) {
  std::mt19937 generator(20240917); // fixed: every run reads the same bytes
  std::string bytes(count, '\0');
  for (char& byte : bytes)
    byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string with_nul(std::string text, const std::string& before) {
  text.insert(text.find(before), 1, '\0');
  return text;
}

const std::string kTenMillionEmptyLines(10'000'000, '\n');

std::vector<InputDefect> input_defects() {
  return {
      {"a folder", [](const TempDir& dir) { return dir.path().string(); },
       "Error: {in}: Is a directory\n"},
      {"a missing file", [](const TempDir& dir) { return dir.file("missing.sf7"); },
       "Error: {in}: No such file or directory\n"},
#ifndef _WIN32 // no /proc on Windows
      // Reading a process's memory at address 0 fails, for root too.
      {"a read error", [](const TempDir&) { return std::string("/proc/self/mem"); },
       "Error: {in}: Input/output error\n"},
#endif
      {"a NUL byte hides the SF7 mark", file_with(with_nul(sf7_map_text("2 1", 6), "Program")),
       "Error: {in}(13): Unexpected end of file\n"},
      {"a NUL byte in the names line", file_with(with_nul(sf7_map_text("2 1", 6), "Er")),
       "Error: {in}(6): Can not find 6 array names\n"},
      {"a NUL byte in a point line", file_with(with_nul(sf7_map_text("2 1", 6), "3.5  3.25")),
       "Error: {in}(11): Error reading point (1,1)\n"},
      // 4096 bytes without a line feed are read as five pieces of at most 1023 characters.
      {"NUL bytes only", file_with(std::string(4096, '\0')),
       "Error: {in}(5): Unexpected end of file\n"},
      // The bytes hold no "SF7", so all of them are read as header lines.
      {"random bytes", file_with(random_bytes(65536)),
       "Error: {in}(250): Unexpected end of file\n"},
      {"a negative count", file_with(sf7_map_text("2 -1", 6)),
       "Error: {in}(4): Increment count out of range: -1\n"},
      {"a huge count", file_with(sf7_map_text("99999999999 1", 6)),
       "Error: {in}(4): Increment count out of range: 99999999999\n"},
      {"a grid past the size limit", file_with(sf7_map_text("23170 23170", 6)),
       "Error: {in}(4): Grid too large: 23171*23171 points\n"},
      {"a name with bytes above 0x7F longer than 7 bytes",
       file_with(sf7_map_text("2 1", 6, "  R Z \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 Ez |E| V\n")),
       "Error: {in}(6): Array name longer than 7 characters: "
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\n"},
      {"a unit with bytes above 0x7F",
       file_with(sf7_map_text("2 1", 6, kSf7Names, "  (cm) (\xB5m) (V/cm) (V/cm) (V/cm) (V)\n")),
       "Error: {in}(7): Unknown unit: (\xB5m) for column Z\n"},
      // The line's first 1023 characters are its names line; the sixth word is cut there.
      {"a 100 kB names line",
       file_with(sf7_map_text("2 1", 6, "R Z Er Ez E " + std::string(100'000, 'N') + "\n")),
       "Error: {in}(6): Array name longer than 7 characters: " + std::string(1011, 'N') + "\n"},
      {"a 100 kB point line",
       file_with(sf7_map_text("2 1", 0) + "1 2 3 4 5 6" + std::string(100'000, ' ') + "\n"),
       "Error: {in}(8): Error reading point (0,0)\n"},
      {"ten million empty lines", file_with(kTenMillionEmptyLines),
       "Error: {in}(10000000): Unexpected end of file\n"},
      {"ten million empty lines, then a defect",
       file_with(kTenMillionEmptyLines +
                 sf7_map_text("2 1", 6, kSf7Names, "(cm) (cm) (V) (V) (V)\n")),
       "Error: {in}(10000007): Can not find 6 array units\n"},
      {"the last point missing", file_with(sf7_map_text("2 1", 5)),
       "Error: {in}(12): Unexpected end of file\n"},
      {"a units line that would retitle and clear the terminal",
       file_with(sf7_map_text("2 1", 6, kSf7Names,
                              "  (cm) \x1B]0;owned\x07\x1B[2J (V/cm) (V/cm) (V/cm) (V)\n")),
       "Error: {in}(7): Unknown unit: \\x1B]0;owned\\x07\\x1B[2J for column Z\n"},
      {"a value whose product is past the doubles",
       file_with(sf7_map_text("2 1", 2) + "1 2 1e307 4 5 6\n" + test_support::sf7_point_lines(3)),
       "Error: {in}(10): Value out of range at point (1,0)\n"},
  };
}

TEST(DefectiveInput, LeaveEveryOutputAsItWas) {
  const std::string earlier = "earlier data\n";
  for (const InputDefect& defect : input_defects()) {
    TempDir dir;
    const std::string input = defect.make(dir);
    std::string expected = defect.expected;
    expected.replace(expected.find("{in}"), 4, input);
    const std::string fresh = dir.file("fresh.tqs");
    const std::string existing = dir.file("existing.tqs");
    write_file(existing, earlier);
    const FileState before = state_of(existing);
    struct Output {
      const char* label;
      std::vector<std::string> options;
    };
    for (const Output& output :
         {Output{"standard output", {}}, Output{"-o new", {"-o", fresh}},
          Output{"-o existing", {"-o", existing}}, Output{"-a existing", {"-a", existing}}}) {
      std::vector<std::string> args = output.options;
      args.push_back(input);
      const std::string label = std::string(defect.label) + ", " + output.label;
      auto result = run_norvalex(args);
      expect_error_line(result, expected, label);
      EXPECT_EQ(result.out, "") << label;
      EXPECT_FALSE(fs::exists(fresh)) << label;
      EXPECT_TRUE(state_of(existing) == before) << label;
    }
  }
}

TEST(DefectiveInput, UnreadableFileIsReportedWithTheSystemsText) {
  TempDir dir;
  const std::string input = dir.file("secret.sf7");
  write_file(input, sf7_map_text("2 1", 6));
  chmod(input.c_str(), 0);
  // Root reads a file whatever its permission bits say; the read error above stands in there.
  if (const int fd = open(input.c_str(), O_RDONLY); fd >= 0) {
    close(fd);
    GTEST_SKIP() << "permission bits do not stop this process from reading";
  }
  auto result = run_norvalex({"-o", dir.file("out.tqs"), input});
  expect_error_line(result, "Error: " + input + ": Permission denied\n", "unreadable input");
  EXPECT_FALSE(fs::exists(dir.file("out.tqs")));
}

// A header may ask for the largest grid the output can describe, half a billion points, with
// only two point lines behind it: the arrays are reserved but never filled, and the run ends at
// the end of the file. Where the memory cannot even be reserved, it ends as a full memory does.
TEST(DefectiveInput, LargestGridWithFewPointsEndsAtTheEndOfTheFile) {
  TempDir dir;
  const std::string input = dir.file("huge.sf7");
  write_file(input, sf7_map_text("23169 23169", 2));
  const std::string existing = dir.file("existing.tqs");
  write_file(existing, "earlier data\n");
  const FileState before = state_of(existing);
  auto result = run_norvalex({"-a", existing, input});
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(result.err == "Error: " + input + "(9): Unexpected end of file\n" ||
              result.err == "Error: Not enough memory\n")
      << result.err;
  EXPECT_TRUE(state_of(existing) == before);
}

// Inputs that look odd but are whole maps convert like their plain form.
TEST(OddButWholeInput, ConvertLikeThePlainMap) {
  const std::string plain = sf7_map_text("2 1", 6);
  const std::string names = "  Z R \xB3"
                            "E\xB3 H\xED caf\xC3\xA9 \xFF\x80\n";
  struct Case {
    const char* label;
    std::string input;
    std::vector<std::string> block_names;
  };
  const std::vector<std::string> plain_names{"R", "Z", "Er", "Ez", "|E|", "V"};
  const std::vector<Case> cases = {
      {"plain", plain, plain_names},
      {"a 100 kB header line", "Poisson Superfish\n" + std::string(100'000, 'x') + "\n" + plain,
       plain_names},
      {"ten million empty lines first", kTenMillionEmptyLines + plain, plain_names},
      // A text stream on Windows would end the input at this byte.
      {"a 0x1A byte in a header line", "Poisson Superfish \x1A end of text?\n" + plain,
       plain_names},
      {"CR LF line ends", crlf_of(plain), plain_names},
      {"names with bytes above 0x7F",
       sf7_map_text("2 1", 6, names),
       {"Z", "R", "|E|", "Bphi", "caf\xC3\xA9", "\xFF\x80"}},
  };
  TempDir dir;
  std::string plain_arrays;
  for (const Case& c : cases) {
    write_file(dir.file("in.sf7"), c.input);
    auto result = run_norvalex({dir.file("in.sf7")});
    expect_success(result, c.label);
    const std::vector<Block> blocks = blocks_of(result.out);
    EXPECT_EQ(names_of(blocks), c.block_names) << c.label;
    std::string arrays;
    for (const Block& block : blocks) {
      EXPECT_EQ(block.type, 0x803U) << c.label;
      arrays += block.data;
    }
    if (plain_arrays.empty())
      plain_arrays = arrays;
    EXPECT_EQ(arrays, plain_arrays) << c.label;
  }
}

} // namespace
