// The field-mesh model's own methods.
#include "norvalex/mesh.h"

namespace norvalex {

std::string MeshComponent::name() const {
  return (field == FieldKind::electric ? "electricField/" : "magneticField/") + axis;
}

std::size_t FieldMesh::point_count() const {
  std::size_t count = 1;
  for (const MeshAxis& axis : axes)
    count *= static_cast<std::size_t>(axis.points);
  return count;
}

int FieldMesh::dimensions() const {
  int long_axes = 0;
  for (const MeshAxis& axis : axes)
    long_axes += axis.points > 1 ? 1 : 0;
  return long_axes;
}

const MeshComponent* FieldMesh::component(FieldKind field, std::string_view axis) const {
  for (const MeshComponent& candidate : components) {
    if (candidate.field == field && candidate.axis == axis)
      return &candidate;
  }
  return nullptr;
}

const char* problem_kind_name(ProblemKind problem) {
  switch (problem) {
  case ProblemKind::rf:
    return "rf";
  case ProblemKind::electrostatic:
    return "electrostatic";
  case ProblemKind::magnetostatic:
    return "magnetostatic";
  case ProblemKind::unknown:
    break;
  }
  return "unknown";
}

bool mesh_has_openpmd() {
  return NORVALEX_MESH_HDF5 != 0;
}

} // namespace norvalex
