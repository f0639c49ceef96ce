// The form of a file told by its content, else by its name, and the reading of any form as a
// mesh through the table of forms; the signatures of the TQS, openPMD, T7 and SF7 forms.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/openpmd.h"
#include "norvalex/tqs.h"
#include "platform/platform.h"
#include "text/number_scan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace norvalex {

namespace {

// How many numbers the first line of `text` holds, or -1 when it holds a word that is no
// number (or more numbers than `most`); at most its first 1 KiB is looked at.
int numbers_on_line(std::string_view text, int most) {
  return count_numbers(text.substr(0, std::min<std::size_t>(text.find('\n'), 1024)), most);
}

// True when the first value after three lines of `text` is a complex one, "(re,im)", as in
// Impact-T's 3-D form, whose first lines are three numbers each.
bool complex_after_header(std::string_view text) {
  for (int line = 0; line < 3; ++line) {
    const std::size_t feed = text.find('\n');
    if (feed == std::string_view::npos)
      return false;
    text.remove_prefix(feed + 1);
  }
  const std::size_t value = text.find_first_not_of(" \t\r\n");
  return value != std::string_view::npos && text[value] == '(';
}

// True when the second number of the first line of `text` is above its first, as a T7 range's
// maximum is above its minimum (an ASTRA 3-D file's first line of three numbers is a count of 2,
// then two coordinates, which lie below it but for a grid beyond 2 m).
bool range_increases(std::string_view text) {
  const std::string line(text.substr(0, std::min<std::size_t>(text.find('\n'), 1024)));
  char* stop = nullptr;
  const double first = std::strtod(line.c_str(), &stop);
  return std::strtod(stop, nullptr) > first;
}

// True when the first line of `text` is three numbers, as a T7 file's first line is, a range
// that increases, its second, where it has one, one number (the frequency) or three (a range):
// not four, as the second of Impact-T's derivative form is, nor a column's line of an Opera
// table; and no complex value follows the header.
bool starts_like_t7(std::string_view text) {
  const std::size_t feed = text.find('\n');
  if (numbers_on_line(text, 3) != 3 || !range_increases(text) || complex_after_header(text))
    return false;
  if (feed == std::string_view::npos || feed + 1 == text.size())
    return true;
  const int second = numbers_on_line(text.substr(feed + 1), 3);
  return second == 1 || second == 3;
}

// The text of an axis for a message: "x from 0 to 0.01 m in 11 points".
std::string axis_text(const MeshAxis& axis) {
  return axis.label + " from " + number_text(axis.origin) + " to " +
         number_text(axis.origin + static_cast<double>(axis.points - 1) * axis.spacing) + " m in " +
         std::to_string(axis.points) + (axis.points == 1 ? " point" : " points");
}

// Adds the fields of `other`, read from `with`, to `mesh`'s, on the same grid.
void add_fields_of(FieldMesh& mesh, FieldMesh&& other, const char* with) {
  const char* const first = mesh.source.file.c_str();
  double largest = 0;
  for (const MeshAxis& axis : mesh.axes)
    largest = std::max(largest, axis.spacing);
  const double tolerance = GRID_TOLERANCE * largest;
  for (std::size_t k = 0; k < mesh.axes.size(); ++k) {
    const MeshAxis& a = mesh.axes[k];
    const MeshAxis& b = other.axes[k];
    const auto end = [](const MeshAxis& axis) {
      return axis.origin + static_cast<double>(axis.points - 1) * axis.spacing;
    };
    if (a.label != b.label || a.points != b.points ||
        !(std::abs(a.origin - b.origin) <= tolerance) ||
        !(std::abs(end(a) - end(b)) <= tolerance)) {
      raise_input_failure(with, 0, "%s: its grid is not %s's: %s, not %s", with, first,
                          axis_text(b).c_str(), axis_text(a).c_str());
    }
  }
  if (is_rf(mesh) != is_rf(other)) {
    raise_input_failure(with, 0, "%s: %s map does not join %s's %s map", with,
                        is_rf(other) ? "an RF" : "a static", first, is_rf(mesh) ? "RF" : "static");
  }
  if (mesh.frequency != other.frequency || mesh.harmonic != other.harmonic) {
    raise_input_failure(with, 0, "%s: its frequency %s Hz is not %s's %s Hz", with,
                        number_text(other.frequency * static_cast<double>(other.harmonic)).c_str(),
                        first,
                        number_text(mesh.frequency * static_cast<double>(mesh.harmonic)).c_str());
  }
  for (MeshComponent& component : other.components) {
    if (mesh.component(component.field, component.axis) != nullptr)
      raise_input_failure(with, 0, "%s: %s holds %s too", with, first, component.name().c_str());
    mesh.components.push_back(std::move(component));
  }
  for (MeshColumn& column : other.columns) {
    for (const MeshColumn& own : mesh.columns) {
      if (own.name == column.name)
        raise_input_failure(with, 0, "%s: %s holds %s too", with, first,
                            escape_control_bytes(column.name).c_str());
    }
    mesh.columns.push_back(std::move(column));
  }
  order_components(mesh);
  if (!is_rf(mesh)) {
    bool electric = false;
    bool magnetic = false;
    for (const MeshComponent& component : mesh.components) {
      electric = electric || component.field == FieldKind::electric;
      magnetic = magnetic || component.field == FieldKind::magnetic;
    }
    mesh.source.problem = electric == magnetic ? ProblemKind::unknown
                          : electric           ? ProblemKind::electrostatic
                                               : ProblemKind::magnetostatic;
  }
  mesh.source.notes.push_back({"with", with});
}

// The readable forms, by the table's order.
std::string readable_titles() {
  std::string titles;
  for (const MeshFormInfo& info : mesh_forms()) {
    if (info.readable)
      titles += (titles.empty() ? "" : ", ") + std::string(info.title);
  }
  return titles;
}

} // namespace

bool tqs_signature(const FileStart& start) {
  const std::string_view bytes = start.bytes;
  if (bytes.size() < sizeof TQS_MAGIC)
    return false;
  std::uint32_t magic;
  std::memcpy(&magic, bytes.data(), sizeof magic);
  TqsBlockHeader block{};
  if (bytes.size() >= sizeof block)
    std::memcpy(&block, bytes.data(), sizeof block);
  return magic == TQS_MAGIC || tqs_is_creator_block(block.type, block.name);
}

// The HDF5 signature at the start, or after a user block of 512, 1024, 2048, ... bytes, as the
// openPMD reader accepts it.
bool openpmd_signature(const FileStart& start) {
  const auto signed_at = [](const char* bytes) {
    return std::memcmp(bytes, HDF5_SIGNATURE, sizeof HDF5_SIGNATURE) == 0;
  };
  if (start.bytes.size() >= sizeof HDF5_SIGNATURE && signed_at(start.bytes.data()))
    return true;
  for (std::int64_t offset = 512; offset + 8 <= start.length; offset *= 2) {
    char bytes[sizeof HDF5_SIGNATURE];
    if (platform_seek(start.stream, offset) != 0 ||
        !platform_read_record(bytes, sizeof bytes, start.stream))
      return false;
    if (signed_at(bytes))
      return true;
  }
  return false;
}

bool t7_signature(const FileStart& start) {
  return starts_like_t7(start.bytes);
}

// The reader looks for the line that holds "SF7" anywhere, the solver's "Program SF7 ..." line;
// an OPAL map, whose first line names its type, and a Bmad grid_field may name SF7 in a comment,
// and an SDDS file, told by its first line, in its header's text.
bool sf7_signature(const FileStart& start) {
  return start.bytes.find("SF7") != std::string_view::npos && !opal_1d_signature(start) &&
         !opal_2d_signature(start) && !sdds_signature(start) && !bmad_signature(start);
}

MeshForm detect_mesh_form(const char* path) {
  const OwnedFile stream(platform_open_input(path));
  if (!stream) {
    const int error_number = errno;
    // The base name of a map of several files.
    for (const MeshFormInfo& info : mesh_forms()) {
      const MeshFormRow& row = mesh_form_row(info.form);
      if (error_number == ENOENT && row.names_base != nullptr && row.names_base(path))
        return info.form;
    }
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  // Its first bytes are read here and again by the reader of its form, which a pipe cannot
  // give twice; and a FIFO's reader would wait for a writer.
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  if (platform_file_status(stream.get(), kind, length) == 0 && kind == PlatformFileKind::other)
    raise_input_failure(path, 0, "%s: not a regular file", path);
  const std::unique_ptr<char[]> buffer(new char[FILE_START_BYTES]);
  const std::size_t got = std::fread(buffer.get(), 1, FILE_START_BYTES, stream.get());
  if (got == 0 && std::ferror(stream.get())) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  if (got == 0)
    raise_input_failure(path, 0, "%s: an empty file holds no field map", path);
  const FileStart start{
      {buffer.get(), got}, stream.get(), kind == PlatformFileKind::regular ? length : -1};
  for (const MeshFormInfo& info : mesh_forms()) {
    const MeshFormRow& row = mesh_form_row(info.form);
    if (info.readable && row.signature != nullptr && row.signature(start))
      return info.form;
  }
  const MeshFormInfo* named = mesh_form_of_path(path);
  if (named != nullptr && named->readable)
    return named->form;
  raise_input_failure(path, 0, "%s: not a field map of a known form (%s)", path,
                      readable_titles().c_str());
}

FieldMesh read_mesh(const char* path, MeshForm form, const MeshReadOptions& options) {
  const MeshFormRow& row = mesh_form_row(form);
  if (row.read == nullptr)
    raise_input_failure(path, 0, "%s: %s is a form that is only written", path,
                        with_article(row.info.title).c_str());
  if (options.with_file == nullptr)
    return row.read(path, options);
  MeshReadOptions each = options;
  each.with_file = nullptr;
  FieldMesh mesh = row.read(path, each);
  add_fields_of(mesh, row.read(options.with_file, each), options.with_file);
  return mesh;
}

FieldMesh read_mesh(const char* path, const MeshReadOptions& options) {
  return read_mesh(path, detect_mesh_form(path), options);
}

} // namespace norvalex
