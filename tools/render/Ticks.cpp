#include "tools/render/Ticks.h"

#include <algorithm>
#include <cmath>

namespace ticks {

double roundStep(double span, int target)
{
    if (!(span > 0.0) || !std::isfinite(span) || target < 1)
        return 1.0;
    const double raw = span / target;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * power >= raw * 0.999999)
            return m * power;
    return 10.0 * power;
}

QString format(double v, double step)
{
    // Decimals of the step itself: 2.5e-3 needs 4, 20 needs none.
    int decimals = 0;
    if (step > 0.0 && std::isfinite(step)) {
        while (decimals < 12 && std::fabs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals)))
                                    > 1e-6 * step * std::pow(10.0, decimals))
            ++decimals;
    }
    if (std::fabs(v) < step * 1e-9)
        v = 0.0; // no "-0"
    return QString::number(v, 'f', decimals);
}

QVector<Tick> roundTicks(double lo, double hi, int target)
{
    QVector<Tick> out;
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) {
        if (std::isfinite(lo))
            out.append({lo, QString::number(lo, 'g', 6)});
        return out;
    }
    const double step = roundStep(hi - lo, target);
    // Whole multiples of the step: k * step, not an accumulated sum, so 0.3 stays 0.3.
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double k = first; k <= last && out.size() < 100; k += 1.0) {
        double v = k * step;
        v = std::clamp(v, lo, hi); // a multiple within rounding of an end stays inside
        out.append({v, format(v, step)});
    }
    return out;
}

double roundBelow(double v)
{
    if (!(v > 0.0) || !std::isfinite(v))
        return 0.0;
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {5.0, 2.0, 1.0})
        if (m * power <= v * 1.000001)
            return m * power;
    return power / 2.0;
}

} // namespace ticks
