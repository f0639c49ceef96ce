// The text header of an SDDS file: the line SDDS1, then commands (&column ... &end, which may
// span lines) and comments (!), the byte order of binary data declared by "!# little-endian" or
// "!# big-endian"; &data ends it, and the data starts on the next line.
#include "mesh/sdds.h"

#include "diag/raise.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

struct TypeName {
  SddsType type;
  const char* name;
};
constexpr TypeName TYPE_NAMES[] = {
    {SddsType::i16, "short"},
    {SddsType::u16, "ushort"},
    {SddsType::i32, "long"},
    {SddsType::u32, "ulong"},
    {SddsType::i64, "long64"},
    {SddsType::u64, "ulong64"},
    {SddsType::f32, "float"},
    {SddsType::f64, "double"},
    {SddsType::f128, "longdouble"},
    {SddsType::string, "string"},
    {SddsType::character, "character"},
};

// The header's lines, one at a time, without their line ends.
class HeaderLines {
public:
  HeaderLines(const char* path, std::string_view bytes) : path_(path), bytes_(bytes) {}

  // False at the end of the bytes.
  bool next(std::string_view& line) {
    if (position_ >= bytes_.size())
      return false;
    if (number_ == std::numeric_limits<std::int32_t>::max())
      raise_input_error(path_, number_, "More than 2147483647 lines");
    const std::size_t feed = bytes_.find('\n', position_);
    const std::size_t end = feed == std::string_view::npos ? bytes_.size() : feed;
    line = bytes_.substr(position_, end - position_);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    position_ = end == bytes_.size() ? end : end + 1;
    ++number_;
    return true;
  }
  std::int32_t number() const { return number_; }
  std::size_t position() const { return position_; }
  const char* path() const { return path_; }

private:
  const char* path_;
  std::string_view bytes_;
  std::size_t position_ = 0;
  std::int32_t number_ = 0;
};

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// One command: its name and its fields, name=value, values unquoted.
struct Command {
  std::string name;
  std::vector<std::pair<std::string, std::string>> fields;

  const std::string* field(std::string_view key) const {
    for (const auto& [field_name, value] : fields) {
      if (field_name == key)
        return &value;
    }
    return nullptr;
  }
};

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Parses the command that `text` holds, from its '&': false when its &end is still to come (on
// a later line). A field that is not name=value throws.
bool parse_command(const HeaderLines& lines, std::string_view text, Command& command) {
  command = {};
  std::size_t p = 1;
  while (p < text.size() && is_word_char(text[p]))
    command.name += text[p++];
  for (;;) {
    while (p < text.size() &&
           (text[p] == ' ' || text[p] == '\t' || text[p] == ',' || text[p] == '\n'))
      ++p;
    if (p == text.size())
      return false;
    if (text[p] == '&') {
      if (text.substr(p, 4) == "&end")
        return true;
      raise_input_error(lines.path(), lines.number(), "Not an SDDS command: &end expected, not %s",
                        quoted_text(text.substr(p)).c_str());
    }
    const std::size_t key_start = p;
    std::string key;
    while (p < text.size() && is_word_char(text[p]))
      key += text[p++];
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
      ++p;
    if (key.empty() || p == text.size() || text[p] != '=') {
      raise_input_error(lines.path(), lines.number(),
                        "Not an SDDS command: name=value expected, not %s",
                        quoted_text(text.substr(key_start)).c_str());
    }
    ++p;
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
      ++p;
    std::string value;
    if (p < text.size() && text[p] == '"') {
      // A quoted value, in which a backslash keeps the character after it.
      for (++p;; ++p) {
        if (p >= text.size())
          return false;
        if (text[p] == '"')
          break;
        if (text[p] == '\\' && p + 1 < text.size())
          ++p;
        value += text[p];
      }
      ++p;
    } else {
      while (p < text.size() && std::string_view(" \t\n,&").find(text[p]) == std::string_view::npos)
        value += text[p++];
    }
    command.fields.emplace_back(std::move(key), std::move(value));
  }
}

// A whole number from `low` on, or none.
std::optional<std::int64_t> whole_number(const std::string& text, std::int64_t low) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low)
    return std::nullopt;
  return value;
}

// A flag of &data: 0 or 1, 0 when not given.
bool flag_of(const HeaderLines& lines, const Command& command, const char* key) {
  const std::string* text = command.field(key);
  if (text == nullptr)
    return false;
  if (*text != "0" && *text != "1")
    raise_input_error(lines.path(), lines.number(), "&data %s=%s: 0 or 1 expected", key,
                      quoted_text(*text).c_str());
  return *text == "1";
}

SddsItem item_of(const HeaderLines& lines, const Command& command) {
  const char* const what = command.name.c_str();
  const std::string* name = command.field("name");
  if (name == nullptr || name->empty())
    raise_input_error(lines.path(), lines.number(), "&%s without a name", what);
  SddsItem item{*name, {}, SddsType::f64, 1, command.field("fixed_value") != nullptr};
  if (const std::string* units = command.field("units"))
    item.units = *units;
  const std::string* type = command.field("type");
  if (type == nullptr)
    raise_input_error(lines.path(), lines.number(), "&%s %s without a type", what,
                      quoted_text(*name).c_str());
  const auto known = std::find_if(std::begin(TYPE_NAMES), std::end(TYPE_NAMES),
                                  [&](const TypeName& t) { return *type == t.name; });
  if (known == std::end(TYPE_NAMES))
    raise_input_error(lines.path(), lines.number(), "&%s %s: type %s is no SDDS type", what,
                      quoted_text(*name).c_str(), quoted_text(*type).c_str());
  item.type = known->type;
  if (const std::string* dimensions = command.field("dimensions")) {
    const std::optional<std::int64_t> count = whole_number(*dimensions, 1);
    if (!count || *count > 64)
      raise_input_error(lines.path(), lines.number(),
                        "&%s %s: dimensions=%s: a whole number from 1 to 64 expected", what,
                        quoted_text(*name).c_str(), quoted_text(*dimensions).c_str());
    item.dimensions = *count;
  }
  return item;
}

// The settings of &data; refuses what the reader does not take.
void read_data_command(const HeaderLines& lines, const Command& command, SddsHeader& header,
                       bool fixed_width) {
  if (const std::string* mode = command.field("mode")) {
    if (*mode != "ascii" && *mode != "binary")
      raise_input_error(lines.path(), lines.number(), "&data mode=%s: ascii or binary expected",
                        quoted_text(*mode).c_str());
    header.binary = *mode == "binary";
  }
  header.no_row_counts = flag_of(lines, command, "no_row_counts");
  header.column_major = flag_of(lines, command, "column_major_order");
  if (const std::string* count = command.field("additional_header_lines")) {
    const std::optional<std::int64_t> lines_count = whole_number(*count, 0);
    if (!lines_count)
      raise_input_error(lines.path(), lines.number(),
                        "&data additional_header_lines=%s: a whole number from 0 on expected",
                        quoted_text(*count).c_str());
    header.additional_header_lines = *lines_count;
  }
  if (!header.binary && header.column_major)
    raise_input_error(lines.path(), lines.number(), "ASCII data in column-major order is not read");
  if (!header.binary && fixed_width)
    raise_input_error(lines.path(), lines.number(),
                      "ASCII columns of a field_length (fixed widths) are not read");
}

} // namespace

const char* sdds_type_name(SddsType type) {
  for (const TypeName& known : TYPE_NAMES) {
    if (known.type == type)
      return known.name;
  }
  return "";
}

SddsHeader read_sdds_header(const char* path, std::string_view bytes) {
  HeaderLines lines(path, bytes);
  std::string_view line;
  const bool first = lines.next(line);
  line = trimmed(line);
  if (!first || line != "SDDS1") {
    if (line.starts_with("SDDS") && line.size() > 4 &&
        std::all_of(line.begin() + 4, line.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
      raise_input_error(path, lines.number(), "SDDS version %s: version 1 is read",
                        quoted_text(line.substr(4)).c_str());
    raise_input_error(path, lines.number(), "Not an SDDS file: its first line is not SDDS1");
  }
  SddsHeader header;
  bool fixed_width = false;
  while (lines.next(line)) {
    if (line.starts_with("!")) {
      const std::string_view comment = trimmed(line.substr(1));
      if (comment == "# little-endian" || comment == "# big-endian")
        header.big_endian = comment == "# big-endian";
      continue;
    }
    std::string text(trimmed(line));
    if (text.empty())
      continue;
    if (text[0] != '&')
      raise_input_error(path, lines.number(),
                        "Not an SDDS header line: a command (&column, ...) or a comment (!) "
                        "expected");
    Command command;
    while (!parse_command(lines, text, command)) {
      if (!lines.next(line))
        raise_input_error(path, lines.number(), "The header ends in a command without &end");
      text += '\n';
      text += line;
    }
    const std::string& name = command.name;
    if (name == "description" || name == "associate")
      continue;
    if (name == "column" || name == "parameter" || name == "array") {
      SddsItem item = item_of(lines, command);
      if (name == "column") {
        if (find_sdds_column(header, item.name))
          raise_input_error(path, lines.number(), "Two columns named %s",
                            quoted_text(item.name).c_str());
        const std::string* width = command.field("field_length");
        fixed_width |= width != nullptr && *width != "0";
        header.columns.push_back(std::move(item));
      } else {
        (name == "parameter" ? header.parameters : header.arrays).push_back(std::move(item));
      }
      continue;
    }
    if (name == "include")
      raise_input_error(path, lines.number(), "&include: a header in other files is not read");
    if (name != "data")
      raise_input_error(path, lines.number(), "&%s is no SDDS command",
                        escape_control_bytes(name).c_str());
    read_data_command(lines, command, header, fixed_width);
    header.data_start = lines.position();
    header.header_lines = lines.number();
    return header;
  }
  raise_input_error(path, lines.number(), "The header ends without &data");
}

std::optional<std::size_t> find_sdds_column(const SddsHeader& header, std::string_view name) {
  for (std::size_t k = 0; k < header.columns.size(); ++k) {
    if (header.columns[k].name == name)
      return k;
  }
  return std::nullopt;
}

} // namespace norvalex
