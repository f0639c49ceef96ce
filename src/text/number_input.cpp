#include "text/number_input.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "text/number_scan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace norvalex {

namespace {

// A word is shown in an error line up to this many bytes.
constexpr std::size_t SHOWN_WORD = 40;

} // namespace

NumberInput::NumberInput(std::FILE* stream, const char* name, std::int32_t lines_before,
                         std::int64_t byte_limit, std::size_t block_size)
    : name_(name), line_number_(lines_before) {
  if (!input_.open(stream, block_size, byte_limit))
    raise_input_failure(name, ENOMEM, "Not enough memory");
  line_end_ = input_.pos;
}

void NumberInput::fill() {
  input_.fill(input_.buffered() + 1);
  if (input_.failed())
    raise_input_failure(name_, input_.read_errno, "%s: %s", name_,
                        platform_error_text(input_.read_errno));
  line_end_ = input_.pos;
}

void NumberInput::count_line() {
  if (line_number_ == INT32_MAX)
    raise_input_error(name_, line_number_, "More than %d lines", INT32_MAX);
  ++line_number_;
}

bool NumberInput::next_line() {
  for (;;) {
    if (input_.pos < line_end_)
      return true;
    const bool continues = !line_complete_;
    if (!continues && input_.pos < input_.end && *input_.pos == '\n')
      ++input_.pos; // the line feed of the line just read
    for (;;) {
      const auto* feed = static_cast<const char*>(
          std::memchr(input_.pos, '\n', static_cast<std::size_t>(input_.end - input_.pos)));
      if (feed != nullptr) {
        line_end_ = feed;
        line_complete_ = true;
        break;
      }
      if (input_.drained) {
        line_end_ = input_.end;
        line_complete_ = true;
        break;
      }
      if (input_.buffered() < input_.capacity) {
        fill();
        continue;
      }
      // A line longer than the buffer is read up to its last white space in it, then goes on.
      const char* cut = input_.end;
      while (cut > input_.pos && !is_scan_space(cut[-1]))
        --cut;
      if (cut == input_.pos) {
        // A word longer than the buffer, reported at its own line.
        if (!continues)
          count_line();
        raise_not_a_number(input_.pos, input_.end);
      }
      line_end_ = cut;
      line_complete_ = false;
      break;
    }
    if (input_.pos == input_.end && line_complete_)
      return false; // nothing after the last line feed
    if (!continues)
      count_line();
  }
}

std::int64_t NumberInput::next_line_offset() const {
  const char* feed = line_end_;
  while (feed < input_.end && *feed != '\n')
    ++feed;
  return input_.bytes_read - (input_.end - feed) + (feed < input_.end ? 1 : 0);
}

void NumberInput::raise_not_a_number(const char* word, const char* end) const {
  const auto length = static_cast<std::size_t>(end - word);
  // A zero byte, which no C string carries, is shown as the programs show every control byte.
  std::string shown;
  for (const char c : std::string_view(word, std::min(length, SHOWN_WORD))) {
    if (c == '\0')
      shown += "\\x00";
    else
      shown += c;
  }
  raise_input_error(name_, line_number_, "Not a number: %s%s", shown.c_str(),
                    length > SHOWN_WORD ? "..." : "");
}

const char* NumberInput::read_word(double& value) {
  // The scan may look up to the end of the buffered text: every word of the line ends at white
  // space before line_end_ or at line_end_, the end of the text.
  const NumberScanResult result = scan_number(input_.pos, input_.end, value);
  if (result.ec == std::errc::invalid_argument) {
    const char* word_end = input_.pos;
    while (word_end < line_end_ && !is_scan_space(*word_end))
      ++word_end;
    raise_not_a_number(input_.pos, word_end);
  }
  // A number beyond the range of doubles is strtod's infinity or zero.
  return result.ptr;
}

void NumberInput::note_line_start(std::size_t count) {
  if (line_starts_.empty() || line_starts_.back().line != line_number_)
    line_starts_.push_back({count, line_number_});
}

std::int32_t NumberInput::line_of_number(std::size_t index) const {
  const auto after = std::upper_bound(
      line_starts_.begin(), line_starts_.end(), index,
      [](std::size_t wanted, const LineStart& start) { return wanted < start.index; });
  return after == line_starts_.begin() ? line_number_ : std::prev(after)->line;
}

std::size_t NumberInput::read_numbers(std::span<double> values) {
  line_starts_.clear();
  std::size_t count = 0;
  while (count < values.size()) {
    if (input_.pos == line_end_) {
      if (!next_line())
        break;
      // A whole line in the buffer, read in place when its words are plain numbers.
      if (line_complete_ && line_end_ < input_.end) {
        std::size_t found = 0;
        if (scan_line_numbers_fast(memo_, input_.pos, input_.end, values.subspan(count), found) !=
            nullptr) {
          if (found > 0)
            note_line_start(count);
          count += found;
          input_.pos = line_end_; // at the line feed, which next_line takes
          continue;
        }
      }
    }
    while (input_.pos < line_end_ && is_scan_space(*input_.pos))
      ++input_.pos;
    if (input_.pos == line_end_)
      continue;
    note_line_start(count);
    input_.pos = read_word(values[count]);
    ++count;
  }
  return count;
}

std::ptrdiff_t NumberInput::read_line(std::span<double> values) {
  if (!next_line())
    return -1;
  if (line_complete_ && line_end_ < input_.end) {
    std::size_t found = 0;
    if (scan_line_numbers_fast(memo_, input_.pos, input_.end, values, found) != nullptr) {
      input_.pos = line_end_;
      return static_cast<std::ptrdiff_t>(found);
    }
  }
  std::size_t count = 0;
  // One line: its numbers up to its end, which may lie beyond this buffer's part of it.
  for (;;) {
    while (input_.pos < line_end_ && is_scan_space(*input_.pos))
      ++input_.pos;
    if (input_.pos == line_end_) {
      if (line_complete_ || !next_line())
        break;
      continue;
    }
    double value = 0;
    input_.pos = read_word(value);
    if (count < values.size())
      values[count] = value;
    ++count;
  }
  return static_cast<std::ptrdiff_t>(std::min(count, values.size() + 1));
}

} // namespace norvalex
