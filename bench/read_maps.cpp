// Times the reading of a T7 grid file as a field mesh against the converter's reading of an SF7
// table of the same point count, in pairs run back to back; or reads one file once, for a
// measure of its peak memory.
//
//   read_maps pairs MAP.t7 MAP.sf7 [pairs]   the two readings, alternating (default 9 pairs):
//                                            each pair's ratio, and their median
//   read_maps t7 MAP.t7 | sf7 MAP.sf7         one reading, nothing else
#include "median.h"
#include "norvalex/mesh.h"
#include "norvalex/sf7.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace norvalex;

double seconds_of(void (*read)(const char*), const char* path) {
  const auto start = std::chrono::steady_clock::now();
  read(path);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void read_t7(const char* path) {
  const FieldMesh mesh = read_t7_mesh(path);
  if (mesh.point_count() == 0)
    std::abort();
}

void read_sf7(const char* path) {
  FieldMap map;
  read_field_map_file(path, map);
}

} // namespace

int main(int argc, char** argv) try {
  if (argc >= 3 && std::strcmp(argv[1], "t7") == 0) {
    read_t7(argv[2]);
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "sf7") == 0) {
    read_sf7(argv[2]);
    return 0;
  }
  if (argc < 4 || std::strcmp(argv[1], "pairs") != 0) {
    std::fputs("usage: read_maps pairs MAP.t7 MAP.sf7 [pairs] | t7 MAP.t7 | sf7 MAP.sf7\n", stderr);
    return 2;
  }
  const int pairs = argc > 4 ? std::atoi(argv[4]) : 9;
  // One of each first, not counted: the files in the page cache, the allocator warmed.
  read_t7(argv[2]);
  read_sf7(argv[3]);
  std::vector<double> t7_times;
  std::vector<double> sf7_times;
  std::vector<double> ratios;
  for (int pair = 0; pair < pairs; ++pair) {
    t7_times.push_back(seconds_of(read_t7, argv[2]));
    sf7_times.push_back(seconds_of(read_sf7, argv[3]));
    ratios.push_back(t7_times.back() / sf7_times.back());
    std::printf("pair %d: T7 mesh %6.1f ms, SF7 map %6.1f ms, ratio %.2f\n", pair + 1,
                1e3 * t7_times.back(), 1e3 * sf7_times.back(), ratios.back());
  }
  std::printf("median: T7 mesh %.1f ms, SF7 map %.1f ms; median of the pair ratios %.2f\n",
              1e3 * median(t7_times), 1e3 * median(sf7_times), median(ratios));
  return 0;
} catch (const norvalex::Error& error) {
  std::fprintf(stderr, "read_maps: %s\n", error.what());
  return 1;
}
