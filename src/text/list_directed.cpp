#include "text/list_directed.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "text/number_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <string>

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

} // namespace

ListItems scan_list_items(std::string_view record, std::span<double> values) {
  ListItems items;
  std::size_t p = 0;
  bool after_comma = true; // at the record's start an item is expected as after a comma
  while (items.count < values.size()) {
    while (p < record.size() && is_blank(record[p]))
      ++p;
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
    std::size_t end = p;
    while (end < record.size() && !is_blank(record[end]) && record[end] != ',' &&
           record[end] != '/')
      ++end;
    const std::string_view item = record.substr(p, end - p);
    if (!read_number(item, values[items.count])) {
      items.bad = item;
      return items;
    }
    ++items.count;
    after_comma = false;
    p = end;
  }
  return items;
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
  std::size_t count = 0;
  while (count < values.size() && next_line()) {
    const ListItems items =
        scan_list_items({line_.text.data(), line_.length}, values.subspan(count));
    count += items.count;
    if (!items.bad.empty()) {
      const std::string_view shown = items.bad.substr(0, SHOWN_ITEM);
      raise_input_error(name_, line_number_, "Not a number: %s%s",
                        escape_control_bytes(shown).c_str(),
                        items.bad.size() > SHOWN_ITEM ? "..." : "");
    }
    if (items.slash)
      break;
  }
  return count;
}

} // namespace norvalex
