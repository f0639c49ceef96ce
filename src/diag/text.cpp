#include "diag/raise.h"

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

} // namespace norvalex
