#include "mesh/point_grid.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"

#include <cmath>
#include <limits>

namespace norvalex {

namespace {

constexpr char AXIS_NAMES[] = "xyz";

[[noreturn]] void raise_off(const char* path, std::int32_t line, const std::string& unit, int axis,
                            double value, double expected) {
  raise_input_error(path, line, "%c = %s %s is off the grid: %s %s expected", AXIS_NAMES[axis],
                    number_text(value).c_str(), escape_control_bytes(unit).c_str(),
                    number_text(expected).c_str(), escape_control_bytes(unit).c_str());
}

} // namespace

GridFinder::GridFinder(const char* path, const std::array<CoordinateColumn, 3>& coordinates)
    : path_(path) {
  for (std::size_t a = 0; a < 3; ++a) {
    factors_[a] = coordinates[a].factor;
    units_[a] = coordinates[a].unit;
  }
}

double GridFinder::tolerance_of(int axis) const {
  // An axis found: a millionth of its step; any other, which must keep its first coordinate: a
  // millionth of the smallest step found, in its own unit.
  double smallest = std::numeric_limits<double>::infinity();
  for (int k = 0; k < found_; ++k) {
    const int a = order_[static_cast<std::size_t>(k)];
    const double step = axes_[static_cast<std::size_t>(a)].step;
    if (a == axis)
      return GRID_TOLERANCE * step;
    smallest = std::min(smallest, step * factors_[static_cast<std::size_t>(a)]);
  }
  return found_ == 0 ? 0 : GRID_TOLERANCE * smallest / factors_[static_cast<std::size_t>(axis)];
}

void GridFinder::raise_off(std::int32_t line, int axis, double value, double expected) const {
  norvalex::raise_off(path_, line, units_[static_cast<std::size_t>(axis)], axis, value, expected);
}

void GridFinder::add(const GridPoint& point, std::int32_t line) {
  for (std::size_t a = 0; a < 3; ++a) {
    if (!std::isfinite(point[a]))
      raise_input_error(path_, line, "%c = %s is no coordinate", AXIS_NAMES[a],
                        number_text(point[a]).c_str());
  }
  const std::int64_t n = rows_++;
  if (n == 0) {
    first_ = point;
    for (std::size_t a = 0; a < 3; ++a)
      axes_[a].origin = point[a];
    return;
  }
  const auto found = [&](std::size_t a) {
    for (int k = 0; k < found_; ++k) {
      if (order_[static_cast<std::size_t>(k)] == static_cast<int>(a))
        return true;
    }
    return false;
  };
  // A coordinate not followed yet that moves here: the largest such move.
  int fresh = -1;
  double fresh_move = 0;
  for (std::size_t a = 0; a < 3; ++a) {
    const double move = std::abs(point[a] - first_[a]);
    if (!found(a) && move > tolerance_of(static_cast<int>(a)) && move * factors_[a] > fresh_move) {
      fresh = static_cast<int>(a);
      fresh_move = move * factors_[a];
    }
  }
  // How far `value` lies from the first point along `axis`: a number, or no grid is there.
  const auto span_of = [&](int axis, double value) {
    const double span = value - first_[static_cast<std::size_t>(axis)];
    if (!std::isfinite(span)) {
      raise_input_error(
          path_, line, "Coordinates too far apart: %c from %s to %s", AXIS_NAMES[axis],
          number_text(first_[static_cast<std::size_t>(axis)]).c_str(), number_text(value).c_str());
    }
    return span;
  };
  const auto open_axis = [&](int axis, double step) {
    if (!(step > 0)) {
      raise_input_error(path_, line, "%c decreases: a grid's coordinates increase point by point",
                        AXIS_NAMES[axis]);
    }
    order_[static_cast<std::size_t>(found_++)] = axis;
    axes_[static_cast<std::size_t>(axis)].step = step;
  };
  if (found_ == 0) {
    if (fresh < 0) {
      raise_input_error(path_, line,
                        "The point repeats the first: the next point of a grid moves along one "
                        "coordinate");
    }
    // Every other coordinate keeps its value within a millionth of this first step.
    for (std::size_t b = 0; b < 3; ++b) {
      if (static_cast<int>(b) != fresh &&
          std::abs(point[b] - first_[b]) * factors_[b] > GRID_TOLERANCE * fresh_move)
        raise_off(line, static_cast<int>(b), point[b], first_[b]);
    }
    open_axis(fresh, span_of(fresh, point[static_cast<std::size_t>(fresh)]));
    return;
  }
  // The closed axes, fastest first, then the open one, whose index is what is left.
  std::int64_t rest = n;
  for (int k = 0; k + 1 < found_; ++k) {
    const int a = order_[static_cast<std::size_t>(k)];
    const GridAxis& axis = axes_[static_cast<std::size_t>(a)];
    const double expected = axis.origin + static_cast<double>(rest % axis.points) * axis.step;
    rest /= axis.points;
    if (!(std::abs(point[static_cast<std::size_t>(a)] - expected) <= tolerance_of(a)))
      raise_off(line, a, point[static_cast<std::size_t>(a)], expected);
  }
  const int open = order_[static_cast<std::size_t>(found_ - 1)];
  GridAxis& along = axes_[static_cast<std::size_t>(open)];
  const double value = point[static_cast<std::size_t>(open)];
  const bool step_starts = n % plane_ == 0;
  if (step_starts && fresh >= 0 && std::abs(value - along.origin) <= tolerance_of(open)) {
    // The open axis is back at its start and another coordinate moves: the open axis has its
    // points, and the other one is the next axis.
    for (std::size_t b = 0; b < 3; ++b) {
      if (!found(b) && static_cast<int>(b) != fresh &&
          !(std::abs(point[b] - first_[b]) <= tolerance_of(static_cast<int>(b))))
        raise_off(line, static_cast<int>(b), point[b], first_[b]);
    }
    along.points = rest;
    plane_ = n;
    open_axis(fresh, span_of(fresh, point[static_cast<std::size_t>(fresh)]));
    return;
  }
  const double expected = along.origin + static_cast<double>(rest) * along.step;
  if (!(std::abs(value - expected) <= tolerance_of(open)))
    raise_off(line, open, value, expected);
  if (fresh >= 0)
    raise_off(line, fresh, point[static_cast<std::size_t>(fresh)],
              first_[static_cast<std::size_t>(fresh)]);
  // The step from the first point to this one: rounding in the file's numbers does not add up.
  if (step_starts)
    along.step = span_of(open, value) / static_cast<double>(rest);
}

int GridFinder::axes_varying(const GridPoint& last) const {
  double largest = 0;
  for (std::size_t a = 0; a < 3; ++a)
    largest = std::max(largest, std::abs(last[a] - first_[a]) * factors_[a]);
  int varying = 0;
  for (std::size_t a = 0; a < 3; ++a) {
    const double move = std::abs(last[a] - first_[a]) * factors_[a];
    varying += move > 0 && move >= GRID_TOLERANCE * largest ? 1 : 0;
  }
  return varying;
}

PointGrid GridFinder::grid_with(int open, std::int64_t points, double step) const {
  PointGrid grid;
  grid.axes = axes_;
  grid.units = units_;
  if (open >= 0)
    grid.axes[static_cast<std::size_t>(open)] = {axes_[static_cast<std::size_t>(open)].origin, step,
                                                 points};
  // The axes found, then those of one point.
  std::size_t k = 0;
  for (int f = 0; f < found_; ++f)
    grid.order[k++] = order_[static_cast<std::size_t>(f)];
  for (int a = 0; a < 3; ++a) {
    bool listed = false;
    for (int f = 0; f < found_; ++f)
      listed = listed || order_[static_cast<std::size_t>(f)] == a;
    if (!listed) {
      grid.order[k++] = a;
      grid.axes[static_cast<std::size_t>(a)] = {first_[static_cast<std::size_t>(a)], 0, 1};
    }
  }
  double smallest = std::numeric_limits<double>::infinity();
  for (std::size_t a = 0; a < 3; ++a) {
    if (grid.axes[a].points > 1)
      smallest = std::min(smallest, grid.axes[a].step * factors_[a]);
  }
  for (std::size_t a = 0; a < 3; ++a) {
    grid.tolerance[a] = grid.axes[a].points > 1   ? GRID_TOLERANCE * grid.axes[a].step
                        : std::isfinite(smallest) ? GRID_TOLERANCE * smallest / factors_[a]
                                                  : 0;
  }
  return grid;
}

std::optional<PointGrid> GridFinder::closed_by(const GridPoint& last, std::int64_t most) const {
  if (rows_ == 0 || axes_varying(last) != found_)
    return std::nullopt;
  if (found_ == 0)
    return grid_with(-1, 1, 0);
  for (int k = 0; k + 1 < found_; ++k) {
    const int a = order_[static_cast<std::size_t>(k)];
    const GridAxis& axis = axes_[static_cast<std::size_t>(a)];
    const double end = axis.origin + static_cast<double>(axis.points - 1) * axis.step;
    if (!(std::abs(last[static_cast<std::size_t>(a)] - end) <= tolerance_of(a)))
      return std::nullopt;
  }
  const int open = order_[static_cast<std::size_t>(found_ - 1)];
  const GridAxis& along = axes_[static_cast<std::size_t>(open)];
  const double steps = (last[static_cast<std::size_t>(open)] - along.origin) / along.step;
  if (!(steps >= 1 && steps < static_cast<double>(most)))
    return std::nullopt;
  // The step from the first point to the last, where one step may be rounded in the file.
  const double whole = std::round(steps);
  const auto points = static_cast<std::int64_t>(whole) + 1;
  if (std::abs(steps - whole) > 0.01 || plane_ > most / points)
    return std::nullopt;
  return grid_with(open, points, (last[static_cast<std::size_t>(open)] - along.origin) / whole);
}

PointGrid GridFinder::finish(std::int32_t line) const {
  if (rows_ == 0)
    raise_input_error(path_, line, "No points after the header");
  if (rows_ > MESH_MAX_POINTS)
    raise_input_error(path_, line, "Grid too large: %lld points", static_cast<long long>(rows_));
  if (found_ == 0)
    return grid_with(-1, 1, 0);
  const int open = order_[static_cast<std::size_t>(found_ - 1)];
  const GridAxis& along = axes_[static_cast<std::size_t>(open)];
  const std::int64_t steps = rows_ / plane_;
  if (rows_ % plane_ != 0) {
    raise_input_error(
        path_, line, "The points end within the grid: %lld of the %lld points at %c = %s %s",
        static_cast<long long>(rows_ % plane_), static_cast<long long>(plane_), AXIS_NAMES[open],
        number_text(along.origin + static_cast<double>(steps) * along.step).c_str(),
        escape_control_bytes(units_[static_cast<std::size_t>(open)]).c_str());
  }
  return grid_with(open, steps, along.step);
}

GridWalk::GridWalk(const PointGrid& grid, std::int64_t row) : grid_(grid), row_(row) {
  stride_ = {static_cast<std::size_t>(grid.axes[1].points * grid.axes[2].points),
             static_cast<std::size_t>(grid.axes[2].points), 1};
  for (const int a : grid.order) {
    const auto axis = static_cast<std::size_t>(a);
    index_[axis] = row % grid.axes[axis].points;
    row /= grid.axes[axis].points;
    mesh_index_ += static_cast<std::size_t>(index_[axis]) * stride_[axis];
  }
}

void GridWalk::next() {
  ++row_;
  for (const int a : grid_.order) {
    const auto axis = static_cast<std::size_t>(a);
    if (++index_[axis] < grid_.axes[axis].points) {
      mesh_index_ += stride_[axis];
      return;
    }
    index_[axis] = 0;
    mesh_index_ -= static_cast<std::size_t>(grid_.axes[axis].points - 1) * stride_[axis];
  }
}

void GridWalk::raise_off_grid(const char* path, std::int32_t line, const GridPoint& point) const {
  for (std::size_t a = 0; a < 3; ++a) {
    const GridAxis& axis = grid_.axes[a];
    const double expected = axis.origin + static_cast<double>(index_[a]) * axis.step;
    if (!(std::abs(point[a] - expected) <= grid_.tolerance[a]))
      raise_off(path, line, grid_.units[a], static_cast<int>(a), point[a], expected);
  }
  raise_input_error(path, line, "Point off the grid");
}

std::int64_t row_of_point(const PointGrid& grid, const GridPoint& point) {
  std::array<std::int64_t, 3> index{};
  for (std::size_t a = 0; a < 3; ++a) {
    const GridAxis& axis = grid.axes[a];
    const double steps = axis.points > 1 ? (point[a] - axis.origin) / axis.step : 0;
    if (!(steps > -0.5 && steps < static_cast<double>(axis.points) - 0.5))
      return -1;
    index[a] = std::llround(steps);
    if (!(std::abs(point[a] - (axis.origin + static_cast<double>(index[a]) * axis.step)) <=
          grid.tolerance[a]))
      return -1;
  }
  std::int64_t row = 0;
  for (std::size_t k = 3; k-- > 0;) {
    const auto a = static_cast<std::size_t>(grid.order[k]);
    row = row * grid.axes[a].points + index[a];
  }
  return row;
}

} // namespace norvalex
