// The calls that differ between Linux and Windows, each with one meaning on both: the libraries
// and programs use these and no system header of their own, so that they give the same bytes,
// messages and exit statuses everywhere. The bottom layer: it includes nothing of the project's.
// POSIX systems in platform_posix.cpp, Windows in platform_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <stdio.h> // _getc_nolock
#endif

namespace norvalex {

// Owns an open stream and closes it.
struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Makes `stream` pass its bytes unchanged: no CR LF for a line feed, no end at a 0x1A byte.
// Windows only; POSIX streams are binary already. Flushes what the stream holds first.
void platform_set_binary(std::FILE* stream);

// True when `stream` is a terminal. On Windows a console; the NUL device is none.
bool platform_is_terminal(std::FILE* stream);

// The error number of a failed write, flush or close, given errno: a closed pipe is EPIPE on
// Windows too, where the C library reports it as EINVAL.
int platform_output_error(int error_number);

// The system's text for `error_number`, as glibc words it on every platform.
const char* platform_error_text(int error_number);

// fopen with a UTF-8 file name. A folder, which Windows refuses to open with "Permission
// denied", fails with EISDIR there, as it does (or as its first read does) on Linux; a name that
// Windows cannot hold, with "Invalid argument" there, fails with ENOENT.
std::FILE* platform_open_file(const char* name, const char* mode);

// Opens `name` for reading in binary mode, as platform_open_file does, but without waiting: the
// open of a FIFO that no program writes returns at once (its reads then find the end), where
// fopen would wait for a writer forever.
std::FILE* platform_open_input(const char* name);

// fwrite and fread of `bytes` bytes, all or nothing as one record: true when all were written or
// read. Windows' C library fails on records of 2 GiB and more (with errno 0), so there they are
// handed over in pieces.
bool platform_write_record(const void* data, std::size_t bytes, std::FILE* stream);
bool platform_read_record(void* data, std::size_t bytes, std::FILE* stream);

// Position of `stream` in bytes, 64 bits wide; -1 (errno set) when it has none, as a pipe.
std::int64_t platform_tell(std::FILE* stream);

// Moves `stream` to byte `offset` from the start; 0, or -1 with errno set.
int platform_seek(std::FILE* stream, std::int64_t offset);

enum class PlatformFileKind { regular, directory, other };

// What the file behind `stream` is and, for a regular file, its length. 0, or the error number.
int platform_file_status(std::FILE* stream, PlatformFileKind& kind, std::int64_t& length);

// True when `name` names a FIFO, a device or a socket: written in place, and its open may wait
// (a FIFO's for a reader). Windows has no such names whose open waits: false there.
bool platform_is_special_file(const char* name);

#ifdef _WIN32
// The error number of a failed open of `name` as on Linux: a folder refused with "Permission
// denied" is "Is a directory", and a name that Windows cannot hold (a control character or one
// of <>:"|?*) names no file, as a name in a missing folder.
int platform_open_error(const char* name, int error_number);
#endif

// getc without the stream's lock: the readers are the stream's only users.
inline int platform_getc_unlocked(std::FILE* stream) {
#ifdef _WIN32
  return _getc_nolock(stream);
#else
  return getc_unlocked(stream);
#endif
}

// glibc's texts for the error numbers a file operation can give, by symbolic name, so that a
// C library with other texts (or with "Unknown error" for some) prints the same messages.
struct PlatformErrorText {
  int number;
  const char* text;
};
extern const PlatformErrorText platform_error_texts[];
extern const std::size_t platform_error_text_count;

} // namespace norvalex
