"""The channel sample (flow past a cylinder) bent into a curvilinear grid and handed to
tessaly as numpy arrays with 2-D coordinates.

    python3 examples/channel_curvilinear.py [channel.gri] [OUT.png]

The sample's columns crowd towards both walls; here every row is also shifted sideways,
x' = x + A sin(pi y / 2 H) for a channel of height H, and the flow carried along
(u' = u + dx'/dy v): a grid whose columns are curves. (The loader takes the dataset's
extent from its first and last points, so the bend grows towards the last row: the
corners stay the extremes.) matplotlib's streamplot refuses it ("'x' values
must be equally spaced"); Tessaly takes the coordinates point by point and resamples the
field onto its regular grid as the program does.
"""

import os
import sys

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.patches import Polygon  # noqa: E402

import tessaly  # noqa: E402
import tessaly.plot  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "samples", "channel.gri")
out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "docs", "python-channel.png")

# The sample's points as numpy arrays: (ny, nx) positions and flow.
a = tessaly.load(path).arrays()
x, y, u, v = a["x"], a["y"], a["u"], a["v"]
inside = np.hypot(x - 6.0, y - 6.0) < 1.0  # the cylinder: no flow there

A, H = 4.0, float(y.max())
bend = lambda x, y: x + A * np.sin(np.pi * y / (2 * H))  # noqa: E731
xb = bend(x, y)
ub = u + A * np.pi / (2 * H) * np.cos(np.pi * y / (2 * H)) * v
ub = np.ma.masked_where(inside, ub)
vb = np.ma.masked_where(inside, v)

try:
    plt.figure().gca().streamplot(xb, y, ub, vb)
    refused = None
except ValueError as e:
    refused = str(e)
plt.close("all")

fig, (grid_ax, ax) = plt.subplots(1, 2, figsize=(10.5, 6.8), layout="constrained", sharey=True)
for k in range(0, x.shape[1], 5):
    grid_ax.plot(xb[:, k], y[:, k], color="0.45", linewidth=0.5)
for k in range(0, x.shape[0], 12):
    grid_ax.plot(xb[k, :], y[k, :], color="0.45", linewidth=0.5)
grid_ax.set_title("the grid: every 5th column, every 12th row")

speed = np.hypot(ub, vb)
mesh = ax.pcolormesh(xb, y, speed, cmap="Blues", shading="gouraud", vmin=0, vmax=2)
lines = tessaly.plot.streamplot(ax, xb, y, ub, vb, dsep=8, color="speed", cmap="plasma", linewidth=1.3, arrows=1)
fig.colorbar(lines, ax=ax, label="lines: speed", shrink=0.7)
fig.colorbar(mesh, ax=ax, label="background: speed", shrink=0.7)
ax.set_title("tessaly.plot.streamplot, dsep = 8 cells")
t = np.linspace(0, 2 * np.pi, 200)
cx, cy = 6.0 + np.cos(t), 6.0 + np.sin(t)
for axes in (grid_ax, ax):
    axes.add_patch(Polygon(np.column_stack([bend(cx, cy), cy]), facecolor="0.3", edgecolor="k", zorder=3))
    axes.set_aspect("equal")
    axes.set_xlim(float(xb.min()), float(xb.max()))
    axes.set_ylim(float(y.min()), float(y.max()))
    axes.set_xlabel("x")
grid_ax.set_ylabel("y (the flow runs upwards)")
fig.savefig(out, dpi=85)
print(f"wrote {out}: {len(lines.get_segments())} segments; matplotlib's streamplot: {refused}")
