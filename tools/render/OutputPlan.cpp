#include "tools/render/OutputPlan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace outputplan {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

thread_local Transaction *gCurrent = nullptr;

} // namespace

QString resolvedPath(const QString &path)
{
    // The system's own resolution (realpath), not QFileInfo's: that cleans "link/.." away as
    // text, where the system goes to the parent of the link's target.
    QByteArray at = native(path);
    if (!at.startsWith('/'))
        at = native(QDir::currentPath()) + '/' + at;
    char buffer[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) { // 40: the kernel's own limit of links in a row
        if (::realpath(at.constData(), buffer))
            return QFile::decodeName(buffer);
        const qsizetype slash = at.lastIndexOf('/');
        const QByteArray folder = slash > 0 ? at.left(slash) : QByteArray("/");
        const QByteArray name = at.mid(slash + 1);
        // A dangling link: the file made is its target.
        struct stat st;
        if (::lstat(at.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
            const ssize_t n = ::readlink(at.constData(), buffer, sizeof buffer - 1);
            if (n <= 0)
                break;
            const QByteArray target(buffer, n);
            at = target.startsWith('/') ? target : folder + '/' + target;
            continue;
        }
        if (!::realpath(folder.constData(), buffer))
            break;
        const QByteArray resolved(buffer);
        return QFile::decodeName(resolved.endsWith('/') ? resolved + name : resolved + '/' + name);
    }
    return QDir::cleanPath(QFile::decodeName(at));
}

QString check(const QStringList &inputs, const QList<Target> &targets)
{
    QHash<QString, QString> inputAt; // resolved path -> as given
    for (const QString &i : inputs)
        inputAt.insert(resolvedPath(i), i);
    QHash<QString, Target> targetAt;
    for (const Target &t : targets) {
        const QString at = resolvedPath(t.path);
        const auto input = inputAt.constFind(at);
        if (input != inputAt.constEnd())
            return QStringLiteral("%1 %2: the file is an input of this run (%3)").arg(t.option, t.path, *input);
        const auto other = targetAt.constFind(at);
        if (other != targetAt.constEnd())
            return QStringLiteral("%1 %2: the same file as %3 %4").arg(t.option, t.path, other->option, other->path);
        const QFileInfo info(at);
        if (info.exists() && !info.isFile())
            return QStringLiteral("%1 %2: not a regular file (%3); only a regular file is replaced")
                .arg(t.option, t.path, QLatin1String(info.isDir() ? "a folder" : "a device, pipe or socket"));
        targetAt.insert(at, t);
    }
    return QString();
}

// ---------------------------------------------------------------- Transaction

namespace {

// A staged file: written straight to its descriptor, so that a failed write reports the
// system's reason (a full disk, a file size limit) at once.
class StagedFile : public QIODevice
{
public:
    StagedFile(int fd, QByteArray name) : mFd(fd), mName(std::move(name)) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    ~StagedFile() override
    {
        closeDescriptor();
        if (!mKept)
            ::unlink(mName.constData());
    }
    const QByteArray &name() const { return mName; }
    const QString &ioError() const { return mIoError; }
    void keep() { mKept = true; }
    // Syncs and closes; false (ioError() says why) when the data did not all reach the disk.
    bool finish()
    {
        if (mIoError.isEmpty() && ::fsync(mFd) != 0)
            setIoError(errno);
        if (!closeDescriptor() && mIoError.isEmpty())
            setIoError(errno);
        QIODevice::close();
        return mIoError.isEmpty();
    }
    bool closeDescriptor()
    {
        const int fd = std::exchange(mFd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size && mFd >= 0) {
            const ssize_t n = ::write(mFd, data + done, static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setIoError(n < 0 ? errno : ENOSPC);
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    void setIoError(int error)
    {
        mIoError = systemError(error);
        setErrorString(mIoError);
    }
    int mFd;
    QByteArray mName;
    QString mIoError;
    bool mKept = false;
};

} // namespace

struct Transaction::Staged
{
    QString path;   // as the run names it, for messages
    QString target; // the file it replaces
    std::unique_ptr<StagedFile> file;
    bool finished = false;
};

Transaction::Transaction() : mOuter(gCurrent)
{
    gCurrent = this;
}

Transaction::~Transaction()
{
    gCurrent = mOuter;
    // The staged files not renamed into place remove themselves.
}

Transaction *Transaction::current()
{
    return gCurrent;
}

QIODevice *Transaction::stage(const QString &path, QString *error)
{
    auto staged = std::make_unique<Staged>();
    staged->path = path;
    staged->target = resolvedPath(path);
    const QByteArray target = native(staged->target);
    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("cannot write %1: not a regular file").arg(path);
        mFailed = true;
        return nullptr;
    }
    // A new file gets the permissions open() gives (0666 less the umask); a replacement those
    // of the file it replaces.
    int fd = -1;
    QByteArray name;
    int why = EEXIST;
    for (int attempt = 0; attempt < 16 && fd < 0 && why == EEXIST; ++attempt) {
        name = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        why = fd < 0 ? errno : 0;
    }
    if (fd < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, systemError(why));
        mFailed = true;
        return nullptr;
    }
    if (exists)
        ::fchmod(fd, st.st_mode & 07777);
    staged->file = std::make_unique<StagedFile>(fd, name);
    mFiles.push_back(std::move(staged));
    return mFiles.back()->file.get();
}

bool Transaction::finish(QIODevice *file, QString *error)
{
    for (const auto &s : mFiles) {
        if (s->file.get() != file)
            continue;
        if (!s->file->finish()) {
            *error = QStringLiteral("cannot write %1: %2").arg(s->path, s->file->ioError());
            mFailed = true;
            return false;
        }
        s->finished = true;
        return true;
    }
    return false;
}

void Transaction::fail(QIODevice *file, const QString &writerReason, QString *error)
{
    mFailed = true;
    for (const auto &s : mFiles) {
        if (s->file.get() != file)
            continue;
        const QString why = !s->file->ioError().isEmpty() ? s->file->ioError()
                            : writerReason.isEmpty()      ? QStringLiteral("the writer gave up")
                                                          : writerReason;
        *error = QStringLiteral("cannot write %1: %2").arg(s->path, why);
        s->file->closeDescriptor();
    }
}

bool Transaction::commit(QString *error)
{
    if (mFailed) {
        *error = QStringLiteral("an output could not be written");
        return false;
    }
    for (const auto &s : mFiles) {
        if (!s->finished) {
            *error = QStringLiteral("cannot write %1: not finished").arg(s->path);
            return false;
        }
    }
    // Every file but the last is replaced while the ones after it may still fail: each keeps
    // a hard link to the file it replaces until all are in place (a rename of the last one
    // that fails changes nothing).
    struct Replaced
    {
        QByteArray target, backup;
        bool existed = false;
    };
    std::vector<Replaced> done;
    const auto undo = [&] {
        for (auto r = done.rbegin(); r != done.rend(); ++r) {
            if (!r->backup.isEmpty())
                ::rename(r->backup.constData(), r->target.constData());
            else if (!r->existed)
                ::unlink(r->target.constData());
        }
    };
    for (std::size_t i = 0; i < mFiles.size(); ++i) {
        Staged &s = *mFiles[i];
        Replaced r;
        r.target = native(s.target);
        struct stat st;
        r.existed = ::lstat(r.target.constData(), &st) == 0;
        if (r.existed && !S_ISREG(st.st_mode)) {
            undo();
            *error = QStringLiteral("cannot write %1: not a regular file").arg(s.path);
            return false;
        }
        if (r.existed && i + 1 < mFiles.size()) {
            for (int attempt = 0; attempt < 8 && r.backup.isEmpty(); ++attempt) {
                const QByteArray name = r.target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".old";
                if (::link(r.target.constData(), name.constData()) == 0)
                    r.backup = name;
                else if (errno != EEXIST)
                    break; // no hard links here: this file cannot be put back
            }
        }
        if (::rename(s.file->name().constData(), r.target.constData()) != 0) {
            const int why = errno;
            if (!r.backup.isEmpty())
                ::unlink(r.backup.constData());
            undo();
            *error = QStringLiteral("cannot write %1: %2").arg(s.path, systemError(why));
            return false;
        }
        s.file->keep();
        done.push_back(r);
    }
    for (const Replaced &r : done)
        if (!r.backup.isEmpty())
            ::unlink(r.backup.constData());
    mFiles.clear();
    return true;
}

} // namespace outputplan
