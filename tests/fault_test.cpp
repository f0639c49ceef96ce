// The built program on what users' machines and files give it: full disks, closed and missing
// outputs, unreadable and damaged inputs. Every run either converts or ends by itself with
// exactly one line on standard error and exit status 1, never by a signal; a defective input
// leaves every output as it was and writes nothing on standard output.
#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace norvalex;

namespace fs = std::filesystem;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::RunOptions;
using test_support::StdoutMode;
using test_support::TempDir;
using test_support::write_file;

namespace {

const std::string kNames = "  R  Z  Er  Ez  |E|  V\n";
const std::string kUnits = "  (cm)  (cm)  (V/cm)  (V/cm)  (V/cm)  (V)\n";

// A map of (counts + 1) grid points whose names line is line 6 and whose points start at line 8.
std::string map_text(const std::string& counts, int point_count, const std::string& names = kNames,
                     const std::string& units = kUnits) {
  std::string text = "Poisson Superfish\nProgram SF7 fault test\n\nZ and R increments: " + counts +
                     "\n\n" + names + units;
  return text + test_support::sf7_point_lines(point_count);
}

// 150 x 150 points: the six arrays of doubles take more than the output's 1 MiB buffer.
std::string large_map() {
  return map_text("149 149", 150 * 150);
}

ProcessResult run(std::vector<std::string> args, const RunOptions& options = {}) {
  args.insert(args.begin(), NORVALEX_BINARY);
  return test_support::run_program(args, options);
}

// The run ended by itself with status 1 and wrote exactly `expected`, one line, on standard
// error.
void expect_error_line(const ProcessResult& result, const std::string& expected,
                       const std::string& label) {
  EXPECT_EQ(result.signal, 0) << label;
  EXPECT_EQ(result.exit_status, 1) << label;
  EXPECT_EQ(result.err, expected) << label;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << label;
}

void expect_success(const ProcessResult& result, const std::string& label) {
  EXPECT_EQ(result.signal, 0) << label;
  EXPECT_EQ(result.exit_status, 0) << label;
  EXPECT_EQ(result.err, "") << label;
}

// Every "{dir}" in `text` replaced by `dir`.
std::string fill(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
    text.replace(at, 5, dir);
  return text;
}

struct Block {
  std::string name;
  std::uint32_t type;
  std::string data;
};

// The blocks of `file` from `at` on; a file that does not split into whole blocks fails the test.
std::vector<Block> blocks_from(const std::string& file, std::size_t at) {
  std::vector<Block> blocks;
  while (at + 24 <= file.size()) {
    Block block;
    block.name = file.substr(at, 16).c_str();
    std::uint32_t size = 0;
    std::memcpy(&block.type, file.data() + at + 16, 4);
    std::memcpy(&size, file.data() + at + 20, 4);
    at += 24;
    EXPECT_LE(at + size, file.size());
    block.data = file.substr(at, size);
    at += size;
    blocks.push_back(block);
  }
  EXPECT_EQ(at, file.size());
  return blocks;
}

// The blocks of a TQS file, after its 48-byte header.
std::vector<Block> blocks_of(const std::string& file) {
  EXPECT_GE(file.size(), 48U);
  EXPECT_EQ(file.substr(0, 4), std::string("\x75\x4C\x9F\x05", 4));
  return blocks_from(file, 48);
}

std::vector<std::string> names_of(const std::vector<Block>& blocks) {
  std::vector<std::string> names;
  for (const Block& block : blocks)
    names.push_back(block.name);
  return names;
}

// What a file holds and when it was last changed; a file that does not exist has no state.
struct FileState {
  bool exists = false;
  std::string bytes;
  fs::file_time_type changed{};

  bool operator==(const FileState& other) const = default;
};

FileState state_of(const std::string& path) {
  FileState state;
  std::error_code missing;
  state.changed = fs::last_write_time(path, missing);
  if (!missing) {
    state.exists = true;
    state.bytes = read_file(path);
  }
  return state;
}

TEST(FaultyOutput, EndWithOneLineNamingTheOutput) {
  TempDir dir;
  const std::string small_input = dir.file("small.sf7");
  const std::string large_input = dir.file("large.sf7");
  write_file(small_input, map_text("2 1", 6));
  write_file(large_input, large_map());
  const RunOptions captured{StdoutMode::capture, ""};
  const RunOptions full_stdout{StdoutMode::file, "/dev/full"};
  const RunOptions closed_stdout{StdoutMode::closed, ""};
  const RunOptions terminal{StdoutMode::terminal, ""};
  struct Case {
    const char* label;
    std::vector<std::string> options; // in front of the input's name
    RunOptions run;
    bool large; // past the stream buffer the failure shows at a block write, not at the end
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"-o /dev/full",
       {"-o", "/dev/full"},
       captured,
       false,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"-o /dev/full, large",
       {"-o", "/dev/full"},
       captured,
       true,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"-a /dev/full",
       {"-a", "/dev/full"},
       captured,
       false,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"-a /dev/full, large",
       {"-a", "/dev/full"},
       captured,
       true,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"standard output on /dev/full",
       {},
       full_stdout,
       false,
       "norvalex: Error: \"-\": No space left on device\n"},
      {"standard output on /dev/full, large",
       {},
       full_stdout,
       true,
       "norvalex: Error: \"-\": No space left on device\n"},
      {"-a - on /dev/full",
       {"-a", "-"},
       full_stdout,
       false,
       "norvalex: Error: \"-\": No space left on device\n"},
      {"standard output closed",
       {},
       closed_stdout,
       false,
       "norvalex: Error: \"-\": Bad file descriptor\n"},
      {"standard output closed, large",
       {},
       closed_stdout,
       true,
       "norvalex: Error: \"-\": Bad file descriptor\n"},
      {"standard output a terminal",
       {},
       terminal,
       false,
       "norvalex: Error: TQS output can not be read from or written to a terminal\n"},
      {"-o in a missing folder",
       {"-o", "{dir}/missing/out.tqs"},
       captured,
       false,
       "norvalex: Error: \"{dir}/missing/out.tqs\": No such file or directory\n"},
      {"-a in a missing folder",
       {"-a", "{dir}/missing/out.tqs"},
       captured,
       false,
       "norvalex: Error: \"{dir}/missing/out.tqs\": No such file or directory\n"},
      {"-o a folder",
       {"-o", "{dir}"},
       captured,
       false,
       "norvalex: Error: \"{dir}\": Is a directory\n"},
      {"-a a folder",
       {"-a", "{dir}"},
       captured,
       false,
       "norvalex: Error: \"{dir}\": Is a directory\n"},
      {"-o empty name",
       {"-o", ""},
       captured,
       false,
       "norvalex: Error: \"\": No such file or directory\n"},
      {"-o with control bytes in a missing folder",
       {"-o", "{dir}/missing\n/out\x1B[2J.tqs"},
       captured,
       false,
       "norvalex: Error: \"{dir}/missing\\x0A/out\\x1B[2J.tqs\": No such file or directory\n"},
      {"-o and -a",
       {"-o", "{dir}/a.tqs", "-a", "{dir}/b.tqs"},
       captured,
       false,
       "norvalex: Error: Output cannot be written to \"{dir}/a.tqs\" and appended to "
       "\"{dir}/b.tqs\" at the same time\n"},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // Windows has neither /dev/full nor pseudo-terminals.
    if (c.run.stdout_mode == StdoutMode::terminal || c.run.stdout_mode == StdoutMode::file ||
        std::string(c.label).find("/dev/full") != std::string::npos)
      continue;
#endif
    std::vector<std::string> args;
    for (const std::string& option : c.options)
      args.push_back(fill(option, dir.path().string()));
    args.push_back(c.large ? large_input : small_input);
    auto result = run(args, c.run);
    expect_error_line(result, fill(c.expected, dir.path().string()), c.label);
    if (c.run.stdout_mode == StdoutMode::capture) {
      EXPECT_EQ(result.out, "") << c.label;
    }
  }
  // Neither refused output was created.
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
  EXPECT_FALSE(fs::exists(dir.path() / "a.tqs"));
  EXPECT_FALSE(fs::exists(dir.path() / "b.tqs"));
}

TEST(FaultyOutput, ClosedStandardOutputDoesNotMatterWithAnOutputFile) {
  TempDir dir;
  write_file(dir.file("in.sf7"), map_text("2 1", 6));
  auto result = run({"-o", dir.file("out.tqs"), dir.file("in.sf7")}, {StdoutMode::closed, ""});
  expect_success(result, "standard output closed, -o");
  const std::vector<Block> blocks = blocks_of(read_file(dir.file("out.tqs")));
  EXPECT_EQ(names_of(blocks), (std::vector<std::string>{"R", "Z", "Er", "Ez", "|E|", "V"}));
}

// A write into a pipe whose reader has quit fails with EPIPE and is reported like any other
// write failure, instead of the program dying silently of SIGPIPE with data lost.
TEST(FaultyOutput, ClosedPipeEndsWithOneLine) {
  TempDir dir;
  write_file(dir.file("small.sf7"), map_text("2 1", 6));
  write_file(dir.file("large.sf7"), large_map());
  struct Case {
    std::vector<std::string> args;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {{dir.file("small.sf7")}, "norvalex: Error: \"-\": Broken pipe\n"},
      {{dir.file("large.sf7")}, "norvalex: Error: \"-\": Broken pipe\n"},
      {{"-a", "-", dir.file("small.sf7")}, "norvalex: Error: \"-\": Broken pipe\n"},
#ifndef _WIN32 // no /dev/stdout on Windows
      {{"-o", "/dev/stdout", dir.file("small.sf7")},
       "norvalex: Error: \"/dev/stdout\": Broken pipe\n"},
#endif
  };
  for (const Case& c : cases) {
    auto result = run(c.args, {StdoutMode::closed_pipe, ""});
    expect_error_line(result, c.expected, c.args.back() + " after " + c.args.front());
  }
}

// Makes an existing file unwritable for this process, or a folder one that takes no new file.
// Permission bits do not stop root, so for root it gets the immutable attribute instead, which
// stops root as well. Whether it worked is checked by opening the file for appending (creating a
// file in the folder); where neither way works (a file system without the attribute, say) it
// stays writable and the test that needs it is skipped.
class UnwritableFile {
public:
  explicit UnwritableFile(const std::string& path) : path_(path) {
    const bool folder = fs::is_directory(path);
#ifdef _WIN32
    // The read-only attribute, which the test's folder clears before removing the file. A folder
    // with it still takes new files, so a folder stays writable here.
    if (!folder)
      chmod(path.c_str(), _S_IREAD);
#else
    if (geteuid() != 0) {
      chmod(path.c_str(), folder ? 0555 : 0444);
    } else if (int fd = open(path.c_str(), O_RDONLY); fd >= 0) {
      int flags = 0;
      if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      }
      close(fd);
    }
#endif
    const std::string probe_path = folder ? path + "/probe" : path;
    const int probe = open(probe_path.c_str(), O_WRONLY | O_APPEND | (folder ? O_CREAT : 0), 0666);
    if (probe >= 0) {
      close(probe);
      if (folder)
        unlink(probe_path.c_str());
    } else {
      error_text_ = std::strerror(errno);
    }
  }
  ~UnwritableFile() {
#ifndef _WIN32
    // The temporary folder cannot be removed while the file is immutable.
    if (int fd = open(path_.c_str(), O_RDONLY); immutable_ && fd >= 0) {
      int flags = 0;
      if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
      }
      close(fd);
    } else if (fd >= 0) {
      close(fd);
    }
#endif
  }
  UnwritableFile(const UnwritableFile&) = delete;
  UnwritableFile& operator=(const UnwritableFile&) = delete;

  // The system's text for the failed open, or "" when the file could not be made unwritable.
  const std::string& error_text() const {
    return error_text_;
  }

private:
  std::string path_;
  bool immutable_ = false;
  std::string error_text_;
};

TEST(FaultyOutput, ReadOnlyAppendTargetIsRefusedAndKept) {
  TempDir dir;
  write_file(dir.file("in.sf7"), map_text("2 1", 6));
  const std::string target = dir.file("kept.tqs");
  write_file(target, "earlier data\n");
  UnwritableFile unwritable(target);
  if (unwritable.error_text().empty())
    GTEST_SKIP() << "this process can make no file unwritable for itself here";
  const FileState before = state_of(target);
  auto result = run({"-a", target, dir.file("in.sf7")});
  expect_error_line(result,
                    "norvalex: Error: \"" + target + "\": " + unwritable.error_text() + "\n",
                    "read-only append target");
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(state_of(target) == before);
}

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
      {"a NUL byte hides the SF7 mark", file_with(with_nul(map_text("2 1", 6), "Program")),
       "Error: {in}(13): Unexpected end of file\n"},
      {"a NUL byte in the names line", file_with(with_nul(map_text("2 1", 6), "Er")),
       "Error: {in}(6): Can not find 6 array names\n"},
      {"a NUL byte in a point line", file_with(with_nul(map_text("2 1", 6), "3.5  3.25")),
       "Error: {in}(11): Error reading point (1,1)\n"},
      // 4096 bytes without a line feed are read as five pieces of at most 1023 characters.
      {"NUL bytes only", file_with(std::string(4096, '\0')),
       "Error: {in}(5): Unexpected end of file\n"},
      // The bytes hold no "SF7", so all of them are read as header lines.
      {"random bytes", file_with(random_bytes(65536)),
       "Error: {in}(250): Unexpected end of file\n"},
      {"a negative count", file_with(map_text("2 -1", 6)),
       "Error: {in}(4): Increment count out of range: -1\n"},
      {"a huge count", file_with(map_text("99999999999 1", 6)),
       "Error: {in}(4): Increment count out of range: 99999999999\n"},
      {"a grid past the size limit", file_with(map_text("23170 23170", 6)),
       "Error: {in}(4): Grid too large: 23171*23171 points\n"},
      {"a name with bytes above 0x7F longer than 7 bytes",
       file_with(map_text("2 1", 6, "  R Z \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 Ez |E| V\n")),
       "Error: {in}(6): Array name longer than 7 characters: "
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\n"},
      {"a unit with bytes above 0x7F",
       file_with(map_text("2 1", 6, kNames, "  (cm) (\xB5m) (V/cm) (V/cm) (V/cm) (V)\n")),
       "Error: {in}(7): Unknown unit: (\xB5m) for column Z\n"},
      // The line's first 1023 characters are its names line; the sixth word is cut there.
      {"a 100 kB names line",
       file_with(map_text("2 1", 6, "R Z Er Ez E " + std::string(100'000, 'N') + "\n")),
       "Error: {in}(6): Array name longer than 7 characters: " + std::string(1011, 'N') + "\n"},
      {"a 100 kB point line",
       file_with(map_text("2 1", 0) + "1 2 3 4 5 6" + std::string(100'000, ' ') + "\n"),
       "Error: {in}(8): Error reading point (0,0)\n"},
      {"ten million empty lines", file_with(kTenMillionEmptyLines),
       "Error: {in}(10000000): Unexpected end of file\n"},
      {"ten million empty lines, then a defect",
       file_with(kTenMillionEmptyLines + map_text("2 1", 6, kNames, "(cm) (cm) (V) (V) (V)\n")),
       "Error: {in}(10000007): Can not find 6 array units\n"},
      {"the last point missing", file_with(map_text("2 1", 5)),
       "Error: {in}(12): Unexpected end of file\n"},
      {"a units line that would retitle and clear the terminal",
       file_with(
           map_text("2 1", 6, kNames, "  (cm) \x1B]0;owned\x07\x1B[2J (V/cm) (V/cm) (V/cm) (V)\n")),
       "Error: {in}(7): Unknown unit: \\x1B]0;owned\\x07\\x1B[2J for column Z\n"},
      {"a value whose product is past the doubles",
       file_with(map_text("2 1", 2) + "1 2 1e307 4 5 6\n" + test_support::sf7_point_lines(3)),
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
      auto result = run(args);
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
  write_file(input, map_text("2 1", 6));
  chmod(input.c_str(), 0);
  // Root reads a file whatever its permission bits say; the read error above stands in there.
  if (const int fd = open(input.c_str(), O_RDONLY); fd >= 0) {
    close(fd);
    GTEST_SKIP() << "permission bits do not stop this process from reading";
  }
  auto result = run({"-o", dir.file("out.tqs"), input});
  expect_error_line(result, "Error: " + input + ": Permission denied\n", "unreadable input");
  EXPECT_FALSE(fs::exists(dir.file("out.tqs")));
}

// A header may ask for the largest grid the output can describe, half a billion points, with
// only two point lines behind it: the arrays are reserved but never filled, and the run ends at
// the end of the file. Where the memory cannot even be reserved, it ends as a full memory does.
TEST(DefectiveInput, LargestGridWithFewPointsEndsAtTheEndOfTheFile) {
  TempDir dir;
  const std::string input = dir.file("huge.sf7");
  write_file(input, map_text("23169 23169", 2));
  const std::string existing = dir.file("existing.tqs");
  write_file(existing, "earlier data\n");
  const FileState before = state_of(existing);
  auto result = run({"-a", existing, input});
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(result.err == "Error: " + input + "(9): Unexpected end of file\n" ||
              result.err == "Error: Not enough memory\n")
      << result.err;
  EXPECT_TRUE(state_of(existing) == before);
}

std::string crlf_of(const std::string& text) {
  std::string crlf;
  for (char c : text)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return crlf;
}

// Inputs that look odd but are whole maps convert like their plain form.
TEST(OddButWholeInput, ConvertLikeThePlainMap) {
  const std::string plain = map_text("2 1", 6);
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
       map_text("2 1", 6, names),
       {"Z", "R", "|E|", "Bphi", "caf\xC3\xA9", "\xFF\x80"}},
  };
  TempDir dir;
  std::string plain_arrays;
  for (const Case& c : cases) {
    write_file(dir.file("in.sf7"), c.input);
    auto result = run({dir.file("in.sf7")});
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

// The names in a folder: a run that failed or was interrupted must leave no temporary file.
std::set<std::string> entries_of(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.insert(entry.path().filename().string());
  return names;
}

// A TQS file with its creation time (bytes 4 to 7) zeroed.
std::string masked(std::string bytes) {
  if (bytes.size() >= 8)
    bytes.replace(4, 4, 4, '\0');
  return bytes;
}

const std::string kOldBytes = "bytes of an earlier run\n";

// A file-size limit makes a write fail with EFBIG wherever it falls.
TEST(FailedOutput, LeavesEveryTargetAsItWasAndNoTemporaryFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit and Wine no full disk to fail a program's write "
                  "at a chosen point; tqs_writer_test fails the writer's writes in its own process";
#endif
  TempDir dir;
  const std::string input = dir.file("large.sf7");
  write_file(input, large_map());
  const std::string out = dir.file("out.tqs");
  // Where the limit falls, in bytes from the output's start; -1 for its last byte, which leaves
  // the 1 MiB buffer only at the close.
  const std::pair<const char*, long long> points[] = {
      {"in the header", 10}, {"inside a block", 500'000}, {"at the final flush", -1}};
  for (const std::string target : {"-o new", "-o existing", "-a existing", "-a new"}) {
    const std::string option = target.substr(0, 2);
    const bool exists = target.ends_with("existing");
    // An append starts after the old bytes, a replacement in a new file.
    const auto start = static_cast<long long>(option == "-a" && exists ? kOldBytes.size() : 0);
    const auto length = (option == "-a" ? 33 : 48) + 6 * (24 + 8 * 150 * 150);
    for (const auto& [point, offset] : points) {
      const std::string label = target + ", " + point;
      fs::remove(out);
      if (exists)
        write_file(out, kOldBytes);
      const std::set<std::string> before = entries_of(dir);
      RunOptions options;
      options.file_size_limit = start + (offset < 0 ? length - 1 : offset);
      auto result = run({option, out, input}, options);
      expect_error_line(result, "norvalex: Error: \"" + out + "\": File too large\n", label);
      // The same names as before (the target absent if it was), and the old bytes.
      EXPECT_EQ(entries_of(dir), before) << label;
      if (exists) {
        EXPECT_EQ(read_file(out), kOldBytes) << label;
      }
    }
  }
}

// Waits until the running program has written `text` on standard error (ten seconds at most).
void wait_for_stderr(const test_support::RunningProgram& program, std::string_view text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (test_support::stderr_so_far(program).find(text) != std::string::npos)
      return;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

// SIGTERM, or Ctrl-C on Windows.
TEST(InterruptedOutput, LeavesTheOldBytesOrTheWholeNewOutput) {
  TempDir dir;
  const std::string input = dir.file("map.sf7");
  write_file(input, map_text("399 399", 400 * 400));
  const std::string out = dir.file("out.tqs");
  RunOptions interruptible;
  interruptible.interruptible = true;
  const auto start = [&](const std::string& option) {
    return test_support::start_program({NORVALEX_BINARY, "-v", option, out, input}, interruptible);
  };
  const std::string_view writing = "Writing results to TQS";
  // A run left alone: its output, and how long it writes after that progress line.
  const auto run_alone = [&](const std::string& option) {
    test_support::RunningProgram program = start(option);
    wait_for_stderr(program, writing);
    const auto writing_started = std::chrono::steady_clock::now();
    EXPECT_EQ(test_support::finish_program(program).exit_status, 0) << option;
    const auto writing_time = std::chrono::steady_clock::now() - writing_started;
    return std::make_pair(read_file(out),
                          std::chrono::duration_cast<std::chrono::microseconds>(writing_time));
  };
  const auto [whole, replace_time] = run_alone("-o");
  fs::remove(out);
  const auto [series, append_time] = run_alone("-a");
  std::mt19937 generator(20240918); // fixed: every run tries the same moments
  int undone = 0;
  for (const std::string option : {"-o", "-a"}) {
    // The signal falls in the writing, at the close or a little after the run's usual end.
    const auto writing_time = option == "-o" ? replace_time : append_time;
    std::uniform_int_distribution<long long> delay(0, writing_time.count() * 5 / 4);
    for (int round = 0; round < 12; ++round) {
      write_file(out, kOldBytes);
      const std::set<std::string> before = entries_of(dir);
      test_support::RunningProgram program = start(option);
      wait_for_stderr(program, writing);
      std::this_thread::sleep_for(std::chrono::microseconds(delay(generator)));
      test_support::interrupt_program(program);
      const ProcessResult result = test_support::finish_program(program);
      const std::string label = option + " round " + std::to_string(round);
      const std::string bytes = read_file(out);
      const bool complete =
          option == "-o" ? masked(bytes) == masked(whole) : bytes == kOldBytes + series;
      EXPECT_TRUE(bytes == kOldBytes || complete) << label << ": " << bytes.size() << " bytes";
      if (test_support::ended_by_interruption(result)) {
        undone += bytes == kOldBytes;
      } else {
        EXPECT_EQ(result.signal, 0) << label;
        EXPECT_EQ(result.exit_status, 0) << label;
        EXPECT_TRUE(complete) << label;
      }
      EXPECT_EQ(entries_of(dir), before) << label;
    }
  }
  RecordProperty("interrupted_and_undone", undone);
}

// The undo runs while the output is being written: SIGTERM's handler at once in the writing
// thread, on Windows Ctrl-C's on a thread of its own, which stops the writing thread first.
// Whatever had been written, the file is as it was and no temporary file is left.
TEST(InterruptedOutput, UndoesAnOutputWhileItIsWritten) {
  TempDir dir;
  const std::string out = dir.file("out.tqs");
  for (const std::string target : {"-o new", "-o existing", "-a new", "-a existing"}) {
    const bool exists = target.ends_with("existing");
    fs::remove(out);
    if (exists)
      write_file(out, kOldBytes);
    const std::set<std::string> before = entries_of(dir);
    const ProcessResult result =
        test_support::run_program({INTERRUPTED_WRITER_BINARY, target.substr(0, 2), out});
    EXPECT_TRUE(test_support::ended_by_interruption(result))
        << target << ": status " << result.exit_status << ", " << result.err;
    EXPECT_EQ(entries_of(dir), before) << target;
    if (exists) {
      const std::string bytes = read_file(out);
      EXPECT_TRUE(bytes == kOldBytes) << target << ": " << bytes.size() << " bytes";
    }
  }
}

// A run that waits for the lock of an append under way (held here, through the library) ends at
// once when interrupted: an append before it has written anything, a replacement with its
// temporary file written whole, which goes. The file stays as it was.
TEST(InterruptedOutput, ARunWaitingForTheLockOfAnAppendEndsAtOnce) {
  TempDir dir;
  write_file(dir.file("in.sf7"), map_text("2 1", 6));
  const std::string out = dir.file("out.tqs");
  RunOptions interruptible;
  interruptible.interruptible = true;
  for (const std::string option : {"-a", "-o"}) {
    write_file(out, kOldBytes);
    std::optional<TqsOutput> held(std::in_place); // not inherited by the program
    tqs_open_file(*held, out.c_str(), true);
    test_support::RunningProgram program = test_support::start_program(
        {NORVALEX_BINARY, option, out, dir.file("in.sf7")}, interruptible);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    test_support::interrupt_program(program);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const bool ended = test_support::program_has_ended(program);
    held.reset(); // lets a run that is still waiting go on
    EXPECT_TRUE(ended) << option << " still waiting for the lock after the interruption";
    EXPECT_TRUE(test_support::ended_by_interruption(test_support::finish_program(program)))
        << option;
    EXPECT_EQ(read_file(out), kOldBytes) << option;
    EXPECT_EQ(entries_of(dir), (std::set<std::string>{"in.sf7", "out.tqs"})) << option;
  }
}

// `-o FIFO` writes into the FIFO in place; its open waits for a reader, and an interruption ends
// that wait at once.
TEST(InterruptedOutput, ARunWaitingForAFifosReaderEndsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows folders hold no FIFOs";
#else
  TempDir dir;
  write_file(dir.file("in.sf7"), map_text("2 1", 6));
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RunOptions interruptible;
  interruptible.interruptible = true;
  test_support::RunningProgram program =
      test_support::start_program({NORVALEX_BINARY, "-o", fifo, dir.file("in.sf7")}, interruptible);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  test_support::interrupt_program(program);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const bool ended = test_support::program_has_ended(program);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); // lets a waiting run go on
  EXPECT_TRUE(ended) << "still waiting for a reader after the interruption";
  EXPECT_TRUE(test_support::ended_by_interruption(test_support::finish_program(program)));
  close(reader);
#endif
}

// A run waits for an append under way in another program (this test, through the library): an
// append lands after its series, a replacement takes the file's place only once it has ended.
TEST(ConcurrentAppends, ARunWaitsForAnAppendUnderWay) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, map_text("2 1", 6));
  const std::string whole = run({input}).out;
  const std::string series = run({"-a", "-", input}).out;
  const std::string held_series =
      test_support::block_bytes("creator", 0x401, std::string("HELD", 5));
  const std::string out = dir.file("out.tqs");
  for (const std::string option : {"-a", "-o"}) {
    write_file(out, kOldBytes);
    std::optional<TqsOutput> held(std::in_place);
    tqs_open_file(*held, out.c_str(), true);
    tqs_write_header(*held, {.creator = "HELD", .creator_version = {1, 0}});
    test_support::RunningProgram program =
        test_support::start_program({NORVALEX_BINARY, option, out, input});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(test_support::program_has_ended(program)) << option << " did not wait";
    tqs_close_output(*held);
    held.reset();
    expect_success(test_support::finish_program(program), option);
    if (option == "-a") {
      EXPECT_EQ(read_file(out), kOldBytes + held_series + series);
    } else {
      EXPECT_EQ(masked(read_file(out)), masked(whole));
    }
    EXPECT_EQ(entries_of(dir), (std::set<std::string>{"in.sf7", "out.tqs"})) << option;
  }
}

TEST(ConcurrentAppends, EachSeriesLandsWhole) {
  TempDir dir;
  // Four maps of different sizes, each output past the 1 MiB buffer: every append takes
  // several writes, which would interleave without the lock.
  std::vector<std::string> inputs;
  std::vector<std::string> series;
  const std::string shared = dir.file("shared.tqs");
  for (int k = 0; k < 4; ++k) {
    inputs.push_back(dir.file("map" + std::to_string(k) + ".sf7"));
    write_file(inputs.back(), map_text(std::to_string(199 + k) + " 199", (200 + k) * 200));
    fs::remove(shared);
    expect_success(run({"-a", shared, inputs.back()}), "alone");
    series.push_back(read_file(shared));
  }
  for (int round = 0; round < 3; ++round) {
    fs::remove(shared);
    std::vector<test_support::RunningProgram> programs;
    for (const std::string& input : inputs)
      programs.push_back(test_support::start_program({NORVALEX_BINARY, "-a", shared, input}));
    for (test_support::RunningProgram& program : programs)
      expect_success(test_support::finish_program(program), "concurrent append");
    // Whole blocks, a "creator" block and six arrays to a series, ...
    const std::string file = read_file(shared);
    const std::vector<Block> blocks = blocks_from(file, 0);
    ASSERT_EQ(blocks.size(), 28U) << "round " << round;
    for (std::size_t b = 0; b < blocks.size(); b += 7)
      EXPECT_EQ(blocks[b].name, "creator") << "round " << round;
    // ... and each series byte for byte, once, in whatever order the appends took the lock.
    std::set<std::size_t> found;
    for (std::size_t at = 0; at < file.size();) {
      std::size_t k = 0;
      while (k < series.size() && (found.count(k) || file.compare(at, series[k].size(), series[k])))
        ++k;
      ASSERT_LT(k, series.size()) << "round " << round << ": no whole series at " << at;
      found.insert(k);
      at += series[k].size();
    }
  }
}

TEST(OutputTargets, AreWrittenAsTheReadmeDescribes) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, map_text("2 1", 6));
  const std::string whole = run({input}).out;
  const std::string series = run({"-a", "-", input}).out;
  std::string at; // the folder of the case under way, and "/"
  int fifo = -1;  // a FIFO, or on Windows a file held open by this test
  const auto old = [&](const char* name) { write_file(at + name, kOldBytes); };
  const auto file = [&](const char* name) {
    return [&, name](const ProcessResult&) { return read_file(at + name); };
  };
  struct Case {
    const char* label;
    std::vector<std::string> options; // names stand for files in the case's folder
    std::function<void()> prepare;
    std::function<std::string(const ProcessResult&)> result;
    std::string expected; // compared with the creation time masked
    RunOptions run = {};
  };
  const std::vector<Case> cases = {
      {"-o replaces a file whole", {"-o", "real"}, [&] { old("real"); }, file("real"), whole},
      {"-o replaces one name of a file with two; the other keeps the old bytes",
       {"-o", "real"},
       [&] { old("real"), fs::create_hard_link(at + "real", at + "other"); },
       file("other"),
       kOldBytes},
#ifdef _WIN32
      {"-a appends to a file that another program reads",
       {"-a", "real"},
       [&] { old("real"), fifo = _open((at + "real").c_str(), _O_RDONLY | _O_BINARY); },
       [&](const ProcessResult&) {
         _close(fifo);
         return read_file(at + "real");
       },
       kOldBytes + series},
      {"-o NUL writes into the device", {"-o", "NUL"}, [] {}, file("NUL"), ""},
      {"-v -a - into a pipe with descriptors 0 and 2 closed",
       {"-v", "-a", "-"},
       [] {},
       [](const ProcessResult& result) { return result.out; },
       series,
       {StdoutMode::pipe, "", -1, true}},
#else
      {"-o through a symbolic link replaces the file it points to",
       {"-o", "link"},
       [&] { old("real"), fs::create_symlink("real", at + "link"); },
       file("real"),
       whole},
      {"-a through a dangling link creates the file it points to",
       {"-a", "link"},
       [&] { fs::create_symlink("made", at + "link"); },
       file("made"),
       series},
      {"-o keeps the permission bits of the file it replaces",
       {"-o", "real"},
       [&] { old("real"), chmod((at + "real").c_str(), 0604); },
       [&](const ProcessResult&) {
         return std::to_string(static_cast<int>(fs::status(at + "real").permissions()));
       },
       std::to_string(0604)},
      // Opened for reading and writing here, the FIFO has a reader from the start.
      {"-a a FIFO simply writes into it",
       {"-a", "fifo"},
       [&] {
         mkfifo((at + "fifo").c_str(), 0600);
         fifo = open((at + "fifo").c_str(), O_RDWR | O_NONBLOCK);
       },
       [&](const ProcessResult&) {
         std::string bytes(65536, '\0');
         bytes.resize(static_cast<std::size_t>(std::max(read(fifo, bytes.data(), 65536), 0L)));
         close(fifo);
         return bytes;
       },
       series},
      {"-v -a /dev/stdout into a pipe with descriptors 0 and 2 closed",
       {"-v", "-a", "/dev/stdout"},
       [] {},
       [](const ProcessResult& result) { return result.out; },
       series,
       {StdoutMode::pipe, "", -1, true}},
#endif
  };
  for (const Case& c : cases) {
    TempDir case_dir;
    at = case_dir.path().string() + "/";
    c.prepare();
    std::vector<std::string> args;
    for (const std::string& option : c.options)
      args.push_back(option[0] == '-' || option[0] == '/' || option == "NUL" ? option
                                                                             : at + option);
    args.push_back(input);
    const ProcessResult result = run(args, c.run);
    expect_success(result, c.label);
    EXPECT_EQ(masked(c.result(result)), masked(c.expected)) << c.label;
    EXPECT_EQ(fs::exists(at + "link"), fs::is_symlink(at + "link")) << c.label;
    for (const std::string& name : entries_of(case_dir))
      EXPECT_NE(name[0], '.') << c.label << ": left behind: " << name;
  }
}

#ifdef _WIN32
// Windows replaces no file that another program holds open (Wine none that is open at all):
// after a second of attempts the replacement gives up, and the file and its folder stay as they
// were. An append to such a file goes on as usual (see above).
TEST(OutputTargets, AFileThatAnotherProgramHoldsOpenIsNotReplaced) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, map_text("2 1", 6));
  const std::string out = dir.file("out.tqs");
  write_file(out, kOldBytes);
  const int held = _open(out.c_str(), _O_RDONLY | _O_BINARY);
  const ProcessResult result = run({"-o", out, input});
  _close(held);
  expect_error_line(result, "norvalex: Error: \"" + out + "\": Device or resource busy\n",
                    "-o a file held open");
  EXPECT_EQ(read_file(out), kOldBytes);
  EXPECT_EQ(entries_of(dir), (std::set<std::string>{"in.sf7", "out.tqs"}));
}
#endif

// The one case where a regular file is written in place: replacing it needs a new file in its
// folder, and the folder takes none, while the file itself may be written.
TEST(OutputTargets, AFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, map_text("2 1", 6));
  const std::string folder = dir.file("locked");
  fs::create_directory(folder);
  const std::string target = folder + "/out.tqs";
  write_file(target, kOldBytes);
  struct stat before {};
  stat(target.c_str(), &before);
  UnwritableFile locked(folder);
  if (locked.error_text().empty())
    GTEST_SKIP() << "this process can make no folder unwritable for itself here";
  expect_success(run({"-o", target, input}), "-o in a locked folder");
  struct stat after {};
  stat(target.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(masked(read_file(target)), masked(run({input}).out));
}

} // namespace
