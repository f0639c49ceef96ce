// Where the values of a table's point lines go: one product per value, into the columns' arrays
// at the point's index.
#pragma once

#include "sf7/sf7_point_scan.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <span>

namespace norvalex {

// A dropped column (factor 0) has no array, so its products all land in one scratch double
// (mask 0 keeps its index at 0). Every value is then stored as one product, without a test of
// the factor. Each thread that stores points has targets of its own, scratch double included.
struct Sf7PointTargets {
  std::array<double*, SF7_MAX_LINE_NUMBERS> data{};
  std::array<std::size_t, SF7_MAX_LINE_NUMBERS> index_mask{};
  std::array<double, SF7_MAX_LINE_NUMBERS> factor{};
  std::size_t count = 0; // columns, at most SF7_MAX_LINE_NUMBERS
  double scratch = 0;

  explicit Sf7PointTargets(std::span<FieldColumn> columns) : count(columns.size()) {
    for (std::size_t k = 0; k < count; ++k) {
      FieldColumn& column = columns[k];
      const bool kept = column.factor != 0;
      data[k] = kept ? column.data.get() : &scratch;
      index_mask[k] = kept ? ~std::size_t{0} : 0;
      factor[k] = column.factor;
    }
  }
  Sf7PointTargets(const Sf7PointTargets&) = delete;
  Sf7PointTargets& operator=(const Sf7PointTargets&) = delete;

  // Stores the products of the point at `index`: `values` holds one number per column (`Fixed`
  // columns, known at compile time, when it is not 0). False when a finite number has a product
  // that is not finite (1e303 in (MV/m)): the file would hold an infinity that the input never
  // had. Infinities and NaNs read as such stay as they are.
  template <std::size_t Fixed = 0> bool store(std::size_t index, std::span<const double> values) {
    const std::size_t columns = Fixed != 0 ? Fixed : count;
    bool overflow = false;
    for (std::size_t k = 0; k < columns; ++k) {
      const double product = factor[k] * values[k];
      data[k][index & index_mask[k]] = product;
      overflow |= std::isinf(product) && std::isfinite(values[k]);
    }
    return !overflow;
  }
};

} // namespace norvalex
