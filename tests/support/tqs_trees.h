// Node trees built in memory for the tests of the statistics and of the node tree, and the
// results of the statistics table over them. Header only: the tests that include it link the
// TQS library, which the other tests need not.
#pragma once

#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// A tree built in memory. Its arrays are already in memory (stored size 0), so nothing loads.
class Tree {
public:
  norvalex::TqsNode* add(norvalex::TqsNode* parent, const char* name, std::uint32_t type,
                         std::string bytes = {}) {
    norvalex::TqsNode& node = nodes_.emplace_back(); // all fields zero
    std::strncpy(node.name, name, sizeof node.name - 1);
    node.type = node.stored_type = type;
    if (!bytes.empty()) {
      std::string& data = data_.emplace_back(std::move(bytes));
      node.data = data.data();
      node.size = static_cast<std::uint32_t>(data.size());
    }
    node.parent = parent;
    if (parent) {
      norvalex::TqsNode** link = &parent->first_child;
      while (*link)
        link = &(*link)->next;
      *link = &node;
    }
    return &node;
  }
  norvalex::TqsNode* group(norvalex::TqsNode* parent, const char* name) {
    return add(parent, name, norvalex::TQS_FLAG_GROUP);
  }
  norvalex::TqsNode* plain(norvalex::TqsNode* parent, const char* name) {
    return add(parent, name, 0);
  }
  norvalex::TqsNode* array(norvalex::TqsNode* parent, const char* name,
                           const std::vector<double>& values) {
    return add(parent, name, norvalex::TQS_FLAG_ARRAY | norvalex::TQS_TYPE_DOUBLE,
               doubles_bytes(values));
  }
  std::deque<norvalex::TqsNode>& nodes() { return nodes_; }

private:
  std::deque<norvalex::TqsNode> nodes_; // a deque never moves its elements
  std::deque<std::string> data_;
};

// root (group): x {1, 2}, "dup" twice
//   a (group): x {10}
//   b (plain): x {5000}, which no group holds
//     c (group): x {100, 200, 300}, dup {7}
//   d (group): no x
//   e (group): x {} (no elements), and x again: passed over
struct PooledTree {
  Tree tree;
  norvalex::TqsNode* root = tree.group(nullptr, "root");
  PooledTree() {
    tree.array(root, "x", {1, 2});
    tree.array(root, "dup", {1});
    tree.array(root, "dup", {2});
    norvalex::TqsNode* a = tree.group(root, "a");
    tree.array(a, "x", {10});
    norvalex::TqsNode* b = tree.plain(root, "b");
    tree.array(b, "x", {5000});
    norvalex::TqsNode* c = tree.group(b, "c");
    tree.array(c, "x", {100, 200, 300});
    tree.array(c, "dup", {7});
    tree.group(root, "d");
    norvalex::TqsNode* e = tree.group(root, "e");
    tree.array(e, "x", {});
    tree.array(e, "x", {-1e9});
  }
};

// The seven results of the table's statistics; nullopt where the statistic fails.
using Results = std::array<std::optional<double>, 7>;

// Equal values, or both NaN.
inline bool same_value(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

inline Results all_stats(norvalex::TqsNode* node, const char* name, int whole_tree) {
  Results results;
  for (std::size_t row = 0; row < results.size(); ++row) {
    constexpr double untouched = -12345.5;
    double out = untouched;
    if (norvalex::tqs_stat_table[row].function(node, name, &out, whole_tree)) {
      results[row] = out;
    } else {
      EXPECT_EQ(out, untouched) << "a failing " << norvalex::tqs_stat_table[row].name
                                << " wrote its out";
    }
  }
  return results;
}

inline void expect_results(const Results& actual, const Results& expected,
                           const std::string& what) {
  for (std::size_t row = 0; row < expected.size(); ++row) {
    const char* stat = norvalex::tqs_stat_table[row].name;
    ASSERT_EQ(actual[row].has_value(), expected[row].has_value()) << what << ": " << stat;
    if (expected[row]) {
      EXPECT_TRUE(same_value(*actual[row], *expected[row]))
          << what << ": " << stat << " gave " << *actual[row] << ", expected " << *expected[row];
    }
  }
}

} // namespace test_support
