// Bmad grid_field files: both forms read (with "grid_field =" and the braces alone), points left
// out as 0, every defect one located error, maps written in the form of Bmad's own files and read
// back bit for bit, and the maps the form cannot hold refused before anything is written.
#include "norvalex/mesh.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace norvalex;
using test_support::read_file;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::write_file;

namespace {

const std::string kHead = "{geometry = rotationally_symmetric_rz, field_type = electric, "
                          "dr = (0.01, 0.02),\n";

// A 3-D map of 3 x 3 x 2 points, three of them given.
const std::string kBox =
    "grid_field = { geometry = xyz, field_type = magnetic, harmonic = 0, r0 = (-0.01, -0.01, 0),\n"
    "  dr = (0.01, 0.01, 0.05), interpolation_order = 3, pt(-1,-1,0) = ((0,0),(0,0),(1,0)),\n"
    "  pt(0,0,0) = ((0,0),(0,0),(2,0)), pt(1,1,1) = ((0.5,0),(0.25,0),(1.5,0)) }\n";

std::string notes_of(const FieldMesh& mesh) {
  std::string notes;
  for (const MeshNote& note : mesh.source.notes)
    notes += note.label + ": " + note.text + "\n";
  return notes;
}

TEST(BmadMesh, BothFormsReadWithCommentsSparsePointsAndMixedFields) {
  struct Case {
    const char* what;
    std::string text;
    MeshReadOptions options;
    std::vector<std::string> components;
    std::array<double, 4> grid; // points along r and z, origin of r and z
    std::string notes;
    double value; // the first component at the last point
  };
  MeshReadOptions magnetic = test_support::of_field(FieldKind::magnetic);
  const std::vector<Case> cases = {
      {"braces alone, mixed RF",
       test_support::bmad_grid_field_text(),
       test_support::at_frequency(1e9),
       {"electricField/r", "electricField/z", "magneticField/theta"},
       {2, 2, 0, -0.01},
       "points: 3 of 4 in the file; 1 left out, taken as 0\nskipped: master_parameter, "
       "curved_ref_frame (not held by the field mesh)\n",
       1e5},
      {"grid_field =, static, z from index -1",
       "! Converted from an SF7 table\ngrid_field = {\n"
       "  geometry = rotationally_symmetric_rz, field_type = electric,\n"
       "  harmonic = 0, r0 = (0.001, 0.5), dr = (0.002, 0.25),\n"
       "  pt(0,-1) = ((1, 0), (0, 0), (2, 0)), pt(0,0) = ((3,0),(0,0),(4,0)),\n"
       "  pt(1,-1) = ((5,0.5),(0,0),(6,0)), pt(1,0) = ((7,0),(0,0),(8,0)),\n}\n",
       {},
       {"electricField/r", "electricField/z"},
       {2, 2, 0.001, 0.25},
       "points: 4 of 4 in the file\nimaginary: parts left out: a static field is the real part\n",
       7},
      {"xyz, from index -1, a key skipped",
       kBox,
       {},
       {"magneticField/x", "magneticField/y", "magneticField/z"},
       {3, 2, -0.02, 0},
       "points: 3 of 18 in the file; 15 left out, taken as 0\nskipped: interpolation_order (not "
       "held by the field mesh)\n",
       0.5},
      {"no field_type: the field given",
       "{geometry=rotationally_symmetric_rz,dr=(1,1),pt(0,0)=("
       "(1,0),(0,0),(2,0)),pt(0,1)=((0,0),(0,0),(3,0))}",
       magnetic,
       {"magneticField/r", "magneticField/z"},
       {1, 2, 0, 0},
       "points: 2 of 2 in the file\n",
       0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    // Told by its content, whatever its name.
    const std::string path = dir.file("grid.txt");
    write_file(path, c.text);
    const FieldMesh mesh = read_mesh(path.c_str(), c.options);
    EXPECT_EQ(mesh.source.form, MeshForm::bmad) << c.what;
    std::vector<std::string> names;
    for (const MeshComponent& component : mesh.components)
      names.push_back(component.name());
    EXPECT_EQ(names, c.components) << c.what;
    EXPECT_EQ((std::array<double, 4>{static_cast<double>(mesh.axes[0].points),
                                     static_cast<double>(mesh.axes[2].points), mesh.axes[0].origin,
                                     mesh.axes[2].origin}),
              c.grid)
        << c.what;
    EXPECT_EQ(notes_of(mesh), c.notes) << c.what;
    EXPECT_EQ(mesh.components[0].values[mesh.point_count() - 1], c.value) << c.what;
  }
  const FieldMesh static_map = read_mesh(dir.file("grid.txt").c_str(), magnetic);
  write_file(dir.file("rf.bmad"), test_support::bmad_grid_field_text());
  const FieldMesh mixed = read_mesh(dir.file("rf.bmad").c_str(), test_support::at_frequency(1e9));
  EXPECT_EQ(mixed.harmonic, 2);
  EXPECT_EQ(mixed.source.problem, ProblemKind::rf);
  EXPECT_EQ(mixed.anchor, "center");
  EXPECT_EQ(mixed.field_scale, 0.5);
  EXPECT_EQ(mixed.rf_phase, 0.25);
  EXPECT_EQ(mixed.components[2].values[3], std::complex<double>(0, -2e-3));
  EXPECT_EQ(static_map.source.problem, ProblemKind::magnetostatic);
}

TEST(BmadMesh, EveryDefectIsOneLocatedError) {
  const std::string point = "pt(0,0) = ((1,0),(0,0),(2,0))";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "(1): Expected \"grid_field = {\" or \"{\", found the end of the file"},
      {"grid_field {", "(1): Expected \"=\" after grid_field, found \"{\""},
      {"{geometry = cartesian}",
       "(1): Unknown geometry \"cartesian\": rotationally_symmetric_rz or xyz expected"},
      {"{dr = (1, 2, 3, 4)}",
       "(1): dr of more than three numbers: two (r, z) or three (x, y, z) expected"},
      {"{pt(0,0,0,0) = ((1,0))}",
       "(1): pt of more than three indices: two (r, z) or three (x, y, z) expected"},
      {kHead + "pt(0,0,0) = ((1,0),(0,0),(2,0))}",
       "(2): pt(0,0,0) has 3 indices: geometry rotationally_symmetric_rz has two (r, z)"},
      {"{geometry = xyz, field_type = electric, dr = (1, 1),\npt(0,0,0) = ((1,0),(0,0),(2,0))}",
       "(1): dr (1, 1): geometry xyz has three (x, y, z)"},
      {kHead + point + ",\npt(0,1,2) = ((1,0),(0,0),(2,0))}",
       "(3): pt(0,1,2) has 3 indices, pt(0,0) 2: every point has as many"},
      {"{pt(0,0,0) = ((1,0)),\npt(1000,1000,1000) = ((1,0))}",
       "(2): Grid too large: with pt(1000,1000,1000) it has 1001*1001*1001 points, more than "
       "536870911"},
      {"{field_type = both}",
       "(1): Unknown field_type \"both\": electric, magnetic or mixed expected"},
      {"{ele_anchor_pt = middle}",
       "(1): Unknown ele_anchor_pt \"middle\": beginning, center or end expected"},
      {"{harmonic = 1.5}", "(1): harmonic is no whole number from 0 on: 1.5"},
      {"{harmonic = 1,\n harmonic = 1}", "(2): harmonic given twice"},
      {"{pt(0.5,0) = ((1,0))}", "(1): Index is no whole number: \"0.5\""},
      {"{pt(2147483648,0) = ((1,0))}", "(1): Index out of range: \"2147483648\""},
      {kHead + point + ",\npt(2000000000,5) = ((1,0),(0,0),(2,0))}",
       "(3): Grid too large: with pt(2000000000,5) it has 2000000001*6 points, more than "
       "536870911"},
      {kHead + "pt(0,0) = ((1,0),(0,0),(2,0),(3,0),(4,0),(5,0),(6,0))}",
       "(2): pt(0,0) holds more than 6 values: 3 (one field) or 6 (E, then B) expected"},
      {kHead + "pt(0,0) = ((1,x),(0,0),(2,0))}", "(2): Not a number: \"x\""},
      {kHead + "pt(0,0) = ((1e400,0),(0,0),(2,0))}", "(2): Not a finite number: \"1e400\""},
      {kHead + "pt(0,0) = ((1,0) (2,0))}",
       "(2): Expected \",\" or \")\" after a value of pt, found \"(\""},
      {kHead + point + ",\npt(0,1) = ((1,0),(0,0),(2,0),(0,0),(0,0),(0,0))}",
       "(3): pt(0,1) holds 6 values, pt(0,0) 3: every point holds as many"},
      {kHead + point + ",\n" + point + "}", "(3): pt(0,0) given twice"},
      {kHead + "dr = (1, 1)}", "(2): dr given twice"},
      {kHead + point + "} x", "(2): Expected the end of the file after the grid_field's \"}\", "
                              "found \"x\""},
      {kHead + point, "(2): Expected \",\" or \"}\" after an item of the grid_field, found the "
                      "end of the file"},
      {"{master_parameter = (a, b}", "(1): Unmatched \"}\" in the value of master_parameter"},
      {"{master_parameter = a)}", "(1): Unmatched \")\" in the value of master_parameter"},
      {"{name = \"abc\n", "(1): Quote not closed on its line: \"\"abc\""},
      {"{" + std::string(300, 'k'),
       "(1): Word of more than 256 bytes: \"" + std::string(64, 'k') + "...\""},
      {"{geometry = rotationally_symmetric_rz, field_type = mixed,\n" + point + "}",
       "(2): pt(0,0) holds 3 values: field_type mixed needs 6"},
      {"{geometry = rotationally_symmetric_rz,\npt(0,0) = ((1,0),(2,0))}",
       "(2): pt(0,0) holds 2 values: 3 (one field) or 6 (E, then B) expected"},
      {"{field_type = electric, " + point + "}",
       ": the grid_field states no geometry: rotationally_symmetric_rz or xyz expected"},
      {"{geometry = rotationally_symmetric_rz}", ": the grid_field holds no point pt"},
      {"{geometry = rotationally_symmetric_rz, pt(0,0) = ((1,0),(0,0),(2,0))}",
       ": the grid_field states no field_type and its points hold 3 values: give the field, "
       "electric or magnetic"},
      {"{geometry = rotationally_symmetric_rz, field_type = electric,\n" + point +
           ", pt(0,1) = ((1,0),(0,0),(2,0))}",
       ": the grid_field states no dr, the spacing of its points"},
      {"{geometry = rotationally_symmetric_rz, field_type = electric,\n" + point +
           ", dr = (0, -0.01), pt(0,1) = ((1,0),(0,0),(2,0))}",
       "(2): dr (0, -0.01): the spacing along z must be positive, for 2 points"},
      {kHead + "harmonic = 1, " + point + "}",
       ": a Bmad grid_field states no frequency: give the frequency in Hz"},
  };
  TempDir dir;
  const std::string path = dir.file("map.bmad");
  for (const auto& [text, message] : cases) {
    write_file(path, text);
    EXPECT_EQ(thrown_text([&] { read_mesh(path.c_str(), MeshForm::bmad); }), path + message)
        << text;
  }
}

TEST(BmadMesh, MapsAreWrittenAsBmadKeepsThemAndReadBackBitForBit) {
  TempDir dir;
  const std::vector<std::tuple<const char*, std::string, MeshReadOptions>> sources = {
      {"rf.t7", test_support::rf_t7_text(), {}},
      {"electric.t7", test_support::electric_t7_text(),
       test_support::of_field(FieldKind::electric)},
      {"mixed.bmad", test_support::bmad_grid_field_text(), test_support::at_frequency(1e9)},
      {"box.bmad", kBox, {}},
  };
  for (const auto& [name, text, options] : sources) {
    write_file(dir.file(name), text);
    const FieldMesh mesh = read_mesh(dir.file(name).c_str(), options);
    const std::string out = dir.file("out.bmad");
    write_mesh_file(mesh, MeshFormat::bmad, out.c_str());
    MeshReadOptions again = options;
    again.frequency = mesh.frequency != 0 ? std::optional<double>(mesh.frequency) : std::nullopt;
    const FieldMesh back = read_mesh(out.c_str(), again);
    test_support::expect_same_mesh(mesh, back, 0, false, name);
    EXPECT_EQ(back.harmonic, mesh.harmonic) << name;
    EXPECT_EQ(back.rf_phase, mesh.rf_phase) << name;
    EXPECT_EQ(back.field_scale, mesh.field_scale) << name;
    EXPECT_EQ(back.anchor, mesh.anchor) << name;
    // The same bytes again, and r0 moved by the z offset.
    const std::string second = dir.file("second.bmad");
    write_mesh_file(back, MeshFormat::bmad, second.c_str());
    EXPECT_EQ(read_file(second), read_file(out)) << name;
    MeshWriteOptions shifted;
    shifted.z_offset = 0.5;
    write_mesh_file(mesh, MeshFormat::bmad, out.c_str(), shifted);
    EXPECT_EQ(read_mesh(out.c_str(), again).axes[2].origin, mesh.axes[2].origin + 0.5) << name;
    if (std::string(name) == "mixed.bmad") {
      write_mesh_file(mesh, MeshFormat::bmad, out.c_str());
      EXPECT_EQ(read_file(out), test_support::golden_text("bmad-mixed.txt"));
    }
  }
}

TEST(BmadMesh, MapsTheFormCannotHoldAreRefusedBeforeWriting) {
  TempDir dir;
  write_file(dir.file("rf.t7"), test_support::rf_t7_text());
  write_file(dir.file("electric.t7"), test_support::electric_t7_text());
  const auto rf = [&] { return read_mesh(dir.file("rf.t7").c_str()); };
  struct Case {
    std::function<FieldMesh()> mesh;
    MeshWriteOptions options;
    std::string message;
  };
  MeshWriteOptions far;
  far.z_offset = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {[&] {
         MeshReadOptions planar = test_support::of_field(FieldKind::electric);
         planar.geometry = MeshGeometry::rectangular;
         return read_mesh(dir.file("electric.t7").c_str(), planar);
       },
       {},
       "a Bmad grid_field holds a cylindrical map (rotationally_symmetric_rz) or a 3-D one (xyz), "
       "not a plane"},
      {[&] {
         FieldMesh mesh = rf();
         mesh.components[1].values[7] = std::nan("");
         return mesh;
       },
       {},
       "a Bmad grid_field holds finite values, not the nan of electricField/z"},
      {rf, far, "the z offset puts r0 at z = inf, which a Bmad grid_field cannot hold"},
      {[&] {
         FieldMesh mesh = rf();
         mesh.components.clear();
         return mesh;
       },
       {},
       "a Bmad grid_field needs a field component"},
  };
  const std::string out = dir.file("out.bmad");
  for (const Case& c : cases) {
    const FieldMesh mesh = c.mesh();
    EXPECT_EQ(thrown_text([&] { write_mesh_file(mesh, MeshFormat::bmad, out.c_str(), c.options); }),
              mesh.source.file + ": " + c.message);
    EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
  }
}

} // namespace
