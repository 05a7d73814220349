#include "ReferenceSeeding.h"

#include "Volume.h"
#include "Volumes.h"

#include <QDebug>

#include <cmath>

namespace {

Vector3 direction(double x, double y, double z)
{
    return gridVolume->getValue(x, y, z).mDir.normalized();
}

bool finite(const Vector3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Vector3 step(Vector3 pos, double dt, int method)
{
    if (method == 0)
        return pos + direction(pos.x, pos.y, pos.z) * dt;
    if (method == 1) {
        const Vector3 mid = pos + (direction(pos.x, pos.y, pos.z) * dt) * 0.5;
        return pos + direction(mid.x, mid.y, mid.z) * dt;
    }
    return Vector3();
}

} // namespace

bool ReferenceSeeding::isValidCell(double cx, double cy) const
{
    return cx >= 0 && cx < gridWidth && cy >= 0 && cy < gridHeight && cy * gridWidth + cx < gridWidth * gridHeight;
}

bool ReferenceSeeding::isValidPoint(double x, double y, double z, float minDistance) const
{
    if (!gridVolume->isInside(x, y, z))
        return false;
    const double cx = std::floor(x / double(dSep));
    const double cy = std::floor(y / double(dSep));
    QVector<int> indices;
    for (int i = int(cx - 1); i < cx + 2.0; ++i)
        for (int j = int(cy - 1); j < cy + 2.0; ++j)
            if (isValidCell(i, j))
                indices += cells.at(j * gridWidth + i);
    for (int index : indices) {
        if (index >= points.size()) {
            qDebug() << "INDEX OUT OF BOUND:" << index << " count:" << points.size();
            continue;
        }
        if ((points.at(index) - Vector3(x, y, z)).length() < minDistance)
            return false;
    }
    return true;
}

QVector<Vector3> ReferenceSeeding::traceStreamline(Vector3 seed)
{
    if (!gridVolume->isInside(seed.x, seed.y, seed.z))
        return {seed};
    const float minDistance = dTest * dSep;
    QVector<Vector3> halves[2];
    for (int half = 0; half < 2; ++half) {
        Vector3 p = seed;
        for (int i = 0; i < 1000 && gridVolume->isInside(p.x, p.y, p.z); ++i) {
            const Vector3 q = step(p, half == 0 ? dt * -1.0 : dt, method);
            if (!isValidPoint(q.x, q.y, q.z, minDistance))
                break;
            halves[half].append(q);
            p = q;
        }
    }
    QVector<Vector3> line;
    for (qsizetype i = halves[0].size() - 1; i >= 0; --i)
        line.append(halves[0].at(i));
    line.append(seed);
    line += halves[1];
    for (const Vector3 &p : line) {
        points.append(p);
        const int cx = int(std::floor(p.x / double(dSep)));
        const int cy = int(std::floor(p.y / double(dSep)));
        if (isValidCell(cx, cy))
            cells[cy * gridWidth + cx].append(int(points.size() - 1));
        else
            qDebug() << "index out of range" << cx << ":" << cy;
    }
    return line;
}

Vector3 ReferenceSeeding::findSeedPoint(QVector<Vector3> line) const
{
    const Vector3 none(-1.0, -1.0, -1.0);
    const auto accepted = [&](const Vector3 &c) {
        return isValidPoint(c.x, c.y, c.z, dSep) && finite(direction(c.x, c.y, c.z));
    };
    const auto turned = [](Vector3 d, double degrees) {
        d.rotateZ(degrees);
        return d;
    };
    if (evenLines.isEmpty()) {
        if (line.size() < 2)
            return none;
        const Vector3 d = (line[1] - line[0]).normalized();
        for (double degrees : {-90.0, 90.0}) {
            const Vector3 c = line[0] + turned(d, degrees) * dSep;
            if (accepted(c))
                return c;
        }
        return none;
    }
    for (qsizetype k = 0; k + 1 < line.size(); ++k) {
        const Vector3 a = line[k];
        const Vector3 d = (line[k + 1] - a).normalized();
        const Vector3 minus = a + turned(d, -90.0) * dSep;
        const Vector3 plusTurn = turned(d, 90.0);
        const Vector3 plus(a.x + plusTurn.x * dSep, a.y + plusTurn.y * dSep, 0.0);
        for (const Vector3 &c : {minus, plus}) {
            if (accepted(c)) {
                qDebug() << c.x << c.y << " is valid as new seedpoint.";
                return c;
            }
        }
    }
    return none;
}

void ReferenceSeeding::run()
{
    const float perCell = 1.0f / dSep;
    gridWidth = int(float(viewWidth) * perCell + 1.0f);
    gridHeight = int(float(viewHeight) * perCell + 1.0f);
    cells = QVector<QVector<int>>(gridWidth * gridHeight);
    seeds.clear();
    evenLines.clear();
    queue.clear();
    points.clear();

    Vector3 first(10.0, 10.0, 0.0);
    const Vector3 d = direction(10.0, 10.0, 0.0);
    if (gridVolume->isInside(10.0, 10.0, 0.0) && (!finite(d) || d == Vector3())) {
        double best = -1.0;
        for (int y = 0; y < gridVolume->getDimY(); ++y)
            for (int x = 0; x < gridVolume->getDimX(); ++x) {
                const Vector3 e = direction(x, y, 0.0);
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
        if (gridVolume->isInside(candidate.x, candidate.y, candidate.z)) {
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
    gridLog.clear();
    for (int cy = 0; cy < gridHeight; ++cy) {
        for (int cx = 0; cx < gridWidth; ++cx)
            gridLog += "\t" + QByteArray::number(cells[cy * gridWidth + cx].size());
        gridLog += '\n';
    }
    qDebug() << "file written to:" << "grid.log";
}
