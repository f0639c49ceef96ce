// The node tree: the walk over its group nodes and the child lookup that the statistics rest
// on, and lazy loading: when a load reads, when it seeks, and the error of each load failure,
// with the node left unloaded.
#include "norvalex/tqs.h"
#include "support/test_support.h"
#include "support/tqs_trees.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace norvalex;

using test_support::all_stats;
using test_support::doubles_bytes;
using test_support::expect_results;
using test_support::PooledTree;
using test_support::run_in_child;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::Tree;
using test_support::write_file;

namespace {

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
