// norvalex._core: the libraries as Python sees them. Only translation happens here: paths and
// names arrive as bytes, results leave as tuples, bytes and numpy arrays that own the libraries'
// buffers, and norvalex::Error becomes a Python exception. The package's Python side
// (norvalex/__init__.py) gives them their shape. Every call releases the GIL while it reads or
// writes; each call has state of its own, so calls from several threads at once do not meet.
#include "norvalex/error.h"
#include "norvalex/mesh.h"
#include "norvalex/sf7.h"
#include "norvalex/tqs.h"
#include "norvalex/version.h"

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <chrono>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

using namespace norvalex;

// norvalex.Error, a ValueError; created once with the module and kept for its whole life.
PyObject* error_class = nullptr;

// File names and message texts hold the bytes of paths: decoded as Python decodes paths.
py::object decode_path_text(const std::string& text) {
  PyObject* decoded =
      PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (decoded == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(decoded);
}

// Ctrl-C during a call. While a call of the module runs, its thread's interruption check
// (norvalex/error.h) is this object's: asked by the libraries' long loops, it takes the GIL for a
// moment, at most every 20 ms, and runs Python's signal handlers (which run on the main thread
// only). An exception that a handler raises, KeyboardInterrupt for SIGINT, stops the call: the
// library throws its interrupted Error, which unwinds it (an unfinished output undone, its
// memory freed), and the exception is kept here until that error reaches Python.
thread_local PyObject* pending_type = nullptr;
thread_local PyObject* pending_value = nullptr;
thread_local PyObject* pending_traceback = nullptr;

class PythonSignals {
public:
  PythonSignals() : scope_(check, this) {}

  // Sets the exception that stopped the call as Python's error (KeyboardInterrupt if there was
  // none). Called with the GIL held.
  static void restore() {
    if (pending_type == nullptr) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      return;
    }
    PyErr_Restore(pending_type, pending_value, pending_traceback);
    pending_type = pending_value = pending_traceback = nullptr;
  }

private:
  static bool check(void* context) {
    auto& self = *static_cast<PythonSignals*>(context);
    const auto now = std::chrono::steady_clock::now();
    if (now < self.next_) {
      return false;
    }
    self.next_ = now + std::chrono::milliseconds(20);
    const PyGILState_STATE gil = PyGILState_Ensure();
    const bool raised = PyErr_CheckSignals() != 0;
    if (raised) {
      Py_CLEAR(pending_type);
      Py_CLEAR(pending_value);
      Py_CLEAR(pending_traceback);
      PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
    }
    PyGILState_Release(gil);
    return raised;
  }

  std::chrono::steady_clock::time_point next_{};
  InterruptionScope scope_;
};

// Memory that ran out is a MemoryError; a file that cannot be opened, read or written is the
// OSError of its error number (FileNotFoundError, PermissionError, ...); every other failure is
// a norvalex.Error whose text is the program's message.
void raise_python_error(const Error& error) {
  if (error.origin() == ErrorOrigin::interrupted) {
    PythonSignals::restore();
    return;
  }
  if (error.system_error() == ENOMEM) {
    PyErr_SetString(PyExc_MemoryError, error.what());
    return;
  }
  const bool about_a_file = error.origin() == ErrorOrigin::input_file ||
                            error.message_number() == static_cast<int>(Message::system_error);
  if (about_a_file && error.system_error() != 0) {
    const py::object file_name = decode_path_text(error.file_name());
    errno = error.system_error();
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file_name.ptr());
    return;
  }
  const py::object exception =
      py::reinterpret_borrow<py::object>(error_class)(decode_path_text(error.what()));
  if (!error.file_name().empty()) {
    exception.attr("filename") = decode_path_text(error.file_name());
  }
  if (error.origin() == ErrorOrigin::input_line) {
    exception.attr("lineno") = error.line_number();
  }
  if (error.origin() == ErrorOrigin::message) {
    exception.attr("message_number") = error.message_number();
  }
  PyErr_SetObject(error_class, exception.ptr());
}

// A 1-D numpy array over the `count` elements of `memory`, which it takes over and frees.
template <class Element>
py::array owning_array(std::unique_ptr<Element[]>& memory, std::size_t count) {
  const py::capsule owner(memory.get(), [](void* data) { delete[] static_cast<Element*>(data); });
  memory.release();
  return py::array_t<Element>(static_cast<py::ssize_t>(count),
                              static_cast<const Element*>(owner.get_pointer()), owner);
}

// (dim1, dim2, [(name, unit, sf7_name, sf7_unit, factor, values)]) with the columns in file
// order and each column's values, in line order, in the array the reader filled.
py::tuple read_sf7(const std::string& path) {
  const PythonSignals signals;
  FieldMap map;
  {
    py::gil_scoped_release released;
    read_field_map_file(path.c_str(), map);
  }
  const auto points = static_cast<std::size_t>(map.dim1) * static_cast<std::size_t>(map.dim2);
  py::list columns;
  for (FieldColumn& column : map.columns) {
    py::object values = py::none(); // a dropped column has no array
    if (column.data) {
      values = owning_array(column.data, points);
    }
    columns.append(py::make_tuple(py::bytes(column.out_name), py::bytes(column.out_unit),
                                  py::bytes(column.sf7_name.data()),
                                  py::bytes(column.sf7_unit.data()), column.factor, values));
  }
  return py::make_tuple(map.dim1, map.dim2, columns);
}

std::string text_field(const char (&field)[TQS_NAME_SIZE]) {
  return {field, strnlen(field, TQS_NAME_SIZE)};
}

// One block as read, until its Python objects are made: 32 bytes and its data, none when empty.
struct StoredBlock {
  char name[TQS_NAME_SIZE];
  std::uint32_t type;
  std::uint32_t size;
  std::unique_ptr<std::uint8_t[]> data;
};

// (header, [(name, type word, data)]): the header as (creator, creator version, second name,
// second version, format version, creation time), or None for a file that begins with a
// "creator" block; each block's stored bytes as an array of bytes, read straight into it. The
// blocks are read one after another (TqsBlockReader), so that nothing but them is kept.
py::tuple read_tqs(const std::string& path) {
  const PythonSignals signals;
  std::optional<TqsFileHeader> header;
  std::deque<StoredBlock> blocks; // grows without copying what it holds
  {
    py::gil_scoped_release released;
    TqsBlockReader reader(path.c_str());
    if (reader.input().has_header) {
      header = reader.input().header;
    }
    TqsBlockInfo block;
    while (reader.next(block)) {
      StoredBlock& stored = blocks.emplace_back();
      std::memcpy(stored.name, block.name, sizeof stored.name);
      stored.type = block.type;
      stored.size = block.size;
      if (block.size != 0) {
        stored.data.reset(new std::uint8_t[block.size]);
        reader.read(block.data_offset, stored.data.get(), block.size);
      }
    }
  }
  py::object header_tuple = py::none();
  if (header) {
    const auto versions = [](const std::uint8_t(&bytes)[2]) {
      return py::make_tuple(bytes[0], bytes[1]);
    };
    header_tuple =
        py::make_tuple(py::bytes(text_field(header->creator)), versions(header->creator_version),
                       py::bytes(text_field(header->second_name)), versions(header->second_version),
                       versions(header->format_version), header->created);
  }
  py::list block_tuples;
  for (StoredBlock& block : blocks) {
    // Millions of small blocks take a while here too.
    if (block_tuples.size() % 65536 == 65535 && PyErr_CheckSignals() != 0) {
      throw py::error_already_set();
    }
    py::array data =
        block.data ? owning_array(block.data, block.size) : py::array_t<std::uint8_t>(0);
    block_tuples.append(py::make_tuple(py::bytes(text_field(block.name)), block.type, data));
  }
  return py::make_tuple(header_tuple, block_tuples);
}

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Writes (name, values) pairs as norvalex writes a map's columns.
void write_tqs(const std::string& path,
               const std::vector<std::pair<std::string, DoubleArray>>& columns, bool append) {
  const PythonSignals signals;
  std::vector<DoubleColumn> views;
  for (const auto& [name, values] : columns) {
    views.push_back({name.c_str(), {values.data(), static_cast<std::size_t>(values.size())}});
  }
  py::gil_scoped_release released;
  TqsOutput output;
  tqs_open_file(output, path.c_str(), append);
  write_double_columns(output, views);
  tqs_close_output(output);
}

// The whole conversion, as the program does it into a named file.
void convert(const std::string& sf7_path, const std::string& tqs_path, bool append) {
  const PythonSignals signals;
  py::gil_scoped_release released;
  FieldMap map;
  read_field_map_file(sf7_path.c_str(), map);
  TqsOutput output;
  tqs_open_file(output, tqs_path.c_str(), append);
  write_field_map(output, map);
  tqs_close_output(output);
}

// Every statistic of the table, in its order, for the array `name` of the file: its value, or
// None where the statistic finds nothing to report.
py::dict stats(const std::string& path, const std::string& name) {
  const PythonSignals signals;
  std::vector<std::pair<const char*, std::optional<double>>> results;
  {
    py::gil_scoped_release released;
    const TqsTree tree = tqs_load_tree(path.c_str());
    // One pass over the array gives every row's value.
    const TqsStatValues values = tqs_all_stats(tree.get(), name.c_str());
    for (std::size_t row = 0; row + 1 < tqs_stat_table.size(); ++row) {
      results.emplace_back(tqs_stat_table[row].name, values.row(row));
    }
  }
  py::dict out;
  for (const auto& [statistic, value] : results) {
    out[statistic] = value ? py::object(py::float_(*value)) : py::none();
  }
  return out;
}

// Memory handed over by a MeshArray, and how it is given back.
struct HandedMemory {
  void* data;
  std::size_t bytes;
  MeshMemoryRelease release_memory;
};

// A numpy array of `shape` over the values of `array`, which it takes over and gives back.
template <class Element>
py::array handed_over(MeshArray<Element>& array, const std::vector<py::ssize_t>& shape) {
  auto memory = std::make_unique<HandedMemory>(
      HandedMemory{array.data(), array.size() * sizeof(Element), nullptr});
  HandedMemory* const handed = memory.get();
  const py::capsule owner(handed, [](void* given) {
    const std::unique_ptr<HandedMemory> taken(static_cast<HandedMemory*>(given));
    taken->release_memory(taken->data, taken->bytes);
  });
  memory.release(); // the capsule's now, and the array's memory with it
  array.release(handed->release_memory);
  return py::array_t<Element>(shape, static_cast<const Element*>(handed->data), owner);
}

py::tuple mesh_arrays(FieldMesh& mesh);

// (attributes, [(component name, values)], [(column name, unit, values)]): the mesh's grid and
// attributes as a dict, its complex components and real columns as arrays of the grid's shape,
// the reader's own arrays handed over without a copy. `field` is 0 (electric), 1 (magnetic) or
// -1 (not given), `geometry` 0 (cylindrical), 1 (rectangular) or -1, `frequency` in Hz or None.
py::tuple read_mesh_arrays(const std::string& path, const std::optional<std::string>& form,
                           int field, int geometry, std::optional<double> frequency,
                           std::optional<std::int64_t> points, std::optional<std::int64_t> resample,
                           const std::optional<std::string>& with_file) {
  MeshReadOptions options;
  if (field >= 0) {
    options.field = field == 0 ? FieldKind::electric : FieldKind::magnetic;
  }
  if (geometry >= 0) {
    options.geometry = geometry == 0 ? MeshGeometry::cylindrical : MeshGeometry::rectangular;
  }
  options.frequency = frequency;
  options.points = points;
  options.resample = resample;
  options.with_file = with_file ? with_file->c_str() : nullptr;
  const MeshFormInfo* named = form ? find_mesh_form(*form) : nullptr;
  if (form && (named == nullptr || !named->readable)) {
    throw py::value_error("not a form that is read: " + *form);
  }
  FieldMesh mesh;
  {
    const PythonSignals signals;
    py::gil_scoped_release released;
    mesh = named ? norvalex::read_mesh(path.c_str(), named->form, options)
                 : norvalex::read_mesh(path.c_str(), options);
  }
  return mesh_arrays(mesh);
}

// (attributes, [(component name, values)], [(column name, unit, values)]) of `mesh`, as
// read_mesh_arrays gives them, its arrays handed over without a copy.
py::tuple mesh_arrays(FieldMesh& mesh) {
  std::vector<py::ssize_t> shape;
  py::list labels, sizes, spacings, origins;
  for (const MeshAxis& axis : mesh.axes) {
    shape.push_back(static_cast<py::ssize_t>(axis.points));
    labels.append(axis.label);
    sizes.append(axis.points);
    spacings.append(axis.spacing);
    origins.append(axis.origin);
  }
  py::dict attributes;
  attributes["geometry"] =
      mesh.geometry == MeshGeometry::cylindrical ? "cylindrical" : "rectangular";
  attributes["axis_labels"] = py::tuple(labels);
  attributes["grid_size"] = py::tuple(sizes);
  attributes["grid_spacing"] = py::tuple(spacings);
  attributes["grid_origin_offset"] = py::tuple(origins);
  attributes["frequency"] = mesh.frequency;
  attributes["harmonic"] = mesh.harmonic;
  attributes["rf_phase"] = mesh.rf_phase;
  attributes["field_scale"] = mesh.field_scale;
  attributes["anchor"] = mesh.anchor;
  attributes["file"] = decode_path_text(mesh.source.file);
  attributes["form"] = mesh_form_name(mesh.source.form);
  attributes["problem"] = problem_kind_name(mesh.source.problem);
  py::dict notes;
  for (const MeshNote& note : mesh.source.notes) {
    notes[py::str(note.label)] = note.text;
  }
  attributes["notes"] = notes;
  py::list components;
  for (MeshComponent& component : mesh.components) {
    components.append(py::make_tuple(component.name(), handed_over(component.values, shape)));
  }
  py::list columns;
  for (MeshColumn& column : mesh.columns) {
    columns.append(py::make_tuple(py::bytes(column.name), py::bytes(column.unit),
                                  handed_over(column.values, shape)));
  }
  return py::make_tuple(attributes, components, columns);
}

using ComplexArray = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;

// The mesh that Python's pieces describe, its arrays copied and the whole checked (check_mesh):
// the attributes as read_mesh gives them, [(component name, complex values)] and [(column name,
// unit, real values)].
FieldMesh mesh_from(const py::dict& attributes, const py::list& components,
                    const py::list& columns) {
  FieldMesh mesh;
  const auto geometry = attributes["geometry"].cast<std::string>();
  if (geometry != "cylindrical" && geometry != "rectangular") {
    throw py::value_error("geometry must be 'cylindrical' or 'rectangular', not '" + geometry +
                          "'");
  }
  mesh.geometry = geometry == "rectangular" ? MeshGeometry::rectangular : MeshGeometry::cylindrical;
  const auto labels = attributes["axis_labels"].cast<std::vector<std::string>>();
  const auto sizes = attributes["grid_size"].cast<std::vector<std::int64_t>>();
  const auto spacings = attributes["grid_spacing"].cast<std::vector<double>>();
  const auto origins = attributes["grid_origin_offset"].cast<std::vector<double>>();
  if (labels.size() != 3 || sizes.size() != 3 || spacings.size() != 3 || origins.size() != 3) {
    throw py::value_error("a mesh has three axes");
  }
  for (std::size_t k = 0; k < 3; ++k) {
    if (sizes[k] < 1) {
      throw py::value_error("every axis has a point or more");
    }
    mesh.axes[k] = {labels[k], sizes[k], spacings[k], origins[k]};
  }
  mesh.frequency = attributes["frequency"].cast<double>();
  mesh.harmonic = attributes["harmonic"].cast<std::int64_t>();
  mesh.rf_phase = attributes["rf_phase"].cast<double>();
  mesh.field_scale = attributes["field_scale"].cast<double>();
  mesh.anchor = attributes["anchor"].cast<std::string>();
  mesh.source.file = attributes["file"].cast<std::string>();
  // Each array is copied at its own size; check_mesh then compares it with the grid's points,
  // whose product it checks before anything else uses it.
  for (const py::handle item : components) {
    const auto name = item.cast<py::tuple>()[0].cast<std::string>();
    const auto values = item.cast<py::tuple>()[1].cast<ComplexArray>();
    const std::size_t slash = name.find('/');
    const std::string field = name.substr(0, slash);
    if (slash == std::string::npos || (field != "electricField" && field != "magneticField")) {
      throw py::value_error("not a field component: " + name);
    }
    const auto size = static_cast<std::size_t>(values.size());
    MeshArray<std::complex<double>> copy(size);
    if (copy.data() == nullptr && size != 0) {
      throw std::bad_alloc();
    }
    std::copy(values.data(), values.data() + size, copy.data());
    mesh.components.push_back({field == "electricField" ? FieldKind::electric : FieldKind::magnetic,
                               name.substr(slash + 1), std::move(copy)});
  }
  for (const py::handle item : columns) {
    const py::tuple column = item.cast<py::tuple>();
    const auto values = column[2].cast<DoubleArray>();
    const auto size = static_cast<std::size_t>(values.size());
    MeshArray<double> copy(size);
    if (copy.data() == nullptr && size != 0) {
      throw std::bad_alloc();
    }
    std::copy(values.data(), values.data() + size, copy.data());
    mesh.columns.push_back(
        {column[0].cast<std::string>(), column[1].cast<std::string>(), std::move(copy)});
  }
  check_mesh(mesh);
  return mesh;
}

// The form of that name that is written; a ValueError for any other name.
MeshForm written_form(const std::string& name) {
  const MeshFormInfo* form = find_mesh_form(name);
  if (form == nullptr || !form->writable) {
    throw py::value_error("not a form that is written: " + name);
  }
  return form->form;
}

// Writes the mesh into `path` in the form named `format`, with the form's options: a dict of
// coefficients, ascii, mirror, z_offset and normalize (OPAL's word, True or False). Returns the
// writer's warnings.
std::vector<std::string> write_mesh_file_from(const std::string& path, const py::dict& attributes,
                                              const py::list& components, const py::list& columns,
                                              const std::string& format, const py::dict& choices) {
  const MeshForm form = written_form(format);
  MeshWriteOptions options;
  options.coefficients = choices["coefficients"].cast<std::optional<std::int64_t>>();
  options.ascii = choices["ascii"].cast<bool>();
  options.mirror = choices["mirror"].cast<bool>();
  options.z_offset = choices["z_offset"].cast<double>();
  options.normalize_word = choices["normalize"].cast<std::optional<bool>>();
  const FieldMesh mesh = mesh_from(attributes, components, columns);
  const PythonSignals signals;
  py::gil_scoped_release released;
  return write_mesh_file(mesh, form, path.c_str(), options).warnings;
}

// The name of the form written to a file of that name (its extension, or a name such as
// rfdata7), or None.
std::optional<std::string> written_form_of_path(const std::string& path) {
  const MeshFormInfo* form = mesh_form_of_path(path);
  if (form == nullptr || !form->writable)
    return std::nullopt;
  return std::string(form->name);
}

// (name, title, extensions, readable, writable) of every form, in the table's order.
py::list forms() {
  py::list all;
  for (const MeshFormInfo& info : mesh_forms()) {
    py::list extensions;
    for (const char* extension : info.extensions) {
      if (extension != nullptr)
        extensions.append(extension);
    }
    all.append(
        py::make_tuple(info.name, info.title, py::tuple(extensions), info.readable, info.writable));
  }
  return all;
}

double normalization_factor_of(const py::dict& attributes, const py::list& components,
                               double peak) {
  return normalization_factor(mesh_from(attributes, components, py::list()), peak);
}

// (axis label, component name, positions in m, values) of the mesh's field on its axis.
py::tuple on_axis_of(const py::dict& attributes, const py::list& components) {
  const FieldMesh mesh = mesh_from(attributes, components, py::list());
  const OnAxisField axis = on_axis_field(mesh);
  const MeshAxis& along = mesh.axes[static_cast<std::size_t>(axis.axis)];
  const auto count = static_cast<std::size_t>(along.points);
  py::array_t<double> positions(static_cast<py::ssize_t>(count));
  py::array_t<std::complex<double>> values(static_cast<py::ssize_t>(count));
  for (std::size_t n = 0; n < count; ++n) {
    positions.mutable_at(static_cast<py::ssize_t>(n)) =
        along.origin + static_cast<double>(n) * along.spacing;
    values.mutable_at(static_cast<py::ssize_t>(n)) =
        axis.component->values[axis.first + n * axis.stride];
  }
  return py::make_tuple(along.label, axis.component->name(), positions, values);
}

// The mesh's plane where `axis` is `value` m, as read_mesh_arrays gives a mesh.
py::tuple plane_of(const py::dict& attributes, const py::list& components, const py::list& columns,
                   const std::string& axis, double value) {
  const FieldMesh mesh = mesh_from(attributes, components, columns);
  FieldMesh plane;
  {
    const PythonSignals signals;
    py::gil_scoped_release released;
    plane = mesh_plane(mesh, axis, value);
  }
  return mesh_arrays(plane);
}

// (the mesh's cylindrical map as read_mesh_arrays gives a mesh, its departure from symmetry).
py::tuple cylindrical_of(const py::dict& attributes, const py::list& components,
                         const py::list& columns) {
  const FieldMesh mesh = mesh_from(attributes, components, columns);
  CylindricalMap map;
  {
    const PythonSignals signals;
    py::gil_scoped_release released;
    map = mesh_cylindrical(mesh);
  }
  return py::make_tuple(mesh_arrays(map.mesh), map.departure);
}

} // namespace

PYBIND11_MODULE(_core, module) {
  module.attr("__version__") = NORVALEX_VERSION_STRING;
  error_class = PyErr_NewExceptionWithDoc(
      "norvalex.Error", "A failure of the norvalex libraries; str() is the program's message text.",
      PyExc_ValueError, nullptr);
  if (error_class == nullptr) {
    throw py::error_already_set();
  }
  // Where an attribute does not apply, the class's None stands.
  for (const char* attribute : {"filename", "lineno", "message_number"}) {
    if (PyObject_SetAttrString(error_class, attribute, Py_None) != 0) {
      throw py::error_already_set();
    }
  }
  module.attr("Error") = py::reinterpret_borrow<py::object>(error_class);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      std::rethrow_exception(thrown);
    } catch (const Error& error) {
      raise_python_error(error);
    }
  });

  module.def("read_sf7", &read_sf7, py::arg("path"));
  module.def("read_tqs", &read_tqs, py::arg("path"));
  module.def("write_tqs", &write_tqs, py::arg("path"), py::arg("columns"), py::arg("append"));
  module.def("convert", &convert, py::arg("sf7_path"), py::arg("tqs_path"), py::arg("append"));
  module.def("stats", &stats, py::arg("path"), py::arg("name"));
  module.def("read_mesh", &read_mesh_arrays, py::arg("path"), py::arg("form"), py::arg("field"),
             py::arg("geometry"), py::arg("frequency"), py::arg("points"), py::arg("resample"),
             py::arg("with_file"));
  module.def("write_mesh", &write_mesh_file_from, py::arg("path"), py::arg("attributes"),
             py::arg("components"), py::arg("columns"), py::arg("format"), py::arg("options"));
  module.def("forms", &forms);
  module.def("written_form_of_path", &written_form_of_path, py::arg("path"));
  module.def("normalization_factor", &normalization_factor_of, py::arg("attributes"),
             py::arg("components"), py::arg("peak"));
  module.def("on_axis", &on_axis_of, py::arg("attributes"), py::arg("components"));
  module.def("plane", &plane_of, py::arg("attributes"), py::arg("components"), py::arg("columns"),
             py::arg("axis"), py::arg("value"));
  module.def("cylindrical", &cylindrical_of, py::arg("attributes"), py::arg("components"),
             py::arg("columns"));
  module.attr("has_openpmd") = mesh_has_openpmd();
}
