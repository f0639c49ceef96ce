// Writes TQS files to standard output, to a new file or at the end of an existing file. Every
// failure is raised as a numbered library message, which ends the process: no operation returns
// an error to its caller.
#pragma once

#include "tqs/tqs_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Size of the one full buffer every output stream gets.
inline constexpr std::size_t TQS_BUFFER_SIZE = 1048576;

// An open output. `stream` and `name` come first and in this order: other parts of the library
// share that layout.
struct TqsOutput {
  std::FILE* stream;
  const char* name; // "-" for standard output, else the caller's file name (borrowed)
  int append;       // non-zero when appending: a "creator" block stands in for the file header
  char* buffer;     // the stream buffer of a file, released on close; null for standard output
};

// Opens standard output when neither name is given or either is exactly "-", otherwise the
// named file: emptied for `output_name`, written at its end for `append_name`. Giving both
// names, a terminal on standard output and a file that cannot be opened are refused. Returns 0
// when the stream got its full buffer, -1 otherwise.
int tqs_open_output(const char* output_name, const char* append_name, TqsOutput& output);

// Writes the 48-byte file header, or in append mode a "creator" string block holding `creator`
// (the second name and the version bytes are then dropped).
void tqs_write_header(const TqsOutput& output, const char* creator, std::uint8_t creator_version0,
                      std::uint8_t creator_version1, const char* second_name,
                      std::uint8_t second_version0, std::uint8_t second_version1);

// Fills every byte of `header`; names longer than 15 bytes are cut to 15. The creation time is
// taken last.
void tqs_fill_header(TqsFileHeader& header, const char* creator, std::uint8_t creator_version0,
                     std::uint8_t creator_version1, const char* second_name,
                     std::uint8_t second_version0, std::uint8_t second_version1);

// Writes an array block of `count` elements of the code in `type`, straight from `data`. An
// element type without a size, a negative count, or a byte size beyond the 32-bit size word is
// refused before anything of the block is written.
void tqs_write_array(const TqsOutput& output, const char* name, std::int32_t count,
                     std::uint32_t type, const void* data);

// Writes a single-value string block; its data is `value` with its NUL. `flags` is normally 0.
void tqs_write_string(const TqsOutput& output, const char* name, std::uint32_t flags,
                      const char* value);

// Writes `header` and then its `size` bytes from `data`; `data` is not read when `size` is 0.
void tqs_write_block(const TqsOutput& output, const TqsBlockHeader& header, const void* data);

// Flushes standard output and leaves it open, or closes the file. A failure that shows only
// now is raised like any other write failure.
void tqs_close_output(const TqsOutput& output);
