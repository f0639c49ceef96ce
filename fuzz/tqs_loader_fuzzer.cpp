// Any bytes as a TQS file read back by the loader: the tree is read or refused, every statistic
// runs over every array of it, alone and pooled over the tree, and freeing the tree leaves
// nothing open or allocated. The library's errors are caught, as a caller that keeps running
// catches them; the loader then has released what it had opened itself. The structure check
// agrees with the loader, and the statistics of each node read from the file equal those from
// memory. The block reader walks the same blocks as the tree holds, or refuses what it refuses.
#include "fuzz_support.h"
#include "norvalex/tqs.h"

#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

// Enough children for every statistic to meet duplicates, without the pooled statistics over
// many children turning quadratic time into timeouts.
constexpr int MAX_CHILDREN = 64;

// Runs `body` and tells whether it threw the libraries' error.
template <class Body> bool throws(Body&& body) {
  try {
    body();
  } catch (const norvalex::Error&) {
    return true;
  }
  return false;
}

const std::string& input_path() {
  static const std::string path = "/tmp/norvalex-loader-fuzz-" + std::to_string(getpid()) + ".tqs";
  return path;
}

void remove_input() {
  std::remove(input_path().c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool cleanup_registered = std::atexit(remove_input) == 0;
  (void)cleanup_registered;
  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, size, 1, file) == 1);
  FUZZ_CHECK(std::fclose(file) == 0);

  TqsCheck check{};
  const bool check_failed = throws([&] { check = tqs_check_file(input_path().c_str()); });
  std::vector<TqsBlockInfo> walked;
  const bool walk_failed = throws([&] {
    TqsBlockReader reader(input_path().c_str());
    TqsBlockInfo block;
    while (reader.next(block))
      walked.push_back(block);
  });
  TqsNode* root = nullptr;
  if (throws([&] { root = tqs_read_tree(input_path().c_str()); })) {
    // A file the loader refuses has a defect, or cannot be read at all.
    FUZZ_CHECK(check_failed || !check.sound);
    FUZZ_CHECK(walk_failed);
    return 0;
  }
  FUZZ_CHECK(!walk_failed);
  std::size_t walked_index = 0;
  for (TqsNode* child = root->first_child; child; child = child->next, ++walked_index) {
    FUZZ_CHECK(walked_index < walked.size());
    const TqsBlockInfo& block = walked[walked_index];
    FUZZ_CHECK(std::memcmp(block.name, child->name, sizeof block.name) == 0);
    FUZZ_CHECK(block.type == child->stored_type && block.size == child->stored_size);
    FUZZ_CHECK(block.data_offset == child->data_offset);
  }
  FUZZ_CHECK(walked_index == walked.size());
  FUZZ_CHECK(!check_failed);
  FUZZ_CHECK(root != nullptr);
  FUZZ_CHECK(tqs_tree_input(root) != nullptr);
  int children = 0;
  for (TqsNode* child = root->first_child; child && children < MAX_CHILDREN;
       child = child->next, ++children) {
    for (const StatEntry& row : tqs_stat_table) {
      if (row.function == nullptr)
        break;
      for (int whole_tree = 0; whole_tree <= 1; ++whole_tree) {
        double out = 0;
        // A load that fails leaves its node unloaded; the next statistic tries again.
        throws([&] { row.function(root, child->name, &out, whole_tree); });
        throws([&] { row.function(child, child->name, &out, whole_tree); });
      }
    }
  }
  // The statistics of each node: read from the file two at a time through a second tree,
  // whose nodes stay unloaded, and one by one from memory in the first.
  TqsNode* second = tqs_read_tree(input_path().c_str());
  std::vector<TqsNode*> unloaded;
  for (TqsNode* child = second->first_child; child; child = child->next)
    unloaded.push_back(child);
  std::vector<ArrayStats> streamed(unloaded.size());
  tqs_nodes_stats(streamed.data(), unloaded.data(), unloaded.size());
  std::size_t k = 0;
  for (TqsNode* child = root->first_child; child; child = child->next, ++k) {
    FUZZ_CHECK(unloaded[k]->data == nullptr);
    tqs_load_data(child);
    ArrayStats loaded;
    tqs_node_stats(&loaded, child);
    FUZZ_CHECK(streamed[k].count == loaded.count);
    FUZZ_CHECK(std::bit_cast<std::uint64_t>(streamed[k].sum) ==
               std::bit_cast<std::uint64_t>(loaded.sum));
  }
  tqs_free_tree(second);
  // Only a tree's root can be freed; a child is refused and left alone.
  if (root->first_child != nullptr)
    FUZZ_CHECK(throws([&] { tqs_free_tree(root->first_child); }));
  tqs_free_tree(root);
  return 0;
}
