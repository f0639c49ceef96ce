// Where the converter's TQS data go, as its command line asks (tqs_open_output): standard output
// for no name or a name that is exactly "-", the named file otherwise; an output file and an
// append file together are refused, and so is a terminal on standard output; standard output
// gets the full buffer that the writer gives the files it opens.
#include "cli/program.h"
#include "convert/converter_output.h"
#include "norvalex/tqs.h"
#include "support/test_support.h"
#include "support/writer_runs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::buffer_size;
using test_support::kBphiBlock;
using test_support::kCreatorBlock;
using test_support::kMaskedHeader;
using test_support::mask_created;
using test_support::read_file;
using test_support::run_writer;
using test_support::RunOptions;
using test_support::StdoutMode;
using test_support::TempDir;
using test_support::write_bphi_series;
using test_support::write_file;

namespace {

// The start of a conversion's output, opened as the converter opens it.
void write_converter_start(const char* output_name, const char* append_name) {
  OutputFile file;
  TqsOutput output;
  tqs_open_output(output_name, append_name, file, output);
  write_bphi_series(output);
}

TEST(ConverterOutput, DashAloneMeansStandardOutput) {
  struct Case {
    const char* output;
    const char* append;
    const char* file; // nullptr: the data go to standard output
    std::string expected;
  };
  const std::string normal = kMaskedHeader + kBphiBlock;
  const std::string appended = kCreatorBlock + kBphiBlock;
  const std::vector<Case> cases = {
      {nullptr, nullptr, nullptr, normal}, {"-", nullptr, nullptr, normal},
      {nullptr, "-", nullptr, appended},   {"--", nullptr, "--", normal},
      {"-x", nullptr, "-x", normal},       {nullptr, "--", "--", appended},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.output ? c.output : "null") + ", " +
                              std::string(c.append ? c.append : "null");
    TempDir dir;
    auto result = run_writer([&] {
      std::filesystem::current_path(dir.path());
      write_converter_start(c.output, c.append);
    });
    EXPECT_EQ(result.exit_status, 0) << label;
    const std::string bytes = c.file ? read_file(dir.path() / c.file) : result.out;
    EXPECT_EQ(c.append ? bytes : mask_created(bytes), c.expected) << label;
    if (c.file) {
      EXPECT_EQ(result.out, "") << label;
    }
  }
}

TEST(ConverterOutput, RefusesAnOutputFileAndAnAppendFileTogether) {
  TempDir dir;
  const std::string kept = dir.file("kept.tqs");
  const std::string other = dir.file("other.tqs");
  write_file(kept, "keep me");
  struct Case {
    const char* output;
    const char* append;
    std::string expected_err;
  };
  const std::vector<Case> cases = {
      {kept.c_str(), other.c_str(),
       "norvalex: Error: Output cannot be written to \"" + kept + "\" and appended to \"" + other +
           "\" at the same time\n"},
      {"-", "-",
       "norvalex: Error: Output cannot be written to \"-\" and appended to \"-\" at the same "
       "time\n"},
  };
  for (const Case& c : cases) {
    auto result = run_writer([&] {
      write_converter_start(c.output, c.append);
      std::fputs("went on\n", stderr);
    });
    EXPECT_EQ(result.exit_status, 1) << c.expected_err;
    EXPECT_EQ(result.err, c.expected_err);
    EXPECT_EQ(result.out, "") << c.expected_err;
  }
  // Refused before anything was opened: the output file is not emptied, the append file not made.
  EXPECT_EQ(read_file(kept), "keep me");
  EXPECT_FALSE(std::filesystem::exists(other));
}

TEST(ConverterOutput, RefusesATerminalOnStandardOutputOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "no pseudo-terminal on Windows";
#endif
  TempDir dir;
  const std::string path = dir.file("out.tqs");
  const RunOptions terminal{StdoutMode::terminal, ""};
  for (const char* output : {static_cast<const char*>(nullptr), "-"}) {
    for (const char* append : {static_cast<const char*>(nullptr), "-"}) {
      if (output && append) {
        continue;
      }
      auto result = run_writer([&] { write_converter_start(output, append); }, terminal);
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(result.err,
                "norvalex: Error: TQS output can not be read from or written to a terminal\n");
    }
  }
  auto result = run_writer([&] { write_converter_start(path.c_str(), nullptr); }, terminal);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(mask_created(read_file(path)), kMaskedHeader + kBphiBlock);
}

TEST(ConverterOutput, GivesStandardOutputTheFullBuffer) {
  // Header, block header and data fill the buffer exactly: nothing may reach the file before
  // the close.
  const std::vector<double> values((TQS_BUFFER_SIZE - 48 - 24) / 8, 0.25);
  const auto count = static_cast<std::int32_t>(values.size());
  TempDir dir;
  const std::string path = dir.file("out.tqs");
  write_file(path, "");
  auto result = run_writer(
      [&] {
        OutputFile file;
        TqsOutput output;
        tqs_open_output(nullptr, nullptr, file, output);
        tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
        tqs_write_array(output, "Bphi", count, TQS_TYPE_DOUBLE, values.data());
        if (buffer_size(output.stream) != TQS_BUFFER_SIZE) {
          end_process(3);
        }
        if (std::filesystem::file_size(path) != 0) {
          end_process(4);
        }
        tqs_close_output(output);
      },
      RunOptions{StdoutMode::file, path});
  EXPECT_EQ(result.exit_status, 0) << "standard output";
  EXPECT_EQ(std::filesystem::file_size(path), TQS_BUFFER_SIZE);
}

} // namespace
