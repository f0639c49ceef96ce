// The exact reading of SF7 lines, the reference that the block reading's fast scan reproduces
// bit for bit, and the switches with which tests and benchmarks compare the two. Private to the
// reader, its tests and the programs' reference builds.
#pragma once

#include "norvalex/sf7.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace norvalex {

// Size of the blocks the input is read in, and the smallest one accepted: a block always holds
// a whole line piece and what follows it.
inline constexpr std::size_t SF7_INPUT_BLOCK_SIZE = std::size_t{1} << 20;
inline constexpr std::size_t SF7_INPUT_MIN_BLOCK_SIZE = 4096;

// How a reading reads besides its options: the reference path, and small blocks.
struct Sf7ReadTuning {
  // Every line read with read_line_exact and every point line with scan_point_exact: the
  // reference that the tests and the benchmark compare the fast reading with.
  bool exact_path_only = false;
  // Tests make it small so that block boundaries fall everywhere in small inputs.
  std::size_t block_size = SF7_INPUT_BLOCK_SIZE;
};

// read_field_map and read_field_map_file with the tuning given.
NORVALEX_SF7_API void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map,
                                     const Sf7ReadTuning& tuning);
NORVALEX_SF7_API void read_field_map_file(const char* path, FieldMap& map,
                                          const Sf7ReadOptions& options,
                                          const Sf7ReadTuning& tuning);

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// One line as a 1024-byte line buffer holds it: at most 1023 characters, the line feed
// included when it fits, then a terminating zero.
inline constexpr std::size_t LINE_BUFFER_SIZE = 1024;
inline constexpr std::size_t LINE_PIECE_LIMIT = LINE_BUFFER_SIZE - 1;
struct LineBuffer {
  std::array<char, LINE_BUFFER_SIZE> text;
  std::size_t length;
};

// Reads the next line, or the next 1023 characters of a longer one, from a stream read as
// text: a carriage return right before a line feed is dropped. False when nothing is left.
NORVALEX_SF7_API bool read_line_exact(std::FILE* input, LineBuffer& line);

// White space between numbers, as "%lf" and strtod skip it: space, tab, line feed, vertical tab,
// form feed and carriage return.
inline bool is_scan_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Most numbers that the reading takes from one line, and so most columns of a table.
inline constexpr std::size_t SF7_MAX_LINE_NUMBERS = 32;

// Scans the numbers of one point line as glibc's "%lf" does: with glibc's sscanf where the C
// library is glibc, with scan_point_portable (sf7_portable_scan.h) elsewhere. Returns how many of
// the first six were found, stopping at the first that cannot be read.
NORVALEX_SF7_API int scan_point_exact(const char* line, std::span<double, SF7_COLUMN_COUNT> values);

// The same for the first values.size() numbers (at most SF7_MAX_LINE_NUMBERS): one sscanf with
// as many "%lf" directives (six go through scan_point_exact itself), or scan_numbers_portable
// where the C library is not glibc. Returns how many were found.
NORVALEX_SF7_API int scan_numbers_exact(const char* line, std::span<double> values);

} // namespace norvalex
