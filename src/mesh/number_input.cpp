#include "mesh/number_input.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "sf7/sf7_number_scan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

namespace norvalex {

namespace {

constexpr std::size_t BLOCK_SIZE = std::size_t{1} << 20;
// Zero bytes after the buffered text: the fast scan may look this far past a line's end.
constexpr std::size_t PADDING = SF7_SCAN_PADDING;
// A token is shown in an error line up to this many bytes.
constexpr std::size_t SHOWN_TOKEN = 40;

// One token, [token, token_end), as strtod reads it: true when all of it is one number. The
// buffered text goes on to `end`, so that strtod reads the token in place, without a copy.
bool scan_token(const char* token, const char* token_end, const char* end, double& value) {
  return scan_token_exact(token, end, value) == token_end;
}

} // namespace

struct NumberInput::Buffer {
  std::FILE* stream = nullptr;
  std::unique_ptr<char[]> storage; // BLOCK_SIZE bytes and PADDING more
  char* pos = nullptr;             // next unread byte
  char* end = nullptr;             // end of the bytes read, followed by PADDING zeros
  char* line_end = nullptr;        // end of the current line's readable part
  bool line_complete = true;       // line_end is the line's line feed or the file's end
  bool drained = false;            // the stream gave its last byte
  std::int64_t bytes_read = 0;     // from the stream so far
  std::int64_t byte_limit = -1;    // the most bytes to read from it, or -1
  Sf7ScanMemo memo;                // what the fast scan learnt of the last line

  // Keeps the unread bytes, moved to the front, and reads more after them; a block is where a
  // long reading may be interrupted.
  void fill(const char* name) {
    check_interruption();
    char* const front = storage.get();
    const auto rest = static_cast<std::size_t>(end - pos);
    std::memmove(front, pos, rest);
    std::size_t room = BLOCK_SIZE - rest;
    if (byte_limit >= 0)
      room = std::min(room, static_cast<std::size_t>(byte_limit - bytes_read));
    const std::size_t got = room == 0 ? 0 : std::fread(front + rest, 1, room, stream);
    bytes_read += static_cast<std::int64_t>(got);
    // The limit reached is the end, as the end of the stream is.
    if (got < room || room == 0) {
      if (room != 0 && std::ferror(stream)) {
        const int error_number = errno;
        raise_input_failure(name, error_number, "%s: %s", name, platform_error_text(error_number));
      }
      drained = true;
    }
    pos = front;
    end = front + rest + got;
    line_end = pos;
    std::memset(end, 0, PADDING);
  }
};

NumberInput::NumberInput(std::FILE* stream, const char* name, std::int32_t lines_before,
                         std::int64_t byte_limit)
    : name_(name), buffer_(std::make_unique<Buffer>()), line_number_(lines_before) {
  Buffer& b = *buffer_;
  b.stream = stream;
  b.byte_limit = byte_limit;
  b.storage.reset(new (std::nothrow) char[BLOCK_SIZE + PADDING]);
  if (!b.storage)
    raise_input_failure(name, ENOMEM, "Not enough memory");
  b.pos = b.end = b.line_end = b.storage.get();
  std::memset(b.end, 0, PADDING);
}

NumberInput::~NumberInput() = default;

bool NumberInput::next_line() {
  Buffer& b = *buffer_;
  for (;;) {
    if (b.pos < b.line_end)
      return true;
    const bool continues = !b.line_complete;
    if (!continues && b.pos < b.end && *b.pos == '\n')
      ++b.pos; // the line feed of the line just read
    for (;;) {
      auto* const feed =
          static_cast<char*>(std::memchr(b.pos, '\n', static_cast<std::size_t>(b.end - b.pos)));
      if (feed != nullptr) {
        b.line_end = feed;
        b.line_complete = true;
        break;
      }
      if (b.drained) {
        b.line_end = b.end;
        b.line_complete = true;
        break;
      }
      if (b.pos > b.storage.get() || b.end < b.storage.get() + BLOCK_SIZE) {
        b.fill(name_);
        continue;
      }
      // A line longer than the buffer is read up to its last white space in it, then goes on.
      char* cut = b.end;
      while (cut > b.pos && !is_scan_space(cut[-1]))
        --cut;
      if (cut == b.pos)
        raise_not_a_number(b.pos, b.pos + SHOWN_TOKEN);
      b.line_end = cut;
      b.line_complete = false;
      break;
    }
    if (b.pos == b.end && b.line_complete)
      return false; // nothing after the last line feed
    if (!continues) {
      if (line_number_ == INT32_MAX)
        raise_input_error(name_, line_number_, "More than %d lines", INT32_MAX);
      ++line_number_;
    }
  }
}

std::int64_t NumberInput::next_line_offset() const {
  const Buffer& b = *buffer_;
  const char* feed = b.line_end;
  while (feed < b.end && *feed != '\n')
    ++feed;
  return b.bytes_read - (b.end - feed) + (feed < b.end ? 1 : 0);
}

void NumberInput::raise_not_a_number(const char* token, const char* end) const {
  const auto length = static_cast<std::size_t>(end - token);
  const std::string shown(token, std::min(length, SHOWN_TOKEN));
  raise_input_error(name_, line_number_, "Not a number: %s%s", shown.c_str(),
                    length > SHOWN_TOKEN ? "..." : "");
}

std::size_t NumberInput::read_numbers(std::span<double> values) {
  Buffer& b = *buffer_;
  std::size_t count = 0;
  while (count < values.size()) {
    if (b.pos == b.line_end) {
      if (!next_line())
        break;
      // A whole line in the buffer, read in place when its words are plain numbers.
      if (b.line_complete && b.line_end < b.end) {
        std::size_t found = 0;
        const char* next =
            scan_line_numbers_fast(b.memo, b.pos, b.end, values.subspan(count), found);
        if (next != nullptr) {
          count += found;
          b.pos = b.line_end; // at the line feed, which next_line takes
          continue;
        }
      }
    }
    while (b.pos < b.line_end && is_scan_space(*b.pos))
      ++b.pos;
    if (b.pos == b.line_end)
      continue;
    char* token_end = b.pos;
    while (token_end < b.line_end && !is_scan_space(*token_end))
      ++token_end;
    if (!scan_token(b.pos, token_end, b.end, values[count]))
      raise_not_a_number(b.pos, token_end);
    ++count;
    b.pos = token_end;
  }
  return count;
}

std::ptrdiff_t NumberInput::read_line(std::span<double> values) {
  Buffer& b = *buffer_;
  if (!next_line())
    return -1;
  if (b.line_complete && b.line_end < b.end) {
    std::size_t found = 0;
    if (scan_line_numbers_fast(b.memo, b.pos, b.end, values, found) != nullptr) {
      b.pos = b.line_end;
      return static_cast<std::ptrdiff_t>(found);
    }
  }
  std::size_t count = 0;
  // One line: its numbers up to its end, which may lie beyond this buffer's part of it.
  for (;;) {
    while (b.pos < b.line_end && is_scan_space(*b.pos))
      ++b.pos;
    if (b.pos == b.line_end) {
      if (b.line_complete || !next_line())
        break;
      continue;
    }
    char* token_end = b.pos;
    while (token_end < b.line_end && !is_scan_space(*token_end))
      ++token_end;
    double value = 0;
    if (!scan_token(b.pos, token_end, b.end, value))
      raise_not_a_number(b.pos, token_end);
    if (count < values.size())
      values[count] = value;
    ++count;
    b.pos = token_end;
  }
  return static_cast<std::ptrdiff_t>(std::min(count, values.size() + 1));
}

} // namespace norvalex
