#include "sf7/sf7_scan_helper.h"

#include <array>
#include <system_error>

namespace norvalex {

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
                          std::size_t first, std::size_t total, TextInput* read_ahead) {
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
    const char* next = scan_leading_numbers_fast(memo_, line, job.end, values);
    if (next == nullptr || next > job.stop || !targets_.store<Fixed>(index, values))
      break;
    ++result.lines;
    ++index;
    line = next;
  }
  result.next = line;
  if (job.read_ahead != nullptr)
    job.read_ahead->read_ahead();
  return result;
}

} // namespace norvalex
