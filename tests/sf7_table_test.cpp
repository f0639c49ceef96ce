// Whole SF7 tables, every column of the names line: both coordinate orders, the nine-column
// shape, line maps, CR LF, the corner lines, the errors of lines that disagree on the column
// count, the converter's reading as the six-column case, and the fast reading (small blocks, the
// helper thread, the read-ahead) against the exact path, bit for bit.
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_table.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::bits_of;
using test_support::thrown_text;

namespace {

// The converter's units, a magnetostatic table's gradients, a dropped column and a unit too long
// for the unit field.
// clang-format off
const std::array<UnitRule, 12> kUnits{{
    {"(cm)", "m", 0.01}, {"(mm)", "m", 0.001}, {"(G)", "T", 0.0001}, {"(G-cm)", "Tm", 1e-6},
    {"(MV/m)", "V/m", 1e6}, {"(A/m)", "T", 1.25664e-6}, {"(V/cm)", "V/m", 100}, {"(V)", "V", 1},
    {"(G/cm)", "T/m", 0.01}, {"(none)", "", 0}, {"(W/cm^2)", "W/m^2", 1e4}, {nullptr, nullptr, 0}}};
// clang-format on

const std::string kNine = "X Y Bx By |B| Az dBy/dy dBy/dx dBx/dy";
const std::string kNineUnits = "(cm) (cm) (G) (G) (G) (G-cm) (G/cm) (G/cm) (G/cm)";

// A table whose names line is line 7 and whose points start at line 9.
std::string table_text(const std::string& increments, const std::string& names,
                       const std::string& units, const std::string& body) {
  return "Poisson Superfish\nProgram SF7\n(Xmin,Ymin) = (0.0,0.0)\n(Xmax,Ymax) = (400.4,354.7)\n" +
         increments + "\n\n" + names + "\n" + units + "\n" + body;
}

// Point line n of `columns` numbers in the solver's layouts, the last one n: nine make 130
// characters, past the first 128 bytes.
std::string point_line(int n, std::size_t columns) {
  std::string line;
  char text[32];
  for (std::size_t k = 0; k < columns; ++k) {
    const double field = (k % 2 ? -3.564206e-2 : 3.564206e-2) * (n + 1);
    std::snprintf(text, sizeof text, k < 2 ? "%12.6f    " : "%14.6E",
                  k + 1 == columns ? n
                  : k < 2          ? 4.004 * n
                                   : field);
    line += text;
  }
  return line + "\n";
}

std::string point_lines(int count, std::size_t columns) {
  std::string text;
  for (int n = 0; n < count; ++n)
    text += point_line(n, columns);
  return text;
}

std::string with_crlf(const std::string& text) {
  std::string result;
  for (const char c : text)
    result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

// How a test reads: the exact path, or blocks of a size with the scan threads.
struct Way {
  bool exact;
  std::size_t block_size;
  int threads;
};
const std::vector<Way> kWays = {{true, TEXT_BLOCK_SIZE, 1},
                                {false, TEXT_MIN_BLOCK_SIZE, 2},
                                {false, 4099, 1},
                                {false, 65536, 2}};

// The error's text, or "" with the table read.
std::string read_text(const std::string& text, const Way& way, Sf7Table& table) {
  Sf7Reading reading{"in.sf7", 0, {nullptr, way.threads}};
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                               std::fclose);
  return thrown_text([&] {
    read_sf7_table(stream.get(), reading, table, kUnits, {way.exact, way.block_size});
  });
}

// Each column's names, unit and factor, and the bytes of its values.
std::string columns_text(std::span<const FieldColumn> columns, std::int32_t dim1,
                         std::int32_t dim2) {
  const std::size_t points = static_cast<std::size_t>(dim1) * static_cast<std::size_t>(dim2);
  std::string text = std::to_string(dim1) + "x" + std::to_string(dim2);
  for (const FieldColumn& column : columns) {
    text += std::string(" ") + column.sf7_name.data() + column.sf7_unit.data() + column.out_name +
            column.out_unit + std::to_string(bits_of(column.factor));
    if (column.data)
      text.append(reinterpret_cast<const char*>(column.data.get()), points * sizeof(double));
  }
  return text;
}

// Everything a reading gives, or its error.
std::string reading_of(const std::string& text, const Way& way) {
  Sf7Table table;
  const std::string error = read_text(text, way, table);
  return error.empty()
             ? std::to_string(table.increment_counts) + table.corner_lines[0] + "|" +
                   table.corner_lines[1] + columns_text(table.columns, table.dim1, table.dim2)
             : error;
}

TEST(Sf7Table, ReadsEveryColumnOrNamesTheLineThatDisagrees) {
  std::string names32, units32, numbers32, expected32 = "1x1 1";
  for (int k = 0; k < 32; ++k) {
    names32.append(" C").append(std::to_string(k));
    units32.append(" (V)");
    numbers32.append(" ").append(std::to_string(31 - k));
    expected32.append(" C").append(std::to_string(k));
  }
  const std::string nine = table_text("X and Y increments:   3   2", kNine, kNineUnits,
                                      point_lines(12, 9) + "Summary text\n");
  const std::string nine_expected = "4x3 2 X Y Bx By |B| Az dBy/dy dBy/dx dBx/dy";
  struct Case {
    const char* what;
    std::string text;
    std::string expected; // grid, count of increments and output names (+ without an array), or
                          // the error
  };
  const std::vector<Case> cases = {
      {"the nine-column shape", nine, nine_expected},
      {"CR LF", with_crlf(nine), nine_expected},
      {"Z varying fastest",
       table_text("Z and R increments: 2 3", "Z R Ez Er |E| H", "(cm) (cm) (V) (V) (V) (A/m)",
                  point_lines(12, 6)),
       "3x4 2 Z R Ez Er |E| H"},
      {"a line map", table_text("Number of increments: 11", "X Y", "(cm) (mm)", point_lines(12, 2)),
       "12x1 1 X Y"},
      {"32 columns", table_text("increments: 0", names32, units32, numbers32 + "\n"), expected32},
      {"renamed names and a dropped column",
       table_text("increments: 1",
                  "Z R \xB3"
                  "E\xB3 H\xED T",
                  "(cm) (cm) (V) (A/m) (none)", "1 2 3 4 5\n5 6 7 8 1\n"),
       "2x1 1 Z R |E| Bphi T+"},
      {"more units than names",
       table_text("increments: 1", "X Y Bx", kNineUnits, point_lines(2, 3)), "2x1 1 X Y Bx"},
      {"text after the last number",
       table_text("increments: 1", "X Y Bx", kNineUnits, "1 2 0 x\n4 5 1 0x1p3 y\n"),
       "2x1 1 X Y Bx"},
      {"a names line longer than the units line",
       table_text("increments: 2 1", kNine, "(cm) (cm) (G) (G) (G) (G-cm)", point_lines(6, 9)),
       "in.sf7(8): Can not find 9 array units"},
      {"a point line short of the ninth number",
       table_text("increments: 2 1", kNine, kNineUnits,
                  point_lines(3, 9) + point_line(3, 8) + point_lines(2, 9)),
       "in.sf7(12): Error reading point (1,1)"},
      {"a word for the ninth number",
       table_text("increments: 0", kNine, kNineUnits, "1 2 3 4 5 6 7 8 x\n"),
       "in.sf7(9): Error reading point (0,0)"},
      {"one name", table_text("increments: 0", "X", "(cm)", "1\n"),
       "in.sf7(7): Can not find 2 array names"},
      {"33 names", table_text("increments: 0", names32 + " C32", units32, "1\n"),
       "in.sf7(7): More than 32 array names"},
      {"a name of 8 characters", table_text("increments: 0", "X Y dBy/dyyy", kNineUnits, "1 2 3\n"),
       "in.sf7(7): Array name longer than 7 characters: dBy/dyyy"},
      {"a unit not in the table", table_text("increments: 0", "X Y Bx", "(cm) (cm) (T)", "1 2 3\n"),
       "in.sf7(8): Unknown unit: (T) for column Bx"},
      {"a unit of the table too long for its field",
       table_text("increments: 0", "X Y P", "(cm) (cm) (W/cm^2)", "1 2 3\n"),
       "in.sf7(8): Unit longer than 7 characters: (W/cm^2) for column P"},
      {"a point line missing", table_text("increments: 2 1", kNine, kNineUnits, point_lines(5, 9)),
       "in.sf7(13): Unexpected end of file"},
      {"a product past the doubles",
       table_text("increments: 0", "X Y E", "(cm) (cm) (MV/m)", "1 2 1e307\n"),
       "in.sf7(9): Value out of range at point (0,0)"},
  };
  for (const Case& c : cases) {
    const std::string exact = reading_of(c.text, kWays[0]);
    for (const Way& way : kWays) {
      Sf7Table table;
      std::string got = read_text(c.text, way, table);
      if (got.empty()) {
        got = std::to_string(table.dim1) + "x" + std::to_string(table.dim2) + " " +
              std::to_string(table.increment_counts);
        for (const FieldColumn& column : table.columns)
          got += std::string(" ") + column.out_name + (column.data ? "" : "+");
        // The last number of point line n is n.
        const FieldColumn& last = table.columns.back();
        for (int n = 0; last.data && n < table.dim1 * table.dim2; ++n)
          ASSERT_EQ(last.data[static_cast<std::size_t>(n)], last.factor * n) << c.what;
      }
      EXPECT_EQ(got, c.expected) << c.what << (way.exact ? ", exact path" : ", blocks");
      EXPECT_EQ(reading_of(c.text, way), exact) << c.what << ", block size " << way.block_size;
    }
  }
}

TEST(Sf7Table, KeepsTheTwoLinesBeforeTheIncrementsLine) {
  const std::string rest = "increments: 1\n\nR Z\n(cm) (cm)\n1 2\n3 4\n";
  struct Case {
    std::string head;
    std::array<std::string, 2> corners;
  };
  const std::vector<Case> cases = {
      {"SF7\n(Zmin,Rmin) = (50,0.0)\n(Zmax,Rmax) = (60,10)\n",
       {"(Zmin,Rmin) = (50,0.0)", "(Zmax,Rmax) = (60,10)"}},
      {"first\nProgram SF7\n", {"first", "Program SF7"}},
      {"SF7\n", {"", "SF7"}},
      {"SF7\n" + std::string(1500, 'x') + "\n", {std::string(1023, 'x'), std::string(477, 'x')}},
  };
  for (const Case& c : cases) {
    for (const std::string& text : {c.head + rest, with_crlf(c.head + rest)}) {
      for (const Way& way : kWays) {
        Sf7Table table;
        EXPECT_EQ(read_text(text, way, table), "");
        EXPECT_EQ(table.corner_lines, c.corners) << c.head;
      }
    }
  }
  // After an error the table holds the columns read up to it, and no empty ones.
  Sf7Table table;
  EXPECT_NE(read_text(table_text("increments: 2 1", kNine, "(cm)", ""), kWays[1], table), "");
  EXPECT_EQ(table.columns.size(), 9u);
  EXPECT_NE(read_text("no table\n", kWays[1], table), "");
  EXPECT_EQ(table.columns.size(), 0u);
}

TEST(ConverterReading, IsTheSixColumnCaseOfTheTable) {
  std::string nine_body, six_body;
  for (int n = 0; n < 1000; ++n) {
    nine_body += point_line(n, 9);
    six_body += point_line(n, 9).substr(0, 88) + "\n"; // its first six numbers
  }
  const std::string nine = table_text("X and Y increments:  49  19", kNine, kNineUnits, nine_body);
  const std::string six = table_text("X and Y increments:  49  19", "X Y Bx By |B| Az",
                                     kNineUnits.substr(0, kNineUnits.find(" (G/cm)")), six_body);
  auto map_of = [](const std::string& text, const Way& way) {
    FieldMap map;
    Sf7Reading reading{"in.sf7", 0, {nullptr, way.threads}};
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                                 std::fclose);
    const std::string error = thrown_text([&] {
      read_field_map(stream.get(), reading, map, {way.exact, way.block_size});
    });
    return error.empty() ? columns_text(map.columns, map.dim1, map.dim2) : error;
  };
  for (const Way& way : kWays) {
    const std::string map = map_of(nine, way);
    EXPECT_EQ(map_of(six, way), map);
    Sf7Table table;
    ASSERT_EQ(read_text(nine, way, table), "");
    EXPECT_EQ(columns_text(std::span(table.columns).first(6), table.dim1, table.dim2), map);
    // Its messages: six names and units, whatever the table has.
    EXPECT_EQ(map_of(table_text("increments: 1 1", "X Y Bx By |B|", kNineUnits, ""), way),
              "in.sf7(7): Can not find 6 array names");
    EXPECT_EQ(map_of(table_text("increments: 1 1", kNine, "(cm) (cm) (G) (G) (G)", ""), way),
              "in.sf7(8): Can not find 6 array units");
    EXPECT_EQ(
        map_of(table_text("increments: 1 1", kNine, kNineUnits, "1 2 3 4 5 6\n1 2 3 4 5\n"), way),
        "in.sf7(10): Error reading point (0,1)");
  }
}

TEST(Sf7Table, FastAndExactPathsAgreeOnGeneratedTables) {
  std::mt19937_64 rng(90210);
  auto pick = [&](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
  };
  const std::vector<std::string> units = {"(cm)", "(G)", "(G/cm)", "(V/cm)", "(none)", "(MV/m)"};
  const std::vector<std::string> odd = {"0x1p3", "inf", "-nan", "1e400", "5x", "+.5", "1e", "7."};
  int read = 0;
  for (int file = 0; file < 300; ++file) {
    const std::size_t columns = pick(3) == 0 ? 9 : 2 + pick(31);
    const std::size_t counts[2] = {pick(12), pick(12)};
    const bool line_map = pick(5) == 0;
    std::string names, unit_line, body;
    for (std::size_t k = 0; k < columns; ++k) {
      names += " C" + std::to_string(k);
      unit_line += " " + units[pick(units.size())];
    }
    if (pick(30) == 0)
      unit_line.resize(unit_line.rfind(' ')); // one unit short
    for (std::size_t n = 0; n < (counts[0] + 1) * (line_map ? 1 : counts[1] + 1); ++n) {
      for (std::size_t k = pick(100) == 0 ? pick(columns) : columns; k > 0; --k) {
        char number[32];
        const double value = std::uniform_real_distribution<double>(-1e3, 1e3)(rng);
        std::snprintf(number, sizeof number, pick(2) ? "%14.6E" : "%.9g", value);
        body += (pick(5) ? " " : "\t") + (pick(300) == 0 ? odd[pick(odd.size())] : number);
      }
      body += pick(20) == 0 ? " trailing text\n" : "\n";
    }
    const std::string increments = line_map ? "Number of increments: " + std::to_string(counts[0])
                                            : "X and Y increments: " + std::to_string(counts[0]) +
                                                  " " + std::to_string(counts[1]);
    std::string text = table_text(increments, names, unit_line, body);
    if (pick(2) == 0)
      text = with_crlf(text);
    const std::string exact = reading_of(text, kWays[0]);
    for (const Way& way : kWays)
      ASSERT_EQ(reading_of(text, way), exact) << "file " << file << ":\n" << text;
    read += exact.rfind("in.sf7(", 0) != 0;
  }
  EXPECT_GT(read, 150);
  EXPECT_LT(read, 290);
}

TEST(Sf7Table, AgreesWhereverBlockBoundariesFall) {
  // Shifting the table a byte at a time puts the end of each block in every place of a line.
  for (const bool crlf : {false, true}) {
    for (std::size_t shift = 0; shift < 133; ++shift) {
      std::string text =
          std::string(shift, 'h') + "\n" +
          table_text("X and Y increments: 9 9", kNine, kNineUnits, point_lines(100, 9));
      text = crlf ? with_crlf(text) : text;
      const std::string exact = reading_of(text, kWays[0]);
      ASSERT_EQ(exact.rfind("in.sf7(", 0), std::string::npos) << exact;
      ASSERT_EQ(reading_of(text, kWays[1]), exact) << shift;
    }
  }
}

} // namespace
