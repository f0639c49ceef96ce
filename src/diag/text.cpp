#include "diag/raise.h"

#include <charconv>
#include <cstdio>

namespace norvalex {

std::string format_message_text(const char* format, std::va_list args) {
  char text[MESSAGE_TEXT_LIMIT + 1];
  std::vsnprintf(text, sizeof text, format, args); // cuts a longer text, never overruns
  return text;
}

std::string format_whole_text(const char* format, std::va_list args) {
  std::va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0)
    return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

std::string escape_control_bytes(std::string_view text) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x";
      shown += hex_digits[byte >> 4];
      shown += hex_digits[byte & 0xF];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string number_text(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return {text, result.ptr};
}

std::string quoted_text(std::string_view text) {
  constexpr std::size_t shown = 64;
  std::string quoted = "\"";
  quoted.append(escape_control_bytes(text.substr(0, shown)));
  quoted.append(text.size() > shown ? "...\"" : "\"");
  return quoted;
}

} // namespace norvalex
