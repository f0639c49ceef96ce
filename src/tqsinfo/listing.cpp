#include "tqsinfo/listing.h"

#include <cstdio>
#include <string>

namespace norvalex {

namespace {

std::string version_text(const std::uint8_t (&version)[2]) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u", version[0], version[1]);
  return text;
}

void write_header(Output& out, const FileSummary& file) {
  // The path's bytes as error lines show them: a control byte in a name must not reach the
  // terminal, nor a newline split the line.
  out << "file         " << escape_control_bytes(file.path) << "\n";
  out << "size         " << std::to_string(file.length) << " bytes\n";
  if (!file.header) {
    out << "header       none: the file starts with a \"creator\" block\n";
    return;
  }
  const TqsFileHeader& header = *file.header;
  out << "format       " << version_text(header.format_version) << "\n";
  out << "created      " << iso_8601_utc(header.created) << "\n";
  out << "creator      " << listing_text(field_text(header.creator, sizeof header.creator), true)
      << ", version " << version_text(header.creator_version) << "\n";
  out << "second name  "
      << listing_text(field_text(header.second_name, sizeof header.second_name), true)
      << ", version " << version_text(header.second_version) << "\n";
}

template <std::size_t N>
std::array<TextTable::Column, N> table_columns(const std::array<const char*, N>& headings,
                                               const std::array<bool, N>& right_aligned) {
  std::array<TextTable::Column, N> columns{};
  for (std::size_t c = 0; c < N; ++c) {
    columns[c] = {headings[c], right_aligned[c]};
  }
  return columns;
}

// Made on first use, after every table they are made of.
const std::array<TextTable::Column, BLOCK_COLUMNS>& block_columns() {
  static const std::array<TextTable::Column, BLOCK_COLUMNS> columns =
      table_columns(block_headings(), {true, false, false, false, true, true, true});
  return columns;
}

const std::array<TextTable::Column, STAT_COLUMNS>& stat_columns() {
  static const std::array<TextTable::Column, STAT_COLUMNS> columns =
      table_columns(stat_headings(), {true, false, true, true, true, true, true, true, true});
  return columns;
}

// A row of a series' table in the widths that the summary found; a cell that no longer fits
// them comes from a file that has changed since.
template <std::size_t N>
void write_row(Output& out, const BlockWalk& walk, const std::array<TextTable::Column, N>& columns,
               const std::array<std::string, N>& cells, const ColumnWidths<N>& widths) {
  std::array<std::size_t, N> sizes{};
  for (std::size_t c = 0; c < N; ++c) {
    if (cells[c].size() > widths[c]) {
      walk.changed();
    }
    sizes[c] = widths[c];
  }
  write_table_row(out, columns, cells, sizes);
  out.write_over(OUTPUT_PIECE_SIZE);
}

template <std::size_t N>
void write_headings(Output& out, const BlockWalk& walk,
                    const std::array<TextTable::Column, N>& columns,
                    const ColumnWidths<N>& widths) {
  std::array<std::string, N> headings;
  for (std::size_t c = 0; c < N; ++c) {
    headings[c] = columns[c].heading;
  }
  write_row(out, walk, columns, headings, widths);
}

// The value of the series' creator block, written piece by piece in the form of `escape`.
void write_creator(Output& out, BlockWalk& walk, const SeriesSummary& series,
                   std::string (*escape)(std::string_view)) {
  struct Context {
    Output& out;
    std::string (*escape)(std::string_view);
  } context{out, escape};
  out << "\"";
  for_each_creator_piece(
      walk, series,
      [](std::string_view piece, void* pointer) {
        auto& to = *static_cast<Context*>(pointer);
        to.out << to.escape(piece);
        to.out.write_over(OUTPUT_PIECE_SIZE);
      },
      &context);
  out << "\"";
}

void write_series_title(Output& out, BlockWalk& walk, const SeriesSummary& series,
                        std::size_t number) {
  out << "series " << std::to_string(number) << ": ";
  if (series.creator_offset >= 0) {
    out << "creator ";
    write_creator(out, walk, series, quoted_listing_piece);
  } else {
    out << "file header";
  }
  out << ", " << std::to_string(series.blocks) << (series.blocks == 1 ? " block" : " blocks");
}

void write_statistics(Output& out, const BlockWalk& walk, const FileSummary& file,
                      const SeriesSummary& series, std::size_t number) {
  if (series.stats == 0) {
    return;
  }
  out << "\nstatistics of series " << std::to_string(number) << "\n";
  write_headings(out, walk, stat_columns(), series.stat_widths);
  for (std::int64_t k = 0; k < series.stats; ++k) {
    const ArrayStatistics& stats = file.stats[static_cast<std::size_t>(series.first_stats + k)];
    write_row(out, walk, stat_columns(), stat_cells(stats), series.stat_widths);
  }
}

} // namespace

void write_listing(Output& out, const FileSummary& file, bool first) {
  if (!first) {
    out << "\n";
  }
  write_header(out, file);
  BlockWalk walk(file);
  for (std::size_t s = 0; s < file.series.size(); ++s) {
    const SeriesSummary& series = file.series[s];
    out << "\n";
    write_series_title(out, walk, series, s + 1);
    out << "\n";
    if (series.blocks > 0) {
      write_headings(out, walk, block_columns(), series.widths);
    }
    for (std::int64_t k = 0; k < series.blocks; ++k) {
      const TqsBlockInfo block = walk.next(series, k);
      write_row(out, walk, block_columns(), block_cells(series.first_block + k, block),
                series.widths);
    }
    write_statistics(out, walk, file, series, s + 1);
  }
  walk.finish();
}

namespace {

std::string json_version(const std::uint8_t (&version)[2]) {
  char text[16];
  std::snprintf(text, sizeof text, "[%u, %u]", version[0], version[1]);
  return text;
}

void write_json_header(Output& out, const FileSummary& file) {
  if (!file.header) {
    out << "      \"header\": null,\n";
    return;
  }
  const TqsFileHeader& header = *file.header;
  out << "      \"header\": {\n";
  out << "        \"format_version\": " << json_version(header.format_version) << ",\n";
  out << "        \"created\": " << json_string(iso_8601_utc(header.created)) << ",\n";
  out << "        \"created_seconds\": " << std::to_string(header.created) << ",\n";
  out << "        \"creator\": " << json_string(field_text(header.creator, sizeof header.creator))
      << ",\n";
  out << "        \"creator_version\": " << json_version(header.creator_version) << ",\n";
  out << "        \"second_name\": "
      << json_string(field_text(header.second_name, sizeof header.second_name)) << ",\n";
  out << "        \"second_version\": " << json_version(header.second_version) << "\n";
  out << "      },\n";
}

// One block as one line; `stats` for an array of doubles when statistics were computed.
void write_json_block(Output& out, std::int64_t number, const TqsBlockInfo& block,
                      const ArrayStatistics* stats) {
  const std::optional<std::uint32_t> count = element_count(block.type, block.size);
  out << "{\"block\": " << std::to_string(number)
      << ", \"name\": " << json_string(field_text(block.name, sizeof block.name))
      << ", \"type_word\": " << std::to_string(block.type)
      << ", \"type\": " << json_string(type_text(block.type))
      << ", \"elements\": " << (count ? std::to_string(*count) : "null")
      << ", \"bytes\": " << std::to_string(block.size)
      << ", \"offset\": " << std::to_string(block.data_offset);
  if (stats) {
    const TqsStatValues values = stats->values();
    out << ", \"stats\": {";
    for (std::size_t row = 0; row < STAT_COUNT; ++row) {
      const std::optional<double>& value = values.row(row);
      out << (row == 0 ? "" : ", ") << json_string(tqs_stat_table[row].name) << ": "
          << (value ? json_number(*value) : "null");
    }
    out << "}";
  }
  out << "}";
  out.write_over(OUTPUT_PIECE_SIZE);
}

void write_json_series(Output& out, BlockWalk& walk, const FileSummary& file,
                       const SeriesSummary& series, std::size_t number) {
  out << "        {\n";
  out << "          \"series\": " << std::to_string(number) << ",\n";
  out << "          \"creator\": ";
  if (series.creator_offset >= 0) {
    write_creator(out, walk, series, json_string_piece);
  } else {
    out << "null";
  }
  out << ",\n";
  out << "          \"blocks\": [";
  std::int64_t stats = series.first_stats;
  for (std::int64_t k = 0; k < series.blocks; ++k) {
    const TqsBlockInfo block = walk.next(series, k);
    const std::int64_t block_number = series.first_block + k;
    const ArrayStatistics* block_stats = nullptr;
    if (file.statistics && (block.type & TQS_TYPE_CODE_MASK) == TQS_TYPE_DOUBLE) {
      if (stats >= series.first_stats + series.stats ||
          file.stats[static_cast<std::size_t>(stats)].block != block_number) {
        walk.changed();
      }
      block_stats = &file.stats[static_cast<std::size_t>(stats++)];
    }
    out << (k == 0 ? "\n            " : ",\n            ");
    write_json_block(out, block_number, block, block_stats);
  }
  out << (series.blocks == 0 ? "]\n" : "\n          ]\n");
  out << "        }";
}

} // namespace

void write_json_start(Output& out) {
  out << "{\n  \"files\": [\n";
}

void write_json_file(Output& out, const FileSummary& file, bool first) {
  out << (first ? "    {\n" : ",\n    {\n");
  out << "      \"file\": " << json_string(file.path) << ",\n";
  out << "      \"bytes\": " << std::to_string(file.length) << ",\n";
  write_json_header(out, file);
  BlockWalk walk(file);
  // Every file has a series: the header's, or the one its leading creator block starts.
  out << "      \"series\": [\n";
  for (std::size_t s = 0; s < file.series.size(); ++s) {
    out << (s == 0 ? "" : ",\n");
    write_json_series(out, walk, file, file.series[s], s + 1);
  }
  out << "\n      ]\n    }";
  walk.finish();
}

void write_json_end(Output& out) {
  out << "\n  ]\n}\n";
}

} // namespace norvalex
