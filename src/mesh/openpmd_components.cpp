// The openPMD reader's components: each checked (its shape, its kind of values, where and how
// much it stores, its units) before any array is had, the arrays of the grid bounded by what the
// file stores, and then filled.
#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"
#include "mesh/openpmd_reading.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

// The largest grid read when no component is a dataset that holds its values: constant groups
// and chunks never written take a few bytes for any number of points.
constexpr std::int64_t UNSTORED_MAX_POINTS = std::int64_t{1} << 24;
// Chunks may hold at most this many values even when the dataset holds fewer.
constexpr unsigned long long CHUNK_ALLOWANCE = 1ULL << 20;

// What the file's stored values can fill: each byte a dataset stores (a dataset reached by
// several links counted once, no more than the file's length) fills at most a complex value of
// the arrays, and a compressed one at most DEFLATE_MOST as many (deflate's largest ratio is
// about 1032:1); components that store nothing (constant groups) fill UNSTORED_BYTES more.
constexpr unsigned long long FILLED_PER_BYTE = sizeof(std::complex<double>);
constexpr unsigned long long DEFLATE_MOST = 1032;
constexpr unsigned long long UNSTORED_BYTES = 1ULL << 26;

unsigned long long saturated_product(unsigned long long a, unsigned long long b) {
  constexpr auto MOST = std::numeric_limits<unsigned long long>::max();
  return b != 0 && a > MOST / b ? MOST : a * b;
}

std::string dimension_text(const UnitDimension& dimension) {
  std::string text;
  for (std::size_t k = 0; k < dimension.size(); ++k)
    text += (k ? ", " : "") + number_text(dimension[k]);
  return text;
}

// How a dataset's or a value's type is read.
enum class ValueKind { complex, real, other };

ValueKind value_kind(hid_t type) {
  const H5T_class_t type_class = H5Tget_class(type);
  if (type_class == H5T_FLOAT || type_class == H5T_INTEGER)
    return ValueKind::real;
  if (type_class != H5T_COMPOUND || H5Tget_nmembers(type) != 2)
    return ValueKind::other;
  bool real = false;
  bool imaginary = false;
  for (unsigned k = 0; k < 2; ++k) {
    char* name = H5Tget_member_name(type, k);
    if (name && H5Tget_member_class(type, k) == H5T_FLOAT) {
      real = real || std::strcmp(name, "r") == 0;
      imaginary = imaginary || std::strcmp(name, "i") == 0;
    }
    H5free_memory(name);
  }
  return real && imaginary ? ValueKind::complex : ValueKind::other;
}

// What a component's values are, for a message.
std::string value_holds(const Reading& reading, hid_t type, const std::string& component) {
  const H5T_class_t type_class = H5Tget_class(type);
  if (type_class != H5T_COMPOUND)
    return kind_plural(type_class);
  std::string text = "a compound of ";
  const int members = std::max(H5Tget_nmembers(type), 0);
  for (int k = 0; k < members && k < 8; ++k) {
    char* name = H5Tget_member_name(type, static_cast<unsigned>(k));
    const std::string member = name ? name : "";
    H5free_memory(name);
    text += (k ? ", " : "") + reading.shown(member, component);
  }
  return text + (members > 8 ? ", ..." : "");
}

// A component of the file, checked and with its values not read yet.
struct Component {
  FieldKind field = FieldKind::electric;
  std::string axis;
  std::string name;
  Hdf5Id object;
  double unit = 1; // unitSI
  bool dataset = false;
  ValueKind kind = ValueKind::other; // of a dataset's values
  std::complex<double> constant = 0; // a constant group's value, in SI units
  bool holds_values = false;         // a dataset whose every value the file stores
  // A dataset's bytes in the file, whether they pass through filters, and where its header is
  // (the same for every link to it).
  unsigned long long stored = 0;
  bool filtered = false;
  std::string identity;
};

// Where the object's header is in the file: the same for every link to it.
std::string object_identity(const Reading& reading, hid_t object, const std::string& shown) {
#if H5_VERSION_GE(1, 12, 0)
  H5O_info2_t info;
  if (H5Oget_info3(object, &info, H5O_INFO_BASIC) < 0)
    raise_damaged(reading, shown);
  return std::string(reinterpret_cast<const char*>(&info.token), sizeof info.token);
#else
  H5O_info_t info;
  if (H5Oget_info2(object, &info, H5O_INFO_BASIC) < 0)
    raise_damaged(reading, shown);
  return std::string(reinterpret_cast<const char*>(&info.addr), sizeof info.addr);
#endif
}

// Checks a dataset component before anything is allocated for it: gridSize's shape, values of a
// kind that can be read, kept in the file itself, as many bytes as its shape needs when it is
// contiguous or compact, and chunks no larger than itself. Sets its kind, what it stores and
// holds_values.
void check_dataset(const Reading& reading, Component& component,
                   const std::array<std::int64_t, 3>& extents, std::size_t points) {
  const char* path = reading.path;
  const hid_t dataset = component.object.get();
  const std::string& name = component.name;
  const Hdf5Id space(H5Dget_space(dataset), H5Sclose);
  const Hdf5Id type(H5Dget_type(dataset), H5Tclose);
  const Hdf5Id creation(H5Dget_create_plist(dataset), H5Pclose);
  if (!space.valid() || !type.valid() || !creation.valid())
    raise_damaged(reading, name);
  const int rank = H5Sget_simple_extent_ndims(space.get());
  hsize_t dims[H5S_MAX_RANK] = {};
  if (rank < 0 || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != rank)
    raise_damaged(reading, name);
  const bool null_space = H5Sget_simple_extent_type(space.get()) == H5S_NULL;
  bool same_shape = !null_space && rank == 3;
  for (int k = 0; same_shape && k < 3; ++k)
    same_shape = dims[k] == static_cast<hsize_t>(extents[static_cast<std::size_t>(k)]);
  if (!same_shape)
    raise_input_failure(path, 0, SHAPE, path, name.c_str(),
                        null_space ? "(none)" : extents_text(dims, rank).c_str(),
                        extents_text(extents).c_str());

  component.kind = value_kind(type.get());
  if (component.kind == ValueKind::other)
    raise_input_failure(path, 0, VALUE_KIND, path, name.c_str(),
                        value_holds(reading, type.get(), name).c_str());
  if (!sane_value_type(type.get()))
    raise_damaged(reading, name);

  // Where the values are: in this file, and as many as the shape needs.
  const H5D_layout_t layout = H5Pget_layout(creation.get());
  if (layout == H5D_VIRTUAL || H5Pget_external_count(creation.get()) != 0)
    raise_input_failure(path, 0, OTHER_FILES, path, name.c_str());
  component.stored = H5Dget_storage_size(dataset);
  component.filtered = H5Pget_nfilters(creation.get()) != 0;
  component.identity = object_identity(reading, dataset, name);
  const auto needed = static_cast<unsigned long long>(points) * H5Tget_size(type.get());
  if (layout == H5D_CONTIGUOUS || layout == H5D_COMPACT) {
    const unsigned long long stored = component.stored;
    if (stored < needed)
      raise_input_failure(path, 0, STORAGE, path, name.c_str(), stored, needed);
    const haddr_t offset = layout == H5D_CONTIGUOUS ? H5Dget_offset(dataset) : HADDR_UNDEF;
    if (offset != HADDR_UNDEF &&
        (offset > static_cast<haddr_t>(reading.file_length) ||
         stored > static_cast<unsigned long long>(reading.file_length) - offset))
      raise_input_failure(path, 0, PAST_END, path, name.c_str());
    component.holds_values = true;
  } else if (layout == H5D_CHUNKED) {
    hsize_t chunk[H5S_MAX_RANK] = {};
    const int chunk_rank = H5Pget_chunk(creation.get(), H5S_MAX_RANK, chunk);
    if (chunk_rank < 1 || chunk_rank > H5S_MAX_RANK)
      raise_damaged(reading, name);
    // The products, saturated: a hostile chunk's extents may be anything up to 2^32 - 1.
    unsigned long long chunk_values = 1;
    for (int k = 0; k < chunk_rank; ++k)
      chunk_values = saturated_product(chunk_values, chunk[k]);
    if (chunk_values > std::max<unsigned long long>(points, CHUNK_ALLOWANCE))
      raise_input_failure(path, 0, CHUNKS, path, name.c_str(), chunk_values,
                          static_cast<unsigned long long>(points));
    // Chunks never written hold no value (a read gives the fill value): the dataset holds its
    // values when every chunk of it is stored.
    unsigned long long chunks = 1;
    for (int k = 0; k < 3 && chunk_rank == 3; ++k)
      chunks = chunk[k] == 0 ? std::numeric_limits<unsigned long long>::max()
                             : saturated_product(chunks, (dims[k] + chunk[k] - 1) / chunk[k]);
#if H5_VERSION_GE(1, 10, 5)
    hsize_t stored_chunks = 0;
    component.holds_values = chunk_rank == 3 &&
                             H5Dget_num_chunks(dataset, space.get(), &stored_chunks) >= 0 &&
                             stored_chunks >= chunks;
#else
    component.holds_values = component.stored >= needed;
#endif
  } else {
    raise_damaged(reading, name);
  }
}

// The values of a checked dataset component into `values`, in SI units.
void read_dataset(const Reading& reading, const Component& component, ComplexArray& values) {
  const char* path = reading.path;
  const hid_t dataset = component.object.get();
  if (component.kind == ValueKind::complex) {
    if (H5Dread(dataset, reading.complex_type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) <
        0)
      raise_input_failure(path, 0, READ_FAILED, path, component.name.c_str());
    if (component.unit != 1) {
      for (std::size_t k = 0; k < values.size(); ++k)
        values[k] *= component.unit;
    }
  } else {
    // Real values fill the first half of the array, and are spread out from the end, in SI
    // units: value k moves to doubles 2k and 2k+1, which no value still to be moved occupies.
    auto* doubles = reinterpret_cast<double*>(values.data());
    if (H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, doubles) < 0)
      raise_input_failure(path, 0, READ_FAILED, path, component.name.c_str());
    // A unitSI of 1 leaves every bit as it is, a signalling NaN's too.
    const double unit = component.unit;
    for (std::size_t k = values.size(); k-- > 0;)
      values[k] = std::complex<double>(unit == 1 ? doubles[k] : doubles[k] * unit, 0.0);
  }
}

// Checks a constant component, a group whose attribute value (real or complex) holds at every
// one of the points of its attribute shape, and reads its value in SI units.
void check_constant(const Reading& reading, Component& component,
                    const std::array<std::int64_t, 3>& extents) {
  const char* path = reading.path;
  const hid_t group = component.object.get();
  const std::string& name = component.name;
  const Attribute shape_attribute = need_attribute(reading, group, name, "shape");
  const std::vector<std::int64_t> shape = read_integers(reading, shape_attribute, 3, "3 integers");
  if (shape[0] != extents[0] || shape[1] != extents[1] || shape[2] != extents[2])
    raise_input_failure(path, 0, SHAPE, path, name.c_str(),
                        extents_text({shape[0], shape[1], shape[2]}).c_str(),
                        extents_text(extents).c_str());
  const Attribute value_attribute = need_attribute(reading, group, name, "value");
  constexpr const char* EXPECTED_VALUE = "a number or a complex value (a compound of r and i)";
  std::complex<double> value;
  if (!holds_count(value_attribute, 1))
    raise_attribute_kind(reading, value_attribute, EXPECTED_VALUE);
  const ValueKind kind = value_kind(value_attribute.type.get());
  if (kind != ValueKind::other && !sane_value_type(value_attribute.type.get()))
    raise_damaged(reading, damaged_attribute(value_attribute));
  switch (kind) {
  case ValueKind::complex:
    if (H5Aread(value_attribute.id.get(), reading.complex_type.get(), &value) < 0)
      raise_damaged(reading, damaged_attribute(value_attribute));
    value *= component.unit;
    break;
  case ValueKind::real:
    value = read_numbers(reading, value_attribute, 1, EXPECTED_VALUE)[0] * component.unit;
    break;
  case ValueKind::other:
    raise_attribute_kind(reading, value_attribute, EXPECTED_VALUE);
  }
  component.constant = value;
}

// unitSI (1 when absent) and unitDimension (that of the field when absent) of a component.
double read_unit(const Reading& reading, hid_t object, const std::string& name, FieldKind field) {
  const char* path = reading.path;
  const double unit = optional_number(reading, object, name, "unitSI").value_or(1);
  if (!std::isfinite(unit) || unit == 0)
    raise_input_failure(path, 0, UNIT_SI, path, name.c_str(), number_text(unit).c_str());
  if (const std::optional<Attribute> attribute =
          find_attribute(reading, object, name, "unitDimension")) {
    const std::vector<double> read = read_numbers(reading, *attribute, 7, "7 numbers");
    UnitDimension dimension;
    std::copy(read.begin(), read.end(), dimension.begin());
    const UnitDimension& expected =
        field == FieldKind::electric ? ELECTRIC_DIMENSION : MAGNETIC_DIMENSION;
    if (dimension != expected)
      raise_input_failure(
          path, 0, UNIT_DIMENSION, path, name.c_str(), dimension_text(dimension).c_str(),
          field == FieldKind::electric ? "V/m" : "T", dimension_text(expected).c_str());
  }
  return unit;
}

// Refuses a grid whose arrays would take more memory than the file's stored values can fill.
void check_fillable(const Reading& reading, const std::vector<Component>& components,
                    const std::array<std::int64_t, 3>& extents, std::size_t points) {
  const auto length = static_cast<unsigned long long>(reading.file_length);
  std::set<std::string> counted;
  unsigned long long stored = 0;
  unsigned long long fillable = UNSTORED_BYTES;
  for (const Component& component : components) {
    if (!component.dataset || !counted.insert(component.identity).second)
      continue;
    const unsigned long long bytes = std::min(component.stored, length);
    stored = std::min(stored + bytes, length);
    const unsigned long long fills = saturated_product(
        saturated_product(bytes, component.filtered ? DEFLATE_MOST : 1), FILLED_PER_BYTE);
    fillable = std::max(fillable, fillable + fills); // saturated
  }
  const unsigned long long needed =
      saturated_product(saturated_product(components.size(), points), sizeof(std::complex<double>));
  if (needed > fillable)
    raise_input_failure(reading.path, 0, UNFILLED_GRID, reading.path, extents_text(extents).c_str(),
                        needed, fillable, stored);
}

} // namespace

// Every component is found and checked first; then, when the file stores enough values for the
// grid it claims, every array is had, and only then are they filled.
void read_components(const Reading& reading, hid_t mesh_group, const std::string& mesh_path,
                     std::size_t points, const ArraySource& arrays, FieldMesh& mesh) {
  const char* path = reading.path;
  const std::array<const char*, 3>& labels = axis_labels(mesh.geometry);
  const std::string labels_shown =
      mesh.geometry == MeshGeometry::cylindrical ? "r, theta or z" : "x, y or z";
  const std::array<std::int64_t, 3> extents{mesh.axes[0].points, mesh.axes[1].points,
                                            mesh.axes[2].points};
  const bool is_static = !is_rf(mesh);
  std::vector<Component> components;
  const Members records = list_members(reading, mesh_group, mesh_path);
  // Three names are enough: of any three, one is no record (and of any four axes, one is none).
  for (hsize_t r = 0; r < std::min<hsize_t>(records.count, 3); ++r) {
    const std::string record = member_name(reading, records, r);
    const bool electric = record == "electricField";
    if (!electric && record != "magneticField")
      raise_input_failure(path, 0, UNKNOWN_COMPONENT, path,
                          reading.shown(record, mesh_path).c_str(), labels_shown.c_str());
    const FieldKind field = electric ? FieldKind::electric : FieldKind::magnetic;
    const std::string record_path = mesh_path + "/" + record;
    const Hdf5Id group = open_member(reading, records, r, record_path);
    require_group(reading, group.get(), record_path);
    const Members axes = list_members(reading, group.get(), record_path);
    for (hsize_t a = 0; a < std::min<hsize_t>(axes.count, 4); ++a) {
      const std::string axis = member_name(reading, axes, a);
      const std::string name = record + "/" + axis;
      const auto label = std::find(labels.begin(), labels.end(), axis);
      if (label == labels.end()) {
        reading.require_held(axis, record_path);
        raise_input_failure(path, 0, UNKNOWN_COMPONENT, path, quoted_text(name).c_str(),
                            labels_shown.c_str());
      }
      Hdf5Id object = open_member(reading, axes, a, name);
      const H5I_type_t type = H5Iget_type(object.get());
      if (type != H5I_DATASET && type != H5I_GROUP)
        raise_input_failure(path, 0, COMPONENT_KIND, path, name.c_str(), object_kind(object.get()));
      Component component;
      component.field = field;
      component.axis = axis;
      component.name = name;
      component.object = std::move(object);
      component.unit = read_unit(reading, component.object.get(), name, field);
      component.dataset = type == H5I_DATASET;
      if (component.dataset)
        check_dataset(reading, component, extents, points);
      else
        check_constant(reading, component, extents);
      components.push_back(std::move(component));
    }
  }
  if (components.empty())
    raise_input_failure(path, 0, NO_COMPONENT, path);
  // One value, or chunks never written, would have a small file claim gigabytes.
  if (points > static_cast<std::size_t>(UNSTORED_MAX_POINTS) &&
      std::none_of(components.begin(), components.end(),
                   [](const Component& component) { return component.holds_values; }))
    raise_input_failure(path, 0, UNSTORED_GRID, path, extents_text(extents).c_str(),
                        static_cast<long long>(UNSTORED_MAX_POINTS));
  check_fillable(reading, components, extents, points);

  std::vector<ComplexArray> values = arrays(components.size(), points);
  for (std::size_t k = 0; k < components.size(); ++k)
    mesh.components.push_back(
        MeshComponent{components[k].field, components[k].axis, std::move(values[k])});
  for (std::size_t k = 0; k < components.size(); ++k) {
    const Component& component = components[k];
    ComplexArray& array = mesh.components[k].values;
    if (component.dataset)
      read_dataset(reading, component, array);
    else
      std::fill(array.data(), array.data() + points, component.constant);
    if (is_static && std::any_of(array.data(), array.data() + points,
                                 [](const std::complex<double>& v) { return v.imag() != 0; }))
      raise_input_failure(path, 0, STATIC_IMAGINARY, path, component.name.c_str());
  }
  order_components(mesh);
}

} // namespace norvalex
