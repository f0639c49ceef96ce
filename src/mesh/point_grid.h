// The grid that a table's points form, found from their coordinates alone: which coordinate
// changes fastest from one point to the next (the loop order), and each axis's first
// coordinate, step and points; then every point checked against it, each coordinate within a
// millionth of its axis's step of origin + index * step.
#pragma once

#include "mesh/point_table.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace norvalex {

// One axis of the grid, in the file's unit of its coordinate.
struct GridAxis {
  double origin = 0;
  double step = 0; // 0 for an axis of one point
  std::int64_t points = 1;
};

struct PointGrid {
  std::array<GridAxis, 3> axes;      // x, y, z
  std::array<int, 3> order{0, 1, 2}; // the axes from the one that changes fastest in the file
  std::array<double, 3> tolerance{}; // how far a coordinate may lie from its grid point
  std::array<std::string, 3> units;  // as the file writes them, for messages

  std::int64_t count() const { return axes[0].points * axes[1].points * axes[2].points; }
};

// A point's coordinates x, y, z, in the file's units.
using GridPoint = std::array<double, 3>;

// Follows the points from the first on while the grid is not known: the first coordinate to
// change gives the fastest axis and its step, the next to change (while the first is back at
// its first value) the next axis, and so on; the last axis found is open, its points not known
// until a point closes it.
class GridFinder {
public:
  GridFinder(const char* path, const std::array<CoordinateColumn, 3>& coordinates);

  // Follows the next point, at `line`: throws where it lies on no grid that the points before
  // it allow.
  void add(const GridPoint& point, std::int32_t line);
  int axes_found() const { return found_; }
  // How many coordinates of `last` differ from the first point's: the axes of more than one
  // point, if `last` is the grid's last point.
  int axes_varying(const GridPoint& last) const;
  // The grid whose last point is `last`, of at most `most` points, when the axes found so far
  // are those that vary and `last` lies at the end of each; nullopt otherwise.
  std::optional<PointGrid> closed_by(const GridPoint& last, std::int64_t most) const;
  // The grid of the points followed, which were all of the file's: throws, at `line`, when they
  // end within it or are too many.
  PointGrid finish(std::int32_t line) const;

private:
  double tolerance_of(int axis) const;
  [[noreturn]] void raise_off(std::int32_t line, int axis, double value, double expected) const;
  PointGrid grid_with(int open, std::int64_t points, double step) const;

  const char* path_;
  std::array<double, 3> factors_{};
  std::array<std::string, 3> units_;
  GridPoint first_{};
  std::array<GridAxis, 3> axes_;
  std::array<int, 3> order_{};
  int found_ = 0;
  std::int64_t plane_ = 1; // points a step of the open axis: the closed axes' product
  std::int64_t rows_ = 0;
};

// Walks a known grid point by point, from the file's point `row` on: where the grid puts the
// current point, and its index in the mesh's C order.
class GridWalk {
public:
  GridWalk(const PointGrid& grid, std::int64_t row);

  bool on_grid(const GridPoint& point) const {
    for (std::size_t a = 0; a < 3; ++a) {
      const GridAxis& axis = grid_.axes[a];
      if (!(std::abs(point[a] - (axis.origin + static_cast<double>(index_[a]) * axis.step)) <=
            grid_.tolerance[a]))
        return false;
    }
    return true;
  }
  void next();
  std::size_t mesh_index() const { return mesh_index_; }
  // The current point's index along `axis` (0 to 2: x, y, z).
  std::int64_t index(std::size_t axis) const { return index_[axis]; }
  std::int64_t row() const { return row_; }
  // Throws, at `line`, what is wrong with `point`, which is not on the grid.
  [[noreturn]] void raise_off_grid(const char* path, std::int32_t line,
                                   const GridPoint& point) const;

private:
  const PointGrid& grid_;
  std::array<std::int64_t, 3> index_{}; // along x, y and z
  std::array<std::size_t, 3> stride_{}; // of each axis in the mesh's C order
  std::size_t mesh_index_ = 0;
  std::int64_t row_ = 0;
};

// The file's point at which the grid has `point`, or -1 where it has none.
std::int64_t row_of_point(const PointGrid& grid, const GridPoint& point);

} // namespace norvalex
