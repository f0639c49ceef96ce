#include "tqsinfo/file_summary.h"

#include "cli/diagnostics.h"
#include "cli/text_output.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace norvalex {

const std::array<const char*, BLOCK_COLUMNS>& block_headings() {
  static const std::array<const char*, BLOCK_COLUMNS> headings{
      "block", "name", "type word", "type", "elements", "bytes", "offset"};
  return headings;
}

const std::array<const char*, STAT_COLUMNS>& stat_headings() {
  static const std::array<const char*, STAT_COLUMNS> headings{
      "block",
      "name",
      tqs_stat_table[0].name,
      tqs_stat_table[1].name,
      tqs_stat_table[2].name,
      tqs_stat_table[3].name,
      tqs_stat_table[4].name,
      tqs_stat_table[5].name,
      tqs_stat_table[6].name,
  };
  return headings;
}
static_assert(STAT_COUNT == 7, "one heading per statistic");

bool is_creator_block(const TqsBlockInfo& block) {
  return tqs_is_creator_block(block.type, block.name);
}

std::string field_text(const char* bytes, std::size_t size) {
  const void* nul = std::memchr(bytes, '\0', size);
  return {bytes, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size};
}

std::string type_text(std::uint32_t type) {
  const std::uint32_t code = type & TQS_TYPE_CODE_MASK;
  const int size = tqs_element_size(type);
  char text[32];
  if (code == TQS_TYPE_STRING) {
    std::snprintf(text, sizeof text, "string");
  } else if (code == TQS_TYPE_DOUBLE) {
    std::snprintf(text, sizeof text, "double");
  } else if (size >= 0) {
    // The format knows these codes by the size of their elements only.
    std::snprintf(text, sizeof text, "%d-byte 0x%02X", size, static_cast<unsigned>(code));
  } else {
    std::snprintf(text, sizeof text, "unknown 0x%02X", static_cast<unsigned>(code));
  }
  std::string result = text;
  if (type & TQS_FLAG_ARRAY) {
    result += " array";
  }
  return result;
}

std::optional<std::uint32_t> element_count(std::uint32_t type, std::uint32_t bytes) {
  if ((type & TQS_TYPE_CODE_MASK) == TQS_TYPE_STRING) {
    return 1;
  }
  const int size = tqs_element_size(type);
  if (size < 0) {
    return std::nullopt;
  }
  return size == 0 ? 0 : bytes / static_cast<std::uint32_t>(size);
}

std::string iso_8601_utc(std::int32_t seconds) {
  using namespace std::chrono;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<std::chrono::seconds> clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

TqsStatValues ArrayStatistics::values() const {
  ArrayStats stats{};
  stats.count = count;
  stats.min = min;
  stats.max = max;
  stats.sum = sum;
  stats.avg = avg;
  stats.std = std;
  return tqs_stat_values(stats);
}

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

template <std::size_t N>
ColumnWidths<N> heading_widths(const std::array<const char*, N>& headings) {
  ColumnWidths<N> widths{};
  for (std::size_t c = 0; c < N; ++c) {
    widths[c] = static_cast<std::uint8_t>(std::strlen(headings[c]));
  }
  return widths;
}

template <std::size_t N>
void widen(ColumnWidths<N>& widths, const std::array<std::string, N>& cells) {
  for (std::size_t c = 0; c < N; ++c) {
    const std::size_t width = std::min<std::size_t>(cells[c].size(), 255);
    widths[c] = std::max(widths[c], static_cast<std::uint8_t>(width));
  }
}

SeriesSummary new_series(std::int64_t first_block, std::int64_t creator_offset,
                         std::uint32_t creator_size, std::int64_t first_stats) {
  SeriesSummary series;
  series.first_block = first_block;
  series.creator_offset = creator_offset;
  series.creator_size = creator_size;
  series.first_stats = first_stats;
  series.widths = heading_widths(block_headings());
  series.stat_widths = heading_widths(stat_headings());
  return series;
}

// Arrays of doubles whose statistics are computed together, a few at a time: the library sums
// two blocks side by side in about the time of one, and a batch keeps the memory bounded.
class StatisticsBatch {
public:
  static constexpr std::size_t SIZE = 64;

  explicit StatisticsBatch(FileSummary& summary) : summary_(summary) {}

  void add(std::size_t series, std::int64_t number, const TqsNode& node) {
    series_.push_back(series);
    numbers_.push_back(number);
    nodes_.push_back(node);
    if (nodes_.size() == SIZE) {
      flush();
    }
  }

  void flush() {
    std::vector<ArrayStats> stats(nodes_.size());
    std::vector<TqsNode*> pointers;
    for (TqsNode& node : nodes_) {
      pointers.push_back(&node);
    }
    tqs_nodes_stats(stats.data(), pointers.data(), pointers.size());
    for (std::size_t k = 0; k < nodes_.size(); ++k) {
      const ArrayStats& s = stats[k];
      ArrayStatistics record{numbers_[k], {}, s.count, s.min, s.max, s.sum, s.avg, s.std};
      std::memcpy(record.name, nodes_[k].name, sizeof record.name);
      summary_.stats.push_back(record);
      widen(summary_.series[series_[k]].stat_widths, stat_cells(record));
    }
    series_.clear();
    numbers_.clear();
    nodes_.clear();
  }

private:
  FileSummary& summary_;
  std::vector<std::size_t> series_;
  std::vector<std::int64_t> numbers_;
  std::vector<TqsNode> nodes_;
};

} // namespace

BlockCells block_cells(std::int64_t number, const TqsBlockInfo& block) {
  const std::optional<std::uint32_t> count = element_count(block.type, block.size);
  return {std::to_string(number),
          listing_text(field_text(block.name, sizeof block.name)),
          hex(block.type),
          type_text(block.type),
          count ? std::to_string(*count) : "-",
          std::to_string(block.size),
          std::to_string(block.data_offset)};
}

StatCells stat_cells(const ArrayStatistics& stats) {
  StatCells cells;
  cells[0] = std::to_string(stats.block);
  cells[1] = listing_text(field_text(stats.name, sizeof stats.name));
  const TqsStatValues values = stats.values();
  for (std::size_t row = 0; row < STAT_COUNT; ++row) {
    const std::optional<double>& value = values.row(row);
    cells[2 + row] = value ? shortest_text(*value) : "-";
  }
  return cells;
}

FileSummary summarize_file(const char* path, bool statistics) {
  FileSummary summary;
  summary.path = path;
  summary.statistics = statistics;
  TqsBlockReader reader(path);
  const TqsInput& input = reader.input();
  summary.length = input.length;
  if (input.has_header) {
    summary.header = input.header;
    summary.series.push_back(new_series(1, -1, 0, 0));
  }
  StatisticsBatch batch(summary);
  std::int64_t number = 0;
  std::int64_t arrays = 0; // of doubles, with statistics
  TqsBlockInfo block;
  while (reader.next(block)) {
    ++number;
    // A file without a header starts with a creator block (the reader makes sure of it).
    if (is_creator_block(block)) {
      summary.series.push_back(new_series(number, block.data_offset, block.size, arrays));
    }
    SeriesSummary& series = summary.series.back();
    ++series.blocks;
    widen(series.widths, block_cells(number, block));
    if (statistics && (block.type & TQS_TYPE_CODE_MASK) == TQS_TYPE_DOUBLE) {
      ++series.stats;
      ++arrays;
      batch.add(summary.series.size() - 1, number, reader.node(block));
    }
  }
  batch.flush();
  return summary;
}

BlockWalk::BlockWalk(const FileSummary& file) : file_(file), reader_(file.path.c_str()) {
  if (reader_.input().length != file.length ||
      (reader_.input().has_header != 0) != file.header.has_value()) {
    changed();
  }
}

TqsBlockInfo BlockWalk::next(const SeriesSummary& series, std::int64_t index) {
  TqsBlockInfo block;
  if (!reader_.next(block)) {
    changed();
  }
  const bool starts_series = index == 0 && series.creator_offset >= 0;
  if (is_creator_block(block) != starts_series ||
      (starts_series && block.data_offset != series.creator_offset)) {
    changed();
  }
  return block;
}

void BlockWalk::finish() {
  TqsBlockInfo block;
  if (reader_.next(block)) {
    changed();
  }
}

void BlockWalk::changed() const {
  refuse("\"" + file_.path + "\": changed while tqsinfo read it");
}

void for_each_creator_piece(BlockWalk& walk, const SeriesSummary& series,
                            void (*piece)(std::string_view text, void* context), void* context) {
  constexpr std::size_t piece_size = std::size_t{64} * 1024;
  const std::size_t size = series.creator_size;
  if (series.creator_offset < 0 || size == 0) {
    return;
  }
  const std::unique_ptr<char[]> buffer(new char[std::min(size, piece_size)]);
  for (std::size_t done = 0; done < size;) {
    const std::size_t bytes = std::min(size - done, piece_size);
    walk.reader().read(series.creator_offset + static_cast<std::int64_t>(done), buffer.get(),
                       bytes);
    const void* nul = std::memchr(buffer.get(), '\0', bytes);
    const std::size_t shown =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.get()) : bytes;
    piece({buffer.get(), shown}, context);
    if (nul) {
      return;
    }
    done += bytes;
  }
}

} // namespace norvalex
