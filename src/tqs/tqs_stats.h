// Statistics over stored arrays of doubles in a tree of TQS nodes: for the one array of a name
// directly under a node, or pooled over the arrays of that name under every group node of the
// node's tree. Data is loaded when a statistic first needs it (tqs_load_data); a failed load
// throws norvalex::Error.
#pragma once

#include "tqs_tree.h"

#include <array>
#include <cstddef>
#include <cstdint>

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
