#include "sf7/sf7_exact.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "sf7/sf7_point_scan.h"
#include "sf7/sf7_points.h"
#include "sf7/sf7_scan_helper.h"
#include "sf7/sf7_table.h"
#include "text/line_scan.h"
#include "text/number_scan.h"
#include "text/text_input.h"

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
  if (!read_line_piece(input, line)) {
    if (std::ferror(input))
      raise_read_failure(reading, errno);
    raise_input_error(reading.file_name, reading.line_number, "Unexpected end of file");
  }
  count_line(reading);
}

void read_next_line(TextInput& input, Sf7Reading& reading, LineBuffer& line) {
  if (!input.read_line(line)) {
    if (input.failed())
      raise_read_failure(reading, input.read_errno);
    raise_input_error(reading.file_name, reading.line_number, "Unexpected end of file");
  }
  count_line(reading);
}

// Splits the line in place into white-space-separated words, as "%s" scans them, and returns
// how many of `words` were filled.
std::size_t split_words(char* text, std::span<char*> words) {
  std::size_t count = 0;
  char* p = text;
  while (count < words.size()) {
    while (is_scan_space(*p))
      ++p;
    if (*p == '\0')
      break;
    words[count++] = p;
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

// What one reading fills, and how it takes the columns: the converter's map (the first six
// names, the converter's units) or a whole table (every name).
//
// The names line defines the columns. With `fixed_columns`, the first that many words are the
// columns and the rest of the line is not read; fewer are "Can not find <fixed> array names".
// Without it (0), every word is a column: fewer than SF7_TABLE_MIN_COLUMNS are "Can not find 2
// array names", more than there are slots "More than <slots> array names". Either way the units
// line must then give as many units, and each point line start with as many numbers; what
// follows them is not read. So the converter's reading is the case of six fixed columns, with
// the messages it always had.
struct TableTarget {
  std::size_t fixed_columns;
  std::span<const UnitRule> units; // rows ended by a row with a null sf7_unit
  std::span<FieldColumn> slots;    // where the columns go, in file order
  std::int32_t& dim1;
  std::int32_t& dim2;
  int* increment_counts;                    // set when not null
  std::array<std::string, 2>* corner_lines; // kept when not null
  std::size_t count = 0;                    // columns found on the names line

  std::span<FieldColumn> columns() const { return slots.first(count); }
  std::size_t points() const {
    return static_cast<std::size_t>(dim1) * static_cast<std::size_t>(dim2);
  }
};

// Keeps `line` as the nearer of the two lines before the increments line, the one kept before
// it as the farther.
void keep_corner_line(TableTarget& table, const LineBuffer& line) {
  if (table.corner_lines == nullptr)
    return;
  std::array<std::string, 2>& corners = *table.corner_lines;
  std::swap(corners[0], corners[1]);
  const std::size_t length = line.length - (line.length > 0 && line.text[line.length - 1] == '\n');
  corners[1].assign(line.text.data(), length);
}

void read_grid_size(const Sf7Reading& reading, const LineBuffer& line, TableTarget& table) {
  const char* p = std::strchr(line.text.data(), ':') + 1;
  std::int64_t first = 0;
  std::int64_t second = 0;
  if (!scan_count(reading, p, first))
    raise_input_error(reading.file_name, reading.line_number, "Unsupported header");
  const bool two_counts = scan_count(reading, p, second);
  if (!two_counts)
    second = 0; // one count describes a line of points
  const std::int64_t dim1 = first + 1;
  const std::int64_t dim2 = second + 1;
  if (dim1 * dim2 > SF7_MAX_POINTS) {
    raise_input_error(reading.file_name, reading.line_number, "Grid too large: %lld*%lld points",
                      static_cast<long long>(dim1), static_cast<long long>(dim2));
  }
  table.dim1 = static_cast<std::int32_t>(dim1);
  table.dim2 = static_cast<std::int32_t>(dim2);
  if (table.increment_counts != nullptr)
    *table.increment_counts = two_counts ? 2 : 1;
}

void read_names(const Sf7Reading& reading, LineBuffer& line, TableTarget& table) {
  std::array<char*, SF7_MAX_LINE_NUMBERS + 1> words{};
  if (table.fixed_columns != 0) {
    const std::size_t wanted = table.fixed_columns;
    if (split_words(line.text.data(), std::span(words).first(wanted)) < wanted)
      raise_input_error(reading.file_name, reading.line_number, "Can not find %d array names",
                        static_cast<int>(wanted));
    table.count = wanted;
  } else {
    const std::size_t most = table.slots.size();
    const std::size_t found = split_words(line.text.data(), std::span(words).first(most + 1));
    if (found < SF7_TABLE_MIN_COLUMNS)
      raise_input_error(reading.file_name, reading.line_number, "Can not find %d array names",
                        static_cast<int>(SF7_TABLE_MIN_COLUMNS));
    if (found > most)
      raise_input_error(reading.file_name, reading.line_number, "More than %d array names",
                        static_cast<int>(most));
    table.count = found;
  }
  for (std::size_t k = 0; k < table.count; ++k) {
    const char* word = words[k];
    // A shortened name would be written as a wrong array name.
    if (std::strlen(word) >= SF7_WORD_FIELD_SIZE) {
      raise_input_error(reading.file_name, reading.line_number,
                        "Array name longer than 7 characters: %s", word);
    }
    FieldColumn& column = table.slots[k];
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

// The row of `units` for `word`, or nullptr.
const UnitRule* find_unit(std::span<const UnitRule> units, const char* word) {
  for (const UnitRule& rule : units) {
    if (rule.sf7_unit == nullptr)
      break;
    if (std::strcmp(rule.sf7_unit, word) == 0)
      return &rule;
  }
  return nullptr;
}

void read_units(const Sf7Reading& reading, LineBuffer& line, TableTarget& table) {
  std::array<char*, SF7_MAX_LINE_NUMBERS> words{};
  if (split_words(line.text.data(), std::span(words).first(table.count)) < table.count)
    raise_input_error(reading.file_name, reading.line_number, "Can not find %d array units",
                      static_cast<int>(table.count));
  for (std::size_t k = 0; k < table.count; ++k) {
    const char* word = words[k];
    FieldColumn& column = table.slots[k];
    const UnitRule* rule = find_unit(table.units, word);
    if (rule == nullptr) {
      raise_input_error(reading.file_name, reading.line_number, "Unknown unit: %s for column %s",
                        word, column.sf7_name.data());
    }
    // Every unit of the converter's table fits the field; a caller's table may hold longer ones,
    // which the field cannot keep.
    if (std::strlen(word) >= SF7_WORD_FIELD_SIZE) {
      raise_input_error(reading.file_name, reading.line_number,
                        "Unit longer than 7 characters: %s for column %s", word,
                        column.sf7_name.data());
    }
    std::strcpy(column.sf7_unit.data(), word);
    column.out_unit = rule->si_unit;
    column.factor = rule->factor;
  }
}

// Hands one formatted progress line to the reading's progress function, when it has one.
[[gnu::format(gnu_printf, 2, 3)]] void progress(const Sf7Reading& reading, const char* format,
                                                ...) {
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

void allocate_columns(const Sf7Reading& reading, const TableTarget& table) {
  const std::size_t points = table.points();
  for (FieldColumn& column : table.columns()) {
    if (column.factor == 0)
      continue;
    column.data.reset(new (std::nothrow) double[points]);
    if (!column.data)
      raise_out_of_memory(reading);
  }
}

// The point at `index` in the order of the point lines: (i,j) in error lines.
struct PointPlace {
  std::int32_t i;
  std::int32_t j;
};

PointPlace place_of(const TableTarget& table, std::size_t index) {
  const auto row = static_cast<std::size_t>(table.dim2);
  return {static_cast<std::int32_t>(index / row), static_cast<std::int32_t>(index % row)};
}

// Reads the point at `index` as the exact path does: one piece into the line buffer, "%lf" once
// for each column.
template <class Input>
void read_point_exact(Input& input, Sf7Reading& reading, LineBuffer& line, std::span<double> values,
                      const TableTarget& table, std::size_t index) {
  read_next_line(input, reading, line);
  // A point line longer than the line buffer must not be read as two points.
  if (scan_numbers_exact(line.text.data(), values) < static_cast<int>(values.size()) ||
      line_goes_on(input, line)) {
    const PointPlace place = place_of(table, index);
    raise_input_error(reading.file_name, reading.line_number, "Error reading point (%d,%d)",
                      place.i, place.j);
  }
}

// Stores the point at `index`, read at the reading's current line.
template <std::size_t Fixed>
void store_point(const Sf7Reading& reading, Sf7PointTargets& targets, const TableTarget& table,
                 std::size_t index, std::span<const double> values) {
  if (!targets.store<Fixed>(index, values)) {
    const PointPlace place = place_of(table, index);
    raise_input_error(reading.file_name, reading.line_number, "Value out of range at point (%d,%d)",
                      place.i, place.j);
  }
}

// Room for the numbers of one point line, as many as the table has columns.
struct PointValues {
  std::array<double, SF7_MAX_LINE_NUMBERS> numbers{};
  std::span<double> of(const TableTarget& table) { return std::span(numbers).first(table.count); }
};

// The exact path's point lines. `Fixed` is the table's column count when it is known at compile
// time (the converter's six), else 0.
template <std::size_t Fixed>
void read_points_with(std::FILE* input, Sf7Reading& reading, LineBuffer& line, TableTarget& table) {
  Sf7PointTargets targets(table.columns());
  PointValues room;
  const std::span<double> values = room.of(table);
  for (std::size_t index = 0; index < table.points(); ++index) {
    read_point_exact(input, reading, line, values, table, index);
    store_point<Fixed>(reading, targets, table, index, values);
  }
}

// Reads the point at `index` from the block input into `values`, one number per column: in
// place when the fast scan takes its line, else by the exact path.
template <std::size_t Fixed>
void read_point(TextInput& input, Sf7Reading& reading, LineBuffer& line, ScanMemo& memo,
                std::span<double> values, Sf7PointTargets& targets, const TableTarget& table,
                std::size_t index) {
  // Whole lines up to the piece limit are in the buffer, unless the input ends before.
  if (input.buffered() < TEXT_LOOKAHEAD)
    input.fill(TEXT_LOOKAHEAD);
  const char* next = scan_leading_numbers_fast(memo, input.pos, input.end, values);
  if (next != nullptr) {
    input.pos = next;
    count_line(reading);
  } else {
    read_point_exact(input, reading, line, values, table, index);
  }
  store_point<Fixed>(reading, targets, table, index, values);
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
inline constexpr std::size_t HELPER_MIN_HALF = TEXT_LOOKAHEAD;

// The share of the buffered text that the reading's own thread scans, in 64ths: it starts at a
// half and moves towards the thread that finishes first, so that neither waits long for the
// other (the helper's thread may share its core with other work).
struct HelperShare {
  static constexpr std::size_t STEPS = 64;
  std::size_t near = STEPS / 2;

  void helper_was_slower() { near = std::min(near + 1, STEPS - STEPS / 8); }
  void helper_was_faster() { near = std::max(near - 1, STEPS / 4); }
};

HelperSplit split_for_helper(const TextInput& input, const Sf7Reading& reading,
                             const HelperShare& share) {
  const std::size_t buffered = input.buffered();
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

// The point lines from the block input, with the helper thread when the options allow it.
template <std::size_t Fixed>
void read_points_with(TextInput& input, Sf7Reading& reading, LineBuffer& line, TableTarget& table) {
  Sf7PointTargets targets(table.columns());
  ScanMemo memo;
  PointValues room;
  const std::span<double> values = room.of(table);
  std::optional<Sf7ScanHelper> helper;
  if (reading.options.scan_threads > 1) {
    helper.emplace(table.columns());
    // The stream's next block is read while this one is scanned; without the memory, it is read
    // when needed.
    input.enable_read_ahead();
  }
  HelperShare share;
  const std::size_t total = table.points();
  std::size_t index = 0;
  while (index < total) {
    if (input.buffered() < TEXT_LOOKAHEAD)
      input.fill(TEXT_LOOKAHEAD);
    const HelperSplit split = helper ? split_for_helper(input, reading, share) : HelperSplit{};
    if (split.far == nullptr) {
      read_point<Fixed>(input, reading, line, memo, values, targets, table, index++);
      continue;
    }
    if (!helper->start(input.pos, split.far, split.stop, input.end, index, total,
                       input.read_ahead_wanted() ? &input : nullptr)) {
      helper.reset(); // no thread to be had: the reading goes on alone, without trying again
      read_point<Fixed>(input, reading, line, memo, values, targets, table, index++);
      continue;
    }
    // The near half, as always; an error in it waits for the helper on the way out.
    const std::size_t first = index;
    while (input.pos < split.far && index < total)
      read_point<Fixed>(input, reading, line, memo, values, targets, table, index++);
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

// The point lines, by the exact path or from the block input. The converter's six columns go
// with the count known at compile time, as fast as ever.
template <class Input>
void read_points(Input& input, Sf7Reading& reading, LineBuffer& line, TableTarget& table) {
  if (table.count == SF7_COLUMN_COUNT)
    read_points_with<SF7_COLUMN_COUNT>(input, reading, line, table);
  else
    read_points_with<0>(input, reading, line, table);
}

// The one reading of every table: the header, the names and units lines, then the point lines.
template <class Input> void read_table(Input& input, Sf7Reading& reading, TableTarget& table) {
  LineBuffer line;
  do {
    read_next_line(input, reading, line);
    keep_corner_line(table, line);
  } while (std::strstr(line.text.data(), "SF7") == nullptr);
  for (;;) {
    read_next_line(input, reading, line);
    if (std::strstr(line.text.data(), "increments:") != nullptr)
      break;
    keep_corner_line(table, line);
  }
  read_grid_size(reading, line, table);
  progress(reading, "Grid dimensions: %d*%d=%d points\n", table.dim1, table.dim2,
           table.dim1 * table.dim2);
  progress(reading, "Decoding array names\n");
  do {
    read_next_line(input, reading, line);
  } while (line.text[0] != '\n');

  read_next_line(input, reading, line);
  read_names(reading, line, table);
  progress(reading, "Decoding array units\n");
  read_next_line(input, reading, line);
  read_units(reading, line, table);
  for (const FieldColumn& column : table.columns()) {
    if (column.factor != 0) {
      progress(reading, "%s->%s, [%g*%s]->[%s]\n", column.sf7_name.data(), column.out_name,
               column.factor, column.sf7_unit.data(), column.out_unit);
    }
  }
  progress(reading, "Allocating memory\n");
  allocate_columns(reading, table);
  progress(reading, "Reading file\n");
  read_points(input, reading, line, table);
}

// Reads `input` by the exact path or in blocks, as `tuning` says.
void read_table(std::FILE* input, Sf7Reading& reading, TableTarget& table,
                const Sf7ReadTuning& tuning) {
  if (tuning.exact_path_only) {
    read_table(input, reading, table);
    return;
  }
  // The whole input goes through the block buffer, header lines included.
  TextInput blocks;
  if (!blocks.open(input, tuning.block_size))
    raise_out_of_memory(reading);
  read_table(blocks, reading, table);
}

// Opens `path` for the reading; a file that cannot be opened throws "<path>: <the system's
// text>". Binary: the reader reads CR LF as LF itself, and a text stream on Windows would also
// end at a 0x1A byte.
OwnedFile open_input(const Sf7Reading& reading, const char* path) {
  OwnedFile input(platform_open_file(path, "rb"));
  if (!input)
    raise_read_failure(reading, errno);
  return input;
}

// Leaves a table's columns at those that the names line gave, however its reading ends. The
// slots after them were never filled, and taking them away moves no column.
struct TableColumnsTrim {
  std::vector<FieldColumn>& columns;
  const TableTarget& target;
  ~TableColumnsTrim() { columns.resize(target.count); }
};

} // namespace

void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map,
                    const Sf7ReadTuning& tuning) {
  TableTarget target{SF7_COLUMN_COUNT, unit_rules, map.columns, map.dim1,
                     map.dim2,         nullptr,    nullptr};
  read_table(input, reading, target, tuning);
}

void read_field_map(std::FILE* input, Sf7Reading& reading, FieldMap& map) {
  read_field_map(input, reading, map, Sf7ReadTuning{});
}

void read_field_map_file(const char* path, FieldMap& map, const Sf7ReadOptions& options,
                         const Sf7ReadTuning& tuning) {
  Sf7Reading reading{path, 0, options};
  const auto input = open_input(reading, path);
  read_field_map(input.get(), reading, map, tuning);
}

void read_field_map_file(const char* path, FieldMap& map, const Sf7ReadOptions& options) {
  read_field_map_file(path, map, options, Sf7ReadTuning{});
}

void read_sf7_table(std::FILE* input, Sf7Reading& reading, Sf7Table& table,
                    std::span<const UnitRule> units, const Sf7ReadTuning& tuning) {
  table.dim1 = 0;
  table.dim2 = 0;
  table.increment_counts = 0;
  table.corner_lines = {};
  table.columns.clear();
  // Every slot there may be, so that no column moves once its name is in place: out_name may
  // point into it.
  table.columns.resize(SF7_TABLE_MAX_COLUMNS);
  TableTarget target{0,
                     units,
                     table.columns,
                     table.dim1,
                     table.dim2,
                     &table.increment_counts,
                     &table.corner_lines};
  const TableColumnsTrim trim{table.columns, target};
  read_table(input, reading, target, tuning);
}

void read_sf7_table_file(const char* path, Sf7Table& table, std::span<const UnitRule> units,
                         const Sf7ReadOptions& options, const Sf7ReadTuning& tuning) {
  Sf7Reading reading{path, 0, options};
  const auto input = open_input(reading, path);
  read_sf7_table(input.get(), reading, table, units, tuning);
}

} // namespace norvalex
