#!/usr/bin/python3
"""What fieldmap convert does for a tracker's 1-D form, the usual way in Python: reads an RF T7
file into a map's complex arrays with numpy.loadtxt (bench/python_t7_to_openpmd.py's reading),
takes Ez on the axis and writes it as an ASTRA file (z Ez) or as an Impact-T Fourier file of a
given count (the trapezoid sums of the field divided by its peak).

    bench/python_tracker_forms.py astra <map.t7> <out>
    bench/python_tracker_forms.py impact-fourier <map.t7> <out> <values>
(bench/run-trackers drives it)
"""
import sys

import numpy as np

from python_t7_to_openpmd import read_map


def on_axis(source):
    (z0, z1, nz, *_), components = read_map(source)
    return np.linspace(z0, z1, nz + 1) / 100, components["electricField/z"][0, 0].real


def fourier(z, ez, values):
    """a0, then a_n and b_n of n = 1 .. (values - 1) / 2: (2/L) times the integrals of the field
    over its peak times cos and sin of 2 pi n (z - zmid) / L, by the trapezoid rule."""
    length = z[-1] - z[0]
    weights = np.full(z.size, z[1] - z[0])
    weights[[0, -1]] /= 2
    f = ez / np.max(np.abs(ez)) * weights
    n = np.arange(1, (values - 1) // 2 + 1)[:, None]
    phase = 2 * np.pi * n * (z - (z[0] + z[-1]) / 2) / length
    a = 2 / length * (np.cos(phase) @ f)
    b = 2 / length * (np.sin(phase) @ f)
    return np.concatenate(([2 / length * f.sum()], np.column_stack((a, b)).ravel())), z[0], z[-1], length


def main():
    form, source, target = sys.argv[1:4]
    z, ez = on_axis(source)
    if form == "astra":
        np.savetxt(target, np.column_stack((z, ez)), fmt="%.17g")
        return
    coefficients, start, end, length = fourier(z, ez, int(sys.argv[4]))
    with open(target, "w") as out:
        out.write(f"{coefficients.size}\n{start!r}\n{end!r}\n{length!r}\n")
        np.savetxt(out, coefficients, fmt="%.17g")


if __name__ == "__main__":
    main()
