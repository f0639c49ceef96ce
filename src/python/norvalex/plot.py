"""The plots of a field mesh: the field's magnitude over the grid and the field on the axis."""

import numpy as np

from ._core import Error


def _pyplot():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise RuntimeError("plotting needs matplotlib, which is not installed "
                           "(Debian: python3-matplotlib)") from error
    return pyplot


def _shown_plane(mesh):
    """(axis, value) of the plane drawn of a 3-D mesh: y = 0 where y has a grid point there
    (the x-z plane through the axis), else the middle y plane."""
    points, spacing, origin = mesh.grid_size[1], mesh.grid_spacing[1], mesh.grid_origin_offset[1]
    steps = -origin / spacing
    index = round(steps) if abs(steps - round(steps)) <= 1e-6 and 0 <= round(steps) < points \
        else (points - 1) // 2
    return "y", origin + index * spacing


def plot_mesh(mesh, path=None, plane=None):
    """A figure of |E| (or |B| of a magnetic map) over the grid's two long axes and of the
    on-axis field; written to `path` when given. Of a 3-D mesh it draws the plane `plane`
    ((axis, value), as Mesh.plane takes it): by default y = 0, or the middle y plane where y has
    no point at 0."""
    pyplot = _pyplot()
    title = mesh.file
    if sum(n > 1 for n in mesh.grid_size) == 3 or plane is not None:
        axis, value = plane if plane is not None else _shown_plane(mesh)
        section = mesh.plane(axis, value)
        title = f"{mesh.file}, {axis} = {section.grid_origin_offset['xyz'.index(axis)]:g} m"
        mesh = section
    prefix = "electricField/" if any(n.startswith("electricField/") for n in mesh.components) \
        else "magneticField/"
    unit = "V/m" if prefix == "electricField/" else "T"
    magnitude = np.sqrt(sum(np.abs(values) ** 2 for name, values in mesh.components.items()
                            if name.startswith(prefix)))
    long_axes = [k for k, n in enumerate(mesh.grid_size) if n > 1]
    figure, (top, bottom) = pyplot.subplots(2, 1, figsize=(8, 7))
    if len(long_axes) == 2:
        rows, columns = long_axes
        image = magnitude.reshape(mesh.grid_size[rows], mesh.grid_size[columns])
        extent = [mesh.grid_origin_offset[columns],
                  mesh.grid_origin_offset[columns]
                  + mesh.grid_spacing[columns] * (mesh.grid_size[columns] - 1),
                  mesh.grid_origin_offset[rows],
                  mesh.grid_origin_offset[rows]
                  + mesh.grid_spacing[rows] * (mesh.grid_size[rows] - 1)]
        shown = top.imshow(image, origin="lower", extent=extent, aspect="auto")
        figure.colorbar(shown, ax=top, label=f"|{prefix[0].upper()}| ({unit})")
        top.set_xlabel(f"{mesh.axis_labels[columns]} (m)")
        top.set_ylabel(f"{mesh.axis_labels[rows]} (m)")
    else:
        top.set_axis_off()
        top.text(0.5, 0.5, "a 1-D mesh: its field is below", ha="center", va="center")
    try:
        label, name, positions, values = mesh.on_axis()
        bottom.plot(positions, values.real, label=f"Re {name}")
        if np.any(values.imag):
            bottom.plot(positions, values.imag, label=f"Im {name}")
        bottom.set_xlabel(f"{label} (m)")
        bottom.set_ylabel(f"{name} ({unit if name.startswith(prefix) else ''})")
        bottom.legend()
    except Error as error:  # no field on the axis: said in the figure
        bottom.set_axis_off()
        bottom.text(0.5, 0.5, str(error), ha="center", va="center", wrap=True)
    figure.suptitle(title)
    figure.tight_layout()
    if path is not None:
        figure.savefig(path)
    return figure
