// The median of the benchmarks' samples: of their times, or of the ratios of pairs run back to
// back.
#pragma once

#include <algorithm>
#include <vector>

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
