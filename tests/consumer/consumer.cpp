// Writes a field map's columns with the installed TQS library, reads them back and computes a
// statistic; reads an SF7 map with the installed reader; and catches the libraries' error, whose
// type comes from the library. Prints "consumer: ok" and exits 0 when all of it holds.
#include <norvalex/sf7/sf7_reader.h>
#include <norvalex/tqs/tqs_loader.h>
#include <norvalex/tqs/tqs_stats.h>
#include <norvalex/tqs/tqs_writer.h>
#include <norvalex/version.h>

#include <cstdio>
#include <string>

static_assert(NORVALEX_VERSION_MAJOR == 1, "the package's version header");

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
  TqsOutput output;
  tqs_open_file(output, tqs_path.c_str(), false);
  tqs_write_header(output, "CONSUMER", 1, 0, "", 0, 0);
  tqs_write_array(output, "Z", 4, TQS_TYPE_DOUBLE, z);
  tqs_write_array(output, "Ez", 4, TQS_TYPE_DOUBLE, ez);
  tqs_close_output(output);

  TqsTree tree = tqs_load_tree(tqs_path.c_str());
  double average = 0;
  expect(stat_avg(tree.get(), "Ez", &average, 0) == 1 && average == 2.5e6, "average of Ez");
  double count = 0;
  expect(tqs_find_stat("N")->function(tree.get(), "Z", &count, 0) == 1 && count == 4, "N of Z");

  // The SF7 reader: a 1 x 2 map in centimetres and volts.
  std::FILE* file = std::fopen(sf7_path.c_str(), "w");
  std::fputs("Consumer map\nSF7\nR and Z increments: 0 1\n\n"
             "  R  Z  V  V  V  V\n (cm) (cm) (V) (V) (V) (V)\n"
             "  1  2  3  4  5  6\n  1  3  3  4  5  7\n",
             file);
  std::fclose(file);
  FieldMap map;
  read_field_map_file(sf7_path.c_str(), map);
  expect(map.dim1 == 1 && map.dim2 == 2 && map.columns[1].data[1] == 0.01 * 3.0, "SF7 map read");

  // A failure arrives as the library's exception with the program's message text.
  try {
    tqs_load_tree((folder + "/missing.tqs").c_str());
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
