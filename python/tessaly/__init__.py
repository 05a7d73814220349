"""Tessaly's flow engine from Python: datasets from files or numpy arrays, evenly spaced
streamlines as data, and the program's pictures.

    import tessaly
    ds = tessaly.Dataset.from_arrays(x, y, u, v)
    lines = ds.evenly_spaced(dsep=10)        # list of (n, 2) arrays, world coordinates

Coordinates: "world" are the dataset's own positions (degrees, metres, ...); "index" is the
regular grid's index space, one unit per grid cell, (0, 0) at the smallest x and y. Distances
such as ``dsep`` are in grid cells, as in the program's views.

Every call copies its input arrays at most once (into the single precision the engine works
in) and releases the interpreter's lock while it computes. A call cannot be interrupted by
Ctrl+C: the seeding is one call into the engine, which has no point at which it could stop
and hand back the lines it has so far; the interrupt takes effect as soon as the call
returns. A 1000 x 1000 field at ``dsep=3`` takes about a second.
"""

import json
import numbers
import os
import re
import warnings

import numpy as np

from . import _core
from ._core import LoadError

__all__ = ["Dataset", "LoadError", "load", "import_file"]

LoadError.__doc__ = "A dataset file that the loader or the importer refuses; the message says why."
LoadError.__module__ = "tessaly"


# ---------------------------------------------------------------- arguments

_MAX_POINTS = 128 * 1024 * 1024  # tessaly-import's limit

def _number(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name}: expected a number, got {type(value).__name__}")
    return float(value)


def _whole(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name}: expected a whole number, got {type(value).__name__}")
    return int(value)


def _held(value):
    """A whole number held within the engine's integers (ranges are checked there)."""
    return max(-2 ** 40, min(2 ** 40, value))


def _text(name, value):
    if not isinstance(value, str):
        raise TypeError(f"{name}: expected a string, got {type(value).__name__}")
    return value


def _flag(name, value):
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name}: expected True or False, got {type(value).__name__}")
    return bool(value)


def _range(value):
    if value is None:
        return None
    try:
        low, high = value
    except (TypeError, ValueError):
        raise TypeError("scalar_range: expected None or (low, high)") from None
    return (_number("scalar_range", low), _number("scalar_range", high))


def _data(value, name):
    """The array behind `value` and its mask (None: nothing masked), without copying a
    C-ordered float64 or float32 array. xarray DataArrays (and anything else with a
    ``.values`` array) are read through ``.values``; numpy masked arrays mark missing points."""
    if value is None:
        raise TypeError(f"{name}: expected an array, got None")
    if not isinstance(value, np.ndarray):
        inner = getattr(value, "values", None)
        if inner is not None and not callable(inner):
            value = inner
    mask = None
    if isinstance(value, np.ma.MaskedArray):
        m = np.ma.getmask(value)
        data = np.ma.getdata(value)
        if m is not np.ma.nomask and m.any():
            mask = np.ascontiguousarray(np.broadcast_to(m, data.shape), dtype=bool)
    else:
        try:
            data = np.asarray(value)
        except Exception as e:  # ragged lists and the like
            raise TypeError(f"{name}: expected an array of numbers ({e})") from None
    if data.dtype.kind not in "fiu":
        raise TypeError(f"{name}: expected an array of numbers, got dtype {data.dtype}")
    if data.size > _MAX_POINTS:
        # Before any copy: a broadcast view of a few bytes can stand for terabytes.
        raise ValueError(f"{name}: {data.size} values, more than the {_MAX_POINTS} points that can be imported")
    if data.dtype not in (np.float64, np.float32) or not data.flags.c_contiguous:
        data = np.asarray(data, dtype=np.float64, order="C")
    return data, mask


def _shape(a):
    return "x".join(str(n) for n in a.shape) if a.ndim else "a scalar"


# ---------------------------------------------------------------- the dataset

_ARROW_OPTIONS = {"zoom", "pan", "pressure", "intensity", "black", "fit", "arrow_step", "arrow_scale", "smooth"}
_LINE_OPTIONS = {"method", "dt", "antialias", "view_rect", "color_by", "cmap", "line_arrows"}
# tessaly-render's figure options, for every view.
_FIGURE_OPTIONS = {"scale", "size", "line_width", "colorbar", "label", "north_up"}
_OPTIONS = {
    "arrows": _ARROW_OPTIONS | _FIGURE_OPTIONS,
    "streamlines": _LINE_OPTIONS | _FIGURE_OPTIONS | {"max_length"},
    "evenly": _LINE_OPTIONS | _FIGURE_OPTIONS | {"dsep", "dtest", "max_seeds", "max_steps"},
}
_OPTION_OWNER = {
    **{k: "view='arrows'" for k in _ARROW_OPTIONS},
    **{k: "the streamline views" for k in _LINE_OPTIONS},
    "max_length": "view='streamlines'",
    **{k: "view='evenly'" for k in ("dsep", "dtest", "max_seeds", "max_steps")},
}


def _figure_whole(name, value):
    return str(_held(_whole(name, value)))


def _figure_size(name, value):
    if isinstance(value, str):
        return value
    try:
        w, h = value
    except (TypeError, ValueError):
        raise TypeError("size: expected (width, height) or 'WxH'") from None
    return f"{_held(_whole(name, w))}x{_held(_whole(name, h))}"


def _figure_number(name, value):
    return repr(_number(name, value))


def _figure_color_by(name, value):
    if isinstance(value, str):
        return value
    return str(_held(_whole(name, value)))


def _figure_arrow_scale(name, value):
    if isinstance(value, str):
        return value
    return repr(_number(name, value))


def _figure_flag(name, value):
    return "" if _flag(name, value) else None


# Each figure option's text as tessaly-render reads it (None: not given).
_FIGURE_TEXT = {
    "scale": _figure_whole,
    "size": _figure_size,
    "line_width": _figure_number,
    "color_by": _figure_color_by,
    "cmap": _text,
    "label": _text,
    "arrow_step": _figure_whole,
    "arrow_scale": _figure_arrow_scale,
    "line_arrows": _figure_whole,
    "smooth": _figure_flag,
}


class Dataset:
    """A flow dataset and its regular grid, as the program holds them after loading.

    Made by :func:`load`, :func:`import_file` or :meth:`Dataset.from_arrays`; never changed
    afterwards, so one dataset may be used from several threads at once."""

    __slots__ = ("_core", "__weakref__")

    def __init__(self, handle):
        if not isinstance(handle, _core.Dataset):
            raise TypeError("use tessaly.load(), tessaly.import_file() or Dataset.from_arrays()")
        self._core = handle

    @classmethod
    def from_arrays(cls, x, y, u, v, scalars=None, *, scalar_range=None, flow_scale=1.0):
        """The dataset tessaly-import makes of this field, as loaded.

        x, y: 1-D axes (lengths nx and ny, strictly monotonic; descending ones are reversed
        with the data) or 2-D (ny, nx) curvilinear coordinates. u, v: (ny, nx); NaN or a
        masked value marks a missing point. scalars: None (the flow speed stands in), one
        (ny, nx) array or a list of them: the first is mapped onto the arrow plot's pressure
        scale as channel 0 (over its own range, or ``scalar_range``) and kept as given in
        channel 1, the others follow as channels 2, 3, ... flow_scale multiplies u and v."""
        (u, um), (v, vm) = _data(u, "u"), _data(v, "v")
        if u.ndim != 2 or u.shape != v.shape:
            raise ValueError(f"u and v: expected two 2-D arrays of one shape (ny, nx), found {_shape(u)} and {_shape(v)}")
        ny, nx = u.shape
        (x, xm), (y, ym) = _data(x, "x"), _data(y, "y")
        if x.ndim == 1 and y.ndim == 1:
            if x.shape[0] != nx or y.shape[0] != ny:
                raise ValueError(f"x and y: 1-D axes need {nx} and {ny} values for u of shape {ny}x{nx}, "
                                 f"found {x.shape[0]} and {y.shape[0]}")
            curvilinear = False
        elif x.ndim == 2 and y.ndim == 2:
            if x.shape != u.shape or y.shape != u.shape:
                raise ValueError(f"x and y: 2-D coordinates need the shape {ny}x{nx} of u, "
                                 f"found {_shape(x)} and {_shape(y)}")
            curvilinear = True
        else:
            raise ValueError(f"x and y: expected two 1-D axes or two 2-D coordinate arrays, "
                             f"found {_shape(x)} and {_shape(y)}")
        if scalars is None:
            scalars = []
        elif isinstance(scalars, (list, tuple)):
            scalars = list(scalars)
        else:
            scalars = [scalars]
        channels = []
        for i, s in enumerate(scalars):
            s, sm = _data(s, f"scalars[{i}]")
            if s.shape != u.shape:
                raise ValueError(f"scalars[{i}]: expected the shape {ny}x{nx} of u, found {_shape(s)}")
            channels.append((s, sm))
        handle = _core.from_arrays(nx, ny, curvilinear, x, xm, y, ym, u, um, v, vm, channels,
                                   _range(scalar_range), _number("flow_scale", flow_scale))
        return cls(handle)

    # ------------------------------------------------------------ description

    @property
    def shape(self):
        """(ny, nx) of the regular grid."""
        return self._core.info()[0]

    @property
    def extent(self):
        """(xmin, xmax, ymin, ymax) in world units: the corners the loader found."""
        return self._core.info()[1]

    @property
    def channels(self):
        """Values per point (channel 0 is the pressure)."""
        return self._core.info()[2]

    def arrays(self, grid=False):
        """The loaded points as stored, as a dict of (ny, nx) arrays: "x", "y" (world
        positions), "u", "v" (flow) and "channels" (ny, nx, channels). With grid=True the
        regular grid's points instead, the views' data: "u", "v" and "channels" (the grid
        carries channel 0, the pressure, only; its points sit at their index positions)."""
        pos, flow, values = self._core.points(_flag("grid", grid))
        a = {"u": flow[..., 0], "v": flow[..., 1], "channels": values}
        if not grid:
            a = {"x": pos[..., 0], "y": pos[..., 1], **a}
        return a

    def __repr__(self):
        ny, nx = self.shape
        x0, x1, y0, y1 = self.extent
        return f"<tessaly.Dataset {nx} x {ny}, x {x0:g} ... {x1:g}, y {y0:g} ... {y1:g}, {self.channels} channels>"

    # ------------------------------------------------------------ computations

    def evenly_spaced(self, dsep=30.0, dtest=0.5, method="euler", dt=1.55, coords="world", *,
                      max_seeds=500, max_steps=1000):
        """The evenly spaced streamlines of the program's view: a list of (n, 2) float64
        arrays, each line once, in the order the seeding made them, without repeated
        points. dsep: separating distance in grid cells (1 ... 100); dtest: test distance as
        a fraction of dsep (0.01 ... 1); method "euler" or "rk"; dt: step in grid cells
        (0 < dt <= 7.5); coords "world" or "index". max_seeds, max_steps: the seeding's
        limits (the view's by default; large fields need both larger)."""
        return self._core.evenly_spaced(
            _number("dsep", dsep), _number("dtest", dtest), _text("method", method), _number("dt", dt),
            _text("coords", coords), _held(_whole("max_seeds", max_seeds)), _held(_whole("max_steps", max_steps)))

    def streamlines(self, seeds=None, method="euler", dt=1.55, max_length=200, coords="world"):
        """Regular streamlines traced forward from each seed, at most max_length points: a
        list of (n, 2) arrays. seeds None: the view's 10 x 10 seeds over the whole grid;
        else an (m, 2) array of positions in `coords`. Seeds outside the grid give no line,
        and lines of one point are left out."""
        if seeds is not None:
            seeds, mask = _data(seeds, "seeds")
            if seeds.ndim != 2 or seeds.shape[1] != 2:
                raise ValueError(f"seeds: expected an (m, 2) array, found {_shape(seeds)}")
            if mask is not None or not np.isfinite(seeds).all():
                raise ValueError("seeds: every position must be finite")
        return self._core.streamlines(seeds, _text("method", method), _number("dt", dt),
                                      _held(_whole("max_length", max_length)), _text("coords", coords))

    @property
    def metadata(self):
        """What the dataset's numbers mean, as tessaly-import's NAME.meta.json holds it
        (source, quantities with units and long names, the scalar's mapping): the file beside
        a loaded pair, or what the tool writes for a file given to import_file; a dict, or
        None without one (arrays)."""
        text = self._core.metadata_json()
        return json.loads(text) if text else None

    def probe(self, x, y):
        """The volume information report at index position (x, y) of the loaded dataset, as
        tessaly-render --probe X,Y --json gives it (without the dataset's name): position,
        mPos, mDir, values and outPutPos; with metadata also "real" (each value in its
        quantity's units, None where unknown) and "units". The position is rounded to single
        precision."""
        return self._core.probe(_number("x", x), _number("y", y))

    def render(self, view="evenly", **options):
        """The picture tessaly-render writes for `view` ("arrows", "streamlines" or
        "evenly"), pixel for pixel, as a (height, width, 4) uint8 RGBA array. The options are
        tessaly-render's, with underscores: zoom, pan=(dx, dy), pressure, intensity, black,
        colorbar, fit (arrows); method, dt, antialias, view_rect=(x1, y1, x2, y2) (both
        streamline views); max_length (streamlines); dsep, dtest, max_seeds, max_steps
        (evenly); north_up (all).

        The figure options ask for tessaly-render's figure instead of the view's own picture,
        with the same ranges: scale (1 ... 64) or size=(w, h), line_width, colorbar with
        label, north_up (all views); arrow_step, arrow_scale (cells per unit of flow, or
        "auto"), smooth (arrows, with pressure); color_by ("speed", "pressure" or a channel
        number), cmap, line_arrows (streamline views). A dataset with metadata shows real
        values and units in the colour bar, as the tool does."""
        view = _text("view", view)
        if view not in _OPTIONS:
            raise ValueError(f"view {view}: expected arrows, streamlines or evenly")
        settings = {"view": view}
        figure = []
        for name, value in options.items():
            if name not in _OPTIONS[view]:
                if name in _OPTION_OWNER:
                    raise ValueError(f"{name} applies to {_OPTION_OWNER[name]} only")
                raise TypeError(f"render() got an unexpected keyword argument '{name}'")
            if name in ("pressure", "intensity", "black", "colorbar", "fit", "antialias", "north_up"):
                settings[name] = _flag(name, value)
            elif name in _FIGURE_TEXT:
                text = _FIGURE_TEXT[name](name, value)
                if text is not None:
                    figure.append((name.replace("_", "-"), text))
            elif name in ("zoom", "max_length", "max_seeds", "max_steps"):
                settings[name] = _held(_whole(name, value))
            elif name in ("dt", "dsep", "dtest"):
                settings[name] = _number(name, value)
            elif name == "method":
                settings[name] = _text(name, value)
            elif name == "pan":
                try:
                    dx, dy = value
                except (TypeError, ValueError):
                    raise TypeError("pan: expected (dx, dy)") from None
                settings["pan_x"], settings["pan_y"] = _held(_whole("pan", dx)), _held(_whole("pan", dy))
            elif name == "view_rect":
                try:
                    rect = [_held(_whole("view_rect", v)) for v in value]
                except TypeError:
                    raise TypeError("view_rect: expected (x1, y1, x2, y2) whole numbers") from None
                settings[name] = rect
        # The tool's pairings, in its words.
        if settings.get("colorbar") and view != "arrows" and "color_by" not in options:
            raise ValueError("colorbar on the streamline views needs color_by")
        if options.get("smooth") and not settings.get("pressure"):
            raise ValueError("smooth goes with pressure")
        settings["figure"] = figure
        try:
            return self._core.render(settings)
        except ValueError as e:
            # The figure options' reasons name them as the tool's options.
            raise ValueError(re.sub(r"--([a-z-]+)", lambda m: m.group(1).replace("-", "_"), str(e))) from None


def load(path):
    """Loads a dataset pair (NAME.gri and its data file) as the program does. Raises
    LoadError with the loader's reason; a dataset loaded with a remark (a file that
    shrank while read, cells the resampling skipped) gives a RuntimeWarning."""
    handle, warning = _core.load(os.fsdecode(os.fspath(path)))
    if warning:
        warnings.warn(f"{os.fspath(path)}: {warning}", RuntimeWarning, stacklevel=2)
    return Dataset(handle)


def import_file(path, u=None, v=None, scalar=None, time=0, level=0, scalar_range=None, flow_scale=1.0):
    """A NetCDF file or a column table read as tessaly-import reads it, kept in memory:
    u, v, scalar name the variables (or table columns) and are found as the tool finds
    them when None; time and level index the extra dimensions; scalar_range (low, high)
    and flow_scale as --scalar-range and --flow-scale. Raises LoadError with the importer's
    reason, ValueError for a bad argument; what tessaly-import warns about (a constant u
    column, ...) gives a RuntimeWarning."""
    names = [("" if n is None else _text(k, n)) for k, n in (("u", u), ("v", v), ("scalar", scalar))]
    time, level = _held(_whole("time", time)), _held(_whole("level", level))
    # Index 0 is the default of every extra dimension: asked for explicitly, tessaly-import
    # refuses a field without that dimension; here 0 is taken as the default.
    handle, remarks = _core.import_file(os.fsdecode(os.fspath(path)), *names, time or None, level or None,
                                        _range(scalar_range), _number("flow_scale", flow_scale))
    for remark in remarks:
        warnings.warn(f"{os.fspath(path)}: {remark}", RuntimeWarning, stacklevel=2)
    return Dataset(handle)
