// Bmad's grid_field text read as a mesh: a rotationally_symmetric_rz grid, point pt(i, j) at
// r0 + (i dr, j dz), each point three complex values (Er, Ephi, Ez or Br, Bphi, Bz) or six (E,
// then B). Values are in SI units and the fields Re[F exp(-i 2 pi f t)], the mesh's own
// convention, so they are taken as they are. Points the file leaves out are 0, as Bmad takes
// them.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/bmad_grid_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

namespace norvalex {

namespace {

// The grid's extent and its place: indices low to high along r and z, each point at r0 + index *
// dr; an axis of one point has spacing 0.
void set_grid(FieldMesh& mesh, const GridFieldText& text, const char* path) {
  const std::int64_t along_r = text.high[0] - text.low[0] + 1;
  const std::int64_t along_z = text.high[1] - text.low[1] + 1;
  if ((along_r > 1 || along_z > 1) && !text.spacing)
    raise_input_failure(path, 0, "%s: the grid_field states no dr, the spacing of its points",
                        path);
  const BmadPair origin = text.origin.value_or(BmadPair{0, 0, 0});
  const BmadPair spacing = text.spacing.value_or(BmadPair{0, 0, 0});
  const struct {
    MeshAxis& axis;
    std::int64_t points;
    std::int64_t low;
    double origin;
    double spacing;
  } axes[] = {{mesh.axes[0], along_r, text.low[0], origin.r, spacing.r},
              {mesh.axes[2], along_z, text.low[1], origin.z, spacing.z}};
  for (const auto& a : axes) {
    a.axis.points = a.points;
    if (a.points > 1 && !(a.spacing > 0)) {
      raise_input_error(path, spacing.line,
                        "dr (%s, %s): the spacing along %s must be positive, for %lld points",
                        number_text(spacing.r).c_str(), number_text(spacing.z).c_str(),
                        a.axis.label.c_str(), static_cast<long long>(a.points));
    }
    a.axis.spacing = a.points > 1 ? a.spacing : 0;
    a.axis.origin = a.low == 0 ? a.origin : a.origin + static_cast<double>(a.low) * a.spacing;
    const double last = a.axis.origin + static_cast<double>(a.points - 1) * a.axis.spacing;
    if (!std::isfinite(a.axis.origin) || !std::isfinite(last))
      raise_input_failure(path, 0,
                          "%s: r0 and dr put the grid's points along %s past the largest "
                          "number",
                          path, a.axis.label.c_str());
  }
}

// Leaves out the components that are 0 at every point, but for the r and z components of a field
// that is 0 everywhere: a field the file holds stays a field of the mesh.
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

FieldMesh build_mesh(const GridFieldText& text, const char* path, const MeshReadOptions& options) {
  if (!text.geometry)
    raise_input_failure(path, 0,
                        "%s: the grid_field states no geometry: rotationally_symmetric_rz "
                        "expected",
                        path);
  if (text.points.empty())
    raise_input_failure(path, 0, "%s: the grid_field holds no point pt(i, j)", path);
  // The field: as the file states it, else as its points' values tell, else as given.
  const BmadPoint& first = text.points.front();
  const int count = static_cast<int>(text.count);
  BmadFieldType type = BmadFieldType::mixed;
  if (text.field_type) {
    type = *text.field_type;
    const std::size_t needed = type == BmadFieldType::mixed ? BMAD_MIXED_VALUES : BMAD_FIELD_VALUES;
    if (text.count != needed) {
      raise_input_error(path, first.line, "pt(%d,%d) holds %d values: field_type %s needs %d",
                        first.i, first.j, count,
                        type == BmadFieldType::mixed ? "mixed" : "electric or magnetic",
                        static_cast<int>(needed));
    }
  } else if (text.count == BMAD_FIELD_VALUES) {
    if (!options.field)
      raise_input_failure(path, 0,
                          "%s: the grid_field states no field_type and its points hold 3 values: "
                          "give the field, electric or magnetic",
                          path);
    type =
        *options.field == FieldKind::electric ? BmadFieldType::electric : BmadFieldType::magnetic;
  } else if (text.count != BMAD_MIXED_VALUES) {
    raise_input_error(path, first.line,
                      "pt(%d,%d) holds %d values: 3 (one field) or 6 (E, then B) expected", first.i,
                      first.j, count);
  }

  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  set_grid(mesh, text, path);
  const bool electric = type != BmadFieldType::magnetic;
  const bool magnetic = type != BmadFieldType::electric;
  const bool rf = text.harmonic > 0;
  set_problem(mesh, path, options, rf, electric, magnetic, "a Bmad grid_field");
  mesh.harmonic = text.harmonic;
  mesh.field_scale = text.field_scale;
  mesh.rf_phase = text.phase;
  mesh.anchor = text.anchor;

  // The components in the order of the point's values: E, then B, each along r, theta, z.
  std::vector<std::complex<double>*> values;
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    if (field == FieldKind::electric ? !electric : !magnetic)
      continue;
    for (const char* axis : {"r", "theta", "z"}) {
      MeshComponent* component = add_component(mesh, field, axis);
      if (component == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      std::fill_n(component->values.data(), component->values.size(), std::complex<double>(0, 0));
      values.push_back(component->values.data());
    }
  }
  const std::size_t along_z = static_cast<std::size_t>(mesh.axes[2].points);
  const std::size_t points = mesh.point_count();
  // One bit per grid point: which the file gave.
  MeshArray<std::uint64_t> given((points + 63) / 64);
  if (given.data() == nullptr)
    raise_input_failure(path, ENOMEM, "Not enough memory");
  std::fill_n(given.data(), given.size(), 0);
  bool imaginary = false;
  const std::complex<double>* value = text.values.data();
  for (const BmadPoint& point : text.points) {
    const std::size_t index = static_cast<std::size_t>(point.i - text.low[0]) * along_z +
                              static_cast<std::size_t>(point.j - text.low[1]);
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if ((given[index / 64] & bit) != 0)
      raise_input_error(path, point.line, "pt(%d,%d) given twice", point.i, point.j);
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
