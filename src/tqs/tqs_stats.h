// Statistics over stored arrays of doubles in a tree of TQS nodes, and the node access they rest
// on: lazy loading of a node's data from its file, the lookup of a uniquely named child, a
// pre-order walk over the group nodes and 64-bit stream positions.
//
// A node's data is loaded when it is first needed and stays with the node. Load failures are
// raised as numbered library messages (0, 1, 2), which end the process unless the fatal handler
// has been replaced by one that returns. Nothing here frees a node or its data: whoever built
// the tree does (see tqs_loader.h for trees read from a file).
#pragma once

#include "tqs/tqs_format.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The largest forward gap between a stream's position and a node's data that a load reads and
// discards instead of seeking; also the size of the one static skip buffer.
inline constexpr std::int64_t TQS_SKIP_LIMIT = 4096;

// Values of TqsNode::owner, the node's leading word. No operation of this file reads it; the
// loader marks its own nodes so that freeing a tree it did not build can be refused.
inline constexpr std::uint32_t TQS_OWNER_CALLER = 0;          // built and freed by the caller
inline constexpr std::uint32_t TQS_OWNER_LOADER = 0x54515331; // allocated by tqs_read_tree

// An open input file. `stream` and `name` come first and in this order, as in the writer's
// TqsOutput: a node's `file` is read only through these two fields.
struct TqsFile {
  std::FILE* stream;
  const char* name; // used in messages
};

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

// Statistics over the elements of the selected arrays.
struct ArrayStats {
  const char* name;   // name of the array looked up under each visited node (borrowed)
  std::int32_t count; // elements accumulated
  double min;
  double max;
  double sum;
  double sum_sq; // sum of the squares
  double avg;    // set only when count is at least 1
  double std;    // population standard deviation; set only when count is at least 1
};

// A statistic: writes its value to `out` and returns 1, or returns 0 and leaves `out` alone.
// `whole_tree` 0 selects the array `name` directly under `node`; any other value pools the arrays
// `name` under every group node of the tree that `node` belongs to.
using StatFunction = int (*)(TqsNode* node, const char* name, double* out, int whole_tree);

struct StatEntry {
  const char* name;
  StatFunction function;
};

// "Min", "Max", "Max-Min", "Avg", "Std", "Sum", "N", then a closing row {"", nullptr}.
extern const std::array<StatEntry, 8> tqs_stat_table;

// The row of `tqs_stat_table` whose name equals `name` exactly (case-sensitive), or null for a
// null, empty or unknown name.
const StatEntry* tqs_find_stat(const char* name);

int stat_min(TqsNode* node, const char* name, double* out, int whole_tree);
int stat_max(TqsNode* node, const char* name, double* out, int whole_tree);
int stat_range(TqsNode* node, const char* name, double* out, int whole_tree); // max - min
int stat_avg(TqsNode* node, const char* name, double* out, int whole_tree);
int stat_std(TqsNode* node, const char* name, double* out, int whole_tree); // needs 2 elements
int stat_sum(TqsNode* node, const char* name, double* out, int whole_tree);
int stat_count(TqsNode* node, const char* name, double* out, int whole_tree);

// Fills `stats` from its start values; returns 1 when at least one element was accumulated and
// 0 when `node` is null or no element was found (`avg` and `std` are then not set).
int tqs_array_stats(ArrayStats* stats, TqsNode* node, const char* name, int whole_tree);

// Called by tqs_walk on every group node with its depth and the caller's context.
using TqsVisitor = void (*)(TqsNode* node, int depth, void* context);

// A visitor whose context is an ArrayStats: adds the elements of `node`'s one child named
// `stats->name`, loaded if need be and read as doubles whatever its type word says.
void tqs_accumulate(TqsNode* node, int depth, void* context);

// Calls `visitor` on every group node of the subtree under `node` (itself included), in
// pre-order, with depths counted from `depth`. Children of other nodes are walked all the same.
void tqs_walk(TqsNode* node, TqsVisitor visitor, int depth, void* context);

// The one child of `node` (not null) named `name`, or null when none or more than one is.
TqsNode* tqs_find_child(TqsNode* node, const char* name);

// Makes sure `node`'s data is in memory; does nothing for a null node, a node with stored size
// 0 or a loaded node. After a load `data` holds the stored bytes and `type` and `size` are the
// stored ones. A forward gap of up to TQS_SKIP_LIMIT bytes between the stream's position and the
// data is read and discarded; any other move, and every move from an unknown position, is a
// seek. A node with stored data but no `file` raises message 5. If a replaced handler returns
// after any failure, the node is left as it was: `data` null, `type` and `size` unchanged.
void tqs_load_data(TqsNode* node);

// The stream's position as a byte offset, or -1 when it cannot be determined.
std::int64_t tqs_tell(std::FILE* stream);

// Positions `stream` at `offset` from the start (whence 0), the current position (1) or the end
// of the file (2). Returns 0 on success; 22 for another whence or a target before the start of
// the file; 9 when whence is 2 and the length of the file is unknown; otherwise the non-zero
// result of the positioning call (-1, with errno set; also for whence 1 when the current
// position is unknown). 22 and 9 are returned only, never stored in errno.
int tqs_seek(std::FILE* stream, std::int64_t offset, int whence);

// Shared by the loads of this library. Each raises its failure as a numbered message and returns
// false only when a replaced handler returned.
// Message 0 for `file` with the system's text for the current error number.
void tqs_report_system_error(const TqsFile& file);
// Positions the stream of `file` at `offset` from the start; message 0 on failure.
bool tqs_seek_to(const TqsFile& file, std::int64_t offset);
// Reads `bytes` bytes as one item; a short read raises message 0 when the stream's error
// indicator is set, then message 2 ("Unexpected end of file").
bool tqs_read_item(const TqsFile& file, void* buffer, std::size_t bytes);
