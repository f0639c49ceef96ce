#include "mesh/point_store.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace norvalex {

namespace {

// The most steps along z that a run gathers, and the buffer's size.
constexpr std::size_t RUN_STEPS = 8;
constexpr std::size_t BUFFER_BYTES = std::size_t{8} << 20;

} // namespace

PointStore::PointStore(const PointTable& table, FieldMesh& mesh, std::size_t first) {
  for (const ComponentColumns& columns : table.components) {
    targets_.push_back(
        {mesh.components[first++].values.data(), columns.real, columns.imaginary,
         columns.real_factor, columns.imaginary_factor,
         std::abs(columns.real_factor) > 1 || std::abs(columns.imaginary_factor) > 1});
  }
}

double PointStore::out_of_range(const double* row) const {
  for (const Target& target : targets_) {
    for (const auto& [column, factor] : {std::pair{target.real, target.real_factor},
                                         std::pair{target.imaginary, target.imaginary_factor}}) {
      if (column != NO_COLUMN && std::isfinite(row[column]) && std::isinf(row[column] * factor))
        return row[column];
    }
  }
  return 0;
}

PointWriter::PointWriter(const PointStore& store, const PointGrid& grid, std::int64_t first_row)
    : store_(store) {
  // The file's points in one step along z: the product of the axes that change faster.
  std::int64_t rows = 1;
  for (std::size_t k = 0; grid.order[k] != 2; ++k)
    rows *= grid.axes[static_cast<std::size_t>(grid.order[k])].points;
  const std::size_t slot_bytes = sizeof(std::size_t) + store.components() * sizeof(values_[0]);
  const std::size_t steps =
      std::min({RUN_STEPS, static_cast<std::size_t>(grid.axes[2].points),
                BUFFER_BYTES / (static_cast<std::size_t>(rows) * slot_bytes)});
  if (rows == 1 || steps < 2)
    return; // straight into the mesh
  const std::size_t slots = static_cast<std::size_t>(rows) * steps;
  indices_.reset(new (std::nothrow) std::size_t[slots]);
  values_.reset(new (std::nothrow) std::complex<double>[slots * store.components()]);
  if (!indices_ || !values_)
    return; // without a buffer: one point at a time
  std::fill_n(indices_.get(), slots, SIZE_MAX);
  steps_ = steps;
  step_rows_ = static_cast<std::size_t>(rows);
  row_in_step_ = static_cast<std::size_t>(first_row % rows);
}

void PointWriter::flush() {
  const std::size_t slots = step_rows_ * steps_;
  for (std::size_t slot = 0; slot < slots; ++slot) {
    if (indices_[slot] != SIZE_MAX) {
      store_.put(indices_[slot], &values_[slot * store_.components()]);
      indices_[slot] = SIZE_MAX;
    }
  }
}

} // namespace norvalex
