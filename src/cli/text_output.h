// The programs' text on standard output: written in large pieces with every failure reported, and
// the forms of numbers and texts in it, in listings and in JSON.
#pragma once

#include "cli/diagnostics.h"

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvalex {

// Collects text and writes it to standard output. A failed write (a full disk) throws message 0
// for "-" with the system's text; a reader that has quit ends the process quietly instead when
// the program asked for it (end_quietly_when_reader_quits), as it does for flush_stdout.
class Output {
public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text);
  // Writes what has been collected once more than `keep` bytes are waiting.
  void write_over(std::size_t keep);
  // Writes everything and flushes standard output.
  void finish();

private:
  std::string pending_;
};

// A table of text cells under headings, in columns as wide as their widest cell, two spaces
// apart; numbers are aligned to the right.
class TextTable {
public:
  struct Column {
    const char* heading;
    bool right_aligned;
  };

  explicit TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

  void add_row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  void write(Output& out) const;

private:
  void write_row(Output& out, const std::vector<std::string>& cells,
                 const std::vector<std::size_t>& widths) const;

  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// Writes one row of a table as TextTable does: `cells` in columns of `widths` characters, two
// spaces apart, right-aligned where the column says so, and no spaces at the end of the line. A
// table too long to hold is written row by row with it, once its widths are known.
void write_table_row(Output& out, std::span<const TextTable::Column> columns,
                     std::span<const std::string> cells, std::span<const std::size_t> widths);

// Flushes standard output; a write that failed now or before throws message 0 for "-", or ends
// the process quietly for a reader that has quit (end_quietly_when_reader_quits).
void flush_stdout();

// The shortest text that reads back as the same double (std::to_chars): "0.1", "1e+06", "-0";
// "inf", "-inf", "nan" and "-nan" for the values that have no digits.
std::string shortest_text(double value);

// A name or string for the text listing: printable ASCII as it stands, a backslash doubled, every
// other byte as \xHH, and with `quoted` a double quote as \" and the whole between quotes.
std::string listing_text(std::string_view bytes, bool quoted = false);

// listing_text(bytes, true) without its two quotes: a long quoted text written in pieces.
std::string quoted_listing_piece(std::string_view bytes);

// A JSON string of `bytes`, each byte one character U+0000 to U+00FF (Latin-1): quote and
// backslash escaped, control bytes and bytes from 0x7F on as \u00hh.
std::string json_string(std::string_view bytes);

// json_string(bytes) without its two quotes: a long string written in pieces.
std::string json_string_piece(std::string_view bytes);

// A JSON number in its shortest round-trip form, -0.0 as "-0.0"; "NaN", "Infinity" and
// "-Infinity" as strings.
std::string json_number(double value);

} // namespace norvalex
