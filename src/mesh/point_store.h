// Where the values of a table's points go: each component's parts times their factors, into the
// mesh's arrays, straight or through a buffer that turns the file's order into runs along z.
#pragma once

#include "mesh/point_grid.h"
#include "mesh/point_table.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace norvalex {

// Most components a table holds: E and B along x, y and z.
inline constexpr std::size_t MAX_POINT_COMPONENTS = 6;

class PointStore {
public:
  // The table's components are the mesh's from `first` on, in the table's order.
  PointStore(const PointTable& table, FieldMesh& mesh, std::size_t first);

  std::size_t components() const { return targets_.size(); }

  // The values of a row's components; false when a finite value is infinite in SI units.
  bool values_of(const double* row, std::complex<double>* values) const {
    bool in_range = true;
    for (const Target& target : targets_) {
      const double re = row[target.real] * target.real_factor;
      const double im =
          target.imaginary == NO_COLUMN ? 0.0 : row[target.imaginary] * target.imaginary_factor;
      if (target.checked) {
        in_range = in_range && !(std::isinf(re) && std::isfinite(row[target.real])) &&
                   !(std::isinf(im) && std::isfinite(row[target.imaginary]));
      }
      *values++ = {re, im};
    }
    return in_range;
  }

  void put(std::size_t index, const std::complex<double>* values) const {
    for (const Target& target : targets_)
      target.values[index] = *values++;
  }

  // The first value of `row` that its factor makes infinite.
  double out_of_range(const double* row) const;

private:
  struct Target {
    std::complex<double>* values;
    std::size_t real, imaginary;
    double real_factor, imaginary_factor;
    bool checked; // a factor that can make a finite value infinite
  };
  std::vector<Target> targets_;
};

// Writes one thread's points, from the file's point `first_row` on. Where z, along which the
// mesh's arrays run, is not the file's fastest axis, the points of one step along z lie far
// apart in the arrays: the points of a few steps are gathered in a buffer (of at most 8 MiB) and
// go out as runs along z, rather than each point to another page of the arrays.
class PointWriter {
public:
  PointWriter(const PointStore& store, const PointGrid& grid, std::int64_t first_row);

  // Writes `row` at the walk's point, or keeps it for the next flush; false when a value is out
  // of range.
  bool write(const double* row, const GridWalk& walk) {
    if (steps_ == 0) {
      std::complex<double> values[MAX_POINT_COMPONENTS];
      const bool in_range = store_.values_of(row, values);
      store_.put(walk.mesh_index(), values);
      return in_range;
    }
    const auto step = static_cast<std::size_t>(walk.index(2)) % steps_;
    if (row_in_step_ == 0 && step == 0)
      flush(); // the first step of the next run
    const std::size_t slot = row_in_step_ * steps_ + step;
    indices_[slot] = walk.mesh_index();
    if (++row_in_step_ == step_rows_)
      row_in_step_ = 0;
    return store_.values_of(row, &values_[slot * store_.components()]);
  }

  // Writes the points that the buffer holds.
  void flush();

private:
  const PointStore& store_;
  std::size_t steps_ = 0;     // steps along z that the buffer holds; 0 for none
  std::size_t step_rows_ = 1; // the file's points in one step along z
  std::size_t row_in_step_ = 0;
  std::unique_ptr<std::size_t[]> indices_; // of each slot in the mesh, or SIZE_MAX
  std::unique_ptr<std::complex<double>[]> values_;
};

} // namespace norvalex
