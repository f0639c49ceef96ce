// An SF7 table as a mesh and as TQS with every column, for the programs and the mesh reader,
// which read a whole table once: its TQS file is exactly the converter's bytes for its first six
// columns, then one array block of doubles per further column.
#pragma once

#include "norvalex/mesh.h"
#include "platform/output_file.h"
#include "sf7/sf7_table.h"

#include <span>

namespace norvalex {

// The units a table is read with: the converter's and the solver's gradient unit, (G/cm), in
// T/m, with H kept in A/m.
NORVALEX_MESH_API std::span<const UnitRule> sf7_mesh_units();

// The mesh of `table`, read from `path` with sf7_mesh_units, as read_sf7_mesh gives it. Each
// column's array goes once it is converted, unless `keep_table` keeps the table whole.
NORVALEX_MESH_API FieldMesh sf7_table_mesh(Sf7Table& table, const char* path,
                                           const MeshReadOptions& options, bool keep_table);

// Writes `table`, read with sf7_mesh_units, into `file` as the converter writes it: its header,
// then every column in file order, H-phi in T by the converter's factor, each column but the two
// coordinates multiplied by `factor` last. The caller commits the file.
NORVALEX_MESH_API void write_sf7_tqs(Sf7Table& table, OutputFile& file, double factor = 1);

} // namespace norvalex
