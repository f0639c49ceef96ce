// The table of forms: every form a mesh travels in is one row, with its name, extensions and
// what it holds (MeshFormInfo, norvalex/mesh.h), and the functions that tell it by its content
// or its name, read it, check that it holds a mesh, and write it. Detection, reading and writing
// by form, fieldmap's --from, --to and help, info and the Python calls all go through it, so
// that a new form is its file and one row here.
#pragma once

#include "norvalex/mesh.h"
#include "platform/output_file.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  // Its description; readable and writable are set from read and write.
  MeshFormInfo info;
  // True when the file's start is of this form; null for a form told by its name only.
  bool (*signature)(const FileStart& start) = nullptr;
  // True when a file's name (its last part) is one this form gives its files (Impact-T's
  // rfdata7), beside the extensions; null when only the extensions tell.
  bool (*named)(std::string_view file_name) = nullptr;
  // True when `path`, which names no file, is the base name of the files of a map of this form
  // (ASTRA's "3D_gun" of 3D_gun.ex, 3D_gun.ey, ...), for the detection; null for a form of one
  // file.
  bool (*names_base)(const char* path) = nullptr;
  // Reads a file of this form; null for a form that is only written.
  FieldMesh (*read)(const char* path, const MeshReadOptions& options) = nullptr;
  // Throws when the form cannot hold `mesh` with `options`, for a check before any output is
  // opened; null for a form that holds every mesh check_mesh lets through.
  void (*check)(const FieldMesh& mesh, const MeshWriteOptions& options) = nullptr;
  // The extensions of the files a mesh is written as, one per file (TraceWin's ".bsz" and
  // ".bsr"); null for a form written as the one file named.
  std::vector<std::string> (*files)(const FieldMesh& mesh,
                                    const MeshWriteOptions& options) = nullptr;
  // Writes `mesh`, checked, into `files` (in the order of `files`, or the one file); null for a
  // form that is only read.
  void (*write)(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
                MeshWriteReport& report) = nullptr;
  // The writer writes a file of its own by the temporary file's name (HDF5), so the output is
  // opened only where a temporary file can be made, never written in place.
  bool by_name = false;
};

// The row of `form`.
const MeshFormRow& mesh_form_row(MeshForm form);

// A form's title with its article, as spoken: "a T7 file", "an SF7 table", "an OPAL 2-D map".
NORVALEX_MESH_API std::string with_article(std::string_view title);

// Throws unless `form` is written and holds `mesh` with `options`: the options the form takes,
// check_mesh, then the form's own check. A writer that makes it first refuses a mesh before its
// output is opened, which may empty a file written in place.
NORVALEX_MESH_API void check_mesh_for_form(const FieldMesh& mesh, MeshForm form,
                                           const char* output_name,
                                           const MeshWriteOptions& options = {});
// How a named output of `form` is opened: replaced through a temporary file, and for a form
// written by name never in place.
NORVALEX_MESH_API OutputMode mesh_output_mode(MeshForm form);
// Writes `mesh`, checked by check_mesh_for_form, in `form` into `files` (one per name of
// mesh_output_paths), named in messages by their names; the caller commits them, and a failed
// write leaves them given up, for their owner to undo. openPMD needs a file of its own: a
// replacement of a named file through a temporary file (temp_path), else "<name>: an openPMD
// file is written as a file of its own, not into a pipe, a device or standard output".
NORVALEX_MESH_API MeshWriteReport write_checked_mesh(const FieldMesh& mesh, MeshForm form,
                                                     std::span<OutputFile> files,
                                                     const MeshWriteOptions& options = {});

// Throws "<file>: <form> holds no <component>" for the first component of `mesh` other than
// `held` (nulls allowed) that is not 0 everywhere: a writer's check of what its form leaves out.
void refuse_other_components(const FieldMesh& mesh,
                             std::initializer_list<const MeshComponent*> held, const char* form);

// The signatures, checks and writers of the forms, each in the file of its form.
bool tqs_signature(const FileStart& start);
bool openpmd_signature(const FileStart& start);
bool t7_signature(const FileStart& start);
bool sf7_signature(const FileStart& start);
bool opal_1d_signature(const FileStart& start);
bool opal_2d_signature(const FileStart& start);
bool astra_signature(const FileStart& start);
// OPAL's maps of every type, 1-D and 2-D: the file's first line tells which.
FieldMesh read_opal_mesh(const char* path, const MeshReadOptions& options);
FieldMesh read_astra_mesh(const char* path, const MeshReadOptions& options);
void check_tqs_arrays(const FieldMesh& mesh, const MeshWriteOptions& options);
void check_t7(const FieldMesh& mesh, const MeshWriteOptions& options);
void check_on_axis(const FieldMesh& mesh, const MeshWriteOptions& options);
void check_opal_1d(const FieldMesh& mesh, const MeshWriteOptions& options);
void check_opal_2d(const FieldMesh& mesh, const MeshWriteOptions& options);
void check_astra(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_tqs_arrays(const FieldMesh& mesh, std::span<OutputFile> files,
                      const MeshWriteOptions& options, MeshWriteReport& report);
void write_openpmd_mesh(const FieldMesh& mesh, std::span<OutputFile> files,
                        const MeshWriteOptions& options, MeshWriteReport& report);
void write_t7(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
              MeshWriteReport& report);
void write_on_axis(const FieldMesh& mesh, std::span<OutputFile> files,
                   const MeshWriteOptions& options, MeshWriteReport& report);
void write_opal_1d(const FieldMesh& mesh, std::span<OutputFile> files,
                   const MeshWriteOptions& options, MeshWriteReport& report);
void write_opal_2d(const FieldMesh& mesh, std::span<OutputFile> files,
                   const MeshWriteOptions& options, MeshWriteReport& report);
void write_astra(const FieldMesh& mesh, std::span<OutputFile> files,
                 const MeshWriteOptions& options, MeshWriteReport& report);

// The T7 layouts that Impact-T's own rows share with the T7 form: any T7 file, an RF one only
// (its type 112), or a static magnetic one round the axis in T (its solenoid, type 3).
enum class T7Variant { any, rf_only, solenoid };
FieldMesh read_t7_variant(const char* path, const MeshReadOptions& options, T7Variant variant);
void check_t7_variant(const FieldMesh& mesh, T7Variant variant);
void write_t7_variant(const FieldMesh& mesh, OutputFile& output, T7Variant variant);

// TraceWin's files (tracewin_form.cpp), told by their extensions.
FieldMesh read_tracewin_mesh(const char* path, const MeshReadOptions& options);
void check_tracewin(const FieldMesh& mesh, const MeshWriteOptions& options);
std::vector<std::string> tracewin_files(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_tracewin(const FieldMesh& mesh, std::span<OutputFile> files,
                    const MeshWriteOptions& options, MeshWriteReport& report);

// elegant's SDDS files (sdds_form.cpp).
bool sdds_signature(const FileStart& start);
FieldMesh read_sdds_mesh(const char* path, const MeshReadOptions& options);
void check_sdds(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_sdds(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
                MeshWriteReport& report);

// Bmad's grid_field text.
bool bmad_signature(const FileStart& start);
FieldMesh read_bmad_mesh(const char* path, const MeshReadOptions& options);
void check_bmad(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_bmad(const FieldMesh& mesh, std::span<OutputFile> files, const MeshWriteOptions& options,
                MeshWriteReport& report);

} // namespace norvalex
