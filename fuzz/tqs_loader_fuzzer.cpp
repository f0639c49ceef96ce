// Any bytes as a TQS file read back by the loader: the tree is read or refused, every statistic
// runs over every array of it, alone and pooled over the tree, and freeing the tree leaves
// nothing open or allocated. The library's messages go to a handler that returns, as a caller
// that keeps running installs one; the loader then releases what it had opened itself.
#include "fuzz_support.h"
#include "tqs/tqs_loader.h"
#include "tqs/tqs_stats.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Enough children for every statistic to meet duplicates, without the pooled statistics over
// many children turning quadratic time into timeouts.
constexpr int MAX_CHILDREN = 64;

int messages = 0;

int count_message(const char*, ...) {
  ++messages;
  return 0;
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
  // With the handler replaced, no library path may end the run.
  process_end_hook = throw_run_ended;
  fatal_handler_slot = count_message;
  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, size, 1, file) == 1);
  FUZZ_CHECK(std::fclose(file) == 0);

  messages = 0;
  TqsNode* root = tqs_read_tree(input_path().c_str());
  FUZZ_CHECK((root == nullptr) == (messages > 0));
  if (root == nullptr)
    return 0;
  FUZZ_CHECK(tqs_tree_input(root) != nullptr);
  int children = 0;
  for (TqsNode* child = root->first_child; child && children < MAX_CHILDREN;
       child = child->next, ++children) {
    for (const StatEntry& row : tqs_stat_table) {
      if (row.function == nullptr)
        break;
      for (int whole_tree = 0; whole_tree <= 1; ++whole_tree) {
        double out = 0;
        row.function(root, child->name, &out, whole_tree);
        row.function(child, child->name, &out, whole_tree);
      }
    }
  }
  // Only a tree's root can be freed; a child is refused with a message and left alone.
  if (root->first_child != nullptr) {
    messages = 0;
    tqs_free_tree(root->first_child);
    FUZZ_CHECK(messages == 1);
  }
  tqs_free_tree(root);
  return 0;
}
