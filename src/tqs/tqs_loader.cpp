#include "tqs/tqs_loader.h"

#include "cli/diagnostics.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The start of a "creator" block: its name with the NUL, then type word 0x401.
constexpr char CREATOR_NAME[] = "creator";
constexpr std::uint32_t CREATOR_TYPE = TQS_FLAG_SINGLE | TQS_TYPE_STRING;

// The length of the file behind `file`; -1 (after message 0) when it is not a regular file.
std::int64_t file_length(const TqsFile& file) {
  struct stat status;
  if (fstat(fileno(file.stream), &status) != 0) {
    tqs_report_system_error(file);
    return -1;
  }
  if (!S_ISREG(status.st_mode)) {
    // Blocks are found by their offsets, which a folder, a pipe or a terminal does not have.
    errno = S_ISDIR(status.st_mode) ? EISDIR : ESPIPE;
    tqs_report_system_error(file);
    return -1;
  }
  return status.st_size;
}

// Reads `bytes` bytes at `offset`. The caller has checked them against the file's length, so a
// short read means the file shrank or failed. False tells that a replaced handler returned.
bool read_at(const TqsFile& file, std::int64_t offset, void* buffer, std::size_t bytes) {
  return tqs_seek_to(file, offset) && tqs_read_item(file, buffer, bytes);
}

TqsNode* new_node(TqsInput& input) {
  auto* node = static_cast<TqsNode*>(std::calloc(1, sizeof(TqsNode)));
  if (!node) {
    report_message(library_messages, 1);
    return nullptr;
  }
  node->owner = TQS_OWNER_LOADER;
  node->file = &input.file;
  return node;
}

void free_nodes(TqsNode* node) {
  while (node) {
    TqsNode* next = node->next;
    free_nodes(node->first_child);
    std::free(node->data); // loaded by tqs_load_data, or null
    std::free(node);
    node = next;
  }
}

// Checks the start of the file and returns the offset of its first block: 48 after a file
// header, 0 for a file that begins with a "creator" block; -1 after a message.
std::int64_t first_block_offset(TqsInput& input) {
  unsigned char start[sizeof(TqsFileHeader)] = {};
  const std::int64_t available = std::min(input.length, static_cast<std::int64_t>(sizeof start));
  if (available > 0 && !read_at(input.file, 0, start, static_cast<std::size_t>(available))) {
    return -1;
  }
  if (available >= static_cast<std::int64_t>(sizeof(TqsBlockHeader))) {
    TqsBlockHeader block;
    std::memcpy(&block, start, sizeof block);
    if (block.type == CREATOR_TYPE &&
        std::memcmp(block.name, CREATOR_NAME, sizeof CREATOR_NAME) == 0) {
      return 0; // appended to a new file: no header of its own
    }
  }
  if (available < static_cast<std::int64_t>(sizeof(TqsFileHeader))) {
    report_message(library_messages, 3, input.file.name);
    return -1;
  }
  std::memcpy(&input.header, start, sizeof input.header);
  if (input.header.magic != TQS_MAGIC) {
    report_message(library_messages, 3, input.file.name);
    return -1;
  }
  if (input.header.format_version[0] != TQS_FORMAT_VERSION ||
      input.header.format_version[1] != TQS_FORMAT_VERSION) {
    report_message(library_messages, 4, input.file.name);
    return -1;
  }
  input.has_header = 1;
  return sizeof(TqsFileHeader);
}

// Reads the block headers from `offset` to the end of the file into children of `root`.
// False after a message.
bool read_blocks(TqsInput& input, TqsNode* root, std::int64_t offset) {
  TqsNode** link = &root->first_child;
  constexpr auto header_size = static_cast<std::int64_t>(sizeof(TqsBlockHeader));
  while (offset < input.length) {
    if (input.length - offset < header_size) {
      report_message(library_messages, 2, input.file.name); // ends inside a block header
      return false;
    }
    TqsBlockHeader block;
    if (!read_at(input.file, offset, &block, sizeof block)) {
      return false;
    }
    if (!std::memchr(block.name, '\0', sizeof block.name)) {
      report_message(library_messages, 3, input.file.name);
      return false;
    }
    const std::int64_t data_offset = offset + header_size;
    // The size word is checked before the node exists, so a later load allocates no more
    // than the file holds.
    if (block.size > input.length - data_offset) {
      report_message(library_messages, 2, input.file.name); // ends inside the block's data
      return false;
    }
    TqsNode* node = new_node(input);
    if (!node) {
      return false;
    }
    std::memcpy(node->name, block.name, sizeof node->name);
    node->type = node->stored_type = block.type;
    node->size = node->stored_size = block.size;
    node->data_offset = data_offset;
    node->parent = root;
    *link = node;
    link = &node->next;
    offset = data_offset + block.size;
  }
  return true;
}

} // namespace

TqsNode* tqs_read_tree(const char* name) {
  std::FILE* stream = std::fopen(name, "rb");
  if (!stream) {
    report_message(library_messages, 0, name, std::strerror(errno));
    return nullptr;
  }
  auto* input = static_cast<TqsInput*>(std::calloc(1, sizeof(TqsInput)));
  if (!input) {
    std::fclose(stream);
    report_message(library_messages, 1);
    return nullptr;
  }
  input->file.stream = stream;
  input->file.name = name;
  TqsNode* root = new_node(*input);
  if (root) {
    root->type = root->stored_type = TQS_FLAG_GROUP;
    input->length = file_length(input->file);
    if (input->length >= 0) {
      root->data_offset = first_block_offset(*input);
      if (root->data_offset >= 0 && read_blocks(*input, root, root->data_offset)) {
        return root;
      }
    }
  }
  // Only a replaced handler that returned gets here.
  free_nodes(root);
  std::fclose(stream);
  std::free(input);
  return nullptr;
}

const TqsInput* tqs_tree_input(const TqsNode* node) {
  if (!node || node->owner != TQS_OWNER_LOADER || !node->file) {
    return nullptr;
  }
  // The file handle is the first member of its TqsInput, so the two addresses are one.
  return reinterpret_cast<const TqsInput*>(node->file);
}

void tqs_free_tree(TqsNode* root) {
  if (!root) {
    return;
  }
  const TqsInput* input = tqs_tree_input(root);
  if (!input || root->parent) {
    report_message(library_messages, 5);
    return;
  }
  std::FILE* stream = input->file.stream;
  free_nodes(root);
  // Nothing was written to the stream, so a failing close loses nothing.
  std::fclose(stream);
  std::free(const_cast<TqsInput*>(input));
}
