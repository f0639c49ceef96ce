// TQS files written from a map read back as meshes: norvalex's files of SF7 tables, a table with
// every column as fieldmap writes it and the mesh writer's arrays give the map's mesh again; an
// RF file needs its frequency; a file that holds no grid is one exact error.
#include "mesh/sf7_tqs.h"
#include "norvalex/mesh.h"
#include "sf7/sf7_table.h"
#include "support/converter_runs.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <complex>
#include <string>
#include <vector>

using namespace norvalex;
using test_support::doubles_block;
using test_support::expect_same_mesh;
using test_support::TempDir;
using test_support::write_file;

namespace {

const MeshReadOptions kRf = test_support::at_frequency(1.3e9);

// How a map's TQS file is written.
enum class Writer { norvalex, norvalex_appending, every_column, mesh };

void write_tqs(Writer writer, const std::string& in, const MeshReadOptions& options,
               const std::string& out) {
  if (writer == Writer::mesh) {
    write_mesh_file(read_mesh(in.c_str(), options), MeshFormat::tqs, out.c_str());
  } else if (writer == Writer::every_column) {
    Sf7Table table;
    read_sf7_table_file(in.c_str(), table, sf7_mesh_units());
    OutputFile file;
    ASSERT_EQ(file.open(out.c_str(), OutputMode::replace), 0);
    write_sf7_tqs(table, file);
    ASSERT_EQ(file.commit(), 0);
  } else {
    test_support::expect_success(
        test_support::run_norvalex({writer == Writer::norvalex ? "-o" : "-a", out, in}), in);
  }
}

TEST(TqsMesh, FilesWrittenFromAMapGiveItsMeshBack) {
  const std::string z_line = test_support::sf7_table_text(
      {"(Z1,R1) = (50,0.0)", "(Z2,R2) = (70,0.0)", "Number of increments: 4", "Z R Ez Er |E| H",
       "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)"},
      {5, 1, 50, 5, 0, 0, false, 4});
  const std::string x_line = test_support::sf7_table_text(
      {"(X1,Y1) = (0.0,1)", "(X2,Y2) = (3,1)", "Number of increments: 3", "X Y Ex Ey |E| V",
       "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)"},
      {4, 1, 0, 1, 1, 0, true, 4});
  const std::vector<std::string> rf = {"Z", "R", "Ez", "Er", "|E|", "Bphi"};
  const std::vector<std::string> magnetic = {"X",  "Y",      "Bx",     "By",    "|B|",
                                             "Az", "dBy/dy", "dBy/dx", "dBx/dy"};
  struct Case {
    const char* what;
    std::string text;
    MeshReadOptions options;
    Writer writer;
    std::vector<std::string> names; // of the mesh writer's arrays
  };
  const std::vector<Case> cases = {
      {"RF table", test_support::rf_table_text(), kRf, Writer::norvalex, {}},
      {"appended to a new file",
       test_support::rf_table_text(),
       kRf,
       Writer::norvalex_appending,
       {}},
      {"static table", test_support::electric_table_text(), {}, Writer::norvalex, {}},
      {"line along the axis", z_line, kRf, Writer::norvalex, {}},
      {"line along X", x_line, {}, Writer::norvalex, {}},
      {"nine columns", test_support::magnetic_table_text(), {}, Writer::every_column, {}},
      {"RF table's mesh", test_support::rf_table_text(), kRf, Writer::mesh, rf},
      {"RF T7", test_support::rf_t7_text(), kRf, Writer::mesh, rf},
      {"static table's mesh",
       test_support::electric_table_text(),
       {},
       Writer::mesh,
       {"R", "Z", "Er", "Ez", "|E|", "V"}},
      {"static T7",
       test_support::electric_t7_text(),
       test_support::of_field(FieldKind::electric),
       Writer::mesh,
       {"R", "Z", "Er", "Ez", "|E|"}},
      {"nine columns' mesh", test_support::magnetic_table_text(), {}, Writer::mesh, magnetic},
      {"line along the axis's mesh", z_line, kRf, Writer::mesh, rf},
      {"line along X's mesh", x_line, {}, Writer::mesh, {"X", "Y", "Ex", "Ey", "|E|", "V"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string in = dir.file("map.in");
    const std::string out = dir.file(std::to_string(&c - cases.data()) + ".tqs");
    write_file(in, c.text);
    write_tqs(c.writer, in, c.options, out);
    if (c.writer == Writer::mesh) {
      EXPECT_EQ(test_support::names_of(test_support::blocks_of(test_support::read_file(out))),
                c.names)
          << c.what;
    }
    const FieldMesh mesh = read_mesh(out.c_str(), c.options);
    EXPECT_EQ(mesh.source.form, MeshForm::tqs) << c.what;
    EXPECT_EQ(mesh.source.file, out) << c.what;
    // H in T by the converter's factor and back; coordinates from the points, not the corners.
    expect_same_mesh(read_mesh(in.c_str(), c.options), mesh, 1e-12, true, c.what);
  }
}

// Beside the converter's arrays, a mesh may have other components: a planar RF map has its H
// across the plane (magneticField/z), a mesh read from openPMD may have both fields.
TEST(TqsMesh, EveryComponentOfAMeshComesBackAsAComponent) {
  TempDir dir;
  const std::string in = dir.file("map.in");
  write_file(in, test_support::sf7_table_text({"(Xmin,Ymin) = (0.0,0.0)", "(Xmax,Ymax) = (2,1)",
                                               "X and Y increments: 2 1", "X Y Ex Ey |E| H",
                                               "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)"},
                                              {3, 2, 0, 1, 0, 1, true, 4}));
  const FieldMesh planar_rf = read_mesh(in.c_str(), kRf);
  write_file(in, test_support::electric_t7_text());
  FieldMesh both = read_mesh(in.c_str(), test_support::of_field(FieldKind::electric));
  MeshArray<std::complex<double>> b_theta(both.point_count());
  for (std::size_t k = 0; k < b_theta.size(); ++k)
    b_theta[k] = {1e-3 * static_cast<double>(k), 0};
  both.components.push_back({FieldKind::magnetic, "theta", std::move(b_theta)});
  both.source.problem = ProblemKind::unknown; // a static map of both fields
  for (const FieldMesh* mesh : {&planar_rf, static_cast<const FieldMesh*>(&both)}) {
    const std::string out = dir.file("map.tqs");
    write_mesh_file(*mesh, MeshFormat::tqs, out.c_str());
    const FieldMesh back =
        read_tqs_mesh(out.c_str(), mesh->frequency != 0 ? kRf : MeshReadOptions{});
    expect_same_mesh(*mesh, back, 1e-12, true, mesh == &both ? "both fields" : "planar RF");
    EXPECT_EQ(back.components.size(), mesh->components.size());
  }
}

TEST(TqsMesh, AFileThatHoldsNoGridIsOneExactError) {
  const std::string header = test_support::file_header_bytes({.creator = "NORVALEX"});
  const auto arrays = [](std::vector<double> z, std::vector<double> r) {
    return doubles_block("Z", z) + doubles_block("R", r) +
           doubles_block("Ez", std::vector<double>(z.size(), 1.0));
  };
  const std::string series = arrays({0.5, 0.55, 0.6}, {0, 0, 0});
  const std::string rf = header + series + doubles_block("Bphi", {0, 1e-4, 2e-4});
  const std::string no_grid = "not readable as a mesh: its coordinates do not form a grid";
  const std::string no_coordinates =
      "not readable as a mesh: its first two arrays are not the coordinates R and Z, or X and Y";
  struct Case {
    const char* what;
    std::string bytes;
    MeshReadOptions options;
    std::string error; // after "<path>: "
  };
  const std::vector<Case> cases = {
      {"two series",
       header + series + test_support::creator_block("NORVALEX") + series,
       {},
       "not readable as a mesh: it holds more than one series of arrays"},
      {"arrays of two lengths",
       header + series + doubles_block("Er", {1, 2}),
       {},
       "not readable as a mesh: its arrays differ in length"},
      {"uneven steps", header + arrays({0.5, 0.56, 0.6}, {0, 0, 0}), {}, no_grid},
      {"decreasing", header + arrays({0.6, 0.55, 0.5}, {0, 0, 0}), {}, no_grid},
      {"a row short",
       header + arrays({0.5, 0.6, 0.5, 0.6, 0.5}, {0, 0, 0.01, 0.01, 0.02}),
       {},
       no_grid},
      {"rows unevenly apart",
       header + arrays({0.5, 0.6, 0.5, 0.6}, {0, 0, 0.01, 0.03}),
       {},
       no_grid},
      {"two arrays",
       header + doubles_block("Z", {0}) + doubles_block("R", {0}),
       {},
       "not readable as a mesh: fewer than three arrays of doubles"},
      {"a field first", header + doubles_block("Ez", {1}) + arrays({0}, {0}), {}, no_coordinates},
      {"Z and Y",
       header + doubles_block("Z", {0}) + doubles_block("Y", {0}) + series,
       {},
       no_coordinates},
      {"empty arrays", header + arrays({}, {}), {}, "not readable as a mesh: its arrays are empty"},
      {"RF", rf, {}, "an RF map's TQS file states no frequency: give the frequency in Hz"},
      {"RF at -1 Hz", rf, test_support::at_frequency(-1),
       "the frequency must be a positive number of Hz"},
  };
  TempDir dir;
  const std::string path = dir.file("map.tqs");
  for (const Case& c : cases) {
    write_file(path, c.bytes);
    EXPECT_EQ(test_support::thrown_text([&] { read_tqs_mesh(path.c_str(), c.options); }),
              path + ": " + c.error)
        << c.what;
  }
  write_file(path, rf);
  EXPECT_EQ(read_tqs_mesh(path.c_str(), kRf).frequency, 1.3e9);
}

} // namespace
