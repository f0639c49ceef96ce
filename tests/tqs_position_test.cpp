// 64-bit byte positions of file streams: every way to seek and the targets it refuses, and
// streams without a length or without a position.
#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

using namespace norvalex;

using test_support::TempDir;
using test_support::write_file;

namespace {

TEST(StreamPosition, SeekTakesEachWhenceAndRefusesBadTargets) {
  TempDir dir;
  const std::string path = dir.file("hundred");
  write_file(path, std::string(100, 'z'));
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  struct Step {
    std::int64_t offset;
    int whence;
    int result;
    std::int64_t position; // afterwards
  };
  const Step steps[] = {
      {10, 0, 0, 10},
      {5, 1, 0, 15},
      {-16, 1, 22, 15},
      {-15, 1, 0, 0},
      {-1, 2, 0, 99},
      {0, 2, 0, 100},
      {-101, 2, 22, 100},
      {-1, 0, 22, 100},
      {3, 3, 22, 100},
      {3, -1, 22, 100},
      {0, 0, 0, 0},
      {std::int64_t{5} << 30, 0, 0, std::int64_t{5} << 30}, // past 4 GiB and past the end
      {std::int64_t{1} << 31, 1, 0, std::int64_t{7} << 30},
      {std::numeric_limits<std::int64_t>::max(), 1, 22, std::int64_t{7} << 30},
  };
  for (const Step& step : steps) {
    errno = 0;
    EXPECT_EQ(tqs_seek(stream, step.offset, step.whence), step.result)
        << step.offset << " from " << step.whence;
    if (step.result > 0) {
      EXPECT_EQ(errno, 0) << "22 and 9 are returned, not stored";
    }
    EXPECT_EQ(tqs_tell(stream), step.position) << step.offset << " from " << step.whence;
  }
  std::fclose(stream);
}

TEST(StreamPosition, WithoutAFileLengthSeekingFromTheEndGives9) {
#ifndef _WIN32 // Windows has no stream without a descriptor
  char memory[16] = {};
  std::FILE* in_memory = fmemopen(memory, sizeof memory, "r");
  ASSERT_NE(in_memory, nullptr);
  EXPECT_EQ(tqs_seek(in_memory, 4, 0), 0);
  EXPECT_EQ(tqs_tell(in_memory), 4);
  EXPECT_EQ(tqs_seek(in_memory, 0, 2), 9); // no descriptor
  std::fclose(in_memory);
#endif

  const test_support::PipeStream pipe;
  EXPECT_EQ(tqs_tell(pipe.reader), -1);
  EXPECT_EQ(tqs_seek(pipe.reader, 0, 2), 9); // a pipe has no length
  EXPECT_NE(tqs_seek(pipe.reader, 0, 0), 0); // the positioning call itself fails
  EXPECT_NE(tqs_seek(pipe.reader, 0, 1), 0); // no current position to start from
}

} // namespace
