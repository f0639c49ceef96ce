// The rows of the 3-D solvers' text exports in the table of forms: CST's, HFSS's and Opera's
// tables of points, each in the file of its form, all read by the engine of point_table.h.
#pragma once

#include "mesh/mesh_forms.h"

namespace norvalex {

bool cst_signature(const FileStart& start);
FieldMesh read_cst_mesh(const char* path, const MeshReadOptions& options);

bool hfss_signature(const FileStart& start);
FieldMesh read_hfss_mesh(const char* path, const MeshReadOptions& options);

bool opera_signature(const FileStart& start);
FieldMesh read_opera_mesh(const char* path, const MeshReadOptions& options);

} // namespace norvalex
