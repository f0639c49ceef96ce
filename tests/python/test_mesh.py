# Field meshes in Python: read_mesh of every form with its attributes and arrays,
# to_openpmd_data, write_mesh round trips through every format, scaled and normalized meshes, the
# field on the axis, plots, and the errors a caller catches.
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import norvalex
from conftest import read, run_norvalex, write

MU0 = 1.25663706212e-6
RF_HZ = 1.3e9
PNG = b"\x89PNG\r\n\x1a\n"


def value(column, i, j):
    """Column `column` (0: the first after the coordinates) at grid point (i, j): i along r or x,
    j along z or y; along i = 0 it peaks at j = 2."""
    return 10.0 * (column + 1) - 2.0 * abs(j - 2) + 0.25 * i


def table(corners, increments, names, units, lines):
    text = ["Poisson Superfish", "Program SF7 mesh fixture", "",
            "Fields for a rectangular area with corners at:", *corners, increments, "", names,
            units]
    text += ["  ".join(f"{x:.6E}" for x in line) for line in lines]
    return ("\n".join(text) + "\n").encode()


# An RF map of 4 r points (0 to 3 cm) by 5 z points (50 to 70 cm), as an SF7 table (z fastest)
# and as a T7 file of 1300 MHz; a static one of 3 r points (0 to 2 cm) by 4 z points (-3 to 3 cm)
# as a T7 file (r fastest); a magnetostatic table of nine columns, 3 x points by 2 y points.
RF_TABLE = table(["(Zmin,Rmin) = (50,0.0)", "(Zmax,Rmax) = (70,3)"], "Z and R increments: 4 3",
                 "Z R Ez Er |E| H", "(cm) (cm) (MV/m) (MV/m) (MV/m) (A/m)",
                 [[50 + 5 * j, i, *(value(k, i, j) for k in range(4))]
                  for i in range(4) for j in range(5)])
RF_T7 = ("50 70 4\n1300\n0 3 3\n" + "".join(
    " ".join(f"{value(k, i, j):.6E}" for k in range(4)) + "\n"
    for i in range(4) for j in range(5))).encode()
STATIC_T7 = ("0 2 2\n-3 3 3\n" + "".join(
    f"{value(0, i, j)} {value(1, i, j)}\n" for j in range(4) for i in range(3))).encode()
MAGNETIC_TABLE = table(["(Xmin,Ymin) = (0.0,1)", "(Xmax,Ymax) = (4,2)"],
                       "X and Y increments: 2 1", "X Y Bx By |B| Az dBy/dy dBy/dx dBx/dy",
                       "(cm) (cm) (G) (G) (G) (G-cm) (G/cm) (G/cm) (G/cm)",
                       [[2 * i, 1 + j, *(value(k, i, j) for k in range(7))]
                        for j in range(2) for i in range(3)])

RF_SIZE = (4, 1, 5)
RF_COMPONENTS = ["electricField/r", "electricField/z", "magneticField/theta"]


def grid_values(column, shape):
    """value(column, i, j) over a grid of `shape` in C order: (ni, 1, nj) or (ni, nj, 1)."""
    i, j = np.meshgrid(range(shape[0]), range(max(shape[1], shape[2])), indexing="ij")
    return (10.0 * (column + 1) - 2.0 * np.abs(j - 2) + 0.25 * i).reshape(shape)


def rf_expected():
    return {"electricField/r": grid_values(1, RF_SIZE) * 1e6,
            "electricField/z": grid_values(0, RF_SIZE) * 1e6,
            "magneticField/theta": -1j * MU0 * grid_values(3, RF_SIZE)}


def write_openpmd(path, components):
    """The RF map as an openPMD field mesh, written here with h5py."""
    h5py = pytest.importorskip("h5py")
    with h5py.File(path, "w") as f:
        for name, text in [("openPMD", "2.0.0"), ("openPMDextension", "BeamPhysics"),
                           ("dataType", "openPMD"),
                           ("externalFieldPath", "/ExternalFieldPath/%T/")]:
            f.attrs[name] = np.bytes_(text)
        m = f.create_group("ExternalFieldPath/1")
        m.attrs["gridGeometry"] = np.bytes_("cylindrical")
        m.attrs["axisLabels"] = np.array([b"r", b"theta", b"z"])
        m.attrs["gridLowerBound"] = np.array([0, 1, 0], dtype=np.int64)
        m.attrs["gridSize"] = np.array(RF_SIZE, dtype=np.int64)
        m.attrs["gridSpacing"] = np.array([0.01, 0.0, 0.05])
        m.attrs["gridOriginOffset"] = np.array([0.0, 0.0, 0.5])
        m.attrs["harmonic"] = np.int64(1)
        m.attrs["fundamentalFrequency"] = RF_HZ
        for name, values in components.items():
            field = m.create_dataset(name, data=values.astype(np.complex128))
            field.attrs["unitSI"] = 1.0
    return str(path)


@pytest.fixture
def needs_openpmd():
    if not norvalex._core.has_openpmd:
        pytest.skip("this build has no HDF5")


@pytest.fixture(params=["sf7", "t7", "tqs", "openpmd"])
def rf_file(request, tmp_path):
    """(path, read_mesh's options, relative room of its values) of the RF map in each form."""
    if request.param == "sf7":
        return write(tmp_path / "rf.sf7", RF_TABLE), {"frequency": RF_HZ}, 0
    if request.param == "t7":
        return write(tmp_path / "rf.t7", RF_T7), {}, 0
    if request.param == "tqs":  # H in T by the converter's own factor and back
        run_norvalex("-o", str(tmp_path / "rf.tqs"), write(tmp_path / "rf.sf7", RF_TABLE))
        return str(tmp_path / "rf.tqs"), {"frequency": RF_HZ}, 1e-12
    request.getfixturevalue("needs_openpmd")
    return write_openpmd(tmp_path / "rf.h5", rf_expected()), {}, 0


def test_read_mesh_gives_the_map_in_every_form(rf_file):
    path, options, room = rf_file
    m = norvalex.read_mesh(path, **options)
    assert (m.geometry, m.axis_labels, m.grid_size) == ("cylindrical", ("r", "theta", "z"), RF_SIZE)
    np.testing.assert_allclose(m.grid_spacing, (0.01, 0, 0.05), rtol=1e-12)
    np.testing.assert_allclose(m.grid_origin_offset, (0, 0, 0.5), rtol=1e-12)
    assert (m.frequency, m.harmonic, m.problem, m.file) == (RF_HZ, 1, "rf", path)
    assert m.form == os.path.splitext(path)[1][1:].replace("h5", "openpmd")
    assert list(m.components) == RF_COMPONENTS and m.extra_columns == {}
    assert m.units == {"electricField/r": "V/m", "electricField/z": "V/m",
                       "magneticField/theta": "T"}
    for name, expected in rf_expected().items():
        values = m.components[name]
        assert (values.dtype, values.shape, values.flags.c_contiguous) == (
            np.complex128, RF_SIZE, True)
        np.testing.assert_allclose(values, expected, rtol=room, atol=0, err_msg=name)


def test_a_static_t7_file_takes_its_field_and_geometry(tmp_path):
    path = write(tmp_path / "static.t7", STATIC_T7)
    m = norvalex.read_mesh(path, field="electric")
    assert (m.geometry, m.grid_size, m.frequency, m.harmonic) == ("cylindrical", (3, 1, 4), 0, 0)
    assert (m.problem, list(m.components)) == ("electrostatic", ["electricField/r",
                                                                 "electricField/z"])
    np.testing.assert_array_equal(m.components["electricField/z"],
                                  grid_values(1, (3, 1, 4)) * 100)
    m = norvalex.read_mesh(path, field="magnetic", geometry="rectangular")
    assert (m.axis_labels, m.grid_size, m.problem) == (("x", "y", "z"), (3, 4, 1), "magnetostatic")
    np.testing.assert_allclose(m.grid_origin_offset, (0, -0.03, 0))
    np.testing.assert_array_equal(m.components["magneticField/x"], grid_values(0, (3, 4, 1)) * 1e-4)


def test_the_other_columns_of_a_table_are_real_arrays_in_si_units(tmp_path):
    m = norvalex.read_mesh(write(tmp_path / "magnetic.sf7", MAGNETIC_TABLE))
    assert (m.geometry, m.grid_size, list(m.components)) == (
        "rectangular", (3, 2, 1), ["magneticField/x", "magneticField/y"])
    assert m.units == {"magneticField/x": "T", "magneticField/y": "T", "Az": "Tm",
                       "dBy/dy": "T/m", "dBy/dx": "T/m", "dBx/dy": "T/m"}
    for k, (name, factor) in enumerate([("Az", 1e-6), ("dBy/dy", 0.01), ("dBy/dx", 0.01),
                                        ("dBx/dy", 0.01)], start=3):
        values = m.extra_columns[name]
        assert (values.dtype, values.shape) == (np.float64, (3, 2, 1))
        np.testing.assert_array_equal(values, grid_values(k, (3, 2, 1)) * factor, err_msg=name)


def test_to_openpmd_data_shares_the_arrays_under_openpmd_names(tmp_path):
    m = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    data = m.to_openpmd_data()
    assert data["attrs"] == {
        "eleAnchorPt": "beginning", "gridGeometry": "cylindrical",
        "axisLabels": ("r", "theta", "z"),
        "gridLowerBound": (0, 1, 0), "gridOriginOffset": (0.0, 0.0, 0.5),
        "gridSpacing": (0.01, 0.0, 0.05), "gridSize": RF_SIZE, "harmonic": 1,
        "fundamentalFrequency": RF_HZ, "RFphase": 0.0, "fieldScale": 1.0}
    assert list(data["components"]) == RF_COMPONENTS
    assert all(data["components"][name] is m.components[name] for name in RF_COMPONENTS)


# (source, format, file name, read_mesh's options for the file written)
ROUND_TRIPS = [("rf.t7", "tqs", "out.tqs", {"frequency": RF_HZ}), ("rf.t7", "t7", "out.t7", {}),
               ("rf.t7", "openpmd", "out.h5", {}), ("rf.t7", None, "out.hdf5", {}),
               ("rf.t7", "t7", "out.dat", {}), ("magnetic.sf7", None, "out.tqs", {})]


@pytest.mark.parametrize("source, form, name, options", ROUND_TRIPS)
def test_write_mesh_gives_the_mesh_back(tmp_path, source, form, name, options):
    if "h5" in name and not norvalex._core.has_openpmd:
        pytest.skip("this build has no HDF5")
    data = RF_T7 if source == "rf.t7" else MAGNETIC_TABLE
    m = norvalex.read_mesh(write(tmp_path / source, data))
    norvalex.write_mesh(tmp_path / name, m, format=form)
    back = norvalex.read_mesh(tmp_path / name, **options)
    assert (back.geometry, back.grid_size, back.frequency, back.harmonic, back.units) == (
        m.geometry, m.grid_size, m.frequency, m.harmonic, m.units)
    np.testing.assert_allclose(back.grid_spacing, m.grid_spacing, rtol=1e-12)
    np.testing.assert_allclose(back.grid_origin_offset, m.grid_origin_offset, rtol=1e-12)
    for key, values in [*m.components.items(), *m.extra_columns.items()]:
        found = back.components.get(key, back.extra_columns.get(key))
        np.testing.assert_allclose(found, values, rtol=1e-12, err_msg=key)


def test_e_and_h_exported_apart_are_read_as_one_map(tmp_path):
    # A CST export of Ez and one of Hz, 2 x 1 x 3 points (x fastest), in mm; exp(+jwt) amplitudes.
    def export(name, unit):
        lines = [f"x [mm] y [mm] z [mm] {name}Re [{unit}] {name}Im [{unit}]", "-" * 40]
        lines += [f"{i} 0 {2 * k} {10 * k + i} {k}" for k in range(3) for i in range(2)]
        return write(tmp_path / f"{name}.txt", ("\n".join(lines) + "\n").encode())
    e, h = export("Ez", "V/m"), export("Hz", "A/m")
    m = norvalex.read_mesh(e, with_file=h, frequency=RF_HZ)
    assert (m.form, m.grid_size, m.notes) == ("cst", (2, 1, 3), {"with": h})
    expected = np.array([[[10 * k + i - 1j * k for k in range(3)]] for i in range(2)])
    np.testing.assert_array_equal(m.components["electricField/z"], expected)
    np.testing.assert_array_equal(m.components["magneticField/z"], MU0 * expected)


def test_an_on_axis_file_holds_the_field_on_the_axis(tmp_path):
    m = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    label, name, positions, values = m.on_axis()
    assert (label, name) == ("z", "electricField/z")
    np.testing.assert_allclose(positions, [0.5, 0.55, 0.6, 0.65, 0.7], rtol=1e-15)
    np.testing.assert_array_equal(values, [6e6, 8e6, 1e7, 8e6, 6e6])
    norvalex.write_mesh(tmp_path / "axis.txt", m)
    np.testing.assert_array_equal(np.loadtxt(tmp_path / "axis.txt"),
                                  np.column_stack([positions, values.real]))


def test_scaled_and_normalized_are_new_meshes(tmp_path):
    m = norvalex.read_mesh(write(tmp_path / "magnetic.sf7", MAGNETIC_TABLE))
    doubled = m.scaled(2)
    for name, values in [*m.components.items(), *m.extra_columns.items()]:
        found = doubled.components.get(name, doubled.extra_columns.get(name))
        np.testing.assert_array_equal(found, values * 2, err_msg=name)
    assert (doubled.grid_size, doubled.units) == (m.grid_size, m.units)
    np.testing.assert_array_equal(m.extra_columns["Az"], grid_values(3, (3, 2, 1)) * 1e-6)
    rf = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    half = rf.normalized(5e6)  # the on-axis peak |Ez| is 10 MV/m
    assert np.abs(half.on_axis()[3]).max() == 5e6
    for name, values in rf.components.items():
        np.testing.assert_array_equal(half.components[name], values * 0.5, err_msg=name)
    with pytest.raises(norvalex.Error) as caught:
        m.normalized(1)
    assert str(caught.value) == f"{m.file}: no field on the axis: a rectangular 2-D map has no axis"


def test_a_mesh_read_from_a_name_of_any_bytes_is_written_and_normalized(tmp_path):
    path = os.fsdecode(bytes(tmp_path) + b"/\xff.t7")  # not UTF-8
    m = norvalex.read_mesh(write(path, RF_T7))
    assert m.file == path
    norvalex.write_mesh(tmp_path / "back.t7", m)
    assert norvalex.read_mesh(tmp_path / "back.t7").grid_size == m.grid_size
    assert np.abs(m.normalized(5e6).on_axis()[3]).max() == 5e6


def test_plot_draws_a_png(tmp_path):
    pytest.importorskip("matplotlib")
    m = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    figure = m.plot(tmp_path / "rf.png")
    assert read(tmp_path / "rf.png").startswith(PNG) and len(figure.axes) >= 2


def tilted_3d_map(tmp_path):
    """A 3-D map as ASTRA's file of Bz alone, 3 x 3 x 2 points, Bz = 1 + 0.5 x: its base name."""
    grid = "3 -0.01 0 0.01\n3 -0.01 0 0.01\n2 0 0.1\n"
    values = " ".join(str(1 + 0.5 * x) for _ in range(6) for x in (-0.01, 0, 0.01))
    write(tmp_path / "3D_map.bz", (grid + values + "\n").encode())
    return tmp_path / "3D_map"


def test_a_3d_map_gives_its_planes_and_its_cylindrical_map(tmp_path):
    m = norvalex.read_mesh(tilted_3d_map(tmp_path))
    assert (m.form, m.grid_size, m.problem) == ("astra-3d", (3, 3, 2), "magnetostatic")
    bz = m.components["magneticField/z"]
    plane = m.plane("y", 0)
    assert plane.grid_size == (3, 1, 2) and plane.form == "astra-3d"
    assert np.array_equal(plane.components["magneticField/z"], bz[:, 1:2, :])
    rz = m.cylindrical()
    assert (rz.geometry, rz.grid_size) == ("cylindrical", (2, 1, 2))
    assert np.array_equal(rz.components["magneticField/z"], bz[1:, 1, :].reshape(2, 1, 2))
    # At x = -1 cm 0.995 T, where the map of x >= 0 gives 1.005 T, its largest field.
    assert rz.symmetry_departure == pytest.approx(0.01 / 1.005, rel=1e-12)
    assert rz.notes["symmetry"].startswith("departs from the symmetry about z by 0.00995")
    with pytest.raises(norvalex.Error, match=r"y = 0\.005 m is no plane of the grid"):
        m.plane("y", 0.005)


def test_the_plot_of_a_3d_map_draws_a_plane(tmp_path):
    pytest.importorskip("matplotlib")
    figure = norvalex.read_mesh(tilted_3d_map(tmp_path)).plot(tmp_path / "3d.png")
    assert figure._suptitle.get_text().endswith(", y = 0 m")
    figure = norvalex.read_mesh(tilted_3d_map(tmp_path)).plot(tmp_path / "x.png", ("x", 0.01))
    assert figure._suptitle.get_text().endswith(", x = 0.01 m")
    result = plot_command(tmp_path / "3D_map", tmp_path / "3d.png")
    assert (result.returncode, result.stderr) == (0, "")


def plot_command(*args):
    return subprocess.run([sys.executable, "-m", "norvalex", "plot", *map(str, args)],
                          capture_output=True, text=True)


def test_the_plot_command_draws_a_png(tmp_path):
    pytest.importorskip("matplotlib")
    path = write(tmp_path / "static.t7", STATIC_T7)
    result = plot_command(path, tmp_path / "out.png", "--field", "magnetic", "--planar")
    assert (result.returncode, result.stderr) == (0, "")
    assert read(tmp_path / "out.png").startswith(PNG)


def test_the_plot_command_says_what_is_wrong(tmp_path):
    missing = str(tmp_path / "missing.t7")
    result = plot_command(missing, tmp_path / "out.png")
    assert (result.returncode, result.stderr) == (
        1, f"norvalex plot: Error: [Errno 2] No such file or directory: {missing!r}\n")
    rf = write(tmp_path / "rf.sf7", RF_TABLE)
    result = plot_command(rf, tmp_path / "out.png")
    assert (result.returncode, result.stderr) == (
        1, f"norvalex plot: Error: {rf}: an RF table states no frequency: give the frequency in "
           "Hz\n")
    result = plot_command(rf)
    assert (result.returncode, result.stderr) == (
        2, "usage: python3 -m norvalex plot IN OUT.png [--field electric|magnetic] [--planar] "
           "[--frequency HZ]\n")
    result = plot_command(rf, tmp_path / "out.png", "--colour", "red")
    assert (result.returncode, result.stderr) == (2, "norvalex plot: unknown option --colour\n")
    result = plot_command(rf, tmp_path / "out.png", "--frequency")
    assert (result.returncode, result.stderr) == (2, "norvalex plot: --frequency needs a value\n")
    assert not os.path.exists(tmp_path / "out.png")


def test_the_plot_command_refuses_a_frequency_that_is_no_number(tmp_path):
    result = plot_command(write(tmp_path / "rf.sf7", RF_TABLE), tmp_path / "out.png",
                          "--frequency", "fast")
    assert result.returncode == 2 and result.stderr.startswith("norvalex plot: ")
    assert result.stderr.count("\n") == 1


# (file bytes, read_mesh's options, the error's class, its text with the path as {}, its lineno)
DEFECTS = [
    (RF_T7.replace(b"3.600000E+01", b"x", 1), {}, norvalex.Error, "{}(4): Not a number: x", 4),
    (RF_T7[:-20], {}, norvalex.Error,
     "{}(23): Too few values: the grid needs 80, the file holds 79", 23),
    (RF_TABLE, {}, norvalex.Error,
     "{}: an RF table states no frequency: give the frequency in Hz", None),
    (STATIC_T7, {}, norvalex.Error, "{}: a static T7 file does not say which field it holds: "
                                    "give the field, electric or magnetic", None),
    (RF_T7, {"field": "electrical"}, ValueError,
     "field must be 'electric' or 'magnetic', not 'electrical'", None),
    (RF_T7, {"geometry": "planar"}, ValueError,
     "geometry must be 'cylindrical' or 'rectangular', not 'planar'", None),
]


@pytest.mark.parametrize("data, options, error, text, line", DEFECTS)
def test_a_defect_or_a_missing_choice_is_an_exception(tmp_path, data, options, error, text, line):
    path = write(tmp_path / "map", data)
    with pytest.raises(error) as caught:
        norvalex.read_mesh(path, **options)
    assert str(caught.value) == text.format(path)
    if error is norvalex.Error:
        assert (caught.value.filename, caught.value.lineno) == (path, line)


def test_a_file_that_makes_hdf5_fail_is_an_error(tmp_path, needs_openpmd):
    # An attribute whose type claims 65288 bytes: HDF5 reads past its buffer in the child that
    # reads the file, and crashes there or decodes other bytes, which make the file a damaged one
    # (or a text of the file, when HDF5 read it from elsewhere in the file); this interpreter
    # goes on.
    path = str(tmp_path / "rf.h5")
    norvalex.write_mesh(path, norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7)))
    data = bytearray(read(path))
    data[data.find(b"openPMD\0") - 3] = 0xFF
    write(path, bytes(data))
    with pytest.raises(norvalex.Error, match="^" + re.escape(path + ": ")):
        norvalex.read_mesh(path)


def with_column(m, name):
    m.extra_columns[name] = np.zeros(RF_SIZE)


# (what is done to a mesh read from RF_T7, the form written, the error's class, the end of its
# text): what no reader takes back is refused before a file is made.
UNWRITABLE = [
    (lambda m: setattr(m, "grid_size", (2**63 - 1, 1, 2**63 - 1)), "t7", norvalex.Error,
     "gridSize 9223372036854775807 x 1 x 9223372036854775807: more than 536870911 points"),
    (lambda m: setattr(m, "frequency", float("nan")), "t7", norvalex.Error,
     "fundamentalFrequency nan: a finite frequency of at least 0 expected"),
    (lambda m: setattr(m, "grid_spacing", (-0.01, 0, 0.05)), "tqs", norvalex.Error,
     "gridSpacing -0.01 of axis r: an axis of 4 points needs a finite positive spacing"),
    (lambda m: setattr(m, "grid_origin_offset", (0, 0, float("inf"))), "onaxis", norvalex.Error,
     "gridOriginOffset inf of axis z: a finite number expected"),
    (lambda m: setattr(m, "harmonic", -3), "t7", norvalex.Error, "harmonic -3: at least 0 expected"),
    (lambda m: setattr(m, "field_scale", float("inf")), "t7", norvalex.Error,
     "fieldScale inf: a finite number expected"),
    (lambda m: setattr(m, "anchor", "x" * 10000), "t7", norvalex.Error,
     'eleAnchorPt "' + "x" * 64 + '...": beginning, center or end expected'),
    (lambda m: setattr(m, "geometry", "spherical"), "t7", ValueError,
     "geometry must be 'cylindrical' or 'rectangular', not 'spherical'"),
    (lambda m: setattr(m, "axis_labels", ("r", "phi", "z")), "t7", norvalex.Error,
     'axisLabels "r", "phi", "z": a cylindrical mesh has r, theta, z'),
    (lambda m: m.components.update({"electricField/q": np.zeros(RF_SIZE)}), "t7", norvalex.Error,
     'unknown component "electricField/q": components are electricField/<axis> and '
     "magneticField/<axis>, <axis> r, theta or z"),
    (lambda m: with_column(m, "Az\0evil"), "tqs", norvalex.Error,
     'column "Az\\x00evil": a name of printable characters without blanks expected'),
    (lambda m: with_column(m, "a_name_of_16_byt"), "tqs", norvalex.Error,
     'a TQS file holds names of at most 15 bytes, not "a_name_of_16_byt"'),
]


@pytest.mark.parametrize("change, form, error, text", UNWRITABLE)
def test_a_mesh_that_no_reader_takes_back_is_refused(tmp_path, change, form, error, text):
    m = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    change(m)
    with pytest.raises(error) as caught:
        norvalex.write_mesh(tmp_path / "out", m, format=form)
    assert str(caught.value).endswith(text)
    if form != "tqs":
        with pytest.raises(error):
            m.normalized(1.0)
    assert sorted(os.listdir(tmp_path)) == ["rf.t7"]


def test_paths_that_cannot_be_used_are_refused(tmp_path):
    m = norvalex.read_mesh(write(tmp_path / "rf.t7", RF_T7))
    for call in (lambda: norvalex.read_mesh(str(tmp_path / "rf\0.t7")),
                 lambda: norvalex.write_mesh(str(tmp_path / "out\0.t7"), m)):
        with pytest.raises(ValueError, match="^embedded null byte$"):
            call()
    with pytest.raises(FileNotFoundError) as caught:
        norvalex.read_mesh(tmp_path / "missing.t7")
    assert caught.value.filename == str(tmp_path / "missing.t7")
    with pytest.raises(ValueError, match="give format"):
        norvalex.write_mesh(tmp_path / "out.xyz", m)
    with pytest.raises(ValueError, match="^format must be 'tqs' or 'openpmd' or 't7' or 'onaxis' "
                                         "or .*, not 'png'$"):
        norvalex.write_mesh(tmp_path / "out.t7", m, format="png")
    planar = norvalex.read_mesh(write(tmp_path / "static.t7", STATIC_T7), field="magnetic",
                                geometry="rectangular")
    write(tmp_path / "kept.txt", b"old")
    with pytest.raises(norvalex.Error, match="a rectangular 2-D map has no axis$"):
        norvalex.write_mesh(tmp_path / "kept.txt", planar)
    assert read(tmp_path / "kept.txt") == b"old"
    assert sorted(os.listdir(tmp_path)) == ["kept.txt", "rf.t7", "static.t7"]
