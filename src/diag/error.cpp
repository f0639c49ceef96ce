#include "diag/raise.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace norvalex {

namespace {

std::string format_message(Message message, ...) {
  std::va_list args;
  va_start(args, message);
  std::string text = format_message_text(message_format(message), args);
  va_end(args);
  return text;
}

constexpr int number_of(Message message) {
  return static_cast<int>(message);
}

} // namespace

Error::Error(ErrorOrigin origin, const std::string& text, int message_number, std::string file_name,
             std::int32_t line_number, int system_error)
    : std::runtime_error(text), origin_(origin), message_number_(message_number),
      file_name_(std::move(file_name)), line_number_(line_number), system_error_(system_error) {}

std::string Error::detail() const {
  std::string text = what();
  if (origin_ == ErrorOrigin::input_line) {
    const std::string location = file_name_ + "(" + std::to_string(line_number_) + "): ";
    text.erase(0, location.size());
  }
  return text;
}

namespace {

thread_local InterruptionCheck interruption_check = nullptr;
thread_local void* interruption_context = nullptr;

} // namespace

InterruptionScope::InterruptionScope(InterruptionCheck check, void* context)
    : previous_check_(interruption_check), previous_context_(interruption_context) {
  interruption_check = check;
  interruption_context = context;
}

InterruptionScope::~InterruptionScope() {
  interruption_check = previous_check_;
  interruption_context = previous_context_;
}

void check_interruption() {
  if (interruption_check != nullptr && interruption_check(interruption_context)) {
    throw Error(ErrorOrigin::interrupted, "Interrupted", -1, {}, -1, EINTR);
  }
}

void raise_file_error(const char* file_name, int error_number) {
  throw Error(ErrorOrigin::message,
              format_message(Message::system_error, file_name, platform_error_text(error_number)),
              number_of(Message::system_error), file_name, -1, error_number);
}

void raise_file_message(Message message, const char* file_name) {
  throw Error(ErrorOrigin::message, format_message(message, file_name), number_of(message),
              file_name, -1, 0);
}

void raise_message(Message message) {
  throw Error(ErrorOrigin::message, format_message(message), number_of(message), {}, -1,
              message == Message::not_enough_memory ? ENOMEM : 0);
}

void raise_input_error(const char* file_name, std::int32_t line_number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string detail = format_whole_text(format, args);
  va_end(args);
  std::string text = std::string(file_name) + "(" + std::to_string(line_number) + "): " + detail;
  throw Error(ErrorOrigin::input_line, text, -1, file_name, line_number, 0);
}

void raise_input_failure(const char* file_name, int error_number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = format_whole_text(format, args);
  va_end(args);
  throw Error(ErrorOrigin::input_file, text, -1, file_name, -1, error_number);
}

} // namespace norvalex
