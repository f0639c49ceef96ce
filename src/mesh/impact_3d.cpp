// Impact-T's 3-D map (1TN.T7, element type 111): three records `min max intervals` (m) of x, y
// and z, then one record per point of six complex values (re,im), Ex Ey Ez in V/m and Bx By Bz in
// T, x fastest, then y, then z, read as the tracker reads them (Fortran list-directed input, one
// read per point). Its fields are Re[F exp(+i(wt + phase))], the model's Re[F exp(-iwt)]: each
// is the other's complex conjugate, so a standing wave's (E,0) and (0,b) are E and -i b here.
#include "diag/raise.h"
#include "mesh/impact_axis.h"
#include "mesh/impact_forms.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "platform/platform.h"
#include "text/list_directed.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <complex>
#include <string>

namespace norvalex {

namespace {

// A point's values in the file's order: the electric field along x, y and z, then the magnetic.
constexpr std::array<std::pair<FieldKind, const char*>, 6> POINT_VALUES{{
    {FieldKind::electric, "x"},
    {FieldKind::electric, "y"},
    {FieldKind::electric, "z"},
    {FieldKind::magnetic, "x"},
    {FieldKind::magnetic, "y"},
    {FieldKind::magnetic, "z"},
}};

// The fewest bytes a point takes: six values "(0,0)" and their separators.
constexpr std::uint64_t POINT_BYTES = 36;

// Reads a range record into `axis`: its minimum, its maximum and its count of intervals.
void read_range(ListDirectedInput& input, MeshAxis& axis) {
  const char* label = axis.label.c_str();
  std::array<double, 3> range{};
  read_values(input, range,
              ("the " + axis.label + " range (" + axis.label + "min, " + axis.label + "max and n" +
               axis.label + "-1)")
                  .c_str());
  const double intervals = range[2];
  if (!(intervals >= 1) || intervals != std::floor(intervals) ||
      intervals >= static_cast<double>(MESH_MAX_POINTS)) {
    raise_input_error(input.name(), input.line_number(),
                      "The %s range's interval count is no whole number from 1 on: %s", label,
                      number_text(intervals).c_str());
  }
  if (!(range[1] > range[0]) || !std::isfinite(range[1] - range[0])) {
    raise_input_error(input.name(), input.line_number(),
                      "The %s range is not from a minimum to a larger maximum: %s %s", label,
                      number_text(range[0]).c_str(), number_text(range[1]).c_str());
  }
  axis.points = static_cast<std::int64_t>(intervals) + 1;
  axis.origin = range[0];
  axis.spacing = (range[1] - range[0]) / intervals;
}

// A range record: min, max chosen so that the reader's (max - min) / intervals is the axis's
// spacing, and the intervals as an integer.
void write_range(TextOutput& out, const MeshAxis& axis) {
  const auto intervals = static_cast<double>(axis.points - 1);
  out.number(axis.origin);
  out.text(" ");
  out.number(reading_back(axis.origin + axis.spacing * intervals, axis.spacing,
                          [&](double max) { return (max - axis.origin) / intervals; }));
  out.text(" ");
  out.text(std::to_string(axis.points - 1));
  out.end_line();
}

// True when every value of the components of `field` is 0.
bool all_zero(const FieldMesh& mesh, FieldKind field) {
  for (const MeshComponent& component : mesh.components) {
    if (component.field != field)
      continue;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      if (component.values[k] != std::complex<double>(0, 0))
        return false;
    }
  }
  return true;
}

} // namespace

bool impact_3d_signature(const FileStart& start) {
  // Three records of three numbers, then a record that starts with a complex value.
  std::string_view bytes = start.bytes;
  int ranges = 0;
  for (std::size_t feed; (feed = bytes.find('\n')) != std::string_view::npos;) {
    const std::string_view line = bytes.substr(0, feed);
    bytes.remove_prefix(feed + 1);
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
      continue; // a blank record
    if (ranges == 3)
      return line[first] == '(';
    std::array<double, 4> values{};
    const ListItems items = scan_list_items(line, values);
    if (!items.bad.empty() || items.count != 3)
      return false;
    ++ranges;
  }
  return false;
}

FieldMesh read_impact_3d_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  ListDirectedInput input(stream.get(), path);
  FieldMesh mesh = new_mesh(MeshGeometry::rectangular);
  mesh.source = {path, MeshForm::impact_3d, ProblemKind::unknown, {}};
  for (MeshAxis& axis : mesh.axes)
    read_range(input, axis);
  const auto nx = static_cast<std::size_t>(mesh.axes[0].points);
  const auto ny = static_cast<std::size_t>(mesh.axes[1].points);
  const auto nz = static_cast<std::size_t>(mesh.axes[2].points);
  if (!grid_points(mesh.axes)) {
    raise_input_error(path, input.line_number(), "Grid too large: %llu*%llu*%llu points",
                      static_cast<unsigned long long>(nx), static_cast<unsigned long long>(ny),
                      static_cast<unsigned long long>(nz));
  }
  const std::uint64_t points = mesh.point_count();
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  if (platform_file_status(stream.get(), kind, length) == 0 && kind == PlatformFileKind::regular &&
      points * POINT_BYTES - 1 > static_cast<std::uint64_t>(length)) {
    raise_input_error(
        path, input.line_number(),
        "The grid needs %llu complex values, more than the file's %lld bytes can hold",
        static_cast<unsigned long long>(points * 6), static_cast<long long>(length));
  }
  for (const auto& [field, axis] : POINT_VALUES) {
    if (add_component(mesh, field, axis) == nullptr)
      raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  // In the order of a point's values, once all are added.
  std::array<MeshComponent*, 6> components{};
  for (std::size_t m = 0; m < 6; ++m)
    components[m] = &mesh.components[m];
  bool complex_values = false;
  std::array<std::complex<double>, 6> point;
  for (std::size_t k = 0; k < nz; ++k) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i) {
        // One read per point, from a new record on, as the tracker reads them.
        const std::size_t got = input.read(point);
        if (got < point.size() && input.at_end()) {
          raise_input_error(path, input.line_number(),
                            "Unexpected end of file: the grid needs %llu points of six complex "
                            "values, the file holds %llu",
                            static_cast<unsigned long long>(points),
                            static_cast<unsigned long long>((k * ny + j) * nx + i));
        }
        if (got < point.size())
          raise_input_error(path, input.line_number(),
                            "Too few values before the slash: a point needs six complex values");
        const std::size_t index = (i * ny + j) * nz + k;
        for (std::size_t m = 0; m < 6; ++m) {
          complex_values |= point[m].imag() != 0;
          components[m]->values[index] = {point[m].real(), 0.0 - point[m].imag()};
        }
      }
    }
  }
  if (input.read({point.data(), 1}) != 0) {
    raise_input_error(path, input.line_number(), "Too many values: the grid needs %llu points",
                      static_cast<unsigned long long>(points));
  }
  // An RF map when a frequency is given or a value is complex; a static map has no field that
  // is 0 everywhere.
  const bool rf = options.frequency.has_value() || complex_values;
  if (!rf) {
    const bool no_electric = all_zero(mesh, FieldKind::electric);
    const FieldKind dropped = no_electric && !all_zero(mesh, FieldKind::magnetic)
                                  ? FieldKind::electric
                                  : FieldKind::magnetic;
    if (no_electric || all_zero(mesh, FieldKind::magnetic)) {
      std::erase_if(mesh.components,
                    [&](const MeshComponent& component) { return component.field == dropped; });
    }
  }
  set_problem(mesh, path, options, rf, mesh.component(FieldKind::electric, "x") != nullptr,
              mesh.component(FieldKind::magnetic, "x") != nullptr, "an Impact-T 3-D T7 file");
  return mesh;
}

void check_impact_3d(const FieldMesh& mesh, const MeshWriteOptions&) {
  if (mesh.geometry != MeshGeometry::rectangular || mesh.dimensions() != 3)
    raise_mesh_error(mesh, "an Impact-T 3-D T7 file holds a 3-D rectangular map, of two points or "
                           "more along x, y and z");
}

void write_impact_3d(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                     MeshWriteReport&) {
  TextOutput out(files[0]);
  for (const MeshAxis& axis : mesh.axes)
    write_range(out, axis);
  std::array<const MeshComponent*, 6> components{};
  for (std::size_t m = 0; m < 6; ++m)
    components[m] = mesh.component(POINT_VALUES[m].first, POINT_VALUES[m].second);
  const auto nx = static_cast<std::size_t>(mesh.axes[0].points);
  const auto ny = static_cast<std::size_t>(mesh.axes[1].points);
  const auto nz = static_cast<std::size_t>(mesh.axes[2].points);
  for (std::size_t k = 0; k < nz; ++k) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i) {
        const std::size_t index = (i * ny + j) * nz + k;
        for (std::size_t m = 0; m < 6; ++m) {
          // The field the mesh stands for, its values times fieldScale, conjugated.
          const std::complex<double> value = components[m] == nullptr
                                                 ? std::complex<double>(0, 0)
                                                 : components[m]->values[index] * mesh.field_scale;
          out.text(m == 0 ? "(" : " (");
          out.number(value.real());
          out.text(",");
          out.number(0.0 - value.imag());
          out.text(")");
        }
        out.end_line();
      }
    }
  }
  out.flush();
}

} // namespace norvalex
