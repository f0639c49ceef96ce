// TraceWin's field files, one per component, named <base>.<e|b><s|d><component>: what its two
// forms share (the names, the units, the header lines, the values one a line divided by Norm),
// and the rows of its 3-D form. tracewin_form.cpp reads and writes the 1-D and 2-D maps,
// tracewin_3d.cpp the 3-D ones.
#pragma once

#include "diag/raise.h"
#include "mesh/mesh_forms.h"
#include "mesh/mesh_text.h"
#include "text/number_input.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

// What a file's extension tells: an electric or magnetic field, static or RF (d), and the
// component, 'z' or 'r' ('q' of a 2-D RF map), 'x', 'y' or 'z' of a 3-D one.
struct TraceWinKind {
  FieldKind field;
  bool rf;
  char component;
};

// The kind of a path's extension, in any case; none for a name without one of TraceWin's.
std::optional<TraceWinKind> tracewin_kind_of_name(std::string_view path);
// ".edz", ".bsr", ...: the lower-case extension of a file of that kind.
std::string tracewin_extension(FieldKind field, bool rf, char component);

// SI units of a file's unit: MV/m, or T.
inline double tracewin_unit(FieldKind field) {
  return field == FieldKind::electric ? 1e6 : 1;
}

// A header line's count of intervals, checked (a whole number from 1 on, fewer than a mesh's
// points); a located error at the input's line otherwise.
std::int64_t tracewin_intervals(const NumberInput& input, double intervals);
// Norm, checked: a number other than 0.
double tracewin_norm(const NumberInput& input, double norm);

// `nz zmax`, intervals and a length in m: z runs from 0 to zmax.
struct TraceWinExtent {
  std::int64_t intervals;
  double length;

  std::int64_t points() const { return intervals + 1; }
  double spacing() const { return length / static_cast<double>(intervals); }
  bool operator==(const TraceWinExtent&) const = default;
};
// The extent of a line's two numbers, checked; a located error at the input's line otherwise.
TraceWinExtent tracewin_extent(const NumberInput& input, double intervals, double length);

// Reads exactly `count` values, each divided by `norm` and times `unit`, into store(n, value) in
// the file's order; too few or too many values, or one out of range, is a located error.
template <class Store>
void read_tracewin_values(NumberInput& input, std::size_t count, double norm, double unit,
                          Store store) {
  constexpr std::size_t CHUNK = 4096;
  std::array<double, CHUNK> chunk;
  std::size_t read = 0;
  while (read < count) {
    const std::size_t got = input.read_numbers({chunk.data(), std::min(CHUNK, count - read)});
    if (got == 0) {
      raise_input_error(input.name(), input.line_number(),
                        "Too few values: the grid needs %llu, the file holds %llu",
                        static_cast<unsigned long long>(count),
                        static_cast<unsigned long long>(read));
    }
    for (std::size_t k = 0; k < got; ++k) {
      const double value = chunk[k] / norm * unit;
      if (std::isinf(value) && std::isfinite(chunk[k])) {
        raise_input_error(input.name(), input.line_of_number(k), "Value out of range: %s",
                          number_text(chunk[k]).c_str());
      }
      store(read + k, value);
    }
    read += got;
  }
  double extra = 0;
  if (input.read_numbers({&extra, 1}) != 0) {
    raise_input_error(input.name(), input.line_number(), "Too many values: the grid needs %llu",
                      static_cast<unsigned long long>(count));
  }
}

// A header line of intervals and the length that gives the spacing back: `nz zmax`.
void write_tracewin_extent(TextOutput& out, std::size_t intervals, double spacing);
// A value in the file's unit whose reading with Norm 1 gives `value` back, and its line end.
void write_tracewin_value(TextOutput& out, double value, double unit);

// The 3-D form (tracewin_3d.cpp): .edx .edy .edz .bdx .bdy .bdz of an RF map, .esx ... .bsz of
// a static one.
bool tracewin_3d_signature(const FileStart& start);
FieldMesh read_tracewin_3d_mesh(const char* path, const MeshReadOptions& options);
void check_tracewin_3d(const FieldMesh& mesh, const MeshWriteOptions& options);
std::vector<std::string> tracewin_3d_files(const FieldMesh& mesh, const MeshWriteOptions& options);
void write_tracewin_3d(const FieldMesh& mesh, std::span<OutputFile> files,
                       const MeshWriteOptions& options, MeshWriteReport& report);

} // namespace norvalex
