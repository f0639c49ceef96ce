// Impact-T's derivative form (rfdataNNNN, IDs 1001-9999): two blocks, Ez then Bz, each a record
// "N zstart zend" and then N records "F F' F'' F'''" of the field and its first three
// z-derivatives at N equally spaced points, at most 10002 records of values in all. Read as the
// tracker reads it (list-directed); written with the derivatives of the quintic spline through
// the map's samples (axis_derivatives.h).
#include "diag/raise.h"
#include "mesh/axis_derivatives.h"
#include "mesh/impact_axis.h"
#include "mesh/impact_forms.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace norvalex {

namespace {

constexpr const char* FORM = "an Impact-T derivative file";
// The records of values that the tracker's arrays hold, both blocks together.
constexpr std::size_t MAX_LINES = 10002;

// A block as read: its grid and its values with their derivatives.
struct DerivativeBlock {
  FieldKind field;
  double start;
  double end;
  std::vector<AxisDerivatives> points;

  double step() const { return (end - start) / static_cast<double>(points.size() - 1); }
};

ImpactBlock impact_block(const DerivativeBlock& block) {
  ImpactBlock result;
  result.field = block.field;
  result.start = block.start;
  result.end = block.end;
  result.step = block.step();
  result.zero =
      std::all_of(block.points.begin(), block.points.end(), [](const AxisDerivatives& point) {
        return point == AxisDerivatives{0, 0, 0, 0};
      });
  for (const AxisDerivatives& point : block.points)
    result.samples.push_back(point[0]);
  // Between its points, the quintic of the values and first two derivatives at either end.
  result.at = [&block](double z) {
    const double step = block.step();
    const double x = (z - block.start) / step;
    const auto last = static_cast<double>(block.points.size() - 2);
    const double interval = std::clamp(std::floor(x), 0.0, last);
    const auto k = static_cast<std::size_t>(interval);
    return hermite_quintic(block.points[k], block.points[k + 1], step, x - interval);
  };
  return result;
}

} // namespace

bool impact_derivative_signature(const FileStart& start) {
  // A record of three numbers, the first a count, then one of four.
  const auto records = leading_records(start.bytes, 2, 5);
  return records && (*records)[0].size() == 3 && (*records)[1].size() == 4 &&
         (*records)[0][0] + 0.1 >= 2;
}

bool impact_derivative_named(std::string_view file_name) {
  const std::optional<long> id = rfdata_id(file_name);
  return id && *id >= 1001 && *id <= 9999;
}

FieldMesh read_impact_derivative_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  ListDirectedInput input(stream.get(), path);
  std::vector<DerivativeBlock> blocks;
  std::size_t lines = 0;
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    const std::string name = block_name(field);
    std::array<double, 3> header{};
    read_values(input, header, ("the " + name + " block's N, zstart and zend").c_str());
    const std::size_t count = read_count(input, header[0], 2, MAX_LINES - lines,
                                         ("The " + name + " block's point count").c_str());
    check_interval(input, name.c_str(), header[1], header[2]);
    DerivativeBlock& block = blocks.emplace_back(
        DerivativeBlock{field, header[1], header[2], std::vector<AxisDerivatives>(count)});
    const std::string what = name + " and its three derivatives";
    for (AxisDerivatives& point : block.points)
      read_values(input, point, what.c_str());
    lines += count;
  }
  std::vector<ImpactBlock> fields;
  for (const DerivativeBlock& block : blocks)
    fields.push_back(impact_block(block));
  FieldMesh mesh = impact_axis_mesh(fields, path, options, FORM);
  mesh.source.form = MeshForm::impact_derivative;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const DerivativeBlock& block = blocks[k];
    mesh.source.notes.push_back(
        {block_name(block.field), std::string(fields[k].zero ? "none (a zero block): " : "") +
                                      std::to_string(block.points.size()) + " points from " +
                                      number_text(block.start) + " to " + number_text(block.end) +
                                      " m, " + number_text(block.step()) + " m apart"});
  }
  return mesh;
}

namespace {

std::size_t checked_points(const FieldMesh& mesh, const ImpactFields& fields) {
  const AxisField& grid = fields.ez ? *fields.ez : *fields.bz;
  const std::size_t points = grid.values.size();
  if (points < SPLINE_MIN_SAMPLES)
    raise_mesh_error(mesh, "%s takes its derivatives from a spline of %zu points or more, not %zu",
                     FORM, SPLINE_MIN_SAMPLES, points);
  if (2 * points > MAX_LINES)
    raise_mesh_error(mesh,
                     "%s holds at most %zu lines of values, and the map's two blocks of %zu points "
                     "need %zu",
                     FORM, MAX_LINES, points, 2 * points);
  return points;
}

} // namespace

void check_impact_derivative(const FieldMesh& mesh, const MeshWriteOptions& options) {
  checked_points(mesh, impact_fields(mesh, options, FORM));
}

void write_impact_derivative(const FieldMesh& mesh, std::span<OutputFile> files,
                             const MeshWriteOptions& options, MeshWriteReport&) {
  const ImpactFields fields = impact_fields(mesh, options, FORM);
  const std::size_t points = checked_points(mesh, fields);
  const AxisField& grid = fields.ez ? *fields.ez : *fields.bz;
  TextOutput out(files[0]);
  for (const std::optional<AxisField>* field : {&fields.ez, &fields.bz}) {
    out.number(static_cast<double>(points));
    out.text(" ");
    out.number(grid.start + options.z_offset);
    out.text(" ");
    out.number(grid.end() + options.z_offset);
    out.end_line();
    const std::vector<AxisDerivatives> values =
        *field ? axis_derivatives((*field)->values, grid.step)
               : std::vector<AxisDerivatives>(points, AxisDerivatives{0, 0, 0, 0});
    for (const AxisDerivatives& point : values) {
      for (std::size_t k = 0; k < point.size(); ++k) {
        if (k > 0)
          out.text(" ");
        out.number(point[k]);
      }
      out.end_line();
    }
  }
  out.flush();
}

} // namespace norvalex
