// The rows of ASTRA's 3-D form in the table of forms: one file per field component,
// <base>.ex .ey .ez .bx .by .bz, each the grid's coordinates then the component's values.
#pragma once

#include "mesh/mesh_forms.h"

#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

bool astra_3d_signature(const FileStart& start);
bool astra_3d_names_base(const char* path);
FieldMesh read_astra_3d_mesh(const char* path, const MeshReadOptions& options);
void check_astra_3d(const FieldMesh& mesh, const MeshWriteOptions& options);
std::vector<std::string> astra_3d_files(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_astra_3d(const FieldMesh& mesh, std::span<OutputFile> files,
                    const MeshWriteOptions& options, MeshWriteReport& report);

} // namespace norvalex
