// openPMD field meshes (HDF5, BeamPhysics extension): the writing of one into a named file.
#pragma once

#include "norvalex/mesh.h"

namespace norvalex {

// Writes `mesh` into the file `hdf5_path`, created or emptied.
void write_openpmd(const FieldMesh& mesh, const char* hdf5_path);

} // namespace norvalex
