// The field-map reader on small maps written here: grid sizes, renaming and units, scaling,
// line handling, and the exact error line for every defect of the input.
#include "cli/program.h"
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::run_in_child;
using test_support::sf7_point_line;
using test_support::sf7_point_lines;

namespace {

// Built a second time with every line read by the exact path: both ways of reading pass the
// same tests.
#ifdef NORVALEX_TEST_EXACT_PATH
constexpr bool kExactPath = true;
#else
constexpr bool kExactPath = false;
#endif

const std::string kHead = "Poisson Superfish\nProgram SF7 test\n\n";
const std::string kNames =
    "      R             Z              Er            Ez            |E|    V \n";
const std::string kUnits =
    "    (cm)          (cm)           (V/cm)        (V/cm)        (V/cm)  (V)\n";

// A map with the given increments line, names, units and point lines; the names line is line 6.
std::string map_text(const std::string& increments, const std::string& body,
                     const std::string& names = kNames, const std::string& units = kUnits) {
  return kHead + increments + "\n\n" + names + units + body;
}

std::FILE* open_text(const std::string& text) {
  return test_support::open_bytes(text);
}

// Reads a map from "in.sf7" with the progress lines on standard error when `verbose` is set;
// returns the number of lines read.
std::int32_t read_text(const std::string& text, FieldMap& map, int verbose = 0) {
  Sf7Reading reading{"in.sf7", 0, {verbose ? print_stderr : nullptr}};
  std::FILE* stream = open_text(text);
  read_field_map(stream, reading, map, {kExactPath});
  std::fclose(stream);
  return reading.line_number;
}

// Reads a map in a child process and returns what it wrote on standard error.
test_support::ProcessResult read_in_child(const std::string& text, int verbose = 0) {
  return run_in_child([&] {
    FieldMap map;
    read_text(text, map, verbose);
  });
}

TEST(GridSize, ComesFromTheCountsAfterTheFirstColon) {
  struct Case {
    const char* increments;
    int dim1;
    int dim2;
  };
  const Case cases[] = {
      {"R and Z increments:   10   20", 11, 21},
      {"Number of increments: 40", 41, 1},
      {"Z and R increments: 10,20", 11, 1}, // a comma stops the second count
      {"increments:\t+3\v 4 trailing words", 4, 5},
      {"increments: 0 0", 1, 1},
      {"increments: 2 x 7", 3, 1},
      {"increments: 2.5 7", 3, 1}, // the second count cannot start at ".5"
      {"R and Z increments: -0 2", 1, 3},
  };
  for (const Case& c : cases) {
    FieldMap map;
    const auto lines = read_text(map_text(c.increments, sf7_point_lines(c.dim1 * c.dim2)), map);
    EXPECT_EQ(map.dim1, c.dim1) << c.increments;
    EXPECT_EQ(map.dim2, c.dim2) << c.increments;
    // Every point line was read: the last one holds the last index.
    const int last = c.dim1 * c.dim2 - 1;
    EXPECT_EQ(map.columns[5].data[static_cast<std::size_t>(last)], last) << c.increments;
    EXPECT_EQ(lines, 7 + c.dim1 * c.dim2) << c.increments;
  }
}

TEST(InputDefects, EndTheRunWithOneLocatedLine) {
  const std::string good_points = sf7_point_lines(6);
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"empty file", "", "Error: in.sf7(0): Unexpected end of file\n"},
      {"no SF7 line", "a\nb\nc\n", "Error: in.sf7(3): Unexpected end of file\n"},
      {"no increments line", "x\nSF7\nsome\n", "Error: in.sf7(3): Unexpected end of file\n"},
      {"SF7 and increments in one line serve as the SF7 line only",
       "SF7 increments: 1 2\n\nA B C D E F\n", "Error: in.sf7(3): Unexpected end of file\n"},
      {"no empty line after the increments", kHead + "increments: 1 2\n  \nx\n",
       "Error: in.sf7(6): Unexpected end of file\n"},
      {"no number", map_text("R and Z increments: none", good_points),
       "Error: in.sf7(4): Unsupported header\n"},
      {"first colon before a word", map_text("Grid: size increments: 1 2", good_points),
       "Error: in.sf7(4): Unsupported header\n"},
      {"negative count", map_text("increments: -3 2", good_points),
       "Error: in.sf7(4): Increment count out of range: -3\n"},
      {"two negative counts", map_text("increments: -3 -3", good_points),
       "Error: in.sf7(4): Increment count out of range: -3\n"},
      {"negative second count", map_text("increments: 3 -2", good_points),
       "Error: in.sf7(4): Increment count out of range: -2\n"},
      {"count past int", map_text("increments: 4294967297 0", good_points),
       "Error: in.sf7(4): Increment count out of range: 4294967297\n"},
      {"count of INT_MAX", map_text("increments: 2147483647", good_points),
       "Error: in.sf7(4): Grid too large: 2147483648*1 points\n"},
      {"array size past 32 bits", map_text("increments: 65535 8191", good_points),
       "Error: in.sf7(4): Grid too large: 65536*8192 points\n"},
      {"second empty line", kHead + "increments: 1 2\n\n\n" + kNames,
       "Error: in.sf7(6): Can not find 6 array names\n"},
      {"five names", map_text("increments: 1 2", good_points, "R Z Er Ez |E|\n"),
       "Error: in.sf7(6): Can not find 6 array names\n"},
      {"name of 8 bytes", map_text("increments: 1 2", good_points, "R Z Er Ez Emagnitud V\n"),
       "Error: in.sf7(6): Array name longer than 7 characters: Emagnitud\n"},
      {"five units", map_text("increments: 1 2", good_points, kNames, "(cm) (cm) (V) (V) (V)\n"),
       "Error: in.sf7(7): Can not find 6 array units\n"},
      {"first unknown unit in column order",
       map_text("increments: 1 2", good_points, kNames, "(cm) (cm) (V/CM) V/cm (V) (V)\n"),
       "Error: in.sf7(7): Unknown unit: (V/CM) for column Er\n"},
      {"unit of 8 bytes",
       map_text("increments: 1 2", good_points, kNames, "(cm) (cm) (kV/cm) (V/cm) (V) (V)\n"),
       "Error: in.sf7(7): Unknown unit: (kV/cm) for column Er\n"},
      {"long unknown unit named whole",
       map_text("increments: 1 2", good_points, kNames, "(cm) (cm) (V/cm) (V/cm) (V) (Volts)x\n"),
       "Error: in.sf7(7): Unknown unit: (Volts)x for column V\n"},
      {"five numbers in the first point",
       map_text("increments: 1 2", "1 2 3 4 5\n" + sf7_point_lines(5)),
       "Error: in.sf7(8): Error reading point (0,0)\n"},
      {"five numbers in the last point",
       map_text("increments: 1 2", sf7_point_lines(5) + "1 2 3 4 5\n"),
       "Error: in.sf7(13): Error reading point (1,2)\n"},
      {"a word in a point",
       map_text("increments: 1 2", sf7_point_lines(2) + "1 2 x 4 5 6\n" + sf7_point_lines(3)),
       "Error: in.sf7(10): Error reading point (0,2)\n"},
      {"one point line short", map_text("increments: 1 2", sf7_point_lines(5)),
       "Error: in.sf7(12): Unexpected end of file\n"},
      // 1e307 (V/cm) is 1e309 V/m, beyond the doubles; the point's line is named.
      {"a product past the largest double",
       map_text("increments: 1 2", sf7_point_lines(2) + "1 2 1e307 4 5 6\n" + sf7_point_lines(3)),
       "Error: in.sf7(10): Value out of range at point (0,2)\n"},
      {"control bytes in a unit are shown escaped",
       map_text("increments: 1 2", good_points, kNames,
                "(cm) (cm) \x1B]0;title\x07\x1B[2J (V/cm) (V) (V)\n"),
       "Error: in.sf7(7): Unknown unit: \\x1B]0;title\\x07\\x1B[2J for column Er\n"},
  };
  for (const Case& c : cases) {
    auto result = read_in_child(c.input);
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_EQ(result.err, c.expected) << c.what;
    EXPECT_EQ(result.out, "") << c.what;
  }
}

TEST(InputDefects, UnreadableStreamNamesTheSystemError) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows opens no folder as a stream (the program's test covers a folder)";
#endif
  test_support::TempDir dir;
  auto result = run_in_child([&] {
    std::FILE* folder = std::fopen(dir.path().string().c_str(), "r");
    Sf7Reading reading{"maps", 0, {}};
    FieldMap map;
    read_field_map(folder, reading, map, {kExactPath});
  });
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "Error: maps: Is a directory\n");
}

TEST(Columns, AreRenamedAndScaledByTheirUnit) {
  struct Case {
    std::string sf7_name;
    const char* unit;
    const char* out_name;
    const char* si_unit;
    double factor;
  };
  const std::vector<Case> cases = {
      {"\xB3"
       "E\xB3",
       "(cm)", "|E|", "m", 0.01},
      {"\xB3"
       "B\xB3",
       "(mm)", "|B|", "m", 0.001},
      {"H\xED", "(A/m)", "Bphi", "T", 1.25664e-6},
      {"A\xED", "(G)", "Aphi", "T", 0.0001},
      {"A", "(G-cm)", "A", "Tm", 1e-6},
      {"h\xED", "(MV/m)", "h\xED", "V/m", 1e6},
      {"|E|", "(V/cm)", "|E|", "V/m", 100},
      {"E\xB3", "(V)", "E\xB3", "V", 1},
  };
  for (std::size_t first = 0; first < cases.size(); first += SF7_COLUMN_COUNT - 2) {
    // Each map carries up to six cases; the others fill the remaining columns.
    std::string names;
    std::string units;
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      const Case& c = cases[(first + k) % cases.size()];
      names += " " + c.sf7_name;
      units += std::string("\t") + c.unit;
    }
    FieldMap map;
    read_text(map_text("increments: 1 0", sf7_point_lines(2), names + "\n", units + "\r\n"), map);
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      const Case& c = cases[(first + k) % cases.size()];
      const FieldColumn& column = map.columns[k];
      EXPECT_STREQ(column.sf7_name.data(), c.sf7_name.c_str());
      EXPECT_STREQ(column.sf7_unit.data(), c.unit);
      EXPECT_STREQ(column.out_name, c.out_name);
      EXPECT_STREQ(column.out_unit, c.si_unit);
      EXPECT_EQ(column.factor, c.factor) << c.unit;
    }
  }
}

TEST(Columns, KeepTheirOwnNameInsideTheMap) {
  FieldMap map;
  read_text(map_text("increments: 0", sf7_point_lines(1)), map);
  EXPECT_EQ(map.columns[0].out_name, map.columns[0].sf7_name.data());
  EXPECT_STREQ(map.columns[4].out_name, "|E|");
}

TEST(Points, AreStoredInLineOrderAsOneProductPerValue) {
  const std::string body = "1e5 +2.5 -.5 5. 0x1p-3 0.1 extra words 9\n"
                           "\t 3 4 5 6 7 8 9 10\n";
  FieldMap map;
  read_text(map_text("increments: 1", body), map);
  const double expected[2][6] = {{1e5 * 0.01, 2.5 * 0.01, -.5 * 100, 5. * 100, 0.125 * 100, 0.1},
                                 {3 * 0.01, 4 * 0.01, 5 * 100.0, 6 * 100.0, 7 * 100.0, 8}};
  for (std::size_t point = 0; point < 2; ++point) {
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      EXPECT_EQ(map.columns[k].data[point], expected[point][k]) << point << "," << k;
    }
  }
}

TEST(Points, LinesAfterTheLastPointAreNeverRead) {
  FieldMap map;
  EXPECT_EQ(
      read_text(map_text("increments: 1", sf7_point_lines(2) + "Summary text: not a point\n"), map),
      9);
}

TEST(VerboseMode, PrintsTheProgressLinesInOrder) {
  auto result = read_in_child(map_text("R and Z increments:   1   2", sf7_point_lines(6)), 1);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "Grid dimensions: 2*3=6 points\n"
                        "Decoding array names\n"
                        "Decoding array units\n"
                        "R->R, [0.01*(cm)]->[m]\n"
                        "Z->Z, [0.01*(cm)]->[m]\n"
                        "Er->Er, [100*(V/cm)]->[V/m]\n"
                        "Ez->Ez, [100*(V/cm)]->[V/m]\n"
                        "|E|->|E|, [100*(V/cm)]->[V/m]\n"
                        "V->V, [1*(V)]->[V]\n"
                        "Allocating memory\n"
                        "Reading file\n");
}

// Turns every line end of `text` into CR LF.
std::string with_crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n')
      result += '\r';
    result += c;
  }
  return result;
}

TEST(LineEnds, CrLfReadsAsLf) {
  const std::string text = map_text("R and Z increments:   1   2", sf7_point_lines(6));
  FieldMap lf;
  read_text(text, lf);
  FieldMap crlf;
  EXPECT_EQ(read_text(with_crlf(text), crlf), 13);
  for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
    for (std::size_t n = 0; n < 6; ++n)
      EXPECT_EQ(lf.columns[k].data[n], crlf.columns[k].data[n]);
  }
}

TEST(LineEnds, LongHeaderLinesCountOnePerPiece) {
  // 2500 characters: pieces of 1023, 1023 and 454 characters, three lines in all.
  const std::string long_line = std::string(2499, 'x') + "\n";
  auto result = read_in_child("SF7\n" + long_line);
  EXPECT_EQ(result.err, "Error: in.sf7(4): Unexpected end of file\n");
  // 1022 characters and CR LF fill one buffer exactly: one line, not a line and an empty one.
  const std::string just_fits = std::string(1022, 'y') + "\r\n";
  result = read_in_child("SF7\n" + just_fits);
  EXPECT_EQ(result.err, "Error: in.sf7(2): Unexpected end of file\n");
}

TEST(LineEnds, PieceBoundariesFollowTheLineBuffer) {
  struct Case {
    std::string input;
    std::vector<std::size_t> piece_lengths;
  };
  const std::vector<Case> cases = {
      {std::string(1022, 'a') + "\r\n", {1023}},
      {std::string(1023, 'a') + "\n", {1023, 1}},
      {std::string(1023, 'a') + "\r\n", {1023, 1}},
      {std::string(2000, 'a'), {1023, 977}},
      {"a\rb\r\n\r", {4, 1}}, // a lone CR is an ordinary character
      {std::string("a\0b\n", 4), {4}},
  };
  for (const Case& c : cases) {
    std::FILE* stream = open_text(c.input);
    LineBuffer line;
    std::vector<std::size_t> lengths;
    while (read_line_exact(stream, line))
      lengths.push_back(line.length);
    std::fclose(stream);
    EXPECT_EQ(lengths, c.piece_lengths);
  }
}

TEST(LongPointLines, AreNeverSplitIntoTwoPoints) {
  // The rest of an overlong line holds six numbers: read as a point it would shift every later
  // point by one.
  const std::string overlong = "1 2 3 4 5 6" + std::string(1100, ' ') + "7 8 9 10 11 12\n";
  auto result =
      read_in_child(map_text("increments: 1 2", sf7_point_line(0) + overlong + sf7_point_lines(4)));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "Error: in.sf7(9): Error reading point (0,1)\n");
}

TEST(LongPointLines, LinesThatFitTheBufferAreRead) {
  const std::string six = "1 2 3 4 5 6";
  const std::string line_1023 = six + std::string(1023 - six.size(), ' ');
  struct Case {
    const char* what;
    std::string body;
    std::vector<double> last_column;
  };
  const std::vector<Case> cases = {
      {"1023 characters and LF",
       sf7_point_line(0) + line_1023 + "\n" + sf7_point_line(1),
       {0, 6, 1}},
      {"1023 characters and CR LF",
       sf7_point_line(0) + line_1023 + "\r\n" + sf7_point_line(1),
       {0, 6, 1}},
      {"1023 characters at the end of the file", sf7_point_lines(2) + line_1023, {0, 1, 6}},
  };
  for (const Case& c : cases) {
    FieldMap map;
    EXPECT_EQ(read_text(map_text("increments: 2", c.body), map), 10) << c.what;
    for (std::size_t n = 0; n < 3; ++n)
      EXPECT_EQ(map.columns[5].data[n], c.last_column[n]) << c.what;
  }
}

} // namespace
