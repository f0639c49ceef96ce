// Meshes written in every form that can hold them and read back: the same grid, attributes and
// values, bit for bit where the form keeps doubles as they are, and to the last few bits where
// it holds them in other units.
#include "norvalex/mesh.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::TempDir;
using test_support::write_file;

namespace {

// An RF map of 4 z points by 3 r points from r = 0, z fastest: (Ez, Er, |E|, H) per point.
const std::string kRfT7 = "10 13 3\n"
                          "1300.5\n"
                          "0 2 2\n"
                          "30.25 0 30.25 0\n29.5 0 29.5 0\n28.75 0 28.75 0\n27 0 27 0\n"
                          "29.9 1.5 29.94 150\n29.1 1.25 29.13 155\n28.3 1.125 28.33 160\n"
                          "26.6 1 26.62 165\n"
                          "29.4 2.75 29.53 300\n28.6 2.5 28.71 305\n27.9 2.25 27.99 310\n"
                          "26.1 2 26.18 315\n";

const std::string kRfT7WithNan =
    "10 13 3\n1300.5\n0 2 2\n" + kRfT7.substr(kRfT7.find("30.25 0 30.25 0")).replace(0, 5, "nan");

// A static magnetic map of 3 r points by 2 z points, r fastest: (Br, Bz) in G.
const std::string kStaticT7 = "0 1 2\n"
                              "-5 5 1\n"
                              "0 1200\n12.5 1190\n25 1150.25\n0 1300\n-12.5 1310.75\n-25 1320\n";

// An electrostatic SF7 table with the potential, R fastest as the solver writes them.
const std::string kStaticSf7 = "Poisson\nProgram SF7\n\n"
                               "(Rmin,Zmin) = (0.0,1)\n"
                               "(Rmax,Zmax) = (2,2)\n"
                               "R and Z increments: 2 1\n\n"
                               " R Z Er Ez |E| V\n"
                               " (cm) (cm) (V/cm) (V/cm) (V/cm) (V)\n"
                               " 0 1 0 100 100 10\n 1 1 5 101 101.1 11\n 2 1 10 102 102.5 12\n"
                               " 0 2 0 110 110 20\n 1 2 6 111 111.2 21\n 2 2 12 112 112.6 22\n";

// A map of 41 x 1001 points, more than the writers format on one thread: RF (Ez, Er, |E|, H) or
// static (two fields), with values of many digits.
std::string large_t7(bool rf) {
  std::string text = rf ? "0 100 1000\n1300\n0 4 40\n" : "0 4 40\n0 100 1000\n";
  char line[128];
  for (int n = 0; n < 41 * 1001; ++n) {
    const double a = std::sin(n * 1e-3) * 30, b = std::cos(n * 7e-4) / 3;
    std::snprintf(line, sizeof line, rf ? "%.9g %.9g %.9g %.9g\n" : "%.9g %.9g\n", a, b,
                  std::hypot(a, b), b * 1e3);
    text += line;
  }
  return text;
}
const std::string kLargeRfT7 = large_t7(true), kLargeStaticT7 = large_t7(false);

struct Source {
  const char* what;
  const std::string& text;
  const char* extension;
  MeshReadOptions options;
};

MeshReadOptions with_field(FieldKind field, std::optional<MeshGeometry> geometry = {}) {
  MeshReadOptions options;
  options.field = field;
  options.geometry = geometry;
  return options;
}

// The largest size of a component's values.
double largest_value(const MeshComponent& component) {
  double largest = 0;
  for (std::size_t k = 0; k < component.values.size(); ++k)
    largest = std::max(largest, std::abs(component.values[k]));
  return largest;
}

// Every attribute, axis, component and column of `b` equal to `a`'s within `relative` of the
// largest value (0: bit for bit).
void expect_same_mesh(const FieldMesh& a, const FieldMesh& b, double relative,
                      const std::string& what) {
  EXPECT_EQ(a.geometry, b.geometry) << what;
  EXPECT_EQ(a.frequency, b.frequency) << what;
  EXPECT_EQ(a.harmonic, b.harmonic) << what;
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(a.axes[k].label, b.axes[k].label) << what;
    EXPECT_EQ(a.axes[k].points, b.axes[k].points) << what << " axis " << k;
    const double length_room = 1e-12 * std::max(a.axes[k].spacing, 1e-3);
    EXPECT_NEAR(a.axes[k].origin, b.axes[k].origin, length_room) << what << " axis " << k;
    EXPECT_NEAR(a.axes[k].spacing, b.axes[k].spacing, length_room) << what << " axis " << k;
    if (relative == 0) {
      EXPECT_EQ(a.axes[k].origin, b.axes[k].origin) << what << " axis " << k;
      EXPECT_EQ(a.axes[k].spacing, b.axes[k].spacing) << what << " axis " << k;
    }
  }
  for (const MeshComponent& component : a.components) {
    const double room = relative * largest_value(component);
    const MeshComponent* other = b.component(component.field, component.axis);
    ASSERT_NE(other, nullptr) << what << ": " << component.name();
    ASSERT_EQ(other->values.size(), component.values.size()) << what;
    for (std::size_t k = 0; k < component.values.size(); ++k) {
      const std::complex<double> x = component.values[k];
      if (std::isnan(x.real()) && std::isnan(other->values[k].real()))
        continue; // a value that is no number stays one
      if (relative == 0) {
        EXPECT_EQ(other->values[k], component.values[k]) << what << " " << component.name() << k;
      } else {
        EXPECT_LE(std::abs(other->values[k] - component.values[k]), room)
            << what << " " << component.name() << k;
      }
    }
  }
  // A form may add components of zeros, never leave one out or change one.
  for (const MeshComponent& component : b.components) {
    if (a.component(component.field, component.axis) == nullptr) {
      for (std::size_t k = 0; k < component.values.size(); ++k)
        EXPECT_EQ(component.values[k], std::complex<double>(0, 0)) << what << component.name();
    }
  }
}

TEST(MeshRoundTrip, EveryFormReadsBackWhatWasWritten) {
  const std::vector<Source> sources = {
      {"RF T7", kRfT7, ".t7", {}},
      {"static T7", kStaticT7, ".t7", with_field(FieldKind::magnetic)},
      {"planar electric T7", kStaticT7, ".t7",
       with_field(FieldKind::electric, MeshGeometry::rectangular)},
      {"static SF7", kStaticSf7, ".sf7", {}},
      // A value that is no number has no phase, and does not make a travelling wave.
      {"RF T7 with a NaN", kRfT7WithNan, ".t7", {}},
      {"large RF T7", kLargeRfT7, ".t7", {}},
      {"large static T7", kLargeStaticT7, ".t7", with_field(FieldKind::electric)},
  };
  struct Via {
    MeshFormat format;
    const char* extension;
    double relative; // what the form's own units leave of the last bits
  };
  std::vector<Via> vias = {{MeshFormat::t7, ".t7", 0}, {MeshFormat::tqs, ".tqs", 1e-14}};
  if (mesh_has_openpmd())
    vias.push_back({MeshFormat::openpmd, ".h5", 0});
  TempDir dir;
  for (const Source& source : sources) {
    const std::string input = dir.file(std::string("in") + source.extension);
    write_file(input, source.text);
    const FieldMesh mesh = read_mesh(input.c_str(), source.options);
    for (const Via& via : vias) {
      const std::string what = std::string(source.what) + " via " + via.extension;
      const std::string path = dir.file(std::string("out") + via.extension);
      write_mesh_file(mesh, via.format, path.c_str());
      // What a T7 or TQS file does not say: an RF map's frequency, a static map's field and
      // geometry.
      MeshReadOptions again;
      if (mesh.frequency != 0)
        again.frequency = mesh.frequency;
      else
        again.field = mesh.components.at(0).field;
      again.geometry = mesh.geometry;
      const FieldMesh back = read_mesh(path.c_str(), again);
      // An SF7 table's extra column V travels only where columns go.
      if (via.format == MeshFormat::tqs || mesh.columns.empty()) {
        EXPECT_EQ(back.columns.size(), mesh.columns.size()) << what;
      }
      expect_same_mesh(mesh, back, via.relative, what);
    }
  }
}

TEST(MeshRoundTrip, OnAxisFileHoldsTheRowAtRZero) {
  TempDir dir;
  const std::string input = dir.file("in.t7");
  write_file(input, kRfT7);
  const FieldMesh mesh = read_t7_mesh(input.c_str());
  const std::string path = dir.file("axis.txt");
  write_mesh_file(mesh, MeshFormat::on_axis, path.c_str());
  // Positions are the origin and whole steps, each number in its shortest round-trip form.
  EXPECT_EQ(test_support::read_file(path), "0.1 30250000\n0.11 29500000\n0.12000000000000001 "
                                           "28750000\n0.13 2.7e+07\n");
  // Into a caller's stream, the same bytes.
  const std::string streamed = dir.file("streamed.txt");
  std::FILE* stream = std::fopen(streamed.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  write_mesh(mesh, MeshFormat::on_axis, stream, "-");
  std::fclose(stream);
  EXPECT_EQ(test_support::read_file(streamed), test_support::read_file(path));
  const OnAxisPeak peak = on_axis_peak(mesh);
  EXPECT_EQ(peak.value, 30.25e6);
  EXPECT_EQ(peak.position, 0.1);
}

TEST(MeshRoundTrip, FormsThatCannotHoldAMeshRefuseItBeforeWriting) {
  TempDir dir;
  const std::string input = dir.file("in.t7");
  write_file(input, kRfT7);
  FieldMesh travelling = read_t7_mesh(input.c_str());
  // A second phase along z: no longer one standing wave.
  MeshComponent& ez = travelling.components[1];
  for (std::size_t k = 0; k < ez.values.size(); ++k)
    ez.values[k] *= std::polar(1.0, 0.3 * static_cast<double>(k % 4));
  FieldMesh mislabelled = read_t7_mesh(input.c_str());
  mislabelled.geometry = MeshGeometry::rectangular;
  // The same values over x and y: r becomes x, z becomes y, and theta the one z plane.
  FieldMesh planar = read_t7_mesh(input.c_str());
  planar.geometry = MeshGeometry::rectangular;
  planar.axes = {MeshAxis{"x", planar.axes[0].points, planar.axes[0].spacing, 0},
                 MeshAxis{"y", planar.axes[2].points, planar.axes[2].spacing, 0}, MeshAxis{"z"}};
  for (MeshComponent& component : planar.components)
    component.axis = std::string(1, component.axis == "r"   ? 'x'
                                    : component.axis == "z" ? 'y'
                                                            : 'z');
  struct Case {
    const char* what;
    const FieldMesh& mesh;
    MeshFormat format;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"travelling wave as T7", travelling, MeshFormat::t7,
       input + ": its fields need more than one phase (a travelling wave), which only an openPMD "
               "file holds"},
      {"travelling wave as TQS", travelling, MeshFormat::tqs,
       input + ": its fields need more than one phase (a travelling wave), which only an openPMD "
               "file holds"},
      {"rectangular RF as T7", planar, MeshFormat::t7,
       input + ": an RF T7 file holds a cylindrical map"},
      {"rectangular as on-axis", planar, MeshFormat::on_axis,
       input + ": no field on the axis: a rectangular 2-D map has no axis"},
      {"labels of the other geometry", mislabelled, MeshFormat::openpmd,
       input + ": axisLabels \"r\", \"theta\", \"z\": a rectangular mesh has x, y, z"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("out");
    write_file(path, "old bytes");
    EXPECT_EQ(test_support::thrown_text([&] { write_mesh_file(c.mesh, c.format, path.c_str()); }),
              c.message)
        << c.what;
    EXPECT_EQ(test_support::read_file(path), "old bytes") << c.what;
  }
}

} // namespace
