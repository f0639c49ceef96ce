#!/usr/bin/python3
"""What fieldmap convert does, the usual way in Python: reads an RF T7 file with numpy.loadtxt
and writes it as an openPMD field mesh with h5py (the layout fieldmap writes).

    bench/python_t7_to_openpmd.py <map.t7> <out.h5>     (bench/run-fieldmap drives it)
"""
import sys

import h5py
import numpy as np

MU0 = 1.25663706212e-6


def header(path):
    with open(path) as file:
        lines = [file.readline().split() for _ in range(3)]
    (z0, z1, nz), (f,), (r0, r1, nr) = lines
    return float(z0), float(z1), int(nz), float(f), float(r0), float(r1), int(nr)


def read_map(source):
    """The header's numbers and the map's components, complex arrays of shape (nr + 1, 1, nz + 1)."""
    z0, z1, nz, f, r0, r1, nr = header(source)
    ez, er, _, h = np.loadtxt(source, skiprows=3).T
    shape = (nr + 1, 1, nz + 1)
    components = {"electricField/r": (er * 1e6 + 0j).reshape(shape),
                  "electricField/z": (ez * 1e6 + 0j).reshape(shape),
                  "magneticField/theta": (-1j * MU0 * h).reshape(shape)}
    return (z0, z1, nz, f, r0, r1, nr), components


def main():
    source, target = sys.argv[1], sys.argv[2]
    (z0, z1, nz, f, r0, r1, nr), components = read_map(source)
    shape = (nr + 1, 1, nz + 1)
    write_field_mesh(target, "cylindrical", ("r", "theta", "z"), (0, 1, 0), shape,
                     ((r1 - r0) / nr / 100, 0, (z1 - z0) / nz / 100), (r0 / 100, 0, z0 / 100),
                     f * 1e6, components)


def write_field_mesh(target, geometry, labels, lower_bound, shape, spacing, origin, frequency,
                     components):
    """An RF map as an openPMD field mesh, in the layout fieldmap writes."""
    with h5py.File(target, "w") as out:
        for name, value in [("openPMD", "2.0.0"), ("openPMDextension", "BeamPhysics"),
                            ("dataType", "openPMD"), ("externalFieldPath", "/ExternalFieldPath/%T/")]:
            out.attrs[name] = np.bytes_(value)
        mesh = out.create_group("ExternalFieldPath/1")
        mesh.attrs["gridGeometry"] = np.bytes_(geometry)
        mesh.attrs["axisLabels"] = np.array([label.encode() for label in labels])
        mesh.attrs["gridLowerBound"] = np.array(lower_bound, dtype=np.int64)
        mesh.attrs["gridSize"] = np.array(shape, dtype=np.int64)
        mesh.attrs["gridSpacing"] = np.array(spacing, dtype=float)
        mesh.attrs["gridOriginOffset"] = np.array(origin, dtype=float)
        mesh.attrs["harmonic"] = np.int64(1)
        mesh.attrs["fundamentalFrequency"] = frequency
        mesh.attrs["RFphase"] = 0.0
        mesh.attrs["fieldScale"] = 1.0
        mesh.attrs["eleAnchorPt"] = np.bytes_("beginning")
        for name, values in components.items():
            dataset = mesh.create_dataset(name, data=values)
            electric = name.startswith("electric")
            dataset.attrs["unitSI"] = 1.0
            dataset.attrs["unitDimension"] = np.array(
                [1, 1, -3, -1, 0, 0, 0] if electric else [0, 1, -2, -1, 0, 0, 0], dtype=float)
            dataset.attrs["unitSymbol"] = np.bytes_("V/m" if electric else "T")

if __name__ == "__main__":
    main()
