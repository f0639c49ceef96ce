// Where the built converter's output lands: every kind of target the README describes
// (symbolic links, hard links, FIFOs, devices, pipes, files in folders that take no new file),
// and appends to one file from several runs at once, or while this test holds the file through
// the library: appends wait for each other and each series lands whole; a replacement waits for
// none.
#include "norvalex/tqs.h"
#include "platform/output_file.h"
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

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace norvalex;

namespace fs = std::filesystem;
using test_support::Block;
using test_support::blocks_from;
using test_support::entries_of;
using test_support::expect_error_line;
using test_support::expect_success;
using test_support::kOldBytes;
using test_support::mask_created;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::run_norvalex;
using test_support::RunOptions;
using test_support::sf7_map_text;
using test_support::StdoutMode;
using test_support::TempDir;
using test_support::UnwritableFile;
using test_support::write_file;

namespace {

// An append under way in another program (this test, through the library) holds back another
// append, which lands after its series, but no replacement: that takes the file's place at once,
// and the append under way ends in the old file. Windows replaces no file that is held open: after
// a second of attempts the replacement gives up, and the file keeps the appended series.
TEST(ConcurrentAppends, AnAppendUnderWayHoldsBackAppendsOnly) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, sf7_map_text("2 1", 6));
  const std::string whole = run_norvalex({input}).out;
  const std::string series = run_norvalex({"-a", "-", input}).out;
  const std::string held_series =
      test_support::block_bytes("creator", 0x401, std::string("HELD", 5));
  const std::string out = dir.file("out.tqs");
  struct Case {
    const char* option;
    bool waits;
    std::string error_line; // "" for success
    std::string expected;   // compared with the creation time masked
  };
  const std::vector<Case> cases = {
      {"-a", true, "", kOldBytes + held_series + series},
#ifdef _WIN32
      {"-o", false, "norvalex: Error: \"" + out + "\": Device or resource busy\n",
       kOldBytes + held_series},
#else
      {"-o", false, "", whole},
#endif
  };
  for (const Case& c : cases) {
    write_file(out, kOldBytes);
    std::optional<TqsOutput> held(std::in_place);
    tqs_open_file(*held, out.c_str(), true);
    tqs_write_header(*held, {.creator = "HELD", .creator_version = {1, 0}});
    test_support::RunningProgram program =
        test_support::start_program({NORVALEX_BINARY, c.option, out, input});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.waits ? 0 : 10);
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } while (!test_support::program_has_ended(program) &&
             std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(test_support::program_has_ended(program), !c.waits)
        << c.option << (c.waits ? " did not wait" : " waited for the append");
    tqs_close_output(*held);
    held.reset();
    const ProcessResult result = test_support::finish_program(program);
    if (c.error_line.empty()) {
      expect_success(result, c.option);
    } else {
      expect_error_line(result, c.error_line, c.option);
    }
    EXPECT_EQ(mask_created(read_file(out)), mask_created(c.expected)) << c.option;
    EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"in.sf7", "out.tqs"})) << c.option;
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
    write_file(inputs.back(), sf7_map_text(std::to_string(199 + k) + " 199", (200 + k) * 200));
    fs::remove(shared);
    expect_success(run_norvalex({"-a", shared, inputs.back()}), "alone");
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
  write_file(input, sf7_map_text("2 1", 6));
  const std::string whole = run_norvalex({input}).out;
  const std::string series = run_norvalex({"-a", "-", input}).out;
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
    const ProcessResult result = run_norvalex(args, c.run);
    expect_success(result, c.label);
    EXPECT_EQ(mask_created(c.result(result)), mask_created(c.expected)) << c.label;
    EXPECT_EQ(fs::exists(at + "link"), fs::is_symlink(at + "link")) << c.label;
    for (const std::string& name : entries_of(case_dir.path()))
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
  write_file(input, sf7_map_text("2 1", 6));
  const std::string out = dir.file("out.tqs");
  write_file(out, kOldBytes);
  const int held = _open(out.c_str(), _O_RDONLY | _O_BINARY);
  const ProcessResult result = run_norvalex({"-o", out, input});
  _close(held);
  expect_error_line(result, "norvalex: Error: \"" + out + "\": Device or resource busy\n",
                    "-o a file held open");
  EXPECT_EQ(read_file(out), kOldBytes);
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"in.sf7", "out.tqs"}));
}
#endif

// The one case where a regular file is written in place: replacing it needs a new file in its
// folder, and the folder takes none, while the file itself may be written.
TEST(OutputTargets, AFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
  TempDir dir;
  const std::string input = dir.file("in.sf7");
  write_file(input, sf7_map_text("2 1", 6));
  const std::string folder = dir.file("locked");
  fs::create_directory(folder);
  const std::string target = folder + "/out.tqs";
  write_file(target, kOldBytes);
  struct stat before {};
  stat(target.c_str(), &before);
  UnwritableFile locked(folder);
  if (locked.error_text().empty())
    GTEST_SKIP() << "this process can make no folder unwritable for itself here";
  expect_success(run_norvalex({"-o", target, input}), "-o in a locked folder");
  struct stat after {};
  stat(target.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  const std::string written = read_file(target);
  EXPECT_EQ(mask_created(written), mask_created(run_norvalex({input}).out));
  // A writer that writes the file by its own name is refused there, and the file stays.
  OutputFile by_name;
  EXPECT_EQ(std::strerror(by_name.open(target.c_str(), OutputMode::replace_by_rename)),
            locked.error_text());
  EXPECT_EQ(read_file(target), written);
}

} // namespace
