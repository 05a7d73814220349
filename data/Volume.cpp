#include "Volume.h"

#include <QDebug>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

Volume *loadedVolume = nullptr;
Volume *gridVolume = nullptr;

// ---------------------------------------------------------------- PointStore

void PointStore::FreeDeleter::operator()(void *p) const
{
    std::free(p);
}

namespace {

// Grows or shrinks a calloc'ed block, zeroing what is new. Fresh blocks come from calloc so
// large ones are demand-zero pages that cost nothing until the loader writes them.
template <typename T>
bool reallocZeroed(std::unique_ptr<T[], PointStore::FreeDeleter> &buf, std::size_t oldCount, std::size_t newCount)
{
    if (newCount == 0) {
        buf.reset();
        return true;
    }
    if (newCount > std::numeric_limits<std::size_t>::max() / sizeof(T))
        return false;
    if (!buf) {
        void *p = std::calloc(newCount, sizeof(T));
        if (!p)
            return false;
        buf.reset(static_cast<T *>(p));
        return true;
    }
    void *p = std::realloc(buf.get(), newCount * sizeof(T));
    if (!p)
        return false;
    (void)buf.release();
    buf.reset(static_cast<T *>(p));
    if (newCount > oldCount)
        std::memset(static_cast<void *>(buf.get() + oldCount), 0, (newCount - oldCount) * sizeof(T));
    return true;
}

} // namespace

bool PointStore::resize(std::size_t n)
{
    const std::size_t old = mSize;
    const std::size_t stride = static_cast<std::size_t>(mStride);
    if (stride != 0 && n > std::numeric_limits<std::size_t>::max() / stride) {
        clear();
        return false;
    }
    if (!reallocZeroed(mPos, old, n) || !reallocZeroed(mDir, old, n) || !reallocZeroed(mCount, old, n)
        || !reallocZeroed(mValues, old * stride, n * stride)) {
        clear();
        return false;
    }
    mSize = n;
    return true;
}

bool PointStore::reserveChannels(int channels)
{
    if (channels <= mStride)
        return true;
    const std::size_t newStride = static_cast<std::size_t>(channels);
    if (mSize != 0 && mSize > std::numeric_limits<std::size_t>::max() / sizeof(float) / newStride)
        return false;
    Buffer<float> fresh;
    if (mSize != 0) {
        void *p = std::calloc(mSize * newStride, sizeof(float));
        if (!p)
            return false;
        fresh.reset(static_cast<float *>(p));
        for (std::size_t i = 0; i < mSize; ++i) {
            const int32_t n = mCount[i];
            if (n > 0)
                std::memcpy(fresh.get() + i * newStride, mValues.get() + i * mStride, sizeof(float) * n);
        }
    }
    mValues = std::move(fresh);
    mStride = channels;
    return true;
}

void PointStore::clear()
{
    mPos.reset();
    mDir.reset();
    mCount.reset();
    mValues.reset();
    mSize = 0;
    mStride = 0;
}

// ---------------------------------------------------------------- Volume

Volume::Volume() = default;

Volume::Volume(int dimX, int dimY, int dimZ)
{
    setSize(dimX, dimY, dimZ);
}

void Volume::setSize(int dimX, int dimY, int dimZ)
{
    dimX = std::max(dimX, 0);
    dimY = std::max(dimY, 0);
    dimZ = std::max(dimZ, 0);
    // Callers compute flat indices in int: the block must stay addressable that way.
    constexpr long long maxPoints = std::numeric_limits<int32_t>::max();
    long long n = static_cast<long long>(dimX) * dimY; // both <= 2^31: no overflow
    const bool tooLarge = n > maxPoints || (n *= dimZ) > maxPoints;
    if (tooLarge || !mData.resize(static_cast<std::size_t>(n))) {
        qDebug().noquote() << QStringLiteral("Cannot hold %1 x %2 x %3 points; the volume stays empty.")
                                  .arg(dimX).arg(dimY).arg(dimZ);
        mData.clear();
        mDimX = mDimY = mDimZ = 0;
        return;
    }
    mDimX = dimX;
    mDimY = dimY;
    mDimZ = dimZ;
}

DataPoint Volume::getAt(int x, int y, int z) const
{
    DataPoint p;
    if (!isInside(x, y, z))
        return p;
    const std::size_t i = indexOf(x, y, z);
    p.mPos = mData.pos()[i];
    p.mDir = mData.dir()[i];
    const int32_t n = mData.count()[i];
    if (n > 0) {
        const float *v = mData.values() + i * static_cast<std::size_t>(mData.stride());
        p.mValues = QList<float>(v, v + n);
    }
    return p;
}

void Volume::setAt(int x, int y, int z, DataPoint point)
{
    if (!isInside(x, y, z))
        return;
    const int n = static_cast<int>(point.mValues.size());
    if (!mData.reserveChannels(n)) {
        qDebug() << "Cannot store" << n << "values per point; point not stored.";
        return;
    }
    const std::size_t i = indexOf(x, y, z);
    mData.pos()[i] = point.mPos;
    mData.dir()[i] = point.mDir;
    mData.count()[i] = n;
    if (n > 0)
        std::memcpy(mData.values() + i * static_cast<std::size_t>(mData.stride()), point.mValues.constData(),
                    sizeof(float) * static_cast<std::size_t>(n));
}

Vector3 Volume::getGridPos(int x, int y, int z) const
{
    const float sx = static_cast<float>(mDimX / (mMaxPos.x - mMinPos.x));
    const float sy = static_cast<float>(mDimY / (mMaxPos.y - mMinPos.y));
    Vector3 p;
    if (isInside(x, y, z))
        p = mData.pos()[indexOf(x, y, z)];
    return Vector3((p.x - mMinPos.x) * sx, (p.y - mMinPos.y) * sy, 0.0);
}

// ---------------------------------------------------------------- sampling

DataPoint Volume::getValue(double x, double y, double z)
{
    if (!isInside(x, y, z))
        return DataPoint();
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const int iz = static_cast<int>(std::floor(z));
    const double fx = x - ix;
    const double fy = y - iy;
    const double fz = z - iz;

    mCorners[0] = getAt(ix, iy, iz);
    mCorners[1] = getAt(ix + 1, iy, iz);
    mCorners[2] = getAt(ix, iy + 1, iz);
    mCorners[3] = getAt(ix + 1, iy + 1, iz);

    const double w0 = (1 - fz) * (1 - fy) * (1 - fx);
    const double w1 = (1 - fz) * (1 - fy) * fx;
    const double w2 = (1 - fz) * (1 - fx) * fy;
    const double w3 = (1 - fz) * fy * fx;

    return ((mCorners[0] * w0 + mCorners[1] * w1) + mCorners[2] * w2) + mCorners[3] * w3;
}

Vector3 Volume::sampleDir(double x, double y, double z) const
{
    if (!isInside(x, y, z))
        return Vector3();
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const int iz = static_cast<int>(std::floor(z));
    const double fx = x - ix;
    const double fy = y - iy;
    const double fz = z - iz;

    // Corners past the last column or row are zero points: the field fades towards them.
    const Vector3 *dir = mData.dir();
    const std::size_t i0 = indexOf(ix, iy, iz);
    const bool hasX = ix + 1 < mDimX;
    const bool hasY = iy + 1 < mDimY;
    const Vector3 zero;
    const Vector3 &c0 = dir[i0];
    const Vector3 &c1 = hasX ? dir[i0 + 1] : zero;
    const Vector3 &c2 = hasY ? dir[i0 + static_cast<std::size_t>(mDimX)] : zero;
    const Vector3 &c3 = (hasX && hasY) ? dir[i0 + static_cast<std::size_t>(mDimX) + 1] : zero;

    const double w0 = (1 - fz) * (1 - fy) * (1 - fx);
    const double w1 = (1 - fz) * (1 - fy) * fx;
    const double w2 = (1 - fz) * (1 - fx) * fy;
    const double w3 = (1 - fz) * fy * fx;

    return ((c0 * w0 + c1 * w1) + c2 * w2) + c3 * w3;
}
