// What is done to a mesh as a whole: its field on the axis, its peak there, scaling, and its
// fields as real amplitudes.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <cmath>
#include <cstdarg>
#include <optional>
#include <string>

namespace norvalex {

void raise_mesh_error(const FieldMesh& mesh, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = format_whole_text(format, args);
  va_end(args);
  const std::string& file = mesh.source.file;
  raise_input_failure(file.c_str(), 0, "%s%s%s", file.c_str(), file.empty() ? "" : ": ",
                      text.c_str());
}

namespace {

// The relative size of a part that counts as none: what a file of single-precision values, or
// of the solver's seven digits turned by a phase, leaves behind.
constexpr double PHASE_TOLERANCE = 1e-6;

// The largest |value| of the components of `field`, and the value where it is.
std::complex<double> largest(const FieldMesh& mesh, FieldKind field, double& magnitude) {
  std::complex<double> at{0, 0};
  magnitude = 0;
  for (const MeshComponent& component : mesh.components) {
    if (component.field != field)
      continue;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      const double size = std::abs(component.values[k]);
      if (size > magnitude) {
        magnitude = size;
        at = component.values[k];
      }
    }
  }
  return at;
}

// True when every value of `field` has (after the turn) no part beside its real amplitude's.
bool one_phase(const FieldMesh& mesh, FieldKind field, std::complex<double> turn, bool rf,
               double tolerance) {
  for (const MeshComponent& component : mesh.components) {
    if (component.field != field)
      continue;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      const std::complex<double> value = component.values[k];
      // A value that is not finite has no phase, and its product with the turn would be NaN
      // in both parts.
      if (!std::isfinite(value.real()) || !std::isfinite(value.imag()))
        continue;
      const std::complex<double> z = value * turn;
      const double other = field == FieldKind::electric || !rf ? z.imag() : z.real();
      if (!(std::abs(other) <= tolerance))
        return false;
    }
  }
  return true;
}

} // namespace

RealFields::RealFields(const FieldMesh& mesh) : rf_(is_rf(mesh)), scale_(mesh.field_scale) {
  const bool exact = one_phase(mesh, FieldKind::electric, 1, rf_, 0) &&
                     one_phase(mesh, FieldKind::magnetic, 1, rf_, 0);
  if (exact)
    return;
  if (!rf_)
    raise_mesh_error(mesh, "a static map with complex values has no real form");
  double e_size = 0;
  double b_size = 0;
  const std::complex<double> e_at = largest(mesh, FieldKind::electric, e_size);
  const std::complex<double> b_at = largest(mesh, FieldKind::magnetic, b_size);
  // The phase that makes the largest E real, or the largest B -i times a real number.
  const double phase = e_size > 0 ? std::arg(e_at) : std::arg(b_at) + std::acos(0.0);
  turn_ = std::polar(1.0, -phase);
  turned_ = true;
  if (!one_phase(mesh, FieldKind::electric, turn_, rf_, PHASE_TOLERANCE * e_size) ||
      !one_phase(mesh, FieldKind::magnetic, turn_, rf_, PHASE_TOLERANCE * b_size)) {
    raise_mesh_error(mesh, "its fields need more than one phase (a travelling wave), which "
                           "only an openPMD file holds");
  }
}

namespace {

// The index of the point of `axis` at 0 (within 1e-9 of its step), or none.
std::optional<std::int64_t> point_at_zero(const MeshAxis& axis) {
  if (axis.points == 1)
    return axis.origin == 0 ? std::optional<std::int64_t>(0) : std::nullopt;
  const double steps = -axis.origin / axis.spacing;
  const double nearest = std::round(steps);
  if (!(std::abs(steps - nearest) <= 1e-9) || nearest < 0 ||
      nearest >= static_cast<double>(axis.points))
    return std::nullopt;
  return static_cast<std::int64_t>(nearest);
}

} // namespace

OnAxisField on_axis_field(const FieldMesh& mesh) {
  int long_axes = 0;
  int line_axis = 2;
  for (std::size_t k = 0; k < mesh.axes.size(); ++k) {
    if (mesh.axes[k].points > 1) {
      ++long_axes;
      line_axis = static_cast<int>(k);
    }
  }
  OnAxisField axis;
  if (long_axes > 1 && mesh.geometry == MeshGeometry::cylindrical) {
    if (mesh.axes[0].origin != 0)
      raise_mesh_error(mesh, "no field on the axis: its r starts at %g m, not 0",
                       mesh.axes[0].origin);
    line_axis = 2; // the row at r = 0: the first nz values
  } else if (long_axes > 1) {
    // A rectangular map has its axis along z, through x = 0 and y = 0.
    if (mesh.axes[2].points == 1)
      raise_mesh_error(mesh, "no field on the axis: a rectangular 2-D map has no axis");
    const std::size_t nz = static_cast<std::size_t>(mesh.axes[2].points);
    const std::size_t ny = static_cast<std::size_t>(mesh.axes[1].points);
    std::size_t first = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      const std::optional<std::int64_t> zero = point_at_zero(mesh.axes[k]);
      if (!zero)
        raise_mesh_error(mesh, "no field on the axis: its %s has no point at 0",
                         mesh.axes[k].label.c_str());
      first += static_cast<std::size_t>(*zero) * (k == 0 ? ny * nz : nz);
    }
    axis.first = first;
    line_axis = 2;
  }
  axis.axis = line_axis;
  const std::string& label = mesh.axes[static_cast<std::size_t>(line_axis)].label;
  axis.component = mesh.component(FieldKind::electric, label);
  if (axis.component == nullptr)
    axis.component = mesh.component(FieldKind::magnetic, label);
  if (axis.component == nullptr)
    raise_mesh_error(mesh, "no field on the axis: it has no field component along %s",
                     label.c_str());
  // C order: the step along an axis is the product of the points of the axes after it.
  for (std::size_t k = static_cast<std::size_t>(line_axis) + 1; k < mesh.axes.size(); ++k)
    axis.stride *= static_cast<std::size_t>(mesh.axes[k].points);
  return axis;
}

OnAxisPeak on_axis_peak(const FieldMesh& mesh) {
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  OnAxisPeak peak;
  for (std::int64_t n = 0; n < along.points; ++n) {
    const double size =
        std::abs(axis.component->values[axis.first + static_cast<std::size_t>(n) * axis.stride]);
    if (size > peak.value) {
      peak.value = size;
      peak.position = along.origin + static_cast<double>(n) * along.spacing;
    }
  }
  // The field the mesh stands for: its values times its fieldScale.
  peak.value *= std::abs(mesh.field_scale);
  return peak;
}

void scale_mesh(FieldMesh& mesh, double factor) {
  for (MeshComponent& component : mesh.components) {
    for (std::size_t k = 0; k < component.values.size(); ++k)
      component.values[k] *= factor;
  }
  for (MeshColumn& column : mesh.columns) {
    for (std::size_t k = 0; k < column.values.size(); ++k)
      column.values[k] *= factor;
  }
}

double normalization_factor(const FieldMesh& mesh, double peak) {
  const OnAxisPeak found = on_axis_peak(mesh);
  if (found.value == 0)
    raise_mesh_error(mesh, "its field on the axis is 0 everywhere: nothing to normalize");
  return peak / found.value;
}

void normalize_mesh(FieldMesh& mesh, double peak) {
  scale_mesh(mesh, normalization_factor(mesh, peak));
}

} // namespace norvalex
