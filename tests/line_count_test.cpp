// The count of input lines that error lines show, at the end of its range.
#include "cli/diagnostics.h"
#include "convert/sf7_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace {

// Disabled until the reader stops counting at the largest count: reading a line past line
// 2147483647 (a header of that many short lines, before any "SF7") overflows the signed
// count, which is undefined behaviour; in practice the count wraps and a later error line
// names a negative line number. A file that long cannot be made in a test, so the count starts
// two lines short of its end here.
TEST(LineCount, DISABLED_StopsAtTheLargestCountInsteadOfWrapping) {
  auto result = test_support::run_in_child([] {
    const std::string text = "first\nsecond\nthird\n";
    std::FILE* input = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    input_file_name = "long.sf7";
    input_line_number = std::numeric_limits<std::int32_t>::max() - 1;
    FieldMap map;
    read_field_map(input, 0, map);
  });
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "Error: long.sf7(2147483647): More than 2147483647 lines\n");
}

} // namespace
