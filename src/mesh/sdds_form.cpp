// elegant's SDDS files as maps: the on-axis field of an RF cavity (a position column z or s in m,
// Ez; the first page, as the tracker reads it) or a solenoid map (z, Bz, and r and Br: a page per
// radius, r given by each page's first row). Written as SDDS1 with double columns, binary
// little-endian (declared) or ASCII.
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "mesh/sdds.h"

#include <algorithm>
#include <array>
#include <bit>
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

// elegant takes positions for uniform when 1 - d_min/d_max is at most this.
constexpr double UNIFORM_LIMIT = 1e-4;

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

// How far increasing positions are from uniform: 1 - d_min/d_max; the index of the first one
// that does not increase, if any.
struct Steps {
  double unevenness = 0;
  std::optional<std::size_t> not_increasing;
};

Steps steps_of(std::span<const double> positions) {
  Steps steps;
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

// An axis from the first position, with the spacing that gives the last one back (of several,
// the one of the shortest text, as the map's own spacing most likely was).
MeshAxis axis_through(std::span<const double> positions) {
  MeshAxis axis;
  axis.points = static_cast<std::int64_t>(positions.size());
  axis.origin = positions.front();
  if (positions.size() > 1) {
    const auto intervals = static_cast<double>(positions.size() - 1);
    axis.spacing = shortest_reading_back((positions.back() - positions.front()) / intervals,
                                positions.back(),
                                [&](double step) { return positions.front() + intervals * step; });
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
  const Steps steps = steps_of(positions);
  if (steps.not_increasing) {
    const std::size_t k = *steps.not_increasing;
    raise_input_failure(path, 0, "%s: its %s does not increase from %s %llu to %llu (%s, %s)", path,
                        role.what, role.place, static_cast<unsigned long long>(k), static_cast<unsigned long long>(k + 1), number_text(positions[k - 1]).c_str(),
                        number_text(positions[k]).c_str());
  }
  if (steps.unevenness > UNIFORM_LIMIT) {
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
  if (steps_of(positions).not_increasing)
    uniform_axis(path, positions, Z_OF_AXIS); // says where
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
                          path, static_cast<unsigned long long>(k + 1), static_cast<unsigned long long>(pages[k][0].size()), static_cast<unsigned long long>(rows));
  }
  if (rows < 2)
    raise_input_failure(path, 0, "%s: a solenoid map needs 2 rows or more on a page", path);
  if (pages.size() > static_cast<std::size_t>(MESH_MAX_POINTS) / rows)
    raise_input_failure(path, 0, "%s: %llu pages of %llu rows are more points than a map holds",
                        path, static_cast<unsigned long long>(pages.size()), static_cast<unsigned long long>(rows));
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
                              static_cast<unsigned long long>(k + 1), static_cast<unsigned long long>(j + 1));
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
                                 std::size_t points, double offset, std::size_t least) {
  if (points < least)
    raise_mesh_error(mesh, "an SDDS file for elegant needs %llu points or more along z",
                     static_cast<unsigned long long>(least));
  std::vector<double> positions(points);
  for (std::size_t k = 0; k < points; ++k)
    positions[k] = origin + static_cast<double>(k) * spacing + offset;
  const Steps steps = steps_of(positions);
  if (steps.not_increasing) {
    raise_mesh_error(mesh, "the positions that an SDDS file would hold do not increase at %s m",
                     number_text(positions[*steps.not_increasing]).c_str());
  }
  if (steps.unevenness > UNIFORM_LIMIT) {
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
  AxisField field = axis_field(mesh, layout.field, "an SDDS file");
  if (options.mirror)
    field = mirrored(field);
  std::vector<double> z = positions_of(mesh, field.start, field.step, field.values.size(),
                                       options.z_offset, layout.field == FieldKind::electric ? 3 : 2);
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
  const FieldKind field = ez && bz ? *options.field : ez ? FieldKind::electric : FieldKind::magnetic;
  SddsColumns columns{*position, field == FieldKind::electric ? *ez : *bz, std::nullopt,
                      std::nullopt};
  if (field == FieldKind::magnetic) {
    columns.r = find_sdds_column(header, "r");
    columns.br = find_sdds_column(header, "Br");
  }
  for (const std::optional<std::size_t> index : {columns.r, columns.br, std::optional(columns.field)}) {
    if (index && !sdds_is_number(header.columns[*index].type))
      raise_input_failure(path, 0, "%s: column %s is of type %s: numbers expected", path,
                          header.columns[*index].name.c_str(),
                          sdds_type_name(header.columns[*index].type));
  }
  FieldMesh mesh = field == FieldKind::electric ? read_rf(path, bytes, header, columns, options)
                                                : read_solenoid(path, bytes, header, columns, options);
  mesh.source.file = path;
  mesh.source.form = MeshForm::sdds;
  const std::string data = !header.binary   ? "ASCII"
                           : header.big_endian ? "binary, big-endian"
                                               : "binary, little-endian";
  mesh.source.notes.push_back({"data", data + (field == FieldKind::electric
                                                   ? ", its first page read"
                                                   : "")});
  mesh.source.notes.push_back(
      {"columns", column_note(header, columns, field == FieldKind::electric ? "V/m" : "T")});
  return mesh;
}

void check_sdds(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const SddsLayout layout = layout_of(mesh, options);
  if (!layout.plane) {
    axis_page(mesh, layout, options);
    return;
  }
  const RealFields fields(mesh); // refuses a static map of complex values
  const MeshAxis& r = mesh.axes[0];
  const MeshAxis& z = mesh.axes[2];
  positions_of(mesh, z.origin, z.spacing, static_cast<std::size_t>(z.points), options.z_offset, 2);
  positions_of(mesh, r.origin, r.spacing, static_cast<std::size_t>(r.points), 0, 2);
}

void write_sdds(const FieldMesh& mesh, std::span<OutputFile> files,
                const MeshWriteOptions& options, MeshWriteReport&) {
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
      positions_of(mesh, z.origin, z.spacing, nz, options.z_offset, 2);
  const std::vector<double> radii = positions_of(mesh, r.origin, r.spacing, nr, 0, 2);
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
