// The portable "%lf" scan: what it takes and the doubles it gives, on every platform, and
// against glibc's own sscanf where that is the C library.
#include "sf7/sf7_point_scan.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::bits_of;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Expected {
  const char* line;
  int count;
  std::vector<double> values; // the first `count` values
};

// What glibc's "%lf%lf%lf%lf%lf%lf" gives; each row was checked against it.
const std::vector<Expected> kExpected = {
    {"1 2 3 4 5 6", 6, {1, 2, 3, 4, 5, 6}},
    {"  -0 +.5 5. 007 1e5 1E-05\n", 6, {-0.0, 0.5, 5, 7, 1e5, 1e-5}},
    // An exponent without digits is taken and dropped; the next number starts after it.
    {"1e 2e+ 3E- 4 5 6", 6, {1, 2, 3, 4, 5, 6}},
    // The letter after "1e" is where the second directive starts, and fails.
    {"1ex 2 3 4 5 6", 1, {1}},
    // One point per number: the second starts a new number.
    {"1.2.3 4 5 6 7", 6, {1.2, 0.3, 4, 5, 6, 7}},
    {"1-2 3 4 5 6", 6, {1, -2, 3, 4, 5, 6}},
    {"0x1p3 -0X1.8P1 0x10 0x. 0x.8 0xe+1", 6, {8, -3, 16, 0, 0.5, 14}},
    {"0x.p1 2 3 4 5 6", 1, {0}}, // "0x." is read as 0; "p1" is no number
    {"0x 1 2 3 4 5 6", 0, {}},
    {"0xg 1 2 3 4 5", 0, {}},
    {"0x1p 0x1p+ 3 4 5 6", 6, {1, 1, 3, 4, 5, 6}},
    {"inf -INF +Infinity infinityx 5 6", 4, {kInf, -kInf, kInf, kInf}},
    {"infin 2 3 4 5 6", 0, {}},
    {"infx 2 3 4 5 6", 1, {kInf}},
    {"nan -NAN 3 4 5 6", 6, {kNaN, -kNaN, 3, 4, 5, 6}},
    {"nan(123) 2 3 4 5 6", 1, {kNaN}},
    {"na 2 3 4 5 6", 0, {}},
    {". 1 2 3 4 5 6", 0, {}},
    {"- 1 2 3 4 5 6", 0, {}},
    {"", 0, {}},
    {"  \t\r\n", 0, {}},
    {"1 2 3 4 5\0 6", 5, {1, 2, 3, 4, 5}},
    // Out of range: infinity and zero with their signs, as glibc's strtod gives them.
    {"1e400 -1e400 1e-400 -1e-400 0x1p99999 0x1p-99999", 6, {kInf, -kInf, 0.0, -0.0, kInf, 0.0}},
    {"1e99999999999999999999 0.000000000000000000000000001e-300 0e999999 1 2 3",
     6,
     {kInf, 0.0, 0.0, 1, 2, 3}},
    // The smallest subnormal and the halfway cases around it.
    {"4.9e-324 2.4703282292062328e-324 2.4703282292062327e-324 0x1p-1074 0x1p-1075 "
     "0x1.8p-1075",
     6,
     {4.9e-324, 4.9e-324, 0.0, 4.9e-324, 0.0, 4.9e-324}},
    {"2.2250738585072011e-308 2.2250738585072012e-308 1.7976931348623157e308 "
     "1.7976931348623158e308 1.7976931348623159e308 0x1.fffffffffffff8p1023",
     6,
     {2.2250738585072011e-308, 2.2250738585072012e-308, 1.7976931348623157e308,
      1.7976931348623157e308, kInf, kInf}},
    // Numbers that MinGW's own sscanf rounds one unit off.
    {"6.90015E-09 7.4e+47 5.92e+48 7.35e+66 8.32116e+55 9007199254740993",
     6,
     {6.90015E-09, 7.4e+47, 5.92e+48, 7.35e+66, 8.32116e+55, 9007199254740992.0}},
    {"0x1.00000000000008p0 0x1.00000000000008000000001p0 0x.0000000000000000000000001p0 "
     "123456789012345678901234567890 1e23 0.1e-3",
     6,
     {1.0, 1.0000000000000002, 0x1p-100, 123456789012345678901234567890.0, 1e23, 1e-4}},
};

// The portable scan itself, and the exact path, which uses it where the C library is not glibc.
TEST(PortableScan, GivesGlibcsCountsAndDoublesAsTheExactPathDoes) {
  using Scan = int (*)(const char*, std::span<double, SF7_COLUMN_COUNT>);
  for (const auto& [scan, which] : {std::pair<Scan, const char*>{scan_point_portable, "portable"},
                                    std::pair<Scan, const char*>{scan_point_exact, "exact"}}) {
    for (const Expected& row : kExpected) {
      std::array<double, SF7_COLUMN_COUNT> values{};
      EXPECT_EQ(scan(row.line, values), row.count) << which << ": " << row.line;
      for (std::size_t k = 0; k < row.values.size(); ++k)
        EXPECT_EQ(bits_of(values[k]), bits_of(row.values[k]))
            << which << ": number " << k << " of " << row.line;
    }
  }
}

// Words that begin or end a number in some way, each followed by every kind of continuation:
// every pair of them must scan as glibc scans it.
TEST(PortableScan, AgreesWithGlibcOnEveryPairOfAwkwardWords) {
#ifndef __GLIBC__
  GTEST_SKIP() << "the reference is glibc's sscanf";
#endif
  // clang-format off
  const std::vector<std::string> words = {
      "007", "+5", "-0", ".5", "5.", "1e5", "1e", "1e+", "1E-", "1ex", "e5", ".", "-", "+",
      ".e5", "0x1p3", "0X1P-2", "-0x1.8p1", "0x", "0xg", "0x.", "0x.p1", "0x1p", "0x1p+", "-0x",
      "0xe+1", "00x1", "0x0x1", "inf", "-INF", "+Infinity", "infinit", "infx", "infi", "nan",
      "-NAN", "nan(123)", "nan(", "na", "1e400", "-1e-400", "2.4703282292062328e-324",
      "1.7976931348623159e308", "0x1p-1075", "0x1.fffffffffffff8p1023", "1.5.2", "1e5e5", "1-2",
      "--5", "+-5", "0e", "-.e1", "6.90015E-09", "123456789012345678901234567890", "\xB3", "x"};
  // clang-format on
  const std::vector<std::string> joins = {"", " ", "\t", "x", ".", "e", "p", "(", "+"};
  for (const std::string& first : words) {
    for (const std::string& join : joins) {
      for (const std::string& second : words) {
        const std::string line = " " + first + join + second + " 1 2 3 4 5\n";
        std::array<double, SF7_COLUMN_COUNT> portable{};
        std::array<double, SF7_COLUMN_COUNT> glibc{};
        const int found = std::sscanf(line.c_str(), "%lf%lf%lf%lf%lf%lf", &glibc[0], &glibc[1],
                                      &glibc[2], &glibc[3], &glibc[4], &glibc[5]);
        const int count = scan_point_portable(line.c_str(), portable);
        ASSERT_EQ(count, found < 0 ? 0 : found) << line;
        for (int k = 0; k < count; ++k) {
          const auto index = static_cast<std::size_t>(k);
          ASSERT_EQ(bits_of(portable[index]), bits_of(glibc[index]))
              << "number " << k << " of " << line;
        }
      }
    }
  }
}

} // namespace
