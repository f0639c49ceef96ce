// An SF7 table with every column of its names line: the reading that the converter's
// read_field_map is one case of (the first six columns, the converter's unit table, the rest of
// each line not read), for the libraries above the reader that need every column (a
// magnetostatic table has nine: X Y Bx By |B| Az dBy/dy dBy/dx dBx/dy). The same header search,
// line rules, exact number reading, fast path, helper thread and messages as the converter's.
#pragma once

#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_point_scan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace norvalex {

// The columns a table may have: the two coordinates at least, SF7_MAX_LINE_NUMBERS at most.
inline constexpr std::size_t SF7_TABLE_MIN_COLUMNS = 2;
inline constexpr std::size_t SF7_TABLE_MAX_COLUMNS = SF7_MAX_LINE_NUMBERS;

// A whole table. It may be moved (the columns stay where they are, and with them the names that
// out_name points to), not copied.
struct Sf7Table {
  // As in FieldMap: point counts along the first and the second named coordinate; the first
  // varies fastest, and each column holds dim1*dim2 values in the order of the point lines.
  std::int32_t dim1 = 0;
  std::int32_t dim2 = 0;
  int increment_counts = 0; // counts on the increments line: 2, or 1 for a line of points
  // The two lines read right before the increments line, without their line feed, the nearer
  // one last: "(Zmin,Rmin) = (50,0.0)" and "(Zmax,Rmax) = (60,10)" in the solver's header. A
  // line longer than the line buffer counts as its pieces, as everywhere in the reading; a place
  // with no line before it stays empty.
  std::array<std::string, 2> corner_lines;
  // Every column of the names line, in file order; a column whose unit has the factor 0 has no
  // array.
  std::vector<FieldColumn> columns;
};

// Reads the whole table from `input` into `table`, with every column that the names line names.
// The names line defines the column count N, from SF7_TABLE_MIN_COLUMNS ("Can not find 2 array
// names" below) to SF7_TABLE_MAX_COLUMNS ("More than 32 array names" above). The units line
// must give N units ("Can not find N array units"), each found in `units`, rows of UnitRule
// ended by a row with a null sf7_unit, like unit_rules ("Unknown unit: %s for column %s"); names
// are renamed by name_rules. A point line must start with N numbers ("Error reading point
// (i,j)"). Words after the N-th of the units line and text after the N-th number of a point line
// are not read, as the converter does not read the columns after the sixth. Every other rule,
// message and progress line is the converter's (read_field_map). On an error, `table` holds
// what was read up to it.
NORVALEX_SF7_API void read_sf7_table(std::FILE* input, Sf7Reading& reading, Sf7Table& table,
                                     std::span<const UnitRule> units,
                                     const Sf7ReadTuning& tuning = {});

// Opens the file `path` as the SF7 input and reads it whole into `table`, as
// read_field_map_file does for a map.
NORVALEX_SF7_API void read_sf7_table_file(const char* path, Sf7Table& table,
                                          std::span<const UnitRule> units,
                                          const Sf7ReadOptions& options = {},
                                          const Sf7ReadTuning& tuning = {});

} // namespace norvalex
