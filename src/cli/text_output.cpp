#include "cli/text_output.h"

#include "cli/diagnostics.h"
#include "diag/raise.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace norvalex {

namespace {

// A failed write to standard output: the quiet end for a reader that has quit, when the program
// asked for it; message 0 for "-" otherwise.
[[noreturn]] void raise_stdout_error(int error_number) {
  end_if_reader_quit(error_number);
  raise_file_error("-", error_number);
}

} // namespace

Output& Output::operator<<(std::string_view text) {
  pending_ += text;
  return *this;
}

void Output::write_over(std::size_t keep) {
  if (pending_.size() <= keep) {
    return;
  }
  if (!platform_write_record(pending_.data(), pending_.size(), stdout)) {
    raise_stdout_error(platform_output_error(errno));
  }
  pending_.clear();
}

void Output::finish() {
  write_over(0);
  flush_stdout();
}

void TextTable::write(Output& out) const {
  std::vector<std::size_t> widths;
  for (const Column& column : columns_) {
    widths.push_back(std::string_view(column.heading).size());
  }
  for (const std::vector<std::string>& row : rows_) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], row[c].size());
    }
  }
  std::vector<std::string> headings;
  for (const Column& column : columns_) {
    headings.emplace_back(column.heading);
  }
  write_row(out, headings, widths);
  for (const std::vector<std::string>& row : rows_) {
    write_row(out, row, widths);
  }
}

void TextTable::write_row(Output& out, const std::vector<std::string>& cells,
                          const std::vector<std::size_t>& widths) const {
  write_table_row(out, columns_, cells, widths);
}

void write_table_row(Output& out, std::span<const TextTable::Column> columns,
                     std::span<const std::string> cells, std::span<const std::size_t> widths) {
  std::string line;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    const std::string padding(widths[c] - cells[c].size(), ' ');
    line += c == 0 ? "" : "  ";
    line += columns[c].right_aligned ? padding + cells[c] : cells[c] + padding;
  }
  // No spaces at the end of a line.
  line.erase(line.find_last_not_of(' ') + 1);
  out << line << "\n";
}

void flush_stdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    raise_stdout_error(platform_output_error(errno));
  }
}

std::string shortest_text(double value) {
  char text[32]; // the longest form, "-2.2250738585072014e-308", has 24 characters
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return {text, result.ptr};
}

namespace {

std::string listing_escapes(std::string_view bytes, bool quoted) {
  std::string text;
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    if (byte == '\\' || (quoted && byte == '"')) {
      text += '\\';
      text += byte;
    } else if (code >= 0x20 && code < 0x7F) {
      text += byte;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", code);
      text += escape;
    }
  }
  return text;
}

// `text` between double quotes.
std::string quoted_text(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

} // namespace

std::string listing_text(std::string_view bytes, bool quoted) {
  return quoted ? quoted_text(listing_escapes(bytes, true)) : listing_escapes(bytes, false);
}

std::string quoted_listing_piece(std::string_view bytes) {
  return listing_escapes(bytes, true);
}

std::string json_string(std::string_view bytes) {
  return quoted_text(json_string_piece(bytes));
}

std::string json_string_piece(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    if (byte == '"' || byte == '\\') {
      text += '\\';
      text += byte;
    } else if (code >= 0x20 && code < 0x7F) {
      text += byte;
    } else {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", code);
      text += escape;
    }
  }
  return text;
}

std::string json_number(double value) {
  if (std::isnan(value)) {
    return "\"NaN\"";
  }
  if (std::isinf(value)) {
    return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  }
  // "-0" would read as the integer 0 in parsers that keep integers apart, losing the sign.
  if (value == 0 && std::signbit(value)) {
    return "-0.0";
  }
  return shortest_text(value);
}

} // namespace norvalex
