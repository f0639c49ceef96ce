// What Impact-T's two 1-D forms share: their files' names (rfdata and the element's file ID),
// their records (Fortran list-directed input, text/list_directed.h), their two blocks (Ez, then
// Bz, each over an interval of its own) made into one mesh, and the fields a writer takes from a
// map.
#pragma once

#include "mesh/axis_field.h"
#include "norvalex/mesh.h"
#include "text/list_directed.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace norvalex {

// The file ID of an Impact-T field file named "rfdata<ID>" (digits, no zero in front), or none.
std::optional<long> rfdata_id(std::string_view file_name);

// The numbers of the first `count` records of `bytes` that hold anything, each read as at most
// `most` values (list-directed); none when a record holds an item that is no number or the
// bytes end first. For the signatures.
std::optional<std::vector<std::vector<double>>>
leading_records(std::string_view bytes, std::size_t count, std::size_t most);

// Reads `values.size()` values from the next record on, as the tracker does, or throws
// "<file>(<line>): <what>" (Unexpected end of file when it ends first; too few values where a
// slash ends a record); each value must be finite.
void read_values(ListDirectedInput& input, std::span<double> values, const char* what);

// A count read as the tracker reads it, int(x + 0.1), which must lie in [least, most], else
// "<file>(<line>): <what> is no count from <least> to <most>: <x>".
std::size_t read_count(const ListDirectedInput& input, double x, std::size_t least,
                       std::size_t most, const char* what);

// "Ez" or "Bz", as the blocks are named in messages.
const char* block_name(FieldKind field);

// Throws "<file>(<line>): <name>'s interval is not from a zstart to a larger zend: ..." unless
// `end` lies above `start`, a finite length away.
void check_interval(const ListDirectedInput& input, const char* name, double start, double end);

// One block of a file: a field over an interval of its own, or a zero block (no such field).
struct ImpactBlock {
  FieldKind field = FieldKind::electric;
  double start = 0; // m
  double end = 0;   // m
  double step = 0;  // m: the spacing the block asks for (its own points, or the asked points)
  bool zero = true;
  std::vector<double> samples;      // its values from start by step, where it has them
  std::function<double(double)> at; // its value at any z from start to end
};

// The block's field on `count` points from `origin` by `step`: its own samples where they lie
// on them, else its value at each point within its interval (a millionth of a step from its ends
// counting as within), and 0 outside it.
std::vector<double> block_on_grid(const ImpactBlock& block, double origin, double step,
                                  std::size_t count);

// The mesh of the blocks (Ez, then Bz): each field over its own interval and 0 outside it, on
// one grid of the step of the block of the finer step, through that block's points. An RF map
// when Ez is there (its frequency from the options: "<form> states no frequency" else), a
// magnetostatic one of Bz alone; a file of zero blocks alone gives a zero Ez over the first
// block's interval. Grids of more than MESH_MAX_POINTS points throw.
FieldMesh impact_axis_mesh(std::span<const ImpactBlock> blocks, const char* path,
                           const MeshReadOptions& options, const char* form);

// The fields that an Impact-T 1-D file takes from `mesh`: Ez and Bz on its axis, each where the
// map has it (none when absent), mirrored about the first z when `options` ask; the fields
// checked as `form` ("an Impact-T Fourier file") needs them: positions that increase, finite
// values.
struct ImpactFields {
  std::optional<AxisField> ez;
  std::optional<AxisField> bz;
};
ImpactFields impact_fields(const FieldMesh& mesh, const MeshWriteOptions& options,
                           const char* form);

} // namespace norvalex
