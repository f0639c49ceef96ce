// Text written into an output file, as every text form's writer writes it: collected in pieces
// of 1 MiB (the lines of a large map's points formatted on two threads), numbers in the shortest
// form that reads back as the same double, and a number chosen so that the reader's unit
// conversion turns it back into the mesh's double.
#pragma once

#include "diag/raise.h"
#include "platform/output_file.h"
#include "text/number_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace norvalex {

// Text collected for the output, written once it holds this much.
inline constexpr std::size_t TEXT_CHUNK = std::size_t{1} << 20;

// Text collected in memory: numbers in their shortest form, words and line ends.
class TextBuffer {
public:
  TextBuffer() : text_(TEXT_CHUNK + 256, '\0') {}

  // The shortest text that reads back as `value`.
  void number(double value) {
    room(SHORTEST_TEXT_MAX);
    size_ = static_cast<std::size_t>(format_shortest(value, text_.data() + size_) - text_.data());
  }
  void number(const ShortestNumber& number) {
    room(number.digits.size());
    std::memcpy(text_.data() + size_, number.digits.data(), number.digits.size());
    size_ += number.length;
  }
  void text(std::string_view words) {
    room(words.size());
    std::copy(words.begin(), words.end(), text_.data() + size_);
    size_ += words.size();
  }
  void end_line() { text("\n"); }

  bool full() const { return size_ >= TEXT_CHUNK; }
  std::string_view collected() const { return {text_.data(), size_}; }
  void clear() { size_ = 0; }

private:
  // Makes room for `more` characters after the text collected: a line longer than a piece grows
  // the buffer.
  void room(std::size_t more) {
    if (size_ + more > text_.size())
      text_.resize(std::max(2 * text_.size(), size_ + more));
  }

  std::string text_; // characters [0, size_) collected, the rest room for more
  std::size_t size_ = 0;
};

// Text written into an output file in pieces of TEXT_CHUNK.
class TextOutput : public TextBuffer {
public:
  explicit TextOutput(OutputFile& file) : file_(file) {}

  // Bytes of a binary form, which go out once a piece is full as text does.
  void bytes(std::string_view data) {
    text(data);
    if (full())
      flush();
  }
  // Ends a line; the text goes out once a piece is full.
  void end_line() {
    TextBuffer::end_line();
    if (full())
      flush();
  }
  // Writes what is collected.
  void flush() {
    write(collected());
    clear();
  }
  // Writes `text` after what is flushed; an interruption gives the file up, which is then undone.
  void write(std::string_view text);

private:
  OutputFile& file_;
};

// The lines of items [0, count), write_items(buffer, first, end) putting the text of items
// [first, end) into the buffer, written after the output's text in order. The text forms of a
// large map spend most of their time on the numbers' digits, so pieces of items are formatted
// on two threads at once where a second one starts; memory stays two pieces of text.
void write_item_lines(
    TextOutput& out, std::size_t count,
    const std::function<void(TextBuffer& text, std::size_t first, std::size_t end)>& write_items);

// The next double after `x` toward +infinity (`up`) or -infinity, as std::nextafter gives it: a
// step of its bits for a normal number, whose neighbours have its sign.
inline double next_double(double x, bool up) {
  if (!std::isnormal(x))
    return std::nextafter(x, up ? std::numeric_limits<double>::infinity()
                                : -std::numeric_limits<double>::infinity());
  const auto bits = std::bit_cast<std::uint64_t>(x);
  return std::bit_cast<double>(up == (x > 0) ? bits + 1 : bits - 1);
}

// The double x nearest `x0` that `read(x)` turns back into `target` exactly, when one lies within
// a few steps of it; `x0` otherwise. So a file's numbers read back as the mesh's doubles.
template <class Read> double reading_back(double x0, double target, Read read) {
  if (read(x0) == target || !std::isfinite(x0))
    return x0;
  double down = x0;
  double up = x0;
  for (int step = 0; step < 4; ++step) {
    down = next_double(down, false);
    up = next_double(up, true);
    if (read(up) == target)
      return up;
    if (read(down) == target)
      return down;
  }
  return x0;
}

// Of `x0` and the doubles a few steps from it that `read(x)` turns back into `target` exactly,
// the one whose shortest text is shortest (the nearest `x0` among those of one length), with that
// text; `x0` when none reads back. So a file's numbers read back as the mesh's doubles and keep
// the digits they were read from ("1.34325981", not "1.3432598100000002"). Each text is formatted
// once, and one known to be no shorter than the best so far not at all.
template <class Read> ShortestNumber shortest_reading_back(double x0, double target, Read read) {
  if (!std::isfinite(x0))
    return shortest_number(x0);
  constexpr std::ptrdiff_t NONE = std::numeric_limits<std::ptrdiff_t>::max();
  ShortestNumber best{};
  std::ptrdiff_t best_length = NONE;
  if (read(x0) == target) {
    best = shortest_number(x0);
    best_length = best.length;
  }
  ShortestNumber candidate{};
  double down = x0;
  double up = x0;
  for (int step = 0; step < 4; ++step) {
    down = next_double(down, false);
    up = next_double(up, true);
    for (const double x : {up, down}) {
      if (read(x) != target)
        continue;
      if (const char* end = format_shorter(x, best_length, candidate.digits.data())) {
        candidate.value = x;
        candidate.length = static_cast<std::uint8_t>(end - candidate.digits.data());
        best = candidate;
        best_length = best.length;
      }
    }
  }
  return best_length == NONE ? shortest_number(x0) : best;
}

} // namespace norvalex
