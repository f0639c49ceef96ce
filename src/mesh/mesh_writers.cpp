// Meshes written as T7 grid files, on-axis tables, the converter's TQS arrays and openPMD field
// meshes, each through the TQS library's output: a file is replaced whole or left as it was.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"
#include "mesh/real_fields.h"
#include "mesh/sf7_tqs.h"
#include "norvalex/sf7.h"
#include "tqs/tqs_output_state.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace norvalex {

namespace {

// Text collected for the output, written once it holds this much.
constexpr std::size_t TEXT_CHUNK = std::size_t{1} << 20;

class TextOutput {
public:
  explicit TextOutput(TqsOutput& output) : output_(output) { text_.reserve(TEXT_CHUNK + 256); }

  // The shortest text that reads back as `value`.
  void number(double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
  }
  void text(const char* words) { text_ += words; }
  void end_line() {
    text_ += '\n';
    if (text_.size() >= TEXT_CHUNK)
      flush();
  }
  void flush() {
    check_interruption();
    tqs_write_bytes(output_, text_.data(), text_.size());
    text_.clear();
  }

private:
  TqsOutput& output_;
  std::string text_;
};

// The double x nearest `x0` that `read(x)` turns back into `target` exactly, when one lies within
// a few steps of it; `x0` otherwise. So a file's numbers read back as the mesh's doubles.
template <class Read> double reading_back(double x0, double target, Read read) {
  if (read(x0) == target || !std::isfinite(x0))
    return x0;
  double down = x0;
  double up = x0;
  for (int step = 0; step < 4; ++step) {
    down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    up = std::nextafter(up, std::numeric_limits<double>::infinity());
    if (read(up) == target)
      return up;
    if (read(down) == target)
      return down;
  }
  return x0;
}

// A header range line: min max intervals, in cm, so that the reader's origin and spacing are
// the axis's own.
void write_range(TextOutput& out, const MeshAxis& axis) {
  const std::int64_t intervals = axis.points - 1;
  const double min = reading_back(axis.origin * 100, axis.origin, [](double x) { return x / 100; });
  const double max =
      reading_back(min + axis.spacing * 100 * static_cast<double>(intervals), axis.spacing,
                   [&](double x) { return spacing_of(min, x, intervals); });
  out.number(min);
  out.text(" ");
  out.number(max);
  out.text(" ");
  out.number(static_cast<double>(intervals));
  out.end_line();
}

// Every component other than those a form holds must be 0 everywhere.
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

double at(const RealFields& fields, const MeshComponent* component, std::size_t index) {
  return component == nullptr ? 0.0 : fields.value(*component, index);
}

void check_writable_axes(const FieldMesh& mesh, const char* form) {
  for (const MeshAxis& axis : mesh.axes) {
    if (axis.points > 1 && !(axis.spacing > 0))
      raise_mesh_error(mesh, "%s needs axes of increasing coordinates", form);
  }
}

void write_t7(const FieldMesh& mesh, TqsOutput& output) {
  const RealFields fields(mesh);
  check_writable_axes(mesh, "a T7 file");
  const bool rf = is_rf(mesh);
  TextOutput out(output);
  if (rf) {
    if (mesh.geometry != MeshGeometry::cylindrical)
      raise_mesh_error(mesh, "an RF T7 file holds a cylindrical map");
    const MeshAxis& r = mesh.axes[0];
    const MeshAxis& z = mesh.axes[2];
    if (r.points < 2 || z.points < 2)
      raise_mesh_error(mesh, "a T7 file needs two points or more along r and along z");
    const MeshComponent* ez = mesh.component(FieldKind::electric, "z");
    const MeshComponent* er = mesh.component(FieldKind::electric, "r");
    const MeshComponent* b_theta = mesh.component(FieldKind::magnetic, "theta");
    refuse_other_components(mesh, {ez, er, b_theta}, "an RF T7 file");
    write_range(out, z);
    // The file's frequency is the map's own: the harmonic of the fundamental.
    const double frequency =
        mesh.harmonic > 1 ? mesh.frequency * static_cast<double>(mesh.harmonic) : mesh.frequency;
    out.number(reading_back(frequency / 1e6, frequency, [](double x) { return x * 1e6; }));
    out.end_line();
    write_range(out, r);
    // z fastest, as the mesh holds it; values in MV/m and H-phi in A/m.
    const std::size_t points = mesh.point_count();
    for (std::size_t n = 0; n < points; ++n) {
      const double e_z = at(fields, ez, n);
      const double e_r = at(fields, er, n);
      const double b = at(fields, b_theta, n);
      out.number(reading_back(e_z / 1e6, e_z, [](double x) { return x * 1e6; }));
      out.text(" ");
      out.number(reading_back(e_r / 1e6, e_r, [](double x) { return x * 1e6; }));
      out.text(" ");
      out.number(std::hypot(e_z, e_r) / 1e6);
      out.text(" ");
      // The reader makes B-theta = -i mu0 H, so b = mu0 H.
      out.number(reading_back(b / MESH_MU0, b, [](double x) { return MESH_MU0 * x; }));
      out.end_line();
    }
    out.flush();
    return;
  }
  // Static: one field, along the first axis and the second (r and z, or x and y).
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const MeshAxis& first = mesh.axes[0];
  const MeshAxis& second = mesh.axes[cylindrical ? 2 : 1];
  if (first.points < 2 || second.points < 2)
    raise_mesh_error(mesh, "a T7 file needs two points or more along both axes");
  const char* second_label = second.label.c_str();
  const bool has_electric = mesh.component(FieldKind::electric, first.label.c_str()) != nullptr ||
                            mesh.component(FieldKind::electric, second_label) != nullptr;
  const bool has_magnetic = mesh.component(FieldKind::magnetic, first.label.c_str()) != nullptr ||
                            mesh.component(FieldKind::magnetic, second_label) != nullptr;
  if (has_electric == has_magnetic)
    raise_mesh_error(mesh, "a static T7 file holds one field, electric or magnetic");
  const FieldKind field = has_electric ? FieldKind::electric : FieldKind::magnetic;
  const MeshComponent* along_first = mesh.component(field, first.label.c_str());
  const MeshComponent* along_second = mesh.component(field, second_label);
  refuse_other_components(mesh, {along_first, along_second}, "a static T7 file");
  // G, or V/cm.
  const double factor = field == FieldKind::magnetic ? 1e-4 : 100;
  write_range(out, first);
  write_range(out, second);
  // The first coordinate varies fastest in the file.
  const auto first_points = static_cast<std::size_t>(first.points);
  const auto second_points = static_cast<std::size_t>(second.points);
  const auto read = [factor](double x) { return x * factor; };
  for (std::size_t j = 0; j < second_points; ++j) {
    for (std::size_t i = 0; i < first_points; ++i) {
      const std::size_t index = i * second_points + j;
      const double a = at(fields, along_first, index);
      const double b = at(fields, along_second, index);
      out.number(reading_back(a / factor, a, read));
      out.text(" ");
      out.number(reading_back(b / factor, b, read));
      out.end_line();
    }
  }
  out.flush();
}

void write_on_axis(const FieldMesh& mesh, TqsOutput& output) {
  const RealFields fields(mesh);
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  if (along.points > 1 && !(along.spacing > 0))
    raise_mesh_error(mesh, "an on-axis file needs positions that increase");
  TextOutput out(output);
  for (std::int64_t n = 0; n < along.points; ++n) {
    out.number(along.origin + static_cast<double>(n) * along.spacing);
    out.text(" ");
    out.number(
        fields.value(*axis.component, axis.first + static_cast<std::size_t>(n) * axis.stride));
    out.end_line();
  }
  out.flush();
}

// The arrays of the SF7 table of the same map: coordinates per point, the field along its two
// axes and its magnitude (then H-phi of an RF map, named Bphi), then any other component named
// by its field's letter and its axis (Bz, Etheta), and the mesh's other columns, all in the table's
// point order, whose first coordinate varies fastest: z in the solver's RF tables, r or x in its
// static ones.
void write_tqs_arrays(const FieldMesh& mesh, TqsOutput& output) {
  const RealFields fields(mesh);
  const bool rf = is_rf(mesh);
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const MeshAxis& slow = mesh.axes[0];                   // r or x
  const MeshAxis& fast = mesh.axes[cylindrical ? 2 : 1]; // z or y
  const auto n_slow = static_cast<std::size_t>(slow.points);
  const auto n_fast = static_cast<std::size_t>(fast.points);
  const std::size_t points = mesh.point_count();
  const bool z_first = rf && cylindrical;
  // Where table point n is in the mesh: the table's first coordinate varies fastest.
  const PointOrder order{z_first ? n_fast : n_slow, z_first ? n_slow : n_fast, !z_first};
  const MeshAxis& lead = z_first ? fast : slow;
  const MeshAxis& trail = z_first ? slow : fast;
  const bool electric = rf || mesh.component(FieldKind::electric, lead.label) != nullptr ||
                        mesh.component(FieldKind::electric, trail.label) != nullptr;
  const FieldKind field = electric ? FieldKind::electric : FieldKind::magnetic;
  const MeshComponent* along_lead = mesh.component(field, lead.label);
  const MeshComponent* along_trail = mesh.component(field, trail.label);
  // H-phi: round the axis of a cylindrical map, across the plane of a rectangular one.
  const MeshComponent* b_theta =
      rf ? mesh.component(FieldKind::magnetic, cylindrical ? "theta" : "z") : nullptr;

  std::vector<double> values;
  try {
    values.resize(points);
  } catch (const std::bad_alloc&) {
    raise_message(Message::not_enough_memory);
  }
  const auto write = [&](const std::string& name, auto value_of) {
    for (std::size_t n = 0; n < points; ++n)
      values[n] = value_of(order.index(n));
    write_double_column(output, {name.c_str(), values});
  };
  const auto coordinate = [&](const MeshAxis& axis, bool along_slow) {
    std::string name = axis.label;
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    write(name, [&](std::size_t index) {
      const std::size_t step = along_slow ? index / n_fast : index % n_fast;
      return axis.origin + static_cast<double>(step) * axis.spacing;
    });
  };
  write_converter_header(output);
  coordinate(lead, &lead == &slow);
  coordinate(trail, &trail == &slow);
  const std::string letter = electric ? "E" : "B";
  write(letter + lead.label, [&](std::size_t index) { return at(fields, along_lead, index); });
  write(letter + trail.label, [&](std::size_t index) { return at(fields, along_trail, index); });
  write(electric ? "|E|" : "|B|", [&](std::size_t index) {
    return std::hypot(at(fields, along_lead, index), at(fields, along_trail, index));
  });
  if (rf) {
    // b = mu0 H, and the converter writes H in T with its own factor.
    // The number whose reading gives b back.
    const double factor = converter_h_factor();
    write("Bphi", [&](std::size_t index) {
      const double b = at(fields, b_theta, index);
      return reading_back(factor * (b / MESH_MU0), b,
                          [factor](double x) { return MESH_MU0 * (x / factor); });
    });
  }
  for (const MeshComponent& component : mesh.components) {
    if (&component == along_lead || &component == along_trail || &component == b_theta)
      continue;
    // A name that fits a block's 15 bytes: the field's letter and the axis (Bz, Btheta, Ex).
    write((component.field == FieldKind::electric ? "E" : "B") + component.axis,
          [&](std::size_t index) { return fields.value(component, index); });
  }
  for (const MeshColumn& column : mesh.columns)
    write(column.name, [&](std::size_t index) { return column.values[index]; });
}

} // namespace

std::span<const UnitRule> sf7_tqs_units() {
  static const std::array<UnitRule, unit_rules.size() + 1> rules = units_with_gradient();
  return rules;
}

void write_sf7_tqs(Sf7Table& table, TqsOutput& output, double factor) {
  const auto points = static_cast<std::size_t>(table.dim1) * static_cast<std::size_t>(table.dim2);
  write_converter_header(output);
  for (std::size_t k = 0; k < table.columns.size(); ++k) {
    FieldColumn& column = table.columns[k];
    if (!column.data)
      continue;
    double* const values = column.data.get();
    if (factor != 1 && k >= 2) {
      for (std::size_t n = 0; n < points; ++n)
        values[n] *= factor;
    }
    write_double_column(output, {column.out_name, {values, points}});
  }
}

void write_mesh(const FieldMesh& mesh, MeshFormat format, TqsOutput& output) {
  switch (format) {
  case MeshFormat::t7:
    write_t7(mesh, output);
    return;
  case MeshFormat::on_axis:
    write_on_axis(mesh, output);
    return;
  case MeshFormat::tqs:
    write_tqs_arrays(mesh, output);
    return;
  case MeshFormat::openpmd: {
    if (!mesh_has_openpmd())
      raise_input_failure(output.name, 0, UNSUPPORTED_OPENPMD_TEXT, output.name);
    // HDF5 files are read by seeking in them, which the reader of a pipe cannot do.
    const std::string& temp_path = tqs_output_undo(output).temp_path;
    if (temp_path.empty()) {
      raise_input_failure(output.name, 0,
                          "%s: an openPMD file is written as a file of its own, not into a pipe, "
                          "a device or standard output",
                          output.name);
    }
    // HDF5 writes the output's temporary file by its name; the output's close makes it durable
    // and puts it in place. Nothing of the stream may come after HDF5's bytes.
    if (std::fflush(output.stream) != 0)
      raise_file_error(output.name, errno);
    write_openpmd_file(mesh, temp_path.c_str(), output.name);
    return;
  }
  }
}

void write_mesh_file(const FieldMesh& mesh, MeshFormat format, const char* path) {
  TqsOutput output;
  tqs_open_file(output, path, false);
  write_mesh(mesh, format, output);
  tqs_close_output(output);
}

} // namespace norvalex
