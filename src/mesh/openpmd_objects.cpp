// The objects of an openPMD file as the reader sees them: the members of a group, opened by their
// index; attributes, found, told what they hold and read after a check of their kind, count and
// length; and the texts of the reader's messages.
#include "diag/raise.h"
#include "mesh/openpmd_reading.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

namespace norvalex {

namespace {

// What a value of an HDF5 class is, one and several.
struct KindNames {
  H5T_class_t type_class;
  const char* singular;
  const char* plural;
};
constexpr KindNames KIND_NAMES[] = {
    {H5T_INTEGER, "an integer", "integers"},
    {H5T_FLOAT, "a floating-point number", "floating-point numbers"},
    {H5T_STRING, "a text", "texts"},
    {H5T_COMPOUND, "a compound value", "compound values"},
    {H5T_ENUM, "an enumerated value", "enumerated values"},
    {H5T_ARRAY, "an array", "arrays"},
    {H5T_VLEN, "a variable-length sequence", "variable-length sequences"},
    {H5T_REFERENCE, "a reference", "references"},
    {H5T_NO_CLASS, "a value of another kind", "values of another kind"}, // any other class
};

const KindNames& kind_names(H5T_class_t type_class) {
  for (const KindNames& names : KIND_NAMES) {
    if (names.type_class == type_class)
      return names;
  }
  return KIND_NAMES[std::size(KIND_NAMES) - 1];
}

// True when the file holds `bytes` somewhere: read in pieces, each searched with the end of the
// one before.
bool file_holds(const char* path, const std::string& bytes) {
  if (bytes.empty())
    return true;
  const OwnedFile input(platform_open_input(path));
  if (!input)
    return false;
  constexpr std::size_t PIECE = std::size_t{1} << 20;
  std::string window;
  std::vector<char> piece(PIECE);
  const std::boyer_moore_horspool_searcher searcher(bytes.begin(), bytes.end());
  for (;;) {
    const std::size_t read = std::fread(piece.data(), 1, PIECE, input.get());
    if (read == 0)
      return false;
    window.append(piece.data(), read);
    if (std::search(window.begin(), window.end(), searcher) != window.end())
      return true;
    window.erase(0, window.size() - std::min(window.size(), bytes.size() - 1));
  }
}

} // namespace

constexpr std::size_t SHOWN_BYTES = 64;

void Reading::require_held(const std::string& text, const std::string& what) const {
  if (!file_holds(path, text.substr(0, SHOWN_BYTES)))
    raise_damaged(*this, what);
}

std::string Reading::shown(const std::string& text, const std::string& what) const {
  require_held(text, what);
  return quoted_text(text);
}

std::string Reading::shown(const std::string& text, const Attribute& attribute) const {
  // The value's bytes, or as many as a message could have shown and some.
  constexpr std::size_t CHECKED = 4 * SHOWN_BYTES;
  const std::string& held = attribute.stored.empty() ? text : attribute.stored;
  if (!file_holds(path, held.substr(0, CHECKED)))
    raise_damaged(*this, damaged_attribute(attribute));
  return quoted_text(text);
}

void raise_damaged(const Reading& reading, const std::string& what) {
  raise_input_failure(reading.path, 0, DAMAGED_OBJECT, reading.path, what.c_str());
}

std::string extents_text(const hsize_t* dims, int rank) {
  if (rank == 0)
    return "()";
  std::string text;
  for (int k = 0; k < rank; ++k)
    text += (k ? " x " : "") + std::to_string(dims[k]);
  return text;
}

std::string extents_text(const std::array<std::int64_t, 3>& extents) {
  return std::to_string(extents[0]) + " x " + std::to_string(extents[1]) + " x " +
         std::to_string(extents[2]);
}

const char* kind_singular(H5T_class_t type_class) {
  return kind_names(type_class).singular;
}

const char* kind_plural(H5T_class_t type_class) {
  return kind_names(type_class).plural;
}

bool sane_number_type(hid_t type) {
  const std::size_t size = H5Tget_size(type);
  const std::size_t precision = H5Tget_precision(type);
  const int offset = H5Tget_offset(type);
  if (size == 0 || size > 16 || precision == 0 || offset < 0 ||
      precision + static_cast<std::size_t>(offset) > 8 * size)
    return false;
  if (H5Tget_class(type) != H5T_FLOAT)
    return true;
  std::size_t sign = 0, exponent = 0, exponent_size = 0, mantissa = 0, mantissa_size = 0;
  if (H5Tget_fields(type, &sign, &exponent, &exponent_size, &mantissa, &mantissa_size) < 0)
    return false;
  return sign < precision && exponent_size >= 1 && exponent_size <= 32 &&
         exponent + exponent_size <= precision && mantissa_size >= 1 &&
         mantissa + mantissa_size <= precision;
}

bool sane_value_type(hid_t type) {
  if (H5Tget_class(type) != H5T_COMPOUND)
    return sane_number_type(type);
  const std::size_t size = H5Tget_size(type);
  std::size_t ends[2] = {};
  std::size_t starts[2] = {};
  for (unsigned k = 0; k < 2; ++k) {
    const Hdf5Id member(H5Tget_member_type(type, k), H5Tclose);
    if (!member.valid() || !sane_number_type(member.get()))
      return false;
    starts[k] = H5Tget_member_offset(type, k);
    ends[k] = starts[k] + H5Tget_size(member.get());
    if (ends[k] > size)
      return false;
  }
  return ends[0] <= starts[1] || ends[1] <= starts[0];
}

Members list_members(const Reading& reading, hid_t group, const std::string& shown) {
  H5G_info_t info;
  if (H5Gget_info(group, &info) < 0)
    raise_damaged(reading, shown);
  return Members{group, shown, info.nlinks};
}

std::string member_name(const Reading& reading, const Members& members, hsize_t k) {
  const ssize_t size = H5Lget_name_by_idx(members.group, ".", H5_INDEX_NAME, H5_ITER_INC, k,
                                          nullptr, 0, H5P_DEFAULT);
  if (size < 0)
    raise_damaged(reading, members.shown);
  std::string name(static_cast<std::size_t>(size) + 1, '\0');
  if (H5Lget_name_by_idx(members.group, ".", H5_INDEX_NAME, H5_ITER_INC, k, name.data(),
                         name.size(), H5P_DEFAULT) < 0)
    raise_damaged(reading, members.shown);
  name.resize(static_cast<std::size_t>(size));
  return name;
}

Hdf5Id open_member(const Reading& reading, const Members& members, hsize_t k,
                   const std::string& shown) {
  H5L_info_t info;
  if (H5Lget_info_by_idx(members.group, ".", H5_INDEX_NAME, H5_ITER_INC, k, &info, H5P_DEFAULT) < 0)
    raise_damaged(reading, shown);
  if (info.type != H5L_TYPE_HARD)
    raise_input_failure(reading.path, 0, NOT_HARD_LINK, reading.path, shown.c_str());
  Hdf5Id object(H5Oopen_by_idx(members.group, ".", H5_INDEX_NAME, H5_ITER_INC, k, H5P_DEFAULT),
                H5Oclose);
  if (!object.valid())
    raise_damaged(reading, shown);
  return object;
}

const char* object_kind(hid_t object) {
  switch (H5Iget_type(object)) {
  case H5I_GROUP:
    return "a group";
  case H5I_DATASET:
    return "a dataset";
  case H5I_DATATYPE:
    return "a named datatype";
  default:
    return "an object of another kind";
  }
}

void require_group(const Reading& reading, hid_t object, const std::string& shown) {
  if (H5Iget_type(object) != H5I_GROUP)
    raise_input_failure(reading.path, 0, NOT_A_GROUP, reading.path, shown.c_str(),
                        object_kind(object));
}

std::string damaged_attribute(const Attribute& attribute) {
  return "attribute " + std::string(attribute.name) + " of " + attribute.owner;
}

std::optional<Attribute> find_attribute(const Reading& reading, hid_t object,
                                        const std::string& owner, const char* name) {
  Attribute attribute{name, owner, {}, {}};
  const htri_t exists = H5Aexists(object, name);
  if (exists < 0)
    raise_damaged(reading, damaged_attribute(attribute));
  if (exists == 0)
    return std::nullopt;
  attribute.id = Hdf5Id(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  if (!attribute.id.valid())
    raise_damaged(reading, damaged_attribute(attribute));
  attribute.type = Hdf5Id(H5Aget_type(attribute.id.get()), H5Tclose);
  const Hdf5Id space(H5Aget_space(attribute.id.get()), H5Sclose);
  if (!attribute.type.valid() || !space.valid())
    raise_damaged(reading, damaged_attribute(attribute));
  attribute.type_class = H5Tget_class(attribute.type.get());
  attribute.space_class = H5Sget_simple_extent_type(space.get());
  attribute.rank = H5Sget_simple_extent_ndims(space.get());
  if (attribute.rank < 0 ||
      H5Sget_simple_extent_dims(space.get(), attribute.dims, nullptr) != attribute.rank)
    raise_damaged(reading, damaged_attribute(attribute));
  attribute.count = attribute.space_class == H5S_NULL ? 0 : 1;
  // Only the messages use it: a product past 64 bits stays at the largest, never wraps to 0.
  constexpr hsize_t most = std::numeric_limits<hsize_t>::max();
  for (int k = 0; k < attribute.rank; ++k) {
    const hsize_t extent = attribute.dims[k];
    attribute.count =
        extent != 0 && attribute.count > most / extent ? most : attribute.count * extent;
  }
  return attribute;
}

Attribute need_attribute(const Reading& reading, hid_t object, const std::string& owner,
                         const char* name) {
  std::optional<Attribute> attribute = find_attribute(reading, object, owner, name);
  if (!attribute)
    raise_input_failure(reading.path, 0, MISSING_ATTRIBUTE, reading.path, owner.c_str(), name);
  return std::move(*attribute);
}

namespace {

// What the attribute holds, for a message: "2 integers", "a text", "a 2 x 3 array of ...".
std::string holds(const Attribute& attribute) {
  if (attribute.space_class == H5S_NULL || attribute.count == 0)
    return "no value";
  if (attribute.rank > 1)
    return "a " + extents_text(attribute.dims, attribute.rank) + " array of " +
           kind_plural(attribute.type_class);
  if (attribute.count == 1)
    return kind_singular(attribute.type_class);
  return std::to_string(attribute.count) + " " + kind_plural(attribute.type_class);
}

[[noreturn]] void raise_long_text(const Reading& reading, const Attribute& attribute) {
  raise_input_failure(reading.path, 0, LONG_TEXT, reading.path, attribute.name,
                      attribute.owner.c_str(), MAX_TEXT_BYTES);
}

} // namespace

void raise_attribute_kind(const Reading& reading, const Attribute& attribute,
                          const char* expected) {
  raise_input_failure(reading.path, 0, ATTRIBUTE_KIND, reading.path, attribute.name,
                      attribute.owner.c_str(), holds(attribute).c_str(), expected);
}

bool holds_count(const Attribute& attribute, hsize_t count) {
  if (attribute.space_class == H5S_SCALAR)
    return count == 1;
  return attribute.space_class == H5S_SIMPLE && attribute.rank == 1 && attribute.dims[0] == count;
}

std::vector<std::int64_t> read_integers(const Reading& reading, const Attribute& attribute,
                                        hsize_t count, const char* expected) {
  if (attribute.type_class != H5T_INTEGER || !holds_count(attribute, count))
    raise_attribute_kind(reading, attribute, expected);
  if (!sane_number_type(attribute.type.get()))
    raise_damaged(reading, damaged_attribute(attribute));
  std::vector<std::int64_t> values(count);
  if (H5Aread(attribute.id.get(), H5T_NATIVE_INT64, values.data()) < 0)
    raise_damaged(reading, damaged_attribute(attribute));
  return values;
}

std::vector<double> read_numbers(const Reading& reading, const Attribute& attribute, hsize_t count,
                                 const char* expected) {
  if ((attribute.type_class != H5T_INTEGER && attribute.type_class != H5T_FLOAT) ||
      !holds_count(attribute, count))
    raise_attribute_kind(reading, attribute, expected);
  if (!sane_number_type(attribute.type.get()))
    raise_damaged(reading, damaged_attribute(attribute));
  std::vector<double> values(count);
  if (H5Aread(attribute.id.get(), H5T_NATIVE_DOUBLE, values.data()) < 0)
    raise_damaged(reading, damaged_attribute(attribute));
  return values;
}

std::vector<std::string> read_texts(const Reading& reading, const Attribute& attribute,
                                    hsize_t count, const char* expected) {
  if (attribute.type_class != H5T_STRING || !holds_count(attribute, count))
    raise_attribute_kind(reading, attribute, expected);
  std::vector<std::string> texts;
  const hid_t file_type = attribute.type.get();
  const htri_t variable = H5Tis_variable_str(file_type);
  if (variable < 0)
    raise_damaged(reading, damaged_attribute(attribute));
  if (variable) {
    Hdf5Id memory_type(H5Tcopy(H5T_C_S1), H5Tclose);
    if (!memory_type.valid() || H5Tset_size(memory_type.get(), H5T_VARIABLE) < 0 ||
        H5Tset_cset(memory_type.get(), H5Tget_cset(file_type)) < 0)
      raise_damaged(reading, damaged_attribute(attribute));
    std::vector<char*> pointers(count, nullptr);
    // HDF5's copies are freed however the reading ends.
    struct FreedTexts {
      std::vector<char*>& pointers;
      ~FreedTexts() {
        for (char* pointer : pointers)
          H5free_memory(pointer);
      }
    } freed{pointers};
    if (H5Aread(attribute.id.get(), memory_type.get(), pointers.data()) < 0)
      raise_damaged(reading, damaged_attribute(attribute));
    for (const char* pointer : pointers)
      texts.emplace_back(pointer ? pointer : "");
  } else {
    // The bytes are in the file: more than it holds are a damage, not a long text.
    const std::size_t size = H5Tget_size(file_type);
    if (size == 0 || size > static_cast<std::uint64_t>(reading.file_length) / count)
      raise_damaged(reading, damaged_attribute(attribute));
    std::string bytes(size * count, '\0');
    if (H5Aread(attribute.id.get(), file_type, bytes.data()) < 0)
      raise_damaged(reading, damaged_attribute(attribute));
    attribute.stored = bytes;
    const bool space_padded = H5Tget_strpad(file_type) == H5T_STR_SPACEPAD;
    for (hsize_t k = 0; k < count; ++k) {
      std::string text = bytes.substr(k * size, size);
      text.resize(std::strlen(text.c_str()));
      while (space_padded && !text.empty() && text.back() == ' ')
        text.pop_back();
      texts.push_back(std::move(text));
    }
  }
  for (const std::string& text : texts) {
    if (text.size() > MAX_TEXT_BYTES)
      raise_long_text(reading, attribute);
  }
  return texts;
}

std::string read_text(const Reading& reading, const Attribute& attribute) {
  return read_texts(reading, attribute, 1, "a text")[0];
}

std::optional<double> optional_number(const Reading& reading, hid_t object,
                                      const std::string& owner, const char* name) {
  const std::optional<Attribute> attribute = find_attribute(reading, object, owner, name);
  if (!attribute)
    return std::nullopt;
  return read_numbers(reading, *attribute, 1, "a number")[0];
}

} // namespace norvalex
