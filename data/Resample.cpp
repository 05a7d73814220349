// Volume::calculateGridFrom: resamples a loaded dataset onto the regular grid of this volume.
//
// Source cells (i, j) of layer 0 are mapped into this grid's index space through their
// diagonal corners and the covered grid points filled by bilinear interpolation (the rule:
// ResampleKernel.h). The result is defined by visiting cells i outer, j inner: a grid point
// covered by several cells keeps the value of the last one in that order. Walking the cells
// that way strides across the row-major storage at every step, so the cells are walked row by
// row instead, and every grid point remembers the order of the cell that wrote it (in its
// count, until the end): a cell writes a point only when it comes later in the defining
// order. The outcome is the same for any walk, which allows:
// - walking backwards (last row of cells first, right to left): the deciding cell of a point
//   mostly comes first and the others skip it, so most grid points are computed once
//   (ResampleWalk.cpp);
// - cutting the grid into bands of rows, each walked on its own by one of two threads: a
//   point is only ever read or written by the walk of its band (here).

#include "data/Progress.h"
#include "data/Resampler.h"
#include "data/SpinWorker.h"
#include "data/Volume.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using resample::Resampler;
using resample::RowRelease;

namespace {

// Below this many grid points handing a band to a second thread costs more than it saves.
constexpr std::size_t kTwoBandPoints = std::size_t(1) << 16;
// Bands of two threads: enough to even out their work, few enough that re-reading the source
// rows where bands meet costs little.
constexpr int kMinBandRows = 64;
constexpr int kMaxBands = 4;
// Source rows a thread spans at a time in the first pass.
constexpr int kSpanChunk = 64;

// The thread of the upper band, kept for the process: starting a thread per resampling costs
// from tens of microseconds to milliseconds in a virtual machine. Never destroyed, as the
// block pool: a resampling may still run while the process ends.
struct BandWorker
{
    std::mutex inUse;
    SpinWorker worker;
};

BandWorker &bandWorker()
{
    static BandWorker *shared = new BandWorker;
    return *shared;
}

// Grid rows of band b of `bands` over a grid of dimY rows.
int bandLow(int b, int bands, int dimY)
{
    return static_cast<int>(static_cast<long long>(b) * dimY / bands);
}

// How many bands read each source row: the bands that the cells of row j - 1 or j reach.
std::vector<int> rowReaders(int srcY, int bands, int dimY, const std::vector<int> &lowest,
                            const std::vector<int> &highest)
{
    std::vector<int> readers(static_cast<std::size_t>(srcY), 0);
    for (int b = 0; b < bands; ++b) {
        const int gyLo = bandLow(b, bands, dimY), gyHi = bandLow(b + 1, bands, dimY) - 1;
        int last = -1; // the last row counted for this band
        for (int j = 0; j + 2 < srcY; ++j) {
            if (!Resampler::reaches(j, gyLo, gyHi, lowest, highest))
                continue;
            for (int r = std::max(j, last + 1); r <= j + 1; ++r)
                ++readers[static_cast<std::size_t>(r)];
            last = j + 1;
        }
    }
    return readers;
}

// One resampling's bands, shared out between this thread and, when it is free, the process's
// band worker (one resampling at a time uses it; another meanwhile works alone). Both take
// rows for the first pass and then bands as they come, so that neither waits long for the
// other: the worker may start late, and bands differ in work. Nothing else reads the grid
// meanwhile: views wait for the load to end.
class BandSchedule
{
public:
    BandSchedule(const Volume &source, Volume &grid, Volume *released, Progress &progress)
        : mGrid(grid), mReleased(released), mProgress(progress), mSrcY(source.getDimY()),
          mColumns(source.getDimX() - 2), mLowest(std::size_t(mSrcY)), mHighest(std::size_t(mSrcY)),
          // Cells of a sound grid cover a few grid points each. Crafted or broken positions can
          // make every cell span the whole grid, which would take cells x points steps (hours
          // for a million points): past a generous budget the resampling stops and says so.
          mBudget(64LL * static_cast<long long>(grid.pointCount()) + 10000000LL),
          mRelease(released), mResampler(source, grid, released ? &mRelease : nullptr)
    {
    }

    // Runs every band; false when the budget stopped the resampling.
    bool run()
    {
        BandWorker &shared = bandWorker();
        std::unique_lock<std::mutex> lease(shared.inUse, std::defer_lock);
        mTwoThreads = mGrid.pointCount() >= kTwoBandPoints && lease.try_lock() && shared.worker.ready();
        // Alone, one band: re-reading the rows where bands meet would cost without helping.
        mBands = mTwoThreads ? std::clamp(mGrid.getDimY() / kMinBandRows, 1, kMaxBands) : 1;
        Resampler::Rows ownRows = mResampler.rows(), workerRows;
        if (mTwoThreads) {
            workerRows = mResampler.rows();
            auto beside = [&] { share(workerRows, false); };
            shared.worker.together(beside, [&] { share(ownRows, true); });
        } else {
            share(ownRows, true);
        }
        if (!mStop.load())
            reportUpTo(1, 1);
        return !mStop.load();
    }

    long long budget() const { return mBudget; }

private:
    void share(Resampler::Rows &rows, bool reports)
    {
        for (int chunk; (chunk = mNextSpanChunk.fetch_add(1)) * kSpanChunk < mSrcY;) {
            const int first = chunk * kSpanChunk, last = std::min(first + kSpanChunk, mSrcY) - 1;
            mResampler.spanRows(first, last, mLowest, mHighest);
            mRowsSpanned.fetch_add(last - first + 1);
        }
        // Rows taken by the other thread are being spanned right now: a short wait.
        while (mRowsSpanned.load() < mSrcY)
            std::this_thread::yield();
        // Which bands read which rows follows from the spans; the first thread here works it
        // out, the other waits for it.
        if (mReleased)
            std::call_once(mReadersCounted, [&] {
                mRelease.start(rowReaders(mSrcY, mBands, mGrid.getDimY(), mLowest, mHighest));
            });
        const long long ownBudget = mTwoThreads ? mBudget / 2 : mBudget;
        const int cellsY = mSrcY - 2, dimY = mGrid.getDimY();
        long long work = 0;
        for (int band; (band = mNextBand.fetch_add(1)) < mBands;) {
            const int gyLo = bandLow(band, mBands, dimY), gyHi = bandLow(band + 1, mBands, dimY) - 1;
            const auto afterRow = [&](int rowsDone) {
                if (reports)
                    reportUpTo(static_cast<long long>(mBandsDone.load(std::memory_order_relaxed)) * cellsY + rowsDone,
                               static_cast<long long>(mBands) * cellsY);
            };
            mResampler.run(gyLo, gyHi, mLowest, mHighest, ownBudget, work, mStop, rows, afterRow);
            mResampler.finish(gyLo, gyHi);
            mBandsDone.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Progress counts columns of cells (0 .. srcX - 3, in order) as the defining order does;
    // they are reported in proportion to the rows of cells done, on this thread only.
    void reportUpTo(long long done, long long total)
    {
        const int due = static_cast<int>(done * mColumns / total);
        while (mReported < due)
            mProgress.setValue(mReported++);
        mProgress.keepAlive();
    }

    Volume &mGrid;
    Volume *const mReleased;
    Progress &mProgress;
    const int mSrcY, mColumns;
    std::vector<int> mLowest, mHighest;
    const long long mBudget;
    bool mTwoThreads = false;
    int mBands = 1;
    int mReported = 0;
    RowRelease mRelease;
    const Resampler mResampler;
    std::once_flag mReadersCounted;
    std::atomic<bool> mStop{false};
    std::atomic<int> mNextSpanChunk{0}, mRowsSpanned{0}, mNextBand{0}, mBandsDone{0};
};

// The resampling of `source` onto `grid`, giving the source's rows back as it goes when
// `released` (the source itself) is given.
void resampleOnto(Volume &grid, const Volume &source, Volume *released, QStringList *warnings)
{
    const int srcX = source.getDimX(), srcY = source.getDimY();
    Progress progress(QStringLiteral("Calculating Grid ..."), 0, srcX - 2);
    if (source.pointCount() == 0 || srcX < 3 || srcY < 3 || grid.pointCount() == 0
        || !grid.store().setChannelsUnfilled(std::max(2, source.store().stride()))) {
        progress.close();
        return;
    }
    BandSchedule schedule(source, grid, released, progress);
    if (!schedule.run()) {
        const QString warning = QStringLiteral("Resampling stopped: the dataset's cells overlap far beyond "
                                               "its grid (more than %1 grid point writes); the rest of "
                                               "the grid stays empty.")
                                    .arg(schedule.budget());
        qDebug().noquote() << warning;
        if (warnings)
            warnings->append(warning);
    }
    progress.close();
}

} // namespace

namespace resample {

void RowRelease::start(const std::vector<int> &readers)
{
    // A chunk holds about 512 KiB of the narrowest column (4-byte values): a few dozen system
    // calls at 1000^2, while the freed rows keep pace with the grid being written.
    constexpr long long kChunkBytes = 512 << 10;
    const long long rowBytes = 4LL * std::max(mSource->getDimX(), 1);
    mRows = static_cast<int>(readers.size());
    mChunkRows = static_cast<int>(std::clamp<long long>((kChunkBytes + rowBytes - 1) / rowBytes, 1, std::max(mRows, 1)));
    const int chunks = (mRows + mChunkRows - 1) / mChunkRows;
    mLeft = std::vector<std::atomic<int>>(static_cast<std::size_t>(chunks));
    for (int r = 0; r < mRows; ++r)
        mLeft[std::size_t(r / mChunkRows)].fetch_add(readers[std::size_t(r)], std::memory_order_relaxed);
    // Rows that no band reads are not needed at all.
    for (int c = 0; c < chunks; ++c)
        if (mLeft[std::size_t(c)].load(std::memory_order_relaxed) == 0)
            release(c);
}

void RowRelease::leave(int row)
{
    const int c = row / mChunkRows;
    if (mLeft[std::size_t(c)].fetch_sub(1) == 1)
        release(c);
}

void RowRelease::release(int c)
{
    // The pages that straddle this chunk and a neighbour go once the neighbour is done too: of
    // two neighbours finishing at once, the later one sees the other's count at zero. A page
    // of the narrowest column holds at most `reach` rows.
    const int srcX = std::max(mSource->getDimX(), 1);
    const int reach = 4096 / (4 * srcX) + 1;
    const int chunks = static_cast<int>(mLeft.size());
    int lo = c * mChunkRows, hi = std::min(lo + mChunkRows, mRows); // rows lo ... hi - 1
    if (c > 0 && mLeft[std::size_t(c - 1)].load() == 0)
        lo = std::max(lo - reach, 0);
    if (c + 1 < chunks && mLeft[std::size_t(c + 1)].load() == 0)
        hi = std::min(hi + reach, mRows);
    mSource->store().discardPoints(std::size_t(lo) * std::size_t(srcX), std::size_t(hi - lo) * std::size_t(srcX));
}

} // namespace resample

void Volume::calculateGridFrom(const Volume &source, QStringList *warnings)
{
    resampleOnto(*this, source, nullptr, warnings);
}

void Volume::calculateGridReleasing(Volume &source, QStringList *warnings)
{
    resampleOnto(*this, source, &source, warnings);
    source.releasePoints();
}
