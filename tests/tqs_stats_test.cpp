// The statistics over trees built here in memory: the table and its lookup by name, the
// statistics of one array and of a node, and those pooled over the whole tree.
#include "norvalex/tqs.h"
#include "support/test_support.h"
#include "support/tqs_trees.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::all_stats;
using test_support::doubles_bytes;
using test_support::expect_results;
using test_support::PooledTree;
using test_support::Results;
using test_support::Tree;

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The seven values of the statistics of the array that `node` itself holds, taken from one pass.
Results node_stats(TqsNode* node) {
  ArrayStats stats;
  const int found = tqs_node_stats(&stats, node);
  EXPECT_EQ(stats.name, node ? node->name : nullptr);
  Results results;
  for (std::size_t row = 0; row < results.size(); ++row) {
    double out = -12345.5;
    if (tqs_stat_value(&tqs_stat_table[row], &stats, &out)) {
      EXPECT_TRUE(found) << "a value without elements";
      results[row] = out;
    }
  }
  return results;
}

// What every statistic gives where none is found.
const Results kAllFail{};

// ---------------------------------------------------------------------------------------------
// The table and the lookup by name

TEST(StatTable, HoldsTheSevenStatisticsInOrderAndAClosingRow) {
  const std::array<StatEntry, 8> expected{{{"Min", stat_min},
                                           {"Max", stat_max},
                                           {"Max-Min", stat_range},
                                           {"Avg", stat_avg},
                                           {"Std", stat_std},
                                           {"Sum", stat_sum},
                                           {"N", stat_count},
                                           {"", nullptr}}};
  for (std::size_t row = 0; row < expected.size(); ++row) {
    EXPECT_STREQ(tqs_stat_table[row].name, expected[row].name) << "row " << row;
    EXPECT_EQ(tqs_stat_table[row].function, expected[row].function) << "row " << row;
  }
}

TEST(StatTable, LookupFindsARowByItsExactNameOnly) {
  for (std::size_t row = 0; row < 7; ++row) {
    EXPECT_EQ(tqs_find_stat(tqs_stat_table[row].name), &tqs_stat_table[row]);
  }
  for (const char* name : {"", "min", "MAX", "Max-min", "Max - Min", "Avg ", "Std\n", "n", "Mi"}) {
    EXPECT_EQ(tqs_find_stat(name), nullptr) << "\"" << name << "\"";
  }
  EXPECT_EQ(tqs_find_stat(nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Statistics of one array

TEST(Statistics, OfOneArrayUnderItsParent) {
  const double sqrt_18_5 = std::sqrt(18.5);
  struct Case {
    const char* what;
    std::string bytes;
    Results expected; // Min, Max, Max-Min, Avg, Std, Sum, N
  };
  const std::vector<Case> cases = {
      {"no elements", "", kAllFail},
      {"seven bytes are no element", std::string(7, '\x11'), kAllFail},
      {"one element", doubles_bytes({2.5}), {2.5, 2.5, 0.0, 2.5, std::nullopt, 2.5, 1.0}},
      {"two equal elements", doubles_bytes({-3, -3}), {-3.0, -3.0, 0.0, -3.0, 0.0, -6.0, 2.0}},
      {"four elements", doubles_bytes({5, -2, 9, 0}), {-2.0, 9.0, 11.0, 3.0, sqrt_18_5, 12.0, 4.0}},
      {"20 bytes hold two elements",
       doubles_bytes({1, 4}) + "\x01\x02\x03\x04",
       {1.0, 4.0, 3.0, 2.5, 1.5, 5.0, 2.0}},
      {"only NaN elements",
       doubles_bytes({kNaN, kNaN}),
       {kLargest, -kLargest, -kInf, kNaN, kNaN, kNaN, 2.0}},
      {"a NaN among numbers", doubles_bytes({1, kNaN, 3}), {1.0, 3.0, 2.0, kNaN, kNaN, kNaN, 3.0}},
      // sum_sq - sum * sum / N rounds to -1.2e-18 here: clamped to 0, not the root of it.
      {"a variance that rounds below zero",
       doubles_bytes({0.1, 0.1, 0.1}),
       {0.1, 0.1, 0.0, 0.30000000000000004 / 3, 0.0, 0.30000000000000004, 3.0}},
      // ... and to +1.85e-17 here: the one-pass formula reports its root, where the exact
      // deviation is 0.
      {"a variance that rounds above zero",
       doubles_bytes({0.3, 0.3, 0.3}),
       {0.3, 0.3, 0.0, 0.8999999999999999 / 3, std::sqrt(1.850371707708594e-17), 0.8999999999999999,
        3.0}},
      {"two 4-byte integers read as one double",
       std::string("\x01\0\0\0\x02\0\0\0", 8),
       {std::bit_cast<double>(std::uint64_t{0x0000000200000001}),
        std::bit_cast<double>(std::uint64_t{0x0000000200000001}), 0.0,
        std::bit_cast<double>(std::uint64_t{0x0000000200000001}), std::nullopt,
        std::bit_cast<double>(std::uint64_t{0x0000000200000001}), 1.0}},
  };
  for (const Case& c : cases) {
    Tree tree;
    TqsNode* parent = tree.plain(nullptr, "parent");
    // The type word plays no part: the 4-byte integers are marked as such.
    TqsNode* x = tree.add(parent, "x", TQS_FLAG_ARRAY | TQS_TYPE_SIZE4_02, c.bytes);
    tree.array(parent, "y", {1000, 2000}); // a sibling of another name stays out
    expect_results(all_stats(parent, "x", 0), c.expected, c.what);
    // The node's own statistics, in one pass, give every value alike.
    expect_results(node_stats(x), c.expected, c.what + std::string(", of the node"));
  }
}

TEST(Statistics, FailWithoutAChildOfTheName) {
  Tree tree;
  TqsNode* root = tree.group(nullptr, "root");
  TqsNode* x = tree.array(root, "x", {1, 2, 3});
  tree.array(root, "dup", {1});
  tree.array(root, "dup", {2});
  expect_results(all_stats(root, "X", 0), kAllFail, "the lookup is case-sensitive");
  expect_results(all_stats(root, "xx", 0), kAllFail, "a longer name");
  expect_results(all_stats(root, "dup", 0), kAllFail, "two children of the name");
  expect_results(all_stats(x, "x", 0), kAllFail, "applied to the array node itself");
  expect_results(all_stats(nullptr, "x", 0), kAllFail, "a null node");
  expect_results(all_stats(nullptr, "x", 1), kAllFail, "a null node, whole tree");
}

TEST(Statistics, OfANodeReachRepeatedNamesAndTakeOnlyTheTablesRows) {
  Tree tree;
  TqsNode* root = tree.group(nullptr, "root");
  TqsNode* first = tree.array(root, "dup", {1, 2});
  TqsNode* second = tree.array(root, "dup", {10});
  expect_results(node_stats(first), {1.0, 2.0, 1.0, 1.5, 0.5, 3.0, 2.0}, "first of two");
  expect_results(node_stats(second), {10.0, 10.0, 0.0, 10.0, std::nullopt, 10.0, 1.0}, "second");
  expect_results(node_stats(root), kAllFail, "a group node holds no data");
  expect_results(node_stats(nullptr), kAllFail, "a null node");

  ArrayStats stats;
  ASSERT_EQ(tqs_node_stats(&stats, first), 1);
  const StatEntry copy = tqs_stat_table[1];
  const StatEntry foreign = {"Max", nullptr};
  double out = -1;
  EXPECT_EQ(tqs_stat_value(&copy, &stats, &out), 1); // a copy of a row is that row
  EXPECT_EQ(out, 2.0);
  EXPECT_EQ(tqs_stat_value(&foreign, &stats, &out), 0);
  EXPECT_EQ(tqs_stat_value(&tqs_stat_table[7], &stats, &out), 0); // the closing row
  EXPECT_EQ(tqs_stat_value(nullptr, &stats, &out), 0);
  EXPECT_EQ(out, 2.0);
}

TEST(Statistics, StartValuesAreSetEvenWhenNothingIsFound) {
  ArrayStats stats;
  stats.count = 99;
  stats.min = stats.max = stats.sum = stats.sum_sq = stats.avg = stats.std = 7;
  const char* name = "x";
  EXPECT_EQ(tqs_array_stats(&stats, nullptr, name, 0), 0);
  EXPECT_EQ(stats.name, name); // the caller's text, not a copy
  EXPECT_EQ(stats.count, 0);
  EXPECT_EQ(stats.min, kLargest);
  EXPECT_EQ(stats.max, -kLargest);
  EXPECT_EQ(stats.sum, 0);
  EXPECT_EQ(stats.sum_sq, 0);
  EXPECT_EQ(stats.avg, 7); // not set without elements
  EXPECT_EQ(stats.std, 7);
}

// ---------------------------------------------------------------------------------------------
// Whole-tree statistics, over the tree of PooledTree (support/tqs_trees.h)

TEST(WholeTree, PoolsTheElementsOfTheArraysUnderEveryGroupNode) {
  PooledTree t;
  // Six elements; the average over them is not the average of the three arrays' averages.
  const double sum = 1 + 2 + 10 + 100 + 200 + 300;
  const double sum_sq = 1 + 4 + 100 + 10000 + 40000 + 90000;
  const double deviation = std::sqrt((sum_sq - sum * sum / 6) / 6);
  expect_results(all_stats(t.root, "x", 1), {1.0, 300.0, 299.0, sum / 6, deviation, sum, 6.0}, "x");
  // Only the group whose "dup" is unique contributes.
  expect_results(all_stats(t.root, "dup", 1), {7.0, 7.0, 0.0, 7.0, std::nullopt, 7.0, 1.0}, "dup");
  expect_results(all_stats(t.root, "none", 1), kAllFail, "none");
}

TEST(WholeTree, GivesTheSameResultFromAnyNodeOfTheTree) {
  PooledTree t;
  const Results from_root = all_stats(t.root, "x", 1);
  for (TqsNode& node : t.tree.nodes()) {
    expect_results(all_stats(&node, "x", 1), from_root, std::string("from ") + node.name);
  }
}

TEST(WholeTree, FindsNothingInATreeWithoutGroupNodes) {
  Tree tree;
  TqsNode* root = tree.plain(nullptr, "root");
  tree.array(root, "x", {1, 2});
  TqsNode* inner = tree.plain(root, "inner");
  tree.array(inner, "x", {3});
  expect_results(all_stats(root, "x", 1), kAllFail, "whole tree");
  // The single-node mode does not look at the node's type word.
  expect_results(all_stats(root, "x", 0), {1.0, 2.0, 1.0, 1.5, 0.5, 3.0, 2.0}, "under root");
}

} // namespace
