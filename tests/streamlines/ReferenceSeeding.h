#pragma once

// A deliberately plain evenly spaced seeding, written straight from the rules and without
// any of the production code's shortcuts (no cell skipping, no resumed searches, library
// rotateZ, index lists built per query). Tests compare the real seeding with it bit for bit.

#include "EvenlySpacedSeeding.h"
#include "Integrate.h"
#include "SeparationGrid.h"
#include "Volume.h"

#include <QDebug>

#include <cmath>

struct ReferenceSeeding
{
    EvenlySpacedSeeding::Parameters p;
    const Volume *field = nullptr;

    QVector<Vector3> seeds;
    QVector<Streamline> evenLines;
    QList<Streamline> queue;
    QVector<Vector3> points;
    SeparationGrid grid;

    bool isValidPoint(double x, double y, double z, float minDistance) const
    {
        if (!field->isInside(x, y, z))
            return false;
        const double cx = std::floor(x / double(p.dSep));
        const double cy = std::floor(y / double(p.dSep));
        QVector<int> list;
        for (const Vector2 &c : grid.getNeighbourCells(cx, cy))
            list += grid.getCell(int(c.x), int(c.y));
        for (int index : list) {
            if (index >= points.size()) {
                qDebug() << "INDEX OUT OF BOUND:" << index << " count:" << points.size();
                continue;
            }
            if ((points[index] - Vector3(x, y, z)).length() < minDistance)
                return false;
        }
        return true;
    }

    Streamline traceStreamline(Vector3 seed)
    {
        if (!field->isInside(seed.x, seed.y, seed.z))
            return {seed};
        const float minDistance = p.dTest * p.dSep;
        QVector<Vector3> halves[2];
        const double steps[2] = {p.dt * -1.0, p.dt};
        for (int h = 0; h < 2; ++h) {
            Vector3 q = seed;
            for (int i = 0; i < 1000; ++i) {
                if (!field->isInside(q.x, q.y, q.z))
                    break;
                const Vector3 next = integrate(q, steps[h], p.method, field);
                if (!isValidPoint(next.x, next.y, next.z, minDistance))
                    break;
                halves[h].append(next);
                q = next;
            }
        }
        Streamline line;
        for (int i = int(halves[0].size()) - 1; i >= 0; --i)
            line.append(halves[0][i]);
        line.append(seed);
        line += halves[1];
        for (const Vector3 &pt : line) {
            points.append(pt);
            grid.addPoint(int(std::floor(pt.x / double(p.dSep))), int(std::floor(pt.y / double(p.dSep))),
                          int(points.size() - 1));
        }
        return line;
    }

    Vector3 findSeedPoint(Streamline line)
    {
        const Vector3 none(-1.0, -1.0, -1.0);
        auto turned = [](Vector3 d, double degrees) {
            d.rotateZ(degrees);
            return d;
        };
        if (evenLines.isEmpty()) {
            if (line.size() < 2)
                return none;
            const Vector3 dir = (line[1] - line[0]).normalized();
            const Vector3 c1 = line[0] + turned(dir, -90.0) * p.dSep;
            if (isValidPoint(c1.x, c1.y, c1.z, p.dSep))
                return c1;
            const Vector3 c2 = line[0] + turned(dir, 90.0) * p.dSep;
            if (isValidPoint(c2.x, c2.y, c2.z, p.dSep))
                return c2;
            return none;
        }
        for (int k = 0; k < line.size() - 1; ++k) {
            const Vector3 a = line[k];
            const Vector3 dir = (line[k + 1] - a).normalized();
            const Vector3 c1 = a + turned(dir, -90.0) * p.dSep;
            if (isValidPoint(c1.x, c1.y, c1.z, p.dSep)) {
                qDebug() << c1.x << c1.y << " is valid as new seedpoint.";
                return c1;
            }
            const Vector3 d2 = turned(dir, 90.0);
            const Vector3 c2(a.x + d2.x * p.dSep, a.y + d2.y * p.dSep, 0.0);
            if (isValidPoint(c2.x, c2.y, c2.z, p.dSep)) {
                qDebug() << c2.x << c2.y << " is valid as new seedpoint.";
                return c2;
            }
        }
        return none;
    }

    void run()
    {
        const float gw = float(p.viewWidth * (1.0 / p.dSep) + 1);
        const float gh = float(p.viewHeight * (1.0 / p.dSep) + 1);
        grid.setSize(int(gw), int(gh));
        qDebug() << "Initail SP:" << 10 << 10;
        seeds.append(Vector3(10.0, 10.0, 0.0));
        Streamline current = traceStreamline(Vector3(10.0, 10.0, 0.0));
        queue.append(current);
        qDebug() << "Enqueued 1st streamline";
        bool last = false;
        while (true) {
            if (seeds.size() >= 500)
                last = true;
            const Vector3 c = findSeedPoint(current);
            qDebug() << "SP generated at:" << c.x << c.y;
            evenLines.append(current);
            if (field->isInside(c.x, c.y, c.z)) {
                qDebug() << "found valid SP at:" << c.x << c.y;
                seeds.append(c);
                queue.append(traceStreamline(c));
            } else if (queue.isEmpty()) {
                qDebug() << "the queue is empty!";
                last = true;
            } else {
                current = queue.takeFirst();
                qDebug() << "queue count:" << queue.size();
            }
            qDebug() << seeds.size() << ": Seedpoints";
            if (last)
                break;
        }
        grid.writeLog();
    }
};
