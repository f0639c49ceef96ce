// SF7 tables as meshes: every column read, the grid taken from the header's corner lines and
// increment counts, the columns told by name and unit: field components (Ez, Er, Bx, By, H,
// ...), derived magnitudes (|E|, |B|, left out), coordinates (the grid itself) and the table's
// other columns (potentials, gradients, ...).
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/sf7_tqs.h"
#include "sf7/sf7_table.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

namespace {

bool is_unit(const FieldColumn& column, std::string_view unit) {
  return column.sf7_unit.data() == unit;
}

// What a column is in a mesh.
enum class ColumnRole { component, magnitude, other };

struct ColumnMeaning {
  ColumnRole role = ColumnRole::other;
  FieldKind field = FieldKind::electric;
  std::string axis; // of a component
};

// A coordinate of the grid, by the column's name: "r", "z", "x" or "y", or empty.
std::string coordinate_axis(const FieldColumn& column) {
  const std::string_view name = column.sf7_name.data();
  if (name.size() != 1 || (!is_unit(column, "(cm)") && !is_unit(column, "(mm)")))
    return {};
  switch (name[0]) {
  case 'R':
    return "r";
  case 'Z':
    return "z";
  case 'X':
    return "x";
  case 'Y':
    return "y";
  default:
    return {};
  }
}

ColumnMeaning meaning_of(const FieldColumn& column, const FieldMesh& mesh) {
  const std::string_view name = column.sf7_name.data();
  const std::string_view out_name = column.out_name;
  if (out_name == "|E|" || out_name == "|B|")
    return {ColumnRole::magnitude, FieldKind::electric, {}};
  // H-phi of an RF map, "H" or the code page 437 "H" with phi: the field round the axis, or
  // across the plane of a rectangular map.
  if ((name == "H" || out_name == "Bphi") && is_unit(column, "(A/m)")) {
    return {ColumnRole::component, FieldKind::magnetic,
            mesh.geometry == MeshGeometry::cylindrical ? "theta" : "z"};
  }
  if (name.size() == 2 && (name[0] == 'E' || name[0] == 'B')) {
    const bool electric = name[0] == 'E';
    const bool unit_fits =
        electric ? is_unit(column, "(MV/m)") || is_unit(column, "(V/cm)") : is_unit(column, "(G)");
    const std::string axis(1, name[1]);
    if (unit_fits && axis_index(mesh, axis) >= 0)
      return {ColumnRole::component, electric ? FieldKind::electric : FieldKind::magnetic, axis};
  }
  return {};
}

// Values of the coordinate pair in a corner line "(Zmin,Rmin) = (50,0.0)": the two names' first
// letters and the two numbers.
struct Corner {
  char first_name;
  char second_name;
  double first;
  double second;
};

bool parse_corner(const std::string& line, Corner& corner) {
  const char* p = line.c_str();
  while (*p == ' ')
    ++p;
  if (*p != '(')
    return false;
  corner.first_name = p[1];
  const char* comma = std::strchr(p, ',');
  const char* equals = std::strchr(p, '=');
  if (comma == nullptr || equals == nullptr || comma > equals)
    return false;
  corner.second_name = comma[1];
  const char* open = std::strchr(equals, '(');
  if (open == nullptr)
    return false;
  char* stop = nullptr;
  corner.first = std::strtod(open + 1, &stop);
  if (stop == open + 1 || *stop != ',')
    return false;
  const char* second = stop + 1;
  corner.second = std::strtod(second, &stop);
  return stop != second && *stop == ')' && std::isfinite(corner.first) &&
         std::isfinite(corner.second);
}

[[noreturn]] void raise_not_a_mesh(const char* path, const char* why) {
  raise_input_failure(path, 0, "%s: not readable as a mesh: %s", path, why);
}

// The mesh's axis of the coordinate named by `letter` (R, Z, X or Y), or -1.
int axis_of_letter(const FieldMesh& mesh, char letter) {
  const char label[2] = {static_cast<char>(letter - 'A' + 'a'), '\0'};
  return axis_index(mesh, label);
}

// Each point's coordinates in the first two columns must be where the corner lines put it, up to
// the few digits the solver prints them with: a quarter of a step, or of the axis's own size
// for an axis of one point.
void check_coordinates(const Sf7Table& table, const char* path, const MeshAxis& fast,
                       const MeshAxis& slow) {
  const auto points = static_cast<std::size_t>(table.dim1) * static_cast<std::size_t>(table.dim2);
  const bool line = table.increment_counts == 1;
  const MeshAxis* along[2] = {&fast, &slow};
  for (std::size_t c = 0; c < 2; ++c) {
    const MeshAxis& axis = *along[c];
    const double* values = table.columns[c].data.get();
    const double tolerance =
        axis.points > 1 ? axis.spacing / 4 : 1e-6 * std::max(std::abs(axis.origin), 1e-3);
    for (std::size_t n = 0; n < points; ++n) {
      // The first named coordinate varies fastest in the table; a line of points runs along
      // its axis of more than one point.
      std::size_t step = c == 0 ? n % static_cast<std::size_t>(table.dim1)
                                : n / static_cast<std::size_t>(table.dim1);
      if (line)
        step = axis.points > 1 ? n : 0;
      const double expected = axis.origin + static_cast<double>(step) * axis.spacing;
      if (!(std::abs(values[n] - expected) <= tolerance)) {
        raise_input_failure(
            path, 0,
            "%s: not readable as a mesh: its %s column gives %g m at point "
            "(%llu,%llu), where its corner lines put %g m",
            path, table.columns[c].sf7_name.data(), values[n],
            static_cast<unsigned long long>(n / static_cast<std::size_t>(table.dim2)),
            static_cast<unsigned long long>(n % static_cast<std::size_t>(table.dim2)), expected);
      }
    }
  }
}

// Two columns of one field component (Ez twice, or H and Bphi), or two other columns of one
// name, leave no one value for it.
void refuse_repeated_columns(const Sf7Table& table, const char* path, const FieldMesh& mesh) {
  std::vector<std::string> seen;
  for (std::size_t k = 2; k < table.columns.size(); ++k) {
    const FieldColumn& column = table.columns[k];
    const ColumnMeaning meaning = meaning_of(column, mesh);
    if (meaning.role == ColumnRole::magnitude)
      continue;
    const std::string holds = meaning.role == ColumnRole::component
                                  ? MeshComponent{meaning.field, meaning.axis, {}}.name()
                                  : std::string(column.out_name);
    if (std::find(seen.begin(), seen.end(), holds) != seen.end())
      raise_input_failure(path, 0, "%s: not readable as a mesh: two of its columns hold %s", path,
                          holds.c_str());
    seen.push_back(holds);
  }
}

} // namespace

// The converter's units and the solver's gradient unit, with H kept in A/m: B-theta is made from
// it with mu0, and the TQS form multiplies it by the converter's factor.
std::span<const UnitRule> sf7_mesh_units() {
  static const std::array<UnitRule, unit_rules.size() + 1> rules = [] {
    auto table = units_with_gradient();
    for (UnitRule& rule : table) {
      if (rule.sf7_unit != nullptr && std::strcmp(rule.sf7_unit, "(A/m)") == 0)
        rule = {"(A/m)", "A/m", 1};
    }
    return table;
  }();
  return rules;
}

namespace {

// The grid's axes from the corner lines, checked against the coordinate columns.
void set_grid(FieldMesh& mesh, const Sf7Table& table, const char* path, int fast_axis,
              int slow_axis) {
  Corner low{};
  Corner high{};
  if (!parse_corner(table.corner_lines[0], low) || !parse_corner(table.corner_lines[1], high) ||
      axis_of_letter(mesh, low.first_name) != fast_axis ||
      axis_of_letter(mesh, low.second_name) != slow_axis) {
    raise_not_a_mesh(path, "no corner lines \"(min,min) = (a,b)\" of its coordinates before the "
                           "increments line");
  }
  if (table.columns[0].sf7_unit != table.columns[1].sf7_unit)
    raise_not_a_mesh(path, "its two coordinates are in different units");
  MeshAxis& fast = mesh.axes[static_cast<std::size_t>(fast_axis)];
  // The corner lines are in the coordinates' unit: cm as the solver writes them, or mm.
  const bool millimetres = is_unit(table.columns[0], "(mm)");
  const double to_metres = millimetres ? 1000 : 100;
  const double cm_per_unit = millimetres ? 0.1 : 1;
  MeshAxis& slow = mesh.axes[static_cast<std::size_t>(slow_axis)];
  const std::int64_t fast_intervals = table.dim1 - 1;
  const std::int64_t slow_intervals = table.dim2 - 1;
  if (table.increment_counts == 1) {
    // A line of points: a mesh when it runs along one coordinate, the other one constant.
    if (low.second == high.second && low.first != high.first) {
      fast.points = table.dim1;
      fast.origin = low.first / to_metres;
      fast.spacing = spacing_of(low.first, high.first, fast_intervals) * cm_per_unit;
      slow.origin = low.second / to_metres;
    } else if (low.first == high.first && low.second != high.second) {
      slow.points = table.dim1;
      slow.origin = low.second / to_metres;
      slow.spacing = spacing_of(low.second, high.second, fast_intervals) * cm_per_unit;
      fast.origin = low.first / to_metres;
    } else {
      raise_not_a_mesh(path, "its line of points runs along no coordinate (read it as columns)");
    }
  } else {
    fast.points = table.dim1;
    fast.origin = low.first / to_metres;
    fast.spacing = spacing_of(low.first, high.first, fast_intervals) * cm_per_unit;
    slow.points = table.dim2;
    slow.origin = low.second / to_metres;
    slow.spacing = spacing_of(low.second, high.second, slow_intervals) * cm_per_unit;
  }
  if ((fast.points > 1 && !(fast.spacing > 0)) || (slow.points > 1 && !(slow.spacing > 0)))
    raise_not_a_mesh(path, "its corner lines give no grid of increasing coordinates");
  check_coordinates(table, path, fast, slow);
}

} // namespace

FieldMesh sf7_table_mesh(Sf7Table& table, const char* path, const MeshReadOptions& options,
                         bool keep_table) {
  if (table.columns.size() < 2)
    raise_not_a_mesh(path, "fewer than two columns");
  const std::string first_axis = coordinate_axis(table.columns[0]);
  const std::string second_axis = coordinate_axis(table.columns[1]);
  const bool cylindrical =
      (first_axis == "r" && second_axis == "z") || (first_axis == "z" && second_axis == "r");
  const bool rectangular =
      (first_axis == "x" && second_axis == "y") || (first_axis == "y" && second_axis == "x");
  if (!cylindrical && !rectangular)
    raise_not_a_mesh(path, "its first two columns are not R and Z, or X and Y, in (cm) or (mm)");
  FieldMesh mesh = new_mesh(cylindrical ? MeshGeometry::cylindrical : MeshGeometry::rectangular);
  mesh.source = {path, MeshForm::sf7, ProblemKind::unknown, {}};
  const int fast_axis = axis_index(mesh, first_axis);
  const int slow_axis = axis_index(mesh, second_axis);
  set_grid(mesh, table, path, fast_axis, slow_axis);

  bool rf = false;
  bool electric = false;
  bool magnetic = false;
  for (const FieldColumn& column : table.columns) {
    rf |= is_unit(column, "(MV/m)") || is_unit(column, "(A/m)");
    electric |= is_unit(column, "(V/cm)") || is_unit(column, "(V)");
    magnetic |= is_unit(column, "(G)") || is_unit(column, "(G-cm)");
  }
  set_problem(mesh, path, options, rf, electric, magnetic, "an RF table");
  refuse_repeated_columns(table, path, mesh);

  // The first named coordinate varies fastest in the table: transposed when it is the mesh's
  // slower axis.
  const PointOrder order{static_cast<std::size_t>(table.dim1), static_cast<std::size_t>(table.dim2),
                         table.increment_counts == 2 && fast_axis < slow_axis};
  const std::size_t points = mesh.point_count();
  // The first two columns are the grid's coordinates.
  for (std::size_t k = 2; k < table.columns.size(); ++k) {
    FieldColumn& column = table.columns[k];
    const ColumnMeaning meaning = meaning_of(column, mesh);
    if (!column.data || meaning.role == ColumnRole::magnitude)
      continue;
    const double* const values = column.data.get();
    if (meaning.role == ColumnRole::component) {
      MeshComponent* component = add_component(mesh, meaning.field, meaning.axis);
      if (component == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      std::complex<double>* const out = component->values.data();
      // H-phi in A/m: with fields as exp(-iwt), B-theta = -i mu0 H-phi.
      const bool h_phi = is_unit(column, "(A/m)");
      for (std::size_t n = 0; n < points; ++n) {
        out[order.index(n)] = h_phi ? std::complex<double>(0, -(MESH_MU0 * values[n]))
                                    : std::complex<double>(values[n], 0);
      }
    } else {
      MeshColumn* extra = add_column(mesh, column.out_name, column.out_unit);
      if (extra == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      for (std::size_t n = 0; n < points; ++n)
        extra->values[order.index(n)] = values[n];
    }
    if (!keep_table)
      column.data.reset(); // converted: the table's copy goes at once
  }
  order_components(mesh);
  return mesh;
}

FieldMesh read_sf7_mesh(const char* path, const MeshReadOptions& options) {
  Sf7Table table;
  read_sf7_table_file(path, table, sf7_mesh_units());
  return sf7_table_mesh(table, path, options, false);
}

} // namespace norvalex
