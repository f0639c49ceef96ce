// Text input in large blocks: the stream is read into one fixed buffer, with zero bytes after
// the buffered text so that the fast scans (line_scan.h) read it in place, and split into lines
// in place with the line semantics of a 1024-byte line buffer (pieces of at most 1023
// characters, a CR LF line end read as LF, the last line without its line feed), exactly as
// read_line_piece gives them from a stream a byte at a time. While the buffered block is read,
// another thread may read the next one ahead.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace norvalex {

// One line as a 1024-byte line buffer holds it: at most 1023 characters, the line feed
// included when it fits, then a terminating zero.
inline constexpr std::size_t LINE_BUFFER_SIZE = 1024;
inline constexpr std::size_t LINE_PIECE_LIMIT = LINE_BUFFER_SIZE - 1;
struct LineBuffer {
  std::array<char, LINE_BUFFER_SIZE> text;
  std::size_t length;
};

// Reads the next line, or the next 1023 characters of a longer one, from `stream` a byte at a
// time: a carriage return right before a line feed is dropped. False when nothing is left.
bool read_line_piece(std::FILE* stream, LineBuffer& line);

// True when a line that filled the line buffer goes on past its line feed's place; consumes the
// line feed of a line of exactly 1023 characters, so that the next read starts at the next line.
bool line_goes_on(std::FILE* stream, const LineBuffer& line);

// Size of the blocks the input is read in, and the smallest one accepted: a block always holds
// a whole line piece and what follows it.
inline constexpr std::size_t TEXT_BLOCK_SIZE = std::size_t{1} << 20;
inline constexpr std::size_t TEXT_MIN_BLOCK_SIZE = 4096;

// Raw bytes that cover any line the line buffer holds whole, with its line end: 1022
// characters and CR LF. Also enough for one piece of a longer line and the byte after it.
inline constexpr std::size_t TEXT_LOOKAHEAD = LINE_BUFFER_SIZE;

// The block after the buffered one, read by another thread while the reading's own thread scans:
// its bytes start TEXT_LOOKAHEAD bytes into the storage, where the unread rest of the buffered
// block goes in front of them.
struct TextReadAhead {
  std::unique_ptr<char[]> storage; // as large as the input's
  std::size_t size = 0;            // bytes read
  bool ready = false;              // read and not taken yet
  bool drained = false;
  int read_errno = 0;
};

struct TextInput {
  // Allocates the buffer (at least TEXT_MIN_BLOCK_SIZE bytes) once and reads nothing yet; the
  // stream is read from where it stands, at most `byte_limit` bytes of it when that is not -1.
  // False when the memory cannot be had.
  bool open(std::FILE* input_stream, std::size_t block_size = TEXT_BLOCK_SIZE,
            std::int64_t limit = -1);

  // Makes at least `count` bytes (at most `capacity`) readable at `pos`, unless the stream is
  // drained: the unread rest moves to the front of the buffer and the stream fills the space
  // after it, or, once a block was read ahead, the rest (then `count` is at most TEXT_LOOKAHEAD)
  // goes in front of that block, which becomes the buffer. A block is where a long reading may
  // be interrupted (check_interruption).
  void fill(std::size_t count);

  // Allocates the read-ahead buffer; false when it cannot be had (the input then reads as before).
  bool enable_read_ahead();
  // True when a block is to be read ahead: the buffer exists, holds none and the stream goes on.
  bool read_ahead_wanted() const;
  // Reads the next block into the read-ahead buffer. Touches only the stream and that buffer, so
  // that another thread may do it while the buffered block is read, and fill is not.
  void read_ahead();

  // The next line, or the next 1023 characters of a longer one, as read_line_piece gives it from
  // the same bytes. False when nothing is left.
  bool read_line(LineBuffer& line);

  // True when the stream failed to read (as opposed to ending); read_errno then tells why.
  bool failed() const;
  std::size_t buffered() const { return static_cast<std::size_t>(end - pos); }

  std::FILE* stream = nullptr;
  std::unique_ptr<char[]> storage; // capacity bytes and the scans' padding more
  std::size_t capacity = 0;
  const char* pos = nullptr;    // next unread byte
  const char* end = nullptr;    // end of the bytes read so far, followed by the zero padding
  bool drained = false;         // the stream gave its last byte (end, read error or the limit)
  int read_errno = 0;           // errno of the failed read when the stream failed
  std::int64_t byte_limit = -1; // the most bytes to read from the stream, or -1
  std::int64_t bytes_read = 0;  // from the stream, in the buffer or before it
  TextReadAhead ahead;          // used once enable_read_ahead succeeded

private:
  // Reads at most `room` bytes into `into`, within the byte limit: how many it got, and whether
  // the stream then has nothing more to give.
  std::size_t read_stream(char* into, std::size_t room, bool& stream_drained, int& error) const;
};

// line_goes_on for the lines of a TextInput.
bool line_goes_on(TextInput& input, const LineBuffer& line);

// Line feeds in [p, end).
std::size_t count_line_feeds(const char* p, const char* end);

} // namespace norvalex
