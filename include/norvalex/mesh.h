// Field meshes: one in-memory model of a field map, 1-D, 2-D or 3-D, read from and written to
// the solvers' and the trackers' forms (an SF7 table, a T7 grid file, an openPMD field mesh in
// HDF5, ...; mesh_forms() lists them). The grid and the attributes have the openPMD meaning;
// field components are complex amplitudes in SI units (V/m, T); values lie in C order over the
// openPMD axes (cylindrical: nr rows of nz values; rectangular: z fastest, then y, then x),
// whatever order the file had. Every failure throws norvalex::Error (error.h); a defect of a
// file is located at its line.
#pragma once

#include "norvalex/error.h"
#include "norvalex/tqs.h"

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvalex {

// mu0 in H/m as the accelerator codes' field readers take it (CODATA 2018), for H in A/m to B
// in T. The converter keeps its own rounded factor for its TQS files (unit_rules).
inline constexpr double MESH_MU0 = 1.25663706212e-6;

enum class MeshGeometry {
  cylindrical, // axes r, theta, z; one theta plane
  rectangular, // axes x, y, z; a plane (one point along z, or along y) or a 3-D grid
};

enum class FieldKind { electric, magnetic };

// The forms a mesh travels in, in the order of the table of forms (mesh_forms()), which is the
// order in which a file's content is matched against their signatures.
enum class MeshForm {
  tqs,     // a TQS file: the arrays that the converter writes for the SF7 table of the same map
  openpmd, // an openPMD field mesh (HDF5)
  t7,      // a T7 grid file, RF or static
  sf7,     // an SF7 table of the solver's post-processor
  on_axis, // two text columns: the position along the axis in m and Ez in V/m (or Bz in T)
  // The trackers' own files.
  impact_fourier,    // Impact-T rfdataN: Fourier coefficients of the on-axis Ez and Bz
  impact_derivative, // Impact-T rfdataNNNN: the on-axis Ez and Bz with three derivatives
  impact_t7,         // Impact-T 1TN.T7 of type 112: an RF T7 file
  impact_solenoid,   // Impact-T 1TN.T7 of type 3: the static T7 layout, Br and Bz in T
  opal_1d,           // OPAL 1DDynamic, 1DMagnetoStatic, 1DElectroStatic
  opal_2d,           // OPAL 2DDynamic, 2DElectroStatic, 2DMagnetoStatic
  astra,             // ASTRA 1-D cavity or solenoid: z and the field, two columns
  tracewin,          // TraceWin .edz, .esz, .bsz (1-D) and .esz+.esr, .bsz+.bsr (2-D static)
  sdds,              // elegant's SDDS: the on-axis RF field or a solenoid map
  bmad,              // Bmad's grid_field text
  astra_3d,          // ASTRA 3-D: one file per component, <base>.ex .ey .ez .bx .by .bz
  impact_3d,         // Impact-T 1TN.T7 of type 111: a 3-D rectangular map of complex values
  // The 3-D solvers' text exports: tables of points with coordinate columns.
  cst,         // CST: named columns with units, a line of dashes, one point a line
  hfss,        // ANSYS HFSS field-calculator grid export: x y z and a complex vector, in m
  opera,       // Opera-3d table: counts, a line per column with its unit, then the points
  tracewin_3d, // TraceWin 3-D: one file per component, <base>.edx .edy ... .bsz
};
// The forms a mesh is written in are the same forms.
using MeshFormat = MeshForm;

// What the solver computed, as far as the file tells.
enum class ProblemKind { unknown, rf, electrostatic, magnetostatic };

// The grids and fields that a form can hold.
struct MeshHolds {
  bool one_d = false;   // a line of points
  bool two_d = false;   // a plane
  bool three_d = false; // a rectangular grid of more than one point along x, y and z
  bool rf = false;
  bool static_fields = false;
  bool cylindrical = false;
  bool rectangular = false;
};

// The choices of reading (MeshReadOptions) that a form takes, which other forms ignore, and of
// writing (MeshWriteOptions), which other forms refuse.
inline constexpr unsigned MESH_OPTION_FIELD = 1U << 0;        // which field a file holds
inline constexpr unsigned MESH_OPTION_GEOMETRY = 1U << 1;     // a planar map, not a cylindrical one
inline constexpr unsigned MESH_OPTION_FREQUENCY = 1U << 2;    // the frequency a file does not state
inline constexpr unsigned MESH_OPTION_POINTS = 1U << 3;       // points of a reconstructed field
inline constexpr unsigned MESH_OPTION_RESAMPLE = 1U << 4;     // equally spaced points of a 1-D map
inline constexpr unsigned MESH_OPTION_COEFFICIENTS = 1U << 5; // values of a Fourier block
inline constexpr unsigned MESH_OPTION_ASCII = 1U << 6;        // text rather than binary data
inline constexpr unsigned MESH_OPTION_MIRROR = 1U << 7;       // the map mirrored about its first z
inline constexpr unsigned MESH_OPTION_Z_OFFSET = 1U << 8;     // a shift of the positions written
inline constexpr unsigned MESH_OPTION_NORMALIZE_WORD = 1U << 9; // a tracker's normalisation word

// One row of the table of forms, as callers see it.
struct MeshFormInfo {
  MeshForm form;
  const char* name;  // its name for --to and the Python calls: "tqs", "openpmd", "t7", ...
  const char* title; // what info calls it: "TQS file", "openPMD file", ...
  std::span<const char* const> extensions; // lower case with the dot: ".t7"
  const char* file_names; // the names its files have beside the extensions ("rfdataN"), or ""
  bool readable;
  bool writable;
  MeshHolds holds;
  unsigned read_options;  // MESH_OPTION_* bits of MeshReadOptions
  unsigned write_options; // MESH_OPTION_* bits of MeshWriteOptions
  bool holds_frequency;   // an RF map written in it needs its frequency
};

// Every form, in the order of MeshForm.
NORVALEX_MESH_API std::span<const MeshFormInfo> mesh_forms();
NORVALEX_MESH_API const MeshFormInfo& mesh_form_info(MeshForm form);
// The form of that name, or null.
NORVALEX_MESH_API const MeshFormInfo* find_mesh_form(std::string_view name);
// The form written to a file of that name, told by its extension in any case; null when none is
// known.
NORVALEX_MESH_API const MeshFormInfo* mesh_form_of_path(std::string_view path);

// The form's name ("sf7", "t7", "openpmd", "tqs", "onaxis"); "rf", "electrostatic",
// "magnetostatic", "unknown".
NORVALEX_MESH_API const char* mesh_form_name(MeshForm form);
NORVALEX_MESH_API const char* problem_kind_name(ProblemKind problem);

// How memory that an array did not get from std::malloc is given back: its address and size in
// bytes (the openPMD reader's arrays lie in memory shared with the process that read them).
using MeshMemoryRelease = void (*)(void* data, std::size_t bytes);

// Values owned by a mesh: `size` elements allocated with std::malloc and not initialized, freed
// with std::free; or memory of another kind taken over with the function that gives it back.
template <class Element> class MeshArray {
public:
  MeshArray() = default;
  // Allocates `size` elements; an empty array when the memory cannot be had (check with data()).
  explicit MeshArray(std::size_t size) : data_(allocate(size)), size_(data_ ? size : 0) {}
  // Takes over the `size` elements at `data`, which `release_memory` gives back.
  MeshArray(Element* data, std::size_t size, MeshMemoryRelease release_memory) noexcept
      : data_(data), size_(size), release_memory_(release_memory) {}
  MeshArray(MeshArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
        release_memory_(std::exchange(other.release_memory_, nullptr)) {}
  MeshArray& operator=(MeshArray&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(release_memory_, other.release_memory_);
    return *this;
  }
  MeshArray(const MeshArray&) = delete;
  MeshArray& operator=(const MeshArray&) = delete;
  ~MeshArray() { give_back(data_, size_, release_memory_); }

  Element* data() noexcept { return data_; }
  const Element* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  Element& operator[](std::size_t k) noexcept { return data_[k]; }
  const Element& operator[](std::size_t k) const noexcept { return data_[k]; }
  // Hands the memory over to a caller who frees it with std::free. Memory of another kind is
  // first copied into memory of std::malloc; null, with the array as it was, when that cannot be
  // had.
  Element* release() noexcept {
    if (release_memory_ != nullptr) {
      MeshArray copy(size_);
      if (copy.data_ == nullptr)
        return nullptr;
      std::memcpy(copy.data_, data_, size_ * sizeof(Element));
      *this = std::move(copy);
    }
    size_ = 0;
    return std::exchange(data_, nullptr);
  }
  // Hands the memory over with the function that gives its `size() * sizeof(Element)` bytes back
  // (std::free's for memory of std::malloc), without a copy.
  Element* release(MeshMemoryRelease& release_memory) noexcept {
    release_memory = release_memory_ != nullptr ? release_memory_ : free_memory;
    release_memory_ = nullptr;
    size_ = 0;
    return std::exchange(data_, nullptr);
  }

private:
  static Element* allocate(std::size_t size) {
    if (size == 0 || size > SIZE_MAX / sizeof(Element))
      return nullptr;
    return static_cast<Element*>(std::malloc(size * sizeof(Element)));
  }
  static void free_memory(void* data, std::size_t) { std::free(data); }
  static void give_back(Element* data, std::size_t size, MeshMemoryRelease release_memory) {
    if (release_memory != nullptr)
      release_memory(data, size * sizeof(Element));
    else
      std::free(data);
  }

  Element* data_ = nullptr;
  std::size_t size_ = 0;
  MeshMemoryRelease release_memory_ = nullptr; // null: std::malloc's memory
};

// One axis of the grid: its label, number of points, spacing and the coordinate of its first
// point (gridSize, gridSpacing and gridOriginOffset), lengths in m.
struct MeshAxis {
  std::string label;
  std::int64_t points = 1;
  double spacing = 0;
  double origin = 0;
};

// An electric or magnetic field component along one axis: complex amplitudes in V/m or T, one
// per grid point. A static field has imaginary parts 0.
struct MeshComponent {
  FieldKind field = FieldKind::electric;
  std::string axis; // one of the mesh's axis labels
  MeshArray<std::complex<double>> values;

  // "electricField/z", "magneticField/theta", ...: the openPMD component name.
  NORVALEX_MESH_API std::string name() const;
};

// One of a table's other columns (potential, vector potential, gradients, ...): its output name
// ("V", "Az", "dBy/dx"), its SI unit and its real values in SI units, one per grid point.
struct MeshColumn {
  std::string name;
  std::string unit;
  MeshArray<double> values;
};

// Where a mesh came from.
// What a reader tells of a file beyond its mesh, for info: a label and a line of text
// ("coefficients", "Ez: 59 values over -0.0617 to 0.0617 m").
struct MeshNote {
  std::string label;
  std::string text;
};

// A field along the axis that a file holds as a Fourier series (a block of Impact-T's Fourier
// form): from `start` to `end` (m, along the mesh's axis) it is a0/2 + the sum over n of
// (a_n cos(2 pi n s / period) + b_n sin(2 pi n s / period)), s = z - start - period / 2;
// `values` are a0, a1, b1, a2, b2, ... (all 0 for a block that holds no field).
struct AxisSeries {
  FieldKind field = FieldKind::electric;
  double start = 0;
  double end = 0;
  double period = 0;
  std::vector<double> values;
};

struct MeshSource {
  std::string file;
  MeshForm form = MeshForm::sf7;
  ProblemKind problem = ProblemKind::unknown;
  std::vector<MeshNote> notes;
};

struct FieldMesh {
  MeshGeometry geometry = MeshGeometry::cylindrical;
  // In openPMD order: r, theta, z (cylindrical) or x, y, z (rectangular). The theta axis has one
  // point; a 2-D rectangular mesh has one point along z (or y, a plane taken from a 3-D map);
  // a 1-D mesh has one point on a second axis too.
  std::array<MeshAxis, 3> axes;
  double frequency = 0;      // the RF frequency in Hz (fundamentalFrequency); 0 for a static map
  std::int64_t harmonic = 0; // 1 for an RF map, 0 for a static one
  double rf_phase = 0;       // RFphase
  double field_scale = 1;    // fieldScale
  std::string anchor = "beginning"; // eleAnchorPt
  std::vector<MeshComponent> components;
  std::vector<MeshColumn> columns;
  MeshSource source;
  // The series that its fields on the axis were computed from (the blocks of an Impact-T Fourier
  // file): that form writes them back as they are while the fields are still their values on
  // the mesh's grid.
  std::vector<AxisSeries> axis_series;

  // Grid points: the product of the axes' points.
  NORVALEX_MESH_API std::size_t point_count() const;
  // The axes of more than one point: 1 for a line, 2 for a plane, 3 for a 3-D grid (0 for one
  // point).
  NORVALEX_MESH_API int dimensions() const;
  // The component of `field` along `axis`, or null.
  NORVALEX_MESH_API const MeshComponent* component(FieldKind field, std::string_view axis) const;
};

// The choices that a file may leave to the reader.
struct MeshReadOptions {
  // A static T7 file does not say which field it holds, nor whether it is planar.
  std::optional<FieldKind> field;
  std::optional<MeshGeometry> geometry; // static T7: cylindrical unless rectangular is given
  // An RF SF7 table states no frequency: reading it as a mesh needs it, in Hz.
  std::optional<double> frequency;
  // Reads an RF table without it all the same, for a look at what the file holds: the mesh's
  // frequency is then 0 and its harmonic 1.
  bool frequency_may_be_unknown = false;
  // A form that holds a field as a series (Impact-T's Fourier form) gives it on this many equally
  // spaced points (401 when not given).
  std::optional<std::int64_t> points;
  // A 1-D form whose positions are not equally spaced is read onto this many equally spaced
  // points, through a cubic spline; without it such a file is refused where its spacing breaks.
  std::optional<std::int64_t> resample;
  // A second file of the same form whose fields join the first's (CST and HFSS export E and H
  // in two files): read_mesh reads it with the same options and adds its components and
  // columns to the first's, which must have the same grid and none of them. Null: none.
  const char* with_file = nullptr;
};

// The choices of writing that a form takes (MeshFormInfo::write_options); a form refuses any
// other that is set.
struct MeshWriteOptions {
  // Impact-T's Fourier form: the values of each block (a0, then pairs), odd; when not given,
  // the fewest whose series is within 1e-3 of the field.
  std::optional<std::int64_t> coefficients;
  bool ascii = false;  // SDDS: ASCII data rather than binary
  bool mirror = false; // a 1-D form: the map mirrored about its first z (even in Ez and Bz)
  double z_offset = 0; // m, added to the positions that a form writes
  // A tracker's own normalisation word (OPAL's TRUE or FALSE; TRUE when not given).
  std::optional<bool> normalize_word;
};

// What a writer tells of a file it wrote beyond its bytes: warnings that do not stop it (a
// Fourier series that does not come within 1e-3 of the field, say), each one line of text.
struct MeshWriteReport {
  std::vector<std::string> warnings;
};

// The form of the file `path`, told from its first bytes: the first readable form of the table
// whose signature they match (a TQS file by its magic or a "creator" block, an HDF5 file, a T7
// file by a first line of three numbers, an SF7 table by its "SF7" line), else the readable form
// of its extension. A file that cannot be opened throws as the readers do; an empty file, or one
// of no known form, throws "<file>: ..." saying so.
NORVALEX_MESH_API MeshForm detect_mesh_form(const char* path);

// Reads the file `path` as a mesh, in the form detect_mesh_form tells, and options.with_file,
// when given, in the same form: its fields join the first's, on the same grid (each end of
// every axis within a millionth of the largest spacing), both RF at one frequency or both
// static, no component or column in both; else "<second file>: ..." says what differs. Its
// source is the first file's, with the note "with" naming the second.
NORVALEX_MESH_API FieldMesh read_mesh(const char* path, const MeshReadOptions& options = {});
// Reads it in the form given.
NORVALEX_MESH_API FieldMesh read_mesh(const char* path, MeshForm form,
                                      const MeshReadOptions& options = {});

// The readers of each form. A defect of the file throws "<file>(<line>): <what is wrong>", a
// choice the file leaves open and the options do not make throws "<file>: <what to give>"; no
// partial mesh is ever returned.
NORVALEX_MESH_API FieldMesh read_sf7_mesh(const char* path, const MeshReadOptions& options = {});
NORVALEX_MESH_API FieldMesh read_t7_mesh(const char* path, const MeshReadOptions& options = {});
// A TQS file written from a map: the converter's arrays of an SF7 table, or a mesh's.
NORVALEX_MESH_API FieldMesh read_tqs_mesh(const char* path, const MeshReadOptions& options = {});
// Needs a build with HDF5; without, it throws "<file>: openPMD files are not supported by this
// build (no HDF5)". Sizes and shapes are checked before anything is allocated; a grid of more
// than 2^24 points is read only when a component stores its values in the file.
NORVALEX_MESH_API FieldMesh read_openpmd_mesh(const char* path,
                                              const MeshReadOptions& options = {});
// True when this build reads and writes openPMD files.
NORVALEX_MESH_API bool mesh_has_openpmd();

// The field on the mesh's axis: along z on the row at r = 0 of a cylindrical mesh, or along the
// one axis of more than one point of a 1-D mesh. Its component is the electric field along that
// axis (Ez), or the magnetic one (Bz) for a mesh without electric field.
struct OnAxisField {
  int axis = 2;                             // the index of the axis in the mesh's axes
  const MeshComponent* component = nullptr; // Ez or Bz
  std::size_t first = 0;                    // index of the axis's first point in the mesh
  std::size_t stride = 1;                   // and the step between two points
};

// The mesh's on-axis field: the row at r = 0 of a cylindrical mesh, the line along z through
// x = 0 and y = 0 of a rectangular one (3-D, or a plane that holds z), or the line of a 1-D mesh.
// Throws "<file>: no field on the axis: ..." saying why there is none (a rectangular x-y plane,
// a cylindrical mesh whose r does not start at 0, a rectangular one without a point at x = 0 or
// y = 0, neither Ez nor Bz).
NORVALEX_MESH_API OnAxisField on_axis_field(const FieldMesh& mesh);

// The largest |Ez| (or |Bz|) on the axis and the position along the axis (in m) where it is
// first found.
struct OnAxisPeak {
  double value = 0;
  double position = 0;
};
NORVALEX_MESH_API OnAxisPeak on_axis_peak(const FieldMesh& mesh);

// Throws "<file>: <what is wrong>", the file being the mesh's source, when the mesh's parts do
// not fit together or hold what no reader takes back: axis labels other than the geometry's, an
// axis of no point, a grid of more than MESH_MAX_POINTS points or of more than one plane, a
// spacing or an origin that is not finite, a spacing that is not positive along an axis of more
// points than one, a frequency, a harmonic, an RF phase or a field scale out of range, an anchor
// other than beginning, center or end, a component along no axis of the mesh, twice, or with
// another number of values than the grid's points, imaginary parts in a static mesh, a column
// whose name is not one word of printable characters, or two columns of one name. Every writer
// makes this check before it writes anything.
NORVALEX_MESH_API void check_mesh(const FieldMesh& mesh);

// A plane of a rectangular map: the grid plane where `axis` ("x", "y" or "z") is `value` m,
// which must be one of the axis's points (within 1e-9 of a step), else "<file>: y = 0.013 m is
// no plane of the grid: its y points lie from ..."; the result keeps one point on that axis, with
// the map's attributes, components and columns in that plane.
NORVALEX_MESH_API FieldMesh mesh_plane(const FieldMesh& mesh, std::string_view axis, double value);

// The cylindrical r-z map of a rectangular map symmetric about the z axis, taken from its
// half-plane x >= 0 at y = 0 (which the grid must hold), every component rotated to r and theta
// (there Er = Ex and Etheta = Ey), and how far the map departs from that symmetry: over every
// grid point within the map's radius, the largest difference between the map's field and the
// cylindrical map's rotated to that point (linear in r), relative to the field's largest
// magnitude. The map's source notes it ("symmetry").
struct CylindricalMap {
  FieldMesh mesh;
  double departure = 0;
};
NORVALEX_MESH_API CylindricalMap mesh_cylindrical(const FieldMesh& mesh);

// Multiplies every field component and every column (potentials and gradients follow the field)
// by `factor`.
NORVALEX_MESH_API void scale_mesh(FieldMesh& mesh, double factor);
// The factor that makes the mesh's on-axis peak `peak` (V/m or T); throws for a mesh without an
// on-axis field or whose peak is 0.
NORVALEX_MESH_API double normalization_factor(const FieldMesh& mesh, double peak);
// Scales the mesh by normalization_factor(mesh, peak).
NORVALEX_MESH_API void normalize_mesh(FieldMesh& mesh, double peak);

// Writes `mesh` in `format` into `stream`, which the caller opened and keeps open (standard
// output, say), and flushes it; `name` names it in messages ("-" for standard output). A mesh
// that the format cannot hold is refused before anything is written: "<file>: <why>", the file
// being the mesh's source. openPMD needs a file of its own and is refused here
// (write_mesh_file writes it).
NORVALEX_MESH_API MeshWriteReport write_mesh(const FieldMesh& mesh, MeshFormat format,
                                             std::FILE* stream, const char* name,
                                             const MeshWriteOptions& options = {});

// Opens `path`, writes `mesh` in `format` and puts the file in place: it is replaced whole, or
// left as it was when the write fails (a device or a FIFO is written in place). A form written
// as several files (mesh_output_paths) writes them all, each whole or as it was.
NORVALEX_MESH_API MeshWriteReport write_mesh_file(const FieldMesh& mesh, MeshFormat format,
                                                  const char* path,
                                                  const MeshWriteOptions& options = {});

// The files that `format` writes `mesh` into for the name `path`: `path` itself, or for a form
// written as several files (TraceWin's, one per component) `path` without the form's extension
// it ends in, followed by each file's extension ("out.bsz" gives "out.bsz" and "out.bsr").
NORVALEX_MESH_API std::vector<std::string> mesh_output_paths(const FieldMesh& mesh,
                                                             MeshFormat format,
                                                             const std::string& path,
                                                             const MeshWriteOptions& options = {});

} // namespace norvalex
