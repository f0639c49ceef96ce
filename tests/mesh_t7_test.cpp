// T7 grid files read as meshes: both kinds, whatever the line breaks, every defect one located
// error and never a partial mesh.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <complex>
#include <optional>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::TempDir;
using test_support::values_of;
using test_support::write_file;

namespace {

// An RF map of 3 z points by 2 r points, z fastest: point n is (Ez, Er, |E|, H) = (n, -n, n, 10n).
const std::string kRfMap = "50 52 2\n"
                           "175.715180667\n"
                           "0.5 1.5 1\n"
                           "0 -0 0 0\n1 -1 1 10\n2 -2 2 20\n"
                           "3 -3 3 30\n4 -4 4 40\n5 -5 5 50\n";

// A static map of 2 r points by 3 z points, r fastest: point n is (n, 100 + n).
const std::string kStaticMap = "0 1 1\n"
                               "10 12 2\n"
                               "0 100\n1 101\n2 102\n3 103\n4 104\n5 105\n";

FieldMesh read_text(const std::string& text, const MeshReadOptions& options = {}) {
  TempDir dir;
  const std::string path = dir.file("map.t7");
  write_file(path, text);
  return read_t7_mesh(path.c_str(), options);
}

MeshReadOptions magnetic() {
  MeshReadOptions options;
  options.field = FieldKind::magnetic;
  return options;
}

TEST(T7Mesh, RfMapHoldsEAndBThetaInSiUnitsInTheFilesOrder) {
  const FieldMesh mesh = read_text(kRfMap);
  EXPECT_EQ(mesh.geometry, MeshGeometry::cylindrical);
  EXPECT_EQ(mesh.source.form, MeshForm::t7);
  EXPECT_EQ(mesh.source.problem, ProblemKind::rf);
  EXPECT_EQ(mesh.frequency, 175.715180667 * 1e6);
  EXPECT_EQ(mesh.harmonic, 1);
  EXPECT_EQ(mesh.axes[0].label, "r");
  EXPECT_EQ(mesh.axes[0].points, 2);
  EXPECT_EQ(mesh.axes[0].origin, 0.5 / 100);
  EXPECT_EQ(mesh.axes[0].spacing, 1.0 / 100);
  EXPECT_EQ(mesh.axes[1].points, 1);
  EXPECT_EQ(mesh.axes[2].points, 3);
  EXPECT_EQ(mesh.axes[2].origin, 0.5);
  EXPECT_EQ(mesh.axes[2].spacing, 1.0 / 100);
  ASSERT_EQ(mesh.components.size(), 3u);
  // The mesh's order is the file's: nr rows of nz values.
  const auto ez = values_of(mesh, FieldKind::electric, "z");
  const auto er = values_of(mesh, FieldKind::electric, "r");
  const auto b_theta = values_of(mesh, FieldKind::magnetic, "theta");
  for (std::size_t n = 0; n < 6; ++n) {
    const double x = static_cast<double>(n);
    EXPECT_EQ(ez[n], std::complex<double>(x * 1e6, 0)) << n;
    EXPECT_EQ(er[n], std::complex<double>(-x * 1e6, 0)) << n;
    EXPECT_EQ(b_theta[n], std::complex<double>(0, -(MESH_MU0 * 10 * x))) << n;
  }
}

TEST(T7Mesh, StaticMapIsTurnedIntoTheMeshsOrder) {
  struct Case {
    const char* what;
    std::optional<MeshGeometry> geometry;
    FieldKind field;
    const char* first;  // the axis of line 1 and of the first value
    const char* second; // the axis of line 2 and of the second value
    double factor;
  };
  for (const Case& c :
       {Case{"magnetic", {}, FieldKind::magnetic, "r", "z", 1e-4},
        Case{"electric", {}, FieldKind::electric, "r", "z", 100},
        Case{"planar", MeshGeometry::rectangular, FieldKind::magnetic, "x", "y", 1e-4}}) {
    MeshReadOptions options;
    options.field = c.field;
    options.geometry = c.geometry;
    const FieldMesh mesh = read_text(kStaticMap, options);
    const std::size_t slow = 0;
    const std::size_t fast = c.geometry ? 1 : 2;
    EXPECT_EQ(mesh.axes[slow].label, c.first) << c.what;
    EXPECT_EQ(mesh.axes[slow].points, 2) << c.what;
    EXPECT_EQ(mesh.axes[fast].label, c.second) << c.what;
    EXPECT_EQ(mesh.axes[fast].points, 3) << c.what;
    EXPECT_EQ(mesh.axes[fast].origin, 0.1) << c.what;
    EXPECT_EQ(mesh.frequency, 0) << c.what;
    EXPECT_EQ(mesh.harmonic, 0) << c.what;
    const auto along_first = values_of(mesh, c.field, c.first);
    const auto along_second = values_of(mesh, c.field, c.second);
    ASSERT_EQ(along_first.size(), 6u) << c.what;
    // File point n = i_second * 2 + i_first sits at i_first * 3 + i_second.
    for (std::size_t n = 0; n < 6; ++n) {
      const std::size_t index = (n % 2) * 3 + n / 2;
      const double x = static_cast<double>(n);
      EXPECT_EQ(along_first[index], std::complex<double>(x * c.factor, 0)) << c.what << n;
      EXPECT_EQ(along_second[index], std::complex<double>((100 + x) * c.factor, 0)) << c.what << n;
    }
  }
}

TEST(T7Mesh, ValuesAreOneStreamWhateverTheLineBreaks) {
  const FieldMesh plain = read_text(kRfMap);
  const std::vector<std::pair<const char*, std::string>> layouts = {
      {"CR LF", "50 52 2\r\n175.715180667\r\n0.5 1.5 1\r\n0 -0 0 0\r\n1 -1 1 10\r\n2 -2 2 20\r\n"
                "3 -3 3 30\r\n4 -4 4 40\r\n5 -5 5 50\r\n"},
      {"wrapped", "50 52 2\n175.715180667\n0.5 1.5 1\n0 -0\n0 0\n1\n-1 1\n10 2 -2 2\n20\n"
                  "3 -3 3 30\n4 -4 4 40\n5 -5 5 50"},
      {"one line", "50 52 2\n175.715180667\n0.5 1.5 1\n0 -0 0 0 1 -1 1 10 2 -2 2 20 3 -3 3 30 "
                   "4 -4 4 40 5 -5 5 50\n\n\n"},
      {"tabs and blanks", "  50\t52 2  \n175.715180667\n0.5 1.5 1\n\n  0 -0 0 0\n1 -1 1 10\n"
                          "\t2 -2 2 20\n3 -3 3 30\n4 -4 4 40\n5 -5 5 50    \n"},
  };
  for (const auto& [what, text] : layouts) {
    const FieldMesh mesh = read_text(text);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(values_of(mesh, mesh.components[k].field, mesh.components[k].axis.c_str()),
                values_of(plain, plain.components[k].field, plain.components[k].axis.c_str()))
          << what;
    }
  }
}

TEST(T7Mesh, EveryDefectIsOneLocatedError) {
  struct Case {
    const char* what;
    std::string text;
    std::string message; // after "<path>"
  };
  const std::vector<Case> cases = {
      {"empty", "", "(0): Not a T7 header line: three numbers (min, max and intervals) expected"},
      {"line 1 short", "50 52\n1\n0 1 1\n",
       "(1): Not a T7 header line: three numbers (min, max and intervals) expected"},
      {"line 2 of two", "50 52 2\n1 2\n0 1 1\n",
       "(2): Not a T7 header line: one number (the frequency in MHz) or three (min, max and "
       "intervals) expected"},
      {"line 3 of four", "50 52 2\n1\n0 1 1 1\n",
       "(3): Not a T7 header line: three numbers (min, max and intervals) expected"},
      {"no intervals", "50 52 0\n1\n0 1 1\n",
       "(1): Interval count is no whole number from 1 on: 0"},
      {"half interval", "50 52 2\n1\n0 1 1.5\n",
       "(3): Interval count is no whole number from 1 on: 1.5"},
      {"reversed range", "52 50 2\n1\n0 1 1\n",
       "(1): Range is not from a minimum to a larger maximum: 52 50"},
      {"no frequency", "50 52 2\n-1\n0 1 1\n", "(2): Frequency is no positive number: -1"},
      {"grid too large", "0 1 100000\n1\n0 1 100000\n",
       "(3): Grid too large: 100001*100001 points"},
      {"a word", "50 52 2\n1\n0 1 1\n0 0 0 0\n1 x 1 1\n", "(5): Not a number: x"},
      {"a glued word", "50 52 2\n1\n0 1 1\n0 0 0 0\n1 1.5e3V 1 1\n", "(5): Not a number: 1.5e3V"},
      {"too few", kRfMap.substr(0, kRfMap.size() - 3) + "\n",
       "(9): Too few values: the grid needs 24, the file holds 23"},
      {"too many", kRfMap + "\n\n7\n", "(12): Too many values: the grid needs 24"},
      {"range too wide", "-1.7e308 1.7e308 2\n1\n0 1 1\n",
       "(1): Range too wide: -1.7e+308 1.7e+308"},
      {"frequency out of range", "50 52 2\n1e305\n0 1 1\n", "(2): Frequency out of range: 1e+305"},
      {"value out of range", "50 52 2\n1\n0 1 1\n0 0 0 0\n1e305 0 0 0\n",
       "(5): Value out of range: 1e+305"},
      {"value out of range, wrapped", "50 52 2\n1\n0 1 1\n0 0 0\n0\n1\n-1e303 0 0\n2 2 2 2\n",
       "(7): Value out of range: -1e+303"},
      {"a zero byte", std::string("50 52 2\n1\n0 1 1\n0 0 0 0\n1 2\0003 1 1\n", 34),
       "(5): Not a number: 2\\x003"},
      {"a word longer than the buffer", kRfMap.substr(0, 41) + std::string(1100000, '7') + "\n",
       "(5): Not a number: " + std::string(40, '7') + "..."},
      {"a word after the buffer's part of a line",
       kRfMap.substr(0, 41) + "1" + std::string(1100000, ' ') + "x\n", "(5): Not a number: x"},
  };
  TempDir dir;
  const std::string path = dir.file("map.t7");
  for (const Case& c : cases) {
    write_file(path, c.text);
    EXPECT_EQ(test_support::thrown_text([&] { read_t7_mesh(path.c_str(), magnetic()); }),
              path + c.message)
        << c.what;
  }
}

TEST(T7Mesh, ChoicesTheFileLeavesOpenMustBeMade) {
  TempDir dir;
  const std::string path = dir.file("map.t7");
  write_file(path, kStaticMap);
  EXPECT_EQ(test_support::thrown_text([&] { read_t7_mesh(path.c_str()); }),
            path + ": a static T7 file does not say which field it holds: give the field, "
                   "electric or magnetic");
  write_file(path, kRfMap);
  MeshReadOptions planar;
  planar.geometry = MeshGeometry::rectangular;
  EXPECT_EQ(test_support::thrown_text([&] { read_t7_mesh(path.c_str(), planar); }),
            path + ": an RF T7 file holds a cylindrical map");
}

} // namespace
