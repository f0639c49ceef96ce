// Opera-3d's tables of a field on a grid: a line `nx ny nz [k]`, one line a column `i NAME
// [UNIT]`, a line that starts with 0, then one point a line (z fastest, then y, then x, which
// the engine finds from the points all the same). Columns by name, each in the unit of its line;
// columns other than the coordinates and the fields (a potential, a modulus) are passed over.
#include "mesh/export_forms.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/point_table.h"

#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace norvalex {

namespace {

// A count written as a whole number of at most nine digits, or -1.
std::int64_t count_of(std::string_view word) {
  if (word.empty() || word.size() > 9)
    return -1;
  std::int64_t count = 0;
  for (const char c : word) {
    if (c < '0' || c > '9')
      return -1;
    count = count * 10 + (c - '0');
  }
  return count;
}

// The counts of a table's first line: three or four whole numbers.
bool counts_line(const std::vector<std::string_view>& words) {
  if (words.size() != 3 && words.size() != 4)
    return false;
  for (const std::string_view word : words) {
    if (count_of(word) < 0)
      return false;
  }
  return true;
}

// The unit in brackets in `text`, or none.
std::optional<std::string_view> bracketed(std::string_view text) {
  const std::size_t open = text.find('[');
  const std::size_t close = text.find(']', open);
  if (open == std::string_view::npos || close == std::string_view::npos)
    return std::nullopt;
  std::string_view unit = text.substr(open + 1, close - open - 1);
  while (!unit.empty() && unit.front() == ' ')
    unit.remove_prefix(1);
  while (!unit.empty() && unit.back() == ' ')
    unit.remove_suffix(1);
  return unit;
}

std::string upper_case(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

} // namespace

// Counts on the first line, and a second line `1 NAME ...`: no T7 file's (three numbers on
// its second line, or one).
bool opera_signature(const FileStart& start) {
  const std::vector<std::string_view> second = words_of(line_of_text(start.bytes, 1));
  return counts_line(words_of(line_of_text(start.bytes, 0))) && second.size() >= 2 &&
         second[0] == "1" && count_of(second[1]) < 0 &&
         std::isalpha(static_cast<unsigned char>(second[1][0]));
}

FieldMesh read_opera_mesh(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  std::string line;
  if (!read_header_line(stream.get(), path, 1, line))
    raise_input_failure(path, 0, "%s: an empty file holds no field map", path);
  const std::vector<std::string_view> counts = words_of(line);
  if (!counts_line(counts) || count_of(counts[0]) < 1 || count_of(counts[1]) < 1 ||
      count_of(counts[2]) < 1)
    raise_input_error(path, 1, "Not an Opera table: its counts of points nx ny nz expected");
  const std::array<std::int64_t, 3> stated{count_of(counts[0]), count_of(counts[1]),
                                           count_of(counts[2])};
  PointColumns columns(path);
  std::size_t column = 0;
  std::int32_t line_number = 1;
  for (;;) {
    if (!read_header_line(stream.get(), path, ++line_number, line)) {
      raise_input_error(path, line_number - 1,
                        "Unexpected end of file: a column's line or the 0 after the last expected");
    }
    const std::vector<std::string_view> words = words_of(line);
    if (!words.empty() && words[0] == "0")
      break;
    if (words.size() < 2 || words[0] != std::to_string(column + 1)) {
      raise_input_error(path, line_number, "Not a column's line: \"%zu NAME [UNIT]\" expected",
                        column + 1);
    }
    if (column == POINT_TABLE_MAX_COLUMNS)
      raise_input_error(path, line_number, "More than %zu columns", POINT_TABLE_MAX_COLUMNS);
    // X, Y, Z; BX, HX, EX and their y and z.
    const std::string name = upper_case(words[1]);
    const std::size_t axis =
        name.empty() ? std::string::npos : std::string("XYZ").find(name.back());
    const bool coordinate = name.size() == 1 && axis != std::string::npos;
    const bool field = name.size() == 2 && axis != std::string::npos &&
                       std::string_view("BHE").find(name[0]) != std::string_view::npos;
    if (coordinate || field) {
      const std::optional<std::string_view> unit = bracketed(
          std::string_view(line).substr(static_cast<std::size_t>(words[1].data() - line.data())));
      if (!unit) {
        raise_input_error(path, line_number, "Column %s has no unit in brackets",
                          escape_control_bytes(words[1]).c_str());
      }
      if (coordinate)
        columns.add_coordinate(line_number, column, static_cast<int>(axis), words[1], *unit);
      else
        columns.add_field(line_number, column, name[0], static_cast<int>(axis), ValuePart::whole,
                          words[1], *unit);
    }
    ++column;
  }
  PointTable table = columns.table(line_number, column, false);
  table.stated_points = stated;
  return read_table_mesh(path, stream.get(), {platform_tell(stream.get()), line_number}, table,
                         options, MeshForm::opera, "an Opera table");
}

} // namespace norvalex
