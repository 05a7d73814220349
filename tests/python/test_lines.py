"""The lines, reports and pictures equal tessaly-render's for the same dataset and settings."""

import json

import numpy as np
import pytest

import tessaly
from conftest import COADS, read_csv, run, same_bits, write_table


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


@pytest.fixture
def path_of(request, samples, gappy):
    """The dataset of a row's name; "coads" (skipped where it is not installed) with metadata."""
    paths = {"channel": samples / "channel.gri", "vortices": samples / "vortices.gri", "gappy": gappy}
    return lambda name: paths[name] if name in paths else request.getfixturevalue(name)


def numbers(values):
    return np.array([np.nan if e is None else e for e in values], dtype=float)


def read_png(path):
    import matplotlib.image as mpimg

    a = np.round(mpimg.imread(path) * 255).astype(np.uint8)
    if a.shape[2] == 3:
        a = np.concatenate([a, np.full(a.shape[:2] + (1,), 255, np.uint8)], axis=2)
    return a


def render_args(settings):
    args = []
    for k, v in settings.items():
        args += ["--" + k.replace("_", "-"), v]
    return args


LINES = [
    ("channel", "evenly", dict(dsep=10)),
    ("channel", "evenly", dict(dsep=30, dtest=0.5)),
    ("vortices", "evenly", dict(dsep=6, dtest=0.25, method="rk", dt=0.8)),
    ("vortices", "evenly", dict(dsep=12, max_seeds=2000, max_steps=3000)),
    ("gappy", "evenly", dict(dsep=3)),
    ("gappy", "evenly", dict(dsep=5, method="rk")),
    ("channel", "streamlines", {}),
    ("vortices", "streamlines", dict(method="rk", dt=2.5, max_length=50)),
]


@pytest.mark.parametrize("name,view,settings", LINES)
def test_lines_are_the_renderers_csv(path_of, tmp_path, name, view, settings):
    path = path_of(name)
    run("render", path, "--view", view, *render_args(settings), "-o", tmp_path / "l.csv")
    index, world = read_csv(tmp_path / "l.csv")
    ds = tessaly.load(path)
    lines = ds.evenly_spaced if view == "evenly" else ds.streamlines
    got_world, got_index = lines(**settings), lines(coords="index", **settings)
    assert len(got_world) == len(world) > 3 and len(got_index) == len(index)
    assert all(same_bits(a, b) for a, b in zip(got_world + got_index, world + index))
    if view == "streamlines":
        # The same seeds given explicitly, in index and in world coordinates.
        again = ds.streamlines(seeds=np.array([line[0] for line in index]), coords="index", **settings)
        assert len(again) == len(index) and all(same_bits(a, b) for a, b in zip(again, index))
        starts = ds.streamlines(seeds=np.array([line[0] for line in world]), **settings)
        assert len(starts) == len(world)
        assert all(np.allclose(a[0], b[0], rtol=0, atol=1e-9 * (1 + abs(b[0]).max())) for a, b in zip(starts, world))


PROBES = [(12.345, 20.0), (0, 0), (60, 46), (59.99, 45.5), (60.01, 2), (5000, 2), (3, 46.5)]


@pytest.mark.parametrize("name,points", [("channel", PROBES), ("gappy", PROBES),
                                         ("coads", [(90, 45), (10.5, 60.25), (0, 0), (179, 89)])])
def test_probe_is_the_renderers_json(path_of, name, points):
    path = path_of(name)
    ds = tessaly.load(path)
    for x, y in points:
        r = run("render", path, "--probe", f"{x},{y}", "--json", ok=False)
        if r.returncode != 0:
            # Outside: refused with the tool's reason.
            assert "outside" in r.stderr
            with pytest.raises(ValueError) as e:
                ds.probe(x, y)
            assert str(e.value).split(": outside the dataset")[1] == r.stderr.strip().split(str(path))[1]
            continue
        want = json.loads(r.stdout)
        got = ds.probe(x, y)
        # The imported pairs have metadata: the real values and their units.
        assert set(got) == set(want) - {"dataset"} and ("real" in want) == (name != "channel")
        assert got.pop("units", None) == want.get("units")
        for k, v in got.items():
            assert np.array_equal(numbers(v), numbers(want[k]), equal_nan=True), k


PICTURES = [
    ("channel", "evenly", dict(dsep=10)),
    ("channel", "evenly", dict(dsep=20, antialias=True, north_up=True, view_rect=(20, 30, 200, 400))),
    ("vortices", "streamlines", dict(method="rk", max_length=300)),
    ("channel", "arrows", dict(pressure=True, colorbar=True, zoom=3, pan=(-5, 12), intensity=True, black=True)),
    ("gappy", "arrows", dict(pressure=True, fit=True, north_up=True)),
    ("gappy", "arrows", dict(pressure=True, north_up=True)),
    ("channel", "arrows", dict(pressure=True, north_up=True, zoom=4, pan=(30, -40), colorbar=True)),
    ("gappy", "evenly", dict(dsep=4)),
    # The tool's figures; with metadata the colour bar shows real values in their units.
    ("channel", "evenly", dict(dsep=10, scale=2, color_by="speed", cmap="magma", colorbar=True, label="|v|")),
    ("vortices", "streamlines", dict(size="700x500", line_arrows=2, north_up=True, color_by=0, line_width=1.5)),
    ("gappy", "arrows", dict(pressure=True, smooth=True, arrow_step=6, arrow_scale=2.5, colorbar=True, scale=2)),
    ("channel", "arrows", dict(arrow_scale="auto", north_up=True, scale=3)),
    ("coads", "evenly", dict(color_by="pressure", colorbar=True, scale=2)),
    ("coads", "arrows", dict(pressure=True, colorbar=True, arrow_step=8, north_up=True)),
]


@pytest.mark.parametrize("name,view,options", PICTURES)
def test_render_is_the_renderers_png(path_of, tmp_path, name, view, options):
    path = path_of(name)
    args = []
    for k, v in options.items():
        flag = "--" + k.replace("_", "-")
        args += [flag] if v is True else [flag, ",".join(map(str, v)) if isinstance(v, tuple) else v]
    run("render", path, "--view", view, *args, "-o", tmp_path / "p.png")
    got = tessaly.load(path).render(view, **options)
    assert got.dtype == np.uint8
    assert np.array_equal(got, read_png(tmp_path / "p.png"))


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


FIGURE_REFUSALS = [
    ("evenly", dict(scale=0), ValueError, "scale 0: expected a whole number from 1 to 64"),
    ("evenly", dict(scale=2, size=(10, 10)), ValueError, "size and scale exclude each other"),
    ("evenly", dict(size="10by10"), ValueError, "size 10by10: expected WxH"),
    ("evenly", dict(cmap="viridis"), ValueError, "cmap goes with color_by"),
    ("evenly", dict(color_by="heat"), ValueError, "color_by heat: expected speed, pressure or a channel number"),
    ("evenly", dict(color_by="speed", cmap="rainbow"), ValueError, "cmap rainbow: expected viridis, cividis"),
    ("evenly", dict(colorbar=True), ValueError, "colorbar on the streamline views needs color_by"),
    ("arrows", dict(label="p"), ValueError, "label goes with colorbar"),
    ("arrows", dict(smooth=True), ValueError, "smooth goes with pressure"),
    ("arrows", dict(arrow_step=0), ValueError, "arrow_step 0: expected a whole number of cells"),
    ("arrows", dict(arrow_scale=-1.0), ValueError, "arrow_scale -1.0: expected auto or cells per unit"),
    # Which view an option belongs to: test_errors' CALLS.
    ("streamlines", dict(line_arrows=101), ValueError, "line_arrows 101: expected a whole number from 1 to 100"),
    ("evenly", dict(scale=2.5), TypeError, "scale: expected a whole number"),
    ("evenly", dict(size=(10,)), TypeError, "size: expected (width, height)"),
]


@pytest.mark.parametrize("view,options,error,message", FIGURE_REFUSALS)
def test_figure_options_are_refused_as_the_tool_refuses_them(samples, view, options, error, message):
    ds = tessaly.load(samples / "channel.gri")
    with pytest.raises(error) as e:
        ds.render(view, **options)
    assert str(e.value).startswith(message)


def test_metadata_of_an_imported_pair(coads):
    """The pair's NAME.meta.json, and the same metadata for the file imported in memory."""
    ds = tessaly.load(coads)
    with open(str(coads)[:-len(".gri")] + ".meta.json") as f:
        want = json.load(f)
    assert ds.metadata == want
    assert tuple(want["points"]) == (180, 90)
    assert (want["scalar"]["name"], want["scalar"]["units"]) == ("SLP", "MB")
    assert want["mapping"]["real"] == [975, 1045] and want["flow"]["scale"] == 0.1
    imported = tessaly.import_file(COADS, scalar="SLP", time=0, scalar_range=(975, 1045), flow_scale=0.1)
    assert imported.metadata == want
    assert imported.probe(90, 45) == ds.probe(90, 45)
    # Arrays carry no metadata.
    assert tessaly.Dataset.from_arrays([0.0, 1.0], [0.0, 1.0], np.ones((2, 2)), np.ones((2, 2))).metadata is None


def test_metadata_of_another_pair_is_ignored_with_a_warning(samples, coads, tmp_path):
    import shutil

    for suffix in (".gri", ".00000.dat"):
        shutil.copy(samples / ("channel" + suffix), tmp_path / ("channel" + suffix))
    shutil.copy(str(coads)[:-len(".gri")] + ".meta.json", tmp_path / "channel.meta.json")
    with pytest.warns(RuntimeWarning, match="channel.meta.json is ignored"):
        ds = tessaly.load(tmp_path / "channel.gri")
    assert ds.metadata is None
    assert "real" not in ds.probe(3, 4)
