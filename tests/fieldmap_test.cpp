// fieldmap as users run it: its help and version, info's listing and JSON document of small maps
// (golden texts), convert from every input form to every output form with the files read back
// through the library, an SF7 table's TQS file as norvalex's bytes and then one block for each
// further column, --scale and --normalize, every refusal and error one exact line with status 1,
// and writes that fail or are interrupted leaving the old file and no temporary one.
#include "norvalex/mesh.h"
#include "norvalex/version.h"
#include "support/converter_runs.h"
#include "support/mesh_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using namespace norvalex;
using test_support::entries_of;
using test_support::expect_error_line;
using test_support::expect_success;
using test_support::kOldBytes;
using test_support::mask_created;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::RunOptions;
using test_support::write_file;

namespace {

// Every error line of fieldmap's: a wrong command line, a failed write, a defect of its input.
const std::string kError = "fieldmap: Error: ";

const MeshReadOptions kRf = test_support::at_frequency(1.3e9);

// The forms written (or read), as the messages list them: their names, or their titles.
std::string forms_listed(bool written, const char* between, const char* last, bool titles = false) {
  std::vector<std::string> words;
  for (const MeshFormInfo& info : mesh_forms()) {
    if (written ? info.writable : info.readable)
      words.emplace_back(titles ? info.title : info.name);
  }
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k)
    text += (k == 0 ? "" : k + 1 == words.size() ? last : between) + words[k];
  return text;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Fieldmap : public testing::Test {
protected:
  void SetUp() override {
    write_file(rf_sf7_, test_support::rf_table_text());
    write_file(electric_sf7_, test_support::electric_table_text());
    write_file(magnetic_sf7_, test_support::magnetic_table_text());
    write_file(rf_t7_, test_support::rf_t7_text());
    write_file(electric_t7_, test_support::electric_t7_text());
    expect_success(test_support::run_norvalex({"-o", rf_tqs_, rf_sf7_}), rf_tqs_);
    if (mesh_has_openpmd())
      write_mesh_file(read_mesh(rf_t7_.c_str()), MeshFormat::openpmd, rf_h5_.c_str());
    write_mesh_file(read_mesh(rf_t7_.c_str()), MeshFormat::opal_2d, rf_opal_.c_str());
    write_mesh_file(read_mesh(rf_t7_.c_str()), MeshFormat::bmad, rf_bmad_.c_str());
  }

  ProcessResult fieldmap(const std::vector<std::string>& args,
                         const RunOptions& options = {}) const {
    return test_support::run_program(joined({FIELDMAP_BINARY}, args), options);
  }

  test_support::TempDir dir_;
  const std::string rf_sf7_ = dir_.file("rf.sf7");
  const std::string electric_sf7_ = dir_.file("electric.sf7");
  const std::string magnetic_sf7_ = dir_.file("magnetic.sf7");
  const std::string rf_t7_ = dir_.file("rf.t7");
  const std::string electric_t7_ = dir_.file("electric.t7");
  const std::string rf_tqs_ = dir_.file("rf.tqs");      // norvalex's file of rf.sf7
  const std::string rf_h5_ = dir_.file("rf.h5");        // with HDF5 only
  const std::string rf_opal_ = dir_.file("rf-opal.T7"); // OPAL's, by its content
  const std::string rf_bmad_ = dir_.file("rf.bmad");
};

TEST_F(Fieldmap, HelpAndVersionGoToStandardOutput) {
  const std::string help = test_support::golden_text("fieldmap-help.txt");
  const std::string version = std::string("fieldmap ") + NORVALEX_VERSION_STRING + "\n";
  for (const auto& [args, out] : {std::pair{std::vector<std::string>{"--help"}, help},
                                  {{"-h"}, help},
                                  {{"convert", "-h"}, help},
                                  {{"info", "--help", "missing"}, help},
                                  {{"--version"}, version},
                                  {{"-V"}, version},
                                  {{"info", "--version"}, version}}) {
    const ProcessResult result = fieldmap(args);
    expect_success(result, args.back());
    EXPECT_EQ(result.out, out) << args.back();
  }
}

TEST_F(Fieldmap, InfoListsWhatTheFileHolds) {
  // A name that holds the words of the reason why there is no peak.
  const std::string odd_name = dir_.file("no field on the axis.sf7");
  write_file(odd_name, read_file(magnetic_sf7_));
  // Golden texts with @IN@ for the file's name.
  for (const auto& [args, golden] :
       {std::pair{std::vector<std::string>{rf_sf7_}, "fieldmap-info-rf.txt"},
        {{"--json", rf_sf7_}, "fieldmap-info-rf.json"},
        {{rf_t7_}, "fieldmap-info-rf-t7.txt"},
        {{magnetic_sf7_}, "fieldmap-info-magnetic.txt"},
        {{"-j", magnetic_sf7_}, "fieldmap-info-magnetic.json"},
        {{odd_name}, "fieldmap-info-magnetic.txt"}}) {
    std::string expected = test_support::golden_text(golden);
    expected.replace(expected.find("@IN@"), 4, test_support::escaped_path(args.back()));
    const ProcessResult result = fieldmap(joined({"info"}, args));
    expect_success(result, golden);
    EXPECT_EQ(result.out, expected) << golden;
  }
}

TEST_F(Fieldmap, ConvertWritesEveryFormThatReadsBackAsTheSameMap) {
  struct Input {
    std::string path;
    std::vector<std::string> args;
    MeshReadOptions options; // the same choices for the library
  };
  std::vector<Input> inputs = {
      {rf_sf7_, {"-F", "1.3e9"}, kRf},
      {electric_sf7_, {}, {}},
      {rf_t7_, {}, {}},
      {electric_t7_, {"--field", "electric"}, test_support::of_field(FieldKind::electric)},
      {rf_tqs_, {"--frequency", "1.3e9"}, kRf},
      {rf_opal_, {}, {}},
      {rf_bmad_, {"-F", "1.3e9"}, kRf},
  };
  struct Output {
    const char* name; // "-" for standard output
    std::vector<std::string> args;
    MeshFormat format;
  };
  std::vector<Output> outputs = {
      {"out.tqs", {}, MeshFormat::tqs},
      {"out.t7", {}, MeshFormat::t7},
      {"out.txt", {}, MeshFormat::on_axis},
      {"out.map", {"--to", "t7"}, MeshFormat::t7},
      {"-", {"--to", "tqs"}, MeshFormat::tqs},
      {"-", {"-t", "t7"}, MeshFormat::t7},
      {"-", {"--to", "onaxis"}, MeshFormat::on_axis},
      {"-", {"--to", "opal-2d"}, MeshFormat::opal_2d},
      {"-", {"--to", "opal-1d"}, MeshFormat::opal_1d},
      {"-", {"--to", "astra"}, MeshFormat::astra},
      {"out.bmad", {}, MeshFormat::bmad},
      {"-", {"--to", "bmad"}, MeshFormat::bmad},
  };
  if (mesh_has_openpmd()) {
    inputs.push_back({rf_h5_, {}, {}});
    outputs.push_back({"out.h5", {}, MeshFormat::openpmd});
    outputs.push_back({"out.hdf5", {}, MeshFormat::openpmd});
    outputs.push_back({"out.map", {"--to", "openpmd"}, MeshFormat::openpmd});
  }
  const std::string written = dir_.file("written");
  for (const Input& input : inputs) {
    const FieldMesh mesh = read_mesh(input.path.c_str(), input.options);
    for (const Output& output : outputs) {
      const std::string target = output.name[0] == '-' ? "-" : dir_.file(output.name);
      const std::vector<std::string> args =
          joined(joined(joined({"convert"}, input.args), output.args), {input.path, target});
      const std::string label =
          input.path + " to " + output.name + " " + (output.args.empty() ? "" : output.args[1]);
      const ProcessResult result = fieldmap(args);
      // A form without the table's other columns says that it leaves them out.
      const std::string dropped = "fieldmap: Warning: \"" + target +
                                  "\" holds no V: only TQS "
                                  "files keep a table's other columns\n";
      EXPECT_EQ(result.exit_status, 0) << label;
      EXPECT_EQ(result.err, mesh.columns.empty() || output.format == MeshFormat::tqs ? "" : dropped)
          << label;
      write_file(written, target == "-" ? result.out : read_file(target));
      // A 1-D form's file holds the axis: the bytes that the library writes.
      if (output.format == MeshFormat::on_axis || output.format == MeshFormat::opal_1d ||
          output.format == MeshFormat::astra) {
        write_mesh_file(mesh, output.format, dir_.file("axis").c_str());
        EXPECT_EQ(read_file(written), read_file(dir_.file("axis"))) << label;
        continue;
      }
      // What a TQS or T7 file does not say: an RF map's frequency, a static map's field.
      MeshReadOptions again = test_support::of_field(mesh.components.at(0).field);
      if (mesh.frequency != 0)
        again = test_support::at_frequency(mesh.frequency);
      const FieldMesh back = read_mesh(written.c_str(), again);
      test_support::expect_same_mesh(mesh, back, 1e-12, output.format == MeshFormat::tqs, label);
    }
  }
}

// The doubles of a TQS block.
std::vector<double> doubles_of(const std::string& data) {
  std::vector<double> values(data.size() / sizeof(double));
  std::memcpy(values.data(), data.data(), values.size() * sizeof(double));
  return values;
}

TEST_F(Fieldmap, TableToTqsIsNorvalexsBytesThenABlockForEachFurtherColumn) {
  const std::string reference = dir_.file("norvalex.tqs");
  const std::string out = dir_.file("out.tqs");
  // Every value but the coordinates times `factor`; the peak of |Ez| on the axis is 10 MV/m.
  for (const auto& [table, args, factor] : {std::tuple{rf_sf7_, std::vector<std::string>{}, 1.0},
                                            {magnetic_sf7_, {}, 1.0},
                                            {magnetic_sf7_, {"--scale", "-2.5"}, -2.5},
                                            {rf_sf7_, {"-n", "5e6"}, 0.5}}) {
    const std::string label = table + " " + std::to_string(factor);
    expect_success(test_support::run_norvalex({"-o", reference, table}), label);
    expect_success(fieldmap(joined(joined({"convert"}, args), {table, out})), label);
    const std::string norvalex_bytes = read_file(reference);
    const std::string bytes = read_file(out);
    EXPECT_EQ(mask_created(bytes.substr(0, 48)), mask_created(norvalex_bytes.substr(0, 48)));
    if (factor == 1) {
      EXPECT_EQ(mask_created(bytes.substr(0, norvalex_bytes.size())), mask_created(norvalex_bytes))
          << label;
    }
    const auto expected = test_support::blocks_of(norvalex_bytes);
    const auto blocks = test_support::blocks_of(bytes);
    const bool nine = table == magnetic_sf7_;
    const std::vector<std::string> further = {"dBy/dy", "dBy/dx", "dBx/dy"};
    EXPECT_EQ(test_support::names_of(blocks),
              joined(test_support::names_of(expected), nine ? further : std::vector<std::string>{}))
        << label;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      const std::vector<double> values = doubles_of(blocks[k].data);
      ASSERT_EQ(values.size(), nine ? 6u : 20u) << label;
      for (std::size_t n = 0; n < values.size(); ++n) {
        // The further columns are in (G/cm), x fastest over 3 points.
        const double value = k < 6 ? doubles_of(expected[k].data)[n]
                                   : 0.01 * test_support::fixture_value(static_cast<int>(k) - 2,
                                                                        static_cast<int>(n % 3),
                                                                        static_cast<int>(n / 3));
        EXPECT_EQ(values[n], k < 2 ? value : value * factor) << label << " " << k << " " << n;
      }
    }
  }
}

// A travelling wave has no real amplitudes: info shows the magnitudes of the field the mesh
// stands for, its values times its fieldScale, as its on-axis peak.
TEST_F(Fieldmap, InfoOfATravellingWaveScalesItsMagnitudes) {
  if (!mesh_has_openpmd())
    GTEST_SKIP() << "no HDF5 in this build";
  FieldMesh mesh = read_mesh(rf_t7_.c_str());
  double largest = 0;
  for (MeshComponent& component : mesh.components) {
    for (std::size_t k = 0; k < component.values.size(); ++k)
      component.values[k] *= std::polar(1.0, 0.5 * static_cast<double>(k));
  }
  for (std::size_t k = 0; k < mesh.point_count(); ++k)
    largest = std::max(largest, std::abs(mesh.components.at(1).values[k]));
  mesh.field_scale = -2;
  const std::string wave = dir_.file("wave.h5");
  write_mesh_file(mesh, MeshFormat::openpmd, wave.c_str());
  const ProcessResult result = fieldmap({"info", "--json", wave});
  expect_success(result, wave);
  EXPECT_NE(result.out.find("\"amplitudes\": \"magnitude\""), std::string::npos) << result.out;
  const std::string max = "\"name\": \"electricField/z\", \"unit\": \"V/m\", \"min\": ";
  const std::size_t at = result.out.find(max);
  ASSERT_NE(at, std::string::npos) << result.out;
  const std::size_t max_at = result.out.find("\"max\": ", at) + 7;
  EXPECT_EQ(std::stod(result.out.substr(max_at)), 2 * largest) << result.out;
  const std::size_t peak_at = result.out.find("\"value\": ", result.out.find("on_axis_peak")) + 9;
  EXPECT_GT(std::stod(result.out.substr(peak_at)), 0) << result.out;
}

TEST_F(Fieldmap, ScaleAndNormalizeMultiplyTheFields) {
  struct Case {
    std::string input;
    std::vector<std::string> args;
    MeshReadOptions options;
    const char* output;
    double scale; // 0 for a normalization
    double peak;  // of |Ez| or |Bz| on the axis after it, V/m or T
  };
  const std::vector<Case> cases = {
      {rf_t7_, {"--scale", "-2"}, kRf, "out.t7", -2, 2e7},
      {rf_t7_, {"--normalize", "2.5e6"}, kRf, "out.t7", 0, 2.5e6},
      {electric_t7_,
       {"-f", "magnetic", "-n", "0.5"},
       test_support::of_field(FieldKind::magnetic),
       "out.t7",
       0,
       0.5},
      {rf_tqs_, {"-F", "1.3e9", "-n", "1e6"}, kRf, "out.tqs", 0, 1e6},
      {electric_sf7_, {"-s", "3"}, test_support::of_field(FieldKind::electric), "out.tqs", 3, 6000},
  };
  for (const Case& c : cases) {
    const std::string out = dir_.file(c.output);
    const std::string label = c.input + " " + c.args.back();
    expect_success(fieldmap(joined(joined({"convert"}, c.args), {c.input, out})), label);
    FieldMesh expected = read_mesh(c.input.c_str(), c.options);
    scale_mesh(expected, c.scale != 0 ? c.scale : c.peak / on_axis_peak(expected).value);
    const FieldMesh back = read_mesh(out.c_str(), c.options);
    test_support::expect_same_mesh(expected, back, 1e-12, false, label);
    EXPECT_NEAR(on_axis_peak(back).value, c.peak, 1e-12 * c.peak) << label;
  }
}

TEST_F(Fieldmap, EveryRefusalAndErrorIsOneLineAndWritesNothing) {
  const std::string out = dir_.file("out.tqs");
  const std::string missing = dir_.file("missing.t7");
  const std::string bad_t7 = dir_.file("bad.t7");
  write_file(bad_t7, "50 70 4\n1300\n0 3 3\n1 2 x 4\n");
  const std::string bad_bmad = dir_.file("bad.txt");
  write_file(bad_bmad, "{geometry = cartesian}\n");
  const std::string table = dir_.file("export.txt"), empty = dir_.file("empty.sf7");
  const std::string notes = dir_.file("notes.txt");
  write_file(table, "x [mm] y [mm] z [mm] ExRe [V/m]\n----------\n0 0 0 1\n");
  write_file(empty, "");
  write_file(notes, "no field here\n");
  const std::string uneven = dir_.file("uneven.dat");
  write_file(uneven, "0 1\n0.5 2\n1.5 4\n");
  const std::string no_command =
      kError + "no command given: convert or info; \"fieldmap --help\" lists the options";
  struct Case {
    std::vector<std::string> args;
    std::string error;
    RunOptions options = {};
  };
  std::vector<Case> cases = {
      {{}, no_command},
      {{"-F", "1e9", "convert", rf_sf7_, out}, no_command},
      {{"show", rf_t7_}, kError + "unknown command \"show\": convert or info"},
      {{"convert", rf_t7_}, kError + "convert reads IN and writes OUT, not 1 file name"},
      {{"info", rf_t7_, out}, kError + "info reads one file IN, not 2 file names"},
      {{"convert", "--to", "hdf5", rf_t7_, out},
       kError + "--to needs " + forms_listed(true, ", ", " or ") + ", not \"hdf5\""},
      {{"convert", "--field", "E", electric_t7_, out},
       kError + "--field needs electric or magnetic, not \"E\""},
      {{"convert", "--scale", "2x", rf_t7_, out}, kError + "--scale needs a number, not \"2x\""},
      {{"convert", "-F", "1e999", rf_sf7_, out},
       kError + "--frequency needs a number, not \"1e999\""},
      {{"convert", "-F", "0", rf_sf7_, out}, kError + "--frequency needs a positive number of Hz"},
      {{"convert", "-n", "-1", rf_t7_, out}, kError + "--normalize needs a positive peak"},
      {{"convert", "-s", "2", "-n", "3", rf_t7_, out},
       kError + "--scale and --normalize do not go together"},
      {{"info", "--scale", "2", rf_t7_},
       kError + "--to, --scale and --normalize go with convert only"},
      {{"convert", "--json", rf_t7_, out}, kError + "--json goes with info only"},
      {{"convert", rf_t7_, out, "-s", "2"}, kError + "option after the file names: -s"},
      {{"convert", "--bogus", rf_t7_, out}, kError + "unknown option --bogus"},
      {{"convert", rf_t7_, dir_.file("out.dat")},
       kError + "OUT's format is not told by its extension: give it with --to"},
      {{"convert", rf_t7_, "-"},
       kError + "standard output has no extension: give its format with --to"},
      {{"convert", "--to", "openpmd", rf_t7_, "-"},
       kError + "an openPMD file is written by its name, not to standard output"},
      {{"convert", missing, out}, kError + missing + ": No such file or directory"},
      {{"info", missing}, kError + missing + ": No such file or directory"},
      {{"convert", bad_t7, out}, kError + bad_t7 + "(4): Not a number: x"},
      {{"info", bad_bmad},
       kError + bad_bmad +
           "(1): Unknown geometry \"cartesian\": rotationally_symmetric_rz or xyz expected"},
      {{"info", notes},
       kError + notes + ": not a field map of a known form (" +
           forms_listed(false, ", ", ", ", true) + ")"},
      {{"info", table},
       kError + table + "(1): electricField/x has a real part (ExRe) and no imaginary part"},
      {{"info", "--with", missing, rf_t7_}, kError + missing + ": No such file or directory"},
      {{"convert", empty, out}, kError + empty + ": an empty file holds no field map"},
      {{"info", uneven},
       kError + uneven +
           "(3): Uneven step: 1 m after steps of 0.5 m (resample the map on equally spaced points "
           "to read it)"},
      {{"convert", rf_sf7_, dir_.file("out.t7")},
       kError + rf_sf7_ + ": an RF table states no frequency: give the frequency in Hz"},
      {{"convert", electric_t7_, out},
       kError + electric_t7_ +
           ": a static T7 file does not say which field it holds: give the field, electric or "
           "magnetic"},
      {{"convert", "--coefficients", "4", rf_t7_, dir_.file("rfdata1")},
       kError + rf_t7_ +
           ": an Impact-T Fourier file holds an odd count of values a block (a0, then pairs a_n, "
           "b_n), not 4"},
      {{"convert", rf_t7_, dir_.file("rfdata1001")},
       kError + rf_t7_ +
           ": an Impact-T derivative file takes its derivatives from a spline of 6 points or "
           "more, not 5"},
      {{"convert", "-f", "electric", "--planar", electric_t7_, dir_.file("out.txt")},
       kError + electric_t7_ + ": no field on the axis: a rectangular 2-D map has no axis"},
      {{"info", "--plane", "y", rf_t7_},
       kError + "--plane needs AXIS=M, the axis x, y or z and a position in m, not \"y\""},
      {{"info", "--plane", "y=0", "--cylindrical", rf_t7_},
       kError + "--plane and --cylindrical do not go together"},
      {{"convert", "--plane", "z=0", rf_t7_, out},
       kError + rf_t7_ + ": a plane is taken of a rectangular map, and this one is cylindrical"},
      {{"convert", "--ascii", rf_t7_, dir_.file("out.edz")},
       kError + dir_.file("out.edz") + ": a TraceWin file takes no ascii"},
      {{"convert", "--to", "tracewin", rf_t7_, "-"},
       kError + "tracewin files are named by OUT and their extensions: give OUT a file name"},
      {{"convert", "-f", "electric", electric_t7_, dir_.file("out.sdds")},
       kError + electric_t7_ +
           ": an SDDS file holds the Ez of an RF map or the Bz and Br of a solenoid, not a static "
           "electric field"},
  };
#ifndef _WIN32
  // Its first bytes tell the form and the reader reads them again, which a pipe cannot give
  // twice; the open of a FIFO without a writer would wait.
  const std::string fifo = dir_.file("fifo");
  ASSERT_TRUE(test_support::make_fifo(fifo));
  cases.push_back({{"info", fifo}, kError + fifo + ": not a regular file"});
  RunOptions terminal;
  terminal.stdout_mode = test_support::StdoutMode::terminal;
  cases.push_back({{"convert", "--to", "t7", rf_t7_, "-"},
                   kError + "output can not be written to a terminal: give OUT a file name, or "
                            "redirect standard output",
                   terminal});
  if (mesh_has_openpmd()) {
    // An attribute whose type claims 65288 bytes: HDF5 reads past its buffer and crashes, in the
    // child that reads the file.
    const std::string damaged = dir_.file("damaged.h5");
    std::string bytes = read_file(rf_h5_);
    const std::size_t name = bytes.find(std::string("openPMD\0", 8));
    ASSERT_NE(name, std::string::npos);
    bytes[name - 3] = '\xff';
    write_file(damaged, bytes);
    cases.push_back(
        {{"info", damaged}, kError + damaged + ": damaged HDF5 file (HDF5 failed reading it)"});
  }
#endif
  const std::set<std::string> before = entries_of(dir_.path());
  for (const Case& c : cases) {
    const ProcessResult result = fieldmap(c.args, c.options);
    expect_error_line(result, c.error + "\n", c.error);
    EXPECT_EQ(result.out, "") << c.error;
    EXPECT_EQ(entries_of(dir_.path()), before) << c.error;
  }
}

// The trackers' 1-D forms take the field on the axis of any map, and TraceWin's 2-D form a static
// map as two files: each conversion writes the library's bytes.
TEST_F(Fieldmap, ConvertWritesTraceWinAndSddsFiles) {
  struct Case {
    std::string input;
    std::vector<std::string> args;  // before the file names
    const char* output;             // "-" for standard output
    std::vector<const char*> files; // the files written
    MeshReadOptions read;
    MeshFormat format;
    MeshWriteOptions write;
  };
  MeshWriteOptions mirror;
  mirror.mirror = true;
  MeshWriteOptions ascii_moved;
  ascii_moved.ascii = true;
  ascii_moved.z_offset = -0.5;
  const MeshReadOptions electric = test_support::of_field(FieldKind::electric);
  const std::string cavity = dir_.file("cavity.edz");
  for (const Case& c : std::vector<Case>{
           {rf_t7_, {}, "cavity.edz", {"cavity.edz"}, {}, MeshFormat::tracewin, {}},
           {cavity,
            {"-F", "1.3e9", "--mirror"},
            "out.sdds",
            {"out.sdds"},
            kRf,
            MeshFormat::sdds,
            mirror},
           {rf_t7_,
            {"--to", "sdds", "--ascii", "-z", "-0.5"},
            "-",
            {},
            {},
            MeshFormat::sdds,
            ascii_moved},
           {electric_t7_,
            {"-f", "electric"},
            "gun.bsz",
            {"gun.esz", "gun.esr"},
            electric,
            MeshFormat::tracewin,
            {}},
       }) {
    const std::string target = c.output[0] == '-' ? "-" : dir_.file(c.output);
    const ProcessResult result = fieldmap(joined(joined({"convert"}, c.args), {c.input, target}));
    expect_success(result, c.output);
    const std::string expected = dir_.file("expected");
    const FieldMesh mesh = read_mesh(c.input.c_str(), c.read);
    write_mesh_file(mesh, c.format, expected.c_str(), c.write);
    const std::vector<std::string> names = mesh_output_paths(mesh, c.format, expected, c.write);
    if (target == "-") {
      EXPECT_EQ(result.out, read_file(names.at(0)));
    }
    for (std::size_t k = 0; k < c.files.size(); ++k)
      EXPECT_EQ(read_file(dir_.file(c.files[k])), read_file(names.at(k))) << c.files[k];
  }
}

// A 3-D map as ASTRA's files, told by their base name: whole, a plane of it, or its cylindrical
// map, whose departure from symmetry convert warns of and info shows.
TEST_F(Fieldmap, ThreeDMapsConvertWholeAsAPlaneOrAsTheirCylindricalMap) {
  // Bz 1 + 0.5 x, from 0.99 to 1.01 T: asymmetric.
  const auto tilted = [] {
    return test_support::map_3d(
        {{FieldKind::magnetic, "z"}},
        [](std::size_t, double x, double, double) { return std::complex<double>(1 + 0.5 * x); });
  };
  const FieldMesh map = tilted();
  const std::string base = dir_.file("3D_tilted");
  write_mesh_file(map, MeshFormat::astra_3d, base.c_str());
  const std::string out = dir_.file("out.tqs");
  const std::string symmetry = "departs from the symmetry about z by 0.01980198019801982 of its "
                               "largest field at most";
  struct Case {
    std::vector<std::string> args;
    std::function<FieldMesh()> expected;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{base}, tilted, ""},
      {{"--plane", "y=0", base + ".bz"}, [&] { return mesh_plane(map, "y", 0); }, ""},
      {{"-C", base},
       [&] { return mesh_cylindrical(map).mesh; },
       "fieldmap: Warning: " + base + ": its cylindrical map " + symmetry + ", more than 0.001\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = fieldmap(joined(joined({"convert"}, c.args), {out}));
    EXPECT_EQ(result.exit_status, 0) << c.args[0];
    EXPECT_EQ(result.err, c.err) << c.args[0];
    test_support::expect_same_mesh(c.expected(), read_mesh(out.c_str()), 0, false, c.args[0]);
  }
  const ProcessResult info = fieldmap({"info", "--cylindrical", base});
  expect_success(info, base);
  EXPECT_NE(info.out.find("\nsymmetry   " + symmetry + "\n"), std::string::npos) << info.out;
  const std::string named =
      kError + "astra-3d files are named by OUT and their extensions: give OUT a file name";
  expect_error_line(fieldmap({"convert", "--to", "astra-3d", base, "-"}), named + "\n", named);
}

// A solver's E and H exports, each a file, make one map.
TEST_F(Fieldmap, ExportsOfEAndHConvertTogether) {
  const std::string e = dir_.file("e.txt"), h = dir_.file("h.txt");
  const test_support::ExportGrid grid{{2, 2, 3}, {0, 0, 0}, {1, 1, 1}, "xyz", 2};
  write_file(e, test_support::export_table_text(
                    "x [mm] y [mm] z [mm] EzRe [V/m] EzIm [V/m]\n-------\n", grid));
  write_file(h, test_support::export_table_text(
                    "x [mm] y [mm] z [mm] HzRe [A/m] HzIm [A/m]\n-------\n", grid));
  const ProcessResult info = fieldmap({"info", "--with", h, e});
  expect_success(info, e);
  EXPECT_NE(info.out.find("\nwith       " + test_support::escaped_path(h) + "\n"),
            std::string::npos)
      << info.out;
  if (!mesh_has_openpmd())
    return;
  const std::string out = dir_.file("eh.h5");
  expect_success(fieldmap({"convert", "-F", "1.3e9", "-w", h, e, out}), out);
  MeshReadOptions options = kRf;
  options.with_file = h.c_str();
  test_support::expect_same_mesh(read_mesh(e.c_str(), options), read_mesh(out.c_str()), 0, false,
                                 out);
}

// Impact-T's files are told by their names: a map to the Fourier form and back to its axis.
TEST_F(Fieldmap, ImpactFourierFilesConvertBothWays) {
  const std::string rfdata = dir_.file("rfdata3");
  const ProcessResult written = fieldmap({"convert", "--coefficients", "3", rf_t7_, rfdata});
  EXPECT_EQ(written.exit_status, 0);
  EXPECT_EQ(written.err, "");
  MeshWriteOptions three;
  three.coefficients = 3;
  write_mesh_file(read_mesh(rf_t7_.c_str()), MeshFormat::impact_fourier,
                  dir_.file("expected").c_str(), three);
  EXPECT_EQ(read_file(rfdata), read_file(dir_.file("expected")));
  const ProcessResult back = fieldmap({"convert", "--points", "5", "--to", "onaxis", rfdata, "-"});
  EXPECT_EQ(back.exit_status, 0);
  EXPECT_EQ(back.out.substr(0, 2), "0.");
}

// The solver names its files in capitals (SWIFEL.T7), and the Python module's write_mesh takes
// an extension in either case.
TEST_F(Fieldmap, AnExtensionInCapitalsTellsTheFormat) {
  for (const auto& [name, format] :
       {std::pair{"OUT.T7", "t7"}, {"OUT.TQS", "tqs"}, {"OUT.TXT", "onaxis"}}) {
    const std::string out = dir_.file(name);
    const std::string named = dir_.file("named");
    expect_success(fieldmap({"convert", rf_t7_, out}), name);
    expect_success(fieldmap({"convert", "--to", format, rf_t7_, named}), name);
    EXPECT_EQ(mask_created(read_file(out)), mask_created(read_file(named))) << name;
  }
}

// In a folder that takes no new file, a file is written in place: a mesh that OUT's form cannot
// hold is refused before the file is opened, which would empty it, and an openPMD file, which
// HDF5 writes by name, is not written in place at all.
TEST_F(Fieldmap, ARefusedMeshLeavesAFileWrittenInPlaceAsItWas) {
  const std::string folder = dir_.file("locked");
  std::filesystem::create_directory(folder);
  write_file(folder + "/keep.txt", kOldBytes);
  write_file(folder + "/keep.h5", kOldBytes);
  const test_support::UnwritableFile locked(folder);
  if (locked.error_text().empty())
    GTEST_SKIP() << "this process can make no folder unwritable for itself here";
  expect_error_line(
      fieldmap({"convert", "-f", "electric", "--planar", electric_t7_, folder + "/keep.txt"}),
      kError + electric_t7_ + ": no field on the axis: a rectangular 2-D map has no axis\n",
      "keep.txt");
  EXPECT_EQ(read_file(folder + "/keep.txt"), kOldBytes);
  // HDF5 writes a file of its own, which this folder cannot take: refused, the file untouched.
  if (mesh_has_openpmd()) {
    expect_error_line(fieldmap({"convert", rf_t7_, folder + "/keep.h5"}),
                      kError + "\"" + folder + "/keep.h5\": " + locked.error_text() + "\n",
                      "keep.h5");
    EXPECT_EQ(read_file(folder + "/keep.h5"), kOldBytes);
  }
}

TEST_F(Fieldmap, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit";
#endif
  std::vector<std::pair<std::string, const char*>> runs = {
      {rf_sf7_, "out.tqs"}, {rf_t7_, "out.tqs"}, {rf_t7_, "out.t7"}, {rf_t7_, "out.txt"}};
  if (mesh_has_openpmd())
    runs.emplace_back(rf_t7_, "out.h5");
  for (const auto& [input, name] : runs) {
    const std::string out = dir_.file(name);
    std::filesystem::remove(out);
    expect_success(fieldmap({"convert", input, out}), name);
    const auto length = static_cast<long long>(read_file(out).size());
    for (const long long limit : {10LL, length / 2, length - 1}) {
      const std::string label = input + " to " + name + ", limit " + std::to_string(limit);
      write_file(out, kOldBytes);
      const std::set<std::string> before = entries_of(dir_.path());
      RunOptions options;
      options.file_size_limit = limit;
      expect_error_line(fieldmap({"convert", input, out}, options),
                        kError + "\"" + out + "\": File too large\n", label);
      EXPECT_EQ(read_file(out), kOldBytes) << label;
      EXPECT_EQ(entries_of(dir_.path()), before) << label;
    }
  }
}

// SIGTERM, or Ctrl-C on Windows, at moments from the start of a run to a little after its end.
TEST_F(Fieldmap, AnInterruptedConvertLeavesTheOldFileOrTheWholeNewOne) {
  const std::string table = dir_.file("large.sf7");
  const std::string t7 = dir_.file("large.t7");
  write_file(table, test_support::sf7_map_text("399 399", 400 * 400));
  std::string text = "0 40 399\n1300\n0 4 399\n";
  char line[64];
  for (int n = 0; n < 400 * 400; ++n) {
    std::snprintf(line, sizeof line, "%d.5 -%d.25 7 %d\n", n % 1000, n % 700, n);
    text += line;
  }
  write_file(t7, text);
  RunOptions interruptible;
  interruptible.interruptible = true;
  std::mt19937 generator(20261208); // fixed: every run tries the same moments
  int interrupted = 0;
  for (const auto& [input, name] : {std::pair{table, "out.tqs"}, std::pair{t7, "out.t7"}}) {
    const std::string out = dir_.file(name);
    const std::vector<std::string> args = {FIELDMAP_BINARY, "convert", input, out};
    const auto started = std::chrono::steady_clock::now();
    expect_success(test_support::run_program(args), name);
    const auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    const std::string whole = mask_created(read_file(out));
    std::uniform_int_distribution<long long> delay(0, run_time.count() * 5 / 4);
    for (int round = 0; round < 10; ++round) {
      const std::string label = std::string(name) + " round " + std::to_string(round);
      write_file(out, kOldBytes);
      const std::set<std::string> before = entries_of(dir_.path());
      test_support::RunningProgram program = test_support::start_program(args, interruptible);
      std::this_thread::sleep_for(std::chrono::microseconds(delay(generator)));
      test_support::interrupt_program(program);
      const ProcessResult result = test_support::finish_program(program);
      const std::string bytes = read_file(out);
      const bool complete = mask_created(bytes) == whole;
      EXPECT_TRUE(bytes == kOldBytes || complete) << label << ": " << bytes.size() << " bytes";
      if (test_support::ended_by_interruption(result)) {
        ++interrupted;
      } else {
        expect_success(result, label);
        EXPECT_TRUE(complete) << label;
      }
      EXPECT_EQ(entries_of(dir_.path()), before) << label;
    }
  }
  RecordProperty("interrupted", interrupted);
}

} // namespace
