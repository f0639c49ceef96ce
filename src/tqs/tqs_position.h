// 64-bit byte positions of file streams, and the checked moves and reads that every load from a
// TQS file shares.
#pragma once

#include "../diag/api.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An open input file. `stream` and `name` come first and in this order, as in the writer's
// TqsOutput.
struct TqsFile {
  std::FILE* stream;
  const char* name; // used in messages
};

// The stream's position as a byte offset, or -1 when it cannot be determined.
NORVALEX_TQS_API std::int64_t tqs_tell(std::FILE* stream);

// Positions `stream` at `offset` from the start (whence 0), the current position (1) or the end
// of the file (2). Returns 0 on success; 22 for another whence or a target before the start of
// the file; 9 when whence is 2 and the length of the file is unknown; otherwise the non-zero
// result of the positioning call (-1, with errno set; also for whence 1 when the current
// position is unknown). 22 and 9 are returned only, never stored in errno.
NORVALEX_TQS_API int tqs_seek(std::FILE* stream, std::int64_t offset, int whence);

// Positions the stream of `file` at `offset` from the start; throws message 0 on failure.
NORVALEX_TQS_API void tqs_seek_to(const TqsFile& file, std::int64_t offset);

// The length of the regular file behind `file`; throws message 0 for anything else (EISDIR for a
// folder, ESPIPE for a pipe or a terminal), whose blocks cannot be found by their offsets.
NORVALEX_TQS_API std::int64_t tqs_file_length(const TqsFile& file);

// Reads `bytes` bytes at `offset` as one item (tqs_seek_to, then tqs_read_item).
NORVALEX_TQS_API void tqs_read_at(const TqsFile& file, std::int64_t offset, void* buffer,
                                  std::size_t bytes);

// Reads `bytes` bytes as one item. A short read throws message 0 when the stream's error
// indicator is set, otherwise message 2 ("Unexpected end of file").
NORVALEX_TQS_API void tqs_read_item(const TqsFile& file, void* buffer, std::size_t bytes);
