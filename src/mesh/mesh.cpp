#include "norvalex/mesh.h"

namespace norvalex {

std::string MeshComponent::name() const {
  return (field == FieldKind::electric ? "electricField/" : "magneticField/") + axis;
}

std::size_t FieldMesh::point_count() const {
  std::size_t points = 1;
  for (const MeshAxis& axis : axes) {
    points *= static_cast<std::size_t>(axis.points);
  }
  return points;
}

const MeshComponent* FieldMesh::component(FieldKind field, std::string_view axis) const {
  for (const MeshComponent& candidate : components) {
    if (candidate.field == field && candidate.axis == axis) {
      return &candidate;
    }
  }
  return nullptr;
}

} // namespace norvalex
