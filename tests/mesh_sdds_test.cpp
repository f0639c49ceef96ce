// elegant's SDDS files as meshes: ASCII and binary pages in both byte orders, columns by name and
// of any numeric type, parameters and arrays skipped, a solenoid's pages as its radii; the
// writer's bytes (golden files), round trips, and every defect and refusal one line.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <complex>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::doubles_bytes;
using test_support::le32;
using test_support::read_file;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::values_of;
using test_support::write_file;

namespace {

// `size` bytes of `bits`, little- or big-endian.
std::string bytes_of(std::uint64_t bits, std::size_t size, bool big) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k < size; ++k)
    bytes[big ? size - 1 - k : k] = static_cast<char>(bits >> (8 * k));
  return bytes;
}
std::string f64(double value, bool big = false) {
  return bytes_of(std::bit_cast<std::uint64_t>(value), 8, big);
}
std::string f32(float value, bool big = false) {
  return bytes_of(std::bit_cast<std::uint32_t>(value), 4, big);
}
std::string i32(std::int32_t value, bool big = false) {
  return bytes_of(static_cast<std::uint32_t>(value), 4, big);
}

const std::string kColumns = "&column name=z, units=m, type=double, &end\n"
                             "&column name=Ez, units=V/m, type=double, &end\n";
const std::string kAscii = "SDDS1\n" + kColumns + "&data mode=ascii, &end\n";

MeshReadOptions options(std::optional<FieldKind> field = {},
                        std::optional<std::int64_t> points = {}) {
  MeshReadOptions read = test_support::at_frequency(1.3e9);
  read.field = field;
  read.resample = points;
  return read;
}

FieldMesh read_bytes(const TempDir& dir, const std::string& bytes, const MeshReadOptions& read) {
  write_file(dir.file("map.sdds"), bytes);
  return read_mesh(dir.file("map.sdds").c_str(), read);
}

TEST(SddsMesh, ReadsEveryLayoutByColumnName) {
  struct Case {
    const char* what;
    std::string bytes;
    MeshReadOptions read;
    ProblemKind problem;
    std::int64_t r_points, z_points;
    double z_origin, z_spacing, r_spacing;
    std::complex<double> first; // Ez, or Bz, at the first point
  };
  const std::string rows3 = " 1.5 -0.01\n 2 0\n 3 0.01\n";
  const std::vector<Case> cases = {
      {"ASCII, fixed and string parameters, s, Ez in MV/m",
       "SDDS1\n&description text=\" \", contents=\"Ez map\", &end\n! a comment\n"
       "&parameter name=Gap, units=m, type=double, fixed_value=0.1, &end\n"
       "&parameter name=Label, type=string, &end\n"
       "&column name=Ez, units=MV/m, type=float, &end\n&column\n name=s,\n units=m, type=double,"
       "  &end\n&data mode=ascii, &end\n! page 1\na label, with blanks\n      3\n" +
           rows3 + "! page 2\nx\n1\n 9 9\n",
       options(),
       ProblemKind::rf,
       1,
       3,
       -0.01,
       0.01,
       0,
       {1.5, 0}},
      {"ASCII without row counts",
       "SDDS1\n&column name=Ez, type=double, &end\n&column name=s, units=m, type=double, &end\n"
       "&data mode=ascii, no_row_counts=1, &end\n" +
           rows3 + "\n 9 9\n",
       options(),
       ProblemKind::rf,
       1,
       3,
       -0.01,
       0.01,
       0,
       {1.5, 0}},
      {"binary, a parameter, an array, a string column, float Ez, two pages",
       "SDDS1\n!# little-endian\n&parameter name=P, type=double, &end\n"
       "&array name=A, type=short, dimensions=2, &end\n&column name=name, type=string, &end\n"
       "&column name=Ez, type=float, &end\n&column name=z, units=m, type=double, &end\n"
       "&data mode=binary, &end\n" +
           i32(3) + f64(7) + i32(1) + i32(2) + std::string("\1\0\2\0", 4) + i32(2) + "ab" +
           f32(-2) + f64(0) + i32(0) + f32(4) + f64(0.5) + i32(1) + "c" + f32(6) + f64(1) + i32(1) +
           f64(7) + i32(0) + i32(0),
       options(),
       ProblemKind::rf,
       1,
       3,
       0,
       0.5,
       0,
       {-2, 0}},
      {"binary, big-endian, column-major, long Ez and float z",
       "SDDS1\n!# big-endian\n&column name=Ez, type=long, &end\n"
       "&column name=z, units=m, type=float, &end\n&data mode=binary, column_major_order=1, "
       "&end\n" +
           i32(3, true) + i32(-7, true) + i32(0, true) + i32(7, true) + f32(0.25F, true) +
           f32(0.5F, true) + f32(0.75F, true),
       options(),
       ProblemKind::rf,
       1,
       3,
       0.25,
       0.25,
       0,
       {-7, 0}},
      {"ASCII solenoid, three radii, short Br, a blank after the last line",
       "SDDS1\n&column name=z, units=m, type=double, &end\n&column name=r, units=m, type=double, "
       "&end\n&column name=Br, units=T, type=short, &end\n&column name=Bz, units=T, type=double, "
       "&end\n&data mode=ascii, &end\n2\n0 0 0 1\n1 0 0 2\n2\n0 0.1 -1 3\n1 0.1 1 4\n"
       "2\n0 0.2 -2 5\n1 0.2 2 6\n ",
       options(),
       ProblemKind::magnetostatic,
       3,
       2,
       0,
       1,
       0.1,
       {1, 0}},
      {"binary solenoid on the axis, Ez beside Bz, the field given",
       "SDDS1\n&column name=z, units=m, type=double, &end\n&column name=Bz, units=T, type=double, "
       "&end\n&column name=Ez, type=double, &end\n&data mode=binary, &end\n" +
           i32(2) + f64(0) + f64(0.5) + f64(3) + f64(0.1) + f64(0.25) + f64(3),
       options(FieldKind::magnetic),
       ProblemKind::magnetostatic,
       1,
       2,
       0,
       0.1,
       0,
       {0.5, 0}},
      {"z not uniform, resampled",
       kAscii + "3\n0 1\n0.1 2\n0.3 4\n",
       options({}, 4),
       ProblemKind::rf,
       1,
       4,
       0,
       0.1,
       0,
       {1, 0}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const FieldMesh mesh = read_bytes(dir, c.bytes, c.read);
    EXPECT_EQ(mesh.source.form, MeshForm::sdds) << c.what;
    EXPECT_EQ(mesh.source.problem, c.problem) << c.what;
    EXPECT_EQ(mesh.axes[0].points, c.r_points) << c.what;
    EXPECT_DOUBLE_EQ(mesh.axes[0].spacing, c.r_spacing) << c.what;
    EXPECT_EQ(mesh.axes[2].points, c.z_points) << c.what;
    EXPECT_DOUBLE_EQ(mesh.axes[2].origin, c.z_origin) << c.what;
    EXPECT_DOUBLE_EQ(mesh.axes[2].spacing, c.z_spacing) << c.what;
    const FieldKind field =
        c.problem == ProblemKind::rf ? FieldKind::electric : FieldKind::magnetic;
    EXPECT_EQ(values_of(mesh, field, "z").at(0), c.first) << c.what;
  }
}

TEST(SddsMesh, EveryDefectIsOneLine) {
  const std::string solenoid = "SDDS1\n&column name=z, units=m, type=double, &end\n&column "
                               "name=r, units=m, type=double, &end\n&column name=Bz, type=double,"
                               " &end\n&data mode=ascii, &end\n";
  const std::string binary = "SDDS1\n" + kColumns + "&data mode=binary, &end\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SDDS2\n", "(1): SDDS version \"2\": version 1 is read"},
      {"z Ez\n", "(1): Not an SDDS file: its first line is not SDDS1"},
      {"SDDS1\n" + kColumns, "(3): The header ends without &data"},
      {"SDDS1\n&column name=z, units=m,\n", "(2): The header ends in a command without &end"},
      {"SDDS1\n&column name=z, units &end\n",
       "(2): Not an SDDS command: name=value expected, not \"units &end\""},
      {"SDDS1\n&column name=z, units=m, &end\n", "(2): &column \"z\" without a type"},
      {"SDDS1\n&column name=z, type=int, &end\n",
       "(2): &column \"z\": type \"int\" is no SDDS type"},
      {"SDDS1\n&column type=double, &end\n", "(2): &column without a name"},
      {"SDDS1\n" + kColumns + "&column name=z, type=double, &end\n",
       "(4): Two columns named \"z\""},
      {"SDDS1\n&table name=z, &end\n", "(2): &table is no SDDS command"},
      {"SDDS1\nz\n",
       "(2): Not an SDDS header line: a command (&column, ...) or a comment (!) expected"},
      {"SDDS1\n&data mode=text, &end\n", "(2): &data mode=\"text\": ascii or binary expected"},
      {"SDDS1\n&column name=s, units=mm, type=double, &end\n&data &end\n",
       ": column s is in \"mm\": elegant reads positions in m (units=m)"},
      {"SDDS1\n&column name=z, units=m, type=long, &end\n&data &end\n",
       ": column z is of type long: elegant reads positions of a floating type (float or double)"},
      {"SDDS1\n&column name=Ez, type=double, &end\n&data &end\n",
       ": no column of positions (z or s)"},
      {"SDDS1\n&column name=z, units=m, type=double, &end\n&data &end\n",
       ": no field column (Ez, or Bz of a solenoid)"},
      {"SDDS1\n" + kColumns + "&column name=Bz, type=double, &end\n&data &end\n",
       ": an SDDS file of Ez and Bz columns: give the field, electric or magnetic"},
      {kAscii + "3\n0 1\n1 x\n", "(7): Not a number in column \"Ez\": \"x\""},
      {kAscii + "3.5\n", "(5): Not a whole number from 0 on for the row count: \"3.5\""},
      {kAscii + "3\n0 1\n1 2\n", "(7): The file ends within row 3 of the page"},
      {kAscii + "2\n0 1\n1 2\n", ": its first page has 2 rows: elegant needs 3 or more"},
      {kAscii + "3\n0 1\n1 2\n3 3\n",
       ": its z is not uniform (1 - d_min/d_max = 0.5, more than elegant's 1e-4): give a number of "
       "points to resample it on"},
      {kAscii + "3\n0 1\n1 2\n1 3\n", ": its z does not increase from row 2 to 3 (1, 1)"},
      {kAscii + "3\n-1e308 1\n0 2\n1e308 3\n",
       ": its z spans more than the doubles hold (-1e+308 to 1e+308)"},
      {kAscii, ": no page of data"},
      {binary + i32(3) + f64(0),
       ": page 1 counts 3 rows of 16 bytes or more, more than the 8 bytes that remain"},
      {binary + i32(-1), ": page 1: its row count is -1"},
      {binary + std::string("\1\0", 2), ": page 1 ends within its row count (a truncated file)"},
      {"SDDS1\n&array name=A, type=double, &end\n" + kColumns + "&data &end\n" + i32(1) + i32(3),
       ": page 1: array \"A\" has a dimension of 3, more values than the 0 bytes that remain hold"},
      {"SDDS1\n&parameter name=P, type=longdouble, &end\n" + kColumns + "&data &end\n",
       ": binary longdouble data is not read (its size is that of the machine that wrote it)"},
      {solenoid + "2\n0 0 1\n1 0 2\n2\n0 1 1\n1 1 2\n2\n0 3 1\n1 3 2\n",
       ": its r (each page's first) is not uniform (1 - d_min/d_max = 0.5, more than elegant's "
       "1e-4)"},
      {solenoid + "2\n0 0 1\n1 0 2\n3\n0 0.1 1\n1 0.1 2\n2 0.1 3\n",
       ": page 2 has 3 rows and page 1 2: the pages of a solenoid map have as many rows each"},
      {solenoid + "2\n0 0 1\n1 0 2\n2\n0 0.1 1\n2 0.1 2\n",
       ": page 2's z differs from page 1's at row 2"},
  };
  for (const auto& [bytes, message] : cases) {
    TempDir dir;
    const std::string path = dir.file("map.sdds");
    write_file(path, bytes);
    EXPECT_EQ(thrown_text([&] { read_mesh(path.c_str(), MeshForm::sdds, options()); }),
              path + message)
        << bytes;
  }
}

TEST(SddsMesh, WritesTheGoldenFilesAndReadsThemBackAsTheSameMap) {
  TempDir dir;
  write_file(dir.file("rf.t7"), test_support::rf_t7_text());
  write_file(dir.file("solenoid.t7"), test_support::electric_t7_text());
  const FieldMesh rf = read_mesh(dir.file("rf.t7").c_str());
  const FieldMesh solenoid =
      read_mesh(dir.file("solenoid.t7").c_str(), test_support::of_field(FieldKind::magnetic));
  MeshWriteOptions ascii;
  ascii.ascii = true;
  write_mesh_file(rf, MeshFormat::sdds, dir.file("rf.sdds").c_str(), ascii);
  EXPECT_EQ(read_file(dir.file("rf.sdds")), test_support::golden_text("sdds-rf-ascii.txt"));
  write_mesh_file(solenoid, MeshFormat::sdds, dir.file("solenoid.sdds").c_str(), ascii);
  EXPECT_EQ(read_file(dir.file("solenoid.sdds")),
            test_support::golden_text("sdds-solenoid-ascii.txt"));
  // Binary: the header declares its byte order, then little-endian rows of z and Ez.
  write_mesh_file(rf, MeshFormat::sdds, dir.file("rf-binary.sdds").c_str());
  std::string expected =
      "SDDS1\n!# little-endian\n" + kColumns + "&data mode=binary, &end\n" + le32(5);
  const auto ez = values_of(rf, FieldKind::electric, "z");
  for (std::size_t k = 0; k < 5; ++k)
    expected += doubles_bytes({0.5 + static_cast<double>(k) * 0.05, ez[k].real()});
  EXPECT_EQ(read_file(dir.file("rf-binary.sdds")), expected);
  const FieldMesh axis = read_mesh(dir.file("rf-binary.sdds").c_str(), options());
  EXPECT_EQ(axis.axes[2].origin, rf.axes[2].origin);
  EXPECT_EQ(axis.axes[2].spacing, rf.axes[2].spacing);
  EXPECT_EQ(values_of(axis, FieldKind::electric, "z"), decltype(ez)(ez.begin(), ez.begin() + 5));
  for (const MeshWriteOptions& form : {MeshWriteOptions{}, ascii}) {
    write_mesh_file(solenoid, MeshFormat::sdds, dir.file("back.sdds").c_str(), form);
    test_support::expect_same_mesh(solenoid, read_mesh(dir.file("back.sdds").c_str()), 0, false,
                                   "solenoid");
  }
  // Mirrored about the first z, then moved.
  MeshWriteOptions moved = ascii;
  moved.mirror = true;
  moved.z_offset = 1;
  write_mesh_file(rf, MeshFormat::sdds, dir.file("moved.sdds").c_str(), moved);
  const std::string text = read_file(dir.file("moved.sdds"));
  EXPECT_NE(text.find("&end\n9\n1.3 6e+06\n1.35 8e+06\n"), std::string::npos) << text;
}

TEST(SddsMesh, WhatElegantCannotReadIsRefusedBeforeWriting) {
  TempDir dir;
  write_file(dir.file("map.t7"), test_support::electric_t7_text());
  FieldMesh map =
      read_mesh(dir.file("map.t7").c_str(), test_support::of_field(FieldKind::electric));
  const std::string source = dir.file("map.t7") + ": ";
  const std::string out = dir.file("out.sdds"); // never written
  MeshWriteOptions mirror;
  mirror.mirror = true;
  MeshWriteOptions far;
  far.z_offset = 1e17;
  const auto refusal = [&](const MeshWriteOptions& options) {
    return thrown_text([&] { write_mesh_file(map, MeshFormat::sdds, out.c_str(), options); });
  };
  EXPECT_EQ(refusal({}), source + "an SDDS file holds the Ez of an RF map or the Bz and Br of a "
                                  "solenoid, not a static electric field");
  for (MeshComponent& component : map.components)
    component.field = FieldKind::magnetic;
  EXPECT_EQ(refusal(mirror), source + "an SDDS solenoid map of several radii is written as it is: "
                                      "mirroring takes the field on the axis");
  EXPECT_EQ(refusal(far), source + "the positions that an SDDS file would hold do not increase at "
                                   "1e+17 m");
  // elegant's RF cavities need 3 points.
  write_file(dir.file("short.edz"), "1 0.1\n1\n1\n2\n");
  const FieldMesh short_map = read_mesh(dir.file("short.edz").c_str(), options());
  EXPECT_EQ(thrown_text([&] { write_mesh_file(short_map, MeshFormat::sdds, out.c_str()); }),
            dir.file("short.edz") + ": an SDDS file for elegant needs 3 points or more along z");
  EXPECT_EQ(test_support::entries_of(dir.path()), (std::set<std::string>{"map.t7", "short.edz"}));
}

} // namespace
