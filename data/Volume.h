#pragma once

#include "data/DataPoint.h"
#include "data/DatasetError.h"
#include "data/Vector3.h"

#include <QString>

#include <QStringList>

#include <cstddef>
#include <cstdint>

// Column storage for the points of a volume. A DataPoint carries its own heap list of
// values; millions of those would cost one allocation per point, so the volume keeps
// positions, vectors and values in flat arrays and builds DataPoints only on request.
// Values sit in rows of `stride` floats; `count[i]` says how many of point i's are set.
class PointStore
{
public:
    PointStore() = default;
    PointStore(const PointStore &) = delete;
    PointStore &operator=(const PointStore &) = delete;

    // Resizes to n points; kept points keep their content, new points are zero points.
    // Returns false (and leaves the store empty) when the memory cannot be had.
    bool resize(std::size_t n);
    // Makes room for at least `channels` values per point, keeping what is stored.
    bool reserveChannels(int channels);
    // The same for a store without values yet, whose caller then writes every value of every
    // point: the new values are left as the memory holds them (no zero-filling pass).
    bool setChannelsUnfilled(int channels);
    void clear();
    // Gives back the memory of points [first, first + n) of the positions, vectors and values
    // (not the counts), where whole pages of it can go: those read as zero afterwards, the
    // rest as it was. For a resampling that is done with the rows of its source.
    void discardPoints(std::size_t first, std::size_t n);
    // Every point a zero point, the memory of mapped blocks given back.
    void discardAll();

    std::size_t size() const { return mSize; }
    int stride() const { return mStride; }

    Vector3 *pos() { return mPos.as<Vector3>(); }
    Vector3 *dir() { return mDir.as<Vector3>(); }
    int32_t *count() { return mCount.as<int32_t>(); }
    float *values() { return mValues.as<float>(); }
    const Vector3 *pos() const { return mPos.as<Vector3>(); }
    const Vector3 *dir() const { return mDir.as<Vector3>(); }
    const int32_t *count() const { return mCount.as<int32_t>(); }
    const float *values() const { return mValues.as<float>(); }

    // Zero-filled memory. Large blocks are pooled anonymous mappings (BlockPool.h): their
    // zero pages cost nothing until written, and a load that writes hundreds of megabytes
    // takes a few hundred page faults instead of a hundred thousand.
    class Block
    {
    public:
        Block() = default;
        ~Block() { release(); }
        Block(const Block &) = delete;
        Block &operator=(const Block &) = delete;
        Block(Block &&o) noexcept;
        Block &operator=(Block &&o) noexcept;

        bool allocate(std::size_t bytes, bool zeroed = true); // fresh block, zeroed unless asked not to
        bool resize(std::size_t bytes);            // keeps the common prefix, zeroes the rest
        void release();
        // Bytes [from, from + bytes) read as zero afterwards where they fill whole pages of a
        // mapped block, which go back to the system; the rest is left as it is.
        void discard(std::size_t from, std::size_t bytes);
        void discardAll(); // all of it zero, mapped pages given back
        template <typename T> T *as() const { return static_cast<T *>(mData); }

    private:
        void *mData = nullptr;
        std::size_t mBytes = 0;    // what the owner asked for
        std::size_t mCapacity = 0; // what was mapped (mapped blocks only)
        bool mMapped = false;
    };

private:
    std::size_t mSize = 0;
    int mStride = 0;
    Block mPos;
    Block mDir;
    Block mCount;
    Block mValues;
};

// The flow dataset: mDimX x mDimY x mDimZ points stored x fastest, then y, then z.
// Index space: point (x, y, z) sits at integer coordinates; world coordinates exist only
// in the positions of a loaded dataset and its extent (mMinPos, mMaxPos).
class Volume
{
public:
    Vector3 mMinPos;
    Vector3 mMaxPos;

    Volume();
    Volume(int dimX, int dimY, int dimZ);
    Volume(const Volume &) = delete;
    Volume &operator=(const Volume &) = delete;

    // Negative counts count as 0; a block too large to allocate leaves the volume empty
    // (with a console message) and returns false.
    bool setSize(int dimX, int dimY, int dimZ);
    // That console message.
    static QString sizeRefusal(int dimX, int dimY, int dimZ);
    int getDimX() const { return mDimX; }
    int getDimY() const { return mDimY; }
    int getDimZ() const { return mDimZ; }
    std::size_t pointCount() const { return mData.size(); }

    bool isInside(double x, double y, double z) const
    {
        return x >= 0.0 && x < mDimX && y >= 0.0 && y < mDimY && z >= 0.0 && z < mDimZ;
    }
    DataPoint getAt(int x, int y, int z) const;
    // Indices outside the volume are ignored (nothing is written).
    void setAt(int x, int y, int z, DataPoint point);
    // World position of the stored point mapped into index space: the extent is stretched
    // over mDimX x mDimY index units.
    Vector3 getGridPos(int x, int y, int z) const;
    // The extent as a load takes it: start from noExtent() and hand every point's position to
    // takeExtent(), which takes over whole positions, never single coordinates; z is set to 0
    // at the end.
    static void noExtent(Vector3 &minPos, Vector3 &maxPos)
    {
        minPos = Vector3(99999999.0, 99999999.0, 99999999.0);
        maxPos = Vector3(-99999999.0, -99999999.0, -99999999.0);
    }
    static void takeExtent(Vector3 &minPos, Vector3 &maxPos, const Vector3 &p)
    {
        if (p.x <= minPos.x && p.y <= minPos.y)
            minPos = p;
        if (p.x >= maxPos.x && p.y >= maxPos.y)
            maxPos = p;
    }
    // World position (z = 0) of an index-space position: the inverse of getGridPos's mapping,
    // with the same single-precision scale factors. A zero-width extent maps to its edge.
    Vector3 getWorldPos(double x, double y) const;

    // Reads a dataset (grid file name; the data file name is derived). Writes the console
    // trace; refuses bad files with a console message and leaves the volume empty. Returns
    // that refusal (kind None when points were read); a load that read points but met a
    // problem on the way appends its console line to `warnings`.
    DatasetError load(const QString &fileName, QStringList *warnings = nullptr);
    // Fills this volume, a grid that holds only zero points as created, by resampling
    // `source` onto it. A problem that leaves part of the grid empty appends its console line
    // to `warnings`.
    void calculateGridFrom(const Volume &source, QStringList *warnings = nullptr);
    // The same for a caller that needs only the grid of `source`, and its size and extent,
    // afterwards: the memory of its points goes back to the system as the resampling is done
    // with their rows, and at the end `source` is as releasePoints() leaves it.
    void calculateGridReleasing(Volume &source, QStringList *warnings = nullptr);
    // Gives the memory of every point back: the volume keeps its size and extent, and every
    // point reads as a zero point.
    void releasePoints();

    // Bilinear sample at an index-space position; a zero point outside.
    DataPoint getValue(double x, double y, double z) const;
    // Exactly getValue(x, y, z).mDir, without building points: the hot path of integration,
    // inline so that a step's samples need no calls.
    Vector3 sampleDir(double x, double y, double z) const
    {
        if (!isInside(x, y, z))
            return Vector3();
        return sampleDirInside(x, y, z);
    }
    // sampleDir for a position that isInside accepts, without testing it again.
    Vector3 sampleDirInside(double x, double y, double z) const
    {
        // Inside, every coordinate is >= 0 (or -0.0), where truncation is floor: no
        // rounding sequence is needed (the baseline instruction set has no floor).
        const int ix = static_cast<int>(x);
        const int iy = static_cast<int>(y);
        const int iz = static_cast<int>(z);
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

    // Flat access for computations that walk many points.
    std::size_t indexOf(int x, int y, int z) const
    {
        return (static_cast<std::size_t>(mDimY) * static_cast<std::size_t>(z) + static_cast<std::size_t>(y))
                   * static_cast<std::size_t>(mDimX)
               + static_cast<std::size_t>(x);
    }
    const PointStore &store() const { return mData; }
    PointStore &store() { return mData; }

private:
    int mDimX = 0;
    int mDimY = 0;
    int mDimZ = 0;
    PointStore mData;
};
