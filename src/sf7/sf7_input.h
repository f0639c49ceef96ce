// Block input for the field-map reader: the stream is read in large blocks into one fixed buffer
// and split into lines in place, with exactly the line semantics of read_line_exact (pieces of
// at most 1023 characters, a CR LF line end read as LF, the last line without its line feed).
// The SF7_SCAN_PADDING zero bytes after `end` let the fast scans read the buffered text in
// place; a reader of another text format keeps its own buffer with the same padding.
#pragma once

#include "sf7/sf7_exact.h"
#include "sf7/sf7_fast_scan.h"

#include <cstddef>
#include <cstdio>
#include <memory>

namespace norvalex {

// Raw bytes that cover any line the line buffer holds whole, with its line end: 1022
// characters and CR LF. Also enough for one piece of a longer line and the byte after it.
inline constexpr std::size_t SF7_INPUT_LOOKAHEAD = LINE_BUFFER_SIZE;

// The block after the buffered one, read by the reading's helper thread while the reading's own
// thread scans: its bytes start SF7_INPUT_LOOKAHEAD bytes into the storage, where the unread rest
// of the buffered block goes in front of them.
struct Sf7ReadAhead {
  std::unique_ptr<char[], FreeDeleter> storage; // as large as the input's
  std::size_t size = 0;                         // bytes read
  bool ready = false;                           // read and not taken yet
  bool drained = false;
  int read_errno = 0;
};

struct Sf7Input {
  std::FILE* stream = nullptr;
  std::unique_ptr<char[], FreeDeleter> storage; // capacity bytes and SF7_SCAN_PADDING more
  std::size_t capacity = 0;
  const char* pos = nullptr; // next unread byte
  const char* end = nullptr; // end of the bytes read so far, followed by SF7_SCAN_PADDING zeros
  bool drained = false;      // the stream gave its last byte (end of file or read error)
  int read_errno = 0;        // errno of the failed read when the stream failed
  Sf7ReadAhead ahead;        // used once enable_sf7_read_ahead succeeded
};

// Allocates the buffer (at least SF7_INPUT_MIN_BLOCK_SIZE bytes) once; reads nothing yet.
// False when it cannot be allocated.
NORVALEX_SF7_API bool open_sf7_input(Sf7Input& input, std::FILE* stream, std::size_t block_size);

// Makes at least `count` bytes (at most SF7_INPUT_LOOKAHEAD) readable at `pos`, unless the
// stream is drained: the unread rest moves to the front of the buffer and the stream fills the
// space after it, or it goes in front of the block read ahead, which becomes the buffer.
NORVALEX_SF7_API void fill_sf7_input(Sf7Input& input, std::size_t count);

// Allocates the read-ahead buffer; false when it cannot be had (the input then reads as before).
NORVALEX_SF7_API bool enable_sf7_read_ahead(Sf7Input& input);
// True when a block is to be read ahead: the buffer exists, holds none and the stream goes on.
NORVALEX_SF7_API bool sf7_read_ahead_wanted(const Sf7Input& input);
// Reads the next block into the read-ahead buffer. Touches only the stream and that buffer, so
// that another thread may do it while the buffered block is read, and fill_sf7_input is not.
NORVALEX_SF7_API void read_sf7_ahead(Sf7Input& input);

// The next line, or the next 1023 characters of a longer one, as read_line_exact gives it from
// the same bytes. False when nothing is left.
NORVALEX_SF7_API bool read_line_block(Sf7Input& input, LineBuffer& line);

// True when a line that filled the line buffer goes on past its line feed's place; consumes the
// line feed of a line of exactly 1023 characters, as the exact path does.
NORVALEX_SF7_API bool block_line_goes_on(Sf7Input& input, const LineBuffer& line);

// True when the stream failed to read (as opposed to ending).
NORVALEX_SF7_API bool sf7_input_failed(const Sf7Input& input);

} // namespace norvalex
