#include "SeparationGrid.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>

#include <algorithm>

SeparationGrid::SeparationGrid() = default;

void SeparationGrid::setSize(int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (qint64(w) * qint64(h) > kMaxCells) {
        qDebug() << "separation grid of" << w << "x" << h << "cells is too large; the grid stays empty";
        w = h = 0;
    }
    mWidth = w;
    mHeight = h;
    mCells.resize(qsizetype(w) * h);
}

bool SeparationGrid::isValidCell(double cx, double cy) const
{
    // In double throughout: callers pass cell numbers far outside int range without harm.
    return cx >= 0.0 && cx < mWidth && cy >= 0.0 && cy < mHeight
           && cy * mWidth + cx < double(mWidth) * double(mHeight);
}

QVector<Vector2> SeparationGrid::getNeighbourCells(double cx, double cy) const
{
    QVector<Vector2> cells;
    // Beyond these bounds (or for NaN) no cell of the block can be valid; checking first
    // keeps the truncation to int below defined.
    if (!(cx > -3.0 && cx < mWidth + 1.0 && cy > -3.0 && cy < mHeight + 1.0))
        return cells;
    for (int i = int(cx - 1.0); i < cx + 2.0; ++i) {
        for (int j = int(cy - 1.0); j < cy + 2.0; ++j) {
            if (isValidCell(i, j))
                cells.append(Vector2(i, j));
        }
    }
    return cells;
}

void SeparationGrid::addPoint(int cx, int cy, int index)
{
    const qint64 k = qint64(cy) * mWidth + cx;
    if (!isValidCell(cx, cy) || k >= mCells.size()) {
        qDebug() << "index out of range" << cx << ":" << cy;
        return;
    }
    mCells[k].append(index);
    mMinIndex = std::min(mMinIndex, index);
    mMaxIndex = std::max(mMaxIndex, index);
}

QVector<int> SeparationGrid::getCell(int cx, int cy) const
{
    // A negative cx with a positive row still names an entry (the end of the row above);
    // only entry numbers outside the cells give an empty list.
    const qint64 k = qint64(cy) * mWidth + cx;
    if (k < 0 || k >= qint64(mWidth) * mHeight || k >= mCells.size())
        return {};
    return mCells.at(k);
}

bool SeparationGrid::writeLog() const
{
    QByteArray text;
    text.reserve(qsizetype(mWidth + 1) * mHeight * 3);
    for (int cy = 0; cy < mHeight; ++cy) {
        for (int cx = 0; cx < mWidth; ++cx) {
            const qsizetype k = qsizetype(cy) * mWidth + cx;
            text += '\t';
            text += QByteArray::number(k < mCells.size() ? mCells.at(k).size() : 0);
        }
        text += '\n';
    }

    QFile file(QStringLiteral("grid.log"));
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    const bool written = opened && file.write(text) == text.size() && file.flush();
    if (!written) {
        // The file may be a directory, read-only or on a full disk: say so rather than
        // claiming it was written.
        qDebug().noquote() << "could not write" << file.fileName() + ":" << file.errorString();
        return false;
    }
    file.close();
    qDebug().noquote() << "file written to:" << file.fileName();
    return true;
}
