#!/usr/bin/python3
"""What fieldmap convert does with a solver's 3-D export, the usual way in Python: reads a CST or
HFSS export of E with numpy.loadtxt, finds the grid from the distinct coordinates, puts the
points in the mesh's order and writes an openPMD field mesh with h5py (the layout fieldmap
writes). The amplitudes are exp(+jwt): their conjugates are written.

    bench/python_export_to_openpmd.py cst|hfss <export> <out.h5> <frequency in Hz>
                                                        (bench/run-exports drives it)
"""
import sys

import numpy as np

from python_t7_to_openpmd import write_field_mesh


def main():
    form, source, target, frequency = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
    data = np.loadtxt(source, skiprows=2)
    unit = 1e-3 if form == "cst" else 1.0  # CST in mm here, HFSS in m
    axes = [np.unique(data[:, k]) for k in range(3)]
    shape = tuple(len(a) for a in axes)
    re, im = data[:, 3::2], data[:, 4::2]  # each component's parts side by side

    # CST's points run x fastest, HFSS's z fastest; the mesh's arrays run z fastest.
    def ordered(values):
        if form == "cst":
            return np.ascontiguousarray(values.reshape(shape[::-1]).transpose(2, 1, 0))
        return values.reshape(shape)

    components = {f"electricField/{a}": ordered(re[:, k] - 1j * im[:, k])
                  for k, a in enumerate("xyz")}
    write_field_mesh(target, "rectangular", ("x", "y", "z"), (0, 0, 0), shape,
                     [(a[-1] - a[0]) / (len(a) - 1) * unit for a in axes],
                     [a[0] * unit for a in axes], frequency, components)


if __name__ == "__main__":
    main()
