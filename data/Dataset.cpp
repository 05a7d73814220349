#include "data/Dataset.h"

#include "data/DatasetCheck.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

static_assert(sizeof(Vector3) == 3 * sizeof(double), "Columns read Vector3 arrays as doubles");

Dataset::Dataset(std::unique_ptr<Volume> loaded, std::unique_ptr<Volume> grid, QStringList warnings)
    : mLoaded(std::move(loaded)), mGrid(std::move(grid)), mWarnings(std::move(warnings))
{
}

Dataset::Columns Dataset::columns(const Volume &volume)
{
    const PointStore &s = volume.store();
    Columns c;
    c.dimX = volume.getDimX();
    c.dimY = volume.getDimY();
    c.dimZ = volume.getDimZ();
    c.points = s.size();
    c.positions = reinterpret_cast<const double *>(s.pos());
    c.directions = reinterpret_cast<const double *>(s.dir());
    c.values = s.values();
    c.counts = s.count();
    c.stride = s.stride();
    return c;
}

namespace {

// The regular grid of `loaded` (same x and y counts, one layer), resampled. A grid that
// cannot be held stays empty (its console line said so) and comes back as null.
std::unique_ptr<Volume> resampledGrid(const Volume &loaded, QStringList &warnings)
{
    auto grid = std::make_unique<Volume>();
    const bool held = grid->setSize(loaded.getDimX(), loaded.getDimY(), 1);
    grid->calculateGridFrom(loaded, &warnings);
    return held ? std::move(grid) : nullptr;
}

DatasetError refusal(DatasetError::Kind kind, const QString &message)
{
    qDebug().noquote() << message;
    return DatasetError{kind, message};
}

DatasetResult failure(DatasetError::Kind kind, const QString &message, std::shared_ptr<const Dataset> state = nullptr)
{
    DatasetResult r;
    r.error = DatasetError{kind, message};
    r.state = std::move(state);
    return r;
}

} // namespace

std::shared_ptr<const Dataset> Dataset::fromVolumes(std::unique_ptr<Volume> loaded, std::unique_ptr<Volume> grid,
                                                    QStringList warnings)
{
    if (!loaded)
        loaded = std::make_unique<Volume>();
    if (!grid) {
        grid = resampledGrid(*loaded, warnings);
        if (!grid)
            grid = std::make_unique<Volume>();
    }
    return std::shared_ptr<const Dataset>(new Dataset(std::move(loaded), std::move(grid), std::move(warnings)));
}

DatasetResult loadDataset(const QString &gridFile, const std::function<void()> &afterRead, LoadedPoints loadedPoints)
{
    using Kind = DatasetError::Kind;
    auto loaded = std::make_unique<Volume>();
    QStringList warnings;
    DatasetError error = loaded->load(gridFile, &warnings);
    if (!error.isError() && loaded->pointCount() == 0)
        error = DatasetError{Kind::NoPoints, QString()};
    if (error.kind == Kind::NoPoints && error.message.isEmpty())
        error = DatasetError{Kind::NoPoints, QStringLiteral("the dataset holds no points"), false};
    if (!error.isError()) {
        // Points that cannot be mapped into index space would give an empty grid and black
        // pictures: refused, and the volume emptied, before the resampling.
        const QString unusable = dataset::whyUnusable(*loaded);
        if (!unusable.isEmpty()) {
            error = refusal(Kind::Unusable, dataset::unusableMessage(unusable));
            loaded->setSize(0, 0, 0);
        }
    }
    if (afterRead)
        afterRead();

    // The grid of a failed load is resampled too (from nothing): the program's progress and
    // trace are the same whatever the outcome.
    auto grid = std::make_unique<Volume>();
    const bool held = grid->setSize(loaded->getDimX(), loaded->getDimY(), 1);
    if (loadedPoints == LoadedPoints::Release)
        grid->calculateGridReleasing(*loaded, &warnings);
    else
        grid->calculateGridFrom(*loaded, &warnings);
    if (!error.isError() && !held)
        error = DatasetError{Kind::OutOfMemory, Volume::sizeRefusal(loaded->getDimX(), loaded->getDimY(), 1)};

    std::shared_ptr<const Dataset> dataset = Dataset::fromVolumes(std::move(loaded), std::move(grid), std::move(warnings));
    DatasetResult r;
    r.error = error;
    r.state = dataset;
    if (!error.isError())
        r.dataset = std::move(dataset);
    return r;
}

DatasetResult Dataset::fromArrays(field::Arrays g)
{
    return fromArrays(std::move(g), FieldOptions());
}

DatasetResult Dataset::fromArrays(field::Arrays g, const FieldOptions &options)
{
    using Kind = DatasetError::Kind;
    QString error = field::checkSizes(g);
    if (error.isEmpty())
        error = field::orient(g);
    if (error.isEmpty())
        error = field::positionProblem(g);
    if (!error.isEmpty())
        return failure(Kind::BadArrays, error);
    if (field::missingFlow(g) == g.points()) {
        const QString u = g.uName.isEmpty() ? QStringLiteral("u") : g.uName;
        const QString v = g.vName.isEmpty() ? QStringLiteral("v") : g.vName;
        const QString beyond = g.flowBeyondFloat == 0
                                   ? QString()
                                   : QStringLiteral(": %1 %2 or %3 values lie beyond the float range (about ±3.4e38) and count as missing")
                                         .arg(g.flowBeyondFloat)
                                         .arg(u, v);
        return failure(Kind::BadArrays, QStringLiteral("%1 and %2 have no value at any point%3").arg(u, v, beyond));
    }
    if (!std::isfinite(options.flowScale) || !(options.flowScale > 0.0))
        return failure(Kind::BadArrays, QStringLiteral("the flow scale must be a number above 0, not %1").arg(options.flowScale));
    if (options.haveRange && !(std::isfinite(options.low) && std::isfinite(options.high) && options.low < options.high))
        return failure(Kind::BadArrays, QStringLiteral("the scalar range needs low < high, not %1 ... %2").arg(options.low).arg(options.high));
    field::ScalarMapping m;
    if (!field::scalarMapping(g, options.haveRange, options.low, options.high, m, error))
        return failure(Kind::BadArrays, error);

    // The points as a load of the written files reads them: single-precision values widened.
    auto loaded = std::make_unique<Volume>();
    if (!loaded->setSize(g.nx, g.ny, 1))
        return failure(Kind::OutOfMemory, Volume::sizeRefusal(g.nx, g.ny, 1));
    PointStore &store = loaded->store();
    const int channels = field::kChannels + static_cast<int>(g.extra.size());
    if (!store.setChannelsUnfilled(channels))
        return failure(Kind::OutOfMemory, QStringLiteral("Cannot hold %1 values per point; no points loaded.").arg(channels));
    Vector3 minPos, maxPos;
    Volume::noExtent(minPos, maxPos);
    const std::size_t stride = static_cast<std::size_t>(store.stride());
    std::size_t i = 0;
    for (int y = 0; y < g.ny; ++y) {
        for (int x = 0; x < g.nx; ++x, ++i) {
            float pos[3], dir[3], values[field::kChannels];
            field::point(g, m, options.flowScale, x, y, pos, dir, values);
            const Vector3 p(pos[0], pos[1], pos[2]);
            store.pos()[i] = p;
            store.dir()[i] = Vector3(dir[0], dir[1], dir[2]);
            store.count()[i] = channels;
            float *stored = store.values() + i * stride;
            std::copy_n(values, field::kChannels, stored);
            for (std::size_t c = 0; c < g.extra.size(); ++c)
                stored[field::kChannels + c] = g.extra[c][i];
            Volume::takeExtent(minPos, maxPos, p);
        }
    }
    minPos.z = 0.0;
    maxPos.z = 0.0;
    loaded->mMinPos = minPos;
    loaded->mMaxPos = maxPos;

    // What a load of the written files would refuse (positions single precision cannot tell
    // apart), refused here too; silently, as fromArrays prints nothing of its own.
    const QString unusable = dataset::whyUnusable(*loaded);
    if (!unusable.isEmpty())
        return failure(Kind::BadArrays, dataset::unusableMessage(unusable));
    QStringList warnings;
    std::unique_ptr<Volume> grid = resampledGrid(*loaded, warnings);
    if (!grid)
        return failure(Kind::OutOfMemory, Volume::sizeRefusal(g.nx, g.ny, 1));
    DatasetResult r;
    r.dataset = std::shared_ptr<const Dataset>(new Dataset(std::move(loaded), std::move(grid), std::move(warnings)));
    r.state = r.dataset;
    return r;
}
