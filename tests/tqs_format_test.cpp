// Element sizes of the type codes. The record images are checked byte for byte through the
// writer's golden files.
#include "norvalex/tqs.h"

#include <gtest/gtest.h>

#include <map>

using namespace norvalex;

namespace {

TEST(TqsElementSize, GivesTheSizeOfEveryCodeAndIgnoresFlags) {
  // Every code not listed has no size: text (0x01), and 0x70 and 0x80 between known codes.
  const std::map<std::uint32_t, int> known = {{0x02, 4}, {0x03, 8}, {0x10, 0}, {0x20, 1}, {0x30, 1},
                                              {0x40, 2}, {0x50, 2}, {0x60, 4}, {0x90, 4}};
  for (std::uint32_t code = 0; code <= 0xFF; ++code) {
    const auto row = known.find(code);
    const int expected = row == known.end() ? -1 : row->second;
    // Flags and any other bits above the low byte leave the size alone.
    for (std::uint32_t high : {0x000U, 0x400U, 0x800U, 0x100U, 0xFFFFFF00U}) {
      EXPECT_EQ(tqs_element_size(high | code), expected) << std::hex << "type 0x" << (high | code);
    }
  }
}

} // namespace
