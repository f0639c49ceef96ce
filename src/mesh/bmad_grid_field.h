// The grammar of Bmad's grid_field text: "grid_field = {...}" or the braces alone, holding keys
// (geometry, field_type, harmonic, ...) and points pt(i, j) = ((re, im), ...), read into what the
// file states; the mesh is built from it by the reader (bmad_reader.cpp).
#pragma once

#include "mesh/bmad_text.h"

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

// Values of a point: one field's three components (r, phi, z), or both fields' (E, then B).
inline constexpr std::size_t BMAD_FIELD_VALUES = 3;
inline constexpr std::size_t BMAD_MIXED_VALUES = 6;

// Skipped keys named in what info tells of the file; any more are "others".
inline constexpr std::size_t BMAD_SKIPPED_NAMED = 16;

enum class BmadFieldType { electric, magnetic, mixed };

// r0 or dr: (r, z) in m, and the line that states it.
struct BmadPair {
  double r;
  double z;
  std::int32_t line;
};

struct BmadPoint {
  std::int32_t i; // along r
  std::int32_t j; // along z
  std::int32_t line;
};

// What a grid_field states, each key at most once; Bmad's defaults where it is silent.
struct GridFieldText {
  bool geometry = false; // rotationally_symmetric_rz was stated (the one geometry read)
  std::optional<BmadFieldType> field_type;
  std::int64_t harmonic = 0; // 0: a static field
  double field_scale = 1;
  double phase = 0; // phi0_fieldmap, in turns
  std::string anchor = "beginning";
  std::optional<BmadPair> origin;   // r0
  std::optional<BmadPair> spacing;  // dr
  std::vector<std::string> skipped; // keys of values the mesh does not hold, each once
  bool more_skipped = false;        // and others past the first BMAD_SKIPPED_NAMED
  std::vector<BmadPoint> points;
  std::vector<std::complex<double>> values; // `count` per point, in the order of `points`
  std::size_t count = 0;
  // The range of the indices along r and along z; index 0, where r0 lies, is always in it.
  std::array<std::int64_t, 2> low{0, 0};
  std::array<std::int64_t, 2> high{0, 0};
};

// Reads one grid_field from `lexer`'s first token to the end of the file. Every defect throws
// an error at its line; indices are checked as they come, so the grid they span never exceeds
// MESH_MAX_POINTS. Memory that runs out throws std::bad_alloc.
void read_grid_field(BmadLexer& lexer, GridFieldText& text);

// True when `bytes` start as a grid_field: after blanks and comments, "grid_field =" or not,
// then "{" and a key of the grid_field's ("geometry =", "pt(", ...).
bool starts_like_grid_field(std::string_view bytes);

} // namespace norvalex
