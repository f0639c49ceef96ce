#include "diag/message_table.h"

#include <cstdio>

std::string format_message_text(const char* format, std::va_list args) {
  char text[MESSAGE_TEXT_LIMIT + 1];
  std::vsnprintf(text, sizeof text, format, args); // cuts a longer text, never overruns
  return text;
}
