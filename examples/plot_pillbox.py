#!/usr/bin/python3
"""Draws the bundled pillbox map, read with norvalex.read_sf7: |E| over the Z-R plane and Ez
along the axis, into docs/pillbox-tm010.png (or the file named on the command line).

    /usr/bin/python3 examples/plot_pillbox.py [picture.png]
"""
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # a file, no window
import matplotlib.pyplot as plt

import norvalex

ROOT = Path(__file__).resolve().parent.parent
output = sys.argv[1] if len(sys.argv) > 1 else ROOT / "docs" / "pillbox-tm010.png"

m = norvalex.read_sf7(ROOT / "examples" / "pillbox-tm010.sf7")
# SI units; shape (dim2, dim1) = (6 R values, 11 Z values): Z runs along the last axis.
z, r = m["Z"], m["R"]
field = m["|E|"] / 1e6

figure, (plane, axis) = plt.subplots(2, 1, figsize=(7, 6.5), constrained_layout=True)
mesh = plane.pcolormesh(z, r, field, shading="gouraud", cmap="viridis")
figure.colorbar(mesh, ax=plane, label="|E| (MV/m)")
plane.set(title="Pillbox cavity, TM010 mode: |E| over the Z-R plane", xlabel="Z (m)",
          ylabel="R (m)", aspect="equal")
axis.plot(z[0], m["Ez"][0] / 1e6, "o-")  # row 0: R = 0, the axis
axis.set(title="Ez along the axis (R = 0)", xlabel="Z (m)", ylabel="Ez (MV/m)", ylim=(0, 12))
axis.grid(True)
figure.savefig(output, dpi=100)
print(f"wrote {output}")
