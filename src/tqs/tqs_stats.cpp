#include "norvalex/tqs.h"

#include "diag/raise.h"
#include "tqs/tqs_io.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <span>

namespace norvalex {

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

// The running sums of one array, kept in locals while elements are added: the statistics'
// fields could alias the data, which would keep every sum in memory.
class Sums {
public:
  explicit Sums(const ArrayStats& stats)
      : count_(stats.count), min_(stats.min), max_(stats.max), sum_(stats.sum),
        sum_sq_(stats.sum_sq) {}

  void add(const unsigned char* element) {
    double x;
    // Data built by a caller need not be aligned for doubles.
    std::memcpy(&x, element, sizeof x);
    ++count_;
    if (x < min_) {
      min_ = x;
    }
    if (x > max_) {
      max_ = x;
    }
    // Each sum is rounded to double after every addition. Separate statements alone do not
    // keep a compiler from fusing the square into the addition: this file is compiled with
    // -ffp-contract=off.
    sum_ = sum_ + x;
    const double square = x * x;
    sum_sq_ = sum_sq_ + square;
  }

  void store(ArrayStats& stats) const {
    stats.count = count_;
    stats.min = min_;
    stats.max = max_;
    stats.sum = sum_;
    stats.sum_sq = sum_sq_;
  }

private:
  std::int32_t count_;
  double min_;
  double max_;
  double sum_;
  double sum_sq_;
};

// Adds `elements` doubles stored from `bytes` on.
void add_elements(ArrayStats& stats, const unsigned char* bytes, std::size_t elements) {
  Sums sums(stats);
  for (std::size_t i = 0; i < elements; ++i) {
    sums.add(bytes + i * sizeof(double));
  }
  sums.store(stats);
}

// Adds `elements` doubles of each of two arrays. Each array's sums are one chain of additions
// that must stay in order; two chains side by side keep the processor's adders busy where one
// waits for each addition to finish.
void add_elements_of_two(ArrayStats& first, const unsigned char* first_bytes, ArrayStats& second,
                         const unsigned char* second_bytes, std::size_t elements) {
  Sums first_sums(first);
  Sums second_sums(second);
  for (std::size_t i = 0; i < elements; ++i) {
    first_sums.add(first_bytes + i * sizeof(double));
    second_sums.add(second_bytes + i * sizeof(double));
  }
  first_sums.store(first);
  second_sums.store(second);
}

// Pieces of an unloaded node's data small enough to stay in the processor's cache between the
// read and the sums.
constexpr std::size_t STREAM_PIECE_SIZE = std::size_t{128} * 1024;
static_assert(STREAM_PIECE_SIZE % sizeof(double) == 0 &&
                  TQS_INTERRUPTION_PIECE % sizeof(double) == 0,
              "pieces end between elements");

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// The whole elements of one node's data, piece by piece: all at once from memory when the node
// is loaded, otherwise read from its file into a buffer of its own; a partial element at the end
// is not read. A piece stays valid until the next one is taken.
class ElementPieces {
public:
  explicit ElementPieces(const TqsNode* node) : node_(node) {
    if (!node) {
      return;
    }
    if (node->data) {
      memory_ = static_cast<const unsigned char*>(node->data);
      left_ = node->size / sizeof(double) * sizeof(double);
      return;
    }
    left_ = node->stored_size / sizeof(double) * sizeof(double);
    if (left_ > 0 && !node->file) {
      // Stored data without a file to read it from, as tqs_load_data refuses it.
      raise_message(Message::invalid_memory_representation);
    }
    if (left_ > 0) {
      buffer_.reset(static_cast<unsigned char*>(std::malloc(std::min(left_, STREAM_PIECE_SIZE))));
      if (!buffer_) {
        raise_message(Message::not_enough_memory);
      }
    }
  }

  // The next piece; empty at the end. Before each one the interruption check is asked.
  std::span<const unsigned char> next() {
    if (memory_) {
      const std::size_t piece = std::min(left_, TQS_INTERRUPTION_PIECE);
      if (piece > 0)
        check_interruption();
      const std::span<const unsigned char> part(memory_, piece);
      memory_ += piece;
      left_ -= piece;
      return part;
    }
    const std::size_t piece = std::min(left_, STREAM_PIECE_SIZE);
    if (piece > 0) {
      check_interruption();
      // Another node's pieces may have moved the stream in between.
      tqs_seek_to(*node_->file, node_->data_offset + read_);
      tqs_read_item(*node_->file, buffer_.get(), piece);
      read_ += static_cast<std::int64_t>(piece);
      left_ -= piece;
    }
    return {buffer_.get(), piece};
  }

private:
  const TqsNode* node_;
  const unsigned char* memory_ = nullptr;
  std::size_t left_ = 0;
  std::int64_t read_ = 0;
  std::unique_ptr<unsigned char, FreeDeleter> buffer_;
};

void add_pieces(ArrayStats& stats, ElementPieces& pieces) {
  for (std::span<const unsigned char> piece = pieces.next(); !piece.empty();
       piece = pieces.next()) {
    add_elements(stats, piece.data(), piece.size() / sizeof(double));
  }
}

// The sums of two nodes' elements, side by side as far as both reach.
void add_pieces_of_two(ArrayStats& first, ElementPieces& first_pieces, ArrayStats& second,
                       ElementPieces& second_pieces) {
  std::span<const unsigned char> a = first_pieces.next();
  std::span<const unsigned char> b = second_pieces.next();
  while (!a.empty() && !b.empty()) {
    const std::size_t bytes = std::min(a.size(), b.size());
    add_elements_of_two(first, a.data(), second, b.data(), bytes / sizeof(double));
    a = a.subspan(bytes);
    b = b.subspan(bytes);
    if (a.empty()) {
      a = first_pieces.next();
    }
    if (b.empty()) {
      b = second_pieces.next();
    }
  }
  add_elements(first, a.data(), a.size() / sizeof(double));
  add_elements(second, b.data(), b.size() / sizeof(double));
  add_pieces(first, first_pieces);
  add_pieces(second, second_pieces);
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
  // A partial element at the end is ignored. The sums run over the elements in order, in pieces
  // with the interruption check between them, which changes none of their bits.
  ElementPieces pieces(child);
  add_pieces(*stats, pieces);
}

int tqs_node_stats(ArrayStats* stats, TqsNode* node) {
  tqs_nodes_stats(stats, &node, 1);
  return stats->count > 0 ? 1 : 0;
}

void tqs_nodes_stats(ArrayStats* stats, TqsNode* const* nodes, std::size_t count) {
  for (std::size_t k = 0; k < count; k += 2) {
    start_stats(&stats[k], nodes[k] ? nodes[k]->name : nullptr);
    ElementPieces first(nodes[k]);
    if (k + 1 == count) {
      add_pieces(stats[k], first);
      finish_stats(&stats[k]);
      break;
    }
    start_stats(&stats[k + 1], nodes[k + 1] ? nodes[k + 1]->name : nullptr);
    ElementPieces second(nodes[k + 1]);
    add_pieces_of_two(stats[k], first, stats[k + 1], second);
    finish_stats(&stats[k]);
    finish_stats(&stats[k + 1]);
  }
}

TqsStatValues tqs_stat_values(const ArrayStats& stats) {
  TqsStatValues values;
  std::optional<double>* const fields[] = {&values.min, &values.max, &values.range, &values.avg,
                                           &values.std, &values.sum, &values.count};
  static_assert(std::size(fields) == stat_picks.size(), "one field per statistic");
  for (std::size_t row = 0; row < stat_picks.size(); ++row) {
    double value;
    if (pick_stat(row, stats, &value)) {
      *fields[row] = value;
    }
  }
  return values;
}

const std::optional<double>& TqsStatValues::row(std::size_t row) const {
  const std::optional<double>* const fields[] = {&min, &max, &range, &avg, &std, &sum, &count};
  return *fields[row];
}

TqsStatValues tqs_all_stats(TqsNode* node, const char* name, bool whole_tree) {
  ArrayStats stats;
  tqs_array_stats(&stats, node, name, whole_tree ? 1 : 0);
  return tqs_stat_values(stats);
}

int tqs_stat_value(const StatEntry* entry, const ArrayStats* stats, double* out) {
  for (std::size_t row = 0; row < stat_picks.size(); ++row) {
    if (entry && entry->function == tqs_stat_table[row].function) {
      return pick_stat(row, *stats, out);
    }
  }
  return 0;
}

} // namespace norvalex
