"""Evenly spaced streamlines in a matplotlib figure.

    import tessaly.plot
    lc = tessaly.plot.streamplot(ax, x, y, u, v, dsep=8, color="speed")
    fig.colorbar(lc, ax=ax)

Unlike matplotlib's streamplot, the grid may be curvilinear or unevenly spaced, NaN and
masked points are missing data, lines keep ``dsep`` grid cells apart and do not break.
"""

import numbers

import numpy as np

import tessaly

__all__ = ["streamplot"]


def _sampler(field):
    """Bilinear samples of an (ny, nx) grid field at index positions, as the engine samples
    its grid: corners past the last column or row count as zero."""
    ny, nx = field.shape
    padded = np.zeros((ny + 1, nx + 1), dtype=np.float64)
    padded[:ny, :nx] = field

    def sample(ix, iy):
        x0 = np.clip(np.floor(ix).astype(np.intp), 0, nx - 1)
        y0 = np.clip(np.floor(iy).astype(np.intp), 0, ny - 1)
        fx = ix - x0
        fy = iy - y0
        c00 = padded[y0, x0]
        c10 = padded[y0, x0 + 1]
        c01 = padded[y0 + 1, x0]
        c11 = padded[y0 + 1, x0 + 1]
        return ((c00 * ((1 - fy) * (1 - fx)) + c10 * ((1 - fy) * fx)) + c01 * ((1 - fx) * fy)) + c11 * (fy * fx)

    return sample


def _piece_steps(world, transform, pixels=2.0):
    """Steps per coloured piece, so that a piece spans about `pixels` on the axes as they
    are now: one step (1.55 grid cells) is far below a pixel on a large field, and a path
    per step is what costs most in drawing. Judged on the first 50 lines."""
    per_step = []
    for w in world[:50]:
        d = np.diff(transform.transform(w), axis=0)
        per_step.append(np.median(np.hypot(d[:, 0], d[:, 1])))
    step = float(np.median(per_step)) if per_step else 0.0
    if not (np.isfinite(step) and step > 0):
        return 1
    return max(1, int(np.ceil(pixels / step)))


def _arrow_patches(lines, count, transform, color, linewidth, size):
    import matplotlib.patches as patches

    arrows = []
    for k, line in enumerate(lines):
        if len(line) < 3:
            continue
        steps = np.hypot(*np.diff(line, axis=0).T)
        arc = np.concatenate([[0.0], np.cumsum(steps)])
        if not arc[-1] > 0:
            continue
        # Evenly along the line's length, shifted from line to line (by the golden ratio)
        # so that lines side by side do not carry their heads in a row.
        shift = (0.5 + 0.618034 * k) % 1.0
        for a in range(count):
            s = arc[-1] * (a + shift) / count
            i = int(np.clip(np.searchsorted(arc, s), 1, len(line) - 1))
            tail, head = line[i - 1], line[i]
            c = color[k] if isinstance(color, list) else color
            arrows.append(patches.FancyArrowPatch(tuple(tail), tuple(head), arrowstyle="-|>", transform=transform,
                                                  color=c, linewidth=linewidth, mutation_scale=size))
    return arrows


def streamplot(ax, x, y, u, v, dsep=None, dtest=0.5, color=None, cmap=None, linewidth=None, arrows=0,
               transform=None, **lc_kwargs):
    """Draws the evenly spaced streamlines of (u, v) into `ax` and returns the
    LineCollection (the arrow patches, when arrows > 0, are added to `ax` and listed in the
    collection's ``arrows`` attribute).

    x, y, u, v as for :meth:`tessaly.Dataset.from_arrays` (1-D axes or 2-D curvilinear
    coordinates; NaN or masked = missing). dsep: separating distance in grid cells of the
    regular grid the field is resampled onto (1 ... 100; default: a thirtieth of the
    smaller side, at least 1); dtest: fraction of dsep. color: None (the axes' next line
    colour), any matplotlib colour, "speed", or an (ny, nx) array sampled along the lines;
    the last two are mapped through `cmap` (and a ``norm`` in lc_kwargs). linewidth: a
    number (default: rcParams lines.linewidth). arrows: arrow heads per line. transform:
    the data's transform (default: ax.transData). Further keywords go to the
    LineCollection."""
    import matplotlib as mpl
    from matplotlib.collections import LineCollection

    scalars = None
    mapped = isinstance(color, str) and color == "speed"
    if color is not None and not isinstance(color, str) and not mapped:
        c = np.ma.asarray(getattr(color, "values", color)) if not isinstance(color, np.ndarray) else color
        if getattr(c, "ndim", 0) == 2:
            # The regular grid carries channel 0 only: the array goes there, mapped linearly
            # from its own range, and is mapped back after sampling.
            scalars = [c]
            mapped = True
    if not isinstance(arrows, numbers.Integral) or isinstance(arrows, bool) or arrows < 0:
        raise ValueError(f"arrows {arrows!r}: expected a whole number of arrow heads per line, 0 or more")
    if linewidth is not None and (isinstance(linewidth, bool) or not isinstance(linewidth, numbers.Real)):
        raise TypeError(f"linewidth: expected a number, got {type(linewidth).__name__}")

    ds = tessaly.Dataset.from_arrays(x, y, u, v, scalars=scalars)
    ny, nx = ds.shape
    if dsep is None:
        dsep = float(np.clip(min(nx, ny) / 30.0, 1.0, 100.0))
    if mapped:
        index, world = ds._core.evenly_spaced(tessaly._number("dsep", dsep), tessaly._number("dtest", dtest),
                                              "euler", 1.55, "both", 500, 1000)
    else:
        index = world = ds.evenly_spaced(dsep=dsep, dtest=dtest)
    keep = [k for k, w in enumerate(world) if len(w) > 1]
    index = [index[k] for k in keep]
    world = [world[k] for k in keep]

    if transform is None:
        transform = ax.transData
    if linewidth is None:
        linewidth = mpl.rcParams["lines.linewidth"]
    kwargs = dict(lc_kwargs)
    kwargs.setdefault("capstyle", "round")
    if transform == ax.transData and world:
        # The axes take in the lines first: the coloured pieces' lengths follow the scale.
        allp = np.concatenate(world)
        ax.update_datalim(allp[np.isfinite(allp).all(axis=1)])
        ax.autoscale_view()
    if mapped:
        grid = ds.arrays(grid=True)
        if scalars is None:
            field = np.hypot(grid["u"], grid["v"])
        else:
            c = np.ma.masked_invalid(np.ma.asarray(scalars[0], dtype=np.float64))
            low, high = float(c.min()), float(c.max())
            field = low + (grid["channels"][..., 0].astype(np.float64) + 4.0) / 6.5 * (high - low)
        sampled = _sampler(field)
        piece = _piece_steps(world, transform)
        segments, values, firsts = [], [], []
        for w, i in zip(world, index):
            firsts.append(len(segments))
            s = sampled(i[:, 0], i[:, 1])
            steps = 0.5 * (s[:-1] + s[1:])  # each step coloured by its middle
            starts = np.arange(0, len(w) - 1, piece)
            segments += [w[a:a + piece + 1] for a in starts]
            counts = np.diff(np.append(starts, len(w) - 1))
            values.append(np.add.reduceat(steps, starts) / counts)
        values = np.concatenate(values) if values else np.empty(0)
        lc = LineCollection(segments, cmap=cmap, linewidths=linewidth, transform=transform, **kwargs)
        lc.set_array(np.ma.masked_invalid(values))
        arrow_colour = None
    else:
        if color is None:
            color = ax._get_lines.get_next_color()
        lc = LineCollection(world, colors=color, linewidths=linewidth, transform=transform, **kwargs)
        arrow_colour = color
    ax.add_collection(lc)

    lc.arrows = []
    if arrows > 0:
        if mapped:
            # Each head takes the colour of its line's middle piece.
            lc.update_scalarmappable()
            rgba = lc.get_facecolor() if len(lc.get_facecolor()) == len(values) else lc.get_edgecolor()
            ends = firsts[1:] + [len(rgba)]
            arrow_colour = [tuple(rgba[(a + b) // 2]) for a, b in zip(firsts, ends)]
        lc.arrows = _arrow_patches(world, int(arrows), transform, arrow_colour, linewidth, 6 + 2 * linewidth)
        for p in lc.arrows:
            ax.add_patch(p)

    return lc
