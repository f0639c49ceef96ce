// The platform layer: the same answers on Linux and Windows where the systems differ.
#include "platform/output_file.h"
#include "platform/platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace norvalex;

using test_support::kNullDevice;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

namespace {

TEST(ErrorTexts, AreGlibcsOwn) {
  for (std::size_t k = 0; k < platform_error_text_count; ++k) {
    const PlatformErrorText& row = platform_error_texts[k];
    EXPECT_STREQ(platform_error_text(row.number), row.text) << row.number;
#ifdef __GLIBC__
    EXPECT_STREQ(row.text, std::strerror(row.number)) << row.number;
#endif
  }
  // The texts the writer and the readers can give, whatever the C library calls them.
  EXPECT_STREQ(platform_error_text(EOVERFLOW), "Value too large for defined data type");
  EXPECT_STREQ(platform_error_text(ENOSPC), "No space left on device");
  EXPECT_STREQ(platform_error_text(EPIPE), "Broken pipe");
  EXPECT_STREQ(platform_error_text(ESPIPE), "Illegal seek");
  EXPECT_STREQ(platform_error_text(ENOMEM), "Cannot allocate memory");
}

TEST(Terminal, NeitherAFileNorTheNullDeviceIsOne) {
  TempDir dir;
  for (const std::string& name : {dir.file("file"), std::string(kNullDevice)}) {
    std::FILE* stream = std::fopen(name.c_str(), "wb");
    ASSERT_NE(stream, nullptr) << name;
    EXPECT_FALSE(platform_is_terminal(stream)) << name;
    std::fclose(stream);
  }
}

TEST(OpenFile, RefusesAFolderAsAFolder) {
  TempDir dir;
  errno = 0;
  EXPECT_EQ(platform_open_file(dir.path().string().c_str(), "wb"), nullptr);
  EXPECT_EQ(errno, EISDIR);
}

// Offsets past 4 GiB, in a file with a hole that takes no disk space.
TEST(Positions, Are64BitsWide) {
  TempDir dir;
  std::FILE* stream = std::fopen(dir.file("sparse").c_str(), "w+b");
  ASSERT_NE(stream, nullptr);
  const std::int64_t past_4_gib = (std::int64_t{5} << 30) + 7;
  ASSERT_EQ(platform_seek(stream, past_4_gib), 0);
  EXPECT_EQ(platform_tell(stream), past_4_gib);
  ASSERT_EQ(std::fputc('x', stream), 'x');
  ASSERT_EQ(std::fflush(stream), 0);
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  EXPECT_EQ(platform_file_status(stream, kind, length), 0);
  EXPECT_EQ(kind, PlatformFileKind::regular);
  EXPECT_EQ(length, past_4_gib + 1);
  std::fclose(stream);
}

TEST(Positions, APipeHasNone) {
  const test_support::PipeStream pipe;
  errno = 0;
  EXPECT_EQ(platform_tell(pipe.reader), -1);
  EXPECT_EQ(errno, ESPIPE);
  PlatformFileKind kind = PlatformFileKind::regular;
  std::int64_t length = 0;
  EXPECT_EQ(platform_file_status(pipe.reader, kind, length), 0);
  EXPECT_EQ(kind, PlatformFileKind::other);
}

TEST(OutputError, AClosedPipeIsEpipe) {
  EXPECT_EQ(platform_output_error(ENOSPC), ENOSPC);
  EXPECT_EQ(platform_output_error(EPIPE), EPIPE);
#ifdef _WIN32
  // The C library's EINVAL for the system's pipe errors, and for others.
  for (const long pipe_error : {ERROR_NO_DATA, ERROR_BROKEN_PIPE, ERROR_PIPE_NOT_CONNECTED}) {
    _doserrno = static_cast<unsigned long>(pipe_error);
    EXPECT_EQ(platform_output_error(EINVAL), EPIPE) << pipe_error;
  }
  _doserrno = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(platform_output_error(EINVAL), EINVAL);
#else
  EXPECT_EQ(platform_output_error(EINVAL), EINVAL);
#endif
}

// A writer that writes the temporary file by its own name (as HDF5 does) finds it through the
// output file, whose commit puts it in place only while that name holds the file it created.
TEST(OutputFile, CommitsTheTemporaryFileItCreatedOnly) {
  struct Case {
    const char* label;
    std::function<void(const std::string& temp_path)> write;
    int error_number; // of the commit
    std::string target;
  };
  const std::vector<Case> cases = {
      {"written by its name", [](const std::string& temp) { write_file(temp, "new"); }, 0, "new"},
      {"removed", [](const std::string& temp) { std::filesystem::remove(temp); }, ENOENT, "old"},
#ifndef _WIN32 // where a file removed while it is open keeps its name until it is closed
      {"replaced by another file",
       [](const std::string& temp) {
         std::filesystem::remove(temp);
         write_file(temp, "other");
       },
       EEXIST, "old"},
#endif
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string target = dir.file("out.h5");
    write_file(target, "old");
    OutputFile file;
    ASSERT_EQ(file.open(target.c_str(), OutputMode::replace_by_rename), 0) << c.label;
    const std::string temp_path = file.temp_path();
    c.write(temp_path);
    EXPECT_EQ(file.commit(), c.error_number) << c.label;
    EXPECT_EQ(read_file(target), c.target) << c.label;
    // Another's file at the temporary name is not the output's to remove.
    EXPECT_EQ(std::filesystem::exists(temp_path), c.error_number == EEXIST) << c.label;
  }
}

} // namespace
