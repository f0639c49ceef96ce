#include "text/text_input.h"

#include "norvalex/error.h"
#include "platform/platform.h"
#include "text/line_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace norvalex {

bool read_line_piece(std::FILE* stream, LineBuffer& line) {
  std::size_t length = 0;
  while (length < LINE_PIECE_LIMIT) {
    int c = platform_getc_unlocked(stream);
    if (c == EOF)
      break;
    if (c == '\r') {
      int next = platform_getc_unlocked(stream);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        ungetc(next, stream);
      }
    }
    line.text[length++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  line.text[length] = '\0';
  line.length = length;
  return length > 0;
}

bool line_goes_on(std::FILE* stream, const LineBuffer& line) {
  if (line.length < LINE_PIECE_LIMIT || line.text[line.length - 1] == '\n')
    return false;
  int c = platform_getc_unlocked(stream);
  if (c == '\r') {
    c = platform_getc_unlocked(stream);
    return c != '\n';
  }
  return c != EOF && c != '\n';
}

bool TextInput::open(std::FILE* input_stream, std::size_t block_size, std::int64_t limit) {
  stream = input_stream;
  capacity = std::max(block_size, TEXT_MIN_BLOCK_SIZE);
  storage.reset(new (std::nothrow) char[capacity + SCAN_PADDING]);
  if (!storage)
    return false;
  std::memset(storage.get(), 0, SCAN_PADDING);
  pos = storage.get();
  end = pos;
  drained = false;
  read_errno = 0;
  byte_limit = limit;
  bytes_read = 0;
  return true;
}

std::size_t TextInput::read_stream(char* into, std::size_t room, bool& stream_drained,
                                   int& error) const {
  std::size_t wanted = room;
  if (byte_limit >= 0)
    wanted = std::min(wanted, static_cast<std::size_t>(byte_limit - bytes_read));
  const std::size_t got = wanted == 0 ? 0 : std::fread(into, 1, wanted, stream);
  // fread comes back short only at the end of the stream or on a read error; either way the
  // stream has nothing more to give, as a getc that returned EOF. The limit is an end as well.
  stream_drained = got < room;
  error = got < wanted ? errno : 0;
  return got;
}

void TextInput::fill(std::size_t count) {
  const std::size_t rest = buffered();
  if (rest >= count || drained)
    return;
  // A block of input at a time, on the reading's own thread: a long reading can be stopped.
  check_interruption();
  if (ahead.ready) {
    char* const front = ahead.storage.get() + TEXT_LOOKAHEAD - rest;
    std::memcpy(front, pos, rest);
    storage.swap(ahead.storage);
    pos = front;
    end = front + rest + ahead.size;
    drained = ahead.drained;
    read_errno = ahead.read_errno;
    bytes_read += static_cast<std::int64_t>(ahead.size);
    ahead.ready = false;
    return;
  }
  char* const front = storage.get();
  std::memmove(front, pos, rest);
  const std::size_t got = read_stream(front + rest, capacity - rest, drained, read_errno);
  bytes_read += static_cast<std::int64_t>(got);
  pos = front;
  end = front + rest + got;
  std::memset(front + rest + got, 0, SCAN_PADDING);
}

bool TextInput::enable_read_ahead() {
  ahead.storage.reset(new (std::nothrow) char[capacity + SCAN_PADDING]);
  return ahead.storage != nullptr;
}

bool TextInput::read_ahead_wanted() const {
  return ahead.storage && !ahead.ready && !drained;
}

void TextInput::read_ahead() {
  char* const start = ahead.storage.get() + TEXT_LOOKAHEAD;
  ahead.size = read_stream(start, capacity - TEXT_LOOKAHEAD, ahead.drained, ahead.read_errno);
  std::memset(start + ahead.size, 0, SCAN_PADDING);
  ahead.ready = true;
}

bool TextInput::read_line(LineBuffer& line) {
  fill(TEXT_LOOKAHEAD);
  const char* p = pos;
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
  pos = p;
  line.text[length] = '\0';
  line.length = length;
  return length > 0;
}

bool line_goes_on(TextInput& input, const LineBuffer& line) {
  if (line.length < LINE_PIECE_LIMIT || line.text[line.length - 1] == '\n')
    return false;
  input.fill(2);
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

bool TextInput::failed() const {
  return std::ferror(stream) != 0;
}

std::size_t count_line_feeds(const char* p, const char* end) {
  // Byte counters over chunks of a fixed length that cannot overflow them compile to whole
  // vectors of byte compares, about three times as fast as std::count, whose vectors widen
  // every byte to a 64-bit count.
  constexpr std::size_t CHUNK = 240;
  std::size_t count = 0;
  for (; static_cast<std::size_t>(end - p) >= CHUNK; p += CHUNK) {
    unsigned char in_chunk = 0;
    for (std::size_t i = 0; i < CHUNK; ++i)
      in_chunk = static_cast<unsigned char>(in_chunk + (p[i] == '\n'));
    count += in_chunk;
  }
  return count + static_cast<std::size_t>(std::count(p, end, '\n'));
}

} // namespace norvalex
