// The count of input lines that error lines show, at the end of its range.
#include "norvalex/sf7.h"
#include "sf7/sf7_exact.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

using namespace norvalex;

namespace {

// The count is 32 bits wide: the line after line 2147483647 is refused instead of wrapping the
// count into negative line numbers. A file that long cannot be made in a test, so the count
// starts a few lines short of its end here, and the last line that can be counted is refused
// wherever it falls: in the header or among the point lines, read by the block reading or by
// the exact path.
TEST(LineCount, StopsAtTheLargestCountInsteadOfWrapping) {
  const std::string header_only = "first\nsecond\nthird\n";
  // Seven header lines, then three point lines.
  const std::string map = "Poisson\nProgram SF7\n\nincrements: 2\n\n R Z Er Ez E V\n"
                          " (cm) (cm) (V) (V) (V) (V)\n"
                          "1.5 2.5 3.5 4.5 5.5 6.5\n1.5 2.5 3.5 4.5 5.5 6.5\n"
                          "1.5 2.5 3.5 4.5 5.5 6.5\n";
  struct Case {
    const char* label;
    const std::string& text;
    std::int32_t lines_left; // lines that can still be counted
  };
  constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
  for (const Case& c : {Case{"header", header_only, 1}, Case{"point lines", map, 8}}) {
    for (const bool exact : {false, true}) {
      auto result = test_support::run_in_child([&] {
        std::FILE* input = test_support::open_bytes(c.text);
        Sf7Reading reading{"long.sf7", kLargest - c.lines_left, {}};
        FieldMap field_map;
        read_field_map(input, reading, field_map, {exact});
      });
      const std::string label = std::string(c.label) + (exact ? ", exact path" : ", blocks");
      EXPECT_EQ(result.signal, 0) << label;
      EXPECT_EQ(result.exit_status, 1) << label;
      EXPECT_EQ(result.err, "Error: long.sf7(2147483647): More than 2147483647 lines\n") << label;
    }
  }
}

} // namespace
