"""Every refusal raises the right exception with its reason, and nothing ends the interpreter."""

import re

import numpy as np
import pytest

import tessaly
from conftest import run

X = np.linspace(0.0, 1.0, 8)
Y = np.linspace(0.0, 2.0, 6)
U = np.ones((6, 8))
V = np.zeros((6, 8))


def nan_at(a, index):
    a = np.array(a, dtype=float)
    a[index] = np.nan
    return a


ARRAYS = [
    # (arguments of from_arrays, exception, message)
    (dict(u=U[:, :5]), ValueError, "u and v: expected two 2-D arrays of one shape (ny, nx), found 6x5 and 6x8"),
    (dict(u=5.0), ValueError, "u and v: expected two 2-D arrays of one shape (ny, nx), found a scalar and 6x8"),
    (dict(v=np.broadcast_to(1.0, (10 ** 5, 10 ** 5))), ValueError,
     "v: 10000000000 values, more than the 134217728 points that can be imported"),
    (dict(u=U.astype(complex)), TypeError, "u: expected an array of numbers, got dtype complex128"),
    (dict(x=X[:7]), ValueError, "x and y: 1-D axes need 8 and 6 values for u of shape 6x8, found 7 and 6"),
    (dict(x=np.zeros((6, 8))), ValueError, "x and y: expected two 1-D axes or two 2-D coordinate arrays, found 6x8 and 6"),
    (dict(x=np.zeros((8, 6)), y=np.zeros((8, 6))), ValueError, "x and y: 2-D coordinates need the shape 6x8 of u, found 8x6 and 8x6"),
    (dict(x=nan_at(X, 3)), ValueError, "the x coordinate x is not strictly monotonic"),
    (dict(y=np.array([0, 1, 2, 2, 3, 4.0])), ValueError, "the y coordinate y is not strictly monotonic"),
    (dict(x=nan_at(np.meshgrid(X, Y)[0], (2, 2)), y=np.meshgrid(X, Y)[1]), ValueError,
     "the coordinates x/y have missing values"),
    (dict(x=X[:1], u=U[:, :1], v=V[:, :1]), ValueError, "a grid needs at least 2 x 2 points, found 1 x 6"),
    # Positions single precision cannot hold or tell apart (the core's rule, the importer's
    # too), or beyond the loader's extent.
    (dict(x=1.0 + 1e-12 * np.arange(8)), ValueError,
     "the x coordinate x has neighbours 1 and 1.0000000000010001 that single precision stores as one value"),
    (dict(x=X * 1e40), ValueError, "the x coordinate x holds 1.428571e+39, beyond the float range of positions"),
    (dict(y=Y * 1e-46), ValueError, "the y coordinate y holds 4e-47, which single precision stores as 0"),
    (dict(x=np.full((6, 8), 3.0), y=np.full((6, 8), 4.0)), ValueError, "the extent is empty: all 48 points lie at (3, 4)"),
    (dict(y=1e9 + 1e3 * np.arange(6)), ValueError, "the extent is not set: every position lies beyond +-99999999"),
    (dict(u=np.full((6, 8), np.nan)), ValueError, "u and v have no value at any point"),
    (dict(u=np.ma.masked_all((6, 8))), ValueError, "u and v have no value at any point"),
    (dict(scalars=np.full((6, 8), np.nan)), ValueError, "scalar has no value at any point"),
    (dict(scalars=[U, U[:2]]), ValueError, "scalars[1]: expected the shape 6x8 of u, found 2x8"),
    (dict(scalar_range=(5, 1)), ValueError, "scalar_range (5, 1): expected (LO, HI) with LO < HI"),
    (dict(scalar_range=5), TypeError, "scalar_range: expected None or (low, high)"),
    (dict(flow_scale=0), ValueError, "flow_scale 0: expected a number above 0"),
    (dict(flow_scale="1"), TypeError, "flow_scale: expected a number, got str"),
    (dict(v=None), TypeError, "v: expected an array, got None"),
    (dict(x=[[1, 2], [3]]), TypeError, "x: expected an array of numbers"),
]


@pytest.mark.parametrize("arguments,error,message", ARRAYS)
def test_from_arrays_refusals(arguments, error, message):
    a = dict(x=X, y=Y, u=U, v=V)
    a.update(arguments)
    with pytest.raises(error) as e:
        tessaly.Dataset.from_arrays(a.pop("x"), a.pop("y"), a.pop("u"), a.pop("v"), **a)
    assert str(e.value).startswith(message)


@pytest.fixture(scope="module")
def ds():
    return tessaly.Dataset.from_arrays(X, Y, U, V)


CALLS = [
    # The ranges themselves are the tool's (test_range_messages_are_the_renderers).
    ("evenly_spaced", dict(dsep=float("nan")), ValueError, "dsep nan: expected a number from 1 to 100"),
    ("evenly_spaced", dict(dt=0), ValueError, "dt 0: the step must be above 0"),
    ("evenly_spaced", dict(coords="pixel"), ValueError, "coords pixel: expected world or index"),
    ("evenly_spaced", dict(max_steps=10 ** 12), ValueError, "max_steps 1073741824: expected a whole number from 1 to 100000"),
    ("evenly_spaced", dict(dsep="10"), TypeError, "dsep: expected a number, got str"),
    ("evenly_spaced", dict(max_seeds=2.5), TypeError, "max_seeds: expected a whole number, got float"),
    ("streamlines", dict(max_length=0), ValueError, "max_length 0: expected a whole number from 1 to 100000"),
    ("streamlines", dict(seeds=np.zeros((3, 3))), ValueError, "seeds: expected an (m, 2) array, found 3x3"),
    ("streamlines", dict(seeds=[[1, np.inf]]), ValueError, "seeds: every position must be finite"),
    ("probe", dict(x=-1, y=0), ValueError, "x -1: not a position from 0 to 1e9"),
    ("probe", dict(x=0, y=np.nan), ValueError, "y nan: not a position from 0 to 1e9"),
    ("probe", dict(x=7.5, y=1), ValueError, "probe (7.5, 1): outside the dataset, whose positions run from 0 to 7 along x"),
    ("render", dict(view="contours"), ValueError, "view contours: expected arrows, streamlines or evenly"),
    ("render", dict(view="arrows", dsep=10), ValueError, "dsep applies to view='evenly' only"),
    ("render", dict(view="evenly", zoom=2), ValueError, "zoom applies to view='arrows' only"),
    ("render", dict(view="arrows", antialias=True), ValueError, "antialias applies to the streamline views only"),
    ("render", dict(view="evenly", max_length=5), ValueError, "max_length applies to view='streamlines' only"),
    ("render", dict(view="evenly", colour=1), TypeError, "render() got an unexpected keyword argument 'colour'"),
    ("render", dict(view="arrows", zoom=16), ValueError, "zoom 16: expected a whole number from 1 to 15"),
    ("render", dict(view="arrows", pressure=1), TypeError, "pressure: expected True or False, got int"),
    ("render", dict(view="evenly", view_rect=(5, 5, 5, 9)), ValueError, "view_rect: X1 < X2 and Y1 < Y2 are needed"),
    ("render", dict(view="streamlines", view_rect=(1, 2, 3)), ValueError, "view_rect: expected (X1, Y1, X2, Y2)"),
    ("render", dict(view="evenly", view_rect=(0, 0, 2 ** 29 + 1, 5)), ValueError,
     "view_rect: expected 4 whole numbers, each within +-536870912"),
    ("render", dict(view="evenly", view_rect=(0, 0, 2 ** 70, 5)), ValueError,
     "view_rect: expected 4 whole numbers, each within +-536870912"),
    ("render", dict(view="arrows", pan=(1, 2 ** 40)), ValueError, "pan: expected 2 whole numbers, each within +-268435456"),
]


@pytest.mark.parametrize("method,arguments,error,message", CALLS)
def test_call_refusals(ds, method, arguments, error, message):
    with pytest.raises(error) as e:
        getattr(ds, method)(**arguments)
    assert str(e.value).startswith(message)


@pytest.mark.parametrize("option,value", [("dsep", "0.5"), ("dsep", "101"), ("dtest", "2"), ("dt", "9"),
                                          ("max-seeds", "0"), ("method", "heun")])
def test_range_messages_are_the_renderers(samples, option, value):
    r = run("render", samples / "uniform.gri", "--view", "evenly", "--" + option, value, "-o", "x.csv", ok=False)
    assert r.returncode == 2
    want = re.sub(r"^tessaly-render: --", "", r.stderr.strip())
    name = option.replace("-", "_")
    number = value if option == "method" else (int(value) if option == "max-seeds" else float(value))
    with pytest.raises(ValueError) as e:
        tessaly.load(samples / "uniform.gri").evenly_spaced(**{name: number})
    assert str(e.value) == want.replace(option, name, 1)


def test_load_refusals(tmp_path):
    cases = [
        (tmp_path / "missing.gri", "Not loaded: cannot open the grid file"),
        (tmp_path / "plain.txt", "has no \".gri\" in its file name"),
        (tmp_path / "bad.gri", "Not a dataset:"),
        (tmp_path / "short.gri", "Data file too short:"),
    ]
    (tmp_path / "plain.txt").write_text("x")
    (tmp_path / "bad.gri").write_bytes(b"hello" + bytes(60))
    (tmp_path / "bad.00000.dat").write_bytes(bytes(60))
    header = b"SN4DB 2 2 1 0 1 0".ljust(40, b" ")
    (tmp_path / "short.gri").write_bytes(header + bytes(48))
    (tmp_path / "short.00000.dat").write_bytes(bytes(10))
    for path, reason in cases:
        with pytest.raises(tessaly.LoadError) as e:
            tessaly.load(path)
        assert str(e.value).startswith(f"cannot load {path}: ") and reason in str(e.value), str(e.value)
    assert issubclass(tessaly.LoadError, Exception) and not issubclass(tessaly.LoadError, ValueError)


def test_import_refusals(tmp_path):
    (tmp_path / "scattered.txt").write_text("x y u v\n0 0 1 1\n1 0 1 1\n0.5 1 1 1\n")
    (tmp_path / "table.txt").write_text("x y u v\n0 0 1 1\n1 0 1 1\n0 1 1 1\n1 1 1 1\n")
    cases = [
        (dict(path=tmp_path / "none.nc"), tessaly.LoadError, f"cannot read {tmp_path / 'none.nc'}: No such file"),
        (dict(path=tmp_path), tessaly.LoadError, f"cannot read {tmp_path}: a folder, not a regular file"),
        (dict(path=tmp_path / "scattered.txt"), tessaly.LoadError, "rows do not form a grid: 3 distinct x, 2 distinct y, 3 rows"),
        (dict(path=tmp_path / "table.txt", time=2), ValueError, "time and level choose NetCDF slices"),
        (dict(path=tmp_path / "table.txt", level=-1), ValueError, "level needs an index 0, 1, 2, ..., not -1"),
        (dict(path=tmp_path / "table.txt", u="w"), tessaly.LoadError, ""),
        (dict(path=tmp_path / "table.txt", flow_scale=-1), ValueError, "flow_scale -1: expected a number above 0"),
    ]
    for arguments, error, message in cases:
        with pytest.raises(error) as e:
            tessaly.import_file(**arguments)
        assert str(e.value).startswith(message), str(e.value)


def test_import_warnings(tmp_path):
    (tmp_path / "table.txt").write_text("x y u v\n0 0 1 1\n1 0 1 2\n0 1 1 3\n1 1 1 4\n")
    with pytest.warns(RuntimeWarning, match="the u column 3 \\(u\\) holds 1 in every row"):
        tessaly.import_file(tmp_path / "table.txt")


def test_datasets_are_made_by_the_package_only():
    with pytest.raises(TypeError):
        tessaly.Dataset(None)
