// An SF7 table written as TQS with every column: exactly the converter's bytes for its first six
// columns, then one array block of doubles per further column. For the programs, which read the
// whole table before they open their output.
#pragma once

#include "platform/output_file.h"
#include "sf7/sf7_table.h"

#include <span>

namespace norvalex {

// The converter's units and the solver's gradient unit, (G/cm), in T/m.
NORVALEX_MESH_API std::span<const UnitRule> sf7_tqs_units();

// Writes `table`, read with sf7_tqs_units, into `file`: the converter's header, then every
// column in file order, each but the two coordinates multiplied by `factor` first. The caller
// commits the file.
NORVALEX_MESH_API void write_sf7_tqs(Sf7Table& table, OutputFile& file, double factor = 1);

} // namespace norvalex
