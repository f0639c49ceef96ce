"""SF7 field maps and TQS files in numpy, read and written by norvalex's own C++ libraries.

    m = norvalex.read_sf7("cavity.sf7")    # m["Ez"]: float64, shape (dim2, dim1), in SI units
    t = norvalex.read_tqs("cavity.tqs")    # t.header, t.blocks, t["Ez"]
    norvalex.write_tqs("out.tqs", {"Ez": m["Ez"]})
    norvalex.convert("cavity.sf7", "cavity.tqs")   # the same bytes as the norvalex program
    norvalex.stats("cavity.tqs", "Ez")     # {"Min": ..., "Max": ..., ..., "N": ...}
    f = norvalex.read_mesh("cavity.t7")    # a field mesh from an SF7 table, a T7 or openPMD file
    f.components["electricField/z"]       # complex128, shape f.grid_size, in V/m

Texts of the files (names, units, strings) are bytes that the files do not say how to decode;
they come as str decoded with code page 437, the code page of the solver's own names: every
byte is one character, so nothing is lost and text.encode("cp437") gives the bytes back.
"""

import collections
import dataclasses
import datetime
import os
import warnings
from collections.abc import Mapping

import numpy as np

from . import _core
from ._core import Error, __version__

__all__ = ["Error", "FieldMap", "Column", "TqsFile", "TqsHeader", "Block", "Mesh", "read_sf7",
           "read_tqs", "write_tqs", "convert", "stats", "read_mesh", "write_mesh"]

TEXT_ENCODING = "cp437"
NAME_LIMIT = 15  # bytes of a TQS name; its 16-byte field ends in a NUL

# Array element codes that have a size, as numpy types. The format defines strings (code 1,
# which come as str) and doubles; the others are known by their size alone and come as
# unsigned integers of that size, for the caller to view as meant (values.view("<f4"), say).
ARRAY_DTYPES = {0x02: "<u4", 0x03: "<f8", 0x20: "u1", 0x30: "u1", 0x40: "<u2", 0x50: "<u2",
                0x60: "<u4", 0x90: "<u4"}


def _text(raw):
    return raw.decode(TEXT_ENCODING)


def _path(path):
    """The bytes of a path (os.fsencode), refused as open() refuses it when a NUL is among them:
    the C++ side would take the part before the NUL for the whole path."""
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("embedded null byte")
    return raw


class _UniqueNames(Mapping):
    """Values by name, for the names that occur once: as in the library's own lookup, a
    repeated name finds none (the whole list keeps every one)."""

    def __init__(self, named_values):
        counts = collections.Counter(name for name, _ in named_values)
        self._by_name = {name: value for name, value in named_values if counts[name] == 1}

    def __getitem__(self, name):
        return self._by_name[name]

    def __iter__(self):
        return iter(self._by_name)

    def __len__(self):
        return len(self._by_name)


@dataclasses.dataclass(frozen=True, eq=False)
class Column:
    """One column of a field map: output name and SI unit, the SF7 name and unit, the factor
    from one to the other, and the values in SI units (shape (dim2, dim1))."""
    name: str
    unit: str
    sf7_name: str
    sf7_unit: str
    factor: float
    values: np.ndarray


class FieldMap(_UniqueNames):
    """A field map read from an SF7 file: the grid's point counts, the six columns in file
    order, and each column's values by output name (m["Ez"])."""

    def __init__(self, dim1, dim2, columns):
        self.dim1 = dim1  # points of the first named coordinate, which varies fastest
        self.dim2 = dim2  # points of the second; 1 for values along a line
        self.columns = tuple(columns)
        super().__init__([(column.name, column.values) for column in self.columns])

    @property
    def shape(self):
        """(dim2, dim1): the first named coordinate runs along the last axis."""
        return (self.dim2, self.dim1)

    def __repr__(self):
        names = ", ".join(column.name for column in self.columns)
        return f"FieldMap(dim1={self.dim1}, dim2={self.dim2}, columns=[{names}])"


@dataclasses.dataclass(frozen=True)
class TqsHeader:
    """The 48-byte file header; creation time in UTC."""
    creator: str
    creator_version: tuple
    second_name: str
    second_version: tuple
    format_version: tuple
    created: datetime.datetime


@dataclasses.dataclass(frozen=True, eq=False)
class Block:
    """A block: its name, its type word and its value (numpy array, str or bytes)."""
    name: str
    type: int
    value: object


class TqsFile(_UniqueNames):
    """A TQS file read whole: the header (None for a file that begins with a "creator" block),
    every block in file order, appended series included, and the values by name."""

    def __init__(self, header, blocks):
        self.header = header
        self.blocks = tuple(blocks)
        super().__init__([(block.name, block.value) for block in self.blocks])

    def __repr__(self):
        names = ", ".join(block.name for block in self.blocks)
        return f"TqsFile(header={self.header!r}, blocks=[{names}])"


def _block_value(type_word, data):
    code = type_word & 0xFF
    if code == 0x01:
        return _text(bytes(data).split(b"\0", 1)[0])
    dtype = ARRAY_DTYPES.get(code)
    if dtype is not None and data.size % np.dtype(dtype).itemsize == 0:
        return data.view(dtype)  # no copy: the array the data was read into
    return bytes(data)


def read_sf7(path):
    """Reads an SF7 field map into a FieldMap, values in SI units bit for bit as norvalex
    writes them. Each column's values are a C-ordered float64 array of shape (dim2, dim1):
    in the file the first named coordinate varies fastest, so it runs along the last axis
    (for "Z and R increments: 99 19", m["Z"][r, z] with 20 R rows of 100 Z values)."""
    dim1, dim2, columns = _core.read_sf7(_path(path))
    return FieldMap(dim1, dim2, [
        Column(_text(name), _text(unit), _text(sf7_name), _text(sf7_unit), factor,
               None if values is None else values.reshape(dim2, dim1))
        for name, unit, sf7_name, sf7_unit, factor, values in columns])


def read_tqs(path):
    """Reads a TQS file whole into a TqsFile. Array blocks whose element code has a size come
    as numpy arrays (ARRAY_DTYPES), string blocks as str up to their NUL, anything else as
    bytes; single values as arrays of one element."""
    header, blocks = _core.read_tqs(_path(path))
    if header is not None:
        creator, creator_version, second_name, second_version, format_version, created = header
        header = TqsHeader(_text(creator), creator_version, _text(second_name), second_version,
                           format_version,
                           datetime.datetime.fromtimestamp(created, datetime.timezone.utc))
    return TqsFile(header, [Block(_text(name), type_word, _block_value(type_word, data))
                            for name, type_word, data in blocks])


def _tqs_name(name):
    raw = name if isinstance(name, bytes) else name.encode(TEXT_ENCODING)
    if len(raw) > NAME_LIMIT or b"\0" in raw:
        raise ValueError(f"A TQS name has at most {NAME_LIMIT} bytes and no NUL: {name!r}")
    return raw


def _doubles(values):
    array = np.asarray(values)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"Not an array of real numbers: dtype {array.dtype}")
    return np.ascontiguousarray(array, dtype=np.float64).reshape(-1)


def write_tqs(path, columns, append=False):
    """Writes a mapping of names to arrays of real numbers as norvalex writes a map: the file
    header (creator NORVALEX 1.0), or with append=True a "creator" block at the end of the
    file, then each array as a block of doubles, flattened in C order. Every name and array
    is checked before the file is opened."""
    checked = [(_tqs_name(name), _doubles(values)) for name, values in columns.items()]
    _core.write_tqs(_path(path), checked, bool(append))


def convert(sf7_path, tqs_path, append=False):
    """Converts an SF7 file into a TQS file in this process, with the program's bytes; the
    whole map is read before the output is opened. "-" is a file name here."""
    _core.convert(_path(sf7_path), _path(tqs_path), bool(append))


def stats(path, name):
    """The library's seven statistics ("Min", "Max", "Max-Min", "Avg", "Std", "Sum", "N") of
    the one array `name` of a TQS file, read as doubles; None where a statistic has nothing
    to report (no element, a name that occurs more than once, "Std" of one element)."""
    return _core.stats(_path(path), _tqs_name(name))


_FIELDS = {None: -1, "electric": 0, "magnetic": 1}
_GEOMETRIES = {None: -1, "cylindrical": 0, "rectangular": 1}


def _choice(value, choices, what):
    if value not in choices:
        names = " or ".join(repr(name) for name in choices if name is not None)
        raise ValueError(f"{what} must be {names}, not {value!r}")
    return choices[value]


class Mesh:
    """A field mesh: geometry ("cylindrical" with axes r, theta, z or "rectangular" with x, y,
    z), the grid (grid_size, grid_spacing and grid_origin_offset per axis, lengths in m, in the
    openPMD attributes' meaning), the RF frequency in Hz (0 for a static field) and harmonic,
    the field components by openPMD name ("electricField/z") as complex amplitudes in V/m or T,
    the table's other columns by name ("V", "Az") as real arrays in SI units, and where it came
    from (file, form, problem). Every array has the shape grid_size, in C order (cylindrical:
    nr rows of nz values)."""

    def __init__(self, attributes, components, extra_columns, units):
        self.geometry = attributes["geometry"]
        self.axis_labels = attributes["axis_labels"]
        self.grid_size = attributes["grid_size"]
        self.grid_spacing = attributes["grid_spacing"]
        self.grid_origin_offset = attributes["grid_origin_offset"]
        self.frequency = attributes["frequency"]
        self.harmonic = attributes["harmonic"]
        self.rf_phase = attributes["rf_phase"]
        self.field_scale = attributes["field_scale"]
        self.anchor = attributes["anchor"]
        self.file = attributes["file"]
        self.form = attributes["form"]
        self.problem = attributes["problem"]
        # What the reader tells of the file beyond the mesh ({"coefficients": "..."}).
        self.notes = dict(attributes.get("notes", {}))
        # A cylindrical map's departure from the symmetry about z (cylindrical()); else None.
        self.symmetry_departure = None
        self.components = components
        self.extra_columns = extra_columns
        self.units = units

    @property
    def grid_lower_bound(self):
        """(0, 1, 0) for a cylindrical mesh (its one theta plane is number 1), (0, 0, 0) else."""
        return (0, 1, 0) if self.geometry == "cylindrical" else (0, 0, 0)

    def to_openpmd_data(self):
        """The mesh as the accelerator codes' field-mesh classes take it: {"attrs": {openPMD
        attributes}, "components": {name: complex128 array}}, the arrays shared, not copied."""
        attrs = {"eleAnchorPt": self.anchor, "gridGeometry": self.geometry,
                 "axisLabels": self.axis_labels, "gridLowerBound": self.grid_lower_bound,
                 "gridOriginOffset": self.grid_origin_offset, "gridSpacing": self.grid_spacing,
                 "gridSize": self.grid_size, "harmonic": self.harmonic,
                 "fundamentalFrequency": self.frequency, "RFphase": self.rf_phase,
                 "fieldScale": self.field_scale}
        return {"attrs": attrs, "components": dict(self.components)}

    def __repr__(self):
        names = ", ".join([*self.components, *self.extra_columns])
        return (f"Mesh({self.geometry}, grid_size={self.grid_size}, "
                f"frequency={self.frequency!r}, [{names}])")

    def _attributes(self):
        return {"geometry": self.geometry, "axis_labels": tuple(self.axis_labels),
                "grid_size": tuple(int(n) for n in self.grid_size),
                "grid_spacing": tuple(float(d) for d in self.grid_spacing),
                "grid_origin_offset": tuple(float(o) for o in self.grid_origin_offset),
                "frequency": float(self.frequency), "harmonic": int(self.harmonic),
                "rf_phase": float(self.rf_phase), "field_scale": float(self.field_scale),
                "anchor": self.anchor, "file": self.file, "form": self.form,
                "problem": self.problem, "notes": dict(self.notes)}

    def _core_attributes(self):
        # The file's name goes back as the bytes of the path it was read from, whatever their
        # encoding.
        return {**self._attributes(), "file": os.fsencode(self.file)}

    def _core_components(self):
        return [(name, np.ascontiguousarray(values, dtype=np.complex128))
                for name, values in self.components.items()]

    def _pieces(self):
        columns = [(name.encode(TEXT_ENCODING), self.units.get(name, "").encode(TEXT_ENCODING),
                    np.ascontiguousarray(values, dtype=np.float64))
                   for name, values in self.extra_columns.items()]
        return self._core_attributes(), self._core_components(), columns

    def scaled(self, factor):
        """A new Mesh with every field value (and every column) multiplied by `factor`."""
        factor = float(factor)
        return Mesh(self._attributes(),
                    {name: values * factor for name, values in self.components.items()},
                    {name: values * factor for name, values in self.extra_columns.items()},
                    dict(self.units))

    def normalized(self, value):
        """A new Mesh scaled so that the peak of |Ez| (or |Bz|) on the axis is `value`, in V/m
        or T: the axis is the row at r = 0 of a cylindrical mesh, or the line of a 1-D one."""
        return self.scaled(_core.normalization_factor(self._core_attributes(),
                                                      self._core_components(), float(value)))

    def on_axis(self):
        """(axis label, component name, positions in m, complex values) of the field on the
        mesh's axis."""
        return _core.on_axis(self._core_attributes(), self._core_components())

    def plane(self, axis, value):
        """A new Mesh of the grid plane of a rectangular mesh where `axis` ("x", "y" or "z") is
        `value` m, which must be one of the axis's points (within a millionth of a step); it keeps
        one point on that axis."""
        attributes, components, columns = _core.plane(*self._pieces(), str(axis), float(value))
        return self._derived(attributes, components, columns)

    def cylindrical(self):
        """A new cylindrical Mesh (r, theta, z) of a rectangular mesh symmetric about the z axis,
        taken from its half-plane x >= 0 at y = 0, every component turned to r and theta. Its
        symmetry_departure is how far the mesh departs from that symmetry: the largest difference
        between the mesh's field and the cylindrical map's at any grid point within its radius,
        relative to the largest field (notes["symmetry"] says it in words)."""
        (attributes, components, columns), departure = _core.cylindrical(*self._pieces())
        derived = self._derived(attributes, components, columns)
        derived.symmetry_departure = departure
        return derived

    def _derived(self, attributes, components, columns):
        # A map made of this one: its file, form and problem, and its notes with the new ones.
        attributes.update(file=self.file, form=self.form, problem=self.problem,
                          notes={**self.notes, **attributes["notes"]})
        return _mesh_of(attributes, components, columns)

    def plot(self, path=None, plane=None):
        """Draws the field's magnitude over the grid and the field on the axis (matplotlib);
        saves the figure to `path` when given, and returns it. Of a 3-D mesh it draws a plane:
        `plane` (axis, value) as plane() takes it, by default y = 0 (the middle y plane where y
        has no point at 0)."""
        from . import plot
        return plot.plot_mesh(self, path, plane)


_COMPONENT_UNITS = {"electricField": "V/m", "magneticField": "T"}


def read_mesh(path, *, form=None, field=None, geometry=None, frequency=None, points=None,
              resample=None, with_file=None):
    """Reads a field mesh from a file of any form that is read (forms()), told from the file's
    content, else from its name, or given as `form` ("sf7", "t7", "opal-2d", ...). A static T7
    file needs field="electric" or "magnetic" (and geometry="rectangular" for a planar map); an
    RF map whose file states no frequency needs the frequency in Hz; `points` is the number of
    points a field held as a series is given on (401 by default), `resample` reads a 1-D map
    whose positions are not equally spaced onto that many equally spaced points. `with_file` is
    a second file of the same form whose fields join the first's on the same grid (a solver's E
    and H exported apart)."""
    attributes, components, columns = _core.read_mesh(
        _path(path), form, _choice(field, _FIELDS, "field"),
        _choice(geometry, _GEOMETRIES, "geometry"),
        None if frequency is None else float(frequency),
        None if points is None else int(points), None if resample is None else int(resample),
        None if with_file is None else _path(with_file))
    return _mesh_of(attributes, components, columns)


def _mesh_of(attributes, components, columns):
    """The Mesh of the pieces that the C++ side gives."""
    units = {name: _COMPONENT_UNITS[name.split("/")[0]] for name, _ in components}
    units.update((_text(name), _text(unit)) for name, unit, _ in columns)
    return Mesh(attributes, dict(components),
                {_text(name): values for name, _, values in columns}, units)


# The forms that are written, by name and by extension, from the libraries' table of forms.
_FORMATS = {name: name for name, _, _, _, writable in _core.forms() if writable}


def forms():
    """(name, title, extensions, read, written) of every form, as fieldmap --help lists them."""
    return [tuple(row) for row in _core.forms()]


def write_mesh(path, mesh, format=None, *, coefficients=None, ascii=False, mirror=False,
               z_offset=0.0, normalize=None):
    """Writes a Mesh in a form that is written (forms()): "tqs" (the arrays that norvalex writes
    for the SF7 table of the same map), "openpmd", "t7", "onaxis" (two text columns: the position
    on the axis in m and Ez in V/m or Bz in T), or a tracker's own form; `format` None takes it
    from the path's extension. A form written as several files (TraceWin's) writes each beside
    the path. The form's options: `coefficients` (values of an Impact-T Fourier block), `ascii`
    (SDDS text data), `mirror` (a 1-D map mirrored about its first z), `z_offset` (m added to the
    positions written) and `normalize` (OPAL's TRUE or FALSE, as True or False); a form refuses
    one it does not take. Each file is replaced whole, or left as it was when the write fails."""
    if format is None:
        format = _core.written_form_of_path(_path(path))
        if format is None:
            raise ValueError(f"the format is not told by the extension of {path!r}: give format")
    options = {"coefficients": None if coefficients is None else int(coefficients),
               "ascii": bool(ascii), "mirror": bool(mirror), "z_offset": float(z_offset),
               "normalize": None if normalize is None else bool(normalize)}
    for warning in _core.write_mesh(_path(path), *mesh._pieces(), _choice(format, _FORMATS,
                                                                          "format"), options):
        warnings.warn(warning, stacklevel=2)
