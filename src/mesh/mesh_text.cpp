#include "mesh/mesh_text.h"

#include <exception>
#include <system_error>
#include <thread>

namespace norvalex {

namespace {

// Items a piece: about a megabyte of text for lines of a few numbers.
constexpr std::size_t PIECE_ITEMS = 16384;

} // namespace

void TextOutput::write(std::string_view text) {
  try {
    check_interruption();
  } catch (...) {
    file_.give_up(); // never written to again: it is undone
    throw;
  }
  if (const int error_number = file_.write(text.data(), text.size()))
    raise_file_error(file_.name(), error_number);
}

void write_item_lines(
    TextOutput& out, std::size_t count,
    const std::function<void(TextBuffer& text, std::size_t first, std::size_t end)>& write_items) {
  if (count <= PIECE_ITEMS) {
    write_items(out, 0, count);
    out.flush();
    return;
  }
  out.flush();
  TextBuffer first_piece;
  TextBuffer second_piece;
  for (std::size_t first = 0; first < count; first += 2 * PIECE_ITEMS) {
    const std::size_t middle = std::min(count, first + PIECE_ITEMS);
    const std::size_t end = std::min(count, middle + PIECE_ITEMS);
    std::exception_ptr helper_error;
    std::jthread helper;
    second_piece.clear();
    try {
      helper = std::jthread([&] {
        try {
          write_items(second_piece, middle, end);
        } catch (...) {
          helper_error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      write_items(second_piece, middle, end); // no second thread: this one formats it too
    }
    first_piece.clear();
    write_items(first_piece, first, middle);
    out.write(first_piece.collected());
    if (helper.joinable())
      helper.join();
    if (helper_error)
      std::rethrow_exception(helper_error);
    out.write(second_piece.collected());
  }
}

} // namespace norvalex
