// Helpers for the tests that run the built converter on what users' machines and files give it:
// the field maps they convert, the checks of how a run ended, the blocks of the TQS bytes it
// wrote, the state of the files it must leave as they were, and files made unwritable.
#pragma once

#include "support/test_support.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// The names line and the units line of sf7_map_text's maps.
inline const std::string kSf7Names = "  R  Z  Er  Ez  |E|  V\n";
inline const std::string kSf7Units = "  (cm)  (cm)  (V/cm)  (V/cm)  (V/cm)  (V)\n";

// A map of (counts + 1) grid points whose names line is line 6 and whose points start at line 8.
std::string sf7_map_text(const std::string& counts, int point_count,
                         const std::string& names = kSf7Names,
                         const std::string& units = kSf7Units);

// What a target held before a run that must leave it as it was, or that appends to it.
inline const std::string kOldBytes = "bytes of an earlier run\n";

// Runs the built converter with the arguments `args` and an empty standard input.
ProcessResult run_norvalex(std::vector<std::string> args, const RunOptions& options = {});

// The run ended by itself with status 1 and wrote exactly `expected`, one line, on standard
// error.
void expect_error_line(const ProcessResult& result, const std::string& expected,
                       const std::string& label);
// The run ended by itself with status 0 and wrote nothing on standard error.
void expect_success(const ProcessResult& result, const std::string& label);

// One block of TQS bytes: its name (up to its NUL), type word and data.
struct Block {
  std::string name;
  std::uint32_t type;
  std::string data;
};

// The blocks of `file` from `at` on; a file that does not split into whole blocks fails the test.
std::vector<Block> blocks_from(const std::string& file, std::size_t at);
// The blocks of a TQS file, after its 48-byte header.
std::vector<Block> blocks_of(const std::string& file);
std::vector<std::string> names_of(const std::vector<Block>& blocks);

// What a file holds and when it was last changed; a file that does not exist has no state.
struct FileState {
  bool exists = false;
  std::string bytes;
  std::filesystem::file_time_type changed{};

  bool operator==(const FileState& other) const = default;
};

FileState state_of(const std::string& path);

// Makes an existing file unwritable for this process, or a folder one that takes no new file.
// Permission bits do not stop root, so for root it gets the immutable attribute instead, which
// stops root as well. Whether it worked is checked by opening the file for appending (creating a
// file in the folder); where neither way works (a file system without the attribute, say) it
// stays writable and the test that needs it is skipped.
class UnwritableFile {
public:
  explicit UnwritableFile(const std::string& path);
  ~UnwritableFile();
  UnwritableFile(const UnwritableFile&) = delete;
  UnwritableFile& operator=(const UnwritableFile&) = delete;

  // The system's text for the failed open, or "" when the file could not be made unwritable.
  const std::string& error_text() const { return error_text_; }

private:
  std::string path_;
  bool immutable_ = false;
  std::string error_text_;
};

} // namespace test_support
