// The 2-D maps that a 3-D map gives: a plane of its grid, and the cylindrical r-z map of a map
// symmetric about the z axis, with how far it departs from that symmetry.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <optional>
#include <string>

namespace norvalex {

namespace {

// The index of the point of `axis` at `value`, within GRID_TOLERANCE of a step (of 1e-9 m, or
// of the value, for an axis of one point), or none.
std::optional<std::int64_t> point_at(const MeshAxis& axis, double value) {
  if (axis.points == 1)
    return std::abs(value - axis.origin) <= 1e-9 * std::max(std::abs(value), 1.0)
               ? std::optional<std::int64_t>(0)
               : std::nullopt;
  const double steps = (value - axis.origin) / axis.spacing;
  const double nearest = std::round(steps);
  if (!(std::abs(steps - nearest) <= GRID_TOLERANCE) || nearest < 0 ||
      nearest >= static_cast<double>(axis.points))
    return std::nullopt;
  return static_cast<std::int64_t>(nearest);
}

std::string grid_text(const MeshAxis& axis) {
  if (axis.points == 1)
    return "its only " + axis.label + " is " + number_text(axis.origin) + " m";
  return "its " + axis.label + " points lie from " + number_text(axis.origin) + " to " +
         number_text(axis.origin + axis.spacing * static_cast<double>(axis.points - 1)) +
         " m every " + number_text(axis.spacing) + " m";
}

// The attributes of `mesh` in a mesh of `geometry` without values: the start of a map made from
// it.
FieldMesh empty_like(const FieldMesh& mesh, MeshGeometry geometry) {
  FieldMesh made = new_mesh(geometry);
  made.frequency = mesh.frequency;
  made.harmonic = mesh.harmonic;
  made.rf_phase = mesh.rf_phase;
  made.field_scale = mesh.field_scale;
  made.anchor = mesh.anchor;
  made.source = mesh.source;
  return made;
}

// Copies into `to` the values of `from` that `index_of(n)` names for each of its points n.
template <class Values, class IndexOf>
void copy_points(const Values& from, Values& to, std::size_t points, IndexOf index_of) {
  for (std::size_t n = 0; n < points; ++n)
    to[n] = from[index_of(n)];
}

} // namespace

FieldMesh mesh_plane(const FieldMesh& mesh, std::string_view axis_label, double value) {
  if (mesh.geometry != MeshGeometry::rectangular)
    raise_mesh_error(mesh, "a plane is taken of a rectangular map, and this one is cylindrical");
  const int axis = axis_index(mesh, axis_label);
  if (axis < 0)
    raise_mesh_error(mesh, "a plane is taken across x, y or z, not %s",
                     quoted_text(axis_label).c_str());
  const MeshAxis& across = mesh.axes[static_cast<std::size_t>(axis)];
  const std::optional<std::int64_t> at = point_at(across, value);
  if (!at) {
    raise_mesh_error(mesh, "%s = %s m is no plane of the grid: %s", across.label.c_str(),
                     number_text(value).c_str(), grid_text(across).c_str());
  }
  FieldMesh plane = empty_like(mesh, mesh.geometry);
  plane.axes = mesh.axes;
  MeshAxis& kept = plane.axes[static_cast<std::size_t>(axis)];
  kept.origin = across.origin + across.spacing * static_cast<double>(*at);
  kept.points = 1;
  kept.spacing = 0;
  // C order: the point (i, j, k) of the plane is the mesh's with the chosen axis at `at`.
  const std::array<std::size_t, 3> extent{static_cast<std::size_t>(mesh.axes[0].points),
                                          static_cast<std::size_t>(mesh.axes[1].points),
                                          static_cast<std::size_t>(mesh.axes[2].points)};
  const std::size_t points = plane.point_count();
  const auto index_of = [&](std::size_t n) {
    std::array<std::size_t, 3> index{};
    std::size_t rest = n;
    for (std::size_t k = 3; k-- > 0;) {
      const std::size_t size = k == static_cast<std::size_t>(axis) ? 1 : extent[k];
      index[k] = rest % size;
      rest /= size;
    }
    index[static_cast<std::size_t>(axis)] = static_cast<std::size_t>(*at);
    return (index[0] * extent[1] + index[1]) * extent[2] + index[2];
  };
  for (const MeshComponent& component : mesh.components) {
    MeshComponent* made = add_component(plane, component.field, component.axis);
    if (made == nullptr)
      raise_message(Message::not_enough_memory);
    copy_points(component.values, made->values, points, index_of);
  }
  for (const MeshColumn& column : mesh.columns) {
    MeshColumn* made = add_column(plane, column.name, column.unit);
    if (made == nullptr)
      raise_message(Message::not_enough_memory);
    copy_points(column.values, made->values, points, index_of);
  }
  return plane;
}

namespace {

// The field of `field` of an r-z map at t steps along r from the axis, on its z row k: the
// polynomial through the four rows nearest t (as many as there are, below four), the row below
// the axis that of the mirror image (its r and theta components odd in r, z even), so that a
// field smooth across the axis is interpolated to the fourth order and the interpolation is not
// taken for an asymmetry.
class RadialInterpolation {
public:
  RadialInterpolation(const FieldMesh& map, FieldKind field)
      : components_{map.component(field, "r"), map.component(field, "theta"),
                    map.component(field, "z")},
        rows_(map.axes[0].points), nz_(static_cast<std::size_t>(map.axes[2].points)) {}

  std::array<std::complex<double>, 3> at(double t, std::size_t k) const {
    const std::int64_t nodes = std::min<std::int64_t>(4, rows_ + 1);
    const std::int64_t base =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(t)) - 1, -1, rows_ - nodes);
    std::array<std::complex<double>, 3> field{};
    for (std::int64_t j = 0; j < nodes; ++j) {
      double weight = 1;
      for (std::int64_t m = 0; m < nodes; ++m) {
        if (m != j)
          weight *= (t - static_cast<double>(base + m)) / static_cast<double>(j - m);
      }
      for (std::size_t c = 0; c < 3; ++c)
        field[c] += weight * value(c, base + j, k);
    }
    return field;
  }

private:
  std::complex<double> value(std::size_t c, std::int64_t row, std::size_t k) const {
    if (components_[c] == nullptr)
      return 0;
    const std::complex<double> v =
        components_[c]->values[static_cast<std::size_t>(std::abs(row)) * nz_ + k];
    return row < 0 && c < 2 ? -v : v;
  }

  std::array<const MeshComponent*, 3> components_;
  std::int64_t rows_;
  std::size_t nz_;
};

// How far `mesh`'s field of `field` departs from the symmetric one that `map`, its r-z map, gives:
// over every grid point within the map's radius, the largest difference between a component and
// the map's field there (rotated by the point's azimuth), relative to the largest magnitude of a
// component there; 0 for a field the mesh does not have.
double departure_of(const FieldMesh& mesh, const FieldMesh& map, FieldKind field) {
  const MeshComponent* f[3] = {mesh.component(field, "x"), mesh.component(field, "y"),
                               mesh.component(field, "z")};
  if (f[0] == nullptr && f[1] == nullptr && f[2] == nullptr)
    return 0;
  const RadialInterpolation rz(map, field);
  const MeshAxis& x = mesh.axes[0];
  const MeshAxis& y = mesh.axes[1];
  const auto ny = static_cast<std::size_t>(y.points);
  const auto nz = static_cast<std::size_t>(mesh.axes[2].points);
  const double r_max = map.axes[0].spacing * static_cast<double>(map.axes[0].points - 1);
  double largest = 0;
  double departure = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(x.points); ++i) {
    const double px = x.origin + x.spacing * static_cast<double>(i);
    for (std::size_t j = 0; j < ny; ++j) {
      const double py = y.origin + y.spacing * static_cast<double>(j);
      const double r = std::hypot(px, py);
      if (r > r_max * (1 + 1e-12))
        continue;
      const double c = r > 0 ? px / r : 1;
      const double s = r > 0 ? py / r : 0;
      for (std::size_t k = 0; k < nz; ++k) {
        const std::array<std::complex<double>, 3> g = rz.at(r / x.spacing, k);
        const std::complex<double> predicted[3] = {c * g[0] - s * g[1], s * g[0] + c * g[1], g[2]};
        for (std::size_t m = 0; m < 3; ++m) {
          const std::complex<double> value =
              f[m] == nullptr ? std::complex<double>(0, 0) : f[m]->values[(i * ny + j) * nz + k];
          largest = std::max(largest, std::abs(value));
          departure = std::max(departure, std::abs(value - predicted[m]));
        }
      }
    }
  }
  return largest > 0 ? departure / largest : 0;
}

} // namespace

CylindricalMap mesh_cylindrical(const FieldMesh& mesh) {
  if (mesh.geometry != MeshGeometry::rectangular)
    raise_mesh_error(mesh, "a cylindrical map is taken of a rectangular map, and this one is "
                           "cylindrical already");
  const MeshAxis& x = mesh.axes[0];
  const MeshAxis& y = mesh.axes[1];
  const MeshAxis& z = mesh.axes[2];
  const std::optional<std::int64_t> x0 = point_at(x, 0);
  const std::optional<std::int64_t> y0 = point_at(y, 0);
  if (!x0 || !y0) {
    const MeshAxis& missing = !x0 ? x : y;
    raise_mesh_error(mesh,
                     "a cylindrical map is taken from the half-plane x >= 0 at y = 0, and the "
                     "map has no %s = 0: %s",
                     missing.label.c_str(), grid_text(missing).c_str());
  }
  if (*x0 + 1 == x.points)
    raise_mesh_error(mesh, "a cylindrical map is taken from the half-plane x >= 0 at y = 0, and "
                           "the map has no point at x > 0");
  CylindricalMap result{empty_like(mesh, MeshGeometry::cylindrical), 0};
  FieldMesh& map = result.mesh;
  map.axes[0].points = x.points - *x0;
  map.axes[0].spacing = x.spacing;
  map.axes[2] = {"z", z.points, z.spacing, z.origin};
  const auto ny = static_cast<std::size_t>(y.points);
  const auto nz = static_cast<std::size_t>(z.points);
  const auto nr = static_cast<std::size_t>(map.axes[0].points);
  // The mesh's index of the point (x0 + i, y0, k): at y = 0 the unit vectors of r and theta are
  // those of x and y, so Er = Ex and Etheta = Ey there.
  const auto index_of = [&](std::size_t n) {
    const std::size_t i = static_cast<std::size_t>(*x0) + n / nz;
    return (i * ny + static_cast<std::size_t>(*y0)) * nz + n % nz;
  };
  const std::size_t points = nr * nz;
  for (const MeshComponent& component : mesh.components) {
    const char* axis = component.axis == "x" ? "r" : component.axis == "y" ? "theta" : "z";
    MeshComponent* made = add_component(map, component.field, axis);
    if (made == nullptr)
      raise_message(Message::not_enough_memory);
    copy_points(component.values, made->values, points, index_of);
  }
  order_components(map);
  for (const MeshColumn& column : mesh.columns) {
    MeshColumn* made = add_column(map, column.name, column.unit);
    if (made == nullptr)
      raise_message(Message::not_enough_memory);
    copy_points(column.values, made->values, points, index_of);
  }
  result.departure = std::max(departure_of(mesh, map, FieldKind::electric),
                              departure_of(mesh, map, FieldKind::magnetic));
  map.source.notes.push_back({"symmetry", "departs from the symmetry about z by " +
                                              number_text(result.departure) +
                                              " of its largest field at most"});
  return result;
}

} // namespace norvalex
