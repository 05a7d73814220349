#pragma once

// The streamline view's two computations on a dataset, each in one call: the regular seed
// grid traced with fixed-length lines, and the evenly spaced seeding with its separation
// grid (grid.log). Both print the seeding trace the view prints before it draws, and give
// the lines, the pixel polylines the view draws and, on request, the picture.

#include "data/Dataset.h"
#include "streamlines/EvenlySpacedSeeding.h"
#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineDefaults.h"

#include <QByteArray>
#include <QImage>
#include <QPolygon>
#include <QSize>
#include <QVector>

#include <memory>

struct StreamlineResult
{
    QSize size;     // pixels: one per grid cell
    ViewRect view;  // the visible region, grid units
    QVector<Vector3> seeds;     // regular: the seed grid
    QVector<Streamline> lines;  // evenly spaced: each line once per seed search made on it, as the view lists them
    QVector<QPolygon> polylines; // what the view draws, in drawing order
    std::unique_ptr<SeparationGrid> separation; // evenly spaced only
    QImage image;   // the view's picture, when asked for

    // The separation grid's counts as "grid.log" holds them; empty without a grid.
    QByteArray gridLog() const;
};

StreamlineResult regularStreamlines(const Dataset &dataset, const StreamlineSettings &settings, bool picture = false);
StreamlineResult evenlySpacedStreamlines(const Dataset &dataset, const StreamlineSettings &settings, bool picture = false);

// The same on a regular grid volume (the dataset's grid), for callers that hold only that.
StreamlineResult regularStreamlines(const Volume &grid, const StreamlineSettings &settings, bool picture = false);
StreamlineResult evenlySpacedStreamlines(const Volume &grid, const StreamlineSettings &settings, bool picture = false);
