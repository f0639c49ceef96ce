// TraceWin's field files, one file per component, named <base>.<e|b><s|d><component>: an
// electric or magnetic field, static or RF (d), the component z or r. A 1-D file is `nz zmax`
// (intervals, m), `Norm`, then the nz+1 values of Ez or Bz, one a line; a 2-D cylindrical static
// map is a z file and an r file, each `nz zmax`, `nr rmax`, `Norm`, then (nz+1)(nr+1) values, r
// varying fastest. Values are in MV/m or T, divided by Norm; z and r start at 0. TraceWin's 2-D
// RF maps and its binary files are not read: no public reader tells their layout.
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "mesh/tracewin.h"
#include "text/number_input.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

std::optional<TraceWinKind> tracewin_kind_of_name(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.size() - dot != 4 ||
      path.find_first_of("/\\", dot) != std::string_view::npos)
    return std::nullopt;
  const auto letter = [&](std::size_t k) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(path[dot + k])));
  };
  const char field = letter(1);
  const char time = letter(2);
  const char component = letter(3);
  if ((field != 'e' && field != 'b') || (time != 's' && time != 'd') ||
      std::string_view("zrqxy").find(component) == std::string_view::npos)
    return std::nullopt;
  return TraceWinKind{field == 'e' ? FieldKind::electric : FieldKind::magnetic, time == 'd',
                      component};
}

std::string tracewin_extension(FieldKind field, bool rf, char component) {
  return {'.', field == FieldKind::electric ? 'e' : 'b', rf ? 'd' : 's', component};
}

std::int64_t tracewin_intervals(const NumberInput& input, double intervals) {
  if (!(intervals >= 1) || intervals != std::floor(intervals) ||
      intervals >= static_cast<double>(MESH_MAX_POINTS)) {
    raise_input_error(input.name(), input.line_number(),
                      "Interval count is no whole number from 1 on: %s",
                      number_text(intervals).c_str());
  }
  return static_cast<std::int64_t>(intervals);
}

double tracewin_norm(const NumberInput& input, double norm) {
  if (!std::isfinite(norm) || norm == 0)
    raise_input_error(input.name(), input.line_number(), "Norm is no number other than 0: %s",
                      number_text(norm).c_str());
  return norm;
}

TraceWinExtent tracewin_extent(const NumberInput& input, double intervals, double length) {
  const std::int64_t count = tracewin_intervals(input, intervals);
  if (!std::isfinite(length) || !(length / intervals > 0))
    raise_input_error(input.name(), input.line_number(), "Length is no positive number: %s",
                      number_text(length).c_str());
  return {count, length};
}

void write_tracewin_extent(TextOutput& out, std::size_t intervals, double spacing) {
  const auto n = static_cast<double>(intervals);
  out.number(n);
  out.text(" ");
  out.number(shortest_reading_back(spacing * n, spacing, [n](double x) { return x / n; }));
  out.end_line();
}

void write_tracewin_value(TextOutput& out, double value, double unit) {
  out.number(shortest_reading_back(value / unit, value, [unit](double x) { return x / 1 * unit; }));
  out.end_line();
}

namespace {

// The file of the map's other component: the name's last letter changed, in its case.
std::string sibling_path(std::string_view path, char component) {
  std::string sibling(path);
  const bool upper = std::isupper(static_cast<unsigned char>(sibling.back())) != 0;
  sibling.back() =
      upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(component))) : component;
  return sibling;
}

// A header: `nz zmax`, a 2-D map's `nr rmax`, and Norm.
struct Header {
  TraceWinExtent z;
  std::optional<TraceWinExtent> r; // a 2-D map's
  double norm;
};

Header read_header(NumberInput& input) {
  std::array<double, 2> numbers{};
  if (input.read_line(numbers) != 2)
    raise_input_error(input.name(), input.line_number(),
                      "Not a TraceWin header line: nz and zmax expected");
  Header header{tracewin_extent(input, numbers[0], numbers[1]), std::nullopt, 0};
  std::ptrdiff_t count = input.read_line(numbers);
  if (count == 2) {
    header.r = tracewin_extent(input, numbers[0], numbers[1]);
    if (header.z.points() > MESH_MAX_POINTS / header.r->points()) {
      raise_input_error(input.name(), input.line_number(), "Grid too large: %lld*%lld points",
                        static_cast<long long>(header.z.points()),
                        static_cast<long long>(header.r->points()));
    }
    count = input.read_line({numbers.data(), 1});
    if (count != 1)
      raise_input_error(input.name(), input.line_number(),
                        "Not a TraceWin header line: Norm expected");
  } else if (count != 1) {
    raise_input_error(input.name(), input.line_number(),
                      "Not a TraceWin header line: Norm, or nr and rmax of a 2-D map, expected");
  }
  header.norm = tracewin_norm(input, numbers[0]);
  return header;
}

FieldMesh read_axis(const char* path, NumberInput& input, const Header& header,
                    const TraceWinKind& kind, const MeshReadOptions& options) {
  AxisField field{kind.field, 0, header.z.spacing(), {}};
  const auto points = static_cast<std::size_t>(header.z.points());
  try {
    field.values.reserve(points);
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  read_tracewin_values(input, points, header.norm, tracewin_unit(kind.field),
                       [&](std::size_t, double value) { field.values.push_back(value); });
  FieldMesh mesh = axis_mesh({&field, 1}, kind.rf, 0);
  const bool electric = kind.field == FieldKind::electric;
  set_problem(mesh, path, options, kind.rf, electric, !electric, "a TraceWin RF file");
  mesh.source.notes.push_back({"Norm", number_text(header.norm)});
  return mesh;
}

// A 2-D static map: the file named and its sibling, each of one component on the same grid.
FieldMesh read_plane(const char* path, NumberInput& input, const Header& header,
                     const TraceWinKind& kind) {
  const char other = kind.component == 'z' ? 'r' : 'z';
  const std::string sibling = sibling_path(path, other);
  const OwnedFile sibling_stream(platform_open_input(sibling.c_str()));
  if (!sibling_stream) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: a 2-D map is read with its other file, %s: %s",
                        path, sibling.c_str(), platform_error_text(error_number));
  }
  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  MeshAxis& r = mesh.axes[0];
  MeshAxis& z = mesh.axes[2];
  r.points = header.r->points();
  r.spacing = header.r->spacing();
  z.points = header.z.points();
  z.spacing = header.z.spacing();
  if (add_component(mesh, kind.field, "r") == nullptr ||
      add_component(mesh, kind.field, "z") == nullptr) {
    raise_input_error(path, input.line_number(), "Not enough memory for %lld*%lld points",
                      static_cast<long long>(z.points), static_cast<long long>(r.points));
  }
  // r varies fastest in the files, z in the mesh.
  const PointOrder order{static_cast<std::size_t>(r.points), static_cast<std::size_t>(z.points),
                         true};
  const auto read_component = [&](NumberInput& from, char component, double norm) {
    std::complex<double>* values = mesh.components[component == 'r' ? 0 : 1].values.data();
    read_tracewin_values(from, mesh.point_count(), norm, tracewin_unit(kind.field),
                         [&](std::size_t n, double value) {
                           values[order.index(n)] = {value, 0};
                         });
  };
  read_component(input, kind.component, header.norm);
  NumberInput sibling_input(sibling_stream.get(), sibling.c_str());
  const Header sibling_header = read_header(sibling_input);
  if (sibling_header.z != header.z || sibling_header.r != header.r) {
    raise_input_failure(
        sibling.c_str(), 0, "%s: its grid is not that of %s: %lld %s and %lld %s expected",
        sibling.c_str(), path, static_cast<long long>(header.z.intervals),
        number_text(header.z.length).c_str(), static_cast<long long>(header.r->intervals),
        number_text(header.r->length).c_str());
  }
  read_component(sibling_input, other, sibling_header.norm);
  const bool z_first = kind.component == 'z';
  mesh.source.problem =
      kind.field == FieldKind::electric ? ProblemKind::electrostatic : ProblemKind::magnetostatic;
  mesh.source.notes.push_back(
      {"Norm", number_text(z_first ? header.norm : sibling_header.norm) + " (z), " +
                   number_text(z_first ? sibling_header.norm : header.norm) + " (r)"});
  mesh.source.notes.push_back(
      {"files", std::string(z_first ? path : sibling) + ", " + (z_first ? sibling : path)});
  return mesh;
}

// How a mesh is written: a 2-D static map as its z and r files, any other map as the file of its
// field on the axis.
struct TraceWinLayout {
  bool plane;
  FieldKind field;
  bool rf;
  const MeshComponent* z = nullptr; // a plane's components, either may be missing (0)
  const MeshComponent* r = nullptr;
};

TraceWinLayout layout_of(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const bool rf = is_rf(mesh);
  const MeshAxis& r = mesh.axes[0];
  if (rf || mesh.geometry != MeshGeometry::cylindrical || r.points == 1 || mesh.axes[2].points == 1)
    return {false, axis_field_kind(mesh), rf};
  if (options.mirror) {
    raise_mesh_error(mesh, "a 2-D TraceWin map is written as it is: mirroring takes the field on "
                           "the axis of an RF map or of a 1-D one");
  }
  if (r.origin != 0) {
    raise_mesh_error(mesh, "a 2-D TraceWin map starts at r = 0, and this map's r starts at %s m",
                     number_text(r.origin).c_str());
  }
  const auto has = [&](FieldKind field) {
    return mesh.component(field, "r") != nullptr || mesh.component(field, "z") != nullptr;
  };
  if (has(FieldKind::electric) == has(FieldKind::magnetic))
    raise_mesh_error(mesh, "a 2-D TraceWin map holds one field, electric or magnetic");
  const FieldKind field = has(FieldKind::electric) ? FieldKind::electric : FieldKind::magnetic;
  TraceWinLayout layout{true, field, false, mesh.component(field, "z"), mesh.component(field, "r")};
  refuse_other_components(mesh, {layout.z, layout.r}, "a 2-D TraceWin map");
  return layout;
}

// The field on the axis as a 1-D file holds it: of two points or more, written from z = 0.
AxisField axis_of(const FieldMesh& mesh, const TraceWinLayout& layout,
                  const MeshWriteOptions& options) {
  return axis_field_for_writing(mesh, layout.field, options, "a TraceWin file");
}

} // namespace

FieldMesh read_tracewin_mesh(const char* path, const MeshReadOptions& options) {
  const std::optional<TraceWinKind> kind = tracewin_kind_of_name(path);
  if (!kind) {
    raise_input_failure(path, 0,
                        "%s: a TraceWin file's extension tells what it holds (.edz, .esz, .bsz, "
                        ".bdz, or .esz and .esr, .bsz and .bsr of a 2-D map): this name has none",
                        path);
  }
  if (kind->component == 'x' || kind->component == 'y')
    raise_input_failure(
        path, 0, "%s: a TraceWin 3-D map is the form tracewin-3d (--from tracewin-3d)", path);
  const auto refuse_rf_plane = [&] {
    raise_input_failure(path, 0,
                        "%s: TraceWin's 2-D RF maps are not read (no public reader tells the "
                        "layout of their fields)",
                        path);
  };
  if (kind->component != 'z' && (kind->rf || kind->component == 'q'))
    refuse_rf_plane();
  const OwnedFile stream = open_mesh_input(path);
  NumberInput input(stream.get(), path);
  const Header header = read_header(input);
  FieldMesh mesh;
  if (header.r) {
    if (kind->rf)
      refuse_rf_plane();
    mesh = read_plane(path, input, header, *kind);
  } else if (kind->component != 'z') {
    raise_input_error(path, input.line_number(),
                      "Not a TraceWin header line: nr and rmax expected (an r file holds a 2-D "
                      "map)");
  } else {
    mesh = read_axis(path, input, header, *kind, options);
  }
  mesh.source.file = path;
  mesh.source.form = MeshForm::tracewin;
  return mesh;
}

void check_tracewin(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const TraceWinLayout layout = layout_of(mesh, options);
  if (!layout.plane) {
    axis_of(mesh, layout, options);
    return;
  }
  const RealFields fields(mesh); // refuses a static map of complex values
}

std::vector<std::string> tracewin_files(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const TraceWinLayout layout = layout_of(mesh, options);
  if (!layout.plane)
    return {tracewin_extension(layout.field, layout.rf, 'z')};
  return {tracewin_extension(layout.field, false, 'z'),
          tracewin_extension(layout.field, false, 'r')};
}

void write_tracewin(const FieldMesh& mesh, std::span<OutputFile> files,
                    const MeshWriteOptions& options, MeshWriteReport&) {
  const TraceWinLayout layout = layout_of(mesh, options);
  const double unit = tracewin_unit(layout.field);
  if (!layout.plane) {
    // Norm 1: the values as they are, from z = 0 whatever the map's first z.
    const AxisField field = axis_of(mesh, layout, options);
    TextOutput out(files[0]);
    write_tracewin_extent(out, field.values.size() - 1, field.step);
    out.text("1");
    out.end_line();
    for (const double value : field.values)
      write_tracewin_value(out, value, unit);
    out.flush();
    return;
  }
  const RealFields fields(mesh);
  const MeshAxis& r = mesh.axes[0];
  const MeshAxis& z = mesh.axes[2];
  const auto nr = static_cast<std::size_t>(r.points);
  const auto nz = static_cast<std::size_t>(z.points);
  const MeshComponent* const components[] = {layout.z, layout.r};
  for (std::size_t k = 0; k < 2; ++k) {
    TextOutput out(files[k]);
    write_tracewin_extent(out, nz - 1, z.spacing);
    write_tracewin_extent(out, nr - 1, r.spacing);
    out.text("1");
    out.end_line();
    for (std::size_t j = 0; j < nz; ++j) {
      for (std::size_t i = 0; i < nr; ++i) {
        const MeshComponent* component = components[k];
        write_tracewin_value(out, component == nullptr ? 0.0 : fields.value(*component, i * nz + j),
                             unit);
      }
    }
    out.flush();
  }
}

} // namespace norvalex
