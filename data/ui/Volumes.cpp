#include "data/ui/Volumes.h"

const Volume *loadedVolume = nullptr;
const Volume *gridVolume = nullptr;

namespace {
std::shared_ptr<const Dataset> &current()
{
    static std::shared_ptr<const Dataset> dataset;
    return dataset;
}
} // namespace

std::shared_ptr<const Dataset> currentDataset()
{
    return current();
}

void setCurrentDataset(std::shared_ptr<const Dataset> dataset)
{
    // The pointers go first: nothing may point into a dataset while it is released.
    loadedVolume = dataset ? &dataset->loaded() : nullptr;
    gridVolume = dataset ? &dataset->grid() : nullptr;
    current() = std::move(dataset);
}
