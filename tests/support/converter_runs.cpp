#include "support/converter_runs.h"

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
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {

std::string sf7_map_text(const std::string& counts, int point_count, const std::string& names,
                         const std::string& units) {
  std::string text = "Poisson Superfish\nProgram SF7 fault test\n\nZ and R increments: " + counts +
                     "\n\n" + names + units;
  return text + sf7_point_lines(point_count);
}

ProcessResult run_norvalex(std::vector<std::string> args, const RunOptions& options) {
  args.insert(args.begin(), NORVALEX_BINARY);
  return run_program(args, options);
}

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

UnwritableFile::UnwritableFile(const std::string& path) : path_(path) {
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

UnwritableFile::~UnwritableFile() {
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

} // namespace test_support
