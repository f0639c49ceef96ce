// Where the values of a field map's point lines go: one product per value, into the columns'
// arrays at the point's index.
#pragma once

#include "sf7/sf7_exact.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <span>

namespace norvalex {

// A dropped column (factor 0) has no array, so its products all land in one scratch double
// (mask 0 keeps its index at 0). Every value is then stored as one product, without a test of
// the factor. Each thread that stores points has targets of its own, scratch double included.
struct Sf7PointTargets {
  std::array<double*, SF7_COLUMN_COUNT> data{};
  std::array<std::size_t, SF7_COLUMN_COUNT> index_mask{};
  std::array<double, SF7_COLUMN_COUNT> factor{};
  double scratch = 0;

  explicit Sf7PointTargets(FieldMap& map) {
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      FieldColumn& column = map.columns[k];
      const bool kept = column.factor != 0;
      data[k] = kept ? column.data.get() : &scratch;
      index_mask[k] = kept ? ~std::size_t{0} : 0;
      factor[k] = column.factor;
    }
  }
  Sf7PointTargets(const Sf7PointTargets&) = delete;
  Sf7PointTargets& operator=(const Sf7PointTargets&) = delete;

  // Stores the products of the point at `index`. False when a finite number has a product that
  // is not finite (1e303 in (MV/m)): the file would hold an infinity that the input never had.
  // Infinities and NaNs read as such stay as they are.
  bool store(std::size_t index, std::span<const double, SF7_COLUMN_COUNT> values) {
    bool overflow = false;
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      const double product = factor[k] * values[k];
      data[k][index & index_mask[k]] = product;
      overflow |= std::isinf(product) && std::isfinite(values[k]);
    }
    return !overflow;
  }
};

} // namespace norvalex
