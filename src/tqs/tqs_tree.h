// A loaded TQS file as a tree of nodes, and the access to it: lazy loading of a node's data
// from its file, the lookup of a uniquely named child and a pre-order walk over the group nodes.
//
// A node's data is loaded when it is first needed and stays with the node. Load failures throw
// norvalex::Error (messages 0, 1, 2 and 5) and leave the node as it was. Nothing here frees a
// node or its data: whoever built the tree does (see tqs_loader.h for trees read from a file).
#pragma once

#include "tqs_format.h"
#include "tqs_position.h"

#include <cstddef>
#include <cstdint>

// The largest forward gap between a stream's position and a node's data that a load reads and
// discards instead of seeking.
inline constexpr std::int64_t TQS_SKIP_LIMIT = 4096;

// Values of TqsNode::owner, the node's leading word. No operation of this file reads it; the
// loader marks its own nodes so that freeing a tree it did not build can be refused.
inline constexpr std::uint32_t TQS_OWNER_CALLER = 0;          // built and freed by the caller
inline constexpr std::uint32_t TQS_OWNER_LOADER = 0x54515331; // allocated by tqs_read_tree

// One node of a loaded TQS file tree. `name`, `type` and `size` lie together as the 24-byte
// block header does in the file.
struct TqsNode {
  std::uint32_t owner;  // TQS_OWNER_CALLER or TQS_OWNER_LOADER
  TqsNode* next;        // next sibling; null for the last child
  TqsNode* first_child; // null when the node has no children
  TqsNode* parent;      // null at the root
  char name[TQS_NAME_SIZE];
  std::uint32_t type;        // current type word; bit TQS_FLAG_GROUP marks a group node
  std::uint32_t size;        // current data size in bytes
  std::uint32_t stored_type; // the block's type word as stored in the file
  std::uint32_t stored_size; // the block's data bytes in the file; 0: nothing to load
  TqsFile* file;             // the file the node was read from
  std::int64_t data_offset;  // byte offset of the block's data in that file
  void* data;                // the node's data in memory; null until loaded
};

static_assert(offsetof(TqsNode, type) == offsetof(TqsNode, name) + offsetof(TqsBlockHeader, type));
static_assert(offsetof(TqsNode, size) == offsetof(TqsNode, name) + offsetof(TqsBlockHeader, size));

// Called by tqs_walk on every group node with its depth and the caller's context.
using TqsVisitor = void (*)(TqsNode* node, int depth, void* context);

// Calls `visitor` on every group node of the subtree under `node` (itself included), in
// pre-order, with depths counted from `depth`. Children of other nodes are walked all the same.
NORVALEX_TQS_API void tqs_walk(TqsNode* node, TqsVisitor visitor, int depth, void* context);

// The one child of `node` (not null) named `name`, or null when none or more than one is.
NORVALEX_TQS_API TqsNode* tqs_find_child(TqsNode* node, const char* name);

// Makes sure `node`'s data is in memory; does nothing for a null node, a node with stored size
// 0 or a loaded node. After a load `data` holds the stored bytes and `type` and `size` are the
// stored ones. A forward gap of up to TQS_SKIP_LIMIT bytes between the stream's position and the
// data is read and discarded; any other move, and every move from an unknown position, is a
// seek. A node with stored data but no `file` throws message 5. After any failure the node is
// as it was: `data` null, `type` and `size` unchanged.
NORVALEX_TQS_API void tqs_load_data(TqsNode* node);

// Reads `node`'s stored bytes (stored_size of them) from its file into `buffer`, which the
// caller owns and which holds at least that many: a large array goes straight to where its
// caller keeps it. The node is left as it is. Moves the stream and throws as tqs_load_data does.
NORVALEX_TQS_API void tqs_read_stored_data(const TqsNode* node, void* buffer);
