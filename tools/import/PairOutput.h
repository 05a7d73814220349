#pragma once

#include "data/DatasetFiles.h"

#include <QString>

#include <functional>

// Where the importer's files go, and how a pair is put there: its input is read from a
// regular file only, neither output may be the input, and a finished pair replaces the old
// one as a whole, one import at a time.
namespace tessimport {

// The files of a pair as they will be replaced: the folder canonical, a symbolic link at the
// final name followed to its target (as a save through the link would). The metadata file
// NAME.meta.json goes with the pair when `meta` is set (empty: the pair alone).
struct PairPaths
{
    QString grid;
    QString data;
    QString gridName; // as the user gave them, for messages
    QString dataName;
    QString meta;
    QString metaName;
};

// Fails (with a message naming the file) when `input` is not a readable regular file: a
// named pipe, a device or a folder would block the reader or never end.
bool checkInput(const QString &input, QString &error);

// Resolves the pair of `gridFile` and its metadata file. A usage error, in `error` with
// `usage` set, when any of the three would replace `input` (same path after links and "..", or another name of the same
// file) or exists and is not a regular file; any other failure (no such folder) leaves
// `usage` unset.
bool resolveOutputs(const QString &input, const QString &gridFile, PairPaths &paths, bool &usage, QString &error);

// Holds the advisory lock that makes publications into one folder exclusive, from
// construction until destruction: the folder itself is locked (flock), or a lock file
// beside the grid file when the folder cannot be opened. Blocks while another holder has it.
class PairLock
{
public:
    explicit PairLock(const PairPaths &paths);
    ~PairLock();
    PairLock(const PairLock &) = delete;
    PairLock &operator=(const PairLock &) = delete;
    bool locked() const { return mLocked; }
    const QString &error() const { return mError; }

private:
    int mFd = -1;
    bool mLocked = false;
    QString mError;
};

// Moves the finished temporaries into place under a PairLock: the data file first, then the
// metadata file, then the grid file (the one users open). Should a later rename fail, the
// old files are put back, so the folder holds the old trio or the new one, never parts of
// each. With `paths.meta` set and no `tempMeta`, an old metadata file goes with the old
// pair: it would describe a pair that is no longer there. The temporaries are removed on
// failure.
bool publishPair(const QString &tempGrid, const QString &tempData, const PairPaths &paths, QString &error,
                 const QString &tempMeta = QString());

// One row y of a pair for the writer to fill, every value of it: dimX positions (x, y, z)
// and dimX records (flow vector, then the channels).
using RowFiller = std::function<void(int y, float *positions, float *records)>;

// Writes the dataset pair (one z layer, one time step) and `meta` (null: none) into
// temporaries beside `paths` and publishes them. A failure names the file that could not be
// written and the reason, and leaves the folder as it was. A point filler's unset values
// are written as 0.
bool writePair(const PairPaths &paths, int dimX, int dimY, int channels, const RowFiller &fill, QString &error,
               const QByteArray *meta = nullptr);
bool writePair(const PairPaths &paths, int dimX, int dimY, int channels, const dataset::PointFiller &fill, QString &error,
               const QByteArray *meta = nullptr);
bool writePair(const QString &gridFile, int dimX, int dimY, int channels, const RowFiller &fill, QString &error,
               const QByteArray *meta = nullptr);
bool writePair(const QString &gridFile, int dimX, int dimY, int channels, const dataset::PointFiller &fill, QString &error,
               const QByteArray *meta = nullptr);

} // namespace tessimport
