#include "streamlines/LineData.h"

#include <algorithm>

namespace {

bool samePoint(const Vector3 &a, const Vector3 &b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

} // namespace

QVector<Streamline> withoutRepeatedPoints(const QVector<Streamline> &lines, DroppedRepeats *dropped)
{
    QVector<Streamline> out;
    out.reserve(lines.size());
    DroppedRepeats count;
    for (const Streamline &line : lines) {
        const auto firstRepeat = std::adjacent_find(line.cbegin(), line.cend(), samePoint);
        if (firstRepeat == line.cend()) {
            out.append(line);
            continue;
        }
        Streamline kept;
        kept.reserve(line.size());
        kept.append(line.cbegin(), firstRepeat + 1);
        for (auto p = firstRepeat + 1; p != line.cend(); ++p) {
            if (samePoint(*p, kept.constLast()))
                ++count.points;
            else
                kept.append(*p);
        }
        if (kept.size() == 1) {
            ++count.lines;
            continue;
        }
        kept.squeeze();
        out.append(std::move(kept));
    }
    if (dropped) {
        dropped->points += count.points;
        dropped->lines += count.lines;
    }
    return out;
}
