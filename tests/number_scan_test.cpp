// The number scans for point lines of any column count and for streams of numbers: the word
// scans against glibc's strtod on awkward and generated words, the scan of whole lines, the fast
// point scan of N numbers against the exact path, a stream of wrapped points read in blocks as a
// grid file's reader does; and the shortest text of doubles against std::to_chars.
#include "mesh/mesh_text.h"
#include "sf7/sf7_point_scan.h"
#include "support/test_support.h"
#include "text/line_scan.h"
#include "text/number_format.h"
#include "text/number_scan.h"
#include "text/portable_number.h"
#include "text/text_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
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

// Text as the block input holds it: SCAN_PADDING zero bytes after it.
struct Buffered {
  std::string bytes;
  std::size_t size;
  explicit Buffered(const std::string& text) : bytes(text), size(text.size()) {
    bytes.append(SCAN_PADDING, '\0');
  }
  const char* begin() const { return bytes.data(); }
  const char* end() const { return bytes.data() + size; }
};

// glibc's strtod over a whole word: true, with its value, when it takes all of it. Where the C
// library is another (whose strtod need not round correctly), the portable scan, which the tests
// check against glibc's strtod on Linux, stands in for it.
bool strtod_whole(const std::string& word, double& value) {
  if (word.empty() || std::strlen(word.c_str()) != word.size())
    return false;
#ifdef __GLIBC__
  char* stop = nullptr;
  value = std::strtod(word.c_str(), &stop);
  return stop == word.c_str() + word.size();
#else
  return scan_number_portable(word.data(), word.data() + word.size(), value).ptr ==
         word.data() + word.size();
#endif
}

// A number that the fast scans read: decimal, whole, finite, and not rounded to zero.
bool plain_number(const std::string& word) {
  double value = 0;
  if (word.find_first_not_of("0123456789+-.eE") != std::string::npos ||
      !strtod_whole(word, value) || !std::isfinite(value))
    return false;
  return value != 0 ||
         word.substr(0, word.find_first_of("eE")).find_first_of("123456789") == std::string::npos;
}

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// Words that are numbers, with their values (a NaN: any NaN of the word's sign).
// clang-format off
const std::vector<std::pair<std::string, double>> kNumbers = {
    {"0", 0}, {"-0", -0.0}, {"+5", 5}, {"007", 7}, {".5", 0.5}, {"-.5", -0.5}, {"5.", 5},
    {"1e5", 1e5}, {"1E+05", 1e5}, {"1.e-5", 1e-5}, {"3.564206E-02", 3.564206e-2},
    {"30.2739133", 30.2739133}, {"0x1p3", 8}, {"0X1P-2", 0.25}, {"-0x1.8p1", -3}, {"0x.8", 0.5},
    {"inf", kInf}, {"-INF", -kInf}, {"+Infinity", kInf}, {"nan", kNaN}, {"-NaN", -kNaN},
    {"1e400", kInf}, {"-1e-400", -0.0}, {"4.9e-324", 4.9e-324}, {"2.4e-324", 0},
    {"2.5e-324", 4.9e-324}, {"1.7976931348623159e308", kInf}, {"9007199254740993", 9007199254740992.0},
    {"0x1p99999", kInf}, {"0e999999", 0}, {"1e0000000000000000000005", 1e5},
    {"123456789012345678901234567890", 1.2345678901234568e29}};
// Those of them beyond the range of doubles.
const std::vector<std::string> kBeyondRange = {
    "1e400", "-1e-400", "2.4e-324", "1.7976931348623159e308", "0x1p99999"};
// Words that are not entirely a number, and NaNs with a payload, whose bits are glibc's own.
const std::vector<std::string> kNotNumbers = {
    "1.5abc", "1e", "1e+", "1ex", "e5", ".", "-", "+", ".e5", "0x", "0x.", "0xg", "0x1p", "00x1",
    "infinit", "infx", "nanx", "nan(", "1.5.2", "1e5e5", "1-2", "--5", "+-5", "5,", "\xB3",
    std::string("7\0", 2), std::string("\0", 1), "nan(123)", "nan()", "-nan(0x5)"};
// clang-format on

using TokenScan = NumberScanResult (*)(const char*, const char*, double&) noexcept;
const std::vector<TokenScan> kTokenScans = {scan_number, scan_number_portable};

TEST(TokenScan, ReadsWholeWordsAsStrtod) {
  for (const std::string after : {"", " ", "\t2", "\r\n", "\f x"}) {
    for (const auto& [word, expected] : kNumbers) {
      const Buffered text(word + after);
      for (const TokenScan scan : kTokenScans) {
        double value = 42;
        errno = 0;
        const NumberScanResult result = scan(text.begin(), text.end(), value);
        ASSERT_EQ(result.ptr, text.begin() + word.size()) << word;
        const bool beyond = std::count(kBeyondRange.begin(), kBeyondRange.end(), word) != 0;
        EXPECT_EQ(result.ec, beyond ? std::errc::result_out_of_range : std::errc()) << word;
        EXPECT_EQ(errno, 0) << word;
        if (std::isnan(expected))
          EXPECT_TRUE(std::isnan(value) && std::signbit(value) == std::signbit(expected)) << word;
        else
          EXPECT_EQ(bits_of(value), bits_of(expected)) << word;
#ifdef __GLIBC__
        double reference = 0;
        EXPECT_TRUE(strtod_whole(word, reference)) << word;
        EXPECT_EQ(bits_of(value), bits_of(reference)) << word;
#endif
      }
    }
    for (const std::string& word : kNotNumbers) {
      const Buffered text(word + after);
      for (const TokenScan scan : kTokenScans) {
        double value = 42;
        const NumberScanResult result = scan(text.begin(), text.end(), value);
        EXPECT_EQ(result.ptr, text.begin()) << word;
        EXPECT_EQ(result.ec, std::errc::invalid_argument) << word;
        EXPECT_EQ(value, 42) << word;
      }
      double reference = 0;
      EXPECT_TRUE(word.find('(') != std::string::npos || !strtod_whole(word, reference)) << word;
    }
  }
  // White space, the end of the text, and an end inside a word.
  const Buffered text(" 12345\t");
  double value = 0;
  for (const TokenScan scan : kTokenScans) {
    EXPECT_EQ(scan(text.begin(), text.end(), value).ec, std::errc::invalid_argument);
    EXPECT_EQ(scan(text.end() - 1, text.end(), value).ec, std::errc::invalid_argument);
    EXPECT_EQ(scan(text.end(), text.end(), value).ptr, text.end());
    EXPECT_EQ(scan(text.begin() + 1, text.begin() + 4, value).ptr, text.begin() + 4);
    EXPECT_EQ(value, 123);
  }
}

// Decimal and hexadecimal numbers of every length and exponent.
std::string generated_number(std::mt19937_64& rng) {
  auto pick = [&](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
  };
  std::string text = std::array<const char*, 4>{"", "", "-", "+"}[pick(4)];
  const bool hex = pick(10) == 0;
  text += hex ? "0x" : "";
  for (std::size_t k = pick(pick(10) == 0 ? 40 : 10); k > 0; --k)
    text += hex ? "0123456789abcdefABCDEF"[pick(22)] : static_cast<char>('0' + pick(10));
  if (text.empty() || text.back() == 'x' || text.back() == '-' || text.back() == '+' || pick(2)) {
    text += ".";
    for (std::size_t k = 1 + pick(pick(10) == 0 ? 40 : 9); k > 0; --k)
      text += hex ? "0123456789abcdef"[pick(16)] : static_cast<char>('0' + pick(10));
  }
  if (pick(3) != 0) {
    text += hex ? "p" : pick(2) ? "E" : "e";
    text += std::array<const char*, 3>{"+", "-", ""}[pick(3)];
    text += std::to_string(pick(pick(5) == 0 ? 1200 : 40));
  }
  return text;
}

TEST(TokenScan, AgreesWithStrtodOnGeneratedNumbers) {
#ifndef __GLIBC__
  GTEST_SKIP() << "the reference is glibc's strtod";
#endif
  std::mt19937_64 rng(777);
  for (int n = 0; n < 100000; ++n) {
    const std::string word = generated_number(rng);
    const Buffered text(word + (n % 2 ? " " : ""));
    double reference = 0;
    ASSERT_TRUE(strtod_whole(word, reference)) << word;
    for (const TokenScan scan : kTokenScans) {
      double value = 0;
      ASSERT_EQ(scan(text.begin(), text.end(), value).ptr, text.begin() + word.size()) << word;
      ASSERT_EQ(bits_of(value), bits_of(reference)) << word;
    }
  }
}

// ---- Lines -------------------------------------------------------------------------------------

TEST(LineScan, ReadsLinesWhoseWordsAreAllNumbers) {
  const std::string t7 = "  30.2739133       0.00000000       30.2739133       0.00000000    ";
  std::string forty;
  for (int k = 0; k < 40; ++k)
    forty += " 1.5";
  struct Case {
    std::string text; // the buffered text, the line first
    int count;        // numbers read, -1 when the line is left to the exact reading
    std::size_t capacity = 8;
  };
  const std::vector<Case> cases = {
      {"1 2 3 4\n9\n", 4},
      {t7 + "\r\n", 4},
      {"175.715180667\n", 1},
      {"\n5\n", 0},
      {" \t\v\f\r\n", 0},
      {t7 + t7 + "\n", 8},
      {t7 + t7 + " 1\n", -1},
      {"1 2\n", 2, 2},
      {"1 2 3\n", -1, 2},
      {"+1. -.5 1e5 1E+05 007 0.1e-3 -0 3.564206E-02\n", 8},
      {"0.628215181562566 -9495.31232347445 -1.2345678e+03 9007199254740993. 1234567890123456.\n",
       5},
      {"1 2 x 4\n", -1},
      {"1 2 1.5abc\n", -1},
      {"1 0x1p3\n", -1},
      {"1 inf\n", -1},
      {"nan 1\n", -1},
      {"1 1e400\n", -1},
      {"1 1e\n", -1},
      {std::string("1 2\0 3\n", 7), -1},
      {"1 2 3", -1},
      {"1 2 3\r", -1},
      {forty + "\n", 40, 64},
      {"1 2 3" + std::string(300, ' ') + "4 5 6 7 8\n", 8},
      {"1 2" + std::string(1018, ' ') + "\n", 2},    // 1021 characters and LF
      {"1 2" + std::string(1019, ' ') + "\r\n", -1}, // the piece limit, CR LF
      {"1 2" + std::string(1020, ' ') + "\n", -1},
  };
  for (const Case& c : cases) {
    ScanMemo memo; // fresh, then with the line's layout
    for (int pass = 0; pass < 2; ++pass) {
      const Buffered text(c.text);
      std::vector<double> values(c.capacity);
      std::size_t count = 99;
      const char* next = scan_line_numbers_fast(memo, text.begin(), text.end(), values, count);
      if (c.count < 0) {
        EXPECT_EQ(next, nullptr) << c.text;
        continue;
      }
      ASSERT_EQ(next, text.begin() + c.text.find('\n') + 1) << c.text;
      ASSERT_EQ(count, static_cast<std::size_t>(c.count)) << c.text;
      const char* p = text.begin();
      for (std::size_t k = 0; k < count; ++k) {
        while (is_space(*p))
          ++p;
        double expected = 0;
        p = scan_number(p, text.end(), expected).ptr;
        EXPECT_EQ(bits_of(values[k]), bits_of(expected)) << c.text << ", number " << k;
      }
    }
  }
}

TEST(LineScan, KeepsItsMemoApartFromThePointScans) {
  // A point scan's memo of two numbers knows nothing of the words after them; a memo of a line
  // of three numbers serves no line of more words than values, and no point scan of four.
  const Buffered words("1.5 2.5 x y\n");
  const Buffered three("1.5 2.5 3.5\n");
  ScanMemo memo;
  std::array<double, 8> values{};
  const std::span<double> two = std::span(values).first(2);
  std::size_t count = 0;
  for (int pass = 0; pass < 2; ++pass)
    ASSERT_NE(scan_leading_numbers_fast(memo, words.begin(), words.end(), two), nullptr);
  EXPECT_EQ(scan_line_numbers_fast(memo, words.begin(), words.end(), values, count), nullptr);
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(scan_line_numbers_fast(memo, three.begin(), three.end(), two, count), nullptr);
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(scan_leading_numbers_fast(memo, three.begin(), three.end(), std::span(values).first(4)),
            nullptr);
  ASSERT_NE(scan_line_numbers_fast(memo, three.begin(), three.end(), values, count), nullptr);
  EXPECT_EQ(scan_leading_numbers_fast(memo, three.begin(), three.end(), two), three.end());
}

TEST(LineAndPointScans, AgreeWithTheExactScansOnGeneratedLines) {
  // Lines of up to 40 words of the solver's layouts, generated numbers and now and then another
  // word, some 126 to 130 or 254 to 258 bytes long: every word read as strtod reads it, the
  // first N as the exact path's "%lf" reads them (and the portable scan alike), twice, the
  // second time from the memo.
  std::mt19937_64 rng(4711);
  auto pick = [&](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
  };
  const std::vector<std::string> odd = {"0x1p3", "inf", "nan", "1e400", "1.5abc",
                                        "1e",    "x",   "--5", "1,5",   std::string("5\0", 2)};
  int lines_taken = 0;
  int points_taken = 0;
  for (int n = 0; n < 30000; ++n) {
    std::vector<std::string> words;
    std::string line;
    for (std::size_t k = pick(pick(10) == 0 ? 40 : 12); k > 0; --k) {
      char text[64];
      const double value = std::uniform_real_distribution<double>(-1e3, 1e3)(rng);
      // The solvers' layouts, and the long mantissas of the 3-D exports.
      constexpr const char* formats[] = {"%.6E", "%.9f", "%.6E", "%.9f", "%.7e", "%.15g"};
      std::snprintf(text, sizeof text, formats[pick(6)], value);
      words.push_back(pick(30) == 0  ? odd[pick(odd.size())]
                      : pick(4) == 0 ? generated_number(rng)
                                     : std::string(text));
      if (words.back().find('x') != std::string::npos && words.back() != "x")
        words.back() = pick(2) ? "0x1p3" : "1"; // hexadecimal only from the list above
      line += std::string(1 + pick(3), pick(10) ? ' ' : '\t') + words.back();
    }
    if (pick(3) == 0)
      line.resize(std::max(line.size(), std::array<std::size_t, 2>{126, 254}[pick(2)] + pick(5)),
                  ' ');
    const Buffered text(line + "\n" + line + "\n");
    // Lines that the fast scans must take themselves: whole in the line buffer, of plain numbers.
    const bool fits = line.size() + 1 < LINE_PIECE_LIMIT;
    bool all_plain = fits;
    for (const std::string& word : words)
      all_plain = all_plain && plain_number(word);
    const std::size_t most = std::clamp<std::size_t>(words.size(), 1, SF7_MAX_LINE_NUMBERS);
    const std::size_t wanted =
        pick(10) == 0 ? std::min(most + 1, SF7_MAX_LINE_NUMBERS) : 1 + pick(most);
    bool first_plain = fits && words.size() >= wanted;
    for (std::size_t k = 0; k < wanted && first_plain; ++k)
      first_plain = plain_number(words[k]);
    std::array<double, SF7_MAX_LINE_NUMBERS> exact{};
    const int found = scan_numbers_exact((line + "\n").c_str(), std::span(exact).first(wanted));
#ifdef __GLIBC__
    std::array<double, SF7_MAX_LINE_NUMBERS> portable{};
    ASSERT_EQ(scan_numbers_portable((line + "\n").c_str(), std::span(portable).first(wanted)),
              found);
    for (std::size_t k = 0; k < static_cast<std::size_t>(found); ++k)
      ASSERT_EQ(bits_of(portable[k]), bits_of(exact[k])) << line;
#endif
    ScanMemo line_memo;
    ScanMemo point_memo;
    for (const std::size_t start : {std::size_t{0}, line.size() + 1}) {
      std::array<double, 64> values{};
      std::size_t count = 0;
      const char* next =
          scan_line_numbers_fast(line_memo, text.begin() + start, text.end(), values, count);
      if (next == nullptr) {
        EXPECT_FALSE(all_plain) << line;
      } else {
        ++lines_taken;
        ASSERT_EQ(next, text.begin() + start + line.size() + 1) << line;
        ASSERT_EQ(count, words.size()) << line;
        for (std::size_t k = 0; k < count; ++k) {
          double reference = 0;
          ASSERT_TRUE(strtod_whole(words[k], reference)) << line;
          ASSERT_EQ(bits_of(values[k]), bits_of(reference)) << words[k] << " in " << line;
        }
      }
      next = scan_leading_numbers_fast(point_memo, text.begin() + start, text.end(),
                                       std::span(values).first(wanted));
      if (next == nullptr) {
        EXPECT_FALSE(first_plain) << line;
        continue;
      }
      ++points_taken;
      ASSERT_EQ(found, static_cast<int>(wanted)) << line;
      ASSERT_EQ(next, text.begin() + start + line.size() + 1) << line;
      for (std::size_t k = 0; k < wanted; ++k)
        ASSERT_EQ(bits_of(values[k]), bits_of(exact[k])) << "number " << k << " of " << line;
    }
  }
  EXPECT_GT(lines_taken, 20000);
  EXPECT_GT(points_taken, 30000);
}

// ---- A stream of numbers read in blocks
// ----------------------------------------------------------

TEST(NumberStream, ReadsInBlocksAsStrtodReadsTheWholeText) {
  // A grid file's points of four values, one a line, wrapped over two lines or two on one line,
  // read as its reader does: each line the fast scan takes in place, every other word by word.
  std::mt19937_64 rng(31);
  for (int file = 0; file < 40; ++file) {
    const std::string end = file % 2 ? "\r\n" : "\n";
    std::string text = "50 70 99" + end + "175.715180667" + end + "0.0 3 19" + end;
    std::vector<std::string> expected;
    for (int value = 0; value < 2400; ++value) {
      char word[32];
      std::snprintf(word, sizeof word, "%.9f",
                    std::uniform_real_distribution<double>(-40, 40)(rng));
      const std::size_t place = rng() % 8;
      text += std::string("  ") + (rng() % 200 == 0 ? "0x1p3" : word) +
              (value % 4 == 1 && place == 0   ? end
               : value % 4 == 3 && place != 1 ? "    " + end
                                              : "");
    }
    for (std::size_t p = 0, q = 0; p < text.size(); p = q) {
      for (q = p; q < text.size() && !is_space(text[q]);)
        ++q;
      double value = 0;
      if (q++ > p && strtod_whole(text.substr(p, q - 1 - p), value))
        expected.push_back(std::to_string(bits_of(value)));
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(test_support::open_bytes(text),
                                                                 std::fclose);
    TextInput input;
    ASSERT_TRUE(input.open(stream.get(), file % 3 ? TEXT_MIN_BLOCK_SIZE : 5003));
    ScanMemo memo;
    // Room for a long line of chained points; the fast scan takes lines of at most 16 numbers.
    std::array<double, 256> values{};
    std::vector<std::string> numbers;
    for (;;) {
      if (input.buffered() < TEXT_LOOKAHEAD)
        input.fill(TEXT_LOOKAHEAD);
      if (input.pos == input.end)
        break;
      std::size_t count = 0;
      const char* next =
          scan_line_numbers_fast(memo, input.pos, input.end, std::span(values).first(16), count);
      if (next == nullptr) {
        const auto* feed = static_cast<const char*>(
            std::memchr(input.pos, '\n', static_cast<std::size_t>(input.end - input.pos)));
        next = feed != nullptr ? feed + 1 : input.end;
        for (const char* p = input.pos; p < next; p += p < next && is_space(*p)) {
          ASSERT_LT(count, values.size());
          const char* const word = p;
          p = is_space(*p) ? p : scan_number(p, next, values[count++]).ptr;
          ASSERT_TRUE(is_space(*word) || p != word);
        }
      }
      for (std::size_t k = 0; k < count; ++k)
        numbers.push_back(std::to_string(bits_of(values[k])));
      input.pos = next;
    }
    ASSERT_EQ(numbers, expected) << "file " << file;
  }
}

// ---- Shortest text -----------------------------------------------------------------------------

// format_shortest writes std::to_chars's bytes, format_shorter them when they are shorter than
// its limit, and next_double steps as std::nextafter.
void expect_as_to_chars(double value) {
  char expected[32];
  const std::string_view reference(expected, std::to_chars(expected, expected + 32, value).ptr);
  char text[SHORTEST_TEXT_MAX];
  ASSERT_EQ(std::string_view(text, format_shortest(value, text)), reference);
  const auto size = static_cast<std::ptrdiff_t>(reference.size());
  for (const std::ptrdiff_t length : {size, size + 1, std::ptrdiff_t{16}, std::ptrdiff_t{17}}) {
    const char* end = format_shorter(value, length, text);
    ASSERT_EQ(end == nullptr ? "none" : std::string_view(text, end),
              size < length ? reference : "none")
        << reference << " within " << length;
  }
  for (const double toward : {kInf, -kInf})
    ASSERT_EQ(bits_of(next_double(value, toward > 0)), bits_of(std::nextafter(value, toward)));
}

TEST(ShortestText, IsToCharsTextForGeneratedDoubles) {
  std::mt19937_64 rng(2024);
  std::vector<double> values = {0,
                                kInf,
                                kNaN,
                                0x1p53,
                                0x1p53 + 2,
                                0x1p63,
                                0x1p64,
                                1e15 - 0.5,
                                999999999999999.4,
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::max()};
  // Decimals of 1 to 17 digits, all nines among them, at every exponent, with their neighbours.
  for (int exponent = -330; exponent <= 310; ++exponent) {
    for (std::size_t digits = 1; digits <= 17; ++digits) {
      for (const std::uint64_t mantissa :
           {rng() % 100000000000000000 + 1, std::uint64_t{99999999999999999}}) {
        const std::string text =
            std::to_string(mantissa).substr(0, digits).append("e") + std::to_string(exponent);
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        values.insert(values.end(), {value, std::nextafter(value, kInf), std::nextafter(value, 0)});
      }
    }
  }
  for (int n = 0; n < 100000; ++n) {
    values.push_back(std::bit_cast<double>(rng()));
    values.push_back(static_cast<double>(rng() >> (n % 64))); // integers below and above 2^53
  }
  for (const double value : values) {
    expect_as_to_chars(value);
    expect_as_to_chars(-value);
  }
}

} // namespace
