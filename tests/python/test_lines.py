"""The lines, reports and pictures equal tessaly-render's for the same dataset and settings."""

import json

import numpy as np
import pytest

import tessaly
from conftest import read_csv, run, same_bits, write_table


@pytest.fixture(scope="session")
def gappy(samples, tmp_path_factory):
    """A field with a hole of missing flow and a missing corner, imported by tessaly-import."""
    d = tmp_path_factory.mktemp("gappy")
    x = np.linspace(-2.0, 3.0, 61)
    y = np.linspace(0.0, 4.0, 47)
    X, Y = np.meshgrid(x, y)
    u = -(Y - 2.0) + 0.3
    v = X - 0.5
    u[20:27, 25:34] = np.nan
    v[:5, :7] = np.nan
    write_table(d / "gappy.txt", x, y, u, v)
    run("import", d / "gappy.txt", d / "gappy.gri")
    return d / "gappy.gri"


def datasets(samples, gappy):
    return {"channel": samples / "channel.gri", "vortices": samples / "vortices.gri", "gappy": gappy}


EVENLY = [
    ("channel", dict(dsep=10)),
    ("channel", dict(dsep=30, dtest=0.5)),
    ("vortices", dict(dsep=6, dtest=0.25, method="rk", dt=0.8)),
    ("vortices", dict(dsep=12, max_seeds=2000, max_steps=3000)),
    ("gappy", dict(dsep=3)),
    ("gappy", dict(dsep=5, method="rk")),
]


def render_args(settings):
    args = []
    for k, v in settings.items():
        args += ["--" + k.replace("_", "-"), v]
    return args


@pytest.mark.parametrize("name,settings", EVENLY)
def test_evenly_spaced_lines_are_the_renderers_csv(samples, gappy, tmp_path, name, settings):
    path = datasets(samples, gappy)[name]
    run("render", path, "--view", "evenly", *render_args(settings), "-o", tmp_path / "l.csv")
    index, world = read_csv(tmp_path / "l.csv")
    ds = tessaly.load(path)
    got_world = ds.evenly_spaced(**settings)
    got_index = ds.evenly_spaced(coords="index", **settings)
    assert len(index) > 3
    assert len(got_world) == len(world) and len(got_index) == len(index)
    for a, b in zip(got_world, world):
        assert same_bits(a, b)
    for a, b in zip(got_index, index):
        assert same_bits(a, b)


@pytest.mark.parametrize("name,settings", [("channel", {}), ("vortices", dict(method="rk", dt=2.5, max_length=50))])
def test_regular_lines_are_the_renderers_csv(samples, gappy, tmp_path, name, settings):
    path = datasets(samples, gappy)[name]
    run("render", path, "--view", "streamlines", *render_args(settings), "-o", tmp_path / "l.csv")
    index, world = read_csv(tmp_path / "l.csv")
    ds = tessaly.load(path)
    got = ds.streamlines(**settings)
    assert len(got) == len(world) > 10
    assert all(same_bits(a, b) for a, b in zip(got, world))
    # The same seeds given explicitly, in index and in world coordinates.
    seeds = np.array([line[0] for line in index])
    again = ds.streamlines(seeds=seeds, coords="index", **settings)
    assert all(same_bits(a, b) for a, b in zip(again, index))
    starts = ds.streamlines(seeds=np.array([line[0] for line in world]), **settings)
    assert len(starts) == len(world)
    assert all(np.allclose(a[0], b[0], rtol=0, atol=1e-9 * (1 + abs(b[0]).max())) for a, b in zip(starts, world))


@pytest.mark.parametrize("x,y", [(12.345, 20.0), (3, 7.25), (40.5, 30.75), (0, 0), (60, 46), (59.99, 45.5),
                                 (60.01, 2), (5000, 2), (3, 46.5)])
def test_probe_is_the_renderers_json(samples, gappy, x, y):
    for path in (samples / "channel.gri", gappy):
        r = run("render", path, "--probe", f"{x},{y}", "--json", ok=False)
        ds = tessaly.load(path)
        if r.returncode != 0:
            # Outside: refused with the tool's reason.
            assert "outside" in r.stderr
            with pytest.raises(ValueError) as e:
                ds.probe(x, y)
            assert str(e.value).split(": outside the dataset")[1] == r.stderr.strip().split(str(path))[1]
            continue
        want = json.loads(r.stdout)
        got = ds.probe(x, y)
        assert set(got) == set(want) - {"dataset"}
        if "units" in want:
            assert got.pop("units") == want["units"]
        for k, v in got.items():
            w = [np.nan if e is None else e for e in want[k]]
            assert np.array_equal(np.array(v, dtype=float), np.array(w, dtype=float), equal_nan=True), k


PICTURES = [
    ("channel", "evenly", dict(dsep=10)),
    ("channel", "evenly", dict(dsep=20, antialias=True, north_up=True, view_rect=(20, 30, 200, 400))),
    ("vortices", "streamlines", dict(method="rk", max_length=300)),
    ("channel", "arrows", dict()),
    ("channel", "arrows", dict(pressure=True, colorbar=True, zoom=3, pan=(-5, 12), intensity=True, black=True)),
    ("gappy", "arrows", dict(pressure=True, fit=True, north_up=True)),
    ("gappy", "arrows", dict(pressure=True, north_up=True)),
    ("channel", "arrows", dict(pressure=True, north_up=True, zoom=4, pan=(30, -40), colorbar=True)),
    ("gappy", "evenly", dict(dsep=4)),
]


@pytest.mark.parametrize("name,view,options", PICTURES)
def test_render_is_the_renderers_png(samples, gappy, tmp_path, name, view, options):
    import matplotlib.image as mpimg

    path = datasets(samples, gappy)[name]
    args = []
    for k, v in options.items():
        flag = "--" + k.replace("_", "-")
        if v is True:
            args.append(flag)
        elif isinstance(v, tuple):
            args += [flag, ",".join(map(str, v))]
        else:
            args += [flag, v]
    run("render", path, "--view", view, *args, "-o", tmp_path / "p.png")
    want = mpimg.imread(tmp_path / "p.png")
    want = np.round(want * 255).astype(np.uint8)
    if want.shape[2] == 3:
        want = np.concatenate([want, np.full(want.shape[:2] + (1,), 255, np.uint8)], axis=2)
    got = tessaly.load(path).render(view, **options)
    assert got.dtype == np.uint8
    assert got.shape == want.shape
    assert np.array_equal(got, want)


def test_threads_share_a_dataset(samples):
    """The calls release the interpreter's lock and share the dataset: runs at the same time
    give the lines and pictures of runs one after the other."""
    from concurrent.futures import ThreadPoolExecutor

    ds = tessaly.load(samples / "vortices.gri")
    jobs = [("evenly_spaced", dict(dsep=4)), ("render", dict(view="evenly", dsep=8)),
            ("streamlines", dict(method="rk")), ("evenly_spaced", dict(dsep=7, method="rk"))] * 2
    alone = [getattr(ds, name)(**kw) for name, kw in jobs]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda job: getattr(ds, job[0])(**job[1]), jobs))
    for a, b in zip(alone, together):
        if isinstance(a, list):
            assert len(a) == len(b) and all(same_bits(p, q) for p, q in zip(a, b))
        else:
            assert same_bits(a, b)
