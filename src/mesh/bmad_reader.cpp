// Bmad's grid_field text read as a mesh: a rotationally_symmetric_rz grid, point pt(i, j) at
// r0 + (i dr, j dz), or an xyz grid, pt(i, j, k) at r0 + (i dx, j dy, k dz); each point three
// complex values (Er, Ephi, Ez or Br, Bphi, Bz; Ex, Ey, Ez or Bx, By, Bz) or six (E, then B).
// Values are in SI units and the fields Re[F exp(-i 2 pi f t)], the mesh's own convention, so
// they are taken as they are. Points the file leaves out are 0, as Bmad takes them.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/bmad_grid_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

// The mesh's axes of the file's indices, and their names.
struct GridAxes {
  std::size_t count;
  std::array<std::size_t, BMAD_MAX_AXES> mesh_axis;
  const char* names; // of r0's and dr's numbers
};

GridAxes grid_axes(BmadGeometry geometry) {
  return geometry == BmadGeometry::rz ? GridAxes{2, {0, 2, 0}, "two (r, z)"}
                                      : GridAxes{3, {0, 1, 2}, "three (x, y, z)"};
}

const char* geometry_name(BmadGeometry geometry) {
  return geometry == BmadGeometry::rz ? "rotationally_symmetric_rz" : "xyz";
}

std::string vector_text(const BmadVector& vector) {
  std::string text;
  for (std::size_t a = 0; a < vector.count; ++a) {
    text += a == 0 ? "(" : ", ";
    text += number_text(vector.values[a]);
  }
  return text + ")";
}

// The file's indices, r0 and dr as many as its geometry has axes.
void check_axes(const GridFieldText& text, const char* path) {
  const GridAxes axes = grid_axes(text.geometry);
  if (text.axes != axes.count) {
    const BmadPoint& first = text.points.front();
    raise_input_error(path, first.line, "%s has %d indices: geometry %s has %s",
                      bmad_point_name(first, text.axes).c_str(), static_cast<int>(text.axes),
                      geometry_name(text.geometry), axes.names);
  }
  for (const auto& [key, vector] : {std::pair{"r0", &text.origin}, {"dr", &text.spacing}}) {
    if (*vector && (*vector)->count != axes.count)
      raise_input_error(path, (*vector)->line, "%s %s: geometry %s has %s", key,
                        vector_text(**vector).c_str(), geometry_name(text.geometry), axes.names);
  }
}

// The grid's extent and its place: indices low to high along each axis, each point at r0 +
// index * dr; an axis of one point has spacing 0.
void set_grid(FieldMesh& mesh, const GridFieldText& text, const char* path) {
  const GridAxes axes = grid_axes(text.geometry);
  const BmadVector origin = text.origin.value_or(BmadVector{});
  const BmadVector spacing = text.spacing.value_or(BmadVector{});
  for (std::size_t a = 0; a < axes.count; ++a) {
    MeshAxis& axis = mesh.axes[axes.mesh_axis[a]];
    axis.points = text.high[a] - text.low[a] + 1;
    if (axis.points > 1 && !text.spacing)
      raise_input_failure(path, 0, "%s: the grid_field states no dr, the spacing of its points",
                          path);
    const double step = spacing.values[a];
    if (axis.points > 1 && !(step > 0)) {
      raise_input_error(
          path, spacing.line, "dr %s: the spacing along %s must be positive, for %lld points",
          vector_text(spacing).c_str(), axis.label.c_str(), static_cast<long long>(axis.points));
    }
    axis.spacing = axis.points > 1 ? step : 0;
    axis.origin = text.low[a] == 0 ? origin.values[a]
                                   : origin.values[a] + static_cast<double>(text.low[a]) * step;
    const double last = axis.origin + static_cast<double>(axis.points - 1) * axis.spacing;
    if (!std::isfinite(axis.origin) || !std::isfinite(last))
      raise_input_failure(path, 0,
                          "%s: r0 and dr put the grid's points along %s past the largest "
                          "number",
                          path, axis.label.c_str());
  }
}

// Leaves out the components that are 0 at every point, but for those of a field that is 0
// everywhere along the grid's axes (r and z, or x, y and z): a field the file holds stays a field
// of the mesh.
void drop_zero_components(FieldMesh& mesh) {
  const std::size_t points = mesh.point_count();
  const auto is_zero = [&](const MeshComponent& component) {
    const std::complex<double>* values = component.values.data();
    return std::all_of(values, values + points,
                       [](std::complex<double> v) { return v == std::complex<double>(0, 0); });
  };
  std::vector<bool> zero;
  bool field_zero[2] = {true, true};
  for (const MeshComponent& component : mesh.components) {
    zero.push_back(is_zero(component));
    field_zero[component.field == FieldKind::magnetic] =
        field_zero[component.field == FieldKind::magnetic] && zero.back();
  }
  std::size_t k = 0;
  std::erase_if(mesh.components, [&](const MeshComponent& component) {
    const bool kept_field = field_zero[component.field == FieldKind::magnetic];
    return zero[k++] && !(kept_field && component.axis != "theta");
  });
}

void add_notes(FieldMesh& mesh, const GridFieldText& text, std::size_t given, bool imaginary) {
  const std::size_t points = mesh.point_count();
  std::string counts = std::to_string(given) + " of " + std::to_string(points) + " in the file";
  if (given < points)
    counts += "; " + std::to_string(points - given) + " left out, taken as 0";
  mesh.source.notes.push_back({"points", counts});
  if (!text.skipped.empty()) {
    std::string keys;
    for (const std::string& key : text.skipped)
      keys += (keys.empty() ? "" : ", ") + key;
    if (text.more_skipped)
      keys += " and others";
    mesh.source.notes.push_back({"skipped", keys + " (not held by the field mesh)"});
  }
  if (imaginary)
    mesh.source.notes.push_back({"imaginary", "parts left out: a static field is the real part"});
}

// The field: as the file states it, else as its points' values tell, else as given.
BmadFieldType field_type_of(const GridFieldText& text, const char* path,
                            const MeshReadOptions& options) {
  const std::string first = bmad_point_name(text.points.front(), text.axes);
  const std::int32_t line = text.points.front().line;
  const int count = static_cast<int>(text.count);
  if (text.field_type) {
    const BmadFieldType type = *text.field_type;
    const std::size_t needed = type == BmadFieldType::mixed ? BMAD_MIXED_VALUES : BMAD_FIELD_VALUES;
    if (text.count != needed) {
      raise_input_error(path, line, "%s holds %d values: field_type %s needs %d", first.c_str(),
                        count, type == BmadFieldType::mixed ? "mixed" : "electric or magnetic",
                        static_cast<int>(needed));
    }
    return type;
  }
  if (text.count == BMAD_MIXED_VALUES)
    return BmadFieldType::mixed;
  if (text.count != BMAD_FIELD_VALUES)
    raise_input_error(path, line, "%s holds %d values: 3 (one field) or 6 (E, then B) expected",
                      first.c_str(), count);
  if (!options.field)
    raise_input_failure(path, 0,
                        "%s: the grid_field states no field_type and its points hold 3 values: "
                        "give the field, electric or magnetic",
                        path);
  return *options.field == FieldKind::electric ? BmadFieldType::electric : BmadFieldType::magnetic;
}

FieldMesh build_mesh(const GridFieldText& text, const char* path, const MeshReadOptions& options) {
  if (text.geometry == BmadGeometry::unstated)
    raise_input_failure(path, 0,
                        "%s: the grid_field states no geometry: rotationally_symmetric_rz or xyz "
                        "expected",
                        path);
  if (text.points.empty())
    raise_input_failure(path, 0, "%s: the grid_field holds no point pt", path);
  check_axes(text, path);
  const BmadFieldType type = field_type_of(text, path, options);
  const bool cylindrical = text.geometry == BmadGeometry::rz;
  FieldMesh mesh = new_mesh(cylindrical ? MeshGeometry::cylindrical : MeshGeometry::rectangular);
  set_grid(mesh, text, path);
  const bool electric = type != BmadFieldType::magnetic;
  const bool magnetic = type != BmadFieldType::electric;
  const bool rf = text.harmonic > 0;
  set_problem(mesh, path, options, rf, electric, magnetic, "a Bmad grid_field");
  mesh.harmonic = text.harmonic;
  mesh.field_scale = text.field_scale;
  mesh.rf_phase = text.phase;
  mesh.anchor = text.anchor;

  // The components in the order of the point's values: E, then B, each along r, phi and z (the
  // mesh's theta), or x, y and z, the mesh's axes.
  std::vector<std::complex<double>*> values;
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    if (field == FieldKind::electric ? !electric : !magnetic)
      continue;
    for (const MeshAxis& axis : mesh.axes) {
      MeshComponent* component = add_component(mesh, field, axis.label);
      if (component == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      std::fill_n(component->values.data(), component->values.size(), std::complex<double>(0, 0));
      values.push_back(component->values.data());
    }
  }
  const GridAxes axes = grid_axes(text.geometry);
  const std::size_t points = mesh.point_count();
  // One bit per grid point: which the file gave.
  MeshArray<std::uint64_t> given((points + 63) / 64);
  if (given.data() == nullptr)
    raise_input_failure(path, ENOMEM, "Not enough memory");
  std::fill_n(given.data(), given.size(), 0);
  bool imaginary = false;
  const std::complex<double>* value = text.values.data();
  for (const BmadPoint& point : text.points) {
    // C order over the mesh's axes; the theta axis of a cylindrical mesh has one point.
    std::size_t index = 0;
    for (std::size_t a = 0; a < axes.count; ++a) {
      index = index * static_cast<std::size_t>(mesh.axes[axes.mesh_axis[a]].points) +
              static_cast<std::size_t>(point.index[a] - text.low[a]);
    }
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if ((given[index / 64] & bit) != 0)
      raise_input_error(path, point.line, "%s given twice",
                        bmad_point_name(point, text.axes).c_str());
    given[index / 64] |= bit;
    for (std::complex<double>* component : values) {
      // A static field (harmonic 0) is the real part: Re[F exp(0)].
      imaginary = imaginary || (!rf && value->imag() != 0);
      component[index] = rf ? *value : std::complex<double>(value->real(), 0);
      ++value;
    }
  }
  drop_zero_components(mesh);
  add_notes(mesh, text, text.points.size(), imaginary);
  return mesh;
}

} // namespace

bool bmad_signature(const FileStart& start) {
  return starts_like_grid_field(start.bytes);
}

FieldMesh read_bmad_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  try {
    GridFieldText text;
    BmadLexer lexer(stream.get(), path);
    read_grid_field(lexer, text);
    FieldMesh mesh = build_mesh(text, path, options);
    mesh.source.file = path;
    mesh.source.form = MeshForm::bmad;
    return mesh;
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
}

} // namespace norvalex
