// ANSYS HFSS's field-calculator exports of a field on a grid: a line `Grid Output Min: [...]
// Max: [...] Grid Size: [...]`, a line `X, Y, Z, Complex Vector data "<Ex,Ey,Ez>"`, then one
// point a line, `x y z ReFx ImFx ReFy ImFy ReFz ImFz`, the coordinates in m whatever the first
// line's units, the fields as exp(+jwt) (taken as their conjugates). E and H come in two files.
#include "mesh/export_forms.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/point_table.h"
#include "text/number_scan.h"

#include <cctype>
#include <string>

namespace norvalex {

namespace {

constexpr std::string_view GRID_LINE = "Grid Output Min:";

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_scan_space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_scan_space(text.back()))
    text.remove_suffix(1);
  return text;
}

// True when `text` starts with `words`, in any case.
bool starts_with_words(std::string_view text, std::string_view words) {
  if (text.size() < words.size())
    return false;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(text[k])) !=
        std::tolower(static_cast<unsigned char>(words[k])))
      return false;
  }
  return true;
}

} // namespace

bool hfss_signature(const FileStart& start) {
  return trimmed(line_of_text(start.bytes, 0)).starts_with(GRID_LINE);
}

FieldMesh read_hfss_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  std::string line;
  if (!read_header_line(stream.get(), path, 1, line))
    raise_input_failure(path, 0, "%s: an empty file holds no field map", path);
  if (!trimmed(line).starts_with(GRID_LINE))
    raise_input_error(path, 1, "Not an HFSS grid export: \"Grid Output Min:\" expected");
  if (!read_header_line(stream.get(), path, 2, line))
    line.clear();
  // X, Y, Z, then the data's kind and its name in quotes.
  const std::string_view names = line;
  std::size_t p = 0;
  for (const std::string_view coordinate : {"X", "Y", "Z"}) {
    const std::size_t comma = names.find(',', p);
    if (comma == std::string_view::npos ||
        !starts_with_words(trimmed(names.substr(p, comma - p)), coordinate) ||
        trimmed(names.substr(p, comma - p)).size() != 1)
      raise_input_error(path, 2, "Not an HFSS grid export: X, Y, Z and the data's name expected");
    p = comma + 1;
  }
  const std::string_view data = trimmed(names.substr(p));
  const bool complex = starts_with_words(data, "Complex Vector data");
  if (!complex && !starts_with_words(data, "Vector data")) {
    raise_input_error(path, 2,
                      "Data %s: a field's vector data expected (Complex Vector data or Vector "
                      "data)",
                      quoted_text(data).c_str());
  }
  const std::size_t open = data.find('"');
  const std::string_view quoted = open == std::string_view::npos
                                      ? ""
                                      : data.substr(open + 1, data.find('"', open + 1) - open - 1);
  const std::string_view name = quoted.starts_with('<') ? quoted.substr(1) : quoted;
  char letter =
      name.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  if (std::string_view("EHB").find(letter) == std::string_view::npos) {
    if (!options.field) {
      raise_input_failure(path, 0,
                          "%s: its data %s names no field E, H or B: give the field, electric (E "
                          "in V/m) or magnetic (H in A/m)",
                          path, quoted_text(quoted).c_str());
    }
    letter = *options.field == FieldKind::electric ? 'E' : 'H';
  }
  const char* const unit = letter == 'E' ? "V/m" : letter == 'H' ? "A/m" : "T";
  PointColumns columns(path);
  for (int axis = 0; axis < 3; ++axis) {
    const auto a = static_cast<std::size_t>(axis);
    columns.add_coordinate(2, a, axis, std::string(1, "XYZ"[a]), "m");
    const std::string component = std::string(1, letter) + "xyz"[a];
    if (complex) {
      columns.add_field(2, 3 + 2 * a, letter, axis, ValuePart::real, "Re " + component, unit);
      columns.add_field(2, 4 + 2 * a, letter, axis, ValuePart::imaginary, "Im " + component, unit);
    } else {
      columns.add_field(2, 3 + a, letter, axis, ValuePart::whole, component, unit);
    }
  }
  const PointTable table = columns.table(2, complex ? 9 : 6, true);
  return read_table_mesh(path, stream.get(), {platform_tell(stream.get()), 2}, table, options,
                         MeshForm::hfss, "an HFSS export");
}

} // namespace norvalex
