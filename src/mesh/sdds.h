// elegant's SDDS files, version 1: a text header that declares columns, parameters and arrays,
// then pages of data, ASCII or binary in either byte order. The mesh layer reads the numeric
// columns a map needs from them, every count checked against the bytes that remain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

// The types of SDDS data: integers of 16, 32 and 64 bits (short, ushort, long, ulong, long64,
// ulong64), float, double, longdouble, string and character.
enum class SddsType { i16, u16, i32, u32, i64, u64, f32, f64, f128, string, character };

// "double", "long", ...: the type's name in a header.
const char* sdds_type_name(SddsType type);
inline bool sdds_is_number(SddsType type) {
  return type != SddsType::string && type != SddsType::character;
}

// A column, parameter or array of the header.
struct SddsItem {
  std::string name;
  std::string units;
  SddsType type = SddsType::f64;
  std::int64_t dimensions = 1; // an array's
  bool fixed = false;          // a parameter of fixed_value, which the pages do not hold
};

struct SddsHeader {
  std::vector<SddsItem> columns;
  std::vector<SddsItem> parameters;
  std::vector<SddsItem> arrays;
  bool binary = true;
  bool big_endian = false;
  bool column_major = false;  // binary: each column's values together
  bool no_row_counts = false; // ASCII: pages without a row count end at a blank line
  std::int64_t additional_header_lines = 0;
  std::size_t data_start = 0;    // the header's bytes
  std::int32_t header_lines = 0; // its lines, for the located errors of ASCII data
};

// elegant takes positions for uniform when 1 - d_min/d_max is at most this.
inline constexpr double SDDS_UNIFORM_LIMIT = 1e-4;

// How far increasing positions are from uniform, 1 - d_min/d_max; the index of the first one
// that does not increase, if any.
struct SddsSteps {
  double unevenness = 0;
  std::optional<std::size_t> not_increasing;
};
SddsSteps sdds_steps(std::span<const double> positions);

// Reads the header at the start of `bytes`; a defect throws "<path>(<line>): ...".
SddsHeader read_sdds_header(const char* path, std::string_view bytes);

// The index of the column `name` in the header, or none.
std::optional<std::size_t> find_sdds_column(const SddsHeader& header, std::string_view name);

// The values of the numeric columns `wanted` (indexes of header.columns) on one page, in the
// order of `wanted`.
using SddsPage = std::vector<std::vector<double>>;

// Reads the pages of data after the header, at most `max_pages` of them (all when 0). A defect
// throws "<path>(<line>): ..." in ASCII data, "<path>: page <n>: ..." in binary data.
std::vector<SddsPage> read_sdds_pages(const char* path, std::string_view bytes,
                                      const SddsHeader& header, std::span<const std::size_t> wanted,
                                      std::size_t max_pages);

} // namespace norvalex
