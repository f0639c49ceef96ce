// The hook through which a harness that runs many inputs in one process takes over the end of
// a run: every ending path reaches it with its status, and a hook that returns changes nothing.
#include "cli/diagnostics.h"
#include "cli/help.h"
#include "convert/converter_options.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::run_in_child;

namespace {

struct RunEnded {
  int status;
};

void throw_run_ended(int status) {
  throw RunEnded{status};
}

void note_and_return(int status) {
  std::fprintf(stderr, "[hook %d]\n", status);
}

struct EndingPath {
  const char* name;
  std::function<void()> run;
  int status;
  std::string message; // what the path writes on standard error before it ends
};

const std::vector<EndingPath>& ending_paths() {
  static const std::vector<EndingPath> paths = {
      {"report_error",
       [] {
         input_file_name = "in.sf7";
         input_line_number = 3;
         report_error("Unsupported header\n");
       },
       1, "Error: in.sf7(3): Unsupported header\n"},
      {"report_fatal", [] { report_fatal("Not enough memory\n"); }, 1,
       "Error: Not enough memory\n"},
      {"library message",
       [] {
         program_name = "norvalex";
         report_message(library_messages, 1);
       },
       1, "norvalex: Error: Not enough memory\n"},
      {"short help",
       [] {
         program_name = "norvalex";
         print_help(converter_options, 0, print_stderr);
       },
       0, test_support::golden_text("norvalex-usage.txt")},
      {"long help",
       [] {
         program_name = "norvalex";
         print_help(converter_options, 1, [](const char*) {});
       },
       0, ""},
  };
  return paths;
}

TEST(ProcessEndHook, IsUnsetInTheProgram) {
  EXPECT_EQ(process_end_hook, nullptr);
}

TEST(ProcessEndHook, ThrowingHookLetsTheCallerGoOnAfterEveryEndingPath) {
  for (const EndingPath& path : ending_paths()) {
    auto result = run_in_child([&] {
      process_end_hook = throw_run_ended;
      try {
        path.run();
        std::fputs("returned\n", stdout);
      } catch (const RunEnded& ended) {
        std::fprintf(stdout, "ended %d\n", ended.status);
      }
      std::fflush(stdout);
    });
    EXPECT_EQ(result.exit_status, 0) << path.name;
    EXPECT_EQ(result.out, "ended " + std::to_string(path.status) + "\n") << path.name;
    EXPECT_EQ(result.err, path.message) << path.name;
  }
}

TEST(ProcessEndHook, ReturningHookLeavesTheExitAsItWas) {
#ifdef _WIN32
  GTEST_SKIP() << "the process ends after the hook; without fork that would be the test's own";
#endif
  for (const EndingPath& path : ending_paths()) {
    auto result = run_in_child([&] {
      process_end_hook = note_and_return;
      path.run();
      std::fputs("returned\n", stdout);
    });
    EXPECT_EQ(result.exit_status, path.status) << path.name;
    EXPECT_EQ(result.out, "") << path.name;
    EXPECT_EQ(result.err, path.message + ("[hook " + std::to_string(path.status) + "]\n"))
        << path.name;
  }
}

} // namespace
