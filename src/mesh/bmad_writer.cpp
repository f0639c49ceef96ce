// Meshes written as Bmad grid_field text: the braces alone, as Bmad's own field files are kept and
// a lattice includes them with call:: (grid_field = call::cavity.bmad). A cylindrical map, RF or
// static, on a rotationally_symmetric_rz grid, or a 3-D rectangular one on an xyz grid, from
// index 0, one pt line per point in the mesh's C order; the values as the mesh holds them (SI
// units, Re[F exp(-i 2 pi f t)]), in their shortest form that reads back as the same double.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/bmad_grid_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <complex>
#include <string>

namespace norvalex {

namespace {

// What the file holds: its geometry and the mesh's axes of its indices, which fields, their
// components in the order of a point's values (E, then B, each along r, phi, z or x, y, z; null
// for one the mesh lacks, written as 0), the harmonic and r0's z.
struct BmadLayout {
  const char* geometry = nullptr;
  std::array<std::size_t, BMAD_MAX_AXES> axes{};
  std::size_t axis_count = 0;
  const char* field_type = nullptr;
  std::array<const MeshComponent*, BMAD_MIXED_VALUES> values{};
  std::size_t count = 0;
  std::int64_t harmonic = 0;
  double z0 = 0;
};

void check_values(const FieldMesh& mesh, const MeshComponent& component) {
  for (std::size_t k = 0; k < component.values.size(); ++k) {
    const std::complex<double> value = component.values[k];
    if (!std::isfinite(value.real()) || !std::isfinite(value.imag()))
      raise_mesh_error(
          mesh, "a Bmad grid_field holds finite values, not the %s of %s",
          number_text(std::isfinite(value.real()) ? value.imag() : value.real()).c_str(),
          component.name().c_str());
  }
}

BmadLayout bmad_layout(const FieldMesh& mesh, const MeshWriteOptions& options) {
  BmadLayout layout;
  if (mesh.geometry == MeshGeometry::cylindrical) {
    if (mesh.axes[0].points < 2 || mesh.axes[2].points < 2)
      raise_mesh_error(mesh, "a Bmad grid_field needs two points or more along r and along z");
    layout = {"rotationally_symmetric_rz", {0, 2, 0}, 2};
  } else {
    if (mesh.dimensions() != 3)
      raise_mesh_error(mesh, "a Bmad grid_field holds a cylindrical map "
                             "(rotationally_symmetric_rz) or a 3-D one (xyz), not a plane");
    layout = {"xyz", {0, 1, 2}, 3};
  }
  std::array<const MeshComponent*, BMAD_MIXED_VALUES> all{};
  bool fields[2] = {false, false};
  for (const MeshComponent& component : mesh.components) {
    const bool magnetic = component.field == FieldKind::magnetic;
    all[(magnetic ? 3U : 0U) + static_cast<std::size_t>(axis_index(mesh, component.axis))] =
        &component;
    fields[magnetic] = true;
    check_values(mesh, component);
  }
  if (!fields[0] && !fields[1])
    raise_mesh_error(mesh, "a Bmad grid_field needs a field component");
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

// r0 or dr: the numbers of the grid's axes.
void write_vector(TextOutput& out, const char* key, const BmadLayout& layout,
                  const std::array<double, 3>& numbers) {
  out.text(key);
  for (std::size_t a = 0; a < layout.axis_count; ++a) {
    out.text(a == 0 ? " = (" : ", ");
    out.number(numbers[layout.axes[a]]);
  }
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
  out.text(std::string("  geometry = ") + layout.geometry + ",");
  out.end_line();
  out.text(std::string("  field_type = ") + layout.field_type + ",");
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
  write_vector(out, "  r0", layout, {mesh.axes[0].origin, mesh.axes[1].origin, layout.z0});
  write_vector(out, "  dr", layout,
               {mesh.axes[0].spacing, mesh.axes[1].spacing, mesh.axes[2].spacing});
  // The mesh's C order is the indices' order, the last varying fastest.
  const std::size_t points = mesh.point_count();
  const auto axis_points = [&](std::size_t a) {
    return static_cast<std::size_t>(mesh.axes[layout.axes[a]].points);
  };
  write_item_lines(out, points, [&](TextBuffer& text, std::size_t first, std::size_t end) {
    std::array<std::size_t, BMAD_MAX_AXES> index{}; // of point `first`, then counted on
    for (std::size_t a = layout.axis_count, rest = first; a-- > 0; rest /= axis_points(a))
      index[a] = rest % axis_points(a);
    for (std::size_t n = first; n < end; ++n) {
      text.text("  pt(");
      for (std::size_t a = 0; a < layout.axis_count; ++a) {
        char digits[24];
        text.text(a == 0 ? "" : ",");
        text.text({digits, std::to_chars(digits, digits + sizeof digits, index[a]).ptr});
      }
      text.text(") = (");
      for (std::size_t k = 0; k < layout.count; ++k) {
        const MeshComponent* component = layout.values[k];
        const std::complex<double> value =
            component == nullptr ? std::complex<double>(0, 0) : component->values[n];
        // A zero of either sign as 0, as Bmad's files write it.
        text.text(k == 0 ? "(" : ", (");
        text.number(value.real() + 0.0);
        text.text(", ");
        text.number(value.imag() + 0.0);
        text.text(")");
      }
      // Items are apart by commas: none after the last.
      text.text(n + 1 == points ? ")" : "),");
      text.end_line();
      for (std::size_t a = layout.axis_count; a-- > 0;) {
        if (++index[a] < axis_points(a))
          break;
        index[a] = 0;
      }
    }
  });
  out.text("}");
  out.end_line();
  out.flush();
}

} // namespace norvalex
