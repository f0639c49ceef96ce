#include "mesh/grid_text.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"

#include <cmath>

namespace norvalex {

void refuse_other_components(const FieldMesh& mesh,
                             std::initializer_list<const MeshComponent*> held, const char* form) {
  for (const MeshComponent& component : mesh.components) {
    bool is_held = false;
    for (const MeshComponent* h : held)
      is_held |= h == &component;
    if (is_held)
      continue;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      if (component.values[k] != std::complex<double>(0, 0)) {
        raise_mesh_error(mesh, "%s holds no %s", form, component.name().c_str());
      }
    }
  }
}

namespace {

void check_writable_axes(const FieldMesh& mesh, const char* form) {
  for (const MeshAxis& axis : mesh.axes) {
    if (axis.points > 1 && !(axis.spacing > 0))
      raise_mesh_error(mesh, "%s needs axes of increasing coordinates", form);
  }
}

} // namespace

GridRange grid_range(const char* file, std::int32_t line, double min_cm, double max_cm,
                     double intervals) {
  if (!(intervals >= 1) || intervals != std::floor(intervals) ||
      intervals >= static_cast<double>(MESH_MAX_POINTS)) {
    raise_input_error(file, line, "Interval count is no whole number from 1 on: %s",
                      number_text(intervals).c_str());
  }
  if (!std::isfinite(min_cm) || !std::isfinite(max_cm) || !(max_cm > min_cm)) {
    raise_input_error(file, line, "Range is not from a minimum to a larger maximum: %s %s",
                      number_text(min_cm).c_str(), number_text(max_cm).c_str());
  }
  // Its length, and so the spacing of its points, must be a number too.
  if (!std::isfinite(max_cm - min_cm)) {
    raise_input_error(file, line, "Range too wide: %s %s", number_text(min_cm).c_str(),
                      number_text(max_cm).c_str());
  }
  return {min_cm, max_cm, static_cast<std::int64_t>(intervals)};
}

void set_grid_axis(MeshAxis& axis, const GridRange& range) {
  axis.points = range.points();
  axis.origin = range.min_cm / 100;
  axis.spacing = spacing_of(range.min_cm, range.max_cm, range.intervals);
}

void check_grid_size(const char* file, std::int32_t line, const GridRange& a, const GridRange& b) {
  if (a.points() > MESH_MAX_POINTS / b.points()) {
    raise_input_error(file, line, "Grid too large: %lld*%lld points",
                      static_cast<long long>(a.points()), static_cast<long long>(b.points()));
  }
}

double grid_frequency(const char* file, std::int32_t line, double frequency_mhz) {
  if (!std::isfinite(frequency_mhz) || !(frequency_mhz > 0)) {
    raise_input_error(file, line, "Frequency is no positive number: %s",
                      number_text(frequency_mhz).c_str());
  }
  if (!std::isfinite(frequency_mhz * 1e6)) {
    raise_input_error(file, line, "Frequency out of range: %s", number_text(frequency_mhz).c_str());
  }
  return frequency_mhz * 1e6;
}

void write_range(TextOutput& out, const MeshAxis& axis, NumberChoice choice) {
  const std::int64_t intervals = axis.points - 1;
  const ShortestNumber min =
      chosen_number(choice, axis.origin * 100, axis.origin, [](double x) { return x / 100; });
  const ShortestNumber max =
      chosen_number(choice, min.value + axis.spacing * 100 * static_cast<double>(intervals),
                    axis.spacing, [&](double x) { return spacing_of(min.value, x, intervals); });
  out.number(min);
  out.text(" ");
  out.number(max);
  out.text(" ");
  out.number(static_cast<double>(intervals));
  out.end_line();
}

void write_frequency_line(TextOutput& out, const FieldMesh& mesh, NumberChoice choice) {
  const double frequency =
      mesh.harmonic > 1 ? mesh.frequency * static_cast<double>(mesh.harmonic) : mesh.frequency;
  out.number(chosen_number(choice, frequency / 1e6, frequency, [](double x) { return x * 1e6; }));
  out.end_line();
}

GridLayout grid_layout(const FieldMesh& mesh, const GridNames& names) {
  check_writable_axes(mesh, names.any);
  if (is_rf(mesh)) {
    if (mesh.geometry != MeshGeometry::cylindrical)
      raise_mesh_error(mesh, "%s holds a cylindrical map", names.rf);
    const MeshAxis& r = mesh.axes[0];
    const MeshAxis& z = mesh.axes[2];
    if (r.points < 2 || z.points < 2)
      raise_mesh_error(mesh, "%s needs two points or more along r and along z", names.any);
    if (mesh.frequency == 0)
      raise_mesh_error(
          mesh, "the map states no frequency, which %s holds: give the frequency in Hz", names.any);
    const MeshComponent* ez = mesh.component(FieldKind::electric, "z");
    const MeshComponent* er = mesh.component(FieldKind::electric, "r");
    const MeshComponent* b_theta = mesh.component(FieldKind::magnetic, "theta");
    refuse_other_components(mesh, {ez, er, b_theta}, names.rf);
    return {true, &z, &r, {ez, er, b_theta}, 1};
  }
  // Static: one field, along the first axis and the second (r and z, or x and y).
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const MeshAxis& first = mesh.axes[0];
  const MeshAxis& second = mesh.axes[cylindrical ? 2 : 1];
  if (first.points < 2 || second.points < 2)
    raise_mesh_error(mesh, "%s needs two points or more along both axes", names.any);
  const char* second_label = second.label.c_str();
  const bool has_electric = mesh.component(FieldKind::electric, first.label.c_str()) != nullptr ||
                            mesh.component(FieldKind::electric, second_label) != nullptr;
  const bool has_magnetic = mesh.component(FieldKind::magnetic, first.label.c_str()) != nullptr ||
                            mesh.component(FieldKind::magnetic, second_label) != nullptr;
  if (has_electric == has_magnetic)
    raise_mesh_error(mesh, "%s holds one field, electric or magnetic", names.static_map);
  const FieldKind field = has_electric ? FieldKind::electric : FieldKind::magnetic;
  const MeshComponent* along_first = mesh.component(field, first.label.c_str());
  const MeshComponent* along_second = mesh.component(field, second_label);
  refuse_other_components(mesh, {along_first, along_second}, names.static_map);
  // G, or V/cm.
  return {false,
          &first,
          &second,
          {along_first, along_second, nullptr},
          field == FieldKind::magnetic ? 1e-4 : 100};
}

void write_rf_points(TextOutput& out, const FieldMesh& mesh, const RealFields& fields,
                     const GridLayout& layout, NumberChoice choice) {
  const auto from_mv = [](double x) { return x * 1e6; };
  // z fastest, as the mesh holds it; values in MV/m and H-phi in A/m.
  write_item_lines(out, mesh.point_count(),
                   [&](TextBuffer& text, std::size_t first, std::size_t end) {
                     for (std::size_t n = first; n < end; ++n) {
                       const double e_z = value_or_zero(fields, layout.values[0], n);
                       const double e_r = value_or_zero(fields, layout.values[1], n);
                       const double b = value_or_zero(fields, layout.values[2], n);
                       text.number(chosen_number(choice, e_z / 1e6, e_z, from_mv));
                       text.text(" ");
                       text.number(chosen_number(choice, e_r / 1e6, e_r, from_mv));
                       text.text(" ");
                       const double magnitude = std::hypot(e_z, e_r);
                       if (choice == NumberChoice::nearest)
                         text.number(magnitude / 1e6);
                       else
                         text.number(shortest_reading_back(magnitude / 1e6, magnitude, from_mv));
                       text.text(" ");
                       // The reader makes B-theta = -i mu0 H, so b = mu0 H.
                       text.number(chosen_number(choice, b / MESH_MU0, b,
                                                 [](double x) { return MESH_MU0 * x; }));
                       text.end_line();
                     }
                   });
}

} // namespace norvalex
