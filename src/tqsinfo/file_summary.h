// What tqsinfo shows of one TQS file, read through the TQS library's block reader: the file
// header and its series (the file's own blocks, then each "creator" block with the blocks
// appended after it). A summary keeps a record of a few dozen bytes per series (its blocks'
// count and the widths of its tables) and, with the statistics, one per array of doubles, but
// nothing per block otherwise: the listing and the document read the blocks once more as they
// are written (listing.h), so that a file of millions of blocks needs no more memory than one of
// a few.
#pragma once

#include "norvalex/tqs.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace norvalex {

// The rows of tqs_stat_table, without its closing row.
inline constexpr std::size_t STAT_COUNT = tqs_stat_table.size() - 1;

// The columns of a series' table of blocks (block, name, type word, type, elements, bytes,
// offset) and of its table of statistics (block, name, then one per statistic).
inline constexpr std::size_t BLOCK_COLUMNS = 7;
inline constexpr std::size_t STAT_COLUMNS = 2 + STAT_COUNT;

using BlockCells = std::array<std::string, BLOCK_COLUMNS>;
using StatCells = std::array<std::string, STAT_COLUMNS>;

// Widths of the columns of a table, as wide as their headings and widest cells. No cell is wider
// than 255 characters: a name of 15 bytes shows as at most 60.
template <std::size_t N> using ColumnWidths = std::array<std::uint8_t, N>;

// The statistics of one array of doubles, with the block that holds it.
struct ArrayStatistics {
  std::int64_t block;       // the block's number
  char name[TQS_NAME_SIZE]; // the block's name field
  std::int32_t count;       // elements; the values below are set only when it is at least 1
  double min;
  double max;
  double sum;
  double avg;
  double std;

  // The value of every row of tqs_stat_table.
  TqsStatValues values() const;
};

struct SeriesSummary {
  std::int64_t first_block = 1;     // number of its first block, counted from 1 in file order
  std::int64_t blocks = 0;          // its blocks, its creator block included
  std::int64_t creator_offset = -1; // data offset of its creator block; -1 for the header's series
  std::uint32_t creator_size = 0;   // data bytes of its creator block
  std::int64_t first_stats = 0;     // index of its first array's statistics in FileSummary::stats
  std::int64_t stats = 0;           // arrays of doubles with statistics
  ColumnWidths<BLOCK_COLUMNS> widths{};
  ColumnWidths<STAT_COLUMNS> stat_widths{};
};

struct FileSummary {
  std::string path;
  bool statistics = false;             // computed for every array of doubles
  std::int64_t length = 0;             // bytes
  std::optional<TqsFileHeader> header; // none for a file that starts with a "creator" block
  std::deque<SeriesSummary> series;    // at least one
  std::deque<ArrayStatistics> stats;   // with the statistics: of every array of doubles, in order
};

// Reads the block headers of the file `path` through the block reader, checked as the loader
// checks them, and with `statistics` computes those of every block of doubles (tqs_nodes_stats,
// a pass over each block's data). Nothing of a "creator" block's value is read. Library errors
// are thrown.
FileSummary summarize_file(const char* path, bool statistics);

// Reads the blocks of a file that summarize_file has summarized once more, series by series, and
// refuses a file that has changed in the meantime (another length, or its series elsewhere).
class BlockWalk {
public:
  explicit BlockWalk(const FileSummary& file);

  // The next block of `series` (the `index`th of it, from 0); the blocks come in file order.
  TqsBlockInfo next(const SeriesSummary& series, std::int64_t index);
  // Refuses a file that holds more blocks than were summarized.
  void finish();
  TqsBlockReader& reader() { return reader_; }
  // Refuses the file as changed: what was summarized no longer fits it.
  [[noreturn]] void changed() const;

private:
  const FileSummary& file_;
  TqsBlockReader reader_;
};

// A block that starts a series of appended blocks.
bool is_creator_block(const TqsBlockInfo& block);

// The cells of a block's row in its series' table, and the headings of that table.
BlockCells block_cells(std::int64_t number, const TqsBlockInfo& block);
const std::array<const char*, BLOCK_COLUMNS>& block_headings();
// The cells of an array's row in its series' table of statistics, and that table's headings
// (made on first use: the statistics' names are another library's data, which may be
// initialized after this program's own).
StatCells stat_cells(const ArrayStatistics& stats);
const std::array<const char*, STAT_COLUMNS>& stat_headings();

// Calls `piece` on the value of the creator block of `series` (not the header's series) up to
// its first NUL, or on all of it, in pieces of at most 64 KiB read from the file: a value of any
// length is shown without being held whole.
void for_each_creator_piece(BlockWalk& walk, const SeriesSummary& series,
                            void (*piece)(std::string_view text, void* context), void* context);

// The text of a name or string field: its bytes up to the first NUL, or all of them.
std::string field_text(const char* bytes, std::size_t size);

// "double array", "string", "4-byte 0x02 array", "unknown 0x07", ... from the type word.
std::string type_text(std::uint32_t type);

// The number of whole elements: 1 for a string, none for an element type without a size.
std::optional<std::uint32_t> element_count(std::uint32_t type, std::uint32_t bytes);

// The creation time of a header as UTC in ISO 8601 ("2024-12-07T15:16:05Z").
std::string iso_8601_utc(std::int32_t seconds);

} // namespace norvalex
