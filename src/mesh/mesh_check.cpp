// The check that a mesh holds only what its readers take back: every writer makes it before its
// output is opened, so that no form is written that its own reader would refuse.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace norvalex {

namespace {

std::string extents_text(const FieldMesh& mesh) {
  std::string text;
  for (const MeshAxis& axis : mesh.axes)
    text += (text.empty() ? "" : " x ") + std::to_string(axis.points);
  return text;
}

void check_grid(const FieldMesh& mesh) {
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  if (!cylindrical && mesh.geometry != MeshGeometry::rectangular)
    raise_mesh_error(mesh, "its geometry is neither cylindrical nor rectangular");
  const std::array<const char*, 3>& labels = axis_labels(mesh.geometry);
  for (std::size_t k = 0; k < 3; ++k) {
    if (mesh.axes[k].label != labels[k]) {
      raise_mesh_error(
          mesh, "axisLabels %s, %s, %s: a %s mesh has %s", quoted_text(mesh.axes[0].label).c_str(),
          quoted_text(mesh.axes[1].label).c_str(), quoted_text(mesh.axes[2].label).c_str(),
          cylindrical ? "cylindrical" : "rectangular", cylindrical ? "r, theta, z" : "x, y, z");
    }
  }
  std::int64_t points = 1;
  for (const MeshAxis& axis : mesh.axes) {
    if (axis.points < 1)
      raise_mesh_error(mesh, "gridSize %s: every extent must be at least 1",
                       extents_text(mesh).c_str());
    if (axis.points > MESH_MAX_POINTS / points)
      raise_mesh_error(mesh, "gridSize %s: more than %lld points", extents_text(mesh).c_str(),
                       static_cast<long long>(MESH_MAX_POINTS));
    points *= axis.points;
  }
  if (cylindrical && mesh.axes[1].points != 1)
    raise_mesh_error(mesh, "gridSize %s: a cylindrical mesh holds one theta plane",
                     extents_text(mesh).c_str());
  for (const MeshAxis& axis : mesh.axes) {
    if (!std::isfinite(axis.spacing) || (axis.points > 1 && !(axis.spacing > 0)))
      raise_mesh_error(mesh,
                       "gridSpacing %s of axis %s: an axis of %lld points needs a finite%s "
                       "spacing",
                       number_text(axis.spacing).c_str(), axis.label.c_str(),
                       static_cast<long long>(axis.points), axis.points > 1 ? " positive" : "");
    if (!std::isfinite(axis.origin))
      raise_mesh_error(mesh, "gridOriginOffset %s of axis %s: a finite number expected",
                       number_text(axis.origin).c_str(), axis.label.c_str());
  }
}

void check_attributes(const FieldMesh& mesh) {
  if (!std::isfinite(mesh.frequency) || mesh.frequency < 0)
    raise_mesh_error(mesh, "fundamentalFrequency %s: a finite frequency of at least 0 expected",
                     number_text(mesh.frequency).c_str());
  if (mesh.harmonic < 0)
    raise_mesh_error(mesh, "harmonic %lld: at least 0 expected",
                     static_cast<long long>(mesh.harmonic));
  if (!std::isfinite(mesh.rf_phase))
    raise_mesh_error(mesh, "RFphase %s: a finite number expected",
                     number_text(mesh.rf_phase).c_str());
  if (!std::isfinite(mesh.field_scale))
    raise_mesh_error(mesh, "fieldScale %s: a finite number expected",
                     number_text(mesh.field_scale).c_str());
  if (mesh.anchor != "beginning" && mesh.anchor != "center" && mesh.anchor != "end")
    raise_mesh_error(mesh, "eleAnchorPt %s: beginning, center or end expected",
                     quoted_text(mesh.anchor).c_str());
}

void check_components(const FieldMesh& mesh) {
  const std::size_t points = mesh.point_count();
  const bool rf = is_rf(mesh);
  for (std::size_t k = 0; k < mesh.components.size(); ++k) {
    const MeshComponent& component = mesh.components[k];
    const std::string name = quoted_text(component.name());
    if (axis_index(mesh, component.axis) < 0)
      raise_mesh_error(mesh,
                       "unknown component %s: components are electricField/<axis> and "
                       "magneticField/<axis>, <axis> %s, %s or %s",
                       name.c_str(), mesh.axes[0].label.c_str(), mesh.axes[1].label.c_str(),
                       mesh.axes[2].label.c_str());
    if (component.values.size() != points)
      raise_mesh_error(mesh, "component %s has %llu values, not the grid's %llu", name.c_str(),
                       static_cast<unsigned long long>(component.values.size()),
                       static_cast<unsigned long long>(points));
    for (std::size_t j = 0; j < k; ++j) {
      if (mesh.components[j].field == component.field && mesh.components[j].axis == component.axis)
        raise_mesh_error(mesh, "component %s is there twice", name.c_str());
    }
    if (rf)
      continue;
    for (std::size_t n = 0; n < points; ++n) {
      if (component.values[n].imag() != 0)
        raise_mesh_error(mesh,
                         "component %s has imaginary parts in a static mesh (harmonic 0, "
                         "fundamentalFrequency 0)",
                         name.c_str());
    }
  }
}

// A column's name is a word of printable bytes, one of its own.
void check_columns(const FieldMesh& mesh) {
  const std::size_t points = mesh.point_count();
  std::vector<std::string> names;
  for (const MeshColumn& column : mesh.columns) {
    bool printable = !column.name.empty();
    for (const char c : column.name)
      printable &= static_cast<unsigned char>(c) > 0x20 && c != 0x7F;
    if (!printable)
      raise_mesh_error(mesh, "column %s: a name of printable characters without blanks expected",
                       quoted_text(column.name).c_str());
    if (column.values.size() != points)
      raise_mesh_error(mesh, "column %s has %llu values, not the grid's %llu",
                       quoted_text(column.name).c_str(),
                       static_cast<unsigned long long>(column.values.size()),
                       static_cast<unsigned long long>(points));
    for (const std::string& seen : names) {
      if (seen == column.name)
        raise_mesh_error(mesh, "two columns are named %s", quoted_text(column.name).c_str());
    }
    names.push_back(column.name);
  }
}

} // namespace

void check_mesh(const FieldMesh& mesh) {
  check_grid(mesh);
  check_attributes(mesh);
  check_components(mesh);
  check_columns(mesh);
}

} // namespace norvalex
