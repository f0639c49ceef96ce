// fieldmap info: what a file holds, as text or as one JSON document (docs/fieldmap.md).
#pragma once

#include "fieldmap/fieldmap_options.h"

namespace norvalex {

// Reads the request's input as a mesh and writes its description on standard output.
void write_info(const FieldmapRequest& request);

} // namespace norvalex
