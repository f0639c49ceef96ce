#include "support/test_support.h"

#include "cli/diagnostics.h"
#include "cli/program.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
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

using namespace norvalex;

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

std::string golden_text(std::string_view name) {
  return read_file(fs::path(NORVALEX_GOLDEN_DIR) / name);
}

std::set<std::string> entries_of(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

bool copy_under_odd_name(const std::string& from, const std::string& to) {
#ifdef _WIN32
  (void)from;
  (void)to;
  return false;
#else
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  return true;
#endif
}

bool link_under_odd_name(const std::string& from, const std::string& to) {
#ifdef _WIN32
  (void)from;
  (void)to;
  return false;
#else
  fs::create_symlink(from, to);
  return true;
#endif
}

bool make_fifo(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  if (mkfifo(path.c_str(), 0600) != 0)
    throw std::runtime_error("cannot make the FIFO " + path);
  return true;
#endif
}

std::string crlf_of(const std::string& text) {
  std::string crlf;
  for (char c : text)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return crlf;
}

std::FILE* open_bytes(std::string_view bytes) {
#ifdef _WIN32
  static int serial = 0;
  const fs::path path =
      fs::temp_directory_path() /
      ("norvalex-bytes-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
  std::FILE* stream = _wfopen(path.c_str(), L"w+bD"); // D: deleted when closed
  if (!stream || std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
    throw std::runtime_error("cannot write " + path.string());
  std::rewind(stream);
#else
  std::FILE* stream = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  if (!stream)
    throw std::runtime_error("fmemopen failed");
#endif
  return stream;
}

std::vector<std::vector<double>> small_rf_map_columns() {
  const double numbers[6][6] = {{0, 0, 0, 1, 1, 1},
                                {0, 1, 2, 0, 1, 2},
                                {15, 12.5, 8, 14, 12, 7.5},
                                {0, 2, -3, 0, 2.5, -3.5},
                                {15, 13, 8.5, 14, 12.5, 8.25},
                                {0, 5e3, 1e4, 0, 5.5e3, 1.1e4}};
  const double factors[6] = {0.01, 0.01, 1e6, 1e6, 1e6, 1.25664e-6};
  std::vector<std::vector<double>> columns(6);
  for (std::size_t c = 0; c < 6; ++c) {
    for (double number : numbers[c])
      columns[c].push_back(factors[c] * number);
  }
  return columns;
}

PipeStream::PipeStream() {
  int ends[2];
#ifdef _WIN32
  if (_pipe(ends, 4096, _O_BINARY) != 0)
#else
  if (pipe(ends) != 0)
#endif
    throw std::runtime_error("cannot open a pipe");
  reader = fdopen(ends[0], "rb");
  write_end = ends[1];
  if (!reader) {
    close(ends[0]);
    close(ends[1]);
    throw std::runtime_error("cannot open a stream on a pipe");
  }
}

PipeStream::~PipeStream() {
  std::fclose(reader);
  close(write_end);
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

std::string mask_created(std::string bytes) {
  if (bytes.size() >= 8)
    bytes.replace(4, 4, 4, '\0');
  return bytes;
}

std::string name_field(std::string name) {
  name.resize(16, '\0');
  return name;
}

std::string doubles_block(const std::string& name, const std::vector<double>& values) {
  return block_bytes(name, 0x803, doubles_bytes(values));
}

std::string creator_block(const std::string& creator) {
  return block_bytes("creator", 0x401, creator + std::string(1, '\0'));
}

std::string file_header_bytes(const HeaderFields& fields) {
  std::string bytes = le32(0x059F4C75) + le32(static_cast<std::uint32_t>(fields.created)) +
                      name_field(fields.creator) + name_field(fields.second_name);
  for (std::uint8_t byte : fields.format_version)
    bytes += static_cast<char>(byte);
  for (std::uint8_t byte : fields.versions)
    bytes += static_cast<char>(byte);
  return bytes + std::string(2, '\0');
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

std::string about(const std::string& path) {
  std::string text = "\"";
  text.append(path).append("\": ");
  return text;
}

std::string thrown_text(const std::function<void()>& body) {
  try {
    body();
  } catch (const norvalex::Error& error) {
    return error.what();
  }
  return "";
}

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(
      static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
      L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// One word of a command line as the C runtime splits it back into argv.
std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return word;
  std::wstring text = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    text += c;
    backslashes = 0;
  }
  text.append(2 * backslashes, L'\\');
  return text + L"\"";
}

HANDLE open_inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE handle = CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    throw std::runtime_error("cannot open " + path);
  return handle;
}

struct RunEnded {
  int status;
};

[[noreturn]] void throw_run_ended(int status) {
  throw RunEnded{status};
}

// Puts descriptors 1 and 2, the process-end hook and the current folder back as they were.
class ChildScope {
public:
  ChildScope() : saved_out_(_dup(1)), saved_err_(_dup(2)), hook_(process_end_hook) {}
  ~ChildScope() {
    std::fflush(stdout);
    std::fflush(stderr);
    _dup2(saved_out_, 1);
    _dup2(saved_err_, 2);
    _close(saved_out_);
    _close(saved_err_);
    std::clearerr(stdout);
    std::clearerr(stderr);
    process_end_hook = hook_;
    std::error_code ignored;
    fs::current_path(folder_, ignored);
  }
  ChildScope(const ChildScope&) = delete;
  ChildScope& operator=(const ChildScope&) = delete;

private:
  int saved_out_;
  int saved_err_;
  ProcessEndHook hook_;
  fs::path folder_ = fs::current_path();
};

int open_capture(const std::string& path) {
  const int descriptor =
      _open(path.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (descriptor < 0)
    throw std::runtime_error("cannot create " + path);
  return descriptor;
}

} // namespace

ProcessResult run_in_child(const std::function<void()>& body, const RunOptions& options) {
  if (options.stdout_mode == StdoutMode::terminal || options.stdout_mode == StdoutMode::pipe)
    throw std::runtime_error("run_in_child on Windows has no terminal or read pipe");
  if (options.address_space_limit >= 0)
    throw std::runtime_error("no address-space limit on Windows");
  TempDir capture;
  const int out = open_capture(capture.file("out"));
  const int err = open_capture(capture.file("err"));
  std::fflush(stdout);
  std::fflush(stderr);
  ProcessResult result;
  {
    ChildScope scope;
    switch (options.stdout_mode) {
    case StdoutMode::capture:
      _dup2(out, 1);
      break;
    case StdoutMode::closed:
      _close(1);
      break;
    case StdoutMode::file: {
      const int file = _open(options.stdout_path.c_str(), _O_WRONLY | _O_BINARY);
      if (file < 0)
        throw std::runtime_error("cannot open " + options.stdout_path);
      _dup2(file, 1);
      _close(file);
      break;
    }
    case StdoutMode::closed_pipe: {
      int ends[2];
      if (_pipe(ends, 4096, _O_BINARY) != 0)
        throw std::runtime_error("cannot open a pipe");
      _close(ends[0]);
      _dup2(ends[1], 1);
      _close(ends[1]);
      break;
    }
    case StdoutMode::terminal:
    case StdoutMode::pipe:
      break;
    }
    _dup2(err, 2);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    std::clearerr(stdout);
    std::clearerr(stderr);
    process_end_hook = throw_run_ended;
    try {
      run_reporting_errors(body);
      result.exit_status = 0;
    } catch (const RunEnded& ended) {
      result.exit_status = ended.status;
    }
  }
  _close(out);
  _close(err);
  result.out = read_file(capture.file("out"));
  result.err = read_file(capture.file("err"));
  return result;
}

namespace {

// A file name for a captured stream that no other run uses.
std::string capture_path(const char* stream) {
  static std::atomic<unsigned> serial{0};
  return (fs::temp_directory_path() / ("norvalex-capture-" + std::to_string(GetCurrentProcessId()) +
                                       "-" + std::to_string(++serial) + "." + stream))
      .string();
}

// The test process itself goes on when it sends Ctrl-C to the programs of its console.
BOOL WINAPI go_on_after_interruption(DWORD) {
  return TRUE;
}

// A console of this process's own, shared with the programs it starts from now on: Ctrl-C can be
// sent to a console's programs (as a group; Wine cannot send Ctrl-Break or to one program).
void share_a_console() {
  static const bool shared = [] {
    FreeConsole();
    const bool allocated = AllocConsole() != 0;
    SetConsoleCtrlHandler(go_on_after_interruption, TRUE);
    return allocated;
  }();
  if (!shared)
    throw std::runtime_error("cannot make a console");
}

std::string read_and_remove(const std::string& path) {
  std::string bytes = read_file(path);
  std::error_code ignored;
  fs::remove(path, ignored);
  return bytes;
}

} // namespace

RunningProgram start_program(const std::vector<std::string>& argv, const RunOptions& options) {
  if (options.stdout_mode == StdoutMode::terminal)
    throw std::runtime_error("no pseudo-terminal on Windows");
  if (options.file_size_limit >= 0)
    throw std::runtime_error("no file-size limit on Windows");
  if (options.address_space_limit >= 0)
    throw std::runtime_error("no address-space limit on Windows");
  if (options.interruptible)
    share_a_console();
  RunningProgram program;
  std::wstring command_line;
  for (const std::string& word : argv)
    command_line += (command_line.empty() ? L"" : L" ") + quoted(widen(word));
  // Without a handle, the program starts with the descriptor closed.
  HANDLE input = nullptr;
  HANDLE error = nullptr;
  HANDLE output = nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!options.close_stdin_and_stderr) {
    program.err_path = capture_path("err");
    input = open_inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    error = open_inheritable(program.err_path, GENERIC_WRITE, CREATE_ALWAYS);
  }
  switch (options.stdout_mode) {
  case StdoutMode::capture:
    program.out_path = capture_path("out");
    output = open_inheritable(program.out_path, GENERIC_WRITE, CREATE_ALWAYS);
    break;
  case StdoutMode::closed:
  case StdoutMode::terminal:
    break;
  case StdoutMode::file:
    output = open_inheritable(options.stdout_path, GENERIC_WRITE, OPEN_EXISTING);
    break;
  case StdoutMode::closed_pipe:
  case StdoutMode::pipe:
    if (!CreatePipe(&program.out_pipe, &output, &inherit, 0))
      throw std::runtime_error("cannot open a pipe");
    SetHandleInformation(program.out_pipe, HANDLE_FLAG_INHERIT, 0);
    if (options.stdout_mode == StdoutMode::closed_pipe) {
      CloseHandle(program.out_pipe);
      program.out_pipe = nullptr;
    }
    break;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process) != 0;
  // The program holds its own copies now; a pipe ends when the program's copy closes.
  for (HANDLE handle : {input, error, output})
    if (handle)
      CloseHandle(handle);
  if (!started) {
    if (program.out_pipe)
      CloseHandle(program.out_pipe);
    throw std::runtime_error("cannot start " + argv.at(0));
  }
  CloseHandle(process.hThread);
  program.process = process.hProcess;
  return program;
}

ProcessResult finish_program(RunningProgram& program) {
  ProcessResult result;
  // A pipe is read to its end before the wait, so that a program never waits for room in it.
  if (program.out_pipe) {
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(program.out_pipe, chunk, sizeof chunk, &got, nullptr) && got > 0)
      result.out.append(chunk, got);
    CloseHandle(program.out_pipe);
  }
  WaitForSingleObject(program.process, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(program.process, &status);
  CloseHandle(program.process);
  result.exit_status = static_cast<int>(status);
  if (!program.out_path.empty())
    result.out = read_and_remove(program.out_path);
  if (!program.err_path.empty())
    result.err = read_and_remove(program.err_path);
  program = RunningProgram{};
  return result;
}

ProcessResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  RunningProgram program = start_program(argv, options);
  return finish_program(program);
}

void interrupt_program(const RunningProgram&) {
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}

bool ended_by_interruption(const ProcessResult& result) {
  return static_cast<DWORD>(result.exit_status) == STATUS_CONTROL_C_EXIT;
}

bool program_has_ended(const RunningProgram& program) {
  return WaitForSingleObject(program.process, 0) == WAIT_OBJECT_0;
}

std::string stderr_so_far(const RunningProgram& program) {
  std::error_code missing;
  return fs::exists(program.err_path, missing) ? read_file(program.err_path) : "";
}

#else

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
  if (options.address_space_limit >= 0) {
    const auto limit = static_cast<rlim_t>(options.address_space_limit);
    const rlimit limits{limit, limit};
    if (setrlimit(RLIMIT_AS, &limits) != 0)
      _exit(125);
  }
  if (options.time_limit > 0)
    alarm(options.time_limit);
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

void interrupt_program(const RunningProgram& program) {
  kill(program.pid, SIGTERM);
}

bool ended_by_interruption(const ProcessResult& result) {
  return result.signal == SIGTERM;
}

bool program_has_ended(const RunningProgram& program) {
  siginfo_t ended{};
  waitid(P_PID, static_cast<id_t>(program.pid), &ended, WEXITED | WNOHANG | WNOWAIT);
  return ended.si_pid == program.pid;
}

std::string stderr_so_far(const RunningProgram& program) {
  std::string seen(65536, '\0');
  const ssize_t got = pread(fileno(program.err_file), seen.data(), seen.size(), 0);
  seen.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return seen;
}

#endif

} // namespace test_support
