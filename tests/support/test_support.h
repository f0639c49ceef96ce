// Helpers shared by the test programs: temporary folders and files, and running code or the
// built program in a child process with its standard output and standard error captured.
#pragma once

#include <filesystem>
#include <functional>
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
};

struct RunOptions {
  StdoutMode stdout_mode = StdoutMode::capture;
  std::string stdout_path;
};

// Runs `body` in a forked child; the child exits with status 0 if `body` returns.
ProcessResult run_in_child(const std::function<void()>& body, const RunOptions& options = {});

// Runs the program argv[0] with the argument vector `argv` (argv[0] included) and an empty
// standard input.
ProcessResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {});

} // namespace test_support
