// Any bytes as an SF7 input file, read twice: by the program's block reading with its in-place
// scan of point lines, and by the exact path (a line into the line buffer, "%lf" six times).
// Either both return the same complete, consistent map, bit for bit, or both end the run with
// the same status, the same text on standard error and the same line count; neither reads or
// writes outside its buffers and arrays.
#include "convert/sf7_reader.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
  bool ended = false; // the run ended (an error) instead of returning the map
  int status = 0;
  std::int32_t lines = 0;
  std::string err; // what the reader wrote on standard error
};

// Reads `bytes` into `reading`, with standard error captured, by the block reading or the
// exact path.
void read(const std::string& bytes, int verbose, bool exact, Reading& reading) {
  input_file_name = "fuzz.sf7";
  input_line_number = 0;
  sf7_exact_path_only = exact;
  std::FILE* input = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  FUZZ_CHECK(input != nullptr);
  char* err_text = nullptr;
  std::size_t err_size = 0;
  std::FILE* const real_stderr = stderr;
  stderr = open_memstream(&err_text, &err_size);
  FUZZ_CHECK(stderr != nullptr);
  try {
    read_field_map(input, verbose, reading.map);
  } catch (const RunEnded& ended) {
    reading.ended = true;
    reading.status = ended.status;
  }
  std::fclose(stderr);
  stderr = real_stderr;
  reading.err.assign(err_text, err_size);
  std::free(err_text);
  reading.lines = input_line_number;
  std::fclose(input);
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
  process_end_hook = throw_run_ended;
  // Small blocks put block boundaries inside the fuzzer's inputs.
  sf7_input_block_size = 4096;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The verbose flag comes from the length, so that the progress lines are compared too.
  const int verbose = static_cast<int>(size & 1);
  Reading fast;
  Reading exact;
  read(bytes, verbose, false, fast);
  read(bytes, verbose, true, exact);
  FUZZ_CHECK(fast.ended == exact.ended && fast.status == exact.status);
  FUZZ_CHECK(fast.err == exact.err);
  FUZZ_CHECK(fast.lines == exact.lines);
  if (fast.ended) {
    FUZZ_CHECK(fast.status == 1);
  } else {
    check_map(fast.map);
    check_map(exact.map);
    FUZZ_CHECK(same_columns(fast.map, exact.map));
  }
  return 0;
}
