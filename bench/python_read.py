#!/usr/bin/python3
"""Times norvalex.read_sf7 against numpy.loadtxt, with the header lines counted by hand as users
did before, on the same field map in one process; checks that both give the same arrays.

    bench/python_read.py <map.sf7> [runs]     (bench/run-python drives it)
"""
import statistics
import sys
import time
from pathlib import Path

import numpy as np

import norvalex

# make_field_map's header: 11 lines, the increments line, the empty line, names and units.
HEADER_LINES = 15
FACTORS = [0.01, 0.01, 100, 100, 100, 1]  # (cm), (cm), (V/cm) three times, (V): to SI by hand


def timed(read):
    """(wall time, CPU time of the process, result); on a busy machine the CPU time is the
    steadier figure of the work itself."""
    start, start_cpu = time.perf_counter(), time.process_time()
    result = read()
    return (time.perf_counter() - start, time.process_time() - start_cpu), result


def main():
    path = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    megabytes = Path(path).stat().st_size / 1e6
    Path(path).read_bytes()  # in the page cache for both

    ways = {
        "norvalex.read_sf7": lambda: norvalex.read_sf7(path),
        "numpy.loadtxt": lambda: np.loadtxt(path, skiprows=HEADER_LINES),
    }
    times = {name: [] for name in ways}
    results = dict.fromkeys(ways)
    for _ in range(runs):  # alternating, so that both meet the same machine
        for name, read in ways.items():
            results[name] = None  # each run starts with the memory of the one before freed
            seconds, results[name] = timed(read)
            times[name].append(seconds)
    field_map, table = results.values()

    # The same doubles: each number times its factor, in line order, the first coordinate
    # along the last axis.
    for column, factor, values in zip(field_map.columns, FACTORS, table.T, strict=True):
        expected = (values * factor).reshape(field_map.shape)
        if not np.array_equal(column.values.view("<u8"), expected.view("<u8")):
            sys.exit(f"arrays differ in column {column.name}")

    print(f"Field map: {field_map.dim1} x {field_map.dim2} points, {megabytes:.1f} MB; "
          f"{runs} runs of each, alternating; arrays equal bit for bit")
    print(f"{'reading into numpy':19} {'best':>9} {'median':>9} {'MB/s (best)':>11} "
          f"{'CPU best':>9} {'CPU median':>10}")
    summary = {}
    for name, pairs in times.items():
        wall, cpu = zip(*pairs)
        summary[name] = [min(wall), statistics.median(wall), min(cpu), statistics.median(cpu)]
        best, median, cpu_best, cpu_median = (1e3 * s for s in summary[name])
        print(f"{name:19} {best:6.1f} ms {median:6.1f} ms {megabytes * 1e3 / best:11.0f} "
              f"{cpu_best:6.1f} ms {cpu_median:7.1f} ms")
    ratios = [loadtxt / read_sf7 for loadtxt, read_sf7 in
              zip(summary["numpy.loadtxt"], summary["norvalex.read_sf7"])]
    print(f"\nread_sf7 is faster by {ratios[0]:.1f}x (best), {ratios[1]:.1f}x (medians); in CPU "
          f"time {ratios[2]:.1f}x (best), {ratios[3]:.1f}x (medians). Target: 8x")


if __name__ == "__main__":
    main()
