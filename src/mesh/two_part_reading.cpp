#include "mesh/two_part_reading.h"

#include "norvalex/error.h"
#include "platform/platform.h"

#include <array>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace norvalex {

namespace {

// A file this large from its values on is read by two threads.
constexpr std::int64_t TWO_THREADS_FROM = std::int64_t{8} << 20;

} // namespace

bool read_in_two_parts(const char* path, std::FILE* stream, std::int64_t start,
                       const std::function<bool(std::FILE*, std::int64_t length)>& first,
                       const std::function<bool(std::FILE*, std::int64_t split)>& second) {
  PlatformFileKind kind;
  std::int64_t length = 0;
  if (platform_file_status(stream, kind, length) != 0 || kind != PlatformFileKind::regular ||
      length - start < TWO_THREADS_FROM)
    return false;
  const OwnedFile other(platform_open_input(path));
  if (!other)
    return false;
  // The helper's part starts at the first line that starts past 55 % of the rest.
  std::int64_t split = start + (length - start) * 11 / 20;
  std::array<char, 4096> window{};
  if (platform_seek(other.get(), split) != 0)
    return false;
  const std::size_t got = std::fread(window.data(), 1, window.size(), other.get());
  const void* feed = std::memchr(window.data(), '\n', got);
  if (feed == nullptr)
    return false;
  split += static_cast<const char*>(feed) - window.data() + 1;
  if (platform_seek(other.get(), split) != 0)
    return false;

  bool helper_regular = false;
  // Set when the first part fails or is interrupted: the helper's work is then of no use.
  std::atomic<bool> stop{false};
  const auto helper = [&] {
    const InterruptionScope stopped(
        [](void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }, &stop);
    try {
      helper_regular = second(other.get(), split);
    } catch (const std::exception&) {
      helper_regular = false; // a defect: the reading one after the other reports it
    }
  };
  std::thread thread;
  try {
    thread = std::thread(helper);
  } catch (const std::system_error&) {
    return false;
  }
  bool regular = false;
  try {
    regular = platform_seek(stream, start) == 0 && first(stream, split - start);
  } catch (const Error& error) {
    if (error.origin() == ErrorOrigin::interrupted) {
      stop = true;
      thread.join();
      throw; // the caller asked to stop: no second reading
    }
    regular = false;
  } catch (const std::exception&) {
    regular = false;
  }
  stop = !regular;
  thread.join();
  return regular && helper_regular;
}

} // namespace norvalex
