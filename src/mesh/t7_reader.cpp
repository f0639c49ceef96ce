// T7 grid files, the form in which SF7 writes a map for trackers: three header lines (the second
// tells the kind: one number, the frequency of an RF map, or three, the second range of a static
// one), then the values as one stream of numbers, four a point (Ez, Er, |E| in MV/m and H-phi
// in A/m, z varying fastest) or two a point (the field along r and z, or x and y, in G or V/cm,
// the first coordinate varying fastest). Lengths are in cm and the counts are intervals.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/grid_text.h"
#include "mesh/impact_forms.h"
#include "mesh/mesh_build.h"
#include "mesh/mesh_forms.h"
#include "mesh/two_part_reading.h"
#include "platform/platform.h"
#include "text/number_input.h"
#include "text/text_input.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace norvalex {

namespace {

// Values a chunk of the stream is read in.
constexpr std::size_t CHUNK = 4096;

GridRange range_of(const NumberInput& input, const std::array<double, 3>& numbers) {
  return grid_range(input.name(), input.line_number(), numbers[0], numbers[1], numbers[2]);
}

[[noreturn]] void raise_header(const NumberInput& input, const char* expected) {
  raise_input_error(input.name(), input.line_number(), "Not a T7 header line: %s expected",
                    expected);
}

GridRange read_range(NumberInput& input) {
  std::array<double, 3> numbers{};
  if (input.read_line(numbers) != 3)
    raise_header(input, "three numbers (min, max and intervals)");
  return range_of(input, numbers);
}

// The file being read: its name, its stream and the numbers read from it so far (the header's).
struct T7File {
  const char* path;
  std::FILE* stream;
  NumberInput& input;
};

// What a point's values are multiplied by on their way into the mesh, value by value; 0 for a
// value that the mesh does not keep.
using PointFactors = std::array<double, 4>;

// True when `value` times `factor` is a number, or `value` was none already: a finite value
// whose product is not (1e305 in MV/m) would give the mesh an infinity that the file never had.
bool in_range(double value, double factor) {
  return !std::isinf(value * factor) || !std::isfinite(value);
}

// Reads the stream of `values_per_point` numbers a point into `store(index, values)`; exactly
// `points` points, no value more or less, each in range with its factor.
template <class Store>
void read_points(NumberInput& input, std::size_t points, std::size_t values_per_point,
                 const PointFactors& factors, const PointOrder& order, Store& store) {
  const std::size_t total = points * values_per_point;
  std::unique_ptr<double[]> chunk(new (std::nothrow) double[CHUNK]);
  if (!chunk)
    raise_input_failure(input.name(), ENOMEM, "Not enough memory");
  std::array<double, 5> point{};
  std::size_t read = 0;
  std::size_t in_point = 0;
  std::size_t point_number = 0;
  while (read < total) {
    const std::size_t got = input.read_numbers({chunk.get(), std::min(CHUNK, total - read)});
    if (got == 0) {
      raise_input_error(input.name(), input.line_number(),
                        "Too few values: the grid needs %llu, the file holds %llu",
                        static_cast<unsigned long long>(total),
                        static_cast<unsigned long long>(read));
    }
    for (std::size_t k = 0; k < got; ++k) {
      if (!in_range(chunk[k], factors[in_point])) {
        raise_input_error(input.name(), input.line_of_number(k), "Value out of range: %s",
                          number_text(chunk[k]).c_str());
      }
      point[in_point++] = chunk[k];
      if (in_point == values_per_point) {
        store(order.index(point_number++), point);
        in_point = 0;
      }
    }
    read += got;
  }
  double extra = 0;
  if (input.read_numbers({&extra, 1}) != 0) {
    raise_input_error(input.name(), input.line_number(), "Too many values: the grid needs %llu",
                      static_cast<unsigned long long>(total));
  }
}

// Reads the lines of `input` as points of `values_per_point` numbers each, the first at point
// `first`, up to its end: false, with nothing said, at the first line that is not one point in
// range, or beyond `points`. How many lines it read goes to `lines`.
template <class Store>
bool read_point_lines(NumberInput& input, std::size_t first, std::size_t points,
                      std::size_t values_per_point, const PointFactors& factors,
                      const PointOrder& order, Store& store, std::size_t& lines) {
  std::array<double, 5> point{};
  const std::span<double> values(point.data(), values_per_point + 1);
  lines = 0;
  for (std::ptrdiff_t count; (count = input.read_line(values)) >= 0; ++lines) {
    if (static_cast<std::size_t>(count) != values_per_point || first + lines >= points)
      return false;
    for (std::size_t k = 0; k < values_per_point; ++k) {
      if (!in_range(point[k], factors[k]))
        return false;
    }
    store(order.index(first + lines), point);
  }
  return true;
}

// Reads the points in two parts (two_part_reading.h), when the file holds one point a line from
// `start` to its end: the helper first counts the first part's lines, so that it knows its first
// point, then reads its own. False when any line reads otherwise: the caller then reads them one
// after the other from `start`, which finds any defect with its line.
template <class Store>
bool read_points_in_two(const T7File& file, std::int64_t start, std::size_t points,
                        std::size_t values_per_point, const PointFactors& factors,
                        const PointOrder& order, Store& store) {
  std::size_t lines = 0;       // of the first part, read
  std::size_t first_lines = 0; // of the first part, counted by the helper
  const auto first = [&](std::FILE* stream, std::int64_t length) {
    NumberInput part(stream, file.path, 0, length);
    return read_point_lines(part, 0, points, values_per_point, factors, order, store, lines);
  };
  const auto second = [&](std::FILE* stream, std::int64_t split) {
    // Counting the first part's lines is fast; reading the first part is the other thread's work.
    std::unique_ptr<char[]> block(new char[std::size_t{1} << 20]);
    if (platform_seek(stream, start) != 0)
      return false;
    for (std::int64_t left = split - start; left > 0;) {
      const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 20));
      if (std::fread(block.get(), 1, wanted, stream) != wanted)
        return false;
      first_lines += count_line_feeds(block.get(), block.get() + wanted);
      left -= static_cast<std::int64_t>(wanted);
      check_interruption();
    }
    NumberInput rest(stream, file.path);
    std::size_t rest_lines = 0;
    return read_point_lines(rest, first_lines, points, values_per_point, factors, order, store,
                            rest_lines) &&
           first_lines + rest_lines == points;
  };
  return read_in_two_parts(file.path, file.stream, start, first, second) && lines == first_lines;
}

// Reads the points after the header of `file`: in two parts where it can, else one after the
// other.
template <class Store>
void read_all_points(const T7File& file, std::size_t points, std::size_t values_per_point,
                     const PointFactors& factors, const PointOrder& order, Store store) {
  const std::int64_t start = file.input.next_line_offset();
  if (read_points_in_two(file, start, points, values_per_point, factors, order, store))
    return;
  if (platform_seek(file.stream, start) != 0) {
    // A stream without positions was not read in two: its header's input reads on.
    read_points(file.input, points, values_per_point, factors, order, store);
    return;
  }
  NumberInput values(file.stream, file.path, file.input.line_number());
  read_points(values, points, values_per_point, factors, order, store);
}

[[noreturn]] void raise_grid_memory(const NumberInput& input, const GridRange& a,
                                    const GridRange& b) {
  raise_input_error(input.name(), input.line_number(), "Not enough memory for %lld*%lld points",
                    static_cast<long long>(a.points()), static_cast<long long>(b.points()));
}

void check_grid(const NumberInput& input, const GridRange& a, const GridRange& b) {
  check_grid_size(input.name(), input.line_number(), a, b);
}

FieldMesh read_rf(const T7File& file, const GridRange& z, double frequency_mhz,
                  const MeshReadOptions& options) {
  NumberInput& input = file.input;
  if (options.geometry && *options.geometry != MeshGeometry::cylindrical) {
    raise_input_failure(input.name(), 0, "%s: an RF T7 file holds a cylindrical map", input.name());
  }
  const double frequency = grid_frequency(input.name(), input.line_number(), frequency_mhz);
  const GridRange r = read_range(input);
  check_grid(input, r, z);
  FieldMesh mesh = new_mesh(MeshGeometry::cylindrical);
  set_grid_axis(mesh.axes[0], r);
  set_grid_axis(mesh.axes[2], z);
  mesh.frequency = frequency;
  mesh.harmonic = 1;
  mesh.source.problem = ProblemKind::rf;
  if (add_component(mesh, FieldKind::electric, "r") == nullptr ||
      add_component(mesh, FieldKind::electric, "z") == nullptr ||
      add_component(mesh, FieldKind::magnetic, "theta") == nullptr)
    raise_grid_memory(input, r, z);
  std::complex<double>* const e_r = mesh.components[0].values.data();
  std::complex<double>* const e_z = mesh.components[1].values.data();
  std::complex<double>* const b_theta = mesh.components[2].values.data();
  // z varies fastest, as in the mesh's own order. E oscillates as cos(wt) and H-phi as
  // -sin(wt): with fields as exp(-iwt), E is real and B-theta = -i mu0 H-phi.
  const PointOrder order{static_cast<std::size_t>(z.points()), static_cast<std::size_t>(r.points()),
                         false};
  // Ez and Er in MV/m, |E| not kept, H-phi in A/m.
  constexpr PointFactors factors{1e6, 1e6, 0, MESH_MU0};
  read_all_points(file, mesh.point_count(), 4, factors, order,
                  [&](std::size_t index, const std::array<double, 5>& v) {
                    e_z[index] = {v[0] * factors[0], 0};
                    e_r[index] = {v[1] * factors[1], 0};
                    b_theta[index] = {0, -(factors[3] * v[3])};
                  });
  return mesh;
}

FieldMesh read_static(const T7File& file, const GridRange& first, const GridRange& second,
                      const MeshReadOptions& options, double magnetic_unit) {
  const NumberInput& input = file.input;
  if (!options.field) {
    raise_input_failure(input.name(), 0,
                        "%s: a static T7 file does not say which field it holds: give the field, "
                        "electric or magnetic",
                        input.name());
  }
  check_grid(input, first, second);
  const MeshGeometry geometry = options.geometry.value_or(MeshGeometry::cylindrical);
  FieldMesh mesh = new_mesh(geometry);
  const bool cylindrical = geometry == MeshGeometry::cylindrical;
  // The first coordinate (r or x) is the mesh's first axis; the second is z or y.
  set_grid_axis(mesh.axes[0], first);
  set_grid_axis(mesh.axes[cylindrical ? 2 : 1], second);
  const FieldKind field = *options.field;
  const bool magnetic = field == FieldKind::magnetic;
  mesh.source.problem = magnetic ? ProblemKind::magnetostatic : ProblemKind::electrostatic;
  const char* const second_axis = cylindrical ? "z" : "y";
  if (add_component(mesh, field, mesh.axes[0].label) == nullptr ||
      add_component(mesh, field, second_axis) == nullptr)
    raise_grid_memory(input, first, second);
  std::complex<double>* const along_first = mesh.components[0].values.data();
  std::complex<double>* const along_second = mesh.components[1].values.data();
  // G (or T) to T, or V/cm to V/m.
  const double factor = magnetic ? magnetic_unit : 100;
  // The first coordinate varies fastest in the file: the mesh holds it as its slow axis.
  const PointOrder order{static_cast<std::size_t>(first.points()),
                         static_cast<std::size_t>(second.points()), true};
  read_all_points(file, mesh.point_count(), 2, PointFactors{factor, factor}, order,
                  [&](std::size_t index, const std::array<double, 5>& v) {
                    along_first[index] = {v[0] * factor, 0};
                    along_second[index] = {v[1] * factor, 0};
                  });
  return mesh;
}

} // namespace

FieldMesh read_t7_variant(const char* path, const MeshReadOptions& options, T7Variant variant) {
  const OwnedFile stream = open_mesh_input(path);
  NumberInput input(stream.get(), path);
  const GridRange first = read_range(input);
  std::array<double, 3> line2{};
  const std::ptrdiff_t count = input.read_line(line2);
  FieldMesh mesh;
  const T7File file{path, stream.get(), input};
  if (count == 1 && variant != T7Variant::solenoid) {
    mesh = read_rf(file, first, line2[0], options);
  } else if (count == 3 && variant == T7Variant::solenoid) {
    // Br and Bz in T, round the axis.
    if (options.geometry && *options.geometry != MeshGeometry::cylindrical)
      raise_input_failure(path, 0, "%s: an Impact-T solenoid T7 file holds a cylindrical map",
                          path);
    MeshReadOptions solenoid = options;
    solenoid.field = FieldKind::magnetic;
    solenoid.geometry = MeshGeometry::cylindrical;
    mesh = read_static(file, first, range_of(input, line2), solenoid, 1);
  } else if (count == 3 && variant == T7Variant::any) {
    mesh = read_static(file, first, range_of(input, line2), options, 1e-4);
  } else if (variant == T7Variant::rf_only) {
    raise_header(input, "one number (the frequency in MHz)");
  } else if (variant == T7Variant::solenoid) {
    raise_header(input, "three numbers (min, max and intervals)");
  } else {
    raise_header(input, "one number (the frequency in MHz) or three (min, max and intervals)");
  }
  mesh.source.file = path;
  mesh.source.form = variant == T7Variant::any       ? MeshForm::t7
                     : variant == T7Variant::rf_only ? MeshForm::impact_t7
                                                     : MeshForm::impact_solenoid;
  return mesh;
}

FieldMesh read_t7_mesh(const char* path, const MeshReadOptions& options) {
  return read_t7_variant(path, options, T7Variant::any);
}

FieldMesh read_impact_t7_mesh(const char* path, const MeshReadOptions& options) {
  return read_t7_variant(path, options, T7Variant::rf_only);
}

FieldMesh read_impact_solenoid_mesh(const char* path, const MeshReadOptions& options) {
  return read_t7_variant(path, options, T7Variant::solenoid);
}

} // namespace norvalex
