// Meshes written as T7 grid files, on-axis tables, the converter's TQS arrays and openPMD field
// meshes, each into an output file: a file is replaced whole or left as it was.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/openpmd.h"
#include "mesh/real_fields.h"
#include "mesh/sf7_tqs.h"
#include "norvalex/sf7.h"
#include "tqs/tqs_on_output.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

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

double at(const RealFields& fields, const MeshComponent* component, std::size_t index) {
  return component == nullptr ? 0.0 : fields.value(*component, index);
}

void check_writable_axes(const FieldMesh& mesh, const char* form) {
  for (const MeshAxis& axis : mesh.axes) {
    if (axis.points > 1 && !(axis.spacing > 0))
      raise_mesh_error(mesh, "%s needs axes of increasing coordinates", form);
  }
}

// What a T7 file of a mesh holds: the components of its values in the order of a point's
// values, and its two ranges in the order of the header.
struct T7Layout {
  bool rf;
  const MeshAxis* fast; // the file's first range: z of an RF map, r or x of a static one
  const MeshAxis* slow; // its other range
  std::array<const MeshComponent*, 3> values; // RF: Ez, Er, B-theta; static: along fast, slow
  double factor; // a static map's SI unit per file unit: T per G, or V/m per V/cm
};

T7Layout t7_layout(const FieldMesh& mesh) {
  check_writable_axes(mesh, "a T7 file");
  if (is_rf(mesh)) {
    if (mesh.geometry != MeshGeometry::cylindrical)
      raise_mesh_error(mesh, "an RF T7 file holds a cylindrical map");
    const MeshAxis& r = mesh.axes[0];
    const MeshAxis& z = mesh.axes[2];
    if (r.points < 2 || z.points < 2)
      raise_mesh_error(mesh, "a T7 file needs two points or more along r and along z");
    if (mesh.frequency == 0)
      raise_mesh_error(mesh, "the map states no frequency, which a T7 file holds: give the "
                             "frequency in Hz");
    const MeshComponent* ez = mesh.component(FieldKind::electric, "z");
    const MeshComponent* er = mesh.component(FieldKind::electric, "r");
    const MeshComponent* b_theta = mesh.component(FieldKind::magnetic, "theta");
    refuse_other_components(mesh, {ez, er, b_theta}, "an RF T7 file");
    return {true, &z, &r, {ez, er, b_theta}, 1};
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
  return {false,
          &first,
          &second,
          {along_first, along_second, nullptr},
          field == FieldKind::magnetic ? 1e-4 : 100};
}

// The axis along which an on-axis table runs, checked.
OnAxisField on_axis_layout(const FieldMesh& mesh) {
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  if (along.points > 1 && !(along.spacing > 0))
    raise_mesh_error(mesh, "an on-axis file needs positions that increase");
  return axis;
}

} // namespace

void check_t7(const FieldMesh& mesh, const MeshWriteOptions&) {
  const RealFields fields(mesh);
  t7_layout(mesh);
}

void write_t7(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
              MeshWriteReport&) {
  OutputFile& output = files[0];
  const RealFields fields(mesh);
  const T7Layout layout = t7_layout(mesh);
  TextOutput out(output);
  if (layout.rf) {
    write_range(out, *layout.fast);
    // The file's frequency is the map's own: the harmonic of the fundamental.
    const double frequency =
        mesh.harmonic > 1 ? mesh.frequency * static_cast<double>(mesh.harmonic) : mesh.frequency;
    out.number(reading_back(frequency / 1e6, frequency, [](double x) { return x * 1e6; }));
    out.end_line();
    write_range(out, *layout.slow);
    // z fastest, as the mesh holds it; values in MV/m and H-phi in A/m.
    const std::size_t points = mesh.point_count();
    for (std::size_t n = 0; n < points; ++n) {
      const double e_z = at(fields, layout.values[0], n);
      const double e_r = at(fields, layout.values[1], n);
      const double b = at(fields, layout.values[2], n);
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
  const double factor = layout.factor;
  write_range(out, *layout.fast);
  write_range(out, *layout.slow);
  // The first coordinate varies fastest in the file.
  const auto first_points = static_cast<std::size_t>(layout.fast->points);
  const auto second_points = static_cast<std::size_t>(layout.slow->points);
  const auto read = [factor](double x) { return x * factor; };
  for (std::size_t j = 0; j < second_points; ++j) {
    for (std::size_t i = 0; i < first_points; ++i) {
      const std::size_t index = i * second_points + j;
      const double a = at(fields, layout.values[0], index);
      const double b = at(fields, layout.values[1], index);
      out.number(reading_back(a / factor, a, read));
      out.text(" ");
      out.number(reading_back(b / factor, b, read));
      out.end_line();
    }
  }
  out.flush();
}

void check_on_axis(const FieldMesh& mesh, const MeshWriteOptions&) {
  const RealFields fields(mesh);
  on_axis_layout(mesh);
}

void write_on_axis(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                   MeshWriteReport&) {
  OutputFile& output = files[0];
  const RealFields fields(mesh);
  const OnAxisField axis = on_axis_layout(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
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

namespace {

// The arrays of the SF7 table of the same map, each handed to `block(name, value_of)` where
// value_of(index) is the value at the mesh's point `index`: coordinates per point, the field
// along its two axes and its magnitude (then H-phi of an RF map, named Bphi), then any other
// component named by its field's letter and its axis (Bz, Etheta), and the mesh's other
// columns; `order` puts them in the table's point order, whose first coordinate varies fastest:
// z in the solver's RF tables, r or x in its static ones.
template <class Block>
void visit_tqs_arrays(const FieldMesh& mesh, const RealFields& fields, PointOrder& order,
                      Block block) {
  const bool rf = is_rf(mesh);
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const MeshAxis& slow = mesh.axes[0];                   // r or x
  const MeshAxis& fast = mesh.axes[cylindrical ? 2 : 1]; // z or y
  const auto n_slow = static_cast<std::size_t>(slow.points);
  const auto n_fast = static_cast<std::size_t>(fast.points);
  const bool z_first = rf && cylindrical;
  order = {z_first ? n_fast : n_slow, z_first ? n_slow : n_fast, !z_first};
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
  const auto coordinate = [&](const MeshAxis& axis, bool along_slow) {
    std::string name = axis.label;
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    block(name, [&](std::size_t index) {
      const std::size_t step = along_slow ? index / n_fast : index % n_fast;
      return axis.origin + static_cast<double>(step) * axis.spacing;
    });
  };
  coordinate(lead, &lead == &slow);
  coordinate(trail, &trail == &slow);
  const std::string letter = electric ? "E" : "B";
  block(letter + lead.label, [&](std::size_t index) { return at(fields, along_lead, index); });
  block(letter + trail.label, [&](std::size_t index) { return at(fields, along_trail, index); });
  block(electric ? "|E|" : "|B|", [&](std::size_t index) {
    return std::hypot(at(fields, along_lead, index), at(fields, along_trail, index));
  });
  if (rf) {
    // b = mu0 H, and the converter writes H in T with its own factor: the number whose reading
    // gives b back.
    const double factor = converter_h_factor();
    block("Bphi", [&](std::size_t index) {
      const double b = at(fields, b_theta, index);
      return reading_back(factor * (b / MESH_MU0), b,
                          [factor](double x) { return MESH_MU0 * (x / factor); });
    });
  }
  for (const MeshComponent& component : mesh.components) {
    if (&component == along_lead || &component == along_trail || &component == b_theta)
      continue;
    // A name that fits a block's 15 bytes: the field's letter and the axis (Bz, Btheta, Ex).
    block((component.field == FieldKind::electric ? "E" : "B") + component.axis,
          [&](std::size_t index) { return fields.value(component, index); });
  }
  for (const MeshColumn& column : mesh.columns)
    block(column.name, [&](std::size_t index) { return column.values[index]; });
}

} // namespace

// Every array's name must fit a block's 15 bytes, and be one of its own.
void check_tqs_arrays(const FieldMesh& mesh, const MeshWriteOptions&) {
  const RealFields fields(mesh);
  PointOrder order{1, 1, false};
  std::vector<std::string> names;
  visit_tqs_arrays(mesh, fields, order, [&](const std::string& name, auto) {
    if (name.size() >= TQS_NAME_SIZE)
      raise_mesh_error(mesh, "a TQS file holds names of at most %d bytes, not %s",
                       static_cast<int>(TQS_NAME_SIZE - 1), quoted_text(name).c_str());
    if (std::find(names.begin(), names.end(), name) != names.end())
      raise_mesh_error(mesh, "two of its TQS arrays would be named %s", quoted_text(name).c_str());
    names.push_back(name);
  });
}

void write_tqs_arrays(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                      MeshWriteReport&) {
  OutputFile& file = files[0];
  const RealFields fields(mesh);
  TqsOutput output;
  tqs_use_output(output, file, false);
  const std::size_t points = mesh.point_count();
  std::vector<double> values;
  try {
    values.resize(points);
  } catch (const std::bad_alloc&) {
    raise_message(Message::not_enough_memory);
  }
  write_converter_header(output);
  PointOrder order{1, 1, false};
  visit_tqs_arrays(mesh, fields, order, [&](const std::string& name, auto value_of) {
    for (std::size_t n = 0; n < points; ++n)
      values[n] = value_of(order.index(n));
    write_double_column(output, {name.c_str(), values});
  });
}

void write_openpmd_mesh(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                        MeshWriteReport&) {
  OutputFile& file = files[0];
  const char* const name = file.name();
  if (!mesh_has_openpmd())
    raise_input_failure(name, 0, UNSUPPORTED_OPENPMD_TEXT, name);
  // HDF5 files are read by seeking in them, which the reader of a pipe cannot do.
  if (file.temp_path().empty()) {
    raise_input_failure(name, 0,
                        "%s: an openPMD file is written as a file of its own, not into a pipe, "
                        "a device or standard output",
                        name);
  }
  // HDF5 writes the temporary file by its name; the output's commit writes it through to the
  // device and puts it in place. Nothing of the stream may come after HDF5's bytes.
  if (std::fflush(file.stream()) != 0)
    raise_file_error(name, errno);
  write_openpmd_file(mesh, file.temp_path().c_str(), name);
}

void write_sf7_tqs(Sf7Table& table, OutputFile& file, double factor) {
  TqsOutput output;
  tqs_use_output(output, file, false);
  const auto points = static_cast<std::size_t>(table.dim1) * static_cast<std::size_t>(table.dim2);
  const double h_factor = converter_h_factor();
  write_converter_header(output);
  for (std::size_t k = 0; k < table.columns.size(); ++k) {
    FieldColumn& column = table.columns[k];
    if (!column.data)
      continue;
    double* const values = column.data.get();
    // Read in A/m, H-phi becomes the converter's T: its one product with the factor, since
    // the reading multiplied by 1.
    if (std::string_view(column.sf7_unit.data()) == "(A/m)") {
      for (std::size_t n = 0; n < points; ++n)
        values[n] *= h_factor;
    }
    if (factor != 1 && k >= 2) {
      for (std::size_t n = 0; n < points; ++n)
        values[n] *= factor;
    }
    write_double_column(output, {column.out_name, {values, points}});
  }
}

namespace {

// The names of the write options, as the Python calls name them.
constexpr std::pair<unsigned, const char*> WRITE_OPTION_NAMES[] = {
    {MESH_OPTION_COEFFICIENTS, "coefficients"},
    {MESH_OPTION_ASCII, "ascii"},
    {MESH_OPTION_MIRROR, "mirror"},
    {MESH_OPTION_Z_OFFSET, "z_offset"},
    {MESH_OPTION_NORMALIZE_WORD, "normalize"},
};

// The MESH_OPTION_* bits of the write options that are set.
unsigned options_set(const MeshWriteOptions& options) {
  return (options.coefficients ? MESH_OPTION_COEFFICIENTS : 0U) |
         (options.ascii ? MESH_OPTION_ASCII : 0U) | (options.mirror ? MESH_OPTION_MIRROR : 0U) |
         (options.z_offset != 0 ? MESH_OPTION_Z_OFFSET : 0U) |
         (options.normalize_word ? MESH_OPTION_NORMALIZE_WORD : 0U);
}

} // namespace

void check_mesh_for_form(const FieldMesh& mesh, MeshForm form, const char* output_name,
                         const MeshWriteOptions& options) {
  const MeshFormRow& row = mesh_form_row(form);
  if (row.write == nullptr)
    raise_input_failure(output_name, 0, "%s: %s is a form that is only read", output_name,
                        row.info.title);
  const unsigned refused = options_set(options) & ~row.info.write_options;
  for (const auto& [bit, option] : WRITE_OPTION_NAMES) {
    if ((refused & bit) != 0)
      raise_input_failure(output_name, 0, "%s: a %s takes no %s", output_name, row.info.title,
                          option);
  }
  check_mesh(mesh);
  if (row.check != nullptr)
    row.check(mesh, options);
}

MeshWriteReport write_checked_mesh(const FieldMesh& mesh, MeshForm form,
                                   std::span<OutputFile> files, const MeshWriteOptions& options) {
  MeshWriteReport report;
  mesh_form_row(form).write(mesh, files, options, report);
  return report;
}

MeshWriteReport write_mesh(const FieldMesh& mesh, MeshFormat format, std::FILE* stream,
                           const char* name, const MeshWriteOptions& options) {
  check_mesh_for_form(mesh, format, name, options);
  if (mesh_output_paths(mesh, format, name, options).size() != 1)
    raise_input_failure(name, 0, "%s: a %s is written as several files, not into one stream", name,
                        mesh_form_info(format).title);
  OutputFile file;
  file.use_stream(stream, name);
  MeshWriteReport report = write_checked_mesh(mesh, format, {&file, 1}, options);
  if (const int error_number = file.commit())
    raise_file_error(name, error_number);
  return report;
}

MeshWriteReport write_mesh_file(const FieldMesh& mesh, MeshFormat format, const char* path,
                                const MeshWriteOptions& options) {
  // Refused before a file is opened, which may empty a file written in place.
  check_mesh_for_form(mesh, format, path, options);
  const std::vector<std::string> paths = mesh_output_paths(mesh, format, path, options);
  const std::unique_ptr<OutputFile[]> files(new OutputFile[paths.size()]);
  for (std::size_t k = 0; k < paths.size(); ++k) {
    if (const int error_number = files[k].open(paths[k].c_str(), mesh_output_mode(format)))
      raise_file_error(paths[k].c_str(), error_number);
  }
  MeshWriteReport report = write_checked_mesh(mesh, format, {files.get(), paths.size()}, options);
  // Each file whole or as it was: none is put in place before all are written.
  for (std::size_t k = 0; k < paths.size(); ++k) {
    if (const int error_number = files[k].commit())
      raise_file_error(paths[k].c_str(), error_number);
  }
  return report;
}

} // namespace norvalex
