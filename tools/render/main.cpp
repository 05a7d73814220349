// tessaly-render: the pictures (and streamline data, and volume reports) of the interactive
// views, written to files without a display. Exit status 0 ok, 2 usage, 1 failed work.

#include "data/Dataset.h"
#include "data/DatasetFiles.h"
#include "data/Metadata.h"
#include "data/Volume.h"
#include "tools/render/Console.h"
#include "tools/render/Options.h"
#include "tools/render/OutputPlan.h"
#include "tools/render/ViewOutput.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace rendertool;
using console::say;

// The run's output files, named and checked before any dataset is read: none may be an
// input, another output, or a file that cannot be replaced. Throws UsageError.
void planOutputs(const Options &o, QStringList *outputs, QStringList *gridLogs)
{
    if (!o.output.isEmpty()) {
        if (o.datasets.size() > 1 && !o.output.contains(QLatin1String("%n")))
            throw UsageError{QStringLiteral("-o %1: several datasets need %n in the output name").arg(o.output)};
        *outputs = outputNames(o, o.output, "-o");
    }
    if (!o.gridLog.isEmpty())
        *gridLogs = outputNames(o, o.gridLog, "--grid-log");
    QStringList inputs;
    QList<outputplan::Target> targets;
    for (int i = 0; i < o.datasets.size(); ++i) {
        inputs << o.datasets[i] << dataset::dataFileName(o.datasets[i]);
        if (const QString meta = metadata::fileName(o.datasets[i]); !meta.isEmpty())
            inputs << meta;
        if (i < outputs->size())
            targets.append({QStringLiteral("-o"), outputs->at(i)});
        if (i < gridLogs->size())
            targets.append({QStringLiteral("--grid-log"), gridLogs->at(i)});
    }
    const QString broken = outputplan::check(inputs, targets);
    if (!broken.isEmpty())
        throw UsageError{broken};
}

// Loads dataset `i` and does its work. Returns 0, or the exit status of its failure.
int runDataset(const Options &o, int i, const QString &out, const QString &gridLog)
{
    const QString &dataset = o.datasets[i];
    console::progress(QStringLiteral("[%1/%2] loading %3").arg(i + 1).arg(o.datasets.size()).arg(dataset));
    // Only the probe reads the loaded points; the views read the grid, size and extent.
    const DatasetResult load = loadDataset(dataset, {}, o.probe ? LoadedPoints::Keep : LoadedPoints::Release);
    if (!load) {
        // Warnings of the read come first, as the console showed them.
        const QStringList reasons = load.state ? load.state->warnings() + QStringList{load.error.message}
                                               : QStringList{load.error.message};
        say(QStringLiteral("cannot load %1: %2").arg(dataset, reasons.join(QStringLiteral("; "))));
        return 1;
    }
    const Volume &loaded = load.dataset->loaded(), &grid = load.dataset->grid();
    const QString remarks = load.dataset->warnings().join(QStringLiteral("; "));
    if (!remarks.isEmpty() && !console::verbose())
        say(QStringLiteral("warning: %1: %2").arg(dataset, remarks));
    if (o.probe && (o.probeX > loaded.getDimX() - 1 || o.probeY > loaded.getDimY() - 1)) {
        say(QStringLiteral("--probe %1: outside %2, whose positions run from 0 to %3 along x and 0 to %4 along y")
                .arg(o.probeText, dataset)
                .arg(loaded.getDimX() - 1)
                .arg(loaded.getDimY() - 1));
        return 2;
    }
    const metadata::Loaded meta = metadata::load(dataset, loaded.getDimX(), loaded.getDimY());
    if (meta.status == metadata::Status::Ignored)
        say(QStringLiteral("warning: %1").arg(meta.warning));
    const metadata::Metadata *known = meta.status == metadata::Status::Loaded ? &meta.meta : nullptr;
    if (o.probe)
        printProbe(o, dataset, loaded, known);
    if (o.view == View::None)
        return 0;
    console::progress(QStringLiteral("[%1/%2] rendering %3 to %4").arg(i + 1).arg(o.datasets.size()).arg(dataset, out));
    return renderView(o, ViewJob{dataset, loaded, grid, out, gridLog, known});
}

int run(const QStringList &arguments)
{
    Options o;
    QStringList outputs, gridLogs;
    try {
        bool help = false;
        o = parseOptions(arguments, &help);
        if (help) {
            std::fputs(qPrintable(helpText()), stdout);
            return 0;
        }
        planOutputs(o, &outputs, &gridLogs);
    } catch (const UsageError &e) {
        say(e.message);
        return 2;
    }
    // A dataset that fails leaves the others to be done; the worst failure is the status.
    int status = 0;
    for (int i = 0; i < o.datasets.size(); ++i)
        status = std::max(status, runDataset(o, i, outputs.value(i), gridLogs.value(i)));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // No display needed: without a chosen platform, render offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Known before the application starts, so that its own start-up trace is kept or shown.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--verbose") == 0)
            console::setVerbose(true);
    console::install();
    QGuiApplication app(argc, argv);
    const int status = run(app.arguments());
    // Every output is in place and closed by now; what is left is handing back memory the
    // system reclaims anyway (a large field's blocks, Qt's start-up state), which costs more
    // than the rest of a small run.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
