// Times the reading of a 3-D export (CST, HFSS, Opera) as a field mesh against the reading of a
// T7 file, per byte of each file, in pairs run back to back: the export's speed against the 2-D
// readers'. Wall time, and the processor time of both threads (steadier on a shared machine).
//
//   read_exports pairs MAP.t7 EXPORT [pairs]   each pair's times and ratios of the times per
//                                            byte (export over T7), and their medians
#include "median.h"
#include "norvalex/mesh.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

using namespace norvalex;

// The process's processor time so far, in seconds.
double processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Times {
  double wall;
  double processor;
};

// The times of reading `path` as a mesh.
Times times_of(const char* path) {
  MeshReadOptions options;
  options.frequency = 1.3e9; // an RF export states none
  const double processor = processor_seconds();
  const auto start = std::chrono::steady_clock::now();
  const FieldMesh mesh = read_mesh(path, options);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (mesh.point_count() == 0)
    std::abort();
  return {wall, processor_seconds() - processor};
}

} // namespace

int main(int argc, char** argv) try {
  if (argc < 4 || std::strcmp(argv[1], "pairs") != 0) {
    std::fputs("usage: read_exports pairs MAP.t7 EXPORT [pairs]\n", stderr);
    return 2;
  }
  const int pairs = argc > 4 ? std::atoi(argv[4]) : 9;
  const auto t7_bytes = static_cast<double>(std::filesystem::file_size(argv[2]));
  const auto export_bytes = static_cast<double>(std::filesystem::file_size(argv[3]));
  // One of each first, not counted: the files in the page cache.
  times_of(argv[2]);
  times_of(argv[3]);
  std::vector<double> t7_times;
  std::vector<double> export_times;
  std::vector<double> ratios;
  std::vector<double> processor_ratios;
  for (int pair = 0; pair < pairs; ++pair) {
    const Times t7 = times_of(argv[2]);
    const Times other = times_of(argv[3]);
    t7_times.push_back(t7.wall);
    export_times.push_back(other.wall);
    ratios.push_back((other.wall / export_bytes) / (t7.wall / t7_bytes));
    processor_ratios.push_back((other.processor / export_bytes) / (t7.processor / t7_bytes));
    std::printf("pair %d: T7 %7.1f ms (%.0f MB/s), export %7.1f ms (%.0f MB/s), per byte %.2f "
                "(processor time %.2f)\n",
                pair + 1, 1e3 * t7.wall, t7_bytes / t7.wall / 1e6, 1e3 * other.wall,
                export_bytes / other.wall / 1e6, ratios.back(), processor_ratios.back());
  }
  std::printf("median: T7 %.1f ms, export %.1f ms; medians of the pair ratios per byte %.2f "
              "(processor time %.2f)\n",
              1e3 * median(t7_times), 1e3 * median(export_times), median(ratios),
              median(processor_ratios));
  return 0;
} catch (const norvalex::Error& error) {
  std::fprintf(stderr, "read_exports: %s\n", error.what());
  return 1;
}
