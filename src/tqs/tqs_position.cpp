#include "tqs/tqs_io.h"

#include "diag/raise.h"
#include "platform/platform.h"

#include <cerrno>

namespace norvalex {

// fpos_t is opaque (on glibc a record of an offset and a conversion state), so no portable code
// can turn what fgetpos gives into a byte offset; the platform layer's calls speak in 64-bit
// byte offsets (ftello and fseeko on POSIX systems).
std::int64_t tqs_tell(std::FILE* stream) {
  return platform_tell(stream); // -1 when the position is unknown (a pipe, a closed descriptor)
}

int tqs_seek(std::FILE* stream, std::int64_t offset, int whence) {
  std::int64_t base;
  switch (whence) {
  case 0:
    base = 0;
    break;
  case 1:
    base = tqs_tell(stream);
    if (base < 0) {
      return -1; // the position is unknown, so no move relative to it can be made
    }
    break;
  case 2: {
    // Only a regular file has a length; a pipe or a terminal reports 0, which is no length.
    PlatformFileKind kind;
    if (platform_file_status(stream, kind, base) != 0 || kind != PlatformFileKind::regular) {
      return EBADF;
    }
    break;
  }
  default:
    return EINVAL;
  }
  std::int64_t target;
  // A target beyond the largest offset is refused like one before the start.
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return EINVAL;
  }
  return platform_seek(stream, target);
}

void tqs_seek_to(const TqsFile& file, std::int64_t offset) {
  const int result = tqs_seek(file.stream, offset, 0);
  if (result == 0) {
    return;
  }
  // tqs_seek returns its own refusals (22, 9) without storing them in errno; the message must
  // name them, not whatever errno held before.
  raise_file_error(file.name, result > 0 ? result : errno);
}

void tqs_read_item(const TqsFile& file, void* buffer, std::size_t bytes) {
  if (platform_read_record(buffer, bytes, file.stream)) {
    return;
  }
  if (std::ferror(file.stream)) {
    raise_file_error(file.name, errno);
  }
  raise_file_message(Message::unexpected_end_of_file, file.name);
}

void tqs_read_data(const TqsFile& file, void* buffer, std::size_t bytes) {
  auto* at = static_cast<unsigned char*>(buffer);
  while (bytes > 0) {
    check_interruption();
    const std::size_t piece = bytes < TQS_INTERRUPTION_PIECE ? bytes : TQS_INTERRUPTION_PIECE;
    tqs_read_item(file, at, piece);
    at += piece;
    bytes -= piece;
  }
}

std::int64_t tqs_file_length(const TqsFile& file) {
  PlatformFileKind kind;
  std::int64_t length = 0;
  if (const int error_number = platform_file_status(file.stream, kind, length)) {
    raise_file_error(file.name, error_number);
  }
  if (kind != PlatformFileKind::regular) {
    raise_file_error(file.name, kind == PlatformFileKind::directory ? EISDIR : ESPIPE);
  }
  return length;
}

void tqs_read_at(const TqsFile& file, std::int64_t offset, void* buffer, std::size_t bytes) {
  tqs_seek_to(file, offset);
  tqs_read_item(file, buffer, bytes);
}

} // namespace norvalex
