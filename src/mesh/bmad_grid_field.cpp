#include "mesh/bmad_grid_field.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "text/number_scan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>

namespace norvalex {

namespace {

// Bmad's indices are Fortran integers.
constexpr std::int64_t INDEX_LIMIT = INT32_MAX;

// The keys the mesh keeps, each a bit of the reader's keys_ so that each is read once.
enum Key : unsigned {
  GEOMETRY = 1U << 0,
  FIELD_TYPE = 1U << 1,
  HARMONIC = 1U << 2,
  ANCHOR = 1U << 3,
  FIELD_SCALE = 1U << 4,
  PHASE = 1U << 5,
  ORIGIN = 1U << 6,
  SPACING = 1U << 7,
};
struct KeyName {
  std::string_view name;
  unsigned key; // 0: a key of Bmad's that the mesh does not hold, skipped
};
constexpr std::array<KeyName, 11> KEYS{{{"geometry", GEOMETRY},
                                        {"field_type", FIELD_TYPE},
                                        {"harmonic", HARMONIC},
                                        {"ele_anchor_pt", ANCHOR},
                                        {"field_scale", FIELD_SCALE},
                                        {"phi0_fieldmap", PHASE},
                                        {"r0", ORIGIN},
                                        {"dr", SPACING},
                                        {"master_parameter", 0},
                                        {"curved_ref_frame", 0},
                                        {"interpolation_order", 0}}};

const KeyName* find_key(std::string_view name) {
  const auto* found =
      std::find_if(KEYS.begin(), KEYS.end(), [&](const KeyName& key) { return key.name == name; });
  return found == KEYS.end() ? nullptr : found;
}

// Reads the grammar of one grid_field into a GridFieldText; every defect is an error at its line.
class GridFieldReader {
public:
  GridFieldReader(BmadLexer& lexer, GridFieldText& text) : lexer_(lexer), text_(text) {}

  void read_file() {
    if (lexer_.kind() == BmadToken::word && lower_case(lexer_.text()) == "grid_field") {
      lexer_.next();
      expect(BmadToken::equals, "\"=\" after grid_field");
    } else if (lexer_.kind() != BmadToken::open_brace) {
      raise("Expected \"grid_field = {\" or \"{\", found %s", lexer_.shown().c_str());
    }
    expect(BmadToken::open_brace, "\"{\" after grid_field =");
    while (lexer_.kind() != BmadToken::close_brace) {
      item();
      if (lexer_.kind() == BmadToken::comma)
        lexer_.next();
      else if (lexer_.kind() != BmadToken::close_brace)
        raise("Expected \",\" or \"}\" after an item of the grid_field, found %s",
              lexer_.shown().c_str());
    }
    lexer_.next();
    if (lexer_.kind() != BmadToken::end)
      raise("Expected the end of the file after the grid_field's \"}\", found %s",
            lexer_.shown().c_str());
  }

private:
  // An error at the current token's line.
  [[noreturn, gnu::format(NORVALEX_PRINTF, 2, 3)]] void raise(const char* format, ...) const {
    std::va_list args;
    va_start(args, format);
    const std::string text = format_whole_text(format, args);
    va_end(args);
    raise_input_error(lexer_.name(), lexer_.line(), "%s", text.c_str());
  }

  void expect(BmadToken kind, const char* what) {
    if (lexer_.kind() != kind)
      raise("Expected %s, found %s", what, lexer_.shown().c_str());
    lexer_.next();
  }

  // A word, in lower case.
  std::string word(const char* what) {
    if (lexer_.kind() != BmadToken::word)
      raise("Expected %s, found %s", what, lexer_.shown().c_str());
    std::string word = lower_case(lexer_.text());
    lexer_.next();
    return word;
  }

  // A finite number, read exactly as strtod reads its word.
  double number(const char* what) {
    if (lexer_.kind() != BmadToken::word)
      raise("Expected %s, found %s", what, lexer_.shown().c_str());
    const std::string_view text = lexer_.text();
    double value = 0;
    if (scan_number(text.data(), text.data() + text.size(), value).ec ==
        std::errc::invalid_argument)
      raise("Not a number: %s", quoted_text(text).c_str());
    if (!std::isfinite(value))
      raise("Not a finite number: %s", quoted_text(text).c_str());
    lexer_.next();
    return value;
  }

  // An index of pt: a whole number in Fortran's integer range.
  std::int32_t index() {
    if (lexer_.kind() != BmadToken::word)
      raise("Expected an index of pt, found %s", lexer_.shown().c_str());
    const std::string_view text = lexer_.text();
    const std::size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    const std::string_view digits = text.substr(sign);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      raise("Index is no whole number: %s", quoted_text(text).c_str());
    std::int64_t value = INDEX_LIMIT + 1;
    if (digits.size() <= 10)
      std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (value > INDEX_LIMIT)
      raise("Index out of range: %s", quoted_text(text).c_str());
    const bool negative = text[0] == '-';
    lexer_.next(); // which reuses the text's bytes
    return static_cast<std::int32_t>(negative ? -value : value);
  }

  // (r, z) or (x, y, z): r0 or dr.
  BmadVector vector(const char* key) {
    BmadVector vector;
    vector.line = lexer_.line();
    expect(BmadToken::open_paren, "\"(\" before the numbers of a vector");
    for (;;) {
      if (vector.count == BMAD_MAX_AXES)
        raise("%s of more than three numbers: two (r, z) or three (x, y, z) expected", key);
      vector.values[vector.count++] = number("a number");
      if (lexer_.kind() != BmadToken::comma)
        break;
      lexer_.next();
    }
    expect(BmadToken::close_paren, "\",\" or \")\" after a number of a vector");
    return vector;
  }

  void item() {
    const std::string key = word("a key or pt");
    if (key == "pt") {
      point();
      return;
    }
    const KeyName* known = find_key(key);
    const unsigned bit = known != nullptr ? known->key : 0;
    if ((keys_ & bit) != 0)
      raise("%s given twice", key.c_str());
    keys_ |= bit;
    expect(BmadToken::equals, ("\"=\" after " + key).c_str());
    switch (bit) {
    case GEOMETRY:
      geometry();
      break;
    case FIELD_TYPE: {
      const std::string type = word("electric, magnetic or mixed");
      if (type == "electric" || type == "magnetic" || type == "mixed") {
        text_.field_type = type == "electric"   ? BmadFieldType::electric
                           : type == "magnetic" ? BmadFieldType::magnetic
                                                : BmadFieldType::mixed;
        break;
      }
      raise("Unknown field_type %s: electric, magnetic or mixed expected",
            quoted_text(type).c_str());
    }
    case HARMONIC: {
      const double harmonic = number("the harmonic");
      if (!(harmonic >= 0 && harmonic <= static_cast<double>(INDEX_LIMIT)) ||
          harmonic != std::floor(harmonic))
        raise("harmonic is no whole number from 0 on: %s", number_text(harmonic).c_str());
      text_.harmonic = static_cast<std::int64_t>(harmonic);
      break;
    }
    case ANCHOR:
      text_.anchor = word("beginning, center or end");
      if (text_.anchor != "beginning" && text_.anchor != "center" && text_.anchor != "end")
        raise("Unknown ele_anchor_pt %s: beginning, center or end expected",
              quoted_text(text_.anchor).c_str());
      break;
    case FIELD_SCALE:
      text_.field_scale = number("the field scale");
      break;
    case PHASE:
      text_.phase = number("the phase");
      break;
    case ORIGIN:
      text_.origin = vector("r0");
      break;
    case SPACING:
      text_.spacing = vector("dr");
      break;
    default:
      skip_value(key);
    }
  }

  void geometry() {
    const std::string geometry = word("rotationally_symmetric_rz or xyz");
    if (geometry != "rotationally_symmetric_rz" && geometry != "xyz")
      raise("Unknown geometry %s: rotationally_symmetric_rz or xyz expected",
            quoted_text(geometry).c_str());
    text_.geometry = geometry == "xyz" ? BmadGeometry::xyz : BmadGeometry::rz;
  }

  // The value of a key the mesh does not hold, whatever it is: the tokens up to the "," or "}"
  // that ends the item, brackets matched.
  void skip_value(const std::string& key) {
    if (std::find(text_.skipped.begin(), text_.skipped.end(), key) == text_.skipped.end()) {
      if (text_.skipped.size() < BMAD_SKIPPED_NAMED)
        text_.skipped.push_back(key);
      else
        text_.more_skipped = true;
    }
    std::string open; // the closing brackets awaited
    for (bool first = true;; first = false) {
      const BmadToken kind = lexer_.kind();
      const bool ends_item = kind == BmadToken::comma || kind == BmadToken::close_brace;
      if (open.empty() && ends_item && !first)
        return;
      if (kind == BmadToken::end || (open.empty() && ends_item))
        raise("Expected a value for %s, found %s", key.c_str(), lexer_.shown().c_str());
      if (kind == BmadToken::open_paren || kind == BmadToken::open_brace) {
        open.push_back(kind == BmadToken::open_paren ? ')' : '}');
      } else if (kind == BmadToken::close_paren || kind == BmadToken::close_brace) {
        if (open.empty() || lexer_.text()[0] != open.back())
          raise("Unmatched %s in the value of %s", lexer_.shown().c_str(), key.c_str());
        open.pop_back();
      }
      lexer_.next();
    }
  }

  void point() {
    BmadPoint point{{0, 0, 0}, lexer_.line()};
    expect(BmadToken::open_paren, "\"(\" after pt");
    std::size_t axes = 0;
    for (;;) {
      if (axes == BMAD_MAX_AXES)
        raise("pt of more than three indices: two (r, z) or three (x, y, z) expected");
      point.index[axes++] = index();
      if (lexer_.kind() != BmadToken::comma)
        break;
      lexer_.next();
    }
    expect(BmadToken::close_paren, "\",\" or \")\" after an index of pt");
    const std::string name = bmad_point_name(point, axes);
    expect(BmadToken::equals, ("\"=\" after " + name).c_str());
    expect(BmadToken::open_paren, "\"(\" before the values of pt");
    std::size_t count = 0;
    for (;; ++count) {
      if (count == BMAD_MIXED_VALUES)
        raise("%s holds more than 6 values: 3 (one field) or 6 (E, then B) expected", name.c_str());
      expect(BmadToken::open_paren, "\"(\" before a complex value (re, im)");
      const double re = number("a number (re)");
      expect(BmadToken::comma, "\",\" between the parts of a complex value (re, im)");
      const double im = number("a number (im)");
      expect(BmadToken::close_paren, "\")\" after a complex value (re, im)");
      text_.values.emplace_back(re, im);
      if (lexer_.kind() != BmadToken::comma)
        break;
      lexer_.next();
    }
    ++count;
    expect(BmadToken::close_paren, "\",\" or \")\" after a value of pt");
    if (text_.points.empty()) {
      text_.count = count;
      text_.axes = axes;
    } else if (axes != text_.axes || count != text_.count) {
      const std::string first = bmad_point_name(text_.points.front(), text_.axes);
      const bool values = axes == text_.axes;
      raise_input_error(lexer_.name(), point.line, "%s %s %d %s, %s %d: every point %s as many",
                        name.c_str(), values ? "holds" : "has",
                        static_cast<int>(values ? count : axes), values ? "values" : "indices",
                        first.c_str(), static_cast<int>(values ? text_.count : text_.axes),
                        values ? "holds" : "has");
    }
    // The grid the indices span so far, checked before it grows past what a mesh holds.
    std::int64_t points = 1;
    std::string extents;
    for (std::size_t a = 0; a < axes; ++a) {
      text_.low[a] = std::min<std::int64_t>(text_.low[a], point.index[a]);
      text_.high[a] = std::max<std::int64_t>(text_.high[a], point.index[a]);
      const std::int64_t along = text_.high[a] - text_.low[a] + 1;
      extents += a == 0 ? "" : "*";
      extents += std::to_string(along);
      points = along > MESH_MAX_POINTS / points ? MESH_MAX_POINTS + 1 : points * along;
    }
    if (points > MESH_MAX_POINTS)
      raise_input_error(lexer_.name(), point.line,
                        "Grid too large: with %s it has %s points, more than %lld", name.c_str(),
                        extents.c_str(), static_cast<long long>(MESH_MAX_POINTS));
    text_.points.push_back(point);
  }

  BmadLexer& lexer_;
  GridFieldText& text_;
  unsigned keys_ = 0; // the Key bits of the keys read
};

} // namespace

std::string bmad_point_name(const BmadPoint& point, std::size_t axes) {
  std::string name = "pt(";
  for (std::size_t a = 0; a < axes; ++a) {
    name += a == 0 ? "" : ",";
    name += std::to_string(point.index[a]);
  }
  return name + ")";
}

void read_grid_field(BmadLexer& lexer, GridFieldText& text) {
  GridFieldReader(lexer, text).read_file();
}

bool starts_like_grid_field(std::string_view bytes) {
  std::size_t at = 0;
  // Past blanks, line ends and comments; false when the bytes end there.
  const auto skip = [&] {
    while (at < bytes.size()) {
      if (bytes[at] == '!')
        at = std::min(bytes.find('\n', at), bytes.size());
      else if (std::isspace(static_cast<unsigned char>(bytes[at])))
        ++at;
      else
        return true;
    }
    return false;
  };
  const auto name = [&] {
    const std::size_t first = at;
    while (at < bytes.size() &&
           (std::isalnum(static_cast<unsigned char>(bytes[at])) || bytes[at] == '_'))
      ++at;
    return lower_case(bytes.substr(first, at - first));
  };
  if (!skip())
    return false;
  if (bytes[at] != '{') {
    if (name() != "grid_field" || !skip() || bytes[at++] != '=' || !skip() || bytes[at] != '{')
      return false;
  }
  ++at;
  if (!skip())
    return false;
  const std::string key = name();
  if (!skip())
    return false;
  return key == "pt" ? bytes[at] == '(' : find_key(key) != nullptr && bytes[at] == '=';
}

} // namespace norvalex
