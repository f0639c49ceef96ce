#include "platform/output_file.h"

#include "platform/platform.h"
#include "platform/process.h"

#include <cerrno>
#include <new>
#include <utility>

namespace norvalex {

OutputFile::~OutputFile() {
  undo();
}

int OutputFile::open(const char* name, OutputMode mode) {
  if (stream_ != nullptr)
    return EBADF; // one output to an output file
  name_ = name;
  failed_ = false;
  const bool append = mode == OutputMode::append;
  try {
    OutputTarget target = find_output_target(name);
    const bool note = interruption_undoes_output();
    int fd = -1;
    {
      // No interruption may fall between the creation of a temporary file and the note of its
      // undo. What makes none is opened with them free, and so may wait interruptibly: an append
      // for the lock of another append, a FIFO written in place for its reader.
      const InterruptionHold hold(note && !append && target.kind != OutputTargetKind::in_place);
      fd = open_descriptor(name, mode, target);
      if (fd < 0)
        return fail(errno);
      if (note) {
        note_output_undo(undo_);
        noted_ = true;
      }
    }
    stream_ = stream_of(fd, append);
    if (stream_ == nullptr)
      return fail(errno);
  } catch (const std::bad_alloc&) {
    return fail(ENOMEM);
  }
  owns_stream_ = true;
  // Supplied here because a C library asked to allocate the buffer itself may ignore the size.
  buffer_.reset(new (std::nothrow) char[OUTPUT_BUFFER_SIZE]);
  if (buffer_ && std::setvbuf(stream_, buffer_.get(), _IOFBF, OUTPUT_BUFFER_SIZE) != 0)
    buffer_.reset();
  return 0;
}

int OutputFile::open_descriptor(const char* name, OutputMode mode, OutputTarget& target) {
  if (mode == OutputMode::append) {
    bool created = false;
    const int fd = open_for_append(name, target, created, undo_.start_length);
    if (fd < 0 || undo_.start_length < 0)
      return fd;
    // The stream gets a descriptor of its own, so that the lock and the cut back outlive the
    // stream's close.
    undo_.target_fd = fd;
    undo_.target_path = target.path;
    undo_.remove_target = created && undo_.start_length == 0;
    return duplicate_descriptor(fd);
  }
  if (target.kind == OutputTargetKind::in_place)
    return open_in_place(name);
  undo_.target_path = target.path;
  const int fd = create_temp_file(target, undo_.temp_path);
  // A file that may be written in a folder that takes no new file can only be written in place.
  if (fd < 0 && mode == OutputMode::replace && (errno == EACCES || errno == EPERM) &&
      target.kind == OutputTargetKind::regular)
    return open_in_place(name);
  return fd;
}

void OutputFile::use_stream(std::FILE* stream, const char* name) {
  undo();
  name_ = name;
  stream_ = stream;
  owns_stream_ = false;
  failed_ = false;
}

int OutputFile::write(const void* data, std::size_t bytes) {
  if (stream_ == nullptr || failed_)
    return EBADF;
  if (bytes == 0)
    return 0; // fwrite counts no record of no bytes as written
  if (!platform_write_record(data, bytes, stream_)) {
    failed_ = true;
    return platform_output_error(errno);
  }
  return 0;
}

int OutputFile::commit() {
  std::FILE* const stream = std::exchange(stream_, nullptr);
  if (stream == nullptr)
    return EBADF;
  // With a full buffer, a full disk often shows only now; the run must not end as a success.
  if (!owns_stream_)
    return std::fflush(stream) == 0 ? 0 : platform_output_error(errno);
  // A stream that failed before may hold a record cut short: it must not take the target's place.
  int error_number = failed_ ? EBADF : 0;
  if (error_number == 0 && std::fflush(stream) != 0)
    error_number = platform_output_error(errno);
  const bool replaces = !undo_.temp_path.empty();
  if (error_number == 0 && replaces) {
    // Written through before the rename: after a crash the name holds the old file or the new
    // one. Only the file that this output created may take the target's place: a writer that
    // wrote it by its name (or anyone else) may have put another file there.
    const int fd = fileno(stream);
    if (sync_file(fd) != 0) {
      error_number = errno;
    } else if (same_file(fd, undo_.temp_path.c_str()) != 0) {
      error_number = errno;
      undo_.temp_path.clear(); // not this output's to remove
    }
  }
  if (std::fclose(stream) != 0 && error_number == 0)
    error_number = platform_output_error(errno);
  buffer_.reset();
  if (error_number == 0 && replaces) {
    if (replace_file(undo_.temp_path, undo_.target_path) != 0) {
      error_number = errno;
    } else {
      undo_.temp_path.clear();
    }
  }
  if (error_number != 0)
    return fail(error_number);
  finish();
  return 0;
}

int OutputFile::fail(int error_number) noexcept {
  undo();
  return error_number;
}

// Gives up an output that did not finish: its temporary file goes, an appended file gets its
// old length back (or goes, when the append created it and it is still at its name) while the
// lock is still held. Nothing more can be done when a step of it fails, so the failure that led
// here is the one reported.
void OutputFile::undo() noexcept {
  if (owns_stream_ && stream_ != nullptr)
    std::fclose(std::exchange(stream_, nullptr)); // what the buffer holds goes into a file undone
  if (!undo_.temp_path.empty())
    remove_file(undo_.temp_path);
  if (undo_.target_fd >= 0 && undo_.start_length >= 0) {
    if (!undo_.remove_target) {
      cut_back(undo_.target_fd, undo_.start_length);
    } else if (same_file(undo_.target_fd, undo_.target_path.c_str()) == 0) {
      remove_file(undo_.target_path);
    }
  }
  finish();
}

// Forgets how to undo the output, whose file is now what it should be (or as it was), and
// unlocks it.
void OutputFile::finish() noexcept {
  if (std::exchange(noted_, false))
    note_output_undo(OutputUndo{});
  undo_.temp_path.clear();
  undo_.start_length = -1;
  undo_.remove_target = false;
  if (undo_.target_fd >= 0)
    close_descriptor(std::exchange(undo_.target_fd, -1));
  buffer_.reset();
}

} // namespace norvalex
