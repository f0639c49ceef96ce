// 3-D maps: ASTRA's and TraceWin's files of one component each and Impact-T's type 111 read as the
// trackers read them, every 3-D form (openPMD, TQS, ASTRA, Impact-T, TraceWin) written and read
// back, golden files, every
// defect one line; and the planes and cylindrical maps of a 3-D map, with their departures from
// symmetry.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <complex>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace norvalex;
using test_support::Component3d;
using test_support::Field3d;
using test_support::map_3d;
using test_support::read_file;
using test_support::values_of;
using test_support::write_file;

namespace {

constexpr FieldKind E = FieldKind::electric;
constexpr FieldKind B = FieldKind::magnetic;
constexpr std::complex<double> I{0, 1};

// Maps symmetric about z, each component a polynomial of r of degree two at most, which the
// cylindrical map's interpolation gives exactly: a static electric one, a solenoid's, and an RF
// cavity's (Ez, Er and B-theta = -i 0.1 r: Bx = 0.1 i y, By = -0.1 i x).
struct Map {
  const char* what;
  std::vector<Component3d> components;
  Field3d field;
  double frequency;
};
const std::vector<Map> kMaps = {
    {"static electric",
     {{E, "x"}, {E, "y"}, {E, "z"}},
     [](std::size_t c, double x, double y, double z) -> std::complex<double> {
       return c == 0 ? 2e7 * x * z : c == 1 ? 2e7 * y * z : 1e6 - 1e9 * (x * x + y * y) + 3e6 * z;
     },
     0},
    {"static magnetic",
     {{B, "x"}, {B, "y"}, {B, "z"}},
     [](std::size_t c, double x, double y, double) -> std::complex<double> {
       return c == 0 ? 5 * x : c == 1 ? 5 * y : 1 - 100 * (x * x + y * y);
     },
     0},
    {"RF",
     {{E, "x"}, {E, "y"}, {E, "z"}, {B, "x"}, {B, "y"}},
     [](std::size_t c, double x, double y, double z) -> std::complex<double> {
       const std::complex<double> values[] = {1e8 * x, 1e8 * y, 1e7 * (1 - 1e3 * (x * x + y * y)),
                                              0.1 * I * y, -0.1 * I * x};
       return values[c] * (1 + z);
     },
     1.3e9},
};

class ThreeD : public testing::Test {
protected:
  std::string file(const std::string& name, const std::string& text) const {
    const std::string path = dir_.file(name);
    write_file(path, text);
    return path;
  }

  test_support::TempDir dir_;
};

// The grid of the hand-written files: 2 x 2 x 2 points.
const std::string kAstraGrid = "2 -0.01 0.01\n2 0 0.02\n2 0.1 0.2\n";
const std::string kImpactGrid = "-0.01 0.01 1\n0 0.02 1 / y\n0.1 0.2 1\n";
// TraceWin's: nz zmax, nx xmin xmax, ny ymin ymax (z from 0), then Norm and the values 1 to 8.
const std::string kTraceWinGrid = "1 0.1\n1 -0.01 0.01\n1 0 0.02\n";
std::string tracewin_text(const std::string& norm, const std::string& line_end = "\n") {
  std::string text = kTraceWinGrid + norm + line_end;
  for (int n = 1; n <= 8; ++n)
    text += std::to_string(n) + line_end;
  return text;
}
// The mesh's values of a file whose values are 1 to 8, x fastest: z is fastest in the mesh.
const std::vector<double> kOneToEight = {1, 5, 3, 7, 2, 6, 4, 8};

std::vector<std::complex<double>> times(std::complex<double> factor) {
  std::vector<std::complex<double>> values;
  for (const double value : kOneToEight)
    values.push_back(factor * value);
  return values;
}

// An Impact-T file of the grid above whose point n (x fastest) is `point` with n + 1 for #.
std::string impact_text(const std::string& point) {
  std::string text = kImpactGrid;
  for (int n = 1; n <= 8; ++n) {
    for (const char c : point)
      text += c == '#' ? std::to_string(n) : std::string(1, c);
    text += '\n';
  }
  return text;
}

TEST_F(ThreeD, FilesReadAsTheTrackersReadThem) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string read; // the name given
    MeshReadOptions options;
    MeshForm form;
    ProblemKind problem;
    std::vector<std::string> components;
    Component3d checked;
    std::vector<std::complex<double>> values;
  };
  MeshReadOptions look;
  look.frequency_may_be_unknown = true;
  const std::vector<Row> rows = {
      {"ASTRA, one file, read by its base name",
       {{"3D_a.bz", kAstraGrid + "1 2 3 4\n5 6 7 8\n"}},
       "3D_a",
       {},
       MeshForm::astra_3d,
       ProblemKind::magnetostatic,
       {"magneticField/z"},
       {B, "z"},
       times(1)},
      {"ASTRA, two of three files, values wrapped anyhow, read by the other",
       {{"3D_b.ex", kAstraGrid + "1 2 3\n4 5\n6 7 8"}, {"3D_b.ez", kAstraGrid + "0 0 0 0 0 0 0 9"}},
       "3D_b.ez",
       {},
       MeshForm::astra_3d,
       ProblemKind::electrostatic,
       {"electricField/x", "electricField/z"},
       {E, "x"},
       times(1)},
      {"ASTRA with a frequency: B is -i times the file's",
       {{"3D_c.EZ", kAstraGrid + "1 1 1 1 1 1 1 1\n"}, {"3D_c.BY", kAstraGrid + "1 2 3 4 5 6 7 8"}},
       "3D_c.EZ",
       test_support::at_frequency(1e9),
       MeshForm::astra_3d,
       ProblemKind::rf,
       {"electricField/z", "magneticField/y"},
       {B, "y"},
       times(-I)},
      {"Impact-T, a standing wave: E is (E,0), B (0,b)",
       {{"1T1.T7", impact_text("(#.0D0 , 0) (0,0) (0,0) (0,#) ( 0 , 0 ) (0,0) / point #")}},
       "1T1.T7",
       test_support::at_frequency(1e9),
       MeshForm::impact_3d,
       ProblemKind::rf,
       {"electricField/x", "electricField/y", "electricField/z", "magneticField/x",
        "magneticField/y", "magneticField/z"},
       {B, "x"},
       times(-I)},
      {"Impact-T, a travelling wave read for a look, without its frequency",
       {{"1T2.T7", impact_text("(0,0) (0,0) (#,#) (0,0) (0,0) (0,0)")}},
       "1T2.T7",
       look,
       MeshForm::impact_3d,
       ProblemKind::rf,
       {"electricField/x", "electricField/y", "electricField/z", "magneticField/x",
        "magneticField/y", "magneticField/z"},
       {E, "z"},
       times(1.0 - I)},
      {"Impact-T, static: real values, a field of zeros left out",
       {{"1T3.T7", impact_text("(0,0) (0,0) (0,0) (0,0) (0,0) (#,0)")}},
       "1T3.T7",
       {},
       MeshForm::impact_3d,
       ProblemKind::magnetostatic,
       {"magneticField/x", "magneticField/y", "magneticField/z"},
       {B, "z"},
       times(1)},
      {"TraceWin, a static .esz of 3-D header (not 1-D), in MV/m, divided by Norm",
       {{"tw_a.esz", tracewin_text("2")}},
       "tw_a.esz",
       {},
       MeshForm::tracewin_3d,
       ProblemKind::electrostatic,
       {"electricField/z"},
       {E, "z"},
       times(5e5)},
      {"TraceWin RF, two of six files (CR LF), read by the other: B is -i times the file's",
       {{"TW_B.EDZ", tracewin_text("1", "\r\n")}, {"TW_B.BDY", tracewin_text("1")}},
       "TW_B.EDZ",
       test_support::at_frequency(1e9),
       MeshForm::tracewin_3d,
       ProblemKind::rf,
       {"electricField/z", "magneticField/y"},
       {B, "y"},
       times(-I)},
  };
  for (const Row& row : rows) {
    for (const auto& [name, text] : row.files)
      file(name, text);
    const FieldMesh mesh = read_mesh(dir_.file(row.read).c_str(), row.options);
    EXPECT_EQ(mesh.source.form, row.form) << row.what;
    EXPECT_EQ(mesh.source.problem, row.problem) << row.what;
    EXPECT_EQ(mesh.frequency, row.options.frequency.value_or(0)) << row.what;
    std::vector<std::string> names;
    for (const MeshComponent& component : mesh.components)
      names.push_back(component.name());
    EXPECT_EQ(names, row.components) << row.what;
    EXPECT_EQ(values_of(mesh, row.checked.field, row.checked.axis), row.values) << row.what;
    EXPECT_EQ(mesh.axes[1].spacing, 0.02) << row.what;
  }
}

TEST_F(ThreeD, EveryFormReadsBackWhatItWrote) {
  std::vector<std::pair<MeshFormat, std::string>> forms = {{MeshFormat::tqs, "map.tqs"},
                                                           {MeshFormat::astra_3d, "3D_map"},
                                                           {MeshFormat::impact_3d, "1T1.T7"},
                                                           {MeshFormat::tracewin_3d, "map.edz"}};
  if (mesh_has_openpmd())
    forms.emplace_back(MeshFormat::openpmd, "map.h5");
  for (const Map& m : kMaps) {
    const FieldMesh map = map_3d(m.components, m.field, m.frequency);
    for (const auto& [format, name] : forms) {
      if (format == MeshFormat::astra_3d && m.frequency != 0)
        continue; // refused: a defect below
      // A name of its own per map: an ASTRA map is every file of its base name.
      const std::string path = dir_.file(std::string(m.what) + name);
      write_mesh_file(map, format, path.c_str());
      MeshReadOptions options;
      if (m.frequency != 0)
        options.frequency = m.frequency;
      // TraceWin's files are named by what they hold, and its z starts at 0.
      const bool tracewin = format == MeshFormat::tracewin_3d;
      FieldMesh back = read_mesh(
          tracewin ? mesh_output_paths(map, format, path).front().c_str() : path.c_str(), options);
      if (tracewin)
        back.axes[2].origin += map.axes[2].origin;
      // Read as told by its content, or by its base name.
      test_support::expect_same_mesh(map, back, 0, false, std::string(m.what) + " as " + name);
    }
  }
}

TEST_F(ThreeD, SmallMapsWriteTheirGoldenFiles) {
  file("3D_a.bz", kAstraGrid + "1 2 3 4\n5 6 7 8\n");
  file("1T1.T7", impact_text("(#,0) (0,0) (0,0) (0,#) (0,0) (0,0)"));
  file("tw.bsz", tracewin_text("2"));
  MeshReadOptions look;
  look.frequency_may_be_unknown = true;
  for (const auto& [input, format, output, golden] :
       {std::tuple{"3D_a", MeshFormat::astra_3d, "3D_out.bz", "astra-3d-small.txt"},
        {"1T1.T7", MeshFormat::impact_3d, "1T9.T7", "impact-3d-small.txt"},
        {"tw.bsz", MeshFormat::tracewin_3d, "tw_out.bsz", "tracewin-3d-small.txt"}}) {
    const FieldMesh map = read_mesh(dir_.file(input).c_str(), look);
    write_mesh_file(map, format, dir_.file(output).c_str());
    EXPECT_EQ(read_file(dir_.file(output)), test_support::golden_text(golden)) << golden;
  }
}

TEST_F(ThreeD, EveryDefectIsOneLine) {
  const FieldMesh wave = map_3d(kMaps[2].components, kMaps[2].field, 1.3e9);
  const FieldMesh plane = mesh_plane(wave, "z", 0.1);
  const FieldMesh rz = mesh_cylindrical(wave).mesh;
  file("3D_grid.ex", kAstraGrid + "1 2 3 4 5 6 7 8\n");
  file("tw_grid.esx", tracewin_text("1"));
  // A 1-D header long enough to hold the grid's values after it.
  const std::string padded =
      kImpactGrid.substr(0, kImpactGrid.size() - 1) + " / " + std::string(300, '.') + "\n";
  const std::string point = "(1,0) (0,0) (0,0) (0,0) (0,0) (0,0)\n";
  struct Case {
    std::function<void()> body;
    std::string error;
  };
  // Reading `text` as the file `name` in `form` fails with "<its path><error>".
  const auto read = [&](const std::string& name, const std::string& text, MeshForm form,
                        const std::string& error) {
    const std::string path = file(name, text);
    return Case{[path, form] { read_mesh(path.c_str(), form); }, path + error};
  };
  const auto write = [&](const FieldMesh& mesh, MeshFormat format) {
    return [&mesh, format, this] { write_mesh_file(mesh, format, dir_.file("3D_out").c_str()); };
  };
  const std::string grid = dir_.file("3D_grid.ex");
  const std::vector<Case> cases = {
      read("3D_a.ex", "2.5 0 1\n", MeshForm::astra_3d,
           "(1): The count of x coordinates is no whole number from 1 on: 2.5"),
      read("3D_b.ex", "3 0 0.01 0.03\n", MeshForm::astra_3d,
           "(1): The x coordinates are not equally spaced: number 2 is 0.01 m, where equal steps "
           "from 0 to 0.03 m put 0.015 m"),
      read("3D_c.ex", "2 0.01 0\n", MeshForm::astra_3d,
           "(1): The x coordinates do not increase: from 0.01 to 0 m"),
      read("3D_d.ex", "2 0 0.01\n1 0", MeshForm::astra_3d,
           "(2): Unexpected end of file: the count of z coordinates expected"),
      read("3D_e.ex", "3 0 1 2\n3 0 1 2\n3 0 1 2\n", MeshForm::astra_3d,
           "(3): The grid needs 27 values, more than the file's 24 bytes can hold"),
      read("3D_f.ex", kAstraGrid + "1 2 3\n", MeshForm::astra_3d,
           "(4): Too few values: the grid needs 8, the file holds 3"),
      read("3D_g.ex", kAstraGrid + "1 2 3 4 5 6 7 8\n9\n", MeshForm::astra_3d,
           "(5): Too many values: the grid needs 8"),
      read("3D_grid.ey", "2 -0.01 0.01\n2 0 0.02\n2 0.1 0.3\n1 2 3 4 5 6 7 8\n", MeshForm::astra_3d,
           "(3): Its z coordinates, 2 from 0.1 to 0.3 m, are not those of " + grid +
               ", 2 from 0.1 to 0.2 m"),
      {[&] { read_mesh(dir_.file("3D_none").c_str(), MeshForm::astra_3d); },
       dir_.file("3D_none") + ": no file of an ASTRA 3-D map: none of " + dir_.file("3D_none") +
           ".ex, .ey, .ez, .bx, .by and .bz"},
      read("1T1.T7", "0 1 1.5\n", MeshForm::impact_3d,
           "(1): The x range's interval count is no whole number from 1 on: 1.5"),
      read("1T2.T7", "1 0 1\n", MeshForm::impact_3d,
           "(1): The x range is not from a minimum to a larger maximum: 1 0"),
      read("1T3.T7", padded + "1 2 3\n", MeshForm::impact_3d,
           "(4): Not a complex number (re,im): 1"),
      read("1T4.T7", padded + "(1,0) (0,0) (0 , 1) / more\n", MeshForm::impact_3d,
           "(4): Too few values before the slash: a point needs six complex values"),
      read("1T5.T7", padded + point, MeshForm::impact_3d,
           "(4): Unexpected end of file: the grid needs 8 points of six complex values, the file "
           "holds 1"),
      read("1T6.T7", kImpactGrid + "(1,0)\n", MeshForm::impact_3d,
           "(3): The grid needs 48 complex values, more than the file's 42 bytes can hold"),
      read("1T7.T7",
           padded + impact_text("(0,0) (0,0) (0,#) (0,0) (0,0) (0,0)").substr(kImpactGrid.size()),
           MeshForm::impact_3d,
           ": an Impact-T 3-D T7 file states no frequency: give the frequency in Hz"),
      read("tw_a.edz", "4 0.2\n1\n1\n2\n3\n4\n", MeshForm::tracewin_3d,
           "(2): Not a TraceWin 3-D header line: nx, xmin and xmax expected"),
      read("tw_b.edx", kTraceWinGrid + "1\n1\n2\n3\n", MeshForm::tracewin_3d,
           "(7): Too few values: the grid needs 8, the file holds 3"),
      read("tw_grid.esy", "1 0.1\n1 -0.01 0.01\n1 0 0.03\n1\n1 2 3 4 5 6 7 8\n",
           MeshForm::tracewin_3d,
           "(3): Its y coordinates, 2 from 0 to 0.03 m, are not those of " +
               dir_.file("tw_grid.esx") + ", 2 from 0 to 0.02 m"),
      {write(plane, MeshFormat::tracewin_3d),
       "TraceWin's 3-D files hold a 3-D rectangular map, of two points or more along x, y and z"},
      {write(wave, MeshFormat::astra_3d),
       "an ASTRA 3-D file is written of a static map only: ASTRA's time convention for 3-D "
       "cavity maps is not public"},
      {write(plane, MeshFormat::astra_3d),
       "an ASTRA 3-D file holds a 3-D rectangular map, of two points or more along x, y and z"},
      {write(plane, MeshFormat::impact_3d),
       "an Impact-T 3-D T7 file holds a 3-D rectangular map, of two points or more along x, y "
       "and z"},
      {write(wave, MeshFormat::t7),
       "a T7 file holds no 3-D map: take a plane of it or its cylindrical map (fieldmap's "
       "--plane or --cylindrical)"},
      {[&] { mesh_plane(wave, "y", 0.005); },
       "y = 0.005 m is no plane of the grid: its y points lie from -0.02 to 0.02 m every 0.01 m"},
      {[&] { mesh_plane(rz, "z", 0.1); },
       "a plane is taken of a rectangular map, and this one is cylindrical"},
      {[&] { mesh_cylindrical(mesh_plane(wave, "y", -0.01)); },
       "a cylindrical map is taken from the half-plane x >= 0 at y = 0, and the map has no y = 0: "
       "its only y is -0.01 m"},
      {[&] { mesh_cylindrical(mesh_plane(wave, "x", 0)); },
       "a cylindrical map is taken from the half-plane x >= 0 at y = 0, and the map has no point "
       "at x > 0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::thrown_text(c.body), c.error);
}

// The planes of a 3-D map: its points there, whatever the axis.
TEST(ThreeDSections, APlaneOfEachAxisHoldsTheMapsPointsThere) {
  const Map& m = kMaps[0];
  const FieldMesh map = map_3d(m.components, m.field, 0);
  for (const auto& [label, value, index] :
       {std::tuple{"x", 0.01, 3}, {"y", -0.02, 0}, {"z", 0.12, 2}}) {
    const FieldMesh plane = mesh_plane(map, label, value);
    const int across = label[0] - 'x';
    std::array<std::size_t, 3> sizes{};
    for (int a = 0; a < 3; ++a) {
      const MeshAxis& axis = plane.axes[static_cast<std::size_t>(a)];
      EXPECT_EQ(axis.points, a == across ? 1 : map.axes[static_cast<std::size_t>(a)].points);
      sizes[static_cast<std::size_t>(a)] = static_cast<std::size_t>(axis.points);
    }
    EXPECT_NEAR(plane.axes[static_cast<std::size_t>(across)].origin, value, 1e-15) << label;
    for (std::size_t n = 0; n < plane.point_count(); ++n) {
      std::array<std::size_t, 3> at{n / (sizes[1] * sizes[2]), n / sizes[2] % sizes[1],
                                    n % sizes[2]};
      at[static_cast<std::size_t>(across)] = static_cast<std::size_t>(index);
      const std::size_t k = (at[0] * 5 + at[1]) * 4 + at[2];
      EXPECT_EQ(plane.components.at(2).values[n], map.components.at(2).values[k]) << label << n;
    }
  }
}

// A cylindrical map takes every component there is, turned to r and theta, and tells how far the
// map departs from the symmetry about z.
TEST(ThreeDSections, CylindricalMapsTellTheirDepartureFromSymmetry) {
  struct Case {
    const Map& map;
    std::vector<std::string> components;
    double departure;
  };
  // Bz 1 + 0.5 x: at x = -0.02 m 0.99, where the map of x >= 0 gives 1.01 (its largest field).
  const Map tilted{
      "tilted",
      {{B, "z"}},
      [](std::size_t, double x, double, double) -> std::complex<double> { return 1 + 0.5 * x; },
      0};
  const std::vector<Case> cases = {
      {kMaps[0], {"electricField/r", "electricField/theta", "electricField/z"}, 0},
      {kMaps[1], {"magneticField/r", "magneticField/theta", "magneticField/z"}, 0},
      {kMaps[2],
       {"electricField/r", "electricField/theta", "electricField/z", "magneticField/r",
        "magneticField/theta"},
       0},
      {tilted, {"magneticField/z"}, 0.02 / 1.01},
  };
  for (const Case& c : cases) {
    const FieldMesh map = map_3d(c.map.components, c.map.field, c.map.frequency);
    const CylindricalMap rz = mesh_cylindrical(map);
    std::vector<std::string> names;
    for (const MeshComponent& component : rz.mesh.components)
      names.push_back(component.name());
    EXPECT_EQ(names, c.components) << c.map.what;
    EXPECT_NEAR(rz.departure, c.departure, 1e-13) << c.map.what;
    EXPECT_EQ(rz.mesh.source.notes.back().label, "symmetry") << c.map.what;
    // r from 0 to 2 cm, the row of x >= 0 at y = 0: (r, z) = (1 cm, 11 cm) is (x, y, z) there.
    EXPECT_EQ(rz.mesh.axes[0].points, 3) << c.map.what;
    EXPECT_EQ(rz.mesh.components.back().values[1 * 4 + 1],
              map.components.back().values[(3 * 5 + 2) * 4 + 1])
        << c.map.what;
  }
}

} // namespace
