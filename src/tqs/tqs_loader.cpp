#include "norvalex/tqs.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "tqs/tqs_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace norvalex {

namespace {

void free_nodes(TqsNode* node) {
  while (node) {
    TqsNode* next = node->next;
    free_nodes(node->first_child);
    std::free(node->data); // loaded by tqs_load_data, or null
    std::free(node);
    node = next;
  }
}

// What tqs_read_tree has built so far; released whole unless the tree is handed out.
struct TreeUnderConstruction {
  TqsInput* input = nullptr;
  TqsNode* root = nullptr;

  TreeUnderConstruction() = default;
  TreeUnderConstruction(const TreeUnderConstruction&) = delete;
  TreeUnderConstruction& operator=(const TreeUnderConstruction&) = delete;
  ~TreeUnderConstruction() {
    if (!input) {
      return;
    }
    free_nodes(root);
    if (input->file.stream) {
      std::fclose(input->file.stream);
    }
    std::free(input);
  }
};

TqsNode* new_node(TqsInput& input) {
  auto* node = static_cast<TqsNode*>(std::calloc(1, sizeof(TqsNode)));
  if (!node) {
    raise_message(Message::not_enough_memory);
  }
  node->owner = TQS_OWNER_LOADER;
  node->file = &input.file;
  return node;
}

// Checks the start of the file and returns the offset of its first block: 48 after a file
// header, 0 for a file that begins with a "creator" block.
std::int64_t first_block_offset(TqsInput& input) {
  unsigned char start[sizeof(TqsFileHeader)] = {};
  const std::int64_t available = std::min(input.length, static_cast<std::int64_t>(sizeof start));
  if (available > 0) {
    tqs_read_at(input.file, 0, start, static_cast<std::size_t>(available));
  }
  if (available >= static_cast<std::int64_t>(sizeof(TqsBlockHeader))) {
    TqsBlockHeader block;
    std::memcpy(&block, start, sizeof block);
    if (tqs_is_creator_block(block.type, block.name)) {
      return 0; // appended to a new file: no header of its own
    }
  }
  if (available < static_cast<std::int64_t>(sizeof(TqsFileHeader))) {
    raise_file_message(Message::not_a_tq_file, input.file.name);
  }
  std::memcpy(&input.header, start, sizeof input.header);
  if (input.header.magic != TQS_MAGIC) {
    raise_file_message(Message::not_a_tq_file, input.file.name);
  }
  if (input.header.format_version[0] != TQS_FORMAT_VERSION ||
      input.header.format_version[1] != TQS_FORMAT_VERSION) {
    raise_file_message(Message::invalid_tqs_version, input.file.name);
  }
  input.has_header = 1;
  return sizeof(TqsFileHeader);
}

// Opens the file `name` into `input`, which is all zeros, and checks its start; returns the
// offset of its first block. A file that is refused is closed again before the error leaves.
std::int64_t open_input(TqsInput& input, const char* name) {
  input.file.name = name;
  // A FIFO without a writer is refused below as no regular file, instead of waiting for one.
  input.file.stream = platform_open_input(name);
  if (!input.file.stream) {
    raise_file_error(name, errno);
  }
  try {
    input.length = tqs_file_length(input.file);
    return first_block_offset(input);
  } catch (...) {
    std::fclose(input.file.stream);
    input.file.stream = nullptr;
    throw;
  }
}

// Reads `bytes` bytes at `offset` into `buffer`, where `position` is the stream's position (-1
// when unknown): a short forward gap is read through and discarded, which the stream's buffer
// serves, any other move is a seek. Headers one after another thus cost no call of the system
// each. `position` is where the read leaves the stream.
void read_at(const TqsFile& file, std::int64_t& position, std::int64_t offset, void* buffer,
             std::size_t bytes) {
  if (position >= 0 && offset >= position && offset - position <= TQS_SKIP_LIMIT) {
    char skipped[TQS_SKIP_LIMIT];
    if (offset > position) {
      tqs_read_item(file, skipped, static_cast<std::size_t>(offset - position));
    }
  } else {
    position = -1; // until the seek and the read have succeeded
    tqs_seek_to(file, offset);
  }
  tqs_read_data(file, buffer, bytes);
  position = offset + static_cast<std::int64_t>(bytes);
}

// Reads the header of the block at `offset`, which lies before the end of the file, into
// `block`, checked as every reader of the file checks it, and moves `offset` past the block;
// `position` is the stream's, as read_at has it. The size word is checked before the caller
// allocates anything for the block, so that no load ever allocates more than the file holds.
void read_block_header(const TqsInput& input, std::int64_t& position, std::int64_t& offset,
                       TqsBlockInfo& block) {
  constexpr auto header_size = static_cast<std::int64_t>(sizeof(TqsBlockHeader));
  check_interruption(); // every block, however small
  if (input.length - offset < header_size) {
    // Ends inside a block header.
    raise_file_message(Message::unexpected_end_of_file, input.file.name);
  }
  TqsBlockHeader header;
  read_at(input.file, position, offset, &header, sizeof header);
  if (!std::memchr(header.name, '\0', sizeof header.name)) {
    raise_file_message(Message::not_a_tq_file, input.file.name);
  }
  const std::int64_t data_offset = offset + header_size;
  if (header.size > input.length - data_offset) {
    // Ends inside the block's data.
    raise_file_message(Message::unexpected_end_of_file, input.file.name);
  }
  std::memcpy(block.name, header.name, sizeof block.name);
  block.type = header.type;
  block.size = header.size;
  block.data_offset = data_offset;
  offset = data_offset + header.size;
}

// Reads the block headers from `offset` to the end of the file into children of `root`.
void read_blocks(TqsInput& input, TqsNode* root, std::int64_t offset) {
  TqsNode** link = &root->first_child;
  std::int64_t position = -1;
  while (offset < input.length) {
    TqsBlockInfo block;
    read_block_header(input, position, offset, block);
    TqsNode* node = new_node(input);
    std::memcpy(node->name, block.name, sizeof node->name);
    node->type = node->stored_type = block.type;
    node->size = node->stored_size = block.size;
    node->data_offset = block.data_offset;
    node->parent = root;
    *link = node;
    link = &node->next;
  }
}

} // namespace

TqsNode* tqs_read_tree(const char* name) {
  TreeUnderConstruction tree;
  tree.input = static_cast<TqsInput*>(std::calloc(1, sizeof(TqsInput)));
  if (!tree.input) {
    raise_message(Message::not_enough_memory);
  }
  TqsInput& input = *tree.input;
  const std::int64_t first_block = open_input(input, name);
  tree.root = new_node(input);
  tree.root->type = tree.root->stored_type = TQS_FLAG_GROUP;
  tree.root->data_offset = first_block;
  read_blocks(input, tree.root, first_block);
  TqsNode* root = tree.root;
  tree.input = nullptr; // handed out: tqs_free_tree releases it
  return root;
}

TqsBlockReader::TqsBlockReader(const char* name) : next_offset_(open_input(input_, name)) {}

TqsBlockReader::~TqsBlockReader() {
  // Nothing was written to the stream, so a failing close loses nothing.
  std::fclose(input_.file.stream);
}

bool TqsBlockReader::next(TqsBlockInfo& block) {
  if (next_offset_ >= input_.length) {
    return false;
  }
  std::int64_t offset = next_offset_;
  TqsBlockInfo read;
  read_block_header(input_, position_, offset, read);
  block = read;
  next_offset_ = offset;
  return true;
}

void TqsBlockReader::read(std::int64_t offset, void* buffer, std::size_t bytes) {
  if (bytes > 0) {
    read_at(input_.file, position_, offset, buffer, bytes);
  }
}

TqsNode TqsBlockReader::node(const TqsBlockInfo& block) {
  // Whoever uses the node may move the stream.
  position_ = -1;
  TqsNode node{};
  node.owner = TQS_OWNER_CALLER;
  std::memcpy(node.name, block.name, sizeof node.name);
  node.type = node.stored_type = block.type;
  node.size = node.stored_size = block.size;
  node.file = const_cast<TqsFile*>(&input_.file);
  node.data_offset = block.data_offset;
  return node;
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
    raise_message(Message::invalid_memory_representation);
  }
  std::FILE* stream = input->file.stream;
  free_nodes(root);
  // Nothing was written to the stream, so a failing close loses nothing.
  std::fclose(stream);
  std::free(const_cast<TqsInput*>(input));
}

void TqsTreeDeleter::operator()(TqsNode* root) const noexcept {
  // Only trees from tqs_read_tree are owned, so this never throws.
  tqs_free_tree(root);
}

TqsTree tqs_load_tree(const char* name) {
  return TqsTree(tqs_read_tree(name));
}

} // namespace norvalex
