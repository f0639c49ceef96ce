// Writes a field map's columns with the installed TQS library, reads them back and computes
// statistics; reads an SF7 map with the installed reader; writes it as the converter does; and
// catches the libraries' error, whose type comes from the library. Prints "consumer: ok" and
// exits 0 when all of it holds. Its own global FieldMap, Message and verbose stand beside the
// libraries' names, which are all in namespace norvalex.
#include <norvalex/error.h>
#include <norvalex/sf7.h>
#include <norvalex/tqs.h>
#include <norvalex/version.h>

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
