// Reading a table of points: the grid from the first points and the last one, then every point
// checked and its values stored straight into the mesh's components, in two parts on two threads
// for a large file.
#include "mesh/point_table.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/point_grid.h"
#include "mesh/point_store.h"
#include "mesh/two_part_reading.h"
#include "platform/platform.h"
#include "text/number_input.h"
#include "text/number_scan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstring>

namespace norvalex {

namespace {

// Bytes at the end of the file in which its last point is looked for.
constexpr std::size_t TAIL_BYTES = std::size_t{64} << 10;

constexpr const char* AXIS_LABELS[] = {"x", "y", "z"};

// A row's coordinates.
GridPoint point_of(const PointTable& table, const double* row) {
  return {row[table.coordinates[0].column], row[table.coordinates[1].column],
          row[table.coordinates[2].column]};
}

// The numbers of the next line that holds any, into `row` (one more than the table's columns):
// how many (the columns + 1 for more), or -1 at the end.
std::ptrdiff_t read_row(NumberInput& input, std::span<double> row) {
  for (;;) {
    const std::ptrdiff_t count = input.read_line(row);
    if (count != 0)
      return count;
  }
}

[[noreturn]] void raise_row_count(const NumberInput& input, std::ptrdiff_t count,
                                  std::size_t columns) {
  if (static_cast<std::size_t>(count) > columns) {
    raise_input_error(input.name(), input.line_number(),
                      "Row of more numbers than the table's %llu columns",
                      static_cast<unsigned long long>(columns));
  }
  raise_input_error(input.name(), input.line_number(), "Row of %lld numbers, not the table's %llu",
                    static_cast<long long>(count), static_cast<unsigned long long>(columns));
}

std::string extents_of(const PointGrid& grid) {
  return std::to_string(grid.axes[0].points) + " x " + std::to_string(grid.axes[1].points) + " x " +
         std::to_string(grid.axes[2].points);
}

// The last line of the file that holds anything, read as a row of the table: its point, or none
// when it is no such row (the reading then follows every point to find the grid).
std::optional<GridPoint> last_point(std::FILE* stream, TableStart start, std::int64_t length,
                                    const PointTable& table) {
  const std::int64_t from = std::max(start.offset, length - static_cast<std::int64_t>(TAIL_BYTES));
  const auto size = static_cast<std::size_t>(std::max<std::int64_t>(length - from, 0));
  std::string tail(size, '\0');
  if (size == 0 || platform_seek(stream, from) != 0 ||
      std::fread(tail.data(), 1, size, stream) != size)
    return std::nullopt;
  std::size_t end = tail.size();
  while (end > 0 && is_scan_space(tail[end - 1]))
    --end;
  const std::size_t feed = tail.rfind('\n', end == 0 ? 0 : end - 1);
  if (feed == std::string::npos && from != start.offset)
    return std::nullopt; // a line longer than the bytes looked at
  const std::size_t first = feed == std::string::npos ? 0 : feed + 1;
  const std::string_view line = std::string_view(tail).substr(first, end - first);
  std::vector<double> row;
  for (const std::string_view word : words_of(line)) {
    double value = 0;
    const NumberScanResult scanned = scan_number(word.data(), word.data() + word.size(), value);
    if (scanned.ec != std::errc() || row.size() == table.columns)
      return std::nullopt;
    row.push_back(value);
  }
  if (row.size() != table.columns)
    return std::nullopt;
  return point_of(table, row.data());
}

// The grid of the points: followed from the first points until the axes that the last point
// moves are found, which it then closes; or, where it closes none, followed through every point.
PointGrid find_grid(const char* path, std::FILE* stream, TableStart start, std::int64_t length,
                    const PointTable& table) {
  std::optional<GridPoint> last = last_point(stream, start, length, table);
  if (platform_seek(stream, start.offset) != 0) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  // No more points than rows of one digit and one blank a number fit in the file.
  const std::int64_t most = std::min<std::int64_t>(
      MESH_MAX_POINTS, (length - start.offset + 1) / static_cast<std::int64_t>(2 * table.columns));
  NumberInput input(stream, path, start.lines);
  GridFinder finder(path, table.coordinates);
  std::vector<double> row(table.columns + 1);
  for (std::ptrdiff_t count; (count = read_row(input, row)) >= 0;) {
    if (static_cast<std::size_t>(count) != table.columns)
      raise_row_count(input, count, table.columns);
    finder.add(point_of(table, row.data()), input.line_number());
    if (last && finder.axes_found() == finder.axes_varying(*last)) {
      if (const std::optional<PointGrid> grid = finder.closed_by(*last, most))
        return *grid;
      last.reset();
    }
  }
  return finder.finish(input.line_number());
}

// Reads the rows of `input` to its end along `walk`, storing each. A defect throws its located
// error (Raise), or ends the reading with false.
template <bool Raise>
bool read_rows(NumberInput& input, const PointTable& table, const PointStore& store,
               PointWriter& writer, GridWalk& walk, const PointGrid& grid, std::span<double> row) {
  const std::int64_t total = grid.count();
  for (std::ptrdiff_t count; (count = read_row(input, row)) >= 0;) {
    if (static_cast<std::size_t>(count) != table.columns) {
      if constexpr (Raise)
        raise_row_count(input, count, table.columns);
      return false;
    }
    const GridPoint point = point_of(table, row.data());
    if (walk.row() == total) {
      if constexpr (Raise)
        raise_input_error(input.name(), input.line_number(),
                          "Point past the grid's last: the grid holds %s points",
                          extents_of(grid).c_str());
      return false;
    }
    if (!walk.on_grid(point)) {
      if constexpr (Raise)
        walk.raise_off_grid(input.name(), input.line_number(), point);
      return false;
    }
    if (!writer.write(row.data(), walk)) {
      if constexpr (Raise)
        raise_input_error(input.name(), input.line_number(), "Value out of range: %s",
                          number_text(store.out_of_range(row.data())).c_str());
      return false;
    }
    walk.next();
  }
  return true;
}

// Reads the points in two parts (two_part_reading.h), the helper's first point's place in the
// grid told by its coordinates. False when any line reads otherwise: the caller then reads them
// one after the other, which finds any defect with its line.
bool read_in_two(const char* path, std::FILE* stream, TableStart start, const PointTable& table,
                 const PointStore& store, const PointGrid& grid) {
  std::int64_t rows = 0;          // of the first part
  std::int64_t helper_first = -1; // the row of the helper's first point
  const auto first = [&](std::FILE* part_stream, std::int64_t length) {
    NumberInput part(part_stream, path, 0, length);
    std::vector<double> row(table.columns + 1);
    GridWalk walk(grid, 0);
    PointWriter writer(store, grid, 0);
    const bool regular = read_rows<false>(part, table, store, writer, walk, grid, row);
    writer.flush();
    rows = walk.row();
    return regular;
  };
  const auto second = [&](std::FILE* part_stream, std::int64_t) {
    NumberInput rest(part_stream, path);
    std::vector<double> row(table.columns + 1);
    if (read_row(rest, row) != static_cast<std::ptrdiff_t>(table.columns))
      return false;
    helper_first = row_of_point(grid, point_of(table, row.data()));
    if (helper_first < 0)
      return false;
    GridWalk walk(grid, helper_first);
    PointWriter writer(store, grid, helper_first);
    if (!writer.write(row.data(), walk))
      return false;
    walk.next();
    const bool regular = read_rows<false>(rest, table, store, writer, walk, grid, row);
    writer.flush();
    return regular && walk.row() == grid.count();
  };
  return read_in_two_parts(path, stream, start.offset, first, second) && rows == helper_first;
}

void read_point_table(const char* path, std::FILE* stream, TableStart start,
                      const PointTable& table, FieldMesh& mesh) {
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  if (platform_file_status(stream, kind, length) != 0 || kind != PlatformFileKind::regular)
    raise_input_failure(path, 0, "%s: not a regular file", path);
  const PointGrid grid = find_grid(path, stream, start, length, table);
  if (table.stated_points) {
    const std::array<std::int64_t, 3>& stated = *table.stated_points;
    if (stated[0] != grid.axes[0].points || stated[1] != grid.axes[1].points ||
        stated[2] != grid.axes[2].points) {
      raise_input_error(
          path, 1, "The header's grid of %lld x %lld x %lld points is not the %s of the points",
          static_cast<long long>(stated[0]), static_cast<long long>(stated[1]),
          static_cast<long long>(stated[2]), extents_of(grid).c_str());
    }
  }
  for (std::size_t a = 0; a < 3; ++a) {
    const double factor = table.coordinates[a].factor;
    mesh.axes[a] = {AXIS_LABELS[a], grid.axes[a].points, grid.axes[a].step * factor,
                    grid.axes[a].origin * factor};
  }
  const std::size_t first = mesh.components.size();
  for (const ComponentColumns& columns : table.components) {
    if (add_component(mesh, columns.field, AXIS_LABELS[columns.axis]) == nullptr)
      raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  const PointStore store(table, mesh, first);
  if (read_in_two(path, stream, start, table, store, grid))
    return;
  if (platform_seek(stream, start.offset) != 0) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  NumberInput input(stream, path, start.lines);
  std::vector<double> row(table.columns + 1);
  GridWalk walk(grid, 0);
  PointWriter writer(store, grid, 0);
  read_rows<true>(input, table, store, writer, walk, grid, row);
  writer.flush();
  if (walk.row() != grid.count()) {
    raise_input_error(path, input.line_number(),
                      "Too few points: the grid of %s needs %lld, the file holds %lld",
                      extents_of(grid).c_str(), static_cast<long long>(grid.count()),
                      static_cast<long long>(walk.row()));
  }
}

} // namespace

FieldMesh read_table_mesh(const char* path, std::FILE* stream, TableStart start,
                          const PointTable& table, const MeshReadOptions& options, MeshForm form,
                          const char* what) {
  FieldMesh mesh = new_mesh(MeshGeometry::rectangular);
  mesh.source.file = path;
  mesh.source.form = form;
  bool electric = false;
  bool magnetic = false;
  for (const ComponentColumns& columns : table.components) {
    electric = electric || columns.field == FieldKind::electric;
    magnetic = magnetic || columns.field == FieldKind::magnetic;
  }
  // Before the points: a missing frequency is said at once.
  set_problem(mesh, path, options, table.rf(), electric, magnetic, what);
  read_point_table(path, stream, start, table, mesh);
  order_components(mesh);
  return mesh;
}

} // namespace norvalex
