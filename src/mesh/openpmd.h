// openPMD field meshes (HDF5 files of the BeamPhysics extension): the writer, and the one text
// of a build without HDF5. The reader is read_openpmd_mesh of norvalex/mesh.h. With HDF5 the
// reader is openpmd_child.cpp (which runs openpmd_reader.cpp in a child process) and the writer
// openpmd_writer.cpp; without, openpmd_none.cpp has both throw UNSUPPORTED_OPENPMD_TEXT.
#pragma once

#include "norvalex/mesh.h"

#include <array>

namespace norvalex {

// The first bytes of an HDF5 file (or of its part after a user block).
inline constexpr unsigned char HDF5_SIGNATURE[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};

// unitDimension of the components: powers of length, mass, time, current, temperature, amount
// and luminous intensity.
using UnitDimension = std::array<double, 7>;
inline constexpr UnitDimension ELECTRIC_DIMENSION{1, 1, -3, -1, 0, 0, 0}; // V/m
inline constexpr UnitDimension MAGNETIC_DIMENSION{0, 1, -2, -1, 0, 0, 0}; // T

// What read_openpmd_mesh and write_openpmd_file throw in a build without HDF5 (ErrorOrigin::
// input_file, no error number), the file's name for %s.
inline constexpr char UNSUPPORTED_OPENPMD_TEXT[] =
    "%s: openPMD files are not supported by this build (no HDF5)";

// Writes `mesh` as the openPMD file `hdf5_path`, which HDF5 creates (or empties) and writes
// itself, without its file lock; `shown_name` names the output in messages. The root attributes
// openPMD "2.0.0", openPMDextension "BeamPhysics", dataType "openPMD" and externalFieldPath
// "/ExternalFieldPath/%T/", and the one mesh group /ExternalFieldPath/1/ with its grid and RF
// attributes and a contiguous dataset of complex values (a compound of the float64 members r
// and i) for each component, with unitSI 1, unitDimension and unitSymbol. Each component's
// values go to the file straight from the mesh's arrays (no copy, no conversion); the same mesh
// gives the same bytes. The mesh writer refuses a mesh that the readers would refuse before
// (check_mesh); here a failure throws message 0, "<shown_name>":
// <system text>, with the system's error number (ENOMEM for memory, EIO when there is none); a
// mesh whose axes, labels or component sizes do not fit together throws it with EINVAL. The
// caller makes the file durable and puts it in place (write_mesh: the output's temporary file).
NORVALEX_MESH_API void write_openpmd_file(const FieldMesh& mesh, const char* hdf5_path,
                                          const char* shown_name);

} // namespace norvalex
