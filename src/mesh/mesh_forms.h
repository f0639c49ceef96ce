// The table of forms: every form a mesh travels in is one row, with its name, extensions and
// what it holds (MeshFormInfo, norvalex/mesh.h), and the functions that tell it by its content,
// read it, and write it. Detection, reading and writing by form, fieldmap's --to and help, info
// and the Python calls all go through it, so that a new form is its file and one row here.
#pragma once

#include "norvalex/mesh.h"
#include "platform/output_file.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace norvalex {

// What the detection knows of a file: its first bytes and, for a form that looks further in
// (an HDF5 file after a user block), its stream and length.
struct FileStart {
  std::string_view bytes; // up to FILE_START_BYTES of them
  std::FILE* stream;
  std::int64_t length; // -1 when it is not a regular file
};

// Bytes of a file's start that the signatures see.
inline constexpr std::size_t FILE_START_BYTES = std::size_t{64} << 10;

struct MeshFormRow {
  MeshFormInfo info;
  // True when the file's start is of this form; null for a form told by its name only.
  bool (*signature)(const FileStart& start);
  // Reads a file of this form; null for a form that is only written.
  FieldMesh (*read)(const char* path, const MeshReadOptions& options);
  // Throws when the form cannot hold `mesh`, for a check before any output is opened; null for
  // a form that holds every mesh check_mesh lets through.
  void (*check)(const FieldMesh& mesh);
  // Writes `mesh`, checked; null for a form that is only read.
  void (*write)(const FieldMesh& mesh, OutputFile& file);
  // The writer writes a file of its own by the temporary file's name (HDF5), so the output is
  // opened only where a temporary file can be made, never written in place.
  bool by_name = false;
};

// The row of `form`.
const MeshFormRow& mesh_form_row(MeshForm form);

// Throws unless `form` is written and holds `mesh`: check_mesh, then the form's own check. A
// writer that makes it first refuses a mesh before its output is opened, which may empty a file
// written in place.
NORVALEX_MESH_API void check_mesh_for_form(const FieldMesh& mesh, MeshForm form,
                                           const char* output_name);
// How a named output of `form` is opened: replaced through a temporary file, and for a form
// written by name never in place.
NORVALEX_MESH_API OutputMode mesh_output_mode(MeshForm form);
// Writes `mesh`, checked by check_mesh_for_form, in `form` into `file`, named in messages by its
// name; the caller commits the file, and a failed write leaves it given up, for its owner to undo.
// openPMD needs a file of its own: a replacement of a named file through a temporary file
// (temp_path), else "<name>: an openPMD file is written as a file of its own, not into a pipe, a
// device or standard output".
NORVALEX_MESH_API void write_checked_mesh(const FieldMesh& mesh, MeshForm form, OutputFile& file);

// The signatures and writers of the forms, each in the file of its form.
bool tqs_signature(const FileStart& start);
bool openpmd_signature(const FileStart& start);
bool t7_signature(const FileStart& start);
bool sf7_signature(const FileStart& start);
void check_tqs_arrays(const FieldMesh& mesh);
void check_t7(const FieldMesh& mesh);
void check_on_axis(const FieldMesh& mesh);
void write_tqs_arrays(const FieldMesh& mesh, OutputFile& file);
void write_openpmd_mesh(const FieldMesh& mesh, OutputFile& file);
void write_t7(const FieldMesh& mesh, OutputFile& file);
void write_on_axis(const FieldMesh& mesh, OutputFile& file);

} // namespace norvalex
