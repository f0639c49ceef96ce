// norvalex._core: the libraries as Python sees them. Only translation happens here: paths and
// names arrive as bytes, results leave as tuples, bytes and numpy arrays that own the libraries'
// buffers, and norvalex::Error becomes a Python exception. The package's Python side
// (norvalex/__init__.py) gives them their shape. Every call releases the GIL while it reads or
// writes; each call has state of its own, so calls from several threads at once do not meet.
#include "norvalex/error.h"
#include "norvalex/sf7.h"
#include "norvalex/tqs.h"
#include "norvalex/version.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <chrono>
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
}
