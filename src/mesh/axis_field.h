// The field along a map's axis as the trackers' 1-D forms hold it: equally spaced real
// amplitudes of Ez or Bz. Their writers take it from any map, and their readers make a 1-D mesh
// of it: cylindrical, one r point at 0, the values along z.
#pragma once

#include "mesh/mesh_text.h"
#include "norvalex/mesh.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norvalex {

struct AxisField {
  FieldKind field = FieldKind::electric; // Ez, or Bz
  double start = 0;                      // m, the position of the first value
  double step = 0;                       // m, between two values; 0 for one value
  std::vector<double> values;            // V/m or T: a static field, or an RF map's standing wave

  double end() const { return start + step * static_cast<double>(values.size() - 1); }
};

// The field a 1-D form takes from a map: Ez for an RF or electric map, Bz for a magnetic one.
// Throws "<file>: no field on the axis: ..." when the map has neither.
FieldKind axis_field_kind(const FieldMesh& mesh);

// The field of `field` on the axis of `mesh` (on_axis_field: the row at r = 0 of a cylindrical
// map, or the line of a 1-D one), as real amplitudes (RealFields). `form` names the output's form
// ("an ASTRA file") in the refusals: no axis, no such component along it ("<file>: no field on the
// axis: it has no magneticField/z"), or fields that need more than one phase ("<file>: <form>
// holds a standing wave, and the map's fields need more than one phase (a travelling wave)").
AxisField axis_field(const FieldMesh& mesh, FieldKind field, const char* form);

// The field that a 1-D form writes of `mesh`: axis_field along z, of two points or more and
// finite values, mirrored when the options ask it, its positions moved by their z_offset.
// Refusals name the form by `form`.
AxisField axis_field_for_writing(const FieldMesh& mesh, FieldKind field,
                                 const MeshWriteOptions& options, const char* form);

// Writes `field` as lines of two numbers, the position in m and the value, apart by a space. The
// positions are start + k step as they are, or with `decimal_positions` in the fewest digits that
// keep the first and the step a reader takes from the first and the last, and every other
// within 1e-9 of a step of its place: "0.009", not "0.009000000000000001".
void write_axis_pairs(TextOutput& out, const AxisField& field, bool decimal_positions);

// `field` mirrored about its first position, even (Ez and Bz of a cavity's half cell): the
// values reversed, then the rest of them, from start - (n - 1) step.
AxisField mirrored(const AxisField& field);

// The index of the first position of `positions` whose step from the one before differs from
// the first step by more than 1e-6 of it (or that does not increase), or none when they are
// equally spaced. A reader refuses such a file where it breaks, unless it resamples it.
std::optional<std::size_t> uneven_position(std::span<const double> positions);

// `values` at increasing `positions`, given on `points` equally spaced positions from the first
// to the last through the natural cubic spline of the samples.
AxisField resampled(std::span<const double> positions, std::span<const double> values,
                    std::size_t points, FieldKind field);

// The field of `field` given by the samples of a 1-D form's file, the value at `positions[k]`
// read from line `lines[k]` of `file`: on `resample` equally spaced positions through the cubic
// spline (resampled) when the caller gives it, else on the samples' own, which must then be
// equally spaced (uneven_position). Located errors: fewer than two samples, a number that is not
// finite, a position that does not increase, a step that breaks the spacing; a `resample` out of
// range is "<file>: ...".
AxisField sampled_axis_field(const char* file, std::span<const double> positions,
                             std::vector<double> values, std::span<const std::int32_t> lines,
                             std::optional<std::int64_t> resample, FieldKind field);

// What `fieldmap info` tells of the samples a field was read from: "200 pairs, equally spaced",
// or "187 pairs, resampled on 400 equally spaced points".
MeshNote sampling_note(std::size_t samples, std::optional<std::int64_t> resample);

// A 1-D mesh of `fields`, which share one grid (start, step and count): cylindrical, r one point
// at 0, z along the values. An RF map (`rf`) holds E real and B as -i times its amplitude, as
// every RF mesh does; `frequency` in Hz, 0 when the file states none.
FieldMesh axis_mesh(std::span<const AxisField> fields, bool rf, double frequency);

} // namespace norvalex
