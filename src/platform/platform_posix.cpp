#include "platform/platform.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvalex {

static_assert(sizeof(std::int64_t) == 8);

static_assert(sizeof(off_t) == 8, "64-bit file offsets are needed for files beyond 2 GiB");

void platform_set_binary(std::FILE*) {}

bool platform_is_terminal(std::FILE* stream) {
  const int descriptor = fileno(stream);
  return descriptor >= 0 && isatty(descriptor);
}

int platform_output_error(int error_number) {
  return error_number;
}

const char* platform_error_text(int error_number) {
  return std::strerror(error_number);
}

std::FILE* platform_open_file(const char* name, const char* mode) {
  return std::fopen(name, mode);
}

std::FILE* platform_open_input(const char* name) {
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  // Reads wait for data again, as on any stream; only the open was not to wait.
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* stream =
      flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "rb");
  if (stream == nullptr) {
    const int error_number = errno;
    close(fd);
    errno = error_number;
  }
  return stream;
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

} // namespace norvalex
