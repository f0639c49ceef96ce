#include "text/list_directed.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "text/number_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <string>
#include <type_traits>

namespace norvalex {

namespace {

// An item is shown in an error line up to this many bytes.
constexpr std::size_t SHOWN_ITEM = 40;

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// True when `item` is one Fortran number: a decimal number, with its exponent letter E or D,
// or an infinity or NaN as the Fortran runtimes read them; `value` then holds it.
bool read_number(std::string_view item, double& value) {
  std::array<char, 64> text{};
  if (item.empty() || item.size() >= text.size())
    return false;
  for (std::size_t k = 0; k < item.size(); ++k) {
    const char c = item[k];
    // No hexadecimal numbers, which strtod reads and Fortran does not.
    if (c == 'x' || c == 'X' || c == 'p' || c == 'P')
      return false;
    text[k] = c == 'd' || c == 'D' ? 'e' : c;
  }
  const char* const last = text.data() + item.size();
  const NumberScanResult result = scan_number(text.data(), last, value);
  return result.ec != std::errc::invalid_argument && result.ptr == last;
}

// Where an item ends, and whether it was one of the kind asked for.
struct ItemEnd {
  std::size_t end;
  bool read;
};

// The end of the word at `p`: the first blank, comma or slash (or closing parenthesis, within a
// complex value) after it.
std::size_t word_end(std::string_view record, std::size_t p, bool in_parentheses) {
  while (p < record.size() && !is_blank(record[p]) && record[p] != ',' && record[p] != '/' &&
         !(in_parentheses && record[p] == ')'))
    ++p;
  return p;
}

std::size_t skip_blanks(std::string_view record, std::size_t p) {
  while (p < record.size() && is_blank(record[p]))
    ++p;
  return p;
}

ItemEnd read_item(std::string_view record, std::size_t p, double& value) {
  const std::size_t end = word_end(record, p, false);
  return {end, read_number(record.substr(p, end - p), value)};
}

// (re,im), blanks allowed around either part.
ItemEnd read_item(std::string_view record, std::size_t p, std::complex<double>& value) {
  const std::size_t close = record.find(')', p);
  const ItemEnd no_item{close == std::string_view::npos ? word_end(record, p, false) : close + 1,
                        false};
  if (record[p] != '(')
    return no_item;
  double parts[2] = {0, 0};
  std::size_t q = p + 1;
  for (int k = 0; k < 2; ++k) {
    q = skip_blanks(record, q);
    const std::size_t end = word_end(record, q, true);
    if (!read_number(record.substr(q, end - q), parts[k]))
      return no_item;
    q = skip_blanks(record, end);
    if (q == record.size() || record[q] != (k == 0 ? ',' : ')'))
      return no_item;
    ++q;
  }
  value = {parts[0], parts[1]};
  return {q, true};
}

// The items of `record` into `values`, each read by read_item of its kind.
template <class Value> ListItems scan_items(std::string_view record, std::span<Value> values) {
  ListItems items;
  std::size_t p = 0;
  bool after_comma = true; // at the record's start an item is expected as after a comma
  while (items.count < values.size()) {
    p = skip_blanks(record, p);
    if (p == record.size())
      return items;
    if (record[p] == '/') {
      items.slash = true;
      return items;
    }
    if (record[p] == ',') {
      if (after_comma) {
        items.bad = record.substr(p, 1); // a null value
        return items;
      }
      after_comma = true;
      ++p;
      continue;
    }
    const ItemEnd item = read_item(record, p, values[items.count]);
    if (!item.read) {
      items.bad = record.substr(p, item.end - p);
      return items;
    }
    ++items.count;
    after_comma = false;
    p = item.end;
  }
  return items;
}

} // namespace

ListItems scan_list_items(std::string_view record, std::span<double> values) {
  return scan_items(record, values);
}

ListItems scan_list_items(std::string_view record, std::span<std::complex<double>> values) {
  return scan_items(record, values);
}

ListDirectedInput::ListDirectedInput(std::FILE* stream, const char* name) : name_(name) {
  if (!input_.open(stream, TEXT_MIN_BLOCK_SIZE * 16))
    raise_input_failure(name, ENOMEM, "Not enough memory");
}

bool ListDirectedInput::next_line() {
  const bool got = input_.read_line(line_);
  if (input_.failed())
    raise_input_failure(name_, input_.read_errno, "%s: %s", name_,
                        platform_error_text(input_.read_errno));
  if (!got) {
    at_end_ = true;
    return false;
  }
  if (line_number_ == INT32_MAX)
    raise_input_error(name_, line_number_, "More than %d lines", INT32_MAX);
  ++line_number_;
  if (line_goes_on(input_, line_))
    raise_input_error(name_, line_number_, "Line longer than %d characters",
                      static_cast<int>(LINE_PIECE_LIMIT));
  return true;
}

std::size_t ListDirectedInput::read(std::span<double> values) {
  return read_items(values);
}

std::size_t ListDirectedInput::read(std::span<std::complex<double>> values) {
  return read_items(values);
}

template <class Value> std::size_t ListDirectedInput::read_items(std::span<Value> values) {
  std::size_t count = 0;
  while (count < values.size() && next_line()) {
    const ListItems items =
        scan_list_items({line_.text.data(), line_.length}, values.subspan(count));
    count += items.count;
    if (!items.bad.empty()) {
      const std::string_view shown = items.bad.substr(0, SHOWN_ITEM);
      raise_input_error(
          name_, line_number_, "%s: %s%s",
          std::is_same_v<Value, double> ? "Not a number" : "Not a complex number (re,im)",
          escape_control_bytes(shown).c_str(), items.bad.size() > SHOWN_ITEM ? "..." : "");
    }
    if (items.slash)
      break;
  }
  return count;
}

} // namespace norvalex
