// CST's text exports of a field on a grid: a line of column names, each with its unit in
// brackets (`x [mm] y [mm] z [mm] ExRe [V/m] ExIm [V/m] ...`), a line of dashes, then one point
// a line. The columns are found by their names and units, in whatever order they stand; the
// fields are complex amplitudes as exp(+jwt), taken as their conjugates.
#include "mesh/export_forms.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/point_table.h"
#include "text/number_scan.h"

#include <optional>
#include <string>
#include <vector>

namespace norvalex {

namespace {

// A line of dashes, maybe between blanks.
bool is_dash_line(std::string_view line) {
  std::size_t dashes = 0;
  for (const char c : line) {
    if (c == '-')
      ++dashes;
    else if (!is_scan_space(c))
      return false;
  }
  return dashes >= 3;
}

// A column of the names line: its name and the unit in brackets after it.
struct NamedColumn {
  std::string_view name;
  std::optional<std::string_view> unit;
};

std::vector<NamedColumn> named_columns(const char* path, std::string_view line) {
  std::vector<NamedColumn> columns;
  const auto unit_missing = [&] {
    if (!columns.empty() && !columns.back().unit) {
      raise_input_error(path, 1, "Column %s has no unit in brackets",
                        escape_control_bytes(columns.back().name).c_str());
    }
  };
  for (std::size_t p = 0; p < line.size();) {
    if (is_scan_space(line[p])) {
      ++p;
    } else if (line[p] == '[') {
      const std::size_t close = line.find(']', p);
      if (close == std::string_view::npos || columns.empty() || columns.back().unit) {
        raise_input_error(path, 1, "Unit %s follows no column name",
                          escape_control_bytes(line.substr(p, close - p + 1)).c_str());
      }
      columns.back().unit = line.substr(p + 1, close - p - 1);
      p = close + 1;
    } else {
      unit_missing();
      const std::size_t start = p;
      while (p < line.size() && !is_scan_space(line[p]) && line[p] != '[')
        ++p;
      columns.push_back({line.substr(start, p - start), std::nullopt});
    }
  }
  unit_missing();
  return columns;
}

// The axis of the letter `c`, x to z in either case, or -1.
int axis_of(char c) {
  const std::string_view axes = "xyzXYZ";
  const std::size_t at = axes.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at % 3);
}

} // namespace

// The names line holds a unit in brackets, and the line under it is dashes.
bool cst_signature(const FileStart& start) {
  const std::string_view names = line_of_text(start.bytes, 0);
  const std::size_t open = names.find('[');
  return open != std::string_view::npos && names.find(']', open) != std::string_view::npos &&
         is_dash_line(line_of_text(start.bytes, 1));
}

FieldMesh read_cst_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  std::string names;
  std::string dashes;
  if (!read_header_line(stream.get(), path, 1, names))
    raise_input_failure(path, 0, "%s: an empty file holds no field map", path);
  if (!read_header_line(stream.get(), path, 2, dashes) || !is_dash_line(dashes))
    raise_input_error(path, 2, "Not a CST export: a line of dashes expected under the names");
  const std::vector<NamedColumn> named = named_columns(path, names);
  if (named.size() > POINT_TABLE_MAX_COLUMNS)
    raise_input_error(path, 1, "More than %zu columns", POINT_TABLE_MAX_COLUMNS);
  PointColumns columns(path);
  for (std::size_t k = 0; k < named.size(); ++k) {
    const std::string_view name = named[k].name;
    const std::string_view unit = *named[k].unit;
    // x, y, z; E, H or B with an axis letter, whole (a static field) or ending in Re or Im.
    if (name.size() == 1 && axis_of(name[0]) >= 0) {
      columns.add_coordinate(1, k, axis_of(name[0]), name, unit);
      continue;
    }
    if (name.size() < 2 || std::string_view("EHB").find(name[0]) == std::string_view::npos ||
        axis_of(name[1]) < 0)
      continue; // a column of something else
    const std::string_view part = name.substr(2);
    if (part.empty())
      columns.add_field(1, k, name[0], axis_of(name[1]), ValuePart::whole, name, unit);
    else if (part == "Re" || part == "re")
      columns.add_field(1, k, name[0], axis_of(name[1]), ValuePart::real, name, unit);
    else if (part == "Im" || part == "im")
      columns.add_field(1, k, name[0], axis_of(name[1]), ValuePart::imaginary, name, unit);
  }
  const PointTable table = columns.table(1, named.size(), true);
  return read_table_mesh(path, stream.get(), {platform_tell(stream.get()), 2}, table, options,
                         MeshForm::cst, "a CST export");
}

} // namespace norvalex
