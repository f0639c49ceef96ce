// ASTRA's 3-D field maps: one file per field component, <base>.ex .ey .ez .bx .by .bz. Each file
// lists the grid, Nx and every x coordinate, Ny and every y, Nz and every z (m), then the
// component's values (V/m or T), x fastest, then y, then z: one stream of numbers whatever the
// line breaks. The files of one map must share one grid, whose coordinates must be equally
// spaced. A map is static unless a frequency is given: ASTRA's convention for the phase of a 3-D
// cavity map is not public, so an RF map is read as the solver's standing wave (E cos wt,
// B -b sin wt: B = -i b here) and never written.
#include "mesh/astra_3d.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "platform/platform.h"
#include "text/number_input.h"
#include "text/number_scan.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace norvalex {

namespace {

struct ComponentFile {
  const char* extension;
  FieldKind field;
  const char* axis;
};

constexpr std::array<ComponentFile, 6> COMPONENT_FILES{{
    {".ex", FieldKind::electric, "x"},
    {".ey", FieldKind::electric, "y"},
    {".ez", FieldKind::electric, "z"},
    {".bx", FieldKind::magnetic, "x"},
    {".by", FieldKind::magnetic, "y"},
    {".bz", FieldKind::magnetic, "z"},
}};

// Values a chunk of a file is read in.
constexpr std::size_t CHUNK = 4096;

// The base name of a path ("3D_gun" of "3D_gun.ex") and the case of its extension's two letters,
// which the other files' names take; a path without one of the extensions is a base itself.
struct BaseName {
  std::string base;
  std::array<bool, 2> upper{false, false};
  bool of_file = false; // the path names one of the files
};

BaseName base_of(std::string_view path) {
  if (path.size() > 3 && path[path.size() - 3] == '.') {
    std::string extension(path.substr(path.size() - 3));
    for (char& c : extension)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const ComponentFile& file : COMPONENT_FILES) {
      if (extension == file.extension) {
        const auto upper = [&](std::size_t k) {
          return std::isupper(static_cast<unsigned char>(path[path.size() - 2 + k])) != 0;
        };
        return {std::string(path.substr(0, path.size() - 3)), {upper(0), upper(1)}, true};
      }
    }
  }
  return {std::string(path), {false, false}, false};
}

std::string file_name(const BaseName& name, const ComponentFile& file) {
  std::string extension = file.extension;
  for (std::size_t k = 0; k < 2; ++k) {
    if (name.upper[k])
      extension[k + 1] =
          static_cast<char>(std::toupper(static_cast<unsigned char>(extension[k + 1])));
  }
  return name.base + extension;
}

// True when the first line of `text` is a count N of 2 or more and N increasing coordinates,
// as an ASTRA 3-D file's grid lines are.
bool grid_line(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  double count = 0;
  double previous = 0;
  std::size_t numbers = 0;
  for (;;) {
    while (p < end && *p != '\n' && is_scan_space(*p))
      ++p;
    if (p == end || *p == '\n')
      break;
    const char* word_end = p;
    while (word_end < end && !is_scan_space(*word_end))
      ++word_end;
    double value = 0;
    const NumberScanResult scanned = scan_number(p, word_end, value);
    if (scanned.ec != std::errc() || !std::isfinite(value))
      return false;
    if (numbers == 0)
      count = value;
    else if (numbers > 1 && !(value > previous))
      return false;
    previous = value;
    ++numbers;
    p = word_end;
  }
  return count >= 2 && count == std::floor(count) && static_cast<double>(numbers) == count + 1;
}

// One file of a map, read into `mesh`: its grid (set by the first file read, `first`, and checked
// against it by the others) and its component.
class ComponentReader {
public:
  ComponentReader(const std::string& name, std::FILE* stream, FieldMesh& mesh)
      : name_(name), stream_(stream), input_(stream, name_.c_str()), mesh_(mesh) {}

  void read(const ComponentFile& file, bool rf, const std::string& first) {
    std::array<MeshAxis, 3> axes;
    std::array<std::int32_t, 3> lines{};
    for (std::size_t a = 0; a < 3; ++a) {
      axes[a].label = mesh_.axes[a].label;
      lines[a] = read_axis(axes[a]);
    }
    const std::optional<std::size_t> grid = grid_points(axes);
    if (!grid) {
      raise_input_error(name(), lines[2], "Grid too large: %lld*%lld*%lld points",
                        static_cast<long long>(axes[0].points),
                        static_cast<long long>(axes[1].points),
                        static_cast<long long>(axes[2].points));
    }
    check_values_fit(stream_, name(), lines[2], *grid);
    if (first.empty()) {
      mesh_.axes = axes;
    } else {
      for (std::size_t a = 0; a < 3; ++a)
        check_same_axis(mesh_.axes[a], axes[a], lines[a], first);
    }
    MeshComponent* component = add_component(mesh_, file.field, file.axis);
    if (component == nullptr)
      raise_input_failure(name(), ENOMEM, "Not enough memory");
    read_values(*component, rf && file.field == FieldKind::magnetic);
  }

private:
  const char* name() const { return name_.c_str(); }

  // Reads an axis's count and coordinates into `axis`: the line of its last coordinate.
  std::int32_t read_axis(MeshAxis& axis) {
    const char* label = axis.label.c_str();
    double count = 0;
    if (input_.read_numbers({&count, 1}) == 0)
      raise_input_error(name(), input_.line_number(),
                        "Unexpected end of file: the count of %s coordinates expected", label);
    if (!(count >= 1) || count != std::floor(count) ||
        count > static_cast<double>(MESH_MAX_POINTS)) {
      raise_input_error(name(), input_.line_number(),
                        "The count of %s coordinates is no whole number from 1 on: %s", label,
                        number_text(count).c_str());
    }
    // The coordinates as the file gives them, never more than it holds, with their lines.
    const auto wanted = static_cast<std::size_t>(count);
    std::vector<double> coordinates;
    std::vector<std::int32_t> lines;
    std::unique_ptr<double[]> chunk(new (std::nothrow) double[CHUNK]);
    if (!chunk)
      raise_input_failure(name(), ENOMEM, "Not enough memory");
    while (coordinates.size() < wanted) {
      const std::size_t got =
          input_.read_numbers({chunk.get(), std::min(CHUNK, wanted - coordinates.size())});
      if (got == 0) {
        raise_input_error(name(), input_.line_number(),
                          "Unexpected end of file: %llu %s coordinates expected, the file holds "
                          "%llu",
                          static_cast<unsigned long long>(wanted), label,
                          static_cast<unsigned long long>(coordinates.size()));
      }
      try {
        for (std::size_t k = 0; k < got; ++k) {
          coordinates.push_back(chunk[k]);
          lines.push_back(input_.line_of_number(k));
        }
      } catch (const std::bad_alloc&) {
        raise_input_failure(name(), ENOMEM, "Not enough memory");
      }
    }
    if (const std::optional<std::size_t> off = listed_axis(coordinates, axis)) {
      const std::int32_t line = lines[*off];
      if (!(axis.spacing > 0 && std::isfinite(axis.spacing))) {
        raise_input_error(name(), line, "The %s coordinates do not increase: from %s to %s m",
                          label, number_text(coordinates.front()).c_str(),
                          number_text(coordinates.back()).c_str());
      }
      raise_input_error(
          name(), line,
          "The %s coordinates are not equally spaced: number %llu is %s m, where "
          "equal steps from %s to %s m put %s m",
          label, static_cast<unsigned long long>(*off + 1), number_text(coordinates[*off]).c_str(),
          number_text(coordinates.front()).c_str(), number_text(coordinates.back()).c_str(),
          number_text(axis.origin + static_cast<double>(*off) * axis.spacing).c_str());
    }
    return lines.back();
  }

  void check_same_axis(const MeshAxis& grid, const MeshAxis& axis, std::int32_t line,
                       const std::string& first) const {
    if (!same_grid_axis(grid, axis)) {
      raise_input_error(name(), line, "Its %s coordinates, %s, are not those of %s, %s",
                        axis.label.c_str(), axis_extent_text(axis).c_str(), first.c_str(),
                        axis_extent_text(grid).c_str());
    }
  }

  // The values, x fastest, into the mesh's C order (z fastest); a magnetic field of an RF map
  // as -i times the file's amplitude.
  void read_values(MeshComponent& component, bool minus_i) {
    const auto nx = static_cast<std::size_t>(mesh_.axes[0].points);
    const auto ny = static_cast<std::size_t>(mesh_.axes[1].points);
    const auto nz = static_cast<std::size_t>(mesh_.axes[2].points);
    const std::size_t total = nx * ny * nz;
    std::unique_ptr<double[]> chunk(new (std::nothrow) double[CHUNK]);
    if (!chunk)
      raise_input_failure(name(), ENOMEM, "Not enough memory");
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t k = 0;
    std::size_t read = 0;
    while (read < total) {
      const std::size_t got = input_.read_numbers({chunk.get(), std::min(CHUNK, total - read)});
      if (got == 0) {
        raise_input_error(name(), input_.line_number(),
                          "Too few values: the grid needs %llu, the file holds %llu",
                          static_cast<unsigned long long>(total),
                          static_cast<unsigned long long>(read));
      }
      for (std::size_t n = 0; n < got; ++n) {
        const double value = chunk[n];
        component.values[(i * ny + j) * nz + k] =
            minus_i ? std::complex<double>(0, 0.0 - value) : std::complex<double>(value, 0);
        if (++i == nx) {
          i = 0;
          if (++j == ny) {
            j = 0;
            ++k;
          }
        }
      }
      read += got;
    }
    double extra = 0;
    if (input_.read_numbers({&extra, 1}) != 0) {
      raise_input_error(name(), input_.line_number(), "Too many values: the grid needs %llu",
                        static_cast<unsigned long long>(total));
    }
  }

  std::string name_;
  std::FILE* stream_;
  NumberInput input_;
  FieldMesh& mesh_;
};

// A grid line: the count, then every coordinate; the last one chosen so that the reader's
// spacing, (last - first) / (count - 1), is the axis's.
void write_axis(TextOutput& out, const MeshAxis& axis) {
  out.number(static_cast<double>(axis.points));
  const auto intervals = static_cast<double>(axis.points - 1);
  for (std::int64_t k = 0; k < axis.points; ++k) {
    const double x = axis.origin + static_cast<double>(k) * axis.spacing;
    out.text(" ");
    out.number(k + 1 < axis.points ? x : reading_back(x, axis.spacing, [&](double last) {
      return (last - axis.origin) / intervals;
    }));
  }
  out.end_line();
}

} // namespace

bool astra_3d_signature(const FileStart& start) {
  const std::string_view bytes = start.bytes;
  const std::size_t feed = bytes.find('\n');
  if (feed == std::string_view::npos || !grid_line(bytes))
    return false;
  // The y line too, when the bytes hold it whole.
  const std::string_view rest = bytes.substr(feed + 1);
  return rest.find('\n') == std::string_view::npos || grid_line(rest);
}

bool astra_3d_names_base(const char* path) {
  const BaseName name = base_of(path);
  if (name.of_file)
    return false;
  for (const ComponentFile& file : COMPONENT_FILES) {
    if (const OwnedFile stream{platform_open_input(file_name(name, file).c_str())})
      return true;
  }
  return false;
}

FieldMesh read_astra_3d_mesh(const char* path, const MeshReadOptions& options) {
  const BaseName name = base_of(path);
  // A file named is there, or its own error says why not.
  if (name.of_file) {
    const OwnedFile named = open_mesh_input(path);
  }
  const bool rf = options.frequency.has_value();
  FieldMesh mesh = new_mesh(MeshGeometry::rectangular);
  mesh.source = {path, MeshForm::astra_3d, ProblemKind::unknown, {}};
  std::string first; // the file whose grid the others must have
  std::string files; // the files read, for info
  bool electric = false;
  bool magnetic = false;
  for (const ComponentFile& file : COMPONENT_FILES) {
    const std::string component_name = file_name(name, file);
    const OwnedFile stream(platform_open_input(component_name.c_str()));
    if (!stream) {
      const int error_number = errno;
      if (error_number == ENOENT)
        continue; // a component the map does not have
      raise_input_failure(component_name.c_str(), error_number, "%s: %s", component_name.c_str(),
                          platform_error_text(error_number));
    }
    ComponentReader(component_name, stream.get(), mesh).read(file, rf, first);
    if (first.empty()) {
      first = component_name;
      files = component_name;
    } else {
      files += std::string(", ") + file.extension;
    }
    (file.field == FieldKind::electric ? electric : magnetic) = true;
  }
  if (first.empty()) {
    raise_input_failure(path, ENOENT,
                        "%s: no file of an ASTRA 3-D map: none of %s.ex, .ey, .ez, "
                        ".bx, .by and .bz",
                        path, name.base.c_str());
  }
  set_problem(mesh, path, options, rf, electric, magnetic, "an ASTRA 3-D map");
  mesh.source.notes.push_back({"files", files});
  return mesh;
}

void check_astra_3d(const FieldMesh& mesh, const MeshWriteOptions&) {
  if (mesh.geometry != MeshGeometry::rectangular || mesh.dimensions() != 3)
    raise_mesh_error(mesh, "an ASTRA 3-D file holds a 3-D rectangular map, of two points or more "
                           "along x, y and z");
  if (is_rf(mesh))
    raise_mesh_error(mesh, "an ASTRA 3-D file is written of a static map only: ASTRA's time "
                           "convention for 3-D cavity maps is not public");
  if (mesh.components.empty())
    raise_mesh_error(mesh, "an ASTRA 3-D map is a file per field component, and the map has none");
  const RealFields fields(mesh);
}

std::vector<std::string> astra_3d_files(const FieldMesh& mesh, const MeshWriteOptions&) {
  std::vector<std::string> extensions;
  for (const ComponentFile& file : COMPONENT_FILES) {
    if (mesh.component(file.field, file.axis) != nullptr)
      extensions.emplace_back(file.extension);
  }
  return extensions;
}

void write_astra_3d(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions&,
                    MeshWriteReport&) {
  const RealFields fields(mesh);
  const auto nx = static_cast<std::size_t>(mesh.axes[0].points);
  const auto ny = static_cast<std::size_t>(mesh.axes[1].points);
  const auto nz = static_cast<std::size_t>(mesh.axes[2].points);
  std::size_t written = 0;
  for (const ComponentFile& file : COMPONENT_FILES) {
    const MeshComponent* component = mesh.component(file.field, file.axis);
    if (component == nullptr)
      continue;
    TextOutput out(files[written++]);
    for (const MeshAxis& axis : mesh.axes)
      write_axis(out, axis);
    // x fastest: one line of nx values per y and z.
    for (std::size_t k = 0; k < nz; ++k) {
      for (std::size_t j = 0; j < ny; ++j) {
        for (std::size_t i = 0; i < nx; ++i) {
          if (i > 0)
            out.text(" ");
          out.number(fields.value(*component, (i * ny + j) * nz + k));
        }
        out.end_line();
      }
    }
    out.flush();
  }
}

} // namespace norvalex
