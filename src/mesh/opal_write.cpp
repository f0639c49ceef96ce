// Meshes written as OPAL's maps: a 1-D map's field along the axis as 1DDynamic, 1DElectroStatic
// or 1DMagnetoStatic, a 2-D map as 2DDynamic, 2DElectroStatic or 2DMagnetoStatic XZ, the type
// chosen from the map. Every line holds exactly the words the tracker's reader takes, counts as
// integers, numbers in their shortest decimal form (no D exponents, no inf or nan); no line comes
// near the reader's 255 characters (four numbers of 24 characters or fewer).
#include "mesh/axis_field.h"
#include "mesh/grid_text.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"

#include <cmath>

namespace norvalex {

namespace {

constexpr GridNames OPAL_2D_NAMES{"an OPAL 2-D map", "an OPAL 2DDynamic map",
                                  "an OPAL 2-D static map"};

const char* normalize_word(const MeshWriteOptions& options) {
  return options.normalize_word.value_or(true) ? "TRUE" : "FALSE";
}

// Under TRUE the tracker divides the map by its largest value on the axis.
void check_normalizable(const FieldMesh& mesh, const MeshWriteOptions& options,
                        const AxisField& field) {
  if (!options.normalize_word.value_or(true))
    return;
  for (const double value : field.values) {
    if (value != 0)
      return;
  }
  raise_mesh_error(mesh, "the field on the axis is 0 everywhere, which the tracker divides by "
                         "under TRUE: write the map with FALSE");
}

// A 1-D map: its type and its field along the axis.
struct Opal1d {
  const char* type;
  bool rf;
  AxisField field;
};

Opal1d opal_1d_layout(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const FieldKind kind = axis_field_kind(mesh);
  const bool rf = is_rf(mesh);
  if (rf && kind != FieldKind::electric)
    raise_mesh_error(mesh, "an OPAL 1DDynamic map holds Ez, and the map has none on its axis");
  if (rf && mesh.frequency == 0) {
    raise_mesh_error(mesh, "the map states no frequency, which an OPAL 1DDynamic map holds: give "
                           "the frequency in Hz");
  }
  Opal1d layout{rf                            ? "1DDynamic"
                : kind == FieldKind::electric ? "1DElectroStatic"
                                              : "1DMagnetoStatic",
                rf, axis_field_for_writing(mesh, kind, options, "an OPAL 1-D map")};
  check_normalizable(mesh, options, layout.field);
  return layout;
}

// The field of a 2-D map's layout: the electric field of an RF map, else the static one.
FieldKind layout_field(const GridLayout& layout) {
  const MeshComponent* const any =
      layout.values[0] != nullptr ? layout.values[0] : layout.values[1];
  return layout.rf || any == nullptr ? FieldKind::electric : any->field;
}

// A 2-D map's grid layout: cylindrical, from the axis.
GridLayout opal_2d_layout(const FieldMesh& mesh) {
  if (mesh.geometry != MeshGeometry::cylindrical)
    raise_mesh_error(mesh, "an OPAL 2-D map is cylindrical (r, z)");
  const GridLayout layout = grid_layout(mesh, OPAL_2D_NAMES);
  if (mesh.axes[0].origin != 0) {
    raise_mesh_error(mesh,
                     "an OPAL 2-D map starts at the axis, and the map's r starts at %s m (the "
                     "tracker would put its first row at r = 0)",
                     number_text(mesh.axes[0].origin).c_str());
  }
  return layout;
}

// The number that reads back as `value` (V/m or T) from the map's unit (MV/m or T).
void write_value(TextBuffer& out, double value, FieldKind field) {
  if (field == FieldKind::electric)
    out.number(shortest_reading_back(value / 1e6, value, [](double x) { return x * 1e6; }));
  else
    out.number(value);
}

} // namespace

void check_opal_1d(const FieldMesh& mesh, const MeshWriteOptions& options) {
  opal_1d_layout(mesh, options);
}

void write_opal_1d(const FieldMesh& mesh, std::span<OutputFile> files,
                   const MeshWriteOptions& options, MeshWriteReport&) {
  const Opal1d layout = opal_1d_layout(mesh, options);
  const AxisField& field = layout.field;
  TextOutput out(files[0]);
  // As many Fourier terms as points: the tracker's series of the map then passes through every
  // value.
  out.text(layout.type);
  out.text(" ");
  out.number(static_cast<double>(field.values.size()));
  out.text(" ");
  out.text(normalize_word(options));
  out.end_line();
  write_range(
      out, MeshAxis{"z", static_cast<std::int64_t>(field.values.size()), field.step, field.start},
      NumberChoice::shortest);
  if (layout.rf)
    write_frequency_line(out, mesh, NumberChoice::shortest);
  // The r range, which the tracker's 1-D readers read and do not use: a 2-D map's own, else 1 cm.
  if (mesh.axes[0].points > 1)
    write_range(out, mesh.axes[0], NumberChoice::shortest);
  else
    out.text("0 1 1\n");
  for (const double value : field.values) {
    write_value(out, value, field.field);
    out.end_line();
  }
  out.flush();
}

// Its values, which only the check walks: the write comes after it.
void check_opal_2d(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const RealFields fields(mesh);
  const GridLayout layout = opal_2d_layout(mesh);
  for (const MeshComponent* component : layout.values) {
    for (std::size_t n = 0; component != nullptr && n < component->values.size(); ++n) {
      const double value = fields.value(*component, n);
      if (!std::isfinite(value)) {
        raise_mesh_error(mesh, "an OPAL 2-D map holds finite values, and %s has %s",
                         component->name().c_str(), number_text(value).c_str());
      }
    }
  }
  if (!std::isfinite(mesh.axes[2].origin + options.z_offset))
    raise_mesh_error(mesh,
                     "an OPAL 2-D map: the positions moved by the z offset are beyond numbers");
  check_normalizable(mesh, options, axis_field(mesh, layout_field(layout), "an OPAL 2-D map"));
}

void write_opal_2d(const FieldMesh& mesh, std::span<OutputFile> files,
                   const MeshWriteOptions& options, MeshWriteReport&) {
  const RealFields fields(mesh);
  const GridLayout layout = opal_2d_layout(mesh);
  const bool rf = layout.rf;
  const FieldKind field = layout_field(layout);
  TextOutput out(files[0]);
  out.text(rf ? "2DDynamic" : field == FieldKind::electric ? "2DElectroStatic" : "2DMagnetoStatic");
  out.text(" XZ ");
  out.text(normalize_word(options));
  out.end_line();
  MeshAxis z = mesh.axes[2];
  z.origin += options.z_offset;
  write_range(out, z, NumberChoice::shortest);
  if (rf)
    write_frequency_line(out, mesh, NumberChoice::shortest);
  write_range(out, mesh.axes[0], NumberChoice::shortest);
  if (rf) {
    write_rf_points(out, mesh, fields, layout, NumberChoice::shortest);
    return;
  }
  // The field along z, then along r, z fastest as the mesh holds it.
  write_item_lines(out, mesh.point_count(),
                   [&](TextBuffer& text, std::size_t first, std::size_t end) {
                     for (std::size_t n = first; n < end; ++n) {
                       write_value(text, value_or_zero(fields, layout.values[1], n), field);
                       text.text(" ");
                       write_value(text, value_or_zero(fields, layout.values[0], n), field);
                       text.end_line();
                     }
                   });
}

} // namespace norvalex
