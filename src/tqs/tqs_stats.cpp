#include "tqs/tqs_stats.h"

#include <cmath>
#include <cstring>
#include <limits>

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

// Computes the statistics of the selected arrays and writes the value that `pick` takes from
// them; fails, leaving `out` alone, with fewer than `minimum_count` elements.
template <typename Pick>
int write_stat(TqsNode* node, const char* name, double* out, int whole_tree, Pick pick,
               int minimum_count = 1) {
  ArrayStats stats;
  if (!tqs_array_stats(&stats, node, name, whole_tree) || stats.count < minimum_count) {
    return 0;
  }
  *out = pick(stats);
  return 1;
}

} // namespace

int stat_min(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.min; });
}

int stat_max(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.max; });
}

int stat_range(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.max - s.min; });
}

int stat_avg(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.avg; });
}

int stat_std(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(
      node, name, out, whole_tree, [](const ArrayStats& s) { return s.std; }, 2);
}

int stat_sum(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.sum; });
}

int stat_count(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree,
                    [](const ArrayStats& s) { return static_cast<double>(s.count); });
}

int tqs_array_stats(ArrayStats* stats, TqsNode* node, const char* name, int whole_tree) {
  stats->min = std::numeric_limits<double>::max();
  stats->max = -std::numeric_limits<double>::max();
  stats->count = 0;
  stats->sum = 0;
  stats->sum_sq = 0;
  stats->name = name;
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

void tqs_accumulate(TqsNode* node, int /*depth*/, void* context) {
  auto* stats = static_cast<ArrayStats*>(context);
  TqsNode* child = tqs_find_child(node, stats->name);
  tqs_load_data(child);
  if (!child || !child->data) {
    return;
  }
  const auto* bytes = static_cast<const unsigned char*>(child->data);
  const std::size_t elements = child->size / sizeof(double); // a partial element is ignored
  for (std::size_t i = 0; i < elements; ++i) {
    double x;
    // Data built by a caller need not be aligned for doubles.
    std::memcpy(&x, bytes + i * sizeof(double), sizeof x);
    ++stats->count;
    if (x < stats->min) {
      stats->min = x;
    }
    if (x > stats->max) {
      stats->max = x;
    }
    // Each sum is rounded to double after every addition. Separate statements alone do not
    // keep a compiler from fusing the square into the addition: this file is compiled with
    // -ffp-contract=off.
    stats->sum = stats->sum + x;
    const double square = x * x;
    stats->sum_sq = stats->sum_sq + square;
  }
}
