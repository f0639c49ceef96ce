// Field maps that the field-mesh tests write themselves: SF7 tables with the solver's corner
// lines, T7 files of the same maps, values known at every grid point, and the comparison of two
// meshes.
#pragma once

#include "norvalex/mesh.h"

#include <array>
#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

// The value of a fixture's value column `column` (0 is the first after the two coordinates) at
// grid point (i, j): i counts along the mesh's first axis (r or x), j along its other long axis
// (z or y). Exact in binary and in six decimals; along i = 0 it peaks at j = 2.
double fixture_value(int column, int i, int j);

// The lines of an SF7 table around its points, as the solver's SF7 writes them.
struct Sf7TableParts {
  std::string low;        // "(Zmin,Rmin) = (50,0.0)", right before `high`; no line when empty
  std::string high;       // "(Zmax,Rmax) = (70,3)", right before the increments line
  std::string increments; // "Z and R increments:    4    3" or "Number of increments: 3"
  std::string names;      // "Z R Ez Er |E| H"
  std::string units;      // "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)"
};

// Its points: `fast` x `slow` lines, the first named coordinate varying fastest from `first` by
// `first_step`, the second from `second` by `second_step`; then `values` columns, column k of
// each point fixture_value(k, i, j), i the index of the first coordinate when `fast_is_i` (the
// mesh's first axis is r or x), else of the second.
struct Sf7Grid {
  int fast, slow;
  double first, first_step, second, second_step;
  bool fast_is_i;
  int values;
};
std::string sf7_table_text(const Sf7TableParts& parts, const Sf7Grid& grid);

// RF table, "Z and R increments: 4 3": z from 50 to 70 cm, r from 0 to 3 cm, z fastest; Ez, Er,
// |E| (MV/m) and H (A/m).
std::string rf_table_text();
// The same map as an RF T7 file of 1300 MHz.
std::string rf_t7_text();
// Electrostatic table, "R and Z increments: 2 3": r from 0 to 2 cm, z from -3 to 3 cm, r fastest;
// Er, Ez, |E| (V/cm) and V (V).
std::string electric_table_text();
// Its Er and Ez as a static T7 file (V/cm).
std::string electric_t7_text();
// Magnetostatic table of nine columns, "X and Y increments: 2 1": x from 0 to 4 cm, y from 1 to
// 2 cm, x fastest; Bx, By, |B| (G), Az (G-cm), dBy/dy, dBy/dx and dBx/dy (G/cm).
std::string magnetic_table_text();

// A rectangular 3-D map of 5 x 5 x 4 points, x and y from -2 to 2 cm, z from 10 to 13 cm, each
// by 1 cm, whose `components` (field and axis) take field(component's index, x, y, z in m) at
// every point: an RF map at `frequency` Hz (the values as given: B as -i b), static at 0, its
// problem as the readers tell it.
struct Component3d {
  norvalex::FieldKind field;
  const char* axis;
};
using Field3d = std::function<std::complex<double>(std::size_t, double, double, double)>;
norvalex::FieldMesh map_3d(const std::vector<Component3d>& components, const Field3d& field,
                           double frequency = 0);
// A 3-D solver's export of a known field: `points` along x, y and z from `origin` by `step` (in
// the file's unit), one point a line in `order` (its first letter the axis that changes
// fastest), each line the coordinates x, y, z and then `values` numbers, number k of the point
// (i, j, l) export_value(k, i, j, l); after the lines of `header`.
struct ExportGrid {
  std::array<int, 3> points;
  std::array<double, 3> origin;
  std::array<double, 3> step;
  const char* order; // "xyz": x fastest, then y, then z
  int values;
};
std::string export_table_text(const std::string& header, const ExportGrid& grid);
double export_value(int k, int i, int j, int l);

// A Bmad grid_field kept as the braces alone, with comments, keys in any case and keys that the
// mesh does not hold: an RF map of harmonic 2, E and B (mixed), 2 r points (0 to 5 mm) by 2 z
// points (-10 to 0 mm); pt(1,0) is left out.
std::string bmad_grid_field_text();

// The options that read the fixtures: an RF map at `hz`, a static T7 file's field.
norvalex::MeshReadOptions at_frequency(double hz);
norvalex::MeshReadOptions of_field(norvalex::FieldKind field);
// The options that read a 1-D map on `points` equally spaced points.
norvalex::MeshReadOptions resampled_on(std::int64_t points);

// The values of the mesh's component of `field` along `axis`; none when it has no such one.
std::vector<std::complex<double>> values_of(const norvalex::FieldMesh& mesh,
                                            norvalex::FieldKind field, const char* axis);

// Every attribute, axis and component of `actual` as in `expected`, each value within `relative`
// of the largest of its component (0: bit for bit); with `columns`, the extra columns too.
// `actual` may have more components, of zeros only.
void expect_same_mesh(const norvalex::FieldMesh& expected, const norvalex::FieldMesh& actual,
                      double relative, bool columns, const std::string& what);

// `text` read as a file of `form`, or the text of the error its reader throws after the file's
// name ("(3): Not a number: ...", ": a static T7 file ..."), "" when it throws none.
norvalex::FieldMesh mesh_of_text(const std::string& text, norvalex::MeshForm form,
                                 const norvalex::MeshReadOptions& options = {});
std::string reading_error(const std::string& text, norvalex::MeshForm form,
                          const norvalex::MeshReadOptions& options = {});
// The bytes of `mesh` written in `form`, or the text of the writer's refusal after the mesh's
// file name.
std::string written_text(const norvalex::FieldMesh& mesh, norvalex::MeshForm form,
                         const norvalex::MeshWriteOptions& options = {});

// `text` with every backslash doubled, as the programs' listings and JSON strings show a path.
std::string escaped_path(const std::string& text);

} // namespace test_support
