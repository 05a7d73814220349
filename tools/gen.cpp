// tessaly-gen: writes the sample datasets, or one dataset of a chosen flow and size.

#include "Flows.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: tessaly-gen --samples DIR          write every sample dataset into DIR\n"
                 "       tessaly-gen KIND FILE.gri [WxH]    write one dataset (KIND: %s)\n",
                 qPrintable(flows::kinds().join(QLatin1String(", "))));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--samples")) {
        const QDir dir(args[1]);
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
    if (args.size() < 2 || args.size() > 3 || !flows::kinds().contains(args[0]))
        return usage();
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
