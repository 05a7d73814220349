#pragma once

#include "streamlines/Integrate.h"
#include "streamlines/SeparationGrid.h"
#include "data/Volume.h"
#include "data/ui/Volumes.h"

#include <QBuffer>
#include <QByteArray>
#include <QDebug>
#include <QList>
#include <QVector>

#include <cmath>

// The evenly spaced seeding written as plainly as its rules read, for comparison with the
// fast one: no point index, no witnesses, no clearance bounds, no resumed searches. Steps with
// integrate(), files points in a SeparationGrid (tested on its own) and queries it only
// through getNeighbourCells and getCell, reads the process-wide gridVolume through getValue
// and isInside only, and writes the same console trace. The grid dump is kept in `gridLog`.
//
// Beyond the plain rules, as the fast seeding does for data with missing flow:
// - a first seed (10, 10) inside the field where the flow direction is missing (not finite)
//   or zero moves to the nearest grid point with a finite, non-zero direction (ties: lower
//   y, then lower x);
// - a candidate seed where the flow direction is not finite is rejected.
struct ReferenceSeeding
{
    ReferenceSeeding(float sep, float test, int m, int w, int h) : dSep(sep), dTest(test), method(m), viewWidth(w), viewHeight(h) {}
    const float dSep, dTest;
    const double dt = 1.55;
    const int method, viewWidth, viewHeight; // view: its size in pixels

    QVector<Vector3> seeds;
    QVector<QVector<Vector3>> evenLines;
    QList<QVector<Vector3>> queue;
    QVector<Vector3> points;
    SeparationGrid grid;
    QByteArray gridLog;

    static Vector3 direction(const Vector3 &p) { return gridVolume->getValue(p.x, p.y, p.z).mDir.normalized(); }
    static bool finite(const Vector3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
    static bool inside(const Vector3 &p) { return gridVolume->isInside(p.x, p.y, p.z); }

    bool isValidPoint(double x, double y, double z, float minDistance) const
    {
        if (!gridVolume->isInside(x, y, z))
            return false;
        for (const Vector2 &c : grid.getNeighbourCells(std::floor(x / double(dSep)), std::floor(y / double(dSep))))
            for (int index : grid.getCell(int(c.x), int(c.y))) {
                if (index >= points.size())
                    qDebug() << "INDEX OUT OF BOUND:" << index << " count:" << points.size();
                else if ((points.at(index) - Vector3(x, y, z)).length() < minDistance)
                    return false;
            }
        return true;
    }

    QVector<Vector3> traceStreamline(const Vector3 &seed)
    {
        if (!inside(seed))
            return {seed};
        // Backwards first, each point put in front of the line; then forwards, appended.
        QVector<Vector3> line{seed};
        for (int half = 0; half < 2; ++half) {
            Vector3 p = seed;
            for (int i = 0; i < 1000 && inside(p); ++i) {
                const Vector3 q = integrate(p, half == 0 ? dt * -1.0 : dt, method, gridVolume);
                if (!isValidPoint(q.x, q.y, q.z, dTest * dSep))
                    break;
                line.insert(half == 0 ? 0 : line.size(), q);
                p = q;
            }
        }
        for (const Vector3 &p : line) {
            points.append(p);
            grid.addPoint(int(std::floor(p.x / double(dSep))), int(std::floor(p.y / double(dSep))), int(points.size() - 1));
        }
        return line;
    }

    // The first search of a run looks at the first segment only, writes no verdict, and its
    // +90 degree candidate keeps the z of a + d * dSep; later ones put it at z = 0.
    Vector3 findSeedPoint(const QVector<Vector3> &line) const
    {
        const bool first = evenLines.isEmpty();
        for (qsizetype k = 0; k + 1 < line.size() && (k == 0 || !first); ++k) {
            const Vector3 d = (line[k + 1] - line[k]).normalized();
            for (double degrees : {-90.0, 90.0}) {
                Vector3 turned = d;
                turned.rotateZ(degrees);
                Vector3 c = line[k] + turned * dSep;
                if (degrees > 0.0 && !first)
                    c.z = 0.0;
                if (isValidPoint(c.x, c.y, c.z, dSep) && finite(direction(c))) {
                    if (!first)
                        qDebug() << c.x << c.y << " is valid as new seedpoint.";
                    return c;
                }
            }
        }
        return Vector3(-1.0, -1.0, -1.0);
    }

    void run()
    {
        const float perCell = 1.0f / dSep;
        grid.setSize(int(float(viewWidth) * perCell + 1.0f), int(float(viewHeight) * perCell + 1.0f));

        Vector3 first(10.0, 10.0, 0.0);
        if (const Vector3 d = direction(first); inside(first) && (!finite(d) || d == Vector3())) {
            double best = -1.0;
            for (int y = 0; y < gridVolume->getDimY(); ++y)
                for (int x = 0; x < gridVolume->getDimX(); ++x) {
                    const Vector3 e = direction(Vector3(x, y, 0.0));
                    const double d2 = double(x - 10) * (x - 10) + double(y - 10) * (y - 10);
                    if (finite(e) && e != Vector3() && (best < 0.0 || d2 < best)) {
                        best = d2;
                        first = Vector3(x, y, 0.0);
                    }
                }
        }
        qDebug() << "Initail SP:" << int(first.x) << int(first.y);
        seeds.append(first);
        QVector<Vector3> current = traceStreamline(first);
        queue.append(current);
        qDebug() << "Enqueued 1st streamline";
        for (bool last = false; !last;) {
            last = seeds.size() >= 500;
            const Vector3 candidate = findSeedPoint(current);
            qDebug() << "SP generated at:" << candidate.x << candidate.y;
            evenLines.append(current);
            if (inside(candidate)) {
                qDebug() << "found valid SP at:" << candidate.x << candidate.y;
                seeds.append(candidate);
                queue.append(traceStreamline(candidate));
            } else if (queue.isEmpty()) {
                qDebug() << "the queue is empty!";
                last = true;
            } else {
                current = queue.takeFirst();
                qDebug() << "queue count:" << queue.size();
            }
            qDebug() << seeds.size() << ": Seedpoints";
        }
        QBuffer log(&gridLog);
        log.open(QIODevice::WriteOnly);
        grid.writeLog(log);
        qDebug() << "file written to:" << "grid.log";
    }
};
