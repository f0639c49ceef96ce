// The libraries as another program embeds them: every failure arrives as a norvalex::Error with
// its text and fields, and readings in several threads at once do not meet.
#include "norvalex/sf7.h"
#include "norvalex/tqs.h"
#include "sf7/sf7_exact.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace norvalex;

using test_support::TempDir;
using test_support::write_file;

namespace {

const std::string kMapHead = "Poisson Superfish\nProgram SF7\nincrements: 3 2\n\n"
                             " R Z Er Ez E V\n (cm) (cm) (V/cm) (V/cm) (V/cm) (V)\n";

// An interruption check that lets `calls` questions pass and stops the call at the next one.
bool stop_after(void* context) {
  int& calls = *static_cast<int*>(context);
  return calls-- <= 0;
}

TEST(LibraryErrors, CarryTheProgramsTextAndTheirFields) {
  TempDir dir;
  const std::string sf7 = dir.file("map.sf7");
  write_file(sf7, test_support::kSmallRfMap);
  const std::string tqs = dir.file("map.tqs");
  const std::vector<double> column(3 << 20, 0.25); // 24 MiB: two pieces of a write
  {
    TqsOutput output;
    tqs_open_file(output, tqs.c_str(), false);
    tqs_write_header(output, {.creator = "TEST", .creator_version = {1, 0}});
    for (const char* name : {"a", "b", "c"})
      tqs_write_array(output, name, 3 << 20, TQS_TYPE_DOUBLE, column.data());
    tqs_close_output(output);
  }
  const std::string interrupted_output = dir.file("interrupted.tqs");
  const std::string missing = dir.file("missing.sf7");
  const std::string folder = dir.path().string();
  const std::string bad_unit = dir.file("bad-unit.sf7");
  write_file(bad_unit, "SF7\nincrements: 1\n\n R Z Er Ez E V\n (cm) (cm) (kV) (V) (V) (V)\n");
  const std::string junk = dir.file("junk.tqs");
  write_file(junk, std::string(60, 'j'));
  const std::string no_folder = dir.file("none/out.tqs");
  struct Case {
    const char* kind;
    std::function<void()> fail;
    norvalex::ErrorOrigin origin;
    std::string text;
    int message_number;
    std::string file_name;
    int line_number;
    int system_error;
  };
  using norvalex::ErrorOrigin;
  const std::vector<Case> cases = {
      {"open an input",
       [&] {
         FieldMap map;
         read_field_map_file(missing.c_str(), map);
       },
       ErrorOrigin::input_file, missing + ": No such file or directory", -1, missing, -1, ENOENT},
      {"read an input",
       [&] {
         FieldMap map;
         read_field_map_file(folder.c_str(), map);
       },
       ErrorOrigin::input_file, folder + ": Is a directory", -1, folder, -1, EISDIR},
      {"a defect at a line",
       [&] {
         FieldMap map;
         read_field_map_file(bad_unit.c_str(), map);
       },
       ErrorOrigin::input_line, bad_unit + "(5): Unknown unit: (kV) for column Er", -1, bad_unit, 5,
       0},
      {"open an output",
       [&] {
         TqsOutput output;
         tqs_open_file(output, no_folder.c_str(), false);
       },
       ErrorOrigin::message, "\"" + no_folder + "\": No such file or directory", 0, no_folder, -1,
       ENOENT},
#ifndef _WIN32 // no /dev/full on Windows
      {"write an output",
       [&] {
         TqsOutput output;
         tqs_open_file(output, "/dev/full", false);
         tqs_write_header(output, {.creator = "TEST", .creator_version = {1, 0}});
         tqs_close_output(output);
       },
       ErrorOrigin::message, "\"/dev/full\": No space left on device", 0, "/dev/full", -1, ENOSPC},
      {"write after a failed write",
       [&] {
         TqsOutput output;
         tqs_open_file(output, "/dev/full", false);
         const std::vector<double> values(1 << 18, 1.0);
         try {
           tqs_write_array(output, "x", 1 << 18, TQS_TYPE_DOUBLE, values.data());
         } catch (const norvalex::Error&) {
         }
         tqs_write_string(output, "s", 0, "a block that must not follow a record cut short");
       },
       ErrorOrigin::message, "\"/dev/full\": Bad file descriptor", 0, "/dev/full", -1, EBADF},
#endif
      {"read back a file that is none", [&] { tqs_load_tree(junk.c_str()); }, ErrorOrigin::message,
       "\"" + junk + "\": Not a TQ-File", 3, junk, -1, 0},
      // A call that the thread's interruption check stops, at its first question or later.
      {"interrupt a reading",
       [&] {
         int calls = 0;
         const InterruptionScope scope(stop_after, &calls);
         FieldMap map;
         read_field_map_file(sf7.c_str(), map);
       },
       ErrorOrigin::interrupted, "Interrupted", -1, "", -1, EINTR},
      {"interrupt a load at its second block",
       [&] {
         int calls = 1;
         const InterruptionScope scope(stop_after, &calls);
         tqs_load_tree(tqs.c_str());
       },
       ErrorOrigin::interrupted, "Interrupted", -1, "", -1, EINTR},
      {"interrupt the statistics of a block inside its data",
       [&] {
         const TqsTree tree = tqs_load_tree(tqs.c_str());
         int calls = 3;
         const InterruptionScope scope(stop_after, &calls);
         tqs_all_stats(tree.get(), "b");
       },
       ErrorOrigin::interrupted, "Interrupted", -1, "", -1, EINTR},
      {"interrupt a write inside a block",
       [&] {
         TqsOutput output;
         tqs_open_file(output, interrupted_output.c_str(), false);
         tqs_write_header(output, {.creator = "TEST", .creator_version = {1, 0}});
         int calls = 1; // the block's start, then between its two pieces
         const InterruptionScope scope(stop_after, &calls);
         tqs_write_array(output, "x", 3 << 20, TQS_TYPE_DOUBLE, column.data());
         tqs_write_array(output, "y", 3 << 20, TQS_TYPE_DOUBLE, column.data());
       },
       ErrorOrigin::interrupted, "Interrupted", -1, "", -1, EINTR},
  };
  for (const Case& c : cases) {
    try {
      c.fail();
      ADD_FAILURE() << c.kind << ": nothing thrown";
    } catch (const norvalex::Error& error) {
      EXPECT_EQ(error.origin(), c.origin) << c.kind;
      EXPECT_EQ(error.what(), c.text) << c.kind;
      EXPECT_EQ(error.message_number(), c.message_number) << c.kind;
      EXPECT_EQ(error.file_name(), c.file_name) << c.kind;
      EXPECT_EQ(error.line_number(), c.line_number) << c.kind;
      EXPECT_EQ(error.system_error(), c.system_error) << c.kind;
    }
  } // The interrupted write is undone; with no check set, nothing is ever interrupted.
  EXPECT_EQ(test_support::entries_of(dir.path()).count("interrupted.tqs"), 0U);
  EXPECT_EQ(test_support::entries_of(dir.path()).size(), 4U); // map.sf7, map.tqs, junk.tqs, ...
  const TqsTree tree = tqs_load_tree(tqs.c_str());
  EXPECT_EQ(tqs_all_stats(tree.get(), "c").count, static_cast<double>(3 << 20));
}

TEST(LibraryErrors, DetailIsTheTextAfterTheLocation) {
  try {
    Sf7Reading reading{"dir(1)/in.sf7", 41, {}};
    std::FILE* empty = test_support::open_bytes("");
    FieldMap map;
    read_field_map(empty, reading, map);
  } catch (const norvalex::Error& error) {
    EXPECT_STREQ(error.what(), "dir(1)/in.sf7(41): Unexpected end of file");
    EXPECT_EQ(error.detail(), "Unexpected end of file");
  }
}

// A map of 4 x 3 points whose numbers depend on `seed`.
std::string seeded_map(int seed) {
  std::string text = kMapHead;
  for (int n = 0; n < 12; ++n) {
    char line[128];
    const int base = seed * 1000 + n * 10;
    std::snprintf(line, sizeof line, " %d.125E-1 %d.5 %d %d.25 %d.75E+2 %d\n", base, base + 1,
                  base + 2, base + 3, base + 4, base + 5);
    text += line;
  }
  return text;
}

std::vector<double> all_values(const FieldMap& map) {
  std::vector<double> values;
  for (const FieldColumn& column : map.columns)
    values.insert(values.end(), column.data.get(), column.data.get() + 12);
  return values;
}

TEST(Concurrency, ReadingsInTwoThreadsGiveWhatEachGivesAlone) {
  TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::vector<double>> alone;
  for (int seed = 0; seed < 2; ++seed) {
    paths.push_back(dir.file(seed == 0 ? "map0.sf7" : "map1.sf7"));
    write_file(paths.back(), seeded_map(seed));
    FieldMap map;
    read_field_map_file(paths.back().c_str(), map, {}, {seed == 1, 4096});
    alone.push_back(all_values(map));
  }
  ASSERT_NE(alone[0], alone[1]);
  std::vector<std::vector<double>> together(2);
  std::vector<std::string> errors(2);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        FieldMap map;
        read_field_map_file(paths[t].c_str(), map, {}, {t == 1, 4096});
        together[t] = all_values(map);
        // A failing reading in the other thread must not show its line count here.
        errors[t] = test_support::thrown_text([&] {
          Sf7Reading reading{paths[t].c_str(), 0, {}};
          std::FILE* empty = test_support::open_bytes("");
          read_field_map(empty, reading, map, {t == 0, 4096});
        });
        if (together[t] != alone[t] || errors[t] != paths[t] + "(0): Unexpected end of file")
          return;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(together, alone);
  EXPECT_EQ(errors[0], paths[0] + "(0): Unexpected end of file");
  EXPECT_EQ(errors[1], paths[1] + "(0): Unexpected end of file");
}

std::string block_name(int block) {
  std::string name = std::to_string(block);
  return name.insert(0, 1, 'b');
}

TEST(Concurrency, LoadsInTwoThreadsGiveWhatEachGivesAlone) {
  TempDir dir;
  std::vector<std::string> paths;
  for (int t = 0; t < 2; ++t) {
    paths.push_back(dir.file(t == 0 ? "t0.tqs" : "t1.tqs"));
    TqsOutput output;
    tqs_open_file(output, paths.back().c_str(), false);
    tqs_write_header(output, {.creator = "TEST", .creator_version = {1, 0}});
    // Blocks close together, so that loads read their way through the short gaps.
    for (int block = 0; block < 40; ++block) {
      const std::vector<double> values(100, t * 100.0 + block);
      tqs_write_array(output, block_name(block).c_str(), 100, TQS_TYPE_DOUBLE, values.data());
    }
    tqs_close_output(output);
  }
  std::vector<double> sums(2);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        TqsTree tree = tqs_load_tree(paths[t].c_str());
        double total = 0;
        for (int block = 0; block < 40; block += 2) {
          double sum = 0;
          stat_sum(tree.get(), block_name(block).c_str(), &sum, 0);
          total += sum;
        }
        sums[t] = total;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  // Blocks 0, 2, ..., 38 of 100 values each.
  EXPECT_EQ(sums[0], 100.0 * (0 + 38) * 20 / 2);
  EXPECT_EQ(sums[1], 100.0 * (100 * 20 + (0 + 38) * 20 / 2));
}

} // namespace
