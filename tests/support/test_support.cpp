#include "support/test_support.h"

#include "cli/diagnostics.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <tuple>
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

// Sets up descriptors 0, 1 and 2 of a freshly forked child; standard input reads nothing.
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
  case StdoutMode::pipe:
    dup2(other_fd, 1);
    break;
  }
  // A write into a closed pipe raises SIGPIPE with its default action, as a shell leaves it;
  // so does a write past a file-size limit with SIGXFSZ.
  std::signal(SIGPIPE, SIG_DFL);
  std::signal(SIGXFSZ, SIG_DFL);
  dup2(err_fd, 2);
  if (options.close_stdin_and_stderr) {
    close(0);
    close(2);
  }
  if (options.file_size_limit >= 0) {
    const auto limit = static_cast<rlim_t>(options.file_size_limit);
    const rlimit limits{limit, limit};
    setrlimit(RLIMIT_FSIZE, &limits);
  }
}

// The reading and writing ends of a new pipe whose reading end the child does not inherit.
std::pair<int, int> make_pipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot open a pipe");
  return {ends[0], ends[1]};
}

RunningProgram start_forked(const std::function<void()>& child_body, const RunOptions& options) {
  RunningProgram program;
  program.out_file = std::tmpfile();
  program.err_file = std::tmpfile();
  if (!program.out_file || !program.err_file)
    throw std::runtime_error("cannot create capture files");
  int terminal_slave = -1;
  if (options.stdout_mode == StdoutMode::terminal &&
      openpty(&program.terminal_master, &terminal_slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("cannot open a pseudo-terminal");
  }
  int out_write = -1;
  if (options.stdout_mode == StdoutMode::closed_pipe) {
    const auto [read_end, write_end] = make_pipe();
    close(read_end);
    out_write = write_end;
  } else if (options.stdout_mode == StdoutMode::pipe) {
    std::tie(program.out_pipe, out_write) = make_pipe();
  }
  int err_write = fileno(program.err_file);
  if (options.file_size_limit >= 0)
    std::tie(program.err_pipe, err_write) = make_pipe();
  if (program.out_pipe >= 0 && program.err_pipe >= 0)
    throw std::runtime_error("one piped stream at a time: the other is read after the exit");
  // Nothing buffered in this process may be written twice by the child.
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    redirect_child_streams(options, fileno(program.out_file), err_write,
                           options.stdout_mode == StdoutMode::terminal ? terminal_slave
                                                                       : out_write);
    child_body();
    std::exit(0);
  }
  program.pid = pid;
  for (int fd : {terminal_slave, out_write, err_write == fileno(program.err_file) ? -1 : err_write})
    if (fd >= 0)
      close(fd);
  return program;
}

std::string read_to_end(int fd) {
  std::string bytes;
  char chunk[65536];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))
    bytes.append(chunk, static_cast<std::size_t>(got > 0 ? got : 0));
  close(fd);
  return bytes;
}

std::string slurp(std::FILE* file) {
  lseek(fileno(file), 0, SEEK_SET);
  std::string bytes = read_to_end(dup(fileno(file)));
  std::fclose(file);
  return bytes;
}

} // namespace

ProcessResult finish_program(RunningProgram& program) {
  ProcessResult result;
  // A pipe is read to its end before the wait, so that a child never waits for room in it.
  const std::string piped_out = program.out_pipe >= 0 ? read_to_end(program.out_pipe) : "";
  const std::string piped_err = program.err_pipe >= 0 ? read_to_end(program.err_pipe) : "";
  int wait_status = 0;
  waitpid(program.pid, &wait_status, 0);
  if (program.terminal_master >= 0)
    close(program.terminal_master);
  if (WIFEXITED(wait_status))
    result.exit_status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status))
    result.signal = WTERMSIG(wait_status);
  result.out = slurp(program.out_file) + piped_out;
  result.err = slurp(program.err_file) + piped_err;
  program = RunningProgram{};
  return result;
}

ProcessResult run_in_child(const std::function<void()>& body, const RunOptions& options) {
  RunningProgram child = start_forked([&body] { run_reporting_errors(body); }, options);
  return finish_program(child);
}

RunningProgram start_program(const std::vector<std::string>& argv, const RunOptions& options) {
  // Built before the fork: the child only calls exec.
  std::vector<char*> pointers;
  for (const std::string& word : argv)
    pointers.push_back(const_cast<char*>(word.c_str()));
  pointers.push_back(nullptr);
  return start_forked(
      [&pointers] {
        execv(pointers[0], pointers.data());
        _exit(127);
      },
      options);
}

ProcessResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  RunningProgram program = start_program(argv, options);
  return finish_program(program);
}

} // namespace test_support
