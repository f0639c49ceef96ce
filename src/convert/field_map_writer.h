// The converter's TQS output, shared by the program and the Python module so that both write
// the same bytes: the file header of creator "NORVALEX" (or its "creator" block when appending),
// then one array block of doubles per column.
#pragma once

#include "sf7/sf7_reader.h"
#include "tqs/tqs_writer.h"

#include <span>

// A named column of doubles, borrowed from its owner.
struct DoubleColumn {
  const char* name;
  std::span<const double> values;
};

// Writes the header and then every column, in order, as an array block of doubles. A column too
// long for a block is refused as tqs_write_array refuses it.
void write_double_columns(TqsOutput& output, std::span<const DoubleColumn> columns);

// Writes the columns of `map` that have a factor other than 0, in file order, as
// write_double_columns does.
void write_field_map(TqsOutput& output, const FieldMap& map);
