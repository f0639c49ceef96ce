#include "tqs/tqs_writer.h"

#include "cli/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

static_assert(sizeof(off_t) >= 8, "appending to files beyond 2 GiB needs 64-bit file offsets");

namespace {

// Standard output outlives every handle, so its buffer is never released. The buffers are
// supplied here because a C library asked to allocate one itself may ignore the size.
char stdout_buffer[TQS_BUFFER_SIZE];

bool is_standard_output_name(const char* name) {
  return name && std::strcmp(name, "-") == 0;
}

void report_system_error(const TqsOutput& output) {
  report_message(library_messages, 0, output.name, std::strerror(errno));
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
    errno = EOVERFLOW;
    report_system_error(output);
  }
  return static_cast<std::uint32_t>(bytes);
}

} // namespace

int tqs_open_output(const char* output_name, const char* append_name, TqsOutput& output) {
  if (output_name && append_name) {
    report_message(library_messages, 9, output_name, append_name);
  }
  output.stream = nullptr;
  output.buffer = nullptr;
  if ((!output_name && !append_name) || is_standard_output_name(output_name) ||
      is_standard_output_name(append_name)) {
    if (isatty(STDOUT_FILENO)) {
      report_message(library_messages, 10);
    }
    output.name = "-";
    // POSIX streams make no text/binary distinction: standard output is already binary.
    output.stream = stdout;
  }
  output.append = append_name != nullptr;
  if (!output.stream) {
    output.name = output.append ? append_name : output_name;
    output.stream = std::fopen(output.name, output.append ? "ab" : "wb");
    if (!output.stream) {
      report_system_error(output);
    }
    if (output.append && lseek(fileno(output.stream), 0, SEEK_END) == -1) {
      report_system_error(output);
    }
  }
  char* buffer = stdout_buffer;
  if (output.stream != stdout) {
    buffer = output.buffer = static_cast<char*>(std::malloc(TQS_BUFFER_SIZE));
    if (!buffer) {
      return -1;
    }
  }
  return std::setvbuf(output.stream, buffer, _IOFBF, TQS_BUFFER_SIZE) == 0 ? 0 : -1;
}

void tqs_write_header(const TqsOutput& output, const char* creator, std::uint8_t creator_version0,
                      std::uint8_t creator_version1, const char* second_name,
                      std::uint8_t second_version0, std::uint8_t second_version1) {
  if (output.append) {
    // Appended blocks follow bytes of unknown origin; this block tells who wrote the ones after.
    tqs_write_string(output, "creator", 0, creator);
    return;
  }
  TqsFileHeader header;
  tqs_fill_header(header, creator, creator_version0, creator_version1, second_name, second_version0,
                  second_version1);
  if (std::fwrite(&header, sizeof header, 1, output.stream) != 1) {
    report_system_error(output);
  }
}

void tqs_fill_header(TqsFileHeader& header, const char* creator, std::uint8_t creator_version0,
                     std::uint8_t creator_version1, const char* second_name,
                     std::uint8_t second_version0, std::uint8_t second_version1) {
  header = TqsFileHeader{}; // bytes without defined content are written as zeros
  copy_name(header.creator, creator);
  header.creator_version[0] = creator_version0;
  header.creator_version[1] = creator_version1;
  copy_name(header.second_name, second_name);
  header.second_version[0] = second_version0;
  header.second_version[1] = second_version1;
  header.magic = TQS_MAGIC;
  header.format_version[0] = TQS_FORMAT_VERSION;
  header.format_version[1] = TQS_FORMAT_VERSION;
  // The field is 32 bits wide, so the time wraps after January 2038.
  header.created = static_cast<std::int32_t>(std::time(nullptr));
}

void tqs_write_array(const TqsOutput& output, const char* name, std::int32_t count,
                     std::uint32_t type, const void* data) {
  TqsBlockHeader header{};
  copy_name(header.name, name);
  header.type = type | TQS_FLAG_ARRAY;
  const int element_size = tqs_element_size(type);
  if (element_size < 0) {
    report_message(library_messages, 6, output.name);
  }
  if (count < 0) {
    errno = EINVAL;
    report_system_error(output);
  }
  header.size = block_size(output, static_cast<std::uint64_t>(count) *
                                       static_cast<std::uint64_t>(element_size));
  tqs_write_block(output, header, data);
}

void tqs_write_string(const TqsOutput& output, const char* name, std::uint32_t flags,
                      const char* value) {
  TqsBlockHeader header{};
  copy_name(header.name, name);
  header.type = flags | TQS_FLAG_SINGLE | TQS_TYPE_STRING;
  header.size = block_size(output, std::uint64_t{std::strlen(value)} + 1); // the NUL is data
  tqs_write_block(output, header, value);
}

void tqs_write_block(const TqsOutput& output, const TqsBlockHeader& header, const void* data) {
  if (std::fwrite(&header, sizeof header, 1, output.stream) != 1) {
    report_system_error(output);
  }
  if (header.size != 0 && std::fwrite(data, header.size, 1, output.stream) != 1) {
    report_system_error(output);
  }
}

void tqs_close_output(const TqsOutput& output) {
  // With a full buffer, a full disk often shows only now; the run must not end as a success.
  if (output.stream == stdout) {
    if (std::fflush(stdout) != 0) {
      report_system_error(output);
    }
    return;
  }
  if (std::fclose(output.stream) != 0) {
    report_system_error(output);
  }
  std::free(output.buffer);
}
