// tqsinfo as users run it, on files that norvalex writes, on damaged copies of them and on files
// built here byte by byte: the exact listing and JSON document, statistics checked against values
// computed here, --check verdicts, --dump values read back bit for bit, and every error line.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using test_support::about;
using test_support::bits_of;
using test_support::block_bytes;
using test_support::creator_block;
using test_support::doubles_block;
using test_support::kSmallRfMap;
using test_support::kSmallRfMapNames;
using test_support::le32;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::RunOptions;
using test_support::small_rf_map_columns;
using test_support::StdoutMode;
using test_support::write_file;

namespace {

using namespace std::string_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();

// A file name with an escape sequence (inverse video) and a newline, and how tqsinfo shows it.
constexpr const char* kOddName = "tq\x1B[7ms\ninfo";
constexpr const char* kOddNameShown = "tq\\x1B[7ms\\x0Ainfo";
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Min, Max, Max-Min, Avg, Std, Sum, N of `values`, as the statistics define them: one pass,
// sums rounded after every addition, the population variance; NaN stands for a failed one.
std::vector<double> expected_stats(const std::vector<double>& values) {
  double min = std::numeric_limits<double>::max(), max = -min, sum = 0, sum_sq = 0;
  for (double x : values) {
    min = x < min ? x : min;
    max = x > max ? x : max;
    sum += x;
    sum_sq += x * x;
  }
  const double n = static_cast<double>(values.size());
  const double variance = (sum_sq - sum * sum / n) / n;
  return {min, max, max - min, sum / n, variance < 0 ? 0 : std::sqrt(variance), sum, n};
}

// A file header of creator TEST 1.2, second name "SECOND" 3.4, created at `created`.
std::string file_header(std::int32_t created) {
  return test_support::file_header_bytes(
      {.creator = "TEST", .second_name = "SECOND", .created = created, .versions = {1, 2, 3, 4}});
}

// `text` as a JSON string's characters: a Windows path has backslashes.
std::string json_text(const std::string& text) {
  std::string escaped;
  for (const char c : text)
    escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

std::vector<std::string> split_words(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;)
    words.push_back(word);
  return words;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

// The value of `"key": ` in a JSON line: NaN for null, the named non-finite values, or a number.
double json_value(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(about(key) + "");
  EXPECT_NE(at, std::string::npos) << key << " in " << line;
  const std::string value =
      line.substr(at + key.size() + 4, line.find_first_of(",}", at) - (at + key.size() + 4));
  if (value == "\"Infinity\"")
    return kInf;
  if (value == "\"-Infinity\"")
    return -kInf;
  if (value == "null" || value == "\"NaN\"")
    return kNaN;
  return std::strtod(value.c_str(), nullptr);
}

// A file whose one array of doubles, "Z", holds nearly 4 GB of zeros that take no disk space.
void write_huge_array_file(const std::string& path) {
  const std::uint32_t size = 0xFFFFFFF8;
  write_file(path, file_header(0) + block_bytes("Z", 0x803, "", size));
  std::filesystem::resize_file(path, 48 + 24 + std::uintmax_t{size});
}

// A file of `count` series, each a "creator" block and nothing else.
std::string many_creator_blocks(std::size_t count) {
  const std::string block = creator_block("");
  std::string bytes;
  bytes.reserve(block.size() * count);
  for (std::size_t k = 0; k < count; ++k)
    bytes += block;
  return bytes;
}

class Tqsinfo : public testing::Test {
protected:
  void SetUp() override {
    write_file(sf7_, kSmallRfMap);
    ASSERT_EQ(norvalex({"-o", map_}).exit_status, 0);
    // A fixed creation time, so that the listing is known.
    std::string bytes = read_file(map_);
    bytes.replace(4, 4, le32(1733584565));
    write_file(map_, bytes);
    write_file(series_, bytes);
    ASSERT_EQ(norvalex({"-a", series_}).exit_status, 0);
    ASSERT_EQ(norvalex({"-a", series_}).exit_status, 0);
    ASSERT_EQ(norvalex({"-a", fresh_}).exit_status, 0);
  }

  ProcessResult norvalex(std::vector<std::string> args) {
    args.insert(args.begin(), NORVALEX_BINARY);
    args.push_back(sf7_);
    return test_support::run_program(args);
  }

  ProcessResult run(std::vector<std::string> args, const RunOptions& options = {}) {
    args.insert(args.begin(), TQSINFO_BINARY);
    return test_support::run_program(args, options);
  }

  // A copy of map.tqs named `name` with `bytes` at `offset`, or cut at `offset` when `bytes` is
  // empty.
  std::string damaged(const std::string& name, std::size_t offset, const std::string& bytes) {
    std::string content = read_file(map_);
    if (bytes.empty())
      content.resize(offset);
    else
      content.replace(offset, bytes.size(), bytes);
    write_file(dir_.file(name), content);
    return dir_.file(name);
  }

  test_support::TempDir dir_;
  const std::string sf7_ = dir_.file("map.sf7");
  const std::string map_ = dir_.file("map.tqs");       // header and six columns
  const std::string series_ = dir_.file("series.tqs"); // map.tqs and two appended series
  const std::string fresh_ = dir_.file("fresh.tqs");   // appended to a new file
};

// The listing's table of norvalex's six columns, after a "creator" block when `creator` is set;
// the first block has `number` and its header starts at `offset`.
std::string block_table(int number, std::int64_t offset, bool creator) {
  const int width = creator ? 7 : 4; // of the name column
  char row[128];
  std::snprintf(row, sizeof row, "block  %-*s  type word  type          elements  bytes  offset\n",
                width, "name");
  std::string rows = row;
  if (creator) {
    std::snprintf(row, sizeof row,
                  "%5d  creator  0x401      string               1      9  %6lld\n", number++,
                  static_cast<long long>(offset + 24));
    rows += row;
    offset += 33;
  }
  for (int k = 0; k < 6; ++k) {
    std::snprintf(row, sizeof row, "%5d  %-*s  0x803      double array         6     48  %6lld\n",
                  number + k, width, kSmallRfMapNames[k],
                  static_cast<long long>(offset + 24 + 72 * k));
    rows += row;
  }
  return rows;
}

TEST_F(Tqsinfo, ListsTheHeaderAndTheBlocksOfEverySeries) {
  const auto header = [](const std::string& bytes) {
    return "size         " + bytes +
           " bytes\nformat       1.1\ncreated      2024-12-07T15:16:05Z\n"
           "creator      \"NORVALEX\", version 1.0\nsecond name  \"\", version 0.0\n";
  };
  const std::string first_series =
      "\nseries 1: file header, 6 blocks\n" + block_table(1, 48, false);
  const auto appended = [](int series, int number, std::int64_t offset) {
    return "\nseries " + std::to_string(series) + ": creator \"NORVALEX\", 7 blocks\n" +
           block_table(number, offset, true);
  };
  const std::string map_listing = "file         " + map_ + "\n" + header("480") + first_series;
  const std::string series_listing = "file         " + series_ + "\n" + header("1410") +
                                     first_series + appended(2, 7, 480) + appended(3, 14, 945);
  const std::string fresh_listing =
      "file         " + fresh_ + "\nsize         465 bytes\n" +
      "header       none: the file starts with a \"creator\" block\n" + appended(1, 1, 0);

  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  // A name with an escape sequence and a newline, shown as error lines show it.
  const std::string odd = dir_.file(kOddName);
  const bool has_odd = test_support::copy_under_odd_name(map_, odd);
  const std::string odd_listing =
      "file         " + dir_.file(kOddNameShown) + "\n" + header("480") + first_series;
  const std::vector<Case> cases = {
      {{map_}, map_listing},     {{series_}, series_listing},
      {{fresh_}, fresh_listing}, {{map_, fresh_}, map_listing + "\n" + fresh_listing},
      {{odd}, odd_listing},
  };
  for (const Case& c : cases) {
    if (c.args[0] == odd && !has_odd)
      continue; // Windows' names hold no control bytes
    const ProcessResult result = run(c.args);
    EXPECT_EQ(result.exit_status, 0) << c.args[0];
    EXPECT_EQ(result.err, "") << c.args[0];
    EXPECT_EQ(result.out, c.expected) << c.args[0];
  }
}

TEST_F(Tqsinfo, StatisticsOfEveryColumnOfEverySeriesAreTheDefinedOnes) {
  const ProcessResult result = run({"--stats", "--json", series_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const std::vector<std::vector<double>> columns = small_rf_map_columns();
  const char* const stats[7] = {"Min", "Max", "Max-Min", "Avg", "Std", "Sum", "N"};
  std::size_t checked = 0;
  for (const std::string& line : lines_of(result.out)) {
    if (line.find("\"stats\"") == std::string::npos)
      continue;
    const std::size_t column = checked % 6; // three series of the same six columns
    EXPECT_NE(line.find("\"name\": \"" + std::string(kSmallRfMapNames[column]) + "\""),
              std::string::npos);
    const std::vector<double> expected = expected_stats(columns[column]);
    for (std::size_t s = 0; s < 7; ++s) {
      EXPECT_EQ(bits_of(json_value(line, stats[s])), bits_of(expected[s]))
          << kSmallRfMapNames[column] << " " << stats[s];
    }
    ++checked;
  }
  EXPECT_EQ(checked, 18U); // the creator blocks have none
}

// A file that covers the listing's and the document's forms: names and strings that need
// escaping, element types the format knows by size only or not at all, statistics that fail or
// are not finite, and an appended series.
std::string mixed_file() {
  return file_header(0) + doubles_block("q\"uote", {1, 2, 3, 4}) +
         block_bytes("\x01\xB3", 0x401, std::string("v\\al\0", 5)) +
         block_bytes("ints", 0x802, le32(7) + le32(8)) + block_bytes("odd", 0x807, "abc") +
         doubles_block("nan", {kNaN, kInf}) + doubles_block("none", {}) + creator_block("OTHER\t") +
         doubles_block("one", {-0.0});
}

TEST_F(Tqsinfo, ListingAndDocumentShowEveryKindOfBlock) {
  const std::string path = dir_.file("mixed.tqs");
  write_file(path, mixed_file());
  const std::string listing =
      "file         " + path +
      "\nsize         319 bytes\nformat       1.1\ncreated      1970-01-01T00:00:00Z\n"
      "creator      \"TEST\", version 1.2\nsecond name  \"SECOND\", version 3.4\n\n"
      "series 1: file header, 6 blocks\n"
      "block  name      type word  type                elements  bytes  offset\n"
      "    1  q\"uote    0x803      double array               4     32      72\n"
      "    2  \\x01\\xB3  0x401      string                     1      5     128\n"
      "    3  ints      0x802      4-byte 0x02 array          2      8     157\n"
      "    4  odd       0x807      unknown 0x07 array         -      3     189\n"
      "    5  nan       0x803      double array               2     16     216\n"
      "    6  none      0x803      double array               0      0     256\n\n"
      "statistics of series 1\n"
      "block  name                        Min  Max  Max-Min  Avg                Std  Sum  N\n"
      "    1  q\"uote                        1    4        3  2.5  1.118033988749895   10  4\n"
      "    5  nan     1.7976931348623157e+308  inf      inf  nan                nan  nan  2\n"
      "    6  none                          -    -        -    -                  -    -  -\n\n"
      "series 2: creator \"OTHER\\x09\", 2 blocks\n"
      "block  name     type word  type          elements  bytes  offset\n"
      "    7  creator  0x401      string               1      7     280\n"
      "    8  one      0x803      double array         1      8     311\n\n"
      "statistics of series 2\n"
      "block  name  Min  Max  Max-Min  Avg  Std  Sum  N\n"
      "    8  one    -0   -0        0    0    -    0  1\n";
  const std::string document =
      "{\n  \"files\": [\n    {\n      \"file\": \"" + json_text(path) +
      "\",\n      \"bytes\": 319,\n      \"header\": {\n"
      "        \"format_version\": [1, 1],\n"
      "        \"created\": \"1970-01-01T00:00:00Z\",\n        \"created_seconds\": 0,\n"
      "        \"creator\": \"TEST\",\n        \"creator_version\": [1, 2],\n"
      "        \"second_name\": \"SECOND\",\n        \"second_version\": [3, 4]\n      },\n"
      "      \"series\": [\n        {\n          \"series\": 1,\n          \"creator\": null,\n"
      "          \"blocks\": [\n"
      "            {\"block\": 1, \"name\": \"q\\\"uote\", \"type_word\": 2051, \"type\": \"double "
      "array\", \"elements\": 4, \"bytes\": 32, \"offset\": 72, \"stats\": {\"Min\": 1, \"Max\": "
      "4, \"Max-Min\": 3, \"Avg\": 2.5, \"Std\": 1.118033988749895, \"Sum\": 10, \"N\": 4}},\n"
      "            {\"block\": 2, \"name\": \"\\u0001\\u00b3\", \"type_word\": 1025, \"type\": "
      "\"string\", \"elements\": 1, \"bytes\": 5, \"offset\": 128},\n"
      "            {\"block\": 3, \"name\": \"ints\", \"type_word\": 2050, \"type\": \"4-byte 0x02 "
      "array\", \"elements\": 2, \"bytes\": 8, \"offset\": 157},\n"
      "            {\"block\": 4, \"name\": \"odd\", \"type_word\": 2055, \"type\": \"unknown 0x07 "
      "array\", \"elements\": null, \"bytes\": 3, \"offset\": 189},\n"
      "            {\"block\": 5, \"name\": \"nan\", \"type_word\": 2051, \"type\": \"double "
      "array\", \"elements\": 2, \"bytes\": 16, \"offset\": 216, \"stats\": {\"Min\": "
      "1.7976931348623157e+308, \"Max\": \"Infinity\", \"Max-Min\": \"Infinity\", \"Avg\": "
      "\"NaN\", \"Std\": \"NaN\", \"Sum\": \"NaN\", \"N\": 2}},\n"
      "            {\"block\": 6, \"name\": \"none\", \"type_word\": 2051, \"type\": \"double "
      "array\", \"elements\": 0, \"bytes\": 0, \"offset\": 256, \"stats\": {\"Min\": null, "
      "\"Max\": null, \"Max-Min\": null, \"Avg\": null, \"Std\": null, \"Sum\": null, \"N\": "
      "null}}\n          ]\n        },\n"
      "        {\n          \"series\": 2,\n          \"creator\": \"OTHER\\u0009\",\n"
      "          \"blocks\": [\n"
      "            {\"block\": 7, \"name\": \"creator\", \"type_word\": 1025, \"type\": "
      "\"string\", \"elements\": 1, \"bytes\": 7, \"offset\": 280},\n"
      "            {\"block\": 8, \"name\": \"one\", \"type_word\": 2051, \"type\": \"double "
      "array\", \"elements\": 1, \"bytes\": 8, \"offset\": 311, \"stats\": {\"Min\": -0.0, "
      "\"Max\": -0.0, \"Max-Min\": 0, \"Avg\": 0, \"Std\": null, \"Sum\": 0, \"N\": 1}}\n"
      "          ]\n        }\n      ]\n    }\n  ]\n}\n";
  ProcessResult result = run({"--stats", path});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, listing);
  result = run({"-sj", path});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, document);
}

TEST_F(Tqsinfo, CheckNamesTheFirstDefectAndItsOffset) {
  struct Case {
    std::string path;
    std::string verdict; // after "<path>: "
    std::string shown{}; // the path as the line shows it, when it differs
  };
  const std::string odd = dir_.file(kOddName);
  const bool has_odd = test_support::copy_under_odd_name(map_, odd);
  const std::string fresh_bytes = read_file(fresh_);
  write_file(dir_.file("no-nul.tqs"), fresh_bytes.substr(0, 32) + "X" + fresh_bytes.substr(33));
  write_file(dir_.file("empty.tqs"), "");
  const std::vector<Case> cases = {
      {map_, "OK"},
      {series_, "OK"},
      {fresh_, "OK"},
      {damaged("cut-data.tqs", 300, ""),
       "defect at byte 284: data cut short: size 48, 12 bytes left"},
      {damaged("cut-header.tqs", 270, ""),
       "defect at byte 264: block header cut short: 6 of 24 bytes"},
      {damaged("short.tqs", 40, ""),
       "defect at byte 0: no file header and no leading \"creator\" block"},
      {dir_.file("empty.tqs"), "defect at byte 0: no file header and no leading \"creator\" block"},
      {damaged("magic.tqs", 0, "\x75\x4C\x9F\x06"),
       "defect at byte 0: no file header and no leading \"creator\" block"},
      {damaged("creator.tqs", 8, std::string(16, 'N')),
       "defect at byte 8: creator name without its NUL"},
      {damaged("version.tqs", 41, "\x02"), "defect at byte 40: format version 1.2, not 1.1"},
      {damaged("name.tqs", 48, std::string(16, 'A')),
       "defect at byte 48: block name without its NUL"},
      {damaged("type.tqs", 64, le32(0x807)),
       "defect at byte 64: unknown element type 0x07 in type word 0x807"},
      {damaged("size49.tqs", 140, le32(49)),
       "defect at byte 140: size 49 is no whole number of 8-byte elements"},
      {damaged("size-huge.tqs", 140, le32(0xFFFFFFFF)),
       "defect at byte 140: data cut short: size 4294967295, 336 bytes left"},
      {damaged("code10.tqs", 64, le32(0x810)),
       "defect at byte 68: size 48 is no whole number of 0-byte elements"},
      {dir_.file("no-nul.tqs"), "defect at byte 32: string without its closing NUL"},
      // One line, whatever the name holds.
      {odd, "OK", dir_.file(kOddNameShown)},
  };
  for (const Case& c : cases) {
    if (c.path == odd && !has_odd)
      continue; // Windows' names hold no control bytes
    const ProcessResult result = run({"--check", c.path});
    EXPECT_EQ(result.exit_status, c.verdict == "OK" ? 0 : 1) << c.path;
    EXPECT_EQ(result.out, (c.shown.empty() ? c.path : c.shown) + ": " + c.verdict + "\n");
    EXPECT_EQ(result.err, "") << c.path;
  }
  // Every file gets its line; one defect makes the status 1.
  const ProcessResult result = run({"-c", cases[3].path, map_});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, cases[3].path + ": " + cases[3].verdict + "\n" + map_ + ": OK\n");
}

TEST_F(Tqsinfo, DumpedValuesReadBackBitForBit) {
  const std::vector<double> awkward = {0.1,
                                       -0.0,
                                       5e-324,
                                       2.2250738585072014e-308,
                                       1.7976931348623157e308,
                                       1.0 / 3,
                                       1234567890123456789.0,
                                       -1e-300};
  const std::vector<double> special = {kInf, -kInf, kNaN, 1, 2, 3, 4, 5};
  const std::string built = dir_.file("awkward.tqs");
  write_file(built, file_header(0) + doubles_block("x", awkward) + doubles_block("y", special));

  const std::vector<std::vector<double>> columns = small_rf_map_columns();
  struct Case {
    std::vector<std::string> args;
    std::string header;
    std::vector<std::vector<double>> expected; // per column
  };
  const std::vector<Case> cases = {
      {{"--dump", "Z,R,Ez,Er,|E|,Bphi", map_},
       "# Z R Ez Er |E| Bphi",
       {columns[0], columns[1], columns[2], columns[3], columns[4], columns[5]}},
      {{"--series", "3", "--dump=Bphi,Z,Bphi", series_},
       "# Bphi Z Bphi",
       {columns[5], columns[0], columns[5]}},
      {{"-dEz", fresh_}, "# Ez", {columns[2]}},
      {{"-d", "y,x", built}, "# y x", {special, awkward}},
  };
  for (const Case& c : cases) {
    const ProcessResult result = run(c.args);
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::vector<std::string> lines = lines_of(result.out);
    ASSERT_EQ(lines.size(), c.expected[0].size() + 1) << c.header;
    EXPECT_EQ(lines[0], c.header);
    for (std::size_t row = 0; row + 1 < lines.size(); ++row) {
      const std::vector<std::string> words = split_words(lines[row + 1]);
      ASSERT_EQ(words.size(), c.expected.size()) << lines[row + 1];
      for (std::size_t col = 0; col < words.size(); ++col) {
        const double value = std::strtod(words[col].c_str(), nullptr);
        const double expected = c.expected[col][row];
        EXPECT_TRUE(bits_of(value) == bits_of(expected) ||
                    (std::isnan(value) && std::isnan(expected)))
            << c.header << ": " << words[col] << " in row " << row;
      }
    }
  }
  EXPECT_EQ(lines_of(run({"-d", "y", built}).out)[1], "inf");
  EXPECT_EQ(lines_of(run({"-d", "y", built}).out)[3], "nan");
}

TEST_F(Tqsinfo, HelpAndVersionGoToStandardOutput) {
  const std::string help = test_support::golden_text("tqsinfo-help.txt");
  // The program run under a name with an escape sequence and a newline (a link to it): the name
  // is shown with its control bytes escaped, as in error lines.
  const std::string odd = dir_.file(kOddName);
  const bool has_odd = test_support::link_under_odd_name(TQSINFO_BINARY, odd);
  std::string odd_help = help;
  for (const std::string& before : {"tqsinfo 1.0 -"s, "usage: tqsinfo "s}) {
    std::string after = before;
    after.replace(after.find("tqsinfo"), 7, kOddNameShown);
    odd_help.replace(odd_help.find(before), before.size(), after);
  }
  struct Case {
    std::vector<std::string> args;
    std::string expected;
    std::string program = TQSINFO_BINARY;
  };
  const std::vector<Case> cases = {
      {{"-h"}, help},
      {{"--help", "no-such-file"}, help},
      {{"-s", "--help"}, help},
      {{"--version"}, "tqsinfo 1.0\n"},
      {{"-V", map_}, "tqsinfo 1.0\n"},
      {{"--help"}, odd_help, odd},
      {{"-V"}, std::string(kOddNameShown) + " 1.0\n", odd},
  };
  for (const Case& c : cases) {
    if (c.program == odd && !has_odd)
      continue; // Windows' names hold no control bytes
    std::vector<std::string> argv = c.args;
    argv.insert(argv.begin(), c.program);
    const ProcessResult result = test_support::run_program(argv);
    EXPECT_EQ(result.exit_status, 0) << c.args[0];
    EXPECT_EQ(result.out, c.expected) << c.args[0];
    EXPECT_EQ(result.err, "") << c.args[0];
  }
}

TEST_F(Tqsinfo, ErrorsAreOneLineWithStatus1) {
  const std::string uneven = dir_.file("uneven.tqs");
  write_file(uneven, file_header(0) + doubles_block("a", {1, 2}) + doubles_block("b", {1}) +
                         doubles_block("b", {2}) + doubles_block("c", {3}));
  const std::string missing = dir_.file("missing.tqs");
  const std::string fifo = dir_.file("fifo.tqs"); // no program ever writes it
  const bool has_fifo = test_support::make_fifo(fifo);
  const std::string huge = dir_.file("huge.tqs");
  const std::string many_series = dir_.file("many-series.tqs");
  if (test_support::kAddressSpaceLimits) {
    write_huge_array_file(huge);
    write_file(many_series, many_creator_blocks(1'000'000));
  }
  const RunOptions kSmallMemory{.address_space_limit = std::int64_t{32} << 20};
  struct Case {
    std::vector<std::string> args;
    std::string error; // after "tqsinfo: Error: "
    RunOptions options = {};
  };
  const std::vector<Case> cases = {
      {{}, "no file given; \"tqsinfo --help\" lists the options"},
      {{"-s"}, "no file given; \"tqsinfo --help\" lists the options"},
      {{"--stat", map_}, "unknown option --stat"},
      {{"-sx", map_}, "unknown option -x"},
      {{"-d"}, "option -d needs an argument"},
      {{"--dump"}, "option --dump needs an argument"},
      {{"--json=yes", map_}, "option --json takes no argument"},
      {{map_, "--stats"}, "option after the file names: --stats"},
      {{"--", "-s"}, "\"-s\": No such file or directory"},
      {{"-j", "-c", map_}, "--json, --check and --dump do not go together"},
      {{"-s", "-d", "Z", map_}, "--stats goes with the listing or --json only"},
      {{"-n", "1", map_}, "--series goes with --dump only"},
      {{"-d", "Z", map_, map_}, "--dump reads one file, not 2"},
      {{"-n", "0", "-d", "Z", map_}, "--series needs a number from 1 on, not \"0\""},
      {{"--series=2x", "-d", "Z", map_}, "--series needs a number from 1 on, not \"2x\""},
      {{"--dump=Z,,R", map_}, "empty array name in --dump \"Z,,R\""},
      {{"-d", "Q", map_}, about(map_) + "no block \"Q\" in series 1"},
      {{"-d", "b", uneven}, about(uneven) + "more than one block \"b\" in series 1"},
      {{"-d", "a,c", "-n", "1", uneven},
       about(uneven) + "arrays of different lengths in series 1: \"a\" has 2 values, \"c\" has 1"},
      {{"-n", "2", "-d", "creator", series_},
       about(series_) + "block \"creator\" in series 2 holds no doubles but string"},
      {{"-n", "4", "-d", "Z", series_}, about(series_) + "no series 4, the file has 3"},
      {{missing}, about(missing) + "No such file or directory"},
      {{map_, missing}, about(missing) + "No such file or directory"},
      {{sf7_}, "\"" + sf7_ + "\": Not a TQ-File"},
      {{"-s", damaged("cut.tqs", 300, "")}, about(dir_.file("cut.tqs")) + "Unexpected end of file"},
      {{"--check", dir_.path().string()}, about(dir_.path().string()) + "Is a directory"},
      // A FIFO is refused at once as no regular file, whatever is asked of it.
      {{fifo}, about(fifo) + "Illegal seek", {.time_limit = 20}},
      {{"--check", fifo}, about(fifo) + "Illegal seek", {.time_limit = 20}},
      {{"--json", "--stats", fifo}, about(fifo) + "Illegal seek", {.time_limit = 20}},
      {{"-d", "Z", fifo}, about(fifo) + "Illegal seek", {.time_limit = 20}},
      {{"-j", map_}, "\"-\": No space left on device", {StdoutMode::file, "/dev/full"}},
      // Memory that runs out, here under an address-space limit, is one line naming the file:
      // the 4 GB array of a dump, and the record of every series of a file of a million.
      {{"-d", "Z", huge}, about(huge) + "Not enough memory", kSmallMemory},
      {{many_series}, about(many_series) + "Not enough memory", kSmallMemory},
      {{"-j", many_series}, about(many_series) + "Not enough memory", kSmallMemory},
      {{"--help"}, "\"-\": No space left on device", {StdoutMode::file, "/dev/full"}},
  };
  for (const Case& c : cases) {
    if (!has_fifo && std::find(c.args.begin(), c.args.end(), fifo) != c.args.end())
      continue; // no FIFOs on Windows
    if (c.options.address_space_limit >= 0 && !test_support::kAddressSpaceLimits)
      continue; // not on Windows nor with the sanitizers
    const ProcessResult result = run(c.args, c.options);
    const std::string shown = testing::PrintToString(c.args);
    EXPECT_EQ(result.exit_status, 1) << shown;
    EXPECT_EQ(result.err, "tqsinfo: Error: " + c.error + "\n") << shown;
    if (c.options.stdout_mode == StdoutMode::capture) {
      EXPECT_EQ(result.out, "") << shown;
    }
  }
}

// The last line of `path`, whose last byte is a line feed.
std::string last_line(const std::string& path) {
  const std::string text = read_file(path);
  const std::size_t start = text.rfind('\n', text.size() - 2);
  return text.substr(start + 1, text.size() - start - 2);
}

TEST_F(Tqsinfo, ListsFilesOfAnyNumberAndSizeOfBlocksInBoundedMemory) {
  if (!test_support::kAddressSpaceLimits)
    GTEST_SKIP() << "no address-space limit on Windows or with the sanitizers";
  // A million empty blocks of zeros (no name, type word 0), a sparse file of 24 MB; a million
  // empty arrays of doubles; two "creator" blocks of 4 GB of zeros each, a sparse file of 8.6 GB.
  const std::string empty_blocks = dir_.file("empty-blocks.tqs");
  write_file(empty_blocks, file_header(0));
  std::filesystem::resize_file(empty_blocks, 48 + 24 * 1'000'000);
  const std::string empty_arrays = dir_.file("empty-arrays.tqs");
  std::string arrays = file_header(0);
  for (int k = 0; k < 1'000'000; ++k)
    arrays += doubles_block("a", {});
  write_file(empty_arrays, arrays);
  const std::string creators = dir_.file("creators.tqs");
  const std::uint32_t size = 0xFFFFFFFF;
  write_file(creators, block_bytes("creator", 0x401, "", size));
  std::filesystem::resize_file(creators, 24 + std::uintmax_t{size});
  std::filesystem::resize_file(creators, 2 * (24 + std::uintmax_t{size}));
  {
    std::fstream file(creators, std::ios::in | std::ios::out | std::ios::binary);
    const std::string second = block_bytes("creator", 0x401, "", size);
    file.seekp(24 + std::streamoff{size});
    file.write(second.data(), static_cast<std::streamsize>(second.size()));
    ASSERT_TRUE(file.flush()) << creators;
  }
  const std::string creators_listing =
      "file         " + creators +
      "\nsize         8589934638 bytes\n"
      "header       none: the file starts with a \"creator\" block\n\n"
      "series 1: creator \"\", 1 block\n"
      "block  name     type word  type    elements       bytes  offset\n"
      "    1  creator  0x401      string         1  4294967295      24\n\n"
      "series 2: creator \"\", 1 block\n"
      "block  name     type word  type    elements       bytes      offset\n"
      "    2  creator  0x401      string         1  4294967295  4294967343\n";

  constexpr long long kMiB = 1 << 20;
  struct Case {
    std::vector<std::string> args;
    long long limit;     // of the address space, in bytes
    std::size_t lines;   // of the output: one per block and statistic, and the others
    std::string last;    // the output's last line
    std::string whole{}; // the whole output, where it is short
  };
  const std::vector<Case> cases = {
      {{empty_blocks},
       128 * kMiB,
       1'000'009,
       "1000000        0x0        unknown 0x00         -      0  24000048"},
      {{"--json", empty_blocks}, 128 * kMiB, 1'000'025, "}"},
      {{"--stats", empty_arrays},
       128 * kMiB,
       2'000'012,
       "1000000  a       -    -        -    -    -    -  -"},
      {{creators},
       16 * kMiB,
       11,
       "    2  creator  0x401      string         1  4294967295  4294967343",
       creators_listing},
      {{"-j", creators}, 16 * kMiB, 25, "}"},
      {{"--check", empty_blocks},
       16 * kMiB,
       1,
       empty_blocks + ": defect at byte 64: unknown element type 0x00 in type word 0x0"},
  };
  const std::string out = dir_.file("out");
  for (const Case& c : cases) {
    write_file(out, "");
    const ProcessResult result =
        run(c.args,
            {.stdout_mode = StdoutMode::file, .stdout_path = out, .address_space_limit = c.limit});
    const std::string shown = testing::PrintToString(c.args);
    EXPECT_EQ(result.err, "") << shown;
    EXPECT_EQ(result.exit_status, c.args[0] == "--check" ? 1 : 0) << shown;
    const std::string text = read_file(out);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), c.lines)
        << shown;
    EXPECT_EQ(last_line(out), c.last) << shown;
    if (!c.whole.empty()) {
      EXPECT_EQ(text, c.whole) << shown;
    }
  }
}

TEST_F(Tqsinfo, AReaderThatQuitsEndsTheRunQuietly) {
  // As in "tqsinfo --dump Z,R,Ez f.tqs | head -2", but with the reader gone before anything is
  // written: no error line, and the end of a text tool whose reader quit.
  const std::vector<std::vector<std::string>> cases = {
      {"--dump", "Z,R,Ez", map_}, {map_}, {"-sj", series_}, {"--check", map_}, {"--help"}, {"-V"},
  };
  for (const std::vector<std::string>& args : cases) {
    const ProcessResult result = run(args, {.stdout_mode = StdoutMode::closed_pipe});
    const std::string shown = testing::PrintToString(args);
#ifdef _WIN32
    EXPECT_EQ(result.exit_status, 0) << shown; // no SIGPIPE to end by
#else
    EXPECT_EQ(result.signal, SIGPIPE) << shown;
#endif
    EXPECT_EQ(result.err, "") << shown;
  }
#ifndef _WIN32 // no /dev/full on Windows
  // A full disk is no reader that quit: it stays an error.
  const ProcessResult full =
      run({"--dump", "Z", map_}, {.stdout_mode = StdoutMode::file, .stdout_path = "/dev/full"});
  EXPECT_EQ(full.exit_status, 1);
  EXPECT_EQ(full.err, "tqsinfo: Error: \"-\": No space left on device\n");
#endif
}

} // namespace
