#include "sf7/sf7_input.h"

#include "norvalex/error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace norvalex {

bool open_sf7_input(Sf7Input& input, std::FILE* stream, std::size_t block_size) {
  input.stream = stream;
  input.capacity = std::max(block_size, SF7_INPUT_MIN_BLOCK_SIZE);
  input.storage.reset(static_cast<char*>(std::malloc(input.capacity + SF7_SCAN_PADDING)));
  if (!input.storage)
    return false;
  std::memset(input.storage.get(), 0, SF7_SCAN_PADDING);
  input.pos = input.storage.get();
  input.end = input.pos;
  input.drained = false;
  input.read_errno = 0;
  return true;
}

void fill_sf7_input(Sf7Input& input, std::size_t count) {
  const std::size_t rest = static_cast<std::size_t>(input.end - input.pos);
  // A rest of up to SF7_INPUT_LOOKAHEAD bytes is what fits in front of a block read ahead.
  if (rest >= std::min(count, SF7_INPUT_LOOKAHEAD) || input.drained)
    return;
  // A block of input at a time, on the reading's own thread: a long reading can be stopped.
  check_interruption();
  if (input.ahead.ready) {
    char* const front = input.ahead.storage.get() + SF7_INPUT_LOOKAHEAD - rest;
    std::memcpy(front, input.pos, rest);
    input.storage.swap(input.ahead.storage);
    input.pos = front;
    input.end = front + rest + input.ahead.size;
    input.drained = input.ahead.drained;
    input.read_errno = input.ahead.read_errno;
    input.ahead.ready = false;
    return;
  }
  char* const front = input.storage.get();
  std::memmove(front, input.pos, rest);
  const std::size_t room = input.capacity - rest;
  const std::size_t got = std::fread(front + rest, 1, room, input.stream);
  // fread comes back short only at the end of the stream or on a read error; either way the
  // stream has nothing more to give, as a getc that returned EOF.
  if (got < room) {
    input.drained = true;
    input.read_errno = errno;
  }
  input.pos = front;
  input.end = front + rest + got;
  std::memset(front + rest + got, 0, SF7_SCAN_PADDING);
}

bool enable_sf7_read_ahead(Sf7Input& input) {
  input.ahead.storage.reset(static_cast<char*>(std::malloc(input.capacity + SF7_SCAN_PADDING)));
  return input.ahead.storage != nullptr;
}

bool sf7_read_ahead_wanted(const Sf7Input& input) {
  return input.ahead.storage && !input.ahead.ready && !input.drained;
}

void read_sf7_ahead(Sf7Input& input) {
  Sf7ReadAhead& ahead = input.ahead;
  char* const start = ahead.storage.get() + SF7_INPUT_LOOKAHEAD;
  const std::size_t room = input.capacity - SF7_INPUT_LOOKAHEAD;
  ahead.size = std::fread(start, 1, room, input.stream);
  ahead.drained = ahead.size < room;
  ahead.read_errno = ahead.drained ? errno : 0;
  std::memset(start + ahead.size, 0, SF7_SCAN_PADDING);
  ahead.ready = true;
}

bool read_line_block(Sf7Input& input, LineBuffer& line) {
  fill_sf7_input(input, SF7_INPUT_LOOKAHEAD);
  const char* p = input.pos;
  const char* const end = input.end;
  std::size_t length = 0;
  while (length < LINE_PIECE_LIMIT && p < end) {
    char c = *p++;
    if (c == '\r' && p < end && *p == '\n') {
      c = '\n';
      ++p;
    }
    line.text[length++] = c;
    if (c == '\n')
      break;
  }
  input.pos = p;
  line.text[length] = '\0';
  line.length = length;
  return length > 0;
}

bool block_line_goes_on(Sf7Input& input, const LineBuffer& line) {
  if (line.length < LINE_PIECE_LIMIT || line.text[line.length - 1] == '\n')
    return false;
  fill_sf7_input(input, 2);
  if (input.pos == input.end)
    return false;
  const char c = *input.pos++;
  if (c == '\r') {
    if (input.pos == input.end)
      return true;
    return *input.pos++ != '\n';
  }
  return c != '\n';
}

bool sf7_input_failed(const Sf7Input& input) {
  return std::ferror(input.stream) != 0;
}

} // namespace norvalex
