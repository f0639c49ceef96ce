// openPMD field meshes in a build without HDF5: reading and writing them throws the one text
// that says so.
#include "diag/raise.h"
#include "mesh/openpmd.h"

namespace norvalex {

FieldMesh read_openpmd_mesh(const char* path, const MeshReadOptions&) {
  raise_input_failure(path, 0, UNSUPPORTED_OPENPMD_TEXT, path);
}

void write_openpmd_file(const FieldMesh&, const char*, const char* shown_name) {
  raise_input_failure(shown_name, 0, UNSUPPORTED_OPENPMD_TEXT, shown_name);
}

} // namespace norvalex
