// The exact reading of SF7 lines, the reference that the block reading's fast scan reproduces
// bit for bit: each line read a byte at a time into the line buffer (read_line_piece,
// text/text_input.h) and its numbers scanned as "%lf" reads them (sf7_point_scan.h); and the
// switches with which tests and benchmarks compare the two. Private to the reader, its tests
// and the programs' reference builds.
#pragma once

#include "norvalex/sf7.h"
#include "sf7/sf7_point_scan.h"
#include "text/text_input.h"

#include <cstddef>
#include <cstdio>

namespace norvalex {

// How a reading reads besides its options: the reference path, and small blocks.
struct Sf7ReadTuning {
  // Every line read with read_line_piece and every point line with scan_point_exact: the
  // reference that the tests and the benchmark compare the fast reading with.
  bool exact_path_only = false;
  // Tests make it small so that block boundaries fall everywhere in small inputs.
  std::size_t block_size = TEXT_BLOCK_SIZE;
};

// read_field_map and read_field_map_file with the tuning given.
NORVALEX_SF7_API void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map,
                                     const Sf7ReadTuning& tuning);
NORVALEX_SF7_API void read_field_map_file(const char* path, FieldMap& map,
                                          const Sf7ReadOptions& options,
                                          const Sf7ReadTuning& tuning);

} // namespace norvalex
