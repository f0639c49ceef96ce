// Any bytes as an SF7 input file, read twice: by the program's block reading with its in-place
// scan of point lines, and by the exact path (a line into the line buffer, "%lf" six times).
// Either both return the same complete, consistent map, bit for bit, with the same progress
// lines and line count, or both throw the same error; neither reads or writes outside its
// buffers and arrays. Every line is also scanned by the portable "%lf" scan, which must find
// what glibc's sscanf finds, bit for bit.
#include "fuzz_support.h"
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "sf7/sf7_point_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace norvalex;

namespace {

// A text field holds its text and a NUL within its 8 bytes.
bool is_terminated(const Sf7Word& word) {
  return std::memchr(word.data(), '\0', word.size()) != nullptr;
}

std::size_t point_count(const FieldMap& map) {
  return static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
}

void check_map(const FieldMap& map) {
  FUZZ_CHECK(map.dim1 >= 1 && map.dim2 >= 1);
  FUZZ_CHECK(static_cast<std::int64_t>(point_count(map)) <= SF7_MAX_POINTS);
  for (const FieldColumn& column : map.columns) {
    FUZZ_CHECK(is_terminated(column.sf7_name) && is_terminated(column.sf7_unit));
    FUZZ_CHECK(column.out_name != nullptr && column.out_unit != nullptr);
    FUZZ_CHECK(std::strlen(column.out_name) < SF7_WORD_FIELD_SIZE);
    FUZZ_CHECK(column.factor != 0);
    FUZZ_CHECK(column.data != nullptr);
    // The array holds a value for every point: a short one fails at its last element.
    volatile double last = column.data[point_count(map) - 1];
    (void)last;
  }
}

struct Reading {
  FieldMap map;
  bool failed = false; // an error was thrown instead of the map returned
  std::int32_t lines = 0;
  std::string error;    // the error's text and fields
  std::string progress; // the progress lines
};

// The progress lines of the reading under way; one reading at a time in this target.
std::string* progress_lines = nullptr;

void record_progress(const char* line) {
  progress_lines->append(line);
}

// Reads `bytes` into `reading` by the block reading, in 4 KiB blocks so that block boundaries
// fall inside the fuzzer's inputs, or by the exact path.
void read(const std::string& bytes, bool verbose, bool exact, Reading& reading) {
  Sf7Reading sf7{"fuzz.sf7", 0, {verbose ? record_progress : nullptr}};
  progress_lines = &reading.progress;
  std::FILE* input = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  FUZZ_CHECK(input != nullptr);
  try {
    read_field_map(input, sf7, reading.map, {exact, 4096});
  } catch (const norvalex::Error& error) {
    reading.failed = true;
    reading.error = std::string(error.what()) + "|" + error.file_name() + "|" +
                    std::to_string(error.line_number()) + "|" +
                    std::to_string(error.system_error());
  }
  reading.lines = sf7.line_number;
  std::fclose(input);
}

// Every piece of the input that the line buffer would hold, scanned by the portable scan and by
// the exact path's glibc sscanf: the same count and the same bits of every number found.
void compare_scans(const std::string& bytes) {
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t line_feed = bytes.find('\n', start);
    const std::size_t end = line_feed == std::string::npos ? bytes.size() : line_feed + 1;
    const std::string line = bytes.substr(start, std::min(end - start, LINE_PIECE_LIMIT));
    start += line.size();
    std::array<double, SF7_COLUMN_COUNT> glibc{};
    std::array<double, SF7_COLUMN_COUNT> portable{};
    const int found = scan_point_exact(line.c_str(), glibc);
    FUZZ_CHECK(scan_point_portable(line.c_str(), portable) == found);
    FUZZ_CHECK(std::memcmp(glibc.data(), portable.data(),
                           static_cast<std::size_t>(found) * sizeof(double)) == 0);
  }
}

bool same_columns(const FieldMap& a, const FieldMap& b) {
  if (a.dim1 != b.dim1 || a.dim2 != b.dim2)
    return false;
  for (std::size_t k = 0; k < a.columns.size(); ++k) {
    const FieldColumn& x = a.columns[k];
    const FieldColumn& y = b.columns[k];
    if (x.sf7_name != y.sf7_name || x.sf7_unit != y.sf7_unit ||
        std::strcmp(x.out_name, y.out_name) != 0 || x.factor != y.factor)
      return false;
    // Bit for bit: a NaN read from the input must come out as the same NaN.
    if (std::memcmp(x.data.get(), y.data.get(), point_count(a) * sizeof(double)) != 0)
      return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The verbose flag comes from the length, so that the progress lines are compared too.
  const bool verbose = (size & 1) != 0;
  compare_scans(bytes);
  Reading fast;
  Reading exact;
  read(bytes, verbose, false, fast);
  read(bytes, verbose, true, exact);
  FUZZ_CHECK(fast.failed == exact.failed);
  FUZZ_CHECK(fast.error == exact.error);
  FUZZ_CHECK(fast.progress == exact.progress);
  FUZZ_CHECK(fast.lines == exact.lines);
  if (!fast.failed) {
    check_map(fast.map);
    check_map(exact.map);
    FUZZ_CHECK(same_columns(fast.map, exact.map));
  }
  return 0;
}
