// Times the Fourier coefficients of a 100,001-point field on the axis (the transform, the
// default count by Parseval's sums and the values, as the Impact-T Fourier writer takes them)
// against the field-mesh reading of a T7 file, in pairs run back to back.
//
//   fourier_series MAP.t7 [pairs]   each pair's ratio and their median (default 9 pairs)
#include "mesh/fourier_series.h"
#include "median.h"
#include "norvalex/mesh.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace norvalex;

template <class Work> double seconds_of(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A cavity's field, falling to nothing at both ends, or a half cell, its peak at the first z.
std::vector<double> field(bool half_cell) {
  std::vector<double> values(100001);
  for (std::size_t j = 0; j < values.size(); ++j) {
    const double z = static_cast<double>(j) / 100000 - (half_cell ? 0 : 0.5);
    values[j] = std::exp(-z * z / 0.02) * std::cos(25 * z);
  }
  return values;
}

std::size_t coefficients(const std::vector<double>& samples) {
  const FourierAnalysis analysis(samples);
  const std::size_t count = analysis.fewest_values(391, 1e-3);
  return analysis.values(count).size();
}

} // namespace

int main(int argc, char** argv) try {
  if (argc < 2) {
    std::fputs("usage: fourier_series MAP.t7 [pairs]\n", stderr);
    return 2;
  }
  const int pairs = argc > 2 ? std::atoi(argv[2]) : 9;
  const auto read = [&] {
    if (read_t7_mesh(argv[1]).point_count() == 0)
      std::abort();
  };
  for (const bool half_cell : {false, true}) {
    const std::vector<double> samples = field(half_cell);
    std::printf("%s: %zu values\n", half_cell ? "half cell" : "cavity", coefficients(samples));
    read(); // the file in the page cache, the allocator warmed
    std::vector<double> series_times, read_times, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
      series_times.push_back(seconds_of([&] { coefficients(samples); }));
      read_times.push_back(seconds_of(read));
      ratios.push_back(series_times.back() / read_times.back());
    }
    std::printf("median: series %.2f ms, T7 reading %.1f ms; median of the pair ratios %.3f\n",
                1e3 * median(series_times), 1e3 * median(read_times), median(ratios));
  }
  return 0;
} catch (const norvalex::Error& error) {
  std::fprintf(stderr, "fourier_series: %s\n", error.what());
  return 1;
}
