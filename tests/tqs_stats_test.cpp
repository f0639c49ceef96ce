// The statistics over trees built here in memory, the walk and the child lookup they rest on,
// 64-bit stream positions, and lazy loading: when it reads, when it seeks, and the error of each
// load failure, with the node left unloaded.
#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace norvalex;

using test_support::doubles_bytes;
using test_support::run_in_child;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::write_file;

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Equal values, or both NaN.
bool same_value(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

// A tree built in memory. Its arrays are already in memory (stored size 0), so nothing loads.
class Tree {
public:
  TqsNode* add(TqsNode* parent, const char* name, std::uint32_t type, std::string bytes = {}) {
    TqsNode& node = nodes_.emplace_back(); // all fields zero
    std::strncpy(node.name, name, sizeof node.name - 1);
    node.type = node.stored_type = type;
    if (!bytes.empty()) {
      std::string& data = data_.emplace_back(std::move(bytes));
      node.data = data.data();
      node.size = static_cast<std::uint32_t>(data.size());
    }
    node.parent = parent;
    if (parent) {
      TqsNode** link = &parent->first_child;
      while (*link)
        link = &(*link)->next;
      *link = &node;
    }
    return &node;
  }
  TqsNode* group(TqsNode* parent, const char* name) { return add(parent, name, TQS_FLAG_GROUP); }
  TqsNode* plain(TqsNode* parent, const char* name) { return add(parent, name, 0); }
  TqsNode* array(TqsNode* parent, const char* name, const std::vector<double>& values) {
    return add(parent, name, TQS_FLAG_ARRAY | TQS_TYPE_DOUBLE, doubles_bytes(values));
  }
  std::deque<TqsNode>& nodes() { return nodes_; }

private:
  std::deque<TqsNode> nodes_; // a deque never moves its elements
  std::deque<std::string> data_;
};

// The seven results of the table's statistics; nullopt where the statistic fails.
using Results = std::array<std::optional<double>, 7>;

Results all_stats(TqsNode* node, const char* name, int whole_tree) {
  Results results;
  for (std::size_t row = 0; row < results.size(); ++row) {
    constexpr double untouched = -12345.5;
    double out = untouched;
    if (tqs_stat_table[row].function(node, name, &out, whole_tree)) {
      results[row] = out;
    } else {
      EXPECT_EQ(out, untouched) << "a failing " << tqs_stat_table[row].name << " wrote its out";
    }
  }
  return results;
}

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

void expect_results(const Results& actual, const Results& expected, const std::string& what) {
  for (std::size_t row = 0; row < expected.size(); ++row) {
    const char* stat = tqs_stat_table[row].name;
    ASSERT_EQ(actual[row].has_value(), expected[row].has_value()) << what << ": " << stat;
    if (expected[row]) {
      EXPECT_TRUE(same_value(*actual[row], *expected[row]))
          << what << ": " << stat << " gave " << *actual[row] << ", expected " << *expected[row];
    }
  }
}

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
// Whole-tree statistics

// root (group): x {1, 2}, "dup" twice
//   a (group): x {10}
//   b (plain): x {5000}, which no group holds
//     c (group): x {100, 200, 300}, dup {7}
//   d (group): no x
//   e (group): x {} (no elements), and x again: passed over
struct PooledTree {
  Tree tree;
  TqsNode* root = tree.group(nullptr, "root");
  PooledTree() {
    tree.array(root, "x", {1, 2});
    tree.array(root, "dup", {1});
    tree.array(root, "dup", {2});
    TqsNode* a = tree.group(root, "a");
    tree.array(a, "x", {10});
    TqsNode* b = tree.plain(root, "b");
    tree.array(b, "x", {5000});
    TqsNode* c = tree.group(b, "c");
    tree.array(c, "x", {100, 200, 300});
    tree.array(c, "dup", {7});
    tree.group(root, "d");
    TqsNode* e = tree.group(root, "e");
    tree.array(e, "x", {});
    tree.array(e, "x", {-1e9});
  }
};

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

// ---------------------------------------------------------------------------------------------
// Walk and child lookup

TEST(Walk, VisitsGroupNodesInPreOrderWithTheirDepths) {
  PooledTree t;
  struct Visit {
    std::string name;
    int depth;
  };
  std::vector<Visit> visits;
  auto record = [](TqsNode* node, int depth, void* context) {
    static_cast<std::vector<Visit>*>(context)->push_back({node->name, depth});
  };
  tqs_walk(t.root, record, 5, &visits);
  // b is not a group, yet its child c is visited, at depth 7.
  const std::vector<std::pair<std::string, int>> expected = {
      {"root", 5}, {"a", 6}, {"c", 7}, {"d", 6}, {"e", 6}};
  ASSERT_EQ(visits.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(visits[i].name, expected[i].first) << i;
    EXPECT_EQ(visits[i].depth, expected[i].second) << i;
  }
  visits.clear();
  tqs_walk(nullptr, record, 0, &visits);
  EXPECT_TRUE(visits.empty());
}

TEST(FindChild, ReturnsTheOneChildOfTheNameOnly) {
  Tree tree;
  TqsNode* root = tree.plain(nullptr, "root");
  TqsNode* a = tree.array(root, "a", {});
  tree.array(root, "b", {});
  tree.array(root, "b", {});
  TqsNode* c = tree.array(root, "c", {});
  tree.array(root, "b", {});
  TqsNode* full = tree.array(root, "fifteen-letters", {});
  EXPECT_EQ(tqs_find_child(root, "a"), a);
  EXPECT_EQ(tqs_find_child(root, "c"), c);
  EXPECT_EQ(tqs_find_child(root, "b"), nullptr);
  EXPECT_EQ(tqs_find_child(root, "A"), nullptr);
  EXPECT_EQ(tqs_find_child(root, ""), nullptr);
  EXPECT_EQ(tqs_find_child(root, "fifteen-letters"), full);
  EXPECT_EQ(tqs_find_child(a, "a"), nullptr);
  // A name field without its NUL matches nothing and is never read past.
  std::memcpy(full->name, "sixteen-letters!", 16);
  EXPECT_EQ(tqs_find_child(root, "sixteen-letters!"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Stream positions

TEST(StreamPosition, SeekTakesEachWhenceAndRefusesBadTargets) {
  TempDir dir;
  const std::string path = dir.file("hundred");
  write_file(path, std::string(100, 'z'));
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  struct Step {
    std::int64_t offset;
    int whence;
    int result;
    std::int64_t position; // afterwards
  };
  const Step steps[] = {
      {10, 0, 0, 10},
      {5, 1, 0, 15},
      {-16, 1, 22, 15},
      {-15, 1, 0, 0},
      {-1, 2, 0, 99},
      {0, 2, 0, 100},
      {-101, 2, 22, 100},
      {-1, 0, 22, 100},
      {3, 3, 22, 100},
      {3, -1, 22, 100},
      {0, 0, 0, 0},
      {std::int64_t{5} << 30, 0, 0, std::int64_t{5} << 30}, // past 4 GiB and past the end
      {std::int64_t{1} << 31, 1, 0, std::int64_t{7} << 30},
      {std::numeric_limits<std::int64_t>::max(), 1, 22, std::int64_t{7} << 30},
  };
  for (const Step& step : steps) {
    errno = 0;
    EXPECT_EQ(tqs_seek(stream, step.offset, step.whence), step.result)
        << step.offset << " from " << step.whence;
    if (step.result > 0) {
      EXPECT_EQ(errno, 0) << "22 and 9 are returned, not stored";
    }
    EXPECT_EQ(tqs_tell(stream), step.position) << step.offset << " from " << step.whence;
  }
  std::fclose(stream);
}

TEST(StreamPosition, WithoutAFileLengthSeekingFromTheEndGives9) {
#ifndef _WIN32 // Windows has no stream without a descriptor
  char memory[16] = {};
  std::FILE* in_memory = fmemopen(memory, sizeof memory, "r");
  ASSERT_NE(in_memory, nullptr);
  EXPECT_EQ(tqs_seek(in_memory, 4, 0), 0);
  EXPECT_EQ(tqs_tell(in_memory), 4);
  EXPECT_EQ(tqs_seek(in_memory, 0, 2), 9); // no descriptor
  std::fclose(in_memory);
#endif

  const test_support::PipeStream pipe;
  EXPECT_EQ(tqs_tell(pipe.reader), -1);
  EXPECT_EQ(tqs_seek(pipe.reader, 0, 2), 9); // a pipe has no length
  EXPECT_NE(tqs_seek(pipe.reader, 0, 0), 0); // the positioning call itself fails
  EXPECT_NE(tqs_seek(pipe.reader, 0, 1), 0); // no current position to start from
}

// ---------------------------------------------------------------------------------------------
// Lazy loading

// An unbuffered stream over bytes in memory that counts the reads and seeks reaching it, so
// that a test sees whether a load read its way to the data or sought it, and can make either
// fail. A position query reaches it as a move by 0 from the current position and is not
// counted as a seek.
struct Source {
  std::string bytes;
  std::int64_t pos = 0;
  int calls = 0;           // every read and seek
  int seeks = 0;           // seeks that move the stream (from the start or the end)
  bool fail_query = false; // position queries fail, as on a pipe
  bool fail_seek = false;
  bool fail_read = false;
};

ssize_t source_read(void* cookie, char* buffer, std::size_t size) {
  auto& source = *static_cast<Source*>(cookie);
  ++source.calls;
  if (source.fail_read) {
    errno = EIO;
    return -1;
  }
  const auto available = static_cast<std::int64_t>(source.bytes.size()) - source.pos;
  const std::size_t count =
      available <= 0 ? 0 : std::min(size, static_cast<std::size_t>(available));
  std::memcpy(buffer, source.bytes.data() + source.pos, count);
  source.pos += static_cast<std::int64_t>(count);
  return static_cast<ssize_t>(count);
}

int source_seek(void* cookie, off64_t* offset, int whence) {
  auto& source = *static_cast<Source*>(cookie);
  ++source.calls;
  if (whence == SEEK_CUR) {
    if (source.fail_query) {
      errno = ESPIPE;
      return -1;
    }
    source.pos += *offset;
  } else {
    ++source.seeks;
    if (source.fail_seek) {
      errno = ESPIPE;
      return -1;
    }
    source.pos =
        *offset + (whence == SEEK_END ? static_cast<std::int64_t>(source.bytes.size()) : 0);
  }
  *offset = source.pos;
  return 0;
}

// Counting streams are made with fopencookie (glibc); the tests that need one are skipped
// elsewhere.
#ifdef __GLIBC__
constexpr bool kCountingStreams = true;
#else
constexpr bool kCountingStreams = false;
#endif
constexpr const char* kNoCountingStreams = "no fopencookie to count a stream's reads and seeks";

std::FILE* open_source(Source& source) {
#ifndef __GLIBC__
  (void)source;
  (void)source_read;
  (void)source_seek;
  throw std::runtime_error(kNoCountingStreams);
#else
  std::FILE* stream =
      fopencookie(&source, "rb", cookie_io_functions_t{source_read, nullptr, source_seek, nullptr});
  if (!stream)
    throw std::runtime_error("fopencookie failed");
  // Every read then reaches the source, none is served from a buffer filled earlier.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
#endif
}

// A node of `stored_size` bytes at `data_offset` of `file`, not yet loaded.
TqsNode stored_node(TqsFile* file, std::int64_t data_offset, std::uint32_t stored_size) {
  TqsNode node{};
  std::strcpy(node.name, "x");
  node.stored_type = TQS_FLAG_ARRAY | TQS_TYPE_DOUBLE;
  node.stored_size = node.size = stored_size;
  node.file = file;
  node.data_offset = data_offset;
  return node;
}

// Filler bytes with the doubles 1.5 and -2.5 at `offset`.
std::string bytes_with_data_at(std::size_t offset, std::size_t total) {
  std::string bytes(total, 'g');
  bytes.replace(offset, 16, doubles_bytes({1.5, -2.5}));
  return bytes;
}

TEST(LazyLoad, ReadsShortForwardGapsAndSeeksEveryOtherMove) {
  if (!kCountingStreams)
    GTEST_SKIP() << kNoCountingStreams;
  constexpr std::int64_t cur = 6000;
  struct Case {
    std::int64_t gap; // data offset minus the stream's position
    bool sought;
  };
  const Case cases[] = {{1, false},    {24, false}, {4095, false}, {4096, false}, {4097, true},
                        {10000, true}, {0, true},   {-1, true},    {-6000, true}};
  for (const Case& c : cases) {
    Source source;
    source.bytes = bytes_with_data_at(static_cast<std::size_t>(cur + c.gap), 20000);
    std::FILE* stream = open_source(source);
    ASSERT_EQ(fseeko(stream, cur, SEEK_SET), 0);
    source.seeks = 0;
    TqsFile file{stream, "source.tqs"};
    TqsNode node = stored_node(&file, cur + c.gap, 16);
    node.type = 0;
    node.size = 16;
    tqs_load_data(&node);
    EXPECT_EQ(source.seeks, c.sought ? 1 : 0) << "gap " << c.gap;
    ASSERT_NE(node.data, nullptr) << "gap " << c.gap;
    EXPECT_EQ(std::string(static_cast<char*>(node.data), 16), doubles_bytes({1.5, -2.5}))
        << "gap " << c.gap;
    EXPECT_EQ(node.type, TQS_FLAG_ARRAY | TQS_TYPE_DOUBLE);
    EXPECT_EQ(tqs_tell(stream), cur + c.gap + 16) << "the stream stops after the data";
    std::free(node.data);
    std::fclose(stream);
  }
}

TEST(LazyLoad, SeeksWhenTheStreamPositionIsUnknown) {
  if (!kCountingStreams)
    GTEST_SKIP() << kNoCountingStreams;
  Source source;
  source.bytes = bytes_with_data_at(40, 100);
  source.fail_query = true;
  std::FILE* stream = open_source(source);
  ASSERT_EQ(tqs_tell(stream), -1);
  TqsFile file{stream, "source.tqs"};
  // Had -1 been taken for the position, the 41 bytes "ahead" would have been read and the data
  // taken from offset 41 of a stream standing at 0.
  TqsNode node = stored_node(&file, 40, 16);
  tqs_load_data(&node);
  EXPECT_EQ(source.seeks, 1);
  ASSERT_NE(node.data, nullptr);
  EXPECT_EQ(std::string(static_cast<char*>(node.data), 16), doubles_bytes({1.5, -2.5}));
  // Nor does a move relative to an unknown position go anywhere.
  source.seeks = 0;
  EXPECT_EQ(tqs_seek(stream, 8, 1), -1);
  EXPECT_EQ(source.seeks, 0);
  std::free(node.data);
  std::fclose(stream);
}

TEST(LazyLoad, LoadsOnceAndStatisticsAfterwardsTouchNoFile) {
  if (!kCountingStreams)
    GTEST_SKIP() << kNoCountingStreams;
  Source source;
  source.bytes = bytes_with_data_at(100, 200);
  std::FILE* stream = open_source(source);
  TqsFile file{stream, "source.tqs"};
  TqsNode group{};
  group.type = TQS_FLAG_GROUP;
  TqsNode node = stored_node(&file, 100, 16);
  node.parent = &group;
  group.first_child = &node;

  expect_results(all_stats(&group, "x", 0), {-2.5, 1.5, 4.0, -0.5, 2.0, -1.0, 2.0}, "first");
  void* const loaded = node.data;
  ASSERT_NE(loaded, nullptr);
  const int calls = source.calls;
  const std::int64_t position = tqs_tell(stream);
  source.calls = 0;
  expect_results(all_stats(&group, "x", 0), {-2.5, 1.5, 4.0, -0.5, 2.0, -1.0, 2.0}, "again");
  expect_results(all_stats(&group, "x", 1), {-2.5, 1.5, 4.0, -0.5, 2.0, -1.0, 2.0}, "tree");
  tqs_load_data(&node);
  EXPECT_EQ(source.calls, 0) << "after " << calls << " calls for the first load";
  EXPECT_EQ(node.data, loaded);
  EXPECT_EQ(tqs_tell(stream), position);
  std::free(node.data);
  std::fclose(stream);
}

TEST(LazyLoad, NeverLoadsANodeWithStoredSizeZero) {
  if (!kCountingStreams)
    GTEST_SKIP() << kNoCountingStreams;
  Source source;
  source.bytes = std::string(64, 'g');
  std::FILE* stream = open_source(source);
  TqsFile file{stream, "source.tqs"};
  TqsNode node = stored_node(&file, 8, 0);
  node.size = 16;
  node.type = 0x123;
  source.calls = 0;
  tqs_load_data(&node);
  tqs_load_data(nullptr);
  EXPECT_EQ(source.calls, 0);
  EXPECT_EQ(node.data, nullptr);
  EXPECT_EQ(node.size, 16U); // type and size are never replaced
  EXPECT_EQ(node.type, 0x123U);
  std::fclose(stream);
}

TEST(LazyLoad, ReadsTheStoredSizeWhateverTheCurrentSize) {
  TempDir dir;
  const std::string path = dir.file("data");
  const std::string stored = doubles_bytes({1, 2, 3});
  write_file(path, "head" + stored + "tail");
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  TqsFile file{stream, path.c_str()};
  for (std::uint32_t size : {0U, 8U, 23U, 24U, 4000U}) {
    TqsNode node = stored_node(&file, 4, 24);
    node.size = size;
    tqs_load_data(&node);
    ASSERT_NE(node.data, nullptr) << size;
    EXPECT_EQ(node.size, 24U);
    EXPECT_EQ(std::string(static_cast<char*>(node.data), 24), stored) << size;
    EXPECT_EQ(tqs_tell(stream), 28);
    std::free(node.data);
  }
  std::fclose(stream);
}

// ---------------------------------------------------------------------------------------------
// Load failures

// Each failure of a load throws one error, which the program prints as its one line; the node
// is left unloaded.
TEST(LoadFailure, ThrowsAndLeavesTheNodeUnloaded) {
  if (!kCountingStreams)
    GTEST_SKIP() << kNoCountingStreams;
  const std::string eof = "\"source.tqs\": Unexpected end of file";
  const std::string io = "\"source.tqs\": Input/output error";
  struct Case {
    const char* what;
    std::size_t total; // bytes in the stream, which stands at 100
    std::int64_t gap;  // from there to the data
    bool fail_read;
    bool fail_seek;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"the end inside the gap", 104, 8, false, false, eof},
      {"the end inside the data", 110, 0, false, false, eof},
      {"a sought target past the end", 110, 5000, false, false, eof},
      {"the gap cannot be read", 10000, 8, true, false, io},
      {"the data cannot be read", 10000, 0, true, false, io},
      {"the data cannot be sought", 10000, 5000, false, true, "\"source.tqs\": Illegal seek"},
      {"a negative offset", 10000, -101, false, false, "\"source.tqs\": Invalid argument"},
  };
  for (const Case& c : cases) {
    Source source;
    source.bytes = std::string(c.total, 'g');
    std::FILE* stream = open_source(source);
    ASSERT_EQ(fseeko(stream, 100, SEEK_SET), 0);
    source.fail_seek = c.fail_seek;
    source.fail_read = c.fail_read;
    TqsFile file{stream, "source.tqs"};
    TqsNode node = stored_node(&file, 100 + c.gap, 16);
    node.type = 0x55;
    node.size = 8;

    auto result = run_in_child([&] { tqs_load_data(&node); });
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_EQ(result.err, "norvalex: Error: " + c.message + "\n") << c.what;

    EXPECT_EQ(thrown_text([&] { tqs_load_data(&node); }), c.message) << c.what;
    EXPECT_EQ(node.data, nullptr) << c.what;
    EXPECT_EQ(node.type, 0x55U) << c.what;
    EXPECT_EQ(node.size, 8U) << c.what;
    std::fclose(stream);
  }
}

TEST(LoadFailure, StoredDataWithoutAFileIsRefused) {
  auto result = run_in_child([] {
    TqsNode node = stored_node(nullptr, 0, 16);
    tqs_load_data(&node);
  });
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "norvalex: Error: Invalid memory representation of datafile\n");
}

#if defined(__SANITIZE_ADDRESS__)
#define NORVALEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define NORVALEX_SANITIZED 1
#endif
#endif

// The data buffer of a node of 4 GiB cannot be had under a 2 GiB address-space limit.
void limit_address_space() {
#ifndef _WIN32
  const rlimit limit{rlim_t{2} << 30, rlim_t{2} << 30};
  if (setrlimit(RLIMIT_AS, &limit) != 0)
    _exit(125);
#endif
}

TEST(LoadFailure, ABufferThatCannotBeAllocatedIsReported) {
#ifdef NORVALEX_SANITIZED
  GTEST_SKIP() << "sanitizer runtimes reserve more address space than the limit allows";
#endif
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no address-space limit for a process (RLIMIT_AS)";
#endif
  TempDir dir;
  const std::string path = dir.file("data");
  write_file(path, std::string(64, 'g'));

  auto fatal = run_in_child([&] {
    limit_address_space();
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    TqsFile file{stream, path.c_str()};
    TqsNode node = stored_node(&file, 8, 0xFFFFFFFF);
    tqs_load_data(&node);
  });
  EXPECT_EQ(fatal.exit_status, 1);
  EXPECT_EQ(fatal.err, "norvalex: Error: Not enough memory\n");

  // Caught: nothing is read into the missing buffer, and the node stays as it was, so a later
  // load may try again.
  auto caught = run_in_child([&] {
    limit_address_space();
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    std::fseek(stream, 3, SEEK_SET);
    TqsFile file{stream, path.c_str()};
    TqsNode node = stored_node(&file, 8, 0xFFFFFFFF);
    node.type = 0;
    const std::string text = thrown_text([&] { tqs_load_data(&node); });
    std::printf("%s|data %s|type %u|size %u|at %lld\n", text.c_str(), node.data ? "set" : "null",
                node.type, node.size, static_cast<long long>(tqs_tell(stream)));
  });
  EXPECT_EQ(caught.exit_status, 0);
  EXPECT_EQ(caught.out, "Not enough memory|data null|type 0|size 4294967295|at 3\n");
  EXPECT_EQ(caught.err, "");
}

} // namespace
