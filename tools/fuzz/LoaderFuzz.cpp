#include "tools/fuzz/LoaderFuzz.h"

#include "data/DatasetFiles.h"
#include "data/Volume.h"

#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace loaderfuzz {

namespace {

// ---------------------------------------------------------------- private folder

std::string gFolder;
std::string gGridName;
std::string gDataName;

void removeFolder()
{
    if (gFolder.empty())
        return;
    ::unlink(gGridName.c_str());
    ::unlink(gDataName.c_str());
    ::rmdir(gFolder.c_str());
    gFolder.clear();
}

// One folder per process, made with mkdtemp so that no other process (or a parallel fuzz
// job) shares the files. /dev/shm keeps millions of rewrites off the disk.
bool ensureFolder()
{
    if (!gFolder.empty())
        return true;
    std::string base = "/dev/shm";
    struct stat st;
    if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(base.c_str(), W_OK) != 0) {
        const char *tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/tessaly-loaderfuzz-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return false;
    gFolder = pattern;
    gGridName = gFolder + "/in.gri";
    gDataName = gFolder + "/in.00000.dat";
    std::atexit(removeFolder);
    return true;
}

bool writeFile(const std::string &name, const std::uint8_t *bytes, std::size_t size)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0;
}

// ---------------------------------------------------------------- checks

float floatAt(const std::uint8_t *p)
{
    return qFromLittleEndian<float>(p);
}

// NaN-aware equality: the loader must hand the file's numbers through unchanged.
bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool same(const Vector3 &a, const Vector3 &b)
{
    return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z);
}

QString describe(const Vector3 &v)
{
    return QStringLiteral("(%1, %2, %3)").arg(v.x).arg(v.y).arg(v.z);
}

// What a load of these bytes must give, worked out independently of the loader's
// bookkeeping: the header's counts when both files are long enough, else nothing.
QString checkLoaded(const Volume &v, const std::uint8_t *grid, std::size_t gridSize, const std::uint8_t *data,
                    std::size_t dataSize, bool haveData)
{
    const long long dx = v.getDimX(), dy = v.getDimY(), dz = v.getDimZ();
    if (dx < 0 || dy < 0 || dz < 0)
        return QStringLiteral("negative counts after load");
    if (static_cast<unsigned long long>(dx * dy * dz) != v.pointCount())
        return QStringLiteral("point count %1 does not match %2 x %3 x %4").arg(v.pointCount()).arg(dx).arg(dy).arg(dz);
    if (v.mMinPos.z != 0.0 || v.mMaxPos.z != 0.0)
        return QStringLiteral("extent z is not 0");

    const dataset::Header h = dataset::parseHeader(reinterpret_cast<const char *>(grid),
                                                   static_cast<int>(std::min<std::size_t>(gridSize, 40)));
    std::uint64_t needGrid = 0, needData = 0, points = 0;
    const bool fits = haveData && h.magic && dataset::expectedSizes(h, needGrid, needData, points)
                      && gridSize >= needGrid && dataSize >= needData && points > 0 && points <= 0x7fffffffu;
    if (!fits) {
        if (v.pointCount() != 0 || dx != 0 || dy != 0 || dz != 0)
            return QStringLiteral("a refused dataset left %1 x %2 x %3 points").arg(dx).arg(dy).arg(dz);
        // Files that could not be opened leave the fresh volume's zero extent; files that
        // were read but refused leave the loader's start values.
        const bool untouched = v.mMinPos == Vector3() && v.mMaxPos == Vector3();
        const bool started = v.mMinPos == Vector3(99999999.0, 99999999.0, 0.0)
                             && v.mMaxPos == Vector3(-99999999.0, -99999999.0, 0.0);
        if (!untouched && !started)
            return QStringLiteral("a refused dataset has the extent %1 .. %2")
                .arg(describe(v.mMinPos), describe(v.mMaxPos));
        return QString();
    }
    if (dx != h.dimX || dy != h.dimY || dz != h.dimZ)
        return QStringLiteral("a readable dataset of %1 x %2 x %3 points loaded as %4 x %5 x %6")
            .arg(h.dimX).arg(h.dimY).arg(h.dimZ).arg(dx).arg(dy).arg(dz);

    const int n = h.channels;
    const std::size_t record = 12 + 4 * static_cast<std::size_t>(n);
    Vector3 minPos(99999999.0, 99999999.0, 99999999.0), maxPos(-99999999.0, -99999999.0, -99999999.0);
    std::size_t i = 0;
    for (int z = 0; z < dz; ++z) {
        for (int y = 0; y < dy; ++y) {
            for (int x = 0; x < dx; ++x, ++i) {
                const std::uint8_t *g = grid + 40 + 12 * i;
                const std::uint8_t *d = data + record * i;
                const Vector3 pos(floatAt(g), floatAt(g + 4), floatAt(g + 8));
                const Vector3 dir(floatAt(d), floatAt(d + 4), floatAt(d + 8));
                const DataPoint p = v.getAt(x, y, z);
                if (!same(p.mPos, pos) || !same(p.mDir, dir))
                    return QStringLiteral("point (%1, %2, %3) holds %4 %5, the files say %6 %7")
                        .arg(x).arg(y).arg(z)
                        .arg(describe(p.mPos), describe(p.mDir), describe(pos), describe(dir));
                if (p.mValues.size() != n)
                    return QStringLiteral("point (%1, %2, %3) has %4 values, not %5")
                        .arg(x).arg(y).arg(z).arg(p.mValues.size()).arg(n);
                for (int c = 0; c < n; ++c)
                    if (!same(p.mValues[c], floatAt(d + 12 + 4 * c)))
                        return QStringLiteral("value %1 of point %2 differs from the file").arg(c).arg(i);
                if (pos.x <= minPos.x && pos.y <= minPos.y)
                    minPos = pos;
                if (pos.x >= maxPos.x && pos.y >= maxPos.y)
                    maxPos = pos;
            }
        }
    }
    minPos.z = maxPos.z = 0.0;
    if (!same(minPos, v.mMinPos) || !same(maxPos, v.mMaxPos))
        return QStringLiteral("extent %1 .. %2, expected %3 .. %4")
            .arg(describe(v.mMinPos), describe(v.mMaxPos), describe(minPos), describe(maxPos));
    return QString();
}

// Every grid point is untouched (a zero point), interpolated (two values, no position,
// no z flow) or a copy of a source point (the source's channel count).
QString checkGrid(Volume &grid, const Volume &source, int channels)
{
    const int gx = grid.getDimX(), gy = grid.getDimY();
    if (gx != source.getDimX() || gy != source.getDimY()
        || grid.pointCount() != static_cast<std::size_t>(gx) * static_cast<std::size_t>(gy))
        return QStringLiteral("grid of %1 x %2 (%3 points) for a source of %4 x %5")
            .arg(gx).arg(gy).arg(grid.pointCount()).arg(source.getDimX()).arg(source.getDimY());
    // Interpolation inside a cell mixes its corners with weights in [0, 1], so an interpolated
    // point lies within the range of the source's layer 0 (up to rounding). Only checked when
    // that range is finite and the single-precision channel cannot overflow on the way.
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int y = 0; y < source.getDimY(); ++y) {
        for (int x = 0; x < source.getDimX(); ++x) {
            const DataPoint p = source.getAt(x, y, 0);
            const double v[3] = {p.mDir.x, p.mDir.y, p.mValues.isEmpty() ? 0.0 : double(p.mValues[0])};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::isnan(v[k]) ? -HUGE_VAL : std::min(lo[k], v[k]);
                hi[k] = std::isnan(v[k]) ? HUGE_VAL : std::max(hi[k], v[k]);
            }
        }
    }
    bool checkRange[3];
    double tolerance[3];
    for (int k = 0; k < 3; ++k) {
        const double mag = std::max({std::fabs(lo[k]), std::fabs(hi[k]), 1.0});
        checkRange[k] = std::isfinite(lo[k]) && std::isfinite(hi[k]) && (k < 2 || mag < 1e30);
        tolerance[k] = mag * (k < 2 ? 1e-12 : 1e-5);
    }
    for (int y = 0; y < gy; ++y) {
        for (int x = 0; x < gx; ++x) {
            const DataPoint p = grid.getAt(x, y, 0);
            const int count = static_cast<int>(p.mValues.size());
            if (count == 2 && p.mPos == Vector3() && p.mDir.z == 0.0) {
                // interpolated (or a copy that looks like one)
                const double v[3] = {p.mDir.x, p.mDir.y, double(p.mValues[0])};
                for (int k = 0; k < 3; ++k)
                    if (checkRange[k] && !(v[k] >= lo[k] - tolerance[k] && v[k] <= hi[k] + tolerance[k]))
                        return QStringLiteral("grid point (%1, %2): %3 %4 lies outside the source's %5 .. %6")
                            .arg(x).arg(y).arg(k < 2 ? QStringLiteral("flow") : QStringLiteral("channel"))
                            .arg(v[k]).arg(lo[k]).arg(hi[k]);
                continue;
            }
            if (count == 0 && p.mPos == Vector3() && p.mDir == Vector3())
                continue; // never written
            if (count != channels)
                return QStringLiteral("grid point (%1, %2) has %3 values").arg(x).arg(y).arg(count);
        }
    }
    // Sampling the grid: sampleDir must be exactly getValue().mDir, inside and at the edges.
    const double xs[] = {0.0, 0.25, gx * 0.5, gx - 1.0, gx - 0.5, gx - 1e-9, static_cast<double>(gx), -0.5};
    const double ys[] = {0.0, 0.75, gy * 0.5, gy - 1.0, gy - 0.5, gy - 1e-9, static_cast<double>(gy), -0.5};
    for (double x : xs) {
        for (double y : ys) {
            const Vector3 a = grid.getValue(x, y, 0.0).mDir;
            const Vector3 b = grid.sampleDir(x, y, 0.0);
            if (!same(a, b))
                return QStringLiteral("sampleDir(%1, %2) = %3 but getValue gives %4")
                    .arg(x).arg(y).arg(describe(b), describe(a));
        }
    }
    return QString();
}

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

QByteArray pack(const QByteArray &grid, const QByteArray &data, bool withDataFile)
{
    std::uint32_t len = static_cast<std::uint32_t>(grid.size());
    if (!withDataFile)
        len |= kNoDataFile;
    QByteArray out(4, '\0');
    qToLittleEndian(len, out.data());
    return out + grid + data;
}

QString runOne(const std::uint8_t *bytes, std::size_t size)
{
    if (!ensureFolder())
        return QStringLiteral("cannot create a private folder for the dataset files");

    const std::uint8_t *grid = bytes;
    std::size_t gridSize = size;
    const std::uint8_t *data = bytes + size;
    std::size_t dataSize = 0;
    bool haveData = true;
    if (size >= 4) {
        const std::uint32_t prefix = qFromLittleEndian<std::uint32_t>(bytes);
        haveData = (prefix & kNoDataFile) == 0;
        grid = bytes + 4;
        gridSize = std::min<std::size_t>(prefix & ~kNoDataFile, size - 4);
        data = grid + gridSize;
        dataSize = size - 4 - gridSize;
    }
    if (!writeFile(gGridName, grid, gridSize))
        return QStringLiteral("cannot write the grid file");
    if (haveData) {
        if (!writeFile(gDataName, data, dataSize))
            return QStringLiteral("cannot write the data file");
    } else {
        ::unlink(gDataName.c_str());
    }

    Volume loaded;
    loaded.load(QString::fromLocal8Bit(gGridName.c_str()));
    QString problem = checkLoaded(loaded, grid, gridSize, data, dataSize, haveData);
    if (!problem.isEmpty())
        return QStringLiteral("load: ") + problem;

    // The control dock's next step: a one-layer grid of the loaded x and y counts.
    Volume resampled(loaded.getDimX(), loaded.getDimY(), 1);
    resampled.calculateGridFrom(loaded);
    const dataset::Header h = dataset::parseHeader(reinterpret_cast<const char *>(grid),
                                                   static_cast<int>(std::min<std::size_t>(gridSize, 40)));
    problem = checkGrid(resampled, loaded, h.channels);
    if (!problem.isEmpty())
        return QStringLiteral("resample: ") + problem;
    return QString();
}

void silenceConsole()
{
    qInstallMessageHandler(dropMessage);
}

} // namespace loaderfuzz
