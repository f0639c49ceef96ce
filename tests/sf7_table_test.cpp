// The reading of whole SF7 tables, every column of the names line: grids in both coordinate
// orders, the nine-column magnetostatic shape, line maps, CR LF, the errors of tables whose lines
// disagree on the column count, and the fast reading (block boundaries everywhere, the helper
// thread) against the exact path on generated tables, bit for bit. The converter's six-column
// reading is the same core and must read as it always did.
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_table.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::bits_of;
using test_support::thrown_text;

namespace {

// The converter's units, the gradients of a magnetostatic table, and a unit whose column is
// dropped.
const std::array<UnitRule, 12> kUnits{{
    {"(cm)", "m", 0.01},
    {"(mm)", "m", 0.001},
    {"(G)", "T", 0.0001},
    {"(G-cm)", "Tm", 1e-6},
    {"(MV/m)", "V/m", 1e6},
    {"(A/m)", "T", 1.25664e-6},
    {"(V/cm)", "V/m", 100},
    {"(V)", "V", 1},
    {"(G/cm)", "T/m", 0.01},
    {"(none)", "", 0},
    {"(W/cm^2)", "W/m^2", 1e4}, // longer than the 7 characters that a unit field keeps
    {nullptr, nullptr, 0},
}};

const std::string kHeader = "Los Alamos National Laboratory Poisson Superfish\n"
                            "Program SF7 written for the table tests\n"
                            "\n"
                            "Magnetic fields for a rectangular area with corners at:\n";

// A table with the given corner lines, increments line, names, units and point lines.
std::string table_text(const std::string& increments, const std::string& names,
                       const std::string& units, const std::string& body,
                       const std::string& corners = "(Xmin,Ymin) = (0.0,0.0)\n"
                                                    "(Xmax,Ymax) = (400.4,354.7)\n") {
  return kHeader + corners + increments + "\n\n" + names + "\n" + units + "\n" + body;
}

// The nine-column shape of a magnetostatic table.
const std::string kNineNames = "      X             Y              Bx            By            "
                               "|B|           Az          dBy/dy        dBy/dx        dBx/dy";
const std::string kNineUnits = "    (cm)          (cm)             (G)           (G)           "
                               "(G)         (G-cm)        (G/cm)        (G/cm)        (G/cm)";

// Number k of point line n in the solver's layouts: the coordinates in 16 characters, the
// fields in 14, the last number n. Nine of them make a line of 130 characters, longer than the
// first 128 bytes.
std::string point_number(int n, std::size_t k, std::size_t columns) {
  char text[64];
  if (k < 2)
    std::snprintf(text, sizeof text, "%12.6f    ", (k == 0 ? 4.004 : 3.547) * n);
  else if (k + 1 < columns)
    std::snprintf(text, sizeof text, "%14.6E", (k % 2 == 0 ? 1 : -1) * 3.564206e-2 * (n + 1.0));
  else
    std::snprintf(text, sizeof text, "%14.6E", static_cast<double>(n));
  return text;
}

std::string point_line(int n, std::size_t columns) {
  std::string line;
  for (std::size_t k = 0; k < columns; ++k)
    line += point_number(n, k, columns);
  return line + "\n";
}

std::string point_lines(int count, std::size_t columns) {
  std::string text;
  for (int n = 0; n < count; ++n)
    text += point_line(n, columns);
  return text;
}

// How a test reads: the exact path or the blocks, the block size and the scan threads.
struct Way {
  bool exact = false;
  std::size_t block_size = SF7_INPUT_BLOCK_SIZE;
  int threads = 2;
};

void read_table_text(const std::string& text, Sf7Table& table, const Way& way = {},
                     Sf7ProgressFunction progress = nullptr) {
  Sf7Reading reading{"in.sf7", 0, {progress, way.threads}};
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                               std::fclose);
  read_sf7_table(stream.get(), reading, table, kUnits, {way.exact, way.block_size});
}

// Each column's names, units and factor and the bytes of its values, as one text.
std::string columns_text(std::span<const FieldColumn> columns, std::int32_t dim1,
                         std::int32_t dim2) {
  const std::size_t points = static_cast<std::size_t>(dim1) * static_cast<std::size_t>(dim2);
  std::string text = std::to_string(dim1) + "x" + std::to_string(dim2) + "\n";
  for (const FieldColumn& column : columns) {
    text += std::string(column.sf7_name.data()) + " " + column.sf7_unit.data() + " " +
            column.out_name + " " + column.out_unit + " " + std::to_string(bits_of(column.factor)) +
            "\n";
    if (column.data)
      text.append(reinterpret_cast<const char*>(column.data.get()), points * sizeof(double));
  }
  return text;
}

// Everything a reading gives, as one text: the error's text, or the counts, the corner lines and
// the columns.
std::string reading_of(const std::string& text, const Way& way) {
  Sf7Table table;
  const std::string error = thrown_text([&] { read_table_text(text, table, way); });
  if (!error.empty())
    return "error: " + error;
  return std::to_string(table.increment_counts) + " [" + table.corner_lines[0] + "] [" +
         table.corner_lines[1] + "]\n" + columns_text(table.columns, table.dim1, table.dim2);
}

TEST(Sf7Table, ReadsEveryColumnOfTheNineColumnShape) {
  const std::string text =
      table_text("X and Y increments:   3   2", kNineNames, kNineUnits, point_lines(12, 9)) +
      "Summary text after the table\n";
  Sf7Table table;
  read_table_text(text, table);
  EXPECT_EQ(table.dim1, 4);
  EXPECT_EQ(table.dim2, 3);
  EXPECT_EQ(table.increment_counts, 2);
  EXPECT_EQ(table.corner_lines[0], "(Xmin,Ymin) = (0.0,0.0)");
  EXPECT_EQ(table.corner_lines[1], "(Xmax,Ymax) = (400.4,354.7)");
  ASSERT_EQ(table.columns.size(), 9u);
  const char* names[9] = {"X", "Y", "Bx", "By", "|B|", "Az", "dBy/dy", "dBy/dx", "dBx/dy"};
  const char* si_units[9] = {"m", "m", "T", "T", "T", "Tm", "T/m", "T/m", "T/m"};
  const double factors[9] = {0.01, 0.01, 0.0001, 0.0001, 0.0001, 1e-6, 0.01, 0.01, 0.01};
  for (std::size_t k = 0; k < 9; ++k) {
    const FieldColumn& column = table.columns[k];
    EXPECT_STREQ(column.sf7_name.data(), names[k]);
    EXPECT_STREQ(column.out_name, names[k]);
    EXPECT_EQ(column.out_name, column.sf7_name.data()) << "its own name, inside the table";
    EXPECT_STREQ(column.out_unit, si_units[k]);
    EXPECT_EQ(column.factor, factors[k]);
    ASSERT_TRUE(column.data) << k;
  }
  // In line order, each value one product of its factor.
  for (int n = 0; n < 12; ++n) {
    const auto index = static_cast<std::size_t>(n);
    EXPECT_EQ(table.columns[8].data[index], 0.01 * n);
    // The number as written, correctly rounded.
    const std::string written = point_number(n, 3, 9);
    const std::size_t start = written.find_first_not_of(' ');
    double number = 0;
    std::from_chars(written.data() + start, written.data() + written.size(), number);
    EXPECT_EQ(table.columns[3].data[index], 0.0001 * number);
  }
  EXPECT_EQ(point_line(11, 9).size(), 131u);
}

TEST(Sf7Table, GivesTheGridInTheOrderOfItsCounts) {
  struct Case {
    const char* increments;
    std::int32_t dim1;
    std::int32_t dim2;
    int counts;
  };
  const std::vector<Case> cases = {
      {"X and Y increments:   3   2", 4, 3, 2}, {"Z and R increments:   2   3", 3, 4, 2},
      {"R and Z increments:   0   5", 1, 6, 2}, {"Number of increments: 11", 12, 1, 1},
      {"Number of increments: 0", 1, 1, 1},     {"increments: 5 x", 6, 1, 1},
  };
  for (const Case& c : cases) {
    const int points = c.dim1 * c.dim2;
    Sf7Table table;
    read_table_text(table_text(c.increments, "Z R Ez Er |E| H", "(cm) (cm) (V) (V) (V) (A/m)",
                               point_lines(points, 6)),
                    table);
    EXPECT_EQ(table.dim1, c.dim1) << c.increments;
    EXPECT_EQ(table.dim2, c.dim2) << c.increments;
    EXPECT_EQ(table.increment_counts, c.counts) << c.increments;
    // Point line n is value n of every column, whatever the grid's shape.
    ASSERT_EQ(table.columns.size(), 6u);
    for (int n = 0; n < points; ++n)
      EXPECT_EQ(table.columns[5].data[static_cast<std::size_t>(n)], 1.25664e-6 * n);
  }
}

TEST(Sf7Table, KeepsTheTwoLinesBeforeTheIncrementsLine) {
  struct Case {
    const char* what;
    std::string text;
    std::array<std::string, 2> corners;
  };
  const std::string names = "R Z";
  const std::string units = "(cm) (cm)";
  const std::string body = "1 2\n3 4\n";
  const std::vector<Case> cases = {
      {"the solver's corners",
       table_text("R and Z increments: 1 0", names, units, body),
       {"(Xmin,Ymin) = (0.0,0.0)", "(Xmax,Ymax) = (400.4,354.7)"}},
      {"CR LF is no part of them",
       "Program SF7\r\n(Zmin,Rmin) = (50,0.0)\r\n(Zmax,Rmax) = (60,10)\r\n"
       "Z and R increments: 1 0\r\n\r\nR Z\r\n(cm) (cm)\r\n1 2\r\n3 4\r\n",
       {"(Zmin,Rmin) = (50,0.0)", "(Zmax,Rmax) = (60,10)"}},
      {"the SF7 line and the one before it",
       "first\nProgram SF7\nincrements: 1\n\nR Z\n" + units + "\n" + body,
       {"first", "Program SF7"}},
      {"only the SF7 line before it",
       "SF7\nincrements: 1\n\nR Z\n" + units + "\n" + body,
       {"", "SF7"}},
      {"a long line counts as its pieces",
       "SF7\n" + std::string(1500, 'x') + "\nincrements: 1\n\nR Z\n" + units + "\n" + body,
       {std::string(1023, 'x'), std::string(477, 'x')}},
  };
  for (const Case& c : cases) {
    for (const bool exact : {false, true}) {
      Sf7Table table;
      read_table_text(c.text, table, {exact});
      EXPECT_EQ(table.corner_lines, c.corners) << c.what;
      EXPECT_EQ(table.columns.size(), 2u) << c.what;
    }
  }
}

TEST(Sf7Table, ReadsCrLfAsLf) {
  const std::string text =
      table_text("X and Y increments: 4 3", kNineNames, kNineUnits, point_lines(20, 9));
  std::string crlf;
  for (const char c : text)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const bool exact : {false, true}) {
    EXPECT_EQ(reading_of(crlf, {exact}), reading_of(text, {exact}));
  }
}

TEST(Sf7Table, DropsTheColumnsOfUnitsWithoutFactor) {
  Sf7Table table;
  read_table_text(
      table_text("increments: 1", "R Z T V", "(cm) (cm) (none) (V)", "1 2 3 4\n5 6 7 8\n"), table);
  ASSERT_EQ(table.columns.size(), 4u);
  EXPECT_FALSE(table.columns[2].data);
  EXPECT_STREQ(table.columns[2].sf7_unit.data(), "(none)");
  EXPECT_EQ(table.columns[3].data[1], 8);
}

TEST(Sf7Table, RenamesTheCodePage437Names) {
  Sf7Table table;
  read_table_text(table_text("increments: 0",
                             "Z R \xB3"
                             "E\xB3 H\xED A\xED \xB3"
                             "B\xB3 X",
                             "(cm) (cm) (V) (A/m) (G-cm) (G) (cm)", "1 2 3 4 5 6 7\n"),
                  table);
  ASSERT_EQ(table.columns.size(), 7u);
  const char* renamed[7] = {"Z", "R", "|E|", "Bphi", "Aphi", "|B|", "X"};
  for (std::size_t k = 0; k < 7; ++k)
    EXPECT_STREQ(table.columns[k].out_name, renamed[k]) << k;
}

TEST(Sf7Table, PrintsTheConvertersProgressLinesForEveryColumn) {
  static std::string lines;
  lines.clear();
  Sf7Table table;
  read_table_text(
      table_text("X and Y increments: 1 0", "X Y dBy/dy", "(cm) (cm) (G/cm)", "1 2 3\n4 5 6\n"),
      table, {}, [](const char* line) { lines += line; });
  EXPECT_EQ(lines, "Grid dimensions: 2*1=2 points\n"
                   "Decoding array names\n"
                   "Decoding array units\n"
                   "X->X, [0.01*(cm)]->[m]\n"
                   "Y->Y, [0.01*(cm)]->[m]\n"
                   "dBy/dy->dBy/dy, [0.01*(G/cm)]->[T/m]\n"
                   "Allocating memory\n"
                   "Reading file\n");
}

TEST(Sf7Table, RefusesLinesThatDisagreeOnTheColumnCount) {
  const std::string nine_body = point_lines(6, 9);
  std::string thirty_two_names;
  std::string thirty_two_units;
  std::string thirty_two_numbers;
  for (int k = 0; k < 32; ++k) {
    thirty_two_names.append(" C").append(std::to_string(k));
    thirty_two_units.append(" (V)");
    thirty_two_numbers.append(" ").append(std::to_string(k));
  }
  const std::string thirty_three_names = thirty_two_names + " C32";
  struct Case {
    const char* what;
    std::string text;
    std::string error; // "" when it reads
  };
  const std::vector<Case> cases = {
      {"nine names and nine units",
       table_text("increments: 2 1", kNineNames, kNineUnits, nine_body), ""},
      {"a names line longer than the units line",
       table_text("increments: 2 1", kNineNames, "(cm) (cm) (G) (G) (G) (G-cm)", nine_body),
       "in.sf7(10): Can not find 9 array units"},
      {"more units than names: the rest is not read",
       table_text("increments: 2 1", "X Y Bx By |B| Az", kNineUnits, nine_body), ""},
      {"a point line short of the ninth number",
       table_text("increments: 2 1", kNineNames, kNineUnits,
                  point_lines(3, 9) + point_line(3, 8) + point_lines(2, 9)),
       "in.sf7(14): Error reading point (1,1)"},
      {"the last point line short of its last number",
       table_text("increments: 2 1", kNineNames, kNineUnits,
                  point_lines(5, 9) + "1 2 3 4 5 6 7 8\n"),
       "in.sf7(16): Error reading point (2,1)"},
      {"a word in place of the ninth number",
       table_text("increments: 2 1", kNineNames, kNineUnits,
                  point_line(0, 8).substr(0, point_line(0, 8).size() - 1) + " x\n" +
                      point_lines(5, 9)),
       "in.sf7(11): Error reading point (0,0)"},
      {"text after the ninth number is not read",
       table_text("increments: 2 1", kNineNames, kNineUnits,
                  point_line(0, 9).substr(0, point_line(0, 9).size() - 1) + " 10 x\n" +
                      point_lines(5, 9)),
       ""},
      {"one name", table_text("increments: 2 1", "X", "(cm)", nine_body),
       "in.sf7(9): Can not find 2 array names"},
      {"no name", table_text("increments: 2 1", "   ", "(cm)", nine_body),
       "in.sf7(9): Can not find 2 array names"},
      {"33 names", table_text("increments: 0", thirty_three_names, thirty_two_units, "1\n"),
       "in.sf7(9): More than 32 array names"},
      {"32 names",
       table_text("increments: 0", thirty_two_names, thirty_two_units, thirty_two_numbers + "\n"),
       ""},
      {"a name of 8 characters",
       table_text("increments: 2 1", "X Y dBy/dyyy", "(cm) (cm) (G/cm)", nine_body),
       "in.sf7(9): Array name longer than 7 characters: dBy/dyyy"},
      {"a unit that is not in the table",
       table_text("increments: 2 1", "X Y Bx", "(cm) (cm) (T)", nine_body),
       "in.sf7(10): Unknown unit: (T) for column Bx"},
      {"a unit of the table longer than its field",
       table_text("increments: 2 1", "X Y P", "(cm) (cm) (W/cm^2)", nine_body),
       "in.sf7(10): Unit longer than 7 characters: (W/cm^2) for column P"},
      {"a point line missing",
       table_text("increments: 2 1", kNineNames, kNineUnits, point_lines(5, 9)),
       "in.sf7(15): Unexpected end of file"},
      {"a value past the largest double in its unit",
       table_text("increments: 0", "X Y Ez", "(cm) (cm) (MV/m)", "1 2 1e307\n"),
       "in.sf7(11): Value out of range at point (0,0)"},
  };
  for (const Case& c : cases) {
    for (const Way& way : {Way{true}, Way{false, SF7_INPUT_MIN_BLOCK_SIZE}, Way{false}}) {
      Sf7Table table;
      EXPECT_EQ(thrown_text([&] { read_table_text(c.text, table, way); }), c.error)
          << c.what << (way.exact ? ", exact path" : ", blocks");
    }
  }
}

TEST(Sf7Table, LeavesNoUnfilledColumnsAfterAnError) {
  struct Case {
    const char* what;
    std::string text;
    std::size_t columns;
  };
  const std::vector<Case> cases = {
      {"before the names", "no table here\n", 0},
      {"at the units", table_text("increments: 2 1", kNineNames, "(cm)", ""), 9},
      {"at a point", table_text("increments: 2 1", kNineNames, kNineUnits, "1 2\n"), 9},
  };
  for (const Case& c : cases) {
    Sf7Table table;
    EXPECT_NE(thrown_text([&] { read_table_text(c.text, table); }), "") << c.what;
    EXPECT_EQ(table.columns.size(), c.columns) << c.what;
  }
}

TEST(Sf7Table, FileThatCannotBeOpenedNamesTheSystemError) {
  test_support::TempDir dir;
  const std::string missing = dir.file("missing.sf7");
  Sf7Table table;
  EXPECT_EQ(thrown_text([&] { read_sf7_table_file(missing.c_str(), table, kUnits); }),
            missing + ": No such file or directory");
  const std::string path = dir.file("nine.sf7");
  test_support::write_file(
      path, table_text("X and Y increments: 1 1", kNineNames, kNineUnits, point_lines(4, 9)));
  read_sf7_table_file(path.c_str(), table, kUnits);
  EXPECT_EQ(table.columns.size(), 9u);
  EXPECT_EQ(table.columns[8].data[3], 0.03);
}

// ---- The converter's reading is the six-column case of the same core ----------------------

// What read_field_map gives for `text`, as columns_text shows it, or its error.
std::string field_map_reading_of(const std::string& text, const Way& way) {
  FieldMap map;
  Sf7Reading reading{"in.sf7", 0, {nullptr, way.threads}};
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                               std::fclose);
  const std::string error = thrown_text([&] {
    read_field_map(stream.get(), reading, map, {way.exact, way.block_size});
  });
  if (!error.empty())
    return "error: " + error;
  return columns_text(map.columns, map.dim1, map.dim2);
}

TEST(ConverterReading, TakesTheFirstSixColumnsOfTheTable) {
  // The nine-column table, and the same with its lines cut after the sixth number.
  std::string nine_body;
  std::string six_body;
  for (int n = 0; n < 1000; ++n) {
    const std::string line = point_line(n, 9);
    nine_body += line;
    six_body += line.substr(0, 88) + (n % 3 == 0 ? " text\n" : "\n");
  }
  const std::string nine =
      table_text("X and Y increments:  49  19", kNineNames, kNineUnits, nine_body);
  const std::string six =
      table_text("X and Y increments:  49  19", kNineNames.substr(0, kNineNames.find("dBy/dy")),
                 kNineUnits.substr(0, kNineUnits.find("(G/cm)")), six_body);
  for (const Way& way : {Way{true}, Way{false, SF7_INPUT_MIN_BLOCK_SIZE}, Way{false, 65536, 1},
                         Way{false, 65536, 2}}) {
    const std::string map = field_map_reading_of(nine, way);
    ASSERT_EQ(map.rfind("error", 0), std::string::npos) << map;
    EXPECT_EQ(field_map_reading_of(six, way), map);
    // The table of either file: the map's columns first.
    Sf7Table table;
    read_table_text(six, table, way);
    EXPECT_EQ(columns_text(table.columns, table.dim1, table.dim2), map);
    read_table_text(nine, table, way);
    ASSERT_EQ(table.columns.size(), 9u);
    EXPECT_EQ(columns_text(std::span(table.columns).first(6), table.dim1, table.dim2), map);
  }
}

TEST(ConverterReading, KeepsItsMessages) {
  struct Case {
    const char* what;
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"five names", table_text("increments: 1 1", "X Y Bx By |B|", kNineUnits, ""),
       "in.sf7(9): Can not find 6 array names"},
      {"nine names, five units",
       table_text("increments: 1 1", kNineNames, "(cm) (cm) (G) (G) (G)", ""),
       "in.sf7(10): Can not find 6 array units"},
      {"an unknown seventh unit is not read",
       table_text("increments: 1 1", kNineNames, kNineUnits, "1 2\n"),
       "in.sf7(11): Error reading point (0,0)"},
      {"a long unknown unit",
       table_text("increments: 1 1", kNineNames, "(cm) (cm) (W/cm^2) (G) (G) (G)", ""),
       "in.sf7(10): Unknown unit: (W/cm^2) for column Bx"},
      {"a point line of five numbers",
       table_text("increments: 1 1", kNineNames, kNineUnits, "1 2 3 4 5 6\n1 2 3 4 5\n"),
       "in.sf7(12): Error reading point (0,1)"},
  };
  for (const Case& c : cases) {
    for (const Way& way : {Way{true}, Way{false}}) {
      EXPECT_EQ(field_map_reading_of(c.text, way), "error: " + c.error) << c.what;
    }
  }
}

// ---- Fast reading against the exact path ------------------------------------------------------

using Rng = std::mt19937_64;

std::size_t pick(Rng& rng, std::size_t count) {
  return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
}

bool chance(Rng& rng, double probability) {
  return std::bernoulli_distribution(probability)(rng);
}

// One number in one of the solver's layouts or of another form "%lf" reads, now and then one
// that the fast scan leaves to the exact path, or no number at all.
std::string table_number(Rng& rng) {
  const double value = std::uniform_real_distribution<double>(-1, 1)(rng) *
                       std::array{1e-9, 1.0, 1e3, 1e7}[pick(rng, 4)];
  char text[64];
  switch (pick(rng, 10)) {
  case 0:
    std::snprintf(text, sizeof text, "%.5f", value);
    break;
  case 1:
    std::snprintf(text, sizeof text, "%.17g", value);
    break;
  case 2:
    std::snprintf(text, sizeof text, "%s",
                  std::array{"0x1p3", "inf", "-nan", "1e400", "5x", "+.5", "-0", "1e", "7.",
                             "x"}[pick(rng, 10)]);
    break;
  default:
    std::snprintf(text, sizeof text, "%14.6E", value);
  }
  return text;
}

// A table of 2 to 32 columns with random line ends and numbers, and now and then a defect.
std::string generated_table(Rng& rng) {
  const std::string end = chance(rng, 0.5) ? "\n" : "\r\n";
  const std::size_t columns =
      chance(rng, 0.5) ? std::array<std::size_t, 4>{6, 9, 9, 7}[pick(rng, 4)] : 2 + pick(rng, 31);
  std::string names;
  std::string units;
  const std::vector<std::string> unit_words = {"(cm)", "(G)",    "(G/cm)", "(V/cm)",
                                               "(V)",  "(none)", "(MV/m)", "(A/m)"};
  for (std::size_t k = 0; k < columns; ++k) {
    names += "  C" + std::to_string(k);
    units += "  " + unit_words[pick(rng, unit_words.size())];
  }
  if (chance(rng, 0.03))
    units = units.substr(0, units.rfind("  ")); // one unit short
  const std::size_t counts[2] = {pick(rng, 12), pick(rng, 12)};
  const bool line_map = chance(rng, 0.2);
  std::string text = "Poisson Superfish" + end + "Program SF7" + end + "(Xmin,Ymin) = (0,0)" + end +
                     "(Xmax,Ymax) = (" + std::to_string(counts[0]) + ",1)" + end;
  text += line_map ? "Number of increments: " + std::to_string(counts[0])
                   : "X and Y increments: " + std::to_string(counts[0]) + " " +
                         std::to_string(counts[1]);
  text += end + end + names + end + units + end;
  const std::size_t points = (counts[0] + 1) * (line_map ? 1 : counts[1] + 1);
  const bool awkward = chance(rng, 0.3);
  for (std::size_t n = 0; n < points; ++n) {
    const std::size_t numbers = chance(rng, 0.01) ? pick(rng, columns) : columns;
    std::string line;
    for (std::size_t k = 0; k < numbers; ++k) {
      std::string number = awkward ? table_number(rng) : "";
      if (number.empty() || number == "x")
        number = std::to_string(0.25 * static_cast<double>(n + k));
      line += (chance(rng, 0.8) ? " " : "\t") + number;
    }
    if (chance(rng, 0.05))
      line += "  trailing text";
    text += line + end;
  }
  return text;
}

TEST(Sf7Table, FastAndExactPathsAgreeOnGeneratedTables) {
  Rng rng(90210);
  int read = 0;
  int failed = 0;
  for (int file = 0; file < 300; ++file) {
    const std::string text = generated_table(rng);
    const std::string exact = reading_of(text, {true});
    for (const Way& way : {Way{false, SF7_INPUT_MIN_BLOCK_SIZE}, Way{false, 4099, 1},
                           Way{false, 5003}, Way{false}}) {
      ASSERT_EQ(reading_of(text, way), exact)
          << "file " << file << ", block size " << way.block_size << ":\n"
          << text;
    }
    (exact.rfind("error", 0) == 0 ? failed : read) += 1;
  }
  // Both outcomes often enough for the comparison to mean something.
  EXPECT_GT(read, 150);
  EXPECT_GT(failed, 20);
}

TEST(Sf7Table, AgreesWhereverBlockBoundariesFall) {
  // Shifting the table by one byte at a time puts the end of each block in every place of a
  // nine-column point line, before a number, inside one, between CR and LF.
  for (const std::string end : {"\n", "\r\n"}) {
    std::string body;
    for (int n = 0; n < 100; ++n) {
      std::string line = point_line(n, 9);
      line.pop_back();
      body += line + end;
    }
    for (std::size_t shift = 0; shift < point_line(0, 9).size() + 2; ++shift) {
      const std::string text = table_text("X and Y increments: 9 9", kNineNames, kNineUnits, body,
                                          std::string(shift, 'h') + "\n(Xmax,Ymax) = (1,1)\n");
      const std::string exact = reading_of(text, {true});
      ASSERT_EQ(exact.rfind("error", 0), std::string::npos) << exact;
      ASSERT_EQ(reading_of(text, {false, SF7_INPUT_MIN_BLOCK_SIZE}), exact) << shift;
    }
  }
}

TEST(Sf7Table, HelperThreadReadsLargeTablesAsTheExactPath) {
  // Several blocks of 64 KiB, so that the helper takes the far half of each, and the read-ahead
  // runs: nine columns, and 32 columns past the classified window.
  for (const std::size_t columns : {9u, 32u}) {
    std::string names;
    std::string units;
    for (std::size_t k = 0; k < columns; ++k) {
      names += " C" + std::to_string(k);
      units += k % 2 ? " (G)" : " (cm)";
    }
    const std::string text =
        table_text("X and Y increments: 99 39", names, units, point_lines(4000, columns));
    ASSERT_GT(text.size(), 6 * 65536u);
    const std::string exact = reading_of(text, {true});
    ASSERT_EQ(exact.rfind("error", 0), std::string::npos) << exact;
    EXPECT_EQ(reading_of(text, {false, 65536, 2}), exact) << columns;
    EXPECT_EQ(reading_of(text, {false, 65536, 1}), exact) << columns;
  }
}

} // namespace
