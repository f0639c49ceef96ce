// The built converter on outputs that fail: full, closed and missing outputs, read-only append
// targets, writes that fail at chosen sizes, and runs interrupted while they write or while they
// wait. A run on a faulty output ends by itself with exactly one line on standard error and exit
// status 1, never by a signal; a failed or interrupted run leaves the old bytes or the whole new
// output, and no temporary file.
#include "norvalex/tqs.h"
#include "support/converter_runs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

using namespace norvalex;

namespace fs = std::filesystem;
using test_support::Block;
using test_support::blocks_of;
using test_support::entries_of;
using test_support::expect_error_line;
using test_support::expect_success;
using test_support::FileState;
using test_support::kOldBytes;
using test_support::mask_created;
using test_support::names_of;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::run_norvalex;
using test_support::RunOptions;
using test_support::sf7_map_text;
using test_support::state_of;
using test_support::StdoutMode;
using test_support::TempDir;
using test_support::UnwritableFile;
using test_support::write_file;

namespace {

// 150 x 150 points: the six arrays of doubles take more than the output's 1 MiB buffer.
std::string large_map() {
  return sf7_map_text("149 149", 150 * 150);
}

// Every "{dir}" in `text` replaced by `dir`.
std::string fill(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
    text.replace(at, 5, dir);
  return text;
}

TEST(FaultyOutput, EndWithOneLineNamingTheOutput) {
  TempDir dir;
  const std::string small_input = dir.file("small.sf7");
  const std::string large_input = dir.file("large.sf7");
  write_file(small_input, sf7_map_text("2 1", 6));
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
    auto result = run_norvalex(args, c.run);
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
  write_file(dir.file("in.sf7"), sf7_map_text("2 1", 6));
  auto result =
      run_norvalex({"-o", dir.file("out.tqs"), dir.file("in.sf7")}, {StdoutMode::closed, ""});
  expect_success(result, "standard output closed, -o");
  const std::vector<Block> blocks = blocks_of(read_file(dir.file("out.tqs")));
  EXPECT_EQ(names_of(blocks), (std::vector<std::string>{"R", "Z", "Er", "Ez", "|E|", "V"}));
}

// A write into a pipe whose reader has quit fails with EPIPE and is reported like any other
// write failure, instead of the program dying silently of SIGPIPE with data lost.
TEST(FaultyOutput, ClosedPipeEndsWithOneLine) {
  TempDir dir;
  write_file(dir.file("small.sf7"), sf7_map_text("2 1", 6));
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
    auto result = run_norvalex(c.args, {StdoutMode::closed_pipe, ""});
    expect_error_line(result, c.expected, c.args.back() + " after " + c.args.front());
  }
}

TEST(FaultyOutput, ReadOnlyAppendTargetIsRefusedAndKept) {
  TempDir dir;
  write_file(dir.file("in.sf7"), sf7_map_text("2 1", 6));
  const std::string target = dir.file("kept.tqs");
  write_file(target, "earlier data\n");
  UnwritableFile unwritable(target);
  if (unwritable.error_text().empty())
    GTEST_SKIP() << "this process can make no file unwritable for itself here";
  const FileState before = state_of(target);
  auto result = run_norvalex({"-a", target, dir.file("in.sf7")});
  expect_error_line(result,
                    "norvalex: Error: \"" + target + "\": " + unwritable.error_text() + "\n",
                    "read-only append target");
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(state_of(target) == before);
}

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
      const std::set<std::string> before = entries_of(dir.path());
      RunOptions options;
      options.file_size_limit = start + (offset < 0 ? length - 1 : offset);
      auto result = run_norvalex({option, out, input}, options);
      expect_error_line(result, "norvalex: Error: \"" + out + "\": File too large\n", label);
      // The same names as before (the target absent if it was), and the old bytes.
      EXPECT_EQ(entries_of(dir.path()), before) << label;
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
  write_file(input, sf7_map_text("399 399", 400 * 400));
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
      const std::set<std::string> before = entries_of(dir.path());
      test_support::RunningProgram program = start(option);
      wait_for_stderr(program, writing);
      std::this_thread::sleep_for(std::chrono::microseconds(delay(generator)));
      test_support::interrupt_program(program);
      const ProcessResult result = test_support::finish_program(program);
      const std::string label = option + " round " + std::to_string(round);
      const std::string bytes = read_file(out);
      const bool complete =
          option == "-o" ? mask_created(bytes) == mask_created(whole) : bytes == kOldBytes + series;
      EXPECT_TRUE(bytes == kOldBytes || complete) << label << ": " << bytes.size() << " bytes";
      if (test_support::ended_by_interruption(result)) {
        undone += bytes == kOldBytes;
      } else {
        EXPECT_EQ(result.signal, 0) << label;
        EXPECT_EQ(result.exit_status, 0) << label;
        EXPECT_TRUE(complete) << label;
      }
      EXPECT_EQ(entries_of(dir.path()), before) << label;
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
    const std::set<std::string> before = entries_of(dir.path());
    const ProcessResult result =
        test_support::run_program({INTERRUPTED_WRITER_BINARY, target.substr(0, 2), out});
    EXPECT_TRUE(test_support::ended_by_interruption(result))
        << target << ": status " << result.exit_status << ", " << result.err;
    EXPECT_EQ(entries_of(dir.path()), before) << target;
    if (exists) {
      const std::string bytes = read_file(out);
      EXPECT_TRUE(bytes == kOldBytes) << target << ": " << bytes.size() << " bytes";
    }
  }
}

// A run that waits for an append under way (held here, through the library) ends at once when
// interrupted: an append, waiting for the lock, before it has written anything; on Windows also a
// replacement, which tries its rename again while the append holds the file open, with its
// temporary file written whole, which goes. The file stays as it was.
TEST(InterruptedOutput, ARunWaitingForTheLockOfAnAppendEndsAtOnce) {
  TempDir dir;
  write_file(dir.file("in.sf7"), sf7_map_text("2 1", 6));
  const std::string out = dir.file("out.tqs");
  RunOptions interruptible;
  interruptible.interruptible = true;
#ifdef _WIN32
  const std::vector<std::string> waiting = {"-a", "-o"};
#else
  const std::vector<std::string> waiting = {"-a"}; // a replacement waits for no append here
#endif
  for (const std::string& option : waiting) {
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
    EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"in.sf7", "out.tqs"})) << option;
  }
}

// `-o FIFO` writes into the FIFO in place; its open waits for a reader, and an interruption ends
// that wait at once.
TEST(InterruptedOutput, ARunWaitingForAFifosReaderEndsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows folders hold no FIFOs";
#else
  TempDir dir;
  write_file(dir.file("in.sf7"), sf7_map_text("2 1", 6));
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

} // namespace
