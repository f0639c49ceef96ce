// TraceWin's files as meshes: 1-D files of each kind told by their extensions, 2-D static maps
// read from either of their two files, the writer's bytes (golden files), round trips, and every
// defect and refusal one line.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <set>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::read_file;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::values_of;
using test_support::write_file;

namespace {

MeshReadOptions at_frequency() {
  return test_support::at_frequency(352.2e6);
}

// A 2-D static map of 2 z intervals by 1 r interval, r fastest: point n is n + 1, and 10 (n + 1)
// in the r file.
const std::string kPlaneZ = "2 0.02\n1 0.005\n1\n1\n2\n3\n4\n5\n6\n";
const std::string kPlaneR = "2 0.02\n1 0.005\n0.1\n1\n2\n3\n4\n5\n6\n";

FieldMesh read_t7(const TempDir& dir, const std::string& text, const MeshReadOptions& options) {
  write_file(dir.file("map.t7"), text);
  return read_mesh(dir.file("map.t7").c_str(), MeshForm::t7, options);
}

TEST(TraceWinMesh, EachExtensionReadsItsField) {
  struct Case {
    const char* name;
    std::string text;
    ProblemKind problem;
    FieldKind field;
    std::complex<double> first; // the value at z = 0, in SI units
  };
  for (const Case& c : {
           Case{"cavity.edz",
                "2 0.5\r\n2\r\n3\r\n-4\r\n5\r\n",
                ProblemKind::rf,
                FieldKind::electric,
                {1.5e6, 0}},
           Case{"gap.esz",
                "2 0.5\n1\n3\n-4\n5\n",
                ProblemKind::electrostatic,
                FieldKind::electric,
                {3e6, 0}},
           Case{"SOLENOID.BSZ",
                "2 0.5\n0.5\n3 -4\n5",
                ProblemKind::magnetostatic,
                FieldKind::magnetic,
                {6, 0}},
           Case{
               "cavity.bdz", "2 0.5\n1\n3\n-4\n5\n", ProblemKind::rf, FieldKind::magnetic, {0, -3}},
       }) {
    TempDir dir;
    write_file(dir.file(c.name), c.text);
    const FieldMesh mesh = read_mesh(dir.file(c.name).c_str(), at_frequency());
    EXPECT_EQ(mesh.source.form, MeshForm::tracewin) << c.name;
    EXPECT_EQ(mesh.source.problem, c.problem) << c.name;
    EXPECT_EQ(mesh.axes[2].points, 3) << c.name;
    EXPECT_EQ(mesh.axes[2].origin, 0) << c.name;
    EXPECT_EQ(mesh.axes[2].spacing, 0.25) << c.name;
    const auto values = values_of(mesh, c.field, "z");
    ASSERT_EQ(values.size(), 3u) << c.name;
    EXPECT_EQ(values[0], c.first) << c.name;
  }
}

TEST(TraceWinMesh, APlaneIsReadFromEitherOfItsFiles) {
  TempDir dir;
  write_file(dir.file("gun.esz"), kPlaneZ);
  write_file(dir.file("gun.esr"), kPlaneR);
  for (const char* name : {"gun.esz", "gun.esr"}) {
    const FieldMesh mesh = read_mesh(dir.file(name).c_str());
    EXPECT_EQ(mesh.source.problem, ProblemKind::electrostatic) << name;
    EXPECT_EQ(mesh.axes[0].points, 2) << name;
    EXPECT_EQ(mesh.axes[0].spacing, 0.005) << name;
    EXPECT_EQ(mesh.axes[2].points, 3) << name;
    // File value n = iz * 2 + ir sits at ir * 3 + iz; the r file is divided by its Norm 0.1.
    const auto ez = values_of(mesh, FieldKind::electric, "z");
    const auto er = values_of(mesh, FieldKind::electric, "r");
    for (std::size_t n = 0; n < 6; ++n) {
      EXPECT_EQ(ez[(n % 2) * 3 + n / 2], std::complex<double>(static_cast<double>(n + 1) * 1e6, 0))
          << name << n;
      EXPECT_EQ(er[(n % 2) * 3 + n / 2],
                std::complex<double>(static_cast<double>(n + 1) / 0.1 * 1e6, 0))
          << name;
    }
  }
}

TEST(TraceWinMesh, WritesTheGoldenFilesAndReadsThemBackAsTheSameMap) {
  TempDir dir;
  const FieldMesh rf = read_t7(dir, test_support::rf_t7_text(), {});
  FieldMesh plane =
      read_t7(dir, test_support::electric_t7_text(), test_support::of_field(FieldKind::electric));
  plane.axes[2].origin = 0; // which the files keep
  // A 1-D file from the RF map's axis, written from z = 0; the plane's two files.
  write_mesh_file(rf, MeshFormat::tracewin, dir.file("out.esz").c_str());
  EXPECT_EQ(read_file(dir.file("out.edz")), test_support::golden_text("tracewin-edz.txt"));
  MeshWriteOptions mirror;
  mirror.mirror = true;
  write_mesh_file(rf, MeshFormat::tracewin, dir.file("mirrored.edz").c_str(), mirror);
  EXPECT_TRUE(read_file(dir.file("mirrored.edz")).starts_with("8 0.4\n1\n"));
  // The axis read back, from z = 0: the RF map's row at r = 0.
  const FieldMesh axis = read_mesh(dir.file("out.edz").c_str(), at_frequency());
  EXPECT_EQ(axis.axes[2].origin, 0);
  EXPECT_EQ(axis.axes[2].spacing, rf.axes[2].spacing);
  const auto ez = values_of(rf, FieldKind::electric, "z");
  EXPECT_EQ(values_of(axis, FieldKind::electric, "z"), decltype(ez)(ez.begin(), ez.begin() + 5));

  write_mesh_file(plane, MeshFormat::tracewin, dir.file("plane.esz").c_str());
  EXPECT_EQ(read_file(dir.file("plane.esz")), test_support::golden_text("tracewin-esz.txt"));
  EXPECT_EQ(read_file(dir.file("plane.esr")), test_support::golden_text("tracewin-esr.txt"));
  test_support::expect_same_mesh(plane, read_mesh(dir.file("plane.esr").c_str()), 0, false,
                                 "the plane");
}

TEST(TraceWinMesh, EveryDefectIsOneLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string message; // after the file's path
  };
  for (const Case& c : std::vector<Case>{
           {"a.edz", "2 0.5\n1\n3\n-4\n",
            "(4): Too few values: the grid needs 3, the file holds 2"},
           {"a.edz", "2 0.5\n1\n3\n-4\n5 6\n", "(5): Too many values: the grid needs 3"},
           {"a.edz", "2\n1\n", "(1): Not a TraceWin header line: nz and zmax expected"},
           {"a.edz", "2.5 1\n1\n", "(1): Interval count is no whole number from 1 on: 2.5"},
           {"a.edz", "2 -1\n1\n", "(1): Length is no positive number: -1"},
           {"a.edz", "2 5e-324\n1\n", "(1): Length is no positive number: 5e-324"},
           {"a.edz", "2 1\n1 2 3\n",
            "(2): Not a TraceWin header line: Norm, or nr and rmax of a 2-D map, expected"},
           {"a.edz", "2 1\n0\n", "(2): Norm is no number other than 0: 0"},
           {"a.esz", "2 1\n1\n1e-300\n1\n1e308\n", "(5): Value out of range: 1e+308"},
           {"a.esz", "2 1\n1 0.1\n1 1\n", "(3): Not a TraceWin header line: Norm expected"},
           {"a.bsr", "2 1\n1\n",
            "(2): Not a TraceWin header line: nr and rmax expected (an r "
            "file holds a 2-D map)"},
           {"a.edz", "2 1\n1 0.1\n1\n",
            ": TraceWin's 2-D RF maps are not read (no public reader tells the layout of their "
            "fields)"},
           {"a.bdr", "",
            ": TraceWin's 2-D RF maps are not read (no public reader tells the "
            "layout of their fields)"},
           {"a.edx", "", ": a TraceWin 3-D map is the form tracewin-3d (--from tracewin-3d)"},
           {"a.esz", "2 0.02\n1 0.005\n1\n1\n2\n3\n4\n5\n6\n",
            ": a 2-D map is read with its other file, @.esr: No such file or directory"},
           {"a.map", "",
            ": a TraceWin file's extension tells what it holds (.edz, .esz, .bsz, "
            ".bdz, or .esz and .esr, .bsz and .bsr of a 2-D map): this name has none"},
       }) {
    TempDir dir;
    const std::string path = dir.file(c.name);
    write_file(path, c.text);
    std::string message = c.message;
    if (const std::size_t at = message.find('@'); at != std::string::npos)
      message.replace(at, 1, path.substr(0, path.size() - 4));
    EXPECT_EQ(thrown_text([&] { read_mesh(path.c_str(), MeshForm::tracewin, at_frequency()); }),
              path + message)
        << c.name << ": " << c.text;
  }
  // The sibling's grid must be the file's.
  TempDir dir;
  write_file(dir.file("g.bsz"), kPlaneZ);
  write_file(dir.file("g.bsr"), "2 0.02\n1 0.006\n1\n");
  EXPECT_EQ(thrown_text([&] { read_mesh(dir.file("g.bsz").c_str()); }),
            dir.file("g.bsr") + ": its grid is not that of " + dir.file("g.bsz") +
                ": 2 0.02 and 1 0.005 expected");
}

TEST(TraceWinMesh, WhatTheFormCannotHoldIsRefusedBeforeWriting) {
  TempDir dir;
  FieldMesh plane =
      read_t7(dir, test_support::electric_t7_text(), test_support::of_field(FieldKind::magnetic));
  MeshWriteOptions mirror;
  mirror.mirror = true;
  const std::string source = dir.file("map.t7") + ": ";
  const std::string out = dir.file("o.bsz"); // never written
  EXPECT_EQ(thrown_text([&] { write_mesh_file(plane, MeshForm::tracewin, out.c_str(), mirror); }),
            source + "a 2-D TraceWin map is written as it is: mirroring takes the field on the "
                     "axis of an RF map or of a 1-D one");
  plane.axes[0].origin = 0.01;
  EXPECT_EQ(thrown_text([&] { write_mesh_file(plane, MeshForm::tracewin, out.c_str()); }),
            source + "a 2-D TraceWin map starts at r = 0, and this map's r starts at 0.01 m");
  plane.axes[0].origin = 0;
  plane.components.push_back(
      {FieldKind::magnetic, "theta", MeshArray<std::complex<double>>(plane.point_count())});
  std::fill_n(plane.components.back().values.data(), plane.point_count(), 1.0);
  EXPECT_EQ(thrown_text([&] { write_mesh_file(plane, MeshForm::tracewin, out.c_str()); }),
            source + "a 2-D TraceWin map holds no magneticField/theta");
  plane.components.back() = {FieldKind::electric, "z", std::move(plane.components.back().values)};
  EXPECT_EQ(thrown_text([&] { write_mesh_file(plane, MeshForm::tracewin, out.c_str()); }),
            source + "a 2-D TraceWin map holds one field, electric or magnetic");
  MeshWriteOptions offset;
  offset.z_offset = 1;
  EXPECT_EQ(thrown_text([&] { write_mesh_file(plane, MeshForm::tracewin, out.c_str(), offset); }),
            out + ": a TraceWin file takes no z_offset");
  EXPECT_EQ(test_support::entries_of(dir.path()), (std::set<std::string>{"map.t7"}));
}

} // namespace
