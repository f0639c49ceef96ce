// Error lines, the library message table and its handlers, as a user's script sees them.
#include "cli/diagnostics.h"
#include "diag/raise.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

using namespace norvalex;

using test_support::run_in_child;

namespace {

TEST(ConverterErrors, CarryInputLocationAndExitWithStatus1) {
  struct Case {
    int line;
    const char* expected;
  };
  for (const Case& c : {Case{0, "Error: maps/in.sf7(0): Unexpected end of file\n"},
                        Case{42, "Error: maps/in.sf7(42): Unexpected end of file\n"}}) {
    auto result = run_in_child([&] {
      input_file_name = "maps/in.sf7";
      input_line_number = c.line;
      report_error("Unexpected end of file\n");
    });
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, c.expected);
    EXPECT_EQ(result.out, "");
  }
}

TEST(ConverterErrors, FatalErrorHasNoLocation) {
  auto result = run_in_child([] {
    input_line_number = 7;
    report_fatal("%s: %s\n", "missing.sf7", "No such file or directory");
  });
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "Error: missing.sf7: No such file or directory\n");
}

TEST(LibraryMessages, FatalHandlerPrintsProgramNameAndExits) {
  struct Case {
    std::function<void()> raise;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {[] { report_message(library_messages, 9, "a", "b"); },
       "norvalex: Error: Output cannot be written to \"a\" and appended to \"b\" at the same "
       "time\n"},
      {[] { report_message(library_messages, 10); },
       "norvalex: Error: TQS output can not be read from or written to a terminal\n"},
      {[] { report_message(library_messages, 0, "out.tqs", "No space left on device"); },
       "norvalex: Error: \"out.tqs\": No space left on device\n"},
      // A "%" in an argument is printed as it stands.
      {[] { report_message(library_messages, 2, "100%s.tqs"); },
       "norvalex: Error: \"100%s.tqs\": Unexpected end of file\n"},
      {[] { report_message(library_messages, 6, "-"); },
       "norvalex: Error: Writing unknown data type to \"-\"\n"},
      // A file name's control bytes are escaped; the line stays one line.
      {[] { report_message(library_messages, 0, "out\n\x7F.tqs", "No space left on device"); },
       "norvalex: Error: \"out\\x0A\\x7F.tqs\": No space left on device\n"},
      // Memory that runs out anywhere is the program's memory line, naming the file in work.
      {[] {
         const WorkingOn working_on("big\x1B.tqs");
         throw std::bad_alloc();
       },
       "norvalex: Error: \"big\\x1B.tqs\": Not enough memory\n"},
      {[] { throw std::bad_alloc(); }, "norvalex: Error: Not enough memory\n"},
      // The libraries' own memory errors name it too, in a program that asks for it.
      {[] {
         memory_errors_name_the_file = true;
         const WorkingOn working_on("big.tqs");
         raise_message(Message::not_enough_memory);
       },
       "norvalex: Error: \"big.tqs\": Not enough memory\n"},
  };
  for (const Case& c : cases) {
    auto result = run_in_child([&] {
      program_name = "norvalex";
      c.raise();
      std::fputs("report_message returned\n", stderr);
    });
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, c.expected);
  }
  memory_errors_name_the_file = false; // a body that ran in this process (Windows) set it
}

TEST(LibraryMessages, TableKeepsEveryRowInItsNumberedPlace) {
  // Numbers are part of the library's interface: rows never raised here still hold their place.
  const std::vector<std::string> expected = {
      "\"%s\": %s",
      "Not enough memory",
      "\"%s\": Unexpected end of file",
      "\"%s\": Not a TQ-File",
      "\"%s\": Invalid TQS-version",
      "Invalid memory representation of datafile",
      "Writing unknown data type to \"%s\"",
      "Writing unknown data type to memory",
      "Invalid number of command line options",
      "Output cannot be written to \"%s\" and appended to \"%s\" at the same time",
      "TQS output can not be read from or written to a terminal",
  };
  ASSERT_EQ(library_messages.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(library_messages[i].format, expected[i]) << "message " << i;
    EXPECT_EQ(library_messages[i].handler_slot, &fatal_handler_slot) << "message " << i;
  }
}

TEST(LibraryMessages, OverlongTextIsCutAt511Characters) {
  const std::string name(600, 'n');
  auto result = run_in_child([&] {
    program_name = "norvalex";
    report_message(library_messages, 0, name.c_str(), "Permission denied");
  });
  EXPECT_EQ(result.exit_status, 1);
  const std::string text = ("\"" + name + "\": Permission denied").substr(0, 511);
  EXPECT_EQ(result.err, "norvalex: Error: " + text + "\n");
}

TEST(LibraryMessages, BufferedStandardOutputLeavesAheadOfTheMessage) {
  auto result = run_in_child([] {
    program_name = "norvalex";
    dup2(1, 2); // both streams into one file, as "2>&1" does
    std::fputs("TQS-DATA", stdout);
    report_message(library_messages, 1);
  });
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "TQS-DATA"
                        "norvalex: Error: Not enough memory\n");
}

std::vector<std::string> recorded_messages;

int recording_handler(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  recorded_messages.emplace_back(text);
  return 0;
}

TEST(LibraryMessages, ReplacedHandlerTakesEveryRowAndLetsTheCallerGoOn) {
  recorded_messages.clear();
  MessageHandler saved = fatal_handler_slot;
  fatal_handler_slot = recording_handler;
  for (int number = 0; number < 11; ++number) {
    report_message(library_messages, number, "f", "g");
  }
  fatal_handler_slot = saved;
  ASSERT_EQ(recorded_messages.size(), 11U);
  EXPECT_EQ(recorded_messages[0], "\"f\": g");
  EXPECT_EQ(recorded_messages[9], "Output cannot be written to \"f\" and appended to \"g\" at "
                                  "the same time");
}

TEST(LibraryMessages, WarningHandlerReturns) {
  auto result = run_in_child([] {
    program_name = "tool";
    warning_message_handler("%s", "disk 90% full");
    std::fputs("still running\n", stderr);
  });
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "tool: Warning: disk 90% full\nstill running\n");
}

} // namespace
