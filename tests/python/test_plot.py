"""tessaly.plot.streamplot draws the evenly spaced lines into a matplotlib axes."""

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402

import tessaly  # noqa: E402
import tessaly.plot  # noqa: E402


def vortex(n=80):
    x = np.linspace(-1.0, 1.0, n)
    y = np.linspace(-1.0, 1.0, n + 10)
    X, Y = np.meshgrid(x, y)
    return x, y, -Y, X


@pytest.fixture
def ax():
    fig, ax = plt.subplots()
    yield ax
    plt.close(fig)


def drawn(ax):
    ax.figure.canvas.draw()  # the Agg canvas renders without complaint
    return ax.figure.canvas.buffer_rgba()


@pytest.mark.parametrize("color", [None, "red", (0.2, 0.4, 0.6)])
def test_one_colour_draws_a_path_per_line(ax, color):
    x, y, u, v = vortex()
    lc = tessaly.plot.streamplot(ax, x, y, u, v, dsep=6, color=color)
    lines = tessaly.Dataset.from_arrays(x, y, u, v).evenly_spaced(dsep=6)
    assert isinstance(lc, LineCollection)
    segments = lc.get_segments()
    assert len(segments) == len([line for line in lines if len(line) > 1]) > 3
    assert all(np.array_equal(a, b) for a, b in zip(segments, lines))
    assert lc.get_array() is None and lc.arrows == []
    drawn(ax)
    assert ax.get_xlim()[0] <= -0.9 and ax.get_xlim()[1] >= 0.9


@pytest.mark.parametrize("by", ["speed", "array"])
def test_mapped_colour_draws_a_segment_per_step(ax, by):
    x, y, u, v = vortex()
    X, Y = np.meshgrid(x, y)
    colour = "speed" if by == "speed" else X + 10.0
    lc = tessaly.plot.streamplot(ax, x, y, u, v, dsep=5, color=colour, cmap="viridis", linewidth=2)
    lines = [line for line in tessaly.Dataset.from_arrays(x, y, u, v).evenly_spaced(dsep=5) if len(line) > 1]
    assert len(lc.get_segments()) == sum(len(line) - 1 for line in lines)
    values = lc.get_array()
    assert len(values) == len(lc.get_segments())
    if by == "speed":
        # |(-y, x)| is the distance from the centre: 0 ... sqrt(2).
        assert 0.0 <= values.min() and values.max() <= 1.5
    else:
        # Sampled from the array along the lines: x + 10 on [-1, 1].
        first = lc.get_segments()[0]
        assert values[0] == pytest.approx(first[:, 0].mean() + 10.0, abs=0.05)
    drawn(ax)
    ax.figure.colorbar(lc, ax=ax)


def test_arrows_and_curvilinear_coordinates(ax):
    n = 60
    i, j = np.meshgrid(np.linspace(0, 1, n), np.linspace(0, 1, n))
    X = i + 0.3 * j ** 2
    Y = j
    lc = tessaly.plot.streamplot(ax, X, Y, np.ones_like(X), 0.2 * np.ones_like(X), dsep=4, arrows=2, color="k")
    assert len(lc.arrows) > 0 and len(lc.arrows) <= 2 * len(lc.get_segments())
    assert all(p in ax.patches for p in lc.arrows)
    drawn(ax)


def test_missing_data_and_masked_arrays(ax):
    x, y, u, v = vortex()
    u = np.ma.masked_where(np.hypot(*np.meshgrid(x, y)) < 0.3, u)
    lc = tessaly.plot.streamplot(ax, x, y, u, v, dsep=4, color="speed")
    centre = np.concatenate(lc.get_segments()).reshape(-1, 2)
    assert np.hypot(centre[:, 0], centre[:, 1]).min() > 0.2
    drawn(ax)


@pytest.mark.parametrize("arguments,error", [
    (dict(arrows=-1), ValueError),
    (dict(arrows=1.5), ValueError),
    (dict(dsep=0.1), ValueError),
    (dict(dtest=3), ValueError),
    (dict(linewidth="thick"), TypeError),
    (dict(color=np.zeros((3, 3))), ValueError),
])
def test_bad_arguments(ax, arguments, error):
    x, y, u, v = vortex()
    with pytest.raises(error):
        tessaly.plot.streamplot(ax, x, y, u, v, **arguments)


def test_pieces_on_a_large_field_join_into_the_lines(ax):
    """Where a step is far below a pixel, a colour spans several steps: the pieces share
    their ends and together are the lines."""
    x, y, u, v = vortex(700)
    lc = tessaly.plot.streamplot(ax, x, y, u, v, dsep=20, color="speed")
    lines = [line for line in tessaly.Dataset.from_arrays(x, y, u, v).evenly_spaced(dsep=20) if len(line) > 1]
    pieces = lc.get_segments()
    assert len(pieces) < 0.6 * sum(len(line) - 1 for line in lines)
    joined, k = [], 0
    for line in lines:
        points = [pieces[k][0]]
        while len(points) < len(line):
            assert np.array_equal(pieces[k][0], points[-1])
            points.extend(pieces[k][1:])
            k += 1
        joined.append(np.array(points))
    assert k == len(pieces)
    assert all(np.array_equal(a, b) for a, b in zip(joined, lines))
    assert len(lc.get_array()) == len(pieces)
