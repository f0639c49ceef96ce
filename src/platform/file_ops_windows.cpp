// An output file's file-system calls on Windows (file_ops.h), with the meaning they have on POSIX
// systems where Windows allows it. Names are in the process code page, as for fopen: UTF-8 in
// the programs, whose manifest makes it so.
//
// Every file is opened with all three sharing modes, delete included: another appender can then
// open a file to wait for its lock, and the undo of an interrupted run can remove a file that a
// thread still writes. A file that anyone holds open cannot be replaced on Windows (not even by
// its own last handle), so a replacement keeps no handle of the target and tries the rename again
// for a while when another program holds it open.
#include "platform/file_ops.h"

#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

namespace norvalex {

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// How often, and how long apart, a replacement tries again while another program holds the
// target open: virus scanners and indexers open new files for a moment.
constexpr int REPLACE_ATTEMPTS = 20;
constexpr DWORD REPLACE_PAUSE_MS = 50;

// The error number of a failed system call, as the C library would set it, except for a file
// that another program holds ("Device or resource busy" rather than "Permission denied").
int error_number_of(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
  case ERROR_BAD_NET_NAME:
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_NETWORK_ACCESS_DENIED:
  case ERROR_CANNOT_MAKE:
    return EACCES;
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return EBUSY;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    return EEXIST;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return ENOSPC;
  case ERROR_FILENAME_EXCED_RANGE:
    return ENAMETOOLONG;
  case ERROR_NOT_SAME_DEVICE:
    return EXDEV;
  case ERROR_WRITE_PROTECT:
    return EROFS;
  case ERROR_TOO_MANY_OPEN_FILES:
    return EMFILE;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  case ERROR_NOT_SUPPORTED:
  case ERROR_INVALID_FUNCTION:
    return ENOLCK; // a file system without locks
  default:
    return EIO;
  }
}

// -1 with errno set from the last system error.
int fail_with_last_error() {
  errno = error_number_of(GetLastError());
  return -1;
}

// A failed open of `name`: -1 with errno set from the last system error, as on Linux.
int fail_as_folder_or_last_error(const char* name) {
  errno = platform_open_error(name, error_number_of(GetLastError()));
  return -1;
}

// -1 with errno kept, after closing the descriptor of an append and removing the file at `path`
// when this run `created` it: a failed open leaves no file behind.
int fail_closing_append(int fd, const char* path, bool created) {
  const int error_number = errno;
  if (created)
    DeleteFileA(path); // opened with FILE_SHARE_DELETE: gone when the descriptor closes
  _close(fd);
  errno = error_number;
  return -1;
}

// With the right to read the file's attributes, which same_file asks through the handle.
HANDLE open_handle(const char* path, DWORD access, DWORD disposition) {
  return CreateFileA(path, access | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A descriptor that owns `handle`; on failure the handle is closed.
int descriptor_of(HANDLE handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// The folder part of `path` with its last separator, or "" for a name in the current folder.
std::string folder_of(const std::string& path) {
  const std::size_t end = path.find_last_of("/\\:");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// What makes this process's temporary names differ from those of other processes and runs.
std::uint64_t name_entropy() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  return static_cast<std::uint64_t>(now.QuadPart) * 1'000'000'007U ^
         (std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) ^
         std::uint64_t{GetCurrentProcessId()} << 32;
}

// The lock of an append is one byte far beyond the end of any file: a lock on the data would be
// mandatory on Windows and fail every reader of the file while it is held; this one keeps
// norvalex runs and other users of the library apart, as flock does on POSIX systems.
OVERLAPPED lock_position() {
  OVERLAPPED position{};
  position.Offset = 0xFFFFFFFE;
  position.OffsetHigh = 0x7FFFFFFF;
  return position;
}

// Waits for the exclusive lock.
bool lock_handle(HANDLE handle) {
  OVERLAPPED position = lock_position();
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &position) != 0;
}

bool delete_pending(HANDLE handle) {
  FILE_STANDARD_INFO standard{};
  return GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) != 0 &&
         standard.DeletePending;
}

// 0 when `handle` is still the file at `path`, not one removed or replaced meanwhile; else -1
// with errno as same_file sets it.
int same_file_of_handle(HANDLE handle, const char* path) {
  const HANDLE named = delete_pending(handle)
                           ? INVALID_HANDLE_VALUE
                           : CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    errno = ENOENT;
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION opened{};
  BY_HANDLE_FILE_INFORMATION current{};
  const bool same = GetFileInformationByHandle(handle, &opened) != 0 &&
                    GetFileInformationByHandle(named, &current) != 0 &&
                    opened.dwVolumeSerialNumber == current.dwVolumeSerialNumber &&
                    opened.nFileIndexHigh == current.nFileIndexHigh &&
                    opened.nFileIndexLow == current.nFileIndexLow;
  CloseHandle(named);
  if (same)
    return 0;
  errno = EEXIST;
  return -1;
}

// A file removed while it is open keeps its name until its last handle is closed, and no new
// file of that name can be made until then: a moment, as the run that removed it ends.
void wait_until_gone(const char* path) {
  for (int tries = 0; tries < 1000 && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; ++tries)
    Sleep(1);
}

} // namespace

OutputTarget find_output_target(const char* name) {
  const OutputTarget as_named{OutputTargetKind::in_place, name};
  const std::string path = name;
  // Without a file name to put in a folder, the open says what is wrong.
  if (path.empty() || path.back() == '/' || path.back() == '\\')
    return as_named;
  // Opened for no access at all, which no other program's sharing mode refuses.
  const HANDLE handle =
      CreateFileA(name, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? OutputTarget{OutputTargetKind::missing, path}
               : as_named;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  // A device (NUL, CON) or a pipe is no disk file; a folder and a symbolic link or junction
  // (whose target this does not follow) are written by their names as they stand.
  const bool regular =
      GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  CloseHandle(handle);
  return regular ? OutputTarget{OutputTargetKind::regular, path} : as_named;
}

int open_in_place(const char* name) {
  const int fd =
      _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | _O_TRUNC, _S_IREAD | _S_IWRITE);
  if (fd < 0)
    errno = platform_open_error(name, errno);
  return fd;
}

int create_temp_file(const OutputTarget& target, std::string& temp_path) {
  if (target.kind == OutputTargetKind::regular) {
    // Opened for writing, which a read-only file refuses: the check that it may be written.
    const HANDLE handle = open_handle(target.path.c_str(), GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
      return fail_with_last_error();
    CloseHandle(handle);
  }
  const std::string folder = folder_of(target.path);
  int error_number = EEXIST;
  for (int attempt = 0; attempt < 100 && error_number == EEXIST; ++attempt) {
    temp_path = temp_name(folder, target.path, name_entropy());
    // CREATE_NEW is the exclusive create (_O_CREAT | _O_EXCL); CreateFile rather than _open
    // for the sharing mode that lets an interrupted run's undo remove the file at once.
    const HANDLE handle = open_handle(temp_path.c_str(), GENERIC_WRITE, CREATE_NEW);
    if (handle != INVALID_HANDLE_VALUE)
      return descriptor_of(handle, _O_WRONLY);
    error_number = error_number_of(GetLastError());
  }
  temp_path.clear();
  errno = error_number;
  return -1;
}

int replace_file(const std::string& temp_path, const std::string& target_path) {
  constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  DWORD error = ERROR_SUCCESS;
  // Open files cannot be replaced here: another program (an append under way among them) may
  // hold the target open for a moment, and the rename can go through once it has let go.
  for (int attempt = 0; attempt < REPLACE_ATTEMPTS; ++attempt) {
    if (attempt > 0)
      Sleep(REPLACE_PAUSE_MS);
    if (MoveFileExA(temp_path.c_str(), target_path.c_str(), flags) != 0)
      return 0;
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
      break;
  }
  // The target could be written (the temporary file's creation checked that), so a refusal
  // now means that another program holds it open.
  errno = error == ERROR_ACCESS_DENIED ? EBUSY : error_number_of(error);
  return -1;
}

int open_for_append(const char* name, OutputTarget& target, bool& created, std::int64_t& length) {
  length = -1;
  for (;;) {
    const bool in_place = target.kind == OutputTargetKind::in_place;
    const char* path = in_place ? name : target.path.c_str();
    created = target.kind == OutputTargetKind::missing;
    // A file this run creates may have to be removed by its handle (by the interruption's
    // undo), which takes the right to delete it.
    const HANDLE handle =
        created    ? open_handle(path, GENERIC_WRITE | DELETE, CREATE_NEW)
        : in_place ? open_handle(path, GENERIC_WRITE, OPEN_ALWAYS) // as "ab" opens a name
                   : open_handle(path, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // Made or removed since it was looked at: look again.
      if ((created && error == ERROR_FILE_EXISTS) ||
          (!created && !in_place && error == ERROR_FILE_NOT_FOUND)) {
        target = find_output_target(name);
        continue;
      }
      return fail_as_folder_or_last_error(path);
    }
    const int fd = descriptor_of(handle, _O_WRONLY | _O_APPEND);
    if (fd < 0) {
      if (created)
        DeleteFileA(path);
      return -1;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK)
      return fd; // a device or a pipe: nothing to lock or cut back
    if (!lock_handle(handle)) {
      errno = error_number_of(GetLastError());
      return fail_closing_append(fd, path, created);
    }
    // While this waited, the file may have been removed (an append that created it failed) or
    // replaced: then the lock is of no use and the file now in its place is opened instead.
    if (in_place || same_file_of_handle(handle, path) == 0) {
      length = _lseeki64(fd, 0, SEEK_END);
      return length < 0 ? fail_closing_append(fd, path, created) : fd;
    }
    const bool removed = delete_pending(handle);
    _close(fd);
    if (removed)
      wait_until_gone(path);
    target = find_output_target(name);
  }
}

int same_file(int fd, const char* path) {
  return same_file_of_handle(handle_of(fd), path);
}

int sync_file(int fd) {
  return _commit(fd);
}

int cut_back(int fd, std::int64_t length) {
  const errno_t error_number = _chsize_s(fd, length);
  if (error_number != 0) {
    errno = error_number;
    return -1;
  }
  return 0;
}

int remove_file(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0 ? 0 : fail_with_last_error();
}

int duplicate_descriptor(int fd) {
  // Not _dup, whose handle a program started meanwhile would inherit, and with it the lock.
  HANDLE copy = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), handle_of(fd), GetCurrentProcess(), &copy, 0, FALSE,
                      DUPLICATE_SAME_ACCESS) == 0)
    return fail_with_last_error();
  return descriptor_of(copy, _O_WRONLY | _O_APPEND);
}

int close_descriptor(int fd) {
  return _close(fd);
}

std::FILE* stream_of(int fd, bool append) {
  std::FILE* stream = _fdopen(fd, append ? "ab" : "wb");
  if (stream == nullptr) {
    const int error_number = errno;
    _close(fd);
    errno = error_number;
  }
  return stream;
}

} // namespace norvalex
