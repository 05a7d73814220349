#pragma once

// What one tessaly-render run is asked to do, read from its command line (the options are
// declared in OptionTable.h), and the output names of its datasets.

#include "tools/render/Figure.h"
#include "tools/render/OptionTable.h"
#include "tools/render/Output.h"
#include "tools/render/Pipeline.h"

#include <QString>
#include <QStringList>

namespace rendertool {

// A command line the run cannot take: the message goes to stderr, the exit status is 2.
struct UsageError
{
    QString message;
};

struct Options
{
    QStringList datasets;
    View view = View::None;
    QString output;        // pattern
    QString format;        // png, svg, pdf, csv, vtk
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

// The options of `arguments` (the program's name first). Sets `help` and returns at once
// when --help is given. Throws UsageError.
Options parseOptions(const QStringList &arguments, bool *help);

// The output name for one dataset: %n its name without .gri, %v the view, %% a percent sign.
// Throws UsageError for any other character after %.
QString expand(const QString &pattern, const QString &dataset, View view);

// The names `pattern` gives every dataset, checked to be distinct before any work starts;
// `what` is the option ("-o", "--grid-log") for the message. Throws UsageError.
QStringList outputNames(const Options &o, const QString &pattern, const char *what);

} // namespace rendertool
