// OPAL's maps: every type read as the tracker reads it, written so that it reads back as the same
// map, and every defect or refusal one line.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <complex>
#include <string>
#include <tuple>
#include <vector>

using namespace norvalex;
using test_support::mesh_of_text;
using test_support::resampled_on;
using test_support::written_text;

namespace {

TEST(OpalMesh, EveryTypeReadsAsTheTrackerReadsIt) {
  struct Case {
    std::string text;
    MeshForm form;
    ProblemKind problem;
    std::array<double, 4> grid; // r points, z points, z origin, z spacing
    FieldKind field;
    const char* axis;
    std::size_t index;
    std::complex<double> value;
    MeshReadOptions options = {};
  };
  const double h = MESH_MU0;
  // clang-format off
  const std::vector<Case> cases = {
      {"# gun\n\n1DDynamic 3 true # terms\n0 2 2 # z\n1300\n0 1 1\n1.5\n-2\n3e-1\n# end\n\n",
       MeshForm::opal_1d, ProblemKind::rf, {1, 3, 0, 0.01}, FieldKind::electric, "z", 1, -2e6},
      {"1DMagnetoStatic 2 FALSE\n-1 1 1\n0 1 1\n0.5\n0.25\n", MeshForm::opal_1d,
       ProblemKind::magnetostatic, {1, 2, -0.01, 0.02}, FieldKind::magnetic, "z", 1, 0.25},
      {"1DElectroStatic 2\r\n0 1 1\r\n0 1 1\r\n2\r\n3\r\n", MeshForm::opal_1d,
       ProblemKind::electrostatic, {1, 2, 0, 0.01}, FieldKind::electric, "z", 0, 2e6},
      {"2DDynamic XZ\n0 1 1\n1300\n0 1 1\n1 2 3 4\n5 6 7 8\n9 10 11 12\n13 14 15 16\n",
       MeshForm::opal_2d, ProblemKind::rf, {2, 2, 0, 0.01}, FieldKind::magnetic, "theta", 3,
       {0, -16 * h}},
      // r fastest, H from the third word; rbegin 1 is at the axis.
      {"2DDynamic ZX FALSE\n1 2 1\n1300\n0 1 1\n1 2 3 4\n5 6 7 8\n9 10 11 12\n13 14 15 16\n",
       MeshForm::opal_2d, ProblemKind::rf, {2, 2, 0, 0.01}, FieldKind::magnetic, "theta", 2,
       {0, -7 * h}},
      {"2DElectroStatic XZ\n0 2 1\n0 1 1\n1 2\n3 4\n5 6\n7 8\n", MeshForm::opal_2d,
       ProblemKind::electrostatic, {2, 2, 0, 0.02}, FieldKind::electric, "r", 1, 4e6},
      {"2DMagnetoStatic ZX \n0 1 1\n0 2 1\n1 2\n3 4\n5 6\n7 8\n", MeshForm::opal_2d,
       ProblemKind::magnetostatic, {2, 2, 0, 0.02}, FieldKind::magnetic, "z", 2, 4},
      {"AstraDynamic 10\n1300\n0 1\n0.5 2\n1 3\n", MeshForm::opal_1d, ProblemKind::rf,
       {1, 3, 0, 0.5}, FieldKind::electric, "z", 2, 3},
      {"AstraMagnetoStatic 10\n0 1\n0.5 2\n1.5 4\n", MeshForm::opal_1d,
       ProblemKind::magnetostatic, {1, 4, 0, 0.5}, FieldKind::magnetic, "z", 1, 2,
       resampled_on(4)},
  };
  // clang-format on
  for (const Case& c : cases) {
    const FieldMesh mesh = mesh_of_text(c.text, MeshForm::opal_1d, c.options);
    EXPECT_EQ(mesh.source.form, c.form) << c.text;
    EXPECT_EQ(mesh.source.problem, c.problem) << c.text;
    EXPECT_EQ(mesh.axes[0].points, c.grid[0]) << c.text;
    EXPECT_EQ(mesh.axes[0].origin, 0) << c.text;
    EXPECT_EQ(mesh.axes[2].points, c.grid[1]) << c.text;
    EXPECT_EQ(mesh.axes[2].origin, c.grid[2]) << c.text;
    EXPECT_DOUBLE_EQ(mesh.axes[2].spacing, c.grid[3]) << c.text;
    EXPECT_EQ(mesh.frequency, c.problem == ProblemKind::rf ? 1.3e9 : 0) << c.text;
    const auto values = test_support::values_of(mesh, c.field, c.axis);
    ASSERT_GT(values.size(), c.index) << c.text;
    EXPECT_EQ(values[c.index], c.value) << c.text;
  }
}

TEST(OpalMesh, EveryDefectIsOneLocatedError) {
  const std::string head = "1DMagnetoStatic 2\n0 1 1\n0 1 1\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"# only a comment\n", "(1): Not an OPAL map: no type line"},
      {"3DDynamic XYZ\n", "(1): Not an OPAL map of a type read here: \"3DDynamic\" (1DDynamic, "
                          "1DMagnetoStatic, 1DElectroStatic, 2DDynamic, 2DElectroStatic, "
                          "2DMagnetoStatic, AstraDynamic, AstraMagnetoStatic)"},
      {"1DDynamic\n", "(1): 1 word, where the line holds 2 or 3 (the type, its Fourier terms, "
                      "then TRUE or FALSE)"},
      {"1DDynamic 40.0\n", "(1): Not an integer: \"40.0\" (the Fourier terms)"},
      {"1DDynamic 0\n", "(1): Fourier terms fewer than 1: 0"},
      {"1DDynamic 4 yes\n", "(1): TRUE or FALSE expected at the end of the type line: \"yes\""},
      {"2DDynamic YZ\n", "(1): XZ or ZX expected after the type: \"YZ\""},
      {"1DMagnetoStatic 2\n0 1 1.0\n", "(2): Not an integer: \"1.0\" (a count of intervals)"},
      {"1DMagnetoStatic 2\n0 1 0\n", "(2): Interval count is no whole number from 1 on: 0"},
      {"1DDynamic 2\n0 1 1\n0\n", "(3): Frequency is no positive number: 0"},
      {head + "1\n2 3\n", "(5): 2 words, where the line holds exactly 1 (Bz in T)"},
      {head + "1\n1D-3\n", "(5): Not a number: \"1D-3\""},
      {head + "1\ninf\n", "(5): Not a number: \"inf\""},
      {head + "1\n1e400\n", "(5): Not a number: \"1e400\""},
      {head + "1\n", "(4): Unexpected end of file: a line of Bz in T expected"},
      {head + "1\n2\n3\n", "(6): More lines than the header's grid of 2 values"},
      {head + "1\n" + std::string(256, ' ') + "2\n",
       "(5): Line longer than 255 characters, which the tracker's reader does not take"},
      {"2DElectroStatic XZ\n0 1 1\n0 1 1\n1 1e303\n", "(4): Value out of range: 1e+303"},
      {"AstraMagnetoStatic 3\n0 1\n0.5 2\n1.5 4\n",
       "(4): Uneven step: 1 m after steps of 0.5 m (resample the map on equally spaced points "
       "to read it)"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(test_support::reading_error(text, MeshForm::opal_2d), message) << text;
}

// The fixtures' maps: RF and electric as they are, and the electric map's values as a magnetic one.
std::vector<FieldMesh> two_d_maps() {
  std::vector<FieldMesh> maps;
  maps.push_back(mesh_of_text(test_support::rf_t7_text(), MeshForm::t7));
  for (FieldKind field : {FieldKind::electric, FieldKind::magnetic})
    maps.push_back(mesh_of_text(test_support::electric_t7_text(), MeshForm::t7,
                                test_support::of_field(field)));
  return maps;
}

TEST(OpalMesh, WhatIsWrittenReadsBackAsTheSameMap) {
  for (const FieldMesh& map : two_d_maps()) {
    const FieldMesh two_d = mesh_of_text(written_text(map, MeshForm::opal_2d), MeshForm::opal_2d);
    test_support::expect_same_mesh(map, two_d, 0, false, "opal-2d");
    // The axis, written as OPAL and as ASTRA, is the same field.
    const std::string axis = written_text(map, MeshForm::astra);
    const FieldMesh one_d = mesh_of_text(written_text(map, MeshForm::opal_1d), MeshForm::opal_1d);
    EXPECT_EQ(written_text(one_d, MeshForm::astra), axis);
  }
}

TEST(OpalMesh, SmallMapsAreWrittenAsTheGoldenFilesHoldThem) {
  const FieldMesh rf = mesh_of_text(test_support::rf_t7_text(), MeshForm::t7);
  EXPECT_EQ(written_text(rf, MeshForm::opal_2d), test_support::golden_text("opal-2d-rf.txt"));
  MeshWriteOptions options;
  options.normalize_word = false;
  options.mirror = true;
  options.z_offset = 0.5;
  EXPECT_EQ(written_text(rf, MeshForm::opal_1d, options),
            test_support::golden_text("opal-1d-rf.txt"));
}

TEST(OpalMesh, MapsTheFormsCannotHoldAreRefused) {
  FieldMesh off_axis = mesh_of_text(test_support::electric_t7_text(), MeshForm::t7,
                                    test_support::of_field(FieldKind::magnetic));
  off_axis.axes[0].origin = 0.01;
  FieldMesh zero = mesh_of_text(test_support::electric_t7_text(), MeshForm::t7,
                                test_support::of_field(FieldKind::magnetic));
  scale_mesh(zero, 0);
  FieldMesh unknown = mesh_of_text(test_support::rf_t7_text(), MeshForm::t7);
  unknown.frequency = 0;
  const FieldMesh line = mesh_of_text(written_text(unknown, MeshForm::astra), MeshForm::astra,
                                      test_support::at_frequency(1e9));
  const std::vector<std::tuple<const FieldMesh*, MeshForm, std::string>> cases = {
      {&line, MeshForm::opal_2d, ": an OPAL 2-D map needs two points or more along r and along z"},
      {&off_axis, MeshForm::opal_2d,
       ": an OPAL 2-D map starts at the axis, and the map's r starts at 0.01 m (the tracker "
       "would put its first row at r = 0)"},
      {&zero, MeshForm::opal_2d,
       ": the field on the axis is 0 everywhere, which the tracker divides by under TRUE: write "
       "the map with FALSE"},
      {&unknown, MeshForm::opal_1d,
       ": the map states no frequency, which an OPAL 1DDynamic map "
       "holds: give the frequency in Hz"},
  };
  for (const auto& [mesh, form, message] : cases)
    EXPECT_EQ(written_text(*mesh, form), message) << message;
}

} // namespace
