#include "norvalex/sf7.h"

#include "diag/raise.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <limits>

namespace norvalex {

void write_converter_header(TqsOutput& output) {
  tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
}

void write_double_column(TqsOutput& output, const DoubleColumn& column) {
  // The writer's count is 32 bits wide: a longer column must not be written as a wrapped one.
  if (column.values.size() > std::numeric_limits<std::int32_t>::max()) {
    raise_file_error(output.name, EOVERFLOW);
  }
  tqs_write_array(output, column.name, static_cast<std::int32_t>(column.values.size()),
                  TQS_TYPE_DOUBLE, column.values.data());
}

void write_double_columns(TqsOutput& output, std::span<const DoubleColumn> columns) {
  write_converter_header(output);
  for (const DoubleColumn& column : columns) {
    write_double_column(output, column);
  }
}

void write_field_map(TqsOutput& output, const FieldMap& map) {
  const auto points = static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
  std::array<DoubleColumn, SF7_COLUMN_COUNT> columns{};
  std::size_t written = 0;
  for (const FieldColumn& column : map.columns) {
    if (column.factor != 0) {
      columns[written++] = {column.out_name, {column.data.get(), points}};
    }
  }
  write_double_columns(output, std::span(columns).first(written));
}

} // namespace norvalex
