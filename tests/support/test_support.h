// Helpers shared by the test programs: temporary folders and files, the golden texts, field maps
// and TQS bytes built by hand, and running code or the built program in a child process with its
// standard output and standard error captured.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Path of `name` inside the folder, as text.
  std::string file(std::string_view name) const;

private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, std::string_view bytes);

// Point line n of a field map: six distinct values, the last one n.
std::string sf7_point_line(int n);
// Point lines 0 to count-1.
std::string sf7_point_lines(int count);
std::string read_file(const std::filesystem::path& path);

// The bytes of the golden file `name` of tests/golden: a fixed text that a program writes (its
// help, say), kept there once for every test that compares with it. Read in binary mode, so that
// it compares byte for byte on every system.
std::string golden_text(std::string_view name);

// The names in a folder: a run that failed or was interrupted must leave no temporary file.
std::set<std::string> entries_of(const std::filesystem::path& folder);

// A copy of the file `from`, or a symbolic link to it, at `to`, a name that holds control bytes:
// false, with nothing made, where names cannot hold them (Windows).
bool copy_under_odd_name(const std::string& from, const std::string& to);
bool link_under_odd_name(const std::string& from, const std::string& to);

// Makes a FIFO named `path`, which no program writes; false where the system has none (Windows).
bool make_fifo(const std::string& path);

// `text` with every line feed made a CR LF.
std::string crlf_of(const std::string& text);

// A stream that reads `bytes`, which must outlive it: in memory where the C library can do that
// (fmemopen), else a temporary file that is deleted when the stream is closed.
std::FILE* open_bytes(std::string_view bytes);

// The reading end of a new pipe as a binary stream, and the writing end; both closed with it.
struct PipeStream {
  std::FILE* reader = nullptr;
  int write_end = -1;
  PipeStream();
  ~PipeStream();
  PipeStream(const PipeStream&) = delete;
  PipeStream& operator=(const PipeStream&) = delete;
};

// A 2 x 3 RF map whose code page 437 names norvalex renames to |E| and Bphi, with a summary line
// after the points that is never read.
inline const std::string kSmallRfMap = "Poisson Superfish\n"
                                       "Program SF7 test map\n"
                                       "\n"
                                       "Z and R increments:    1    2\n"
                                       "\n"
                                       "   Z     R     Ez     Er    \xB3"
                                       "E\xB3    H\xED \n"
                                       " (cm)  (cm)  (MV/m) (MV/m) (MV/m) (A/m) \n"
                                       "  0.0   0.0   1.5E+01  0.0  1.5E+01  0.0\n"
                                       "  0.0   1.0   1.25E+01  2.0  1.3E+01  5.0E+03\n"
                                       "  0.0   2.0   8.0E+00  -3.0  8.5E+00  1.0E+04\n"
                                       "  1.0   0.0   1.4E+01  0.0  1.4E+01  0.0\n"
                                       "  1.0   1.0   1.2E+01  2.5  1.25E+01  5.5E+03\n"
                                       "  1.0   2.0   7.5E+00  -3.5  8.25E+00  1.1E+04\n"
                                       "Summary that is never read\n";

// The output names of kSmallRfMap's columns, and the columns as norvalex stores them: each
// number times its unit's factor.
inline constexpr const char* kSmallRfMapNames[6] = {"Z", "R", "Ez", "Er", "|E|", "Bphi"};
std::vector<std::vector<double>> small_rf_map_columns();

// TQS bytes built by hand: a little-endian 32-bit word, doubles in their file representation,
// and a block (a 16-byte name field, type word, size word, data; the size word is the data's
// length unless given).
std::string le32(std::uint32_t value);
std::string doubles_bytes(const std::vector<double>& values);
std::string block_bytes(std::string name, std::uint32_t type, const std::string& data);
std::string block_bytes(std::string name, std::uint32_t type, const std::string& data,
                        std::uint32_t size);
// A 16-byte name field: `name` padded with NULs, or its first 16 bytes (without a NUL).
std::string name_field(std::string name);
// An array block of doubles, and the "creator" string block that starts an appended series.
std::string doubles_block(const std::string& name, const std::vector<double>& values);
std::string creator_block(const std::string& creator);
// What a file header holds besides its magic.
struct HeaderFields {
  std::string creator{};     // in a name field (name_field)
  std::string second_name{}; // likewise
  std::int32_t created = 0;
  std::array<std::uint8_t, 2> format_version{1, 1};
  std::array<std::uint8_t, 4> versions{}; // the creator's two bytes, then the second name's
};
// The 48 bytes of a file header.
std::string file_header_bytes(const HeaderFields& fields);
// A TQS file with its creation time (bytes 4 to 7) zeroed.
std::string mask_created(std::string bytes);
// The 32-bit word at `offset` of `bytes`, read little-endian.
std::uint32_t read_le32(const std::string& bytes, std::size_t offset);
// The bits of a double, so that a NaN compares equal to the same NaN.
std::uint64_t bits_of(double value);

// The start of an error text about the file `path`: "\"<path>\": ".
std::string about(const std::string& path);

// The text of the norvalex::Error that `body` throws, or "" when it throws none.
std::string thrown_text(const std::function<void()>& body);

struct ProcessResult {
  int exit_status = -1; // exit status, or -1 when the child did not exit normally
  int signal = 0;       // signal that ended the child, 0 when it exited
  std::string out;      // bytes written to standard output (when captured)
  std::string err;      // bytes written to standard error
};

// Where a child's standard output goes.
enum class StdoutMode {
  capture,     // a temporary file, read back into ProcessResult::out
  closed,      // descriptor 1 closed
  file,        // the file named by RunOptions::stdout_path, opened for writing (e.g. /dev/full)
  terminal,    // the slave side of a pseudo-terminal
  closed_pipe, // a pipe whose reading end is closed, as when the reader has quit early
  pipe,        // a pipe read into ProcessResult::out, as in "norvalex -a /dev/stdout ... | ..."
};

struct RunOptions {
  StdoutMode stdout_mode = StdoutMode::capture;
  std::string stdout_path{};
  // With a limit, setrlimit(RLIMIT_FSIZE) in the child makes every write past that many bytes of
  // a file fail with EFBIG (or raise SIGXFSZ, unless the program ignores it); standard error
  // then goes through a pipe, so that its line is never cut by the limit.
  long long file_size_limit = -1;
  bool close_stdin_and_stderr = false; // the child starts with descriptors 0 and 2 closed
  // On Windows the program shares a console of this process's own, through which
  // interrupt_program sends it Ctrl-C (every program started from then on shares it).
  bool interruptible = false;
  // With a limit, setrlimit(RLIMIT_AS) in the child caps its address space at that many bytes,
  // so that an allocation past it fails as with a full memory. Not on Windows, and not under the
  // sanitizers, whose runtimes reserve more than any such limit (kAddressSpaceLimits).
  long long address_space_limit = -1;
  // With a limit, the child is ended by SIGALRM after that many seconds (the alarm outlives the
  // exec), so that a run that would wait forever fails instead. Ignored on Windows, whose runs
  // have nothing to wait for (no FIFOs).
  unsigned time_limit = 0;
};

// The device that discards what is written to it and reads as empty.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// Whether RunOptions::address_space_limit can be used: on POSIX systems, without the sanitizers.
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimits = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceLimits = false;
#else
inline constexpr bool kAddressSpaceLimits = true;
#endif
#else
inline constexpr bool kAddressSpaceLimits = true;
#endif

// Runs `body` in a forked child; the child exits with status 0 if `body` returns. A
// norvalex::Error that `body` throws ends the child as the programs end on it: their error line
// on standard error and exit status 1.
// Windows has no fork: there `body` runs in this process, with descriptors 1 and 2 redirected
// and process_end_hook throwing the status back here, in binary mode as in the programs; the
// hook, the current folder and the descriptors are restored afterwards. A body must then end
// through end_process (not exit or _exit), and the terminal and pipe modes are not available.
ProcessResult run_in_child(const std::function<void()>& body, const RunOptions& options = {});

// Runs the program argv[0] with the argument vector `argv` (argv[0] included) and an empty
// standard input.
ProcessResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {});

// A program started by start_program and not yet waited for.
struct RunningProgram {
#ifdef _WIN32
  void* process = nullptr;  // the process's handle
  std::string out_path;     // the files that capture its standard output (when captured) ...
  std::string err_path;     // ... and standard error, removed by finish_program
  void* out_pipe = nullptr; // reading end of the pipe of StdoutMode::pipe
#else
  int pid = -1;
  std::FILE* out_file = nullptr;
  std::FILE* err_file = nullptr;
  int terminal_master = -1;
  int out_pipe = -1; // reading ends of the pipes of StdoutMode::pipe and of a file-size limit
  int err_pipe = -1;
#endif
};

// Starts the program as run_program does and returns at once: several may run together, and
// the caller may interrupt one (interrupt_program) before finish_program waits for it.
RunningProgram start_program(const std::vector<std::string>& argv, const RunOptions& options = {});
ProcessResult finish_program(RunningProgram& program);

// Interrupts the running program as a user does: SIGTERM, or on Windows Ctrl-C (the program must
// have been started with RunOptions::interruptible).
void interrupt_program(const RunningProgram& program);
// Whether the program ended by that interruption: by SIGTERM, or on Windows with the status of a
// console program ended by Ctrl-C (STATUS_CONTROL_C_EXIT).
bool ended_by_interruption(const ProcessResult& result);
// Whether the running program has ended (it is still to be finished by finish_program).
bool program_has_ended(const RunningProgram& program);

// What the running program has written on standard error so far (not for a file-size limit,
// whose standard error goes through a pipe).
std::string stderr_so_far(const RunningProgram& program);

} // namespace test_support
