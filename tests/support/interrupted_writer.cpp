// A writer that is interrupted while it writes, for converter_faulty_output_test: it opens its
// output as the converter does, with the converter's undo of an interrupted output, writes a header
// and an array, interrupts itself and goes on writing until the interruption ends it. SIGTERM's
// handler runs at once in the writing thread; on Windows Ctrl-C is handled on a thread of its own
// while this one writes on.
//
//   interrupted_writer -o|-a FILE      (exit status 0 when the interruption did not end it)
#include "cli/diagnostics.h"
#include "convert/converter_output.h"
#include "norvalex/tqs.h"
#include "platform/process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace norvalex;

namespace {

void interrupt_this_process() {
#ifdef _WIN32
  // A console of its own, which the Ctrl-C reaches alone.
  FreeConsole();
  AllocConsole();
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
#else
  std::raise(SIGTERM);
#endif
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  const bool append = std::strcmp(argv[1], "-a") == 0;
  undo_output_on_interruption();
  const std::vector<double> values(8192, 0.5);
  const auto count = static_cast<std::int32_t>(values.size());
  run_reporting_errors([&] {
    OutputFile file;
    TqsOutput output;
    tqs_open_output(append ? nullptr : argv[2], append ? argv[2] : nullptr, file, output);
    tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
    tqs_write_array(output, "first", count, TQS_TYPE_DOUBLE, values.data());
    std::fflush(output.stream); // in the file, so that there is something to undo
    interrupt_this_process();
    // Past the stream's buffer again and again, for two seconds at most.
    for (int round = 0; round < 2000; ++round) {
      tqs_write_array(output, "more", count, TQS_TYPE_DOUBLE, values.data());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tqs_close_output(output);
  });
  return 0;
}
