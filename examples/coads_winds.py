"""January winds of the COADS climatology: sea-level pressure as filled contours, evenly
spaced wind lines coloured by speed.

    python3 examples/coads_winds.py [COADS.cdf] [OUT.png]

The file is Debian's ferret-datasets copy (installed by scripts/run.sh). xarray turns the
missing values over land into NaN; the lines end at the coasts instead of crossing them.
"""

import os
import sys

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import xarray as xr  # noqa: E402

import tessaly.plot  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
path = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/ferret-vis/data/coads_climatology.cdf"
out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "docs", "python-coads.png")

coads = xr.open_dataset(path, decode_times=False)
jan = coads.isel(TIME=0)
lon, lat = jan.COADSX, jan.COADSY

fig, ax = plt.subplots(figsize=(11, 5.2), layout="constrained")
ax.set_facecolor("0.82")  # land: no pressure, no wind
filled = ax.contourf(lon, lat, jan.SLP, levels=np.arange(980, 1044, 4), cmap="RdBu_r", extend="both")
# dsep in grid cells: 1.6 cells of 2 degrees keep the lines about 3 degrees apart.
lines = tessaly.plot.streamplot(ax, lon, lat, jan.UWND, jan.VWND, dsep=1.6, color="speed", cmap="inferno",
                                linewidth=0.9, arrows=1)
fig.colorbar(filled, ax=ax, label=f"sea-level pressure [{jan.SLP.attrs.get('units', 'MB').lower()}]", shrink=0.9)
fig.colorbar(lines, ax=ax, label="wind speed [m/s]", shrink=0.9)
ax.set_xlim(float(lon.min()), float(lon.max()))
ax.set_ylim(float(lat.min()), float(lat.max()))
ax.set_aspect("equal")
ax.set_xlabel("longitude [degrees east]")
ax.set_ylabel("latitude [degrees north]")
ax.set_title("COADS climatology, January: winds over sea-level pressure")
fig.savefig(out, dpi=100)
print(f"wrote {out}: {len(lines.get_segments())} segments")
