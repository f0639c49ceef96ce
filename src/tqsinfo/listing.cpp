#include "tqsinfo/listing.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace norvalex {

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

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

void write_blocks(Output& out, const SeriesSummary& series) {
  TextTable table({{"block", true},
               {"name", false},
               {"type word", false},
               {"type", false},
               {"elements", true},
               {"bytes", true},
               {"offset", true}});
  for (const BlockSummary& block : series.blocks) {
    const std::optional<std::uint32_t> count = element_count(block.type, block.bytes);
    table.add_row({std::to_string(block.number), listing_text(block.name), hex(block.type),
                   type_text(block.type), count ? std::to_string(*count) : "-",
                   std::to_string(block.bytes), std::to_string(block.offset)});
  }
  table.write(out);
}

void write_statistics(Output& out, const SeriesSummary& series) {
  std::vector<TextTable::Column> columns{{"block", true}, {"name", false}};
  for (std::size_t row = 0; row < STAT_COUNT; ++row) {
    columns.push_back({tqs_stat_table[row].name, true});
  }
  TextTable table(columns);
  bool any = false;
  for (const BlockSummary& block : series.blocks) {
    if (!block.stats) {
      continue;
    }
    std::vector<std::string> cells{std::to_string(block.number), listing_text(block.name)};
    for (std::size_t row = 0; row < STAT_COUNT; ++row) {
      const std::optional<double>& value = block.stats->row(row);
      cells.push_back(value ? shortest_text(*value) : "-");
    }
    table.add_row(std::move(cells));
    any = true;
  }
  if (any) {
    out << "\nstatistics of series " << std::to_string(series.number) << "\n";
    table.write(out);
  }
}

std::string series_title(const SeriesSummary& series) {
  const std::size_t blocks = series.blocks.size();
  std::string title = "series " + std::to_string(series.number) + ": ";
  title += series.creator ? "creator " + listing_text(*series.creator, true) : "file header";
  return title + ", " + std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
}

} // namespace

void write_listing(Output& out, const FileSummary& file, bool first) {
  if (!first) {
    out << "\n";
  }
  write_header(out, file);
  for (const SeriesSummary& series : file.series) {
    out << "\n" << series_title(series) << "\n";
    if (!series.blocks.empty()) {
      write_blocks(out, series);
    }
    write_statistics(out, series);
  }
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

// One block as one line.
void write_json_block(Output& out, const BlockSummary& block) {
  const std::optional<std::uint32_t> count = element_count(block.type, block.bytes);
  out << "{\"block\": " << std::to_string(block.number) << ", \"name\": " << json_string(block.name)
      << ", \"type_word\": " << std::to_string(block.type)
      << ", \"type\": " << json_string(type_text(block.type))
      << ", \"elements\": " << (count ? std::to_string(*count) : "null")
      << ", \"bytes\": " << std::to_string(block.bytes)
      << ", \"offset\": " << std::to_string(block.offset);
  if (block.stats) {
    out << ", \"stats\": {";
    for (std::size_t row = 0; row < STAT_COUNT; ++row) {
      const std::optional<double>& value = block.stats->row(row);
      out << (row == 0 ? "" : ", ") << json_string(tqs_stat_table[row].name) << ": "
          << (value ? json_number(*value) : "null");
    }
    out << "}";
  }
  out << "}";
}

void write_json_series(Output& out, const SeriesSummary& series) {
  out << "        {\n";
  out << "          \"series\": " << std::to_string(series.number) << ",\n";
  out << "          \"creator\": " << (series.creator ? json_string(*series.creator) : "null")
      << ",\n";
  out << "          \"blocks\": [";
  for (std::size_t b = 0; b < series.blocks.size(); ++b) {
    out << (b == 0 ? "\n            " : ",\n            ");
    write_json_block(out, series.blocks[b]);
  }
  out << (series.blocks.empty() ? "]\n" : "\n          ]\n");
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
  // Every file has a series: the header's, or the one its leading creator block starts.
  out << "      \"series\": [\n";
  for (std::size_t s = 0; s < file.series.size(); ++s) {
    out << (s == 0 ? "" : ",\n");
    write_json_series(out, file.series[s]);
  }
  out << "\n      ]\n    }";
}

void write_json_end(Output& out) {
  out << "\n  ]\n}\n";
}

} // namespace norvalex
