// Fortran's list-directed input, as the trackers written in Fortran read their text files
// (READ(unit, *)): a record is a line; its items are separated by blanks (spaces, tabs) or by a
// comma with blanks around it; a slash ends the record, so what follows it is a comment; a number
// may have a D exponent (1.5D-3); a record of blanks alone gives nothing. A read takes as many
// values as it asks for, from a new record on and across records, and never looks at the rest of
// its last record. A complex value is one item, its two parts in parentheses apart by a comma,
// blanks around either part allowed ((1.5,-2), ( 1.5 , -2 )), here within one record. Any other
// item (a word, a quoted text, a repeat count 3*1.5, a null value between two commas, a
// hexadecimal number) is an error at its line.
#pragma once

#include "text/text_input.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace norvalex {

// What one record gives to a read.
struct ListItems {
  std::size_t count = 0; // values read
  bool slash = false;    // a slash ended the record before the values were all read
  std::string_view bad;  // the first item that is no number (count values before it); else empty
};

// Reads the items of `record` (one line, its line feed or not) into `values` until they are all
// read, a slash ends the record or the record ends. Stops at the first item that is no number.
ListItems scan_list_items(std::string_view record, std::span<double> values);
// The same for complex values, each item `(re,im)`; any other item is no number.
ListItems scan_list_items(std::string_view record, std::span<std::complex<double>> values);

class ListDirectedInput {
public:
  // Reads `stream` from where it stands; the caller keeps it open. `name` names the file in
  // errors. Not enough memory for the buffer throws.
  ListDirectedInput(std::FILE* stream, const char* name);

  // Reads values.size() values (at least one) from the next record on: how many it read, fewer
  // where a slash ended a record or at the end of the file (0 when nothing but blank records was
  // left). An item that is no number, a line longer than 1023 characters and a failed read throw
  // a located error.
  std::size_t read(std::span<double> values);
  // The same for complex values, `(re,im)` items; another item is "Not a complex number (re,im)".
  std::size_t read(std::span<std::complex<double>> values);

  // True once the file has no record left.
  bool at_end() const { return at_end_; }
  // The line of the last record read from.
  std::int32_t line_number() const { return line_number_; }
  const char* name() const { return name_; }

private:
  // The next line into line_; false at the end of the file.
  bool next_line();
  template <class Value> std::size_t read_items(std::span<Value> values);

  const char* name_;
  TextInput input_;
  LineBuffer line_{};
  std::int32_t line_number_ = 0;
  bool at_end_ = false;
};

} // namespace norvalex
