// read_openpmd_mesh: the openPMD reader (openpmd_reader.cpp) run in a child process, so that a
// crash of HDF5 on a damaged file cannot end the caller. HDF5 decodes some damaged metadata
// without checking it and then reads or writes out of bounds; nothing outside HDF5 can prevent
// that, so it runs where a crash ends only the child: a damaged file is then one error.
//
// The child is forked (POSIX only: builds for Windows have no HDF5). Before the fork this
// process makes a memory file (memfd) and a pipe; the child reads the file, has its arrays in
// that memory file, each mapped at an offset of its own, and writes through the pipe what it
// read (the grid, the attributes, the components' names) or the Error it threw, then ends with
// _exit. This process then maps the same memory: the mesh's arrays are the child's, never
// copied, each freed by unmapping it. While it waits it asks the thread's interruption check,
// and an interruption kills the child. The child is always waited for (no zombie), ignores the
// terminal's signals (this process decides for it) and dies with this process (Linux). A child
// that dies by a signal or ends without a result gives HDF5_FAILED.
//
// Forking a process of several threads copies only the calling one: the child runs only HDF5
// and this code, takes no lock that another thread may have held at the fork (the fork itself
// holds hdf5_process_lock, so no thread of this library is inside HDF5 then) and never returns.
#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd_reading.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

// How often the wait asks the interruption check, in ms.
constexpr int POLL_MS = 50;
// The longest result: a few names and numbers, and an error's text.
constexpr std::size_t MAX_RESULT_BYTES = std::size_t{1} << 16;
// At most one component per field and axis.
constexpr std::uint64_t MAX_COMPONENTS = 6;

enum class ResultKind : std::uint8_t { mesh = 1, error = 2, no_memory = 3 };

class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0)
      close(std::exchange(fd_, -1));
  }

private:
  int fd_;
};

[[noreturn]] void raise_system(const char* path, int error_number) {
  if (error_number == ENOMEM)
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
}

// The memory file shared with the child.
Descriptor shared_memory(const char* path) {
#ifdef MFD_CLOEXEC
  Descriptor memory(memfd_create("norvalex openPMD values", MFD_CLOEXEC));
#else
  // A named object unlinked at once where there is no memfd.
  const std::string name = "/norvalex-" + std::to_string(getpid()) + "-" +
                           std::to_string(reinterpret_cast<std::uintptr_t>(&name));
  Descriptor memory(shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
  if (memory.get() >= 0)
    shm_unlink(name.c_str());
#endif
  if (memory.get() < 0)
    raise_system(path, errno);
  return memory;
}

std::size_t page_size() {
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// The bytes of an array of `points` values, and its place in the memory file, rounded up to
// whole pages so that each array is a mapping of its own.
std::size_t array_bytes(std::size_t points) {
  return points * sizeof(std::complex<double>);
}
std::size_t array_stride(std::size_t points) {
  return (array_bytes(points) + page_size() - 1) / page_size() * page_size();
}

void unmap_values(void* data, std::size_t bytes) {
  munmap(data, bytes);
}

// The memory file's `count` arrays of `points` values, each its own mapping (`flags` more); none
// when one cannot be mapped.
std::vector<ComplexArray> map_arrays(int memory, std::size_t count, std::size_t points, int flags) {
  std::vector<ComplexArray> arrays;
  arrays.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    void* data = mmap(nullptr, array_bytes(points), PROT_READ | PROT_WRITE, MAP_SHARED | flags,
                      memory, static_cast<off_t>(k * array_stride(points)));
    if (data == MAP_FAILED)
      return {};
    arrays.emplace_back(static_cast<std::complex<double>*>(data), points, unmap_values);
  }
  return arrays;
}

// True when the pages of `array` are had and mapped now, in one call: memory that cannot be had
// is then an error, not a signal at the first write. Where the system cannot do that in one
// call, the memory file's pages are had instead.
bool have_pages(ComplexArray& array, int memory, off_t length) {
#ifdef MADV_POPULATE_WRITE
  if (madvise(array.data(), array_bytes(array.size()), MADV_POPULATE_WRITE) == 0)
    return true;
  if (errno != EINVAL)
    return false;
#endif
  const int error_number = posix_fallocate(memory, 0, length);
  return error_number == 0 || error_number == EOPNOTSUPP || error_number == EINVAL;
}

// The child's arrays: the memory file grown to hold them, mapped, and their pages had.
std::vector<ComplexArray> child_arrays(const char* path, int memory, std::size_t count,
                                       std::size_t points) {
  if (count > MAX_COMPONENTS || points > static_cast<std::size_t>(MESH_MAX_POINTS))
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  const auto length = static_cast<off_t>(count * array_stride(points));
  std::vector<ComplexArray> arrays;
  if (ftruncate(memory, length) == 0)
    arrays = map_arrays(memory, count, points, 0);
  if (arrays.empty() || !std::all_of(arrays.begin(), arrays.end(), [&](ComplexArray& array) {
        return have_pages(array, memory, length);
      }))
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  return arrays;
}

// ---- The result, as the child writes it and this process reads it back ----

class ResultWriter {
public:
  void byte(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void number(std::uint64_t value) { raw(&value, sizeof value); }
  void real(double value) { raw(&value, sizeof value); }
  void text(const std::string& value) {
    number(value.size());
    bytes_ += value;
  }
  const std::string& bytes() const { return bytes_; }

private:
  void raw(const void* data, std::size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
  }
  std::string bytes_;
};

// Reads what ResultWriter wrote; `good` turns false at the first value that is not there.
class ResultReader {
public:
  explicit ResultReader(const std::string& bytes) : bytes_(bytes) {}
  std::uint8_t byte() {
    std::uint8_t value = 0;
    raw(&value, 1);
    return value;
  }
  std::uint64_t number() {
    std::uint64_t value = 0;
    raw(&value, sizeof value);
    return value;
  }
  double real() {
    double value = 0;
    raw(&value, sizeof value);
    return value;
  }
  std::string text() {
    const std::uint64_t size = number();
    if (!good || size > bytes_.size() - at_) {
      good = false;
      return {};
    }
    std::string value = bytes_.substr(at_, size);
    at_ += size;
    return value;
  }
  bool at_end() const { return at_ == bytes_.size(); }
  bool good = true;

private:
  void raw(void* data, std::size_t size) {
    if (!good || size > bytes_.size() - at_) {
      good = false;
      return;
    }
    std::memcpy(data, bytes_.data() + at_, size);
    at_ += size;
  }
  const std::string& bytes_;
  std::size_t at_ = 0;
};

std::string mesh_result(const FieldMesh& mesh) {
  ResultWriter out;
  out.byte(static_cast<std::uint8_t>(ResultKind::mesh));
  out.byte(static_cast<std::uint8_t>(mesh.geometry));
  for (const MeshAxis& axis : mesh.axes) {
    out.number(static_cast<std::uint64_t>(axis.points));
    out.real(axis.spacing);
    out.real(axis.origin);
  }
  out.real(mesh.frequency);
  out.number(static_cast<std::uint64_t>(mesh.harmonic));
  out.real(mesh.rf_phase);
  out.real(mesh.field_scale);
  out.text(mesh.anchor);
  out.byte(static_cast<std::uint8_t>(mesh.source.problem));
  out.number(mesh.components.size());
  for (const MeshComponent& component : mesh.components) {
    out.byte(static_cast<std::uint8_t>(component.field));
    out.text(component.axis);
  }
  return out.bytes();
}

std::string error_result(const Error& error) {
  ResultWriter out;
  out.byte(static_cast<std::uint8_t>(ResultKind::error));
  out.byte(static_cast<std::uint8_t>(error.origin()));
  out.number(static_cast<std::uint64_t>(error.message_number()));
  out.text(error.file_name());
  out.number(static_cast<std::uint64_t>(error.line_number()));
  out.number(static_cast<std::uint64_t>(error.system_error()));
  out.text(error.what());
  return out.bytes();
}

// The child: reads the file, writes its result and ends. Never returns.
[[noreturn]] void run_child(const char* path, const MeshReadOptions& options, int memory,
                            int result, pid_t parent) {
#ifdef __linux__
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent)
    _exit(1);
#else
  static_cast<void>(parent);
#endif
  // The caller's handlers are the caller's (an undo of its output, say): the child has none, and
  // leaves the terminal's signals to its parent.
  for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
    signal(signal_number, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  // Nothing of the child reaches the caller's standard streams, whatever HDF5 (or a crash
  // report) would print there.
  if (const int nothing = open("/dev/null", O_RDWR); nothing >= 0) {
    dup2(nothing, STDOUT_FILENO);
    dup2(nothing, STDERR_FILENO);
  }
  std::string bytes;
  try {
    try {
      const FieldMesh mesh =
          read_openpmd_here(path, options, [&](std::size_t count, std::size_t points) {
            return child_arrays(path, memory, count, points);
          });
      bytes = mesh_result(mesh);
    } catch (const Error& error) {
      bytes = error_result(error);
    }
  } catch (const std::bad_alloc&) {
    bytes.assign(1, static_cast<char>(ResultKind::no_memory));
  } catch (...) {
    _exit(1);
  }
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t written = write(result, bytes.data() + at, bytes.size() - at);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      _exit(1);
    at += static_cast<std::size_t>(written);
  }
  _exit(0);
}

// The child, killed and waited for unless it has ended and was waited for already.
class Child {
public:
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      wait();
    }
  }
  // True once the child has ended, waited for without waiting.
  bool has_ended() { return pid_ < 0 || reap(WNOHANG); }
  // Waits for the child to end; false when it did not end by _exit(0) (or could not be waited
  // for: a caller whose SIGCHLD is ignored has its children reaped by the system).
  bool wait() {
    while (pid_ > 0 && !reap(0)) {
    }
    return ended_well_;
  }

private:
  bool reap(int options) {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, options);
    if (ended == 0 || (ended < 0 && errno == EINTR))
      return false;
    pid_ = -1;
    ended_well_ = ended > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return true;
  }

  pid_t pid_;
  bool ended_well_ = false;
};

// What the child writes: read until the pipe's end, or, once the child has ended, until the pipe
// is empty (a child that another thread forked meanwhile may hold it open). The interruption
// check is asked while it waits.
std::string collect_result(int result, Child& child) {
  std::string bytes;
  char buffer[4096];
  bool ended = false;
  for (;;) {
    pollfd ready{result, POLLIN, 0};
    const int polled = poll(&ready, 1, ended ? 0 : POLL_MS);
    check_interruption();
    if (polled < 0 && errno != EINTR)
      return {};
    if (polled == 0 && ended)
      return bytes;
    if (polled == 0)
      ended = child.has_ended();
    if (polled <= 0)
      continue;
    const ssize_t got = read(result, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return bytes;
    if (bytes.size() + static_cast<std::size_t>(got) > MAX_RESULT_BYTES)
      return {};
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

[[noreturn]] void raise_failed(const char* path) {
  raise_input_failure(path, 0, HDF5_FAILED, path);
}

// The mesh of a mesh result, its arrays mapped from the memory file; HDF5_FAILED for a result
// that does not hold together.
FieldMesh received_mesh(const char* path, ResultReader& in, int memory) {
  FieldMesh mesh;
  const std::uint8_t geometry = in.byte();
  if (geometry > static_cast<std::uint8_t>(MeshGeometry::rectangular))
    raise_failed(path);
  mesh = new_mesh(static_cast<MeshGeometry>(geometry));
  std::uint64_t points = 1;
  for (MeshAxis& axis : mesh.axes) {
    const std::uint64_t axis_points = in.number();
    if (axis_points < 1 || axis_points > static_cast<std::uint64_t>(MESH_MAX_POINTS) / points)
      raise_failed(path);
    points *= axis_points;
    axis.points = static_cast<std::int64_t>(axis_points);
    axis.spacing = in.real();
    axis.origin = in.real();
  }
  mesh.frequency = in.real();
  mesh.harmonic = static_cast<std::int64_t>(in.number());
  mesh.rf_phase = in.real();
  mesh.field_scale = in.real();
  mesh.anchor = in.text();
  const std::uint8_t problem = in.byte();
  const std::uint64_t count = in.number();
  if (!in.good || problem > static_cast<std::uint8_t>(ProblemKind::magnetostatic) || count < 1 ||
      count > MAX_COMPONENTS)
    raise_failed(path);
  std::vector<std::pair<FieldKind, std::string>> names;
  for (std::uint64_t k = 0; k < count; ++k) {
    const std::uint8_t field = in.byte();
    std::string axis = in.text();
    if (field > static_cast<std::uint8_t>(FieldKind::magnetic) || axis_index(mesh, axis) < 0)
      raise_failed(path);
    names.emplace_back(static_cast<FieldKind>(field), std::move(axis));
  }
  struct stat status {};
  if (!in.good || !in.at_end() || fstat(memory, &status) != 0 ||
      static_cast<std::uint64_t>(status.st_size) < count * array_stride(points))
    raise_failed(path);
  // The child's pages, mapped in one call each rather than one fault each.
  std::vector<ComplexArray> arrays = map_arrays(memory, count, points, MAP_POPULATE);
  if (arrays.empty())
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  for (std::size_t k = 0; k < names.size(); ++k)
    mesh.components.push_back(MeshComponent{names[k].first, names[k].second, std::move(arrays[k])});
  mesh.source = MeshSource{path, MeshForm::openpmd, static_cast<ProblemKind>(problem), {}};
  return mesh;
}

[[noreturn]] void raise_received_error(const char* path, ResultReader& in) {
  const std::uint8_t origin = in.byte();
  const auto message_number = static_cast<int>(in.number());
  std::string file_name = in.text();
  const auto line_number = static_cast<std::int32_t>(in.number());
  const auto system_error = static_cast<int>(in.number());
  const std::string text = in.text();
  if (!in.good || !in.at_end() || origin > static_cast<std::uint8_t>(ErrorOrigin::interrupted))
    raise_failed(path);
  throw Error(static_cast<ErrorOrigin>(origin), text, message_number, std::move(file_name),
              line_number, system_error);
}

} // namespace

FieldMesh read_openpmd_mesh(const char* path, const MeshReadOptions& options) {
  const Descriptor memory = shared_memory(path);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0)
    raise_system(path, errno);
  Descriptor reading_end(ends[0]);
  Descriptor writing_end(ends[1]);
  const pid_t parent = getpid();
  pid_t pid = -1;
  {
    const std::lock_guard<std::mutex> lock(hdf5_process_lock());
    pid = fork();
  }
  if (pid == 0)
    run_child(path, options, memory.get(), writing_end.get(), parent);
  if (pid < 0)
    raise_system(path, errno);
  Child child(pid);
  writing_end.reset();
  const std::string bytes = collect_result(reading_end.get(), child);
  const bool ended_well = child.wait();
  ResultReader in(bytes);
  switch (static_cast<ResultKind>(in.byte())) {
  case ResultKind::mesh:
    return received_mesh(path, in, memory.get());
  case ResultKind::error:
    raise_received_error(path, in);
  case ResultKind::no_memory:
    if (ended_well && in.at_end())
      throw std::bad_alloc();
    break;
  }
  raise_failed(path);
}

} // namespace norvalex
