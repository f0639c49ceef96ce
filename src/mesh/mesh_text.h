// Text written into an output file, as every text form's writer writes it: collected in pieces
// of 1 MiB, numbers in the shortest form that reads back as the same double, and a number chosen
// so that the reader's unit conversion turns it back into the mesh's double.
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
#include <limits>
#include <string>
#include <string_view>

namespace norvalex {

// Text collected for the output, written once it holds this much.
inline constexpr std::size_t TEXT_CHUNK = std::size_t{1} << 20;

class TextOutput {
public:
  explicit TextOutput(OutputFile& file) : file_(file), text_(TEXT_CHUNK + 256, '\0') {}

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
  // Bytes of a binary form, which go out once a piece is full as text does.
  void bytes(std::string_view data) {
    text(data);
    if (size_ >= TEXT_CHUNK)
      flush();
  }
  // Ends a line; the text goes out once a piece is full.
  void end_line() {
    text("\n");
    if (size_ >= TEXT_CHUNK)
      flush();
  }
  // Writes what is collected; an interruption gives the file up, which is then undone.
  void flush() {
    try {
      check_interruption();
    } catch (...) {
      file_.give_up(); // never written to again: it is undone
      throw;
    }
    if (const int error_number = file_.write(text_.data(), size_))
      raise_file_error(file_.name(), error_number);
    size_ = 0;
  }

private:
  // Makes room for `more` characters after the text collected: a line longer than a piece grows
  // the buffer.
  void room(std::size_t more) {
    if (size_ + more > text_.size())
      text_.resize(std::max(2 * text_.size(), size_ + more));
  }

  OutputFile& file_;
  std::string text_; // characters [0, size_) collected, the rest room for more
  std::size_t size_ = 0;
};

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
