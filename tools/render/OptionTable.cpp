#include "tools/render/OptionTable.h"

#include <QCommandLineParser>
#include <QStringList>

namespace rendertool {

namespace {

const OptionEntry kOptions[] = {
    {"Options (defaults are the views' own)", "view", "VIEW", Anywhere, "arrows, streamlines (regular seeds) or evenly (evenly spaced streamlines); required with -o"},
    {"", "o,output", "OUT", Anywhere, "output file or pattern"},

    {"Arrow plot", "zoom", "N", ArrowView, "zoom level 1~...~15, as reached by right clicks (default~1)"},
    {"", "pan", "DX,DY", ArrowView, "move the view DX cells right and DY cells down (default~0,0)"},
    {"", "pressure", "", ArrowView, "pressure background (default off)"},
    {"", "intensity", "", ArrowView, "arrow length follows the flow intensity (default off)"},
    {"", "white", "", ArrowView, "white arrows (the default)"},
    {"", "black", "", ArrowView, "black arrows"},
    {"", "colorbar", "", AnyView, "the colour bar legend beside the picture, 10 pixels to its right on white, its captions uncut (default off); in a figure, a bar with values and a reference arrow"},
    {"", "fit", "", ArrowView, "the picture takes the grid's size, one pixel per cell (default off: the view's 314~x~538)"},

    {"Streamlines (streamlines and evenly)", "method", "M", LineViews, "euler or rk (Runge-Kutta) (default euler)"},
    {"", "dt", "DT", LineViews, "integration step, 0 < DT <= 7.5 (default~1.55)"},
    {"", "max-length", "N", RegularView, "points per regular streamline, 1~...~100000 (default~200; streamlines only)"},
    {"", "antialias", "", LineViews, "antialiased lines (default off)"},
    {"", "view-rect", "X1,Y1,X2,Y2", LineViews, "visible region in grid units, X1 < X2, Y1 < Y2, each within +-536870912 (default the whole grid: 0,0,width,height)"},

    {"Evenly spaced streamlines (evenly)", "dsep", "D", EvenlyView, "separating distance in grid units, 1~...~100 (default~30)"},
    {"", "dtest", "F", EvenlyView, "test distance as a fraction of Dsep, 0.01~...~1 (default~0.5)"},
    {"", "max-seeds", "N", EvenlyView, "a seed search pass that starts with N seeds is the last, 1~...~1000000 (default~500, the view's)"},
    {"", "max-steps", "N", EvenlyView, "integration steps per half of a line, 1~...~100000 (default~1000, the view's). With either limit changed, a half line also ends where the flow stops it; a run ends once it holds 33554432 points. Large fields need both larger (8000~x~8000 at --dsep 10: 5000 and 5000)"},
    {"", "grid-log", "PATH", EvenlyView, "write the seeding's occupancy log (\"grid.log\") to PATH; %n, %v as in OUT (default: not written). Neither OUT nor PATH may name an input file (either file of a pair), each other, or an existing file that is not a regular file; a dataset's outputs are put in place together or not at all"},

    {"Pictures", "north-up", "", AnyView, "flip the rows that show the grid so that grid row 0 is at the bottom, for longitude/latitude grids whose first row is the southernmost; the view beyond the grid and the legend stay (default off; CSV and VTK are not changed)"},
    {"", "png-level", "L", AnyView, "PNG deflate level, 0 (stored) ... 9 (smallest); the same pixels at every level (default~1 from 512~x~512 pixels on, Qt's own level below)"},

    {"Figures (any of these makes a figure instead of the view's own picture)", "scale", "K", AnyView, "K output pixels per view pixel, 1~...~64: the same geometry drawn at K times the resolution (default~1: the view's picture)"},
    {"", "size", "WxH", AnyView, "the largest scale whose figure, legend included, fits W~x~H (each 1~...~32767)"},
    {"", "line-width", "W", AnyView, "line and arrow width in output pixels, above 0, at most 256 (default~K/2, at least 1)"},
    {"", "color-by", "Q", LineViews, "streamlines coloured along their length by Q: speed, pressure or a channel number (0 is the pressure), over Q's range in the visible grid"},
    {"", "cmap", "NAME", Anywhere, "viridis, cividis, magma or tessaly (the pressure ramp) (default viridis)"},
    {"", "label", "TEXT", AnyView, "the colour bar's caption (default the quantity's name; its long name and units from DATASET.meta.json, written by tessaly-import, whose values the bar and --probe --json then show in the quantity's units)"},
    {"", "arrow-step", "N", ArrowView, "cells between arrows, 1~...~10000 (default~12, the view's)"},
    {"", "arrow-scale", "S", ArrowView, "auto (the longest arrow spans the step) or S cells per unit of flow, at most 1e6 (default the view's lengths, limited to 6 cells)"},
    {"", "smooth", "", ArrowView, "the pressure background interpolated at every output pixel"},
    {"", "line-arrows", "N", LineViews, "N heads per streamline at equal arc length, downstream, 1~...~100"},

    {"Volume information", "probe", "X,Y", Anywhere, "print the volume information report at index position X,Y of the dataset (0~<=~X~<=~width~-~1, 0~<=~Y~<=~height~-~1; hundredths as the dialog)"},
    {"", "json", "", Anywhere, "the report's fields as one JSON object per dataset and line (text reports of several datasets each follow \"#~DATASET\")"},

    {"Other", "verbose", "", Anywhere, "pass the program's console trace on to stderr, and say how many repeated points and lines CSV, VTK and SVG left out"},
    {"", "h,help", "", Anywhere, "this text"},

    {"", nullptr, "", Anywhere, ""},
};

const char *const kIntro =
    "usage: tessaly-render DATASET.gri... --view arrows|streamlines|evenly [options] -o OUT\n"
    "       tessaly-render DATASET.gri... --probe X,Y [--json]\n"
    "\n"
    "Renders a view of each dataset to a file, as the program shows it with the same\n"
    "settings, without a display. The output format follows the extension of OUT:\n"
    "  .png  the view's picture, pixel for pixel\n"
    "  .svg  the same picture as vectors: arrows and lines as paths, the pressure\n"
    "        background as an embedded image\n"
    "  .pdf  a figure (see Figures) as vectors on one page of its size in points\n"
    "  .csv  streamline views only: one row per point (line, point, index_x, index_y,\n"
    "        world_x, world_y); grid index and world coordinates; lines count from 0\n"
    "  .vtk  streamline views only: legacy VTK POLYDATA (world POINTS, LINES, and the\n"
    "        point data \"index\" and \"line\")\n"
    "CSV, VTK and SVG lines hold no point twice in a row: where the flow is zero a\n"
    "trace repeats its last point, and those repeats (and lines left with one point)\n"
    "are left out. The PNG is the view's picture, repeats and all.\n"
    "OUT may contain %n (the dataset's name without .gri), %v (the view) and %%; with\n"
    "several datasets it must contain %n.\n";

const char *const kClosing =
    "Exit status: 0 done, 2 usage error, 1 a dataset could not be loaded or an output\n"
    "not written (the other datasets are still done). Progress lines appear on stderr\n"
    "only when it is a terminal. Runs without a display (QT_QPA_PLATFORM defaults to\n"
    "offscreen).\n";

constexpr int kWidth = 80;      // --help's line length
constexpr int kHelpColumn = 23; // where the options' descriptions start

QStringList namesOf(const OptionEntry &option)
{
    return QString::fromLatin1(option.names).split(QLatin1Char(','));
}

// "-o, --output OUT"
QString synopsis(const OptionEntry &option)
{
    QStringList names;
    for (const QString &n : namesOf(option))
        names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    QString s = names.join(QStringLiteral(", "));
    if (*option.value)
        s += QLatin1Char(' ') + QLatin1String(option.value);
    return s;
}

// One option's entry: its synopsis, then its description wrapped at kWidth in the column
// kHelpColumn (a synopsis too long for the column has a line of its own).
QString entry(const OptionEntry &option)
{
    QString out = QStringLiteral("  ") + synopsis(option);
    if (out.size() < kHelpColumn - 1)
        out = out.leftJustified(kHelpColumn, QLatin1Char(' '));
    else
        out += QLatin1Char('\n') + QString(kHelpColumn, QLatin1Char(' '));
    int column = kHelpColumn;
    bool first = true;
    for (const QString &word : QString::fromUtf8(option.help).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!first && column + 1 + word.size() > kWidth) {
            out += QLatin1Char('\n') + QString(kHelpColumn, QLatin1Char(' '));
            column = kHelpColumn;
            first = true;
        }
        if (!first) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += static_cast<int>(word.size());
        first = false;
    }
    // "~" holds words together across the wrapping.
    return out.replace(QLatin1Char('~'), QLatin1Char(' ')) + QLatin1Char('\n');
}

QString scopeName(Scope scope)
{
    switch (scope) {
    case ArrowView: return QStringLiteral("--view arrows");
    case RegularView: return QStringLiteral("--view streamlines");
    case EvenlyView: return QStringLiteral("--view evenly");
    case LineViews: return QStringLiteral("the streamline views");
    case AnyView: return QStringLiteral("the views");
    case Anywhere: break;
    }
    return QString();
}

unsigned viewBit(View v)
{
    switch (v) {
    case View::Arrows: return ArrowView;
    case View::Streamlines: return RegularView;
    case View::Evenly: return EvenlyView;
    case View::None: break;
    }
    return 0;
}

} // namespace

QString viewName(View v)
{
    switch (v) {
    case View::Arrows: return QStringLiteral("arrows");
    case View::Streamlines: return QStringLiteral("streamlines");
    case View::Evenly: return QStringLiteral("evenly");
    case View::None: break;
    }
    return QString();
}

const OptionEntry *optionTable()
{
    return kOptions;
}

void addOptions(QCommandLineParser &parser)
{
    for (const OptionEntry *s = kOptions; s->names; ++s)
        parser.addOption(QCommandLineOption(namesOf(*s), QString::fromUtf8(s->help).replace(QLatin1Char('~'), QLatin1Char(' ')),
                                            QString::fromLatin1(s->value)));
}

QString helpText()
{
    QString out = QString::fromUtf8(kIntro);
    for (const OptionEntry *s = kOptions; s->names; ++s) {
        if (*s->heading)
            out += (s == kOptions ? QStringLiteral("\n") : QString()) + QLatin1String(s->heading) + QLatin1String(":\n");
        out += entry(*s);
    }
    return out + QLatin1Char('\n') + QString::fromUtf8(kClosing);
}

QString outOfScope(const std::function<bool(const char *)> &has, View view, Scope scope)
{
    if (scope == Anywhere)
        return QString();
    for (const OptionEntry *s = kOptions; s->names; ++s) {
        if (s->scope != scope || (viewBit(view) & scope) || !has(s->names))
            continue;
        return QStringLiteral("--%1 applies to %2 only").arg(QLatin1String(s->names), scopeName(scope));
    }
    return QString();
}

} // namespace rendertool
