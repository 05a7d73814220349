#include "tools/import/PairOutput.h"

#include "data/Metadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessimport {

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a special file");
}

// The final path a write to `path` would replace: the folder canonical, links at the end
// followed. Empty with `error` when the folder does not exist.
QString target(const QString &path, QString &error)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty()) {
        error = QStringLiteral("cannot write %1: the folder %2 does not exist").arg(path, QDir::toNativeSeparators(info.absolutePath()));
        return QString();
    }
    if (info.isSymLink()) {
        error = QStringLiteral("cannot write %1: it is a link to %2, which does not exist").arg(path, info.symLinkTarget());
        return QString();
    }
    return folder + QLatin1Char('/') + info.fileName();
}

// write(2) until everything is out; false with errno set.
bool writeAll(int fd, const char *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, bytes, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        bytes += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// A new file beside `final`, hidden, readable like a file the user made (mkstemp gives 0600).
int makeTemporary(const QString &final, QByteArray &name)
{
    const QFileInfo info(final);
    name = local(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    return fd;
}

// A name for the old data file while the grid file is renamed: another link to it, so that
// the data name never goes missing; a rename where the file system has no hard links.
// A free hidden name beside `file` for its old version.
bool makeBackupName(const QByteArray &file, QByteArray &backup)
{
    const int fd = makeTemporary(QFile::decodeName(file) + QStringLiteral(".old"), backup);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(backup.constData());
    return true;
}

bool keepOld(const QByteArray &data, QByteArray &backup, bool &moved)
{
    moved = false;
    if (!makeBackupName(data, backup))
        return false;
    if (::link(data.constData(), backup.constData()) == 0)
        return true;
    moved = ::rename(data.constData(), backup.constData()) == 0;
    return moved;
}

// An old file of the pair under another name until the new grid file is in place: the data
// file always (another link to it where possible, so that its name never goes missing), the
// metadata file when it is replaced or has to go.
struct Old
{
    QByteArray path, backup;
    bool had = false, moved = false;
};

// Sets `old` aside: moved away with `remove`, else kept under a second name (keepOld).
bool setAside(Old &old, const QByteArray &path, const QString &name, bool remove, QString &error)
{
    old.path = path;
    struct stat st;
    old.had = ::lstat(path.constData(), &st) == 0;
    if (!old.had)
        return true;
    const bool ok = remove ? makeBackupName(path, old.backup) && (old.moved = ::rename(path.constData(), old.backup.constData()) == 0)
                           : keepOld(path, old.backup, old.moved);
    if (!ok)
        error = QStringLiteral("cannot write %1: %2").arg(name, reason(errno));
    return ok;
}

// Puts an old file back after a failure; the new one at its name (`placed`) goes.
void restore(const Old &old, bool placed, QString &error)
{
    if (!old.had) {
        if (placed)
            ::unlink(old.path.constData());
    } else if (placed || old.moved) {
        if (::rename(old.backup.constData(), old.path.constData()) != 0)
            error += QStringLiteral("; the old %1 is kept as %2").arg(QFile::decodeName(old.path), QFile::decodeName(old.backup));
    } else {
        ::unlink(old.backup.constData());
    }
}

} // namespace

bool checkInput(const QString &input, QString &error)
{
    // Opened without blocking: a named pipe without a writer would stop open(2) itself.
    const int fd = ::open(local(input).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot read %1: %2").arg(input, reason(errno));
        return false;
    }
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    const int err = errno;
    ::close(fd);
    if (!known)
        error = QStringLiteral("cannot read %1: %2").arg(input, reason(err));
    else if (!S_ISREG(st.st_mode))
        error = QStringLiteral("cannot read %1: %2, not a regular file").arg(input, kindOf(st.st_mode));
    return known && S_ISREG(st.st_mode);
}

bool resolveOutputs(const QString &input, const QString &gridFile, PairPaths &paths, bool &usage, QString &error)
{
    usage = false;
    const QString dataFile = dataset::dataFileName(gridFile);
    const QString metaFile = metadata::fileName(gridFile);
    paths.gridName = gridFile;
    paths.dataName = dataFile;
    paths.metaName = metaFile;
    paths.grid = target(gridFile, error);
    if (paths.grid.isEmpty())
        return false;
    paths.data = target(dataFile, error);
    if (paths.data.isEmpty())
        return false;
    paths.meta = metaFile.isEmpty() ? QString() : target(metaFile, error);
    if (!metaFile.isEmpty() && paths.meta.isEmpty())
        return false;
    const QString inputPath = input.isEmpty() ? QString() : QFileInfo(input).canonicalFilePath();
    struct stat in;
    const bool haveInput = !inputPath.isEmpty() && ::stat(local(inputPath).constData(), &in) == 0;
    const QString output = QStringLiteral("the output"), dataWhat = QStringLiteral("the data file");
    for (const auto &[name, path, what] : {std::tuple(gridFile, paths.grid, output), std::tuple(dataFile, paths.data, dataWhat),
                                           std::tuple(metaFile, paths.meta, QStringLiteral("the metadata file"))}) {
        if (path.isEmpty())
            continue;
        struct stat st;
        const bool exists = ::stat(local(path).constData(), &st) == 0;
        if (haveInput && (path == inputPath || (exists && st.st_dev == in.st_dev && st.st_ino == in.st_ino))) {
            usage = true;
            error = what == output ? QStringLiteral("the output %1 would replace the input %2").arg(name, input)
                                   : QStringLiteral("%1 %2 of %3 would replace the input %4").arg(what, name, gridFile, input);
            return false;
        }
        if (exists && !S_ISREG(st.st_mode)) {
            usage = true;
            error = QStringLiteral("%1 %2 is %3, not a regular file").arg(what, name, kindOf(st.st_mode));
            return false;
        }
    }
    return true;
}

PairLock::PairLock(const PairPaths &paths)
{
    const QFileInfo grid(paths.grid);
    mFd = ::open(local(grid.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mFd < 0) {
        const QString lockFile = grid.absolutePath() + QStringLiteral("/.") + grid.fileName() + QStringLiteral(".lock");
        mFd = ::open(local(lockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (mFd < 0) {
            mError = QStringLiteral("cannot lock %1 for writing: %2").arg(lockFile, reason(errno));
            return;
        }
    }
    int r;
    do
        r = ::flock(mFd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    mLocked = r == 0;
    if (!mLocked)
        mError = QStringLiteral("cannot lock %1 for writing: %2").arg(grid.absolutePath(), reason(errno));
}

PairLock::~PairLock()
{
    if (mFd >= 0)
        ::close(mFd); // releases the lock
}

bool publishPair(const QString &tempGrid, const QString &tempData, const PairPaths &paths, QString &error, const QString &tempMeta)
{
    const QByteArray grid = local(paths.grid), data = local(paths.data), meta = local(paths.meta);
    const QByteArray newGrid = local(tempGrid), newData = local(tempData), newMeta = local(tempMeta);
    const bool withMeta = !paths.meta.isEmpty(), newHasMeta = withMeta && !tempMeta.isEmpty();
    const auto discard = [&] {
        ::unlink(newGrid.constData());
        ::unlink(newData.constData());
        if (!tempMeta.isEmpty())
            ::unlink(newMeta.constData());
    };
    PairLock lock(paths);
    if (!lock.locked()) {
        error = lock.error();
        discard();
        return false;
    }
    Old oldData, oldMeta;
    if (!setAside(oldData, data, paths.dataName, false, error)) {
        discard();
        return false;
    }
    if (withMeta && !setAside(oldMeta, meta, paths.metaName, !newHasMeta, error)) {
        restore(oldData, false, error);
        discard();
        return false;
    }
    if (::rename(newData.constData(), data.constData()) != 0) {
        error = QStringLiteral("cannot write %1: %2").arg(paths.dataName, reason(errno));
        restore(oldData, false, error);
        restore(oldMeta, false, error);
        discard();
        return false;
    }
    if (newHasMeta && ::rename(newMeta.constData(), meta.constData()) != 0) {
        error = QStringLiteral("cannot write %1: %2").arg(paths.metaName, reason(errno));
        restore(oldData, true, error);
        restore(oldMeta, false, error);
        discard();
        return false;
    }
    if (::rename(newGrid.constData(), grid.constData()) != 0) {
        error = QStringLiteral("cannot write %1: %2").arg(paths.gridName, reason(errno));
        restore(oldData, true, error);
        restore(oldMeta, newHasMeta, error);
        discard();
        return false;
    }
    for (const Old *old : {&oldData, &oldMeta})
        if (old->had)
            ::unlink(old->backup.constData());
    return true;
}

namespace {

// The temporaries of one pair and the first failure while they are written: the file that
// failed and errno. Whatever is left when it goes is removed (see release()).
struct Temporaries
{
    const PairPaths &paths;
    QByteArray grid, data, meta;
    const QString *failed = nullptr;
    int err = 0;

    explicit Temporaries(const PairPaths &p) : paths(p) {}
    ~Temporaries()
    {
        for (const QByteArray *name : {&grid, &data, &meta})
            if (!name->isEmpty())
                ::unlink(name->constData());
    }
    void fail(const QString &file)
    {
        if (!failed) {
            failed = &file;
            err = errno;
        }
    }
    void put(int fd, const QString &file, const void *bytes, std::size_t n)
    {
        if (!failed && !writeAll(fd, static_cast<const char *>(bytes), n))
            fail(file);
    }
    // close(2) reports what a file system only finds at the end (quota, network space).
    void close(int fd, const QString &file)
    {
        if (::close(fd) != 0)
            fail(file);
    }
    // Hands the names over to the publication, which removes them itself on failure.
    void release() { grid.clear(), data.clear(), meta.clear(); }
};

// Rows are written this many bytes at a time, or one row where a row is longer.
constexpr std::size_t kWriteBytes = std::size_t(1) << 20;

// The grid file's header, its points and the data file's records, `rows` rows of each at a
// time, little-endian.
void writeBody(Temporaries &t, int gridFd, int dataFd, const char *header, int dimX, int dimY, int channels,
               const RowFiller &fill)
{
    t.put(gridFd, t.paths.gridName, header, dataset::kHeaderBytes);
    const std::size_t record = 3 + static_cast<std::size_t>(channels);
    const std::size_t rowFloats = static_cast<std::size_t>(dimX) * (3 + record);
    const int rows = static_cast<int>(std::clamp<std::size_t>(kWriteBytes / std::max<std::size_t>(rowFloats * 4, 1), 1,
                                                              static_cast<std::size_t>(std::max(dimY, 1))));
    std::vector<float> grid(static_cast<std::size_t>(dimX) * 3 * static_cast<std::size_t>(rows));
    std::vector<float> data(static_cast<std::size_t>(dimX) * record * static_cast<std::size_t>(rows));
    for (int y0 = 0; y0 < dimY && !t.failed; y0 += rows) {
        const int n = std::min(rows, dimY - y0);
        for (int y = y0; y < y0 + n; ++y)
            fill(y, grid.data() + static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(dimX) * 3,
                 data.data() + static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(dimX) * record);
        const std::size_t gridFloats = static_cast<std::size_t>(dimX) * 3 * static_cast<std::size_t>(n);
        const std::size_t dataFloats = static_cast<std::size_t>(dimX) * record * static_cast<std::size_t>(n);
        if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN) {
            for (std::size_t k = 0; k < gridFloats; ++k)
                grid[k] = qToLittleEndian(grid[k]);
            for (std::size_t k = 0; k < dataFloats; ++k)
                data[k] = qToLittleEndian(data[k]);
        }
        t.put(gridFd, t.paths.gridName, grid.data(), gridFloats * sizeof(float));
        t.put(dataFd, t.paths.dataName, data.data(), dataFloats * sizeof(float));
    }
}

} // namespace

bool writePair(const PairPaths &paths, int dimX, int dimY, int channels, const RowFiller &fill, QString &error,
               const QByteArray *meta)
{
    char header[dataset::kHeaderBytes + 64];
    const int len = std::snprintf(header, sizeof header, "SN4DB %d %d %d %d %d %g", dimX, dimY, 1, channels, 1, 0.0);
    if (len < 0 || len > dataset::kHeaderBytes || dimX < 0 || dimY < 0 || channels < 0) {
        error = QStringLiteral("cannot write %1: bad counts").arg(paths.gridName);
        return false;
    }
    std::memset(header + len, ' ', static_cast<std::size_t>(dataset::kHeaderBytes - len));
    Temporaries t(paths);
    const int gridFd = makeTemporary(paths.grid, t.grid);
    if (gridFd < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(paths.gridName, reason(errno));
        t.grid.clear();
        return false;
    }
    const int dataFd = makeTemporary(paths.data, t.data);
    if (dataFd < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(paths.dataName, reason(errno));
        t.data.clear();
        ::close(gridFd);
        return false;
    }
    writeBody(t, gridFd, dataFd, header, dimX, dimY, channels, fill);
    t.close(gridFd, paths.gridName);
    t.close(dataFd, paths.dataName);
    // The metadata last: it is small, and the pair's failures are the likelier ones.
    if (!t.failed && meta && !paths.meta.isEmpty()) {
        const int metaFd = makeTemporary(paths.meta, t.meta);
        if (metaFd < 0) {
            t.fail(paths.metaName);
            t.meta.clear();
        } else {
            t.put(metaFd, paths.metaName, meta->constData(), static_cast<std::size_t>(meta->size()));
            t.close(metaFd, paths.metaName);
        }
    }
    if (t.failed) {
        error = QStringLiteral("cannot write %1: %2").arg(*t.failed, reason(t.err));
        return false;
    }
    const QString tempGrid = QFile::decodeName(t.grid), tempData = QFile::decodeName(t.data), tempMeta = QFile::decodeName(t.meta);
    t.release();
    return publishPair(tempGrid, tempData, paths, error, tempMeta);
}

bool writePair(const PairPaths &paths, int dimX, int dimY, int channels, const dataset::PointFiller &fill, QString &error,
               const QByteArray *meta)
{
    // Whatever a point filler leaves unset is written as 0.
    const std::size_t record = 3 + static_cast<std::size_t>(channels);
    const RowFiller rows = [&](int y, float *pos, float *rec) {
        std::fill(pos, pos + static_cast<std::size_t>(dimX) * 3, 0.0f);
        std::fill(rec, rec + static_cast<std::size_t>(dimX) * record, 0.0f);
        for (int x = 0; x < dimX; ++x)
            fill(x, y, 0, pos + std::size_t(x) * 3, rec + std::size_t(x) * record, rec + std::size_t(x) * record + 3);
    };
    return writePair(paths, dimX, dimY, channels, rows, error, meta);
}

template <typename Filler>
bool writePairAt(const QString &gridFile, int dimX, int dimY, int channels, const Filler &fill, QString &error, const QByteArray *meta)
{
    PairPaths paths;
    bool usage = false;
    return resolveOutputs(QString(), gridFile, paths, usage, error) && writePair(paths, dimX, dimY, channels, fill, error, meta);
}

bool writePair(const QString &gridFile, int dimX, int dimY, int channels, const dataset::PointFiller &fill, QString &error,
               const QByteArray *meta)
{
    return writePairAt(gridFile, dimX, dimY, channels, fill, error, meta);
}

bool writePair(const QString &gridFile, int dimX, int dimY, int channels, const RowFiller &fill, QString &error,
               const QByteArray *meta)
{
    return writePairAt(gridFile, dimX, dimY, channels, fill, error, meta);
}

} // namespace tessimport
