// openPMD field meshes (HDF5 files of the BeamPhysics extension): the writer, and the one text
// of a build without HDF5. The reader is read_openpmd_mesh of norvalex/mesh.h. With HDF5 both
// are in openpmd_hdf5.cpp; without, openpmd_none.cpp has them throw UNSUPPORTED_OPENPMD_TEXT.
#pragma once

#include "norvalex/mesh.h"

namespace norvalex {

// The first bytes of an HDF5 file (or of its part after a user block).
inline constexpr unsigned char HDF5_SIGNATURE[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};

// What read_openpmd_mesh and write_openpmd throw in a build without HDF5 (ErrorOrigin::
// input_file, no error number), the file's name for %s.
inline constexpr char UNSUPPORTED_OPENPMD_TEXT[] =
    "%s: openPMD files are not supported by this build (no HDF5)";

// Writes `mesh` as an openPMD file into `output`, which must be at its start: the root attributes
// openPMD "2.0.0", openPMDextension "BeamPhysics", dataType "openPMD" and externalFieldPath
// "/ExternalFieldPath/%T/", and the one mesh group /ExternalFieldPath/1/ with its grid and RF
// attributes and a dataset of complex values (a compound of the float64 members r and i) for
// each component, with unitSI 1, unitDimension and unitSymbol. The same mesh gives the same
// bytes. HDF5 makes the file's metadata in memory (a few KiB) and never touches the disk; this
// writes the file from its start to its end, without a seek (a pipe or a device takes it too),
// with each component's values straight from the mesh's arrays (no copy of them); the output's
// close makes it durable and puts it in place. A failure throws message 0, "<output's name>":
// <system text>, with the system's error number (ENOMEM for memory, EIO when there is none); a
// mesh whose axes, labels or component sizes do not fit together throws it with EINVAL.
NORVALEX_MESH_API void write_openpmd(const FieldMesh& mesh, TqsOutput& output);

} // namespace norvalex
