// The structure check of TQS files, as the library gives it: the first defect of a file and the
// byte offset where it lies, for every kind of defect; files of every sound start; and files it
// cannot read, refused as the loader refuses them. A file without defects is always one that the
// loader accepts.
#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace norvalex;

using namespace std::string_literals;
using test_support::about;
using test_support::block_bytes;
using test_support::creator_block;
using test_support::doubles_block;
using test_support::file_header_bytes;
using test_support::kNullDevice;
using test_support::TempDir;
using test_support::thrown_text;
using test_support::write_file;

namespace {

// A file header of version 1.1 whose two names are NUL-terminated.
const std::string kHeader = file_header_bytes({.creator = "HANDMADE"});
// An array of two doubles: 40 bytes, its data from byte 24 of the block on.
const std::string kDoubles = doubles_block("x", {1, 2});

struct CheckCase {
  const char* what;
  std::string bytes;
  std::int64_t offset; // of the first defect, -1 for a sound file
  std::string defect;  // "" for a sound file
};

// Sound files, then one row per kind of defect.
std::vector<CheckCase> check_cases() {
  return {
      {"a header alone", kHeader, -1, ""},
      {"a header and an array", kHeader + kDoubles, -1, ""},
      {"an appended series in a new file", creator_block("NORVALEX") + kDoubles, -1, ""},
      {"a string, an empty array, 1-byte and 0-byte elements",
       kHeader + block_bytes("s", 0x401, "ab\0"s) + block_bytes("none", 0x803, "") +
           block_bytes("odd", 0x820, "abc") + block_bytes("e", 0x810, ""),
       -1, ""},
      {"a header and two series",
       kHeader + kDoubles + creator_block("OTHER") + kDoubles + creator_block("") + kDoubles, -1,
       ""},
      {"an empty file", "", 0, "no file header and no leading \"creator\" block"},
      {"shorter than a header", kHeader.substr(0, 47), 0,
       "no file header and no leading \"creator\" block"},
      {"a wrong magic", "\x75\x4C\x9F\x06" + kHeader.substr(4) + kDoubles, 0,
       "no file header and no leading \"creator\" block"},
      {"an array first", kDoubles + kDoubles, 0, "no file header and no leading \"creator\" block"},
      {"a creator block of another type first", block_bytes("creator", 0x402, "NORVALEX\0"s), 0,
       "no file header and no leading \"creator\" block"},
      {"a creator name without its NUL",
       file_header_bytes({.creator = "sixteen-letters!"}) + kDoubles, 8,
       "creator name without its NUL"},
      {"a second name without its NUL",
       file_header_bytes({.creator = "HANDMADE", .second_name = "sixteen-letters!"}), 24,
       "second name without its NUL"},
      {"version 1.2", file_header_bytes({.creator = "HANDMADE", .format_version = {1, 2}}), 40,
       "format version 1.2, not 1.1"},
      {"version 2.1 and a damaged block after it",
       file_header_bytes({.creator = "HANDMADE", .format_version = {2, 1}}) + kDoubles.substr(0, 5),
       40, "format version 2.1, not 1.1"},
      {"the end inside a block header", kHeader + kDoubles.substr(0, 10), 48,
       "block header cut short: 10 of 24 bytes"},
      {"the end inside the header of a later block", kHeader + kDoubles + kDoubles.substr(0, 5), 88,
       "block header cut short: 5 of 24 bytes"},
      {"a block name without its NUL", kHeader + block_bytes("sixteen-letters!", 0x803, ""), 48,
       "block name without its NUL"},
      {"an element type without a size", kHeader + block_bytes("q", 0x807, "abc"), 64,
       "unknown element type 0x07 in type word 0x807"},
      {"a group block", kHeader + block_bytes("grp", TQS_FLAG_GROUP, ""), 64,
       "unknown element type 0x00 in type word 0x100"},
      {"a size word beyond the end", kHeader + block_bytes("x", 0x803, "", 100), 68,
       "data cut short: size 100, 0 bytes left"},
      {"a size that is no whole number of elements", kHeader + block_bytes("x", 0x803, "abcd"), 68,
       "size 4 is no whole number of 8-byte elements"},
      {"data for elements without data bytes", kHeader + block_bytes("e", 0x810, "abcdefgh"), 68,
       "size 8 is no whole number of 0-byte elements"},
      {"a string of size 0", kHeader + block_bytes("s", 0x401, ""), 68,
       "string of size 0, without its NUL"},
      {"a string without its closing NUL", kHeader + block_bytes("s", 0x401, "ab"), 73,
       "string without its closing NUL"},
      {"an appended series whose creator lacks its NUL",
       block_bytes("creator", 0x401, "NORVALEX") + kDoubles, 31, "string without its closing NUL"},
  };
}

TEST(StructureCheck, FindsTheFirstDefectAndItsOffset) {
  TempDir dir;
  const std::string path = dir.file("checked.tqs");
  for (const CheckCase& c : check_cases()) {
    write_file(path, c.bytes);
    const TqsCheck check = tqs_check_file(path.c_str());
    EXPECT_EQ(check.sound, c.offset < 0 ? 1 : 0) << c.what;
    EXPECT_EQ(check.offset, c.offset) << c.what;
    EXPECT_EQ(check.defect, c.defect) << c.what;
  }
}

TEST(StructureCheck, ASoundFileIsOneTheLoaderAccepts) {
  TempDir dir;
  const std::string path = dir.file("checked.tqs");
  for (const CheckCase& c : check_cases()) {
    write_file(path, c.bytes);
    const std::string refusal = thrown_text([&] { tqs_free_tree(tqs_read_tree(path.c_str())); });
    if (tqs_check_file(path.c_str()).sound) {
      EXPECT_EQ(refusal, "") << c.what;
    }
  }
}

TEST(StructureCheck, FilesTheWriterWritesAreSound) {
  TempDir dir;
  const std::string path = dir.file("written.tqs");
  const double values[] = {0.5, -1.5, 2.25};
  for (const bool append : {false, true, true}) {
    TqsOutput output;
    tqs_open_file(output, path.c_str(), append);
    tqs_write_header(output, {.creator = "CHECKED", .creator_version = {1, 0}});
    tqs_write_array(output, "values", 3, TQS_TYPE_DOUBLE, values);
    tqs_write_string(output, "note", 0, "written here");
    tqs_write_array(output, "none", 0, TQS_TYPE_DOUBLE, nullptr);
    tqs_close_output(output);
    const TqsCheck check = tqs_check_file(path.c_str());
    EXPECT_EQ(check.sound, 1) << (append ? "appended" : "written");
    EXPECT_EQ(check.offset, -1);
    EXPECT_EQ(check.defect, "");
  }
}

TEST(StructureCheck, RefusesWhatItCannotReadAsTheLoaderDoes) {
  TempDir dir;
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {dir.file("missing.tqs"), about(dir.file("missing.tqs")) + "No such file or directory"},
      {dir.path().string(), about(dir.path().string()) + "Is a directory"},
      {kNullDevice, about(kNullDevice) + "Illegal seek"},
      // Refused at once, not waited on for a writer that never comes.
      {dir.file("fifo"), about(dir.file("fifo")) + "Illegal seek"},
  };
  const bool fifo = test_support::make_fifo(dir.file("fifo"));
  for (const Case& c : cases) {
    if (c.path == dir.file("fifo") && !fifo)
      continue; // no FIFOs on Windows
    // In a child with a time limit, so that a call that waits fails instead of hanging the test.
    const auto thrown = [&](const std::function<void()>& call) {
      return test_support::run_in_child([&] { std::fputs(thrown_text(call).c_str(), stdout); },
                                        {.time_limit = 20})
          .out;
    };
    EXPECT_EQ(thrown([&] { tqs_check_file(c.path.c_str()); }), c.expected) << c.path;
    EXPECT_EQ(thrown([&] { tqs_free_tree(tqs_read_tree(c.path.c_str())); }), c.expected) << c.path;
  }
}

} // namespace
