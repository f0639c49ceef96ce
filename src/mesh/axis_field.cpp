#include "mesh/axis_field.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

AxisField axis_field_for_writing(const FieldMesh& mesh, FieldKind field,
                                 const MeshWriteOptions& options, const char* form) {
  const OnAxisField axis = on_axis_field(mesh);
  if (axis.axis != 2) {
    raise_mesh_error(mesh, "%s holds a field along z, and the map's line runs along %s", form,
                     mesh.axes[static_cast<std::size_t>(axis.axis)].label.c_str());
  }
  AxisField result = axis_field(mesh, field, form);
  if (result.values.size() < 2)
    raise_mesh_error(mesh, "%s needs two points or more along z", form);
  for (const double value : result.values) {
    if (!std::isfinite(value)) {
      raise_mesh_error(mesh, "%s holds finite values, and the field on the axis has %s", form,
                       number_text(value).c_str());
    }
  }
  if (options.mirror)
    result = mirrored(result);
  result.start += options.z_offset;
  if (!std::isfinite(result.start) || !std::isfinite(result.end()))
    raise_mesh_error(mesh, "%s: the positions moved by the z offset are beyond numbers", form);
  return result;
}

namespace {

// The number of the fewest significant digits near `x` that `fits`; `x` when none does.
template <class Fits> double fewest_digits(double x, Fits fits) {
  for (int precision = 1; precision <= 17; ++precision) {
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, x, std::chars_format::general, precision);
    double value = 0;
    std::from_chars(text, written.ptr, value);
    if (fits(value))
      return value;
  }
  return x;
}

// `x` in six significant digits, as "%.6g" writes it with the C library of any system.
std::string six_digits(double x) {
  char text[32];
  return {text, std::to_chars(text, text + sizeof text, x, std::chars_format::general, 6).ptr};
}

} // namespace

void write_axis_pairs(TextOutput& out, const AxisField& field, bool decimal_positions) {
  const std::size_t n = field.values.size();
  for (std::size_t k = 0; k < n; ++k) {
    double position = field.start + static_cast<double>(k) * field.step;
    if (decimal_positions && k > 0 && k + 1 < n) {
      position = fewest_digits(
          position, [&](double x) { return std::abs(x - position) <= 1e-9 * field.step; });
    } else if (decimal_positions && k > 0) {
      const double intervals = static_cast<double>(n - 1);
      position = fewest_digits(
          position, [&](double x) { return (x - field.start) / intervals == field.step; });
    }
    out.number(position);
    out.text(" ");
    out.number(field.values[k]);
    out.end_line();
  }
}

AxisField sampled_axis_field(const char* file, std::span<const double> positions,
                             std::vector<double> values, std::span<const std::int32_t> lines,
                             std::optional<std::int64_t> resample, FieldKind field) {
  const std::size_t n = positions.size();
  if (n < 2) {
    raise_input_error(file, lines.empty() ? 0 : lines.back(),
                      "Fewer than two points: a field along the axis needs two or more");
  }
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(positions[k]) || !std::isfinite(values[k])) {
      raise_input_error(
          file, lines[k], "Not a finite number: %s",
          number_text(std::isfinite(positions[k]) ? values[k] : positions[k]).c_str());
    }
    if (k > 0 && !(positions[k] > positions[k - 1])) {
      raise_input_error(file, lines[k], "Position does not increase: %s m after %s m",
                        number_text(positions[k]).c_str(), number_text(positions[k - 1]).c_str());
    }
  }
  if (resample) {
    if (*resample < 2 || *resample > MESH_MAX_POINTS) {
      raise_input_failure(file, 0, "%s: a map is resampled on 2 to %lld points, not %lld", file,
                          static_cast<long long>(MESH_MAX_POINTS),
                          static_cast<long long>(*resample));
    }
    return resampled(positions, values, static_cast<std::size_t>(*resample), field);
  }
  if (const std::optional<std::size_t> k = uneven_position(positions)) {
    raise_input_error(file, lines[*k],
                      "Uneven step: %s m after steps of %s m (resample the map on equally "
                      "spaced points to read it)",
                      six_digits(positions[*k] - positions[*k - 1]).c_str(),
                      six_digits(positions[1] - positions[0]).c_str());
  }
  return {field, positions.front(),
          (positions.back() - positions.front()) / static_cast<double>(n - 1), std::move(values)};
}

MeshNote sampling_note(std::size_t samples, std::optional<std::int64_t> resample) {
  return {"positions",
          std::to_string(samples) + " pairs" +
              (resample ? ", resampled on " + std::to_string(*resample) + " equally spaced points"
                        : ", equally spaced")};
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
