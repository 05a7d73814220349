#pragma once

#include <QVector>

// A pair of cell coordinates.
struct Vector2
{
    double x = 0.0;
    double y = 0.0;
    Vector2() = default;
    Vector2(double px, double py) : x(px), y(py) {}
};

// Square cells of side dSep over the streamline field; each cell lists the indices of the
// traced points (into the seeding's point list) that fall into it, so a closeness query
// looks only at the 3 x 3 cells around a position.
class SeparationGrid
{
public:
    SeparationGrid();
    void setSize(int w, int h);
    bool isValidCell(double cx, double cy) const;
    QVector<Vector2> getNeighbourCells(double cx, double cy) const;
    void addPoint(int cx, int cy, int index);
    QVector<int> getCell(int cx, int cy) const;
    // Writes the cell counts to "grid.log" in the working directory.
    void writeLog() const;

    int mWidth = 0;
    int mHeight = 0;
    QVector<QVector<int>> mCells;
};
