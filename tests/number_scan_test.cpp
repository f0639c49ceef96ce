// The number scans for point lines of any column count and for streams of numbers: the word
// scans against glibc's strtod on awkward and generated words, the scan of whole lines of
// numbers, the fast point scan of N numbers against the exact path, and a stream of numbers
// (points wrapped over lines, several on one line) read in blocks as a grid file's reader does.
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_fast_scan.h"
#include "sf7/sf7_input.h"
#include "sf7/sf7_number_scan.h"
#include "sf7/sf7_portable_scan.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::bits_of;

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

// Text in a buffer as the block input holds it: SF7_SCAN_PADDING zero bytes after it.
struct Buffered {
  std::string bytes;
  std::size_t size;
  explicit Buffered(const std::string& text) : bytes(text), size(text.size()) {
    bytes.append(SF7_SCAN_PADDING, '\0');
  }
  const char* begin() const { return bytes.data(); }
  const char* end() const { return bytes.data() + size; }
};

// glibc's strtod over a whole word: true, with its value, when it takes all of the word. Where
// the C library is another one (whose strtod need not round correctly), the portable scan,
// which the tests check against glibc's strtod where that is the C library, stands in for it.
bool strtod_whole(const std::string& word, double& value) {
  if (word.empty() || std::strlen(word.c_str()) != word.size())
    return false;
#ifdef __GLIBC__
  char* stop = nullptr;
  value = std::strtod(word.c_str(), &stop);
  return stop == word.c_str() + word.size();
#else
  return scan_token_portable(word.data(), word.data() + word.size(), value) ==
         word.data() + word.size();
#endif
}

// A number of the forms that the fast scans read: decimal, taken whole by strtod, finite, and
// not a nonzero number that rounds to zero.
bool plain_number(const std::string& word) {
  // Decimal only: no hexadecimal, infinity or NaN.
  if (word.find_first_not_of("0123456789+-.eE") != std::string::npos)
    return false;
  double value = 0;
  if (!strtod_whole(word, value) || !std::isfinite(value))
    return false;
  const std::string mantissa = word.substr(0, word.find_first_of("eE"));
  return value != 0 || mantissa.find_first_of("123456789") == std::string::npos;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- One word --------------------------------------------------------------------------------

struct TokenCase {
  std::string word;
  bool number;  // whether the word scans read it
  double value; // its value when `number`, for the rows that give one (NaN: any NaN)
  bool check_value = true;
};

// clang-format off
const std::vector<TokenCase> kTokens = {
    {"0", true, 0}, {"-0", true, -0.0}, {"+5", true, 5}, {"007", true, 7}, {"1.5", true, 1.5},
    {".5", true, 0.5}, {"-.5", true, -0.5}, {"5.", true, 5}, {"1e5", true, 1e5},
    {"1E+05", true, 1e5}, {"1e-05", true, 1e-5}, {"1.e5", true, 1e5},
    {"3.564206E-02", true, 3.564206e-2}, {"30.2739133", true, 30.2739133},
    {"0x1p3", true, 8}, {"0X1P-2", true, 0.25}, {"0x10", true, 16}, {"-0x1.8p1", true, -3},
    {"0x.8", true, 0.5}, {"inf", true, kInf}, {"-INF", true, -kInf}, {"+Infinity", true, kInf},
    {"nan", true, std::nan("")}, {"-NaN", true, std::nan("")},
    {"1e400", true, kInf}, {"-1e400", true, -kInf}, {"1e-400", true, 0}, {"-1e-400", true, -0.0},
    {"4.9e-324", true, 4.9e-324}, {"2.4e-324", true, 0}, {"2.5e-324", true, 4.9e-324},
    {"2.2250738585072011e-308", true, 0, false}, {"1.7976931348623157e308", true, 1.7976931348623157e308},
    {"1.7976931348623159e308", true, kInf}, {"9007199254740993", true, 9007199254740992.0},
    {"0x1p99999", true, kInf}, {"0x1p-99999", true, 0}, {"0e999999", true, 0},
    {"1e0000000000000000000005", true, 1e5},
    {"12345678901234567890123456789012345678901234567890", true, 0, false},
    {"0.000000000000000000000000000000000000000000000000000000000000000000000000000001e-250",
     true, 0, false},
    // Words that strtod does not read whole, or that are no number at all.
    {"1.5abc", false, 0}, {"1e", false, 0}, {"1e+", false, 0}, {"1E-", false, 0},
    {"1ex", false, 0}, {"e5", false, 0}, {".", false, 0}, {"-", false, 0}, {"+", false, 0},
    {".e5", false, 0}, {"0x", false, 0}, {"0x.", false, 0}, {"0xg", false, 0}, {"0x1p", false, 0},
    {"00x1", false, 0}, {"infinit", false, 0}, {"infx", false, 0}, {"in", false, 0},
    {"nanx", false, 0}, {"nan(", false, 0}, {"1.5.2", false, 0}, {"1e5e5", false, 0},
    {"1-2", false, 0}, {"1+2", false, 0}, {"--5", false, 0}, {"+-5", false, 0}, {"-+5", false, 0},
    {"5,", false, 0}, {"1,5", false, 0}, {"\xB3", false, 0}, {std::string("7\0", 2), false, 0},
    {std::string("\0", 1), false, 0},
    // A NaN with a payload is left alone: strtod would read it, with bits of glibc's own.
    {"nan(123)", false, 0}, {"nan()", false, 0}, {"-nan(0x5)", false, 0},
};
// clang-format on

// Both word scans on one case, the word followed by `after` (white space and more text, or
// nothing: the word then ends the text).
void check_token(const TokenCase& c, const std::string& after) {
  const Buffered text(c.word + after);
  using Scan = const char* (*)(const char*, const char*, double&) noexcept;
  for (const auto& [scan, which] :
       {std::pair<Scan, const char*>{scan_token_exact, "exact"},
        std::pair<Scan, const char*>{scan_token_portable, "portable"}}) {
    double value = 42;
    errno = 0;
    const char* next = scan(text.begin(), text.end(), value);
    EXPECT_EQ(errno, 0) << which << " " << c.word;
    if (!c.number) {
      EXPECT_EQ(next, nullptr) << which << " " << c.word;
      EXPECT_EQ(value, 42) << which << " " << c.word;
      continue;
    }
    ASSERT_EQ(next, text.begin() + c.word.size()) << which << " " << c.word;
    if (!c.check_value)
      continue;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(value)) << which << " " << c.word;
      EXPECT_EQ(std::signbit(value), c.word[0] == '-') << which << " " << c.word;
    } else {
      EXPECT_EQ(bits_of(value), bits_of(c.value)) << which << " " << c.word;
    }
  }
#ifdef __GLIBC__
  // The rows are glibc's: strtod takes each number whole, with the same bits, and no other word
  // (a NaN payload apart).
  double reference = 0;
  const bool whole = strtod_whole(c.word, reference);
  if (c.word.find('(') == std::string::npos) {
    EXPECT_EQ(whole, c.number) << c.word;
  }
  double value = 0;
  if (whole && c.number && scan_token_exact(text.begin(), text.end(), value) != nullptr) {
    EXPECT_EQ(bits_of(value), bits_of(reference)) << c.word;
  }
#endif
}

TEST(TokenScan, ReadsWholeWordsAsStrtod) {
  for (const TokenCase& c : kTokens) {
    for (const std::string after : {"", " ", "\t2", "\n", "\r\n", "\v", "\f x"})
      check_token(c, after);
  }
}

TEST(TokenScan, RefusesWhiteSpaceAndTheEndOfTheText) {
  const Buffered text(" 5\t\n");
  double value = 42;
  for (const std::size_t at : {std::size_t{0}, std::size_t{2}, std::size_t{3}}) {
    EXPECT_EQ(scan_token_exact(text.begin() + at, text.end(), value), nullptr) << at;
    EXPECT_EQ(scan_token_portable(text.begin() + at, text.end(), value), nullptr) << at;
  }
  EXPECT_EQ(scan_token_exact(text.begin() + 1, text.end(), value), text.begin() + 2);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(scan_token_exact(text.end(), text.end(), value), nullptr);
  EXPECT_EQ(scan_token_portable(text.end(), text.end(), value), nullptr);
  // The end given is where the word stops, whatever follows it in memory.
  const Buffered longer("12345 6");
  EXPECT_EQ(scan_token_exact(longer.begin(), longer.begin() + 3, value), longer.begin() + 3);
  EXPECT_EQ(value, 123);
  EXPECT_EQ(scan_token_portable(longer.begin(), longer.begin() + 2, value), longer.begin() + 2);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(scan_token_exact(longer.begin(), longer.begin() + 1, value), longer.begin() + 1);
  EXPECT_EQ(value, 1);
}

// Decimal and hexadecimal numbers of every length and exponent, near the limits of doubles and
// of the exact products.
std::string generated_number(Rng& rng) {
  std::string text = pick_from<std::string>(rng, {"", "", "-", "+"});
  auto digits = [&](std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
      text += static_cast<char>('0' + pick(rng, 10));
  };
  if (chance(rng, 0.1)) {
    text += "0x";
    for (std::size_t k = 1 + pick(rng, 16); k > 0; --k)
      text += "0123456789abcdefABCDEF"[pick(rng, 22)];
    if (chance(rng, 0.5))
      text += "p" + std::to_string(static_cast<int>(pick(rng, 2200)) - 1100);
    return text;
  }
  const std::size_t integer_digits = pick(rng, chance(rng, 0.1) ? 40 : 10);
  digits(integer_digits);
  if (integer_digits == 0 || chance(rng, 0.7)) {
    text += ".";
    digits((integer_digits == 0 ? 1 : 0) + pick(rng, chance(rng, 0.1) ? 40 : 10));
  }
  if (chance(rng, 0.6)) {
    text += chance(rng, 0.5) ? "E" : "e";
    text += pick_from<std::string>(rng, {"+", "-", ""});
    text += std::to_string(pick(rng, chance(rng, 0.2) ? 400 : 40));
  }
  return text;
}

TEST(TokenScan, AgreesWithStrtodOnGeneratedNumbers) {
#ifndef __GLIBC__
  GTEST_SKIP() << "the reference is glibc's strtod";
#endif
  Rng rng(777);
  for (int n = 0; n < 100000; ++n) {
    const std::string word = generated_number(rng);
    double reference = 0;
    ASSERT_TRUE(strtod_whole(word, reference)) << word;
    const Buffered text(word + (chance(rng, 0.5) ? " " : ""));
    double exact = 0;
    double portable = 0;
    ASSERT_EQ(scan_token_exact(text.begin(), text.end(), exact), text.begin() + word.size())
        << word;
    ASSERT_EQ(scan_token_portable(text.begin(), text.end(), portable), text.begin() + word.size())
        << word;
    ASSERT_EQ(bits_of(exact), bits_of(reference)) << word;
    ASSERT_EQ(bits_of(portable), bits_of(reference)) << word;
  }
}

// ---- Whole lines of numbers ------------------------------------------------------------------

struct LineCase {
  const char* what;
  std::string text; // the buffered text, the line first
  int count;        // numbers read, -1 when the line is left to the exact reading
  std::size_t capacity = 8;
};

const std::string kT7Line = "  30.2739133       0.00000000       30.2739133       0.00000000    ";

const std::vector<LineCase> kLines = {
    {"four numbers", "1 2 3 4\n9\n", 4},
    {"a grid file's point line with CR LF", kT7Line + "\r\n", 4},
    {"the header's first line", "50 70 99\r\n", 3},
    {"one number", "175.715180667\n", 1},
    {"an empty line", "\n5\n", 0},
    {"white space alone", " \t\v\f\r\n", 0},
    {"two points on one line", kT7Line + kT7Line + "\n", 8},
    {"more words than values", kT7Line + kT7Line + " 1\n", -1},
    {"as many words as values", "1 2\n", 2, 2},
    {"one word more than values", "1 2 3\n", -1, 2},
    {"the usual forms", "+1. -.5 1e5 1E+05 007 0.1e-3 -0 3.564206E-02\n", 8},
    {"a word that is no number", "1 2 x 4\n", -1},
    {"a number glued to a word", "1 2 1.5abc\n", -1},
    {"a hexadecimal number", "1 0x1p3\n", -1},
    {"an infinity", "1 inf\n", -1},
    {"a NaN", "nan 1\n", -1},
    {"a value out of range", "1 1e400\n", -1},
    {"an exponent without digits", "1 1e\n", -1},
    {"a zero byte", std::string("1 2\0 3\n", 7), -1},
    {"no line feed before the end of the text", "1 2 3", -1},
    {"a CR alone at the end of the text", "1 2 3\r", -1},
    {"more numbers than the memo has shapes for",
     [] {
       std::string line;
       for (int k = 0; k < 40; ++k)
         line += " 1.5";
       return line + "\n";
     }(),
     40, 64},
    {"a line past the classified window", "1 2 3" + std::string(300, ' ') + "4 5 6 7 8\n", 8},
    {"1021 characters and LF", "1 2" + std::string(1018, ' ') + "\n", 2},
    {"1022 characters and CR LF: the piece limit", "1 2" + std::string(1019, ' ') + "\r\n", -1},
    {"1023 characters and LF", "1 2" + std::string(1020, ' ') + "\n", -1},
};

TEST(LineScan, ReadsLinesWhoseWordsAreAllNumbers) {
  for (const LineCase& c : kLines) {
    // A fresh memo, and one that has seen the line already.
    Sf7ScanMemo memo;
    for (int pass = 0; pass < 2; ++pass) {
      const Buffered text(c.text);
      std::vector<double> values(c.capacity, 42);
      std::size_t count = 99;
      const char* next = scan_line_numbers_fast(memo, text.begin(), text.end(), values, count);
      if (c.count < 0) {
        EXPECT_EQ(next, nullptr) << c.what;
        continue;
      }
      ASSERT_NE(next, nullptr) << c.what;
      EXPECT_EQ(next, text.begin() + c.text.find('\n') + 1) << c.what;
      ASSERT_EQ(count, static_cast<std::size_t>(c.count)) << c.what;
      // Each value is strtod's for its word.
      const char* p = text.begin();
      for (std::size_t k = 0; k < count; ++k) {
        while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
          ++p;
        double expected = 0;
        p = scan_token_exact(p, text.end(), expected);
        ASSERT_NE(p, nullptr) << c.what;
        EXPECT_EQ(bits_of(values[k]), bits_of(expected)) << c.what << ", number " << k;
      }
    }
  }
}

TEST(LineScan, KeepsItsMemoApartFromThePointScans) {
  // A memo made by a point scan of two numbers knows nothing of the words after them.
  const Buffered words("1.5 2.5 x y\n");
  Sf7ScanMemo memo;
  std::array<double, 8> values{};
  std::size_t count = 0;
  ASSERT_NE(scan_point_fast(memo, words.begin(), words.end(), std::span(values).first(2)), nullptr);
  ASSERT_NE(scan_point_fast(memo, words.begin(), words.end(), std::span(values).first(2)), nullptr);
  EXPECT_EQ(scan_line_numbers_fast(memo, words.begin(), words.end(), values, count), nullptr);
  // One made by a line of three numbers serves no line of more words than values, and no point
  // scan of more numbers.
  const Buffered three("1.5 2.5 3.5\n");
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(
      scan_line_numbers_fast(memo, three.begin(), three.end(), std::span(values).first(2), count),
      nullptr);
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(scan_point_fast(memo, three.begin(), three.end(), std::span(values).first(4)), nullptr);
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(scan_point_fast(memo, three.begin(), three.end(), std::span(values).first(2)),
            three.end());
  EXPECT_EQ(values[1], 2.5);
}

// A word for a generated line: a number of the usual forms, or now and then another word.
std::string line_word(Rng& rng, bool& plain) {
  if (chance(rng, 0.05)) {
    plain = false;
    return pick_from<std::string>(rng, {"0x1p3", "inf", "nan", "1e400", "1.5abc", "1e", "x", "--5",
                                        std::string("5\0", 2), "1,5"});
  }
  char text[64];
  const double value = std::uniform_real_distribution<double>(-1, 1)(rng) *
                       std::array{1e-6, 1.0, 30.0, 1e5}[pick(rng, 4)];
  switch (pick(rng, 4)) {
  case 0:
    std::snprintf(text, sizeof text, "%.7E", value);
    break;
  case 1:
    std::snprintf(text, sizeof text, "%.9f", value);
    break;
  case 2: {
    const std::string number = generated_number(rng);
    return number.find('x') == std::string::npos ? number : "1";
  }
  default:
    std::snprintf(text, sizeof text, "%.6E", value);
  }
  return text;
}

TEST(LineScan, AgreesWithStrtodOnGeneratedLines) {
  Rng rng(4711);
  int taken = 0;
  for (int n = 0; n < 30000; ++n) {
    bool plain = true;
    std::string line = chance(rng, 0.5) ? "  " : "";
    std::vector<std::string> words;
    for (std::size_t k = pick(rng, chance(rng, 0.1) ? 40 : 9); k > 0; --k) {
      words.push_back(line_word(rng, plain));
      line += words.back() + std::string(1 + pick(rng, 6), chance(rng, 0.9) ? ' ' : '\t');
    }
    const std::size_t capacity = chance(rng, 0.1) ? pick(rng, 8) : 32;
    const Buffered text(line + (chance(rng, 0.3) ? "\r\n" : "\n") + "1 2 3\n");
    std::vector<double> values(capacity);
    std::size_t count = 0;
    Sf7ScanMemo memo;
    const char* next = scan_line_numbers_fast(memo, text.begin(), text.end(), values, count);
    if (next == nullptr) {
      // Only lines with a word of another form are left to the exact reading (a generated
      // number may be out of the range of doubles, too), or with more words than values.
      bool all_plain = plain;
      for (const std::string& word : words)
        all_plain = all_plain && plain_number(word);
      EXPECT_FALSE(all_plain && words.size() <= capacity) << line;
      continue;
    }
    ++taken;
    ASSERT_EQ(count, words.size()) << line;
    for (std::size_t k = 0; k < count; ++k) {
      double reference = 0;
      ASSERT_TRUE(strtod_whole(words[k], reference)) << words[k];
      ASSERT_EQ(bits_of(values[k]), bits_of(reference)) << words[k] << " in " << line;
    }
  }
  EXPECT_GT(taken, 15000);
}

// ---- Point lines of N numbers ----------------------------------------------------------------

TEST(PointScan, ReadsNNumbersAsTheExactPath) {
  // N numbers in the solver's layouts and other forms, lines around the classified window (128
  // and 256 bytes), and the exact path's count and bits on every line the fast scan takes.
  Rng rng(20250101);
  int taken = 0;
  for (int n = 0; n < 40000; ++n) {
    const std::size_t wanted = 1 + pick(rng, SF7_MAX_LINE_NUMBERS);
    bool plain = true;
    std::string line;
    const std::size_t words =
        wanted + (chance(rng, 0.1) ? pick(rng, 3) : 0) - (chance(rng, 0.05) ? 1 : 0);
    // Whether the line starts with `wanted` numbers that the fast scan must read itself.
    bool ordinary = words >= wanted;
    for (std::size_t k = 0; k < words; ++k) {
      const std::string word = line_word(rng, plain);
      ordinary = ordinary && (k >= wanted || plain_number(word));
      line += std::string(1 + pick(rng, 3), ' ') + word;
    }
    // Now and then the line's length around 128 or 256 bytes.
    if (chance(rng, 0.3)) {
      const std::size_t length = std::array<std::size_t, 2>{126, 254}[pick(rng, 2)] + pick(rng, 5);
      if (line.size() < length)
        line.append(length - line.size(), ' ');
    }
    Sf7ScanMemo memo;
    std::array<double, SF7_MAX_LINE_NUMBERS> fast{};
    std::array<double, SF7_MAX_LINE_NUMBERS> exact{};
    const Buffered text(line + "\n" + line + "\n");
    const std::string exact_text = line + "\n";
    const int found = scan_numbers_exact(exact_text.c_str(), std::span(exact).first(wanted));
    // Twice: the second line is read from the memo when the first left one.
    for (const std::size_t pass : {std::size_t{0}, std::size_t{1}}) {
      const char* start = text.begin() + pass * (line.size() + 1);
      const char* next = scan_point_fast(memo, start, text.end(), std::span(fast).first(wanted));
      if (next == nullptr) {
        EXPECT_FALSE(ordinary && line.size() + 1 < LINE_PIECE_LIMIT) << line;
        continue;
      }
      ++taken;
      ASSERT_EQ(found, static_cast<int>(wanted)) << line;
      ASSERT_EQ(next, start + line.size() + 1) << line;
      for (std::size_t k = 0; k < wanted; ++k)
        ASSERT_EQ(bits_of(fast[k]), bits_of(exact[k])) << "number " << k << " of: " << line;
    }
  }
  EXPECT_GT(taken, 30000);
}

TEST(PointScan, ExactScanOfNNumbersIsSscanfsAndThePortableScans) {
  // Nine numbers: one sscanf with nine directives, and the portable scan, alike.
  const std::vector<std::string> lines = {
      "   4.00400       0.00000      3.564681E-02  0.000000E+00  3.564681E-02  1.000000E+01 "
      "-2.372660E-06  0.000000E+00  0.000000E+00",
      "1 2 3 4 5 6 7 8",
      "1 2 3 4 5 6 7 8 0x1p3 inf",
      "1e 2e+ 3E- 4 5 6 7 8 9",
      "1 2 3 4 5 6 7 8 9x",
      "1 2 3 4 5 6 7 8x 9",
      "nan -inf 1e400 1e-400 -0 .5 5. 007 +3",
      "",
  };
  for (const std::string& line : lines) {
    std::array<double, 9> nine{};
    std::array<double, 9> portable{};
    const int found = scan_numbers_exact(line.c_str(), nine);
#ifdef __GLIBC__
    std::array<double, 9> reference{};
    int expected = std::sscanf(line.c_str(), "%lf%lf%lf%lf%lf%lf%lf%lf%lf", &reference[0],
                               &reference[1], &reference[2], &reference[3], &reference[4],
                               &reference[5], &reference[6], &reference[7], &reference[8]);
    expected = expected < 0 ? 0 : expected;
    ASSERT_EQ(found, expected) << line;
#endif
    ASSERT_EQ(scan_numbers_portable(line.c_str(), portable), found) << line;
    for (std::size_t k = 0; k < static_cast<std::size_t>(found); ++k) {
#ifdef __GLIBC__
      EXPECT_EQ(bits_of(nine[k]), bits_of(reference[k])) << line;
#endif
      EXPECT_EQ(bits_of(portable[k]), bits_of(nine[k])) << line;
    }
  }
}

// ---- A stream of numbers read in blocks --------------------------------------------------------

// A grid file of `points` points of four values: a header of three lines, then the points one a
// line, wrapped over two lines, or two on one line, with now and then a word of another form.
std::string grid_file(Rng& rng, std::size_t points, const std::string& end) {
  std::string text = "50 70 99" + end + "175.715180667" + end + "0.0 3 19" + end;
  bool plain = true;
  for (std::size_t n = 0; n < points;) {
    const std::size_t layout = pick(rng, 4);
    std::string line;
    for (std::size_t k = 0; k < 4; ++k) {
      line += "  " + line_word(rng, plain);
      if (layout == 1 && k == 1)
        line += end; // a point wrapped over two lines
    }
    ++n;
    if (layout == 2 && n < points) {
      for (std::size_t k = 0; k < 4; ++k)
        line += "  " + line_word(rng, plain);
      ++n;
    }
    text += line + "    " + end;
  }
  return text;
}

// Every number of the stream, read the way a grid file's reader reads it: each line that the
// fast scan takes in place, every other one word by word; "error" at a word that is no number.
std::vector<std::string> stream_numbers(const std::string& text, std::size_t block_size) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                               std::fclose);
  Sf7Input input;
  EXPECT_TRUE(open_sf7_input(input, stream.get(), block_size));
  Sf7ScanMemo memo;
  std::array<double, 16> values{};
  std::vector<std::string> numbers;
  auto add = [&](double value) { numbers.push_back(std::to_string(bits_of(value))); };
  for (;;) {
    // A whole line of up to the piece limit is then in the buffer.
    if (static_cast<std::size_t>(input.end - input.pos) < SF7_INPUT_LOOKAHEAD)
      fill_sf7_input(input, SF7_INPUT_LOOKAHEAD);
    if (input.pos == input.end)
      break;
    std::size_t count = 0;
    const char* next = scan_line_numbers_fast(memo, input.pos, input.end, values, count);
    if (next != nullptr) {
      for (std::size_t k = 0; k < count; ++k)
        add(values[k]);
      input.pos = next;
      continue;
    }
    const auto* feed = static_cast<const char*>(
        std::memchr(input.pos, '\n', static_cast<std::size_t>(input.end - input.pos)));
    const char* const line_end = feed != nullptr ? feed : input.end;
    for (const char* p = input.pos; p < line_end;) {
      if (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
        continue;
      }
      double value = 0;
      const char* after = scan_token_exact(p, line_end, value);
      if (after == nullptr) {
        numbers.emplace_back("error");
        break;
      }
      add(value);
      p = after;
    }
    input.pos = feed != nullptr ? feed + 1 : input.end;
  }
  return numbers;
}

// The same numbers from strtod over the whole text.
std::vector<std::string> strtod_numbers(const std::string& text) {
  std::vector<std::string> numbers;
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos)
      line_end = text.size();
    const std::string line = text.substr(line_start, line_end - line_start);
    std::size_t p = 0;
    while (p < line.size()) {
      if (line[p] == ' ' || (line[p] >= '\t' && line[p] <= '\r')) {
        ++p;
        continue;
      }
      std::size_t q = p;
      while (q < line.size() && !(line[q] == ' ' || (line[q] >= '\t' && line[q] <= '\r')))
        ++q;
      double value = 0;
      const std::string word = line.substr(p, q - p);
      if (!strtod_whole(word, value) || word.find('(') != std::string::npos) {
        numbers.emplace_back("error");
        break;
      }
      numbers.push_back(std::to_string(bits_of(value)));
      p = q;
    }
    line_start = line_end + 1;
  }
  return numbers;
}

TEST(NumberStream, ReadsInBlocksAsStrtodReadsTheWholeText) {
  Rng rng(31);
  for (int file = 0; file < 40; ++file) {
    const std::string end = chance(rng, 0.5) ? "\r\n" : "\n";
    const std::string text = grid_file(rng, 200 + pick(rng, 400), end);
    const std::vector<std::string> expected = strtod_numbers(text);
    for (const std::size_t block_size :
         {SF7_INPUT_MIN_BLOCK_SIZE, std::size_t{4097}, std::size_t{5003}, SF7_INPUT_BLOCK_SIZE}) {
      ASSERT_EQ(stream_numbers(text, block_size), expected)
          << "file " << file << ", block size " << block_size;
    }
  }
}

} // namespace
