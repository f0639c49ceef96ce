// The grammar of Bmad's grid_field text: "grid_field = {...}" or the braces alone, holding keys
// (geometry, field_type, harmonic, ...) and points pt(i, j) or pt(i, j, k) = ((re, im), ...),
// read into what the file states; the mesh is built from it by the reader (bmad_reader.cpp).
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

// Values of a point: one field's three components (r, phi, z or x, y, z), or both fields' (E,
// then B).
inline constexpr std::size_t BMAD_FIELD_VALUES = 3;
inline constexpr std::size_t BMAD_MIXED_VALUES = 6;
// Indices of a point and numbers of r0 and dr: two (r, z) or three (x, y, z).
inline constexpr std::size_t BMAD_MAX_AXES = 3;

// Skipped keys named in what info tells of the file; any more are "others".
inline constexpr std::size_t BMAD_SKIPPED_NAMED = 16;

enum class BmadGeometry { unstated, rz, xyz };
enum class BmadFieldType { electric, magnetic, mixed };

// r0 or dr in m, and the line that states it.
struct BmadVector {
  std::array<double, BMAD_MAX_AXES> values{};
  std::size_t count = 0;
  std::int32_t line = 0;
};

struct BmadPoint {
  std::array<std::int32_t, BMAD_MAX_AXES> index; // along r and z, or x, y and z
  std::int32_t line;
};

// What a grid_field states, each key at most once; Bmad's defaults where it is silent.
struct GridFieldText {
  BmadGeometry geometry = BmadGeometry::unstated;
  std::optional<BmadFieldType> field_type;
  std::int64_t harmonic = 0; // 0: a static field
  double field_scale = 1;
  double phase = 0; // phi0_fieldmap, in turns
  std::string anchor = "beginning";
  std::optional<BmadVector> origin;  // r0
  std::optional<BmadVector> spacing; // dr
  std::vector<std::string> skipped;  // keys of values the mesh does not hold, each once
  bool more_skipped = false;         // and others past the first BMAD_SKIPPED_NAMED
  std::vector<BmadPoint> points;
  std::vector<std::complex<double>> values; // `count` per point, in the order of `points`
  std::size_t count = 0;
  std::size_t axes = 0; // indices of every point
  // The range of the indices along each axis; index 0, where r0 lies, is always in it.
  std::array<std::int64_t, BMAD_MAX_AXES> low{};
  std::array<std::int64_t, BMAD_MAX_AXES> high{};
};

// "pt(1,2)" or "pt(1,2,3)", for messages.
std::string bmad_point_name(const BmadPoint& point, std::size_t axes);

// Reads one grid_field from `lexer`'s first token to the end of the file. Every defect throws
// an error at its line; indices are checked as they come, so the grid they span never exceeds
// MESH_MAX_POINTS. Memory that runs out throws std::bad_alloc.
void read_grid_field(BmadLexer& lexer, GridFieldText& text);

// True when `bytes` start as a grid_field: after blanks and comments, "grid_field =" or not,
// then "{" and a key of the grid_field's ("geometry =", "pt(", ...).
bool starts_like_grid_field(std::string_view bytes);

} // namespace norvalex
