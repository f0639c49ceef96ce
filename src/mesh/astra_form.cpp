// ASTRA's 1-D files: an RF cavity's Ez or a solenoid's Bz along the axis, as lines of two
// numbers `z F`, z in m and increasing, no header. The tracker divides the field by its largest
// magnitude and scales it to the element's peak, so a file keeps its values in whatever unit it
// has: they are read, and written, as V/m or T. The file does not say which field it holds, nor
// a cavity's frequency.
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/real_fields.h"
#include "text/number_input.h"
#include "text/number_scan.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace norvalex {

namespace {

constexpr const char* FORM = "an ASTRA file";

AxisField checked_field(const FieldMesh& mesh, const MeshWriteOptions& options) {
  AxisField field = axis_field_for_writing(mesh, axis_field_kind(mesh), options, FORM);
  for (const double value : field.values) {
    if (value != 0)
      return field;
  }
  raise_mesh_error(mesh, "the field on the axis is 0 everywhere, which the tracker divides by");
}

FieldMesh read_astra(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  NumberInput input(stream.get(), path);
  std::vector<double> positions;
  std::vector<double> values;
  std::vector<std::int32_t> lines;
  std::array<double, 4> numbers{};
  for (std::ptrdiff_t count; (count = input.read_line(numbers)) >= 0;) {
    if (count == 0)
      continue;
    if (count == 4 && positions.empty()) {
      raise_input_error(path, input.line_number(),
                        "A travelling-wave file (z1 z2 n m before the pairs) is not read, only "
                        "a standing wave's or a solenoid's");
    }
    if (count != 2) {
      raise_input_error(path, input.line_number(),
                        "%s numbers, where a line holds two (z in m and the field)",
                        count > 4 ? "More than four" : std::to_string(count).c_str());
    }
    if (positions.size() == static_cast<std::size_t>(MESH_MAX_POINTS)) {
      raise_input_error(path, input.line_number(), "More points than a mesh holds (%lld)",
                        static_cast<long long>(MESH_MAX_POINTS));
    }
    positions.push_back(numbers[0]);
    values.push_back(numbers[1]);
    lines.push_back(input.line_number());
  }
  // The file does not say: a cavity's Ez unless a solenoid's Bz is asked for.
  const FieldKind field = options.field.value_or(FieldKind::electric);
  const bool rf = field == FieldKind::electric;
  const AxisField axis =
      sampled_axis_field(path, positions, std::move(values), lines, options.resample, field);
  FieldMesh mesh = axis_mesh({&axis, 1}, rf, 0);
  set_problem(mesh, path, options, rf, rf, !rf, "an ASTRA cavity file");
  mesh.source.file = path;
  mesh.source.form = MeshForm::astra;
  mesh.source.notes = {{"field", rf ? "Ez of an RF cavity (the file does not say; the magnetic "
                                      "field is a solenoid's Bz)"
                                    : "Bz of a solenoid"},
                       sampling_note(positions.size(), options.resample)};
  return mesh;
}

} // namespace

// Lines of two numbers, after a first line of four for a travelling wave: every complete line of
// the file's start, at least one pair.
bool astra_signature(const FileStart& start) {
  std::string_view bytes = start.bytes;
  // A line cut by the end of the start is left out.
  if (start.length != static_cast<std::int64_t>(bytes.size()) && bytes.size() == FILE_START_BYTES)
    bytes = bytes.substr(0, bytes.rfind('\n') + 1);
  bool pairs = false;
  bool first = true;
  while (!bytes.empty()) {
    const std::string_view line = bytes.substr(0, bytes.find('\n'));
    bytes.remove_prefix(std::min(bytes.size(), line.size() + 1));
    const int numbers = count_numbers(line, 5);
    if (numbers == 0)
      continue;
    if (numbers != 2 && !(numbers == 4 && first))
      return false;
    pairs |= numbers == 2;
    first = false;
  }
  return pairs;
}

FieldMesh read_astra_mesh(const char* path, const MeshReadOptions& options) {
  try {
    return read_astra(path, options);
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
}

void check_astra(const FieldMesh& mesh, const MeshWriteOptions& options) {
  checked_field(mesh, options);
}

void write_astra(const FieldMesh& mesh, std::span<OutputFile> files,
                 const MeshWriteOptions& options, MeshWriteReport&) {
  TextOutput out(files[0]);
  write_axis_pairs(out, checked_field(mesh, options), true);
  out.flush();
}

} // namespace norvalex
