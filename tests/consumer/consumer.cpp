// Writes a field map's columns with the installed TQS library, reads them back and computes
// statistics; reads an SF7 map with the installed reader; writes it as the converter does; reads
// a T7 map as a field mesh and asks the mesh library for an openPMD file (which needs HDF5's
// libraries in the link); and catches the libraries' error, whose type comes from the library.
// Prints "consumer: ok" and exits 0 when all of it holds. Its own global FieldMap, Message and
// verbose stand beside the libraries' names, which are all in namespace norvalex.
#include <norvalex/error.h>
#include <norvalex/mesh.h>
#include <norvalex/sf7.h>
#include <norvalex/tqs.h>
#include <norvalex/version.h>

#include <complex>
#include <cstdio>
#include <string>

static_assert(NORVALEX_VERSION_MAJOR == 1, "the package's version header");

// A caller's names that the libraries also use inside their namespace.
struct FieldMap {
  int points = 0;
};
enum class Message { hello };
int verbose = 0;

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

} // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const std::string tqs_path = folder + "/columns.tqs";
  const std::string sf7_path = folder + "/map.sf7";

  // Two columns of a 2 x 2 map, written and read back.
  const double z[] = {0.0, 0.0, 0.01, 0.01};
  const double ez[] = {1e6, 2e6, 3e6, 4e6};
  norvalex::TqsOutput output;
  norvalex::tqs_open_file(output, tqs_path.c_str(), false);
  norvalex::tqs_write_header(output, {.creator = "CONSUMER", .creator_version = {1, 0}});
  norvalex::tqs_write_array(output, "Z", 4, norvalex::TQS_TYPE_DOUBLE, z);
  norvalex::tqs_write_array(output, "Ez", 4, norvalex::TQS_TYPE_DOUBLE, ez);
  norvalex::tqs_close_output(output);

  const norvalex::TqsTree tree = norvalex::tqs_load_tree(tqs_path.c_str());
  double average = 0;
  expect(norvalex::stat_avg(tree.get(), "Ez", &average, 0) == 1 && average == 2.5e6,
         "average of Ez");
  double count = 0;
  expect(norvalex::tqs_find_stat("N")->function(tree.get(), "Z", &count, 0) == 1 && count == 4,
         "N of Z");
  const norvalex::TqsStatValues stats = norvalex::tqs_all_stats(tree.get(), "Ez");
  expect(stats.avg == 2.5e6 && stats.min == 1e6 && stats.count == 4 && stats.row(3) == stats.avg,
         "all statistics of Ez");

  // The SF7 reader: a 1 x 2 map in centimetres and volts.
  std::FILE* file = std::fopen(sf7_path.c_str(), "w");
  std::fputs("Consumer map\nSF7\nR and Z increments: 0 1\n\n"
             "  R  Z  V  V  V  V\n (cm) (cm) (V) (V) (V) (V)\n"
             "  1  2  3  4  5  6\n  1  3  3  4  5  7\n",
             file);
  std::fclose(file);
  norvalex::FieldMap map;
  norvalex::read_field_map_file(sf7_path.c_str(), map);
  expect(map.dim1 == 1 && map.dim2 == 2 && map.columns[1].data[1] == 0.01 * 3.0, "SF7 map read");
  norvalex::TqsOutput converted;
  norvalex::tqs_open_file(converted, (folder + "/map.tqs").c_str(), false);
  norvalex::write_field_map(converted, map);
  norvalex::tqs_close_output(converted);
  const norvalex::TqsTree map_tree = norvalex::tqs_load_tree((folder + "/map.tqs").c_str());
  expect(norvalex::tqs_all_stats(map_tree.get(), "Z").max == 0.03, "map written as TQS");

  // A T7 file of an RF map, 2 x 2 points: z from 0 to 1 cm, 1300 MHz, r from 0 to 2 cm, then
  // Ez, Er, |E| in MV/m and H-phi in A/m, z varying fastest.
  const std::string t7_path = folder + "/map.t7";
  file = std::fopen(t7_path.c_str(), "w");
  std::fputs("0 1 1\n1300\n0 2 1\n"
             "1 2 3 4\n5 6 7 8\n9 10 11 12\n13 14 15 16\n",
             file);
  std::fclose(file);
  const norvalex::FieldMesh mesh = norvalex::read_t7_mesh(t7_path.c_str());
  const norvalex::MeshComponent* mesh_ez = mesh.component(norvalex::FieldKind::electric, "z");
  expect(mesh.point_count() == 4 && mesh.frequency == 1.3e9 && mesh.axes[0].points == 2 &&
             mesh_ez != nullptr && mesh_ez->values[2] == std::complex<double>(9e6, 0.0),
         "T7 map read as a mesh");

  // openPMD files: a build with HDF5 says that the file is missing, one without that it has none.
  try {
    norvalex::read_openpmd_mesh((folder + "/missing.h5").c_str());
    expect(false, "no error for a missing openPMD file");
  } catch (const norvalex::Error& error) {
    expect(error.what() == folder + "/missing.h5: " +
                               (norvalex::mesh_has_openpmd()
                                    ? "No such file or directory"
                                    : "openPMD files are not supported by this build (no HDF5)"),
           "openPMD error text");
  }

  const FieldMap own{2};
  expect(own.points == 2 && verbose == 0 && Message::hello == Message{}, "the caller's names");

  // A failure arrives as the library's exception with the program's message text.
  try {
    norvalex::tqs_load_tree((folder + "/missing.tqs").c_str());
    expect(false, "no error for a missing file");
  } catch (const norvalex::Error& error) {
    expect(error.what() == "\"" + folder + "/missing.tqs\": No such file or directory",
           "error text");
    expect(error.message_number() == 0, "error number");
  }

  if (failures == 0) {
    std::puts("consumer: ok");
  }
  return failures == 0 ? 0 : 1;
}
