#!/usr/bin/python3
"""Times norvalex's readers against numpy.loadtxt (with the header lines counted by hand, as
users do) on the same files in one process: read_sf7 on an SF7 table and read_mesh on a T7 file
of the same point count. Each pair is run back to back, and the median of the pairs' ratios is
the figure, steadier on a shared machine than two best times. Checks that both readings give the
same doubles.

    bench/python_read.py <map.sf7> <map.t7> [pairs]     (bench/run-python drives it)
"""
import gc
import statistics
import sys
import time
from pathlib import Path

import numpy as np

import norvalex

# make_field_map's SF7 header: 11 lines, the increments line, the empty line, names and units;
# a T7 file's: three lines.
SF7_HEADER_LINES = 15
T7_HEADER_LINES = 3
SF7_FACTORS = [0.01, 0.01, 100, 100, 100, 1]  # (cm), (cm), (V/cm) three times, (V)
MU0 = 1.25663706212e-6


def seconds(read):
    gc.collect()  # what the run before left is freed before the clock starts
    start = time.perf_counter()
    result = read()
    return time.perf_counter() - start, result


def same_sf7(field_map, table):
    for column, factor, values in zip(field_map.columns, SF7_FACTORS, table.T, strict=True):
        expected = (values * factor).reshape(field_map.shape)
        if not np.array_equal(column.values.view("<u8"), expected.view("<u8")):
            sys.exit(f"arrays differ in column {column.name}")


def same_t7(mesh, table):
    shape = mesh.grid_size
    ez, er, _, h = table.T
    checks = [("electricField/z", "real", ez * 1e6), ("electricField/r", "real", er * 1e6),
              ("magneticField/theta", "imag", -(MU0 * h))]
    for name, part, expected in checks:
        values = getattr(mesh.components[name], part)
        if not np.array_equal(values.view("<u8"), expected.reshape(shape).view("<u8")):
            sys.exit(f"arrays differ in {name}")


def main():
    sf7, t7 = sys.argv[1], sys.argv[2]
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    for path in (sf7, t7):
        Path(path).read_bytes()  # in the page cache for every reading
    readers = [
        ("norvalex.read_sf7", sf7, lambda: norvalex.read_sf7(sf7),
         lambda: np.loadtxt(sf7, skiprows=SF7_HEADER_LINES), same_sf7),
        ("norvalex.read_mesh", t7, lambda: norvalex.read_mesh(t7),
         lambda: np.loadtxt(t7, skiprows=T7_HEADER_LINES), same_t7),
    ]
    print(f"{pairs} pairs of each, run back to back; the readings' doubles checked equal")
    print(f"{'reader':19} {'file':>9} {'reader ms':>10} {'loadtxt ms':>11} {'pair ratios':>12}")
    for name, path, read, loadtxt, same in readers:
        _, ours = seconds(read)
        _, theirs = seconds(loadtxt)
        same(ours, theirs)
        del ours, theirs
        ours_times, their_times, ratios = [], [], []
        for _ in range(pairs):
            t_ours, _ = seconds(read)
            t_theirs, _ = seconds(loadtxt)
            ours_times.append(t_ours)
            their_times.append(t_theirs)
            ratios.append(t_theirs / t_ours)
        megabytes = Path(path).stat().st_size / 1e6
        print(f"{name:19} {megabytes:6.1f} MB {1e3 * statistics.median(ours_times):10.1f} "
              f"{1e3 * statistics.median(their_times):11.1f} "
              f"{statistics.median(ratios):10.1f}x   (pairs: "
              + " ".join(f"{r:.1f}" for r in ratios) + ")")


if __name__ == "__main__":
    main()
