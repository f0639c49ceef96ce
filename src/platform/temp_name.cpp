#include "platform/file_ops.h"

#include <atomic>

namespace norvalex {

namespace {

// Bytes of the target's name kept in the temporary file's name, leaving room for the rest.
constexpr std::size_t TEMP_BASE_LIMIT = 200;

} // namespace

std::string temp_name(const std::string& folder, const std::string& target_path,
                      std::uint64_t entropy) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t x = entropy ^ (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15U;
  x = (x ^ x >> 30) * 0xBF58476D1CE4E5B9U; // the mix of splitmix64
  x = (x ^ x >> 27) * 0x94D049BB133111EBU;
  x ^= x >> 31;
  static constexpr char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder + "." + target_path.substr(folder.size(), TEMP_BASE_LIMIT) + ".tmp-";
  for (int n = 0; n < 6; ++n) {
    name += letters[x % (sizeof letters - 1)];
    x /= sizeof letters - 1;
  }
  return name;
}

} // namespace norvalex
