#include "norvalex/tqs.h"

#include "diag/raise.h"
#include "tqs/tqs_io.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace norvalex {

namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// Moves the stream of `file` to `target` the cheap way: a short forward gap is read into a
// buffer of this call and discarded, any other move is a seek.
void move_to(const TqsFile& file, std::int64_t target) {
  const std::int64_t cur = tqs_tell(file.stream);
  // An unknown position (-1) says nothing about the gap, so the stream is sought.
  if (cur >= 0 && target > cur && target - cur <= TQS_SKIP_LIMIT) {
    char skipped[TQS_SKIP_LIMIT];
    tqs_read_item(file, skipped, static_cast<std::size_t>(target - cur));
    return;
  }
  tqs_seek_to(file, target);
}

const TqsFile& stored_data_file(const TqsNode* node) {
  if (!node->file) {
    // Stored data without a file to read it from: the tree was built wrongly.
    raise_message(Message::invalid_memory_representation);
  }
  return *node->file;
}

} // namespace

void tqs_walk(TqsNode* node, TqsVisitor visitor, int depth, void* context) {
  if (!node) {
    return;
  }
  if (node->type & TQS_FLAG_GROUP) {
    visitor(node, depth, context);
  }
  for (TqsNode* child = node->first_child; child; child = child->next) {
    tqs_walk(child, visitor, depth + 1, context);
  }
}

TqsNode* tqs_find_child(TqsNode* node, const char* name) {
  TqsNode* match = nullptr;
  for (TqsNode* child = node->first_child; child; child = child->next) {
    // A name field without its NUL would be read past its end; such a child matches nothing.
    if (!std::memchr(child->name, '\0', sizeof child->name) ||
        std::strcmp(child->name, name) != 0) {
      continue;
    }
    if (match) {
      return nullptr;
    }
    match = child;
  }
  return match;
}

void tqs_load_data(TqsNode* node) {
  if (!node || node->stored_size == 0 || node->data) {
    return;
  }
  stored_data_file(node); // checked before anything is allocated
  // The buffer receives stored_size bytes and afterwards holds `size` = stored_size bytes, so
  // it gets the larger of the two sizes: a builder's smaller `size` never makes the read
  // overrun it.
  const std::size_t bytes = std::max(node->size, node->stored_size);
  std::unique_ptr<void, FreeDeleter> buffer(std::malloc(bytes));
  if (!buffer) {
    raise_message(Message::not_enough_memory);
  }
  tqs_read_stored_data(node, buffer.get());
  node->data = buffer.release();
  node->size = node->stored_size;
  node->type = node->stored_type;
}

void tqs_read_stored_data(const TqsNode* node, void* buffer) {
  const TqsFile& file = stored_data_file(node);
  move_to(file, node->data_offset);
  tqs_read_data(file, buffer, node->stored_size);
}

} // namespace norvalex
