#include "tqs/tqs_stats.h"

#include "diag/error.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

const std::array<StatEntry, 8> tqs_stat_table{{
    {"Min", stat_min},
    {"Max", stat_max},
    {"Max-Min", stat_range},
    {"Avg", stat_avg},
    {"Std", stat_std},
    {"Sum", stat_sum},
    {"N", stat_count},
    {"", nullptr},
}};

const StatEntry* tqs_find_stat(const char* name) {
  if (!name) {
    return nullptr;
  }
  // The closing row's function is null, so the empty name finds nothing.
  for (const StatEntry& entry : tqs_stat_table) {
    if (entry.function && std::strcmp(entry.name, name) == 0) {
      return &entry;
    }
  }
  return nullptr;
}

namespace {

// What the statistic of each row of tqs_stat_table, in the table's order, takes from the
// statistics, and the elements it needs.
struct StatPick {
  double (*value)(const ArrayStats& stats);
  std::int32_t minimum_count;
};

enum StatRow : std::size_t { ROW_MIN, ROW_MAX, ROW_RANGE, ROW_AVG, ROW_STD, ROW_SUM, ROW_COUNT };

constexpr std::array<StatPick, 7> stat_picks{{
    {[](const ArrayStats& s) { return s.min; }, 1},
    {[](const ArrayStats& s) { return s.max; }, 1},
    {[](const ArrayStats& s) { return s.max - s.min; }, 1},
    {[](const ArrayStats& s) { return s.avg; }, 1},
    {[](const ArrayStats& s) { return s.std; }, 2},
    {[](const ArrayStats& s) { return s.sum; }, 1},
    {[](const ArrayStats& s) { return static_cast<double>(s.count); }, 1},
}};
static_assert(stat_picks.size() + 1 == tqs_stat_table.size(), "one pick per statistic");

int pick_stat(std::size_t row, const ArrayStats& stats, double* out) {
  const StatPick& pick = stat_picks[row];
  if (stats.count < pick.minimum_count) {
    return 0;
  }
  *out = pick.value(stats);
  return 1;
}

// Computes the statistics of the selected arrays and writes the value of row `row`.
int write_stat(TqsNode* node, const char* name, double* out, int whole_tree, StatRow row) {
  ArrayStats stats;
  if (!tqs_array_stats(&stats, node, name, whole_tree)) {
    return 0;
  }
  return pick_stat(row, stats, out);
}

void start_stats(ArrayStats* stats, const char* name) {
  stats->min = std::numeric_limits<double>::max();
  stats->max = -std::numeric_limits<double>::max();
  stats->count = 0;
  stats->sum = 0;
  stats->sum_sq = 0;
  stats->name = name;
}

int finish_stats(ArrayStats* stats) {
  if (stats->count == 0) {
    return 0;
  }
  const double n = static_cast<double>(stats->count);
  stats->avg = stats->sum / n;
  const double square_of_sum = stats->sum * stats->sum;
  const double variance = (stats->sum_sq - square_of_sum / n) / n;
  // Rounding can leave a tiny negative variance; a NaN variance fails the test and stays NaN.
  stats->std = variance < 0 ? 0 : std::sqrt(variance);
  return 1;
}

// Adds `elements` doubles stored from `bytes` on. The sums stay in locals during the loop: the
// statistics' fields could alias the bytes, which would keep every sum in memory.
void add_elements(ArrayStats& stats, const unsigned char* bytes, std::size_t elements) {
  std::int32_t count = stats.count;
  double min = stats.min;
  double max = stats.max;
  double sum = stats.sum;
  double sum_sq = stats.sum_sq;
  for (std::size_t i = 0; i < elements; ++i) {
    double x;
    // Data built by a caller need not be aligned for doubles.
    std::memcpy(&x, bytes + i * sizeof(double), sizeof x);
    ++count;
    if (x < min) {
      min = x;
    }
    if (x > max) {
      max = x;
    }
    // Each sum is rounded to double after every addition. Separate statements alone do not
    // keep a compiler from fusing the square into the addition: this file is compiled with
    // -ffp-contract=off.
    sum = sum + x;
    const double square = x * x;
    sum_sq = sum_sq + square;
  }
  stats.count = count;
  stats.min = min;
  stats.max = max;
  stats.sum = sum;
  stats.sum_sq = sum_sq;
}

// Pieces of an unloaded node's data small enough to stay in the processor's cache between the
// read and the sums.
constexpr std::size_t STREAM_PIECE_SIZE = std::size_t{256} * 1024;
static_assert(STREAM_PIECE_SIZE % sizeof(double) == 0, "pieces end between elements");

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// Adds the elements of an unloaded node's stored data, read piece by piece; a partial element
// at the end is not read.
void add_stored_elements(ArrayStats& stats, const TqsNode& node) {
  if (!node.file) {
    // Stored data without a file to read it from, as tqs_load_data refuses it.
    norvalex::raise_message(Message::invalid_memory_representation);
  }
  std::size_t left = node.stored_size / sizeof(double) * sizeof(double);
  std::unique_ptr<void, FreeDeleter> buffer(std::malloc(std::min(left, STREAM_PIECE_SIZE)));
  if (!buffer) {
    norvalex::raise_message(Message::not_enough_memory);
  }
  tqs_seek_to(*node.file, node.data_offset);
  while (left > 0) {
    const std::size_t piece = std::min(left, STREAM_PIECE_SIZE);
    tqs_read_item(*node.file, buffer.get(), piece);
    add_elements(stats, static_cast<const unsigned char*>(buffer.get()), piece / sizeof(double));
    left -= piece;
  }
}

} // namespace

int stat_min(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_MIN);
}

int stat_max(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_MAX);
}

int stat_range(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_RANGE);
}

int stat_avg(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_AVG);
}

int stat_std(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_STD);
}

int stat_sum(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_SUM);
}

int stat_count(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, ROW_COUNT);
}

int tqs_array_stats(ArrayStats* stats, TqsNode* node, const char* name, int whole_tree) {
  start_stats(stats, name);
  if (!node) {
    return 0;
  }
  if (whole_tree) {
    TqsNode* root = node;
    while (root->parent) {
      root = root->parent;
    }
    tqs_walk(root, tqs_accumulate, 0, stats);
  } else {
    tqs_accumulate(node, 0, stats);
  }
  return finish_stats(stats);
}

void tqs_accumulate(TqsNode* node, int /*depth*/, void* context) {
  auto* stats = static_cast<ArrayStats*>(context);
  TqsNode* child = tqs_find_child(node, stats->name);
  tqs_load_data(child);
  if (!child || !child->data) {
    return;
  }
  // A partial element at the end is ignored.
  add_elements(*stats, static_cast<const unsigned char*>(child->data),
               child->size / sizeof(double));
}

int tqs_node_stats(ArrayStats* stats, TqsNode* node) {
  start_stats(stats, node ? node->name : nullptr);
  if (!node) {
    return 0;
  }
  if (node->data) {
    add_elements(*stats, static_cast<const unsigned char*>(node->data),
                 node->size / sizeof(double));
  } else if (node->stored_size != 0) {
    add_stored_elements(*stats, *node);
  }
  return finish_stats(stats);
}

int tqs_stat_value(const StatEntry* entry, const ArrayStats* stats, double* out) {
  for (std::size_t row = 0; row < stat_picks.size(); ++row) {
    if (entry && entry->function == tqs_stat_table[row].function) {
      return pick_stat(row, *stats, out);
    }
  }
  return 0;
}
