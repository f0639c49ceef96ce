#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <iterator>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

static_assert(sizeof(std::int64_t) == 8);

const PlatformErrorText platform_error_texts[] = {
    {EPERM, "Operation not permitted"},
    {ENOENT, "No such file or directory"},
    {EINTR, "Interrupted system call"},
    {EIO, "Input/output error"},
    {ENXIO, "No such device or address"},
    {E2BIG, "Argument list too long"},
    {EBADF, "Bad file descriptor"},
    {EAGAIN, "Resource temporarily unavailable"},
    {ENOMEM, "Cannot allocate memory"},
    {EACCES, "Permission denied"},
    {EFAULT, "Bad address"},
    {EBUSY, "Device or resource busy"},
    {EEXIST, "File exists"},
    {EXDEV, "Invalid cross-device link"},
    {ENODEV, "No such device"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "Too many open files in system"},
    {EMFILE, "Too many open files"},
    {ENOTTY, "Inappropriate ioctl for device"},
    {EFBIG, "File too large"},
    {ENOSPC, "No space left on device"},
    {ESPIPE, "Illegal seek"},
    {EROFS, "Read-only file system"},
    {EMLINK, "Too many links"},
    {EPIPE, "Broken pipe"},
    {EDOM, "Numerical argument out of domain"},
    {ERANGE, "Numerical result out of range"},
    {EDEADLK, "Resource deadlock avoided"},
    {ENAMETOOLONG, "File name too long"},
    {ENOLCK, "No locks available"},
    {ENOSYS, "Function not implemented"},
    {ENOTEMPTY, "Directory not empty"},
    {EILSEQ, "Invalid or incomplete multibyte or wide character"},
    {ELOOP, "Too many levels of symbolic links"},
    {EOVERFLOW, "Value too large for defined data type"},
    {ETXTBSY, "Text file busy"},
    {ECANCELED, "Operation canceled"},
};
const std::size_t platform_error_text_count = std::size(platform_error_texts);

#ifdef _WIN32

namespace {

constexpr std::size_t RECORD_PIECE = std::size_t{1} << 30;

HANDLE handle_of(std::FILE* stream) {
  const int descriptor = _fileno(stream);
  return descriptor < 0 ? INVALID_HANDLE_VALUE
                        : reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// A pipe has no positions, as on POSIX systems; the C library's answer for one is not -1.
bool has_positions(std::FILE* stream) {
  const HANDLE handle = handle_of(stream);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  if (GetFileType(handle) == FILE_TYPE_PIPE) {
    errno = ESPIPE;
    return false;
  }
  return true;
}

} // namespace

void platform_set_binary(std::FILE* stream) {
  std::fflush(stream);
  const int descriptor = _fileno(stream);
  if (descriptor >= 0)
    _setmode(descriptor, _O_BINARY);
}

void platform_binary_standard_streams() {
  platform_set_binary(stdout);
  platform_set_binary(stderr);
}

bool platform_is_terminal(std::FILE* stream) {
  // isatty() is true for every character device, the NUL device included.
  const HANDLE handle = handle_of(stream);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode) != 0;
}

void platform_ignore_broken_pipe_signal() {}

int platform_output_error(int error_number) {
  // The C library maps the system's pipe errors to EINVAL; the system's own code tells them.
  if (error_number == EINVAL) {
    switch (_doserrno) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return EPIPE;
    default:
      break;
    }
  }
  return error_number;
}

const char* platform_error_text(int error_number) {
  for (const PlatformErrorText& row : platform_error_texts) {
    if (row.number == error_number)
      return row.text;
  }
  return std::strerror(error_number);
}

const char* platform_program_name(char* argv0) {
  char* name = argv0;
  for (char* p = argv0; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':')
      name = p + 1;
  }
  const std::size_t length = std::strlen(name);
  if (length >= 4 && _stricmp(name + length - 4, ".exe") == 0)
    name[length - 4] = '\0';
  return name;
}

bool platform_write_record(const void* data, std::size_t bytes, std::FILE* stream) {
  const char* next = static_cast<const char*>(data);
  for (std::size_t left = bytes; left > 0;) {
    const std::size_t piece = left < RECORD_PIECE ? left : RECORD_PIECE;
    if (std::fwrite(next, piece, 1, stream) != 1)
      return false;
    next += piece;
    left -= piece;
  }
  return true;
}

bool platform_read_record(void* data, std::size_t bytes, std::FILE* stream) {
  char* next = static_cast<char*>(data);
  for (std::size_t left = bytes; left > 0;) {
    const std::size_t piece = left < RECORD_PIECE ? left : RECORD_PIECE;
    if (std::fread(next, piece, 1, stream) != 1)
      return false;
    next += piece;
    left -= piece;
  }
  return true;
}

int platform_open_error(const char* name, int error_number) {
  if (error_number == EACCES) {
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return EISDIR;
  }
  return error_number == EINVAL ? ENOENT : error_number;
}

std::FILE* platform_open_file(const char* name, const char* mode) {
  std::FILE* stream = std::fopen(name, mode);
  if (stream == nullptr)
    errno = platform_open_error(name, errno);
  return stream;
}

std::int64_t platform_tell(std::FILE* stream) {
  return has_positions(stream) ? _ftelli64(stream) : -1;
}

int platform_seek(std::FILE* stream, std::int64_t offset) {
  return has_positions(stream) ? _fseeki64(stream, offset, SEEK_SET) : -1;
}

int platform_file_status(std::FILE* stream, PlatformFileKind& kind, std::int64_t& length) {
  const int descriptor = _fileno(stream);
  struct _stat64 status;
  if (descriptor < 0 || _fstat64(descriptor, &status) != 0)
    return descriptor < 0 ? EBADF : errno;
  kind = (status.st_mode & _S_IFMT) == _S_IFREG   ? PlatformFileKind::regular
         : (status.st_mode & _S_IFMT) == _S_IFDIR ? PlatformFileKind::directory
                                                  : PlatformFileKind::other;
  length = status.st_size;
  return 0;
}

bool platform_is_special_file(const char*) {
  return false;
}

void platform_advise_huge_pages(void*, std::size_t) {}

#else

static_assert(sizeof(off_t) == 8, "64-bit file offsets are needed for files beyond 2 GiB");

void platform_set_binary(std::FILE*) {}

void platform_binary_standard_streams() {}

bool platform_is_terminal(std::FILE* stream) {
  const int descriptor = fileno(stream);
  return descriptor >= 0 && isatty(descriptor);
}

void platform_ignore_broken_pipe_signal() {
  std::signal(SIGPIPE, SIG_IGN);
}

int platform_output_error(int error_number) {
  return error_number;
}

const char* platform_error_text(int error_number) {
  return std::strerror(error_number);
}

const char* platform_program_name(char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

std::FILE* platform_open_file(const char* name, const char* mode) {
  return std::fopen(name, mode);
}

bool platform_write_record(const void* data, std::size_t bytes, std::FILE* stream) {
  return std::fwrite(data, bytes, 1, stream) == 1;
}

bool platform_read_record(void* data, std::size_t bytes, std::FILE* stream) {
  return std::fread(data, bytes, 1, stream) == 1;
}

std::int64_t platform_tell(std::FILE* stream) {
  return ftello(stream);
}

int platform_seek(std::FILE* stream, std::int64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
}

int platform_file_status(std::FILE* stream, PlatformFileKind& kind, std::int64_t& length) {
  const int descriptor = fileno(stream);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0)
    return descriptor < 0 ? EBADF : errno;
  kind = S_ISREG(status.st_mode)   ? PlatformFileKind::regular
         : S_ISDIR(status.st_mode) ? PlatformFileKind::directory
                                   : PlatformFileKind::other;
  length = status.st_size;
  return 0;
}

bool platform_is_special_file(const char* name) {
  struct stat status {};
  return stat(name, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

void platform_advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Filling an array then takes a few page faults instead of one per 4 KiB; the resident size
  // stays that of the pages written.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(memory) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(memory) + size) & ~(page - 1);
  if (last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

#endif
