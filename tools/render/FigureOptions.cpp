// The figure options' values, read for tessaly-render and for the Python package alike.

#include "tools/render/Figure.h"

#include <cmath>

namespace figure {

namespace {

using Has = std::function<bool(const char *)>;
using Text = std::function<QString(const char *)>;

bool wholeNumber(const QString &text, int lo, int hi, int *v)
{
    bool ok = false;
    *v = text.trimmed().toInt(&ok);
    return ok && *v >= lo && *v <= hi;
}

// --scale, --size, --line-width. Returns the reason for a bad value; empty when none.
QString parseSize(const Has &has, const Text &text, Settings &s, bool *active)
{
    if (has("scale")) {
        if (!wholeNumber(text("scale"), 1, kMaxScale, &s.scale))
            return QStringLiteral("--scale %1: expected a whole number from 1 to %2").arg(text("scale")).arg(kMaxScale);
        // --scale 1 alone is the view's picture.
        *active = *active || s.scale != 1;
    }
    if (has("size")) {
        if (has("scale"))
            return QStringLiteral("--size and --scale exclude each other");
        const QStringList wh = text("size").toLower().split(QLatin1Char('x'));
        int w = 0, h = 0;
        if (wh.size() != 2 || !wholeNumber(wh[0], 1, 32767, &w) || !wholeNumber(wh[1], 1, 32767, &h))
            return QStringLiteral("--size %1: expected WxH, each from 1 to 32767 pixels").arg(text("size"));
        s.fitInto = QSize(w, h);
        *active = true;
    }
    if (has("line-width")) {
        bool ok = false;
        s.lineWidth = text("line-width").trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(s.lineWidth) || !(s.lineWidth > 0.0) || s.lineWidth > 256.0)
            return QStringLiteral("--line-width %1: expected output pixels above 0, at most 256").arg(text("line-width"));
        *active = true;
    }
    return QString();
}

// --color-by, --cmap, --colorbar, --label.
QString parseColours(const Has &has, const Text &text, Settings &s, bool *active)
{
    if (has("color-by")) {
        const QString c = text("color-by").trimmed().toLower();
        if (c == QLatin1String("speed")) {
            s.colorBy = ColorBy::Speed;
        } else if (c == QLatin1String("pressure")) {
            s.colorBy = ColorBy::Channel;
            s.channel = 0;
        } else if (wholeNumber(c, 0, 1 << 20, &s.channel)) {
            s.colorBy = ColorBy::Channel;
        } else {
            return QStringLiteral("--color-by %1: expected speed, pressure or a channel number (0 is the pressure)")
                .arg(text("color-by"));
        }
        *active = true;
    }
    if (has("cmap")) {
        if (!colormaps::parse(text("cmap").trimmed().toLower(), &s.map))
            return QStringLiteral("--cmap %1: expected %2").arg(text("cmap"), colormaps::names().join(QStringLiteral(", ")));
        if (s.colorBy == ColorBy::None)
            return QStringLiteral("--cmap goes with --color-by");
    }
    s.colorBar = has("colorbar");
    if (has("label")) {
        s.label = text("label");
        if (s.label.trimmed().isEmpty())
            return QStringLiteral("--label needs a text");
        if (!s.colorBar)
            return QStringLiteral("--label goes with --colorbar");
        *active = true;
    }
    return QString();
}

// --arrow-step, --arrow-scale, --line-arrows.
QString parseArrows(const Has &has, const Text &text, Settings &s, bool *active)
{
    if (has("arrow-step")) {
        if (!wholeNumber(text("arrow-step"), 1, 10000, &s.arrowStep))
            return QStringLiteral("--arrow-step %1: expected a whole number of cells from 1 to 10000").arg(text("arrow-step"));
        *active = true;
    }
    if (has("arrow-scale")) {
        s.arrowScaleGiven = true;
        const QString a = text("arrow-scale").trimmed().toLower();
        if (a != QLatin1String("auto")) {
            bool ok = false;
            s.arrowScale = a.toDouble(&ok);
            if (!ok || !std::isfinite(s.arrowScale) || !(s.arrowScale > 0.0) || s.arrowScale > 1e6)
                return QStringLiteral("--arrow-scale %1: expected auto or cells per unit of flow above 0, at most 1e6")
                    .arg(text("arrow-scale"));
        }
        *active = true;
    }
    if (has("line-arrows")) {
        if (!wholeNumber(text("line-arrows"), 1, 100, &s.lineArrows))
            return QStringLiteral("--line-arrows %1: expected a whole number from 1 to 100").arg(text("line-arrows"));
        *active = true;
    }
    return QString();
}

} // namespace

bool parse(const Has &has, const Text &text, Settings &s, bool *active, QString *error)
{
    *active = false;
    for (const auto part : {parseSize, parseColours, parseArrows}) {
        const QString why = part(has, text, s, active);
        if (!why.isEmpty()) {
            *error = why;
            return false;
        }
    }
    s.smooth = has("smooth");
    *active = *active || s.smooth;
    s.northUp = has("north-up");
    return true;
}

} // namespace figure
