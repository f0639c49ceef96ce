// The table of forms, one row each, in the order of MeshForm.
#include "mesh/mesh_forms.h"

#include "mesh/astra_3d.h"
#include "mesh/export_forms.h"
#include "mesh/impact_forms.h"
#include "mesh/mesh_build.h"
#include "mesh/tracewin.h"

#include <algorithm>
#include <array>
#include <string>

namespace norvalex {

namespace {

// What each form can hold.
constexpr MeshHolds EVERY_MAP{.one_d = true,
                              .two_d = true,
                              .three_d = true,
                              .rf = true,
                              .static_fields = true,
                              .cylindrical = true,
                              .rectangular = true};
constexpr MeshHolds SOLVER_MAPS{.one_d = true,
                                .two_d = true,
                                .rf = true,
                                .static_fields = true,
                                .cylindrical = true,
                                .rectangular = true};
constexpr MeshHolds PLANES{.one_d = false,
                           .two_d = true,
                           .rf = true,
                           .static_fields = true,
                           .cylindrical = true,
                           .rectangular = true};
constexpr MeshHolds AXIS_FIELDS{.one_d = true,
                                .two_d = false,
                                .rf = true,
                                .static_fields = true,
                                .cylindrical = true,
                                .rectangular = false};
constexpr MeshHolds CYLINDRICAL_MAPS{.one_d = true,
                                     .two_d = true,
                                     .rf = true,
                                     .static_fields = true,
                                     .cylindrical = true,
                                     .rectangular = false};
constexpr MeshHolds RF_PLANES{.one_d = false,
                              .two_d = true,
                              .rf = true,
                              .static_fields = false,
                              .cylindrical = true,
                              .rectangular = false};
constexpr MeshHolds CYLINDRICAL_PLANES{.one_d = false,
                                       .two_d = true,
                                       .rf = true,
                                       .static_fields = true,
                                       .cylindrical = true,
                                       .rectangular = false};
// Bmad's grids: a cylindrical plane (rotationally_symmetric_rz) or a 3-D rectangular grid (xyz).
constexpr MeshHolds BMAD_GRIDS{.one_d = false,
                               .two_d = true,
                               .three_d = true,
                               .rf = true,
                               .static_fields = true,
                               .cylindrical = true,
                               .rectangular = true};
constexpr MeshHolds STATIC_PLANES{.one_d = false,
                                  .two_d = true,
                                  .rf = false,
                                  .static_fields = true,
                                  .cylindrical = true,
                                  .rectangular = false};

constexpr MeshHolds STATIC_3D_MAPS{.three_d = true, .static_fields = true, .rectangular = true};
constexpr MeshHolds MAPS_3D{
    .three_d = true, .rf = true, .static_fields = true, .rectangular = true};
constexpr MeshHolds GRID_EXPORTS{.one_d = true,
                                 .two_d = true,
                                 .three_d = true,
                                 .rf = true,
                                 .static_fields = true,
                                 .cylindrical = false,
                                 .rectangular = true};
constexpr MeshHolds STATIC_GRID_EXPORTS{.one_d = true,
                                        .two_d = true,
                                        .three_d = true,
                                        .rf = false,
                                        .static_fields = true,
                                        .cylindrical = false,
                                        .rectangular = true};

constexpr const char* TQS_EXTENSIONS[] = {".tqs"};
constexpr const char* OPENPMD_EXTENSIONS[] = {".h5", ".hdf5"};
constexpr const char* T7_EXTENSIONS[] = {".t7"};
constexpr const char* SF7_EXTENSIONS[] = {".sf7"};
constexpr const char* ON_AXIS_EXTENSIONS[] = {".txt"};
constexpr const char* TRACEWIN_EXTENSIONS[] = {".edz", ".esz", ".bsz", ".bdz", ".esr", ".bsr"};
constexpr const char* SDDS_EXTENSIONS[] = {".sdds"};
constexpr const char* BMAD_EXTENSIONS[] = {".bmad"};
constexpr const char* ASTRA_3D_EXTENSIONS[] = {".ex", ".ey", ".ez", ".bx", ".by", ".bz"};
constexpr const char* HFSS_EXTENSIONS[] = {".fld"};
constexpr const char* OPERA_EXTENSIONS[] = {".table"};
constexpr const char* TRACEWIN_3D_EXTENSIONS[] = {".edx", ".edy", ".edz", ".bdx", ".bdy", ".bdz",
                                                  ".esx", ".esy", ".esz", ".bsx", ".bsy", ".bsz"};

// One 1-D position or grid, read or written.
constexpr unsigned AXIS_WRITING = MESH_OPTION_MIRROR | MESH_OPTION_Z_OFFSET;

constexpr std::array<MeshFormRow, 21> rows{{
    {.info = {MeshForm::tqs, "tqs", "TQS file", TQS_EXTENSIONS, "", false, false, EVERY_MAP,
              MESH_OPTION_FREQUENCY, 0, false},
     .signature = tqs_signature,
     .read = read_tqs_mesh,
     .check = check_tqs_arrays,
     .write = write_tqs_arrays},
    {.info = {MeshForm::openpmd, "openpmd", "openPMD file", OPENPMD_EXTENSIONS, "", false, false,
              EVERY_MAP, MESH_OPTION_FREQUENCY, 0, true},
     .signature = openpmd_signature,
     .read = read_openpmd_mesh,
     .write = write_openpmd_mesh,
     .by_name = true},
    {.info = {MeshForm::t7, "t7", "T7 file", T7_EXTENSIONS, "", false, false, PLANES,
              MESH_OPTION_FIELD | MESH_OPTION_GEOMETRY, 0, true},
     .signature = t7_signature,
     .read = read_t7_mesh,
     .check = check_t7,
     .write = write_t7},
    {.info = {MeshForm::sf7, "sf7", "SF7 table", SF7_EXTENSIONS, "", false, false, SOLVER_MAPS,
              MESH_OPTION_FREQUENCY, 0, false},
     .signature = sf7_signature,
     .read = read_sf7_mesh},
    {.info = {MeshForm::on_axis, "onaxis", "on-axis table", ON_AXIS_EXTENSIONS, "", false, false,
              CYLINDRICAL_MAPS, 0, 0, false},
     .check = check_on_axis,
     .write = write_on_axis},
    {.info = {MeshForm::impact_fourier,
              "impact-fourier",
              "Impact-T Fourier file",
              {},
              "rfdataN",
              false,
              false,
              AXIS_FIELDS,
              MESH_OPTION_POINTS | MESH_OPTION_FREQUENCY,
              MESH_OPTION_COEFFICIENTS | AXIS_WRITING,
              false},
     .signature = impact_fourier_signature,
     .named = impact_fourier_named,
     .read = read_impact_fourier_mesh,
     .check = check_impact_fourier,
     .write = write_impact_fourier},
    {.info = {MeshForm::impact_derivative,
              "impact-derivative",
              "Impact-T derivative file",
              {},
              "rfdataNNNN",
              false,
              false,
              AXIS_FIELDS,
              MESH_OPTION_FREQUENCY,
              AXIS_WRITING,
              false},
     .signature = impact_derivative_signature,
     .named = impact_derivative_named,
     .read = read_impact_derivative_mesh,
     .check = check_impact_derivative,
     .write = write_impact_derivative},
    {.info = {MeshForm::impact_t7,
              "impact-t7",
              "Impact-T RF T7 file",
              {},
              "1TN.T7",
              false,
              false,
              RF_PLANES,
              0,
              0,
              true},
     .read = read_impact_t7_mesh,
     .check = check_impact_t7,
     .write = write_impact_t7},
    {.info = {MeshForm::impact_solenoid,
              "impact-solenoid",
              "Impact-T solenoid T7 file",
              {},
              "1TN.T7",
              false,
              false,
              STATIC_PLANES,
              0,
              0,
              false},
     .read = read_impact_solenoid_mesh,
     .check = check_impact_solenoid,
     .write = write_impact_solenoid},
    {.info = {MeshForm::opal_1d,
              "opal-1d",
              "OPAL 1-D map",
              {},
              "",
              false,
              false,
              AXIS_FIELDS,
              MESH_OPTION_RESAMPLE,
              AXIS_WRITING | MESH_OPTION_NORMALIZE_WORD,
              true},
     .signature = opal_1d_signature,
     .read = read_opal_mesh,
     .check = check_opal_1d,
     .write = write_opal_1d},
    {.info = {MeshForm::opal_2d,
              "opal-2d",
              "OPAL 2-D map",
              {},
              "",
              false,
              false,
              CYLINDRICAL_PLANES,
              0,
              MESH_OPTION_Z_OFFSET | MESH_OPTION_NORMALIZE_WORD,
              true},
     .signature = opal_2d_signature,
     .read = read_opal_mesh,
     .check = check_opal_2d,
     .write = write_opal_2d},
    {.info = {MeshForm::astra,
              "astra",
              "ASTRA 1-D file",
              {},
              "",
              false,
              false,
              AXIS_FIELDS,
              MESH_OPTION_FIELD | MESH_OPTION_FREQUENCY | MESH_OPTION_RESAMPLE,
              AXIS_WRITING,
              false},
     .signature = astra_signature,
     .read = read_astra_mesh,
     .check = check_astra,
     .write = write_astra},
    {.info = {MeshForm::tracewin, "tracewin", "TraceWin file", TRACEWIN_EXTENSIONS, "", false,
              false, CYLINDRICAL_MAPS, MESH_OPTION_FREQUENCY, MESH_OPTION_MIRROR, false},
     .read = read_tracewin_mesh,
     .check = check_tracewin,
     .files = tracewin_files,
     .write = write_tracewin},
    {.info = {MeshForm::sdds, "sdds", "SDDS file", SDDS_EXTENSIONS, "", false, false,
              CYLINDRICAL_MAPS, MESH_OPTION_FIELD | MESH_OPTION_FREQUENCY | MESH_OPTION_RESAMPLE,
              MESH_OPTION_ASCII | AXIS_WRITING, false},
     .signature = sdds_signature,
     .read = read_sdds_mesh,
     .check = check_sdds,
     .write = write_sdds},
    {.info = {MeshForm::bmad, "bmad", "Bmad grid_field file", BMAD_EXTENSIONS, "", false, false,
              BMAD_GRIDS, MESH_OPTION_FIELD | MESH_OPTION_FREQUENCY, MESH_OPTION_Z_OFFSET, false},
     .signature = bmad_signature,
     .read = read_bmad_mesh,
     .check = check_bmad,
     .write = write_bmad},
    {.info = {MeshForm::astra_3d, "astra-3d", "ASTRA 3-D map", ASTRA_3D_EXTENSIONS, "3D_*", false,
              false, STATIC_3D_MAPS, MESH_OPTION_FREQUENCY, 0, false},
     .signature = astra_3d_signature,
     .names_base = astra_3d_names_base,
     .read = read_astra_3d_mesh,
     .check = check_astra_3d,
     .files = astra_3d_files,
     .write = write_astra_3d},
    {.info = {MeshForm::impact_3d,
              "impact-3d",
              "Impact-T 3-D T7 file",
              {},
              "1TN.T7",
              false,
              false,
              MAPS_3D,
              MESH_OPTION_FREQUENCY,
              0,
              false},
     .signature = impact_3d_signature,
     .read = read_impact_3d_mesh,
     .check = check_impact_3d,
     .write = write_impact_3d},
    {.info = {MeshForm::cst,
              "cst",
              "CST export",
              {},
              "",
              false,
              false,
              GRID_EXPORTS,
              MESH_OPTION_FREQUENCY,
              0,
              false},
     .signature = cst_signature,
     .read = read_cst_mesh},
    {.info = {MeshForm::hfss, "hfss", "HFSS grid export", HFSS_EXTENSIONS, "", false, false,
              GRID_EXPORTS, MESH_OPTION_FIELD | MESH_OPTION_FREQUENCY, 0, false},
     .signature = hfss_signature,
     .read = read_hfss_mesh},
    {.info = {MeshForm::opera, "opera", "Opera table", OPERA_EXTENSIONS, "", false, false,
              STATIC_GRID_EXPORTS, 0, 0, false},
     .signature = opera_signature,
     .read = read_opera_mesh},
    {.info = {MeshForm::tracewin_3d, "tracewin-3d", "TraceWin 3-D map", TRACEWIN_3D_EXTENSIONS, "",
              false, false, MAPS_3D, MESH_OPTION_FREQUENCY, 0, false},
     .signature = tracewin_3d_signature,
     .read = read_tracewin_3d_mesh,
     .check = check_tracewin_3d,
     .files = tracewin_3d_files,
     .write = write_tracewin_3d},
}};

// Each row stands at its form's place, so that a form is its own index.
constexpr bool rows_in_order() {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (static_cast<std::size_t>(rows[k].info.form) != k)
      return false;
  }
  return rows.size() == static_cast<std::size_t>(MeshForm::tracewin_3d) + 1;
}
static_assert(rows_in_order());

const std::array<MeshFormInfo, rows.size()> infos = [] {
  std::array<MeshFormInfo, rows.size()> all{};
  for (std::size_t k = 0; k < rows.size(); ++k) {
    all[k] = rows[k].info;
    all[k].readable = rows[k].read != nullptr;
    all[k].writable = rows[k].write != nullptr;
  }
  return all;
}();

} // namespace

const MeshFormRow& mesh_form_row(MeshForm form) {
  return rows[static_cast<std::size_t>(form)];
}

std::span<const MeshFormInfo> mesh_forms() {
  return infos;
}

const MeshFormInfo& mesh_form_info(MeshForm form) {
  return infos[static_cast<std::size_t>(form)];
}

const MeshFormInfo* find_mesh_form(std::string_view name) {
  const auto found = std::find_if(infos.begin(), infos.end(),
                                  [&](const MeshFormInfo& info) { return name == info.name; });
  return found == infos.end() ? nullptr : &*found;
}

const MeshFormInfo* mesh_form_of_path(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string_view file_name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = file_name.rfind('.');
  const std::string extension =
      dot == std::string_view::npos ? std::string() : lower_case(file_name.substr(dot));
  for (const MeshFormInfo& info : infos) {
    const MeshFormRow& row = mesh_form_row(info.form);
    if (row.named != nullptr && row.named(file_name))
      return &info;
    for (const char* known : info.extensions) {
      if (!extension.empty() && extension == known)
        return &info;
    }
  }
  return nullptr;
}

std::vector<std::string> mesh_output_paths(const FieldMesh& mesh, MeshFormat format,
                                           const std::string& path,
                                           const MeshWriteOptions& options) {
  const MeshFormRow& row = mesh_form_row(format);
  if (row.files == nullptr)
    return {path};
  // The name without the form's extension it ends in, in any case.
  std::string base = path;
  const std::string lower = lower_case(path);
  for (const char* extension : row.info.extensions) {
    if (lower.ends_with(extension)) {
      base.resize(path.size() - std::string_view(extension).size());
      break;
    }
  }
  std::vector<std::string> paths;
  for (const std::string& extension : row.files(mesh, options))
    paths.push_back(base + extension);
  return paths;
}

std::string with_article(std::string_view title) {
  // "an" before a vowel, and before an acronym whose first letter is spoken with one (SF7, SDDS,
  // HFSS): F, H, L, M, N, R, S, X followed by another capital.
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const bool vowel =
      !title.empty() && std::string_view("AEIOUaeiou").find(title[0]) != std::string_view::npos;
  const bool spoken_vowel = title.size() > 1 && upper(title[1]) &&
                            std::string_view("FHLMNRSX").find(title[0]) != std::string_view::npos;
  std::string text = vowel || spoken_vowel ? "an " : "a ";
  text.append(title);
  return text;
}

OutputMode mesh_output_mode(MeshForm form) {
  return mesh_form_row(form).by_name ? OutputMode::replace_by_rename : OutputMode::replace;
}

const char* mesh_form_name(MeshForm form) {
  return mesh_form_info(form).name;
}

} // namespace norvalex
