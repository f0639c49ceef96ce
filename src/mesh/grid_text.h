// The grid files of the solver and of the trackers that take its layout (T7 files, OPAL's maps):
// range lines of `min max intervals` in cm, an RF map's frequency line in MHz and its points
// `Ez Er |E| H-phi`, read and written by the same rules, so that what one writes the other reads
// back as the same grid.
#pragma once

#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"
#include "norvalex/mesh.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace norvalex {

// One range line: min and max in cm, and the intervals between the points.
struct GridRange {
  double min_cm;
  double max_cm;
  std::int64_t intervals;

  std::int64_t points() const { return intervals + 1; }
};

// The range of the numbers of line `line` of `file`, checked: a whole number of intervals from 1
// on, fewer than a mesh's points, from a finite minimum to a larger maximum no farther apart
// than the largest double. Throws a located error otherwise.
GridRange grid_range(const char* file, std::int32_t line, double min_cm, double max_cm,
                     double intervals);

// Sets `axis` to the range's points: origin min / 100, spacing spacing_of.
void set_grid_axis(MeshAxis& axis, const GridRange& range);

// Throws "Grid too large: <a>*<b> points" at `line` of `file` for more points than a mesh holds.
void check_grid_size(const char* file, std::int32_t line, const GridRange& a, const GridRange& b);

// The frequency of line `line` of `file` in Hz from MHz; a located error when it is not a
// positive number, in Hz too.
double grid_frequency(const char* file, std::int32_t line, double frequency_mhz);

// Which number a grid file holds for a value in another unit, of those that its reader turns back
// into the mesh's double: the nearest the quotient (T7 files, as they always were), or the one of
// the shortest text (OPAL's maps), which keeps the digits of a file read in that unit.
enum class NumberChoice { nearest, shortest };

// The number of `choice` near `x0` that `read` turns back into `target`, with its text.
template <class Read>
ShortestNumber chosen_number(NumberChoice choice, double x0, double target, Read read) {
  return choice == NumberChoice::nearest ? shortest_number(reading_back(x0, target, read))
                                         : shortest_reading_back(x0, target, read);
}

// A range line of `axis`, written so that set_grid_axis gives its origin and spacing back.
void write_range(TextOutput& out, const MeshAxis& axis, NumberChoice choice);
// An RF map's frequency line in MHz: the map's own, the harmonic times the fundamental.
void write_frequency_line(TextOutput& out, const FieldMesh& mesh, NumberChoice choice);

// The value of `component` at `index`, or 0 for a component the map does not have.
inline double value_or_zero(const RealFields& fields, const MeshComponent* component,
                            std::size_t index) {
  return component == nullptr ? 0.0 : fields.value(*component, index);
}

// How a grid form names itself in its refusals: "a T7 file", "an RF T7 file", "a static T7 file".
struct GridNames {
  const char* any;
  const char* rf;
  const char* static_map;
};

// What a grid file of a mesh holds: the components of its values in the order of a point's
// values, and its two ranges in the order of the header.
struct GridLayout {
  bool rf;
  const MeshAxis* fast; // the file's first range: z of an RF map, r or x of a static one
  const MeshAxis* slow; // its other range
  std::array<const MeshComponent*, 3> values; // RF: Ez, Er, B-theta; static: along fast, slow
  double factor; // a static map's SI unit per T7 unit: T per G, or V/m per V/cm
};

// The layout of `mesh`, checked: an RF map cylindrical, with a frequency and two points or more
// along r and z, and no component but Ez, Er and B-theta other than 0; a static one of one field
// along the two axes of its plane, two points or more along each. Throws "<file>: <why>" naming
// the form by `names`.
GridLayout grid_layout(const FieldMesh& mesh, const GridNames& names);

// An RF map's points, one a line: Ez, Er, |E| (the magnitude of the two) in MV/m and H-phi in
// A/m, z fastest, each number one whose reading in the file's unit gives the mesh's value (|E|,
// which is not read, the plain quotient for `nearest`); the output is then written out whole.
void write_rf_points(TextOutput& out, const FieldMesh& mesh, const RealFields& fields,
                     const GridLayout& layout, NumberChoice choice);

} // namespace norvalex
