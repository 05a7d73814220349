#include "tools/render/Options.h"

#include "data/SinglePrecision.h"
#include "volinfo/VolumeReport.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <functional>

namespace rendertool {

namespace {

using Has = std::function<bool(const char *)>;
using Text = std::function<QString(const char *)>;

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

// A whole number lo ... hi, with the message every such option gives.
int wholeNumber(const Text &text, const char *name, int lo, int hi)
{
    bool ok = false;
    const int v = text(name).trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi)
        throw UsageError{QStringLiteral("--%1 %2: expected a whole number from %3 to %4")
                             .arg(QLatin1String(name), text(name))
                             .arg(lo)
                             .arg(hi)};
    return v;
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

// The command line through the table's parser; the datasets are its positional arguments.
void readCommandLine(QCommandLineParser &parser, const QStringList &arguments)
{
    // "-abc" is the unknown long option "abc", not three flags.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(parser);
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText()};
    if (parser.isSet(QStringLiteral("help")))
        return;
    for (const QString &name : parser.optionNames()) {
        // A value option given twice: the second would silently win.
        if (parser.values(name).size() > 1)
            throw UsageError{QStringLiteral("%1%2 given more than once").arg(QLatin1String(name.size() == 1 ? "-" : "--"), name)};
    }
    if (parser.positionalArguments().isEmpty())
        throw UsageError{QStringLiteral("no dataset given (see --help)")};
}

// What the run does: a view into -o, a probe, or both.
void parseTask(Options &o, const Has &has, const Text &text)
{
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
}

// Options of one view only, given with another, are a mistake, not a no-op; so are options
// that need a partner.
void checkScopes(const Options &o, const Has &has)
{
    const auto check = [&](Scope scope) {
        const QString misplaced = outOfScope(has, o.view, scope);
        if (!misplaced.isEmpty())
            throw UsageError{misplaced};
    };
    check(ArrowView);
    check(LineViews);
    check(AnyView);
    if (has("colorbar") && o.view != View::Arrows && !has("color-by"))
        throw UsageError{QStringLiteral("--colorbar on streamlines needs --color-by")};
    if (has("smooth") && !has("pressure"))
        throw UsageError{QStringLiteral("--smooth goes with --pressure")};
    check(RegularView);
    check(EvenlyView);
    if (has("white") && has("black"))
        throw UsageError{QStringLiteral("--white and --black exclude each other")};
}

void parseArrowOptions(Options &o, const Has &has, const Text &text)
{
    if (has("zoom"))
        o.arrows.zoom = wholeNumber(text, "zoom", 1, pipeline::kMaxZoom);
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
}

void parseLineOptions(Options &o, const Has &has, const Text &text)
{
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
    if (has("max-length"))
        o.lines.maxLength = wholeNumber(text, "max-length", 1, 100000);
    if (has("max-seeds"))
        o.lines.maxSeeds = wholeNumber(text, "max-seeds", 1, 1000000);
    if (has("max-steps"))
        o.lines.maxSteps = wholeNumber(text, "max-steps", 1, 100000);
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
}

// The format follows -o's extension; the options that do not apply to it are errors.
void parseFormat(Options &o, const Has &has)
{
    if (o.output.isEmpty())
        return;
    o.format = QFileInfo(o.output).suffix().toLower();
    if (!QStringList{"png", "svg", "pdf", "csv", "vtk"}.contains(o.format))
        throw UsageError{QStringLiteral("-o %1: the extension must be .png, .svg, .pdf, .csv or .vtk").arg(o.output)};
    const bool data = o.format == QLatin1String("csv") || o.format == QLatin1String("vtk");
    if (data && (o.figureMode || has("scale") || has("colorbar")))
        throw UsageError{QStringLiteral("-o %1: the picture options do not apply to .%2 data").arg(o.output, o.format)};
    o.figureMode = o.figureMode || o.format == QLatin1String("pdf");
    if (has("png-level") && o.format != QLatin1String("png"))
        throw UsageError{QStringLiteral("-o %1: --png-level applies to .png pictures only").arg(o.output)};
    if (data && o.view == View::Arrows)
        throw UsageError{QStringLiteral("-o %1: .%2 holds streamlines; the arrow plot writes .png, .svg or .pdf").arg(o.output, o.format)};
}

} // namespace

Options parseOptions(const QStringList &arguments, bool *help)
{
    QCommandLineParser parser;
    readCommandLine(parser, arguments);
    Options o;
    *help = parser.isSet(QStringLiteral("help"));
    if (*help)
        return o;
    o.datasets = parser.positionalArguments();
    const Has has = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    const Text text = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    parseTask(o, has, text);
    checkScopes(o, has);
    parseArrowOptions(o, has, text);
    parseLineOptions(o, has, text);
    if (has("png-level"))
        o.pngLevel = wholeNumber(text, "png-level", 0, 9);
    o.northUp = has("north-up");
    QString figureError;
    if (!figure::parse(has, text, o.figure, &o.figureMode, &figureError))
        throw UsageError{figureError};
    parseFormat(o, has);
    return o;
}

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

} // namespace rendertool
