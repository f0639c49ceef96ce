// Reads a TQS file into a tree of TqsNode records for the statistics of tqs_stats.h: a root
// group node with one child per block, in file order. Only the headers are read; each child's
// data is loaded when first needed (tqs_load_data) from the file, which stays open until the
// tree is freed.
//
// Every failure throws norvalex::Error with a numbered library message; whatever was opened or
// allocated for the tree is released first.
#pragma once

#include "tqs_format.h"
#include "tqs_tree.h"

#include <cstdint>
#include <memory>

// The open file behind a loaded tree. Every node of the tree has `file` pointing at the `file`
// member, which therefore comes first.
struct TqsInput {
  TqsFile file;         // the stream and the caller's file name (borrowed, not copied)
  std::int64_t length;  // length of the file in bytes when it was read
  int has_header;       // 0 for a file that begins with a "creator" block instead of a header
  TqsFileHeader header; // the file header; all zeros when has_header is 0
};

// Opens the file `name` and reads its block headers into a tree, without loading any data.
// Accepts a file that begins with the 48-byte header of format version 1.1, or with the header
// of a "creator" block (name "creator", type word 0x401), as appending to a new file leaves it.
// The root is a group node (type word TQS_FLAG_GROUP) with the empty name, stored size 0 and the
// offset of the first block as its data offset; each block becomes a child with the block's
// name, its type word and size as both current and stored ones, and the offset of its data.
// Blocks appended after a file's own ones are further children.
//
// Refused, before anything of the block is allocated: a file that cannot be opened or is not a
// regular file (message 0), that neither kind of start fits (3, "Not a TQ-File"), whose header
// has another format version (4, "Invalid TQS-version"), with a block name that lacks its NUL
// (3), or that ends inside a block header or a block's data (2, "Unexpected end of file").
// Never returns null.
NORVALEX_TQS_API TqsNode* tqs_read_tree(const char* name);

// The input behind a node of a tree read by tqs_read_tree, or null for any other node.
NORVALEX_TQS_API const TqsInput* tqs_tree_input(const TqsNode* node);

// Frees a tree read by tqs_read_tree: every node, every loaded data buffer and the input, and
// closes the file. A null root is ignored; any node other than such a tree's root throws
// message 5 ("Invalid memory representation of datafile") and is left alone.
NORVALEX_TQS_API void tqs_free_tree(TqsNode* root);

// Owns a tree read by tqs_read_tree and frees it with tqs_free_tree.
struct NORVALEX_TQS_API TqsTreeDeleter {
  void operator()(TqsNode* root) const noexcept;
};
using TqsTree = std::unique_ptr<TqsNode, TqsTreeDeleter>;

// tqs_read_tree with its result owned.
NORVALEX_TQS_API TqsTree tqs_load_tree(const char* name);
