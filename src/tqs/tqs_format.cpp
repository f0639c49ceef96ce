#include "norvalex/tqs.h"

#include <array>

namespace norvalex {

namespace {

struct ElementSize {
  std::uint32_t code;
  int size;
};

// Every code that has a size. Any other code has none: text (TQS_TYPE_STRING) has no fixed
// element size, and 0x70 and 0x80 are unknown although the codes around them are known.
constexpr std::array<ElementSize, 9> element_sizes{{
    {TQS_TYPE_SIZE4_02, 4},
    {TQS_TYPE_DOUBLE, 8},
    {TQS_TYPE_SIZE0_10, 0},
    {TQS_TYPE_SIZE1_20, 1},
    {TQS_TYPE_SIZE1_30, 1},
    {TQS_TYPE_SIZE2_40, 2},
    {TQS_TYPE_SIZE2_50, 2},
    {TQS_TYPE_SIZE4_60, 4},
    {TQS_TYPE_SIZE4_90, 4},
}};

} // namespace

int tqs_element_size(std::uint32_t type) {
  const std::uint32_t code = type & TQS_TYPE_CODE_MASK;
  for (const ElementSize& row : element_sizes) {
    if (row.code == code) {
      return row.size;
    }
  }
  return -1;
}

} // namespace norvalex
