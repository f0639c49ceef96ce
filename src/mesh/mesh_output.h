// A mesh written into an output file that a caller inside the project opened: the programs open
// theirs in their own code (src/cli), where their interruption handler is.
#pragma once

#include "norvalex/mesh.h"
#include "platform/output_file.h"

namespace norvalex {

// Writes `mesh` in `format` into `file`, named in messages by its name; the caller commits the
// file, and a failed write leaves it given up, for its owner to undo. A mesh that the format
// cannot hold is refused before anything is written: "<file>: <why>", the file being the mesh's
// source. openPMD needs a file of its own: a replacement of a named file through a temporary
// file (temp_path), else "<name>: an openPMD file is written as a file of its own, not into a
// pipe, a device or standard output".
NORVALEX_MESH_API void write_mesh(const FieldMesh& mesh, MeshFormat format, OutputFile& file);

} // namespace norvalex
