"""The Python package's cost over the engine, and tessaly.plot.streamplot against matplotlib's
streamplot. One run of each, short; prints a table.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/bench_python.py [build]

1. ds.evenly_spaced ÷ the same seeding in C++, in the same process, on the vortices flow at
   1000 x 1000, Dsep 3 and 30: the whole Python call (from Python, the lines as numpy arrays
   included) over the seeding call inside it, timed by the module. One call gives both, so
   the ratio does not depend on how busy the machine is from one run to the next (on a
   shared machine the seeding's own time varies by a factor of five); the median of five.
2. A whole figure, from the Python call to a saved PNG: tessaly.plot.streamplot vs
   matplotlib's streamplot on the same field at 300 x 300 and 1000 x 1000, at a comparable
   line spacing: matplotlib's density 1 keeps lines about 1/30 of the domain apart, and
   dsep = n / 30 cells does the same. Both coloured by speed; the best of three each.
"""

import os
import subprocess
import sys
import tempfile
import time

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import tessaly  # noqa: E402
import tessaly.plot  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"


def best(f, repeats=3):
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - t)
    return min(times), result


def vortices(n):
    """The flow tessaly-gen writes as "vortices": two counter-rotating vortices on [0, 10]^2."""
    x = np.linspace(0.0, 10.0, n)
    X, Y = np.meshgrid(x, x)
    u = np.zeros_like(X)
    v = np.zeros_like(X)
    for cx, g in ((3.5, 6.0), (6.5, -6.0)):
        dx, dy = X - cx, Y - 5.0
        r2 = dx * dx + dy * dy
        with np.errstate(invalid="ignore", divide="ignore"):
            k = np.where(r2 > 0, g / (2 * np.pi * r2) * (1 - np.exp(-r2 / 0.64)), 0.0)
        u -= k * dy
        v += k * dx
    return x, x, u, v


print("1. evenly_spaced / the same seeding in C++ (vortices 1000 x 1000, the view's limits)")
with tempfile.TemporaryDirectory() as d:
    gri = os.path.join(d, "vortices.gri")
    subprocess.run([os.path.join(build, "tools", "tessaly-gen"), "vortices", gri, "1000x1000"], check=True)
    ds = tessaly.load(gri)
print(f"   {'dsep':>5} {'lines':>6} {'points':>9} {'C++ s':>8} {'Python s':>9} {'ratio':>6}")
for dsep in (3.0, 30.0):
    runs = []
    for _ in range(5):
        t = time.perf_counter()
        lines, seeding = ds._core.evenly_spaced_timed(dsep)
        runs.append((time.perf_counter() - t, seeding))
    py, cpp = sorted(runs, key=lambda r: r[0] / r[1])[len(runs) // 2]
    assert all(np.array_equal(a, b) for a, b in zip(lines, ds.evenly_spaced(dsep=dsep)))
    print(f"   {dsep:5g} {len(lines):6d} {sum(map(len, lines)):9d} {cpp:8.3f} {py:9.3f} {py / cpp:6.3f}")

print("2. a whole figure to PNG: tessaly.plot.streamplot vs matplotlib streamplot")
print(f"   {'field':>11} {'tessaly s':>10} {'segments':>9} {'matplotlib s':>13} {'segments':>9} {'ratio':>6}")
for n in (300, 1000):
    x, y, u, v = vortices(n)
    out = os.path.join(tempfile.gettempdir(), f"bench-python-{n}.png")

    def figure(draw):
        fig, ax = plt.subplots(figsize=(6, 6))
        artist = draw(ax)
        fig.savefig(out, dpi=100)
        plt.close(fig)
        return artist

    t_tessaly, t_mpl = [], []
    for _ in range(3):
        t, lc = best(lambda: figure(lambda ax: tessaly.plot.streamplot(ax, x, y, u, v, dsep=n / 30.0,
                                                                       color="speed")), repeats=1)
        t_tessaly.append(t)
        t, sp = best(lambda: figure(lambda ax: ax.streamplot(x, y, u, v, density=1, color=np.hypot(u, v))),
                     repeats=1)
        t_mpl.append(t)
    t_tessaly, t_mpl = min(t_tessaly), min(t_mpl)
    print(f"   {n:5d}x{n:<5d} {t_tessaly:10.3f} {len(lc.get_segments()):9d} {t_mpl:13.3f} "
          f"{len(sp.lines.get_segments()):9d} {t_tessaly / t_mpl:6.3f}")
