# openPMD files as every Bmad release reads them, checked with h5py on what write_mesh writes:
# the root attributes externalFieldPath, openPMD and openPMDextension; per mesh gridGeometry,
# eleAnchorPt, gridLowerBound, gridSize, gridOriginOffset and gridSpacing, and axisLabels exactly
# (r, theta, z) or (x, y, z); every component a dataset, never a group of one constant value
# (value and shape), which Bmad's releases before 2026 fail on. The maps' constant components
# (a field of zeros, one of a single value) are those a writer might be tempted to store so.
import numpy as np
import pytest

import norvalex
from conftest import write
from test_mesh import RF_T7, STATIC_T7

ROOT_ATTRIBUTES = ["externalFieldPath", "openPMD", "openPMDextension"]
MESH_ATTRIBUTES = ["gridGeometry", "eleAnchorPt", "gridLowerBound", "gridSize",
                   "gridOriginOffset", "gridSpacing", "axisLabels"]
AXIS_LABELS = [("r", "theta", "z"), ("x", "y", "z")]


def text(value):
    return value.decode() if isinstance(value, bytes) else str(value)


def rf_with_constant_components(m):
    m.components["electricField/r"] = np.zeros_like(m.components["electricField/r"])
    m.components["magneticField/theta"] = np.full_like(m.components["electricField/z"], -2e-3j)
    return m


def static_with_a_constant_component(m):
    m.components["magneticField/y"] = np.full_like(m.components["magneticField/y"], 0.5)
    return m


# A 3-D map of 2 x 2 x 2 points as a Bmad grid_field.
BOX = (b"{geometry = xyz, field_type = magnetic, dr = (0.01, 0.01, 0.05),\n"
       b" pt(0,0,0) = ((0,0),(0,0),(1,0)), pt(1,1,1) = ((0.5,0),(0,0),(1.5,0))}\n")


def with_a_zero_component(m):
    m.components["magneticField/y"] = np.zeros_like(m.components["magneticField/z"])
    return m


@pytest.mark.parametrize("name, source, options, change", [
    ("rf.t7", RF_T7, {}, rf_with_constant_components),
    ("static.t7", STATIC_T7, {"field": "magnetic", "geometry": "rectangular"},
     static_with_a_constant_component),
    ("static.t7", STATIC_T7, {"field": "electric"}, lambda m: m),
    ("box.bmad", BOX, {}, with_a_zero_component),
])
def test_written_openpmd_files_are_what_bmad_reads(tmp_path, name, source, options, change):
    if not norvalex._core.has_openpmd:
        pytest.skip("this build has no HDF5")
    h5py = pytest.importorskip("h5py")
    m = change(norvalex.read_mesh(write(tmp_path / name, source), **options))
    norvalex.write_mesh(tmp_path / "out.h5", m, format="openpmd")
    with h5py.File(tmp_path / "out.h5", "r") as f:
        assert [name for name in ROOT_ATTRIBUTES if name not in f.attrs] == []
        base = f[text(f.attrs["externalFieldPath"]).split("%T")[0]]
        assert len(base) == 1
        for mesh in base.values():
            assert [name for name in MESH_ATTRIBUTES if name not in mesh.attrs] == []
            assert tuple(text(label) for label in mesh.attrs["axisLabels"]) in AXIS_LABELS
            written = {f"{field}/{axis}": type(mesh[field][axis]).__name__
                       for field in ("electricField", "magneticField") if field in mesh
                       for axis in mesh[field]}
            assert written == {name: "Dataset" for name in m.components}
