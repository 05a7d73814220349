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
3. The same evenly spaced lines with VTK's vtkEvenlySpacedStreamlines2D (Debian's
   python3-vtk9, used here only): the vortices flow at 1000 x 1000 and 700 x 700. VTK's
   SeparatingDistance is given in cell lengths, the unit of tessaly's dsep, and its
   SeparatingDistanceRatio is tessaly's dtest. Each VTK case runs once, in a child process,
   so a segfault is recorded as "crashed" (and a run past the time limit as "timeout")
   instead of ending the benchmark. Skipped, with a line saying so, when vtk does not import.
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

build = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] != "--vtk-case" else "build"
VTK_TIMEOUT_S = 120


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


def vtk_case(n, dsep, dtest):
    """Child process: VTK's evenly spaced streamlines on vortices(n); prints "lines seconds"."""
    import vtk
    from vtk.util import numpy_support

    x, y, u, v = vortices(n)
    image = vtk.vtkImageData()
    image.SetDimensions(n, n, 1)
    image.SetOrigin(0.0, 0.0, 0.0)
    h = x[1] - x[0]
    image.SetSpacing(h, h, 1.0)
    # VTK's point order is x fastest, like a C-ordered (ny, nx) array.
    vectors = np.column_stack([u.ravel(), v.ravel(), np.zeros(n * n)])
    array = numpy_support.numpy_to_vtk(vectors, deep=True)
    array.SetName("velocity")
    image.GetPointData().SetVectors(array)

    f = vtk.vtkEvenlySpacedStreamlines2D()
    f.SetInputData(image)
    f.SetInputArrayToProcess(0, 0, 0, vtk.vtkDataObject.FIELD_ASSOCIATION_POINTS, "velocity")
    f.SetIntegratorTypeToRungeKutta4()
    f.SetIntegrationStepUnit(vtk.vtkStreamTracer.CELL_LENGTH_UNIT)
    f.SetInitialIntegrationStep(0.5)
    f.SetMaximumNumberOfSteps(100000)
    f.SetSeparatingDistance(dsep)
    f.SetSeparatingDistanceRatio(dtest)
    f.SetClosedLoopMaximumDistance(0.2 * dsep)
    # First seed away from both vortex cores and the walls.
    f.SetStartPosition(2.0, 2.0, 0.0)
    t = time.perf_counter()
    f.Update()
    seconds = time.perf_counter() - t
    print(f.GetOutput().GetNumberOfLines(), seconds)


if len(sys.argv) > 1 and sys.argv[1] == "--vtk-case":
    vtk_case(int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]))
    sys.exit(0)

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

print("3. the same evenly spaced lines: tessaly vs VTK's vtkEvenlySpacedStreamlines2D (one run each)")
if subprocess.run([sys.executable, "-c", "import vtk"], capture_output=True).returncode != 0:
    print("   skipped: import vtk failed (Debian: apt-get install python3-vtk9)")
else:
    print(f"   {'field':>11} {'dsep':>5} {'tessaly s':>10} {'lines':>6} {'VTK s':>8} {'lines':>6} {'VTK run':>8}")
    for n, dsep in ((1000, 30.0), (1000, 10.0), (700, 30.0), (700, 10.0)):
        x, y, u, v = vortices(n)
        ds = tessaly.Dataset.from_arrays(x, y, u, v)
        t = time.perf_counter()
        lines = ds.evenly_spaced(dsep=dsep, dtest=0.5)
        t_tessaly = time.perf_counter() - t
        try:
            child = subprocess.run([sys.executable, os.path.abspath(__file__), "--vtk-case", str(n),
                                    str(dsep), "0.5"], capture_output=True, text=True, timeout=VTK_TIMEOUT_S)
            if child.returncode == 0:
                vtk_lines, t_vtk = child.stdout.split()
                outcome, vtk_lines, t_vtk = "ok", int(vtk_lines), f"{float(t_vtk):8.3f}"
            else:
                # A negative code is the signal that ended the child (-11: segfault).
                outcome, vtk_lines, t_vtk = f"crashed({child.returncode})", "-", "-"
        except subprocess.TimeoutExpired:
            outcome, vtk_lines, t_vtk = "timeout", "-", f">{VTK_TIMEOUT_S}"
        print(f"   {n:5d}x{n:<5d} {dsep:5g} {t_tessaly:10.3f} {len(lines):6d} {t_vtk:>8} {vtk_lines!s:>6} {outcome:>8}")
