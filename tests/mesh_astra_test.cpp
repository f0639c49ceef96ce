// ASTRA's 1-D files: a cavity's Ez or a solenoid's Bz along z, read on its own positions or
// resampled, written so that it reads back as the same field, and every defect one line.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::mesh_of_text;
using test_support::written_text;

namespace {

// A cavity at 187 MHz, or the field asked for, on the points asked for.
MeshReadOptions reading(std::optional<FieldKind> field, std::optional<std::int64_t> resample) {
  MeshReadOptions options = resample ? test_support::resampled_on(*resample) : MeshReadOptions{};
  options.frequency = 1.87e8;
  options.field = field;
  return options;
}

TEST(AstraMesh, PairsReadAsACavityOrASolenoid) {
  struct Case {
    std::string text;
    MeshReadOptions options;
    ProblemKind problem;
    std::vector<double> values;
    double step;
  };
  const std::vector<Case> cases = {
      {"0\t1.5E+07\n0.001\t1e7\n0.002\t-5e6\n",
       reading({}, {}),
       ProblemKind::rf,
       {1.5e7, 1e7, -5e6},
       0.001},
      {"\n-0.1 0.5\r\n\r\n0 0.25\r\n",
       reading(FieldKind::magnetic, {}),
       ProblemKind::magnetostatic,
       {0.5, 0.25},
       0.1},
      // A natural cubic spline through three points of a straight line is that line.
      {"0 0\n1 1\n3 3\n", reading({}, 4), ProblemKind::rf, {0, 1, 2, 3}, 1},
  };
  for (const Case& c : cases) {
    const FieldMesh mesh = mesh_of_text(c.text, MeshForm::astra, c.options);
    EXPECT_EQ(mesh.source.problem, c.problem) << c.text;
    EXPECT_EQ(mesh.axes[2].points, static_cast<std::int64_t>(c.values.size())) << c.text;
    EXPECT_DOUBLE_EQ(mesh.axes[2].spacing, c.step) << c.text;
    const auto values = test_support::values_of(
        mesh, c.problem == ProblemKind::rf ? FieldKind::electric : FieldKind::magnetic, "z");
    ASSERT_EQ(values.size(), c.values.size()) << c.text;
    for (std::size_t k = 0; k < values.size(); ++k)
      EXPECT_NEAR(values[k].real(), c.values[k], 1e-12 * std::abs(c.values[0])) << c.text;
  }
}

TEST(AstraMesh, EveryDefectIsOneLocatedError) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0 1\n0.5 2\n1.5 4\n",
       "(3): Uneven step: 1 m after steps of 0.5 m (resample the map on equally spaced points "
       "to read it)"},
      {"0 1\n0.5 2\n0.5 4\n", "(3): Position does not increase: 0.5 m after 0.5 m"},
      {"0 1 2\n", "(1): 3 numbers, where a line holds two (z in m and the field)"},
      {"0 0.1 12 3\n0 1\n", "(1): A travelling-wave file (z1 z2 n m before the pairs) is not read, "
                            "only a standing wave's or a solenoid's"},
      {"0 1\n", "(1): Fewer than two points: a field along the axis needs two or more"},
      {"0 1\n1 inf\n", "(2): Not a finite number: inf"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(test_support::reading_error(text, MeshForm::astra, reading({}, {})), message) << text;
  }
  EXPECT_EQ(test_support::reading_error("0 1\n1 2\n", MeshForm::astra),
            ": an ASTRA cavity file states no frequency: give the frequency in Hz");
  EXPECT_EQ(test_support::reading_error("0 1\n1 2\n", MeshForm::astra, reading({}, 1)),
            ": a map is resampled on 2 to 536870911 points, not 1");
}

TEST(AstraMesh, WhatIsWrittenReadsBackAndTheGoldenFileHoldsIt) {
  const FieldMesh rf = mesh_of_text(test_support::rf_t7_text(), MeshForm::t7);
  const std::string text = written_text(rf, MeshForm::astra);
  EXPECT_EQ(text, test_support::golden_text("astra-rf.txt"));
  EXPECT_EQ(written_text(mesh_of_text(text, MeshForm::astra, reading({}, {})), MeshForm::astra),
            text);
  FieldMesh zero = mesh_of_text(test_support::rf_t7_text(), MeshForm::t7);
  scale_mesh(zero, 0);
  EXPECT_EQ(written_text(zero, MeshForm::astra),
            ": the field on the axis is 0 everywhere, which the tracker divides by");
}

} // namespace
