// Impact-T's Fourier form (rfdataN, element type 105): two blocks, Ez then Bz, each its count of
// values, zstart, zend and the period L, then the values a0, a1, b1, ..., one number a record,
// at most 401 numbers in all (the tracker's array, which it does not bound). Read as the tracker
// reads it (list-directed, the first number of each record) and given on equally spaced points;
// written with the coefficients of the trapezoid rule on the map's grid (fourier_series.h).
#include "diag/raise.h"
#include "mesh/fourier_series.h"
#include "mesh/impact_axis.h"
#include "mesh/impact_forms.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_text.h"
#include "mesh/real_fields.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace norvalex {

namespace {

constexpr const char* FORM = "an Impact-T Fourier file";
// The numbers the tracker's array holds, and the goal of the series' error.
constexpr std::size_t MAX_NUMBERS = 401;
constexpr double ERROR_GOAL = 1e-3;
// The ends of a field that differ by more than this part of its peak make its periodic series
// jump there.
constexpr double END_JUMP = 1e-2;

// The most values a block may have: the header of each block and the values of both fit the
// tracker's array, with a block of one value for a field that is not there.
std::size_t most_values(bool both_fields) {
  const std::size_t room = both_fields ? (MAX_NUMBERS - 8) / 2 : MAX_NUMBERS - 4 - 5;
  return room % 2 == 1 ? room : room - 1;
}

ImpactBlock series_block(const AxisSeries& series, double step) {
  ImpactBlock block;
  block.field = series.field;
  block.start = series.start;
  block.end = series.end;
  block.step = step;
  block.zero = true;
  for (const double value : series.values)
    block.zero = block.zero && value == 0;
  block.at = [&series](double z) {
    return series_value(series.values, series.period, z - series.start - series.period / 2);
  };
  return block;
}

std::string length_text(double metres) {
  return number_text(metres) + " m";
}

} // namespace

bool impact_fourier_signature(const FileStart& start) {
  // Four records of one number each, the first a count.
  const auto records = leading_records(start.bytes, 4, 2);
  if (!records)
    return false;
  for (const std::vector<double>& record : *records) {
    if (record.size() != 1)
      return false;
  }
  return (*records)[0][0] + 0.1 >= 1 && (*records)[0][0] < static_cast<double>(MAX_NUMBERS);
}

bool impact_fourier_named(std::string_view file_name) {
  const std::optional<long> id = rfdata_id(file_name);
  return id && *id >= 1 && *id <= 999;
}

FieldMesh read_impact_fourier_mesh(const char* path, const MeshReadOptions& options) {
  const std::int64_t points = options.points.value_or(401);
  if (points < 2 || points > MESH_MAX_POINTS)
    raise_input_failure(path, 0, "%s: a series is given on 2 points or more, not %lld", path,
                        static_cast<long long>(points));
  const OwnedFile stream = open_mesh_input(path);
  ListDirectedInput input(stream.get(), path);
  std::vector<AxisSeries> series;
  std::size_t numbers = 0;
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    const std::string name = block_name(field);
    std::array<double, 4> header{};
    const std::array<std::string, 4> what{"the " + name + " block's count", name + "'s zstart",
                                          name + "'s zend", name + "'s period L"};
    for (std::size_t k = 0; k < 4; ++k)
      read_values(input, {&header[k], 1}, what[k].c_str());
    const std::size_t count = read_count(input, header[0], 1, MAX_NUMBERS - numbers - 4,
                                         ("The " + name + " block's count").c_str());
    check_interval(input, name.c_str(), header[1], header[2]);
    if (!(header[3] > 0))
      raise_input_error(path, input.line_number(), "%s's period L is no positive length: %s",
                        name.c_str(), number_text(header[3]).c_str());
    AxisSeries& block = series.emplace_back(
        AxisSeries{field, header[1], header[2], header[3], std::vector<double>(count)});
    const std::string value = name + "'s coefficient";
    for (double& v : block.values)
      read_values(input, {&v, 1}, value.c_str());
    numbers += 4 + count;
  }
  // The shorter block with a field sets the spacing.
  double shortest = 0;
  std::vector<ImpactBlock> blocks;
  for (const AxisSeries& block : series) {
    const double length = block.end - block.start;
    blocks.push_back(series_block(block, length / static_cast<double>(points - 1)));
    if (!blocks.back().zero && (shortest == 0 || length < shortest))
      shortest = length;
  }
  FieldMesh mesh = impact_axis_mesh(blocks, path, options, "an Impact-T Fourier file");
  mesh.source.form = MeshForm::impact_fourier;
  for (const AxisSeries& block : series) {
    const std::size_t count = block.values.size();
    const bool zero = series_block(block, 1).zero;
    mesh.source.notes.push_back(
        {block_name(block.field),
         (zero ? std::string("none (a zero block) from ")
               : std::to_string(count) + " values, " + std::to_string(series_harmonics(count)) +
                     " harmonics, from ") +
             number_text(block.start) + " to " + length_text(block.end) + ", period " +
             length_text(block.period)});
  }
  const MeshAxis& z = mesh.axes[2];
  mesh.source.notes.push_back(
      {"axis", "the series on " + std::to_string(z.points) + " points " + length_text(z.spacing) +
                   " apart, " + std::to_string(points) +
                   (shortest == 0 ? std::string(" across the Ez block")
                                  : " across the shorter block of a field")});
  mesh.axis_series = std::move(series);
  return mesh;
}

namespace {

// The values of the series that the mesh was read from, when its fields on the axis are still
// theirs on its grid: then they are written back as they are.
bool mesh_is_its_series(const FieldMesh& mesh, const ImpactFields& fields) {
  const std::vector<AxisSeries>& series = mesh.axis_series;
  if (series.size() != 2)
    return false;
  const AxisField& grid = fields.ez ? *fields.ez : *fields.bz;
  for (const AxisSeries& block : series) {
    const std::optional<AxisField>& field =
        block.field == FieldKind::electric ? fields.ez : fields.bz;
    const std::vector<double> expected =
        block_on_grid(series_block(block, grid.step), grid.start, grid.step, grid.values.size());
    if (field ? field->values != expected
              : std::any_of(expected.begin(), expected.end(), [](double v) { return v != 0; }))
      return false;
  }
  return true;
}

void check_count(const FieldMesh& mesh, const ImpactFields& fields, std::size_t count) {
  const bool both = fields.ez && fields.bz;
  if (count % 2 == 0)
    raise_mesh_error(mesh,
                     "%s holds an odd count of values a block (a0, then pairs a_n, b_n), not %zu",
                     FORM, count);
  if (count > most_values(both))
    raise_mesh_error(
        mesh, "%s holds at most %zu numbers, so at most %zu values a block for %s, not %zu", FORM,
        MAX_NUMBERS, most_values(both), both ? "Ez and Bz" : "one field and a zero block", count);
  for (const std::optional<AxisField>* field : {&fields.ez, &fields.bz}) {
    if (!*field)
      continue;
    const std::size_t intervals = (*field)->values.size() - 1;
    if (series_harmonics(count) > (intervals - 1) / 2)
      raise_mesh_error(mesh,
                       "the map's %zu intervals along the axis tell at most %zu harmonics apart, "
                       "so at most %zu values a block, not %zu",
                       intervals, (intervals - 1) / 2, 2 * ((intervals - 1) / 2) + 1, count);
  }
}

void write_block(TextOutput& out, std::size_t count, double start, double end, double period,
                 std::span<const double> values) {
  out.number(static_cast<double>(count));
  out.end_line();
  for (const double x : {start, end, period}) {
    out.number(x);
    out.end_line();
  }
  for (const double value : values) {
    out.number(value);
    out.end_line();
  }
}

std::string figure(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", x);
  return text;
}

} // namespace

void check_impact_fourier(const FieldMesh& mesh, const MeshWriteOptions& options) {
  const ImpactFields fields = impact_fields(mesh, options, FORM);
  if (options.coefficients)
    check_count(mesh, fields,
                static_cast<std::size_t>(std::max<std::int64_t>(*options.coefficients, 0)));
}

void write_impact_fourier(const FieldMesh& mesh, std::span<OutputFile> files,
                          const MeshWriteOptions& options, MeshWriteReport& report) {
  const ImpactFields fields = impact_fields(mesh, options, FORM);
  TextOutput out(files[0]);
  const double offset = options.z_offset;
  if (!options.mirror && !options.coefficients && mesh_is_its_series(mesh, fields)) {
    for (const AxisSeries& block : mesh.axis_series)
      write_block(out, block.values.size(), block.start + offset, block.end + offset, block.period,
                  block.values);
    out.flush();
    return;
  }
  const AxisField& grid = fields.ez ? *fields.ez : *fields.bz;
  const double start = grid.start + offset;
  const double end = grid.end() + offset;
  const double period = grid.end() - grid.start;
  std::string name = "\"";
  name.append(files[0].name()).append("\"");
  for (const std::optional<AxisField>* field : {&fields.ez, &fields.bz}) {
    if (!*field) {
      const double zero = 0;
      write_block(out, 1, start, end, period, {&zero, 1});
      continue;
    }
    const std::vector<double>& samples = (*field)->values;
    const char* label = block_name((*field)->field);
    const FourierAnalysis analysis(samples);
    const std::size_t count =
        options.coefficients
            ? static_cast<std::size_t>(*options.coefficients)
            : analysis.fewest_values(most_values(fields.ez && fields.bz), ERROR_GOAL);
    const double error = analysis.error(count);
    if (!options.coefficients && error > ERROR_GOAL)
      report.warnings.push_back(name + ": the Fourier series of " + label + ", " +
                                std::to_string(count) + " values, deviates from the field by " +
                                figure(error) + " of its peak (root-mean-square), more than 1e-3");
    const double jump = std::abs(samples.front() - samples.back());
    if (!options.mirror && jump > END_JUMP * analysis.peak())
      report.warnings.push_back(
          name + ": " + label + " does not fall to zero at both ends (" +
          figure(samples.front() / analysis.peak()) + " and " +
          figure(samples.back() / analysis.peak()) +
          " of its peak), where its periodic series jumps: a half cell is mirrored about its "
          "first z with --mirror (mirror=True in Python)");
    const std::vector<double> values = analysis.values(count);
    write_block(out, count, start, end, period, values);
  }
  out.flush();
}

} // namespace norvalex
