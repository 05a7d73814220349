// tessaly-render: the pictures (and streamline data, and volume reports) of the interactive
// views, written to files without a display. Exit status 0 ok, 2 usage, 1 failed work.

#include "Dataset.h"
#include "DatasetFiles.h"
#include "Figure.h"
#include "Metadata.h"
#include "Output.h"
#include "OutputPlan.h"
#include "Pipeline.h"
#include "SinglePrecision.h"
#include "Volume.h"
#include "VolumeReport.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

const char *const kTool = "tessaly-render";

// ---------------------------------------------------------------- console

// The libraries trace their work on the console (qDebug). The tool keeps that trace off
// stderr unless --verbose; a failed load's reason comes back from the load as a value.
bool gVerbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (gVerbose || type == QtCriticalMsg || type == QtFatalMsg) {
        const QByteArray line = message.toLocal8Bit() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    }
}

// One line on stderr, prefixed with the tool's name.
void say(const QString &message)
{
    QString line = message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s: %s\n", kTool, qPrintable(line));
}

bool gProgress = false; // stderr is a terminal

void progress(const QString &message)
{
    if (gProgress)
        say(message);
}

// ---------------------------------------------------------------- options

struct UsageError
{
    QString message;
};

enum class View { None, Arrows, Streamlines, Evenly };

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

struct Options
{
    QStringList datasets;
    View view = View::None;
    QString output;        // pattern
    QString format;        // png, svg, csv, vtk
    pipeline::ArrowSettings arrows;
    bool colorBar = false;
    pipeline::StreamSettings lines;
    QString gridLog;       // pattern; empty: none
    bool northUp = false;
    bool probe = false;
    float probeX = 0.0f, probeY = 0.0f;
    QString probeText; // as given
    bool json = false;
    figure::Settings figure;
    int pngLevel = output::kPngAuto;
    bool figureMode = false; // a figure (scale, colours, legend with values, PDF) instead of the view's picture
};

const char *const kHelp =
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
    "several datasets it must contain %n.\n"
    "\n"
    "Options (defaults are the views' own):\n"
    "  --view VIEW          arrows, streamlines (regular seeds) or evenly (evenly\n"
    "                       spaced streamlines); required with -o\n"
    "  -o, --output OUT     output file or pattern\n"
    "Arrow plot:\n"
    "  --zoom N             zoom level 1 ... 15, as reached by right clicks (default 1)\n"
    "  --pan DX,DY          move the view DX cells right and DY cells down (default 0,0)\n"
    "  --pressure           pressure background (default off)\n"
    "  --intensity          arrow length follows the flow intensity (default off)\n"
    "  --white, --black     arrow colour (default white)\n"
    "  --colorbar           the colour bar legend beside the picture, 10 pixels to its\n"
    "                       right on white, its captions uncut (default off); in a\n"
    "                       figure, a bar with values and a reference arrow\n"
    "  --fit                the picture takes the grid's size, one pixel per cell\n"
    "                       (default off: the view's 314 x 538)\n"
    "Streamlines (streamlines and evenly):\n"
    "  --method M           euler or rk (Runge-Kutta) (default euler)\n"
    "  --dt DT              integration step, 0 < DT <= 7.5 (default 1.55)\n"
    "  --max-length N       points per regular streamline, 1 ... 100000 (default 200;\n"
    "                       streamlines only)\n"
    "  --antialias          antialiased lines (default off)\n"
    "  --view-rect X1,Y1,X2,Y2\n"
    "                       visible region in grid units, X1 < X2, Y1 < Y2, each\n"
    "                       within +-536870912 (default the whole grid: 0,0,width,height)\n"
    "Evenly spaced streamlines (evenly):\n"
    "  --dsep D             separating distance in grid units, 1 ... 100 (default 30)\n"
    "  --dtest F            test distance as a fraction of Dsep, 0.01 ... 1 (default 0.5)\n"
    "  --max-seeds N        a seed search pass that starts with N seeds is the last,\n"
    "                       1 ... 1000000 (default 500, the view's)\n"
    "  --max-steps N        integration steps per half of a line, 1 ... 100000\n"
    "                       (default 1000, the view's). With either limit changed, a\n"
    "                       half line also ends where the flow stops it; a run ends\n"
    "                       once it holds 33554432 points. Large fields need both\n"
    "                       larger (8000 x 8000 at --dsep 10: 5000 and 5000)\n"
    "  --grid-log PATH      write the seeding's occupancy log (\"grid.log\") to PATH;\n"
    "                       %n, %v as in OUT (default: not written). Neither OUT nor\n"
    "                       PATH may name an input file (either file of a pair), each\n"
    "                       other, or an existing file that is not a regular file; a\n"
    "                       dataset's outputs are put in place together or not at all\n"
    "Pictures:\n"
    "  --north-up           flip the rows that show the grid so that grid row 0 is at\n"
    "                       the bottom, for longitude/latitude grids whose first row is\n"
    "                       the southernmost; the view beyond the grid and the legend\n"
    "                       stay (default off; CSV and VTK are not changed)\n"
    "  --png-level L        PNG deflate level, 0 (stored) ... 9 (smallest); the same\n"
    "                       pixels at every level (default 1 from 512 x 512 pixels on,\n"
    "                       Qt's own level below)\n"
    "Figures (any of these makes a figure instead of the view's own picture):\n"
    "  --scale K            K output pixels per view pixel, 1 ... 64: the same geometry\n"
    "                       drawn at K times the resolution (default 1: the view's picture)\n"
    "  --size WxH           the largest scale whose figure, legend included, fits W x H\n"
    "  --line-width W       line and arrow width in output pixels (default K/2, at least 1)\n"
    "  --color-by Q         streamlines coloured along their length by Q: speed, pressure\n"
    "                       or a channel number (0 is the pressure), over Q's range in\n"
    "                       the visible grid\n"
    "  --cmap NAME          viridis, cividis, magma or tessaly (the pressure ramp)\n"
    "                       (default viridis)\n"
    "  --label TEXT         the colour bar's caption (default the quantity's name; its\n"
    "                       long name and units from DATASET.meta.json, written by\n"
    "                       tessaly-import, whose values the bar and --probe --json\n"
    "                       then show in the quantity's units)\n"
    "  --arrow-step N       cells between arrows (default 12, the view's)\n"
    "  --arrow-scale S      auto (the longest arrow spans the step) or S cells per unit\n"
    "                       of flow (default the view's lengths, limited to 6 cells)\n"
    "  --smooth             the pressure background interpolated at every output pixel\n"
    "  --line-arrows N      N heads per streamline at equal arc length, downstream\n"
    "Volume information:\n"
    "  --probe X,Y          print the volume information report at index position\n"
    "                       X,Y of the dataset (0 <= X <= width - 1, 0 <= Y <= height - 1;\n"
    "                       hundredths as the dialog)\n"
    "  --json               the report's fields as one JSON object per dataset and line\n"
    "                       (text reports of several datasets each follow \"# DATASET\")\n"
    "Other:\n"
    "  --verbose            pass the program's console trace on to stderr, and say how\n"
    "                       many repeated points and lines CSV, VTK and SVG left out\n"
    "  -h, --help           this text\n"
    "\n"
    "Exit status: 0 done, 2 usage error, 1 a dataset could not be loaded or an output\n"
    "not written (the other datasets are still done). Progress lines appear on stderr\n"
    "only when it is a terminal. Runs without a display (QT_QPA_PLATFORM defaults to\n"
    "offscreen).\n";

double parseNumber(const QString &option, const QString &text, double lo, double hi)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < lo || v > hi)
        throw UsageError{QStringLiteral("--%1 %2: expected a number from %3 to %4").arg(option, text).arg(lo).arg(hi)};
    return v;
}

QList<int> parseInts(const QString &option, const QString &text, int count, int limit)
{
    const QStringList parts = text.split(QLatin1Char(','));
    QList<int> values;
    for (const QString &p : parts) {
        bool ok = false;
        const int v = p.trimmed().toInt(&ok);
        if (!ok || v < -limit || v > limit)
            break;
        values.append(v);
    }
    if (parts.size() != count || values.size() != count)
        throw UsageError{QStringLiteral("--%1 %2: expected %3 whole numbers separated by commas, each within +-%4")
                             .arg(option, text)
                             .arg(count)
                             .arg(limit)};
    return values;
}

// One probe coordinate: "W" or "W.F" / "W.FF" are whole part and hundredths, made into a
// position exactly as the dialog's spin boxes make it; longer fractions are read as a float.
float parseProbeCoordinate(const QString &text)
{
    static const QRegularExpression dialogForm(QStringLiteral("^\\s*(\\d{1,9})(?:\\.(\\d{1,2}))?\\s*$"));
    const QRegularExpressionMatch m = dialogForm.match(text);
    if (m.hasMatch()) {
        QString frac = m.captured(2);
        if (frac.size() == 1)
            frac += QLatin1Char('0');
        return volumereport::dialPosition(m.captured(1).toInt(), frac.isEmpty() ? 0 : frac.toInt());
    }
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0.0 || v > 1e9)
        throw UsageError{QStringLiteral("--probe: %1 is not a position from 0 to 1e9").arg(text)};
    return roundToSingle(v);
}

Options parseOptions(const QStringList &arguments, bool *help)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto value = [&](const QStringList &names) { parser.addOption(QCommandLineOption(names, QString(), QStringLiteral("v"))); };
    const auto flag = [&](const QStringList &names) { parser.addOption(QCommandLineOption(names)); };
    value({QStringLiteral("view")});
    value({QStringLiteral("o"), QStringLiteral("output")});
    value({QStringLiteral("zoom")});
    value({QStringLiteral("pan")});
    value({QStringLiteral("method")});
    value({QStringLiteral("dt")});
    value({QStringLiteral("max-length")});
    value({QStringLiteral("view-rect")});
    value({QStringLiteral("dsep")});
    value({QStringLiteral("dtest")});
    value({QStringLiteral("max-seeds")});
    value({QStringLiteral("png-level")});
    value({QStringLiteral("max-steps")});
    value({QStringLiteral("grid-log")});
    value({QStringLiteral("probe")});
    for (const QString &name : figure::valueOptions())
        value({name});
    for (const QString &name : figure::flagOptions())
        flag({name});
    for (const char *f : {"pressure", "intensity", "white", "black", "colorbar", "fit", "antialias", "north-up", "json",
                          "verbose"})
        flag({QString::fromLatin1(f)});
    flag({QStringLiteral("h"), QStringLiteral("help")});

    if (!parser.parse(arguments))
        throw UsageError{parser.errorText()};
    *help = parser.isSet(QStringLiteral("help"));
    Options o;
    if (*help)
        return o;

    for (const QString &name : parser.optionNames()) {
        // A value option given twice: the second would silently win.
        if (parser.values(name).size() > 1)
            throw UsageError{QStringLiteral("%1%2 given more than once").arg(QLatin1String(name.size() == 1 ? "-" : "--"), name)};
    }
    o.datasets = parser.positionalArguments();
    if (o.datasets.isEmpty())
        throw UsageError{QStringLiteral("no dataset given (see --help)")};

    const auto has = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    const auto text = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };

    if (has("view")) {
        const QString v = text("view");
        if (v == QLatin1String("arrows"))
            o.view = View::Arrows;
        else if (v == QLatin1String("streamlines"))
            o.view = View::Streamlines;
        else if (v == QLatin1String("evenly"))
            o.view = View::Evenly;
        else
            throw UsageError{QStringLiteral("--view %1: expected arrows, streamlines or evenly").arg(v)};
    }
    o.probe = has("probe");
    o.json = has("json");
    if (o.json && !o.probe)
        throw UsageError{QStringLiteral("--json goes with --probe")};
    if (o.probe) {
        const QStringList xy = text("probe").split(QLatin1Char(','));
        if (xy.size() != 2)
            throw UsageError{QStringLiteral("--probe %1: expected X,Y").arg(text("probe"))};
        o.probeText = text("probe");
        o.probeX = parseProbeCoordinate(xy[0]);
        o.probeY = parseProbeCoordinate(xy[1]);
    }
    if (has("output")) {
        o.output = text("output");
        if (o.output.isEmpty())
            throw UsageError{QStringLiteral("-o needs a file name")};
        if (o.view == View::None)
            throw UsageError{QStringLiteral("-o needs --view")};
    } else if (o.view != View::None) {
        throw UsageError{QStringLiteral("--view needs -o OUT")};
    } else if (!o.probe) {
        throw UsageError{QStringLiteral("nothing to do: give --view and -o, or --probe (see --help)")};
    }

    // Options of one view only: given with another, they are a mistake, not a no-op.
    const auto only = [&](std::initializer_list<const char *> names, std::initializer_list<View> views, const char *which) {
        for (const char *n : names)
            if (has(n) && std::find(views.begin(), views.end(), o.view) == views.end())
                throw UsageError{QStringLiteral("--%1 applies to %2 only").arg(QLatin1String(n), QLatin1String(which))};
    };
    only({"zoom", "pan", "pressure", "intensity", "white", "black", "fit", "arrow-step", "arrow-scale", "smooth"},
         {View::Arrows}, "--view arrows");
    only({"method", "dt", "antialias", "view-rect", "color-by", "line-arrows"}, {View::Streamlines, View::Evenly},
         "the streamline views");
    only({"colorbar", "scale", "size", "line-width", "label"}, {View::Arrows, View::Streamlines, View::Evenly}, "the views");
    if (has("colorbar") && o.view != View::Arrows && !has("color-by"))
        throw UsageError{QStringLiteral("--colorbar on streamlines needs --color-by")};
    if (has("smooth") && !has("pressure"))
        throw UsageError{QStringLiteral("--smooth goes with --pressure")};
    only({"max-length"}, {View::Streamlines}, "--view streamlines");
    only({"dsep", "dtest", "grid-log", "max-seeds", "max-steps"}, {View::Evenly}, "--view evenly");
    only({"north-up"}, {View::Arrows, View::Streamlines, View::Evenly}, "the views");
    if (has("white") && has("black"))
        throw UsageError{QStringLiteral("--white and --black exclude each other")};

    if (has("zoom")) {
        bool ok = false;
        o.arrows.zoom = text("zoom").trimmed().toInt(&ok);
        if (!ok || o.arrows.zoom < 1 || o.arrows.zoom > pipeline::kMaxZoom)
            throw UsageError{QStringLiteral("--zoom %1: expected a whole number from 1 to 15").arg(text("zoom"))};
    }
    if (has("pan")) {
        const QList<int> d = parseInts(QStringLiteral("pan"), text("pan"), 2, pipeline::kMaxPan);
        o.arrows.panX = d[0];
        o.arrows.panY = d[1];
    }
    o.arrows.pressure = has("pressure");
    o.arrows.intensity = has("intensity");
    o.arrows.black = has("black");
    o.arrows.fit = has("fit");
    o.colorBar = has("colorbar");

    o.lines.evenly = o.view == View::Evenly;
    if (has("method")) {
        const QString m = text("method").toLower();
        if (m == QLatin1String("euler"))
            o.lines.method = Euler;
        else if (m == QLatin1String("rk") || m == QLatin1String("runge-kutta"))
            o.lines.method = RungeKutta;
        else
            throw UsageError{QStringLiteral("--method %1: expected euler or rk").arg(text("method"))};
    }
    if (has("dt")) {
        o.lines.dt = parseNumber(QStringLiteral("dt"), text("dt"), 0.0, 7.5);
        if (!(o.lines.dt > 0.0))
            throw UsageError{QStringLiteral("--dt %1: the step must be above 0").arg(text("dt"))};
    }
    const auto wholeNumber = [&](const char *name, int hi) {
        bool ok = false;
        const int v = text(name).trimmed().toInt(&ok);
        if (!ok || v < 1 || v > hi)
            throw UsageError{QStringLiteral("--%1 %2: expected a whole number from 1 to %3")
                                 .arg(QLatin1String(name), text(name))
                                 .arg(hi)};
        return v;
    };
    if (has("max-length"))
        o.lines.maxLength = wholeNumber("max-length", 100000);
    if (has("png-level")) {
        bool ok = false;
        const int v = text("png-level").trimmed().toInt(&ok);
        if (!ok || v < 0 || v > 9)
            throw UsageError{QStringLiteral("--png-level %1: expected a whole number from 0 to 9").arg(text("png-level"))};
        o.pngLevel = v;
    }
    if (has("max-seeds"))
        o.lines.maxSeeds = wholeNumber("max-seeds", 1000000);
    if (has("max-steps"))
        o.lines.maxSteps = wholeNumber("max-steps", 100000);
    o.lines.antialias = has("antialias");
    if (has("view-rect")) {
        const QList<int> r = parseInts(QStringLiteral("view-rect"), text("view-rect"), 4, pipeline::kMaxViewCoordinate);
        if (r[2] <= r[0] || r[3] <= r[1])
            throw UsageError{QStringLiteral("--view-rect %1: X1 < X2 and Y1 < Y2 are needed").arg(text("view-rect"))};
        o.lines.haveRect = true;
        o.lines.rect = ViewRect{r[0], r[1], r[2], r[3]};
    }
    if (has("dsep"))
        o.lines.dSep = roundToSingle(parseNumber(QStringLiteral("dsep"), text("dsep"), 1, 100));
    if (has("dtest"))
        o.lines.dTest = roundToSingle(parseNumber(QStringLiteral("dtest"), text("dtest"), 0.01, 1));
    o.gridLog = text("grid-log");
    if (has("grid-log") && o.gridLog.isEmpty())
        throw UsageError{QStringLiteral("--grid-log needs a path")};
    o.northUp = has("north-up");
    QString figureError;
    if (!figure::parse(has, text, o.figure, &o.figureMode, &figureError))
        throw UsageError{figureError};

    if (!o.output.isEmpty()) {
        o.format = QFileInfo(o.output).suffix().toLower();
        if (!QStringList{"png", "svg", "pdf", "csv", "vtk"}.contains(o.format))
            throw UsageError{QStringLiteral("-o %1: the extension must be .png, .svg, .pdf, .csv or .vtk").arg(o.output)};
        const bool data = o.format == QLatin1String("csv") || o.format == QLatin1String("vtk");
        if (data && (o.figureMode || has("scale") || has("colorbar")))
            throw UsageError{QStringLiteral("-o %1: the picture options do not apply to .%2 data").arg(o.output, o.format)};
        o.figureMode = o.figureMode || o.format == QLatin1String("pdf");
        if (has("png-level") && o.format != QLatin1String("png"))
            throw UsageError{QStringLiteral("-o %1: --png-level applies to .png pictures only").arg(o.output)};
        if ((o.format == QLatin1String("csv") || o.format == QLatin1String("vtk")) && o.view == View::Arrows)
            throw UsageError{QStringLiteral("-o %1: .%2 holds streamlines; the arrow plot writes .png, .svg or .pdf").arg(o.output, o.format)};
    }
    return o;
}

// The output name for one dataset: %n its name, %v the view, %% a percent sign.
QString expand(const QString &pattern, const QString &dataset, View view)
{
    QString name = QFileInfo(dataset).fileName();
    if (name.endsWith(QLatin1String(".gri")))
        name.chop(4);
    QString out;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        const QChar k = i + 1 < pattern.size() ? pattern[i + 1] : QChar();
        if (k == QLatin1Char('n'))
            out += name;
        else if (k == QLatin1Char('v'))
            out += viewName(view);
        else if (k == QLatin1Char('%'))
            out += QLatin1Char('%');
        else
            throw UsageError{QStringLiteral("%1: only %n, %v and %% may follow %").arg(pattern)};
        ++i;
    }
    return out;
}

// Output names of every dataset, checked to be distinct before any work starts.
QStringList outputNames(const Options &o, const QString &pattern, const char *what)
{
    QStringList names;
    QSet<QString> seen;
    for (const QString &d : o.datasets) {
        const QString n = expand(pattern, d, o.view);
        const QString key = QFileInfo(n).absoluteFilePath();
        if (seen.contains(key))
            throw UsageError{QStringLiteral("%1 %2 gives several datasets the same file %3").arg(QLatin1String(what), pattern, n)};
        seen.insert(key);
        names.append(n);
    }
    return names;
}

// ---------------------------------------------------------------- work

QJsonArray jsonVector(const Vector3 &v)
{
    return QJsonArray{v.x, v.y, v.z};
}

void printProbe(const Options &o, const QString &dataset, const Volume &loaded, const metadata::Metadata *meta)
{
    const volumereport::Report r = volumereport::sample(loaded, o.probeX, o.probeY);
    QByteArray out;
    if (o.json) {
        QJsonArray values;
        for (float v : r.point.mValues)
            values.append(static_cast<double>(v));
        QJsonObject object{{QStringLiteral("dataset"), dataset},
                           {QStringLiteral("position"), QJsonArray{double(r.x), double(r.y)}},
                           {QStringLiteral("mPos"), jsonVector(r.point.mPos)},
                           {QStringLiteral("mDir"), jsonVector(r.point.mDir)},
                           {QStringLiteral("values"), values},
                           {QStringLiteral("outPutPos"), jsonVector(r.outPutPos)}};
        if (meta) {
            // Beside each stored value, its value in the quantity's units (null where the
            // metadata says nothing about the channel or there is no value).
            QJsonArray real, units;
            for (qsizetype c = 0; c < r.point.mValues.size(); ++c) {
                const double v = meta->realValue(static_cast<int>(c), double(r.point.mValues[c]));
                real.append(std::isfinite(v) ? QJsonValue(v) : QJsonValue());
                units.append(meta->knows(static_cast<int>(c)) ? QJsonValue(meta->units(static_cast<int>(c))) : QJsonValue());
            }
            object.insert(QStringLiteral("real"), real);
            object.insert(QStringLiteral("units"), units);
        }
        out = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    } else {
        if (o.datasets.size() > 1)
            out = "# " + dataset.toLocal8Bit() + '\n';
        out += volumereport::text(r).toLocal8Bit() + '\n';
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
}

// Largest picture the tool draws: a 2-D raster far beyond any screen, yet bounded in memory.
constexpr qint64 kMaxPixels = qint64(1) << 28;
constexpr int kMaxSide = 32767;

bool pictureFits(QSize size, QString *why)
{
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxSide || size.height() > kMaxSide
        || qint64(size.width()) * size.height() > kMaxPixels) {
        *why = QStringLiteral("a picture of %1 x %2 pixels is beyond the limit of %3 pixels a side and %4 in all")
                   .arg(size.width())
                   .arg(size.height())
                   .arg(kMaxSide)
                   .arg(kMaxPixels);
        return false;
    }
    return true;
}

// Writes the picture (PNG or SVG), with the optional colour bar and flip. `raster` gives the
// view's image, `vector` paints the same through a painter. North up mirrors the rows
// flipRows.first ... flipRows.second - 1 (those that show the grid), no others.
bool writePicture(const Options &o, const QString &out, QSize size, const std::function<QImage()> &raster,
                  const std::function<void(QPainter &)> &vector, const QString &title, QString *error,
                  QPair<int, int> flipRows)
{
    const bool flip = o.northUp && flipRows.first < flipRows.second;
    const QSize canvas = o.colorBar ? pipeline::colorBarCanvas(size) : size;
    if (!pictureFits(canvas, error))
        return false;
    if (o.format == QLatin1String("svg")) {
        return output::writeSvg(
            out, canvas, title,
            [&](QPainter &painter) {
                if (o.colorBar)
                    painter.fillRect(QRect(QPoint(0, 0), canvas), Qt::white);
                painter.save();
                if (flip) {
                    painter.translate(0, flipRows.first + flipRows.second);
                    painter.scale(1, -1);
                }
                vector(painter);
                painter.restore();
                if (o.colorBar)
                    pipeline::paintColorBar(painter, QPoint(size.width() + pipeline::kColorBarGap, 0));
            },
            error);
    }
    QImage image = raster();
    if (image.isNull()) {
        *error = QStringLiteral("no memory for a %1 x %2 picture").arg(size.width()).arg(size.height());
        return false;
    }
    image = pipeline::composePicture(std::move(image), o.northUp, flipRows.first, flipRows.second, o.colorBar);
    if (image.isNull()) {
        *error = QStringLiteral("no memory for the picture");
        return false;
    }
    return output::writePng(out, image, error, o.pngLevel);
}

// Renders one dataset's view into `out`. Returns 0, or the exit status of its failure.
int renderOne(const Options &o, const QString &dataset, const Volume &loaded, const Volume &grid, const QString &out,
              const QString &gridLog, const metadata::Metadata *meta)
{
    QString error;
    figure::Settings figureSettings = o.figure;
    figureSettings.meta = meta;
    // The dataset's picture or data and its grid log are put in place together, or neither.
    outputplan::Transaction outputs;
    const QString title = QStringLiteral("%1 (%2)").arg(QFileInfo(dataset).fileName(), viewName(o.view));
    if (o.view == View::Arrows) {
        const QSize size = pipeline::arrowPictureSize(grid, o.arrows);
        if (!pictureFits(size, &error)) {
            say(QStringLiteral("%1: %2").arg(dataset, error));
            return 1;
        }
        const int maxZoom = pipeline::maxArrowZoom(size);
        if (o.arrows.zoom > maxZoom) {
            say(QStringLiteral("%1: --zoom %2 leaves no cells of a %3 x %4 picture (largest zoom %5)")
                    .arg(dataset)
                    .arg(o.arrows.zoom)
                    .arg(size.width())
                    .arg(size.height())
                    .arg(maxZoom));
            return 2;
        }
        const arrowrender::PictureSettings picture = pipeline::arrowPicture(grid, o.arrows);
        if (o.figureMode) {
            figure::Figure f;
            const int status = figure::arrowFigure(figureSettings, grid, o.arrows, f, &error);
            if (status == 0 && (!figure::write(out, o.format, f, title, &error, o.pngLevel == output::kPngAuto ? 1 : o.pngLevel) || !outputs.commit(&error))) {
                say(error);
                return 1;
            }
            if (status != 0)
                say(QStringLiteral("%1: %2").arg(dataset, error));
            return status;
        }
        QPair<int, int> rows;
        figure::arrowDataRows(grid, picture, 1, &rows.first, &rows.second);
        if (!writePicture(o, out, size, [&] { return arrowrender::renderPicture(&grid, picture); },
                          [&](QPainter &p) { arrowrender::paintPicture(p, &grid, picture); }, title, &error, rows)
            || !outputs.commit(&error)) {
            say(error);
            return 1;
        }
        return 0;
    }

    const QSize size(grid.getDimX(), grid.getDimY());
    if (o.format != QLatin1String("csv") && o.format != QLatin1String("vtk") && !pictureFits(size, &error)) {
        say(QStringLiteral("%1: %2").arg(dataset, error));
        return 1;
    }
    const pipeline::StreamRun run = pipeline::seedStreamlines(grid, o.lines);
    const bool antialias = o.lines.antialias;
    bool ok = true;
    DroppedRepeats dropped;
    figure::Figure f;
    if (o.figureMode) {
        const int status = figure::streamlineFigure(figureSettings, run, grid, f, &error);
        if (status != 0) {
            say(QStringLiteral("%1: %2").arg(dataset, error));
            return status;
        }
        ok = figure::write(out, o.format, f, title, &error, o.pngLevel == output::kPngAuto ? 1 : o.pngLevel);
    } else if (o.format == QLatin1String("csv"))
        ok = output::writeCsv(out, pipeline::dataLines(run, grid, &dropped), loaded, &error);
    else if (o.format == QLatin1String("vtk"))
        ok = output::writeVtk(out, pipeline::dataLines(run, grid, &dropped), loaded, title, &error);
    else
        ok = writePicture(
            o, out, run.size,
            [&] {
                QImage image = blankStreamlineImage(run.size);
                paintPolylines(image, run.polylines, antialias);
                return image;
            },
            [&](QPainter &painter) {
                painter.fillRect(QRect(QPoint(0, 0), run.size), Qt::black);
                // Aliased lines fill the pixels whose corner the points name; as vectors they
                // run through those pixels' centres.
                if (!antialias)
                    painter.translate(0.5, 0.5);
                paintStreamlines(painter, pipeline::vectorPolylines(run, grid, &dropped), antialias);
            },
            title, &error, {0, run.size.height()});
    if (ok && gVerbose && o.format != QLatin1String("png"))
        say(QStringLiteral("%1: left out %2 repeated points and %3 lines of one point")
                .arg(dataset)
                .arg(dropped.points)
                .arg(dropped.lines));
    ok = ok && (gridLog.isEmpty() || output::writeGridLog(gridLog, run.separation.get(), &error)) && outputs.commit(&error);
    if (!ok) {
        say(error);
        return 1;
    }
    return 0;
}

int run(const QStringList &arguments)
{
    Options o;
    QStringList outputs, gridLogs;
    try {
        bool help = false;
        o = parseOptions(arguments, &help);
        if (help) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (!o.output.isEmpty()) {
            if (o.datasets.size() > 1 && !o.output.contains(QLatin1String("%n")))
                throw UsageError{QStringLiteral("-o %1: several datasets need %n in the output name").arg(o.output)};
            outputs = outputNames(o, o.output, "-o");
        }
        if (!o.gridLog.isEmpty())
            gridLogs = outputNames(o, o.gridLog, "--grid-log");
        QStringList inputs;
        QList<outputplan::Target> targets;
        for (int i = 0; i < o.datasets.size(); ++i) {
            inputs << o.datasets[i] << dataset::dataFileName(o.datasets[i]);
            if (const QString meta = metadata::fileName(o.datasets[i]); !meta.isEmpty())
                inputs << meta;
            if (i < outputs.size())
                targets.append({QStringLiteral("-o"), outputs[i]});
            if (i < gridLogs.size())
                targets.append({QStringLiteral("--grid-log"), gridLogs[i]});
        }
        const QString broken = outputplan::check(inputs, targets);
        if (!broken.isEmpty())
            throw UsageError{broken};
    } catch (const UsageError &e) {
        say(e.message);
        return 2;
    }

    int status = 0;
    for (int i = 0; i < o.datasets.size(); ++i) {
        const QString &dataset = o.datasets[i];
        progress(QStringLiteral("[%1/%2] loading %3").arg(i + 1).arg(o.datasets.size()).arg(dataset));
        const DatasetResult load = loadDataset(dataset);
        if (!load) {
            // Warnings of the read come first, as the console showed them.
            const QStringList reasons = load.state ? load.state->warnings() + QStringList{load.error.message}
                                                   : QStringList{load.error.message};
            say(QStringLiteral("cannot load %1: %2").arg(dataset, reasons.join(QStringLiteral("; "))));
            status = std::max(status, 1);
            continue;
        }
        const Volume *loaded = &load.dataset->loaded(), *grid = &load.dataset->grid();
        const QString remarks = load.dataset->warnings().join(QStringLiteral("; "));
        if (!remarks.isEmpty() && !gVerbose)
            say(QStringLiteral("warning: %1: %2").arg(dataset, remarks));
        if (o.probe && (o.probeX > loaded->getDimX() - 1 || o.probeY > loaded->getDimY() - 1)) {
            say(QStringLiteral("--probe %1: outside %2, whose positions run from 0 to %3 along x and 0 to %4 along y")
                    .arg(o.probeText, dataset)
                    .arg(loaded->getDimX() - 1)
                    .arg(loaded->getDimY() - 1));
            status = std::max(status, 2);
            continue;
        }
        const metadata::Loaded meta = metadata::load(dataset, loaded->getDimX(), loaded->getDimY());
        if (meta.status == metadata::Status::Ignored)
            say(QStringLiteral("warning: %1").arg(meta.warning));
        const metadata::Metadata *known = meta.status == metadata::Status::Loaded ? &meta.meta : nullptr;
        if (o.probe)
            printProbe(o, dataset, *loaded, known);
        if (o.view == View::None)
            continue;
        progress(QStringLiteral("[%1/%2] rendering %3 to %4").arg(i + 1).arg(o.datasets.size()).arg(dataset, outputs[i]));
        const int result = renderOne(o, dataset, *loaded, *grid, outputs[i], gridLogs.value(i), known);
        status = std::max(status, result);
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // No display needed: without a chosen platform, render offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--verbose") == 0)
            gVerbose = true;
    gProgress = isatty(STDERR_FILENO) != 0;
    qInstallMessageHandler(messageHandler);
    QGuiApplication app(argc, argv);
    const int status = run(app.arguments());
    // Every output is in place and closed by now; what is left is handing back memory the
    // system reclaims anyway (a large field's blocks, Qt's start-up state), which costs more
    // than the rest of a small run.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
