// Numbers as the writers of text files write them: the shortest text that reads back as the same
// double, exactly the bytes of std::to_chars(first, last, value) (the fewest significant digits,
// fixed or scientific whichever is shorter and fixed on a tie, "-0", "inf", "-nan"), with a fast
// path for the short decimals that field maps hold ("29.99955", "-1.145055e-05").
// Private to the text library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norvalex {

// Room for the longest shortest text, "-2.2250738585072014e-308".
inline constexpr std::ptrdiff_t SHORTEST_TEXT_MAX = 24;

// Writes the shortest text of `value` from `first`, which has room for SHORTEST_TEXT_MAX
// characters, and returns its end.
char* format_shortest(double value, char* first);

// Writes the shortest text of `value` from `first` and returns its end when that text is shorter
// than `length` characters; nullptr otherwise, without formatting what is known to be no shorter.
char* format_shorter(double value, std::ptrdiff_t length, char* first);

// A double with its shortest text, formatted once.
struct ShortestNumber {
  double value = 0;
  std::uint8_t length = 0;
  std::array<char, SHORTEST_TEXT_MAX> digits;

  std::string_view text() const { return {digits.data(), length}; }
};

ShortestNumber shortest_number(double value);

} // namespace norvalex
