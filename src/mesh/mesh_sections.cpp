// The 2-D maps that a 3-D map gives: a plane of its grid, and the cylindrical r-z map of a map
// symmetric about the z axis, with how far it departs from that symmetry.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <optional>
#include <string>

namespace norvalex {

namespace {

// The index of the point of `axis` at `value` (within 1e-9 of a step), or none.
std::optional<std::int64_t> point_at(const MeshAxis& axis, double value) {
  if (axis.points == 1)
    return std::abs(value - axis.origin) <= 1e-9 * std::max(std::abs(value), 1e-3)
               ? std::optional<std::int64_t>(0)
               : std::nullopt;
  const double steps = (value - axis.origin) / axis.spacing;
  const double nearest = std::round(steps);
  if (!(std::abs(steps - nearest) <= 1e-9) || nearest < 0 ||
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

// The grid and attributes of `mesh` without its values: the start of a map made from it.
FieldMesh empty_like(const FieldMesh& mesh) {
  FieldMesh made = new_mesh(mesh.geometry);
  made.axes = mesh.axes;
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
  FieldMesh plane = empty_like(mesh);
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

CylindricalMap mesh_cylindrical(const FieldMesh& mesh) {
  if (mesh.geometry != MeshGeometry::rectangular)
    raise_mesh_error(mesh, "it is cylindrical already");
  const MeshAxis& x = mesh.axes[0];
  const MeshAxis& y = mesh.axes[1];
  const MeshAxis& z = mesh.axes[2];
  const std::optional<std::int64_t> x0 = point_at(x, 0);
  const std::optional<std::int64_t> y0 = point_at(y, 0);
  if (!x0 || !y0) {
    raise_mesh_error(mesh,
                     "its cylindrical map is taken from the half-plane x >= 0 at y = 0, and "
                     "%s",
                     grid_text(!x0 ? x : y).c_str());
  }
  if (*x0 + 1 == x.points)
    raise_mesh_error(mesh, "its cylindrical map is taken from the half-plane x >= 0 at y = 0, "
                           "and it has no point at x > 0");
  CylindricalMap result{new_mesh(MeshGeometry::cylindrical), 0};
  FieldMesh& map = result.mesh;
  map.frequency = mesh.frequency;
  map.harmonic = mesh.harmonic;
  map.rf_phase = mesh.rf_phase;
  map.field_scale = mesh.field_scale;
  map.anchor = mesh.anchor;
  map.source = mesh.source;
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

  // How far the map departs from the symmetry: over every grid point within the map's radius,
  // the difference between its field and the one the r-z map gives there (rotated by the point's
  // azimuth, linear in r), relative to the field's largest magnitude.
  const double r_max = x.spacing * static_cast<double>(nr - 1);
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    const MeshComponent* f[3] = {mesh.component(field, "x"), mesh.component(field, "y"),
                                 mesh.component(field, "z")};
    const MeshComponent* g[3] = {map.component(field, "r"), map.component(field, "theta"),
                                 map.component(field, "z")};
    if (f[0] == nullptr && f[1] == nullptr && f[2] == nullptr)
      continue;
    double largest = 0;
    double departure = 0;
    const auto at = [](const MeshComponent* c, std::size_t k) {
      return c == nullptr ? std::complex<double>(0, 0) : c->values[k];
    };
    for (std::size_t i = 0; i < static_cast<std::size_t>(x.points); ++i) {
      const double px = x.origin + x.spacing * static_cast<double>(i);
      for (std::size_t j = 0; j < ny; ++j) {
        const double py = y.origin + y.spacing * static_cast<double>(j);
        const double r = std::hypot(px, py);
        if (r > r_max * (1 + 1e-12))
          continue;
        const double step = r / x.spacing;
        const std::size_t below = std::min(static_cast<std::size_t>(step), nr - 1);
        const std::size_t above = std::min(below + 1, nr - 1);
        const double part = step - static_cast<double>(below);
        const double c = r > 0 ? px / r : 1;
        const double s = r > 0 ? py / r : 0;
        for (std::size_t k = 0; k < nz; ++k) {
          const std::size_t point = (i * ny + j) * nz + k;
          std::complex<double> rz[3];
          for (int m = 0; m < 3; ++m)
            rz[m] = (1 - part) * at(g[m], below * nz + k) + part * at(g[m], above * nz + k);
          const std::complex<double> predicted[3] = {c * rz[0] - s * rz[1], s * rz[0] + c * rz[1],
                                                     rz[2]};
          for (int m = 0; m < 3; ++m) {
            const std::complex<double> value = at(f[m], point);
            largest = std::max(largest, std::abs(value));
            departure = std::max(departure, std::abs(value - predicted[m]));
          }
        }
      }
    }
    if (largest > 0)
      result.departure = std::max(result.departure, departure / largest);
  }
  map.source.notes.push_back({"symmetry", "departs from the symmetry about z by " +
                                              number_text(result.departure) +
                                              " of its largest field at most"});
  return result;
}

} // namespace norvalex
