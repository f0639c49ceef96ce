// Writes TQS files: into a file it opens (emptied, or written at its end when appending) or into
// a stream the caller owns, such as standard output. Every failure throws norvalex::Error with a
// numbered library message. An output whose write failed, or that is not open, is never written
// to again: every later write throws message 0 with "Bad file descriptor", so no block can follow
// a record cut short.
#pragma once

#include "tqs_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Size of the one full buffer every output file gets.
inline constexpr std::size_t TQS_BUFFER_SIZE = 1048576;

struct NORVALEX_TQS_API TqsBufferDeleter {
  void operator()(char* buffer) const;
};

// An open output. `stream` and `name` come first and in this order: other parts of the library
// share that layout. A file the writer opened is closed when the output goes out of scope
// without tqs_close_output (after a failure): what was written stays.
struct NORVALEX_TQS_API TqsOutput {
  std::FILE* stream = nullptr;
  const char* name = nullptr; // "-" for standard output, else the caller's file name (borrowed)
  int append = 0; // non-zero when appending: a "creator" block stands in for the file header
  bool owns_stream = false; // the writer opened the stream and closes it
  bool failed = false;      // a write failed: what the stream holds may end inside a record
  // The stream buffer of a file the writer opened, released after the stream is closed.
  std::unique_ptr<char, TqsBufferDeleter> buffer;

  TqsOutput() = default;
  TqsOutput(const TqsOutput&) = delete;
  TqsOutput& operator=(const TqsOutput&) = delete;
  ~TqsOutput();
};

// Opens the file `name`: created or emptied, or with `append` created if missing and written at
// its end. Throws message 0 when it cannot be opened. Returns 0 when the stream got its full
// buffer of TQS_BUFFER_SIZE bytes, -1 when it keeps the C library's buffering.
NORVALEX_TQS_API int tqs_open_file(TqsOutput& output, const char* name, bool append);

// Writes to `stream`, which the caller opened and keeps open; `name` names it in messages.
NORVALEX_TQS_API void tqs_use_stream(TqsOutput& output, std::FILE* stream, const char* name,
                                     bool append);

// Writes the 48-byte file header, or in append mode a "creator" string block holding `creator`
// (the second name and the version bytes are then dropped).
NORVALEX_TQS_API void tqs_write_header(TqsOutput& output, const char* creator,
                                       std::uint8_t creator_version0, std::uint8_t creator_version1,
                                       const char* second_name, std::uint8_t second_version0,
                                       std::uint8_t second_version1);

// Fills every byte of `header`; names longer than 15 bytes are cut to 15. The creation time is
// taken last.
NORVALEX_TQS_API void tqs_fill_header(TqsFileHeader& header, const char* creator,
                                      std::uint8_t creator_version0, std::uint8_t creator_version1,
                                      const char* second_name, std::uint8_t second_version0,
                                      std::uint8_t second_version1);

// Writes an array block of `count` elements of the code in `type`, straight from `data`. An
// element type without a size, a negative count, or a byte size beyond the 32-bit size word is
// refused before anything of the block is written.
NORVALEX_TQS_API void tqs_write_array(TqsOutput& output, const char* name, std::int32_t count,
                                      std::uint32_t type, const void* data);

// Writes a single-value string block; its data is `value` with its NUL. `flags` is normally 0.
NORVALEX_TQS_API void tqs_write_string(TqsOutput& output, const char* name, std::uint32_t flags,
                                       const char* value);

// Writes `header` and then its `size` bytes from `data`; `data` is not read when `size` is 0.
NORVALEX_TQS_API void tqs_write_block(TqsOutput& output, const TqsBlockHeader& header,
                                      const void* data);

// Flushes a caller's stream and leaves it open, or closes the file the writer opened. A failure
// that shows only now throws like any other write failure; the output is finished either way.
NORVALEX_TQS_API void tqs_close_output(TqsOutput& output);
