#include "mesh/impact_axis.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/real_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace norvalex {

std::optional<long> rfdata_id(std::string_view file_name) {
  constexpr std::string_view PREFIX = "rfdata";
  if (!file_name.starts_with(PREFIX))
    return std::nullopt;
  const std::string_view digits = file_name.substr(PREFIX.size());
  if (digits.empty() || digits.size() > 6 || digits[0] == '0')
    return std::nullopt;
  long id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return id;
}

std::optional<std::vector<std::vector<double>>>
leading_records(std::string_view bytes, std::size_t count, std::size_t most) {
  std::vector<std::vector<double>> records;
  while (records.size() < count && !bytes.empty()) {
    const std::size_t feed = bytes.find('\n');
    const std::string_view line = bytes.substr(0, feed);
    // A last line cut by the end of the bytes read tells nothing.
    if (feed == std::string_view::npos)
      return std::nullopt;
    bytes.remove_prefix(feed + 1);
    std::vector<double> values(most);
    const ListItems items = scan_list_items(line, values);
    if (!items.bad.empty())
      return std::nullopt;
    if (items.count == 0 && !items.slash)
      continue; // a blank record
    values.resize(items.count);
    records.push_back(std::move(values));
  }
  if (records.size() < count)
    return std::nullopt;
  return records;
}

void read_values(ListDirectedInput& input, std::span<double> values, const char* what) {
  const std::size_t got = input.read(values);
  for (std::size_t k = 0; k < got; ++k) {
    if (!std::isfinite(values[k]))
      raise_input_error(input.name(), input.line_number(), "%s: no finite number: %s", what,
                        number_text(values[k]).c_str());
  }
  if (got < values.size() && input.at_end())
    raise_input_error(input.name(), input.line_number(), "Unexpected end of file: %s expected",
                      what);
  if (got < values.size())
    raise_input_error(input.name(), input.line_number(),
                      "Too few values before the slash: %s needs %zu", what, values.size());
}

std::size_t read_count(const ListDirectedInput& input, double x, std::size_t least,
                       std::size_t most, const char* what) {
  const double count = std::floor(x + 0.1);
  if (!(count >= static_cast<double>(least) && count <= static_cast<double>(most)))
    raise_input_error(input.name(), input.line_number(), "%s is no count from %zu to %zu: %s", what,
                      least, most, number_text(x).c_str());
  return static_cast<std::size_t>(count);
}

std::vector<double> block_on_grid(const ImpactBlock& block, double origin, double step,
                                  std::size_t count) {
  std::vector<double> values(count, 0.0);
  if (block.zero)
    return values;
  // A block of its own points on this grid gives them as they are.
  const double offset = std::round((block.start - origin) / step);
  const bool on_grid = !block.samples.empty() && block.step == step &&
                       std::abs((block.start - origin) / step - offset) <= 1e-6;
  const double tolerance = 1e-6 * step;
  for (std::size_t k = 0; k < count; ++k) {
    const double z = origin + static_cast<double>(k) * step;
    if (z < block.start - tolerance || z > block.end + tolerance)
      continue;
    const double j = static_cast<double>(k) - offset;
    values[k] = on_grid && j >= 0 && j < static_cast<double>(block.samples.size())
                    ? block.samples[static_cast<std::size_t>(j)]
                    : block.at(std::clamp(z, block.start, block.end));
  }
  return values;
}

const char* block_name(FieldKind field) {
  return field == FieldKind::electric ? "Ez" : "Bz";
}

void check_interval(const ListDirectedInput& input, const char* name, double start, double end) {
  if (!(end > start) || !std::isfinite(end - start))
    raise_input_error(input.name(), input.line_number(),
                      "%s's interval is not from a zstart to a larger zend: %s %s", name,
                      number_text(start).c_str(), number_text(end).c_str());
}

FieldMesh impact_axis_mesh(std::span<const ImpactBlock> blocks, const char* path,
                           const MeshReadOptions& options, const char* form) {
  std::vector<const ImpactBlock*> present;
  for (const ImpactBlock& block : blocks) {
    if (!block.zero)
      present.push_back(&block);
  }
  const bool none = present.empty();
  if (none)
    present.push_back(&blocks.front());
  const ImpactBlock& reference = **std::min_element(
      present.begin(), present.end(),
      [](const ImpactBlock* a, const ImpactBlock* b) { return a->step < b->step; });
  const double step = reference.step;
  double low = reference.start;
  double high = reference.end;
  for (const ImpactBlock* block : present) {
    low = std::min(low, block->start);
    high = std::max(high, block->end);
  }
  // Whole steps from the reference's first point to either end, a point within a millionth of a
  // step of an end counting as on it.
  const double before = std::floor((reference.start - low) / step + 1e-6);
  const double after = std::floor((high - reference.start) / step + 1e-6);
  const double points = before + after + 1;
  if (!(points <= static_cast<double>(MESH_MAX_POINTS))) {
    raise_input_failure(path, 0,
                        "%s: its fields from %s to %s m at the spacing of its shorter block, %s m, "
                        "need more than %lld points",
                        path, number_text(low).c_str(), number_text(high).c_str(),
                        number_text(step).c_str(), static_cast<long long>(MESH_MAX_POINTS));
  }
  const double origin = reference.start - before * step;
  const auto count = static_cast<std::size_t>(points);
  std::vector<AxisField> fields;
  try {
    for (const ImpactBlock* block : present) {
      fields.push_back(
          {block->field, origin, step,
           none ? std::vector<double>(count, 0.0) : block_on_grid(*block, origin, step, count)});
    }
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  const bool electric = !none && present.front()->field == FieldKind::electric;
  const bool magnetic = !none && present.back()->field == FieldKind::magnetic;
  const bool rf = electric || none;
  FieldMesh mesh = axis_mesh(fields, rf, 0);
  set_problem(mesh, path, options, rf, electric, magnetic, form);
  mesh.source.file = path;
  return mesh;
}

ImpactFields impact_fields(const FieldMesh& mesh, const MeshWriteOptions& options,
                           const char* form) {
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  if (along.points < 2 || !(along.spacing > 0))
    raise_mesh_error(mesh, "%s needs two points or more along the axis, increasing", form);
  ImpactFields fields;
  for (const FieldKind kind : {FieldKind::electric, FieldKind::magnetic}) {
    if (mesh.component(kind, along.label) == nullptr)
      continue;
    AxisField field = axis_field(mesh, kind, form);
    for (const double value : field.values) {
      if (!std::isfinite(value))
        raise_mesh_error(mesh, "%s holds finite values, not %s", form, number_text(value).c_str());
    }
    if (options.mirror)
      field = mirrored(field);
    (kind == FieldKind::electric ? fields.ez : fields.bz) = std::move(field);
  }
  return fields;
}

} // namespace norvalex
