// What tqsinfo shows of one TQS file, read through the TQS library: the file header, and the
// blocks in file order, grouped into series (the file's own blocks, then each "creator" block
// with the blocks appended after it), with the statistics of the arrays of doubles on request.
#pragma once

#include "norvalex/tqs.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvalex {

// The rows of tqs_stat_table, without its closing row.
inline constexpr std::size_t STAT_COUNT = tqs_stat_table.size() - 1;

struct BlockSummary {
  TqsNode* node;                      // the block's node in the file's tree
  int number;                         // counted from 1 in file order
  std::string name;                   // the bytes of the name field up to its NUL
  std::uint32_t type;                 // type word
  std::uint32_t bytes;                // data bytes (the size word)
  std::int64_t offset;                // byte offset of the data in the file
  std::optional<TqsStatValues> stats; // only for arrays of doubles, when asked for
};

struct SeriesSummary {
  int number;                         // counted from 1
  std::optional<std::string> creator; // the creator block's value; none for the header's series
  std::vector<BlockSummary> blocks;   // the creator block first, when there is one
};

struct FileSummary {
  std::string path;
  TqsTree tree;
  std::int64_t length;                 // bytes
  std::optional<TqsFileHeader> header; // none for a file that starts with a "creator" block
  std::vector<SeriesSummary> series;
};

// Reads the headers of the file `path` (which must outlive the summary) through the loader,
// loading only the values of "creator" blocks. Library errors are thrown.
FileSummary summarize_file(const char* path);

// Fills in the statistics of every block of doubles, computed by tqs_nodes_stats in one pass over
// each block's data.
void add_statistics(FileSummary& summary);

// A block that starts a series of appended blocks.
bool is_creator_block(const TqsNode& node);

// The text of a name or string field: its bytes up to the first NUL, or all of them.
std::string field_text(const char* bytes, std::size_t size);

// "double array", "string", "4-byte 0x02 array", "unknown 0x07", ... from the type word.
std::string type_text(std::uint32_t type);

// The number of whole elements: 1 for a string, none for an element type without a size.
std::optional<std::uint32_t> element_count(std::uint32_t type, std::uint32_t bytes);

// The creation time of a header as UTC in ISO 8601 ("2024-12-07T15:16:05Z").
std::string iso_8601_utc(std::int32_t seconds);

} // namespace norvalex
