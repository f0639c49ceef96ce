// fieldmap's command line: a command word, then options from one table read by the project's
// option parser (each with a long name), then the files.
#pragma once

#include "norvalex/mesh.h"

#include <optional>
#include <string>

namespace norvalex {

enum class FieldmapCommand { convert, info };

// A grid plane of a 3-D map: where `axis` ("x", "y" or "z") is `value` m.
struct PlaneChoice {
  std::string axis;
  double value = 0;
};

struct FieldmapRequest {
  FieldmapCommand command = FieldmapCommand::info;
  std::string input;
  std::string output;               // convert: a file name, or "-" for standard output
  std::optional<MeshForm> from;     // the input's form, when not told by its content or name
  std::string with;                 // a second file of the input's form whose fields join it
  std::optional<MeshFormat> to;     // convert: the output's format, when not told by its name
  MeshReadOptions read;             // the choices a file leaves open (--field, --planar, ...)
  MeshWriteOptions write;           // convert: the choices of the output's form (--mirror, ...)
  std::optional<double> scale;      // convert: every field value times this
  std::optional<double> normalize;  // convert: the on-axis peak set to this
  std::optional<PlaneChoice> plane; // a plane of a 3-D map, not the whole map
  bool cylindrical = false;         // the cylindrical r-z map of a 3-D map
  bool json = false;                // info: one JSON document
};

// The choices of reading the input: the request's, with its second file.
MeshReadOptions read_options(const FieldmapRequest& request);

// Reads the command line. Help and the version are printed on standard output and end the
// process with status 0; a wrong command line ends it with one error line and status 1.
FieldmapRequest read_fieldmap_command_line(int argc, char** argv);

// The map that the request takes of `mesh`: a plane of it (--plane), its cylindrical map
// (--cylindrical, with how far it departs from the symmetry about z into `departure`), or the map
// itself.
FieldMesh requested_map(FieldMesh mesh, const FieldmapRequest& request, double& departure);

// The output's format told by its name's extension: .tqs, .h5 or .hdf5, .t7, .txt.
std::optional<MeshFormat> format_of_name(const std::string& name);

} // namespace norvalex
