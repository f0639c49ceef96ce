#include "text/line_scan.h"

#include "text/plain_decimal.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && NORVALEX_EXACT_PRODUCTS
#include <emmintrin.h>
#define NORVALEX_CLASSIFIED_SCAN 1
static_assert(std::endian::native == std::endian::little,
              "the eight-byte digit scan takes the first character as the lowest byte");
#endif

namespace norvalex {

namespace {

using plain_decimal::ends_number;
using plain_decimal::exact_powers_of_ten;
using plain_decimal::MAX_EXACT_POWER;

// The count of leading numbers that has a scan of its own (scan_leading_numbers_fast).
constexpr std::size_t COMPILED_WIDTH = 6;

// White space, less the line feed, which ends a line.
inline bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
}

// Reads one number at `p` (no white space before it) in buffered text, a character at a time:
// the position after it, or nullptr when it is not of the plain decimal form or not followed by
// white space. The zero padding after the text ends it.
inline const char* scan_number_general(const char* p, double& value) {
  return plain_decimal::scan<false>(p, nullptr, value);
}

// The rest of a line whose numbers end at `p`: the position after its line feed, or nullptr
// when the line has none in the buffered text or the line buffer would not hold it whole. Text
// before the line feed is not examined; only the line's length counts.
const char* finish_line(const char* line, const char* p, const char* end) {
  const char* feed = p;
  if (*feed != '\n') {
    feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (feed == nullptr)
      return nullptr;
  }
  // Length as the line buffer would hold it: a CR right before the line feed is not read.
  const std::size_t length =
      static_cast<std::size_t>(feed - line) + 1 - (feed > line && feed[-1] == '\r');
  if (length >= LINE_PIECE_LIMIT)
    return nullptr;
  return feed + 1;
}

// The first values.size() numbers of the line at `line` a character at a time (`Fixed` of
// them when it is not 0): for lines too long for the classified window, and for every line
// where the classified scan is not built.
template <std::size_t Fixed>
const char* scan_leading_general(const char* line, const char* end, std::span<double> values) {
  const std::size_t needed = Fixed != 0 ? Fixed : values.size();
  // Every loop below stops at the zero byte at `end`: it is neither white space nor a digit.
  const char* p = line;
  for (std::size_t k = 0; k < needed; ++k) {
    while (is_blank(*p))
      ++p;
    p = scan_number_general(p, values[k]);
    if (p == nullptr)
      return nullptr;
  }
  return finish_line(line, p, end);
}

// Every word of the line at `line` read as a number, a character at a time.
const char* scan_line_general(const char* line, const char* end, std::span<double> values,
                              std::size_t& count) {
  const char* p = line;
  std::size_t found = 0;
  for (;;) {
    while (is_blank(*p))
      ++p;
    if (*p == '\n')
      break;
    if (found == values.size())
      return nullptr;
    p = scan_number_general(p, values[found]);
    if (p == nullptr)
      return nullptr;
    ++found;
  }
  const char* const next = finish_line(line, p, end);
  if (next != nullptr)
    count = found;
  return next;
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

__extension__ typedef unsigned __int128 Bits128;

// Bit i set where byte i of the 16 at `p` is a decimal digit.
inline unsigned digit_bits(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Signed compares: bytes above 0x7F are negative, never digits.
  const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                       _mm_cmpgt_epi8(_mm_set1_epi8('9' + 1), bytes));
  return static_cast<unsigned>(_mm_movemask_epi8(digits));
}

// Most digits of a shaped number's mantissa: two words of eight. The value is exact below 2^53.
constexpr unsigned MAX_SHAPED_DIGITS = 16;

// Finds the usual shape of the number at `t`, which starts a word of the line:
// [sign] digits "." digits [(E|e) (+|-) digit digit] or [sign] digits, at most sixteen digits,
// then white space.
// False for every other text. The 32 bytes from `t` lie within the line's classified window and
// the padding after it.
inline bool shape_token(const char* t, TokenShape& shape) {
  const char first = t[0];
  const unsigned sign = (first == '-') | (first == '+');
  // Bits of the characters other than digits, the sign excluded.
  const std::uint32_t others = ~(digit_bits(t) | (digit_bits(t + 16) << 16)) & ~sign;
  const auto point = static_cast<unsigned>(std::countr_zero(others));
  const std::uint32_t after_point = others & (others - 1);
  const auto mantissa_end = static_cast<unsigned>(std::countr_zero(after_point));
  if (t[point] != '.') {
    // A whole number: one digit or more, then white space.
    const unsigned digits = point - sign;
    if (!ends_number(t[point]) || digits - 1 > MAX_SHAPED_DIGITS - 1)
      return false;
    shape.sign = static_cast<std::uint8_t>(sign);
    shape.point = static_cast<std::uint8_t>(digits);
    shape.digits = static_cast<std::uint8_t>(digits);
    shape.fraction = 0;
    shape.exponent = 0;
    return true;
  }
  const unsigned mantissa_chars = mantissa_end - sign; // the point included
  if (mantissa_chars - 2 > MAX_SHAPED_DIGITS - 1)      // no digit, or too many
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
inline bool shaped_value(const char* t, const TokenShape& shape, double& value) {
  const char* const digit_text = t + shape.sign;
  std::uint64_t mantissa;
  if (shape.digits < 8) {
    // The digits after the point move down one byte, over it.
    const std::uint64_t word = load_eight(digit_text);
    const std::uint64_t before_point = (std::uint64_t{1} << (8 * shape.point)) - 1;
    const std::uint64_t digits = (word & before_point) | ((word >> 8) & ~before_point);
    mantissa = digits_value(digits, shape.digits);
  } else {
    // Up to seventeen bytes: the point removed as above, in a word of sixteen.
    Bits128 word;
    std::memcpy(&word, digit_text, sizeof word);
    Bits128 digits = word;
    if (shape.point < 16) {
      const Bits128 before_point = (Bits128{1} << (8 * shape.point)) - 1;
      digits = (word & before_point) | ((word >> 8) & ~before_point) |
               (Bits128{static_cast<unsigned char>(digit_text[16])} << 120);
    }
    constexpr std::array<std::uint64_t, 9> scales{1,      10,      100,      1000,     10000,
                                                  100000, 1000000, 10000000, 100000000};
    const unsigned rest = shape.digits - 8u;
    mantissa = digits_value(static_cast<std::uint64_t>(digits), 8) * scales[rest];
    if (rest != 0)
      mantissa += digits_value(static_cast<std::uint64_t>(digits >> 64), rest);
    if (mantissa > plain_decimal::MAX_EXACT_MANTISSA)
      return false;
  }
  int scale = -static_cast<int>(shape.fraction);
  if (shape.exponent != 0) {
    const char* const e = t + shape.exponent;
    const int exponent = (e[2] - '0') * 10 + (e[3] - '0');
    scale += e[1] == '-' ? -exponent : exponent;
  }
  // The mantissa is at most 2^53: a double exactly.
  if (scale < -MAX_EXACT_POWER || scale > MAX_EXACT_POWER)
    return false;
  const double m = static_cast<double>(mantissa);
  const double magnitude = scale < 0 ? m / exact_powers_of_ten[static_cast<std::size_t>(-scale)]
                                     : m * exact_powers_of_ten[static_cast<std::size_t>(scale)];
  value = t[0] == '-' ? -magnitude : magnitude;
  return true;
}

// Lines in a row whose layout is not the remembered one's, after which the memo rests (neither
// compared nor made) for so many lines.
constexpr unsigned MEMO_MISSES = 16;
constexpr unsigned MEMO_REST = 1024;

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
inline bool matches_memo(const ScanMemo& memo, const char* line) {
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

void remember_line(ScanMemo& memo, const char* line, unsigned line_feed) {
  memo.line_feed = line_feed;
  for (unsigned chunk = 0; chunk <= line_feed / 16; ++chunk) {
    _mm_store_si128(reinterpret_cast<__m128i*>(&memo.key[16 * chunk]),
                    shape_key(line + 16 * chunk));
  }
  memo.usable = true;
}

// One bit per byte of the classified window: the first 128 bytes in `low`, the next in `high`.
// Lines whose line feed stands in the first 128 bytes use Bits128 alone.
struct Bits256 {
  Bits128 low;
  Bits128 high;
};

inline Bits256 operator|(Bits256 a, Bits256 b) {
  return {a.low | b.low, a.high | b.high};
}
inline Bits256 operator&(Bits256 a, Bits256 b) {
  return {a.low & b.low, a.high & b.high};
}
inline Bits256 operator~(Bits256 a) {
  return {~a.low, ~a.high};
}

// The bits from `first` on, for a mask of either width.
template <class Mask> inline Mask bits_from(unsigned first);
template <> inline Bits128 bits_from<Bits128>(unsigned first) {
  return ~Bits128{0} << first;
}
template <> inline Bits256 bits_from<Bits256>(unsigned first) {
  if (first < 128)
    return {~Bits128{0} << first, ~Bits128{0}};
  return {0, ~Bits128{0} << (first - 128)};
}

// Word starts: where a separator or the line's start comes before a non-separator.
inline Bits128 word_starts(Bits128 separators) {
  return ~separators & ((separators << 1) | 1);
}
inline Bits256 word_starts(Bits256 separators) {
  const Bits256 before{(separators.low << 1) | 1, (separators.high << 1) | (separators.low >> 127)};
  return ~separators & before;
}

// The set bits of a mask, lowest first.
template <unsigned Words> struct BitQueue {
  std::array<std::uint64_t, Words> words;
  unsigned at = 0;

  // The next set bit into `bit`; false when none is left.
  bool pop(unsigned& bit) {
    while (words[at] == 0) {
      if (++at == Words)
        return false;
    }
    bit = 64 * at + static_cast<unsigned>(std::countr_zero(words[at]));
    words[at] &= words[at] - 1;
    return true;
  }
};

inline BitQueue<2> queue_of(Bits128 bits) {
  return {{static_cast<std::uint64_t>(bits), static_cast<std::uint64_t>(bits >> 64)}};
}
inline BitQueue<4> queue_of(Bits256 bits) {
  return {{static_cast<std::uint64_t>(bits.low), static_cast<std::uint64_t>(bits.low >> 64),
           static_cast<std::uint64_t>(bits.high), static_cast<std::uint64_t>(bits.high >> 64)}};
}

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

// White-space bits of the 128 bytes at `p`, sixteen at a time up to the chunk that holds a line
// feed. False when none of them is a line feed; otherwise `feed_at` is the first one's offset.
// The zero bytes after the buffered text are neither white space nor line feeds nor digits, and
// cover every byte read here past it.
inline bool classify_128(const char* p, Bits128& space, unsigned& feed_at) {
  space = 0;
  for (unsigned chunk = 0; chunk < 128; chunk += 16) {
    unsigned feed;
    space |= Bits128{classify_16(p + chunk, feed)} << chunk;
    if (feed != 0) {
      feed_at = chunk + static_cast<unsigned>(std::countr_zero(feed));
      return true;
    }
  }
  return false;
}

// What a scan takes from a line: `Fixed` numbers (or values.size() when 0) and what follows them
// unexamined, or with `Whole` every word as a number and their count.
template <std::size_t Fixed, bool Whole> struct LineRule {
  static std::size_t wanted(std::span<double> values) { return Fixed != 0 ? Fixed : values.size(); }
  // Whether the memo holds shapes for such a line.
  static bool memo_fits(const ScanMemo& memo, std::span<double> values) {
    if (!memo.usable || memo.whole_line != Whole)
      return false;
    return Whole ? memo.count <= values.size() : memo.count == wanted(values);
  }
};

// The numbers of the line at `line` from the bit masks of its white space, whose line feed is
// at `line_length`: the words' places come from the masks, each number is read on its own, and
// the shapes go to the memo when every number has one.
template <class Mask, std::size_t Fixed, bool Whole>
const char* scan_classified(ScanMemo& memo, const char* line, const char* end, Mask space,
                            unsigned line_length, std::span<double> values, std::size_t& count) {
  using Rule = LineRule<Fixed, Whole>;
  // Separators: white space, and everything from the line feed on. A number read from a word's
  // start ends only at white space, so it is the whole word.
  auto start_queue = queue_of(word_starts(space | bits_from<Mask>(line_length)));
  const std::size_t limit = Rule::wanted(values);
  bool all_shaped = true;
  std::size_t k = 0;
  for (;; ++k) {
    if (!Whole && k == limit)
      break;
    unsigned start;
    if (!start_queue.pop(start)) {
      if (Whole)
        break;
      return nullptr; // fewer numbers than wanted: the caller's reading reports it
    }
    if (Whole && k == limit)
      return nullptr; // more words than values
    // The memo has shapes for so many numbers; a line of more is read a character at a time.
    if (Whole && k == SCAN_MEMO_NUMBERS)
      return scan_line_general(line, end, values, count);
    const char* const t = line + start;
    TokenShape& shape = memo.shapes[k];
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
  if (all_shaped && memo.misses < MEMO_MISSES) {
    memo.count = static_cast<unsigned>(k);
    memo.whole_line = Whole;
    remember_line(memo, line, line_length);
  }
  count = k;
  return line + line_length + 1;
}

// The line at `line` from a classification of its first SCAN_WINDOW bytes; a line that
// differs from the remembered one only in its digits and signs is read with the remembered
// places and shapes, without the classification.
template <std::size_t Fixed, bool Whole>
const char* scan_line_classified(ScanMemo& memo, const char* line, const char* end,
                                 std::span<double> values, std::size_t& count) {
  using Rule = LineRule<Fixed, Whole>;
  // Lines whose layouts keep changing (numbers of varying widths) rest the memo for a while.
  if (memo.misses >= MEMO_MISSES) {
    if (++memo.misses == MEMO_MISSES + MEMO_REST)
      memo.misses = 0;
  } else if (Rule::memo_fits(memo, values)) {
    if (matches_memo(memo, line)) {
      const std::size_t numbers = Whole ? memo.count : Rule::wanted(values);
      bool exact_products = true;
      for (std::size_t k = 0; k < numbers; ++k) {
        const TokenShape& shape = memo.shapes[k];
        exact_products &= shaped_value(line + shape.start, shape, values[k]);
      }
      if (exact_products) {
        memo.misses = 0;
        count = numbers;
        return line + memo.line_feed + 1;
      }
    } else {
      ++memo.misses;
    }
  }

  // The shapes below are this line's; the memo is usable again only if all have one.
  memo.usable = false;

  Bits128 low;
  unsigned feed_at;
  if (classify_128(line, low, feed_at))
    return scan_classified<Bits128, Fixed, Whole>(memo, line, end, low, feed_at, values, count);
  Bits256 wide{low, 0};
  if (classify_128(line + 128, wide.high, feed_at))
    return scan_classified<Bits256, Fixed, Whole>(memo, line, end, wide, 128 + feed_at, values,
                                                  count);
  if (Whole)
    return scan_line_general(line, end, values, count);
  return scan_leading_general<Fixed>(line, end, values);
}

#endif // NORVALEX_CLASSIFIED_SCAN

// The first `Fixed` numbers of a line, or values.size() of them when 0.
template <std::size_t Fixed>
const char* scan_leading_with(ScanMemo& memo, const char* line, const char* end,
                              std::span<double> values) {
#if NORVALEX_CLASSIFIED_SCAN
  std::size_t count = 0;
  return scan_line_classified<Fixed, false>(memo, line, end, values, count);
#else
  (void)memo;
  return scan_leading_general<Fixed>(line, end, values);
#endif
}

} // namespace

const char* scan_leading_numbers_fast(ScanMemo& memo, const char* line, const char* end,
                                      std::span<double> values) noexcept {
  // Six numbers, two coordinates and four values, the commonest width of a field table, with
  // the count known at compile time.
  if (values.size() == COMPILED_WIDTH)
    return scan_leading_with<COMPILED_WIDTH>(memo, line, end, values);
  // The memo has shapes for SCAN_MEMO_NUMBERS numbers.
  if (values.size() > SCAN_MEMO_NUMBERS)
    return scan_leading_general<0>(line, end, values);
  return scan_leading_with<0>(memo, line, end, values);
}

const char* scan_line_numbers_fast(ScanMemo& memo, const char* line, const char* end,
                                   std::span<double> values, std::size_t& count) noexcept {
#if NORVALEX_CLASSIFIED_SCAN
  return scan_line_classified<0, true>(memo, line, end, values, count);
#else
  (void)memo;
  return scan_line_general(line, end, values, count);
#endif
}

} // namespace norvalex
