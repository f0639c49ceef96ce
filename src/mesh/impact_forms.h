// The rows of Impact-T's forms in the table of forms: the Fourier form (rfdataN), the derivative
// form (rfdataNNNN), the RF and solenoid T7 files and the 3-D map (1TN.T7), each in the file of
// its form.
#pragma once

#include "mesh/mesh_forms.h"

namespace norvalex {

bool impact_fourier_signature(const FileStart& start);
bool impact_fourier_named(std::string_view file_name);
FieldMesh read_impact_fourier_mesh(const char* path, const MeshReadOptions& options);
void check_impact_fourier(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_impact_fourier(const FieldMesh& mesh, std::span<OutputFile> files,
                          const MeshWriteOptions& options, MeshWriteReport& report);

bool impact_derivative_signature(const FileStart& start);
bool impact_derivative_named(std::string_view file_name);
FieldMesh read_impact_derivative_mesh(const char* path, const MeshReadOptions& options);
void check_impact_derivative(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_impact_derivative(const FieldMesh& mesh, std::span<OutputFile> files,
                             const MeshWriteOptions& options, MeshWriteReport& report);

FieldMesh read_impact_t7_mesh(const char* path, const MeshReadOptions& options);
void check_impact_t7(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_impact_t7(const FieldMesh& mesh, std::span<OutputFile> files,
                     const MeshWriteOptions& options, MeshWriteReport& report);
FieldMesh read_impact_solenoid_mesh(const char* path, const MeshReadOptions& options);
void check_impact_solenoid(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_impact_solenoid(const FieldMesh& mesh, std::span<OutputFile> files,
                           const MeshWriteOptions& options, MeshWriteReport& report);

bool impact_3d_signature(const FileStart& start);
FieldMesh read_impact_3d_mesh(const char* path, const MeshReadOptions& options);
void check_impact_3d(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_impact_3d(const FieldMesh& mesh, std::span<OutputFile> files,
                     const MeshWriteOptions& options, MeshWriteReport& report);

} // namespace norvalex
