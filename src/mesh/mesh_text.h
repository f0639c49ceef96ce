// Text written into an output file, as every text form's writer writes it: collected in pieces
// of 1 MiB, numbers in the shortest form that reads back as the same double, and a number chosen
// so that the reader's unit conversion turns it back into the mesh's double.
#pragma once

#include "diag/raise.h"
#include "platform/output_file.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace norvalex {

// Text collected for the output, written once it holds this much.
inline constexpr std::size_t TEXT_CHUNK = std::size_t{1} << 20;

class TextOutput {
public:
  explicit TextOutput(OutputFile& file) : file_(file) { text_.reserve(TEXT_CHUNK + 256); }

  // The shortest text that reads back as `value`.
  void number(double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
  }
  void text(std::string_view words) { text_ += words; }
  // Ends a line; the text goes out once a piece is full.
  void end_line() {
    text_ += '\n';
    if (text_.size() >= TEXT_CHUNK)
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
    if (const int error_number = file_.write(text_.data(), text_.size()))
      raise_file_error(file_.name(), error_number);
    text_.clear();
  }

private:
  OutputFile& file_;
  std::string text_;
};

// The double x nearest `x0` that `read(x)` turns back into `target` exactly, when one lies within
// a few steps of it; `x0` otherwise. So a file's numbers read back as the mesh's doubles.
template <class Read> double reading_back(double x0, double target, Read read) {
  if (read(x0) == target || !std::isfinite(x0))
    return x0;
  double down = x0;
  double up = x0;
  for (int step = 0; step < 4; ++step) {
    down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    up = std::nextafter(up, std::numeric_limits<double>::infinity());
    if (read(up) == target)
      return up;
    if (read(down) == target)
      return down;
  }
  return x0;
}

// Of `x0` and the doubles a few steps from it that `read(x)` turns back into `target` exactly,
// the one whose shortest text is shortest (the nearest `x0` among those of one length); `x0`
// when none reads back. So a file's numbers read back as the mesh's doubles and keep the digits
// they were read from ("1.34325981", not "1.3432598100000002").
template <class Read> double shortest_reading_back(double x0, double target, Read read) {
  if (!std::isfinite(x0))
    return x0;
  const auto length = [](double x) {
    char digits[32];
    return std::to_chars(digits, digits + sizeof digits, x).ptr - digits;
  };
  double best = x0;
  auto best_length = read(x0) == target ? length(x0) : std::numeric_limits<std::ptrdiff_t>::max();
  double down = x0;
  double up = x0;
  for (int step = 0; step < 4; ++step) {
    down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    up = std::nextafter(up, std::numeric_limits<double>::infinity());
    for (const double x : {up, down}) {
      if (read(x) == target && length(x) < best_length) {
        best = x;
        best_length = length(x);
      }
    }
  }
  return best;
}

} // namespace norvalex
