// The openPMD reader with HDF5, in the process that runs it (read_openpmd_here): the file, its
// root, the one mesh group, the grid and the components.
//
// It trusts nothing of the file. Before HDF5 sees the path it must be a regular file with the
// HDF5 signature (so that a FIFO never blocks the open); members are opened by their index,
// never by a name that HDF5 would take as a path, and only hard links are followed (a soft or
// external link could lead anywhere, another file included); every attribute is checked for its
// kind and count before it is read, and texts for their length; the grid is checked (three
// extents of at least 1, one plane, at most MESH_MAX_POINTS points, the product checked for
// overflow) before anything is allocated; a component's shape must be the grid's, its values
// must be in the file itself (no external or virtual storage), a contiguous or compact dataset
// must store as many bytes as its shape needs, within the file's length, and a chunked one must
// have chunks no larger than itself (or 2^20 values). The arrays of the grid may take no more
// memory than the values that the file stores can fill (openpmd_components.cpp), and a file may
// claim more than UNSTORED_MAX_POINTS (2^24) points only when a component is a dataset that holds
// its values. Every component is checked before any array is had, and every array had before any is
// filled. No plugin of HDF5 is ever loaded. No partial mesh is ever returned.
#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"
#include "mesh/openpmd_reading.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

constexpr const char* MESHES_PATH = "/ExternalFieldPath/";

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

Hdf5Id open_file(const Reading& reading) {
  const char* path = reading.path;
  Hdf5Id access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  if (!access.valid())
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  hdf5_no_file_locking(access.get());
  Hdf5Id file(H5Fopen(path, H5F_ACC_RDONLY, access.get()), H5Fclose);
  if (!file.valid()) {
    const bool truncated = hdf5_stack_has(H5I_INVALID_HID, H5E_TRUNCATED);
    if (const int error_number = hdf5_stack_error_number(); error_number != 0)
      raise_input_failure(path, error_number, OPEN_FAILED, path, platform_error_text(error_number));
    raise_input_failure(path, 0, truncated ? TRUNCATED : DAMAGED_FILE, path);
  }
  return file;
}

// The root's attributes: openPMD's version and where the field meshes are.
void check_root(const Reading& reading, hid_t root) {
  const std::optional<Attribute> version = find_attribute(reading, root, "/", "openPMD");
  if (!version)
    raise_input_failure(reading.path, 0, NOT_OPENPMD, reading.path);
  const std::string text = read_text(reading, *version);
  if (text.size() < 2 || (text[0] != '1' && text[0] != '2') || text[1] != '.')
    raise_input_failure(reading.path, 0, OPENPMD_VERSION, reading.path,
                        reading.shown(text, *version).c_str());
  if (const std::optional<Attribute> path =
          find_attribute(reading, root, "/", "externalFieldPath")) {
    const std::string where = read_text(reading, *path);
    if (where != "/ExternalFieldPath/%T/" && where != "/ExternalFieldPath/%T")
      raise_input_failure(reading.path, 0, FIELD_PATH, reading.path,
                          reading.shown(where, *path).c_str());
  }
}

// The mesh group's name as the messages show it: as it is when it is a short plain name, else
// quoted and cut like the file's other texts.
std::string mesh_name_shown(const Reading& reading, const std::string& name) {
  const std::string shown = reading.shown(name, MESHES_PATH);
  const bool plain =
      !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '_' || c == '-';
      });
  return plain ? name : shown;
}

// The group /ExternalFieldPath/ of the root, by that name (which HDF5 takes as no path), or none.
std::optional<Hdf5Id> open_meshes(const Reading& reading, hid_t root) {
  constexpr const char* NAME = "ExternalFieldPath";
  const htri_t exists = H5Lexists(root, NAME, H5P_DEFAULT);
  if (exists < 0)
    raise_damaged(reading, MESHES_PATH);
  if (exists == 0)
    return std::nullopt;
  H5L_info_t info;
  if (H5Lget_info(root, NAME, &info, H5P_DEFAULT) < 0)
    raise_damaged(reading, MESHES_PATH);
  if (info.type != H5L_TYPE_HARD)
    raise_input_failure(reading.path, 0, NOT_HARD_LINK, reading.path, MESHES_PATH);
  Hdf5Id meshes(H5Oopen(root, NAME, H5P_DEFAULT), H5Oclose);
  if (!meshes.valid())
    raise_damaged(reading, MESHES_PATH);
  return meshes;
}

// The one mesh group under /ExternalFieldPath/, and its path as the messages show it.
Hdf5Id open_mesh(const Reading& reading, hid_t root, std::string& mesh_path) {
  const std::optional<Hdf5Id> found = open_meshes(reading, root);
  if (!found)
    raise_input_failure(reading.path, 0, NO_MESH_GROUP, reading.path);
  const Hdf5Id& meshes = *found;
  require_group(reading, meshes.get(), MESHES_PATH);
  const Members members = list_members(reading, meshes.get(), MESHES_PATH);
  if (members.count == 0)
    raise_input_failure(reading.path, 0, NO_MESH, reading.path);
  if (members.count > 1)
    raise_input_failure(reading.path, 0, SEVERAL_MESHES, reading.path,
                        static_cast<unsigned long long>(members.count));
  mesh_path = MESHES_PATH + mesh_name_shown(reading, member_name(reading, members, 0));
  Hdf5Id mesh = open_member(reading, members, 0, mesh_path);
  require_group(reading, mesh.get(), mesh_path);
  return mesh;
}

void require_finite(const Reading& reading, const std::string& what, double value) {
  if (!std::isfinite(value))
    raise_input_failure(reading.path, 0, NOT_FINITE, reading.path, what.c_str(),
                        number_text(value).c_str());
}

// The mesh group's grid and RF attributes into `mesh`; returns the grid's point count. An RF
// map whose file states no frequency takes the options'.
std::size_t read_grid(const Reading& reading, hid_t group, const std::string& owner,
                      const MeshReadOptions& options, FieldMesh& mesh) {
  const char* path = reading.path;
  const Attribute geometry_attribute = need_attribute(reading, group, owner, "gridGeometry");
  const std::string geometry = read_text(reading, geometry_attribute);
  if (geometry == "cylindrical")
    mesh.geometry = MeshGeometry::cylindrical;
  else if (geometry == "rectangular")
    mesh.geometry = MeshGeometry::rectangular;
  else
    raise_input_failure(path, 0, GEOMETRY, path,
                        reading.shown(geometry, geometry_attribute).c_str());
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const std::array<const char*, 3>& expected_labels = axis_labels(mesh.geometry);

  const Attribute labels_attribute = need_attribute(reading, group, owner, "axisLabels");
  const std::vector<std::string> labels = read_texts(reading, labels_attribute, 3, "3 texts");
  for (std::size_t k = 0; k < 3; ++k) {
    if (labels[k] != expected_labels[k]) {
      raise_input_failure(
          path, 0, AXIS_LABELS, path, reading.shown(labels[0], labels_attribute).c_str(),
          reading.shown(labels[1], labels_attribute).c_str(),
          reading.shown(labels[2], labels_attribute).c_str(),
          cylindrical ? "cylindrical" : "rectangular", cylindrical ? "r, theta, z" : "x, y, z");
    }
  }

  const std::vector<std::int64_t> size =
      read_integers(reading, need_attribute(reading, group, owner, "gridSize"), 3, "3 integers");
  const std::array<std::int64_t, 3> extents{size[0], size[1], size[2]};
  const std::string extents_shown = extents_text(extents);
  if (std::any_of(extents.begin(), extents.end(), [](std::int64_t n) { return n < 1; }))
    raise_input_failure(path, 0, EXTENT, path, extents_shown.c_str());
  if (cylindrical && extents[1] != 1)
    raise_input_failure(path, 0, THREE_D, path, extents_shown.c_str(), "theta");
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
  // The options' frequency is the map's own, the harmonic of the fundamental.
  if (mesh.harmonic != 0 && mesh.frequency == 0)
    mesh.frequency = frequency_of_options(path, options, "an RF map's openPMD file") /
                     static_cast<double>(mesh.harmonic);
  mesh.rf_phase = optional_number(reading, group, owner, "RFphase").value_or(0);
  require_finite(reading, "RFphase", mesh.rf_phase);
  mesh.field_scale = optional_number(reading, group, owner, "fieldScale").value_or(1);
  require_finite(reading, "fieldScale", mesh.field_scale);
  if (const std::optional<Attribute> anchor =
          find_attribute(reading, group, owner, "eleAnchorPt")) {
    mesh.anchor = read_text(reading, *anchor);
    if (mesh.anchor != "beginning" && mesh.anchor != "center" && mesh.anchor != "end")
      raise_input_failure(path, 0, ANCHOR, path, reading.shown(mesh.anchor, *anchor).c_str());
  }
  return static_cast<std::size_t>(points);
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

FieldMesh read_openpmd_here(const char* path, const MeshReadOptions& options,
                            const ArraySource& arrays) {
  const Hdf5Scope scope(Hdf5Scope::in_child);
  // A filter that HDF5 lacks is a failed read, never a plugin loaded from HDF5_PLUGIN_PATH.
  H5PLset_loading_state(0);
  Reading reading{path, 0, {}};
  reading.file_length = check_hdf5_file(path);
  reading.complex_type = hdf5_complex_type();
  if (!reading.complex_type.valid())
    raise_input_failure(path, ENOMEM, NO_MEMORY);
  const Hdf5Id file = open_file(reading);
  const Hdf5Id root(H5Gopen2(file.get(), "/", H5P_DEFAULT), H5Gclose);
  if (!root.valid())
    raise_damaged(reading, "/");
  check_root(reading, root.get());
  std::string mesh_path;
  const Hdf5Id mesh_group = open_mesh(reading, root.get(), mesh_path);

  FieldMesh mesh;
  const std::size_t points = read_grid(reading, mesh_group.get(), mesh_path, options, mesh);
  read_components(reading, mesh_group.get(), mesh_path, points, arrays, mesh);
  mesh.source = MeshSource{path, MeshForm::openpmd, problem_of(mesh), {}};
  return mesh;
}

} // namespace norvalex
