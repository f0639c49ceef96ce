#include "sf7/sf7_scan_helper.h"

#include <algorithm>
#include <array>
#include <system_error>

namespace norvalex {

namespace {

// Line feeds in [p, end). Byte counters over chunks of a fixed length that cannot overflow them
// compile to whole vectors of byte compares, about three times as fast as std::count, whose
// vectors widen every byte to a 64-bit count.
std::size_t count_line_feeds(const char* p, const char* end) {
  constexpr std::size_t CHUNK = 240;
  std::size_t count = 0;
  for (; static_cast<std::size_t>(end - p) >= CHUNK; p += CHUNK) {
    unsigned char in_chunk = 0;
    for (std::size_t i = 0; i < CHUNK; ++i)
      in_chunk = static_cast<unsigned char>(in_chunk + (p[i] == '\n'));
    count += in_chunk;
  }
  return count + static_cast<std::size_t>(std::count(p, end, '\n'));
}

} // namespace

Sf7ScanHelper::~Sf7ScanHelper() {
  if (!thread_.joinable())
    return;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool Sf7ScanHelper::start(const char* near, const char* far, const char* stop, const char* end,
                          std::size_t first, std::size_t total, Sf7Input* read_ahead) {
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return false; // no thread to be had: the reading goes on alone
    }
  }
  {
    std::lock_guard lock(mutex_);
    job_ = {near, far, stop, end, first, total, read_ahead};
    pending_ = true;
  }
  changed_.notify_all();
  return true;
}

bool Sf7ScanHelper::finished() {
  std::lock_guard lock(mutex_);
  return !pending_;
}

Sf7ScanHelper::Result Sf7ScanHelper::wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !pending_; });
  return result_;
}

void Sf7ScanHelper::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || quit_; });
    if (quit_)
      return;
    const Job job = job_;
    lock.unlock();
    const Result result = work(job);
    lock.lock();
    result_ = result;
    pending_ = false;
    changed_.notify_all();
  }
}

Sf7ScanHelper::Result Sf7ScanHelper::work(const Job& job) {
  // The converter's six columns with the count known at compile time.
  if (targets_.count == SF7_COLUMN_COUNT)
    return work_with<SF7_COLUMN_COUNT>(job);
  return work_with<0>(job);
}

template <std::size_t Fixed> Sf7ScanHelper::Result Sf7ScanHelper::work_with(const Job& job) {
  Result result;
  result.near_lines = count_line_feeds(job.near, job.far);
  std::size_t index = job.first + result.near_lines;
  std::array<double, SF7_MAX_LINE_NUMBERS> numbers{};
  const std::span<double> values = std::span(numbers).first(targets_.count);
  const char* line = job.far;
  while (line < job.stop && index < job.total) {
    const char* next = scan_point_fast(memo_, line, job.end, values);
    if (next == nullptr || next > job.stop || !targets_.store<Fixed>(index, values))
      break;
    ++result.lines;
    ++index;
    line = next;
  }
  result.next = line;
  if (job.read_ahead != nullptr)
    read_sf7_ahead(*job.read_ahead);
  return result;
}

} // namespace norvalex
