// The TQS data-file library: the format's records and constants, the writer, the loader that
// reads a file back into a tree of nodes, the lazy loading of a node's data, the statistics over
// stored arrays and the structure check. Byte-layout tables: docs/tqs-format.md. Every failure
// throws norvalex::Error with a numbered message (error.h).
#pragma once

#include "norvalex/error.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace norvalex {

// ------------------------------------------------------------------------------------------------
// Byte records and codes of the TQS data-file format: a 48-byte file header followed by blocks,
// each a 24-byte block header and then its data. Byte-layout tables: docs/tqs-format.md.

// Records go to and from files as their exact memory image, and array data go straight from the
// caller's memory, so the host must store integers and doubles little-endian as the files do.
static_assert(std::endian::native == std::endian::little, "TQS data are stored little-endian");

inline constexpr std::uint32_t TQS_MAGIC = 0x059F4C75; // 75 4C 9F 05 on disk
inline constexpr std::uint8_t TQS_FORMAT_VERSION = 1;  // both format_version bytes

// A text field holds at most 15 bytes and a NUL.
inline constexpr std::size_t TQS_NAME_SIZE = 16;

// Type word: the element type code in the low byte, flags above it.
inline constexpr std::uint32_t TQS_TYPE_CODE_MASK = 0xFF;
// Marks a group node of a loaded tree; the whole-tree statistics look for arrays among the
// children of group nodes. The writer never sets it.
inline constexpr std::uint32_t TQS_FLAG_GROUP = 0x100;
inline constexpr std::uint32_t TQS_FLAG_SINGLE = 0x400; // the data is one single value
inline constexpr std::uint32_t TQS_FLAG_ARRAY = 0x800;  // the data is elements one after another

// Element type codes. Apart from strings and doubles the format knows a code only by the size
// of its elements, so those names state the size and the code.
inline constexpr std::uint32_t TQS_TYPE_STRING = 0x01; // NUL-terminated text, single value only
inline constexpr std::uint32_t TQS_TYPE_SIZE4_02 = 0x02;
inline constexpr std::uint32_t TQS_TYPE_DOUBLE = 0x03;   // IEEE 754 binary64
inline constexpr std::uint32_t TQS_TYPE_SIZE0_10 = 0x10; // elements without data bytes
inline constexpr std::uint32_t TQS_TYPE_SIZE1_20 = 0x20;
inline constexpr std::uint32_t TQS_TYPE_SIZE1_30 = 0x30;
inline constexpr std::uint32_t TQS_TYPE_SIZE2_40 = 0x40;
inline constexpr std::uint32_t TQS_TYPE_SIZE2_50 = 0x50;
inline constexpr std::uint32_t TQS_TYPE_SIZE4_60 = 0x60;
inline constexpr std::uint32_t TQS_TYPE_SIZE4_90 = 0x90;

// A "creator" block: a single-value string named "creator" holding the writing program's name. It
// stands where a file header would when a program appends its blocks to a file, and so starts
// each appended series.
inline constexpr char TQS_CREATOR_NAME[] = "creator";
inline constexpr std::uint32_t TQS_CREATOR_TYPE = TQS_FLAG_SINGLE | TQS_TYPE_STRING;

inline bool tqs_is_creator_block(std::uint32_t type, const char (&name)[TQS_NAME_SIZE]) {
  return type == TQS_CREATOR_TYPE &&
         std::memcmp(name, TQS_CREATOR_NAME, sizeof TQS_CREATOR_NAME) == 0;
}

struct TqsFileHeader {
  std::uint32_t magic;
  std::int32_t created; // seconds since 1970-01-01 00:00:00 UTC
  char creator[TQS_NAME_SIZE];
  char second_name[TQS_NAME_SIZE];
  std::uint8_t format_version[2];
  std::uint8_t creator_version[2];
  std::uint8_t second_version[2];
  std::uint8_t unused[2]; // no defined content
};

struct TqsBlockHeader {
  char name[TQS_NAME_SIZE];
  std::uint32_t type;
  std::uint32_t size; // number of data bytes that follow the header
};

// The memory image is the file image: exact sizes, no padding, fields at their file offsets.
static_assert(sizeof(TqsFileHeader) == 48);
static_assert(std::has_unique_object_representations_v<TqsFileHeader>);
static_assert(offsetof(TqsFileHeader, creator) == 8 && offsetof(TqsFileHeader, second_name) == 24);
static_assert(offsetof(TqsFileHeader, format_version) == 40 &&
              offsetof(TqsFileHeader, second_version) == 44);
static_assert(sizeof(TqsBlockHeader) == 24);
static_assert(std::has_unique_object_representations_v<TqsBlockHeader>);
static_assert(offsetof(TqsBlockHeader, type) == 16 && offsetof(TqsBlockHeader, size) == 20);

// Element size in bytes of the code in the low byte of `type`, or -1 for a code without a size.
// Flag bits do not change the result.
NORVALEX_TQS_API int tqs_element_size(std::uint32_t type);

// ------------------------------------------------------------------------------------------------
// Writes TQS files: into a file it opens (replaced whole, or written at its end when appending)
// or into a stream the caller owns, such as standard output. Every failure throws norvalex::Error
// with a numbered library message. An output whose write failed, or that is not open, is never
// written to again: every later write throws message 0 with "Bad file descriptor", so no block
// can follow a record cut short.
//
// A named file is never left half-written. A regular file (or a new name) is written into a
// temporary file beside it, which only a successful tqs_close_output puts in its place; an append
// to a regular file holds an exclusive lock on it and, when it fails or is given up, cuts the file
// back to its length before (or removes it when this output created it). Devices, FIFOs and
// names like /dev/stdout are written in place.

// Size of the one full buffer every output file gets.
inline constexpr std::size_t TQS_BUFFER_SIZE = 1048576;

// An open output. `stream` and `name` come first and in this order: a loaded tree's file handle
// (TqsFile) shares that layout. An output that goes out of scope without a successful
// tqs_close_output (after a failure, say) is undone: its temporary file is removed, or the
// appended file is cut back (or removed) as described above.
class NORVALEX_TQS_API TqsOutput {
public:
  std::FILE* stream = nullptr;
  const char* name = nullptr; // "-" for standard output, else the caller's file name (borrowed)
  int append = 0; // non-zero when appending: a "creator" block stands in for the file header

  // The writer's own: the output file it writes into, which knows how to undo it.
  struct State;
  std::unique_ptr<State> state;

  TqsOutput();
  TqsOutput(const TqsOutput&) = delete;
  TqsOutput& operator=(const TqsOutput&) = delete;
  ~TqsOutput();
};

// What a file header holds besides the magic, the format version and the creation time.
struct TqsHeaderFields {
  const char* creator = "";                      // the writing program, at most 15 bytes kept
  std::array<std::uint8_t, 2> creator_version{}; // given by the writing program with its name
  const char* second_name = "";                  // a second name, at most 15 bytes kept
  std::array<std::uint8_t, 2> second_version{};
};

// Opens the file `name`: a new file that replaces it at the close (written in place for a device,
// a FIFO and the like), or with `append` created if missing and written at its end under the
// lock. Throws message 0 with `name` when it cannot be opened. Returns 0 when the stream got its
// full buffer of TQS_BUFFER_SIZE bytes, -1 when it keeps the C library's buffering.
NORVALEX_TQS_API int tqs_open_file(TqsOutput& output, const char* name, bool append);

// Writes to `stream`, which the caller opened and keeps open; `name` names it in messages.
NORVALEX_TQS_API void tqs_use_stream(TqsOutput& output, std::FILE* stream, const char* name,
                                     bool append);

// Writes the 48-byte file header, or in append mode a "creator" string block holding the
// creator's name (the second name and the version bytes are then dropped).
NORVALEX_TQS_API void tqs_write_header(TqsOutput& output, const TqsHeaderFields& fields);

// Fills every byte of `header`; names longer than 15 bytes are cut to 15. The creation time is
// taken last.
NORVALEX_TQS_API void tqs_fill_header(TqsFileHeader& header, const TqsHeaderFields& fields);

// Writes an array block of `count` elements of the code in `type`, straight from `data`. An
// element type without a size, a negative count, or a byte size beyond the 32-bit size word is
// refused before anything of the block is written.
NORVALEX_TQS_API void tqs_write_array(TqsOutput& output, const char* name, std::int32_t count,
                                      std::uint32_t type, const void* data);

// Writes a single-value string block; its data is `value` with its NUL. `flags` is normally 0.
NORVALEX_TQS_API void tqs_write_string(TqsOutput& output, const char* name, std::uint32_t flags,
                                       const char* value);

// Writes `header` and then its `size` bytes from `data`; `data` is not read when `size` is 0.
NORVALEX_TQS_API void tqs_write_block(TqsOutput& output, const TqsBlockHeader& header,
                                      const void* data);

// Writes `size` bytes from `data` as they are: for the outputs of other forms (text tables, say)
// that go through the same output with the same guarantees.
NORVALEX_TQS_API void tqs_write_bytes(TqsOutput& output, const void* data, std::size_t size);

// Flushes a caller's stream and leaves it open, or closes the file the writer opened: a
// temporary file is written through to the storage device and renamed over its target; an
// appended file is unlocked. A failure that shows only now throws like any other write failure,
// after the output has been undone; the output is finished either way.
NORVALEX_TQS_API void tqs_close_output(TqsOutput& output);

// ------------------------------------------------------------------------------------------------
// 64-bit byte positions of file streams.

// An open input file. `stream` and `name` come first and in this order, as in the writer's
// TqsOutput.
struct TqsFile {
  std::FILE* stream;
  const char* name; // used in messages
};

// The stream's position as a byte offset, or -1 when it cannot be determined.
NORVALEX_TQS_API std::int64_t tqs_tell(std::FILE* stream);

// Positions `stream` at `offset` from the start (whence 0), the current position (1) or the end
// of the file (2). Returns 0 on success; 22 for another whence or a target before the start of
// the file; 9 when whence is 2 and the length of the file is unknown; otherwise the non-zero
// result of the positioning call (-1, with errno set; also for whence 1 when the current
// position is unknown). 22 and 9 are returned only, never stored in errno.
NORVALEX_TQS_API int tqs_seek(std::FILE* stream, std::int64_t offset, int whence);

// ------------------------------------------------------------------------------------------------
// A loaded TQS file as a tree of nodes, and the access to it: lazy loading of a node's data
// from its file, the lookup of a uniquely named child and a pre-order walk over the group nodes.
//
// A node's data is loaded when it is first needed and stays with the node. Load failures throw
// norvalex::Error (messages 0, 1, 2 and 5) and leave the node as it was. Nothing here frees a
// node or its data: whoever built the tree does (see tqs_read_tree for trees read from a file).

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

// ------------------------------------------------------------------------------------------------
// Reads a TQS file into a tree of TqsNode records for the statistics below: a root
// group node with one child per block, in file order. Only the headers are read; each child's
// data is loaded when first needed (tqs_load_data) from the file, which stays open until the
// tree is freed.
//
// Every failure throws norvalex::Error with a numbered library message; whatever was opened or
// allocated for the tree is released first.

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

// One block of a file as its header tells it, read by a TqsBlockReader.
struct TqsBlockInfo {
  char name[TQS_NAME_SIZE]; // the name field, with its NUL
  std::uint32_t type;       // type word
  std::uint32_t size;       // data bytes (the size word)
  std::int64_t data_offset; // byte offset of the data in the file
};

// Reads the blocks of a TQS file one after another, each checked as tqs_read_tree checks it,
// without building a tree: whatever the number of blocks, it holds the header of one, so that a
// file of millions of blocks is walked in constant memory. A block's data is read only when asked
// for. The file stays open until the reader is destroyed; tqs_read_tree reads through the same
// checks.
class NORVALEX_TQS_API TqsBlockReader {
public:
  // Opens the file `name` (which must outlive the reader) and checks its start; refused as
  // tqs_read_tree refuses it (message 0, 3 or 4), with the file closed again.
  explicit TqsBlockReader(const char* name);
  ~TqsBlockReader();
  TqsBlockReader(const TqsBlockReader&) = delete;
  TqsBlockReader& operator=(const TqsBlockReader&) = delete;

  // The open file: its stream and name, length, whether it has a header, and the header.
  const TqsInput& input() const noexcept { return input_; }

  // Reads the header of the next block into `block` and returns true, or returns false after the
  // last block. A block that ends past the end of the file (2, "Unexpected end of file") or whose
  // name lacks its NUL (3) throws, as tqs_read_tree refuses it, with `block` unchanged.
  bool next(TqsBlockInfo& block);

  // Reads `bytes` bytes of the file from `offset` into `buffer`, which holds at least that many;
  // throws message 0 or 2 as a load does. next() goes on where it was all the same.
  void read(std::int64_t offset, void* buffer, std::size_t bytes);

  // A node for `block`, as a tree of the file would hold it, for the statistics: unloaded, with
  // no parent and no sibling, its data read from this reader's file (as long as it lives) and
  // owner TQS_OWNER_CALLER, so that it is never taken for the root of a loaded tree. Loads and
  // statistics through it move the stream, which the reader seeks again afterwards.
  TqsNode node(const TqsBlockInfo& block);

private:
  TqsInput input_{};
  std::int64_t next_offset_ = 0; // of the next block's header
  std::int64_t position_ = -1;   // of the stream, when the reader's own reads left it known
};

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

// ------------------------------------------------------------------------------------------------
// Statistics over stored arrays of doubles in a tree of TQS nodes: for the one array of a name
// directly under a node, or pooled over the arrays of that name under every group node of the
// node's tree. Data is loaded when a statistic first needs it (tqs_load_data); a failed load
// throws norvalex::Error.

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
extern NORVALEX_TQS_API const std::array<StatEntry, 8> tqs_stat_table;

// The row of `tqs_stat_table` whose name equals `name` exactly (case-sensitive), or null for a
// null, empty or unknown name.
NORVALEX_TQS_API const StatEntry* tqs_find_stat(const char* name);

NORVALEX_TQS_API int stat_min(TqsNode* node, const char* name, double* out, int whole_tree);
NORVALEX_TQS_API int stat_max(TqsNode* node, const char* name, double* out, int whole_tree);
// max - min
NORVALEX_TQS_API int stat_range(TqsNode* node, const char* name, double* out, int whole_tree);
NORVALEX_TQS_API int stat_avg(TqsNode* node, const char* name, double* out, int whole_tree);
// needs 2 elements
NORVALEX_TQS_API int stat_std(TqsNode* node, const char* name, double* out, int whole_tree);
NORVALEX_TQS_API int stat_sum(TqsNode* node, const char* name, double* out, int whole_tree);
NORVALEX_TQS_API int stat_count(TqsNode* node, const char* name, double* out, int whole_tree);

// Fills `stats` from its start values; returns 1 when at least one element was accumulated and
// 0 when `node` is null or no element was found (`avg` and `std` are then not set).
NORVALEX_TQS_API int tqs_array_stats(ArrayStats* stats, TqsNode* node, const char* name,
                                     int whole_tree);

// A visitor whose context is an ArrayStats: adds the elements of `node`'s one child named
// `stats->name`, loaded if need be and read as doubles whatever its type word says.
NORVALEX_TQS_API void tqs_accumulate(TqsNode* node, int depth, void* context);

// Fills `stats` from the array that `node` itself holds (not a child of it), read as doubles
// whatever its type word says, with `stats->name` pointing at the node's name. Nothing is found
// by name, so this reaches every block of a tree, also one whose name repeats. A loaded node is
// read from memory; an unloaded one is read from its file in pieces through a buffer of this call
// and stays unloaded, so that the statistics of a large file need no more memory than that
// buffer. Returns as tqs_array_stats does; a failed read throws as tqs_load_data does.
NORVALEX_TQS_API int tqs_node_stats(ArrayStats* stats, TqsNode* node);

// Fills `stats[k]` as tqs_node_stats(&stats[k], nodes[k]) does, with the same bits, for every k
// below `count`. Two nodes at a time are summed side by side, which takes about half the time of
// one after the other: each array's sums are a chain of additions that must stay in order. A
// failed read throws; the statistics are then incomplete.
NORVALEX_TQS_API void tqs_nodes_stats(ArrayStats* stats, TqsNode* const* nodes, std::size_t count);

// The value that the statistic of `entry` (a row of tqs_stat_table, or a copy of one) takes from
// statistics that are already filled: writes it to `out` and returns 1, or returns 0 and leaves
// `out` alone where that statistic would fail (no elements, or one only for "Std"). The table's
// own functions pick their values here.
NORVALEX_TQS_API int tqs_stat_value(const StatEntry* entry, const ArrayStats* stats, double* out);

// Every statistic of the table at once, each empty where it fails (no elements; one only for
// "Std"). `count` is the table's "N", a double as its row gives it.
struct TqsStatValues {
  std::optional<double> min;
  std::optional<double> max;
  std::optional<double> range; // "Max-Min"
  std::optional<double> avg;
  std::optional<double> std;
  std::optional<double> sum;
  std::optional<double> count; // "N"

  // The value of row `row` of tqs_stat_table (0 for "Min" to 6 for "N").
  NORVALEX_TQS_API const std::optional<double>& row(std::size_t row) const;
};

// The values of every row of tqs_stat_table from statistics that are already filled.
NORVALEX_TQS_API TqsStatValues tqs_stat_values(const ArrayStats& stats);

// All seven statistics of the array `name` under `node` (or, with `whole_tree`, pooled over the
// tree as the table's functions pool them), from one pass over the elements.
NORVALEX_TQS_API TqsStatValues tqs_all_stats(TqsNode* node, const char* name,
                                             bool whole_tree = false);

// ------------------------------------------------------------------------------------------------
// Checks the structure of a TQS file without reading it into a tree and tells where its first
// defect lies: the start that the loader (tqs_read_tree) accepts, every block complete, and the
// contents of every block header besides.

struct TqsCheck {
  int sound;           // 1 when no defect was found
  std::int64_t offset; // byte offset of the first defect; -1 when sound
  std::string defect;  // what is wrong there, in words; empty when sound
};

// Walks the file `name` from its start to its end, reading only headers (and the last byte of
// each string), and returns the defect at the lowest offset where it stops, or a sound result:
// - offset 0: neither a file header (magic 75 4C 9F 05, at least 48 bytes) nor the header of a
//   "creator" block; offsets 8 and 24: a creator or second name without its NUL; offset 40: a
//   format version other than 1.1;
// - for a block at offset o: a header cut short by the end of the file (o); a name without its
//   NUL (o); an element type code that has no size and is no string (o + 16); a size word
//   beyond the end of the file (o + 20); a size that is no whole number of elements, or not 0
//   for code 0x10 (o + 20); a string whose data does not end with its NUL (its last data byte,
//   or o + 20 for a string of size 0).
// A file without defects is one that the loader accepts; a file that it refuses always has one.
// A file that cannot be opened or read, or is not a regular file, throws norvalex::Error with
// message 0 as the loader does.
NORVALEX_TQS_API TqsCheck tqs_check_file(const char* name);

} // namespace norvalex
