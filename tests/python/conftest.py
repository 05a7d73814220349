"""Shared fixtures: the built tools, the sample datasets they write, and readers of their output."""

import csv
import os
import subprocess

import numpy as np
import pytest


def tool(name):
    path = os.environ.get("TESSALY_" + name.upper())
    if not path:
        pytest.skip(f"TESSALY_{name.upper()} names no built tessaly-{name} (run through ctest)")
    return path


def run(name, *args, ok=True):
    """Runs a built tool; with ok, fails the test on a non-zero status."""
    r = subprocess.run([tool(name), *map(str, args)], capture_output=True, text=True, timeout=300)
    if ok and r.returncode != 0:
        pytest.fail(f"tessaly-{name} {' '.join(map(str, args))}: status {r.returncode}: {r.stderr}")
    return r


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """The sample datasets tessaly-gen writes (channel, vortices, saddle, uniform)."""
    d = tmp_path_factory.mktemp("samples")
    run("gen", "--samples", d)
    return d


COADS = "/usr/share/ferret-vis/data/coads_climatology.cdf"


@pytest.fixture(scope="session")
def coads(tmp_path_factory):
    """The sea-level pressure of January from the COADS climatology, imported with its
    metadata (NAME.meta.json)."""
    if not os.path.exists(COADS):
        pytest.skip(f"{COADS} is not installed (Debian's ferret-datasets)")
    out = tmp_path_factory.mktemp("coads") / "slp.gri"
    run("import", COADS, out, "--scalar", "SLP", "--time", "0", "--scalar-range", "975:1045", "--flow-scale", "0.1")
    return out


def read_csv(path):
    """tessaly-render's line CSV as (index lines, world lines): lists of (n, 2) arrays."""
    index, world = [], []
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["line", "point", "index_x", "index_y", "world_x", "world_y"]
    by_line = {}
    for r in rows[1:]:
        by_line.setdefault(int(r[0]), []).append([float(v) for v in r[2:]])
    for k in range(len(by_line)):
        a = np.array(by_line[k], dtype=np.float64)
        index.append(a[:, :2])
        world.append(a[:, 2:])
    return index, world


def write_table(path, x, y, u, v, scalar=None):
    """A column table of the field (x fastest) that reads back as the same doubles; NaN
    where a value is missing."""
    with open(path, "w") as f:
        f.write("x y u v" + (" p" if scalar is not None else "") + "\n")
        for j in range(len(y)):
            for i in range(len(x)):
                row = [x[i], y[j], u[j, i], v[j, i]] + ([scalar[j, i]] if scalar is not None else [])
                f.write(" ".join(repr(float(c)) for c in row) + "\n")


def same_bits(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def assert_same_dataset(a, b):
    """Two datasets hold the same bits: loaded points, extent and the regular grid."""
    assert a.shape == b.shape
    assert a.extent == b.extent
    for grid in (False, True):
        da, db = a.arrays(grid=grid), b.arrays(grid=grid)
        for k in da:
            assert same_bits(da[k], db[k]), f"{'grid' if grid else 'loaded'} {k} differ"
