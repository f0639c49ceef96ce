// TraceWin's 3-D field maps: one file per component, <base>.<e|b><s|d><x|y|z>. Each file is
// `nz zmax` (intervals, m), `nx xmin xmax`, `ny ymin ymax`, `Norm`, then the (nx+1)(ny+1)(nz+1)
// values in MV/m or T, divided by Norm, x fastest, then y, then z; z starts at 0. The files of
// one map are those of its name's base and kind (d or s) that exist, on one grid. An RF map is
// read as TraceWin's 1-D .edz and .bdz files are, the solver's standing wave: E as it is, and
// B = -i b, b the file's value.
#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "mesh/tracewin.h"
#include "platform/platform.h"
#include "text/number_input.h"
#include "text/number_scan.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvalex {

namespace {

// The files of a map in the order they are read and written.
struct ComponentFile {
  FieldKind field;
  char axis;
};
constexpr std::array<ComponentFile, 6> COMPONENT_FILES{{
    {FieldKind::electric, 'x'},
    {FieldKind::electric, 'y'},
    {FieldKind::electric, 'z'},
    {FieldKind::magnetic, 'x'},
    {FieldKind::magnetic, 'y'},
    {FieldKind::magnetic, 'z'},
}};

// The name of the map's file of `file`: the extension's letters in the case of the name given.
std::string file_name(std::string_view path, bool rf, const ComponentFile& file) {
  std::string name(path);
  const std::string extension = tracewin_extension(file.field, rf, file.axis);
  for (std::size_t k = 1; k < 4; ++k) {
    char& letter = name[name.size() - 4 + k];
    letter = std::isupper(static_cast<unsigned char>(letter)) != 0
                 ? static_cast<char>(std::toupper(static_cast<unsigned char>(extension[k])))
                 : extension[k];
  }
  return name;
}

// A header: the grid (z from 0) and Norm, with the lines of the axes for the messages about
// another file's grid.
struct Header {
  std::array<MeshAxis, 3> axes;
  std::array<std::int32_t, 3> lines;
  double norm;
};

// `nx xmin xmax` of axis `label`, into `axis`.
void read_range(NumberInput& input, MeshAxis& axis) {
  const char* label = axis.label.c_str();
  std::array<double, 3> numbers{};
  if (input.read_line(numbers) != 3)
    raise_input_error(input.name(), input.line_number(),
                      "Not a TraceWin 3-D header line: n%s, %smin and %smax expected", label, label,
                      label);
  const std::int64_t intervals = tracewin_intervals(input, numbers[0]);
  axis.points = intervals + 1;
  axis.origin = numbers[1];
  axis.spacing = (numbers[2] - numbers[1]) / numbers[0];
  if (!std::isfinite(numbers[1]) || !(axis.spacing > 0 && std::isfinite(axis.spacing))) {
    raise_input_error(input.name(), input.line_number(),
                      "The %s range is not from a minimum to a larger maximum: %s %s", label,
                      number_text(numbers[1]).c_str(), number_text(numbers[2]).c_str());
  }
}

Header read_header(NumberInput& input) {
  Header header{};
  const std::array<const char*, 3>& labels = axis_labels(MeshGeometry::rectangular);
  for (std::size_t a = 0; a < 3; ++a)
    header.axes[a].label = labels[a];
  std::array<double, 2> numbers{};
  if (input.read_line(numbers) != 2)
    raise_input_error(input.name(), input.line_number(),
                      "Not a TraceWin 3-D header line: nz and zmax expected");
  const TraceWinExtent z = tracewin_extent(input, numbers[0], numbers[1]);
  header.axes[2].points = z.points();
  header.axes[2].spacing = z.spacing();
  header.lines[2] = input.line_number();
  for (std::size_t a = 0; a < 2; ++a) {
    read_range(input, header.axes[a]);
    header.lines[a] = input.line_number();
  }
  if (!grid_points(header.axes)) {
    raise_input_error(input.name(), input.line_number(), "Grid too large: %lld*%lld*%lld points",
                      static_cast<long long>(header.axes[0].points),
                      static_cast<long long>(header.axes[1].points),
                      static_cast<long long>(header.axes[2].points));
  }
  if (input.read_line({numbers.data(), 1}) != 1)
    raise_input_error(input.name(), input.line_number(),
                      "Not a TraceWin 3-D header line: Norm expected");
  header.norm = tracewin_norm(input, numbers[0]);
  return header;
}

// Reads the file `name` of `file` into `mesh`: its grid is set by the first file read, `first`,
// and checked against it by the others. Returns its Norm.
double read_component(const std::string& name, std::FILE* stream, const ComponentFile& file,
                      bool rf, const std::string& first, FieldMesh& mesh) {
  NumberInput input(stream, name.c_str());
  const Header header = read_header(input);
  if (first.empty()) {
    mesh.axes = header.axes;
  } else {
    for (std::size_t a = 0; a < 3; ++a) {
      const MeshAxis& grid = mesh.axes[a];
      const MeshAxis& axis = header.axes[a];
      if (!same_grid_axis(grid, axis)) {
        raise_input_error(name.c_str(), header.lines[a],
                          "Its %s coordinates, %s, are not those of %s, %s", axis.label.c_str(),
                          axis_extent_text(axis).c_str(), first.c_str(),
                          axis_extent_text(grid).c_str());
      }
    }
  }
  check_values_fit(stream, name.c_str(), input.line_number(), mesh.point_count());
  MeshComponent* component = add_component(mesh, file.field, std::string_view(&file.axis, 1));
  if (component == nullptr)
    raise_input_failure(name.c_str(), ENOMEM, "Not enough memory");
  const XFastOrder order{static_cast<std::size_t>(mesh.axes[0].points),
                         static_cast<std::size_t>(mesh.axes[1].points),
                         static_cast<std::size_t>(mesh.axes[2].points)};
  std::complex<double>* values = component->values.data();
  const bool minus_i = rf && file.field == FieldKind::magnetic;
  read_tracewin_values(input, mesh.point_count(), header.norm, tracewin_unit(file.field),
                       [&](std::size_t n, double value) {
                         values[order.index(n)] = minus_i ? std::complex<double>(0, 0.0 - value)
                                                          : std::complex<double>(value, 0);
                       });
  return header.norm;
}

// A grid line of x or y: intervals, the origin, and the maximum that gives the spacing back.
void write_range(TextOutput& out, const MeshAxis& axis) {
  const auto n = static_cast<double>(axis.points - 1);
  out.number(n);
  out.text(" ");
  out.number(axis.origin);
  out.text(" ");
  out.number(shortest_reading_back(axis.origin + axis.spacing * n, axis.spacing,
                                   [&](double max) { return (max - axis.origin) / n; }));
  out.end_line();
}

} // namespace

bool tracewin_3d_signature(const FileStart& start) {
  // `nz zmax`, `nx xmin xmax`, `ny ymin ymax`: the 1-D form's second line is Norm, the 2-D
  // form's `nr rmax`.
  std::string_view bytes = start.bytes;
  for (const int numbers : {2, 3, 3}) {
    const std::size_t feed = bytes.find('\n');
    if (feed == std::string_view::npos || count_numbers(bytes.substr(0, feed), 3) != numbers)
      return false;
    bytes.remove_prefix(feed + 1);
  }
  return true;
}

FieldMesh read_tracewin_3d_mesh(const char* path, const MeshReadOptions& options) {
  const std::optional<TraceWinKind> kind = tracewin_kind_of_name(path);
  if (!kind || std::string_view("xyz").find(kind->component) == std::string_view::npos) {
    raise_input_failure(path, 0,
                        "%s: a TraceWin 3-D map's files end in .edx, .edy, .edz, .bdx, .bdy or "
                        ".bdz (RF), or .esx, .esy, .esz, .bsx, .bsy or .bsz (static)",
                        path);
  }
  // The file named is there, or its own error says why not.
  const OwnedFile named = open_mesh_input(path);
  FieldMesh mesh = new_mesh(MeshGeometry::rectangular);
  mesh.source = {path, MeshForm::tracewin_3d, ProblemKind::unknown, {}};
  std::string first; // the file whose grid the others must have
  std::string files; // the files read, for info
  std::string norms;
  bool electric = false;
  bool magnetic = false;
  for (const ComponentFile& file : COMPONENT_FILES) {
    const std::string name = file_name(path, kind->rf, file);
    const OwnedFile stream(platform_open_input(name.c_str()));
    if (!stream) {
      const int error_number = errno;
      if (error_number == ENOENT)
        continue; // a component the map does not have
      raise_input_failure(name.c_str(), error_number, "%s: %s", name.c_str(),
                          platform_error_text(error_number));
    }
    const double norm = read_component(name, stream.get(), file, kind->rf, first, mesh);
    const std::string extension = tracewin_extension(file.field, kind->rf, file.axis);
    files += first.empty() ? name : ", " + extension;
    norms += (first.empty() ? "" : ", ") + number_text(norm) + " (" + extension + ")";
    if (first.empty())
      first = name;
    (file.field == FieldKind::electric ? electric : magnetic) = true;
  }
  set_problem(mesh, path, options, kind->rf, electric, magnetic, "a TraceWin 3-D RF map");
  mesh.source.notes.push_back({"Norm", norms});
  mesh.source.notes.push_back({"files", files});
  return mesh;
}

void check_tracewin_3d(const FieldMesh& mesh, const MeshWriteOptions&) {
  if (mesh.geometry != MeshGeometry::rectangular || mesh.dimensions() != 3)
    raise_mesh_error(mesh, "TraceWin's 3-D files hold a 3-D rectangular map, of two points or "
                           "more along x, y and z");
  if (mesh.components.empty())
    raise_mesh_error(mesh, "a TraceWin 3-D map is a file per field component, and the map has "
                           "none");
  const RealFields fields(mesh); // refuses a travelling wave and a static map of complex values
}

std::vector<std::string> tracewin_3d_files(const FieldMesh& mesh, const MeshWriteOptions&) {
  std::vector<std::string> extensions;
  for (const ComponentFile& file : COMPONENT_FILES) {
    if (mesh.component(file.field, std::string_view(&file.axis, 1)) != nullptr)
      extensions.push_back(tracewin_extension(file.field, is_rf(mesh), file.axis));
  }
  return extensions;
}

void write_tracewin_3d(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                       MeshWriteReport&) {
  const RealFields fields(mesh);
  const XFastOrder order{static_cast<std::size_t>(mesh.axes[0].points),
                         static_cast<std::size_t>(mesh.axes[1].points),
                         static_cast<std::size_t>(mesh.axes[2].points)};
  std::size_t written = 0;
  for (const ComponentFile& file : COMPONENT_FILES) {
    const MeshComponent* component = mesh.component(file.field, std::string_view(&file.axis, 1));
    if (component == nullptr)
      continue;
    // z from 0 whatever the map's first z, and Norm 1: the values as they are.
    TextOutput out(files[written++]);
    write_tracewin_extent(out, order.nz - 1, mesh.axes[2].spacing);
    write_range(out, mesh.axes[0]);
    write_range(out, mesh.axes[1]);
    out.text("1");
    out.end_line();
    const double unit = tracewin_unit(file.field);
    for (std::size_t n = 0; n < mesh.point_count(); ++n)
      write_tracewin_value(out, fields.value(*component, order.index(n)), unit);
    out.flush();
  }
}

} // namespace norvalex
