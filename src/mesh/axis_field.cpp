#include "mesh/axis_field.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <cmath>
#include <optional>

namespace norvalex {

FieldKind axis_field_kind(const FieldMesh& mesh) {
  const OnAxisField axis = on_axis_field(mesh);
  return axis.component->field;
}

AxisField axis_field(const FieldMesh& mesh, FieldKind field, const char* form) {
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  const MeshComponent* component = mesh.component(field, along.label);
  if (component == nullptr) {
    raise_mesh_error(mesh, "no field on the axis: it has no %s",
                     MeshComponent{field, along.label, {}}.name().c_str());
  }
  std::optional<RealFields> fields;
  try {
    fields.emplace(mesh);
  } catch (const Error&) {
    raise_mesh_error(mesh,
                     "%s holds a standing wave, and the map's fields need more than one phase "
                     "(a travelling wave)",
                     form);
  }
  AxisField result{field, along.origin, along.points > 1 ? along.spacing : 0, {}};
  result.values.reserve(static_cast<std::size_t>(along.points));
  for (std::int64_t n = 0; n < along.points; ++n)
    result.values.push_back(
        fields->value(*component, axis.first + static_cast<std::size_t>(n) * axis.stride));
  return result;
}

AxisField mirrored(const AxisField& field) {
  const std::size_t n = field.values.size();
  AxisField result{
      field.field, field.start - field.step * static_cast<double>(n - 1), field.step, {}};
  result.values.reserve(2 * n - 1);
  result.values.insert(result.values.end(), field.values.rbegin(), field.values.rend());
  result.values.insert(result.values.end(), field.values.begin() + 1, field.values.end());
  return result;
}

std::optional<std::size_t> uneven_position(std::span<const double> positions) {
  if (positions.size() < 2)
    return std::nullopt;
  const double step = positions[1] - positions[0];
  if (!(step > 0))
    return 1;
  for (std::size_t k = 2; k < positions.size(); ++k) {
    if (!(std::abs(positions[k] - positions[k - 1] - step) <= 1e-6 * step))
      return k;
  }
  return std::nullopt;
}

AxisField resampled(std::span<const double> positions, std::span<const double> values,
                    std::size_t points, FieldKind field) {
  const std::size_t n = positions.size();
  // The natural spline's second derivatives (0 at both ends), by elimination of the
  // tridiagonal system h[k-1] m[k-1] + 2 (h[k-1] + h[k]) m[k] + h[k] m[k+1] = 6 (slope change).
  std::vector<double> second(n, 0.0);
  std::vector<double> diagonal(n, 0.0);
  std::vector<double> right(n, 0.0);
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const double before = positions[k] - positions[k - 1];
    const double after = positions[k + 1] - positions[k];
    diagonal[k] = 2 * (before + after);
    right[k] = 6 * ((values[k + 1] - values[k]) / after - (values[k] - values[k - 1]) / before);
    if (k > 1) {
      const double factor = before / diagonal[k - 1];
      diagonal[k] -= factor * before;
      right[k] -= factor * right[k - 1];
    }
  }
  for (std::size_t k = n - 2; k >= 1 && k + 1 < n; --k) {
    const double after = positions[k + 1] - positions[k];
    second[k] = (right[k] - after * second[k + 1]) / diagonal[k];
  }
  AxisField result{field, positions.front(), 0, {}};
  if (points > 1)
    result.step = (positions.back() - positions.front()) / static_cast<double>(points - 1);
  result.values.reserve(points);
  std::size_t j = 0; // the interval [positions[j], positions[j + 1]] of the position
  for (std::size_t k = 0; k < points; ++k) {
    const double x =
        k + 1 == points ? positions.back() : result.start + result.step * static_cast<double>(k);
    while (j + 2 < n && x > positions[j + 1])
      ++j;
    if (n < 2) {
      result.values.push_back(values.front());
      continue;
    }
    const double h = positions[j + 1] - positions[j];
    const double a = positions[j + 1] - x;
    const double b = x - positions[j];
    result.values.push_back((second[j] * a * a * a + second[j + 1] * b * b * b) / (6 * h) +
                            (values[j] / h - second[j] * h / 6) * a +
                            (values[j + 1] / h - second[j + 1] * h / 6) * b);
  }
  return result;
}

FieldMesh axis_mesh(std::span<const AxisField> fields, bool rf, double frequency) {
  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  const AxisField& first = fields.front();
  MeshAxis& z = mesh.axes[2];
  z.points = static_cast<std::int64_t>(first.values.size());
  z.origin = first.start;
  z.spacing = first.values.size() > 1 ? first.step : 0;
  if (rf) {
    mesh.harmonic = 1;
    mesh.frequency = frequency;
  }
  for (const AxisField& field : fields) {
    MeshComponent* component = add_component(mesh, field.field, "z");
    if (component == nullptr)
      raise_message(Message::not_enough_memory);
    const bool quarter_turned = rf && field.field == FieldKind::magnetic;
    for (std::size_t k = 0; k < field.values.size(); ++k) {
      component->values[k] = quarter_turned ? std::complex<double>(0, -field.values[k])
                                            : std::complex<double>(field.values[k], 0);
    }
  }
  return mesh;
}

} // namespace norvalex
