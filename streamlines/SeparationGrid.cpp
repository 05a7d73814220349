#include "streamlines/SeparationGrid.h"

#include <QDebug>
#include <QFile>

#include <algorithm>

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
    // The first entries keep what they hold (as entries, not as cells of a row).
    const size_t cells = size_t(w) * size_t(h);
    mHead.resize(cells, -1);
    mTail.resize(cells, -1);
    mCount.resize(cells, 0);
    // Storage taken over from a much larger grid is given back.
    if (mHead.capacity() > 2 * cells + 4096) {
        mHead.shrink_to_fit();
        mTail.shrink_to_fit();
        mCount.shrink_to_fit();
    }
}

void SeparationGrid::reuseStorageOf(SeparationGrid &previous)
{
    if (&previous == this)
        return;
    mHead.swap(previous.mHead);
    mTail.swap(previous.mTail);
    mRuns.swap(previous.mRuns);
    mCount.swap(previous.mCount);
    mHead.clear();
    mTail.clear();
    mRuns.clear();
    mCount.clear();
    previous.setSize(0, 0);
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

void SeparationGrid::reportOutside(int cx, int cy) const
{
    qDebug() << "index out of range" << cx << ":" << cy;
}

QVector<int> SeparationGrid::getCell(int cx, int cy) const
{
    // A negative cx with a positive row still names an entry (the end of the row above);
    // only entry numbers outside the cells give an empty list.
    const qint64 k = qint64(cy) * mWidth + cx;
    if (k < 0 || k >= qint64(mWidth) * mHeight)
        return {};
    QVector<int> indices;
    visitCell(size_t(k), [&](int i) {
        indices.append(i);
        return false;
    });
    return indices;
}

bool SeparationGrid::writeLog(QIODevice &device) const
{
    // Formatted in chunks: a large grid would otherwise build megabytes of text first.
    bool ok = true;
    char chunk[1 << 16];
    size_t used = 0;
    const auto flush = [&] {
        ok = ok && device.write(chunk, qint64(used)) == qint64(used);
        used = 0;
    };
    for (int cy = 0; cy < mHeight && ok; ++cy) {
        for (int cx = 0; cx < mWidth; ++cx) {
            if (used > sizeof(chunk) - 32)
                flush();
            const size_t k = size_t(cy) * size_t(mWidth) + size_t(cx);
            qint64 count = mCount[k];
            chunk[used++] = '\t';
            if (count < 10) { // most cells of a fine grid
                chunk[used++] = char('0' + count);
                continue;
            }
            char digits[24];
            int n = 0;
            do {
                digits[n++] = char('0' + count % 10);
                count /= 10;
            } while (count > 0);
            while (n > 0)
                chunk[used++] = digits[--n];
        }
        chunk[used++] = '\n';
    }
    flush();
    return ok;
}

bool SeparationGrid::writeLog() const
{
    QFile file(QStringLiteral("grid.log"));
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) && writeLog(file)
                    && file.flush();
    if (!ok) {
        // The file may be a directory, read-only or on a full disk: say so rather than
        // claiming it was written.
        qDebug().noquote() << "could not write" << file.fileName() + ":" << file.errorString();
        return false;
    }
    file.close();
    qDebug().noquote() << "file written to:" << file.fileName();
    return true;
}
