// Impact-T's forms: the transform, the Fourier series and the spline against closed forms, the
// files read as the tracker reads them, written and read back, and every defect one line.
#include "mesh/axis_derivatives.h"
#include "mesh/fft.h"
#include "mesh/fourier_series.h"
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::read_file;
using test_support::TempDir;
using test_support::values_of;
using test_support::write_file;

namespace {

constexpr double PI = std::numbers::pi;

// An RF map of 11 z points from 0 to 10 cm by 2 r points: Ez a half sine of 1 MV/m peak on
// both rows, the rest 0.
std::string half_sine_t7() {
  std::string text = "0 10 10\n1300\n0 1 1\n";
  for (int row = 0; row < 2; ++row) {
    for (int k = 0; k <= 10; ++k) {
      const std::string e = std::to_string(std::sin(PI * k / 10));
      text += e + " 0 " + e + " 0\n";
    }
  }
  return text;
}

std::vector<double> samples_of(const std::function<double(double)>& f, double length,
                               std::size_t points) {
  std::vector<double> samples(points);
  for (std::size_t j = 0; j < points; ++j)
    samples[j] = f(length * static_cast<double>(j) / static_cast<double>(points - 1));
  return samples;
}

TEST(ImpactMaths, TransformsAreTheirSumsForEveryLength) {
  for (const std::size_t n :
       std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 17, 30, 97, 128, 202, 1000, 1009}) {
    std::vector<double> x(n);
    for (std::size_t j = 0; j < n; ++j)
      x[j] = std::sin(0.37 * static_cast<double>(j * j % 101)) + 0.1 * static_cast<double>(j % 7);
    const std::vector<std::complex<double>> fast = real_dft(x);
    ASSERT_EQ(fast.size(), n / 2 + 1) << n;
    for (std::size_t k = 0; k < fast.size(); ++k) {
      std::complex<double> sum = 0;
      for (std::size_t j = 0; j < n; ++j)
        sum += x[j] *
               std::polar(1.0, -2 * PI * static_cast<double>(j * k % n) / static_cast<double>(n));
      EXPECT_LT(std::abs(fast[k] - sum), 1e-11 * static_cast<double>(n)) << n << " " << k;
    }
  }
}

TEST(ImpactMaths, SeriesOfTrigonometricFieldsAreExact) {
  struct Case {
    std::size_t points;
    std::vector<double> values; // a0, a1, b1, ... of a field over 0.3 m, before its peak
    std::size_t fewest;         // values within 1e-3
  };
  const std::vector<Case> cases = {
      {401, {2, 0.5, 0, 0, 0.25}, 5},
      {101, {0, 0, -1}, 3},
      {64, {0.2, 0, 0, 0, 0, 0.3, 0.0005}, 7},
      {64, {0.2, 0.3, 0, 0, 0.0005}, 3},
      {2, {3}, 1},
  };
  for (const Case& c : cases) {
    const auto field = [&](double z) { return series_value(c.values, 0.3, z - 0.15); };
    const std::vector<double> samples = samples_of(field, 0.3, c.points);
    const FourierAnalysis analysis(samples);
    double peak = 0;
    for (const double f : samples)
      peak = std::max(peak, std::abs(f));
    EXPECT_EQ(analysis.peak(), peak) << c.points;
    const std::vector<double> values = analysis.values(c.values.size());
    for (std::size_t k = 0; k < c.values.size(); ++k)
      EXPECT_NEAR(values[k], c.values[k] / peak, 1e-13) << c.points << " " << k;
    EXPECT_LT(analysis.error(c.values.size()), 1e-13) << c.points;
    EXPECT_EQ(analysis.fewest_values(391, 1e-3), c.fewest) << c.points;
  }
}

TEST(ImpactMaths, ErrorIsTheRootMeanSquareOfTheSeriesOverTheSamples) {
  const std::vector<double> samples =
      samples_of([](double z) { return 0.2 + std::exp(-200 * (z - 0.1) * (z - 0.1)); }, 0.3, 301);
  const FourierAnalysis analysis(samples);
  for (const std::size_t count : std::vector<std::size_t>{1, 5, 21, 61}) {
    const std::vector<double> values = analysis.values(count);
    double squares = 0;
    for (std::size_t j = 0; j < samples.size(); ++j) {
      const double s = 0.3 * static_cast<double>(j) / 300 - 0.15;
      const double deviation = series_value(values, 0.3, s) - samples[j] / analysis.peak();
      squares += deviation * deviation;
    }
    EXPECT_NEAR(analysis.error(count), std::sqrt(squares / 301), 1e-12) << count;
  }
}

TEST(ImpactMaths, SplineDerivativesOfClosedForms) {
  struct Case {
    const char* what;
    std::function<AxisDerivatives(double)> field; // F, F', F'', F'''
    std::size_t points;
    double tolerance; // of F''' (and of the lower derivatives, times the step's powers)
  };
  const std::vector<Case> cases = {
      {"cubic",
       [](double z) {
         return AxisDerivatives{z * z * z - 2 * z, 3 * z * z - 2, 6 * z, 6};
       },
       6, 1e-9},
      {"quintic",
       [](double z) {
         return AxisDerivatives{std::pow(z, 5), 5 * std::pow(z, 4), 20 * z * z * z, 60 * z * z};
       },
       9, 1e-8},
      {"sine",
       [](double z) {
         return AxisDerivatives{std::sin(3 * z), 3 * std::cos(3 * z), -9 * std::sin(3 * z),
                                -27 * std::cos(3 * z)};
       },
       201, 2e-5},
  };
  for (const Case& c : cases) {
    const double step = 2.0 / static_cast<double>(c.points - 1);
    std::vector<double> samples;
    for (std::size_t j = 0; j < c.points; ++j)
      samples.push_back(c.field(step * static_cast<double>(j))[0]);
    const std::vector<AxisDerivatives> derivatives = axis_derivatives(samples, step);
    for (std::size_t j = 0; j < c.points; ++j) {
      const AxisDerivatives expected = c.field(step * static_cast<double>(j));
      for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(derivatives[j][k], expected[k], c.tolerance * (1 + std::abs(expected[k])))
            << c.what << " point " << j << " derivative " << k;
    }
    // Between two samples, the quintic of their values and two derivatives.
    const AxisDerivatives half = c.field(1.5 * step);
    EXPECT_NEAR(hermite_quintic(derivatives[1], derivatives[2], step, 0.5), half[0],
                c.tolerance * (1 + std::abs(half[0])))
        << c.what;
  }
}

class ImpactForms : public testing::Test {
protected:
  std::string file(const char* name, const std::string& text) const {
    const std::string path = dir_.file(name);
    write_file(path, text);
    return path;
  }

  TempDir dir_;
};

TEST_F(ImpactForms, FourierFileReadsAsTheTrackerReadsIt) {
  // Counts as reals, comments after slashes, D exponents, commas, a blank record; Ez a constant
  // plus one harmonic over 0.2 m, Bz a zero block.
  const std::string path = file("rfdata5", "3.0 / count\n-0.1,/ zstart\n0.1 0.5 / zend\n\n"
                                           "2D-1\n2\n0.5D0\n0.25\n1\n-0.1\n0.1\n0.2 / L\n0\n");
  MeshReadOptions options = test_support::at_frequency(1.3e9);
  options.points = 5;
  const FieldMesh mesh = read_mesh(path.c_str(), options);
  EXPECT_EQ(mesh.source.form, MeshForm::impact_fourier);
  EXPECT_EQ(mesh.axes[2].points, 5);
  EXPECT_EQ(mesh.axes[2].origin, -0.1);
  const auto ez = values_of(mesh, FieldKind::electric, "z");
  for (std::size_t k = 0; k < 5; ++k) {
    const double s = -0.1 + 0.05 * static_cast<double>(k);
    EXPECT_NEAR(ez[k].real(), 1 + 0.5 * std::cos(10 * PI * s) + 0.25 * std::sin(10 * PI * s), 1e-15)
        << k;
  }
  EXPECT_TRUE(values_of(mesh, FieldKind::magnetic, "z").empty());
  ASSERT_EQ(mesh.source.notes.size(), 3u);
  EXPECT_EQ(mesh.source.notes[0].text, "3 values, 1 harmonics, from -0.1 to 0.1 m, period 0.2 m");
  EXPECT_EQ(mesh.source.notes[1].text, "none (a zero block) from -0.1 to 0.1 m, period 0.2 m");
  // Written back: its own numbers.
  write_mesh_file(mesh, MeshFormat::impact_fourier, dir_.file("again").c_str());
  EXPECT_EQ(read_file(dir_.file("again")), "3\n-0.1\n0.1\n0.2\n2\n0.5\n0.25\n"
                                           "1\n-0.1\n0.1\n0.2\n0\n");
}

TEST_F(ImpactForms, BlocksOverTheirOwnIntervalsShareTheShorterBlocksSpacing) {
  const std::string path = file("rfdata6", "1\n0\n0.1\n0.1\n2\n1\n-0.2\n0.3\n0.5\n4\n");
  MeshReadOptions options = test_support::at_frequency(1.3e9);
  options.points = 3;
  const FieldMesh mesh = read_mesh(path.c_str(), options);
  EXPECT_EQ(mesh.axes[2].points, 11);
  EXPECT_EQ(mesh.axes[2].origin, -0.2);
  const auto ez = values_of(mesh, FieldKind::electric, "z");
  const auto bz = values_of(mesh, FieldKind::magnetic, "z");
  // Ez (1 from 0 to 0.1 m) is 0 outside its block; Bz (2 T) covers the whole grid.
  for (std::size_t k = 0; k < 11; ++k) {
    EXPECT_EQ(ez[k].real(), k >= 4 && k <= 6 ? 1 : 0) << k;
    EXPECT_EQ(bz[k], std::complex<double>(0, -2)) << k;
  }
}

TEST_F(ImpactForms, MapsWriteTheirGoldenFilesAndReadBack) {
  const FieldMesh map = read_mesh(file("map.t7", half_sine_t7()).c_str());
  struct Case {
    MeshFormat format;
    const char* golden;
    MeshWriteOptions options;
    std::vector<std::string> warnings;
    double tolerance; // of the peak
  };
  MeshWriteOptions mirrored;
  mirrored.mirror = true;
  mirrored.z_offset = 0.5;
  const std::vector<Case> cases = {
      {MeshFormat::impact_fourier,
       "impact-fourier-half-sine.txt",
       {},
       {test_support::about(dir_.file("impact-fourier-half-sine.txt")) +
        "the Fourier series of Ez, 9 values, deviates from the field by 0.016 of its peak "
        "(root-mean-square), more than 1e-3"},
       0.05},
      {MeshFormat::impact_derivative, "impact-derivative-half-sine.txt", mirrored, {}, 1e-12},
  };
  for (const Case& c : cases) {
    const std::string path = dir_.file(c.golden);
    const MeshWriteReport report = write_mesh_file(map, c.format, path.c_str(), c.options);
    EXPECT_EQ(report.warnings, c.warnings) << c.golden;
    EXPECT_EQ(read_file(path), test_support::golden_text(c.golden)) << c.golden;
    MeshReadOptions options = test_support::at_frequency(1.3e9);
    options.points = 11;
    const FieldMesh back = read_mesh(path.c_str(), c.format, options);
    const auto ez = values_of(back, FieldKind::electric, "z");
    const auto original = values_of(map, FieldKind::electric, "z");
    EXPECT_NEAR(back.axes[2].spacing, map.axes[2].spacing, 1e-15) << c.golden;
    // The series has peak 1; the samples are the map's own.
    const double scale = c.format == MeshFormat::impact_fourier ? 1e6 : 1;
    for (std::size_t k = 0; k < 11; ++k)
      EXPECT_NEAR(ez[ez.size() - 11 + k].real() * scale, original[k].real(), c.tolerance * 1e6)
          << c.golden;
  }
  // The T7 forms: the RF one is the T7 form's bytes; the solenoid's values are in T.
  write_mesh_file(map, MeshFormat::impact_t7, dir_.file("1T1.T7").c_str());
  write_mesh_file(map, MeshFormat::t7, dir_.file("map2.t7").c_str());
  EXPECT_EQ(read_file(dir_.file("1T1.T7")), read_file(dir_.file("map2.t7")));
  const std::string solenoid = file("1T2.T7", "0 1 1\n0 2 2\n0 1\n0.5 1.5\n0 2\n1 3\n0 4\n2 5\n");
  const FieldMesh magnet = read_mesh(solenoid.c_str(), MeshForm::impact_solenoid);
  EXPECT_EQ(values_of(magnet, FieldKind::magnetic, "z")[2], std::complex<double>(4, 0));
  write_mesh_file(magnet, MeshFormat::impact_solenoid, dir_.file("1T3.T7").c_str());
  EXPECT_EQ(read_file(dir_.file("1T3.T7")), read_file(solenoid));
}

TEST_F(ImpactForms, EveryDefectIsOneLine) {
  const FieldMesh map = read_mesh(file("map.t7", half_sine_t7()).c_str());
  const FieldMesh magnet =
      read_mesh(file("1T2.T7", "0 1 1\n0 2 2\n0 1\n0.5 1.5\n0 2\n1 3\n0 4\n2 5\n").c_str(),
                MeshForm::impact_solenoid);
  struct Case {
    std::function<void()> body;
    std::string error;
  };
  int files = 0;
  // Reading `text` in `form` fails with "<its path><error>".
  const auto read = [&](const std::string& text, MeshForm form, const std::string& error) {
    const std::string path = file(("defect" + std::to_string(++files)).c_str(), text);
    return Case{[path, form] { read_mesh(path.c_str(), form, test_support::at_frequency(1e9)); },
                path + error};
  };
  const auto write = [&](const FieldMesh& mesh, MeshFormat format, MeshWriteOptions options) {
    return [&mesh, format, options, this] {
      write_mesh_file(mesh, format, dir_.file("out").c_str(), options);
    };
  };
  MeshWriteOptions even;
  even.coefficients = 4;
  MeshWriteOptions many;
  many.coefficients = 393;
  MeshWriteOptions fine;
  fine.coefficients = 11;
  const std::string t7 = dir_.file("map.t7");
  const std::string magnet_file = dir_.file("1T2.T7");
  const std::vector<Case> cases = {
      read("1\n0\n0.1\n", MeshForm::impact_fourier,
           "(3): Unexpected end of file: Ez's period L expected"),
      read("1\n0\n0.1\nx\n", MeshForm::impact_fourier, "(4): Not a number: x"),
      read("1\n0\n0.1\n3*0.1\n", MeshForm::impact_fourier, "(4): Not a number: 3*0.1"),
      read("0\n0\n0.1\n0.1\n", MeshForm::impact_fourier,
           "(4): The Ez block's count is no count from 1 to 397: 0"),
      read("400\n0\n0.1\n0.1\n", MeshForm::impact_fourier,
           "(4): The Ez block's count is no count from 1 to 397: 400"),
      read("1\n0.1\n0\n0.1\n", MeshForm::impact_fourier,
           "(4): Ez's interval is not from a zstart to a larger zend: 0.1 0"),
      read("1\n0\n0.1\n0\n", MeshForm::impact_fourier,
           "(4): Ez's period L is no positive length: 0"),
      read("1\n0\n0.1\n0.1\n1e999\n", MeshForm::impact_fourier,
           "(5): Ez's coefficient: no finite number: inf"),
      read("2 0 1\n1 2 3 4\n1 2 /\n", MeshForm::impact_derivative,
           "(3): Too few values before the slash: Ez and its three derivatives needs 4"),
      read("10003 0 1\n", MeshForm::impact_derivative,
           "(1): The Ez block's point count is no count from 2 to 10002: 10003"),
      read("0 1 1\n0 2 2\n", MeshForm::impact_t7,
           "(2): Not a T7 header line: one number (the frequency in MHz) expected"),
      {write(map, MeshFormat::impact_fourier, even),
       t7 + ": an Impact-T Fourier file holds an odd count of values a block (a0, then pairs "
            "a_n, b_n), not 4"},
      {write(map, MeshFormat::impact_fourier, many),
       t7 + ": an Impact-T Fourier file holds at most 401 numbers, so at most 391 values a "
            "block for one field and a zero block, not 393"},
      {write(map, MeshFormat::impact_fourier, fine),
       t7 + ": the map's 10 intervals along the axis tell at most 4 harmonics apart, so at most "
            "9 values a block, not 11"},
      {write(magnet, MeshFormat::impact_derivative, {}),
       magnet_file + ": an Impact-T derivative file takes its derivatives from a spline of 6 "
                     "points or more, not 3"},
      {write(map, MeshFormat::impact_solenoid, {}),
       t7 + ": an Impact-T solenoid T7 file holds a static magnetic map round the axis (r, z)"},
      {write(magnet, MeshFormat::impact_t7, {}),
       magnet_file + ": an Impact-T RF T7 file holds an RF map"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::thrown_text(c.body), c.error);
}

} // namespace
