// Meshes written as Bmad grid_field text: the braces alone, as Bmad's own field files are kept and
// a lattice includes them with call:: (grid_field = call::cavity.bmad). A cylindrical map, RF or
// static, on a rotationally_symmetric_rz grid from index 0, one pt line per point, r the slower
// index; the values as the mesh holds them (SI units, Re[F exp(-i 2 pi f t)]), in their shortest
// form that reads back as the same double.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/bmad_grid_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"

#include <array>
#include <climits>
#include <cmath>
#include <complex>
#include <string>

namespace norvalex {

namespace {

// What the file holds: which fields, their components in the order of a point's values (E, then
// B, each along r, phi, z; null for one the mesh lacks, written as 0), the harmonic and r0's z.
struct BmadLayout {
  const char* field_type = nullptr;
  std::array<const MeshComponent*, BMAD_MIXED_VALUES> values{};
  std::size_t count = 0;
  std::int64_t harmonic = 0;
  double z0 = 0;
};

BmadLayout bmad_layout(const FieldMesh& mesh, const MeshWriteOptions& options) {
  if (mesh.geometry != MeshGeometry::cylindrical)
    raise_mesh_error(mesh, "a Bmad grid_field is written for a cylindrical map "
                           "(rotationally_symmetric_rz), not a planar one");
  if (mesh.axes[0].points < 2 || mesh.axes[2].points < 2)
    raise_mesh_error(mesh, "a Bmad grid_field needs two points or more along r and along z");
  std::array<const MeshComponent*, BMAD_MIXED_VALUES> all{};
  bool fields[2] = {false, false};
  for (const MeshComponent& component : mesh.components) {
    const bool magnetic = component.field == FieldKind::magnetic;
    all[(magnetic ? 3U : 0U) + static_cast<std::size_t>(axis_index(mesh, component.axis))] =
        &component;
    fields[magnetic] = true;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      const std::complex<double> value = component.values[k];
      if (!std::isfinite(value.real()) || !std::isfinite(value.imag()))
        raise_mesh_error(
            mesh, "a Bmad grid_field holds finite values, not the %s of %s",
            number_text(std::isfinite(value.real()) ? value.imag() : value.real()).c_str(),
            component.name().c_str());
    }
  }
  if (!fields[0] && !fields[1])
    raise_mesh_error(mesh, "a Bmad grid_field needs a field component");
  BmadLayout layout;
  layout.field_type = fields[0] && fields[1] ? "mixed" : fields[0] ? "electric" : "magnetic";
  for (std::size_t k = 0; k < all.size(); ++k) {
    if (fields[k / 3])
      layout.values[layout.count++] = all[k];
  }
  // An RF map of harmonic 0 (a frequency alone) is the fundamental's.
  layout.harmonic = mesh.harmonic > 0 ? mesh.harmonic : is_rf(mesh) ? 1 : 0;
  if (layout.harmonic > INT32_MAX)
    raise_mesh_error(mesh, "harmonic %lld: a Bmad grid_field holds at most %d",
                     static_cast<long long>(layout.harmonic), INT32_MAX);
  layout.z0 = mesh.axes[2].origin + options.z_offset;
  if (!std::isfinite(layout.z0))
    raise_mesh_error(mesh, "the z offset puts r0 at z = %s, which a Bmad grid_field cannot hold",
                     number_text(layout.z0).c_str());
  return layout;
}

void write_pair(TextOutput& out, const char* key, double r, double z) {
  out.text(key);
  out.text(" = (");
  out.number(r);
  out.text(", ");
  out.number(z);
  out.text("),");
  out.end_line();
}

} // namespace

void check_bmad(const FieldMesh& mesh, const MeshWriteOptions& options) {
  bmad_layout(mesh, options);
}

void write_bmad(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
                MeshWriteReport&) {
  const BmadLayout layout = bmad_layout(mesh, options);
  TextOutput out(files[0]);
  out.text("{");
  out.end_line();
  out.text("  geometry = rotationally_symmetric_rz,");
  out.end_line();
  out.text("  field_type = ");
  out.text(layout.field_type);
  out.text(",");
  out.end_line();
  out.text("  harmonic = " + std::to_string(layout.harmonic) + ",");
  out.end_line();
  out.text("  ele_anchor_pt = " + mesh.anchor + ",");
  out.end_line();
  out.text("  field_scale = ");
  out.number(mesh.field_scale);
  out.text(",");
  out.end_line();
  if (mesh.rf_phase != 0) {
    out.text("  phi0_fieldmap = ");
    out.number(mesh.rf_phase);
    out.text(",");
    out.end_line();
  }
  write_pair(out, "  r0", mesh.axes[0].origin, layout.z0);
  write_pair(out, "  dr", mesh.axes[0].spacing, mesh.axes[2].spacing);
  const auto along_r = static_cast<std::size_t>(mesh.axes[0].points);
  const auto along_z = static_cast<std::size_t>(mesh.axes[2].points);
  for (std::size_t i = 0; i < along_r; ++i) {
    for (std::size_t j = 0; j < along_z; ++j) {
      const std::size_t index = i * along_z + j;
      out.text("  pt(" + std::to_string(i) + "," + std::to_string(j) + ") = (");
      for (std::size_t k = 0; k < layout.count; ++k) {
        const MeshComponent* component = layout.values[k];
        const std::complex<double> value =
            component == nullptr ? std::complex<double>(0, 0) : component->values[index];
        // A zero of either sign as 0, as Bmad's files write it.
        out.text(k == 0 ? "(" : ", (");
        out.number(value.real() + 0.0);
        out.text(", ");
        out.number(value.imag() + 0.0);
        out.text(")");
      }
      // Items are apart by commas: none after the last.
      out.text(index + 1 == along_r * along_z ? ")" : "),");
      out.end_line();
    }
  }
  out.text("}");
  out.end_line();
  out.flush();
}

} // namespace norvalex
