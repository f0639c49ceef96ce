// The columns of a table of points as its header names them: the units that the 3-D exports
// write, and the check that the named columns make a table of points of a field.
#include "mesh/point_table.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "text/number_scan.h"

#include <algorithm>
#include <numbers>

namespace norvalex {

namespace {

struct UnitRow {
  const char* name;
  ColumnUnit unit;
};

// Spelt as the exports write them: CST's SI symbols, Opera's words in capitals. Case matters:
// "mV/m" is no "MV/m".
constexpr UnitRow UNITS[] = {
    {"m", {UnitKind::length, 1}},
    {"cm", {UnitKind::length, 1e-2}},
    {"mm", {UnitKind::length, 1e-3}},
    {"um", {UnitKind::length, 1e-6}},
    {"M", {UnitKind::length, 1}},
    {"METRE", {UnitKind::length, 1}},
    {"METER", {UnitKind::length, 1}},
    {"CM", {UnitKind::length, 1e-2}},
    {"CENTIMETRE", {UnitKind::length, 1e-2}},
    {"CENTIMETER", {UnitKind::length, 1e-2}},
    {"MM", {UnitKind::length, 1e-3}},
    {"MILLIMETRE", {UnitKind::length, 1e-3}},
    {"MILLIMETER", {UnitKind::length, 1e-3}},
    {"MICRON", {UnitKind::length, 1e-6}},
    {"INCH", {UnitKind::length, 0.0254}},
    {"V/m", {UnitKind::electric, 1}},
    {"kV/m", {UnitKind::electric, 1e3}},
    {"MV/m", {UnitKind::electric, 1e6}},
    {"V/cm", {UnitKind::electric, 1e2}},
    {"V/mm", {UnitKind::electric, 1e3}},
    {"V/M", {UnitKind::electric, 1}},
    {"KV/M", {UnitKind::electric, 1e3}},
    {"MV/M", {UnitKind::electric, 1e6}},
    {"V/CM", {UnitKind::electric, 1e2}},
    {"V/MM", {UnitKind::electric, 1e3}},
    {"A/m", {UnitKind::magnetizing, 1}},
    {"kA/m", {UnitKind::magnetizing, 1e3}},
    {"A/M", {UnitKind::magnetizing, 1}},
    {"KA/M", {UnitKind::magnetizing, 1e3}},
    {"OERSTED", {UnitKind::magnetizing, 1e3 / (4 * std::numbers::pi)}},
    {"T", {UnitKind::flux_density, 1}},
    {"mT", {UnitKind::flux_density, 1e-3}},
    {"Vs/m^2", {UnitKind::flux_density, 1}},
    {"G", {UnitKind::flux_density, 1e-4}},
    {"TESLA", {UnitKind::flux_density, 1}},
    {"GAUSS", {UnitKind::flux_density, 1e-4}},
    {"KGAUSS", {UnitKind::flux_density, 0.1}},
};

// What each kind of unit measures, for messages.
const char* measure_of(UnitKind kind) {
  switch (kind) {
  case UnitKind::length:
    return "a length";
  case UnitKind::electric:
    return "E (V/m)";
  case UnitKind::magnetizing:
    return "H (A/m)";
  case UnitKind::flux_density:
    break;
  }
  return "B (T)";
}

constexpr char AXIS_NAMES[] = "xyz";

std::string shown(std::string_view text) {
  return escape_control_bytes(text);
}

std::string component_name(FieldKind field, int axis) {
  return MeshComponent{field, std::string(1, AXIS_NAMES[axis]), {}}.name();
}

// The unit of column `name`, of `kind`: its factor; an unknown unit, or one of another kind,
// throws.
double factor_of(const char* path, std::int32_t line, std::string_view name, std::string_view unit,
                 UnitKind kind) {
  const std::optional<ColumnUnit> found = find_column_unit(unit);
  if (!found) {
    raise_input_error(path, line, "Unknown unit [%s] of column %s", shown(unit).c_str(),
                      shown(name).c_str());
  }
  if (found->kind != kind) {
    raise_input_error(path, line, "Column %s is in [%s], not a unit of %s", shown(name).c_str(),
                      shown(unit).c_str(), measure_of(kind));
  }
  return found->factor;
}

} // namespace

std::optional<ColumnUnit> find_column_unit(std::string_view name) {
  for (const UnitRow& row : UNITS) {
    if (name == row.name)
      return row.unit;
  }
  return std::nullopt;
}

void PointColumns::add_coordinate(std::int32_t line, std::size_t column, int axis,
                                  std::string_view name, std::string_view unit) {
  const auto a = static_cast<std::size_t>(axis);
  if (!coordinate_names_[a].empty()) {
    raise_input_error(path_, line, "Columns %s and %s both hold the coordinate %c",
                      shown(coordinate_names_[a]).c_str(), shown(name).c_str(), AXIS_NAMES[a]);
  }
  coordinate_names_[a] = name;
  table_.coordinates[a] = {column, std::string(unit),
                           factor_of(path_, line, name, unit, UnitKind::length)};
}

PointColumns::Component& PointColumns::component_of(FieldKind field, int axis) {
  for (Component& component : components_) {
    if (component.field == field && component.axis == axis)
      return component;
  }
  return components_.emplace_back(Component{field, axis, {}});
}

void PointColumns::add_field(std::int32_t line, std::size_t column, char letter, int axis,
                             ValuePart part, std::string_view name, std::string_view unit) {
  const UnitKind kind = letter == 'E'   ? UnitKind::electric
                        : letter == 'H' ? UnitKind::magnetizing
                                        : UnitKind::flux_density;
  const FieldKind field = letter == 'E' ? FieldKind::electric : FieldKind::magnetic;
  // H in A/m is held as B = mu0 H.
  const double factor =
      factor_of(path_, line, name, unit, kind) * (kind == UnitKind::magnetizing ? MESH_MU0 : 1);
  Component& component = component_of(field, axis);
  auto& [all, real, imaginary] = component.parts;
  Named& named = component.parts[static_cast<std::size_t>(part)];
  // A component comes whole or in a real and an imaginary part, each once.
  const Named* clash = !named.name.empty()        ? &named
                       : part != ValuePart::whole ? &all
                       : !real.name.empty()       ? &real
                                                  : &imaginary;
  if (!clash->name.empty()) {
    raise_input_error(path_, line, "Columns %s and %s both hold %s", shown(clash->name).c_str(),
                      shown(name).c_str(), component_name(field, axis).c_str());
  }
  named = {std::string(name), column, factor};
}

PointTable PointColumns::table(std::int32_t line, std::size_t columns, bool conjugate) {
  for (std::size_t a = 0; a < 3; ++a) {
    if (coordinate_names_[a].empty())
      raise_input_error(path_, line, "No column of the coordinate %c: x, y and z are needed",
                        AXIS_NAMES[a]);
  }
  if (components_.empty())
    raise_input_error(path_, line, "No column of a field: components of E, H or B are needed");
  const Component* whole = nullptr;
  const Component* complex = nullptr;
  for (const Component& component : components_) {
    const std::string name = component_name(component.field, component.axis);
    const auto& [all, real, imaginary] = component.parts;
    if (!all.name.empty()) {
      whole = &component;
    } else if (real.name.empty() || imaginary.name.empty()) {
      raise_input_error(path_, line, "%s has a %s part (%s) and no %s part", name.c_str(),
                        real.name.empty() ? "imaginary" : "real",
                        shown(real.name.empty() ? imaginary.name : real.name).c_str(),
                        real.name.empty() ? "real" : "imaginary");
    } else {
      complex = &component;
    }
    if (whole != nullptr && complex != nullptr) {
      raise_input_error(path_, line,
                        "Column %s holds a real field and %s a complex one: every component is "
                        "real (a static map) or every one complex (an RF map)",
                        shown(whole->parts[0].name).c_str(), shown(complex->parts[1].name).c_str());
    }
    ComponentColumns& columns_of = table_.components.emplace_back();
    columns_of.field = component.field;
    columns_of.axis = component.axis;
    if (!all.name.empty()) {
      columns_of.real = all.column;
      columns_of.real_factor = all.factor;
    } else {
      columns_of.real = real.column;
      columns_of.real_factor = real.factor;
      columns_of.imaginary = imaginary.column;
      columns_of.imaginary_factor = conjugate ? -imaginary.factor : imaginary.factor;
    }
  }
  table_.columns = columns;
  return table_;
}

bool read_header_line(std::FILE* stream, const char* path, std::int32_t line_number,
                      std::string& line) {
  constexpr std::size_t LONGEST = std::size_t{64} << 10;
  line.clear();
  int c = 0;
  while ((c = platform_getc_unlocked(stream)) != EOF && c != '\n') {
    if (line.size() == LONGEST)
      raise_input_error(path, line_number, "Header line longer than 65536 bytes");
    line += static_cast<char>(c);
  }
  if (c == EOF && line.empty())
    return false;
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return true;
}

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t p = 0;
  for (;;) {
    while (p < line.size() && is_scan_space(line[p]))
      ++p;
    if (p == line.size())
      return words;
    const std::size_t start = p;
    while (p < line.size() && !is_scan_space(line[p]))
      ++p;
    words.push_back(line.substr(start, p - start));
  }
}

std::string_view line_of_text(std::string_view text, int n) {
  std::size_t start = 0;
  for (int k = 0; k < n; ++k) {
    const std::size_t feed = text.find('\n', start);
    if (feed == std::string_view::npos)
      return {};
    start = feed + 1;
  }
  std::string_view line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  return line;
}

} // namespace norvalex
