#include "Volume.h"
#include "SinglePrecision.h"

#include <QDebug>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>
#include <sys/mman.h>

// ---------------------------------------------------------------- PointStore

#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_ADDRESS_SANITIZER 1
#endif
#endif

namespace {
// From this size on blocks are mapped and pooled. The C library maps such blocks itself and
// unmaps them when freed, or trims them off the heap's top: either way every load of a
// dataset of a few hundred thousand points faulted in its megabyte-sized blocks afresh, which
// took longer than reading its files. Under AddressSanitizer blocks up to 256 MB come from
// the C library, so that an access past a block's end is reported, not lost in a mapping
// (absurd sizes still go to mmap, which refuses them instead of aborting the process).
#if defined(TESSALY_ADDRESS_SANITIZER)
constexpr std::size_t kMapThreshold = std::size_t(256) << 20;
#else
constexpr std::size_t kMapThreshold = 128u << 10;
#endif
constexpr std::size_t kPage = 4u << 10;
constexpr std::size_t kHugePage = 2u << 20;

// What a mapped block's size is rounded up to. Huge pages from half a huge page on (fewer TLB
// misses when a view reads the block at random); a smaller block would hold mostly unused
// memory.
std::size_t mappingUnit(std::size_t bytes)
{
    return bytes >= kHugePage / 2 ? kHugePage : kPage;
}

// Large blocks given back are kept for reuse (up to kPoolBytes): every load replaces both
// volumes with new ones of the same kind of size, and reusing memory the process already has
// avoids a page fault per page, which is the larger part of a load's cost in a virtual machine.
class BlockPool
{
public:
    // A kept block of at least `bytes` (and not wastefully larger), zeroed unless the caller
    // writes every byte itself; null if none. The most recently kept first: it is the one
    // most likely still in cache.
    void *take(std::size_t bytes, std::size_t &capacity, bool zeroed)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        for (std::size_t i = mBlocks.size(); i-- > 0;) {
            const Kept k = mBlocks[i];
            if (k.capacity >= bytes && k.capacity <= bytes + bytes / 2 + mappingUnit(bytes)) {
                mBlocks.erase(mBlocks.begin() + static_cast<long>(i));
                mTotal -= k.capacity;
                capacity = k.capacity;
                if (zeroed)
                    std::memset(k.data, 0, bytes);
                return k.data;
            }
        }
        return nullptr;
    }
    // Keeps the block (the newest are kept, the oldest unmapped when over the limit).
    void give(void *data, std::size_t capacity)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (capacity > kPoolBytes) {
            munmap(data, capacity);
            return;
        }
        mBlocks.push_back({data, capacity});
        mTotal += capacity;
        while (mTotal > kPoolBytes || mBlocks.size() > kPoolBlocks) {
            munmap(mBlocks.front().data, mBlocks.front().capacity);
            mTotal -= mBlocks.front().capacity;
            mBlocks.erase(mBlocks.begin());
        }
    }

private:
    static constexpr std::size_t kPoolBytes = std::size_t(1) << 30;
    static constexpr std::size_t kPoolBlocks = 12;
    struct Kept
    {
        void *data;
        std::size_t capacity;
    };
    std::mutex mMutex;
    std::vector<Kept> mBlocks;
    std::size_t mTotal = 0;
};

BlockPool &pool()
{
    static BlockPool *p = new BlockPool; // never destroyed: blocks may be released at exit
    return *p;
}

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
    if (bytes >= kMapThreshold) {
        std::size_t capacity = 0;
        void *p = pool().take(bytes, capacity, zeroed);
        if (!p) {
            if (bytes > std::numeric_limits<std::size_t>::max() - kHugePage)
                return false;
            const std::size_t unit = mappingUnit(bytes);
            capacity = (bytes + unit - 1) / unit * unit;
            p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED)
                return false;
            if (unit == kHugePage)
                madvise(p, capacity, MADV_HUGEPAGE);
        }
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
        pool().give(mData, mCapacity);
    else
        std::free(mData);
    mData = nullptr;
    mBytes = mCapacity = 0;
    mMapped = false;
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
