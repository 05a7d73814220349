// Volume::load: reads a dataset pair into the volume, in bulk, after checking that both
// files hold what the header promises.

#include "data/CFormat.h"
#include "data/DatasetFiles.h"
#include "data/Progress.h"
#include "data/Volume.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct FileCloser
{
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens in binary mode without blocking: a plain open of a named pipe would wait for a writer
// forever, so the file is opened non-blocking and only then checked for being a regular file.
File openForReading(const QString &name)
{
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return File();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    File f(::fdopen(fd, "rb"));
    if (!f)
        ::close(fd);
    return f;
}

// Size of a regular file; -1 for anything else (a folder, a pipe, a device).
long long regularFileSize(std::FILE *f)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

inline float readFloat(const char *p)
{
    return qFromLittleEndian<float>(p);
}

// Prints a refusal on the console and returns it as a value.
DatasetError refusal(DatasetError::Kind kind, const QString &message)
{
    qDebug().noquote() << message;
    return DatasetError{kind, message};
}

// The first refusal the header and the files' sizes call for, printed; kind None when the
// points can be read. `points`: how many the header promises.
DatasetError headerRefusal(const dataset::Header &h, const QString &fileName, const QString &dataName,
                           long long gridSize, long long dataSize, std::uint64_t &points)
{
    using Kind = DatasetError::Kind;
    std::uint64_t needGrid = 0, needData = 0;
    const auto refuse = [](Kind kind, const QString &why) { return refusal(kind, why + QStringLiteral("; no points loaded.")); };
    if (!h.magic)
        return refuse(Kind::NotADataset, QStringLiteral("Not a dataset: %1 does not start with \"SN4DB\"").arg(fileName));
    if (!dataset::expectedSizes(h, needGrid, needData, points))
        return refuse(Kind::BadHeader, QStringLiteral("Bad header in %1: negative or impossibly large counts (%2 x %3 x %4 points, %5 values each)")
                          .arg(fileName).arg(h.dimX).arg(h.dimY).arg(h.dimZ).arg(h.channels));
    if (static_cast<std::uint64_t>(gridSize) < needGrid)
        return refuse(Kind::TooShort, QStringLiteral("Grid file too short: %1 holds %2 bytes, the header needs %3")
                          .arg(fileName).arg(gridSize).arg(needGrid));
    if (static_cast<std::uint64_t>(dataSize) < needData)
        return refuse(Kind::TooShort, QStringLiteral("Data file too short: %1 holds %2 bytes, the header needs %3")
                          .arg(dataName).arg(dataSize).arg(needData));
    return DatasetError();
}

// Sizes `v` for the header's points, or empties it; the error (printed where the console
// says so) when it holds no points to read.
DatasetError sizeFor(Volume &v, const dataset::Header &h, std::uint64_t points, DatasetError error, const QString &fileName)
{
    using Kind = DatasetError::Kind;
    const bool readable = !error.isError();
    // A header whose counts multiply to zero points gives the plain empty volume, so that no
    // view sizes itself from a count that has no points behind it.
    if (readable && points > 0) {
        if (!v.setSize(h.dimX, h.dimY, h.dimZ))
            return DatasetError{Kind::OutOfMemory, Volume::sizeRefusal(h.dimX, h.dimY, h.dimZ)};
        if (!v.store().reserveChannels(h.channels)) {
            v.setSize(0, 0, 0);
            return refusal(Kind::OutOfMemory, QStringLiteral("Cannot hold %1 values per point; no points loaded.").arg(h.channels));
        }
        return error;
    }
    // Zero counts are a valid (empty) dataset; a header whose counts are missing is not.
    if (readable && h.fieldsRead < 3)
        error = refusal(Kind::NoPoints, QStringLiteral("Empty dataset: %1 has a header of no points (%2 of 6 numbers read); no points loaded.")
                                            .arg(fileName).arg(h.fieldsRead));
    else if (readable)
        error = DatasetError{Kind::NoPoints, QString()};
    v.setSize(0, 0, 0);
    return error;
}

// Reads every point of the sized volume `v` (n channels) from the two files, row by row,
// taking its extent into minPos and maxPos; returns the rows read, fewer than all when a
// file shrank after it was measured.
long long readPoints(Volume &v, std::FILE *grid, std::FILE *data, int n, Progress &progress, Vector3 &minPos, Vector3 &maxPos)
{
    PointStore &store = v.store();
    const long long rows = static_cast<long long>(v.getDimZ()) * v.getDimY();
    const std::size_t stride = static_cast<std::size_t>(store.stride());
    const std::size_t gridRecord = 12;
    const std::size_t dataRecord = 12 + 4 * static_cast<std::size_t>(n);
    const std::size_t rowPoints = static_cast<std::size_t>(v.getDimX());
    // Several rows per call: about a megabyte of data file at a time, but never a buffer
    // larger than the whole dataset.
    const std::size_t rowsPerChunk = std::clamp<std::size_t>((1u << 20) / (rowPoints * dataRecord), 1,
                                                             static_cast<std::size_t>(rows));
    std::vector<char> gridBuf(rowsPerChunk * rowPoints * gridRecord);
    std::vector<char> dataBuf(rowsPerChunk * rowPoints * dataRecord);
    Vector3 *pos = store.pos();
    Vector3 *dir = store.dir();
    int32_t *count = store.count();
    float *values = store.values();
    std::size_t point = 0;
    long long row = 0;
    while (row < rows) {
        const std::size_t chunkRows = static_cast<std::size_t>(std::min<long long>(rowsPerChunk, rows - row));
        const std::size_t chunkPoints = chunkRows * rowPoints;
        if (std::fread(gridBuf.data(), gridRecord, chunkPoints, grid) != chunkPoints
            || std::fread(dataBuf.data(), dataRecord, chunkPoints, data) != chunkPoints)
            return row;
        for (std::size_t r = 0; r < chunkRows; ++r) {
            const char *g = gridBuf.data() + r * rowPoints * gridRecord;
            const char *d = dataBuf.data() + r * rowPoints * dataRecord;
            for (std::size_t x = 0; x < rowPoints; ++x, ++point, g += gridRecord, d += dataRecord) {
                const Vector3 p(readFloat(g), readFloat(g + 4), readFloat(g + 8));
                pos[point] = p;
                dir[point] = Vector3(readFloat(d), readFloat(d + 4), readFloat(d + 8));
                count[point] = n;
                float *at = values + point * stride;
                for (int c = 0; c < n; ++c)
                    at[c] = readFloat(d + 12 + 4 * c);
                Volume::takeExtent(minPos, maxPos, p);
            }
            ++row;
            progress.setValue(static_cast<int>(std::min<long long>(row, INT_MAX)));
        }
    }
    return row;
}

} // namespace

DatasetError Volume::load(const QString &fileName, QStringList *warnings)
{
    using Kind = DatasetError::Kind;
    const QString dataName = dataset::dataFileName(fileName);
    if (dataName.isEmpty())
        return refusal(Kind::NoDataFile, QStringLiteral("Not loaded: %1 has no \".gri\" in its file name, so it has no data file of its own.").arg(fileName));
    File grid = openForReading(fileName);
    if (!grid)
        return refusal(Kind::CannotOpen, QStringLiteral("Not loaded: cannot open the grid file %1").arg(fileName));
    File data = openForReading(dataName);
    if (!data)
        return refusal(Kind::CannotOpen, QStringLiteral("Not loaded: cannot open the data file %1").arg(dataName));
    const long long gridSize = regularFileSize(grid.get());
    const long long dataSize = regularFileSize(data.get());
    if (gridSize < 0 || dataSize < 0)
        return refusal(Kind::NotAFile, QStringLiteral("Not loaded: %1 is not a regular file.").arg(gridSize < 0 ? fileName : dataName));

    char headerBytes[dataset::kHeaderBytes] = {};
    const std::size_t headerRead = std::fread(headerBytes, 1, sizeof headerBytes, grid.get());
    const dataset::Header h = dataset::parseHeader(headerBytes, static_cast<int>(headerRead));

    qDebug() << "Dataset size:" << h.dimX << h.dimY << h.dimZ;
    qDebug() << "additional Data:" << h.channels;
    qDebug() << "number of Timesteps:" << h.timesteps << consoleNumber(h.time);

    // Decide what can be read before allocating anything.
    std::uint64_t points = 0;
    // Two statements: headerRefusal sets `points`, which sizeFor reads (as arguments of one
    // call their order would be unspecified, and clang takes them left to right).
    const DatasetError refused = headerRefusal(h, fileName, dataName, gridSize, dataSize, points);
    const DatasetError error = sizeFor(*this, h, points, refused, fileName);
    const std::size_t pointsHeld = mData.size();

    const long long rows = static_cast<long long>(mDimZ) * mDimY;
    Progress progress(QStringLiteral("Loading Dataset..."), 0, static_cast<int>(std::min<long long>(rows, INT_MAX)));

    noExtent(mMinPos, mMaxPos);
    if (pointsHeld > 0) {
        Vector3 minPos = mMinPos, maxPos = mMaxPos;
        const long long rowsRead = readPoints(*this, grid.get(), data.get(), h.channels, progress, minPos, maxPos);
        if (rowsRead < rows) {
            const QString warning = QStringLiteral("Read error in %1 or %2: the points from row %3 on are left as zero points.")
                                        .arg(fileName, dataName).arg(rowsRead);
            qDebug().noquote() << warning;
            if (warnings)
                warnings->append(warning);
            // What was not read stays as calloc left it: zero points with no values.
            int32_t *count = mData.count();
            for (std::size_t i = std::size_t(rowsRead) * std::size_t(mDimX); i < pointsHeld; ++i)
                count[i] = 0;
        }
        mMinPos = minPos;
        mMaxPos = maxPos;
    }

    mMinPos.z = 0.0;
    mMaxPos.z = 0.0;
    progress.setValue(static_cast<int>(std::min<long long>(rows, INT_MAX)));
    grid.reset();
    data.reset();
    qDebug() << "min:" << consoleNumber(mMinPos.x) << consoleNumber(mMinPos.y) << consoleNumber(mMinPos.z);
    qDebug() << "max:" << consoleNumber(mMaxPos.x) << consoleNumber(mMaxPos.y) << consoleNumber(mMaxPos.z);
    progress.close();
    return error;
}
