// tessaly._core: the numpy face of the adapter. Arrays come in as C-ordered float64 or float32
// (the Python package arranges that, copying only what is neither) and are read in place;
// every computation runs with the interpreter's lock released.

#include "python/src/Adapter.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>

namespace py = pybind11;
using namespace tessalypy;

namespace {

// The array's values in place; `size` values, C order, float64 or float32.
Field field(const py::array &a, std::size_t size, const char *name)
{
    if (!(a.flags() & py::array::c_style))
        throw ValueError(std::string(name) + ": expected a C-ordered array");
    if (std::size_t(a.size()) != size)
        throw ValueError(std::string(name) + ": expected " + std::to_string(size) + " values, found "
                         + std::to_string(a.size()));
    Field f;
    if (a.dtype().is(py::dtype::of<double>()))
        f.f64 = static_cast<const double *>(a.data());
    else if (a.dtype().is(py::dtype::of<float>()))
        f.f32 = static_cast<const float *>(a.data());
    else
        throw ValueError(std::string(name) + ": expected float64 or float32 values");
    return f;
}

void addMask(Field &f, const py::object &mask, std::size_t size, const char *name)
{
    if (mask.is_none())
        return;
    const py::array m = mask.cast<py::array>();
    if (m.dtype().kind() != 'b' || m.itemsize() != 1 || !(m.flags() & py::array::c_style) || std::size_t(m.size()) != size)
        throw ValueError(std::string(name) + ": the mask must be a C-ordered boolean array of the data's shape");
    f.mask = static_cast<const std::uint8_t *>(m.data());
}

Coords coordsOf(const std::string &c)
{
    if (c == "world")
        return Coords::World;
    if (c == "index")
        return Coords::Index;
    throw ValueError("coords " + c + ": expected world or index");
}

py::list toList(const Lines &lines)
{
    py::list out;
    for (std::size_t l = 0; l + 1 < lines.offsets.size(); ++l) {
        const std::size_t n = lines.offsets[l + 1] - lines.offsets[l];
        py::array_t<double> a({py::ssize_t(n), py::ssize_t(2)});
        std::memcpy(a.mutable_data(), lines.xy.data() + 2 * lines.offsets[l], n * 2 * sizeof(double));
        out.append(std::move(a));
    }
    return out;
}

ImportSettings importSettings(const py::object &range, double flowScale)
{
    ImportSettings s;
    if (!range.is_none()) {
        const auto r = range.cast<std::pair<double, double>>();
        s.haveRange = true;
        s.low = r.first;
        s.high = r.second;
    }
    s.flowScale = flowScale;
    return s;
}

// A dataset held by Python. Probes write the dataset's sampling scratch, so they hold the
// interpreter's lock (they are quick); everything else reads the dataset only.
struct Handle
{
    DatasetPtr d;
};

// Whole numbers far out of every range are held just outside it, so that the range check
// names them.
int held(long long v)
{
    return int(std::clamp(v, -(1LL << 30) - 1, (1LL << 30) + 1));
}

// A count of the line calls, held to -1 ... 2^30 (the range check names what is left).
int count(long long v)
{
    return int(std::clamp(v, -1LL, 1LL << 30));
}

py::tuple pointArrays(const Handle &h, bool grid)
{
    Points p;
    {
        py::gil_scoped_release release;
        p = points(*h.d, grid);
    }
    const Info i = info(*h.d);
    const py::ssize_t ny = i.ny, nx = i.nx;
    py::array_t<double> pos({ny, nx, py::ssize_t(2)}), dir({ny, nx, py::ssize_t(2)});
    py::array_t<float> values({ny, nx, py::ssize_t(p.channels)});
    // An empty dataset or one without channels has empty vectors, whose data() may be null:
    // memcpy must not see it even for zero bytes.
    const auto copy = [](void *to, const auto &from) {
        if (!from.empty())
            std::memcpy(to, from.data(), from.size() * sizeof(from[0]));
    };
    copy(pos.mutable_data(), p.pos);
    copy(dir.mutable_data(), p.dir);
    copy(values.mutable_data(), p.values);
    return py::make_tuple(pos, dir, values);
}

py::object evenlySpacedLines(const Handle &h, double dsep, double dtest, const std::string &method, double dt,
                             const std::string &coords, long long maxSeeds, long long maxSteps)
{
    LineSettings s;
    s.dSep = dsep;
    s.dTest = dtest;
    s.method = method;
    s.dt = dt;
    s.maxSeeds = count(maxSeeds);
    s.maxSteps = count(maxSteps);
    // "both" (for tessaly.plot): index and world lines of one run.
    const bool both = coords == "both";
    const Coords c = both ? Coords::Index : coordsOf(coords);
    Lines lines, world;
    {
        py::gil_scoped_release release;
        lines = evenlySpaced(*h.d, s, c);
        if (both)
            world = worldLines(*h.d, lines);
    }
    if (both)
        return py::make_tuple(toList(lines), toList(world));
    return toList(lines);
}

py::list regularLines(const Handle &h, const py::object &seeds, const std::string &method, double dt,
                      long long maxLength, const std::string &coords)
{
    LineSettings s;
    s.method = method;
    s.dt = dt;
    s.maxLength = count(maxLength);
    const Coords c = coordsOf(coords);
    std::vector<double> xy;
    if (!seeds.is_none()) {
        const auto a = seeds.cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
        xy.assign(a.data(), a.data() + a.size());
    }
    Lines lines;
    {
        py::gil_scoped_release release;
        lines = streamlines(*h.d, seeds.is_none() ? nullptr : &xy, s, c);
    }
    return toList(lines);
}

py::dict probeReport(Handle &h, double x, double y)
{
    const Probe p = probe(*h.d, x, y);
    const auto triple = [](const double *v) { return py::make_tuple(v[0], v[1], v[2]); };
    py::list values;
    for (float v : p.values)
        values.append(double(v));
    py::dict d;
    d["position"] = py::make_tuple(double(p.x), double(p.y));
    d["mPos"] = triple(p.pos);
    d["mDir"] = triple(p.dir);
    d["values"] = values;
    d["outPutPos"] = triple(p.outPutPos);
    if (p.haveMeta) {
        py::list real, units;
        for (std::size_t c = 0; c < p.values.size(); ++c) {
            real.append(std::isfinite(p.real[c]) ? py::object(py::float_(p.real[c])) : py::object(py::none()));
            units.append(p.known[c] ? py::object(py::str(p.units[c])) : py::object(py::none()));
        }
        d["real"] = real;
        d["units"] = units;
    }
    return d;
}

// The render options as the package passes them: tessaly-render's names with underscores.
RenderSettings renderSettings(const py::dict &o)
{
    RenderSettings s;
    for (const auto &item : o) {
        const std::string k = item.first.cast<std::string>();
        const py::handle v = item.second;
        const auto whole = [&] { return held(v.cast<long long>()); };
        if (k == "view") s.view = v.cast<std::string>();
        else if (k == "zoom") s.zoom = whole();
        else if (k == "pan_x") s.panX = whole();
        else if (k == "pan_y") s.panY = whole();
        else if (k == "pressure") s.pressure = v.cast<bool>();
        else if (k == "intensity") s.intensity = v.cast<bool>();
        else if (k == "black") s.black = v.cast<bool>();
        else if (k == "colorbar") s.colorBar = v.cast<bool>();
        else if (k == "fit") s.fit = v.cast<bool>();
        else if (k == "method") s.lines.method = v.cast<std::string>();
        else if (k == "dt") s.lines.dt = v.cast<double>();
        else if (k == "max_length") s.lines.maxLength = whole();
        else if (k == "antialias") s.antialias = v.cast<bool>();
        else if (k == "view_rect") {
            const auto r = v.cast<std::vector<long long>>();
            if (r.size() != 4)
                throw ValueError("view_rect: expected (X1, Y1, X2, Y2)");
            for (int i = 0; i < 4; ++i)
                s.rect[i] = held(r[i]);
            s.haveRect = true;
        } else if (k == "dsep") s.lines.dSep = v.cast<double>();
        else if (k == "dtest") s.lines.dTest = v.cast<double>();
        else if (k == "max_seeds") s.lines.maxSeeds = whole();
        else if (k == "max_steps") s.lines.maxSteps = whole();
        else if (k == "north_up") s.northUp = v.cast<bool>();
        else if (k == "figure") s.figure = v.cast<std::vector<std::pair<std::string, std::string>>>();
        else throw ValueError("render: unknown option " + k);
    }
    return s;
}

py::array_t<std::uint8_t> picture(const Handle &h, const py::dict &options)
{
    const RenderSettings s = renderSettings(options);
    Image image;
    {
        py::gil_scoped_release release;
        image = render(*h.d, s);
    }
    py::array_t<std::uint8_t> a({py::ssize_t(image.height), py::ssize_t(image.width), py::ssize_t(4)});
    std::memcpy(a.mutable_data(), image.rgba.data(), image.rgba.size());
    return a;
}

void bindDataset(py::module_ &m)
{
    py::class_<Handle>(m, "Dataset")
        .def("info",
             [](const Handle &h) {
                 const Info i = info(*h.d);
                 return py::make_tuple(py::make_tuple(i.ny, i.nx), py::make_tuple(i.xmin, i.xmax, i.ymin, i.ymax),
                                       i.channels);
             })
        .def("points", &pointArrays)
        .def("evenly_spaced", &evenlySpacedLines, py::arg("dsep"), py::arg("dtest"), py::arg("method"), py::arg("dt"),
             py::arg("coords"), py::arg("max_seeds"), py::arg("max_steps"))
        .def("evenly_spaced_timed",
             // The lines and the seeding call's own time, for the benchmark.
             [](const Handle &h, double dsep) {
                 LineSettings s;
                 s.dSep = dsep;
                 Lines lines;
                 double seconds = 0.0;
                 {
                     py::gil_scoped_release release;
                     lines = evenlySpaced(*h.d, s, Coords::World, &seconds);
                 }
                 return py::make_tuple(toList(lines), seconds);
             })
        .def("streamlines", &regularLines)
        .def("metadata_json", [](const Handle &h) { return metadataJson(*h.d); })
        .def("probe", &probeReport)
        .def("render", &picture);
}

Handle datasetOfArrays(int nx, int ny, bool curvilinear, const py::array &x, const py::object &xMask, const py::array &y,
                       const py::object &yMask, const py::array &u, const py::object &uMask, const py::array &v,
                       const py::object &vMask, const py::list &scalars, const py::object &range, double flowScale)
{
    if (nx < 0 || ny < 0)
        throw ValueError("negative grid counts");
    const std::size_t n = std::size_t(nx) * std::size_t(ny);
    Arrays a;
    a.nx = nx;
    a.ny = ny;
    a.curvilinear = curvilinear;
    a.x = field(x, curvilinear ? n : std::size_t(nx), "x");
    addMask(a.x, xMask, curvilinear ? n : std::size_t(nx), "x");
    a.y = field(y, curvilinear ? n : std::size_t(ny), "y");
    addMask(a.y, yMask, curvilinear ? n : std::size_t(ny), "y");
    a.u = field(u, n, "u");
    addMask(a.u, uMask, n, "u");
    a.v = field(v, n, "v");
    addMask(a.v, vMask, n, "v");
    for (const py::handle item : scalars) {
        const py::tuple pair = item.cast<py::tuple>();
        Field f = field(pair[0].cast<py::array>(), n, "scalars");
        addMask(f, pair[1].cast<py::object>(), n, "scalars");
        a.scalars.push_back(f);
    }
    const ImportSettings s = importSettings(range, flowScale);
    DatasetPtr d;
    {
        py::gil_scoped_release release;
        d = fromArrays(a, s);
    }
    return Handle{d};
}

py::tuple importedFile(const std::string &path, const std::string &u, const std::string &v, const std::string &scalar,
                       const py::object &time, const py::object &level, const py::object &range, double flowScale)
{
    ImportChoice c;
    c.u = u;
    c.v = v;
    c.scalar = scalar;
    const auto index = [](const py::object &o, const char *name, int &value, bool &given) {
        if (o.is_none())
            return;
        const long long k = o.cast<long long>();
        if (k < 0 || k > INT_MAX)
            throw ValueError(std::string(name) + " needs an index 0, 1, 2, ..., not " + std::to_string(k));
        value = int(k);
        given = true;
    };
    index(time, "time", c.time, c.timeGiven);
    index(level, "level", c.level, c.levelGiven);
    const ImportSettings s = importSettings(range, flowScale);
    DatasetPtr d;
    std::vector<std::string> warnings;
    {
        py::gil_scoped_release release;
        d = importFile(path, c, s, &warnings);
    }
    return py::make_tuple(Handle{d}, warnings);
}

} // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "Tessaly's engine: datasets, evenly spaced streamlines, the views' pictures.";

    static py::exception<LoadError> loadError(m, "LoadError");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const LoadError &e) {
            loadError(e.what());
        } catch (const ValueError &e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    bindDataset(m);
    m.def("load", [](const std::string &path) {
        Loaded l;
        {
            py::gil_scoped_release release;
            l = load(path);
        }
        return py::make_tuple(Handle{l.dataset}, l.warning);
    });
    m.def("from_arrays", &datasetOfArrays);
    m.def("import_file", &importedFile);
}
