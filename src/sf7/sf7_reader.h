// Reads a field map written by the SF7 post-processor of Superfish: a free-form header with the
// grid's increment counts, a line of six column names, a line of six units, then one line of six
// numbers per grid point. The map is held in memory as six columns of doubles in SI units.
// A reading keeps all its state in the caller's Sf7Reading: readings in several threads at once
// do not meet.
#pragma once

#include "../diag/api.h"
#include "../diag/error.h" // failures throw norvalex::Error

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

inline constexpr int SF7_COLUMN_COUNT = 6;

// Names and units are 8-byte text fields: at most 7 bytes and a terminating zero.
inline constexpr std::size_t SF7_WORD_FIELD_SIZE = 8;
using Sf7Word = std::array<char, SF7_WORD_FIELD_SIZE>;

// Largest grid whose arrays of doubles have a byte size that fits in 32 bits.
inline constexpr std::int64_t SF7_MAX_POINTS = 536'870'911;

// Maps a column name, matched byte for byte, to the array name written to the output.
struct NameRule {
  const char* sf7_name;
  const char* out_name;
};

// Maps a unit, matched byte for byte, to its SI unit and the factor that converts to it.
// A factor of 0 drops the column: it is read but gets no array and no output block.
struct UnitRule {
  const char* sf7_unit;
  const char* si_unit;
  double factor;
};

// Both tables end with a row of null texts.
extern NORVALEX_SF7_API const std::array<NameRule, 5> name_rules;
extern NORVALEX_SF7_API const std::array<UnitRule, 9> unit_rules;

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

struct FieldColumn {
  Sf7Word sf7_name;
  Sf7Word sf7_unit;
  const char* out_name; // the renaming table's name, or this column's own sf7_name
  const char* out_unit; // SI unit, shown in the progress line only
  double factor;
  std::unique_ptr<double[], FreeDeleter> data; // dim1*dim2 values in point-line order
};

// Filled in place and never copied or moved: out_name may point into the map itself.
struct FieldMap {
  // Point counts along the first and the second named coordinate (Z and R for "Z and R
  // increments"). Real files vary the first fastest: a column is dim2 runs of dim1 values, kept
  // in line order. The point messages call point line n "(n / dim2, n % dim2)" all the same.
  std::int32_t dim1 = 0;
  std::int32_t dim2 = 0;
  std::array<FieldColumn, SF7_COLUMN_COUNT> columns{};

  FieldMap() = default;
  FieldMap(const FieldMap&) = delete;
  FieldMap& operator=(const FieldMap&) = delete;
};

// Size of the blocks the input is read in, and the smallest one accepted: a block always holds
// a whole line piece and what follows it.
inline constexpr std::size_t SF7_INPUT_BLOCK_SIZE = std::size_t{1} << 20;
inline constexpr std::size_t SF7_INPUT_MIN_BLOCK_SIZE = 4096;

// Receives one progress line, its "\n" included.
using Sf7ProgressFunction = void (*)(const char* line);

struct Sf7ReadOptions {
  Sf7ProgressFunction progress = nullptr; // the verbose progress lines go here; none when null
  // Every line read with read_line_exact and every point line with scan_point_exact: the
  // reference that the tests and the benchmark compare the fast reading with.
  bool exact_path_only = false;
  // Tests make it small so that block boundaries fall everywhere in small inputs.
  std::size_t block_size = SF7_INPUT_BLOCK_SIZE;
  // Threads that scan the point lines of the block reading: 2, the reading's own and a helper
  // that takes the far half of each block; 1 for the reading's own alone. The result is the
  // same either way.
  int scan_threads = 2;
};

// One reading of one input, kept by the caller: the input's name and the number of lines read
// so far (0 before the first), which locate its errors, and its options.
struct Sf7Reading {
  const char* file_name = "";
  std::int32_t line_number = 0;
  Sf7ReadOptions options{};
};

// Reads the whole map from `input` into `map`. Every defect of the input throws norvalex::Error
// located at `reading`'s file name and line count; an input that cannot be read, or arrays that
// cannot be allocated, throw it without a location. The input is read in large blocks and the
// point lines are scanned in place; a point line of an unusual form is read by the exact path
// below, so the result is the exact path's in every bit.
NORVALEX_SF7_API void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map);

// Opens the file `path` as the SF7 input and reads it whole into `map`; a file that cannot be
// opened throws "<path>: <the system's text>".
NORVALEX_SF7_API void read_field_map_file(const char* path, FieldMap& map,
                                          const Sf7ReadOptions& options = {});

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

// Scans the numbers of one point line as glibc's "%lf" does: with glibc's sscanf where the C
// library is glibc, with scan_point_portable (sf7_portable_scan.h) elsewhere. Returns how many of
// the first six were found, stopping at the first that cannot be read.
NORVALEX_SF7_API int scan_point_exact(const char* line, std::span<double, SF7_COLUMN_COUNT> values);
