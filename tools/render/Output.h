#pragma once

// Output files of tessaly-render. Every file is written to a temporary file beside its target
// and renamed over it only when complete, so a failure never leaves a partial file (and leaves
// an existing file of that name as it was). While an outputplan::Transaction lives, the files
// are staged in it and put in place together when it commits.

#include "streamlines/StreamlineRender.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QIODevice;
class QPainter;
class SeparationGrid;
class Volume;

namespace output {

// `error` gets a one-line reason on failure ("cannot write PATH: why", the system's reason
// where a write failed).
// Any output file: `write` fills the device (false, with a reason when it has one, on
// failure); staged in the current outputplan::Transaction, else renamed into place at once.
bool writeFile(const QString &path, const std::function<bool(QIODevice &, QString *)> &write, QString *error);
// The separation grid's counts, as the seeding's "grid.log" holds them (empty without a grid).
bool writeGridLog(const QString &path, const SeparationGrid *grid, QString *error);
// `level` is the deflate level 0 ... 9 (the same pixels at every level), or kPngAuto: the
// fast level 1 for pictures of kFastPngPixels or more, Qt's writer (as "Save Image" writes
// the file) for smaller ones.
constexpr int kPngAuto = -1;
constexpr qint64 kFastPngPixels = qint64(1) << 18;
bool writePng(const QString &path, const QImage &image, QString *error, int level = kPngAuto);
// An SVG of `size` pixels (and view box) whose content `paint` draws.
bool writeSvg(const QString &path, QSize size, const QString &title, const std::function<void(QPainter &)> &paint,
              QString *error);
// Streamline polylines as data: grid index and world coordinates of every point.
// CSV: header, then "line,point,index_x,index_y,world_x,world_y" rows; lines count from 0.
bool writeCsv(const QString &path, const QVector<Streamline> &lines, const Volume &loaded, QString *error);
// Legacy VTK POLYDATA: world positions as POINTS (z = 0), one LINES cell per line, and the
// point data "index" (grid index x, y) and "line" (the line's number).
bool writeVtk(const QString &path, const QVector<Streamline> &lines, const Volume &loaded, const QString &title,
              QString *error);

} // namespace output
