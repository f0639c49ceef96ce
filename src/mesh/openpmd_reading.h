// The openPMD reader's parts (built only with HDF5): the table of every text it reports, the
// state of one reading, the file's objects (openpmd_objects.cpp: attributes, members of groups,
// the texts of messages), the components (openpmd_components.cpp) and the reader of the mesh
// (openpmd_reader.cpp) on them. The reader runs in a child process (openpmd_child.cpp), whose
// errors reach the caller unchanged.
#pragma once

#include "mesh/hdf5_support.h"
#include "norvalex/mesh.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace norvalex {

// The reader's texts: every defect of a file that it reports, one row each. ErrorOrigin::
// input_file, error number 0 unless said; the first %s is always the file's name. Texts of the
// file itself (names, labels) appear quoted and cut at 64 bytes, and only when the file holds
// them: bytes that HDF5 took from elsewhere make the object a damaged one.
inline constexpr char OPEN_FAILED[] = "%s: %s"; // the system's text; its error number
inline constexpr char NOT_REGULAR[] = "%s: not a regular file";
inline constexpr char NOT_HDF5[] = "%s: not an HDF5 file";
inline constexpr char TRUNCATED[] = "%s: truncated HDF5 file";
inline constexpr char DAMAGED_FILE[] = "%s: damaged HDF5 file (HDF5 cannot open it)";
inline constexpr char DAMAGED_OBJECT[] = "%s: damaged HDF5 file (%s cannot be read)";
// The child that ran HDF5 on the file died (a signal) or ended without a result.
inline constexpr char HDF5_FAILED[] = "%s: damaged HDF5 file (HDF5 failed reading it)";
inline constexpr char NOT_OPENPMD[] = "%s: not an openPMD file (no openPMD attribute at its root)";
inline constexpr char OPENPMD_VERSION[] = "%s: openPMD version %s: versions 1 and 2 can be read";
inline constexpr char FIELD_PATH[] =
    "%s: externalFieldPath %s: only /ExternalFieldPath/%%T/ can be read";
inline constexpr char NO_MESH_GROUP[] = "%s: no field mesh (no group /ExternalFieldPath/)";
inline constexpr char NO_MESH[] = "%s: no field mesh under /ExternalFieldPath/";
inline constexpr char SEVERAL_MESHES[] =
    "%s: %llu field meshes under /ExternalFieldPath/: only a file of one can be read";
inline constexpr char NOT_A_GROUP[] = "%s: %s is %s, not a group";
inline constexpr char NOT_HARD_LINK[] =
    "%s: %s is a soft or external link: only objects of the file itself are read";
inline constexpr char MISSING_ATTRIBUTE[] = "%s: %s has no %s attribute";
inline constexpr char ATTRIBUTE_KIND[] = "%s: attribute %s of %s holds %s: %s expected";
inline constexpr char LONG_TEXT[] = "%s: attribute %s of %s holds a text of more than %zu bytes";
inline constexpr char GEOMETRY[] =
    "%s: gridGeometry %s: only cylindrical and rectangular meshes can be read";
inline constexpr char AXIS_LABELS[] = "%s: axisLabels %s, %s, %s: a %s mesh has %s";
inline constexpr char EXTENT[] = "%s: gridSize %s: every extent must be at least 1";
inline constexpr char THREE_D[] = "%s: 3-D mesh (gridSize %s): only one %s plane can be read";
inline constexpr char TOO_MANY_POINTS[] = "%s: gridSize %s: more than %lld points";
inline constexpr char SPACING[] = "%s: gridSpacing %s of axis %s: an axis of %lld points needs a "
                                  "positive spacing";
inline constexpr char NOT_FINITE[] = "%s: %s %s: a finite number expected";
inline constexpr char FREQUENCY[] = "%s: fundamentalFrequency %s: a finite frequency of at "
                                    "least 0 expected";
inline constexpr char HARMONIC[] = "%s: harmonic %lld: at least 0 expected";
inline constexpr char ANCHOR[] = "%s: eleAnchorPt %s: beginning, center or end expected";
inline constexpr char UNKNOWN_COMPONENT[] =
    "%s: unknown component %s: components are electricField/<axis> and magneticField/<axis>, "
    "<axis> %s";
inline constexpr char NO_COMPONENT[] =
    "%s: no field component (electricField/<axis> or magneticField/<axis>)";
inline constexpr char COMPONENT_KIND[] =
    "%s: component %s is %s: a dataset or a group of value and shape expected";
inline constexpr char SHAPE[] = "%s: component %s has shape %s, not gridSize %s";
inline constexpr char VALUE_KIND[] = "%s: component %s holds %s: complex values (a compound of "
                                     "floating-point r and i) or real numbers expected";
inline constexpr char OTHER_FILES[] = "%s: component %s keeps its values in other files: only "
                                      "values in the file itself are read";
inline constexpr char STORAGE[] = "%s: component %s stores %llu bytes, not the %llu of its shape";
inline constexpr char PAST_END[] =
    "%s: component %s lies past the end of the file (a truncated file)";
inline constexpr char CHUNKS[] = "%s: component %s has chunks of %llu values, more than its %llu";
inline constexpr char READ_FAILED[] = "%s: component %s cannot be read (a damaged file, or a "
                                      "compression that this HDF5 lacks)";
inline constexpr char UNIT_SI[] =
    "%s: component %s unitSI %s: a finite factor other than 0 expected";
inline constexpr char UNIT_DIMENSION[] = "%s: component %s unitDimension (%s): %s (%s) expected";
inline constexpr char STATIC_IMAGINARY[] = "%s: component %s has imaginary parts in a static "
                                           "mesh (harmonic 0, fundamentalFrequency 0)";
inline constexpr char UNSTORED_GRID[] =
    "%s: gridSize %s: more than %lld points, and no component is a dataset that holds its values "
    "(constant groups and chunks never written hold none)";
// The arrays of a grid would take more memory than the values that the file stores can fill.
inline constexpr char UNFILLED_GRID[] =
    "%s: gridSize %s: its components' arrays would take %llu bytes, more than the %llu that the "
    "values the file stores can fill (its datasets hold %llu bytes)";
inline constexpr char NO_MEMORY[] = "Not enough memory"; // ENOMEM

// The longest text attribute read, in bytes.
inline constexpr std::size_t MAX_TEXT_BYTES = 4096;

struct Attribute;

// One reading of a file.
struct Reading {
  const char* path;
  std::int64_t file_length = 0;
  Hdf5Id complex_type;

  // Throws `what` as a damaged object unless the file holds the bytes of `text` that a message
  // shows (its first 64): HDF5 took them from elsewhere.
  void require_held(const std::string& text, const std::string& what) const;
  // `text` of the file as a message shows it (quoted), once require_held passed.
  std::string shown(const std::string& text, const std::string& what) const;
  // A text that `attribute` holds, as a message shows it, once the file was found to hold the
  // bytes that the attribute's value was read from.
  std::string shown(const std::string& text, const Attribute& attribute) const;
};

[[noreturn]] void raise_damaged(const Reading& reading, const std::string& what);

// "3 x 1 x 4", "()" for rank 0.
std::string extents_text(const hsize_t* dims, int rank);
std::string extents_text(const std::array<std::int64_t, 3>& extents);

// What a value of an HDF5 class is, one ("an integer") and several ("integers").
const char* kind_singular(H5T_class_t type_class);
const char* kind_plural(H5T_class_t type_class);

// True when an integer or floating-point type's fields lie inside its size, as HDF5's
// conversions assume without checking (a damaged type would make them read out of bounds); for
// a compound, when its two members are and lie apart within it.
bool sane_number_type(hid_t type);
bool sane_value_type(hid_t type);

// An attribute, with what it holds.
struct Attribute {
  const char* name;
  std::string owner; // the object it belongs to, as the messages show it
  Hdf5Id id;
  Hdf5Id type;
  H5T_class_t type_class = H5T_NO_CLASS;
  H5S_class_t space_class = H5S_NO_CLASS;
  int rank = 0;
  hsize_t dims[H5S_MAX_RANK] = {};
  hsize_t count = 0; // values: 1 for a scalar
  // The bytes of a fixed-length text value as read, padding included: only they, and not the
  // shorter text, tell bytes of the file from bytes that HDF5 took from elsewhere.
  mutable std::string stored = {};
};

std::string damaged_attribute(const Attribute& attribute);

std::optional<Attribute> find_attribute(const Reading& reading, hid_t object,
                                        const std::string& owner, const char* name);
// The same, throwing MISSING_ATTRIBUTE when there is none.
Attribute need_attribute(const Reading& reading, hid_t object, const std::string& owner,
                         const char* name);
[[noreturn]] void raise_attribute_kind(const Reading& reading, const Attribute& attribute,
                                       const char* expected);
// True when the attribute holds `count` values: a scalar or a list of one for one value.
bool holds_count(const Attribute& attribute, hsize_t count);

// The attribute's `count` values, of the kind `expected` names in the message when it holds
// another. Integers of any width and sign (a value past int64's range becomes its nearest end);
// numbers, integers included; texts of fixed or variable length, each up to its first zero byte
// (and without the trailing spaces of a space-padded one).
std::vector<std::int64_t> read_integers(const Reading& reading, const Attribute& attribute,
                                        hsize_t count, const char* expected);
std::vector<double> read_numbers(const Reading& reading, const Attribute& attribute, hsize_t count,
                                 const char* expected);
std::vector<std::string> read_texts(const Reading& reading, const Attribute& attribute,
                                    hsize_t count, const char* expected);
std::string read_text(const Reading& reading, const Attribute& attribute);
// An optional number attribute.
std::optional<double> optional_number(const Reading& reading, hid_t object,
                                      const std::string& owner, const char* name);

// What gives the reader its arrays once every component is checked: `count` arrays of `points`
// values each (ComplexArray is the type of MeshComponent::values).
using ComplexArray = MeshArray<std::complex<double>>;
using ArraySource = std::function<std::vector<ComplexArray>(std::size_t count, std::size_t points)>;

// The members of a group, by their index in the order of their names: never by a name, which
// HDF5 would take as a path.
struct Members {
  hid_t group;
  std::string shown; // the group, as the messages show it
  hsize_t count = 0;
};
Members list_members(const Reading& reading, hid_t group, const std::string& shown);
std::string member_name(const Reading& reading, const Members& members, hsize_t k);
// The object of member k, which must be a hard link (shown as `shown`).
Hdf5Id open_member(const Reading& reading, const Members& members, hsize_t k,
                   const std::string& shown);
// "a group", "a dataset", "a named datatype", "an object of another kind".
const char* object_kind(hid_t object);
// Throws NOT_A_GROUP unless `object` is a group.
void require_group(const Reading& reading, hid_t object, const std::string& shown);

// The components of the mesh group into `mesh`, whose grid is read (openpmd_components.cpp).
void read_components(const Reading& reading, hid_t mesh_group, const std::string& mesh_path,
                     std::size_t points, const ArraySource& arrays, FieldMesh& mesh);

// Reads the openPMD file `path` in this process, with HDF5, into a mesh whose component arrays
// `arrays` gives. What read_openpmd_mesh runs in its child.
FieldMesh read_openpmd_here(const char* path, const MeshReadOptions& options,
                            const ArraySource& arrays);

} // namespace norvalex
