// Meshes written as T7 grid files, on-axis tables, the converter's TQS arrays and openPMD field
// meshes, each into an output file: a file is replaced whole or left as it was.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/grid_text.h"
#include "mesh/impact_forms.h"
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
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

constexpr GridNames T7_NAMES{"a T7 file", "an RF T7 file", "a static T7 file"};

// The axis along which an on-axis table runs, checked.
OnAxisField on_axis_layout(const FieldMesh& mesh) {
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  if (along.points > 1 && !(along.spacing > 0))
    raise_mesh_error(mesh, "an on-axis file needs positions that increase");
  return axis;
}

// The layout of a T7 file of `variant`: Impact-T's RF one holds RF maps only, its solenoid one a
// static magnetic map round the axis, in T rather than G.
GridLayout t7_layout(const FieldMesh& mesh, T7Variant variant) {
  if (variant == T7Variant::rf_only && !is_rf(mesh))
    raise_mesh_error(mesh, "an Impact-T RF T7 file holds an RF map");
  if (variant == T7Variant::solenoid) {
    const bool electric = std::any_of(
        mesh.components.begin(), mesh.components.end(),
        [](const MeshComponent& component) { return component.field == FieldKind::electric; });
    if (is_rf(mesh) || electric || mesh.geometry != MeshGeometry::cylindrical)
      raise_mesh_error(mesh, "an Impact-T solenoid T7 file holds a static magnetic map round "
                             "the axis (r, z)");
  }
  GridLayout layout = grid_layout(mesh, T7_NAMES);
  if (variant == T7Variant::solenoid)
    layout.factor = 1;
  return layout;
}

} // namespace

void check_t7_variant(const FieldMesh& mesh, T7Variant variant) {
  const RealFields fields(mesh);
  t7_layout(mesh, variant);
}

void check_t7(const FieldMesh& mesh, const MeshWriteOptions&) {
  check_t7_variant(mesh, T7Variant::any);
}

void write_t7(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
              MeshWriteReport&) {
  write_t7_variant(mesh, files[0], T7Variant::any);
}

void check_impact_t7(const FieldMesh& mesh, const MeshWriteOptions&) {
  check_t7_variant(mesh, T7Variant::rf_only);
}

void write_impact_t7(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                     MeshWriteReport&) {
  write_t7_variant(mesh, files[0], T7Variant::rf_only);
}

void check_impact_solenoid(const FieldMesh& mesh, const MeshWriteOptions&) {
  check_t7_variant(mesh, T7Variant::solenoid);
}

void write_impact_solenoid(const FieldMesh& mesh, std::span<OutputFile> files,
                           const MeshWriteOptions&, MeshWriteReport&) {
  write_t7_variant(mesh, files[0], T7Variant::solenoid);
}

void write_t7_variant(const FieldMesh& mesh, OutputFile& output, T7Variant variant) {
  const RealFields fields(mesh);
  const GridLayout layout = t7_layout(mesh, variant);
  TextOutput out(output);
  if (layout.rf) {
    write_range(out, *layout.fast, NumberChoice::nearest);
    write_frequency_line(out, mesh, NumberChoice::nearest);
    write_range(out, *layout.slow, NumberChoice::nearest);
    write_rf_points(out, mesh, fields, layout, NumberChoice::nearest);
    return;
  }
  const double factor = layout.factor;
  write_range(out, *layout.fast, NumberChoice::nearest);
  write_range(out, *layout.slow, NumberChoice::nearest);
  // The first coordinate varies fastest in the file.
  const auto first_points = static_cast<std::size_t>(layout.fast->points);
  const auto second_points = static_cast<std::size_t>(layout.slow->points);
  const auto read = [factor](double x) { return x * factor; };
  write_item_lines(
      out, first_points * second_points, [&](TextBuffer& text, std::size_t first, std::size_t end) {
        for (std::size_t n = first; n < end; ++n) {
          const std::size_t index = n % first_points * second_points + n / first_points;
          const double a = value_or_zero(fields, layout.values[0], index);
          const double b = value_or_zero(fields, layout.values[1], index);
          text.number(reading_back(a / factor, a, read));
          text.text(" ");
          text.number(reading_back(b / factor, b, read));
          text.end_line();
        }
      });
}

void check_on_axis(const FieldMesh& mesh, const MeshWriteOptions&) {
  const RealFields fields(mesh);
  on_axis_layout(mesh);
}

void write_on_axis(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                   MeshWriteReport&) {
  TextOutput out(files[0]);
  write_axis_pairs(out, axis_field(mesh, axis_field_kind(mesh), "an on-axis file"), false);
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
  block(letter + lead.label,
        [&](std::size_t index) { return value_or_zero(fields, along_lead, index); });
  block(letter + trail.label,
        [&](std::size_t index) { return value_or_zero(fields, along_trail, index); });
  block(electric ? "|E|" : "|B|", [&](std::size_t index) {
    return std::hypot(value_or_zero(fields, along_lead, index),
                      value_or_zero(fields, along_trail, index));
  });
  if (rf) {
    // b = mu0 H, and the converter writes H in T with its own factor: the number whose reading
    // gives b back.
    const double factor = converter_h_factor();
    block("Bphi", [&](std::size_t index) {
      const double b = value_or_zero(fields, b_theta, index);
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

// The arrays of a rectangular map across z (3-D, or a plane of one that holds z), each handed
// to `block(name, value_of)` where value_of(n) is the value at the table's point n: X, Y and Z
// per point, x fastest as the solver's tables are, then every component named by its field's
// letter and its axis (Ex, ..., Bz), then the mesh's other columns.
template <class Block>
void visit_tqs_arrays_3d(const FieldMesh& mesh, const RealFields& fields, Block block) {
  const XFastOrder order{static_cast<std::size_t>(mesh.axes[0].points),
                         static_cast<std::size_t>(mesh.axes[1].points),
                         static_cast<std::size_t>(mesh.axes[2].points)};
  const std::array<std::size_t, 3> strides{1, order.nx, order.nx * order.ny};
  const std::array<std::size_t, 3> counts{order.nx, order.ny, order.nz};
  for (std::size_t a = 0; a < 3; ++a) {
    const MeshAxis& axis = mesh.axes[a];
    block(std::string(1, static_cast<char>(axis.label[0] - 'a' + 'A')), [&](std::size_t n) {
      return axis.origin + static_cast<double>(n / strides[a] % counts[a]) * axis.spacing;
    });
  }
  for (const MeshComponent& component : mesh.components) {
    block((component.field == FieldKind::electric ? "E" : "B") + component.axis,
          [&](std::size_t n) { return fields.value(component, order.index(n)); });
  }
  for (const MeshColumn& column : mesh.columns)
    block(column.name, [&](std::size_t n) { return column.values[order.index(n)]; });
}

// The arrays of the map's TQS file, each handed to `block(name, value_of)` where value_of(n) is
// the value at the table's point n: those of the SF7 table of the same map, or of a map across z.
template <class Block>
void visit_table_arrays(const FieldMesh& mesh, const RealFields& fields, Block block) {
  if (mesh.geometry == MeshGeometry::rectangular && mesh.axes[2].points > 1) {
    visit_tqs_arrays_3d(mesh, fields, block);
    return;
  }
  PointOrder order{1, 1, false}; // set by the visit before its first block
  visit_tqs_arrays(mesh, fields, order, [&](const std::string& name, auto value_of) {
    block(name, [&](std::size_t n) { return value_of(order.index(n)); });
  });
}

} // namespace

// Every array's name must fit a block's 15 bytes, and be one of its own.
void check_tqs_arrays(const FieldMesh& mesh, const MeshWriteOptions&) {
  const RealFields fields(mesh);
  std::vector<std::string> names;
  visit_table_arrays(mesh, fields, [&](const std::string& name, auto) {
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
  visit_table_arrays(mesh, fields, [&](const std::string& name, auto value_of) {
    for (std::size_t n = 0; n < points; ++n)
      values[n] = value_of(n);
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
                        with_article(row.info.title).c_str());
  const unsigned refused = options_set(options) & ~row.info.write_options;
  for (const auto& [bit, option] : WRITE_OPTION_NAMES) {
    if ((refused & bit) != 0)
      raise_input_failure(output_name, 0, "%s: %s takes no %s", output_name,
                          with_article(row.info.title).c_str(), option);
  }
  check_mesh(mesh);
  // A 3-D map goes into a plane form as a plane of it or its cylindrical map; a 1-D form takes
  // the field along its axis.
  const MeshHolds& holds = row.info.holds;
  if (mesh.dimensions() == 3 && !holds.three_d && !holds.one_d)
    raise_mesh_error(mesh,
                     "%s holds no 3-D map: take a plane of it or its cylindrical map "
                     "(fieldmap's --plane or --cylindrical)",
                     with_article(row.info.title).c_str());
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
    raise_input_failure(name, 0, "%s: %s is written as several files, not into one stream", name,
                        with_article(mesh_form_info(format).title).c_str());
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
