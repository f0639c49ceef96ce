#include "support/test_support.h"

#include "cli/diagnostics.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;

namespace test_support {

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("norvalex-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have made files read-only; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view name) const {
  return (path_ / name).string();
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream)
    throw std::runtime_error("cannot write " + path.string());
}

std::string sf7_point_line(int n) {
  char line[128];
  std::snprintf(line, sizeof line, "  %d.5  %d.25  %d.0E-01  -%d.5E+02  7.125  %d\n", n, n, n, n,
                n);
  return line;
}

std::string sf7_point_lines(int count) {
  std::string text;
  for (int n = 0; n < count; ++n)
    text += sf7_point_line(n);
  return text;
}

std::string read_file(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream)
    throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::string le32(std::uint32_t value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8)
    bytes += static_cast<char>(value >> shift);
  return bytes;
}

std::string doubles_bytes(const std::vector<double>& values) {
  std::string bytes;
  for (double value : values) {
    const auto bits = bits_of(value);
    bytes += le32(static_cast<std::uint32_t>(bits)) + le32(static_cast<std::uint32_t>(bits >> 32));
  }
  return bytes;
}

std::string block_bytes(std::string name, std::uint32_t type, const std::string& data,
                        std::uint32_t size) {
  name.resize(16, '\0');
  return name + le32(type) + le32(size) + data;
}

std::string block_bytes(std::string name, std::uint32_t type, const std::string& data) {
  return block_bytes(std::move(name), type, data, static_cast<std::uint32_t>(data.size()));
}

std::uint32_t read_le32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;)
    value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}

std::uint64_t bits_of(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

std::string thrown_text(const std::function<void()>& body) {
  try {
    body();
  } catch (const norvalex::Error& error) {
    return error.what();
  }
  return "";
}

namespace {

// Sets up descriptors 1 and 2 of a freshly forked child; standard input reads nothing.
void redirect_child_streams(const RunOptions& options, int out_fd, int err_fd, int other_fd) {
  int null_fd = open("/dev/null", O_RDONLY);
  dup2(null_fd, 0);
  close(null_fd);
  switch (options.stdout_mode) {
  case StdoutMode::capture:
    dup2(out_fd, 1);
    break;
  case StdoutMode::closed:
    close(1);
    break;
  case StdoutMode::file: {
    int fd = open(options.stdout_path.c_str(), O_WRONLY);
    if (fd < 0)
      _exit(125);
    dup2(fd, 1);
    close(fd);
    break;
  }
  case StdoutMode::terminal:
  case StdoutMode::closed_pipe:
    dup2(other_fd, 1);
    break;
  }
  // A write into a closed pipe raises SIGPIPE with its default action, as a shell leaves it.
  std::signal(SIGPIPE, SIG_DFL);
  dup2(err_fd, 2);
}

ProcessResult run_forked(const std::function<void()>& child_body, const RunOptions& options) {
  std::FILE* out_file = std::tmpfile();
  std::FILE* err_file = std::tmpfile();
  if (!out_file || !err_file)
    throw std::runtime_error("cannot create capture files");
  int terminal_master = -1;
  int terminal_slave = -1;
  if (options.stdout_mode == StdoutMode::terminal &&
      openpty(&terminal_master, &terminal_slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("cannot open a pseudo-terminal");
  }
  int pipe_fds[2] = {-1, -1};
  if (options.stdout_mode == StdoutMode::closed_pipe) {
    if (pipe(pipe_fds) != 0)
      throw std::runtime_error("cannot open a pipe");
    close(pipe_fds[0]);
  }
  // Nothing buffered in this process may be written twice by the child.
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    redirect_child_streams(options, fileno(out_file), fileno(err_file),
                           options.stdout_mode == StdoutMode::terminal ? terminal_slave
                                                                       : pipe_fds[1]);
    child_body();
    std::exit(0);
  }
  if (terminal_slave >= 0)
    close(terminal_slave);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  if (terminal_master >= 0)
    close(terminal_master);

  ProcessResult result;
  if (WIFEXITED(wait_status))
    result.exit_status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status))
    result.signal = WTERMSIG(wait_status);
  auto slurp = [](std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
  };
  result.out = slurp(out_file);
  result.err = slurp(err_file);
  return result;
}

} // namespace

ProcessResult run_in_child(const std::function<void()>& body, const RunOptions& options) {
  return run_forked([&body] { run_reporting_errors(body); }, options);
}

ProcessResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  return run_forked(
      [&argv] {
        std::vector<char*> pointers;
        for (const std::string& word : argv)
          pointers.push_back(const_cast<char*>(word.c_str()));
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
      },
      options);
}

} // namespace test_support
