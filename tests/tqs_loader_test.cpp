// Reading TQS files into trees: files that norvalex writes (normal and appended) give back every
// statistic of every column, the tree has one child per block with its offsets and nothing
// loaded, and damaged files are refused with one numbered message instead of being read past
// their end, with nothing left open.
#include "norvalex/tqs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace norvalex;

using namespace std::string_literals;
using test_support::block_bytes;
using test_support::doubles_bytes;
using test_support::kNullDevice;
using test_support::le32;
using test_support::run_in_child;
using test_support::run_program;
using test_support::TempDir;
using test_support::write_file;

namespace {

// ---------------------------------------------------------------------------------------------
// A field map and what norvalex makes of it

struct Column {
  const char* sf7_name;
  const char* unit;
  const char* tqs_name;
  double factor;
};

// The fifth name is "|E|" in code page 437, which the converter renames.
const Column kColumns[6] = {
    {"R", "(cm)", "R", 0.01},
    {"Z", "(cm)", "Z", 0.01},
    {"Er", "(V/cm)", "Er", 100},
    {"Ez", "(V/cm)", "Ez", 100},
    {"\xB3"
     "E\xB3",
     "(V/cm)", "|E|", 100},
    {"V", "(V)", "V", 1},
};
constexpr int kPoints = 3 * 4; // increments 2 and 3

// The number of column `c` at point `k` as the map writes it: mixed signs, magnitudes and forms.
std::string number_text(int k, int c) {
  char text[64];
  const double value = (k + 1) * (c + 2) * 0.37 * (k % 3 == 1 ? -1 : 1) + c;
  if (c % 2 == 0) {
    std::snprintf(text, sizeof text, "%.6g", value);
  } else {
    std::snprintf(text, sizeof text, "%.5E", value);
  }
  return text;
}

std::string field_map_text() {
  std::string text = "Test map for the loader\nProgram SF7 fixture\nR and Z increments: 2 3\n\n";
  for (const Column& column : kColumns)
    text += "  "s + column.sf7_name;
  text += "\n";
  for (const Column& column : kColumns)
    text += "  "s + column.unit;
  text += "\n";
  for (int k = 0; k < kPoints; ++k) {
    for (int c = 0; c < 6; ++c)
      text += "  " + number_text(k, c);
    text += "\n";
  }
  return text;
}

// The values of column `c` as stored: each number times the column's factor.
std::vector<double> column_values(int c) {
  std::vector<double> values;
  for (int k = 0; k < kPoints; ++k)
    values.push_back(kColumns[c].factor * std::strtod(number_text(k, c).c_str(), nullptr));
  return values;
}

// Converts the fixture map with norvalex; `mode` is "-o" or "-a".
void convert(const TempDir& dir, const std::string& mode, const std::string& out) {
  const std::string in = dir.file("map.sf7");
  write_file(in, field_map_text());
  const auto result = run_program({NORVALEX_BINARY, mode, out, in});
  ASSERT_EQ(result.exit_status, 0) << result.err;
}

std::vector<TqsNode*> children(TqsNode* node) {
  std::vector<TqsNode*> list;
  for (TqsNode* child = node->first_child; child; child = child->next)
    list.push_back(child);
  return list;
}

double stat(const char* stat_name, TqsNode* node, const char* name, int whole_tree) {
  const StatEntry* entry = tqs_find_stat(stat_name);
  double out = -12345.5;
  EXPECT_EQ(entry->function(node, name, &out, whole_tree), 1)
      << stat_name << " of " << name << (whole_tree ? " in the whole tree" : "");
  return out;
}

// Checks every statistic of the array `name` against values computed here from the numbers.
void expect_column_stats(TqsNode* node, const char* name, int whole_tree,
                         const std::vector<double>& values) {
  double min = values[0];
  double max = values[0];
  double sum = 0;
  for (double x : values) {
    min = std::min(min, x);
    max = std::max(max, x);
    sum += x;
  }
  const double n = static_cast<double>(values.size());
  double squared_deviations = 0;
  for (double x : values)
    squared_deviations += (x - sum / n) * (x - sum / n);
  const double deviation = std::sqrt(squared_deviations / n); // population, two passes
  const std::string what = std::string(name) + (whole_tree ? " (whole tree)" : "");
  EXPECT_EQ(stat("Min", node, name, whole_tree), min) << what;
  EXPECT_EQ(stat("Max", node, name, whole_tree), max) << what;
  EXPECT_EQ(stat("Max-Min", node, name, whole_tree), max - min) << what;
  EXPECT_EQ(stat("Sum", node, name, whole_tree), sum) << what;
  EXPECT_EQ(stat("Avg", node, name, whole_tree), sum / n) << what;
  EXPECT_EQ(stat("N", node, name, whole_tree), n) << what;
  // The one-pass formula rounds differently from the two passes, but only in the last digits.
  EXPECT_NEAR(stat("Std", node, name, whole_tree), deviation, deviation * 1e-12) << what;
}

// ---------------------------------------------------------------------------------------------
// Building TQS bytes by hand

std::string header_bytes(std::uint8_t version0 = 1, std::uint8_t version1 = 1) {
  return test_support::file_header_bytes(
      {.creator = "HANDMADE", .format_version = {version0, version1}});
}

const std::string kCreatorBlock = test_support::creator_block("NORVALEX");

// ---------------------------------------------------------------------------------------------
// Files that norvalex writes

TEST(RoundTrip, EveryStatisticOfEveryColumnComesBack) {
  TempDir dir;
  const std::string out = dir.file("map.tqs");
  convert(dir, "-o", out);
  TqsNode* root = tqs_read_tree(out.c_str());
  ASSERT_NE(root, nullptr);
  const std::vector<TqsNode*> blocks = children(root);
  ASSERT_EQ(blocks.size(), 6U);
  for (int c = 0; c < 6; ++c) {
    EXPECT_STREQ(blocks[static_cast<std::size_t>(c)]->name, kColumns[c].tqs_name);
    expect_column_stats(root, kColumns[c].tqs_name, 0, column_values(c));
    // The root is a group node: the whole tree holds just these arrays, from wherever asked.
    expect_column_stats(root, kColumns[c].tqs_name, 1, column_values(c));
    expect_column_stats(blocks[5], kColumns[c].tqs_name, 1, column_values(c));
  }
  tqs_free_tree(root);
}

void expect_same_stats(const ArrayStats& actual, const ArrayStats& expected, const char* what) {
  EXPECT_EQ(actual.name, expected.name) << what;
  EXPECT_EQ(actual.count, expected.count) << what;
  if (expected.count == 0)
    return;
  for (auto field : {&ArrayStats::min, &ArrayStats::max, &ArrayStats::sum, &ArrayStats::sum_sq,
                     &ArrayStats::avg, &ArrayStats::std}) {
    EXPECT_EQ(test_support::bits_of(actual.*field), test_support::bits_of(expected.*field)) << what;
  }
}

// The statistics of every node: read from its file one by one and two at a time side by side,
// and from memory once loaded, all with the same bits.
TEST(NodeStats, FromTheFileAndFromMemoryAloneAndInPairsGiveTheSameBits) {
  TempDir dir;
  const std::string twice = dir.file("twice.tqs"); // every column name twice, 9-byte creators
  convert(dir, "-a", twice);
  convert(dir, "-a", twice);
  // 40000 doubles are several pieces of a read; the 5 bytes after them are no element. Beside
  // them, arrays shorter and longer, and one of no elements.
  std::vector<double> many;
  for (int k = 0; k < 40000; ++k)
    many.push_back(std::sin(k * 0.001) * 1e6 + k);
  const std::vector<double> fewer(many.begin(), many.begin() + 20001);
  const std::string big = dir.file("big.tqs");
  write_file(big, header_bytes() + block_bytes("big", 0x803, doubles_bytes(many) + "\1\2\3\4\5"s) +
                      block_bytes("fewer", 0x803, doubles_bytes(fewer)) +
                      block_bytes("none", 0x803, "") +
                      block_bytes("big2", 0x803, doubles_bytes(many)));

  for (const std::string* path : {&twice, &big}) {
    TqsTree one_by_one = tqs_load_tree(path->c_str());
    TqsTree in_pairs = tqs_load_tree(path->c_str());
    const std::vector<TqsNode*> nodes = children(one_by_one.get());
    const std::vector<TqsNode*> pair_nodes = children(in_pairs.get());
    std::vector<ArrayStats> paired(pair_nodes.size());
    tqs_nodes_stats(paired.data(), pair_nodes.data(), pair_nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      ArrayStats streamed;
      ArrayStats loaded;
      const int found = tqs_node_stats(&streamed, nodes[k]);
      EXPECT_EQ(found, streamed.count > 0 ? 1 : 0);
      EXPECT_EQ(nodes[k]->data, nullptr) << nodes[k]->name; // read in pieces, not loaded
      EXPECT_EQ(pair_nodes[k]->data, nullptr) << nodes[k]->name;
      tqs_load_data(nodes[k]);
      tqs_node_stats(&loaded, nodes[k]);
      expect_same_stats(streamed, loaded, nodes[k]->name);
      paired[k].name = loaded.name = streamed.name; // the names of different trees' nodes
      expect_same_stats(paired[k], loaded, nodes[k]->name);
    }
    // Loaded and unloaded nodes side by side.
    std::vector<ArrayStats> mixed(nodes.size());
    std::vector<TqsNode*> mixed_nodes = nodes;
    for (std::size_t k = 1; k < mixed_nodes.size(); k += 2)
      mixed_nodes[k] = pair_nodes[k];
    tqs_nodes_stats(mixed.data(), mixed_nodes.data(), mixed_nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      mixed[k].name = paired[k].name;
      expect_same_stats(mixed[k], paired[k], nodes[k]->name);
    }
  }
  TqsTree tree = tqs_load_tree(big.c_str());
  ArrayStats stats;
  ASSERT_EQ(tqs_node_stats(&stats, tree->first_child), 1);
  EXPECT_EQ(stats.count, 40000);
  EXPECT_EQ(stats.sum, stat("Sum", tree.get(), "big", 0));

  // A file cut short after its tree was read: the read fails as a load does.
  TqsTree cut = tqs_load_tree(big.c_str());
  std::filesystem::resize_file(big, 300000);
  EXPECT_EQ(test_support::thrown_text([&] { tqs_node_stats(&stats, cut->first_child); }),
            "\"" + big + "\": Unexpected end of file");
  EXPECT_EQ(cut->first_child->data, nullptr);
}

TEST(RoundTrip, TheTreeHoldsEveryBlockHeaderAndNoData) {
  TempDir dir;
  const std::string out = dir.file("map.tqs");
  convert(dir, "-o", out);
  TqsNode* root = tqs_read_tree(out.c_str());
  ASSERT_NE(root, nullptr);
  const TqsInput* input = tqs_tree_input(root);
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(input->file.name, out.c_str()); // borrowed
  EXPECT_EQ(input->length, 48 + 6 * (24 + 8 * kPoints));
  EXPECT_EQ(input->has_header, 1);
  EXPECT_STREQ(input->header.creator, "NORVALEX");
  EXPECT_EQ(root->type, TQS_FLAG_GROUP);
  EXPECT_EQ(root->stored_size, 0U);
  EXPECT_STREQ(root->name, "");
  EXPECT_EQ(root->parent, nullptr);
  EXPECT_EQ(root->data_offset, 48);
  EXPECT_EQ(root->owner, TQS_OWNER_LOADER);
  std::int64_t offset = 48;
  for (TqsNode* block : children(root)) {
    EXPECT_EQ(block->owner, TQS_OWNER_LOADER);
    EXPECT_EQ(block->parent, root);
    EXPECT_EQ(block->first_child, nullptr);
    EXPECT_EQ(block->type, 0x803U);
    EXPECT_EQ(block->stored_type, 0x803U);
    EXPECT_EQ(block->size, 8U * kPoints);
    EXPECT_EQ(block->stored_size, 8U * kPoints);
    EXPECT_EQ(block->data_offset, offset + 24);
    EXPECT_EQ(block->file, &input->file);
    EXPECT_EQ(block->data, nullptr);
    offset += 24 + 8 * kPoints;
  }
  // A statistic loads the one array it needs.
  stat("Sum", root, "Ez", 0);
  for (TqsNode* block : children(root))
    EXPECT_EQ(block->data != nullptr, std::strcmp(block->name, "Ez") == 0) << block->name;
  tqs_free_tree(root);
}

TEST(RoundTrip, AppendedRunsLoadAsFurtherChildrenWithTheirCreatorBlocks) {
  TempDir dir;
  const std::string twice = dir.file("twice.tqs"); // two appends to a new file
  convert(dir, "-a", twice);
  convert(dir, "-a", twice);
  const std::string after = dir.file("after.tqs"); // a normal file, then an append
  convert(dir, "-o", after);
  convert(dir, "-a", after);
  const std::vector<std::string> run = {"R", "Z", "Er", "Ez", "|E|", "V"};
  struct Case {
    const std::string* path;
    int has_header;
    std::vector<std::string> names;
  };
  std::vector<std::string> twice_names = {"creator"};
  twice_names.insert(twice_names.end(), run.begin(), run.end());
  twice_names.push_back("creator");
  twice_names.insert(twice_names.end(), run.begin(), run.end());
  std::vector<std::string> after_names = run;
  after_names.push_back("creator");
  after_names.insert(after_names.end(), run.begin(), run.end());
  const Case cases[] = {{&twice, 0, twice_names}, {&after, 1, after_names}};

  for (const Case& c : cases) {
    TqsNode* root = tqs_read_tree(c.path->c_str());
    ASSERT_NE(root, nullptr) << *c.path;
    EXPECT_EQ(tqs_tree_input(root)->has_header, c.has_header);
    EXPECT_EQ(root->data_offset, c.has_header ? 48 : 0);
    std::vector<std::string> names;
    std::int64_t offset = root->data_offset;
    for (TqsNode* block : children(root)) {
      names.emplace_back(block->name);
      EXPECT_EQ(block->data_offset, offset + 24) << block->name;
      offset = block->data_offset + block->stored_size;
      if (names.back() == "creator") {
        // 33 bytes: the next header starts at an odd offset.
        EXPECT_EQ(block->stored_type, 0x401U);
        tqs_load_data(block);
        ASSERT_NE(block->data, nullptr);
        EXPECT_EQ(std::string(static_cast<char*>(block->data), block->size), "NORVALEX\0"s);
      }
    }
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(offset, tqs_tree_input(root)->length);
    // Every name of a run now stands twice under the root: no statistic finds its array.
    std::vector<const char*> repeated = {"R", "|E|"};
    if (!c.has_header)
      repeated.push_back("creator");
    for (const char* name : repeated) {
      double out = 0;
      EXPECT_EQ(tqs_find_child(root, name), nullptr) << name;
      EXPECT_EQ(stat_count(root, name, &out, 0), 0) << name;
      EXPECT_EQ(stat_count(root, name, &out, 1), 0) << name;
    }
    tqs_free_tree(root);
  }
}

// ---------------------------------------------------------------------------------------------
// Files made here

TEST(ReadTree, TakesBlocksOfEveryKindAndSize) {
  TempDir dir;
  const std::string path = dir.file("mixed.tqs");
  write_file(path, header_bytes() + block_bytes("empty", 0x803, "") +
                       block_bytes("odd", 0x820, "abc") +
                       block_bytes("x", 0x803, doubles_bytes({2, 6})) + kCreatorBlock +
                       block_bytes("grp", TQS_FLAG_GROUP, ""));
  TqsNode* root = tqs_read_tree(path.c_str());
  ASSERT_NE(root, nullptr);
  const std::vector<TqsNode*> blocks = children(root);
  ASSERT_EQ(blocks.size(), 5U);
  EXPECT_EQ(blocks[0]->stored_size, 0U);
  EXPECT_EQ(blocks[1]->data_offset, 48 + 24 + 24);
  EXPECT_EQ(blocks[2]->data_offset, 48 + 24 + 27 + 24);
  EXPECT_EQ(blocks[4]->type, TQS_FLAG_GROUP);
  // Stored bytes straight into a caller's buffer; the node stays unloaded.
  std::array<double, 2> read{};
  tqs_read_stored_data(blocks[2], read.data());
  EXPECT_EQ(read, (std::array<double, 2>{2, 6}));
  EXPECT_EQ(blocks[2]->data, nullptr);
  double out = 0;
  EXPECT_EQ(stat_count(root, "empty", &out, 0), 0); // nothing to load, no element
  EXPECT_EQ(blocks[0]->data, nullptr);
  EXPECT_EQ(stat_avg(root, "x", &out, 0), 1);
  EXPECT_EQ(out, 4);
  tqs_free_tree(root);

  // A header and nothing else is a file without blocks.
  write_file(path, header_bytes());
  root = tqs_read_tree(path.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->first_child, nullptr);
  tqs_free_tree(root);
  tqs_free_tree(nullptr);
}

TEST(ReadTree, RefusesADamagedFileWithOneLine) {
  TempDir dir;
  const std::string path = dir.file("bad.tqs");
  const std::string x_block = block_bytes("x", 0x803, doubles_bytes({1, 2}));
  std::string header_1_1 = header_bytes();
  const std::string not_tqs = "norvalex: Error: \"" + path + "\": Not a TQ-File\n";
  const std::string version = "norvalex: Error: \"" + path + "\": Invalid TQS-version\n";
  const std::string eof = "norvalex: Error: \"" + path + "\": Unexpected end of file\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"an empty file", "", not_tqs},
      {"shorter than a header", header_1_1.substr(0, 47), not_tqs},
      {"a creator block header cut short", kCreatorBlock.substr(0, 23), not_tqs},
      {"a wrong magic", "\x75\x4C\x9F\x06" + header_1_1.substr(4) + x_block, not_tqs},
      {"the magic in the other byte order", "\x05\x9F\x4C\x75" + header_1_1.substr(4), not_tqs},
      {"a block that is not a creator block first", x_block + x_block, not_tqs},
      {"a creator block of another type first", block_bytes("creator", 0x402, "NORVALEX\0"s),
       not_tqs},
      {"version 1.2", header_bytes(1, 2) + x_block, version},
      {"version 2.1", header_bytes(2, 1) + x_block, version},
      {"version 0.0", header_bytes(0, 0), version},
      {"a block name without its NUL", header_1_1 + block_bytes("sixteen-letters!", 0x803, ""),
       not_tqs},
      {"the end inside a block header", header_1_1 + x_block.substr(0, 23), eof},
      {"the end inside the next block header", header_1_1 + x_block + x_block.substr(0, 1), eof},
      {"the end inside block data", header_1_1 + x_block.substr(0, 39), eof},
      {"a size word far beyond the file", header_1_1 + block_bytes("x", 0x803, "", 0xFFFFFFFF),
       eof},
      {"the end inside a creator block's data", kCreatorBlock.substr(0, 32), eof},
  };
  for (const Case& c : cases) {
    write_file(path, c.bytes);
    auto result = run_in_child([&] {
      tqs_read_tree(path.c_str());
      std::fputs("returned\n", stdout);
    });
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_EQ(result.err, c.expected) << c.what;
    EXPECT_EQ(result.out, "") << c.what;
  }
}

TEST(ReadTree, RefusesWhatIsNoRegularFile) {
  TempDir dir;
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {dir.file("missing.tqs"),
       "norvalex: Error: \"" + dir.file("missing.tqs") + "\": No such file or directory\n"},
      {dir.path().string(), "norvalex: Error: \"" + dir.path().string() + "\": Is a directory\n"},
      {kNullDevice, "norvalex: Error: \"" + std::string(kNullDevice) + "\": Illegal seek\n"},
      // Refused at once, not waited on for a writer that never comes.
      {dir.file("fifo"), "norvalex: Error: \"" + dir.file("fifo") + "\": Illegal seek\n"},
  };
  const bool fifo = test_support::make_fifo(dir.file("fifo"));
  for (const Case& c : cases) {
    if (c.path == dir.file("fifo") && !fifo)
      continue; // no FIFOs on Windows
    auto result = run_in_child([&] { tqs_read_tree(c.path.c_str()); }, {.time_limit = 20});
    EXPECT_EQ(result.exit_status, 1) << c.path;
    EXPECT_EQ(result.err, c.expected) << c.path;
  }
}

// The descriptor the next open would get: the same before and after, when nothing was left open.
int next_descriptor() {
  const int descriptor = open(kNullDevice, O_RDONLY);
  close(descriptor);
  return descriptor;
}

TEST(ReadTree, ARefusedFileIsReleasedBeforeTheErrorReachesTheCaller) {
  TempDir dir;
  const std::string path = dir.file("bad.tqs");
  for (const std::string& bytes : {"junk"s, header_bytes(1, 0), header_bytes() + "\x01"s}) {
    write_file(path, bytes);
    const int before = next_descriptor();
    EXPECT_NE(test_support::thrown_text([&] { tqs_read_tree(path.c_str()); }), "");
    EXPECT_EQ(next_descriptor(), before);
  }
}

TEST(ReadTree, ALoadAfterTheFileWasCutShortIsReported) {
  TempDir dir;
  const std::string path = dir.file("cut.tqs");
  // Larger than a stream buffer, so that the data is not in memory before the load.
  write_file(path, header_bytes() + block_bytes("x", 0x803, doubles_bytes(std::vector(1000, 1.0))));
  auto result = run_in_child([&] {
    // Owned, so that the error frees the tree on its way out: nothing is left to leak.
    const TqsTree tree = tqs_load_tree(path.c_str());
    std::filesystem::resize_file(path, 48 + 24 + 4000);
    double out = 0;
    stat_sum(tree.get(), "x", &out, 0);
  });
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "norvalex: Error: \"" + path + "\": Unexpected end of file\n");
}

// What a walk of the block reader gives: "name type size offset" per block, the first bytes of
// each block's data read through it, and statistics through its nodes in between; or the text of
// the error it throws.
std::string walk_with_the_reader(const std::string& path) {
  std::string walked;
  const std::string refusal = test_support::thrown_text([&] {
    TqsBlockReader reader(path.c_str());
    TqsBlockInfo block;
    while (reader.next(block)) {
      walked += std::string(block.name) + " " + std::to_string(block.type) + " " +
                std::to_string(block.size) + " " + std::to_string(block.data_offset);
      std::string data(std::min<std::size_t>(block.size, 3), '\0');
      reader.read(block.data_offset, data.data(), data.size());
      walked += " [" + data + "]";
      // A statistic through the block's node moves the stream; the walk goes on all the same.
      TqsNode node = reader.node(block);
      ArrayStats stats;
      tqs_node_stats(&stats, &node);
      walked += " n=" + std::to_string(stats.count) + "\n";
    }
  });
  return refusal.empty() ? walked : "refused: " + refusal;
}

// The same from the tree that tqs_read_tree builds of the file.
std::string walk_the_tree(const std::string& path) {
  std::string walked;
  const std::string refusal = test_support::thrown_text([&] {
    const TqsTree tree = tqs_load_tree(path.c_str());
    for (TqsNode* node : children(tree.get())) {
      walked += std::string(node->name) + " " + std::to_string(node->type) + " " +
                std::to_string(node->size) + " " + std::to_string(node->data_offset);
      std::string data(std::min<std::size_t>(node->size, 3), '\0');
      if (!data.empty()) {
        std::string all(node->stored_size, '\0');
        tqs_read_stored_data(node, all.data());
        data = all.substr(0, data.size());
      }
      walked += " [" + data + "]";
      ArrayStats stats;
      tqs_node_stats(&stats, node);
      walked += " n=" + std::to_string(stats.count) + "\n";
    }
  });
  return refusal.empty() ? walked : "refused: " + refusal;
}

TEST(BlockReader, GivesTheBlocksOfTheTreeAndRefusesWhatItRefuses) {
  TempDir dir;
  const std::string path = dir.file("walked.tqs");
  const std::string x_block = block_bytes("x", 0x803, doubles_bytes({1, 2}));
  const std::string large = block_bytes("large", 0x803, doubles_bytes(std::vector(1000, 0.5)));
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"a header alone", header_bytes()},
      {"blocks one after another", header_bytes() + x_block + block_bytes("e", 0x803, "") +
                                       block_bytes("s", 0x401, "ab\0"s) + x_block},
      // Gaps past the reader's read-through limit are sought.
      {"large blocks between small ones", header_bytes() + large + x_block + large + large},
      {"appended series in a new file", kCreatorBlock + x_block + kCreatorBlock + large},
      {"an empty file", ""},
      {"version 1.2", header_bytes(1, 2) + x_block},
      {"a block name without its NUL", header_bytes() + block_bytes("sixteen-letters!", 0x803, "")},
      {"the end inside a block header", header_bytes() + x_block + x_block.substr(0, 23)},
      {"the end inside block data", header_bytes() + large + x_block.substr(0, 39)},
      {"a size word far beyond the file", header_bytes() + block_bytes("x", 0x803, "", 0xFFFFFFFF)},
  };
  for (const Case& c : cases) {
    write_file(path, c.bytes);
    EXPECT_EQ(walk_with_the_reader(path), walk_the_tree(path)) << c.what;
  }
  write_file(path, cases[2].bytes);
  EXPECT_EQ(walk_with_the_reader(path), "large 2051 8000 72 [\0\0\0] n=1000\n"
                                        "x 2051 16 8096 [\0\0\0] n=2\n"
                                        "large 2051 8000 8136 [\0\0\0] n=1000\n"
                                        "large 2051 8000 16160 [\0\0\0] n=1000\n"s);
  // The reader's file is closed with it, and a refused file at once.
  const int before = next_descriptor();
  { TqsBlockReader reader(path.c_str()); }
  write_file(path, "junk");
  EXPECT_NE(test_support::thrown_text([&] { TqsBlockReader reader(path.c_str()); }), "");
  EXPECT_EQ(next_descriptor(), before);
}

TEST(FreeTree, RefusesNodesItDidNotRead) {
  TempDir dir;
  const std::string path = dir.file("x.tqs");
  write_file(path, header_bytes() + block_bytes("x", 0x803, doubles_bytes({1})));
  const std::string expected = "norvalex: Error: Invalid memory representation of datafile\n";
  auto built = run_in_child([] {
    TqsNode node{};
    node.type = TQS_FLAG_GROUP;
    tqs_free_tree(&node);
  });
  EXPECT_EQ(built.exit_status, 1);
  EXPECT_EQ(built.err, expected);
  auto child = run_in_child([&] {
    const TqsTree tree = tqs_load_tree(path.c_str());
    tqs_free_tree(tree->first_child);
  });
  EXPECT_EQ(child.exit_status, 1);
  EXPECT_EQ(child.err, expected);
}

} // namespace
