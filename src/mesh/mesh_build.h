// What the readers of every form share: the axes of each geometry, the allocation of a mesh's
// arrays, and the check that a grid fits in memory.
#pragma once

#include "norvalex/mesh.h"
#include "norvalex/sf7.h"
#include "platform/platform.h"

#include <array>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvalex {

// Most grid points a mesh holds: as many as an SF7 table may have.
inline constexpr std::int64_t MESH_MAX_POINTS = SF7_MAX_POINTS;

// Opens a mesh's file for reading, without waiting on a FIFO; one that cannot be opened throws
// "<path>: <the system's text>".
OwnedFile open_mesh_input(const char* path);

// Where point n of a file that holds a 2-D grid's points one after the other goes in the mesh's
// C order: `fast` points along the coordinate that varies fastest in the file, `slow` along the
// other; transposed when the file's fast coordinate is the mesh's slower axis.
struct PointOrder {
  std::size_t fast;
  std::size_t slow;
  bool transposed;

  std::size_t index(std::size_t n) const { return transposed ? (n % fast) * slow + n / fast : n; }
};

// Where point n of a file that lists a 3-D grid's points x fastest, then y, then z (as the
// solver's tables and the trackers' 3-D files do) goes in the mesh's C order, z fastest.
struct XFastOrder {
  std::size_t nx;
  std::size_t ny;
  std::size_t nz;

  std::size_t index(std::size_t n) const {
    return ((n % nx) * ny + (n / nx) % ny) * nz + n / (nx * ny);
  }
};

// The axis labels of `geometry` in openPMD order: r, theta, z or x, y, z.
const std::array<const char*, 3>& axis_labels(MeshGeometry geometry);

// `text` with its ASCII letters in lower case: names that a form takes in any case.
std::string lower_case(std::string_view text);

// A mesh of `geometry` with its axes labelled, each of one point at 0.
FieldMesh new_mesh(MeshGeometry geometry);

// Index of the axis `label` in `mesh`'s axes, or -1.
int axis_index(const FieldMesh& mesh, std::string_view label);

// Adds the component of `field` along `axis` with room for every point, values not set; null
// when the memory cannot be had.
MeshComponent* add_component(FieldMesh& mesh, FieldKind field, std::string_view axis);
// The frequency of an RF map whose file states none: the options', which it needs unless a look
// at the file is all that is asked (0 then); `what` names the file's form in the error.
double frequency_of_options(const char* path, const MeshReadOptions& options, const char* what);
// The kind of problem and the frequency of a mesh read from a file that states none: an RF map
// (`rf`) takes the options' frequency, which it needs unless a look at the file is all that is
// asked; `what` names the file's form in the error. A static one has electric or magnetic
// fields, or both (unknown).
void set_problem(FieldMesh& mesh, const char* path, const MeshReadOptions& options, bool rf,
                 bool electric, bool magnetic, const char* what);

// Puts the components in one order whatever the file's: the electric field before the magnetic,
// each along the mesh's axes in their order.
void order_components(FieldMesh& mesh);

// Adds a real column with room for every point; null when the memory cannot be had.
MeshColumn* add_column(FieldMesh& mesh, std::string_view name, std::string_view unit);

// The points of a grid of these axes, or none when they are more than MESH_MAX_POINTS (however
// large the counts, whose product is never formed past that).
std::optional<std::size_t> grid_points(const std::array<MeshAxis, 3>& axes);

// Relative to a grid's step, how far a listed coordinate may lie from its grid point.
inline constexpr double GRID_TOLERANCE = 1e-6;

// The axis of `coordinates` listed one by one, in m: its points, its origin the first and its
// spacing (last - first) / (points - 1). Returns the index of the first coordinate farther than
// GRID_TOLERANCE of a step from origin + index * spacing, or not finite, or the last one when the
// spacing is not a positive number; none when they lie on the grid.
std::optional<std::size_t> listed_axis(std::span<const double> coordinates, MeshAxis& axis);

// Throws "<name>(<line>): The grid needs <N> values, more than the file's <L> bytes can hold"
// when `stream` is a regular file too short for `values` numbers of two bytes at least (a digit
// and a separator): a header's counts checked before anything is allocated.
void check_values_fit(std::FILE* stream, const char* name, std::int32_t line, std::uint64_t values);

// True when `axis` is `grid`'s axis as another file of one map lists it: the same points, its
// first and last coordinates within GRID_TOLERANCE of a step of the grid's.
bool same_grid_axis(const MeshAxis& grid, const MeshAxis& axis);
// "2 from 0.1 to 0.3 m": an axis's points and extent, for the messages about two grids.
std::string axis_extent_text(const MeshAxis& axis);

// The grid's spacing in m from its ends in cm and its intervals, as the solver's header gives them;
// 0 for an axis of one point (no intervals).
double spacing_of(double min_cm, double max_cm, std::int64_t intervals);

// The converter's factor for H in A/m (unit_rules), by which its TQS files hold H-phi as Bphi in T.
double converter_h_factor();

// Whether the mesh is an RF map: a frequency or a harmonic; a static map has neither.
inline bool is_rf(const FieldMesh& mesh) {
  return mesh.frequency != 0 || mesh.harmonic != 0;
}

// The converter's units (unit_rules) and the solver's gradient unit, (G/cm) in T/m, ended by a
// null row.
std::array<UnitRule, unit_rules.size() + 1> units_with_gradient();

} // namespace norvalex
