#include "platform/platform.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace norvalex {

static_assert(sizeof(std::int64_t) == 8);

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

bool platform_is_terminal(std::FILE* stream) {
  // isatty() is true for every character device, the NUL device included.
  const HANDLE handle = handle_of(stream);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode) != 0;
}

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
  for (std::size_t k = 0; k < platform_error_text_count; ++k) {
    if (platform_error_texts[k].number == error_number)
      return platform_error_texts[k].text;
  }
  return std::strerror(error_number);
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

std::FILE* platform_open_input(const char* name) {
  // No open of a Windows file waits for a writer.
  return platform_open_file(name, "rb");
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

} // namespace norvalex
