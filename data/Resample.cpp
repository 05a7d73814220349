// Volume::calculateGridFrom: resamples a loaded dataset onto the regular grid of this volume.
//
// Source cells (i, j) of layer 0 are mapped into this grid's index space through their
// diagonal corners and the covered grid points filled by bilinear interpolation. The result
// is defined by visiting cells i outer, j inner: a grid point covered by several cells keeps
// the value of the last one in that order. Walking the cells that way strides across the
// row-major storage at every step, so the cells are walked row by row instead, and every grid
// point remembers the order key of the cell that wrote it: a cell writes a point only when it
// comes later in the defining order. The outcome is the same for any grid shape.

#include "Progress.h"
#include "SinglePrecision.h"
#include "Volume.h"

#include <QDebug>

#include <cmath>
#include <limits>

namespace {

// floor() of a grid coordinate as an int; false when it is not finite or out of int range
// (degenerate extents and far-away points), in which case the cell is skipped.
bool floorToInt(double v, int &out)
{
    const double f = std::floor(v);
    if (!(f >= std::numeric_limits<int>::min() && f <= std::numeric_limits<int>::max()))
        return false;
    out = static_cast<int>(f);
    return true;
}

} // namespace

void Volume::calculateGridFrom(const Volume &source)
{
    const int srcX = source.getDimX();
    const int srcY = source.getDimY();
    Progress progress(QStringLiteral("Calculating Grid ..."), 0, srcX - 2);
    if (source.pointCount() == 0 || srcX < 3 || srcY < 3 || pointCount() == 0) {
        progress.close();
        return;
    }

    if (!mData.reserveChannels(std::max(2, source.store().stride()))) {
        progress.close();
        return;
    }

    // The same scale factors as getGridPos, computed once.
    const float sx = roundToSingle(srcX / (source.mMaxPos.x - source.mMinPos.x));
    const float sy = roundToSingle(srcY / (source.mMaxPos.y - source.mMinPos.y));
    const double minX = source.mMinPos.x;
    const double minY = source.mMinPos.y;

    const Vector3 *sPos = source.store().pos();
    const Vector3 *sDir = source.store().dir();
    const int32_t *sCount = source.store().count();
    const float *sVal = source.store().values();
    const std::size_t sStride = static_cast<std::size_t>(source.store().stride());

    Vector3 *tPos = mData.pos();
    Vector3 *tDir = mData.dir();
    int32_t *tCount = mData.count();
    float *tVal = mData.values();
    const std::size_t tStride = static_cast<std::size_t>(mData.stride());
    const std::size_t srcRow = static_cast<std::size_t>(srcX);

    // Order key of the cell that last wrote each grid point; 0 = not written.
    // Keys run up to (srcX - 2) * (srcY - 2) < the point count, which fits in int32.
    const int32_t cellsY = srcY - 2;
    PointStore::Block stampBlock;
    if (!stampBlock.allocate(pointCount() * sizeof(int32_t))) {
        progress.close();
        return;
    }
    int32_t *stamp = stampBlock.as<int32_t>();

    // Progress counts columns of cells (0 .. srcX - 3, in order) as the defining order does;
    // they are reported in proportion to the rows of cells done.
    const int columns = srcX - 2;
    int reported = 0;

    // Cells of a sound grid cover a few grid points each. Crafted or broken positions can make
    // every cell span the whole grid, which would take cells x points steps (hours for a
    // million points): past a generous budget the resampling stops and says so.
    const long long budget = 64LL * static_cast<long long>(pointCount()) + 10000000LL;
    long long work = 0;

    for (int j = 0; j < srcY - 2; ++j) {
        for (int i = 0; i < srcX - 2; ++i) {
            const int32_t key = i * cellsY + j + 1;
            const std::size_t k00 = static_cast<std::size_t>(j) * srcRow + static_cast<std::size_t>(i);
            const std::size_t k10 = k00 + 1;
            const std::size_t k01 = k00 + srcRow;
            const std::size_t k11 = k01 + 1;
            int x0, y0, x1, y1;
            if (!floorToInt((sPos[k00].x - minX) * sx, x0) || !floorToInt((sPos[k00].y - minY) * sy, y0)
                || !floorToInt((sPos[k11].x - minX) * sx, x1) || !floorToInt((sPos[k11].y - minY) * sy, y1))
                continue;

            if (x1 <= x0 && y1 <= y0) {
                // The cell lies within one grid cell: copy its corner (i, j) as it is.
                if (!isInside(x0, y0, 0))
                    continue;
                const std::size_t t = indexOf(x0, y0, 0);
                if (stamp[t] > key)
                    continue;
                stamp[t] = key;
                tPos[t] = sPos[k00];
                tDir[t] = sDir[k00];
                tCount[t] = sCount[k00];
                for (int c = 0; c < sCount[k00]; ++c)
                    tVal[t * tStride + c] = sVal[k00 * sStride + c];
                continue;
            }

            // Spans and offsets in 64 bits: corners far outside the grid (curved grids, stray
            // points) can lie more than 2^31 grid units apart. The values are the same as in
            // int, and they still convert to double (vector) or float (channel) as ints would.
            const long long dx = static_cast<long long>(x1) - x0;
            const long long dy = static_cast<long long>(y1) - y0;
            const Vector3 &p00 = sDir[k00], &p01 = sDir[k01], &p10 = sDir[k10], &p11 = sDir[k11];
            // First channel of each corner; a dataset without channels interpolates zeros.
            auto first = [&](std::size_t k) { return sCount[k] > 0 ? sVal[k * sStride] : 0.0f; };
            const float v00 = first(k00), v01 = first(k01), v10 = first(k10), v11 = first(k11);

            // Only grid points inside the grid are written; clipping the loops keeps a cell
            // with far-away corners from spinning over points that would be skipped anyway.
            const int gxFrom = std::max(x0, 0), gxTo = std::min(x1, mDimX - 1);
            const int gyFrom = std::max(y0, 0), gyTo = std::min(y1, mDimY - 1);
            if (gxFrom <= gxTo && gyFrom <= gyTo)
                work += (static_cast<long long>(gxTo) - gxFrom + 1) * (static_cast<long long>(gyTo) - gyFrom + 1);
            if (work > budget) {
                qDebug().noquote() << QStringLiteral("Resampling stopped: the dataset's cells overlap far beyond "
                                                     "its grid (more than %1 grid point writes); the rest of "
                                                     "the grid stays empty.").arg(budget);
                progress.close();
                return;
            }
            for (int gx = gxFrom; gx <= gxTo; ++gx) {
                const long long a = static_cast<long long>(gx) - x0;
                // A zero span in one direction: no interpolation along it.
                double bx = p00.x, by = p00.y, tx = p01.x, ty = p01.y;
                float bv = v00, tv = v01;
                if (dx != 0) {
                    bx = (p10.x - p00.x) / dx * a + p00.x;
                    by = (p10.y - p00.y) / dx * a + p00.y;
                    tx = (p11.x - p01.x) / dx * a + p01.x;
                    ty = (p11.y - p01.y) / dx * a + p01.y;
                    bv = (v10 - v00) / dx * a + v00;
                    tv = (v11 - v01) / dx * a + v01;
                }
                for (int gy = gyFrom; gy <= gyTo; ++gy) {
                    const std::size_t t = indexOf(gx, gy, 0);
                    const int32_t previous = stamp[t];
                    if (previous > key)
                        continue;
                    stamp[t] = key;
                    const long long b = static_cast<long long>(gy) - y0;
                    double rx = bx, ry = by;
                    float rv = bv;
                    if (dy != 0) {
                        rx = (tx - bx) / dy * b + bx;
                        ry = (ty - by) / dy * b + by;
                        rv = (tv - bv) / dy * b + bv;
                    }
                    if (previous != 0)
                        tPos[t] = Vector3(); // may hold a copied point's position
                    tDir[t] = Vector3(rx, ry, 0.0);
                    tCount[t] = 2;
                    tVal[t * tStride] = rv;
                    tVal[t * tStride + 1] = 0.0f;
                }
            }
        }
        const int due = static_cast<int>(int64_t(j + 1) * columns / cellsY);
        while (reported < due)
            progress.setValue(reported++);
        progress.keepAlive();
    }
    progress.close();
}
