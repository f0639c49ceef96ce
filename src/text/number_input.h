// The numbers of a text file as one stream, read in large blocks (text_input.h): a whole line of
// plain numbers by the fast line scan (line_scan.h), any other a word at a time, each word read
// exactly as glibc's strtod reads it (number_scan.h). Counts lines for the errors it and its
// caller raise: for the grid files of the mesh layer, and for any format that is numbers
// separated by white space.
#pragma once

#include "text/line_scan.h"
#include "text/text_input.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace norvalex {

class NumberInput {
public:
  // Reads `stream` from where it stands, at most `byte_limit` bytes of it when that is not -1;
  // the caller keeps it open. `name` names the file in errors, whose line numbers count on from
  // `lines_before`. Tests make `block_size` small, so that block boundaries fall everywhere.
  NumberInput(std::FILE* stream, const char* name, std::int32_t lines_before = 0,
              std::int64_t byte_limit = -1, std::size_t block_size = TEXT_BLOCK_SIZE);
  NumberInput(const NumberInput&) = delete;
  NumberInput& operator=(const NumberInput&) = delete;

  // The numbers of the next line, at most `values.size()` of them, into `values`: returns how
  // many (values.size() + 1 for a line that holds more), or -1 at the end of the file. A word
  // that is no number throws a located error.
  std::ptrdiff_t read_line(std::span<double> values);

  // The next numbers of the stream, whatever the line breaks, into `values`: as many as the
  // next lines hold, at most values.size(); 0 at the end of the file. A word that is no number
  // throws a located error.
  std::size_t read_numbers(std::span<double> values);

  // The line of number `index` of those that the last read_numbers returned, for an error about
  // that number.
  std::int32_t line_of_number(std::size_t index) const;

  // How far into the stream, from where it stood, the line after the current one starts.
  std::int64_t next_line_offset() const;

  // Lines read so far, the one being read included: the line of the last number returned.
  std::int32_t line_number() const { return line_number_; }
  const char* name() const { return name_; }

private:
  // Makes a whole line readable at the input's position (or the rest of a line too long for
  // the buffer); false at the end of the file.
  bool next_line();
  // Reads more of the stream after the unread bytes; a failed read throws.
  void fill();
  // Counts the line that next_line found.
  void count_line();
  // The numbers that read_numbers takes from the current line start at `count`.
  void note_line_start(std::size_t count);
  // Reads the word at the input's position into `value`: the end of the word; a word that is
  // no number throws.
  const char* read_word(double& value);
  [[noreturn]] void raise_not_a_number(const char* word, const char* end) const;

  // Where a line's numbers start among those of one read_numbers.
  struct LineStart {
    std::size_t index;
    std::int32_t line;
  };

  const char* name_;
  TextInput input_;
  const char* line_end_ = nullptr; // end of the current line's readable part
  bool line_complete_ = true;      // line_end_ is the line's line feed or the file's end
  ScanMemo memo_;                  // what the fast scan learnt of the last line
  std::int32_t line_number_ = 0;
  std::vector<LineStart> line_starts_; // of the last read_numbers
};

} // namespace norvalex
