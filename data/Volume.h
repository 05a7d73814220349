#pragma once

#include "DataPoint.h"
#include "Vector3.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

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
    void clear();

    std::size_t size() const { return mSize; }
    int stride() const { return mStride; }

    Vector3 *pos() { return mPos.get(); }
    Vector3 *dir() { return mDir.get(); }
    int32_t *count() { return mCount.get(); }
    float *values() { return mValues.get(); }
    const Vector3 *pos() const { return mPos.get(); }
    const Vector3 *dir() const { return mDir.get(); }
    const int32_t *count() const { return mCount.get(); }
    const float *values() const { return mValues.get(); }

    struct FreeDeleter { void operator()(void *p) const; };
    template <typename T> using Buffer = std::unique_ptr<T[], FreeDeleter>;

private:

    std::size_t mSize = 0;
    int mStride = 0;
    Buffer<Vector3> mPos;
    Buffer<Vector3> mDir;
    Buffer<int32_t> mCount;
    Buffer<float> mValues;
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

    // Negative counts count as 0; a block too large to allocate leaves the volume empty.
    void setSize(int dimX, int dimY, int dimZ);
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

    // Reads a dataset (grid file name; the data file name is derived). Writes the console
    // trace; refuses bad files with a console message and leaves the volume empty.
    void load(QString fileName);
    // Fills this volume by resampling the process-wide loadedVolume.
    void calculateGrid();
    // The same resampling from an explicit source.
    void calculateGridFrom(const Volume &source);

    // Bilinear sample at an index-space position; a zero point outside.
    // Writes the corner scratch mCorners.
    DataPoint getValue(double x, double y, double z);
    // Exactly getValue(x, y, z).mDir, without building points: the hot path of integration.
    Vector3 sampleDir(double x, double y, double z) const;

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
    DataPoint mCorners[8];
};

// The dataset as read from its files, and the same field resampled onto a regular grid with
// the same x and y counts and one layer. Null until the first load; only the control dock
// replaces them. Readers must check Busy::isBusy() first: during a load they are half-filled.
extern Volume *loadedVolume;
extern Volume *gridVolume;
