// tessaly-gen: writes the sample datasets, or one dataset of a chosen flow and size.
// Exit status 0 written (and --help), 2 usage, 1 a dataset could not be written.

#include "tools/Flows.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

// The kinds with their default sizes, for --help.
QString kindList()
{
    QStringList kinds;
    for (const QString &kind : flows::kinds()) {
        const flows::Size s = flows::defaultSize(kind);
        kinds << QStringLiteral("%1 (%2 x %3)").arg(kind).arg(s.x).arg(s.y);
    }
    return kinds.join(QStringLiteral(", "));
}

int usage(const QCommandLineParser &parser, const QString &message)
{
    Q_UNUSED(parser);
    std::fprintf(stderr, "tessaly-gen: %s (see --help)\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes every sample dataset into DIR (--samples), or one dataset "
                                                    "of the flow KIND at FILE.gri, WxH points (default: the kind's "
                                                    "own size; 1 <= W, H <= 20000)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption samples(QStringLiteral("samples"), QStringLiteral("write every sample dataset into DIR"),
                                     QStringLiteral("DIR"));
    parser.addOption(samples);
    parser.addPositionalArgument(QStringLiteral("KIND"), QStringLiteral("the flow: ") + kindList());
    parser.addPositionalArgument(QStringLiteral("FILE.gri"), QStringLiteral("the grid file to write (its data file beside it)"));
    parser.addPositionalArgument(QStringLiteral("[WxH]"), QStringLiteral("points along x and y"));
    if (!parser.parse(app.arguments()))
        return usage(parser, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    const QStringList args = parser.positionalArguments();

    if (parser.isSet(samples)) {
        if (!args.isEmpty())
            return usage(parser, QStringLiteral("--samples takes no KIND or FILE"));
        const QDir dir(parser.value(samples));
        if (!QDir().mkpath(dir.path())) {
            std::fprintf(stderr, "tessaly-gen: cannot create %s\n", qPrintable(dir.path()));
            return 1;
        }
        for (const QString &kind : flows::kinds()) {
            const QString file = dir.filePath(kind + QLatin1String(".gri"));
            if (!flows::write(kind, file))
                return 1;
            std::printf("wrote %s\n", qPrintable(file));
        }
        return 0;
    }
    if (args.size() < 2 || args.size() > 3)
        return usage(parser, QStringLiteral("needs KIND and FILE.gri, and at most a size"));
    if (!flows::kinds().contains(args[0]))
        return usage(parser, QStringLiteral("unknown kind '%1'; the kinds are %2").arg(args[0], flows::kinds().join(QStringLiteral(", "))));
    flows::Size size;
    if (args.size() == 3) {
        const QStringList wh = args[2].split(QLatin1Char('x'));
        bool okX = false, okY = false;
        if (wh.size() == 2) {
            size.x = wh[0].toInt(&okX);
            size.y = wh[1].toInt(&okY);
        }
        if (!okX || !okY || size.x < 1 || size.y < 1 || size.x > 20000 || size.y > 20000) {
            std::fprintf(stderr, "tessaly-gen: size must be WxH with 1 <= W, H <= 20000\n");
            return 2;
        }
    }
    return flows::write(args[0], args[1], size) ? 0 : 1;
}
