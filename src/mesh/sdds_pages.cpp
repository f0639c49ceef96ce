// The pages of an SDDS file's data. A binary page is an int32 row count, the values of the
// parameters (those without fixed_value) and of the arrays (an int32 per dimension, then the
// elements), then the rows: every column of row 0 in header order, then row 1, ... (or each
// column's values together in column-major order); a string is an int32 length and its bytes.
// An ASCII page is a line per parameter, per array a line of its dimensions and then its
// elements, a line with the row count (none with no_row_counts, where a blank line ends the
// page), then a row per line. Every count is checked against the bytes that remain before
// anything is allocated for it.
#include "mesh/sdds.h"

#include "diag/raise.h"
#include "text/number_scan.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

namespace norvalex {

namespace {

// Bytes of a value in binary data; 0 for a string, whose length comes first.
std::size_t fixed_size(SddsType type) {
  switch (type) {
  case SddsType::i16:
  case SddsType::u16:
    return 2;
  case SddsType::i32:
  case SddsType::u32:
  case SddsType::f32:
    return 4;
  case SddsType::i64:
  case SddsType::u64:
  case SddsType::f64:
    return 8;
  case SddsType::f128:
    return 16;
  case SddsType::character:
    return 1;
  case SddsType::string:
    break;
  }
  return 0;
}

// Where each column's values go: its place in `wanted`, or -1.
std::vector<int> slots_of(const SddsHeader& header, std::span<const std::size_t> wanted) {
  std::vector<int> slots(header.columns.size(), -1);
  for (std::size_t k = 0; k < wanted.size(); ++k)
    slots[wanted[k]] = static_cast<int>(k);
  return slots;
}

// Binary data, read forward in the file's byte order.
class BinaryData {
public:
  BinaryData(const char* path, std::string_view bytes, bool big_endian)
      : path_(path), p_(reinterpret_cast<const unsigned char*>(bytes.data())), left_(bytes.size()),
        big_endian_(big_endian) {}

  std::size_t left() const { return left_; }
  std::size_t page() const { return page_; }
  void start_page(std::size_t page) { page_ = page; }

  std::int32_t int32(const char* what) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(load(4, what)));
  }

  double number(SddsType type, const char* what) {
    const std::uint64_t bits = load(fixed_size(type), what);
    switch (type) {
    case SddsType::i16:
      return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    case SddsType::u16:
      return static_cast<std::uint16_t>(bits);
    case SddsType::i32:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    case SddsType::u32:
      return static_cast<std::uint32_t>(bits);
    case SddsType::i64:
      return static_cast<double>(static_cast<std::int64_t>(bits));
    case SddsType::u64:
      return static_cast<double>(bits);
    case SddsType::f32:
      return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    default:
      return std::bit_cast<double>(bits);
    }
  }

  void skip(SddsType type, const char* what) {
    std::size_t size = fixed_size(type);
    if (type == SddsType::string) {
      const std::int32_t length = int32(what);
      if (length < 0)
        raise_input_failure(path_, 0, "%s: page %llu: a string of its %s has the length %d", path_,
                            static_cast<unsigned long long>(page_), what, static_cast<int>(length));
      size = static_cast<std::size_t>(length);
    }
    if (size > left_)
      truncated(what);
    p_ += size;
    left_ -= size;
  }

  [[noreturn]] void truncated(const char* what) const {
    raise_input_failure(path_, 0, "%s: page %llu ends within its %s (a truncated file)", path_,
                        static_cast<unsigned long long>(page_), what);
  }

private:
  std::uint64_t load(std::size_t size, const char* what) {
    if (size > left_)
      truncated(what);
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < size; ++k)
      bits |= std::uint64_t{p_[big_endian_ ? size - 1 - k : k]} << (8 * k);
    p_ += size;
    left_ -= size;
    return bits;
  }

  const char* path_;
  const unsigned char* p_;
  std::size_t left_;
  bool big_endian_;
  std::size_t page_ = 1;
};

std::vector<SddsPage> binary_pages(const char* path, std::string_view bytes,
                                   const SddsHeader& header, std::span<const std::size_t> wanted,
                                   std::size_t max_pages) {
  const auto longdouble = [](const SddsItem& item) { return item.type == SddsType::f128; };
  if (std::any_of(header.columns.begin(), header.columns.end(), longdouble) ||
      std::any_of(header.parameters.begin(), header.parameters.end(), longdouble) ||
      std::any_of(header.arrays.begin(), header.arrays.end(), longdouble)) {
    raise_input_failure(path, 0,
                        "%s: binary longdouble data is not read (its size is that of the machine "
                        "that wrote it)",
                        path);
  }
  const std::vector<int> slots = slots_of(header, wanted);
  std::size_t least_row = 0; // bytes, a string's length word counted
  for (const SddsItem& column : header.columns)
    least_row += column.type == SddsType::string ? 4 : fixed_size(column.type);
  BinaryData data(path, bytes, header.big_endian);
  std::vector<SddsPage> pages;
  while (data.left() > 0 && (max_pages == 0 || pages.size() < max_pages)) {
    data.start_page(pages.size() + 1);
    const std::int32_t rows = data.int32("row count");
    if (rows < 0)
      raise_input_failure(path, 0, "%s: page %llu: its row count is %d", path,
                          static_cast<unsigned long long>(data.page()), static_cast<int>(rows));
    for (const SddsItem& parameter : header.parameters) {
      if (!parameter.fixed)
        data.skip(parameter.type, "parameters");
    }
    for (const SddsItem& array : header.arrays) {
      std::uint64_t elements = 1;
      for (std::int64_t d = 0; d < array.dimensions; ++d) {
        const std::int32_t extent = data.int32("array dimensions");
        // Each element takes a byte at least.
        if (extent < 0 ||
            (extent != 0 && elements > data.left() / static_cast<std::uint64_t>(extent)))
          raise_input_failure(path, 0,
                              "%s: page %llu: array %s has a dimension of %d, more values than "
                              "the %llu bytes that remain hold",
                              path, static_cast<unsigned long long>(data.page()),
                              quoted_text(array.name).c_str(), static_cast<int>(extent),
                              static_cast<unsigned long long>(data.left()));
        elements *= static_cast<std::uint64_t>(extent);
      }
      for (std::uint64_t k = 0; k < elements; ++k)
        data.skip(array.type, "arrays");
    }
    if (least_row != 0 && static_cast<std::size_t>(rows) > data.left() / least_row) {
      raise_input_failure(path, 0,
                          "%s: page %llu counts %d rows of %llu bytes or more, more than the %llu "
                          "bytes that remain",
                          path, static_cast<unsigned long long>(data.page()),
                          static_cast<int>(rows), static_cast<unsigned long long>(least_row),
                          static_cast<unsigned long long>(data.left()));
    }
    SddsPage& page = pages.emplace_back(wanted.size());
    for (std::vector<double>& values : page)
      values.reserve(static_cast<std::size_t>(rows));
    const auto value = [&](std::size_t column) {
      const SddsItem& item = header.columns[column];
      if (slots[column] < 0)
        data.skip(item.type, "rows");
      else
        page[static_cast<std::size_t>(slots[column])].push_back(data.number(item.type, "rows"));
    };
    // Without columns, rows hold nothing.
    const auto n_rows = header.columns.empty() ? 0 : static_cast<std::size_t>(rows);
    for (std::size_t outer = 0; outer < (header.column_major ? header.columns.size() : n_rows);
         ++outer) {
      for (std::size_t inner = 0; inner < (header.column_major ? n_rows : header.columns.size());
           ++inner)
        value(header.column_major ? outer : inner);
    }
  }
  return pages;
}

// ASCII data, a word at a time, lines counted from the header's.
class AsciiData {
public:
  AsciiData(const char* path, std::string_view text, std::int32_t lines_before)
      : path_(path), p_(text.data()), end_(text.data() + text.size()), line_(lines_before + 1) {}

  std::int32_t line() const { return line_; }
  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

  // Moves to the start of the next line once a word of this one was read, past comment lines:
  // false at the end of the data.
  bool next_line_start() {
    if (word_read_)
      skip_line();
    for (;;) {
      const char* q = p_;
      while (q < end_ && (*q == ' ' || *q == '\t'))
        ++q;
      if (q == end_)
        return false;
      if (*q != '!')
        return true;
      skip_line();
    }
  }

  // Moves past blank lines too: false when nothing but blanks is left.
  bool skip_blank_lines() {
    for (;;) {
      if (!next_line_start())
        return false;
      if (!line_is_blank())
        return true;
      skip_line();
    }
  }

  bool line_is_blank() const {
    const char* q = p_;
    while (q < end_ && *q != '\n' && is_scan_space(*q))
      ++q;
    return q == end_ || *q == '\n';
  }

  // Past the current line's end.
  void skip_line() {
    while (p_ < end_ && *p_ != '\n')
      ++p_;
    // The line of a file's end is its last line.
    if (p_ < end_ && ++p_ < end_) {
      if (line_ == std::numeric_limits<std::int32_t>::max())
        raise_input_error(path_, line_, "More than 2147483647 lines");
      ++line_;
    }
    word_read_ = false;
  }

  // The next word, across line ends and comment lines, a quoted string whole; false at the end.
  bool word(std::string_view& word) {
    for (;;) {
      while (p_ < end_ && *p_ != '\n' && is_scan_space(*p_))
        ++p_;
      if (p_ == end_)
        return false;
      if (*p_ == '\n' || (!word_read_ && *p_ == '!')) {
        skip_line();
        continue;
      }
      break;
    }
    const char* start = p_;
    if (*p_ == '"') {
      for (++p_; p_ < end_ && *p_ != '"' && *p_ != '\n'; ++p_) {
        if (*p_ == '\\' && p_ + 1 < end_ && p_[1] != '\n')
          ++p_;
      }
      if (p_ < end_ && *p_ == '"')
        ++p_;
    } else {
      while (p_ < end_ && !is_scan_space(*p_))
        ++p_;
    }
    word_read_ = true;
    word = {start, static_cast<std::size_t>(p_ - start)};
    return true;
  }

  // The next word as a whole number from 0 on.
  std::int64_t count(const char* what) {
    std::string_view text;
    double value = 0;
    if (!word(text))
      raise_input_error(path_, line_, "The file ends before the page's %s", what);
    const NumberScanResult scan = scan_number(text.data(), text.data() + text.size(), value);
    if (scan.ec != std::errc() || !(value >= 0) || value != std::floor(value) || value > 2147483647)
      raise_input_error(path_, line_, "Not a whole number from 0 on for the %s: %s", what,
                        quoted_text(text).c_str());
    return static_cast<std::int64_t>(value);
  }

private:
  const char* path_;
  const char* p_;
  const char* end_;
  std::int32_t line_;
  bool word_read_ = false; // on the current line
};

std::vector<SddsPage> ascii_pages(const char* path, std::string_view text, const SddsHeader& header,
                                  std::span<const std::size_t> wanted, std::size_t max_pages) {
  const std::vector<int> slots = slots_of(header, wanted);
  AsciiData data(path, text, header.header_lines);
  for (std::int64_t k = 0; k < header.additional_header_lines && data.next_line_start(); ++k)
    data.skip_line();
  std::vector<SddsPage> pages;
  while ((max_pages == 0 || pages.size() < max_pages) && data.skip_blank_lines()) {
    for (const SddsItem& parameter : header.parameters) {
      if (parameter.fixed)
        continue;
      if (!data.next_line_start())
        raise_input_error(path, data.line(), "The file ends before parameter %s",
                          quoted_text(parameter.name).c_str());
      data.skip_line();
    }
    for (const SddsItem& array : header.arrays) {
      data.next_line_start();
      std::uint64_t elements = 1;
      for (std::int64_t d = 0; d < array.dimensions; ++d) {
        const auto extent = static_cast<std::uint64_t>(data.count("array dimension"));
        // Each element takes a byte at least.
        if (extent != 0 && elements > data.left() / extent)
          raise_input_error(
              path, data.line(), "Array %s holds more values than the %llu bytes that remain",
              quoted_text(array.name).c_str(), static_cast<unsigned long long>(data.left()));
        elements *= extent;
      }
      std::string_view word;
      for (std::uint64_t k = 0; k < elements; ++k) {
        if (!data.word(word))
          raise_input_error(path, data.line(), "The file ends within array %s",
                            quoted_text(array.name).c_str());
      }
    }
    std::int64_t rows = -1; // until a blank line
    if (!header.no_row_counts) {
      data.next_line_start();
      rows = data.count("row count");
      // Each value, or a row without columns, takes a byte at least.
      if (static_cast<std::uint64_t>(rows) >
          data.left() / std::max<std::size_t>(1, header.columns.size()))
        raise_input_error(
            path, data.line(), "%lld rows are more than the %llu bytes that remain hold",
            static_cast<long long>(rows), static_cast<unsigned long long>(data.left()));
    }
    SddsPage& page = pages.emplace_back(wanted.size());
    for (std::vector<double>& values : page)
      values.reserve(rows < 0 ? 0 : static_cast<std::size_t>(rows));
    for (std::int64_t row = 0; rows < 0 || row < rows; ++row) {
      const bool more = data.next_line_start();
      if (rows < 0 && (!more || data.line_is_blank()))
        break;
      if (!more)
        raise_input_error(path, data.line(), "The file ends within row %lld of the page",
                          static_cast<long long>(row + 1));
      // Without columns, a row is its line.
      if (header.columns.empty()) {
        data.skip_line();
        continue;
      }
      for (std::size_t column = 0; column < header.columns.size(); ++column) {
        std::string_view word;
        if (!data.word(word))
          raise_input_error(path, data.line(), "The file ends within row %lld of the page",
                            static_cast<long long>(row + 1));
        if (slots[column] < 0)
          continue;
        double value = 0;
        if (scan_number(word.data(), word.data() + word.size(), value).ptr == word.data())
          raise_input_error(path, data.line(), "Not a number in column %s: %s",
                            quoted_text(header.columns[column].name).c_str(),
                            quoted_text(word).c_str());
        page[static_cast<std::size_t>(slots[column])].push_back(value);
      }
    }
  }
  return pages;
}

} // namespace

std::vector<SddsPage> read_sdds_pages(const char* path, std::string_view bytes,
                                      const SddsHeader& header, std::span<const std::size_t> wanted,
                                      std::size_t max_pages) {
  const std::string_view data = bytes.substr(header.data_start);
  try {
    return header.binary ? binary_pages(path, data, header, wanted, max_pages)
                         : ascii_pages(path, data, header, wanted, max_pages);
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
}

} // namespace norvalex
