// The openPMD writer with HDF5 (write_openpmd_file): HDF5 makes and writes the file itself, one
// contiguous dataset per component written straight from the mesh's arrays, in the file type
// that the arrays' memory has, so that HDF5 neither converts nor copies them. Object header
// times are off, so that the same mesh gives the same bytes.
#include "diag/raise.h"
#include "mesh/hdf5_support.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace norvalex {

namespace {

// A failed call of HDF5 while the file is written: message 0 with the system's error number that
// HDF5's error stack reports (a full disk, say), ENOMEM when it says that memory ran out, else
// EIO. (errno itself may hold anything by then: HDF5 leaves the errors of calls that it expected
// to fail.)
[[noreturn]] void raise_write_failure(const char* name) {
  const int error_number = hdf5_stack_error_number();
  if (error_number != 0)
    raise_file_error(name, error_number);
  raise_file_error(name, hdf5_stack_has(H5E_RESOURCE, H5E_NOSPACE) ? ENOMEM : EIO);
}

struct Writing {
  const char* name; // the output, as the messages show it
  Hdf5Id group_creation;
  Hdf5Id dataset_creation;
  Hdf5Id complex_type;

  hid_t check(hid_t id) const {
    if (id < 0)
      raise_write_failure(name);
    return id;
  }
  void check_status(herr_t status) const {
    if (status < 0)
      raise_write_failure(name);
  }
};

// A fixed-length ASCII text type of `size` bytes, zero-padded, as numpy's bytes are in HDF5.
Hdf5Id text_type(const Writing& writing, std::size_t size) {
  Hdf5Id type(writing.check(H5Tcopy(H5T_C_S1)), H5Tclose);
  writing.check_status(H5Tset_size(type.get(), std::max<std::size_t>(size, 1)));
  writing.check_status(H5Tset_strpad(type.get(), H5T_STR_NULLPAD));
  writing.check_status(H5Tset_cset(type.get(), H5T_CSET_ASCII));
  return type;
}

void write_attribute(const Writing& writing, hid_t object, const char* name, hid_t file_type,
                     hid_t memory_type, hsize_t count, const void* data, bool scalar) {
  const Hdf5Id space(
      writing.check(scalar ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr)),
      H5Sclose);
  const Hdf5Id attribute(
      writing.check(H5Acreate2(object, name, file_type, space.get(), H5P_DEFAULT, H5P_DEFAULT)),
      H5Aclose);
  writing.check_status(H5Awrite(attribute.get(), memory_type, data));
}

void write_text(const Writing& writing, hid_t object, const char* name, const std::string& text) {
  std::string bytes = text;
  bytes.resize(std::max<std::size_t>(text.size(), 1), '\0');
  const Hdf5Id type = text_type(writing, bytes.size());
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
  const Hdf5Id type = text_type(writing, size);
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

Hdf5Id create_group(const Writing& writing, hid_t parent, const char* name) {
  return Hdf5Id(writing.check(H5Gcreate2(parent, name, H5P_DEFAULT, writing.group_creation.get(),
                                         H5P_DEFAULT)),
                H5Gclose);
}

// The component's dataset with its values and unit attributes.
void write_component(const Writing& writing, hid_t record, const MeshComponent& component,
                     const std::array<hsize_t, 3>& shape) {
  const Hdf5Id space(writing.check(H5Screate_simple(3, shape.data(), nullptr)), H5Sclose);
  const hid_t type = writing.complex_type.get();
  const Hdf5Id dataset(
      writing.check(H5Dcreate2(record, component.axis.c_str(), type, space.get(), H5P_DEFAULT,
                               writing.dataset_creation.get(), H5P_DEFAULT)),
      H5Dclose);
  writing.check_status(
      H5Dwrite(dataset.get(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, component.values.data()));
  const double unit = 1.0;
  write_doubles(writing, dataset.get(), "unitSI", &unit, 1, true);
  const bool electric = component.field == FieldKind::electric;
  write_doubles(writing, dataset.get(), "unitDimension",
                (electric ? ELECTRIC_DIMENSION : MAGNETIC_DIMENSION).data(), 7);
  write_text(writing, dataset.get(), "unitSymbol", electric ? "V/m" : "T");
}

// A mesh whose parts do not fit together cannot be written: "Invalid argument".
void check_mesh_parts(const FieldMesh& mesh, const char* name) {
  const std::array<const char*, 3>& labels = axis_labels(mesh.geometry);
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  std::int64_t points = 1;
  for (std::size_t k = 0; k < 3; ++k) {
    const MeshAxis& axis = mesh.axes[k];
    if (axis.label != labels[k] || axis.points < 1 || (cylindrical && k == 1 && axis.points != 1) ||
        axis.points > MESH_MAX_POINTS / points)
      raise_file_error(name, EINVAL);
    points *= axis.points;
  }
  for (std::size_t k = 0; k < mesh.components.size(); ++k) {
    const MeshComponent& component = mesh.components[k];
    if (std::find(labels.begin(), labels.end(), component.axis) == labels.end() ||
        component.values.size() != static_cast<std::size_t>(points))
      raise_file_error(name, EINVAL);
    for (std::size_t j = 0; j < k; ++j) {
      if (mesh.components[j].field == component.field && mesh.components[j].axis == component.axis)
        raise_file_error(name, EINVAL);
    }
  }
}

// Every group and attribute of the mesh, and a dataset for each component.
void write_mesh_groups(const Writing& writing, hid_t file, const FieldMesh& mesh) {
  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const Hdf5Id root(writing.check(H5Gopen2(file, "/", H5P_DEFAULT)), H5Gclose);
  write_text(writing, root.get(), "openPMD", "2.0.0");
  write_text(writing, root.get(), "openPMDextension", "BeamPhysics");
  write_text(writing, root.get(), "dataType", "openPMD");
  write_text(writing, root.get(), "externalFieldPath", "/ExternalFieldPath/%T/");

  const Hdf5Id meshes = create_group(writing, root.get(), "ExternalFieldPath");
  const Hdf5Id group = create_group(writing, meshes.get(), "1");
  write_text(writing, group.get(), "gridGeometry", cylindrical ? "cylindrical" : "rectangular");
  write_texts(writing, group.get(), "axisLabels", axis_labels(mesh.geometry));
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

  for (const FieldKind field : {FieldKind::electric, FieldKind::magnetic}) {
    Hdf5Id record;
    for (const MeshComponent& component : mesh.components) {
      if (component.field != field)
        continue;
      if (!record.valid())
        record = create_group(writing, group.get(),
                              field == FieldKind::electric ? "electricField" : "magneticField");
      write_component(writing, record.get(), component, shape);
    }
  }
}

} // namespace

void write_openpmd_file(const FieldMesh& mesh, const char* hdf5_path, const char* shown_name) {
  check_mesh_parts(mesh, shown_name);
  const Hdf5Scope scope(Hdf5Scope::in_process);
  Writing writing{shown_name, {}, {}, {}};
  writing.group_creation = Hdf5Id(writing.check(H5Pcreate(H5P_GROUP_CREATE)), H5Pclose);
  writing.check_status(H5Pset_obj_track_times(writing.group_creation.get(), false));
  writing.dataset_creation = Hdf5Id(writing.check(H5Pcreate(H5P_DATASET_CREATE)), H5Pclose);
  const hid_t dataset_creation = writing.dataset_creation.get();
  writing.check_status(H5Pset_obj_track_times(dataset_creation, false));
  if (mesh.dimensions() == 3) {
    // A 3-D map in chunks of whole x planes (of at most 16 MiB), so that a reader takes a slice
    // of it without reading the rest.
    const auto ny = static_cast<hsize_t>(mesh.axes[1].points);
    const auto nz = static_cast<hsize_t>(mesh.axes[2].points);
    const hsize_t rows = std::max<hsize_t>(1, (hsize_t{16} << 20) / (16 * nz));
    const std::array<hsize_t, 3> chunk{1, std::min(ny, rows), nz};
    writing.check_status(H5Pset_chunk(dataset_creation, 3, chunk.data()));
  } else {
    writing.check_status(H5Pset_layout(dataset_creation, H5D_CONTIGUOUS));
  }
  // Every value is written: HDF5 need not fill the space first.
  writing.check_status(H5Pset_fill_time(dataset_creation, H5D_FILL_TIME_NEVER));
  writing.complex_type = hdf5_complex_type();
  if (!writing.complex_type.valid())
    raise_write_failure(shown_name);

  const Hdf5Id creation(writing.check(H5Pcreate(H5P_FILE_CREATE)), H5Pclose);
  writing.check_status(H5Pset_obj_track_times(creation.get(), false)); // the root group's
  const Hdf5Id access(writing.check(H5Pcreate(H5P_FILE_ACCESS)), H5Pclose);
  hdf5_no_file_locking(access.get());
  // Closing the file fails while anything of it is still open, rather than waiting for it.
  writing.check_status(H5Pset_fclose_degree(access.get(), H5F_CLOSE_SEMI));
  Hdf5Id file(writing.check(H5Fcreate(hdf5_path, H5F_ACC_TRUNC, creation.get(), access.get())),
              H5Fclose);
  write_mesh_groups(writing, file.get(), mesh);
  writing.check_status(file.close());
}

} // namespace norvalex
