// The tokens of Bmad's lattice text, as the grid_field reader takes them: punctuation, words (a
// name or a number: the bytes up to the next blank, punctuation or comment) and quoted texts,
// read in blocks from a stream; "!" starts a comment that runs to the end of its line.
#pragma once

#include "text/text_input.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace norvalex {

enum class BmadToken {
  end, // of the file
  word,
  quoted, // a text in single or double quotes, the quotes included
  open_brace,
  close_brace,
  open_paren,
  close_paren,
  comma,
  equals,
};

// Longest word or quoted text taken: nothing of a grid_field is longer.
inline constexpr std::size_t BMAD_WORD_LIMIT = 256;

class BmadLexer {
public:
  // Reads `stream` from where it stands; the caller keeps it open. `name` names the file in
  // errors. Reads the first token.
  BmadLexer(std::FILE* stream, const char* name);

  // Reads the next token. A word or quoted text longer than BMAD_WORD_LIMIT, a quote that its
  // line does not close and a failed read throw.
  void next();

  BmadToken kind() const { return kind_; }
  // The word's or the quoted text's bytes, or the punctuation.
  std::string_view text() const { return text_; }
  // The line of the token, from 1.
  std::int32_t line() const { return token_line_; }
  const char* name() const { return name_; }
  // The token as messages show it: quoted and escaped, or "the end of the file".
  std::string shown() const;

private:
  // The next byte without taking it, or -1 at the end of the stream.
  int peek();
  void take_line_feed();

  const char* name_;
  TextInput input_;
  BmadToken kind_ = BmadToken::end;
  std::string text_;
  std::int32_t line_ = 1;
  std::int32_t token_line_ = 1;
};

} // namespace norvalex
