// openPMD field meshes through the HDF5 C library: the reader (read_openpmd_mesh) and the writer
// (write_openpmd). HDF5 never prints here: its automatic error printing is off while either
// runs, and every failure becomes a norvalex::Error.
//
// The reader trusts nothing of the file. Before HDF5 sees the path it must be a regular file
// with the HDF5 signature (so that a FIFO never blocks the open); only hard links are followed
// (a soft or external link could lead anywhere, another file included); every attribute is
// checked for its kind and count before it is read, and texts for their length; the grid is
// checked (three extents of at least 1, one plane, at most MESH_MAX_POINTS points, the
// product checked for overflow) before anything is allocated; a component's shape must be the
// grid's, its values must be in the file itself (no external or virtual storage), a contiguous
// or compact dataset must store as many bytes as its shape needs, within the file's length, and
// a chunked one must have chunks no larger than itself (or 2^20 values). A file may claim more
// than UNSTORED_MAX_POINTS (2^24) points only when a component is a dataset that holds its
// values (contiguous or compact, or with every chunk stored): constant groups and chunks never
// written hold none, and would have a tiny file fill gigabytes. Every component is checked
// before any array is allocated, and every array allocated before any is filled. Memory that
// cannot be had is the "Not enough memory" input failure. No partial mesh is ever returned.
#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"
#include "norvalex/sf7.h"
#include "platform/platform.h"

#include <hdf5.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifndef H5_HAVE_THREADSAFE
#include <mutex>
#endif

namespace norvalex {

namespace {

// The reader's texts: every defect of a file that it reports, one row each. ErrorOrigin::
// input_file, error number 0 unless said; the first %s is always the file's name. Texts of the
// file itself (names, labels) appear quoted and cut at 64 bytes.
constexpr char OPEN_FAILED[] = "%s: %s"; // the system's text; its error number
constexpr char NOT_REGULAR[] = "%s: not a regular file";
constexpr char NOT_HDF5[] = "%s: not an HDF5 file";
constexpr char TRUNCATED[] = "%s: truncated HDF5 file";
constexpr char DAMAGED_FILE[] = "%s: damaged HDF5 file (HDF5 cannot open it)";
constexpr char DAMAGED_OBJECT[] = "%s: damaged HDF5 file (%s cannot be read)";
constexpr char NOT_OPENPMD[] = "%s: not an openPMD file (no openPMD attribute at its root)";
constexpr char OPENPMD_VERSION[] = "%s: openPMD version %s: versions 1 and 2 can be read";
constexpr char FIELD_PATH[] = "%s: externalFieldPath %s: only /ExternalFieldPath/%%T/ can be read";
constexpr char NO_MESH_GROUP[] = "%s: no field mesh (no group /ExternalFieldPath/)";
constexpr char NO_MESH[] = "%s: no field mesh under /ExternalFieldPath/";
constexpr char SEVERAL_MESHES[] =
    "%s: %llu field meshes under /ExternalFieldPath/: only a file of one can be read";
constexpr char NOT_A_GROUP[] = "%s: %s is %s, not a group";
constexpr char NOT_HARD_LINK[] =
    "%s: %s is a soft or external link: only objects of the file itself are read";
constexpr char MISSING_ATTRIBUTE[] = "%s: %s has no %s attribute";
constexpr char ATTRIBUTE_KIND[] = "%s: attribute %s of %s holds %s: %s expected";
constexpr char LONG_TEXT[] = "%s: attribute %s of %s holds a text of more than %zu bytes";
constexpr char GEOMETRY[] =
    "%s: gridGeometry %s: only cylindrical and rectangular meshes can be read";
constexpr char AXIS_LABELS[] = "%s: axisLabels %s, %s, %s: a %s mesh has %s";
constexpr char EXTENT[] = "%s: gridSize %s: every extent must be at least 1";
constexpr char THREE_D[] = "%s: 3-D mesh (gridSize %s): only one %s plane can be read";
constexpr char TOO_MANY_POINTS[] = "%s: gridSize %s: more than %lld points";
constexpr char SPACING[] = "%s: gridSpacing %s of axis %s: an axis of %lld points needs a "
                           "positive spacing";
constexpr char NOT_FINITE[] = "%s: %s %s: a finite number expected";
constexpr char FREQUENCY[] = "%s: fundamentalFrequency %s: a finite frequency of at least 0 "
                             "expected";
constexpr char HARMONIC[] = "%s: harmonic %lld: at least 0 expected";
constexpr char ANCHOR[] = "%s: eleAnchorPt %s: beginning, center or end expected";
constexpr char UNKNOWN_COMPONENT[] = "%s: unknown component %s: components are "
                                     "electricField/<axis> and magneticField/<axis>, <axis> %s";
constexpr char NO_COMPONENT[] =
    "%s: no field component (electricField/<axis> or magneticField/<axis>)";
constexpr char COMPONENT_KIND[] =
    "%s: component %s is %s: a dataset or a group of value and shape expected";
constexpr char SHAPE[] = "%s: component %s has shape %s, not gridSize %s";
constexpr char VALUE_KIND[] = "%s: component %s holds %s: complex values (a compound of "
                              "floating-point r and i) or real numbers expected";
constexpr char OTHER_FILES[] = "%s: component %s keeps its values in other files: only values "
                               "in the file itself are read";
constexpr char STORAGE[] = "%s: component %s stores %llu bytes, not the %llu of its shape";
constexpr char PAST_END[] = "%s: component %s lies past the end of the file (a truncated file)";
constexpr char CHUNKS[] = "%s: component %s has chunks of %llu values, more than its %llu";
constexpr char READ_FAILED[] = "%s: component %s cannot be read (a damaged file, or a "
                               "compression that this HDF5 lacks)";
constexpr char UNIT_SI[] = "%s: component %s unitSI %s: a finite factor other than 0 expected";
constexpr char UNIT_DIMENSION[] = "%s: component %s unitDimension (%s): %s (%s) expected";
constexpr char STATIC_IMAGINARY[] = "%s: component %s has imaginary parts in a static mesh "
                                    "(harmonic 0, fundamentalFrequency 0)";
constexpr char UNSTORED_GRID[] =
    "%s: gridSize %s: more than %lld points, and no component is a dataset that holds its values "
    "(constant groups and chunks never written hold none)";
constexpr char NO_MEMORY[] = "Not enough memory"; // ENOMEM

// The longest text attribute read, in bytes.
constexpr std::size_t MAX_TEXT_BYTES = 4096;
// The largest grid read when no component is a dataset that holds its values: constant groups
// and chunks never written take a few bytes for any number of points.
constexpr std::int64_t UNSTORED_MAX_POINTS = std::int64_t{1} << 24;
// Chunks may hold at most this many values even when the dataset holds fewer.
constexpr unsigned long long CHUNK_ALLOWANCE = 1ULL << 20;

constexpr const char* MESHES_PATH = "/ExternalFieldPath/";
constexpr const char* MESH_GROUP = "1";

constexpr std::array<const char*, 3> CYLINDRICAL_LABELS{"r", "theta", "z"};
constexpr std::array<const char*, 3> RECTANGULAR_LABELS{"x", "y", "z"};

const std::array<const char*, 3>& labels_of(MeshGeometry geometry) {
  return geometry == MeshGeometry::cylindrical ? CYLINDRICAL_LABELS : RECTANGULAR_LABELS;
}

// Powers of length, mass, time, current, temperature, amount and luminous intensity.
using UnitDimension = std::array<double, 7>;
constexpr UnitDimension ELECTRIC_DIMENSION{1, 1, -3, -1, 0, 0, 0}; // V/m
constexpr UnitDimension MAGNETIC_DIMENSION{0, 1, -2, -1, 0, 0, 0}; // T

const char* field_record(FieldKind field) {
  return field == FieldKind::electric ? "electricField" : "magneticField";
}

// ---- HDF5's state while a reading or writing runs ----

// Turns HDF5's automatic error printing off for the calling thread and gives back whatever the
// caller had; a build of HDF5 that is not thread-safe also gets one reading or writing at a time.
//
// HDF5 also cleans up when the process ends, and after some damaged files (metadata it could not
// decode) that clean-up finds blocks it leaked and prints "HDF5: infinite loop closing library"
// on standard error. So the first scope asks HDF5, before it starts, not to clean up at the end:
// the system frees the memory anyway, and this library leaves no HDF5 file open. (A program that
// uses HDF5 itself and counts on that clean-up for files it left open calls H5close() before it
// ends; when HDF5 had started before this library's first call, nothing changes.)
class Hdf5Scope {
public:
  Hdf5Scope() {
    [[maybe_unused]] static const bool no_clean_up_at_exit = H5dont_atexit() >= 0;
    H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~Hdf5Scope() { H5Eset_auto2(H5E_DEFAULT, function_, data_); }
  Hdf5Scope(const Hdf5Scope&) = delete;
  Hdf5Scope& operator=(const Hdf5Scope&) = delete;

private:
#ifndef H5_HAVE_THREADSAFE
  static std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> guard_{lock()};
#endif
  H5E_auto2_t function_ = nullptr;
  void* data_ = nullptr;
};

// An HDF5 identifier and the call that closes it.
class Id {
public:
  Id() = default;
  Id(hid_t id, herr_t (*closer)(hid_t)) : id_(id), close_(closer) {}
  Id(Id&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = H5I_INVALID_HID; }
  Id& operator=(Id&& other) noexcept {
    std::swap(id_, other.id_);
    std::swap(close_, other.close_);
    return *this;
  }
  Id(const Id&) = delete;
  Id& operator=(const Id&) = delete;
  ~Id() {
    if (id_ >= 0)
      close_(id_);
  }
  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }
  // Closes it now, for a close whose failure counts.
  herr_t close() { return id_ < 0 ? 0 : close_(std::exchange(id_, H5I_INVALID_HID)); }

private:
  hid_t id_ = H5I_INVALID_HID;
  herr_t (*close_)(hid_t) = nullptr;
};

// The memory type of std::complex<double>: a compound of the doubles r and i, what numpy's
// complex128 is in HDF5, so that values go between the file and the model's arrays unconverted.
static_assert(sizeof(std::complex<double>) == 2 * sizeof(double));
Id complex_memory_type() {
  Id type(H5Tcreate(H5T_COMPOUND, sizeof(std::complex<double>)), H5Tclose);
  if (type.valid() && (H5Tinsert(type.get(), "r", 0, H5T_NATIVE_DOUBLE) < 0 ||
                       H5Tinsert(type.get(), "i", sizeof(double), H5T_NATIVE_DOUBLE) < 0))
    return {};
  return type;
}

// The error number that the innermost failure of HDF5's error stack reports ("errno = 28" in
// its description: the sec2 driver's open, read and write failures), 0 when none does. Read it
// before any other HDF5 call, which clears the stack.
int stack_error_number() {
  int number = 0;
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned, const H5E_error2_t* error, void* found) -> herr_t {
        const char* at = error->desc ? std::strstr(error->desc, "errno = ") : nullptr;
        if (at) {
          *static_cast<int*>(found) = std::atoi(at + 8);
          return 1; // the innermost one is enough
        }
        return 0;
      },
      &number);
  return number;
}

// True when HDF5's error stack holds a failure of the minor number `minor` (and of the major
// number `major`, unless that is H5I_INVALID_HID): H5E_TRUNCATED, a file shorter than its
// superblock says; H5E_RESOURCE and H5E_NOSPACE, memory that ran out.
bool stack_has(hid_t major, hid_t minor) {
  struct Wanted {
    hid_t major;
    hid_t minor;
    bool found;
  } wanted{major, minor, false};
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned, const H5E_error2_t* error, void* context) -> herr_t {
        auto& w = *static_cast<Wanted*>(context);
        if (error->min_num == w.minor && (w.major == H5I_INVALID_HID || error->maj_num == w.major))
          w.found = true;
        return 0;
      },
      &wanted);
  return wanted.found;
}

// File reads without HDF5's file lock: a reader needs none, and some file systems have none.
void no_file_locking([[maybe_unused]] hid_t access) {
#if (H5_VERS_MAJOR == 1 && H5_VERS_MINOR == 10 && H5_VERS_RELEASE >= 7) || H5_VERSION_GE(1, 12, 1)
  H5Pset_file_locking(access, false, true);
#endif
}

// ---- Texts of messages ----

std::string number_text(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A text of the file, quoted and cut at 64 bytes.
std::string quoted(const std::string& text) {
  constexpr std::size_t LIMIT = 64;
  return "\"" + (text.size() <= LIMIT ? text : text.substr(0, LIMIT) + "...") + "\"";
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

std::string dimension_text(const UnitDimension& dimension) {
  std::string text;
  for (std::size_t k = 0; k < dimension.size(); ++k)
    text += (k ? ", " : "") + number_text(dimension[k]);
  return text;
}

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

// True when an integer or floating-point type's fields lie inside its size, as HDF5's
// conversions assume without checking (a damaged type would make them read out of bounds).
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

// The same for a complex value's compound: two sane members within its size, apart.
bool sane_value_type(hid_t type) {
  if (H5Tget_class(type) != H5T_COMPOUND)
    return sane_number_type(type);
  const std::size_t size = H5Tget_size(type);
  std::size_t ends[2] = {};
  std::size_t starts[2] = {};
  for (unsigned k = 0; k < 2; ++k) {
    const Id member(H5Tget_member_type(type, k), H5Tclose);
    if (!member.valid() || !sane_number_type(member.get()))
      return false;
    starts[k] = H5Tget_member_offset(type, k);
    ends[k] = starts[k] + H5Tget_size(member.get());
    if (ends[k] > size)
      return false;
  }
  return ends[0] <= starts[1] || ends[1] <= starts[0];
}

// ---- Reading ----

struct Reading {
  const char* path;
  std::int64_t file_length = 0;
  Id complex_type;
};

[[noreturn]] void raise_damaged(const Reading& reading, const std::string& what) {
  raise_input_failure(reading.path, 0, DAMAGED_OBJECT, reading.path, what.c_str());
}

// Checks that `path` is a regular file that starts (or has after a user block of 512, 1024,
// 2048, ... bytes) with the HDF5 signature, without any open that could wait; returns its length.
std::int64_t check_hdf5_file(const char* path) {
  if (platform_is_special_file(path))
    raise_input_failure(path, 0, NOT_REGULAR, path);
  const OwnedFile input(platform_open_input(path));
  if (!input) {
    const int error_number = errno;
    raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
  }
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  if (const int error_number = platform_file_status(input.get(), kind, length); error_number != 0)
    raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
  if (kind == PlatformFileKind::directory)
    raise_input_failure(path, EISDIR, OPEN_FAILED, path, platform_error_text(EISDIR));
  if (kind != PlatformFileKind::regular)
    raise_input_failure(path, 0, NOT_REGULAR, path);
  for (std::int64_t offset = 0; offset + 8 <= length; offset = offset ? 2 * offset : 512) {
    unsigned char bytes[sizeof HDF5_SIGNATURE];
    if (platform_seek(input.get(), offset) != 0 || !platform_read_record(bytes, 8, input.get())) {
      const int error_number = std::ferror(input.get()) ? errno : EIO;
      raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
    }
    if (std::memcmp(bytes, HDF5_SIGNATURE, sizeof bytes) == 0)
      return length;
  }
  raise_input_failure(path, 0, NOT_HDF5, path);
}

Id open_file(const Reading& reading) {
  const char* path = reading.path;
  Id access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  if (!access.valid())
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  no_file_locking(access.get());
  Id file(H5Fopen(path, H5F_ACC_RDONLY, access.get()), H5Fclose);
  if (!file.valid()) {
    const bool truncated = stack_has(H5I_INVALID_HID, H5E_TRUNCATED);
    if (const int error_number = stack_error_number(); error_number != 0)
      raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
    raise_input_failure(path, 0, truncated ? TRUNCATED : DAMAGED_FILE, path);
  }
  return file;
}

// The object that the hard link `name` of `parent` names (shown as `shown`), or none when there is
// no such link.
std::optional<Id> open_member(const Reading& reading, hid_t parent, const std::string& name,
                              const std::string& shown) {
  const htri_t exists = H5Lexists(parent, name.c_str(), H5P_DEFAULT);
  if (exists < 0)
    raise_damaged(reading, shown);
  if (exists == 0)
    return std::nullopt;
  H5L_info_t info;
  if (H5Lget_info(parent, name.c_str(), &info, H5P_DEFAULT) < 0)
    raise_damaged(reading, shown);
  if (info.type != H5L_TYPE_HARD)
    raise_input_failure(reading.path, 0, NOT_HARD_LINK, reading.path, shown.c_str());
  Id object(H5Oopen(parent, name.c_str(), H5P_DEFAULT), H5Oclose);
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

// The names of the links of `group`, in the order of their names. `limit` stops the listing
// early: the caller refuses more than that many anyway.
std::vector<std::string> member_names(const Reading& reading, hid_t group, const std::string& shown,
                                      hsize_t& count, hsize_t limit) {
  H5G_info_t info;
  if (H5Gget_info(group, &info) < 0)
    raise_damaged(reading, shown);
  count = info.nlinks;
  std::vector<std::string> names;
  for (hsize_t k = 0; k < std::min(count, limit); ++k) {
    const ssize_t size =
        H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, k, nullptr, 0, H5P_DEFAULT);
    if (size < 0)
      raise_damaged(reading, shown);
    std::string name(static_cast<std::size_t>(size) + 1, '\0');
    if (H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, k, name.data(), name.size(),
                           H5P_DEFAULT) < 0)
      raise_damaged(reading, shown);
    name.resize(static_cast<std::size_t>(size));
    names.push_back(std::move(name));
  }
  return names;
}

// An attribute, with what it holds.
struct Attribute {
  const char* name;
  std::string owner; // the object it belongs to, as the messages show it
  Id id;
  Id type;
  H5T_class_t type_class = H5T_NO_CLASS;
  H5S_class_t space_class = H5S_NO_CLASS;
  int rank = 0;
  hsize_t dims[H5S_MAX_RANK] = {};
  hsize_t count = 0; // values: 1 for a scalar
};

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
  attribute.id = Id(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  if (!attribute.id.valid())
    raise_damaged(reading, damaged_attribute(attribute));
  attribute.type = Id(H5Aget_type(attribute.id.get()), H5Tclose);
  const Id space(H5Aget_space(attribute.id.get()), H5Sclose);
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

// What the attribute holds, for a message: "2 integers", "a text", "a 2 x 3 array of ...".
std::string holds(const Attribute& attribute) {
  if (attribute.space_class == H5S_NULL || attribute.count == 0)
    return "no value";
  if (attribute.rank > 1)
    return "a " + extents_text(attribute.dims, attribute.rank) + " array of " +
           kind_names(attribute.type_class).plural;
  if (attribute.count == 1)
    return kind_names(attribute.type_class).singular;
  return std::to_string(attribute.count) + " " + kind_names(attribute.type_class).plural;
}

[[noreturn]] void raise_attribute_kind(const Reading& reading, const Attribute& attribute,
                                       const char* expected) {
  raise_input_failure(reading.path, 0, ATTRIBUTE_KIND, reading.path, attribute.name,
                      attribute.owner.c_str(), holds(attribute).c_str(), expected);
}

[[noreturn]] void raise_long_text(const Reading& reading, const Attribute& attribute) {
  raise_input_failure(reading.path, 0, LONG_TEXT, reading.path, attribute.name,
                      attribute.owner.c_str(), MAX_TEXT_BYTES);
}

// True when the attribute holds `count` values: a scalar or a list of one for one value.
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
  // HDF5 converts any width and sign; a value past int64's range becomes its nearest end.
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

// Texts of fixed or variable length, each up to its first zero byte (and without the trailing
// spaces of a space-padded one).
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
    Id memory_type(H5Tcopy(H5T_C_S1), H5Tclose);
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

// The root's attributes: openPMD's version and where the field meshes are.
void check_root(const Reading& reading, hid_t root) {
  const std::optional<Attribute> version = find_attribute(reading, root, "/", "openPMD");
  if (!version)
    raise_input_failure(reading.path, 0, NOT_OPENPMD, reading.path);
  const std::string text = read_text(reading, *version);
  if (text.size() < 2 || (text[0] != '1' && text[0] != '2') || text[1] != '.')
    raise_input_failure(reading.path, 0, OPENPMD_VERSION, reading.path, quoted(text).c_str());
  if (const std::optional<Attribute> path =
          find_attribute(reading, root, "/", "externalFieldPath")) {
    const std::string where = read_text(reading, *path);
    if (where != "/ExternalFieldPath/%T/" && where != "/ExternalFieldPath/%T")
      raise_input_failure(reading.path, 0, FIELD_PATH, reading.path, quoted(where).c_str());
  }
}

// The one mesh group under /ExternalFieldPath/, and its path.
Id open_mesh(const Reading& reading, hid_t root, std::string& mesh_path) {
  std::optional<Id> meshes = open_member(reading, root, "ExternalFieldPath", MESHES_PATH);
  if (!meshes)
    raise_input_failure(reading.path, 0, NO_MESH_GROUP, reading.path);
  require_group(reading, meshes->get(), MESHES_PATH);
  hsize_t count = 0;
  const std::vector<std::string> names =
      member_names(reading, meshes->get(), MESHES_PATH, count, 1);
  if (count == 0)
    raise_input_failure(reading.path, 0, NO_MESH, reading.path);
  if (count > 1)
    raise_input_failure(reading.path, 0, SEVERAL_MESHES, reading.path,
                        static_cast<unsigned long long>(count));
  mesh_path = MESHES_PATH + names[0];
  std::optional<Id> mesh = open_member(reading, meshes->get(), names[0], mesh_path);
  if (!mesh)
    raise_damaged(reading, mesh_path);
  require_group(reading, mesh->get(), mesh_path);
  return std::move(*mesh);
}

std::optional<double> optional_number(const Reading& reading, hid_t object,
                                      const std::string& owner, const char* name) {
  const std::optional<Attribute> attribute = find_attribute(reading, object, owner, name);
  if (!attribute)
    return std::nullopt;
  return read_numbers(reading, *attribute, 1, "a number")[0];
}

void require_finite(const Reading& reading, const std::string& what, double value) {
  if (!std::isfinite(value))
    raise_input_failure(reading.path, 0, NOT_FINITE, reading.path, what.c_str(),
                        number_text(value).c_str());
}

// The mesh group's grid and RF attributes into `mesh`; returns the grid's point count.
std::size_t read_grid(const Reading& reading, hid_t group, const std::string& owner,
                      FieldMesh& mesh) {
  const char* path = reading.path;
  const std::string geometry =
      read_text(reading, need_attribute(reading, group, owner, "gridGeometry"));
  if (geometry == "cylindrical")
    mesh.geometry = MeshGeometry::cylindrical;
  else if (geometry == "rectangular")
    mesh.geometry = MeshGeometry::rectangular;
  else
    raise_input_failure(path, 0, GEOMETRY, path, quoted(geometry).c_str());
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const std::array<const char*, 3>& expected_labels = labels_of(mesh.geometry);

  const std::vector<std::string> labels =
      read_texts(reading, need_attribute(reading, group, owner, "axisLabels"), 3, "3 texts");
  for (std::size_t k = 0; k < 3; ++k) {
    if (labels[k] != expected_labels[k])
      raise_input_failure(path, 0, AXIS_LABELS, path, quoted(labels[0]).c_str(),
                          quoted(labels[1]).c_str(), quoted(labels[2]).c_str(),
                          cylindrical ? "cylindrical" : "rectangular",
                          cylindrical ? "r, theta, z" : "x, y, z");
  }

  const std::vector<std::int64_t> size =
      read_integers(reading, need_attribute(reading, group, owner, "gridSize"), 3, "3 integers");
  const std::array<std::int64_t, 3> extents{size[0], size[1], size[2]};
  const std::string extents_shown = extents_text(extents);
  if (std::any_of(extents.begin(), extents.end(), [](std::int64_t n) { return n < 1; }))
    raise_input_failure(path, 0, EXTENT, path, extents_shown.c_str());
  if (extents[cylindrical ? 1 : 2] != 1)
    raise_input_failure(path, 0, THREE_D, path, extents_shown.c_str(), cylindrical ? "theta" : "z");
  std::int64_t points = 1;
  for (const std::int64_t extent : extents) {
    if (extent > MESH_MAX_POINTS / points)
      raise_input_failure(path, 0, TOO_MANY_POINTS, path, extents_shown.c_str(),
                          static_cast<long long>(MESH_MAX_POINTS));
    points *= extent;
  }

  const std::vector<double> spacing =
      read_numbers(reading, need_attribute(reading, group, owner, "gridSpacing"), 3, "3 numbers");
  const std::vector<double> origin = read_numbers(
      reading, need_attribute(reading, group, owner, "gridOriginOffset"), 3, "3 numbers");
  for (std::size_t k = 0; k < 3; ++k) {
    const bool spread = extents[k] > 1;
    if (!std::isfinite(spacing[k]) || (spread && spacing[k] <= 0)) {
      if (spread)
        raise_input_failure(path, 0, SPACING, path, number_text(spacing[k]).c_str(),
                            expected_labels[k], static_cast<long long>(extents[k]));
      require_finite(reading, std::string("gridSpacing of axis ") + expected_labels[k], spacing[k]);
    }
    require_finite(reading, std::string("gridOriginOffset of axis ") + expected_labels[k],
                   origin[k]);
    mesh.axes[k] = MeshAxis{expected_labels[k], extents[k], spacing[k], origin[k]};
  }

  if (const std::optional<Attribute> harmonic = find_attribute(reading, group, owner, "harmonic"))
    mesh.harmonic = read_integers(reading, *harmonic, 1, "an integer")[0];
  if (mesh.harmonic < 0)
    raise_input_failure(path, 0, HARMONIC, path, static_cast<long long>(mesh.harmonic));
  mesh.frequency = optional_number(reading, group, owner, "fundamentalFrequency").value_or(0);
  if (!std::isfinite(mesh.frequency) || mesh.frequency < 0)
    raise_input_failure(path, 0, FREQUENCY, path, number_text(mesh.frequency).c_str());
  mesh.rf_phase = optional_number(reading, group, owner, "RFphase").value_or(0);
  require_finite(reading, "RFphase", mesh.rf_phase);
  mesh.field_scale = optional_number(reading, group, owner, "fieldScale").value_or(1);
  require_finite(reading, "fieldScale", mesh.field_scale);
  if (const std::optional<Attribute> anchor =
          find_attribute(reading, group, owner, "eleAnchorPt")) {
    mesh.anchor = read_text(reading, *anchor);
    if (mesh.anchor != "beginning" && mesh.anchor != "center" && mesh.anchor != "end")
      raise_input_failure(path, 0, ANCHOR, path, quoted(mesh.anchor).c_str());
  }
  return static_cast<std::size_t>(points);
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
std::string value_holds(hid_t type) {
  const H5T_class_t type_class = H5Tget_class(type);
  if (type_class != H5T_COMPOUND)
    return kind_names(type_class).plural;
  std::string text = "a compound of ";
  const int members = std::max(H5Tget_nmembers(type), 0);
  for (int k = 0; k < members && k < 8; ++k) {
    char* name = H5Tget_member_name(type, static_cast<unsigned>(k));
    text += (k ? ", " : "") + quoted(name ? name : "");
    H5free_memory(name);
  }
  return text + (members > 8 ? ", ..." : "");
}

using ComplexArray = MeshArray<std::complex<double>>;

// A component of the file, checked and with its values not read yet.
struct Component {
  FieldKind field = FieldKind::electric;
  std::string axis;
  std::string name;
  Id object;
  double unit = 1; // unitSI
  bool dataset = false;
  ValueKind kind = ValueKind::other; // of a dataset's values
  std::complex<double> constant = 0; // a constant group's value, in SI units
  bool holds_values = false;         // a dataset whose every value the file stores
};

// Checks a dataset component before anything is allocated for it: gridSize's shape, values of a
// kind that can be read, kept in the file itself, as many bytes as its shape needs when it is
// contiguous or compact, and chunks no larger than itself. Sets its kind and holds_values.
void check_dataset(const Reading& reading, Component& component,
                   const std::array<std::int64_t, 3>& extents, std::size_t points) {
  const char* path = reading.path;
  const hid_t dataset = component.object.get();
  const std::string& name = component.name;
  const Id space(H5Dget_space(dataset), H5Sclose);
  const Id type(H5Dget_type(dataset), H5Tclose);
  const Id creation(H5Dget_create_plist(dataset), H5Pclose);
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
    raise_input_failure(path, 0, VALUE_KIND, path, name.c_str(), value_holds(type.get()).c_str());
  if (!sane_value_type(type.get()))
    raise_damaged(reading, name);

  // Where the values are: in this file, and as many as the shape needs.
  const H5D_layout_t layout = H5Pget_layout(creation.get());
  if (layout == H5D_VIRTUAL || H5Pget_external_count(creation.get()) != 0)
    raise_input_failure(path, 0, OTHER_FILES, path, name.c_str());
  const auto needed = static_cast<unsigned long long>(points) * H5Tget_size(type.get());
  if (layout == H5D_CONTIGUOUS || layout == H5D_COMPACT) {
    const unsigned long long stored = H5Dget_storage_size(dataset);
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
    constexpr auto MOST = std::numeric_limits<unsigned long long>::max();
    const auto times = [](unsigned long long a, unsigned long long b) {
      return b != 0 && a > MOST / b ? MOST : a * b;
    };
    unsigned long long chunk_values = 1;
    for (int k = 0; k < chunk_rank; ++k)
      chunk_values = times(chunk_values, chunk[k]);
    if (chunk_values > std::max<unsigned long long>(points, CHUNK_ALLOWANCE))
      raise_input_failure(path, 0, CHUNKS, path, name.c_str(), chunk_values,
                          static_cast<unsigned long long>(points));
    // Chunks never written hold no value (a read gives the fill value): the dataset holds its
    // values when every chunk of it is stored.
    unsigned long long chunks = 1;
    for (int k = 0; k < 3 && chunk_rank == 3; ++k)
      chunks = chunk[k] == 0 ? MOST : times(chunks, (dims[k] + chunk[k] - 1) / chunk[k]);
#if H5_VERSION_GE(1, 10, 5)
    hsize_t stored_chunks = 0;
    component.holds_values = chunk_rank == 3 &&
                             H5Dget_num_chunks(dataset, space.get(), &stored_chunks) >= 0 &&
                             stored_chunks >= chunks;
#else
    component.holds_values = H5Dget_storage_size(dataset) >= needed;
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

// Every component is found and checked first; then, when the file holds enough of the values
// for the grid it claims, every array is allocated, and only then are they filled.
void read_components(const Reading& reading, hid_t mesh_group, const std::string& mesh_path,
                     std::size_t points, FieldMesh& mesh) {
  const char* path = reading.path;
  const std::array<const char*, 3>& labels = labels_of(mesh.geometry);
  const std::string labels_shown =
      mesh.geometry == MeshGeometry::cylindrical ? "r, theta or z" : "x, y or z";
  const std::array<std::int64_t, 3> extents{mesh.axes[0].points, mesh.axes[1].points,
                                            mesh.axes[2].points};
  const bool is_static = !is_rf(mesh);
  std::vector<Component> components;
  hsize_t count = 0;
  // Three names are enough: of any three, one is no record (and of any four axes, one is none).
  const std::vector<std::string> records = member_names(reading, mesh_group, mesh_path, count, 3);
  for (const std::string& record : records) {
    const bool electric = record == "electricField";
    if (!electric && record != "magneticField")
      raise_input_failure(path, 0, UNKNOWN_COMPONENT, path, quoted(record).c_str(),
                          labels_shown.c_str());
    const FieldKind field = electric ? FieldKind::electric : FieldKind::magnetic;
    std::optional<Id> group = open_member(reading, mesh_group, record, mesh_path + "/" + record);
    if (!group)
      raise_damaged(reading, mesh_path + "/" + record);
    require_group(reading, group->get(), mesh_path + "/" + record);
    hsize_t axis_count = 0;
    const std::vector<std::string> axes =
        member_names(reading, group->get(), mesh_path + "/" + record, axis_count, 4);
    for (const std::string& axis : axes) {
      const std::string name = record + "/" + axis;
      const auto label = std::find(labels.begin(), labels.end(), axis);
      if (label == labels.end())
        raise_input_failure(path, 0, UNKNOWN_COMPONENT, path, quoted(name).c_str(),
                            labels_shown.c_str());
      std::optional<Id> object = open_member(reading, group->get(), axis, name);
      if (!object)
        raise_damaged(reading, name);
      const H5I_type_t type = H5Iget_type(object->get());
      if (type != H5I_DATASET && type != H5I_GROUP)
        raise_input_failure(path, 0, COMPONENT_KIND, path, name.c_str(),
                            object_kind(object->get()));
      Component component;
      component.field = field;
      component.axis = axis;
      component.name = name;
      component.object = std::move(*object);
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

  for (const Component& component : components) {
    if (add_component(mesh, component.field, component.axis) == nullptr)
      raise_input_failure(path, ENOMEM, NO_MEMORY);
  }
  for (std::size_t k = 0; k < components.size(); ++k) {
    const Component& component = components[k];
    ComplexArray& values = mesh.components[k].values;
    if (component.dataset)
      read_dataset(reading, component, values);
    else
      std::fill(values.data(), values.data() + points, component.constant);
    if (is_static && std::any_of(values.data(), values.data() + points,
                                 [](const std::complex<double>& v) { return v.imag() != 0; }))
      raise_input_failure(path, 0, STATIC_IMAGINARY, path, component.name.c_str());
  }
  order_components(mesh);
}

ProblemKind problem_of(const FieldMesh& mesh) {
  if (is_rf(mesh))
    return ProblemKind::rf;
  bool electric = false;
  bool magnetic = false;
  for (const MeshComponent& component : mesh.components)
    (component.field == FieldKind::electric ? electric : magnetic) = true;
  if (electric && magnetic)
    return ProblemKind::unknown;
  return electric ? ProblemKind::electrostatic : ProblemKind::magnetostatic;
}

} // namespace

FieldMesh read_openpmd_mesh(const char* path, const MeshReadOptions&) {
  const Hdf5Scope scope;
  Reading reading{path, 0, {}};
  reading.file_length = check_hdf5_file(path);
  reading.complex_type = complex_memory_type();
  if (!reading.complex_type.valid())
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  const Id file = open_file(reading);
  const Id root(H5Gopen2(file.get(), "/", H5P_DEFAULT), H5Gclose);
  if (!root.valid())
    raise_damaged(reading, "/");
  check_root(reading, root.get());
  std::string mesh_path;
  const Id mesh_group = open_mesh(reading, root.get(), mesh_path);

  FieldMesh mesh;
  const std::size_t points = read_grid(reading, mesh_group.get(), mesh_path, mesh);
  read_components(reading, mesh_group.get(), mesh_path, points, mesh);
  mesh.source = MeshSource{path, MeshForm::openpmd, problem_of(mesh), {}};
  return mesh;
}

namespace {

// ---- Writing ----
//
// HDF5 never writes to the disk here: it makes the file's metadata in memory (its core driver,
// no backing store) and this code writes the file out. Each component's dataset is contiguous,
// its space allocated when it is created and never filled, so that HDF5 holds no value: its
// address in the file is all that the metadata needs. The image of that metadata is taken over
// when HDF5 closes the file (its file image callbacks), and the file is then written in one pass
// from its start: the image's bytes, and each component's values at its address, straight from
// the mesh's arrays. A failure is then always a failure of this code's own writes, with the
// system's error number, and never one of HDF5's (whose file, had it failed to write, could not
// be closed again).
//
// The core driver's memory covers every byte up to the highest address that HDF5 wrote, so the
// metadata must all lie before the values. A first pass makes the metadata alone (no space for
// any value), and its size becomes the block that HDF5 keeps for metadata in the second, which
// so receives all of it before the first value's address.

// A failed call of HDF5 while `path` is written: message 0 with ENOMEM when HDF5's error stack
// says that memory ran out, else EIO. (errno itself may hold anything by then: HDF5 leaves the
// errors of calls that it expected to fail.)
[[noreturn]] void raise_write_failure(const char* path) {
  raise_file_error(path, stack_has(H5E_RESOURCE, H5E_NOSPACE) ? ENOMEM : EIO);
}

struct Writing {
  const char* path;
  // Object header times off, for the same bytes at every write.
  Id group_creation;
  Id dataset_creation;
  Id complex_file;

  hid_t check(hid_t id) const {
    if (id < 0)
      raise_write_failure(path);
    return id;
  }
  void check_status(herr_t status) const {
    if (status < 0)
      raise_write_failure(path);
  }
};

// A fixed-length ASCII text type of `size` bytes, zero-padded, as numpy's bytes are in HDF5.
Id text_type(const Writing& writing, std::size_t size) {
  Id type(writing.check(H5Tcopy(H5T_C_S1)), H5Tclose);
  writing.check_status(H5Tset_size(type.get(), std::max<std::size_t>(size, 1)));
  writing.check_status(H5Tset_strpad(type.get(), H5T_STR_NULLPAD));
  writing.check_status(H5Tset_cset(type.get(), H5T_CSET_ASCII));
  return type;
}

void write_attribute(const Writing& writing, hid_t object, const char* name, hid_t file_type,
                     hid_t memory_type, hsize_t count, const void* data, bool scalar) {
  const Id space(
      writing.check(scalar ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr)),
      H5Sclose);
  const Id attribute(
      writing.check(H5Acreate2(object, name, file_type, space.get(), H5P_DEFAULT, H5P_DEFAULT)),
      H5Aclose);
  writing.check_status(H5Awrite(attribute.get(), memory_type, data));
}

void write_text(const Writing& writing, hid_t object, const char* name, const std::string& text) {
  std::string bytes = text;
  bytes.resize(std::max<std::size_t>(text.size(), 1), '\0');
  const Id type = text_type(writing, bytes.size());
  write_attribute(writing, object, name, type.get(), type.get(), 1, bytes.data(), true);
}

void write_texts(const Writing& writing, hid_t object, const char* name,
                 const std::array<const char*, 3>& texts) {
  std::size_t size = 1;
  for (const char* text : texts)
    size = std::max(size, std::strlen(text));
  std::string bytes(3 * size, '\0');
  for (std::size_t k = 0; k < 3; ++k)
    std::memcpy(bytes.data() + k * size, texts[k], std::strlen(texts[k]));
  const Id type = text_type(writing, size);
  write_attribute(writing, object, name, type.get(), type.get(), 3, bytes.data(), false);
}

void write_integers(const Writing& writing, hid_t object, const char* name,
                    const std::int64_t* values, hsize_t count, bool scalar = false) {
  write_attribute(writing, object, name, H5T_STD_I64LE, H5T_NATIVE_INT64, count, values, scalar);
}

void write_doubles(const Writing& writing, hid_t object, const char* name, const double* values,
                   hsize_t count, bool scalar = false) {
  write_attribute(writing, object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, count, values, scalar);
}

Id create_group(const Writing& writing, hid_t parent, const char* name) {
  return Id(writing.check(
                H5Gcreate2(parent, name, H5P_DEFAULT, writing.group_creation.get(), H5P_DEFAULT)),
            H5Gclose);
}

// The component's dataset, without its values; returns its address in the file (HADDR_UNDEF
// when its space is not allocated at its creation).
haddr_t write_component(const Writing& writing, hid_t record, const MeshComponent& component,
                        const std::array<hsize_t, 3>& shape) {
  const Id space(writing.check(H5Screate_simple(3, shape.data(), nullptr)), H5Sclose);
  const Id dataset(writing.check(H5Dcreate2(record, component.axis.c_str(),
                                            writing.complex_file.get(), space.get(), H5P_DEFAULT,
                                            writing.dataset_creation.get(), H5P_DEFAULT)),
                   H5Dclose);
  const double unit = 1.0;
  write_doubles(writing, dataset.get(), "unitSI", &unit, 1, true);
  const bool electric = component.field == FieldKind::electric;
  write_doubles(writing, dataset.get(), "unitDimension",
                (electric ? ELECTRIC_DIMENSION : MAGNETIC_DIMENSION).data(), 7);
  write_text(writing, dataset.get(), "unitSymbol", electric ? "V/m" : "T");
  return H5Dget_offset(dataset.get());
}

// A mesh whose parts do not fit together cannot be written: "Invalid argument".
void check_mesh(const FieldMesh& mesh, const char* path) {
  const std::array<const char*, 3>& labels = labels_of(mesh.geometry);
  const std::size_t plane = mesh.geometry == MeshGeometry::cylindrical ? 1 : 2;
  std::int64_t points = 1;
  for (std::size_t k = 0; k < 3; ++k) {
    const MeshAxis& axis = mesh.axes[k];
    if (axis.label != labels[k] || axis.points < 1 || (k == plane && axis.points != 1) ||
        axis.points > MESH_MAX_POINTS / points)
      raise_file_error(path, EINVAL);
    points *= axis.points;
  }
  for (std::size_t k = 0; k < mesh.components.size(); ++k) {
    const MeshComponent& component = mesh.components[k];
    if (std::find(labels.begin(), labels.end(), component.axis) == labels.end() ||
        component.values.size() != static_cast<std::size_t>(points))
      raise_file_error(path, EINVAL);
    for (std::size_t j = 0; j < k; ++j) {
      if (mesh.components[j].field == component.field && mesh.components[j].axis == component.axis)
        raise_file_error(path, EINVAL);
    }
  }
}

// Every group and attribute of the mesh and a dataset for each component; `addresses` receives
// the address of each component's values, in the order of mesh.components.
void write_mesh(const Writing& writing, hid_t file, const FieldMesh& mesh,
                std::vector<haddr_t>& addresses) {
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const Id root(writing.check(H5Gopen2(file, "/", H5P_DEFAULT)), H5Gclose);
  write_text(writing, root.get(), "openPMD", "2.0.0");
  write_text(writing, root.get(), "openPMDextension", "BeamPhysics");
  write_text(writing, root.get(), "dataType", "openPMD");
  write_text(writing, root.get(), "externalFieldPath", "/ExternalFieldPath/%T/");

  const Id meshes = create_group(writing, root.get(), "ExternalFieldPath");
  const Id group = create_group(writing, meshes.get(), MESH_GROUP);
  write_text(writing, group.get(), "gridGeometry", cylindrical ? "cylindrical" : "rectangular");
  write_texts(writing, group.get(), "axisLabels", labels_of(mesh.geometry));
  const std::array<std::int64_t, 3> lower{0, cylindrical ? 1 : 0, 0};
  write_integers(writing, group.get(), "gridLowerBound", lower.data(), 3);
  std::array<std::int64_t, 3> size{};
  std::array<double, 3> spacing{};
  std::array<double, 3> origin{};
  std::array<hsize_t, 3> shape{};
  for (std::size_t k = 0; k < 3; ++k) {
    size[k] = mesh.axes[k].points;
    shape[k] = static_cast<hsize_t>(mesh.axes[k].points);
    spacing[k] = mesh.axes[k].spacing;
    origin[k] = mesh.axes[k].origin;
  }
  write_integers(writing, group.get(), "gridSize", size.data(), 3);
  write_doubles(writing, group.get(), "gridSpacing", spacing.data(), 3);
  write_doubles(writing, group.get(), "gridOriginOffset", origin.data(), 3);
  write_integers(writing, group.get(), "harmonic", &mesh.harmonic, 1, true);
  write_doubles(writing, group.get(), "fundamentalFrequency", &mesh.frequency, 1, true);
  write_doubles(writing, group.get(), "RFphase", &mesh.rf_phase, 1, true);
  write_doubles(writing, group.get(), "fieldScale", &mesh.field_scale, 1, true);
  write_text(writing, group.get(), "eleAnchorPt", mesh.anchor);

  addresses.assign(mesh.components.size(), HADDR_UNDEF);
  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    Id record;
    for (std::size_t k = 0; k < mesh.components.size(); ++k) {
      const MeshComponent& component = mesh.components[k];
      if (component.field != field)
        continue;
      if (!record.valid())
        record = create_group(writing, group.get(), field_record(field));
      addresses[k] = write_component(writing, record.get(), component, shape);
    }
  }
}

// The bytes of the file that HDF5 made in memory, taken over from its core driver when the file
// is closed. Its size is that of the driver's buffer: at least the highest address written, and
// zeros wherever HDF5 wrote nothing.
struct Image {
  unsigned char* bytes = nullptr;
  std::size_t size = 0;    // of `bytes`
  std::size_t growing = 0; // the size of the driver's buffer while the file is open

  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() { std::free(bytes); }
};

// The core driver's memory calls, with an Image for their user data.
void* image_malloc(std::size_t size, H5FD_file_image_op_t, void* image) {
  void* memory = std::malloc(size);
  if (memory)
    static_cast<Image*>(image)->growing = size;
  return memory;
}
void* image_memcpy(void* to, const void* from, std::size_t size, H5FD_file_image_op_t, void*) {
  return std::memcpy(to, from, size);
}
void* image_realloc(void* memory, std::size_t size, H5FD_file_image_op_t, void* image) {
  void* moved = std::realloc(memory, size);
  if (moved)
    static_cast<Image*>(image)->growing = size;
  return moved;
}
herr_t image_free(void* memory, H5FD_file_image_op_t operation, void* user_data) {
  auto* image = static_cast<Image*>(user_data);
  if (operation == H5FD_FILE_IMAGE_OP_FILE_CLOSE && memory && !image->bytes) {
    image->bytes = static_cast<unsigned char*>(memory);
    image->size = image->growing;
  } else {
    std::free(memory);
  }
  return 0;
}
void* image_user_data_copy(void* image) {
  return image;
}
herr_t image_user_data_free(void*) {
  return 0;
}

std::uint64_t little_endian_u64(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int k = 7; k >= 0; --k)
    value = value << 8 | bytes[k];
  return value;
}

// The file's length, the end-of-file address of the superblock at the image's start (no user
// block): after the version, sizes, tree ranks and flags, and the base address and one more
// address, in superblocks of versions 0 and 1 (which also has the indexed-storage rank), and 2
// and 3. Addresses of 8 bytes only, as this writer makes them; 0 for anything else.
std::uint64_t image_file_length(const Image& image) {
  if (image.size < 64 || std::memcmp(image.bytes, HDF5_SIGNATURE, sizeof HDF5_SIGNATURE) != 0)
    return 0;
  const unsigned version = image.bytes[8];
  std::size_t base = 0;
  if (version <= 1 && image.bytes[13] == 8)
    base = version == 0 ? 24 : 28;
  else if ((version == 2 || version == 3) && image.bytes[9] == 8)
    base = 12;
  else
    return 0;
  if (little_endian_u64(image.bytes + base) != 0)
    return 0;
  return little_endian_u64(image.bytes + base + 16);
}

// Makes the file's metadata in memory: with space for the values (`allocate`) in a metadata
// block of `metadata_block` bytes (0: HDF5's own), or without. Returns the file's length and
// fills `image` and `addresses`.
std::uint64_t make_image(const FieldMesh& mesh, const char* path, bool allocate,
                         std::uint64_t metadata_block, Image& image,
                         std::vector<haddr_t>& addresses) {
  Writing writing{path, {}, {}, {}};
  writing.group_creation = Id(writing.check(H5Pcreate(H5P_GROUP_CREATE)), H5Pclose);
  writing.check_status(H5Pset_obj_track_times(writing.group_creation.get(), false));
  writing.dataset_creation = Id(writing.check(H5Pcreate(H5P_DATASET_CREATE)), H5Pclose);
  const hid_t dataset_creation = writing.dataset_creation.get();
  writing.check_status(H5Pset_obj_track_times(dataset_creation, false));
  writing.check_status(H5Pset_layout(dataset_creation, H5D_CONTIGUOUS));
  // The space at the dataset's creation, or not until a value is written (never, here); no fill
  // value ever: HDF5 writes none of the values.
  writing.check_status(
      H5Pset_alloc_time(dataset_creation, allocate ? H5D_ALLOC_TIME_EARLY : H5D_ALLOC_TIME_LATE));
  writing.check_status(H5Pset_fill_time(dataset_creation, H5D_FILL_TIME_NEVER));
  writing.complex_file = Id(writing.check(H5Tcreate(H5T_COMPOUND, 2 * sizeof(double))), H5Tclose);
  writing.check_status(H5Tinsert(writing.complex_file.get(), "r", 0, H5T_IEEE_F64LE));
  writing.check_status(H5Tinsert(writing.complex_file.get(), "i", sizeof(double), H5T_IEEE_F64LE));
  // The values are written as the model holds them: std::complex<double> as two IEEE doubles,
  // real then imaginary, little-endian, which is the compound's layout.
  if (H5Tget_size(writing.complex_file.get()) != sizeof(std::complex<double>) ||
      H5Tget_member_offset(writing.complex_file.get(), 0) != 0 ||
      H5Tget_member_offset(writing.complex_file.get(), 1) != sizeof(double))
    raise_file_error(path, EIO);

  const Id creation(writing.check(H5Pcreate(H5P_FILE_CREATE)), H5Pclose);
  writing.check_status(H5Pset_obj_track_times(creation.get(), false)); // the root group's
  const Id access(writing.check(H5Pcreate(H5P_FILE_ACCESS)), H5Pclose);
  writing.check_status(H5Pset_fapl_core(access.get(), 1U << 16, false));
  H5FD_file_image_callbacks_t callbacks{image_malloc, image_memcpy,         image_realloc,
                                        image_free,   image_user_data_copy, image_user_data_free,
                                        &image};
  writing.check_status(H5Pset_file_image_callbacks(access.get(), &callbacks));
  if (metadata_block != 0)
    writing.check_status(H5Pset_meta_block_size(access.get(), metadata_block));
  // Closing the file fails while anything of it is still open, rather than waiting for it.
  writing.check_status(H5Pset_fclose_degree(access.get(), H5F_CLOSE_SEMI));
  // The name only tells the file from others open in this process.
  static std::atomic<unsigned long long> images{0};
  const std::string image_name = "norvalex openPMD image " + std::to_string(++images);
  Id file(writing.check(H5Fcreate(image_name.c_str(), H5F_ACC_TRUNC, creation.get(), access.get())),
          H5Fclose);
  write_mesh(writing, file.get(), mesh, addresses);
  writing.check_status(file.close());
  const std::uint64_t length = image_file_length(image);
  if (length == 0)
    raise_file_error(path, EIO);
  return length;
}

// Part of the file: `size` bytes at `address`.
struct Piece {
  std::uint64_t address;
  std::uint64_t size;
  const void* bytes;
};

// The image's bytes from `from` to `to`, and zeros past its end.
void write_image_part(TqsOutput& output, const Image& image, std::uint64_t from, std::uint64_t to) {
  if (from < image.size) {
    const std::uint64_t end = std::min<std::uint64_t>(to, image.size);
    tqs_write_bytes(output, image.bytes + from, static_cast<std::size_t>(end - from));
    from = end;
  }
  static constexpr unsigned char ZEROS[4096] = {};
  while (from < to) {
    const std::uint64_t zeros = std::min<std::uint64_t>(to - from, sizeof ZEROS);
    tqs_write_bytes(output, ZEROS, static_cast<std::size_t>(zeros));
    from += zeros;
  }
}

} // namespace

void write_openpmd(const FieldMesh& mesh, TqsOutput& output) {
  const char* const name = output.name;
  static_assert(std::endian::native == std::endian::little &&
                    std::numeric_limits<double>::is_iec559,
                "the values are written from memory as little-endian IEEE doubles");
  check_mesh(mesh, name);
  Image image;
  std::vector<haddr_t> addresses;
  std::uint64_t length = 0;
  {
    const Hdf5Scope scope;
    std::uint64_t metadata_length = 0;
    {
      Image metadata;
      metadata_length = make_image(mesh, name, false, 0, metadata, addresses);
    }
    length = make_image(mesh, name, true, metadata_length, image, addresses);
  }
  // The values in the order of their addresses, apart from each other and within the file.
  const std::uint64_t value_bytes = mesh.point_count() * sizeof(std::complex<double>);
  std::vector<Piece> pieces;
  for (std::size_t k = 0; k < mesh.components.size(); ++k) {
    if (addresses[k] == HADDR_UNDEF)
      raise_file_error(name, EIO);
    pieces.push_back(Piece{addresses[k], value_bytes, mesh.components[k].values.data()});
  }
  std::sort(pieces.begin(), pieces.end(),
            [](const Piece& a, const Piece& b) { return a.address < b.address; });
  std::uint64_t end = 0;
  for (const Piece& piece : pieces) {
    if (piece.address < end || piece.address > length || piece.size > length - piece.address)
      raise_file_error(name, EIO);
    end = piece.address + piece.size;
  }

  // From the start to the end, without a seek: a pipe or a device takes it as a file does.
  std::uint64_t at = 0;
  for (const Piece& piece : pieces) {
    write_image_part(output, image, at, piece.address);
    tqs_write_bytes(output, piece.bytes, static_cast<std::size_t>(piece.size));
    at = piece.address + piece.size;
  }
  write_image_part(output, image, at, length);
}

} // namespace norvalex
