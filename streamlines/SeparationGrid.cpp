// Placeholder until the separation grid arrives.
#include "SeparationGrid.h"

SeparationGrid::SeparationGrid() = default;
void SeparationGrid::setSize(int w, int h) { mWidth = w; mHeight = h; mCells.resize(w * h); }
bool SeparationGrid::isValidCell(double, double) const { return false; }
QVector<Vector2> SeparationGrid::getNeighbourCells(double, double) const { return {}; }
void SeparationGrid::addPoint(int, int, int) {}
QVector<int> SeparationGrid::getCell(int, int) const { return {}; }
void SeparationGrid::writeLog() const {}
