// A second thread for the point lines of a large map: while the reading's own thread scans the
// near half of the lines in the input buffer, the helper scans the far half into the points that
// follow. It takes only the lines that the fast scan reads and that store in range, and stops at
// the first other one, which the reading's thread then reads as always: every value, line count
// and error is the one the reading alone gives.
#pragma once

#include "sf7/sf7_points.h"
#include "text/line_scan.h"
#include "text/text_input.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <thread>

namespace norvalex {

class Sf7ScanHelper {
public:
  // What the helper did with a job.
  struct Result {
    // Line feeds in the near half: the points it holds when each of its lines is one point line
    // that the line buffer takes whole. The reading's thread checks that it read as many.
    std::size_t near_lines = 0;
    std::size_t lines = 0;      // far lines scanned and stored
    const char* next = nullptr; // the first far line not taken
  };

  // For the columns of one table, whose arrays the helper stores into.
  explicit Sf7ScanHelper(std::span<FieldColumn> columns) : targets_(columns) {}
  // Waits for a job under way and ends the thread.
  ~Sf7ScanHelper();
  Sf7ScanHelper(const Sf7ScanHelper&) = delete;
  Sf7ScanHelper& operator=(const Sf7ScanHelper&) = delete;

  // Starts a job: count the lines of [near, far), then scan the complete lines of [far, stop)
  // into the points from `first` + that count on, below `total`. `end` is the end of the
  // buffered text, which the zero padding of the fast scan follows; nothing in [near, end) may
  // change before wait() returns. With `read_ahead`, the job ends by reading that input's next
  // block ahead (TextInput::read_ahead). False when the thread cannot be started: no job runs.
  bool start(const char* near, const char* far, const char* stop, const char* end,
             std::size_t first, std::size_t total, TextInput* read_ahead);
  // True when the job has ended; wait() then returns at once.
  bool finished();
  Result wait();

private:
  struct Job {
    const char* near;
    const char* far;
    const char* stop;
    const char* end;
    std::size_t first;
    std::size_t total;
    TextInput* read_ahead;
  };
  void run();
  Result work(const Job& job);
  template <std::size_t Fixed> Result work_with(const Job& job);

  Sf7PointTargets targets_;
  ScanMemo memo_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Job job_{};
  Result result_{};
  bool pending_ = false; // a job waits for the thread or runs
  bool quit_ = false;
};

} // namespace norvalex
