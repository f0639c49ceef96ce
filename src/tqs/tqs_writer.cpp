#include "diag/raise.h"
#include "platform/output_file.h"
#include "tqs/tqs_io.h"
#include "tqs/tqs_on_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

namespace norvalex {

static_assert(TQS_BUFFER_SIZE == OUTPUT_BUFFER_SIZE);

// The output file that the writer writes: its own (a file it opened, or a caller's stream), or
// one that a caller inside the project owns.
struct TqsOutput::State {
  OutputFile own;
  OutputFile* file = &own;
};

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
  if (output.stream == nullptr || !output.state) {
    raise_system_error(output, EBADF);
  }
  if (const int error_number = output.state->file->write(data, bytes)) {
    raise_system_error(output, error_number);
  }
}

// Asks the thread's interruption check; an interrupted output is given up: it may end inside a
// block, so every later write and its close refuse it, and its undo is left to its owner.
void check_output_interruption(TqsOutput& output) {
  try {
    check_interruption();
  } catch (...) {
    if (output.state) {
      output.state->file->give_up();
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

// A fresh state for an output that starts now; memory that runs out is the library's message.
TqsOutput::State& start_state(TqsOutput& output, const char* name, bool append) {
  output.stream = nullptr;
  output.name = name;
  output.append = append;
  output.state.reset(new (std::nothrow) TqsOutput::State);
  if (!output.state) {
    raise_message(Message::not_enough_memory);
  }
  return *output.state;
}

} // namespace

TqsOutput::TqsOutput() = default;

// The state's own output file undoes itself when it was not committed.
TqsOutput::~TqsOutput() = default;

int tqs_open_file(TqsOutput& output, const char* name, bool append) {
  OutputFile& file = start_state(output, name, append).own;
  if (const int error_number = file.open(name, append ? OutputMode::append : OutputMode::replace)) {
    raise_system_error(output, error_number);
  }
  output.stream = file.stream();
  return file.buffered() ? 0 : -1;
}

void tqs_use_stream(TqsOutput& output, std::FILE* stream, const char* name, bool append) {
  start_state(output, name, append).own.use_stream(stream, name);
  output.stream = stream;
}

void tqs_use_output(TqsOutput& output, OutputFile& file, bool append) {
  start_state(output, file.name(), append).file = &file;
  output.stream = file.stream();
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
  // Only an output that tqs_open_file, tqs_use_stream or tqs_use_output opened can be closed.
  if (output.stream == nullptr || !output.state) {
    raise_system_error(output, EBADF);
  }
  output.stream = nullptr;
  if (const int error_number = output.state->file->commit()) {
    raise_system_error(output, error_number);
  }
}

} // namespace norvalex
