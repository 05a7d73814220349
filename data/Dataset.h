#pragma once

#include "data/DatasetError.h"
#include "data/FieldArrays.h"
#include "data/Volume.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct DatasetResult;

// A flow dataset as every view reads it: the volume as loaded (world positions, flow, channel
// values) and the same field resampled onto the regular grid of the same x and y counts and
// one layer (index space). Immutable once made and shared by pointer; a dataset of no points
// exists only as what a failed load leaves behind (DatasetResult::state).
class Dataset
{
public:
    Dataset(const Dataset &) = delete;
    Dataset &operator=(const Dataset &) = delete;

    const Volume &loaded() const { return *mLoaded; }
    const Volume &grid() const { return *mGrid; }
    // What went wrong without stopping the dataset: a file that shrank while it was read,
    // a resampling that stopped early. Each is the console line that reported it.
    const QStringList &warnings() const { return mWarnings; }
    bool isEmpty() const { return mLoaded->pointCount() == 0; }

    // Read-only flat views of a volume's columns, for bindings and tools that copy them out.
    // Positions and flow vectors are x, y, z doubles per point; values are `stride` floats
    // per point of which `counts[i]` are set. Points run x fastest, then y, then z. Valid as
    // long as the dataset lives.
    struct Columns
    {
        int dimX = 0, dimY = 0, dimZ = 0;
        std::size_t points = 0;
        const double *positions = nullptr; // 3 * points
        const double *directions = nullptr; // 3 * points
        const float *values = nullptr;      // stride * points
        const std::int32_t *counts = nullptr; // points
        int stride = 0;
    };
    static Columns columns(const Volume &volume);
    Columns loadedColumns() const { return columns(*mLoaded); }
    Columns gridColumns() const { return columns(*mGrid); }

    // A dataset from a field in memory, by the importer's rules: oriented so that the first
    // point is the lower-left corner, flow times flowScale, channel 0 the scalar mapped onto
    // the arrow plot's scale (the flow speed without a scalar; `haveRange` maps low ... high
    // instead of the data's own range), channel 1 the original value, the arrays' extra
    // channels after them, NaN for missing. It equals what loading the files tessaly-import
    // writes for the same field gives, point for point and bit for bit. Fails (BadArrays)
    // where the importer refuses the field, its positions included (field::positionProblem).
    struct FieldOptions
    {
        bool haveRange = false;
        double low = 0.0, high = 0.0;
        double flowScale = 1.0; // finite, > 0
    };
    static DatasetResult fromArrays(field::Arrays arrays, const FieldOptions &options);
    static DatasetResult fromArrays(field::Arrays arrays);

    // A dataset of volumes made elsewhere (tests, generators): the loaded volume, and the
    // grid resampled from it here unless given.
    static std::shared_ptr<const Dataset> fromVolumes(std::unique_ptr<Volume> loaded, std::unique_ptr<Volume> grid = nullptr,
                                                      QStringList warnings = {});

private:
    Dataset(std::unique_ptr<Volume> loaded, std::unique_ptr<Volume> grid, QStringList warnings);

    std::unique_ptr<const Volume> mLoaded;
    std::unique_ptr<const Volume> mGrid;
    QStringList mWarnings;
};

// A dataset or the reason there is none.
struct DatasetResult
{
    std::shared_ptr<const Dataset> dataset; // null when the load failed
    DatasetError error;                     // kind None when it succeeded
    // What the attempt left: the dataset, or after a failure the empty volumes with the
    // extent the loader had reached, as the interactive program keeps them.
    std::shared_ptr<const Dataset> state;

    explicit operator bool() const { return dataset != nullptr; }
};

// Loads a grid file and its data file and resamples the field onto its regular grid, writing
// the program's console trace and showing the loader's and the resampling's progress (through
// the installed Progress display). `afterRead`, if given, runs once the files are read and
// before the resampling starts, whatever the outcome. A file of no points fails (NoPoints); a
// refused file fails with the loader's console line as the message ("the dataset holds no
// points" for a header of zero counts, which the console does not report).
//
// What a load keeps of the volume as read: all of it (Keep), or, for a caller that reads only
// the grid and the loaded volume's size and extent (the arrow and streamline views, world
// positions of traced points), only those (Release): the memory of its points then goes back
// to the system as the resampling is done with their rows, so that the two volumes are never
// held whole together, and every point of loaded() reads as a zero point.
enum class LoadedPoints { Keep, Release };
DatasetResult loadDataset(const QString &gridFile, const std::function<void()> &afterRead = {},
                          LoadedPoints loadedPoints = LoadedPoints::Keep);
