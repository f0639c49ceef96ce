// What the fuzz targets of the mesh readers ask of a mesh that a reader returned.
#pragma once

#include "fuzz_support.h"
#include "norvalex/mesh.h"

#include <cmath>

// A mesh read is whole, with finite axes and frequency, and one that every writer's check
// (check_mesh) lets through.
inline void check_read_mesh(const norvalex::FieldMesh& mesh) {
  try {
    norvalex::check_mesh(mesh);
  } catch (const norvalex::Error&) {
    FUZZ_CHECK(false);
  }
  for (const norvalex::MeshAxis& axis : mesh.axes) {
    FUZZ_CHECK(axis.points >= 1);
    FUZZ_CHECK(std::isfinite(axis.origin) && std::isfinite(axis.spacing));
  }
  FUZZ_CHECK(std::isfinite(mesh.frequency));
  for (const norvalex::MeshComponent& component : mesh.components)
    FUZZ_CHECK(component.values.size() == mesh.point_count());
}
