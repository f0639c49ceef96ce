// The table of forms, one row each, in the order of MeshForm.
#include "mesh/mesh_forms.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace norvalex {

namespace {

constexpr MeshHolds REAL_2D_MAPS{.one_d = false,
                                 .two_d = true,
                                 .rf = true,
                                 .static_fields = true,
                                 .cylindrical = true,
                                 .rectangular = true};
constexpr MeshHolds EVERY_MAP{.one_d = true,
                              .two_d = true,
                              .rf = true,
                              .static_fields = true,
                              .cylindrical = true,
                              .rectangular = true};

constexpr std::array<MeshFormRow, 5> rows{{
    {{MeshForm::tqs,
      "tqs",
      "TQS file",
      {".tqs", nullptr, nullptr},
      true,
      true,
      EVERY_MAP,
      MESH_OPTION_FREQUENCY},
     tqs_signature,
     read_tqs_mesh,
     check_tqs_arrays,
     write_tqs_arrays},
    {{MeshForm::openpmd,
      "openpmd",
      "openPMD file",
      {".h5", ".hdf5", nullptr},
      true,
      true,
      EVERY_MAP,
      0},
     openpmd_signature,
     read_openpmd_mesh,
     nullptr,
     write_openpmd_mesh,
     true},
    {{MeshForm::t7,
      "t7",
      "T7 file",
      {".t7", nullptr, nullptr},
      true,
      true,
      REAL_2D_MAPS,
      MESH_OPTION_FIELD | MESH_OPTION_GEOMETRY},
     t7_signature,
     read_t7_mesh,
     check_t7,
     write_t7},
    {{MeshForm::sf7,
      "sf7",
      "SF7 table",
      {".sf7", nullptr, nullptr},
      true,
      false,
      EVERY_MAP,
      MESH_OPTION_FREQUENCY},
     sf7_signature,
     read_sf7_mesh,
     nullptr,
     nullptr},
    {{MeshForm::on_axis,
      "onaxis",
      "on-axis table",
      {".txt", nullptr, nullptr},
      false,
      true,
      {.one_d = true,
       .two_d = true,
       .rf = true,
       .static_fields = true,
       .cylindrical = true,
       .rectangular = false},
      0},
     nullptr,
     nullptr,
     check_on_axis,
     write_on_axis},
}};

// Each row stands at its form's place, so that a form is its own index.
constexpr bool rows_in_order() {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (static_cast<std::size_t>(rows[k].info.form) != k)
      return false;
  }
  return true;
}
static_assert(rows_in_order());

const std::array<MeshFormInfo, rows.size()> infos = [] {
  std::array<MeshFormInfo, rows.size()> all{};
  for (std::size_t k = 0; k < rows.size(); ++k)
    all[k] = rows[k].info;
  return all;
}();

std::string lower_case(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

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
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return nullptr;
  const std::string extension = lower_case(path.substr(dot));
  for (const MeshFormInfo& info : infos) {
    for (const char* known : info.extensions) {
      if (known != nullptr && extension == known)
        return &info;
    }
  }
  return nullptr;
}

OutputMode mesh_output_mode(MeshForm form) {
  return mesh_form_row(form).by_name ? OutputMode::replace_by_rename : OutputMode::replace;
}

const char* mesh_form_name(MeshForm form) {
  return mesh_form_info(form).name;
}

} // namespace norvalex
