// Tables of points, one point a line, as the 3-D solvers export their maps (CST, HFSS, Opera):
// columns of coordinates and of field values, named with units in the file's header. A form's
// reader names the columns (PointColumns); the engine finds the grid that the points form from
// the coordinates themselves, checks every point against it, and reads the values straight into
// the mesh's components, on two threads for a large file.
#pragma once

#include "norvalex/mesh.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

// Most columns a table's rows may hold.
inline constexpr std::size_t POINT_TABLE_MAX_COLUMNS = 256;
inline constexpr std::size_t NO_COLUMN = SIZE_MAX;

// What a column's unit measures: a length (m), E (V/m), H (A/m) or B (T).
enum class UnitKind { length, electric, magnetizing, flux_density };
struct ColumnUnit {
  UnitKind kind;
  double factor; // to m, V/m, A/m or T
};
// The unit spelt `name` ("mm", "V/m", "CENTIMETRE", "GAUSS", ...), or none.
std::optional<ColumnUnit> find_column_unit(std::string_view name);

// A coordinate column: its place in a row, its unit as the file writes it and the factor to m.
struct CoordinateColumn {
  std::size_t column = NO_COLUMN;
  std::string unit;
  double factor = 1;
};

// The columns of one field component: its real part and, for an RF map, its imaginary part,
// with the factors to V/m or T (a negative imaginary factor takes the complex conjugate).
struct ComponentColumns {
  FieldKind field = FieldKind::electric;
  int axis = 0; // 0, 1 or 2: x, y or z
  std::size_t real = NO_COLUMN;
  std::size_t imaginary = NO_COLUMN; // NO_COLUMN for a static field
  double real_factor = 1;
  double imaginary_factor = 1;
};

struct PointTable {
  std::size_t columns = 0;                     // numbers a row
  std::array<CoordinateColumn, 3> coordinates; // x, y, z
  std::vector<ComponentColumns> components;
  // The points along x, y and z that the header states (Opera's), checked against the grid.
  std::optional<std::array<std::int64_t, 3>> stated_points;

  bool rf() const { return !components.empty() && components[0].imaginary != NO_COLUMN; }
};

// Which part of a component a column holds.
enum class ValuePart { whole, real, imaginary };

// The columns as a header names them, each checked as it comes; `table` checks the whole.
// Messages are located at the header's line of the column.
class PointColumns {
public:
  explicit PointColumns(const char* path) : path_(path) {}

  // Column `column`, named `name`, is the coordinate along `axis` (0 to 2) in `unit`.
  void add_coordinate(std::int32_t line, std::size_t column, int axis, std::string_view name,
                      std::string_view unit);
  // Column `column` holds `part` of field `letter` (E, H or B) along `axis` in `unit`.
  void add_field(std::int32_t line, std::size_t column, char letter, int axis, ValuePart part,
                 std::string_view name, std::string_view unit);
  // The table of `columns` numbers a row: x, y and z, then at least one component, each whole
  // (static) or of a real and an imaginary part (RF), never both kinds; with `conjugate`, the
  // imaginary parts change sign.
  PointTable table(std::int32_t line, std::size_t columns, bool conjugate);

private:
  struct Named {
    std::string name;
    std::size_t column = NO_COLUMN;
    double factor = 1;
  };
  struct Component {
    FieldKind field;
    int axis;
    std::array<Named, 3> parts; // whole, real, imaginary
  };
  Component& component_of(FieldKind field, int axis);

  const char* path_;
  PointTable table_;
  std::array<std::string, 3> coordinate_names_;
  std::vector<Component> components_;
};

// Reads the next line of a header into `line`, without its line end (LF or CR LF): false at
// the end of the file. A line of more than 64 KiB throws, located at `line_number`.
bool read_header_line(std::FILE* stream, const char* path, std::int32_t line_number,
                      std::string& line);

// The words of a line, split at white space.
std::vector<std::string_view> words_of(std::string_view line);

// Line `n` (from 0) of a file's first bytes, without its line end; empty past them.
std::string_view line_of_text(std::string_view text, int n);

// Where the points start: the byte offset of the line after the header, and the header's lines.
struct TableStart {
  std::int64_t offset = 0;
  std::int32_t lines = 0;
};

// Reads the points of `table` from `stream`, the file `path` of `form`, as a rectangular mesh:
// an RF map when its components are complex, which needs the options' frequency (`what` names
// the form in that message), else a static one. The file must be a regular one, read twice: the
// start of its points and its last point tell the grid, then every point is checked against it
// and its values go straight into the mesh's components. Every defect throws its located error.
FieldMesh read_table_mesh(const char* path, std::FILE* stream, TableStart start,
                          const PointTable& table, const MeshReadOptions& options, MeshForm form,
                          const char* what);

} // namespace norvalex
