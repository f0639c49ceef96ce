#include "tqsinfo/dump.h"

#include <cstring>
#include <string>
#include <vector>

namespace norvalex {

namespace {

std::vector<std::string> split_names(const char* names) {
  std::vector<std::string> list;
  const char* start = names;
  for (;;) {
    const char* comma = std::strchr(start, ',');
    list.emplace_back(start, comma ? comma : start + std::strlen(start));
    if (list.back().empty()) {
      refuse("empty array name in --dump " + listing_text(names, true));
    }
    if (!comma) {
      return list;
    }
    start = comma + 1;
  }
}

const BlockSummary& find_array(const FileSummary& file, const SeriesSummary& series,
                               const std::string& name) {
  const std::string where = "\"" + file.path + "\": ";
  const std::string series_text = " in series " + std::to_string(series.number);
  const BlockSummary* found = nullptr;
  for (const BlockSummary& block : series.blocks) {
    if (block.name != name) {
      continue;
    }
    if (found) {
      refuse(where + "more than one block " + listing_text(name, true) + series_text);
    }
    found = &block;
  }
  if (!found) {
    refuse(where + "no block " + listing_text(name, true) + series_text);
  }
  if ((found->type & TQS_TYPE_CODE_MASK) != TQS_TYPE_DOUBLE) {
    refuse(where + "block " + listing_text(name, true) + series_text + " holds no doubles but " +
           type_text(found->type));
  }
  return *found;
}

} // namespace

void write_dump(Output& out, FileSummary& file, const char* names, int series_number) {
  const std::vector<std::string> list = split_names(names);
  if (series_number > static_cast<int>(file.series.size())) {
    refuse("\"" + file.path + "\": no series " + std::to_string(series_number) + ", the file has " +
           std::to_string(file.series.size()));
  }
  const SeriesSummary& series = file.series[static_cast<std::size_t>(series_number - 1)];
  std::vector<const BlockSummary*> columns;
  for (const std::string& name : list) {
    columns.push_back(&find_array(file, series, name));
  }
  // A partial element at the end is ignored, as the statistics ignore it.
  const std::size_t rows = columns[0]->bytes / sizeof(double);
  for (const BlockSummary* column : columns) {
    if (column->bytes / sizeof(double) != rows) {
      refuse("\"" + file.path + "\": arrays of different lengths in series " +
             std::to_string(series.number) + ": " + listing_text(columns[0]->name, true) + " has " +
             std::to_string(rows) + " values, " + listing_text(column->name, true) + " has " +
             std::to_string(column->bytes / sizeof(double)));
    }
  }
  std::vector<const unsigned char*> data;
  for (const BlockSummary* column : columns) {
    tqs_load_data(column->node);
    data.push_back(static_cast<const unsigned char*>(column->node->data));
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
