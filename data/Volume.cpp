#include "data/Volume.h"

#include "data/BlockPool.h"
#include "data/SinglePrecision.h"

#include <QDebug>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// ---------------------------------------------------------------- PointStore

namespace {
bool multiplyFits(std::size_t a, std::size_t b, std::size_t &out)
{
    return !__builtin_mul_overflow(a, b, &out);
}
} // namespace

PointStore::Block::Block(Block &&o) noexcept
    : mData(o.mData), mBytes(o.mBytes), mCapacity(o.mCapacity), mMapped(o.mMapped)
{
    o.mData = nullptr;
    o.mBytes = o.mCapacity = 0;
    o.mMapped = false;
}

PointStore::Block &PointStore::Block::operator=(Block &&o) noexcept
{
    if (this != &o) {
        release();
        std::swap(mData, o.mData);
        std::swap(mBytes, o.mBytes);
        std::swap(mCapacity, o.mCapacity);
        std::swap(mMapped, o.mMapped);
    }
    return *this;
}

bool PointStore::Block::allocate(std::size_t bytes, bool zeroed)
{
    release();
    if (bytes == 0)
        return true;
    if (blockpool::mapped(bytes)) {
        std::size_t capacity = 0;
        void *p = blockpool::acquire(bytes, zeroed, capacity);
        if (!p)
            return false;
        mData = p;
        mCapacity = capacity;
        mMapped = true;
    } else {
        mData = std::calloc(bytes, 1);
        if (!mData)
            return false;
        mMapped = false;
    }
    mBytes = bytes;
    return true;
}

bool PointStore::Block::resize(std::size_t bytes)
{
    if (bytes == mBytes)
        return true;
    Block fresh;
    if (!fresh.allocate(bytes))
        return false;
    if (mData && bytes)
        std::memcpy(fresh.mData, mData, std::min(bytes, mBytes));
    *this = std::move(fresh);
    return true;
}

void PointStore::Block::release()
{
    if (!mData)
        return;
    if (mMapped)
        blockpool::release(mData, mCapacity);
    else
        std::free(mData);
    mData = nullptr;
    mBytes = mCapacity = 0;
    mMapped = false;
}

void PointStore::Block::discard(std::size_t from, std::size_t bytes)
{
    if (!mMapped || from >= mBytes)
        return;
    bytes = std::min(bytes, mBytes - from);
    blockpool::discard(static_cast<char *>(mData) + from, bytes);
}

void PointStore::discardPoints(std::size_t first, std::size_t n)
{
    if (first >= mSize)
        return;
    n = std::min(n, mSize - first);
    mPos.discard(first * sizeof(Vector3), n * sizeof(Vector3));
    mDir.discard(first * sizeof(Vector3), n * sizeof(Vector3));
    const std::size_t rowBytes = sizeof(float) * static_cast<std::size_t>(mStride);
    mValues.discard(first * rowBytes, n * rowBytes);
}

void PointStore::Block::discardAll()
{
    if (mMapped)
        blockpool::discard(mData, mCapacity);
    else if (mData)
        std::memset(mData, 0, mBytes);
}

void PointStore::discardAll()
{
    mPos.discardAll();
    mDir.discardAll();
    mCount.discardAll();
    mValues.discardAll();
}

bool PointStore::resize(std::size_t n)
{
    std::size_t vecBytes = 0, countBytes = 0, valueBytes = 0;
    const bool fits = multiplyFits(n, sizeof(Vector3), vecBytes) && multiplyFits(n, sizeof(int32_t), countBytes)
                      && multiplyFits(n, sizeof(float) * static_cast<std::size_t>(mStride), valueBytes);
    if (!fits || !mPos.resize(vecBytes) || !mDir.resize(vecBytes) || !mCount.resize(countBytes)
        || !mValues.resize(valueBytes)) {
        clear();
        return false;
    }
    mSize = n;
    return true;
}

bool PointStore::setChannelsUnfilled(int channels)
{
    if (mStride != 0 || channels <= 0)
        return reserveChannels(channels);
    std::size_t bytes = 0;
    if (!multiplyFits(mSize, sizeof(float) * static_cast<std::size_t>(channels), bytes) || !mValues.allocate(bytes, false))
        return false;
    mStride = channels;
    return true;
}

bool PointStore::reserveChannels(int channels)
{
    if (channels <= mStride)
        return true;
    const std::size_t newStride = static_cast<std::size_t>(channels);
    std::size_t bytes = 0;
    if (!multiplyFits(mSize, sizeof(float) * newStride, bytes))
        return false;
    Block fresh;
    if (!fresh.allocate(bytes))
        return false;
    float *to = fresh.as<float>();
    const float *from = mValues.as<float>();
    for (std::size_t i = 0; i < mSize && from; ++i) {
        const int32_t n = count()[i];
        if (n > 0)
            std::memcpy(to + i * newStride, from + i * static_cast<std::size_t>(mStride), sizeof(float) * static_cast<std::size_t>(n));
    }
    mValues = std::move(fresh);
    mStride = channels;
    return true;
}

void PointStore::clear()
{
    mPos.release();
    mDir.release();
    mCount.release();
    mValues.release();
    mSize = 0;
    mStride = 0;
}

// ---------------------------------------------------------------- Volume

void Volume::releasePoints()
{
    mData.discardAll();
}

Volume::Volume() = default;

Volume::Volume(int dimX, int dimY, int dimZ)
{
    setSize(dimX, dimY, dimZ);
}

QString Volume::sizeRefusal(int dimX, int dimY, int dimZ)
{
    return QStringLiteral("Cannot hold %1 x %2 x %3 points; the volume stays empty.").arg(dimX).arg(dimY).arg(dimZ);
}

bool Volume::setSize(int dimX, int dimY, int dimZ)
{
    dimX = std::max(dimX, 0);
    dimY = std::max(dimY, 0);
    dimZ = std::max(dimZ, 0);
    // Callers compute flat indices in int: the block must stay addressable that way.
    constexpr long long maxPoints = std::numeric_limits<int32_t>::max();
    long long n = static_cast<long long>(dimX) * dimY; // both <= 2^31: no overflow
    const bool tooLarge = n > maxPoints || (n *= dimZ) > maxPoints;
    if (tooLarge || !mData.resize(static_cast<std::size_t>(n))) {
        qDebug().noquote() << sizeRefusal(dimX, dimY, dimZ);
        mData.clear();
        mDimX = mDimY = mDimZ = 0;
        return false;
    }
    mDimX = dimX;
    mDimY = dimY;
    mDimZ = dimZ;
    return true;
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

namespace {
// Index units per world unit along one axis: the extent stretched over `dim` units.
float indexScale(int dim, double min, double max)
{
    return roundToSingle(dim / (max - min));
}
} // namespace

Vector3 Volume::getGridPos(int x, int y, int z) const
{
    const float sx = indexScale(mDimX, mMinPos.x, mMaxPos.x);
    const float sy = indexScale(mDimY, mMinPos.y, mMaxPos.y);
    Vector3 p;
    if (isInside(x, y, z))
        p = mData.pos()[indexOf(x, y, z)];
    return Vector3((p.x - mMinPos.x) * sx, (p.y - mMinPos.y) * sy, 0.0);
}

Vector3 Volume::getWorldPos(double x, double y) const
{
    const float sx = indexScale(mDimX, mMinPos.x, mMaxPos.x);
    const float sy = indexScale(mDimY, mMinPos.y, mMaxPos.y);
    return Vector3(mMinPos.x + x / static_cast<double>(sx), mMinPos.y + y / static_cast<double>(sy), 0.0);
}

// ---------------------------------------------------------------- sampling

DataPoint Volume::getValue(double x, double y, double z) const
{
    if (!isInside(x, y, z))
        return DataPoint();
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const int iz = static_cast<int>(std::floor(z));
    const double fx = x - ix;
    const double fy = y - iy;
    const double fz = z - iz;

    const DataPoint c0 = getAt(ix, iy, iz);
    const DataPoint c1 = getAt(ix + 1, iy, iz);
    const DataPoint c2 = getAt(ix, iy + 1, iz);
    const DataPoint c3 = getAt(ix + 1, iy + 1, iz);

    const double w0 = (1 - fz) * (1 - fy) * (1 - fx);
    const double w1 = (1 - fz) * (1 - fy) * fx;
    const double w2 = (1 - fz) * (1 - fx) * fy;
    const double w3 = (1 - fz) * fy * fx;

    return ((c0 * w0 + c1 * w1) + c2 * w2) + c3 * w3;
}
