// The fast reading of field maps against the exact path, on generated input: point lines with
// ordinary and awkward numbers, byte streams split into lines, and whole maps with every kind of
// line end, read with block boundaries everywhere. Both ways must agree on every bit, every line
// number and every error.
#include "cli/program.h"
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_fast_scan.h"
#include "sf7/sf7_input.h"
#include "sf7/sf7_portable_scan.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::bits_of;
using test_support::run_in_child;

namespace {

using Rng = std::mt19937_64;

std::size_t pick(Rng& rng, std::size_t count) {
  return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
}

bool chance(Rng& rng, double probability) {
  return std::bernoulli_distribution(probability)(rng);
}

template <class T> const T& pick_from(Rng& rng, const std::vector<T>& items) {
  return items[pick(rng, items.size())];
}

std::string digits(Rng& rng, std::size_t count) {
  std::string text;
  for (std::size_t k = 0; k < count; ++k)
    text += static_cast<char>('0' + pick(rng, 10));
  return text;
}

// A decimal number that "%lf" reads whole and whose value is a normal double: optional sign,
// digits with or without a point, optional exponent.
std::string ordinary_number(Rng& rng) {
  std::string text = pick_from<std::string>(rng, {"", "", "", "-", "+"});
  const std::size_t integer_digits = pick(rng, 9);
  const std::size_t fraction_digits = integer_digits == 0 ? 1 + pick(rng, 9) : pick(rng, 10);
  text += digits(rng, integer_digits);
  if (integer_digits == 0 || fraction_digits > 0 || chance(rng, 0.2))
    text += "." + digits(rng, fraction_digits);
  if (chance(rng, 0.6)) {
    text += chance(rng, 0.7) ? "E" : "e";
    text += pick_from<std::string>(rng, {"+", "-", ""});
    text += std::string(pick(rng, 3), '0') + std::to_string(pick(rng, 280));
  }
  return text;
}

// The post-processor's own layouts: coordinates in fixed notation, fields as %.6E.
std::string layout_number(Rng& rng) {
  const double magnitude = std::uniform_real_distribution<double>(0, 1)(rng) *
                           std::array{1e-9, 1e-3, 1.0, 1e3, 1e7}[pick(rng, 5)];
  const double value = chance(rng, 0.4) ? -magnitude : magnitude;
  char text[64];
  std::snprintf(text, sizeof text, chance(rng, 0.5) ? "%.6E" : "%.5f", value);
  return text;
}

// Numbers of every other form, and words that are not numbers or not only numbers.
// clang-format off
const std::vector<std::string> kAwkwardTokens = {
    "007", "+5", "-0", "+0.0", "-0.000000E+00", ".5", "+.5", "-.5", "5.", "-5.",
    "1e5", "1E+05", "1e-05", "1.e5", "1e", "1e+", "1E-", "1ex", "e5", ".", "-", "+", ".e5",
    "0x1p3", "0X1P-2", "0x10", "-0x1.8p1", "0x", "0xg",
    "inf", "-INF", "+Infinity", "infinit", "nan", "-NAN", "nan(123)", "nan()", "nan(",
    "1e400", "-1e400", "1e-400", "4.9e-324", "2.4e-324", "2.4e-308",
    "2.2250738585072011e-308", "2.2250738585072014e-308",
    "1.7976931348623157e308", "1.7976931348623159e308",
    "12345678901234567890", "0.1234567890123456789012345678901234567890",
    "1234567890123456789012345678901234567890e-20", "9007199254740993", "9007199254740992.5",
    "1e22", "1e23", "123456789e-30", "0e999999", "1e0000000000000000000005",
    "5x", "1.5.2", "1e5e5", "1-2", "1+2", "--5", "+-5", "5,", "1.0+100",
    "1.5E+100", "1.5E+1000", "1.5E-1000", "5.000000E-02", "99999999.9", "0.00000001",
    std::string("7\0", 2), std::string("\0", 1), "\x01", "\xB3"};
// clang-format on

// White space between numbers: mostly blanks, sometimes the other kinds "%lf" skips.
std::string separator(Rng& rng) {
  if (chance(rng, 0.85))
    return std::string(1 + pick(rng, 6), ' ');
  std::string text;
  for (std::size_t k = 1 + pick(rng, 3); k > 0; --k)
    text += pick_from<std::string>(rng, {" ", "\t", "\v", "\f", "\r"});
  return text;
}

struct GeneratedLine {
  std::string text; // without its line end
  bool plain;       // six ordinary numbers first, no NUL: the fast scanner must take it
};

GeneratedLine point_line(Rng& rng) {
  GeneratedLine line{chance(rng, 0.5) ? std::string(pick(rng, 4), ' ') : separator(rng), true};
  const std::size_t count = chance(rng, 0.85) ? 6 + pick(rng, 3) : pick(rng, 6);
  const bool awkward_line = chance(rng, 0.35);
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0)
      line.text += separator(rng);
    if (awkward_line && chance(rng, 0.3)) {
      line.text += pick_from(rng, kAwkwardTokens);
      line.plain = line.plain && k >= 6;
    } else {
      line.text += chance(rng, 0.5) ? ordinary_number(rng) : layout_number(rng);
    }
  }
  line.plain = line.plain && count >= 6;
  if (chance(rng, 0.2))
    line.text += separator(rng) + pick_from<std::string>(rng, {"text", "1 2 3", "\xB3", "x"});
  if (chance(rng, 0.05)) {
    line.text.insert(pick(rng, line.text.size() + 1), 1, '\0');
    line.plain = false;
  }
  if (chance(rng, 0.05)) {
    // Around the line buffer's piece limit, counted with a one-character line feed; the blanks
    // go at the end or somewhere inside, where a number may then cross the limit.
    const std::size_t length = 1019 + pick(rng, 7);
    if (line.text.size() < length) {
      const std::size_t blanks = length - line.text.size();
      if (chance(rng, 0.5))
        line.text.append(blanks, ' ');
      else
        line.text.insert(line.text.rfind(' ') + 1, blanks, ' ');
    }
    line.plain = line.plain && line.text.size() < LINE_PIECE_LIMIT - 1;
  }
  return line;
}

TEST(FastScan, AgreesWithTheExactScanOnEveryGeneratedLine) {
  Rng rng(20240611);
  Sf7ScanMemo memo;
  int lines = 0;
  int taken = 0;
  int plain = 0;
  for (; lines < 200000; ++lines) {
    const GeneratedLine line = point_line(rng);
    const std::string end_of_line = chance(rng, 0.3) ? "\r\n" : "\n";
    // The line in a buffer as the block reader holds it: more text after it, zeros at the end.
    std::string buffer = line.text + end_of_line + "9 9 9 9 9 9\n";
    const std::size_t text_size = buffer.size();
    buffer.append(SF7_SCAN_PADDING, '\0');
    std::array<double, SF7_COLUMN_COUNT> fast{};
    const char* next = scan_point_fast(memo, buffer.data(), buffer.data() + text_size, fast);

    // The exact path sees the line as the line buffer holds it: a C string ending in LF.
    const std::string exact_text = line.text + "\n";
    std::array<double, SF7_COLUMN_COUNT> exact{};
    const int found = scan_point_exact(exact_text.c_str(), exact);
    plain += line.plain;
    if (next == nullptr) {
      EXPECT_FALSE(line.plain) << "an ordinary line was left to the exact path: " << line.text;
      continue;
    }
    ++taken;
    ASSERT_EQ(found, SF7_COLUMN_COUNT) << line.text;
    ASSERT_EQ(next, buffer.data() + line.text.size() + end_of_line.size()) << line.text;
    ASSERT_LT(exact_text.size(), LINE_PIECE_LIMIT) << line.text;
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      ASSERT_EQ(bits_of(fast[k]), bits_of(exact[k])) << "number " << k << " of: " << line.text;
    }
  }
  // The generator makes both kinds in quantity, or the comparison above proves little.
  EXPECT_GT(plain, lines / 2);
  EXPECT_GT(taken, plain);
  EXPECT_LT(taken, lines - lines / 10);
}

// The scan that stands in for "%lf" where the C library is not glibc, against glibc's sscanf (the
// exact path's scan on glibc) on the same kinds of lines.
TEST(PortableScan, AgreesWithGlibcOnEveryGeneratedLine) {
#ifndef __GLIBC__
  GTEST_SKIP() << "the reference is glibc's sscanf";
#endif
  Rng rng(20240612);
  for (int lines = 0; lines < 300000; ++lines) {
    const std::string text = point_line(rng).text + "\n";
    std::array<double, SF7_COLUMN_COUNT> glibc{};
    std::array<double, SF7_COLUMN_COUNT> portable{};
    const int found = scan_point_exact(text.c_str(), glibc);
    ASSERT_EQ(scan_point_portable(text.c_str(), portable), found) << text;
    for (std::size_t k = 0; k < static_cast<std::size_t>(found); ++k)
      ASSERT_EQ(bits_of(portable[k]), bits_of(glibc[k])) << "number " << k << " of: " << text;
  }
}

// Point lines in the layouts the solver writes, some of them near the 128 bytes the scan
// classifies at once.
const std::vector<std::string> kLayoutLines = {
    "   2.35000      0.950000      3.492054E+02 -1.755038E+02  3.908273E+02  8.707823E+02",
    "  5.000000E-02   0.00000      0.000000E+00  0.000000E+00  0.000000E+00  0.000000E+00",
    "   50.6061       0.00000      2.988860E+01  0.000000E+00  2.988860E+01  0.000000E+00\r",
    "   4.00400       0.00000      3.564681E-02  0.000000E+00  3.564681E-02  1.000000E+01 "
    "-2.372660E-06  0.000000E+00  0.000000E+00",
    "+1.5e+01 -2.5E-01 3.0 4.0 5. .5",
    "1.5 2.5 3.5 4.5 5.5 6.5" + std::string(120 - 23, ' '),
    "1.5 2.5 3.5 4.5 5.5 6.5" + std::string(126 - 23, ' '),
    "1.5 2.5 3.5 4.5 5.5 6.5" + std::string(127 - 23, ' '),
    "1.5 2.5 3.5 4.5 5.5 6.5" + std::string(128 - 23, ' '),
};

// The line with new digits and some signs turned over, as the next line of a map; now and then
// one character changed, which changes its shape.
std::string next_in_layout(Rng& rng, const std::string& line) {
  std::string next = line;
  for (char& c : next) {
    if (c >= '0' && c <= '9')
      c = static_cast<char>('0' + pick(rng, 10));
    else if ((c == '+' || c == '-') && chance(rng, 0.2))
      c = c == '+' ? '-' : '+';
  }
  if (chance(rng, 0.05)) {
    next[pick(rng, next.size())] =
        pick_from<char>(rng, {' ', '.', 'x', 'E', 'e', '5', '\t', '-', '+', '\0', '\n'});
  }
  return next;
}

TEST(FastScan, AgreesWithTheExactScanOnLinesOfOneLayout) {
  // Most of these lines match the one before but for digits and signs: they are read from
  // what the scan remembers. Exponents such as E+97 are beyond its exact products.
  Rng rng(31337);
  Sf7ScanMemo memo;
  for (const std::string& first : kLayoutLines) {
    std::string line = first;
    for (int n = 0; n < 4000; ++n) {
      line = chance(rng, 0.02) ? first : next_in_layout(rng, line);
      std::string buffer = line + "\n" + kLayoutLines[0] + "\n";
      const std::size_t text_size = buffer.size();
      buffer.append(SF7_SCAN_PADDING, '\0');
      std::array<double, SF7_COLUMN_COUNT> fast{};
      const char* next = scan_point_fast(memo, buffer.data(), buffer.data() + text_size, fast);
      const std::string exact_text = line + "\n";
      std::array<double, SF7_COLUMN_COUNT> exact{};
      const int found = scan_point_exact(exact_text.c_str(), exact);
      if (next == nullptr)
        continue;
      ASSERT_EQ(found, SF7_COLUMN_COUNT) << line;
      ASSERT_EQ(next, buffer.data() + buffer.find('\n') + 1) << line;
      for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k)
        ASSERT_EQ(bits_of(fast[k]), bits_of(exact[k])) << "number " << k << " of: " << line;
    }
  }
}

TEST(FastScan, TakesTheUsualFormsItself) {
  const std::vector<std::string> lines = {
      "   0.00000       0.00000      0.000000E+00  0.000000E+00  0.000000E+00  0.000000E+00",
      "  5.000000E-02   0.00000      1.049969E-01 -4.999924E+01  4.999935E+01 -1.000010E+03",
      "   24.2500       24.9500      1.392384E+01 -1.277717E+01  1.889787E+01 -2.434185E+02\r",
      "1 2 3 4 5 6",
      "+1. -.5 1e5 1E+05 007 0.1e-3 trailing words",
      "\t1\v2\f3\r4 5 6 7 8 9",
      "12345678901234567890 0.1234567890123456789012345 1e300 1e-300 -0.0 +0.5e-5",
  };
  for (const std::string& text : lines) {
    std::string buffer = text + "\n";
    const std::size_t text_size = buffer.size();
    buffer.append(SF7_SCAN_PADDING, '\0');
    std::array<double, SF7_COLUMN_COUNT> values{};
    Sf7ScanMemo memo;
    EXPECT_EQ(scan_point_fast(memo, buffer.data(), buffer.data() + text_size, values),
              buffer.data() + text_size)
        << text;
  }
}

TEST(FastScan, LeavesLinesItCannotFinishToTheExactPath) {
  const std::string six = "1 2 3 4 5 6";
  struct Case {
    const char* what;
    std::string text; // what the buffer holds
  };
  const std::vector<Case> cases = {
      {"no line feed before the end of the buffer", six},
      {"1022 characters and CR LF: the piece limit", six + std::string(1011, ' ') + "\r\n"},
      {"1023 characters and LF", six + std::string(1012, ' ') + "\n"},
      {"a long line", six + std::string(3000, ' ') + "\n"},
      {"five numbers", "1 2 3 4 5\n6\n"},
      {"a number out of range", "1 2 3 4 5 1e400\n"},
      {"a hexadecimal number", "1 2 3 4 5 0x1p3\n"},
      {"a glued word", "1 2 3 4 5 6x\n"},
      {"a zero byte", std::string("1 2 3 4 5 6\0\n", 13)},
  };
  for (const Case& c : cases) {
    std::string buffer = c.text;
    const std::size_t text_size = buffer.size();
    buffer.append(SF7_SCAN_PADDING, '\0');
    std::array<double, SF7_COLUMN_COUNT> values{};
    Sf7ScanMemo memo;
    EXPECT_EQ(scan_point_fast(memo, buffer.data(), buffer.data() + text_size, values), nullptr)
        << c.what;
  }
}

// Every piece read_line_exact gives for `bytes`, and every piece the block reader gives.
std::vector<std::string> exact_pieces(const std::string& bytes) {
  std::vector<std::string> pieces;
  std::FILE* stream = test_support::open_bytes(bytes);
  LineBuffer line;
  while (read_line_exact(stream, line))
    pieces.emplace_back(line.text.data(), line.length);
  std::fclose(stream);
  return pieces;
}

std::vector<std::string> block_pieces(const std::string& bytes, std::size_t block_size) {
  std::vector<std::string> pieces;
  std::FILE* stream = test_support::open_bytes(bytes);
  Sf7Input input;
  open_sf7_input(input, stream, block_size);
  LineBuffer line;
  while (read_line_block(input, line)) {
    EXPECT_EQ(line.text[line.length], '\0');
    pieces.emplace_back(line.text.data(), line.length);
  }
  std::fclose(stream);
  return pieces;
}

TEST(BlockInput, SplitsLinesAsTheExactReader) {
  Rng rng(7);
  const std::vector<std::string> parts = {
      "a", "12 ", "\n", "\r\n", "\r", "\r\r\n", std::string(1, '\0'), "\n\n", " "};
  for (int stream = 0; stream < 300; ++stream) {
    std::string bytes;
    const std::size_t target = pick(rng, 30000);
    while (bytes.size() < target) {
      // Long runs make pieces of the 1023-character limit and lines across blocks.
      if (chance(rng, 0.05))
        bytes.append(1000 + pick(rng, 1100), chance(rng, 0.5) ? 'x' : ' ');
      else
        bytes += pick_from(rng, parts);
    }
    const std::size_t block_size =
        std::array<std::size_t, 4>{SF7_INPUT_MIN_BLOCK_SIZE, 4097, 5003, 65536}[pick(rng, 4)];
    ASSERT_EQ(block_pieces(bytes, block_size), exact_pieces(bytes))
        << "stream " << stream << ", block size " << block_size;
  }
}

TEST(BlockInput, ReadsCrLfAcrossEveryBlockBoundary) {
  // The CR of a CR LF at every place around the end of the first block.
  for (std::size_t cr_at = SF7_INPUT_MIN_BLOCK_SIZE - 1100; cr_at < SF7_INPUT_MIN_BLOCK_SIZE + 4;
       ++cr_at) {
    std::string bytes;
    while (bytes.size() + 40 < cr_at)
      bytes += "line of text " + std::to_string(bytes.size()) + "\n";
    bytes.append(cr_at - bytes.size(), 'y');
    bytes += "\r\nlast\r";
    ASSERT_EQ(block_pieces(bytes, SF7_INPUT_MIN_BLOCK_SIZE), exact_pieces(bytes)) << cr_at;
  }
}

// ---- Whole maps -------------------------------------------------------------------------------

const std::vector<std::string> kUnitWords = {"(cm)",   "(mm)",  "(G)",    "(G-cm)",
                                             "(MV/m)", "(A/m)", "(V/cm)", "(V)"};
const std::vector<std::string> kNameWords = {"R",
                                             "Z",
                                             "Er",
                                             "Ez",
                                             "|E|",
                                             "V",
                                             "\xB3"
                                             "E\xB3",
                                             "H\xED",
                                             "A\xED",
                                             "Bx"};

struct MapShape {
  std::string text;
  bool defect = false; // made to fail somewhere
};

// A whole map with random line ends: the header, names and units, dim1*dim2 point lines of
// every kind, and now and then one defect.
MapShape generated_map(Rng& rng) {
  MapShape map;
  const int line_ends = static_cast<int>(pick(rng, 3)); // LF, CR LF, or either at random
  auto end_line = [&] {
    const bool crlf = line_ends == 1 || (line_ends == 2 && chance(rng, 0.5));
    map.text += crlf ? "\r\n" : "\n";
  };
  auto add_line = [&](const std::string& text) {
    map.text += text;
    end_line();
  };
  add_line("Poisson Superfish");
  if (chance(rng, 0.2))
    add_line(std::string(1000 + pick(rng, 2100), '-')); // a header line of several pieces
  add_line("Program SF7 " + digits(rng, pick(rng, 5)));
  for (std::size_t k = pick(rng, 4); k > 0; --k)
    add_line("header text " + digits(rng, pick(rng, 30)));
  const std::size_t increments1 = pick(rng, 15);
  const std::size_t increments2 = pick(rng, 15);
  add_line("R and Z increments: " + std::to_string(increments1) + " " +
           std::to_string(increments2));
  add_line("");
  std::string names;
  std::string units;
  for (int k = 0; k < SF7_COLUMN_COUNT; ++k) {
    names += separator(rng) + pick_from(rng, kNameWords);
    units += separator(rng) + pick_from(rng, kUnitWords);
  }
  if (chance(rng, 0.02)) {
    units = " (cm) (cm) (kV) (V) (V) (V)";
    map.defect = true;
  }
  add_line(names);
  add_line(units);
  const std::size_t points = (increments1 + 1) * (increments2 + 1);
  const bool truncated = chance(rng, 0.03);
  for (std::size_t n = 0; n < points - truncated; ++n) {
    std::string text;
    if (!chance(rng, 0.03)) {
      for (int k = 0; k < SF7_COLUMN_COUNT; ++k)
        text += separator(rng) + (chance(rng, 0.5) ? layout_number(rng) : ordinary_number(rng));
    } else {
      // Any generated line: awkward numbers, fewer numbers, zero bytes, lengths at the limit.
      text = point_line(rng).text;
    }
    map.text += text;
    if (n + 1 < points || chance(rng, 0.7))
      end_line();
  }
  map.defect = map.defect || truncated;
  if (chance(rng, 0.3))
    add_line("text after the last point line " + digits(rng, 5));
  return map;
}

// Reads `text` in a child, with the exact path only or with blocks of `block_size` bytes, and
// writes everything the reader produced on standard output.
test_support::ProcessResult read_map_in_child(const std::string& text, bool exact_path,
                                              std::size_t block_size) {
  return run_in_child([&] {
    Sf7Reading reading{"map.sf7", 0, {print_stderr}};
    // Closed also when the reading throws: on Windows the body runs in this process.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                                 std::fclose);
    FieldMap map;
    read_field_map(stream.get(), reading, map, {exact_path, block_size});
    std::printf("%d %d line %d\n", map.dim1, map.dim2, reading.line_number);
    const auto points = static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
    for (const FieldColumn& column : map.columns) {
      std::printf("%s %s %s %s %016llx\n", column.sf7_name.data(), column.sf7_unit.data(),
                  column.out_name, column.out_unit,
                  static_cast<unsigned long long>(bits_of(column.factor)));
      if (column.data)
        std::fwrite(column.data.get(), sizeof(double), points, stdout);
    }
  });
}

TEST(ReadFieldMap, FastAndExactPathsAgreeOnGeneratedMaps) {
  Rng rng(1234567);
  int converted = 0;
  int failed = 0;
  for (int file = 0; file < 400; ++file) {
    const MapShape map = generated_map(rng);
    const std::size_t block_size = std::array<std::size_t, 5>{
        SF7_INPUT_MIN_BLOCK_SIZE, 4099, 6000, 9000, SF7_INPUT_BLOCK_SIZE}[pick(rng, 5)];
    const auto exact = read_map_in_child(map.text, true, block_size);
    const auto fast = read_map_in_child(map.text, false, block_size);
    ASSERT_EQ(fast.exit_status, exact.exit_status) << "file " << file << ": " << exact.err;
    ASSERT_EQ(fast.err, exact.err) << "file " << file;
    ASSERT_EQ(fast.out, exact.out) << "file " << file;
    if (exact.exit_status == 0) {
      ++converted;
    } else {
      ++failed;
      EXPECT_EQ(exact.out, "") << "file " << file;
    }
    if (map.defect) {
      EXPECT_EQ(exact.exit_status, 1) << "file " << file;
    }
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(converted, 100);
  EXPECT_GT(failed, 40);
}

// A map whose point lines are all `line`, for `points` points.
std::string uniform_map(const std::string& header_filler, const std::string& line,
                        std::size_t points, const std::string& end = "\n") {
  std::string text = "Program SF7" + end + header_filler + end +
                     "increments: " + std::to_string(points - 1) + end + end + "R Z Er Ez |E| V" +
                     end + "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)" + end;
  for (std::size_t n = 0; n < points; ++n)
    text += line + end;
  return text;
}

TEST(ReadFieldMap, AgreesWhereverBlockBoundariesFall) {
  // Shifting the map by one byte at a time puts the end of each block in every place of a
  // point line: before a number, inside one, between CR and LF.
  const std::string line =
      "  5.000000E-02   0.00000      1.049969E-01 -4.999924E+01  4.999935E+01 -1.000010E+03";
  const std::string long_line = "1 2 3 4 5 6" + std::string(1012, ' ');
  for (const std::string& end : {std::string("\n"), std::string("\r\n")}) {
    for (std::size_t shift = 0; shift < line.size() + 2; ++shift) {
      for (const std::string* point : {&line, &long_line}) {
        const std::string text = uniform_map(std::string(shift, 'h'), *point, 150, end);
        const auto exact = read_map_in_child(text, true, SF7_INPUT_MIN_BLOCK_SIZE);
        const auto fast = read_map_in_child(text, false, SF7_INPUT_MIN_BLOCK_SIZE);
        ASSERT_EQ(exact.exit_status, 0) << exact.err;
        ASSERT_EQ(fast.err, exact.err) << shift;
        ASSERT_EQ(fast.out, exact.out) << shift;
      }
    }
  }
}

TEST(ReadFieldMap, AgreesOnMapsLargerThanOneBlock) {
  Rng rng(99);
  for (int file = 0; file < 3; ++file) {
    std::string text = "Program SF7\nR and Z increments: 99 199\n\nR Z Er Ez |E| V\n"
                       "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)\n";
    for (int n = 0; n < 100 * 200; ++n) {
      for (int k = 0; k < SF7_COLUMN_COUNT; ++k)
        text += separator(rng) + (chance(rng, 0.7) ? layout_number(rng) : ordinary_number(rng));
      text += chance(rng, 0.5) ? "\r\n" : "\n";
    }
    ASSERT_GT(text.size(), SF7_INPUT_BLOCK_SIZE);
    const auto exact = read_map_in_child(text, true, SF7_INPUT_BLOCK_SIZE);
    const auto fast = read_map_in_child(text, false, SF7_INPUT_BLOCK_SIZE);
    ASSERT_EQ(exact.exit_status, 0) << exact.err;
    EXPECT_EQ(fast.err, exact.err);
    EXPECT_EQ(fast.out, exact.out);
  }
}

// A map with one count and the given point lines, from line 7 on: point n is (n,0).
std::string map_with(const std::vector<std::string>& lines) {
  std::string text = "Program SF7\n\nincrements: " + std::to_string(lines.size() - 1) +
                     "\n\nR Z Er Ez |E| V\n(cm) (cm) (V/cm) (V/cm) (V/cm) (V)\n";
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

TEST(ReadFieldMap, AgreesOnMapsInTheSolversLayout) {
  Rng rng(4242);
  for (int file = 0; file < 40; ++file) {
    const std::string end = chance(rng, 0.5) ? "\r\n" : "\n";
    std::string text = "Program SF7" + end + "R and Z increments: 49 39" + end + end +
                       "R Z Er Ez |E| V" + end + "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)" + end;
    std::string line = pick_from(rng, kLayoutLines);
    for (int n = 0; n < 50 * 40; ++n) {
      line = chance(rng, 0.01) ? pick_from(rng, kLayoutLines) : next_in_layout(rng, line);
      text += line + end;
    }
    const std::size_t block_size = std::array<std::size_t, 3>{SF7_INPUT_MIN_BLOCK_SIZE, 7777,
                                                              SF7_INPUT_BLOCK_SIZE}[pick(rng, 3)];
    const auto exact = read_map_in_child(text, true, block_size);
    const auto fast = read_map_in_child(text, false, block_size);
    ASSERT_EQ(fast.exit_status, exact.exit_status) << "file " << file << ": " << exact.err;
    ASSERT_EQ(fast.err, exact.err) << "file " << file;
    ASSERT_EQ(fast.out, exact.out) << "file " << file;
  }
}

TEST(ReadFieldMap, ReportsTheSameErrorsAsTheExactPath) {
  const std::string six = "1 2 3 4 5 6";
  const std::string pad_1023 = six + std::string(1023 - six.size(), ' ');
  struct Case {
    const char* what;
    std::string text;
    std::string expected; // last line of standard error
  };
  const std::vector<Case> cases = {
      {"five numbers", map_with({six, "1 2 3 4 5", six}),
       "Error: map.sf7(8): Error reading point (1,0)\n"},
      {"a word glued to the fifth number", map_with({six, six, "1 2 3 4 5x 6"}),
       "Error: map.sf7(9): Error reading point (2,0)\n"},
      {"a word glued to the sixth number is never read", map_with({six, "1 2 3 4 5 6x"}),
       "Reading file\n"},
      {"a point line of 1024 characters", map_with({six, pad_1023 + " "}),
       "Error: map.sf7(8): Error reading point (1,0)\n"},
      {"a CR alone after 1023 characters", map_with({pad_1023 + "\rX", six}),
       "Error: map.sf7(7): Error reading point (0,0)\n"},
      {"1023 characters and CR LF", map_with({pad_1023 + "\r", six}), "Reading file\n"},
      {"1023 characters and a CR at the end of the input",
       map_with({six, pad_1023 + "\r"}).substr(0, map_with({six, pad_1023 + "\r"}).size() - 1),
       "Error: map.sf7(8): Error reading point (1,0)\n"},
      {"1023 characters at the end of the input",
       map_with({six, pad_1023}).substr(0, map_with({six, pad_1023}).size() - 1), "Reading file\n"},
      {"hexadecimal, infinity and NaN are read", map_with({"0x1p3 inf -nan 1e400 1e-400 5"}),
       "Reading file\n"},
      {"a zero byte before the sixth number", map_with({six, std::string("1 2 3 4 5\0 6", 12)}),
       "Error: map.sf7(8): Error reading point (1,0)\n"},
      {"a zero byte after the sixth number", map_with({std::string("1 2 3 4 5 6\0 x", 14), six}),
       "Reading file\n"},
      {"the last point line missing", map_with({six, six}).substr(0, map_with({six}).size()),
       "Error: map.sf7(7): Unexpected end of file\n"},
      {"the last line without its line feed",
       map_with({six, six}).substr(0, map_with({six, six}).size() - 1), "Reading file\n"},
  };
  for (const Case& c : cases) {
    const auto exact = read_map_in_child(c.text, true, SF7_INPUT_MIN_BLOCK_SIZE);
    const auto fast = read_map_in_child(c.text, false, SF7_INPUT_MIN_BLOCK_SIZE);
    EXPECT_EQ(fast.exit_status, exact.exit_status) << c.what;
    EXPECT_EQ(fast.out, exact.out) << c.what;
    EXPECT_EQ(fast.err, exact.err) << c.what;
    // The verbose lines come first; the error, if any, is the last line.
    const std::size_t last = exact.err.rfind('\n', exact.err.size() - 2);
    EXPECT_EQ(exact.err.substr(last + 1), c.expected) << c.what;
    EXPECT_EQ(exact.exit_status, c.expected == "Reading file\n" ? 0 : 1) << c.what;
  }
}

TEST(ExactPathSwitch, ReadsLineByLineOnlyWhenSet) {
  // The exact path stops right after the last point line; the block reader has read the whole
  // (small) input by then. This shows that the switch really selects the other path.
  const std::string text = uniform_map("", "1 2 3 4 5 6", 2) + "more text after the map\n";
  for (bool exact_path : {true, false}) {
    Sf7Reading reading{"map.sf7", 0, {}};
    std::FILE* stream = test_support::open_bytes(text);
    FieldMap map;
    read_field_map(stream, reading, map, {exact_path});
    const long expected =
        exact_path ? static_cast<long>(text.find("more")) : static_cast<long>(text.size());
    EXPECT_EQ(std::ftell(stream), expected) << exact_path;
    EXPECT_EQ(reading.line_number, 8);
    std::fclose(stream);
  }
}

} // namespace
