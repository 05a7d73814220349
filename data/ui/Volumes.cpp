#include "Volumes.h"

Volume *loadedVolume = nullptr;
Volume *gridVolume = nullptr;

void Volume::calculateGrid()
{
    if (loadedVolume)
        calculateGridFrom(*loadedVolume);
}
