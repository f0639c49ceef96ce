#include "support/mesh_fixtures.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace norvalex;

namespace test_support {

namespace {

void append_numbers(std::string& text, const std::vector<double>& numbers) {
  char number[32];
  for (const double value : numbers) {
    std::snprintf(number, sizeof number, "  %.6E", value);
    text += number;
  }
  text += "\n";
}

// The values of `count` columns at grid point (i, j).
std::vector<double> point_values(int count, int i, int j) {
  std::vector<double> values;
  for (int k = 0; k < count; ++k)
    values.push_back(fixture_value(k, i, j));
  return values;
}

} // namespace

double fixture_value(int column, int i, int j) {
  return 10.0 * (column + 1) - 2.0 * std::abs(j - 2) + 0.25 * i;
}

std::string sf7_table_text(const Sf7TableParts& parts, const Sf7Grid& grid) {
  std::string text = "Poisson Superfish\nProgram SF7 mesh fixture\n\n"
                     "Fields for a rectangular area with corners at:\n";
  for (const std::string& corner : {parts.low, parts.high}) {
    if (!corner.empty())
      text += corner + "\n";
  }
  text += parts.increments + "\n\n" + parts.names + "\n" + parts.units + "\n";
  for (int n = 0; n < grid.fast * grid.slow; ++n) {
    const int a = n % grid.fast;
    const int b = n / grid.fast;
    std::vector<double> line =
        point_values(grid.values, grid.fast_is_i ? a : b, grid.fast_is_i ? b : a);
    line.insert(line.begin(),
                {grid.first + a * grid.first_step, grid.second + b * grid.second_step});
    append_numbers(text, line);
  }
  return text;
}

double export_value(int k, int i, int j, int l) {
  return 100.0 * (k + 1) + 10.0 * i + j + 0.5 * l;
}

std::string export_table_text(const std::string& header, const ExportGrid& grid) {
  std::string text = header;
  const auto axis = [&](std::size_t n) { return static_cast<std::size_t>(grid.order[n] - 'x'); };
  std::array<int, 3> index{};
  const int count = grid.points[0] * grid.points[1] * grid.points[2];
  for (int n = 0; n < count; ++n) {
    int rest = n;
    for (std::size_t k = 0; k < 3; ++k) {
      index[axis(k)] = rest % grid.points[axis(k)];
      rest /= grid.points[axis(k)];
    }
    std::vector<double> numbers;
    for (std::size_t a = 0; a < 3; ++a)
      numbers.push_back(grid.origin[a] + index[a] * grid.step[a]);
    for (int k = 0; k < grid.values; ++k)
      numbers.push_back(export_value(k, index[0], index[1], index[2]));
    char number[32];
    for (const double value : numbers) {
      std::snprintf(number, sizeof number, " %.15g", value);
      text += number;
    }
    text += "\n";
  }
  return text;
}

std::string rf_table_text() {
  return sf7_table_text({"(Zmin,Rmin) = (50,0.0)", "(Zmax,Rmax) = (70,3)",
                         "Z and R increments:    4    3", "Z R Ez Er |E| H",
                         "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)"},
                        {5, 4, 50, 5, 0, 1, false, 4});
}

std::string rf_t7_text() {
  std::string text = "50 70 4\n1300\n0 3 3\n";
  for (int n = 0; n < 20; ++n)
    append_numbers(text, point_values(4, n / 5, n % 5));
  return text;
}

std::string electric_table_text() {
  return sf7_table_text({"(Rmin,Zmin) = (0.0,-3)", "(Rmax,Zmax) = (2,3)",
                         "R and Z increments:    2    3", "R Z Er Ez |E| V",
                         "(cm) (cm) (V/cm) (V/cm) (V/cm) (V)"},
                        {3, 4, 0, 1, -3, 2, true, 4});
}

std::string electric_t7_text() {
  std::string text = "0 2 2\n-3 3 3\n";
  for (int n = 0; n < 12; ++n)
    append_numbers(text, point_values(2, n % 3, n / 3));
  return text;
}

std::string bmad_grid_field_text() {
  return "! cavity.bmad, called from the lattice: SF7 map of the cell\n"
         "{ master_parameter = voltage, GEOMETRY = Rotationally_Symmetric_RZ, ! any case\n"
         "  field_type = mixed, harmonic = 2, ele_anchor_pt = center, field_scale = 0.5,\n"
         "  phi0_fieldmap = 0.25, r0 = (0, -0.01), dr = (0.005, 0.01), curved_ref_frame = F,\n"
         "  pt( 0,  0)=((+0.00000e+00,0),(0,0),(1.5e6,0),(0,0),(0,0),(0,0)),\n"
         "  pt( 0,  1)=((0,0),(0,0),(+2.50000e+06,0),(0,0),(0,0),(0,0)),  ! on the axis\n"
         "  pt( 1,  1)=((1e5,0),(0,0),(2e6,0),(0,0),(0,-2e-3),(0,0)) }\n";
}

std::string magnetic_table_text() {
  return sf7_table_text({"(Xmin,Ymin) = (0.0,1)", "(Xmax,Ymax) = (4,2)",
                         "X and Y increments:    2    1", "X Y Bx By |B| Az dBy/dy dBy/dx dBx/dy",
                         "(cm) (cm) (G) (G) (G) (G-cm) (G/cm) (G/cm) (G/cm)"},
                        {3, 2, 0, 2, 1, 1, true, 7});
}

FieldMesh map_3d(const std::vector<Component3d>& components, const Field3d& field,
                 double frequency) {
  FieldMesh mesh;
  mesh.geometry = MeshGeometry::rectangular;
  mesh.axes = {MeshAxis{"x", 5, 0.01, -0.02}, {"y", 5, 0.01, -0.02}, {"z", 4, 0.01, 0.1}};
  mesh.frequency = frequency;
  mesh.harmonic = frequency != 0 ? 1 : 0;
  // As the readers tell it: a static map of one field is of that field.
  const auto has = [&](FieldKind kind) {
    return std::any_of(components.begin(), components.end(),
                       [&](const Component3d& c) { return c.field == kind; });
  };
  const bool electric = has(FieldKind::electric);
  mesh.source.problem = frequency != 0                         ? ProblemKind::rf
                        : electric == has(FieldKind::magnetic) ? ProblemKind::unknown
                        : electric                             ? ProblemKind::electrostatic
                                                               : ProblemKind::magnetostatic;
  for (std::size_t c = 0; c < components.size(); ++c) {
    MeshArray<std::complex<double>> values(mesh.point_count());
    for (std::size_t n = 0; n < values.size(); ++n) {
      const auto step = [&](std::size_t a, std::size_t index) {
        return mesh.axes[a].origin + mesh.axes[a].spacing * static_cast<double>(index);
      };
      values[n] = field(c, step(0, n / 20), step(1, n / 4 % 5), step(2, n % 4));
    }
    mesh.components.push_back({components[c].field, components[c].axis, std::move(values)});
  }
  return mesh;
}

MeshReadOptions at_frequency(double hz) {
  MeshReadOptions options;
  options.frequency = hz;
  return options;
}

MeshReadOptions resampled_on(std::int64_t points) {
  MeshReadOptions options;
  options.resample = points;
  return options;
}

MeshReadOptions of_field(FieldKind field) {
  MeshReadOptions options;
  options.field = field;
  return options;
}

std::vector<std::complex<double>> values_of(const FieldMesh& mesh, FieldKind field,
                                            const char* axis) {
  const MeshComponent* component = mesh.component(field, axis);
  if (component == nullptr)
    return {};
  return {component->values.data(), component->values.data() + component->values.size()};
}

namespace {

template <class Element> double largest_of(const MeshArray<Element>& values) {
  double largest = 0;
  for (std::size_t k = 0; k < values.size(); ++k)
    largest = std::max(largest, std::abs(values[k]));
  return largest;
}

template <class Element>
void expect_same_values(const MeshArray<Element>& expected, const MeshArray<Element>& actual,
                        double relative, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  const double room = relative * largest_of(expected);
  for (std::size_t k = 0; k < expected.size(); ++k) {
    if (relative == 0) {
      EXPECT_EQ(actual[k], expected[k]) << what << " at " << k;
    } else {
      EXPECT_LE(std::abs(actual[k] - expected[k]), room) << what << " at " << k;
    }
  }
}

} // namespace

void expect_same_mesh(const FieldMesh& expected, const FieldMesh& actual, double relative,
                      bool columns, const std::string& what) {
  EXPECT_EQ(actual.geometry, expected.geometry) << what;
  EXPECT_EQ(actual.frequency, expected.frequency) << what;
  EXPECT_EQ(actual.harmonic, expected.harmonic) << what;
  EXPECT_EQ(actual.source.problem, expected.source.problem) << what;
  for (std::size_t k = 0; k < 3; ++k) {
    const MeshAxis& a = expected.axes[k];
    const MeshAxis& b = actual.axes[k];
    const std::string axis = what + ", axis " + a.label;
    EXPECT_EQ(b.label, a.label) << axis;
    EXPECT_EQ(b.points, a.points) << axis;
    const double room = relative * std::max(a.spacing, 1e-3);
    EXPECT_NEAR(b.origin, a.origin, room) << axis;
    EXPECT_NEAR(b.spacing, a.spacing, room) << axis;
  }
  for (const MeshComponent& component : expected.components) {
    const MeshComponent* other = actual.component(component.field, component.axis);
    ASSERT_NE(other, nullptr) << what << ": no " << component.name();
    expect_same_values(component.values, other->values, relative, what + ", " + component.name());
  }
  for (const MeshComponent& component : actual.components) {
    if (expected.component(component.field, component.axis) == nullptr) {
      EXPECT_EQ(largest_of(component.values), 0) << what << ": " << component.name();
    }
  }
  if (!columns)
    return;
  ASSERT_EQ(actual.columns.size(), expected.columns.size()) << what;
  for (std::size_t k = 0; k < expected.columns.size(); ++k) {
    const MeshColumn& column = expected.columns[k];
    EXPECT_EQ(actual.columns[k].name, column.name) << what;
    EXPECT_EQ(actual.columns[k].unit, column.unit) << what;
    expect_same_values(column.values, actual.columns[k].values, relative,
                       what + ", " + column.name);
  }
}

FieldMesh mesh_of_text(const std::string& text, MeshForm form, const MeshReadOptions& options) {
  TempDir dir;
  const std::string path = dir.file("map");
  write_file(path, text);
  return read_mesh(path.c_str(), form, options);
}

std::string reading_error(const std::string& text, MeshForm form, const MeshReadOptions& options) {
  TempDir dir;
  const std::string path = dir.file("map");
  write_file(path, text);
  const std::string error = thrown_text([&] { read_mesh(path.c_str(), form, options); });
  return error.starts_with(path) ? error.substr(path.size()) : error;
}

std::string written_text(const FieldMesh& mesh, MeshForm form, const MeshWriteOptions& options) {
  TempDir dir;
  const std::string path = dir.file("out");
  const std::string error =
      thrown_text([&] { write_mesh_file(mesh, form, path.c_str(), options); });
  if (!error.empty())
    return error.starts_with(mesh.source.file) ? error.substr(mesh.source.file.size()) : error;
  return read_file(path);
}

std::string escaped_path(const std::string& text) {
  std::string escaped;
  for (const char c : text)
    escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

} // namespace test_support
