// The SF7 field-map reader: reads a field map written by the SF7 post-processor of Superfish (a
// free-form header with the grid's increment counts, a line of six column names, a line of six
// units, then one line of six numbers per grid point) into six columns of doubles in SI units,
// and writes such a map as the converter's TQS file. A reading keeps all its state in the
// caller's Sf7Reading: readings in several threads at once do not meet. Every failure throws
// norvalex::Error (error.h).
#pragma once

#include "norvalex/error.h"
#include "norvalex/tqs.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace norvalex {

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

struct FieldColumn {
  Sf7Word sf7_name;
  Sf7Word sf7_unit;
  const char* out_name; // the renaming table's name, or this column's own sf7_name
  const char* out_unit; // SI unit, shown in the progress line only
  double factor;
  std::unique_ptr<double[]> data; // dim1*dim2 values in point-line order; none for factor 0
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

// Receives one progress line, its "\n" included.
using Sf7ProgressFunction = void (*)(const char* line);

struct Sf7ReadOptions {
  Sf7ProgressFunction progress = nullptr; // the verbose progress lines go here; none when null
  // Threads that scan the point lines: 2, the reading's own and a helper that takes the far half
  // of each block of the input; 1 for the reading's own alone. The result is the same either way.
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
// point lines are scanned in place; a point line of an unusual form is read the way "%lf" reads
// it, so the result is the same in every bit as a line-by-line reading with sscanf.
NORVALEX_SF7_API void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map);

// Opens the file `path` as the SF7 input and reads it whole into `map`; a file that cannot be
// opened throws "<path>: <the system's text>".
NORVALEX_SF7_API void read_field_map_file(const char* path, FieldMap& map,
                                          const Sf7ReadOptions& options = {});

// A named column of doubles, borrowed from its owner.
struct DoubleColumn {
  const char* name;
  std::span<const double> values;
};

// The converter's TQS output, which the programs and the Python module share so that all write
// the same bytes: the file header of creator "NORVALEX" 1.0 (or its "creator" block when
// appending), then every column, in order, as an array block of doubles. A column too long for a
// block is refused as tqs_write_array refuses it.
NORVALEX_SF7_API void write_double_columns(TqsOutput& output,
                                           std::span<const DoubleColumn> columns);
// The two parts of it: the header, and one column's block.
NORVALEX_SF7_API void write_converter_header(TqsOutput& output);
NORVALEX_SF7_API void write_double_column(TqsOutput& output, const DoubleColumn& column);

// Writes the columns of `map` that have a factor other than 0, in file order, as
// write_double_columns does.
NORVALEX_SF7_API void write_field_map(TqsOutput& output, const FieldMap& map);

} // namespace norvalex
