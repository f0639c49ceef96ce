#include "mesh/bmad_text.h"

#include "diag/raise.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>

namespace norvalex {

namespace {

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes that end a word: blanks, line feeds, punctuation, a comment's start and quotes.
bool ends_word(int c) {
  if (is_blank(c))
    return true;
  switch (c) {
  case '\n':
  case '{':
  case '}':
  case '(':
  case ')':
  case ',':
  case '=':
  case '!':
  case '"':
  case '\'':
    return true;
  default:
    return false;
  }
}

BmadToken punctuation(int c) {
  switch (c) {
  case '{':
    return BmadToken::open_brace;
  case '}':
    return BmadToken::close_brace;
  case '(':
    return BmadToken::open_paren;
  case ')':
    return BmadToken::close_paren;
  case ',':
    return BmadToken::comma;
  case '=':
    return BmadToken::equals;
  default:
    return BmadToken::word;
  }
}

} // namespace

BmadLexer::BmadLexer(std::FILE* stream, const char* name) : name_(name) {
  if (!input_.open(stream))
    raise_input_failure(name, ENOMEM, "Not enough memory");
  text_.reserve(BMAD_WORD_LIMIT + 1);
  next();
}

int BmadLexer::peek() {
  if (input_.pos == input_.end) {
    input_.fill(1);
    if (input_.failed())
      raise_input_failure(name_, input_.read_errno, "%s: %s", name_,
                          platform_error_text(input_.read_errno));
    if (input_.pos == input_.end)
      return -1;
  }
  return static_cast<unsigned char>(*input_.pos);
}

void BmadLexer::take_line_feed() {
  ++input_.pos;
  if (line_ == INT32_MAX)
    raise_input_error(name_, line_, "More than %d lines", INT32_MAX);
  ++line_;
}

void BmadLexer::next() {
  text_.clear();
  for (;;) {
    const int c = peek();
    if (c == '\n') {
      take_line_feed();
    } else if (c == '!') {
      while (peek() != '\n' && peek() != -1)
        ++input_.pos;
    } else if (is_blank(c)) {
      ++input_.pos;
    } else {
      break;
    }
  }
  token_line_ = line_;
  const int first = peek();
  if (first == -1) {
    kind_ = BmadToken::end;
    return;
  }
  if (const BmadToken mark = punctuation(first); mark != BmadToken::word) {
    kind_ = mark;
    text_.push_back(static_cast<char>(first));
    ++input_.pos;
    return;
  }
  const bool quoted = first == '"' || first == '\'';
  kind_ = quoted ? BmadToken::quoted : BmadToken::word;
  if (quoted) {
    text_.push_back(static_cast<char>(first));
    ++input_.pos;
  }
  for (;;) {
    const int c = peek();
    if (quoted ? c == -1 || c == '\n' : c == -1 || ends_word(c))
      break;
    if (text_.size() == BMAD_WORD_LIMIT)
      raise_input_error(name_, line_, "Word of more than %d bytes: %s",
                        static_cast<int>(BMAD_WORD_LIMIT), quoted_text(text_).c_str());
    text_.push_back(static_cast<char>(c));
    ++input_.pos;
    if (quoted && c == first && text_.size() > 1)
      return;
  }
  if (quoted)
    raise_input_error(name_, line_, "Quote not closed on its line: %s", quoted_text(text_).c_str());
}

std::string BmadLexer::shown() const {
  return kind_ == BmadToken::end ? std::string("the end of the file") : quoted_text(text_);
}

} // namespace norvalex
