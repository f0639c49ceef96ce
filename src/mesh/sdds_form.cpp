// elegant's SDDS files read as maps: the on-axis field of an RF cavity (a position column z or s
// in m, Ez; the first page, as the tracker reads it) or a solenoid map (z, Bz, and r and Br: a
// page per radius, r given by each page's first row).
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/sdds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace norvalex {

namespace {

std::string file_bytes(const char* path) {
  const OwnedFile stream = open_mesh_input(path);
  std::string bytes;
  std::array<char, 1 << 16> block;
  try {
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), stream.get())) > 0;)
      bytes.append(block.data(), got);
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  if (std::ferror(stream.get())) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  return bytes;
}
// An axis from the first position, with the spacing that gives the last one back (of several,
// the one of the shortest text, as the map's own spacing most likely was).
MeshAxis axis_through(std::span<const double> positions) {
  MeshAxis axis;
  axis.points = static_cast<std::int64_t>(positions.size());
  axis.origin = positions.front();
  if (positions.size() > 1) {
    const auto intervals = static_cast<double>(positions.size() - 1);
    axis.spacing =
        shortest_reading_back((positions.back() - positions.front()) / intervals, positions.back(),
                              [&](double step) { return positions.front() + intervals * step; })
            .value;
  }
  return axis;
}

// What a run of positions is, for the refusals: the rows' z or the pages' radii.
struct Positions {
  const char* what;  // "z"
  const char* place; // "row"
  bool may_resample; // a 1-D map's z
};
constexpr Positions Z_OF_AXIS{"z", "row", true};
constexpr Positions Z_OF_PAGES{"z", "row", false};
constexpr Positions RADII{"r (each page's first)", "page", false};

// The axis of positions read as elegant reads them: increasing, and uniform within its limit.
MeshAxis uniform_axis(const char* path, std::span<const double> positions, const Positions& role) {
  const SddsSteps steps = sdds_steps(positions);
  if (steps.not_increasing) {
    const std::size_t k = *steps.not_increasing;
    raise_input_failure(path, 0, "%s: its %s does not increase from %s %llu to %llu (%s, %s)", path,
                        role.what, role.place, static_cast<unsigned long long>(k),
                        static_cast<unsigned long long>(k + 1),
                        number_text(positions[k - 1]).c_str(), number_text(positions[k]).c_str());
  }
  if (!std::isfinite(positions.back() - positions.front())) {
    raise_input_failure(path, 0, "%s: its %s spans more than the doubles hold (%s to %s)", path,
                        role.what, number_text(positions.front()).c_str(),
                        number_text(positions.back()).c_str());
  }
  if (steps.unevenness > SDDS_UNIFORM_LIMIT) {
    raise_input_failure(path, 0,
                        "%s: its %s is not uniform (1 - d_min/d_max = %s, more than elegant's "
                        "1e-4)%s",
                        path, role.what, number_text(steps.unevenness).c_str(),
                        role.may_resample ? ": give a number of points to resample it on" : "");
  }
  return axis_through(positions);
}

// One page's column on `points` equally spaced positions, through a spline.
AxisField resampled_field(const char* path, std::span<const double> positions,
                          std::span<const double> values, std::int64_t points) {
  if (points < 2 || points > MESH_MAX_POINTS)
    raise_input_failure(path, 0, "%s: a map is resampled on 2 to %lld points, not %lld", path,
                        static_cast<long long>(MESH_MAX_POINTS), static_cast<long long>(points));
  if (sdds_steps(positions).not_increasing || !std::isfinite(positions.back() - positions.front()))
    uniform_axis(path, positions, Z_OF_AXIS); // says what is wrong
  return resampled(positions, values, static_cast<std::size_t>(points), FieldKind::electric);
}

// The columns a map is read from.
struct SddsColumns {
  std::size_t position;
  std::size_t field;
  std::optional<std::size_t> r;
  std::optional<std::size_t> br;
};

FieldMesh read_rf(const char* path, std::string_view bytes, const SddsHeader& header,
                  const SddsColumns& columns, const MeshReadOptions& options) {
  const std::size_t wanted[] = {columns.position, columns.field};
  std::vector<SddsPage> pages = read_sdds_pages(path, bytes, header, wanted, 1);
  if (pages.empty())
    raise_input_failure(path, 0, "%s: no page of data", path);
  SddsPage& page = pages.front();
  if (page[0].size() < 3)
    raise_input_failure(path, 0, "%s: its first page has %llu rows: elegant needs 3 or more", path,
                        static_cast<unsigned long long>(page[0].size()));
  AxisField field{FieldKind::electric, 0, 0, {}};
  if (options.resample) {
    field = resampled_field(path, page[0], page[1], *options.resample);
  } else {
    const MeshAxis z = uniform_axis(path, page[0], Z_OF_AXIS);
    field.start = z.origin;
    field.step = z.spacing;
    field.values = std::move(page[1]);
  }
  FieldMesh mesh = axis_mesh({&field, 1}, true, 0);
  set_problem(mesh, path, options, true, true, false, "an SDDS file");
  return mesh;
}

FieldMesh read_solenoid(const char* path, std::string_view bytes, const SddsHeader& header,
                        const SddsColumns& columns, const MeshReadOptions& options) {
  std::vector<std::size_t> wanted{columns.position, columns.field};
  if (columns.br)
    wanted.push_back(*columns.br);
  if (columns.r)
    wanted.push_back(*columns.r);
  std::vector<SddsPage> pages = read_sdds_pages(path, bytes, header, wanted, 0);
  if (pages.empty())
    raise_input_failure(path, 0, "%s: no page of data", path);
  if (!columns.r && pages.size() > 1)
    raise_input_failure(path, 0,
                        "%s: %llu pages and no r column: the pages of a solenoid map are its "
                        "radii, each given by its r",
                        path, static_cast<unsigned long long>(pages.size()));
  const std::size_t rows = pages.front()[0].size();
  for (std::size_t k = 1; k < pages.size(); ++k) {
    if (pages[k][0].size() != rows)
      raise_input_failure(path, 0,
                          "%s: page %llu has %llu rows and page 1 %llu: the pages of a solenoid "
                          "map have as many rows each",
                          path, static_cast<unsigned long long>(k + 1),
                          static_cast<unsigned long long>(pages[k][0].size()),
                          static_cast<unsigned long long>(rows));
  }
  if (rows < 2)
    raise_input_failure(path, 0, "%s: a solenoid map needs 2 rows or more on a page", path);
  if (pages.size() > static_cast<std::size_t>(MESH_MAX_POINTS) / rows)
    raise_input_failure(path, 0, "%s: %llu pages of %llu rows are more points than a map holds",
                        path, static_cast<unsigned long long>(pages.size()),
                        static_cast<unsigned long long>(rows));
  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  SddsPage& first = pages.front();
  const std::vector<double>& z = first[0];
  if (options.resample && pages.size() == 1) {
    // Bz, and Br when there is one, on the same new positions.
    for (std::size_t k = columns.br ? 2 : 1; k >= 1; --k) {
      AxisField field = resampled_field(path, z, first[k], *options.resample);
      mesh.axes[2].points = static_cast<std::int64_t>(field.values.size());
      mesh.axes[2].origin = field.start;
      mesh.axes[2].spacing = field.step;
      first[k] = std::move(field.values);
    }
  } else if (options.resample) {
    raise_input_failure(path, 0,
                        "%s: a solenoid map of %llu radii is read on its own grid: resampling "
                        "serves 1-D maps",
                        path, static_cast<unsigned long long>(pages.size()));
  } else {
    const MeshAxis along = uniform_axis(path, z, Z_OF_PAGES);
    mesh.axes[2].points = along.points;
    mesh.axes[2].origin = along.origin;
    mesh.axes[2].spacing = along.spacing;
    for (std::size_t k = 1; k < pages.size(); ++k) {
      for (std::size_t j = 0; j < rows; ++j) {
        if (!(std::abs(pages[k][0][j] - z[j]) <= 1e-6 * along.spacing))
          raise_input_failure(path, 0, "%s: page %llu's z differs from page 1's at row %llu", path,
                              static_cast<unsigned long long>(k + 1),
                              static_cast<unsigned long long>(j + 1));
      }
    }
  }
  if (columns.r) {
    std::vector<double> radii;
    for (const SddsPage& page : pages)
      radii.push_back(page.back().front());
    const MeshAxis r = uniform_axis(path, radii, RADII);
    mesh.axes[0].points = r.points;
    mesh.axes[0].origin = r.origin;
    mesh.axes[0].spacing = r.spacing;
  }
  if ((columns.br && add_component(mesh, FieldKind::magnetic, "r") == nullptr) ||
      add_component(mesh, FieldKind::magnetic, "z") == nullptr)
    raise_input_failure(path, ENOMEM, "Not enough memory");
  const auto nz = static_cast<std::size_t>(mesh.axes[2].points);
  for (std::size_t k = 0; k < pages.size(); ++k) {
    for (std::size_t j = 0; j < nz; ++j) {
      mesh.components.back().values[k * nz + j] = {pages[k][1][j], 0};
      if (columns.br)
        mesh.components.front().values[k * nz + j] = {pages[k][2][j], 0};
    }
  }
  mesh.source.problem = ProblemKind::magnetostatic;
  return mesh;
}

// "s (m), Ez (MV/m, taken as V/m)": the columns read and their units.
std::string column_note(const SddsHeader& header, const SddsColumns& columns,
                        const char* field_unit) {
  std::string note;
  const auto add = [&](std::optional<std::size_t> index, const char* unit) {
    if (!index)
      return;
    const SddsItem& column = header.columns[*index];
    note += (note.empty() ? "" : ", ") + column.name + " (";
    if (column.units == unit)
      note += column.units + ")";
    else
      note += (column.units.empty() ? "no units" : column.units) + ", taken as " + unit + ")";
  };
  add(columns.position, "m");
  add(columns.r, "m");
  add(columns.field, field_unit);
  add(columns.br, field_unit);
  return note;
}
} // namespace

SddsSteps sdds_steps(std::span<const double> positions) {
  SddsSteps steps;
  double least = INFINITY;
  double most = 0;
  for (std::size_t k = 1; k < positions.size(); ++k) {
    const double step = positions[k] - positions[k - 1];
    if (!(step > 0) || !std::isfinite(step)) {
      steps.not_increasing = k;
      return steps;
    }
    least = std::min(least, step);
    most = std::max(most, step);
  }
  steps.unevenness = positions.size() < 2 ? 0 : 1 - least / most;
  return steps;
}

bool sdds_signature(const FileStart& start) {
  const std::string_view bytes = start.bytes;
  return bytes.size() > 4 && bytes.starts_with("SDDS") &&
         std::isdigit(static_cast<unsigned char>(bytes[4])) != 0;
}

FieldMesh read_sdds_mesh(const char* path, const MeshReadOptions& options) {
  const std::string bytes = file_bytes(path);
  const SddsHeader header = read_sdds_header(path, bytes);
  std::optional<std::size_t> position = find_sdds_column(header, "z");
  if (!position)
    position = find_sdds_column(header, "s");
  if (!position)
    raise_input_failure(path, 0, "%s: no column of positions (z or s)", path);
  const SddsItem& z = header.columns[*position];
  if (z.type != SddsType::f32 && z.type != SddsType::f64)
    raise_input_failure(path, 0,
                        "%s: column %s is of type %s: elegant reads positions of a floating type "
                        "(float or double)",
                        path, z.name.c_str(), sdds_type_name(z.type));
  if (z.units != "m")
    raise_input_failure(path, 0, "%s: column %s is in %s: elegant reads positions in m (units=m)",
                        path, z.name.c_str(), quoted_text(z.units).c_str());
  const std::optional<std::size_t> ez = find_sdds_column(header, "Ez");
  const std::optional<std::size_t> bz = find_sdds_column(header, "Bz");
  if (!ez && !bz)
    raise_input_failure(path, 0, "%s: no field column (Ez, or Bz of a solenoid)", path);
  if (ez && bz && !options.field)
    raise_input_failure(path, 0,
                        "%s: an SDDS file of Ez and Bz columns: give the field, electric or "
                        "magnetic",
                        path);
  const FieldKind field = ez && bz ? *options.field
                          : ez     ? FieldKind::electric
                                   : FieldKind::magnetic;
  SddsColumns columns{*position, field == FieldKind::electric ? *ez : *bz, std::nullopt,
                      std::nullopt};
  if (field == FieldKind::magnetic) {
    columns.r = find_sdds_column(header, "r");
    columns.br = find_sdds_column(header, "Br");
  }
  for (const std::optional<std::size_t> index :
       {columns.r, columns.br, std::optional(columns.field)}) {
    if (index && !sdds_is_number(header.columns[*index].type))
      raise_input_failure(path, 0, "%s: column %s is of type %s: numbers expected", path,
                          header.columns[*index].name.c_str(),
                          sdds_type_name(header.columns[*index].type));
  }
  FieldMesh mesh = field == FieldKind::electric
                       ? read_rf(path, bytes, header, columns, options)
                       : read_solenoid(path, bytes, header, columns, options);
  mesh.source.file = path;
  mesh.source.form = MeshForm::sdds;
  const std::string data = !header.binary      ? "ASCII"
                           : header.big_endian ? "binary, big-endian"
                                               : "binary, little-endian";
  mesh.source.notes.push_back(
      {"data", data + (field == FieldKind::electric ? ", its first page read" : "")});
  mesh.source.notes.push_back(
      {"columns", column_note(header, columns, field == FieldKind::electric ? "V/m" : "T")});
  return mesh;
}
} // namespace norvalex
