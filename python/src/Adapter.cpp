#include "python/src/Adapter.h"

#include "arrowplot/ArrowRender.h"
#include "data/Dataset.h"
#include "data/DatasetCheck.h"
#include "data/Metadata.h"
#include "tools/render/Figure.h"
#include "tools/import/GridChecks.h"
#include "tools/import/ImportGrid.h"
#include "streamlines/LineData.h"
#include "tools/import/NetcdfReader.h"
#include "tools/import/PairOutput.h"
#include "tools/render/Pipeline.h"
#include "data/SinglePrecision.h"
#include "streamlines/StreamlineRender.h"
#include "streamlines/StreamlineRuns.h"
#include "tools/import/TableReader.h"
#include "data/Volume.h"
#include "volinfo/VolumeReport.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <atomic>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <mutex>

namespace tessalypy {

// The core's dataset, and its two volumes for the calls below.
class Dataset
{
public:
    explicit Dataset(std::shared_ptr<const ::Dataset> d) : core(std::move(d)), loaded(&core->loaded()), grid(&core->grid()) {}
    std::shared_ptr<const ::Dataset> core;
    const Volume *loaded;
    const Volume *grid;
    std::shared_ptr<const metadata::Metadata> meta; // NAME.meta.json of a loaded pair; null: none
};

namespace {

// ---------------------------------------------------------------- console

// The core traces its work on the console (qDebug). Inside a call of this module that trace
// is dropped, or collected where a refusal's reason is in it; outside, messages go to the
// handler that was installed before (another Qt user in the same interpreter).
QtMessageHandler gPrevious = nullptr;
std::atomic<int> gActive{0};
thread_local QStringList *tCapture = nullptr;

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (tCapture) {
        tCapture->append(message);
        return;
    }
    if (gActive.load() > 0)
        return;
    if (gPrevious)
        gPrevious(type, context, message);
}

void installHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { gPrevious = qInstallMessageHandler(messageHandler); });
}

// Marks one call of the module; with `capture`, this thread's messages are collected there.
class Quiet
{
public:
    explicit Quiet(QStringList *capture = nullptr) : mPrevious(tCapture)
    {
        installHandler();
        ++gActive;
        if (capture)
            tCapture = capture;
    }
    ~Quiet()
    {
        tCapture = mPrevious;
        --gActive;
    }
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    QStringList *mPrevious;
};

std::string text(const QString &s)
{
    return s.toStdString();
}

// Shortest text that reads back as the same number, for messages.
std::string number(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------- arguments

// The ranges and messages of tessaly-render's options, named as the Python arguments.
double checkNumber(const char *name, double v, double lo, double hi)
{
    if (!std::isfinite(v) || v < lo || v > hi)
        throw ValueError(std::string(name) + " " + number(v) + ": expected a number from " + number(lo) + " to "
                         + number(hi));
    return v;
}

int checkWhole(const char *name, long long v, int hi)
{
    if (v < 1 || v > hi)
        throw ValueError(std::string(name) + " " + std::to_string(v) + ": expected a whole number from 1 to "
                         + std::to_string(hi));
    return int(v);
}

int method(const std::string &m)
{
    if (m == "euler")
        return Euler;
    if (m == "rk" || m == "runge-kutta")
        return RungeKutta;
    throw ValueError("method " + m + ": expected euler or rk");
}

double checkDt(double dt)
{
    checkNumber("dt", dt, 0.0, 7.5);
    if (!(dt > 0.0))
        throw ValueError("dt " + number(dt) + ": the step must be above 0");
    return dt;
}

pipeline::StreamSettings evenlySettings(const EvenlySettings &e)
{
    pipeline::StreamSettings s;
    s.evenly = true;
    s.method = method(e.method);
    s.dt = checkDt(e.dt);
    s.dSep = roundToSingle(checkNumber("dsep", e.dSep, 1, 100));
    s.dTest = roundToSingle(checkNumber("dtest", e.dTest, 0.01, 1));
    s.maxSeeds = checkWhole("max_seeds", e.maxSeeds, 1000000);
    s.maxSteps = checkWhole("max_steps", e.maxSteps, 100000);
    return s;
}

pipeline::StreamSettings regularSettings(const StreamSettings &r)
{
    pipeline::StreamSettings s;
    s.evenly = false;
    s.method = method(r.method);
    s.dt = checkDt(r.dt);
    s.maxLength = checkWhole("max_length", r.maxLength, 100000);
    return s;
}

// The seeding of a run on the dataset (the core's StreamlineRuns), with the settings the
// tool derives from its options, as a run the tool's line and picture functions take.
pipeline::StreamRun runOn(const ::Dataset &d, const pipeline::StreamSettings &s)
{
    StreamlineSettings settings;
    settings.dt = s.dt;
    settings.method = s.method;
    settings.maxLength = s.maxLength;
    settings.antialiased = s.antialias;
    settings.wholeGrid = !s.haveRect;
    settings.view = s.rect;
    settings.dSep = s.dSep;
    settings.dTest = s.dTest;
    settings.maxSeeds = s.maxSeeds;
    settings.maxSteps = s.maxSteps;
    // As tessaly-render: beyond the view's limits a stalled half line ends at once.
    settings.stopAtRest = s.maxSeeds != streamlineDefaults::kMaxSeeds || s.maxSteps != streamlineDefaults::kMaxSteps;
    settings.writeGridLog = false;
    StreamlineResult result = s.evenly ? evenlySpacedStreamlines(d, settings) : regularStreamlines(d, settings);
    pipeline::StreamRun run;
    run.size = result.size;
    run.rect = result.view;
    run.settings = s;
    run.seeds = std::move(result.seeds);
    run.lines = std::move(result.lines);
    run.separation = std::move(result.separation);
    return run;
}

Lines toLines(const QVector<Streamline> &lines, const Volume &loaded, Coords coords)
{
    Lines out;
    std::size_t n = 0;
    for (const Streamline &l : lines)
        n += std::size_t(l.size());
    out.xy.reserve(2 * n);
    out.offsets.reserve(std::size_t(lines.size()) + 1);
    for (const Streamline &l : lines) {
        for (const Vector3 &p : l) {
            if (coords == Coords::World) {
                // tessaly-render's CSV: world_x, world_y of the index position.
                const Vector3 w = loaded.getWorldPos(p.x, p.y);
                out.xy.push_back(w.x);
                out.xy.push_back(w.y);
            } else {
                out.xy.push_back(p.x);
                out.xy.push_back(p.y);
            }
        }
        out.offsets.push_back(out.xy.size() / 2);
    }
    return out;
}

// ---------------------------------------------------------------- datasets from a grid

// The importer's dataset, loaded: the points tessaly-import's writer fills, read back as the
// loader reads them (floats widened, the extent by whole corner positions), then the regular
// grid of the same counts. `extra` are channels 2, 3, ... as given.
template <typename Error>
DatasetPtr datasetFrom(tessimport::Grid &g, const std::vector<Field> &extra, const ImportSettings &settings,
                       const QString *input = nullptr)
{
    QString error = tessimport::orient(g);
    if (error.isEmpty())
        error = tessimport::positionProblem(g);
    if (!error.isEmpty())
        throw Error(text(error));
    if (tessimport::missingFlow(g) == g.points()) {
        const QString beyond = g.flowBeyondFloat == 0
                                   ? QString()
                                   : QStringLiteral(": %1 %2 or %3 values lie beyond the float range (about ±3.4e38) and count as missing")
                                         .arg(g.flowBeyondFloat)
                                         .arg(g.uName, g.vName);
        throw Error(text(QStringLiteral("%1 and %2 have no value at any point%3").arg(g.uName, g.vName, beyond)));
    }
    if (settings.haveRange
        && !(std::isfinite(settings.low) && std::isfinite(settings.high) && settings.low < settings.high))
        throw ValueError("scalar_range (" + number(settings.low) + ", " + number(settings.high)
                         + "): expected (LO, HI) with LO < HI");
    if (!std::isfinite(settings.flowScale) || !(settings.flowScale > 0.0) || settings.flowScale > 1e30)
        throw ValueError("flow_scale " + number(settings.flowScale) + ": expected a number above 0");
    // A file's import knows what its numbers mean: the metadata tessaly-import writes beside
    // the pair. The mapping is the core's own (the same function on the same field).
    std::shared_ptr<const metadata::Metadata> meta;
    if (input) {
        tessimport::ScalarMapping m;
        QString why;
        if (tessimport::scalarMapping(g, settings.haveRange, settings.low, settings.high, m, why))
            meta = std::make_shared<const metadata::Metadata>(tessimport::describe(g, m, settings.flowScale, *input));
    }
    // The field's rules (orientation, mapping, single precision, the extent) are the core's;
    // g is oriented already, so the core's own orient() leaves it as it is.
    const bool reversedX = g.reversedX, reversedY = g.reversedY;
    const int nx = g.nx, ny = g.ny;
    ::Dataset::FieldOptions options;
    options.haveRange = settings.haveRange;
    options.low = settings.low;
    options.high = settings.high;
    options.flowScale = settings.flowScale;
    const DatasetResult r = ::Dataset::fromArrays(std::move(g), options);
    if (!r) {
        // The core words an unusable extent as the loader's console line; nothing was loaded
        // from a file here, so the reason stands alone, as tessaly-import gives it.
        QString why = r.error.message;
        const QString loader = dataset::unusableMessage(QString());
        if (why.startsWith(loader))
            why = why.mid(loader.size());
        throw Error(text(why));
    }
    if (extra.empty()) {
        auto made = std::make_shared<Dataset>(r.dataset);
        made->meta = std::move(meta);
        return made;
    }

    // Further scalars: the core's points with channels 2, 3, ... appended, and the grid
    // resampled from them (the resampling carries every channel).
    const Volume &core = r.dataset->loaded();
    const PointStore &from = core.store();
    auto loaded = std::make_unique<Volume>(nx, ny, 1);
    const int channels = field::kChannels + int(extra.size());
    PointStore &store = loaded->store();
    if (loaded->pointCount() != from.size() || !store.setChannelsUnfilled(channels))
        throw Error(text(QStringLiteral("Cannot hold the dataset of %1 x %2 points.").arg(nx).arg(ny)));
    // The extra channels were given in the input's orientation; orient() may have reversed
    // columns and rows of everything else.
    const auto source = [&](int i, int j) {
        const int si = reversedX ? nx - 1 - i : i;
        const int sj = reversedY ? ny - 1 - j : j;
        return std::size_t(sj) * std::size_t(nx) + std::size_t(si);
    };
    const std::size_t stride = std::size_t(store.stride()), fromStride = std::size_t(from.stride());
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const std::size_t k = std::size_t(j) * std::size_t(nx) + std::size_t(i);
            store.pos()[k] = from.pos()[k];
            store.dir()[k] = from.dir()[k];
            store.count()[k] = channels;
            float *v = store.values() + k * stride;
            for (int c = 0; c < field::kChannels; ++c)
                v[c] = from.values()[k * fromStride + std::size_t(c)];
            const std::size_t sk = source(i, j);
            for (std::size_t c = 0; c < extra.size(); ++c)
                v[field::kChannels + c] = roundToSingle(extra[c].at(sk));
        }
    }
    loaded->mMinPos = core.mMinPos;
    loaded->mMaxPos = core.mMaxPos;
    auto made = ::Dataset::fromVolumes(std::move(loaded));
    if (made->grid().pointCount() == 0)
        throw Error(text(QStringLiteral("Cannot hold the regular grid of %1 x %2 points.").arg(nx).arg(ny)));
    return std::make_shared<Dataset>(made);
}

// A QGuiApplication for the pictures (fonts of the colour bar, the painter's raster engine),
// made once when none exists, on the offscreen platform whatever QT_QPA_PLATFORM says (a
// platform without a display would end the process). Qt sets the C locale from the
// environment as it starts; the interpreter's is put back.
void ensureGuiApplication()
{
    static std::once_flag once; // pictures may be asked for from several threads at once
    std::call_once(once, [] {
        if (QCoreApplication::instance())
            return;
        static int argc = 3;
        static char arg0[] = "tessaly", arg1[] = "-platform", arg2[] = "offscreen";
        static char *argv[] = {arg0, arg1, arg2, nullptr};
        const char *current = std::setlocale(LC_ALL, nullptr);
        const std::string locale = current ? current : "C";
        new QGuiApplication(argc, argv); // lives as long as the process
        std::setlocale(LC_ALL, locale.c_str());
    });
}

} // namespace

// ---------------------------------------------------------------- loading

Loaded load(const std::string &gridFile)
{
    DatasetResult r;
    {
        Quiet quiet;
        r = loadDataset(QString::fromStdString(gridFile));
    }
    if (!r) {
        // Warnings of the read come first, as tessaly-render gives them.
        const QStringList reasons = r.state ? r.state->warnings() + QStringList{r.error.message} : QStringList{r.error.message};
        throw LoadError(text(QStringLiteral("cannot load %1: %2")
                                 .arg(QString::fromStdString(gridFile), reasons.join(QStringLiteral("; ")))));
    }
    Loaded result;
    result.dataset = std::make_shared<Dataset>(r.dataset);
    QStringList remarks = r.dataset->warnings();
    // The metadata as tessaly-render takes it: a file that does not fit the pair is ignored
    // with a remark.
    const metadata::Loaded meta =
        metadata::load(QString::fromStdString(gridFile), r.dataset->loaded().getDimX(), r.dataset->loaded().getDimY());
    if (meta.status == metadata::Status::Loaded)
        result.dataset->meta = std::make_shared<const metadata::Metadata>(meta.meta);
    else if (meta.status == metadata::Status::Ignored)
        remarks.append(meta.warning);
    result.warning = text(remarks.join(QStringLiteral("; ")));
    return result;
}

std::string metadataJson(const Dataset &d)
{
    return d.meta ? metadata::toJson(*d.meta).toStdString() : std::string();
}

DatasetPtr fromArrays(const Arrays &a, const ImportSettings &settings)
{
    Quiet quiet;
    if (a.nx < 2 || a.ny < 2)
        throw ValueError(text(QStringLiteral("a grid needs at least 2 x 2 points, found %1 x %2").arg(a.nx).arg(a.ny)));
    if (std::size_t(a.nx) > tessimport::kMaxPoints / std::size_t(a.ny))
        throw ValueError(text(QStringLiteral("%1 x %2 points, more than the %3 that can be imported")
                                  .arg(a.nx)
                                  .arg(a.ny)
                                  .arg(tessimport::kMaxPoints)));
    tessimport::Grid g;
    g.nx = a.nx;
    g.ny = a.ny;
    g.curvilinear = a.curvilinear;
    g.xAxis.name = QStringLiteral("x");
    g.yAxis.name = QStringLiteral("y");
    g.uName = QStringLiteral("u");
    g.vName = QStringLiteral("v");
    g.scalarName = QStringLiteral("scalar");
    const std::size_t n = g.points();
    const std::size_t nxs = a.curvilinear ? n : std::size_t(a.nx);
    const std::size_t nys = a.curvilinear ? n : std::size_t(a.ny);
    g.xs.resize(nxs);
    g.ys.resize(nys);
    for (std::size_t k = 0; k < nxs; ++k)
        g.xs[k] = a.x.at(k);
    for (std::size_t k = 0; k < nys; ++k)
        g.ys[k] = a.y.at(k);
    // Single precision as the readers store a value they read as a double: beyond the float
    // range (or infinite) the value is missing.
    const auto single = [](double v, std::size_t *beyond = nullptr) {
        const float f = roundToSingle(v);
        if (beyond && !std::isfinite(f) && !std::isnan(v))
            ++*beyond;
        return std::isfinite(f) ? f : NAN;
    };
    g.u.resize(n);
    g.v.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        g.u[k] = single(a.u.at(k), &g.flowBeyondFloat);
        g.v[k] = single(a.v.at(k), &g.flowBeyondFloat);
    }
    std::vector<Field> extra;
    if (!a.scalars.empty()) {
        g.scalar.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            g.scalar[k] = single(a.scalars[0].at(k));
        extra.assign(a.scalars.begin() + 1, a.scalars.end());
    }
    return datasetFrom<ValueError>(g, extra, settings);
}

DatasetPtr importFile(const std::string &path, const ImportChoice &choice, const ImportSettings &settings,
                      std::vector<std::string> *warnings)
{
    Quiet quiet;
    const QString input = QString::fromStdString(path);
    QString error;
    // Regular files only (a named pipe would block the read).
    if (!tessimport::checkInput(input, error))
        throw LoadError(text(error));
    QFile in(input);
    if (!in.open(QIODevice::ReadOnly))
        throw LoadError(text(QStringLiteral("cannot read %1: %2").arg(input, in.errorString())));
    const bool netcdf = tessimport::looksLikeNetcdf(in.peek(8));
    if (!netcdf && (choice.timeGiven || choice.levelGiven))
        throw ValueError(text(QStringLiteral("time and level choose NetCDF slices; %1 is not a NetCDF file").arg(input)));
    tessimport::Grid g;
    if (netcdf) {
        in.close();
        tessimport::NetcdfChoice c;
        c.u = QString::fromStdString(choice.u);
        c.v = QString::fromStdString(choice.v);
        c.scalar = QString::fromStdString(choice.scalar);
        c.time = choice.time;
        c.level = choice.level;
        c.timeGiven = choice.timeGiven;
        c.levelGiven = choice.levelGiven;
        if (!tessimport::readNetcdf(input, c, g, error))
            throw LoadError(text(error));
    } else {
        const QByteArray bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            throw LoadError(text(QStringLiteral("cannot read %1: %2").arg(input, in.errorString())));
        in.close();
        tessimport::TableColumns c;
        c.u = QString::fromStdString(choice.u);
        c.v = QString::fromStdString(choice.v);
        c.scalar = QString::fromStdString(choice.scalar);
        QStringList remarks;
        if (!tessimport::readTable(bytes, c, g, error, &remarks))
            throw LoadError(text(error));
        if (warnings)
            for (const QString &w : remarks)
                warnings->push_back(text(w));
    }
    return datasetFrom<LoadError>(g, {}, settings, &input);
}

Info info(const Dataset &d)
{
    Info i;
    i.nx = d.grid->getDimX();
    i.ny = d.grid->getDimY();
    i.xmin = d.loaded->mMinPos.x;
    i.xmax = d.loaded->mMaxPos.x;
    i.ymin = d.loaded->mMinPos.y;
    i.ymax = d.loaded->mMaxPos.y;
    const PointStore &s = d.loaded->store();
    i.channels = s.size() ? s.count()[0] : 0;
    return i;
}

Points points(const Dataset &d, bool grid)
{
    const PointStore &s = (grid ? d.grid : d.loaded)->store();
    Points p;
    p.channels = s.size() ? s.count()[0] : 0;
    p.pos.resize(2 * s.size());
    p.dir.resize(2 * s.size());
    p.values.resize(s.size() * std::size_t(p.channels));
    for (std::size_t k = 0; k < s.size(); ++k) {
        p.pos[2 * k] = s.pos()[k].x;
        p.pos[2 * k + 1] = s.pos()[k].y;
        p.dir[2 * k] = s.dir()[k].x;
        p.dir[2 * k + 1] = s.dir()[k].y;
        const float *v = s.values() + k * std::size_t(s.stride());
        for (int c = 0; c < p.channels; ++c)
            p.values[k * std::size_t(p.channels) + std::size_t(c)] = c < s.count()[k] ? v[c] : 0.0f;
    }
    return p;
}

// ---------------------------------------------------------------- streamlines

Lines evenlySpaced(const Dataset &d, const EvenlySettings &e, Coords coords, double *seedingSeconds)
{
    const pipeline::StreamSettings s = evenlySettings(e);
    Quiet quiet;
    const auto start = std::chrono::steady_clock::now();
    const pipeline::StreamRun run = runOn(*d.core, s);
    if (seedingSeconds)
        *seedingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return toLines(pipeline::dataLines(run, *d.grid), *d.loaded, coords);
}

Lines worldLines(const Dataset &d, const Lines &index)
{
    Lines out = index;
    for (std::size_t k = 0; k + 1 < out.xy.size(); k += 2) {
        const Vector3 w = d.loaded->getWorldPos(index.xy[k], index.xy[k + 1]);
        out.xy[k] = w.x;
        out.xy[k + 1] = w.y;
    }
    return out;
}

Lines streamlines(const Dataset &d, const std::vector<double> *seeds, const StreamSettings &r, Coords coords)
{
    const pipeline::StreamSettings s = regularSettings(r);
    Quiet quiet;
    pipeline::StreamRun run = runOn(*d.core, s);
    if (seeds) {
        run.seeds.clear();
        const Volume &l = *d.loaded;
        // World positions into index space: the inverse of getWorldPos, with its scales.
        const double sx = (l.getWorldPos(1.0, 0.0).x - l.getWorldPos(0.0, 0.0).x);
        const double sy = (l.getWorldPos(0.0, 1.0).y - l.getWorldPos(0.0, 0.0).y);
        for (std::size_t k = 0; k + 1 < seeds->size(); k += 2) {
            double x = (*seeds)[k], y = (*seeds)[k + 1];
            if (coords == Coords::World) {
                x = sx != 0.0 ? (x - l.mMinPos.x) / sx : 0.0;
                y = sy != 0.0 ? (y - l.mMinPos.y) / sy : 0.0;
            }
            run.seeds.append(Vector3(x, y, 0.0));
        }
    }
    return toLines(pipeline::dataLines(run, *d.grid), *d.loaded, coords);
}

// ---------------------------------------------------------------- report and picture

Probe probe(Dataset &d, double x, double y)
{
    // tessaly-render --probe's range.
    for (const auto &[name, v] : {std::pair<const char *, double>{"x", x}, {"y", y}})
        if (!std::isfinite(v) || v < 0.0 || v > 1e9)
            throw ValueError(std::string(name) + " " + number(v) + ": not a position from 0 to 1e9");
    const float px = roundToSingle(x), py = roundToSingle(y);
    const Volume &l = *d.loaded;
    if (px > l.getDimX() - 1 || py > l.getDimY() - 1)
        throw ValueError("probe (" + number(x) + ", " + number(y) + "): outside the dataset, whose positions run from 0 to "
                         + std::to_string(l.getDimX() - 1) + " along x and 0 to " + std::to_string(l.getDimY() - 1)
                         + " along y");
    Quiet quiet;
    const volumereport::Report r = volumereport::sample(*d.core, px, py);
    Probe p;
    p.x = r.x;
    p.y = r.y;
    const Vector3 *v[3] = {&r.point.mPos, &r.point.mDir, &r.outPutPos};
    double *out[3] = {p.pos, p.dir, p.outPutPos};
    for (int i = 0; i < 3; ++i) {
        out[i][0] = v[i]->x;
        out[i][1] = v[i]->y;
        out[i][2] = v[i]->z;
    }
    p.values.assign(r.point.mValues.begin(), r.point.mValues.end());
    if (d.meta) {
        // tessaly-render --probe --json's "real" and "units".
        p.haveMeta = true;
        for (std::size_t c = 0; c < p.values.size(); ++c) {
            const double v = d.meta->realValue(int(c), double(p.values[c]));
            p.real.push_back(std::isfinite(v) ? v : NAN);
            p.known.push_back(d.meta->knows(int(c)));
            p.units.push_back(p.known.back() ? text(d.meta->units(int(c))) : std::string());
        }
    }
    return p;
}

namespace {

// Largest picture tessaly-render draws.
constexpr long long kMaxPixels = 1LL << 28;
constexpr int kMaxSide = 32767;

Image toImage(const QImage &image);

void checkPicture(int w, int h)
{
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || (long long)w * h > kMaxPixels)
        throw ValueError(text(QStringLiteral("a picture of %1 x %2 pixels is beyond the limit of %3 pixels a side and %4 in all")
                                  .arg(w)
                                  .arg(h)
                                  .arg(kMaxSide)
                                  .arg(kMaxPixels)));
}

} // namespace

Image render(const Dataset &d, const RenderSettings &r)
{
    const Volume &grid = *d.grid;
    const bool arrows = r.view == "arrows";
    if (!arrows && r.view != "streamlines" && r.view != "evenly")
        throw ValueError("view " + r.view + ": expected arrows, streamlines or evenly");
    pipeline::ArrowSettings a;
    pipeline::StreamSettings s;
    if (arrows) {
        if (r.zoom < 1 || r.zoom > pipeline::kMaxZoom)
            throw ValueError("zoom " + std::to_string(r.zoom) + ": expected a whole number from 1 to 15");
        for (int p : {r.panX, r.panY})
            if (p < -pipeline::kMaxPan || p > pipeline::kMaxPan)
                throw ValueError("pan: expected 2 whole numbers, each within +-" + std::to_string(pipeline::kMaxPan));
        a.zoom = r.zoom;
        a.panX = r.panX;
        a.panY = r.panY;
        a.pressure = r.pressure;
        a.intensity = r.intensity;
        a.black = r.black;
        a.fit = r.fit;
    } else if (r.view == "evenly") {
        EvenlySettings e;
        e.dSep = r.dSep;
        e.dTest = r.dTest;
        e.method = r.method;
        e.dt = r.dt;
        e.maxSeeds = r.maxSeeds;
        e.maxSteps = r.maxSteps;
        s = evenlySettings(e);
    } else {
        StreamSettings t;
        t.method = r.method;
        t.dt = r.dt;
        t.maxLength = r.maxLength;
        s = regularSettings(t);
    }
    if (!arrows) {
        s.antialias = r.antialias;
        if (r.haveRect) {
            constexpr int kLimit = pipeline::kMaxViewCoordinate;
            for (int v : r.rect)
                if (v < -kLimit || v > kLimit)
                    throw ValueError("view_rect: expected 4 whole numbers, each within +-" + std::to_string(kLimit));
            if (r.rect[2] <= r.rect[0] || r.rect[3] <= r.rect[1])
                throw ValueError("view_rect: X1 < X2 and Y1 < Y2 are needed");
            s.haveRect = true;
            s.rect = ViewRect{r.rect[0], r.rect[1], r.rect[2], r.rect[3]};
        }
    }

    // The figure options, read by the tool's own parser (the same ranges and messages).
    figure::Settings figureSettings;
    bool figureMode = false;
    {
        const auto given = [&](const char *name) -> const std::string * {
            for (const auto &[k, v] : r.figure)
                if (k == name)
                    return &v;
            return nullptr;
        };
        const auto has = [&](const char *name) {
            const std::string n(name);
            return given(name) != nullptr || (n == "colorbar" && r.colorBar) || (n == "north-up" && r.northUp);
        };
        const auto value = [&](const char *name) {
            const std::string *v = given(name);
            return v ? QString::fromStdString(*v) : QString();
        };
        QString error;
        if (!figure::parse(has, value, figureSettings, &figureMode, &error))
            throw ValueError(text(error));
        figureSettings.meta = d.meta.get();
    }

    Quiet quiet;
    ensureGuiApplication();
    if (figureMode) {
        figure::Figure f;
        QString error;
        int status = 0;
        if (arrows) {
            const QSize size = pipeline::arrowPictureSize(grid, a);
            checkPicture(size.width(), size.height());
            const int maxZoom = pipeline::maxArrowZoom(size);
            if (a.zoom > maxZoom)
                throw ValueError(text(QStringLiteral("zoom %1 leaves no cells of a %2 x %3 picture (largest zoom %4)")
                                          .arg(a.zoom)
                                          .arg(size.width())
                                          .arg(size.height())
                                          .arg(maxZoom)));
            status = figure::arrowFigure(figureSettings, grid, a, f, &error);
        } else {
            checkPicture(grid.getDimX(), grid.getDimY());
            const pipeline::StreamRun run = runOn(*d.core, s);
            status = figure::streamlineFigure(figureSettings, run, grid, f, &error);
        }
        if (status != 0)
            throw ValueError(text(error));
        checkPicture(f.canvas.width(), f.canvas.height());
        const QImage image = figure::rasterise(f);
        if (image.isNull())
            throw ValueError(text(QStringLiteral("no memory for a %1 x %2 picture").arg(f.canvas.width()).arg(f.canvas.height())));
        return toImage(image);
    }
    QImage image;
    QSize size;
    int flipRows[2] = {0, 0}; // the pixel rows that show the grid: north up mirrors these alone
    if (arrows) {
        size = pipeline::arrowPictureSize(grid, a);
        checkPicture(size.width(), size.height());
        const int maxZoom = pipeline::maxArrowZoom(size);
        if (a.zoom > maxZoom)
            throw ValueError(text(QStringLiteral("zoom %1 leaves no cells of a %2 x %3 picture (largest zoom %4)")
                                      .arg(a.zoom)
                                      .arg(size.width())
                                      .arg(size.height())
                                      .arg(maxZoom)));
        const arrowrender::PictureSettings picture = pipeline::arrowPicture(grid, a);
        if (!figure::arrowDataRows(grid, picture, 1, &flipRows[0], &flipRows[1]))
            flipRows[0] = flipRows[1] = 0;
        image = arrowrender::renderPicture(*d.core, picture);
    } else {
        size = QSize(grid.getDimX(), grid.getDimY());
        checkPicture(size.width(), size.height());
        const pipeline::StreamRun run = runOn(*d.core, s);
        image = blankStreamlineImage(run.size);
        paintPolylines(image, pipeline::polylines(run, grid), s.antialias);
        flipRows[1] = run.size.height();
    }
    if (image.isNull())
        throw ValueError(text(QStringLiteral("no memory for a %1 x %2 picture").arg(size.width()).arg(size.height())));
    // tessaly-render's composition: the flip, then the colour bar beside the picture on white.
    if (r.northUp && flipRows[0] < flipRows[1]) {
        const QImage rows = image.copy(0, flipRows[0], image.width(), flipRows[1] - flipRows[0]).mirrored(false, true);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, flipRows[0], rows);
    }
    if (arrows && r.colorBar) {
        const QSize canvas(size.width() + pipeline::kColorBarGap + pipeline::colorBarExtent(),
                           std::max(size.height(), pipeline::kColorBarHeight));
        checkPicture(canvas.width(), canvas.height());
        QImage composed(canvas, image.format());
        if (composed.isNull())
            throw ValueError("no memory for the picture");
        composed.fill(Qt::white);
        QPainter painter(&composed);
        painter.drawImage(0, 0, image);
        pipeline::paintColorBar(painter, QPoint(size.width() + pipeline::kColorBarGap, 0));
        painter.end();
        image = composed;
    }
    return toImage(image);
}

namespace {

Image toImage(const QImage &image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    Image out;
    out.width = rgba.width();
    out.height = rgba.height();
    out.rgba.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(rgba.constScanLine(y), std::size_t(out.width) * 4, out.rgba.data() + std::size_t(y) * out.width * 4);
    return out;
}

} // namespace

} // namespace tessalypy
