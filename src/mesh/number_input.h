// The numbers of a text file as one stream, read in large blocks: a whole line of plain numbers
// by the fast scan of the SF7 reader, anything else a token at a time, each token read exactly
// as the C library's strtod reads it. Counts lines for the errors it and its caller raise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace norvalex {

class NumberInput {
public:
  // Reads `stream` from where it stands, at most `byte_limit` bytes of it when that is not -1;
  // the caller keeps it open. `name` names the file in errors, whose line numbers count on from
  // `lines_before`.
  NumberInput(std::FILE* stream, const char* name, std::int32_t lines_before = 0,
              std::int64_t byte_limit = -1);
  ~NumberInput();
  NumberInput(const NumberInput&) = delete;
  NumberInput& operator=(const NumberInput&) = delete;

  // The numbers of the next line, at most `values.size()` of them, into `values`: returns how
  // many (values.size() + 1 for a line that holds more), or -1 at the end of the file. A token
  // that is no number throws a located error.
  std::ptrdiff_t read_line(std::span<double> values);

  // The next numbers of the stream, whatever the line breaks, into `values`: as many as the
  // next lines hold, at most values.size(); 0 at the end of the file. A token that is no number
  // throws a located error.
  std::size_t read_numbers(std::span<double> values);

  // How far into the stream, from where it stood, the line after the current one starts.
  std::int64_t next_line_offset() const;

  // Lines read so far, the one being read included: the line of the last number returned.
  std::int32_t line_number() const { return line_number_; }
  const char* name() const { return name_; }

private:
  struct Buffer;
  // Makes a whole line readable at pos_ (or the rest of a line too long for the buffer);
  // false at the end of the file.
  bool next_line();
  [[noreturn]] void raise_not_a_number(const char* token, const char* end) const;

  const char* name_;
  std::unique_ptr<Buffer> buffer_;
  std::int32_t line_number_ = 0;
};

} // namespace norvalex
