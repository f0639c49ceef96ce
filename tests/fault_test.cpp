// The built program on what users' machines and files give it: full disks, closed and missing
// outputs, unreadable and damaged inputs. Every run either converts or ends by itself with
// exactly one line on standard error and exit status 1, never by a signal; a defective input
// leaves every output as it was and writes nothing on standard output.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

// The blocks of a TQS file, after its 48-byte header; a file that does not split into whole
// blocks fails the test.
std::vector<Block> blocks_of(const std::string& file) {
  std::vector<Block> blocks;
  EXPECT_GE(file.size(), 48U);
  EXPECT_EQ(file.substr(0, 4), std::string("\x75\x4C\x9F\x05", 4));
  std::size_t at = 48;
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

// Makes an existing file unwritable for this process. Permission bits do not stop root, so for
// root the file gets the immutable attribute instead, which stops root as well. Whether it
// worked is checked by opening the file for appending; where neither way works (a file system
// without the attribute, say) the file stays writable and the test that needs it is skipped.
class UnwritableFile {
public:
  explicit UnwritableFile(const std::string& path) : path_(path) {
#ifdef _WIN32
    // The read-only attribute; the test's folder clears it before removing the file.
    chmod(path.c_str(), _S_IREAD);
#else
    if (geteuid() != 0) {
      chmod(path.c_str(), 0444);
    } else if (int fd = open(path.c_str(), O_RDONLY); fd >= 0) {
      int flags = 0;
      if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      }
      close(fd);
    }
#endif
    const int probe = open(path.c_str(), O_WRONLY | O_APPEND);
    if (probe >= 0) {
      close(probe);
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

} // namespace
