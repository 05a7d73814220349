// tessaly-import: converts a flow field from NetCDF or column text into a dataset pair
// OUT.gri / OUT.00000.dat. Exit status 0 done, 2 usage error, 1 the conversion failed;
// a failure leaves no output file behind.

#include "GridChecks.h"
#include "ImportGrid.h"
#include "NetcdfReader.h"
#include "PairOutput.h"
#include "TableReader.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace tessimport;

namespace {

const char kUsage[] =
    "Usage: tessaly-import INPUT OUT.gri [options]\n"
    "       tessaly-import INPUT --list [options]\n"
    "Converts a 2-D flow field from a NetCDF file or a column table (x y u v ...) into the\n"
    "dataset pair OUT.gri / OUT.00000.dat that Tessaly opens.\n"
    "\n"
    "  --u NAME, --v NAME   the flow components (NetCDF variable, or table column name or\n"
    "                       1-based number); found by CF standard_name or common name\n"
    "  --x NAME, --y NAME   table columns of the positions (default: x and y, or 1 and 2)\n"
    "  --scalar NAME        the scalar shown as pressure (default: a pressure found by name,\n"
    "                       the first spare table column, else the flow speed)\n"
    "  --time K, --level K  index along a time or a depth/level dimension (default 0)\n"
    "  --scalar-range LO:HI range mapped onto the arrow plot's scale -4 ... 2.5\n"
    "                       (default: the data's own range)\n"
    "  --flow-scale K       multiply the flow vectors by K > 0 (default 1) so that the\n"
    "                       arrows of m/s winds become readable\n"
    "  --list               print the variables or columns and what would be chosen\n"
    "  --help               this text\n"
    "Exit status: 0 done, 1 the conversion failed, 2 usage error.\n";

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

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    QStringList positional;
    TableColumns columns;
    NetcdfChoice choice;
    bool list = false, haveRange = false, tableOnly = false;
    double rangeLow = 0.0, rangeHigh = 0.0, flowScale = 1.0;
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == QLatin1String("--list")) {
            list = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            positional << arg;
            continue;
        }
        static const QStringList known = {QStringLiteral("--u"), QStringLiteral("--v"), QStringLiteral("--x"), QStringLiteral("--y"),
                                          QStringLiteral("--scalar"), QStringLiteral("--time"), QStringLiteral("--level"),
                                          QStringLiteral("--scalar-range"), QStringLiteral("--flow-scale")};
        if (!known.contains(arg.left(arg.indexOf(QLatin1Char('=')))))
            return usage(QStringLiteral("unknown option %1").arg(arg));
        QString value;
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
        } else if (i + 1 < argc) {
            value = QString::fromLocal8Bit(argv[++i]);
        } else {
            return usage(QStringLiteral("%1 needs a value").arg(arg));
        }
        if (value.isEmpty())
            return usage(QStringLiteral("%1 needs a value").arg(arg));
        if (arg == QLatin1String("--u")) {
            columns.u = choice.u = value;
        } else if (arg == QLatin1String("--v")) {
            columns.v = choice.v = value;
        } else if (arg == QLatin1String("--x")) {
            columns.x = value;
            tableOnly = true;
        } else if (arg == QLatin1String("--y")) {
            columns.y = value;
            tableOnly = true;
        } else if (arg == QLatin1String("--scalar")) {
            columns.scalar = choice.scalar = value;
        } else if (arg == QLatin1String("--time")) {
            if (!parseIndex(value, choice.time))
                return usage(QStringLiteral("--time needs an index 0, 1, 2, ..., not '%1'").arg(value));
            choice.timeGiven = true;
        } else if (arg == QLatin1String("--level")) {
            if (!parseIndex(value, choice.level))
                return usage(QStringLiteral("--level needs an index 0, 1, 2, ..., not '%1'").arg(value));
            choice.levelGiven = true;
        } else if (arg == QLatin1String("--scalar-range")) {
            // LO:HI; a leading minus belongs to LO, so split at the first colon after it.
            const qsizetype colon = value.indexOf(QLatin1Char(':'), 1);
            bool okLow = false, okHigh = false;
            if (colon > 0) {
                rangeLow = value.left(colon).toDouble(&okLow);
                rangeHigh = value.mid(colon + 1).toDouble(&okHigh);
            }
            if (!okLow || !okHigh || !std::isfinite(rangeLow) || !std::isfinite(rangeHigh) || !(rangeLow < rangeHigh))
                return usage(QStringLiteral("--scalar-range needs LO:HI with LO < HI, not '%1'").arg(value));
            haveRange = true;
        } else if (arg == QLatin1String("--flow-scale")) {
            bool ok = false;
            flowScale = value.toDouble(&ok);
            if (!ok || !std::isfinite(flowScale) || !(flowScale > 0.0) || flowScale > 1e30)
                return usage(QStringLiteral("--flow-scale needs a number above 0, not '%1'").arg(value));
        } else {
            return usage(QStringLiteral("unknown option %1").arg(arg));
        }
    }
    if (positional.isEmpty())
        return usage(QStringLiteral("no INPUT file given"));
    if (positional.size() > (list ? 1 : 2))
        return usage(QStringLiteral("too many arguments: %1").arg(positional.mid(list ? 1 : 2).join(QLatin1Char(' '))));
    if (!list && positional.size() < 2)
        return usage(QStringLiteral("no output file OUT.gri given"));
    const QString input = positional[0];
    const QString output = list ? QString() : positional[1];
    if (!list && (!QFileInfo(output).fileName().endsWith(QLatin1String(".gri")) || QFileInfo(output).fileName() == QLatin1String(".gri")))
        return usage(QStringLiteral("the output file must be named NAME.gri, not '%1'").arg(output));

    QString error;
    if (!checkInput(input, error))
        return fail(error);
    // The outputs are judged before anything is read: neither file of the pair may be the
    // input or something other than a regular file.
    PairPaths outputs;
    bool usageError = false;
    if (!list && !resolveOutputs(input, output, outputs, usageError, error))
        return usageError ? usage(error) : fail(error);

    QFile in(input);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(input, in.errorString()));
    const bool netcdf = looksLikeNetcdf(in.peek(8));
    if (netcdf && tableOnly)
        return usage(QStringLiteral("--x and --y choose table columns; %1 is a NetCDF file").arg(input));
    if (!netcdf && (choice.timeGiven || choice.levelGiven))
        return usage(QStringLiteral("--time and --level choose NetCDF slices; %1 is not a NetCDF file").arg(input));

    Grid g;
    if (netcdf) {
        in.close();
        if (list) {
            QString report;
            if (!listNetcdf(input, choice, report, error))
                return fail(error);
            out(report);
            return 0;
        }
        if (!readNetcdf(input, choice, g, error))
            return fail(error);
    } else {
        const QByteArray text = in.readAll();
        if (in.error() != QFileDevice::NoError)
            return fail(QStringLiteral("cannot read %1: %2").arg(input, in.errorString()));
        in.close();
        if (list) {
            TableInfo info;
            if (!inspectTable(text, columns, info, error))
                return fail(error);
            out(describeTable(info));
            return 0;
        }
        QStringList warnings;
        if (!readTable(text, columns, g, error, &warnings))
            return fail(error);
        for (const QString &w : warnings)
            std::fprintf(stderr, "tessaly-import: warning: %s\n", w.toLocal8Bit().constData());
    }
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
    if (!scalarMapping(g, haveRange, rangeLow, rangeHigh, m, error))
        return fail(error);
    if (!writeDataset(g, m, flowScale, output, error, input))
        return fail(error);

    // The summary.
    const auto unitText = [](const QString &u) { return u.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(u); };
    QString s = QStringLiteral("read %1: u = %2%3, v = %4%5%6\n")
                    .arg(QFileInfo(input).fileName(), g.uName, unitText(g.uUnits), g.vName, unitText(g.vUnits),
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
    s += flowScale == 1.0 ? QStringLiteral("flow scale: 1 (vectors as read; --flow-scale K lengthens the arrows)\n")
                          : QStringLiteral("flow scale: %1 (u and v multiplied by %1)\n").arg(number(flowScale));
    s += QStringLiteral("wrote %1, its data file (%2 x %3 points, 2 channels) and %4\n")
             .arg(output).arg(g.nx).arg(g.ny).arg(QFileInfo(metadata::fileName(output)).fileName());
    if (g.yAxis.units.startsWith(QLatin1String("degree"), Qt::CaseInsensitive) && g.yAxis.units.contains(QLatin1Char('n'), Qt::CaseInsensitive))
        s += QStringLiteral("note: Tessaly's views draw the first row (south) at the top; tessaly-render --north-up shows north up\n");
    out(s);
    return 0;
}
