#include "sf7/sf7_fast_scan.h"

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

// A quotient of two doubles is rounded once only where double arithmetic is done in double
// precision; elsewhere (x87 registers) every number goes through std::from_chars.
#define NORVALEX_EXACT_PRODUCTS (FLT_EVAL_METHOD == 0)

#if defined(__SSE2__) && NORVALEX_EXACT_PRODUCTS
#include <emmintrin.h>
#define NORVALEX_CLASSIFIED_SCAN 1
static_assert(std::endian::native == std::endian::little,
              "the eight-byte digit scan takes the first character as the lowest byte");
#endif

namespace norvalex {

namespace {

// Every power of ten up to 1e22 is a double exactly; so is every integer up to 2^53. A product
// or quotient of two exact doubles is rounded once, so it is the correctly rounded value of the
// decimal number, the one the C library's conversion gives.
constexpr std::array<double, 23> exact_powers_of_ten{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t MAX_EXACT_POWER = 22;
constexpr std::uint64_t MAX_EXACT_MANTISSA = std::uint64_t{1} << 53;
// Decimal digits that always fit a 64-bit mantissa.
constexpr std::ptrdiff_t MAX_MANTISSA_DIGITS = 19;
// An exponent this large already leaves the range of doubles for any mantissa; larger ones
// are not accumulated further (the rare path reads the text itself).
constexpr std::int64_t EXPONENT_CAP = 100000;

inline bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

// White space as "%lf" skips it, less the line feed, which ends a point line.
inline bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
}

// A number read by "%lf" ends for certain where white space follows it.
inline bool ends_number(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Numbers beyond the exact products: many digits or large exponents. std::from_chars is
// correctly rounded too; it reports a result out of the range of doubles as an error where the
// C library returns a value, so such a number is left to the exact path.
[[gnu::noinline]] bool convert_rare(const char* first, const char* last, double& value) {
  const auto [stop, error] = std::from_chars(first, last, value, std::chars_format::general);
  return error == std::errc() && stop == last;
}

// Reads one number at `p` (no white space before it), a character at a time. Returns the
// position after it, or nullptr when it is not of the plain decimal form or not followed by
// white space.
[[gnu::noinline]] const char* scan_number_general(const char* p, double& value) {
  const bool negative = *p == '-';
  p += (*p == '-') | (*p == '+');
  const char* const digits = p;
  std::uint64_t mantissa = 0;
  while (is_digit(*p))
    mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
  std::ptrdiff_t digit_count = p - digits;
  std::int64_t scale = 0;
  if (*p == '.') {
    const char* const fraction = ++p;
    while (is_digit(*p))
      mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    digit_count += p - fraction;
    scale = -(p - fraction);
  }
  if (digit_count == 0)
    return nullptr;
  if ((*p | 0x20) == 'e') {
    const char* e = p + 1;
    const bool exponent_negative = *e == '-';
    e += (*e == '-') | (*e == '+');
    if (!is_digit(*e))
      return nullptr; // "1e", "1e+", "1ex": how "%lf" reads these is the exact path's business
    std::int64_t exponent = 0;
    for (; is_digit(*e); ++e) {
      if (exponent < EXPONENT_CAP)
        exponent = exponent * 10 + (*e - '0');
    }
    scale += exponent_negative ? -exponent : exponent;
    p = e;
  }
  if (!ends_number(*p))
    return nullptr;

  double magnitude;
  if (NORVALEX_EXACT_PRODUCTS && digit_count <= MAX_MANTISSA_DIGITS &&
      mantissa <= MAX_EXACT_MANTISSA && scale >= -MAX_EXACT_POWER && scale <= MAX_EXACT_POWER) {
    const double m = static_cast<double>(mantissa);
    magnitude = scale < 0 ? m / exact_powers_of_ten[static_cast<std::size_t>(-scale)]
                          : m * exact_powers_of_ten[static_cast<std::size_t>(scale)];
  } else if (digit_count <= MAX_MANTISSA_DIGITS && mantissa == 0) {
    magnitude = 0;
  } else if (!convert_rare(digits, p, magnitude)) {
    return nullptr;
  }
  value = negative ? -magnitude : magnitude;
  return p;
}

// The point line at `line` a character at a time: for lines too long for the classified
// window, and for every line where the classified scan is not built.
const char* scan_point_general(const char* line, const char* end,
                               std::span<double, SF7_COLUMN_COUNT> values) {
  // Every loop below stops at the zero byte at `end`: it is neither white space nor a digit.
  const char* p = line;
  for (double& value : values) {
    while (is_blank(*p))
      ++p;
    p = scan_number_general(p, value);
    if (p == nullptr)
      return nullptr;
  }
  // Text after the sixth number is never examined; only its length counts.
  const char* feed = p;
  if (*feed != '\n') {
    feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (feed == nullptr)
      return nullptr;
  }
  // Length as the line buffer would hold it: a CR right before the line feed is not read.
  const std::size_t length = static_cast<std::size_t>(feed - line) + 1 - (feed[-1] == '\r');
  if (length >= LINE_PIECE_LIMIT)
    return nullptr;
  return feed + 1;
}

#if NORVALEX_CLASSIFIED_SCAN

constexpr std::uint64_t bytes_of(std::uint8_t byte) {
  return 0x0101010101010101 * byte;
}

// The eight bytes at `p`, the first one lowest.
inline std::uint64_t load_eight(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Value of the first `count` (1 to 8) bytes of `word`, all of them decimal digits.
inline std::uint64_t digits_value(std::uint64_t word, unsigned count) {
  // Moving the digits to the top leaves zero digits in front of them.
  std::uint64_t v = (word - bytes_of('0')) << (8 * (8 - count));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
      32;
  return v;
}

// Bit i set where byte i of the 16 at `p` is a decimal digit.
inline unsigned digit_bits(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Signed compares: bytes above 0x7F are negative, never digits.
  const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                       _mm_cmpgt_epi8(_mm_set1_epi8('9' + 1), bytes));
  return static_cast<unsigned>(_mm_movemask_epi8(digits));
}

// Finds the usual shape of the number at `t`, which starts a word of the line:
// [sign] digits "." digits [(E|e) (+|-) digit digit], at most seven digits, then white space.
// False for every other text.
inline bool shape_token(const char* t, Sf7TokenShape& shape) {
  const char first = t[0];
  const unsigned sign = (first == '-') | (first == '+');
  // Bits of the characters other than digits, the sign excluded.
  const unsigned others = ~digit_bits(t) & ~sign;
  const auto point = static_cast<unsigned>(std::countr_zero(others));
  const unsigned after_point = others & (others - 1);
  const auto mantissa_end = static_cast<unsigned>(std::countr_zero(after_point));
  const unsigned mantissa_chars = mantissa_end - sign; // the point included
  if (t[point] != '.' || mantissa_chars - 2 > 6)       // no point, no digit, or more than 7 digits
    return false;
  shape.sign = static_cast<std::uint8_t>(sign);
  shape.point = static_cast<std::uint8_t>(point - sign);
  shape.digits = static_cast<std::uint8_t>(mantissa_chars - 1);
  shape.fraction = static_cast<std::uint8_t>(mantissa_end - point - 1);
  shape.exponent = 0;
  const char* const e = t + mantissa_end;
  if (ends_number(e[0]))
    return true;
  // Exactly E or e, a sign and two digits, then white space.
  if (((after_point >> mantissa_end) & 0b1111) != 0b0011 || (e[0] | 0x20) != 'e' ||
      (e[1] != '-' && e[1] != '+') || !ends_number(e[4]))
    return false;
  shape.exponent = static_cast<std::uint8_t>(mantissa_end);
  return true;
}

// The value of the number at `t` of the given shape. False when its decimal exponent is beyond
// the exact products; the number is then for scan_number_general.
inline bool shaped_value(const char* t, const Sf7TokenShape& shape, double& value) {
  // The digits after the point move down one byte, over it.
  const std::uint64_t word = load_eight(t + shape.sign);
  const std::uint64_t before_point = (std::uint64_t{1} << (8 * shape.point)) - 1;
  const std::uint64_t digits = (word & before_point) | ((word >> 8) & ~before_point);
  const std::uint64_t mantissa = digits_value(digits, shape.digits);
  int scale = -static_cast<int>(shape.fraction);
  if (shape.exponent != 0) {
    const char* const e = t + shape.exponent;
    const int exponent = (e[2] - '0') * 10 + (e[3] - '0');
    scale += e[1] == '-' ? -exponent : exponent;
  }
  // At most seven digits: the mantissa is far below 2^53.
  if (scale < -MAX_EXACT_POWER || scale > MAX_EXACT_POWER)
    return false;
  const double m = static_cast<double>(mantissa);
  const double magnitude = scale < 0 ? m / exact_powers_of_ten[static_cast<std::size_t>(-scale)]
                                     : m * exact_powers_of_ten[static_cast<std::size_t>(scale)];
  value = t[0] == '-' ? -magnitude : magnitude;
  return true;
}

// A line's bytes with every digit made '0' and every '-' made '+': two lines with the same key
// differ only in the values of their digits and signs.
inline __m128i shape_key(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                       _mm_cmpgt_epi8(_mm_set1_epi8('9' + 1), bytes));
  const __m128i zeroed =
      _mm_or_si128(_mm_andnot_si128(digits, bytes), _mm_and_si128(digits, _mm_set1_epi8('0')));
  const __m128i minus = _mm_cmpeq_epi8(zeroed, _mm_set1_epi8('-'));
  return _mm_or_si128(_mm_andnot_si128(minus, zeroed), _mm_and_si128(minus, _mm_set1_epi8('+')));
}

// True when the line at `line` has the remembered line's key up to its line feed.
inline bool matches_memo(const Sf7ScanMemo& memo, const char* line) {
  const unsigned last = memo.line_feed / 16;
  __m128i same = _mm_set1_epi8(-1);
  for (unsigned chunk = 0; chunk < last; ++chunk) {
    const __m128i key = _mm_load_si128(reinterpret_cast<const __m128i*>(&memo.key[16 * chunk]));
    same = _mm_and_si128(same, _mm_cmpeq_epi8(shape_key(line + 16 * chunk), key));
  }
  // In the last chunk only the bytes up to the line feed count.
  const __m128i key = _mm_load_si128(reinterpret_cast<const __m128i*>(&memo.key[16 * last]));
  const __m128i beyond =
      _mm_cmpgt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                     _mm_set1_epi8(static_cast<char>(memo.line_feed % 16)));
  same =
      _mm_and_si128(same, _mm_or_si128(beyond, _mm_cmpeq_epi8(shape_key(line + 16 * last), key)));
  return _mm_movemask_epi8(same) == 0xFFFF;
}

void remember_line(Sf7ScanMemo& memo, const char* line, unsigned line_feed) {
  memo.line_feed = line_feed;
  for (unsigned chunk = 0; chunk <= line_feed / 16; ++chunk) {
    _mm_store_si128(reinterpret_cast<__m128i*>(&memo.key[16 * chunk]),
                    shape_key(line + 16 * chunk));
  }
  memo.usable = true;
}

__extension__ typedef unsigned __int128 Bits128;

// White-space bits of the 16 bytes at `p`, and their line-feed bits.
inline unsigned classify_16(const char* p, unsigned& feed) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i blank = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
  // Tab, line feed, vertical tab, form feed and carriage return: 9 to 13.
  const __m128i low = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(low, _mm_set1_epi8(4)), low);
  feed = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(blank, control)));
}

// The set bits of a 128-bit mask, lowest first.
struct BitQueue {
  std::uint64_t low;
  std::uint64_t high;

  bool empty() const { return (low | high) == 0; }
  unsigned pop() {
    if (low != 0) {
      const auto bit = static_cast<unsigned>(std::countr_zero(low));
      low &= low - 1;
      return bit;
    }
    const auto bit = 64 + static_cast<unsigned>(std::countr_zero(high));
    high &= high - 1;
    return bit;
  }
};

// The point line at `line` from a classification of its first 128 bytes: the line end and the
// six numbers' places come from bit masks, each number is read on its own. A line that differs
// from the remembered one only in its digits and signs is read with the remembered places and
// shapes, without the classification.
const char* scan_point_classified(Sf7ScanMemo& memo, const char* line, const char* end,
                                  std::span<double, SF7_COLUMN_COUNT> values) {
  if (memo.usable && matches_memo(memo, line)) {
    bool exact_products = true;
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      const Sf7TokenShape& shape = memo.shapes[k];
      exact_products &= shaped_value(line + shape.start, shape, values[k]);
    }
    if (exact_products)
      return line + memo.line_feed + 1;
  }

  // The shapes below are this line's; the memo is usable again only if all six have one.
  memo.usable = false;

  // The zero bytes after `end` are neither white space nor line feeds nor digits, and cover
  // every byte read here past the buffered text. Sixteen bytes at a time up to the line feed,
  // within the first 128.
  Bits128 space = 0;
  unsigned line_length = 0;
  for (unsigned chunk = 0;; chunk += 16) {
    if (chunk == 128)
      return scan_point_general(line, end, values);
    unsigned feed;
    space |= Bits128{classify_16(line + chunk, feed)} << chunk;
    if (feed != 0) {
      line_length = chunk + static_cast<unsigned>(std::countr_zero(feed));
      break;
    }
  }
  // Separators: white space, and everything from the line feed on.
  const Bits128 separators = space | (~Bits128{0} << line_length);
  // Words start where a separator or the line's start comes before a non-separator. A number
  // read from a word's start ends only at white space, so it is the whole word.
  const Bits128 starts = ~separators & ((separators << 1) | 1);
  BitQueue start_queue{static_cast<std::uint64_t>(starts),
                       static_cast<std::uint64_t>(starts >> 64)};
  bool all_shaped = true;
  for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
    if (start_queue.empty())
      return nullptr; // fewer than six numbers: the exact path reports it
    const unsigned start = start_queue.pop();
    const char* const t = line + start;
    Sf7TokenShape& shape = memo.shapes[k];
    shape.start = static_cast<std::uint8_t>(start);
    if (shape_token(t, shape)) {
      if (shaped_value(t, shape, values[k]))
        continue;
    } else {
      all_shaped = false;
    }
    if (scan_number_general(t, values[k]) == nullptr)
      return nullptr;
  }
  if (all_shaped)
    remember_line(memo, line, line_length);
  return line + line_length + 1;
}

#endif // NORVALEX_CLASSIFIED_SCAN

} // namespace

const char* scan_point_fast(Sf7ScanMemo& memo, const char* line, const char* end,
                            std::span<double, SF7_COLUMN_COUNT> values) noexcept {
#if NORVALEX_CLASSIFIED_SCAN
  return scan_point_classified(memo, line, end, values);
#else
  (void)memo;
  return scan_point_general(line, end, values);
#endif
}

} // namespace norvalex
