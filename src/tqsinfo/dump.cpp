#include "tqsinfo/dump.h"

#include "tqsinfo/file_summary.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace norvalex {

namespace {

// The names of the list in their order; an empty one sets `has_empty`.
std::vector<std::string> split_names(const char* names, bool& has_empty) {
  std::vector<std::string> list;
  const char* start = names;
  for (;;) {
    const char* comma = std::strchr(start, ',');
    list.emplace_back(start, comma ? comma : start + std::strlen(start));
    has_empty = has_empty || list.back().empty();
    if (!comma) {
      return list;
    }
    start = comma + 1;
  }
}

// "\"<path>\": ", the start of an error about the file.
std::string about_file(const char* path) {
  std::string text = "\"";
  text += path;
  text += "\": ";
  return text;
}

// A name of the list, the blocks of the series that have it, and its data once loaded.
struct WantedArray {
  std::string name;
  int matches = 0;
  TqsBlockInfo block{}; // the first that has it
  std::unique_ptr<unsigned char[]> data{};
};

WantedArray& wanted_array(std::vector<WantedArray>& wanted, const std::string& name) {
  return *std::find_if(wanted.begin(), wanted.end(),
                       [&](const WantedArray& array) { return array.name == name; });
}

const WantedArray& checked_array(const char* path, std::vector<WantedArray>& wanted,
                                 const std::string& name, int series_number) {
  const std::string where = about_file(path);
  const std::string series_text = " in series " + std::to_string(series_number);
  const WantedArray& array = wanted_array(wanted, name);
  if (array.matches > 1) {
    refuse(where + "more than one block " + listing_text(name, true) + series_text);
  }
  if (array.matches == 0) {
    refuse(where + "no block " + listing_text(name, true) + series_text);
  }
  if ((array.block.type & TQS_TYPE_CODE_MASK) != TQS_TYPE_DOUBLE) {
    refuse(where + "block " + listing_text(name, true) + series_text + " holds no doubles but " +
           type_text(array.block.type));
  }
  return array;
}

} // namespace

void write_dump(Output& out, const char* path, const char* names, int series_number) {
  bool has_empty = false;
  const std::vector<std::string> list = split_names(names, has_empty);
  std::vector<WantedArray> wanted;
  for (const std::string& name : list) {
    if (std::none_of(wanted.begin(), wanted.end(),
                     [&](const WantedArray& array) { return array.name == name; })) {
      wanted.push_back({name});
    }
  }

  // One walk over the blocks finds the series and the named blocks in it.
  TqsBlockReader reader(path);
  int series_count = reader.input().has_header ? 1 : 0;
  TqsBlockInfo block;
  while (reader.next(block)) {
    // A file without a header starts with a creator block (the reader makes sure of it).
    if (is_creator_block(block)) {
      ++series_count;
    }
    if (series_count != series_number) {
      continue;
    }
    const std::string name = field_text(block.name, sizeof block.name);
    for (WantedArray& array : wanted) {
      if (array.name == name && array.matches++ == 0) {
        array.block = block;
      }
    }
  }
  if (has_empty) {
    refuse("empty array name in --dump " + listing_text(names, true));
  }
  if (series_number > series_count) {
    refuse(about_file(path) + "no series " + std::to_string(series_number) + ", the file has " +
           std::to_string(series_count));
  }
  std::vector<const WantedArray*> columns;
  for (const std::string& name : list) {
    columns.push_back(&checked_array(path, wanted, name, series_number));
  }
  // A partial element at the end is ignored, as the statistics ignore it.
  const auto values_of = [](const WantedArray* array) {
    return std::size_t{array->block.size} / sizeof(double);
  };
  const std::size_t rows = values_of(columns[0]);
  for (const WantedArray* column : columns) {
    if (values_of(column) != rows) {
      refuse(about_file(path) + "arrays of different lengths in series " +
             std::to_string(series_number) + ": " + listing_text(columns[0]->name, true) + " has " +
             std::to_string(rows) + " values, " + listing_text(column->name, true) + " has " +
             std::to_string(values_of(column)));
    }
  }
  // Each named block once, however often the list names it.
  for (WantedArray& array : wanted) {
    array.data.reset(new unsigned char[array.block.size]);
    reader.read(array.block.data_offset, array.data.get(), array.block.size);
  }
  std::vector<const unsigned char*> data;
  for (const WantedArray* column : columns) {
    data.push_back(column->data.get());
  }

  std::string line = "#";
  for (const std::string& name : list) {
    line += " " + name;
  }
  out << line << "\n";
  for (std::size_t row = 0; row < rows; ++row) {
    line.clear();
    for (std::size_t c = 0; c < data.size(); ++c) {
      double value;
      std::memcpy(&value, data[c] + row * sizeof value, sizeof value);
      line += c == 0 ? "" : " ";
      line += shortest_text(value);
    }
    out << line << "\n";
    out.write_over(std::size_t{1} << 20);
  }
}

} // namespace norvalex
