#include "tqsinfo/file_summary.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace norvalex {

bool is_creator_block(const TqsNode& node) {
  return tqs_is_creator_block(node.type, node.name);
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

namespace {

std::string creator_value(TqsNode& node) {
  tqs_load_data(&node);
  return node.data ? field_text(static_cast<const char*>(node.data), node.size) : std::string();
}

} // namespace

FileSummary summarize_file(const char* path) {
  FileSummary summary{path, tqs_load_tree(path), 0, std::nullopt, {}};
  const TqsInput& input = *tqs_tree_input(summary.tree.get());
  summary.length = input.length;
  if (input.has_header) {
    summary.header = input.header;
    summary.series.push_back({1, std::nullopt, {}});
  }
  int number = 0;
  for (TqsNode* node = summary.tree->first_child; node; node = node->next) {
    // A file without a header starts with a creator block (the loader makes sure of it).
    if (is_creator_block(*node)) {
      const int series_number = static_cast<int>(summary.series.size()) + 1;
      summary.series.push_back({series_number, creator_value(*node), {}});
    }
    summary.series.back().blocks.push_back({node, ++number,
                                            field_text(node->name, sizeof node->name), node->type,
                                            node->size, node->data_offset, std::nullopt});
  }
  return summary;
}

void add_statistics(FileSummary& summary) {
  std::vector<BlockSummary*> blocks;
  std::vector<TqsNode*> nodes;
  for (SeriesSummary& series : summary.series) {
    for (BlockSummary& block : series.blocks) {
      if ((block.type & TQS_TYPE_CODE_MASK) == TQS_TYPE_DOUBLE) {
        blocks.push_back(&block);
        nodes.push_back(block.node);
      }
    }
  }
  // All at once: the library sums two blocks side by side in about the time of one.
  std::vector<ArrayStats> stats(nodes.size());
  tqs_nodes_stats(stats.data(), nodes.data(), nodes.size());
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    blocks[k]->stats = tqs_stat_values(stats[k]);
  }
}

} // namespace norvalex
