#include "sf7/sf7_exact.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "sf7/sf7_fast_scan.h"
#include "sf7/sf7_input.h"
#include "sf7/sf7_points.h"
#include "sf7/sf7_portable_scan.h"
#include "sf7/sf7_scan_helper.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace norvalex {

// The renamed names are code page 437 bytes: a box-drawing vertical line (0xB3) around E or B,
// and the letter phi (0xED) after H or A.
constexpr std::array<NameRule, 5> name_rules{{
    {"\xB3"
     "E\xB3",
     "|E|"},
    {"\xB3"
     "B\xB3",
     "|B|"},
    {"H\xED", "Bphi"},
    {"A\xED", "Aphi"},
    {nullptr, nullptr},
}};

constexpr std::array<UnitRule, 9> unit_rules{{
    {"(cm)", "m", 0.01},
    {"(mm)", "m", 0.001},
    {"(G)", "T", 0.0001},
    {"(G-cm)", "Tm", 1e-6},
    {"(MV/m)", "V/m", 1e6},
    {"(A/m)", "T", 1.25664e-6}, // this rounded value exactly, not 4*pi*1e-7
    {"(V/cm)", "V/m", 100},
    {"(V)", "V", 1},
    {nullptr, nullptr, 0},
}};

bool read_line_exact(std::FILE* input, LineBuffer& line) {
  std::size_t length = 0;
  while (length < LINE_PIECE_LIMIT) {
    int c = platform_getc_unlocked(input);
    if (c == EOF)
      break;
    if (c == '\r') {
      int next = platform_getc_unlocked(input);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        ungetc(next, input);
      }
    }
    line.text[length++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  line.text[length] = '\0';
  line.length = length;
  return length > 0;
}

int scan_point_exact(const char* line, std::span<double, SF7_COLUMN_COUNT> values) {
#ifdef __GLIBC__
  // glibc's "%lf" is the reference: the portable scan reproduces it elsewhere.
  int found = std::sscanf(line, "%lf%lf%lf%lf%lf%lf", &values[0], &values[1], &values[2],
                          &values[3], &values[4], &values[5]);
  return found < 0 ? 0 : found;
#else
  return scan_point_portable(line, values);
#endif
}

namespace {

#ifdef __GLIBC__
// SF7_MAX_LINE_NUMBERS "%lf" directives; the format of n of them is its last 3*n characters.
constexpr std::array<char, 3 * SF7_MAX_LINE_NUMBERS + 1> all_directives = [] {
  std::array<char, 3 * SF7_MAX_LINE_NUMBERS + 1> text{};
  for (std::size_t k = 0; k < SF7_MAX_LINE_NUMBERS; ++k) {
    text[3 * k] = '%';
    text[3 * k + 1] = 'l';
    text[3 * k + 2] = 'f';
  }
  return text;
}();

// One sscanf with the given directives and a target for each of SF7_MAX_LINE_NUMBERS of them:
// the targets past the last directive are passed and never written.
template <std::size_t... K>
int scan_directives(const char* line, const char* format,
                    const std::array<double*, SF7_MAX_LINE_NUMBERS>& targets,
                    std::index_sequence<K...>) {
  return std::sscanf(line, format, targets[K]...);
}
#endif

} // namespace

int scan_numbers_exact(const char* line, std::span<double> values) {
  if (values.size() == SF7_COLUMN_COUNT)
    return scan_point_exact(line, values.first<SF7_COLUMN_COUNT>());
#ifdef __GLIBC__
  double unused = 0;
  std::array<double*, SF7_MAX_LINE_NUMBERS> targets{};
  for (std::size_t k = 0; k < SF7_MAX_LINE_NUMBERS; ++k)
    targets[k] = k < values.size() ? &values[k] : &unused;
  const char* const format = all_directives.data() + 3 * (SF7_MAX_LINE_NUMBERS - values.size());
  const int found =
      scan_directives(line, format, targets, std::make_index_sequence<SF7_MAX_LINE_NUMBERS>());
  return found < 0 ? 0 : found;
#else
  return scan_numbers_portable(line, values);
#endif
}

namespace {

// Counts one more line read. The count is 32 bits wide, so no error line could name a line after
// line 2147483647: such an input is refused there instead of wrapping the count.
void count_line(Sf7Reading& reading) {
  if (reading.line_number == INT32_MAX)
    raise_input_error(reading.file_name, reading.line_number, "More than %d lines", INT32_MAX);
  ++reading.line_number;
}

// A stream that fails to read (a folder given as input, for one) is not a short file.
[[noreturn]] void raise_read_failure(const Sf7Reading& reading, int error_number) {
  raise_input_failure(reading.file_name, error_number, "%s: %s", reading.file_name,
                      platform_error_text(error_number));
}

// Reads the next line into `line` and counts it; the end of the input is an error here.
void read_next_line(std::FILE* input, Sf7Reading& reading, LineBuffer& line) {
  if (!read_line_exact(input, line)) {
    if (std::ferror(input))
      raise_read_failure(reading, errno);
    raise_input_error(reading.file_name, reading.line_number, "Unexpected end of file");
  }
  count_line(reading);
}

void read_next_line(Sf7Input& input, Sf7Reading& reading, LineBuffer& line) {
  if (!read_line_block(input, line)) {
    if (sf7_input_failed(input))
      raise_read_failure(reading, input.read_errno);
    raise_input_error(reading.file_name, reading.line_number, "Unexpected end of file");
  }
  count_line(reading);
}

// True when a line that filled the line buffer goes on past its line feed's place. The line
// feed of a line of exactly 1023 characters is consumed here, so the next read starts at the
// next line.
bool point_line_goes_on(std::FILE* input, const LineBuffer& line) {
  if (line.length < LINE_PIECE_LIMIT || line.text[line.length - 1] == '\n')
    return false;
  int c = platform_getc_unlocked(input);
  if (c == '\r') {
    c = platform_getc_unlocked(input);
    return c != '\n';
  }
  return c != EOF && c != '\n';
}

bool point_line_goes_on(Sf7Input& input, const LineBuffer& line) {
  return block_line_goes_on(input, line);
}

bool is_scan_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Splits the line in place into white-space-separated words, as "%s" scans them, and returns
// how many of `words` were filled.
int split_words(char* text, std::span<char*, SF7_COLUMN_COUNT> words) {
  int count = 0;
  char* p = text;
  while (count < SF7_COLUMN_COUNT) {
    while (is_scan_space(*p))
      ++p;
    if (*p == '\0')
      break;
    words[static_cast<std::size_t>(count++)] = p;
    while (*p != '\0' && !is_scan_space(*p))
      ++p;
    if (*p != '\0')
      *p++ = '\0';
  }
  return count;
}

// Scans one increment count as "%d" does (leading white space, optional sign, decimal digits),
// but rejects a negative count or one that does not fit in an int instead of wrapping it.
// False when no number stands at `p`.
bool scan_count(const Sf7Reading& reading, const char*& p, std::int64_t& value) {
  const char* start = p;
  while (is_scan_space(*start))
    ++start;
  const char* digits = start + (*start == '+' || *start == '-');
  if (*digits < '0' || *digits > '9')
    return false;
  std::int64_t magnitude = 0;
  const char* end = digits;
  for (; *end >= '0' && *end <= '9'; ++end) {
    if (magnitude <= INT_MAX)
      magnitude = magnitude * 10 + (*end - '0');
  }
  if ((*start == '-' && magnitude != 0) || magnitude > INT_MAX) {
    raise_input_error(reading.file_name, reading.line_number, "Increment count out of range: %.*s",
                      static_cast<int>(end - start), start);
  }
  p = end;
  value = magnitude;
  return true;
}

void read_grid_size(const Sf7Reading& reading, const LineBuffer& line, FieldMap& map) {
  const char* p = std::strchr(line.text.data(), ':') + 1;
  std::int64_t first = 0;
  std::int64_t second = 0;
  if (!scan_count(reading, p, first))
    raise_input_error(reading.file_name, reading.line_number, "Unsupported header");
  if (!scan_count(reading, p, second))
    second = 0; // one count describes a line of points
  const std::int64_t dim1 = first + 1;
  const std::int64_t dim2 = second + 1;
  if (dim1 * dim2 > SF7_MAX_POINTS) {
    raise_input_error(reading.file_name, reading.line_number, "Grid too large: %lld*%lld points",
                      static_cast<long long>(dim1), static_cast<long long>(dim2));
  }
  map.dim1 = static_cast<std::int32_t>(dim1);
  map.dim2 = static_cast<std::int32_t>(dim2);
}

// The first six words of the names or units line; fewer end the reading with `missing_message`.
std::array<char*, SF7_COLUMN_COUNT> six_words(const Sf7Reading& reading, LineBuffer& line,
                                              const char* missing_message) {
  std::array<char*, SF7_COLUMN_COUNT> words{};
  if (split_words(line.text.data(), words) < SF7_COLUMN_COUNT)
    raise_input_error(reading.file_name, reading.line_number, "%s", missing_message);
  return words;
}

void read_names(const Sf7Reading& reading, LineBuffer& line, FieldMap& map) {
  const auto words = six_words(reading, line, "Can not find 6 array names");
  for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
    const char* word = words[k];
    // A shortened name would be written as a wrong array name.
    if (std::strlen(word) >= SF7_WORD_FIELD_SIZE) {
      raise_input_error(reading.file_name, reading.line_number,
                        "Array name longer than 7 characters: %s", word);
    }
    FieldColumn& column = map.columns[k];
    std::strcpy(column.sf7_name.data(), word);
    column.out_name = column.sf7_name.data();
    for (const NameRule* rule = name_rules.data(); rule->sf7_name != nullptr; ++rule) {
      if (std::strcmp(rule->sf7_name, word) == 0) {
        column.out_name = rule->out_name;
        break;
      }
    }
  }
}

void read_units(const Sf7Reading& reading, LineBuffer& line, FieldMap& map) {
  const auto words = six_words(reading, line, "Can not find 6 array units");
  for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
    const char* word = words[k];
    FieldColumn& column = map.columns[k];
    const UnitRule* rule = unit_rules.data();
    while (rule->sf7_unit != nullptr && std::strcmp(rule->sf7_unit, word) != 0)
      ++rule;
    // Every unit of the table fits the field, so a longer word is an unknown unit too.
    if (rule->sf7_unit == nullptr) {
      raise_input_error(reading.file_name, reading.line_number, "Unknown unit: %s for column %s",
                        word, column.sf7_name.data());
    }
    std::strcpy(column.sf7_unit.data(), word);
    column.out_unit = rule->si_unit;
    column.factor = rule->factor;
  }
}

// Hands one formatted progress line to the reading's progress function, when it has one.
[[gnu::format(printf, 2, 3)]] void progress(const Sf7Reading& reading, const char* format, ...) {
  if (reading.options.progress == nullptr)
    return;
  std::va_list args;
  va_start(args, format);
  const std::string line = format_whole_text(format, args);
  va_end(args);
  reading.options.progress(line.c_str());
}

[[noreturn]] void raise_out_of_memory(const Sf7Reading& reading) {
  raise_input_failure(reading.file_name, ENOMEM, "Not enough memory");
}

void allocate_columns(const Sf7Reading& reading, FieldMap& map) {
  const std::size_t points =
      static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
  for (FieldColumn& column : map.columns) {
    if (column.factor == 0)
      continue;
    column.data.reset(new (std::nothrow) double[points]);
    if (!column.data)
      raise_out_of_memory(reading);
    platform_advise_huge_pages(column.data.get(), points * sizeof(double));
  }
}

// The point at `index` in the order of the point lines: (i,j) in error lines.
struct PointPlace {
  std::int32_t i;
  std::int32_t j;
};

PointPlace place_of(const FieldMap& map, std::size_t index) {
  const auto row = static_cast<std::size_t>(map.dim2);
  return {static_cast<std::int32_t>(index / row), static_cast<std::int32_t>(index % row)};
}

// Reads the point at `index` as the exact path does: one piece into the line buffer, "%lf" six
// times.
template <class Input>
void read_point_exact(Input& input, Sf7Reading& reading, LineBuffer& line,
                      std::span<double, SF7_COLUMN_COUNT> values, const FieldMap& map,
                      std::size_t index) {
  read_next_line(input, reading, line);
  // A point line longer than the line buffer must not be read as two points.
  if (scan_point_exact(line.text.data(), values) < SF7_COLUMN_COUNT ||
      point_line_goes_on(input, line)) {
    const PointPlace place = place_of(map, index);
    raise_input_error(reading.file_name, reading.line_number, "Error reading point (%d,%d)",
                      place.i, place.j);
  }
}

// Stores the point at `index`, read at the reading's current line.
void store_point(const Sf7Reading& reading, Sf7PointTargets& targets, const FieldMap& map,
                 std::size_t index, std::span<const double, SF7_COLUMN_COUNT> values) {
  if (!targets.store(index, values)) {
    const PointPlace place = place_of(map, index);
    raise_input_error(reading.file_name, reading.line_number, "Value out of range at point (%d,%d)",
                      place.i, place.j);
  }
}

std::size_t point_count(const FieldMap& map) {
  return static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
}

void read_points(std::FILE* input, Sf7Reading& reading, LineBuffer& line, FieldMap& map) {
  Sf7PointTargets targets(map);
  std::array<double, SF7_COLUMN_COUNT> values{};
  for (std::size_t index = 0; index < point_count(map); ++index) {
    read_point_exact(input, reading, line, values, map, index);
    store_point(reading, targets, map, index, values);
  }
}

// Reads the point at `index` from the block input: in place when the fast scan takes its line,
// else by the exact path.
void read_point(Sf7Input& input, Sf7Reading& reading, LineBuffer& line, Sf7ScanMemo& memo,
                Sf7PointTargets& targets, const FieldMap& map, std::size_t index) {
  std::array<double, SF7_COLUMN_COUNT> values{};
  // Whole lines up to the piece limit are in the buffer, unless the input ends before.
  if (static_cast<std::size_t>(input.end - input.pos) < SF7_INPUT_LOOKAHEAD)
    fill_sf7_input(input, SF7_INPUT_LOOKAHEAD);
  const char* next = scan_point_fast(memo, input.pos, input.end, values);
  if (next != nullptr) {
    input.pos = next;
    count_line(reading);
  } else {
    read_point_exact(input, reading, line, values, map, index);
  }
  store_point(reading, targets, map, index, values);
}

// Where the buffered text is cut for the helper: the near half from the input's position to
// `far`, the far half's complete lines from `far` to `stop`.
struct HelperSplit {
  const char* far = nullptr;
  const char* stop = nullptr;
};

// The smallest far half handed to the helper. It keeps a lookahead's worth of text after the
// near half, so that the near half is read without refilling (and so moving) the buffer that
// the helper reads.
inline constexpr std::size_t HELPER_MIN_HALF = SF7_INPUT_LOOKAHEAD;

// The share of the buffered text that the reading's own thread scans, in 64ths: it starts at a
// half and moves towards the thread that finishes first, so that neither waits long for the
// other (the helper's thread may share its core with other work).
struct HelperShare {
  static constexpr std::size_t STEPS = 64;
  std::size_t near = STEPS / 2;

  void helper_was_slower() { near = std::min(near + 1, STEPS - STEPS / 8); }
  void helper_was_faster() { near = std::max(near - 1, STEPS / 4); }
};

HelperSplit split_for_helper(const Sf7Input& input, const Sf7Reading& reading,
                             const HelperShare& share) {
  const auto buffered = static_cast<std::size_t>(input.end - input.pos);
  // No line count may pass the largest one while the helper scans: every line holds a byte.
  if (buffered < 4 * HELPER_MIN_HALF ||
      static_cast<std::size_t>(INT32_MAX - reading.line_number) <= buffered)
    return {};
  const char* middle = input.pos + buffered / HelperShare::STEPS * share.near;
  const auto* feed = static_cast<const char*>(
      std::memchr(middle, '\n', static_cast<std::size_t>(input.end - middle)));
  if (feed == nullptr)
    return {};
  const char* far = feed + 1;
  const char* stop = input.end;
  while (stop > far && stop[-1] != '\n')
    --stop;
  if (static_cast<std::size_t>(stop - far) < HELPER_MIN_HALF)
    return {};
  return {far, stop};
}

void read_points(Sf7Input& input, Sf7Reading& reading, LineBuffer& line, FieldMap& map) {
  Sf7PointTargets targets(map);
  Sf7ScanMemo memo;
  std::optional<Sf7ScanHelper> helper;
  if (reading.options.scan_threads > 1) {
    helper.emplace(map);
    // The stream's next block is read while this one is scanned; without the memory, it is read
    // when needed.
    enable_sf7_read_ahead(input);
  }
  HelperShare share;
  const std::size_t total = point_count(map);
  std::size_t index = 0;
  while (index < total) {
    if (static_cast<std::size_t>(input.end - input.pos) < SF7_INPUT_LOOKAHEAD)
      fill_sf7_input(input, SF7_INPUT_LOOKAHEAD);
    const HelperSplit split = helper ? split_for_helper(input, reading, share) : HelperSplit{};
    if (split.far == nullptr) {
      read_point(input, reading, line, memo, targets, map, index++);
      continue;
    }
    if (!helper->start(input.pos, split.far, split.stop, input.end, index, total,
                       sf7_read_ahead_wanted(input) ? &input : nullptr)) {
      helper.reset(); // no thread to be had: the reading goes on alone, without trying again
      read_point(input, reading, line, memo, targets, map, index++);
      continue;
    }
    // The near half, as always; an error in it waits for the helper on the way out.
    const std::size_t first = index;
    while (input.pos < split.far && index < total)
      read_point(input, reading, line, memo, targets, map, index++);
    if (helper->finished())
      share.helper_was_faster();
    else
      share.helper_was_slower();
    const Sf7ScanHelper::Result result = helper->wait();
    // The helper's points follow those of the near half only where both counted its lines
    // alike (a longer line is read in pieces, or refused); otherwise the far half is read here
    // as well, every point the helper stored stored again.
    if (input.pos == split.far && index - first == result.near_lines) {
      input.pos = result.next;
      index += result.lines;
      reading.line_number += static_cast<std::int32_t>(result.lines);
    }
  }
}

template <class Input> void read_map(Input& input, Sf7Reading& reading, FieldMap& map) {
  LineBuffer line;
  do {
    read_next_line(input, reading, line);
  } while (std::strstr(line.text.data(), "SF7") == nullptr);
  do {
    read_next_line(input, reading, line);
  } while (std::strstr(line.text.data(), "increments:") == nullptr);
  read_grid_size(reading, line, map);
  progress(reading, "Grid dimensions: %d*%d=%d points\n", map.dim1, map.dim2, map.dim1 * map.dim2);
  progress(reading, "Decoding array names\n");
  do {
    read_next_line(input, reading, line);
  } while (line.text[0] != '\n');

  read_next_line(input, reading, line);
  read_names(reading, line, map);
  progress(reading, "Decoding array units\n");
  read_next_line(input, reading, line);
  read_units(reading, line, map);
  for (const FieldColumn& column : map.columns) {
    if (column.factor != 0) {
      progress(reading, "%s->%s, [%g*%s]->[%s]\n", column.sf7_name.data(), column.out_name,
               column.factor, column.sf7_unit.data(), column.out_unit);
    }
  }
  progress(reading, "Allocating memory\n");
  allocate_columns(reading, map);
  progress(reading, "Reading file\n");
  read_points(input, reading, line, map);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map,
                    const Sf7ReadTuning& tuning) {
  if (tuning.exact_path_only) {
    read_map(input, reading, map);
    return;
  }
  // The whole input goes through the block buffer, header lines included.
  Sf7Input blocks;
  if (!open_sf7_input(blocks, input, tuning.block_size))
    raise_out_of_memory(reading);
  read_map(blocks, reading, map);
}

void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map) {
  read_field_map(input, reading, map, Sf7ReadTuning{});
}

void read_field_map_file(const char* path, FieldMap& map, const Sf7ReadOptions& options,
                         const Sf7ReadTuning& tuning) {
  Sf7Reading reading{path, 0, options};
  // Binary: the reader reads CR LF as LF itself, and a text stream on Windows would also end at
  // a 0x1A byte.
  const std::unique_ptr<std::FILE, FileCloser> input(platform_open_file(path, "rb"));
  if (!input)
    raise_read_failure(reading, errno);
  read_field_map(input.get(), reading, map, tuning);
}

void read_field_map_file(const char* path, FieldMap& map, const Sf7ReadOptions& options) {
  read_field_map_file(path, map, options, Sf7ReadTuning{});
}

} // namespace norvalex
