// TQS files written from a map (by the converter, or as a mesh's TQS arrays) read back as
// meshes: the first two arrays are the coordinates of every point, the first varying fastest
// (three, X, Y and Z, for a 3-D map); the field components, H-phi and the other columns follow
// by name.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

namespace {

struct Array {
  std::string name;
  TqsNode* node;
};

[[noreturn]] void raise_tqs_mesh(const char* path, const char* why) {
  raise_input_failure(path, 0, "%s: not readable as a mesh: %s", path, why);
}

// The SI unit of a column the converter writes, by its name.
const char* unit_of(std::string_view name) {
  if (name == "V")
    return "V";
  if (name == "Az" || name == "Aphi")
    return "Tm";
  if (name.starts_with("dB"))
    return "T/m";
  return "";
}

// The values of one array, read from the file `path` straight into doubles.
std::vector<double> doubles_of(const char* path, const TqsNode* node) {
  std::vector<double> values;
  try {
    values.resize(node->stored_size / sizeof(double));
  } catch (const std::bad_alloc&) {
    raise_input_failure(path, ENOMEM, "Not enough memory");
  }
  if (!values.empty())
    tqs_read_stored_data(node, values.data());
  return values;
}

// Origin and spacing of the coordinate `values` that steps every `stride` points through
// `count` points: false when they do not lie on such a grid.
bool grid_of(const std::vector<double>& values, std::size_t stride, std::size_t count,
             MeshAxis& axis) {
  axis.points = static_cast<std::int64_t>(count);
  axis.origin = values[0];
  axis.spacing =
      count > 1 ? (values[(count - 1) * stride] - values[0]) / static_cast<double>(count - 1) : 0;
  if (count > 1 && !(axis.spacing > 0))
    return false;
  // The table's coordinates are rounded to the solver's digits: a thousandth of a step is room.
  const double room = 1e-3 * axis.spacing;
  for (std::size_t n = 0; n < values.size(); ++n) {
    const double expected = axis.origin + static_cast<double>((n / stride) % count) * axis.spacing;
    if (!(std::abs(values[n] - expected) <= room))
      return false;
  }
  return true;
}

// The grid of a 3-D map's arrays X, Y and Z, x fastest, into `mesh`'s axes; false when they form
// none.
bool grid_3d(const char* path, const std::vector<Array>& arrays, std::size_t points,
             FieldMesh& mesh) {
  const std::vector<double> x = doubles_of(path, arrays[0].node);
  const std::vector<double> y = doubles_of(path, arrays[1].node);
  const std::vector<double> z = doubles_of(path, arrays[2].node);
  // x runs through its points before y takes a step, and the x-y plane before z does.
  std::size_t nx = 1;
  while (nx < points && y[nx] == y[0] && z[nx] == z[0])
    ++nx;
  std::size_t plane = nx;
  while (plane < points && z[plane] == z[0])
    ++plane;
  if (plane % nx != 0 || points % plane != 0)
    return false;
  return grid_of(x, 1, nx, mesh.axes[0]) && grid_of(y, nx, plane / nx, mesh.axes[1]) &&
         grid_of(z, plane, points / plane, mesh.axes[2]);
}

// The field components and the other columns, the arrays from `first` on, each value at
// order.index(n) of the mesh. A 2-D map is RF when it has H-phi (`Bphi` or `H`), a 3-D one when
// a frequency is given.
template <class Order>
void read_fields(const char* path, const std::vector<Array>& arrays, std::size_t first,
                 const Order& order, bool three_d, const MeshReadOptions& options,
                 FieldMesh& mesh) {
  const std::size_t points = mesh.point_count();
  bool rf = three_d && options.frequency.has_value();
  bool electric = false;
  bool magnetic = false;
  for (std::size_t k = first; k < arrays.size(); ++k) {
    const std::string& name = arrays[k].name;
    rf |= !three_d && (name == "Bphi" || name == "H");
    const bool along_axis = name.size() >= 2 && axis_index(mesh, name.substr(1)) >= 0;
    electric |= (along_axis && name[0] == 'E') || name.starts_with("electricField/");
    magnetic |= (along_axis && name[0] == 'B') || name.starts_with("magneticField/");
  }
  set_problem(mesh, path, options, rf, electric, magnetic, "an RF map's TQS file");

  const bool cylindrical = mesh.geometry == MeshGeometry::cylindrical;
  const double converter_mu0 = converter_h_factor();
  for (std::size_t k = first; k < arrays.size(); ++k) {
    const std::string& name = arrays[k].name;
    if (name == "|E|" || name == "|B|")
      continue;
    const std::vector<double> values = doubles_of(path, arrays[k].node);
    const auto value = [&](std::size_t n) { return values[n]; };
    const bool h_phi = name == "Bphi" || name == "H";
    // A component by the field's letter and its axis (Ez, Br, Btheta) or by its openPMD name
    // (electricField/z).
    const std::size_t slash = name.find('/');
    const std::string prefix = slash == std::string::npos ? std::string() : name.substr(0, slash);
    const bool by_field_name = prefix == "electricField" || prefix == "magneticField";
    const bool by_table_name = name.size() >= 2 && (name[0] == 'E' || name[0] == 'B') &&
                               axis_index(mesh, name.substr(1)) >= 0;
    const std::string axis = by_field_name   ? name.substr(slash + 1)
                             : by_table_name ? name.substr(1)
                                             : std::string();
    const bool field = (by_field_name || by_table_name) && axis_index(mesh, axis) >= 0;
    if (h_phi || field) {
      const bool of_b = h_phi || prefix == "magneticField" || (by_table_name && name[0] == 'B');
      const FieldKind kind = of_b ? FieldKind::magnetic : FieldKind::electric;
      MeshComponent* component =
          add_component(mesh, kind, h_phi ? (cylindrical ? "theta" : "z") : axis);
      if (component == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      for (std::size_t n = 0; n < points; ++n) {
        // H-phi in A/m is the value over the converter's factor; B-theta = -i mu0 H.
        component->values[order.index(n)] =
            h_phi ? std::complex<double>(0, -(MESH_MU0 * (value(n) / converter_mu0)))
            // A real amplitude b of an RF map's magnetic field stands for B = -i b.
            : of_b && rf ? std::complex<double>(0, -value(n))
                         : std::complex<double>(value(n), 0);
      }
    } else {
      MeshColumn* column = add_column(mesh, name, unit_of(name));
      if (column == nullptr)
        raise_input_failure(path, ENOMEM, "Not enough memory");
      for (std::size_t n = 0; n < points; ++n)
        column->values[order.index(n)] = value(n);
    }
  }
  order_components(mesh);
}

} // namespace

FieldMesh read_tqs_mesh(const char* path, const MeshReadOptions& options) {
  const TqsTree tree = tqs_load_tree(path);
  std::vector<Array> arrays;
  for (TqsNode* node = tree->first_child; node != nullptr; node = node->next) {
    if (tqs_is_creator_block(node->type, node->name)) {
      if (node != tree->first_child)
        raise_tqs_mesh(path, "it holds more than one series of arrays");
      continue;
    }
    if ((node->type & TQS_TYPE_CODE_MASK) != TQS_TYPE_DOUBLE)
      continue;
    arrays.push_back({std::string(node->name, strnlen(node->name, TQS_NAME_SIZE)), node});
  }
  if (arrays.size() < 3)
    raise_tqs_mesh(path, "fewer than three arrays of doubles");
  const std::string lead = arrays[0].name;
  const std::string trail = arrays[1].name;
  const bool cylindrical = (lead == "Z" && trail == "R") || (lead == "R" && trail == "Z");
  const bool rectangular = (lead == "X" && trail == "Y") || (lead == "Y" && trail == "X");
  if (!cylindrical && !rectangular)
    raise_tqs_mesh(path, "its first two arrays are not the coordinates R and Z, or X and Y");
  // A map across z (3-D, or a plane of one that holds z): X, Y and Z, x fastest.
  const bool three_d = lead == "X" && trail == "Y" && arrays[2].name == "Z";
  const std::size_t points = arrays[0].node->stored_size / sizeof(double);
  for (const Array& array : arrays) {
    if (array.node->stored_size != points * sizeof(double))
      raise_tqs_mesh(path, "its arrays differ in length");
  }
  if (points == 0)
    raise_tqs_mesh(path, "its arrays are empty");
  if (points > static_cast<std::size_t>(MESH_MAX_POINTS))
    raise_tqs_mesh(path, "its grid is too large");
  FieldMesh mesh = new_mesh(cylindrical ? MeshGeometry::cylindrical : MeshGeometry::rectangular);
  mesh.source = {path, MeshForm::tqs, ProblemKind::unknown, {}};
  if (three_d) {
    if (!grid_3d(path, arrays, points, mesh))
      raise_tqs_mesh(path, "its coordinates do not form a grid");
    const XFastOrder order{static_cast<std::size_t>(mesh.axes[0].points),
                           static_cast<std::size_t>(mesh.axes[1].points),
                           static_cast<std::size_t>(mesh.axes[2].points)};
    read_fields(path, arrays, 3, order, true, options, mesh);
    return mesh;
  }
  const std::vector<double> lead_values = doubles_of(path, arrays[0].node);
  const std::vector<double> trail_values = doubles_of(path, arrays[1].node);
  // The lead coordinate runs through its points before the trailing one takes a step.
  std::size_t run = 1;
  while (run < points && trail_values[run] == trail_values[0])
    ++run;
  if (points % run != 0)
    raise_tqs_mesh(path, "its coordinates do not form a grid");

  const auto lower = [](const std::string& name) {
    return std::string(1, static_cast<char>(name[0] - 'A' + 'a'));
  };
  const int lead_axis = axis_index(mesh, lower(lead));
  const int trail_axis = axis_index(mesh, lower(trail));
  if (!grid_of(lead_values, 1, run, mesh.axes[static_cast<std::size_t>(lead_axis)]) ||
      !grid_of(trail_values, run, points / run, mesh.axes[static_cast<std::size_t>(trail_axis)]))
    raise_tqs_mesh(path, "its coordinates do not form a grid");
  // The table's lead coordinate is the mesh's slower axis when it comes first among the axes.
  const bool transposed = lead_axis < trail_axis && points / run > 1;
  const std::size_t n_lead = run;
  const std::size_t n_trail = points / run;
  read_fields(path, arrays, 2, PointOrder{n_lead, n_trail, transposed}, false, options, mesh);
  return mesh;
}

} // namespace norvalex
