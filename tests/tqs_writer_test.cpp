// The bytes the writer puts into files and onto a caller's stream, and the one line and exit
// status of each refusal and write failure. Where the converter sends them is
// converter_output_test's.
#include "cli/program.h"
#include "norvalex/tqs.h"
#include "support/test_support.h"
#include "support/writer_runs.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

using namespace norvalex;

using namespace std::string_literals;
using test_support::block_bytes;
using test_support::buffer_size;
using test_support::doubles_bytes;
using test_support::entries_of;
using test_support::kBphiBlock;
using test_support::kBphiValues;
using test_support::kCreatorBlock;
using test_support::kMaskedHeader;
using test_support::kNullDevice;
using test_support::mask_created;
using test_support::read_file;
using test_support::run_writer;
using test_support::RunOptions;
using test_support::StdoutMode;
using test_support::TempDir;
using test_support::write_bphi_series;
using test_support::write_file;

namespace {

std::int32_t created_of(const std::string& bytes) {
  return static_cast<std::int32_t>(test_support::read_le32(bytes, 4));
}

// The start of a conversion's output in the file `name`, replaced or appended to.
void write_start(const char* name, bool append) {
  TqsOutput output;
  tqs_open_file(output, name, append);
  write_bphi_series(output);
}

TEST(TqsWriter, WritesBlocksByteForByte) {
  struct Case {
    const char* label;
    std::function<void(TqsOutput&)> write;
    std::string expected;
  };
  const std::string long_name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::vector<Case> cases = {
      {"doubles", [](auto& out) { tqs_write_array(out, "Bphi", 2, TQS_TYPE_DOUBLE, kBphiValues); },
       kBphiBlock},
      {"empty text", [](auto& out) { tqs_write_string(out, "s", 0, ""); },
       block_bytes("s", 0x401, "\0"s)},
      {"caller's flags", [](auto& out) { tqs_write_string(out, "v", 0x100, "ab"); },
       block_bytes("v", 0x501, "ab\0"s)},
      {"count 0", [](auto& out) { tqs_write_array(out, "none", 0, TQS_TYPE_DOUBLE, nullptr); },
       block_bytes("none", 0x803, "")},
      {"code without data bytes",
       [](auto& out) { tqs_write_array(out, "e", 5, TQS_TYPE_SIZE0_10, nullptr); },
       block_bytes("e", 0x810, "")},
      {"2-byte elements",
       [](auto& out) {
         const std::uint16_t values[] = {0x0102, 0xA0B0};
         tqs_write_array(out, "h", 2, TQS_TYPE_SIZE2_40, values);
       },
       block_bytes("h", 0x840, "\x02\x01\xB0\xA0"s)},
      {"15-byte name", [](auto& out) { tqs_write_string(out, "ABCDEFGHIJKLMNO", 0, "x"); },
       block_bytes("ABCDEFGHIJKLMNO", 0x401, "x\0"s)},
      {"longer names are cut to 15 bytes",
       [&](auto& out) { tqs_write_string(out, long_name.c_str(), 0, long_name.c_str()); },
       block_bytes("ABCDEFGHIJKLMNO", 0x401, long_name + '\0')},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.file("out.tqs");
    auto result = run_writer([&] {
      TqsOutput output;
      tqs_open_file(output, path.c_str(), false);
      c.write(output);
      tqs_close_output(output);
    });
    EXPECT_EQ(result.exit_status, 0) << c.label;
    EXPECT_EQ(result.err, "") << c.label;
    EXPECT_EQ(read_file(path), c.expected) << c.label;
  }
}

TEST(TqsWriter, HeaderCarriesTheCreationTime) {
  TempDir dir;
  const std::string path = dir.file("out.tqs");
  const std::time_t before = std::time(nullptr);
  auto result = run_writer([&] {
    TqsOutput output;
    tqs_open_file(output, path.c_str(), false);
    tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
    tqs_close_output(output);
  });
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(result.exit_status, 0);
  const std::string bytes = read_file(path);
  EXPECT_EQ(mask_created(bytes), kMaskedHeader);
  EXPECT_GE(created_of(bytes), before);
  EXPECT_LE(created_of(bytes), after);
}

TEST(TqsWriter, FilledHeaderDefinesEveryByteAndCutsLongNames) {
  TqsFileHeader header;
  std::memset(&header, 0xAA, sizeof header); // whatever was there before must not leak out
  tqs_fill_header(header, {.creator = "NORVALEX", .creator_version = {1, 0}});
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  EXPECT_EQ(mask_created(bytes), kMaskedHeader);

  tqs_fill_header(header, {.creator = "a-creator-name-of-20",
                           .creator_version = {2, 3},
                           .second_name = "second-name-of-twenty",
                           .second_version = {4, 5}});
  bytes.assign(reinterpret_cast<const char*>(&header), sizeof header);
  EXPECT_EQ(bytes.substr(8, 16), "a-creator-name-\0"s);
  EXPECT_EQ(bytes.substr(24, 16), "second-name-of-\0"s);
  EXPECT_EQ(bytes.substr(40, 8), "\x01\x01\x02\x03\x04\x05\0\0"s);
}

TEST(TqsWriter, WritesAConverterShapedFile) {
  const char* names[] = {"R", "Z", "Er", "Ez", "absE", "Bphi"};
  std::vector<std::vector<double>> columns;
  for (int column = 0; column < 6; ++column) {
    std::vector<double> values;
    for (int point = 0; point < 6; ++point) {
      values.push_back(column * 10.0 + point / 8.0);
    }
    columns.push_back(values);
  }
  TempDir dir;
  const std::string path = dir.file("map.tqs");
  auto result = run_writer([&] {
    TqsOutput output;
    tqs_open_file(output, path.c_str(), false);
    tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
    for (std::size_t column = 0; column < 6; ++column) {
      tqs_write_array(output, names[column], 6, TQS_TYPE_DOUBLE, columns[column].data());
    }
    tqs_close_output(output);
  });
  ASSERT_EQ(result.exit_status, 0);
  std::string expected = kMaskedHeader;
  for (std::size_t column = 0; column < 6; ++column) {
    expected += block_bytes(names[column], 0x803, doubles_bytes(columns[column]));
  }
  const std::string bytes = read_file(path);
  EXPECT_EQ(bytes.size(), 480U);
  EXPECT_EQ(mask_created(bytes), expected);
}

TEST(TqsWriter, EmptiesAnOutputFileAndKeepsTheBytesOfAnAppendFile) {
  struct Case {
    const char* label;
    bool append;
    bool exists;
    std::string expected_after_old_bytes;
  };
  const std::string old_bytes = "\x75\x4C\x9F\x05 old\0\xFF data\n"s; // odd length on purpose
  const std::vector<Case> cases = {
      {"new output file", false, false, kMaskedHeader + kBphiBlock},
      {"existing output file", false, true, kMaskedHeader + kBphiBlock},
      {"new append file", true, false, kCreatorBlock + kBphiBlock},
      {"existing append file", true, true, kCreatorBlock + kBphiBlock},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("out.tqs");
    if (c.exists) {
      write_file(path, old_bytes);
    }
    auto result = run_writer([&] { write_start(path.c_str(), c.append); });
    EXPECT_EQ(result.exit_status, 0) << c.label;
    const std::string kept = c.append && c.exists ? old_bytes : "";
    const std::string bytes = read_file(path);
    EXPECT_EQ(c.append ? bytes : mask_created(bytes), kept + c.expected_after_old_bytes) << c.label;
  }
}

// Makes every later write of `output` fail, as a device that fails would: its stream's
// descriptor is swapped for one open for reading only. What the stream still holds fails too.
void fail_later_writes(TqsOutput& output) {
#ifdef _WIN32
  const int read_only = _open("NUL", _O_RDONLY | _O_BINARY);
  _dup2(read_only, _fileno(output.stream));
  _close(read_only);
#else
  const int read_only = open("/dev/null", O_RDONLY | O_CLOEXEC);
  dup2(read_only, fileno(output.stream));
  close(read_only);
#endif
}

// A failure after a file output was opened and written to undoes it: the target is as it was
// (a missing one stays missing) and no temporary file is left. In the writer's own process, so
// on every system: a refused block, and writes that fail at the close or past the buffer.
TEST(TqsWriter, AFailedFileOutputLeavesTheTargetAsItWas) {
  struct Failure {
    const char* label;
    std::function<void(TqsOutput&)> fail;
    std::string text; // "{out}" stands for the output's name
  };
  const std::vector<double> large(200'000, 0.5); // 1.6 MB, past the stream's 1 MiB buffer
  const std::vector<Failure> failures = {
      {"an element type without a size",
       [](TqsOutput& output) { tqs_write_array(output, "bad", 2, 0x70, nullptr); },
       "Writing unknown data type to \"{out}\""},
      {"a write that fails at the close",
       [](TqsOutput& output) {
         fail_later_writes(output);
         tqs_close_output(output);
       },
       "\"{out}\": Bad file descriptor"},
      {"a write that fails past the buffer",
       [&](TqsOutput& output) {
         fail_later_writes(output);
         tqs_write_array(output, "large", static_cast<std::int32_t>(large.size()), TQS_TYPE_DOUBLE,
                         large.data());
       },
       "\"{out}\": Bad file descriptor"},
  };
  const std::string old_bytes = "old bytes\n";
  TempDir dir;
  const std::string out = dir.file("out.tqs");
  for (const std::string target : {"-o new", "-o existing", "-a new", "-a existing"}) {
    const bool append = target.starts_with("-a");
    const bool exists = target.ends_with("existing");
    for (const Failure& failure : failures) {
      const std::string label = target + ", " + failure.label;
      std::filesystem::remove(out);
      if (exists)
        write_file(out, old_bytes);
      const std::set<std::string> before = entries_of(dir.path());
      auto result = run_writer([&] {
        TqsOutput output;
        tqs_open_file(output, out.c_str(), append);
        tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
        tqs_write_array(output, "Bphi", 2, TQS_TYPE_DOUBLE, kBphiValues);
        failure.fail(output);
      });
      std::string text = failure.text;
      text.replace(text.find("{out}"), 5, out);
      EXPECT_EQ(result.exit_status, 1) << label;
      EXPECT_EQ(result.err, "norvalex: Error: " + text + "\n") << label;
      EXPECT_EQ(entries_of(dir.path()), before) << label;
      if (exists) {
        EXPECT_EQ(read_file(out), old_bytes) << label;
      }
    }
  }
}

TEST(TqsWriter, RefusesAnOutputItCannotOpen) {
  TempDir dir;
  const std::string missing = dir.file("no-such-folder/out.tqs");
  struct Case {
    const char* name;
    bool append;
    std::string expected_err;
  };
  const std::vector<Case> cases = {
      {"", false, "norvalex: Error: \"\": No such file or directory\n"},
      {missing.c_str(), false, "norvalex: Error: \"" + missing + "\": No such file or directory\n"},
      {missing.c_str(), true, "norvalex: Error: \"" + missing + "\": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    auto result = run_writer([&] {
      write_start(c.name, c.append);
      std::fputs("went on\n", stderr);
    });
    EXPECT_EQ(result.exit_status, 1) << c.expected_err;
    EXPECT_EQ(result.err, c.expected_err);
    EXPECT_EQ(result.out, "") << c.expected_err;
  }
}

TEST(TqsWriter, RefusesAnArrayItCannotDescribeBeforeWritingAnyOfIt) {
  struct Case {
    std::int32_t count;
    std::uint32_t type;
    const char* expected_text;
  };
  const std::int32_t max = std::numeric_limits<std::int32_t>::max();
  const std::vector<Case> cases = {
      {2, TQS_TYPE_STRING, "Writing unknown data type to \"-\""},
      {2, 0x70, "Writing unknown data type to \"-\""},
      {2, 0x880, "Writing unknown data type to \"-\""},
      {-1, 0x80, "Writing unknown data type to \"-\""}, // the type is looked at first
      {-1, TQS_TYPE_DOUBLE, "\"-\": Invalid argument"},
      {-1, TQS_TYPE_SIZE0_10, "\"-\": Invalid argument"},
      {max, TQS_TYPE_DOUBLE, "\"-\": Value too large for defined data type"},
      {1 << 30, TQS_TYPE_SIZE4_02, "\"-\": Value too large for defined data type"}, // 4 GiB
  };
  // On standard output, where what was written before stays: a file would be undone whole.
  for (const Case& c : cases) {
    auto result = run_writer([&] {
      TqsOutput output;
      tqs_use_stream(output, stdout, "-", false);
      tqs_write_array(output, "Bphi", 2, TQS_TYPE_DOUBLE, kBphiValues);
      tqs_write_array(output, "bad", c.count, c.type, nullptr);
    });
    const std::string text = c.expected_text;
    EXPECT_EQ(result.exit_status, 1) << text;
    EXPECT_EQ(result.err, "norvalex: Error: " + text + "\n");
    EXPECT_EQ(result.out, kBphiBlock) << text;
  }
}

TEST(TqsWriter, AcceptsTheLargestArrayTheSizeWordDescribes) {
  // 2^30 - 1 four-byte elements: 4,294,967,292 bytes, read from address space that costs no
  // memory and written to a device that discards them.
  const std::size_t bytes = (std::size_t{1} << 32) - 4;
#ifdef _WIN32
  void* data = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  ASSERT_NE(data, nullptr);
#else
  void* data = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(data, MAP_FAILED);
#endif
  auto result = run_writer([&] {
    TqsOutput output;
    tqs_open_file(output, kNullDevice, false);
    tqs_write_array(output, "big", (1 << 30) - 1, TQS_TYPE_SIZE4_02, data);
    tqs_close_output(output);
  });
#ifdef _WIN32
  VirtualFree(data, 0, MEM_RELEASE);
#else
  munmap(data, bytes);
#endif
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
}

TEST(TqsWriter, ReportsAWriteFailureThatShowsOnlyAtTheEnd) {
  struct Case {
    const char* label;
    RunOptions options;
    const char* output;
    std::int32_t count; // doubles in the array; past the buffer, the failure shows while writing
    const char* expected_err;
  };
  const std::vector<Case> cases = {
      {"full file",
       {},
       "/dev/full",
       2,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"full standard output",
       {StdoutMode::file, "/dev/full"},
       nullptr,
       2,
       "norvalex: Error: \"-\": No space left on device\n"},
      {"closed standard output",
       {StdoutMode::closed, ""},
       nullptr,
       2,
       "norvalex: Error: \"-\": Bad file descriptor\n"},
      {"full file, large array",
       {},
       "/dev/full",
       1 << 18,
       "norvalex: Error: \"/dev/full\": No space left on device\n"},
      {"full standard output, large array",
       {StdoutMode::file, "/dev/full"},
       nullptr,
       1 << 18,
       "norvalex: Error: \"-\": No space left on device\n"},
  };
  const std::vector<double> values(1 << 18, 0.5);
  for (const Case& c : cases) {
#ifdef _WIN32
    if (c.options.stdout_mode != StdoutMode::closed)
      continue; // no /dev/full on Windows
#endif
    auto result = run_writer(
        [&] {
          TqsOutput output;
          if (c.output) {
            tqs_open_file(output, c.output, false);
          } else {
            tqs_use_stream(output, stdout, "-", false);
          }
          tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
          tqs_write_array(output, "Bphi", c.count, TQS_TYPE_DOUBLE, values.data());
          if (c.count > 2) {
            std::fputs("large array written\n", stderr);
          }
          tqs_close_output(output);
          std::fputs("closed\n", stderr);
        },
        c.options);
    EXPECT_EQ(result.exit_status, 1) << c.label;
    EXPECT_EQ(result.err, c.expected_err) << c.label;
  }
}

TEST(TqsWriter, GivesEveryFileItOpensTheFullBuffer) {
  // Header, block header and data fill the buffer exactly: nothing may reach the file before
  // the close.
  const std::vector<double> values((TQS_BUFFER_SIZE - 48 - 24) / 8, 0.25);
  const auto count = static_cast<std::int32_t>(values.size());
  TempDir dir;
  const std::string path = dir.file("out.tqs");
  write_file(path, "");
  auto result = run_writer([&] {
    TqsOutput output;
    tqs_open_file(output, path.c_str(), false);
    tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
    tqs_write_array(output, "Bphi", count, TQS_TYPE_DOUBLE, values.data());
    if (buffer_size(output.stream) != TQS_BUFFER_SIZE) {
      end_process(3);
    }
    if (std::filesystem::file_size(path) != 0) {
      end_process(4);
    }
    tqs_close_output(output);
  });
  EXPECT_EQ(result.exit_status, 0) << "file";
  EXPECT_EQ(std::filesystem::file_size(path), TQS_BUFFER_SIZE);
}

} // namespace
