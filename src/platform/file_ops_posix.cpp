#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace norvalex {

namespace {

// As many links as the system itself follows in one name.
constexpr int MAX_LINKS = 40;

// Closes `fd` and returns -1 with the errno of the failure that made it useless.
int fail_closing(int fd) {
  const int error_number = errno;
  close(fd);
  errno = error_number;
  return -1;
}

// The folder part of `path` with its last "/", or "" for a name in the current folder.
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A link of /proc (/dev/stdout and /dev/fd/N lead to one) stands for an open file, whatever
// its text says; replacing "the file it points to" would miss the open file.
bool is_proc_link([[maybe_unused]] const std::string& path) {
#ifdef __linux__
  const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct statfs info {};
  const bool proc = fstatfs(fd, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
  close(fd);
  return proc;
#else
  return false;
#endif
}

bool read_link(const std::string& path, std::string& text) {
  char buffer[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer)
    return false;
  text.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

// What makes this process's temporary names differ from those of other processes and runs.
std::uint64_t name_entropy() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'007U ^
         static_cast<std::uint64_t>(now.tv_nsec) ^ static_cast<std::uint64_t>(getpid()) << 32;
}

// -1 with the errno of the failure, after closing the descriptor of an append and removing the
// file at `path` when this run `created` it: a failed open leaves no file behind.
int fail_closing_append(int fd, const char* path, bool created) {
  const int error_number = errno;
  if (created)
    unlink(path);
  close(fd);
  errno = error_number;
  return -1;
}

// Steps whose failure does no harm hand their result here, where it is dropped.
void allow_failure(int) {}

int lock_file(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR)
      return -1;
  }
  return 0;
}

// The folder's entries reach the storage device, so that a rename survives a crash. Only a
// durability step after the rename has replaced the file: its failure changes nothing.
void sync_folder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    allow_failure(fsync(fd));
    close(fd);
  }
}

// Owner, group and permission bits are copied where the system allows (root may give a file to
// anyone, others only to a group of their own; some file systems keep no bits at all): the new
// file is whole either way, and its bits are never wider than those of the file it replaces.
void copy_owner_and_mode(int fd, const struct stat& old) {
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (old.st_uid != geteuid() || old.st_gid != getegid())
    allow_failure(fchown(fd, old.st_uid, old.st_gid));
  allow_failure(fchmod(fd, old.st_mode & 07777));
}

} // namespace

OutputTarget find_output_target(const char* name) {
  const OutputTarget as_named{OutputTargetKind::in_place, name};
  std::string path = name;
  for (int links = 0; links <= MAX_LINKS; ++links) {
    // Without a file name to put in a folder, the open says what is wrong.
    if (path.empty() || path.back() == '/')
      return as_named;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
      return errno == ENOENT ? OutputTarget{OutputTargetKind::missing, path} : as_named;
    if (S_ISREG(info.st_mode))
      return {OutputTargetKind::regular, path};
    std::string link;
    if (!S_ISLNK(info.st_mode) || is_proc_link(path) || !read_link(path, link))
      return as_named;
    path = link[0] == '/' ? link : folder_of(path) + link;
  }
  return as_named; // a loop of links: the open reports it
}

int open_in_place(const char* name) {
  return open(name, O_WRONLY | O_CREAT | O_CLOEXEC | O_TRUNC, 0666);
}

int create_temp_file(const OutputTarget& target, std::string& temp_path) {
  struct stat old {};
  mode_t mode = 0666; // less the umask, as for any new file
  if (target.kind == OutputTargetKind::regular) {
    const int target_fd = open(target.path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (target_fd < 0)
      return -1;
    if (fstat(target_fd, &old) != 0)
      return fail_closing(target_fd);
    close(target_fd);
    mode = old.st_mode & 0777;
  }
  const std::string folder = folder_of(target.path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path = temp_name(folder, target.path, name_entropy());
    const int fd =
        open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      if (target.kind == OutputTargetKind::regular)
        copy_owner_and_mode(fd, old);
      return fd;
    }
    if (errno != EEXIST)
      break;
  }
  temp_path.clear();
  return -1;
}

int replace_file(const std::string& temp_path, const std::string& target_path) {
  if (std::rename(temp_path.c_str(), target_path.c_str()) != 0)
    return -1;
  sync_folder(folder_of(target_path));
  return 0;
}

int open_for_append(const char* name, OutputTarget& target, bool& created, std::int64_t& length) {
  length = -1;
  for (;;) {
    const bool in_place = target.kind == OutputTargetKind::in_place;
    const char* path = in_place ? name : target.path.c_str();
    created = target.kind == OutputTargetKind::missing;
    int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
    if (created) {
      flags |= O_CREAT | O_EXCL;
    } else if (in_place) {
      flags |= O_CREAT; // as the C library's "ab" opens a name
    }
    const int fd = open(path, flags, 0666);
    if (fd < 0) {
      // Made or removed since it was looked at: look again.
      if ((created && errno == EEXIST) || (!created && !in_place && errno == ENOENT)) {
        target = find_output_target(name);
        continue;
      }
      return -1;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0)
      return fail_closing_append(fd, path, created);
    if (!S_ISREG(opened.st_mode))
      return fd; // a FIFO or a device: nothing to lock or cut back
    if (lock_file(fd) != 0)
      return fail_closing_append(fd, path, created);
    // While this waited, the file may have been removed (an append that created it failed) or
    // replaced: then the lock is of no use and the file now in its place is opened instead.
    if (in_place || same_file(fd, path) == 0) {
      const off_t end = lseek(fd, 0, SEEK_END);
      if (end < 0)
        return fail_closing_append(fd, path, created);
      length = end;
      return fd;
    }
    close(fd);
    target = find_output_target(name);
  }
}

int same_file(int fd, const char* path) {
  struct stat opened {};
  struct stat named {};
  if (fstat(fd, &opened) != 0 || stat(path, &named) != 0)
    return -1;
  if (opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
    return 0;
  errno = EEXIST;
  return -1;
}

int sync_file(int fd) {
  return fsync(fd);
}

int cut_back(int fd, std::int64_t length) {
  return ftruncate(fd, static_cast<off_t>(length));
}

int remove_file(const std::string& path) {
  return unlink(path.c_str());
}

int duplicate_descriptor(int fd) {
  return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int close_descriptor(int fd) {
  return close(fd);
}

std::FILE* stream_of(int fd, bool append) {
  std::FILE* stream = fdopen(fd, append ? "ab" : "wb");
  if (stream == nullptr)
    fail_closing(fd);
  return stream;
}

} // namespace norvalex
