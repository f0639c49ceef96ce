// Meshes written as elegant's SDDS files: SDDS1 with double columns, binary little-endian
// (declared) or ASCII; the field on the axis on one page (z and Ez of an RF map, z and Bz of a
// solenoid's axis), or a solenoid map of several radii, a page each (z, r, Bz and Br).
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "mesh/sdds.h"

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

// What an SDDS file of a mesh holds: the field on the axis (Ez of an RF map, Bz of a static
// magnetic one) on one page, or a solenoid map of several radii, a page each.
struct SddsLayout {
  bool plane;
  FieldKind field;
  const MeshComponent* bz = nullptr; // a plane's; either may be missing
  const MeshComponent* br = nullptr;
};

SddsLayout layout_of(const FieldMesh& mesh, const MeshWriteOptions& options) {
  if (is_rf(mesh))
    return {false, FieldKind::electric};
  const bool plane = mesh.geometry == MeshGeometry::cylindrical && mesh.axes[0].points > 1 &&
                     mesh.axes[2].points > 1;
  const char* const static_electric = "an SDDS file holds the Ez of an RF map or the Bz and Br of "
                                      "a solenoid, not a static electric field";
  if (!plane) {
    if (axis_field_kind(mesh) != FieldKind::magnetic)
      raise_mesh_error(mesh, "%s", static_electric);
    return {false, FieldKind::magnetic};
  }
  if (options.mirror) {
    raise_mesh_error(mesh, "an SDDS solenoid map of several radii is written as it is: mirroring "
                           "takes the field on the axis");
  }
  const SddsLayout layout{true, FieldKind::magnetic, mesh.component(FieldKind::magnetic, "z"),
                          mesh.component(FieldKind::magnetic, "r")};
  if (layout.bz == nullptr && layout.br == nullptr)
    raise_mesh_error(mesh, "%s", static_electric);
  refuse_other_components(mesh, {layout.bz, layout.br}, "an SDDS solenoid map");
  return layout;
}

// Positions as they are written, checked as elegant reads them.
std::vector<double> positions_of(const FieldMesh& mesh, double origin, double spacing,
                                 std::size_t points, std::size_t least) {
  if (points < least)
    raise_mesh_error(mesh, "an SDDS file for elegant needs %llu points or more along z",
                     static_cast<unsigned long long>(least));
  std::vector<double> positions(points);
  for (std::size_t k = 0; k < points; ++k)
    positions[k] = origin + static_cast<double>(k) * spacing;
  const SddsSteps steps = sdds_steps(positions);
  if (steps.not_increasing) {
    raise_mesh_error(mesh, "the positions that an SDDS file would hold do not increase at %s m",
                     number_text(positions[*steps.not_increasing]).c_str());
  }
  if (steps.unevenness > SDDS_UNIFORM_LIMIT) {
    raise_mesh_error(mesh,
                     "the positions that an SDDS file would hold are not uniform within "
                     "elegant's 1e-4 (1 - d_min/d_max = %s)",
                     number_text(steps.unevenness).c_str());
  }
  return positions;
}

// The field on the axis and its positions, as a file of one page holds them.
struct AxisPage {
  AxisField field;
  std::vector<double> z;
};

AxisPage axis_page(const FieldMesh& mesh, const SddsLayout& layout,
                   const MeshWriteOptions& options) {
  AxisField field = axis_field_for_writing(mesh, layout.field, options, "an SDDS file");
  std::vector<double> z = positions_of(mesh, field.start, field.step, field.values.size(),
                                       layout.field == FieldKind::electric ? 3 : 2);
  return {std::move(field), std::move(z)};
}

// Writes pages of double columns, as text or as little-endian bytes.
class PageWriter {
public:
  PageWriter(OutputFile& file, bool ascii) : out_(file), ascii_(ascii) {}

  void header(std::initializer_list<std::pair<const char*, const char*>> columns) {
    out_.text("SDDS1\n");
    if (!ascii_)
      out_.text("!# little-endian\n");
    for (const auto& [name, units] : columns) {
      out_.text("&column name=");
      out_.text(name);
      out_.text(", units=");
      out_.text(units);
      out_.text(", type=double, &end\n");
    }
    out_.text(ascii_ ? "&data mode=ascii, &end\n" : "&data mode=binary, &end\n");
  }

  // A page of `rows` rows of `columns` values, value(row, column) each.
  template <class Value> void page(std::size_t rows, std::size_t columns, Value value) {
    if (ascii_) {
      out_.number(static_cast<double>(rows));
      out_.end_line();
    } else {
      little_endian(static_cast<std::uint32_t>(rows), 4);
    }
    for (std::size_t row = 0; row < rows; ++row) {
      for (std::size_t column = 0; column < columns; ++column) {
        if (!ascii_) {
          little_endian(std::bit_cast<std::uint64_t>(value(row, column)), 8);
          continue;
        }
        if (column != 0)
          out_.text(" ");
        out_.number(value(row, column));
      }
      if (ascii_)
        out_.end_line();
    }
  }

  void flush() { out_.flush(); }

private:
  void little_endian(std::uint64_t bits, std::size_t size) {
    char bytes[8];
    for (std::size_t k = 0; k < size; ++k)
      bytes[k] = static_cast<char>(bits >> (8 * k));
    out_.bytes({bytes, size});
  }

  TextOutput out_;
  bool ascii_;
};

} // namespace

void check_sdds(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const SddsLayout layout = layout_of(mesh, options);
  if (!layout.plane) {
    axis_page(mesh, layout, options);
    return;
  }
  const RealFields fields(mesh); // refuses a static map of complex values
  const MeshAxis& r = mesh.axes[0];
  const MeshAxis& z = mesh.axes[2];
  positions_of(mesh, z.origin + options.z_offset, z.spacing, static_cast<std::size_t>(z.points), 2);
  positions_of(mesh, r.origin, r.spacing, static_cast<std::size_t>(r.points), 2);
}

void write_sdds(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
                MeshWriteReport&) {
  const SddsLayout layout = layout_of(mesh, options);
  PageWriter out(files[0], options.ascii);
  if (!layout.plane) {
    const AxisPage axis = axis_page(mesh, layout, options);
    const bool electric = layout.field == FieldKind::electric;
    out.header({{"z", "m"}, electric ? std::pair{"Ez", "V/m"} : std::pair{"Bz", "T"}});
    out.page(axis.z.size(), 2, [&](std::size_t row, std::size_t column) {
      return column == 0 ? axis.z[row] : axis.field.values[row];
    });
    out.flush();
    return;
  }
  const RealFields fields(mesh);
  const MeshAxis& r = mesh.axes[0];
  const MeshAxis& z = mesh.axes[2];
  const auto nr = static_cast<std::size_t>(r.points);
  const auto nz = static_cast<std::size_t>(z.points);
  const std::vector<double> z_positions =
      positions_of(mesh, z.origin + options.z_offset, z.spacing, nz, 2);
  const std::vector<double> radii = positions_of(mesh, r.origin, r.spacing, nr, 2);
  if (layout.br != nullptr)
    out.header({{"z", "m"}, {"r", "m"}, {"Bz", "T"}, {"Br", "T"}});
  else
    out.header({{"z", "m"}, {"r", "m"}, {"Bz", "T"}});
  const auto at = [&](const MeshComponent* component, std::size_t index) {
    return component == nullptr ? 0.0 : fields.value(*component, index);
  };
  for (std::size_t i = 0; i < nr; ++i) {
    out.page(nz, layout.br != nullptr ? 4 : 3, [&](std::size_t row, std::size_t column) {
      switch (column) {
      case 0:
        return z_positions[row];
      case 1:
        return radii[i];
      case 2:
        return at(layout.bz, i * nz + row);
      default:
        return at(layout.br, i * nz + row);
      }
    });
  }
  out.flush();
}

} // namespace norvalex
