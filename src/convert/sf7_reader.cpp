#include "convert/sf7_reader.h"

#include "cli/diagnostics.h"
#include "convert/sf7_fast_scan.h"
#include "convert/sf7_input.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

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
    int c = getc_unlocked(input);
    if (c == EOF)
      break;
    if (c == '\r') {
      int next = getc_unlocked(input);
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
  int found = std::sscanf(line, "%lf%lf%lf%lf%lf%lf", &values[0], &values[1], &values[2],
                          &values[3], &values[4], &values[5]);
  return found < 0 ? 0 : found;
}

bool sf7_exact_path_only = false;
std::size_t sf7_input_block_size = SF7_INPUT_BLOCK_SIZE;

namespace {

// Counts one more line read. The count is 32 bits wide, so no error line could name a line after
// line 2147483647: such an input is refused there instead of wrapping the count.
void count_line() {
  if (input_line_number == INT32_MAX)
    report_error("More than %d lines\n", INT32_MAX);
  ++input_line_number;
}

// Reads the next line into `line` and counts it; the end of the input is an error here.
void read_next_line(std::FILE* input, LineBuffer& line) {
  if (!read_line_exact(input, line)) {
    // A stream that fails to read (a folder given as input, for one) is not a short file.
    if (std::ferror(input))
      report_fatal("%s: %s\n", input_file_name, std::strerror(errno));
    report_error("Unexpected end of file\n");
  }
  count_line();
}

void read_next_line(Sf7Input& input, LineBuffer& line) {
  if (!read_line_block(input, line)) {
    if (sf7_input_failed(input))
      report_fatal("%s: %s\n", input_file_name, std::strerror(input.read_errno));
    report_error("Unexpected end of file\n");
  }
  count_line();
}

// True when a line that filled the line buffer goes on past its line feed's place. The line
// feed of a line of exactly 1023 characters is consumed here, so the next read starts at the
// next line.
bool point_line_goes_on(std::FILE* input, const LineBuffer& line) {
  if (line.length < LINE_PIECE_LIMIT || line.text[line.length - 1] == '\n')
    return false;
  int c = getc_unlocked(input);
  if (c == '\r') {
    c = getc_unlocked(input);
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
bool scan_count(const char*& p, std::int64_t& value) {
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
    report_error("Increment count out of range: %.*s\n", static_cast<int>(end - start), start);
  }
  p = end;
  value = magnitude;
  return true;
}

void read_grid_size(const LineBuffer& line, FieldMap& map) {
  const char* p = std::strchr(line.text.data(), ':') + 1;
  std::int64_t first = 0;
  std::int64_t second = 0;
  if (!scan_count(p, first))
    report_error("Unsupported header\n");
  if (!scan_count(p, second))
    second = 0; // one count describes a line of points
  const std::int64_t dim1 = first + 1;
  const std::int64_t dim2 = second + 1;
  if (dim1 * dim2 > SF7_MAX_POINTS) {
    report_error("Grid too large: %lld*%lld points\n", static_cast<long long>(dim1),
                 static_cast<long long>(dim2));
  }
  map.dim1 = static_cast<std::int32_t>(dim1);
  map.dim2 = static_cast<std::int32_t>(dim2);
}

// The first six words of the names or units line; fewer end the run with `missing_message`.
std::array<char*, SF7_COLUMN_COUNT> six_words(LineBuffer& line, const char* missing_message) {
  std::array<char*, SF7_COLUMN_COUNT> words{};
  if (split_words(line.text.data(), words) < SF7_COLUMN_COUNT)
    report_error("%s", missing_message);
  return words;
}

void read_names(LineBuffer& line, FieldMap& map) {
  const auto words = six_words(line, "Can not find 6 array names\n");
  for (int k = 0; k < SF7_COLUMN_COUNT; ++k) {
    const char* word = words[static_cast<std::size_t>(k)];
    // A shortened name would be written as a wrong array name.
    if (std::strlen(word) >= SF7_WORD_FIELD_SIZE) {
      report_error("Array name longer than 7 characters: %s\n", word);
    }
    FieldColumn& column = map.columns[static_cast<std::size_t>(k)];
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

void read_units(LineBuffer& line, FieldMap& map) {
  const auto words = six_words(line, "Can not find 6 array units\n");
  for (int k = 0; k < SF7_COLUMN_COUNT; ++k) {
    const char* word = words[static_cast<std::size_t>(k)];
    FieldColumn& column = map.columns[static_cast<std::size_t>(k)];
    const UnitRule* rule = unit_rules.data();
    while (rule->sf7_unit != nullptr && std::strcmp(rule->sf7_unit, word) != 0)
      ++rule;
    // Every unit of the table fits the field, so a longer word is an unknown unit too.
    if (rule->sf7_unit == nullptr) {
      report_error("Unknown unit: %s for column %s\n", word, column.sf7_name.data());
    }
    std::strcpy(column.sf7_unit.data(), word);
    column.out_unit = rule->si_unit;
    column.factor = rule->factor;
  }
}

// Asks the kernel to back the whole pages inside a large array with huge pages where it can:
// filling an array then takes a few page faults instead of one per 4 KiB. Only a hint; the
// resident size stays that of the pages written.
void advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t size) {
#ifdef MADV_HUGEPAGE
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(memory) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(memory) + size) & ~(page - 1);
  if (last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

void allocate_columns(FieldMap& map) {
  const std::size_t points =
      static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
  for (FieldColumn& column : map.columns) {
    if (column.factor == 0)
      continue;
    column.data.reset(static_cast<double*>(std::malloc(points * sizeof(double))));
    if (!column.data)
      report_fatal("Not enough memory\n");
    advise_huge_pages(column.data.get(), points * sizeof(double));
  }
}

// Reads point (i,j) as the exact path does: one piece into the line buffer, "%lf" six times.
template <class Input>
void read_point_exact(Input& input, LineBuffer& line, std::span<double, SF7_COLUMN_COUNT> values,
                      std::int32_t i, std::int32_t j) {
  read_next_line(input, line);
  // A point line longer than the line buffer must not be read as two points.
  if (scan_point_exact(line.text.data(), values) < SF7_COLUMN_COUNT ||
      point_line_goes_on(input, line)) {
    report_error("Error reading point (%d,%d)\n", i, j);
  }
}

// Where the values of each column go: a dropped column (factor 0) has no array, so its
// products all land in one scratch double (mask 0 keeps its index at 0). Every value is then
// stored as one product, without a test of the factor.
struct ColumnTargets {
  std::array<double*, SF7_COLUMN_COUNT> data{};
  std::array<std::size_t, SF7_COLUMN_COUNT> index_mask{};
  std::array<double, SF7_COLUMN_COUNT> factor{};
  double scratch = 0;

  explicit ColumnTargets(FieldMap& map) {
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k) {
      FieldColumn& column = map.columns[k];
      const bool kept = column.factor != 0;
      data[k] = kept ? column.data.get() : &scratch;
      index_mask[k] = kept ? ~std::size_t{0} : 0;
      factor[k] = column.factor;
    }
  }
  ColumnTargets(const ColumnTargets&) = delete;
  ColumnTargets& operator=(const ColumnTargets&) = delete;

  void store(std::size_t index, std::span<const double, SF7_COLUMN_COUNT> values) {
    for (std::size_t k = 0; k < SF7_COLUMN_COUNT; ++k)
      data[k][index & index_mask[k]] = factor[k] * values[k];
  }
};

void read_points(std::FILE* input, LineBuffer& line, FieldMap& map) {
  ColumnTargets targets(map);
  std::size_t index = 0;
  std::array<double, SF7_COLUMN_COUNT> values{};
  for (std::int32_t i = 0; i < map.dim1; ++i) {
    for (std::int32_t j = 0; j < map.dim2; ++j, ++index) {
      read_point_exact(input, line, values, i, j);
      targets.store(index, values);
    }
  }
}

void read_points(Sf7Input& input, LineBuffer& line, FieldMap& map) {
  ColumnTargets targets(map);
  Sf7ScanMemo memo;
  std::size_t index = 0;
  std::array<double, SF7_COLUMN_COUNT> values{};
  for (std::int32_t i = 0; i < map.dim1; ++i) {
    for (std::int32_t j = 0; j < map.dim2; ++j, ++index) {
      // Whole lines up to the piece limit are in the buffer, unless the input ends before.
      if (static_cast<std::size_t>(input.end - input.pos) < SF7_INPUT_LOOKAHEAD)
        fill_sf7_input(input, SF7_INPUT_LOOKAHEAD);
      const char* next = scan_point_fast(memo, input.pos, input.end, values);
      if (next != nullptr) {
        input.pos = next;
        count_line();
      } else {
        read_point_exact(input, line, values, i, j);
      }
      targets.store(index, values);
    }
  }
}

template <class Input> void read_map(Input& input, int verbose, FieldMap& map) {
  LineBuffer line;
  do {
    read_next_line(input, line);
  } while (std::strstr(line.text.data(), "SF7") == nullptr);
  do {
    read_next_line(input, line);
  } while (std::strstr(line.text.data(), "increments:") == nullptr);
  read_grid_size(line, map);
  if (verbose) {
    std::fprintf(stderr, "Grid dimensions: %d*%d=%d points\n", map.dim1, map.dim2,
                 map.dim1 * map.dim2);
    std::fputs("Decoding array names\n", stderr);
  }
  do {
    read_next_line(input, line);
  } while (line.text[0] != '\n');

  read_next_line(input, line);
  read_names(line, map);
  if (verbose)
    std::fputs("Decoding array units\n", stderr);
  read_next_line(input, line);
  read_units(line, map);
  if (verbose) {
    for (const FieldColumn& column : map.columns) {
      if (column.factor == 0)
        continue;
      std::fprintf(stderr, "%s->%s, [%g*%s]->[%s]\n", column.sf7_name.data(), column.out_name,
                   column.factor, column.sf7_unit.data(), column.out_unit);
    }
    std::fputs("Allocating memory\n", stderr);
  }
  allocate_columns(map);
  if (verbose)
    std::fputs("Reading file\n", stderr);
  read_points(input, line, map);
}

} // namespace

void read_field_map(std::FILE* input, int verbose, FieldMap& map) {
  if (sf7_exact_path_only) {
    read_map(input, verbose, map);
    return;
  }
  // The whole input goes through the block buffer, header lines included.
  Sf7Input blocks;
  open_sf7_input(blocks, input, sf7_input_block_size);
  read_map(blocks, verbose, map);
}
