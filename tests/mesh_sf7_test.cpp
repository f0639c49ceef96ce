// SF7 tables read as meshes: the grid from the corner lines and the increment counts, every
// column in SI units as a field component or an extra column, the values in the mesh's C order
// whatever the table's, the frequency an RF table needs, lines of points, and every table that is
// no mesh one exact error.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <complex>
#include <limits>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::fixture_value;
using test_support::sf7_table_text;
using test_support::TempDir;

namespace {

const std::string kRfNames = "Z R Ez Er |E| H";
const std::string kRfUnits = "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)";
const std::string kXyNames = "X Y Ex Ey |E| V";
const std::string kXyUnits = "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)";
const MeshReadOptions kRf = test_support::at_frequency(1.3e9);

FieldMesh read_table(const std::string& text, const MeshReadOptions& options = kRf) {
  TempDir dir;
  test_support::write_file(dir.file("table.sf7"), text);
  return read_sf7_mesh(dir.file("table.sf7").c_str(), options);
}

// What a table's column becomes: a component or an extra column, from value column `column`
// times `factor`; H in A/m is B-theta = -i mu0 H.
struct Content {
  std::string name;
  int column;
  double factor;
};

TEST(Sf7Mesh, GridUnitsAndOrderAreTheMeshs) {
  const Content e_r{"electricField/r", 1, 1e6}, e_z{"electricField/z", 0, 1e6};
  const Content b_theta{"magneticField/theta", 3, MESH_MU0};
  struct Case {
    const char* what;
    std::string text;
    std::array<std::int64_t, 3> points;
    std::array<double, 3> origin; // m
    std::array<double, 3> spacing;
    std::vector<Content> contents; // in the mesh's order; |E| and |B| left out
  };
  const std::vector<Case> cases = {
      {"RF, Z and R, z fastest",
       test_support::rf_table_text(),
       {4, 1, 5},
       {0, 0, 0.5},
       {0.01, 0, 0.05},
       {e_r, e_z, b_theta}},
      {"static, R and Z, r fastest",
       test_support::electric_table_text(),
       {3, 1, 4},
       {0, 0, -0.03},
       {0.01, 0, 0.02},
       {{"electricField/r", 0, 100}, {"electricField/z", 1, 100}, {"V V", 3, 1}}},
      {"nine columns, X and Y",
       test_support::magnetic_table_text(),
       {3, 2, 1},
       {0, 0.01, 0},
       {0.02, 0.01, 0},
       {{"magneticField/x", 0, 1e-4},
        {"magneticField/y", 1, 1e-4},
        {"Az Tm", 3, 1e-6},
        {"dBy/dy T/m", 4, 0.01},
        {"dBy/dx T/m", 5, 0.01},
        {"dBx/dy T/m", 6, 0.01}}},
      {"line along X",
       sf7_table_text({"(X1,Y1) = (0.0,1.4)", "(X2,Y2) = (4.5,1.4)", "Number of increments: 3",
                       kXyNames, kXyUnits},
                      {4, 1, 0, 1.5, 1.4, 0, true, 4}),
       {4, 1, 1},
       {0, 0.014, 0},
       {0.015, 0, 0},
       {{"electricField/x", 0, 100}, {"electricField/y", 1, 100}, {"V V", 3, 1}}},
      {"line along Y",
       sf7_table_text(
           {"(X1,Y1) = (1,0.0)", "(X2,Y2) = (1,3)", "Number of increments: 3", kXyNames, kXyUnits},
           {1, 4, 1, 0, 0, 1, true, 4}),
       {1, 4, 1},
       {0.01, 0, 0},
       {0, 0.01, 0},
       {{"electricField/x", 0, 100}, {"electricField/y", 1, 100}, {"V V", 3, 1}}},
      {"one X, no X increments",
       sf7_table_text({"(Xmin,Ymin) = (1,0.0)", "(Xmax,Ymax) = (1,3)",
                       "X and Y increments:    0    3", kXyNames, kXyUnits},
                      {1, 4, 1, 0, 0, 1, true, 4}),
       {1, 4, 1},
       {0.01, 0, 0},
       {0, 0.01, 0},
       {{"electricField/x", 0, 100}, {"electricField/y", 1, 100}, {"V V", 3, 1}}},
      {"line along the axis",
       sf7_table_text({"(Z1,R1) = (50,0.0)", "(Z2,R2) = (70,0.0)", "Number of increments: 4",
                       kRfNames, kRfUnits},
                      {5, 1, 50, 5, 0, 0, false, 4}),
       {1, 1, 5},
       {0, 0, 0.5},
       {0, 0, 0.05},
       {e_r, e_z, b_theta}},
  };
  for (const Case& c : cases) {
    const FieldMesh mesh = read_table(c.text);
    const bool cylindrical = c.contents[0].name.find("Field/r") != std::string::npos;
    const char* const labels[2][3] = {{"x", "y", "z"}, {"r", "theta", "z"}};
    EXPECT_EQ(mesh.geometry == MeshGeometry::cylindrical, cylindrical) << c.what;
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(mesh.axes[k].label, labels[cylindrical][k]) << c.what;
      EXPECT_EQ(mesh.axes[k].points, c.points[k]) << c.what << " axis " << k;
      EXPECT_DOUBLE_EQ(mesh.axes[k].origin, c.origin[k]) << c.what << " axis " << k;
      EXPECT_DOUBLE_EQ(mesh.axes[k].spacing, c.spacing[k]) << c.what << " axis " << k;
    }
    std::vector<std::string> names, expected_names;
    for (const MeshComponent& component : mesh.components)
      names.push_back(component.name());
    for (const MeshColumn& column : mesh.columns)
      names.push_back(column.name + " " + column.unit);
    for (const Content& content : c.contents)
      expected_names.push_back(content.name);
    ASSERT_EQ(names, expected_names) << c.what;
    // C order: the first axis slowest, the last long one (z, or y) fastest.
    const auto n_j = static_cast<std::size_t>(mesh.axes[cylindrical ? 2 : 1].points);
    const std::size_t components = mesh.components.size();
    for (std::size_t k = 0; k < names.size(); ++k) {
      const Content& content = c.contents[k];
      for (std::size_t n = 0; n < mesh.point_count(); ++n) {
        const double x =
            fixture_value(content.column, static_cast<int>(n / n_j), static_cast<int>(n % n_j));
        const std::complex<double> expected = content.name == "magneticField/theta"
                                                  ? std::complex<double>(0, -(MESH_MU0 * x))
                                                  : std::complex<double>(x * content.factor, 0);
        EXPECT_EQ(k < components ? mesh.components[k].values[n]
                                 : std::complex<double>(mesh.columns[k - components].values[n]),
                  expected)
            << c.what << ", " << content.name << " at " << n;
      }
    }
  }
}

TEST(Sf7Mesh, AnRfTableNeedsItsFrequencyAndAStaticOneHasNone) {
  struct Case {
    const char* what;
    std::string text;
    MeshReadOptions options;
    std::string error; // after "<path>: "; none when read
    double frequency;
    std::int64_t harmonic;
    ProblemKind problem;
  };
  MeshReadOptions look;
  look.frequency_may_be_unknown = true;
  const std::string rf = test_support::rf_table_text();
  const std::string bad = "the frequency must be a positive number of Hz";
  const ProblemKind none = ProblemKind::unknown;
  const std::vector<Case> cases = {
      {"RF", rf, {}, "an RF table states no frequency: give the frequency in Hz", 0, 0, none},
      {"RF at 1.3 GHz", rf, kRf, "", 1.3e9, 1, ProblemKind::rf},
      {"RF looked at", rf, look, "", 0, 1, ProblemKind::rf},
      {"RF at -1 Hz", rf, test_support::at_frequency(-1), bad, 0, 0, none},
      {"RF at NaN Hz", rf, test_support::at_frequency(std::nan("")), bad, 0, 0, none},
      {"electric", test_support::electric_table_text(), kRf, "", 0, 0, ProblemKind::electrostatic},
      {"magnetic", test_support::magnetic_table_text(), {}, "", 0, 0, ProblemKind::magnetostatic},
  };
  TempDir dir;
  const std::string path = dir.file("table.sf7");
  for (const Case& c : cases) {
    test_support::write_file(path, c.text);
    if (!c.error.empty()) {
      EXPECT_EQ(test_support::thrown_text([&] { read_sf7_mesh(path.c_str(), c.options); }),
                path + ": " + c.error)
          << c.what;
      continue;
    }
    const FieldMesh mesh = read_sf7_mesh(path.c_str(), c.options);
    EXPECT_EQ(mesh.frequency, c.frequency) << c.what;
    EXPECT_EQ(mesh.harmonic, c.harmonic) << c.what;
    EXPECT_EQ(mesh.source.problem, c.problem) << c.what;
  }
}

TEST(Sf7Mesh, ATableThatIsNoMeshIsOneExactError) {
  const auto table = [](const std::string& low, const std::string& high,
                        const std::string& names = kRfNames, const std::string& units = kRfUnits) {
    return sf7_table_text({low, high, "Z and R increments: 1 1", names, units},
                          {2, 2, 50, 1, 0, 1, false, 4});
  };
  const std::string low = "(Zmin,Rmin) = (50,0.0)", high = "(Zmax,Rmax) = (51,1)";
  const std::string corners = "no corner lines \"(min,min) = (a,b)\" of its coordinates before "
                              "the increments line";
  const std::string coordinates =
      "its first two columns are not R and Z, or X and Y, in (cm) or (mm)";
  struct Case {
    const char* what;
    std::string text;
    std::string error; // after "<path>: not readable as a mesh: "
  };
  const std::vector<Case> cases = {
      {"no corner lines", table("", ""), corners},
      {"one corner line", table("", high), corners},
      {"corners of R and Z", table("(Rmin,Zmin) = (0.0,50)", "(Rmax,Zmax) = (1,51)"), corners},
      {"corners without pairs", table("(Zmin,Rmin) = 50", "(Zmax,Rmax) = 51"), corners},
      {"corners decreasing", table("(Zmin,Rmin) = (51,0.0)", "(Zmax,Rmax) = (50,1)"),
       "its corner lines give no grid of increasing coordinates"},
      {"fields first", table(low, high, "Ez Er Z R |E| H", "(MV/m) (MV/m) (cm) (cm) (MV/m) (A/m)"),
       coordinates},
      {"Z and Y", table(low, high, "Z Y Ez Er |E| H"), coordinates},
      {"coordinates in V", table(low, high, kRfNames, "(V) (V) (MV/m) (MV/m) (MV/m) (A/m)"),
       coordinates},
      {"a component twice", table(low, high, "Z R Ez Ez |E| H"),
       "two of its columns hold electricField/z"},
      {"coordinates elsewhere than the corners",
       table("(Zmin,Rmin) = (0.0,0.0)", "(Zmax,Rmax) = (1,1)"),
       "its Z column gives 0.5 m at point (0,0), where its corner lines put 0 m"},
      {"cm and mm", table(low, high, kRfNames, "(cm) (mm) (MV/m) (MV/m) (MV/m) (A/m)"),
       "its two coordinates are in different units"},
      {"a diagonal line",
       sf7_table_text({"(X1,Y1) = (1,0.666667)", "(X2,Y2) = (3,2)", "Number of increments: 1",
                       kXyNames, kXyUnits},
                      {2, 1, 1, 2, 0.666667, 0, true, 4}),
       "its line of points runs along no coordinate (read it as columns)"},
  };
  TempDir dir;
  const std::string path = dir.file("table.sf7");
  for (const Case& c : cases) {
    test_support::write_file(path, c.text);
    EXPECT_EQ(test_support::thrown_text([&] { read_sf7_mesh(path.c_str(), kRf); }),
              path + ": not readable as a mesh: " + c.error)
        << c.what;
  }
  // A defect of the table itself is the SF7 reader's located error.
  const std::string whole = table(low, high);
  test_support::write_file(path, whole.substr(0, whole.rfind('\n', whole.size() - 2) + 1));
  EXPECT_EQ(test_support::thrown_text([&] { read_sf7_mesh(path.c_str(), kRf); }),
            path + "(13): Unexpected end of file");
}

// Coordinates may be in (mm): the grid must then lie where the table's points are.
TEST(Sf7Mesh, GridOfATableInMillimetresLiesWhereItsPointsAre) {
  const FieldMesh mesh = read_table(
      sf7_table_text({"(Xmin,Ymin) = (0.0,0.0)", "(Xmax,Ymax) = (20,10)", "X and Y increments: 2 1",
                      kXyNames, "(mm) (mm) (V/cm) (V/cm) (V/cm) (V)"},
                     {3, 2, 0, 10, 0, 10, true, 4}));
  EXPECT_DOUBLE_EQ(mesh.axes[0].spacing, 0.01);
  EXPECT_DOUBLE_EQ(mesh.axes[1].spacing, 0.01);
}

} // namespace
