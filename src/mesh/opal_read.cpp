// OPAL's 1-D and 2-D field maps read as the tracker reads them: line by line, `#` starting a
// comment anywhere, lines without words skipped, every line exactly the words it is read for,
// each number a whole word as C++ stream extraction takes it (decimal, no D exponents, counts
// integers), lines of at most 255 characters. Lengths in cm, frequencies in MHz, E in MV/m, H in
// A/m, B in T; an Astra variant's pairs in m and the field's own unit.
#include "diag/raise.h"
#include "mesh/axis_field.h"
#include "mesh/grid_text.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "platform/platform.h"
#include "text/number_scan.h"
#include "text/text_input.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <new>
#include <string>
#include <vector>

namespace norvalex {

namespace {

// Characters of a line that the tracker's reader takes: its 256-byte line buffer holds them and
// the terminating zero.
constexpr std::size_t OPAL_LINE_LIMIT = 255;

// A type of map, told by the first four characters of the first word of the file's first line
// that is not a comment (the Astra ones by the next three too, after "Astra").
struct OpalType {
  const char* prefix; // what the first word starts with
  const char* word;   // its whole name
  bool two_d;         // a 2-D map: XZ or ZX on its first line; else its Fourier terms
  bool astra;         // z F pairs in m after the header, as many as the file holds
  bool rf;            // a frequency line in MHz after the first range
  FieldKind field;    // of a 1-D map; a 2-D map holds the field along r and z (and H-phi)
};

constexpr OpalType OPAL_TYPES[] = {
    {"1DDy", "1DDynamic", false, false, true, FieldKind::electric},
    {"1DMa", "1DMagnetoStatic", false, false, false, FieldKind::magnetic},
    {"1DEl", "1DElectroStatic", false, false, false, FieldKind::electric},
    {"2DDy", "2DDynamic", true, false, true, FieldKind::electric},
    {"2DEl", "2DElectroStatic", true, false, false, FieldKind::electric},
    {"2DMa", "2DMagnetoStatic", true, false, false, FieldKind::magnetic},
    {"AstraDyn", "AstraDynamic", false, true, true, FieldKind::electric},
    {"AstraMag", "AstraMagnetoStatic", false, true, false, FieldKind::magnetic},
};

// The type that `word`, a first line's first word, names; null for none.
const OpalType* opal_type_of(std::string_view word) {
  for (const OpalType& type : OPAL_TYPES) {
    if (word.starts_with(type.prefix))
      return &type;
  }
  return nullptr;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The digits at `p`, past them.
const char* skip_digits(const char* p, const char* end) {
  while (p < end && is_digit(*p))
    ++p;
  return p;
}

// `word` as C++ stream extraction reads a double when it takes the whole word: a decimal number
// (no hexadecimal, inf or nan), one that does not overflow.
bool stream_double(std::string_view word, double& value) {
  const char* const end = word.data() + word.size();
  const char* p = word.data();
  if (p < end && (*p == '+' || *p == '-'))
    ++p;
  const char* const digits = p;
  p = skip_digits(p, end);
  bool any = p > digits;
  if (p < end && *p == '.') {
    const char* const fraction = ++p;
    p = skip_digits(p, end);
    any |= p > fraction;
  }
  if (!any)
    return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-'))
      ++p;
    const char* const exponent = p;
    p = skip_digits(p, end);
    if (p == exponent)
      return false;
  }
  if (p != end)
    return false;
  const NumberScanResult result = scan_number(word.data(), end, value);
  // An overflow fails the extraction; an underflow gives zero or a subnormal number.
  return result.ptr == end && (result.ec == std::errc() || !std::isinf(value));
}

// `word` as C++ stream extraction reads an int when it takes the whole word.
bool stream_int(std::string_view word, long long& value) {
  std::size_t k = !word.empty() && (word[0] == '+' || word[0] == '-') ? 1 : 0;
  if (k == word.size() || word.size() - k > 10)
    return false;
  long long magnitude = 0;
  for (; k < word.size(); ++k) {
    if (!is_digit(word[k]))
      return false;
    magnitude = magnitude * 10 + (word[k] - '0');
  }
  value = word[0] == '-' ? -magnitude : magnitude;
  return value >= INT_MIN && value <= INT_MAX;
}

// The file's lines that hold words once their comments are cut, one at a time.
class OpalLines {
public:
  OpalLines(std::FILE* stream, const char* path) : path_(path) {
    if (!input_.open(stream))
      raise_input_failure(path, ENOMEM, "Not enough memory");
  }

  // The next line that holds words; false at the end of the file.
  bool next() {
    words_.clear();
    while (words_.empty()) {
      if (!input_.read_line(buffer_)) {
        if (input_.failed()) {
          raise_input_failure(path_, input_.read_errno, "%s: %s", path_,
                              platform_error_text(input_.read_errno));
        }
        return false;
      }
      if (line_ == INT32_MAX)
        raise_input_error(path_, line_, "More than %d lines", INT32_MAX);
      ++line_;
      std::string_view text(buffer_.text.data(), buffer_.length);
      // A piece of a longer line is longer than the limit too.
      if (text.ends_with('\n'))
        text.remove_suffix(1);
      if (text.size() > OPAL_LINE_LIMIT) {
        raise_input_error(path_, line_,
                          "Line longer than %d characters, which the tracker's reader does "
                          "not take",
                          static_cast<int>(OPAL_LINE_LIMIT));
      }
      text = text.substr(0, text.find('#'));
      for (std::size_t k = 0; k < text.size();) {
        while (k < text.size() && is_scan_space(text[k]))
          ++k;
        const std::size_t start = k;
        while (k < text.size() && !is_scan_space(text[k]))
          ++k;
        if (k > start)
          words_.push_back(text.substr(start, k - start));
      }
    }
    return true;
  }

  // The words of the line, checked to be `count` (or `count + 1` where the last is `optional`).
  std::span<const std::string_view> words(std::size_t count, const char* what,
                                          bool optional = false) const {
    if (words_.size() != count && !(optional && words_.size() == count + 1)) {
      raise_input_error(path_, line_, "%d word%s, where the line holds %s (%s)",
                        static_cast<int>(words_.size()), words_.size() == 1 ? "" : "s",
                        optional
                            ? (std::to_string(count) + " or " + std::to_string(count + 1)).c_str()
                            : ("exactly " + std::to_string(count)).c_str(),
                        what);
    }
    return words_;
  }

  // The next line's words, `count` of them; a located error at the end of the file.
  std::span<const std::string_view> next_words(std::size_t count, const char* what) {
    if (!next())
      raise_input_error(path_, line_, "Unexpected end of file: a line of %s expected", what);
    return words(count, what);
  }

  double number(std::string_view word) const {
    double value = 0;
    if (!stream_double(word, value))
      raise_input_error(path_, line_, "Not a number: %s", quoted_text(word).c_str());
    return value;
  }

  long long integer(std::string_view word, const char* what) const {
    long long value = 0;
    if (!stream_int(word, value)) {
      raise_input_error(path_, line_, "Not an integer: %s (%s)", quoted_text(word).c_str(), what);
    }
    return value;
  }

  // A range line, `min max intervals`, checked as a grid's.
  GridRange range(const char* what) {
    const auto words = next_words(3, what);
    return grid_range(path_, line_, number(words[0]), number(words[1]),
                      static_cast<double>(integer(words[2], "a count of intervals")));
  }

  double frequency() {
    const auto words = next_words(1, "the frequency in MHz");
    return grid_frequency(path_, line_, number(words[0]));
  }

  // Nothing but comments may follow the values.
  void expect_end(std::size_t values) {
    if (next()) {
      raise_input_error(path_, line_, "More lines than the header's grid of %llu values",
                        static_cast<unsigned long long>(values));
    }
  }

  std::string_view first_word() const { return words_.front(); }
  std::int32_t line() const { return line_; }

private:
  const char* path_;
  TextInput input_;
  LineBuffer buffer_{};
  std::int32_t line_ = 0;
  std::vector<std::string_view> words_;
};

// A value times its factor into SI units, which must stay a number where the value is one.
double in_si(const OpalLines& lines, const char* path, double value, double factor) {
  const double si = value * factor;
  if (std::isinf(si) && std::isfinite(value))
    raise_input_error(path, lines.line(), "Value out of range: %s", number_text(value).c_str());
  return si;
}

// The tracker's normalisation, TRUE (its default) or FALSE in any case after the type's second
// word.
MeshNote normalize_note(std::span<const std::string_view> words, const OpalLines& lines,
                        const char* path) {
  std::string word = words.size() == 3 ? std::string(words[2]) : "TRUE";
  for (char& c : word)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (word != "TRUE" && word != "FALSE") {
    raise_input_error(path, lines.line(), "TRUE or FALSE expected at the end of the type line: %s",
                      quoted_text(words[2]).c_str());
  }
  return {"normalize", word == "TRUE"
                           ? "TRUE: the tracker scales the map to the element's peak field"
                           : "FALSE: the tracker multiplies the map by the element's amplitude"};
}

// A 1-D map's field: the values of the header's grid, or an Astra variant's pairs.
AxisField read_axis_field(OpalLines& lines, const OpalType& type, const char* path,
                          const MeshReadOptions& options, double& frequency,
                          std::vector<MeshNote>& notes) {
  if (type.astra) {
    if (type.rf)
      frequency = lines.frequency();
    std::vector<double> positions;
    std::vector<double> values;
    std::vector<std::int32_t> line_numbers;
    while (lines.next()) {
      const auto words = lines.words(2, "z in m and the field");
      if (positions.size() == static_cast<std::size_t>(MESH_MAX_POINTS)) {
        raise_input_error(path, lines.line(), "More points than a mesh holds (%lld)",
                          static_cast<long long>(MESH_MAX_POINTS));
      }
      positions.push_back(lines.number(words[0]));
      values.push_back(lines.number(words[1]));
      line_numbers.push_back(lines.line());
    }
    notes.push_back(sampling_note(positions.size(), options.resample));
    return sampled_axis_field(path, positions, std::move(values), line_numbers, options.resample,
                              type.field);
  }
  const GridRange z = lines.range("zbegin zend nz-1 (cm, cm, intervals)");
  if (type.rf)
    frequency = lines.frequency();
  // The r range, which the 1-D readers read and do not use.
  const auto r = lines.next_words(3, "rbegin rend nr-1 (cm, cm, intervals)");
  lines.number(r[0]);
  lines.number(r[1]);
  lines.integer(r[2], "a count of intervals");
  const bool electric = type.field == FieldKind::electric;
  AxisField field{type.field, z.min_cm / 100, spacing_of(z.min_cm, z.max_cm, z.intervals), {}};
  for (std::int64_t k = 0; k < z.points(); ++k) {
    const auto words = lines.next_words(1, electric ? "Ez in MV/m" : "Bz in T");
    field.values.push_back(in_si(lines, path, lines.number(words[0]), electric ? 1e6 : 1));
  }
  lines.expect_end(field.values.size());
  return field;
}

FieldMesh read_2d(OpalLines& lines, const OpalType& type, const char* path, bool zx,
                  std::vector<MeshNote>& notes) {
  const char* const z_what = "zbegin zend nz-1 (cm, cm, intervals)";
  const char* const r_what = "rbegin rend nr-1 (cm, cm, intervals)";
  const GridRange first = lines.range(zx ? r_what : z_what);
  const double frequency = type.rf ? lines.frequency() : 0;
  const GridRange second = lines.range(zx ? z_what : r_what);
  const GridRange& r = zx ? first : second;
  const GridRange& z = zx ? second : first;
  check_grid_size(path, lines.line(), first, second);
  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  // The axis is at r = 0 whatever rbegin says: the points lie from there, rbegin's spacing apart.
  set_grid_axis(mesh.axes[0], r);
  mesh.axes[0].origin = 0;
  set_grid_axis(mesh.axes[2], z);
  const FieldKind field = type.rf ? FieldKind::electric : type.field;
  if (add_component(mesh, field, "r") == nullptr || add_component(mesh, field, "z") == nullptr ||
      (type.rf && add_component(mesh, FieldKind::magnetic, "theta") == nullptr))
    raise_input_failure(path, ENOMEM, "Not enough memory");
  std::complex<double>* const along_r = mesh.components[0].values.data();
  std::complex<double>* const along_z = mesh.components[1].values.data();
  const PointOrder order{static_cast<std::size_t>(first.points()),
                         static_cast<std::size_t>(second.points()), zx};
  // Which word of a line holds which value: XZ `Ez Er |E| H` or `Fz Fr`, ZX `Er Ez H |E|` (the
  // tracker takes H from the third word) or `Fr Fz`.
  const std::size_t words_per_point = type.rf ? 4 : 2;
  const std::size_t r_word = zx ? 0 : 1;
  const std::size_t z_word = zx ? 1 : 0;
  const std::size_t h_word = zx ? 2 : 3;
  const char* const what = type.rf ? (zx ? "Er Ez H |E|" : "Ez Er |E| H")
                                   : (zx ? "the field along r and z" : "the field along z and r");
  const double factor = field == FieldKind::electric ? 1e6 : 1;
  const std::size_t points = mesh.point_count();
  for (std::size_t n = 0; n < points; ++n) {
    const auto words = lines.next_words(words_per_point, what);
    const std::size_t index = order.index(n);
    along_r[index] = {in_si(lines, path, lines.number(words[r_word]), factor), 0};
    along_z[index] = {in_si(lines, path, lines.number(words[z_word]), factor), 0};
    if (type.rf) {
      // E as cos(wt) and H as -sin(wt): B-theta = -i mu0 H.
      mesh.components[2].values[index] = {
          0, -in_si(lines, path, lines.number(words[h_word]), MESH_MU0)};
      lines.number(words[zx ? 3 : 2]);
    }
  }
  lines.expect_end(points);
  if (type.rf) {
    mesh.frequency = frequency;
    mesh.harmonic = 1;
  }
  if (zx && type.rf)
    notes.push_back({"columns", "Er Ez H |E|: the tracker takes H from the third"});
  if (r.min_cm != 0)
    notes.push_back({"r", "rbegin " + number_text(r.min_cm) +
                              " cm is at the axis, as the tracker "
                              "puts it"});
  return mesh;
}

FieldMesh read_opal(const char* path, const MeshReadOptions& options) {
  const OwnedFile stream = open_mesh_input(path);
  OpalLines lines(stream.get(), path);
  if (!lines.next())
    raise_input_error(path, lines.line(), "Not an OPAL map: no type line");
  const OpalType* type = opal_type_of(lines.first_word());
  if (type == nullptr) {
    raise_input_error(path, lines.line(),
                      "Not an OPAL map of a type read here: %s (1DDynamic, 1DMagnetoStatic, "
                      "1DElectroStatic, 2DDynamic, 2DElectroStatic, 2DMagnetoStatic, "
                      "AstraDynamic, AstraMagnetoStatic)",
                      quoted_text(lines.first_word()).c_str());
  }
  const auto first = lines.words(2,
                                 type->two_d ? "the type, XZ or ZX, then TRUE or FALSE"
                                             : "the type, its Fourier terms, then TRUE or FALSE",
                                 true);
  std::vector<MeshNote> notes;
  FieldMesh mesh;
  if (type->two_d) {
    if (first[1] != "XZ" && first[1] != "ZX") {
      raise_input_error(path, lines.line(), "XZ or ZX expected after the type: %s",
                        quoted_text(first[1]).c_str());
    }
    notes = {{"type", std::string(type->word) + " " + std::string(first[1])},
             normalize_note(first, lines, path)};
    mesh = read_2d(lines, *type, path, first[1] == "ZX", notes);
  } else {
    const long long terms = lines.integer(first[1], "the Fourier terms");
    if (terms < 1)
      raise_input_error(path, lines.line(), "Fourier terms fewer than 1: %lld", terms);
    notes = {{"type", type->word},
             normalize_note(first, lines, path),
             {"terms", std::to_string(terms) + " in the tracker's Fourier series (DC included)"}};
    double frequency = 0;
    const AxisField field = read_axis_field(lines, *type, path, options, frequency, notes);
    mesh = axis_mesh({&field, 1}, type->rf, frequency);
  }
  mesh.source.notes = std::move(notes);
  mesh.source.file = path;
  mesh.source.form = type->two_d ? MeshForm::opal_2d : MeshForm::opal_1d;
  mesh.source.problem = type->rf                             ? ProblemKind::rf
                        : type->field == FieldKind::electric ? ProblemKind::electrostatic
                                                             : ProblemKind::magnetostatic;
  return mesh;
}

// True when the first line of `bytes` that holds a word once its comment is cut names a type of
// the dimension `two_d`.
bool starts_like_opal(std::string_view bytes, bool two_d) {
  while (!bytes.empty()) {
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    bytes.remove_prefix(std::min(bytes.size(), line.size() + 1));
    line = line.substr(0, line.find('#'));
    std::size_t start = 0;
    while (start < line.size() && is_scan_space(line[start]))
      ++start;
    if (start == line.size())
      continue;
    std::size_t end = start;
    while (end < line.size() && !is_scan_space(line[end]))
      ++end;
    const OpalType* type = opal_type_of(line.substr(start, end - start));
    return type != nullptr && type->two_d == two_d;
  }
  return false;
}

} // namespace

bool opal_1d_signature(const FileStart& start) {
  return starts_like_opal(start.bytes, false);
}

bool opal_2d_signature(const FileStart& start) {
  return starts_like_opal(start.bytes, true);
}

FieldMesh read_opal_mesh(const char* path, const MeshReadOptions& options) {
  try {
    return read_opal(path, options);
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
}

} // namespace norvalex
