// tessaly-import: converts a flow field from NetCDF or column text into a dataset pair
// OUT.gri / OUT.00000.dat. Exit status 0 done (and --help), 2 usage error, 1 the conversion
// failed; a failure leaves no output file behind.

#include "tools/import/GridChecks.h"
#include "tools/import/ImportGrid.h"
#include "tools/import/NetcdfReader.h"
#include "tools/import/PairOutput.h"
#include "tools/import/TableReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cmath>
#include <cstdio>

using namespace tessimport;

namespace {

// The options, for the parser and --help alike.
struct OptionRow
{
    const char *name;
    const char *value; // null: a switch
    const char *text;
};
const OptionRow kOptions[] = {
    {"u", "NAME", "the eastward flow component (NetCDF variable, or table column name or 1-based number); "
                  "found by CF standard_name or common name"},
    {"v", "NAME", "the northward flow component, as --u"},
    {"x", "NAME", "the table column of the x positions (default: x, or 1)"},
    {"y", "NAME", "the table column of the y positions (default: y, or 2)"},
    {"scalar", "NAME", "the scalar shown as pressure (default: a pressure found by name, the first spare table column, "
                       "else the flow speed)"},
    {"time", "K", "index along a time dimension (default 0)"},
    {"level", "K", "index along a depth or level dimension (default 0)"},
    {"scalar-range", "LO:HI", "range mapped onto the arrow plot's scale -4 ... 2.5 (default: the data's own range)"},
    {"flow-scale", "K", "multiply the flow vectors by K > 0 (default 1) so that the arrows of m/s winds become readable"},
    {"list", nullptr, "print the variables or columns and what would be chosen"},
};

// What the command line asks for.
struct Request
{
    QString input, output; // output empty with --list
    TableColumns columns;
    NetcdfChoice choice;
    bool list = false, haveRange = false, tableOnly = false;
    double rangeLow = 0.0, rangeHigh = 0.0, flowScale = 1.0;
};

int usage(const QString &message)
{
    std::fprintf(stderr, "tessaly-import: %s (see --help)\n", message.toLocal8Bit().constData());
    return 2;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "tessaly-import: %s\n", message.toLocal8Bit().constData());
    return 1;
}

void out(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

// The library's console trace (the dataset writer's) is replaced by this tool's own
// one-line messages.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

bool parseIndex(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= 0;
}

QString number(double v)
{
    return QString::number(v, 'g', 7);
}

// One value of option `name` into the request; the usage message when it breaks the option's rule.
QString take(const QString &name, const QString &value, Request &r)
{
    if (value.isEmpty())
        return QStringLiteral("--%1 needs a value").arg(name);
    if (name == QLatin1String("u")) {
        r.columns.u = r.choice.u = value;
    } else if (name == QLatin1String("v")) {
        r.columns.v = r.choice.v = value;
    } else if (name == QLatin1String("x") || name == QLatin1String("y")) {
        (name == QLatin1String("x") ? r.columns.x : r.columns.y) = value;
        r.tableOnly = true;
    } else if (name == QLatin1String("scalar")) {
        r.columns.scalar = r.choice.scalar = value;
    } else if (name == QLatin1String("time") || name == QLatin1String("level")) {
        const bool time = name == QLatin1String("time");
        if (!parseIndex(value, time ? r.choice.time : r.choice.level))
            return QStringLiteral("--%1 needs an index 0, 1, 2, ..., not '%2'").arg(name, value);
        (time ? r.choice.timeGiven : r.choice.levelGiven) = true;
    } else if (name == QLatin1String("scalar-range")) {
        // LO:HI; a leading minus belongs to LO, so split at the first colon after it.
        const qsizetype colon = value.indexOf(QLatin1Char(':'), 1);
        bool okLow = false, okHigh = false;
        if (colon > 0) {
            r.rangeLow = value.left(colon).toDouble(&okLow);
            r.rangeHigh = value.mid(colon + 1).toDouble(&okHigh);
        }
        if (!okLow || !okHigh || !std::isfinite(r.rangeLow) || !std::isfinite(r.rangeHigh) || !(r.rangeLow < r.rangeHigh))
            return QStringLiteral("--scalar-range needs LO:HI with LO < HI, not '%1'").arg(value);
        r.haveRange = true;
    } else if (name == QLatin1String("flow-scale")) {
        bool ok = false;
        r.flowScale = value.toDouble(&ok);
        if (!ok || !std::isfinite(r.flowScale) || !(r.flowScale > 0.0) || r.flowScale > 1e30)
            return QStringLiteral("--flow-scale needs a number above 0, not '%1'").arg(value);
    }
    return QString();
}

// The parser's refusal in this tool's words: the first unknown option as it was typed, or
// the option left without its value at the end.
QString parseError(const QCommandLineParser &parser, const QStringList &args)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return QStringLiteral("%1 needs a value").arg(args.last());
    for (const QString &arg : args.mid(1)) {
        if (arg == QLatin1String("--"))
            break;
        QString name = arg.left(arg.indexOf(QLatin1Char('=')));
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        if (arg.startsWith(QLatin1Char('-')) && unknown.contains(name))
            return QStringLiteral("unknown option %1").arg(arg);
    }
    return QStringLiteral("unknown option --%1").arg(unknown.first());
}

// Fills `r` from the command line; an exit status when the tool is done (--help, a usage error).
int parseCommandLine(const QStringList &args, Request &r)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts a 2-D flow field from a NetCDF file or a column table (x y u v ...) "
                                                    "into the dataset pair OUT.gri / OUT.00000.dat that Tessaly opens.\n"
                                                    "Exit status: 0 done, 1 the conversion failed, 2 usage error."));
    const QCommandLineOption help = parser.addHelpOption();
    for (const OptionRow &o : kOptions)
        parser.addOption(o.value ? QCommandLineOption(QLatin1String(o.name), QLatin1String(o.text), QLatin1String(o.value))
                                 : QCommandLineOption(QLatin1String(o.name), QLatin1String(o.text)));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("the NetCDF file or column table"));
    parser.addPositionalArgument(QStringLiteral("OUT.gri"), QStringLiteral("the grid file to write (its data file and "
                                                                           "NAME.meta.json beside it); none with --list"));
    const bool parsed = parser.parse(args);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!parsed)
        return usage(parseError(parser, args));
    for (const OptionRow &o : kOptions)
        for (const QString &value : o.value ? parser.values(QLatin1String(o.name)) : QStringList())
            if (const QString why = take(QLatin1String(o.name), value, r); !why.isEmpty())
                return usage(why);
    r.list = parser.isSet(QStringLiteral("list"));
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("no INPUT file given"));
    if (positional.size() > (r.list ? 1 : 2))
        return usage(QStringLiteral("too many arguments: %1").arg(positional.mid(r.list ? 1 : 2).join(QLatin1Char(' '))));
    if (!r.list && positional.size() < 2)
        return usage(QStringLiteral("no output file OUT.gri given"));
    r.input = positional[0];
    r.output = r.list ? QString() : positional[1];
    const QString outName = QFileInfo(r.output).fileName();
    if (!r.list && (!outName.endsWith(QLatin1String(".gri")) || outName == QLatin1String(".gri")))
        return usage(QStringLiteral("the output file must be named NAME.gri, not '%1'").arg(r.output));
    return -1;
}

QString unitText(const QString &u)
{
    return u.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(u);
}

// What was read and written, for stdout.
QString summary(const Request &r, const Grid &g, const ScalarMapping &m, std::size_t missing, const QString &beyond)
{
    QString s = QStringLiteral("read %1: u = %2%3, v = %4%5%6\n")
                    .arg(QFileInfo(r.input).fileName(), g.uName, unitText(g.uUnits), g.vName, unitText(g.vUnits),
                         g.source.isEmpty() ? QString() : QStringLiteral(", ") + g.source);
    const auto axisText = [&](const Axis &a, double lo, double hi, bool reversed) {
        return QStringLiteral("%1 %2 ... %3%4%5").arg(a.name, number(lo), number(hi), unitText(a.units),
                                                         reversed ? QStringLiteral(" (reversed: was descending)") : QString());
    };
    s += QStringLiteral("grid: %1 x %2 points%3, x = %4, y = %5\n")
             .arg(g.nx).arg(g.ny).arg(g.curvilinear ? QStringLiteral(" (curvilinear)") : QString())
             .arg(axisText(g.xAxis, g.x(0, 0), g.x(g.nx - 1, 0), g.reversedX), axisText(g.yAxis, g.y(0, 0), g.y(0, g.ny - 1), g.reversedY));
    s += QStringLiteral("missing flow: %1 of %2 points (written as NaN%3)\n").arg(missing).arg(g.points()).arg(beyond.isEmpty() ? QString() : QStringLiteral("; ") + beyond);
    s += QStringLiteral("scalar %1%2: %3 ... %4 (%5) mapped linearly onto %6 ... %7 as channel 0; original values in channel 1\n")
             .arg(m.name, unitText(m.units), number(m.low), number(m.high),
                  m.fromData ? QStringLiteral("data range") : QStringLiteral("--scalar-range"), number(kScalarLow), number(kScalarHigh));
    s += r.flowScale == 1.0 ? QStringLiteral("flow scale: 1 (vectors as read; --flow-scale K lengthens the arrows)\n")
                            : QStringLiteral("flow scale: %1 (u and v multiplied by %1)\n").arg(number(r.flowScale));
    s += QStringLiteral("wrote %1, its data file (%2 x %3 points, 2 channels) and %4\n")
             .arg(r.output).arg(g.nx).arg(g.ny).arg(QFileInfo(metadata::fileName(r.output)).fileName());
    if (g.yAxis.units.startsWith(QLatin1String("degree"), Qt::CaseInsensitive) && g.yAxis.units.contains(QLatin1Char('n'), Qt::CaseInsensitive))
        s += QStringLiteral("note: Tessaly's views draw the first row (south) at the top; tessaly-render --north-up shows north up\n");
    return s;
}

// Reads the input into `g`, or (--list) prints what it holds; an exit status when done.
int readInput(const Request &r, Grid &g)
{
    QString error;
    QFile in(r.input);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(r.input, in.errorString()));
    const bool netcdf = looksLikeNetcdf(in.peek(8));
    if (netcdf && r.tableOnly)
        return usage(QStringLiteral("--x and --y choose table columns; %1 is a NetCDF file").arg(r.input));
    if (!netcdf && (r.choice.timeGiven || r.choice.levelGiven))
        return usage(QStringLiteral("--time and --level choose NetCDF slices; %1 is not a NetCDF file").arg(r.input));
    if (netcdf) {
        in.close();
        QString report;
        if (r.list)
            return listNetcdf(r.input, r.choice, report, error) ? (out(report), 0) : fail(error);
        return readNetcdf(r.input, r.choice, g, error) ? -1 : fail(error);
    }
    const QByteArray text = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read %1: %2").arg(r.input, in.errorString()));
    in.close();
    if (r.list) {
        TableInfo info;
        return inspectTable(text, r.columns, info, error) ? (out(describeTable(info)), 0) : fail(error);
    }
    QStringList warnings;
    if (!readTable(text, r.columns, g, error, &warnings))
        return fail(error);
    for (const QString &w : warnings)
        std::fprintf(stderr, "tessaly-import: warning: %s\n", w.toLocal8Bit().constData());
    return -1;
}

int convert(const Request &r)
{
    QString error;
    if (!checkInput(r.input, error))
        return fail(error);
    // The outputs are judged before anything is read: neither file of the pair may be the
    // input or something other than a regular file.
    PairPaths outputs;
    bool usageError = false;
    if (!r.list && !resolveOutputs(r.input, r.output, outputs, usageError, error))
        return usageError ? usage(error) : fail(error);
    Grid g;
    if (const int done = readInput(r, g); done >= 0)
        return done;
    error = orient(g);
    if (error.isEmpty())
        error = positionProblem(g);
    if (!error.isEmpty())
        return fail(error);
    const std::size_t missing = missingFlow(g);
    const QString beyond = g.flowBeyondFloat == 0 ? QString()
                           : QStringLiteral("%1 %2 or %3 values lie beyond the float range (about ±3.4e38) and count as missing")
                                 .arg(g.flowBeyondFloat).arg(g.uName, g.vName);
    if (missing == g.points())
        return fail(QStringLiteral("%1 and %2 have no value at any point%3").arg(g.uName, g.vName, beyond.isEmpty() ? QString() : QStringLiteral(": ") + beyond));
    ScalarMapping m;
    if (!scalarMapping(g, r.haveRange, r.rangeLow, r.rangeHigh, m, error))
        return fail(error);
    if (!writeDataset(g, m, r.flowScale, r.output, error, r.input))
        return fail(error);
    out(summary(r, g, m, missing, beyond));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    QCoreApplication app(argc, argv);
    Request r;
    const int done = parseCommandLine(app.arguments(), r);
    return done >= 0 ? done : convert(r);
}
