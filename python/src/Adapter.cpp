// The datasets of the module: loaded pairs, arrays and imported files, all made by the
// core's rules (loadDataset, Dataset::fromArrays) and described for the binding.

#include "python/src/AdapterPrivate.h"

#include "data/DatasetCheck.h"
#include "data/SinglePrecision.h"
#include "data/Volume.h"
#include "tools/import/ImportGrid.h"
#include "tools/import/NetcdfReader.h"
#include "tools/import/PairOutput.h"
#include "tools/import/TableReader.h"

#include <QFile>

#include <atomic>
#include <charconv>
#include <cmath>
#include <mutex>

namespace tessalypy {

// ---------------------------------------------------------------- console

namespace {

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

} // namespace

Quiet::Quiet(QStringList *capture) : mPrevious(tCapture)
{
    installHandler();
    ++gActive;
    if (capture)
        tCapture = capture;
}

Quiet::~Quiet()
{
    tCapture = mPrevious;
    --gActive;
}

std::string number(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------- datasets from a grid

namespace {

// The importer's options, named as the Python arguments.
void checkImportSettings(const ImportSettings &settings)
{
    if (settings.haveRange
        && !(std::isfinite(settings.low) && std::isfinite(settings.high) && settings.low < settings.high))
        throw ValueError("scalar_range (" + number(settings.low) + ", " + number(settings.high)
                         + "): expected (LO, HI) with LO < HI");
    if (!std::isfinite(settings.flowScale) || !(settings.flowScale > 0.0) || settings.flowScale > 1e30)
        throw ValueError("flow_scale " + number(settings.flowScale) + ": expected a number above 0");
}

// What tessaly-import writes beside the pair it makes of `input`; null when the field has
// no scalar (nor speed) to map, which the core then refuses.
std::shared_ptr<const metadata::Metadata> described(const field::Arrays &g, const ImportSettings &settings,
                                                    const QString &input)
{
    tessimport::ScalarMapping m;
    QString why;
    if (!tessimport::scalarMapping(g, settings.haveRange, settings.low, settings.high, m, why))
        return nullptr;
    return std::make_shared<const metadata::Metadata>(tessimport::describe(g, m, settings.flowScale, input));
}

// The importer's dataset, loaded: the core's fromArrays, which gives the points
// tessaly-import's writer fills as the loader reads them back, and their regular grid. A
// file's import knows what its numbers mean (`input`: the metadata the tool writes).
template <typename Error>
DatasetPtr datasetFrom(field::Arrays g, const ImportSettings &settings, const QString *input = nullptr)
{
    checkImportSettings(settings);
    std::shared_ptr<const metadata::Metadata> meta = input ? described(g, settings, *input) : nullptr;
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
    auto made = std::make_shared<Dataset>(r.dataset);
    made->meta = std::move(meta);
    return made;
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
    if (!a.scalars.empty()) {
        g.scalar.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            g.scalar[k] = single(a.scalars[0].at(k));
    }
    // Further scalars are kept as given, in single precision (beyond its range: infinite).
    for (std::size_t c = 1; c < a.scalars.size(); ++c) {
        std::vector<float> &e = g.extra.emplace_back(n);
        for (std::size_t k = 0; k < n; ++k)
            e[k] = roundToSingle(a.scalars[c].at(k));
    }
    return datasetFrom<ValueError>(std::move(g), settings);
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
    return datasetFrom<LoadError>(std::move(g), settings, &input);
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


} // namespace tessalypy
