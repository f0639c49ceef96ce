// Any bytes as an SF7 input file: the reader either returns a complete, consistent map or ends
// the run with an error, and it never reads or writes outside its buffers and arrays.
#include "convert/sf7_reader.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// A text field holds its text and a NUL within its 8 bytes.
bool is_terminated(const Sf7Word& word) {
  return std::memchr(word.data(), '\0', word.size()) != nullptr;
}

void check_map(const FieldMap& map) {
  FUZZ_CHECK(map.dim1 >= 1 && map.dim2 >= 1);
  const std::int64_t points = std::int64_t{map.dim1} * map.dim2;
  FUZZ_CHECK(points <= SF7_MAX_POINTS);
  for (const FieldColumn& column : map.columns) {
    FUZZ_CHECK(is_terminated(column.sf7_name) && is_terminated(column.sf7_unit));
    FUZZ_CHECK(column.out_name != nullptr && column.out_unit != nullptr);
    FUZZ_CHECK(std::strlen(column.out_name) < SF7_WORD_FIELD_SIZE);
    FUZZ_CHECK(column.factor != 0);
    FUZZ_CHECK(column.data != nullptr);
    // The array holds a value for every point: a short one fails at its last element.
    volatile double last = column.data[static_cast<std::size_t>(points - 1)];
    (void)last;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  process_end_hook = throw_run_ended;
  input_file_name = "fuzz.sf7";
  input_line_number = 0;
  // fmemopen wants a buffer even for no bytes at all.
  static char empty[1];
  char* bytes = size == 0 ? empty : const_cast<char*>(reinterpret_cast<const char*>(data));
  std::FILE* input = fmemopen(bytes, size, "r");
  FUZZ_CHECK(input != nullptr);
  // The verbose flag comes from the length, so that the progress lines are run as well.
  const int verbose = static_cast<int>(size & 1);
  try {
    FieldMap map;
    read_field_map(input, verbose, map);
    check_map(map);
  } catch (const RunEnded& ended) {
    FUZZ_CHECK(ended.status == 1);
  }
  std::fclose(input);
  return 0;
}
