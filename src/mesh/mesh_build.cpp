#include "mesh/mesh_build.h"

#include "diag/raise.h"

#include <cctype>
#include <cerrno>
#include <cmath>

#include <algorithm>
#include <string>

namespace norvalex {

OwnedFile open_mesh_input(const char* path) {
  OwnedFile stream(platform_open_input(path));
  if (!stream) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  return stream;
}

const std::array<const char*, 3>& axis_labels(MeshGeometry geometry) {
  static constexpr std::array<const char*, 3> CYLINDRICAL{"r", "theta", "z"};
  static constexpr std::array<const char*, 3> RECTANGULAR{"x", "y", "z"};
  return geometry == MeshGeometry::cylindrical ? CYLINDRICAL : RECTANGULAR;
}

std::string lower_case(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

FieldMesh new_mesh(MeshGeometry geometry) {
  FieldMesh mesh;
  mesh.geometry = geometry;
  for (std::size_t k = 0; k < mesh.axes.size(); ++k) {
    mesh.axes[k].label = axis_labels(geometry)[k];
  }
  return mesh;
}

int axis_index(const FieldMesh& mesh, std::string_view label) {
  for (std::size_t k = 0; k < mesh.axes.size(); ++k) {
    if (mesh.axes[k].label == label) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

MeshComponent* add_component(FieldMesh& mesh, FieldKind field, std::string_view axis) {
  MeshArray<std::complex<double>> values(mesh.point_count());
  if (values.data() == nullptr) {
    return nullptr;
  }
  return &mesh.components.emplace_back(MeshComponent{field, std::string(axis), std::move(values)});
}

void order_components(FieldMesh& mesh) {
  const auto rank = [&](const MeshComponent& component) {
    return (component.field == FieldKind::electric ? 0 : 3) + axis_index(mesh, component.axis);
  };
  std::stable_sort(
      mesh.components.begin(), mesh.components.end(),
      [&](const MeshComponent& a, const MeshComponent& b) { return rank(a) < rank(b); });
}

MeshColumn* add_column(FieldMesh& mesh, std::string_view name, std::string_view unit) {
  MeshArray<double> values(mesh.point_count());
  if (values.data() == nullptr) {
    return nullptr;
  }
  return &mesh.columns.emplace_back(
      MeshColumn{std::string(name), std::string(unit), std::move(values)});
}

double converter_h_factor() {
  for (const UnitRule* rule = unit_rules.data(); rule->sf7_unit != nullptr; ++rule) {
    if (std::string_view(rule->sf7_unit) == "(A/m)")
      return rule->factor;
  }
  return 1;
}

std::array<UnitRule, unit_rules.size() + 1> units_with_gradient() {
  std::array<UnitRule, unit_rules.size() + 1> rules{};
  std::copy(unit_rules.begin(), unit_rules.end() - 1, rules.begin());
  rules[unit_rules.size() - 1] = {"(G/cm)", "T/m", 0.01};
  rules[unit_rules.size()] = unit_rules.back(); // the closing row
  return rules;
}

double frequency_of_options(const char* path, const MeshReadOptions& options, const char* what) {
  if (!options.frequency && !options.frequency_may_be_unknown) {
    raise_input_failure(path, 0, "%s: %s states no frequency: give the frequency in Hz", path,
                        what);
  }
  if (options.frequency && (!std::isfinite(*options.frequency) || !(*options.frequency > 0)))
    raise_input_failure(path, 0, "%s: the frequency must be a positive number of Hz", path);
  return options.frequency.value_or(0);
}

void set_problem(FieldMesh& mesh, const char* path, const MeshReadOptions& options, bool rf,
                 bool electric, bool magnetic, const char* what) {
  if (!rf) {
    if (electric != magnetic)
      mesh.source.problem = electric ? ProblemKind::electrostatic : ProblemKind::magnetostatic;
    return;
  }
  mesh.frequency = frequency_of_options(path, options, what);
  mesh.harmonic = 1;
  mesh.source.problem = ProblemKind::rf;
}

std::optional<std::size_t> grid_points(const std::array<MeshAxis, 3>& axes) {
  std::int64_t points = 1;
  for (const MeshAxis& axis : axes) {
    if (axis.points < 1 || axis.points > MESH_MAX_POINTS / points)
      return std::nullopt;
    points *= axis.points;
  }
  return static_cast<std::size_t>(points);
}

std::optional<std::size_t> listed_axis(std::span<const double> coordinates, MeshAxis& axis) {
  const std::size_t count = coordinates.size();
  axis.points = static_cast<std::int64_t>(count);
  axis.origin = coordinates[0];
  axis.spacing =
      count > 1 ? (coordinates[count - 1] - coordinates[0]) / static_cast<double>(count - 1) : 0;
  if (count > 1 && !(axis.spacing > 0 && std::isfinite(axis.spacing)))
    return count - 1;
  const double room = GRID_TOLERANCE * axis.spacing;
  for (std::size_t k = 0; k < count; ++k) {
    const double expected = axis.origin + static_cast<double>(k) * axis.spacing;
    if (!std::isfinite(coordinates[k]) || !(std::abs(coordinates[k] - expected) <= room))
      return k;
  }
  return std::nullopt;
}

void check_values_fit(std::FILE* stream, const char* name, std::int32_t line,
                      std::uint64_t values) {
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = -1;
  if (platform_file_status(stream, kind, length) == 0 && kind == PlatformFileKind::regular &&
      values * 2 - 1 > static_cast<std::uint64_t>(length)) {
    raise_input_error(name, line,
                      "The grid needs %llu values, more than the file's %lld bytes can hold",
                      static_cast<unsigned long long>(values), static_cast<long long>(length));
  }
}

bool same_grid_axis(const MeshAxis& grid, const MeshAxis& axis) {
  const double room = GRID_TOLERANCE * grid.spacing;
  const auto end = [](const MeshAxis& a) {
    return a.origin + a.spacing * static_cast<double>(a.points - 1);
  };
  return axis.points == grid.points && std::abs(axis.origin - grid.origin) <= room &&
         std::abs(end(axis) - end(grid)) <= room;
}

std::string axis_extent_text(const MeshAxis& axis) {
  return std::to_string(axis.points) + " from " + number_text(axis.origin) + " to " +
         number_text(axis.origin + axis.spacing * static_cast<double>(axis.points - 1)) + " m";
}

double spacing_of(double min_cm, double max_cm, std::int64_t intervals) {
  if (intervals == 0)
    return 0;
  // Each step rounds once: the difference, the quotient and the change of unit.
  return (max_cm - min_cm) / static_cast<double>(intervals) / 100;
}

} // namespace norvalex
