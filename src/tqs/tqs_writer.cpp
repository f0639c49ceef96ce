#include "diag/raise.h"
#include "platform/file_ops.h"
#include "platform/platform.h"
#include "tqs/tqs_io.h"
#include "tqs/tqs_output_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <utility>

namespace norvalex {

namespace {

[[noreturn]] void raise_system_error(const TqsOutput& output, int error_number) {
  raise_file_error(output.name ? output.name : "", error_number);
}

// Cuts a longer name to 15 bytes and zero-fills the rest of the field, so that the field ends in
// a NUL and two runs write the same bytes.
void copy_name(char (&field)[TQS_NAME_SIZE], const char* name) {
  std::strncpy(field, name, TQS_NAME_SIZE - 1);
  field[TQS_NAME_SIZE - 1] = '\0';
}

// The size word must equal the number of data bytes that follow it, so a block it cannot
// describe is refused before any of it is written.
std::uint32_t block_size(const TqsOutput& output, std::uint64_t bytes) {
  if (bytes > std::numeric_limits<std::uint32_t>::max()) {
    raise_system_error(output, EOVERFLOW);
  }
  return static_cast<std::uint32_t>(bytes);
}

// Writes `bytes` bytes as one record; a record not written whole throws.
void write_record(TqsOutput& output, const void* data, std::size_t bytes) {
  if (output.stream == nullptr || !output.state || output.state->failed) {
    raise_system_error(output, EBADF);
  }
  if (!platform_write_record(data, bytes, output.stream)) {
    output.state->failed = true;
    raise_system_error(output, platform_output_error(errno));
  }
}

// Asks the thread's interruption check; an interrupted output is given up: it may end inside a
// block, so every later write and its close refuse it, and its undo is left to its destructor.
void check_output_interruption(TqsOutput& output) {
  try {
    check_interruption();
  } catch (...) {
    if (output.state) {
      output.state->failed = true;
    }
    throw;
  }
}

// Writes a block's data as write_record does, in pieces with the interruption check between
// them.
void write_data(TqsOutput& output, const void* data, std::size_t bytes) {
  const auto* at = static_cast<const unsigned char*>(data);
  for (;;) {
    const std::size_t piece = std::min(bytes, TQS_INTERRUPTION_PIECE);
    write_record(output, at, piece);
    at += piece;
    bytes -= piece;
    if (bytes == 0) {
      return;
    }
    check_output_interruption(output);
  }
}

// Forgets how to undo the output, whose file is now what it should be, and unlocks it.
void finish_output(OutputUndo& undo) {
  undo.temp_path.clear();
  undo.start_length = -1;
  undo.remove_target = false;
  if (undo.target_fd >= 0)
    tqs_close_file(std::exchange(undo.target_fd, -1));
}

// Gives up an output that did not finish: its temporary file goes, an appended file gets its
// old length back (or goes, when the append created it) while the lock is still held. Nothing
// more can be done when a step of it fails, so the failure that led here is the one reported.
void undo_output(OutputUndo& undo) {
  if (!undo.temp_path.empty())
    tqs_remove_file(undo.temp_path);
  if (undo.target_fd >= 0 && undo.start_length >= 0) {
    if (undo.remove_target) {
      tqs_remove_file(undo.target_path);
    } else {
      tqs_cut_back(undo.target_fd, undo.start_length);
    }
  }
  finish_output(undo);
}

[[noreturn]] void undo_and_raise(TqsOutput& output, int error_number) {
  undo_output(output.state->undo);
  raise_system_error(output, error_number);
}

// A fresh state for an output that starts now; memory that runs out is the library's message.
void start_state(TqsOutput& output, bool owns_stream) {
  output.state.reset(new (std::nothrow) TqsOutput::State);
  if (!output.state) {
    raise_message(Message::not_enough_memory);
  }
  output.state->owns_stream = owns_stream;
}

// Opens the descriptor the output's stream writes to, filling the fields that undo it.
int open_descriptor(OutputUndo& undo, const char* name, bool append) {
  TqsTarget target = tqs_find_target(name);
  if (append) {
    bool created = false;
    const int fd = tqs_open_append(name, target, created, undo.start_length);
    if (fd < 0 || undo.start_length < 0)
      return fd;
    // The stream gets a descriptor of its own, so that the lock and the cut back outlive the
    // stream's close.
    undo.target_fd = fd;
    undo.target_path = target.path;
    undo.remove_target = created && undo.start_length == 0;
    return tqs_duplicate(fd);
  }
  if (target.kind == TqsTargetKind::in_place)
    return tqs_open_in_place(name);
  undo.target_path = target.path;
  const int fd = tqs_create_temp(target, undo.temp_path, undo.target_fd);
  // A file that may be written in a folder that takes no new file can only be written in place.
  if (fd < 0 && (errno == EACCES || errno == EPERM) && target.kind == TqsTargetKind::regular)
    return tqs_open_in_place(name);
  return fd;
}

} // namespace

TqsOutput::TqsOutput() = default;

TqsOutput::~TqsOutput() {
  if (!state) {
    return;
  }
  if (state->owns_stream && stream) {
    std::fclose(stream); // what the buffer still holds goes into a file that is undone next
  }
  undo_output(state->undo);
}

const OutputUndo& tqs_output_undo(const TqsOutput& output) {
  static const OutputUndo nothing;
  return output.state ? output.state->undo : nothing;
}

int tqs_open_file(TqsOutput& output, const char* name, bool append) {
  output.name = name;
  output.append = append;
  start_state(output, false);
  const int fd = open_descriptor(output.state->undo, name, append);
  if (fd < 0) {
    undo_and_raise(output, errno);
  }
  output.stream = tqs_stream_of(fd, append);
  if (!output.stream) {
    undo_and_raise(output, errno);
  }
  output.state->owns_stream = true;
  // Supplied here because a C library asked to allocate the buffer itself may ignore the size.
  output.state->buffer.reset(new (std::nothrow) char[TQS_BUFFER_SIZE]);
  if (!output.state->buffer) {
    return -1;
  }
  return std::setvbuf(output.stream, output.state->buffer.get(), _IOFBF, TQS_BUFFER_SIZE) == 0 ? 0
                                                                                               : -1;
}

void tqs_use_stream(TqsOutput& output, std::FILE* stream, const char* name, bool append) {
  start_state(output, false);
  output.stream = stream;
  output.name = name;
  output.append = append;
}

void tqs_write_header(TqsOutput& output, const TqsHeaderFields& fields) {
  if (output.append) {
    // Appended blocks follow bytes of unknown origin; this block tells who wrote the ones after.
    tqs_write_string(output, TQS_CREATOR_NAME, 0, fields.creator);
    return;
  }
  TqsFileHeader header;
  tqs_fill_header(header, fields);
  write_record(output, &header, sizeof header);
}

void tqs_fill_header(TqsFileHeader& header, const TqsHeaderFields& fields) {
  header = TqsFileHeader{}; // bytes without defined content are written as zeros
  copy_name(header.creator, fields.creator);
  header.creator_version[0] = fields.creator_version[0];
  header.creator_version[1] = fields.creator_version[1];
  copy_name(header.second_name, fields.second_name);
  header.second_version[0] = fields.second_version[0];
  header.second_version[1] = fields.second_version[1];
  header.magic = TQS_MAGIC;
  header.format_version[0] = TQS_FORMAT_VERSION;
  header.format_version[1] = TQS_FORMAT_VERSION;
  // The field is 32 bits wide, so the time wraps after January 2038.
  header.created = static_cast<std::int32_t>(std::time(nullptr));
}

void tqs_write_array(TqsOutput& output, const char* name, std::int32_t count, std::uint32_t type,
                     const void* data) {
  TqsBlockHeader header{};
  copy_name(header.name, name);
  header.type = type | TQS_FLAG_ARRAY;
  const int element_size = tqs_element_size(type);
  if (element_size < 0) {
    raise_file_message(Message::unknown_type_to_file, output.name);
  }
  if (count < 0) {
    raise_system_error(output, EINVAL);
  }
  header.size = block_size(output, static_cast<std::uint64_t>(count) *
                                       static_cast<std::uint64_t>(element_size));
  tqs_write_block(output, header, data);
}

void tqs_write_string(TqsOutput& output, const char* name, std::uint32_t flags, const char* value) {
  TqsBlockHeader header{};
  copy_name(header.name, name);
  header.type = flags | TQS_FLAG_SINGLE | TQS_TYPE_STRING;
  header.size = block_size(output, std::uint64_t{std::strlen(value)} + 1); // the NUL is data
  tqs_write_block(output, header, value);
}

void tqs_write_block(TqsOutput& output, const TqsBlockHeader& header, const void* data) {
  check_output_interruption(output);
  write_record(output, &header, sizeof header);
  if (header.size != 0) {
    write_data(output, data, header.size);
  }
}

void tqs_write_bytes(TqsOutput& output, const void* data, std::size_t size) {
  if (size != 0) {
    write_record(output, data, size);
  }
}

void tqs_close_output(TqsOutput& output) {
  std::FILE* const stream = output.stream;
  // Only an output that tqs_open_file or tqs_use_stream opened can be closed.
  if (stream == nullptr || !output.state) {
    raise_system_error(output, EBADF);
  }
  output.stream = nullptr;
  TqsOutput::State& state = *output.state;
  // With a full buffer, a full disk often shows only now; the run must not end as a success.
  if (!state.owns_stream) {
    if (std::fflush(stream) != 0) {
      raise_system_error(output, platform_output_error(errno));
    }
    return;
  }
  // A stream that failed before may hold a record cut short: it must not take the target's place.
  int error_number = state.failed ? EBADF : 0;
  if (error_number == 0 && std::fflush(stream) != 0) {
    error_number = platform_output_error(errno);
  }
  // Written through before the rename: after a crash the name holds the old file or the new one.
  OutputUndo& undo = state.undo;
  if (error_number == 0 && !undo.temp_path.empty() && tqs_sync_file(fileno(stream)) != 0) {
    error_number = errno;
  }
  if (std::fclose(stream) != 0 && error_number == 0) {
    error_number = platform_output_error(errno);
  }
  state.buffer.reset();
  if (error_number == 0 && !undo.temp_path.empty()) {
    if (tqs_replace_file(undo.temp_path, undo.target_path, undo.target_fd) != 0) {
      error_number = errno;
    } else {
      undo.temp_path.clear();
    }
  }
  if (error_number != 0) {
    undo_and_raise(output, error_number);
  }
  finish_output(undo);
}

} // namespace norvalex
