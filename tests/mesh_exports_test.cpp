// The 3-D solvers' exports, CST's, HFSS's and Opera's tables of points: columns by name and
// unit, both loop orders, planes and lines, E and H from two files, a large file read on two
// threads, round trips through openPMD, and every defect one located line.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::export_table_text;
using test_support::export_value;
using test_support::ExportGrid;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::write_file;

namespace {

const std::string kDashes = "------------------------------------------------------------\n";
const std::string kCstE = "x [mm]  y [mm]  z [mm]  ExRe [V/m]  ExIm [V/m]  EyRe [V/m]  "
                          "EyIm [V/m]  EzRe [V/m]  EzIm [V/m]\n" +
                          kDashes;
const std::string kHfssE = "Grid Output Min: [-1mm 0mm 0mm] Max: [1mm 1mm 4mm] Grid Size: [1mm "
                           "1mm 1mm]\nX, Y, Z, Complex Vector data \"<Ex,Ey,Ez>\"\n";

// A component of a mesh read: its number `real` of each point times `factor`, and minus its
// number `imaginary` times `factor` (the conjugate of an exp(+jwt) amplitude), or 0 without.
struct Expected {
  const char* name;
  int real;
  int imaginary;
  double factor;
};

void expect_values(const FieldMesh& mesh, const std::vector<Expected>& expected,
                   const std::string& what) {
  ASSERT_EQ(mesh.components.size(), expected.size()) << what;
  for (std::size_t c = 0; c < expected.size(); ++c) {
    const Expected& e = expected[c];
    EXPECT_EQ(mesh.components[c].name(), e.name) << what;
    std::size_t n = 0;
    for (int i = 0; i < mesh.axes[0].points; ++i) {
      for (int j = 0; j < mesh.axes[1].points; ++j) {
        for (int l = 0; l < mesh.axes[2].points; ++l, ++n) {
          const double im = e.imaginary < 0 ? 0 : -(export_value(e.imaginary, i, j, l) * e.factor);
          ASSERT_EQ(mesh.components[c].values[n],
                    std::complex<double>(export_value(e.real, i, j, l) * e.factor, im))
              << what << ", " << e.name << " at " << i << " " << j << " " << l;
        }
      }
    }
  }
}

class Exports : public testing::Test {
protected:
  std::string file(const std::string& name, const std::string& text) const {
    const std::string path = dir_.file(name);
    write_file(path, text);
    return path;
  }

  TempDir dir_;
  const MeshReadOptions rf_ = test_support::at_frequency(1.3e9);
};

TEST_F(Exports, EveryFormReadsItsColumnsInAnyOrderAndUnit) {
  struct Case {
    std::string header;
    ExportGrid grid;
    MeshForm form;
    double unit; // of the file's lengths, in m
    ProblemKind problem;
    std::vector<Expected> components;
  };
  const std::vector<Case> cases = {
      {kCstE,
       {{3, 4, 5}, {-1, 0, 2}, {0.5, 0.25, 1}, "xyz", 6},
       MeshForm::cst,
       1e-3,
       ProblemKind::rf,
       {{"electricField/x", 0, 1, 1}, {"electricField/y", 2, 3, 1}, {"electricField/z", 4, 5, 1}}},
      {"x [cm]  y [cm]  z [cm]  HxRe [A/m]  HyRe [A/m]  HzRe [A/m]  HxIm [A/m]  HyIm [A/m]  "
       "HzIm [A/m]\n" +
           kDashes,
       {{2, 3, 4}, {0, -3, 0.1}, {2, 1.5, 0.3}, "zyx", 6},
       MeshForm::cst,
       1e-2,
       ProblemKind::rf,
       {{"magneticField/x", 0, 3, MESH_MU0},
        {"magneticField/y", 1, 4, MESH_MU0},
        {"magneticField/z", 2, 5, MESH_MU0}}},
      {"x [m] y [m] z [m] Ex [kV/m] Ey [kV/m] Ez [kV/m]\n" + kDashes,
       {{3, 2, 2}, {0, 0, 0}, {0.01, 0.02, 0.03}, "yxz", 3},
       MeshForm::cst,
       1,
       ProblemKind::electrostatic,
       {{"electricField/x", 0, -1, 1e3},
        {"electricField/y", 1, -1, 1e3},
        {"electricField/z", 2, -1, 1e3}}},
      // A plane (one point along y) and a line (one point along x and y).
      {"x [mm] y [mm] z [mm] Bx [T] Bz [T]\n" + kDashes,
       {{4, 1, 3}, {0, 5, 0}, {1, 1, 2}, "xyz", 2},
       MeshForm::cst,
       1e-3,
       ProblemKind::magnetostatic,
       {{"magneticField/x", 0, -1, 1}, {"magneticField/z", 1, -1, 1}}},
      {"x [mm] y [mm] z [mm] Bz [mT]\n" + kDashes,
       {{1, 1, 6}, {0, 0, -5}, {1, 1, 2}, "zxy", 1},
       MeshForm::cst,
       1e-3,
       ProblemKind::magnetostatic,
       {{"magneticField/z", 0, -1, 1e-3}}},
      {kHfssE,
       {{3, 2, 5}, {-0.001, 0, 0}, {0.001, 0.001, 0.001}, "zyx", 6},
       MeshForm::hfss,
       1,
       ProblemKind::rf,
       {{"electricField/x", 0, 1, 1}, {"electricField/y", 2, 3, 1}, {"electricField/z", 4, 5, 1}}},
      {"Grid Output Min: [0mm 0mm 0mm] Max: [1mm 1mm 2mm] Grid Size: [1mm 1mm 1mm]\n"
       "X,Y,Z,Vector data \"<Bx,By,Bz>\"\n",
       {{2, 2, 3}, {0, 0, 0}, {0.001, 0.001, 0.001}, "zyx", 3},
       MeshForm::hfss,
       1,
       ProblemKind::magnetostatic,
       {{"magneticField/x", 0, -1, 1},
        {"magneticField/y", 1, -1, 1},
        {"magneticField/z", 2, -1, 1}}},
      {"2 3 4 2\n1 X [CENTIMETRE]\n2 Y [CENTIMETRE]\n3 Z [CENTIMETRE]\n4 BX [GAUSS]\n"
       "5 BY [GAUSS]\n6 POT [WEBER/M]\n7 BZ [GAUSS]\n0\n",
       {{2, 3, 4}, {-1, -1, 0}, {2, 1, 0.5}, "zyx", 4},
       MeshForm::opera,
       1e-2,
       ProblemKind::magnetostatic,
       {{"magneticField/x", 0, -1, 1e-4},
        {"magneticField/y", 1, -1, 1e-4},
        {"magneticField/z", 3, -1, 1e-4}}},
  };
  int files = 0;
  for (const Case& c : cases) {
    const std::string path =
        file("export" + std::to_string(++files), export_table_text(c.header, c.grid));
    const FieldMesh mesh = read_mesh(path.c_str(), rf_);
    EXPECT_EQ(mesh.source.form, c.form) << path;
    EXPECT_EQ(mesh.source.problem, c.problem) << path;
    EXPECT_EQ(mesh.frequency, c.problem == ProblemKind::rf ? 1.3e9 : 0) << path;
    for (std::size_t a = 0; a < 3; ++a) {
      EXPECT_EQ(mesh.axes[a].points, c.grid.points[a]) << path;
      EXPECT_EQ(mesh.axes[a].origin, c.grid.origin[a] * c.unit) << path;
      EXPECT_NEAR(mesh.axes[a].spacing, c.grid.points[a] > 1 ? c.grid.step[a] * c.unit : 0,
                  1e-15 * c.grid.step[a] * c.unit)
          << path;
    }
    expect_values(mesh, c.components, path);
    if (mesh_has_openpmd()) {
      write_mesh_file(mesh, MeshFormat::openpmd, (path + ".h5").c_str());
      test_support::expect_same_mesh(mesh, read_mesh((path + ".h5").c_str()), 0, false, path);
    }
  }
}

TEST_F(Exports, EAndHFromTwoFilesMakeOneMap) {
  const ExportGrid grid{{3, 2, 5}, {-0.001, 0, 0}, {0.001, 0.001, 0.001}, "zyx", 6};
  std::string h_header = kHfssE;
  h_header.replace(h_header.find("<Ex,Ey,Ez>"), 10, "<Hx,Hy,Hz>");
  const std::string e = file("e.fld", export_table_text(kHfssE, grid));
  const std::string h = file("h.fld", export_table_text(h_header, grid));
  MeshReadOptions options = rf_;
  options.with_file = h.c_str();
  const FieldMesh mesh = read_mesh(e.c_str(), options);
  expect_values(mesh,
                {{"electricField/x", 0, 1, 1},
                 {"electricField/y", 2, 3, 1},
                 {"electricField/z", 4, 5, 1},
                 {"magneticField/x", 0, 1, MESH_MU0},
                 {"magneticField/y", 2, 3, MESH_MU0},
                 {"magneticField/z", 4, 5, MESH_MU0}},
                "e.fld with h.fld");
  ASSERT_EQ(mesh.source.notes.size(), 1u);
  EXPECT_EQ(mesh.source.notes[0].text, h);
}

TEST_F(Exports, ALargeFileIsReadInTwoPartsAndItsDefectsFoundAtTheirLines) {
  // Some 10 MB: a helper reads the second part, its first point found by its coordinates.
  const ExportGrid grid{{40, 40, 140}, {-2, -2, 0}, {0.1, 0.1, 0.5}, "xyz", 6};
  const std::string text = export_table_text(kCstE, grid);
  ASSERT_GT(text.size(), std::size_t{8} << 20);
  const FieldMesh mesh = read_mesh(file("large.txt", text).c_str(), rf_);
  expect_values(
      mesh,
      {{"electricField/x", 0, 1, 1}, {"electricField/y", 2, 3, 1}, {"electricField/z", 4, 5, 1}},
      "large.txt");
  // A word that is no number in the helper's part: read again in one part, which says where.
  std::string damaged = text;
  const std::size_t late = damaged.find('\n', damaged.size() * 9 / 10) + 1;
  damaged.replace(late, damaged.find('\n', late) - late, "0 0 x 1 2 3 4 5 6");
  const std::string path = file("damaged.txt", damaged);
  const auto line =
      std::count(damaged.begin(), damaged.begin() + static_cast<long>(late), '\n') + 1;
  EXPECT_EQ(thrown_text([&] { read_mesh(path.c_str(), rf_); }),
            path + "(" + std::to_string(line) + "): Not a number: x");
}

TEST_F(Exports, EveryDefectIsOneLine) {
  struct Case {
    std::string text;
    std::string error; // after the file's name
    MeshReadOptions options = {};
    MeshForm form = MeshForm::cst;
  };
  const std::string static_e = "x [mm] y [mm] z [mm] Ex [V/m] Ey [V/m] Ez [V/m]\n" + kDashes;
  const std::string point = "0 0 0 1 2 3\n";
  const std::string opera = "1 1 2\n1 X [METRE]\n2 Y [METRE]\n3 Z [METRE]\n";
  const std::vector<Case> cases = {
      {static_e + point + "0 0 1 1 2 3\n0 0 2.5 1 2 3\n",
       "(5): z = 2.5 mm is off the grid: 2 mm expected"},
      {static_e + point + "1 0 0 1 2 3\n0 1 0 1 2 3\n1 1 0 1 2 3\n0 2 0 1 2 3\n",
       "(7): The points end within the grid: 1 of the 2 points at y = 2 mm"},
      {static_e + point + point + "0 0 1 1 2 3\n",
       "(4): The point repeats the first: the next point of a grid "
       "moves along one coordinate"},
      {static_e + point + "0 0 -1 1 2 3\n",
       "(4): z decreases: a grid's coordinates increase point by point"},
      {static_e + point + "1 1 0 1 2 3\n", "(4): y = 1 mm is off the grid: 0 mm expected"},
      {static_e + "0 0 -1e308 1 2 3\n0 0 1e308 1 2 3\n",
       "(4): Coordinates too far apart: z from -1e+308 to 1e+308"},
      {static_e + point + "0 0 1 1 2 3\n0 0 1 1 2 3\n",
       "(5): Point past the grid's last: the grid holds 1 x 1 x 2 points"},
      {static_e + point + "0 0 1 1 2 x\n", "(4): Not a number: x"},
      {static_e + "0 0 0 1 2\n", "(3): Row of 5 numbers, not the table's 6"},
      {static_e + "0 0 0 1 2 3 4\n", "(3): Row of more numbers than the table's 6 columns"},
      {"x [mm] y [mm] z [mm] Ex [MV/m]\n" + kDashes + "0 0 0 1e305\n",
       "(3): Value out of range: 1e+305"},
      {static_e, "(2): No points after the header"},
      {"x [mm] y [mm] z [mm] Ex [V/m]\n0 0 0 1\n",
       "(2): Not a CST export: a line of dashes expected under the names"},
      {"x [inch] y [mm] z [mm] Ex [V/m]\n" + kDashes, "(1): Unknown unit [inch] of column x"},
      {"x [mm] y [mm] z [mm] Hx [V/m]\n" + kDashes,
       "(1): Column Hx is in [V/m], not a unit of H (A/m)"},
      {"x [mm] y [mm] z [mm] ExRe [V/m]\n" + kDashes,
       "(1): electricField/x has a real part (ExRe) and no imaginary part"},
      {"x [mm] y [mm] z [mm] Ex [V/m] EyRe [V/m] EyIm [V/m]\n" + kDashes,
       "(1): Column Ex holds a real field and EyRe a complex one: every component is real (a "
       "static map) or every one complex (an RF map)"},
      {"x [mm] y [mm] z [mm] Hx [A/m] Bx [T]\n" + kDashes,
       "(1): Columns Hx and Bx both hold magneticField/x"},
      {"x [mm] y [mm] Ex [V/m]\n" + kDashes,
       "(1): No column of the coordinate z: x, y and z are needed"},
      {"x [mm] y [mm] z [mm] V [V]\n" + kDashes,
       "(1): No column of a field: components of E, H or B are needed"},
      {"[mm] y [mm]\n" + kDashes, "(1): Unit [mm] follows no column name"},
      {"x y [mm]\n" + kDashes, "(1): Column x has no unit in brackets"},
      {kCstE + "0 0 0 1 2 3 4 5 6\n",
       ": a CST export states no frequency: give the frequency in Hz"},
      {"Grid Output Min: [0mm 0mm 0mm]\nX Y Z data\n",
       "(2): Not an HFSS grid export: X, Y, Z and the data's name expected",
       {},
       MeshForm::hfss},
      {"Grid Output Min: [0mm 0mm 0mm]\nX, Y, Z, Scalar data <Mag_E>\n",
       "(2): Data \"Scalar data <Mag_E>\": a field's vector data expected (Complex Vector data "
       "or Vector data)",
       {},
       MeshForm::hfss},
      {"Grid Output Min: [0mm 0mm 0mm]\nX, Y, Z, Vector data <Jx,Jy,Jz>\n",
       ": its data \"\" names no field E, H or B: give the field, electric (E in V/m) or "
       "magnetic (H in A/m)",
       {},
       MeshForm::hfss},
      {opera + "4 BX [KILOGAUSS]\n0\n",
       "(5): Unknown unit [KILOGAUSS] of column BX",
       {},
       MeshForm::opera},
      {opera + "4 BX\n0\n", "(5): Column BX has no unit in brackets", {}, MeshForm::opera},
      {opera + "5 BX [TESLA]\n0\n",
       "(5): Not a column's line: \"4 NAME [UNIT]\" expected",
       {},
       MeshForm::opera},
      {opera + "4 BX [TESLA]\n",
       "(5): Unexpected end of file: a column's line or the 0 after "
       "the last expected",
       {},
       MeshForm::opera},
      {"2 1 2\n1 X [METRE]\n2 Y [METRE]\n3 Z [METRE]\n4 BX [TESLA]\n0\n0 0 0 1\n0 0 1 1\n",
       "(1): The header's grid of 2 x 1 x 2 points is not the 1 x 1 x 2 of the points",
       {},
       MeshForm::opera},
  };
  int files = 0;
  for (const Case& c : cases) {
    const std::string path = file("defect" + std::to_string(++files), c.text);
    EXPECT_EQ(thrown_text([&] { read_mesh(path.c_str(), c.form, c.options); }), path + c.error);
  }
  // A second file whose grid, kind of map or components do not join the first's.
  const std::string e = file("e.txt", kCstE + "0 0 0 1 2 3 4 5 6\n0 0 1 1 2 3 4 5 6\n");
  const std::string e3 = file("e3.txt", kCstE + "0 0 0 1 2 3 4 5 6\n0 0 1 1 2 3 4 5 6\n"
                                                "0 0 2 1 2 3 4 5 6\n");
  const std::string b =
      file("b.txt", "x [mm] y [mm] z [mm] Bx [T]\n" + kDashes + "0 0 0 1\n0 0 1 1\n");
  for (const auto& [with, error] :
       {std::pair{e3, e3 + ": its grid is not " + e +
                          "'s: z from 0 to 0.002 m in 3 points, not z from 0 to 0.001 m in 2 "
                          "points"},
        {b, b + ": a static map does not join " + e + "'s RF map"},
        {e, e + ": " + e + " holds electricField/x too"}}) {
    MeshReadOptions options = rf_;
    options.with_file = with.c_str();
    EXPECT_EQ(thrown_text([&] { read_mesh(e.c_str(), options); }), error);
  }
}

} // namespace
