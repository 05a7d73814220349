// tessaly-render run as a process, its files compared with what the real widgets show after
// the same clicks: arrow plot, colour bar, both streamline modes; the data files, batch
// names, probe reports and every kind of failure.

#include "arrowplot/ui/ArrowPlot.h"
#include "arrowplot/ui/ArrowPlotDialog.h"
#include "arrowplot/ui/ColorBar.h"
#include "tools/Flows.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"
#include "streamlines/ui/streamlines.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRadioButton>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTextEdit>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

testsupport::ToolRun render(const QStringList &args, const QString &cwd = QString()) { return testsupport::runTool(TESSALY_RENDER, args, cwd); }

// Done, and silent: the console trace stays off stderr without --verbose.
bool rendered(const QStringList &args)
{
    const auto r = render(args);
    return r.status == 0 && r.err.isEmpty();
}

// The same, with the size of any file the tool writes held to `limit` bytes: a write beyond
// it fails with EFBIG ("File too large"), as on a full disk, instead of a signal.
testsupport::ToolRun renderLimited(const QStringList &args, qint64 limit)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([limit] {
        const rlimit r{rlim_t(limit), rlim_t(limit)};
        ::setrlimit(RLIMIT_FSIZE, &r);
        std::signal(SIGXFSZ, SIG_IGN);
    });
    p.start(TESSALY_RENDER, args);
    const bool done = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    return {done ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// A folder's entries: each one's kind and, for a regular file, its bytes. Pipes and devices
// are never opened.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo &f : QDir(dir).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QByteArray what = "special";
        if (f.isSymLink())
            what = "link to " + f.symLinkTarget().toUtf8();
        else if (f.isDir())
            what = "folder";
        else if (f.isFile())
            what = "file " + testsupport::readFile(f.filePath());
        entries.insert(f.fileName(), what);
    }
    return entries;
}

// An SVG file rasterised on black at `size` (black only, when it does not parse).
QImage svgRaster(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QSvgRenderer(path).render(&painter);
    return image;
}

// Lit pixels of `drawn` farther than 2 pixels from every lit pixel of `picture`, per mille of
// the picture's lit pixels (1000 when nothing is lit).
int strayPerMille(const QImage &picture, const QImage &drawn)
{
    QImage near(picture.size(), QImage::Format_RGB32);
    near.fill(Qt::black);
    QPainter painter(&near);
    painter.setCompositionMode(QPainter::CompositionMode_Lighten);
    for (int d = 0; d < 25; ++d)
        painter.drawImage(d % 5 - 2, d / 5 - 2, picture);
    painter.end();
    int strays = 0, lit = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            lit += qGray(picture.pixel(x, y)) > 0;
            strays += qGray(drawn.pixel(x, y)) > 64 && qGray(near.pixel(x, y)) == 0;
        }
    return lit > 0 ? strays * 1000 / lit : 1000;
}

} // namespace

class RenderTest : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString mChannel = path("channel.gri"), mVortices = path("vortices.gri"), mTiny = path("tiny.gri");
    testsupport::ConsoleCapture mQuiet; // the widgets' console trace
    QString path(const QString &name) const { return mDir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(flows::write("channel", mChannel) && flows::write("vortices", mVortices, {160, 120})
                && flows::write("uniform", mTiny, {20, 20}));
    }
    void cleanup() { testsupport::setVolumes(nullptr, nullptr); }

    // One row per option family: zoom and pan with pressure and the colour bar; the
    // intensity, black arrows and --fit (the channel's own size is the view's).
    void arrowsMatchTheDialog_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QPoint>("pan");
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("zoom 4, pan, pressure, colour bar") << 4 << QPoint(7, -5) << QStringList{"--pressure", "--colorbar"};
        QTest::newRow("zoom 9, intensity, black over pressure, fit")
            << 9 << QPoint(-30, 12) << QStringList{"--pressure", "--intensity", "--black", "--fit"};
    }
    void arrowsMatchTheDialog()
    {
        QFETCH(int, zoom);
        QFETCH(QPoint, pan);
        QFETCH(QStringList, flags);
        const QString png = path("arrows.png"), svg = path("arrows.svg");
        const QStringList args = QStringList{mChannel, "--view", "arrows", "--zoom", QString::number(zoom), "--pan",
                                             QStringLiteral("%1,%2").arg(pan.x()).arg(pan.y())} + flags;
        QVERIFY(rendered(args + QStringList{"-o", png}) && rendered(args + QStringList{"-o", svg}));

        testsupport::loadLikeTheDock(mChannel);
        ArrowPlotDialog dialog;
        dialog.show();
        dialog.refreshPlot();
        ArrowPlot *plot = dialog.plot();
        for (int i = 1; i < zoom; ++i)
            QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        // Dragging the mouse one way moves the view the other.
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseMove(plot, QPoint(100, 100) - pan);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100) - pan);
        for (const auto &[flag, button] : {std::pair<QString, QAbstractButton *>("--pressure", dialog.pressureCheck()),
                                           {"--intensity", dialog.intensityCheck()}, {"--black", dialog.blackRadio()}})
            if (flags.contains(flag))
                button->click();

        const QImage picture(png);
        const QRect shown(QPoint(), plot->image().size());
        QCOMPARE(testsupport::differing(picture.copy(shown), plot->image()), 0);
        // The SVG, rasterised, is the same picture (the background an image, the arrows lines)
        // but for a few edge pixels; uint: a size mismatch (-1) fails.
        QVERIFY(uint(testsupport::differing(svgRaster(svg, picture.size()).copy(shown), picture.copy(shown))) < 10);
        if (flags.contains("--colorbar")) {
            // The legend 10 pixels right of the picture, on white, as the widget paints it.
            QVERIFY(picture.width() >= 314 + 10 + 180 && picture.height() == 538);
            QImage legend(180, 70, QImage::Format_RGB32);
            legend.fill(Qt::white);
            dialog.colorBar()->render(&legend, QPoint(), QRegion(), QWidget::DrawChildren);
            QCOMPARE(testsupport::differing(picture.copy(324, 0, 180, 70), legend), 0);
            QCOMPARE(picture.pixel(318, 300), qRgb(255, 255, 255));
        }
    }


    // One row per mode; between them both methods, antialiasing, north up, a view rectangle
    // and every length parameter.
    void streamlinesMatchTheView_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("regular rk antialiased, zoomed, north up")
            << QStringList{"--view", "streamlines", "--method", "rk", "--antialias", "--dt", "0.8", "--max-length", "90",
                           "--view-rect", "20,15,140,100", "--north-up"};
        QTest::newRow("evenly euler, shifted view") << QStringList{"--view", "evenly", "--dsep", "9", "--dtest", "0.6",
                                                                  "--view-rect", "-10,-5,150,110"};
    }
    void streamlinesMatchTheView()
    {
        QFETCH(QStringList, args);
        const auto arg = [&](const char *name, const QString &fallback) {
            const int i = args.indexOf(QLatin1String(name));
            return i < 0 ? fallback : args[i + 1];
        };
        const bool evenly = arg("--view", "") == "evenly";
        const QString png = path("l.png"), svg = path("l.svg"), csv = path("l.csv"), vtk = path("l.vtk"), log = path("g.log");
        const QStringList base = QStringList{mVortices} + args + (evenly ? QStringList{"--grid-log", log} : QStringList());
        for (const QString &out : {png, svg, csv, vtk})
            QVERIFY(rendered(base + QStringList{"-o", out}));

        testsupport::loadLikeTheDock(mVortices);
        streamlines view;
        view.mIntegrationMethod = arg("--method", "euler") == "rk" ? 1 : 0;
        view.mDt = arg("--dt", "1.55").toDouble();
        view.mMaxLength = arg("--max-length", "200").toInt();
        view.mAntialiased = args.contains("--antialias");
        view.mDSep = arg("--dsep", "30").toFloat();
        view.mDTest = arg("--dtest", "0.5").toFloat();
        const QStringList rect = arg("--view-rect", "0,0,160,120").split(',');
        view.setViewRect({rect[0].toInt(), rect[1].toInt(), rect[2].toInt(), rect[3].toInt()});
        if (evenly)
            view.computeSeedPoints(true); // writes grid.log into the working directory
        view.drawStreamLines();
        const QImage picture(png); // flipped with --north-up; the data keep their coordinates
        QCOMPARE(testsupport::differing(picture.mirrored(false, args.contains("--north-up")), view.getImage()), 0);
        // The SVG, rasterised, differs only along the lines' edges, both ways; the view's aliased
        // stroker leaves out the last pixel or two of a line, which the vector path draws: a few strays.
        const QImage vector = svgRaster(svg, picture.size());
        QVERIFY(strayPerMille(picture, vector) < 5 && strayPerMille(vector, picture) < 5);

        // Data: every drawn line once, in order, without a point equal to the one before it
        // and without the lines that leaves with one point; --verbose counts what went.
        QVector<Streamline> drawn;
        for (const Streamline &line : std::as_const(view.mEvenLines))
            if (drawn.isEmpty() || drawn.last() != line)
                drawn.append(line);
        for (const Vector3 &seed : evenly ? QVector<Vector3>() : view.mSeedPoints)
            drawn += traceFixedLength(seed, view.mDt, view.mIntegrationMethod, view.mMaxLength, *gridVolume);
        QVector<Vector3> points;
        qint64 repeats = 0, single = 0;
        for (const Streamline &line : std::as_const(drawn)) {
            QVector<Vector3> kept;
            for (const Vector3 &p : line)
                if (kept.isEmpty() || p.x != kept.last().x || p.y != kept.last().y)
                    kept.append(p);
            repeats += line.size() - kept.size();
            if (kept.size() == 1 && line.size() > 1)
                ++single;
            else
                points += kept;
        }
        QVERIFY(repeats > 100); // both rows stall at the field's far edges
        if (evenly)
            QCOMPARE(testsupport::readFile(log), testsupport::readGridLog());
        const auto verbose = render(base + QStringList{"--verbose", "-o", csv});
        QVERIFY2(verbose.status == 0 && verbose.err.contains(QStringLiteral("left out %1 repeated points and %2 lines of one point").arg(repeats).arg(single)),
                 qPrintable(verbose.err.right(300)));
        QStringList rows = QString::fromLatin1(testsupport::readFile(csv)).split('\n', Qt::SkipEmptyParts);
        rows.removeFirst(); // header
        QCOMPARE(rows.size(), points.size());
        for (int i = 0; i < rows.size(); i += 37)
            QCOMPARE(QPointF(rows[i].section(',', 2, 2).toDouble(), rows[i].section(',', 3, 3).toDouble()),
                     QPointF(points[i].x, points[i].y));
        const int lines = rows.last().section(',', 0, 0).toInt() + 1; // numbered from 0 in order
        const QString text = QString::fromLatin1(testsupport::readFile(vtk));
        QVERIFY(text.contains(QStringLiteral("\nPOINTS %1 double\n").arg(points.size())));
        QVERIFY(text.contains(QStringLiteral("\nLINES %1 %2\n").arg(lines).arg(points.size() + lines)));
    }

    void probeReportsAsTheDialog()
    {
        testsupport::loadLikeTheDock(mChannel);
        VolInfo dialog;
        for (auto [spin, value] : {std::pair(dialog.xSpin(), 3), {dialog.xFracSpin(), 25}, {dialog.ySpin(), 17}, {dialog.yFracSpin(), 7}})
            spin->setValue(value);
        const auto text = render({mChannel, "--probe", "3.25,17.07"});
        const auto json = render({mChannel, "--probe", "3.25,17.07", "--json"});
        QCOMPARE(text.status + json.status, 0);
        QCOMPARE(text.out, dialog.output()->toPlainText() + "\n");
        const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
        const DataPoint p = loadedVolume->getValue(3.25f, 17.07f, 0.0);
        QCOMPARE(o["mDir"].toArray()[1].toDouble(), p.mDir.y);
        QCOMPARE(o["values"].toArray().size(), p.mValues.size());
        QCOMPARE(o["values"].toArray()[0].toDouble(), double(p.mValues[0]));
    }

    // Batch names from %n and %v; --fit takes the grid's size; --help answers alone on stdout.
    void batchFitAndHelp()
    {
        QTemporaryDir cwd; // stays empty: no "grid.log" in the working directory
        const QStringList args{mChannel, mVortices, "--view", "evenly", "--grid-log", path("%n.log"), "-o", path("%n-%v.png")};
        QCOMPARE(render(args, cwd.path()).status, 0);
        for (const char *f : {"channel-evenly.png", "vortices-evenly.png", "channel.log", "vortices.log"})
            QVERIFY2(QFile::exists(path(f)), f);
        QVERIFY(QDir(cwd.path()).isEmpty());
        QVERIFY(rendered({mVortices, "--view", "arrows", "--fit", "-o", path("fit.png")}));
        QCOMPARE(QImage(path("fit.png")).size(), QSize(160, 120));
        const auto r = render({"--help"});
        QVERIFY(r.status == 0 && r.out.startsWith("usage: tessaly-render") && r.err.isEmpty());
    }

    // Every deflate level, below and above the size from which the fast encoder is the
    // default, on RGB (arrows, pressure) and RGBA (streamlines) pictures and a figure: the
    // same pixels and format as the default (Qt's own writer on the small view), read back by Qt.
    void pngLevelsKeepThePixels_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("arrows, view size") << QStringList{"CHANNEL", "--view", "arrows", "--pressure"};
        QTest::newRow("arrows, fit 600 x 500") << QStringList{"BIG", "--view", "arrows", "--fit", "--pressure"};
        QTest::newRow("evenly 600 x 500") << QStringList{"BIG", "--view", "evenly", "--dsep", "4"};
        QTest::newRow("evenly antialiased") << QStringList{"VORTICES", "--view", "evenly", "--antialias"};
        QTest::newRow("figure") << QStringList{"VORTICES", "--view", "evenly", "--scale", "2", "--color-by", "speed"};
    }
    void pngLevelsKeepThePixels()
    {
        QFETCH(QStringList, args);
        const QString big = path("big.gri");
        if (!QFile::exists(big))
            QVERIFY(flows::write("vortices", big, {600, 500}));
        for (QString &a : args)
            a.replace("CHANNEL", mChannel).replace("VORTICES", mVortices).replace("BIG", big);
        QTemporaryDir dir;
        QVERIFY(rendered(args + QStringList{"-o", dir.filePath("qt.png")}));
        const QImage reference(dir.filePath("qt.png"));
        QVERIFY(!reference.isNull());
        for (const char *level : {"0", "1", "2", "6", "9"}) {
            const QString out = dir.filePath(QStringLiteral("l%1.png").arg(QLatin1String(level)));
            QVERIFY2(rendered(args + QStringList{"--png-level", level, "-o", out}), level);
            const QImage image(out);
            QVERIFY2(image.format() == reference.format() && image == reference, level);
        }
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString c = "CHANNEL", out = "OUT/x.png";
        const auto row = [](const char *name, const QStringList &args, int status, const QString &message) {
            QTest::newRow(name) << args << status << message;
        };
        row("unknown option", {c, "--view", "arrows", "--bogus", "-o", out}, 2, "bogus");
        row("-pf is one long option", {c, "--view", "arrows", "-pf", "-o", out}, 2, "Unknown option 'pf'");
        row("value given twice", {c, "--view", "arrows", "--zoom", "2", "--zoom", "3", "-o", out}, 2, "--zoom given more than once");
        row("zoom 16", {c, "--view", "arrows", "--zoom", "16", "-o", out}, 2, "--zoom");
        // Zoom steps of 1 x 1 cell leave a 20 x 20 picture 2 cells at level 10, none at 11.
        row("zoom 11 of 20 x 20", {"TINY", "--view", "arrows", "--fit", "--zoom", "11", "-o", out}, 2, "largest zoom 10");
        row("dt 0", {c, "--view", "streamlines", "--dt", "0", "-o", out}, 2, "--dt");
        row("dsep 101", {c, "--view", "evenly", "--dsep", "101", "-o", out}, 2, "--dsep");
        row("max-seeds 0", {c, "--view", "evenly", "--max-seeds", "0", "-o", out}, 2, "--max-seeds 0: expected a whole number from 1 to 1000000");
        row("max-seeds 1000001", {c, "--view", "evenly", "--max-seeds", "1000001", "-o", out}, 2, "--max-seeds");
        row("max-steps -5", {c, "--view", "evenly", "--max-steps", "-5", "-o", out}, 2, "--max-steps -5");
        row("max-steps 1e3", {c, "--view", "evenly", "--max-steps", "1e3", "-o", out}, 2, "to 100000");
        row("max-steps 2^32", {c, "--view", "evenly", "--max-steps", "4294967297", "-o", out}, 2, "--max-steps");
        row("max-seeds, regular", {c, "--view", "streamlines", "--max-seeds", "9", "-o", out}, 2, "applies to");
        row("inverted rect", {c, "--view", "streamlines", "--view-rect", "9,0,3,5", "-o", out}, 2, "X1 < X2");
        row("zoom with lines", {c, "--view", "evenly", "--zoom", "2", "-o", out}, 2, "applies to");
        row("csv of arrows", {c, "--view", "arrows", "-o", "OUT/x.csv"}, 2, ".csv");
        row("bad extension", {c, "--view", "arrows", "-o", "OUT/x.jpg"}, 2, "extension");
        row("png-level 10", {c, "--view", "arrows", "--png-level", "10", "-o", out}, 2, "--png-level 10: expected a whole number from 0 to 9");
        row("png-level -1", {c, "--view", "arrows", "--png-level", "-1", "-o", out}, 2, "--png-level -1");
        row("png-level without a picture", {c, "--probe", "1,1", "--png-level", "3"}, 2, "--png-level applies to the views only");
        row("png-level of svg", {c, "--view", "arrows", "--png-level", "1", "-o", "OUT/x.svg"}, 2, ".png pictures only");
        row("batch without %n", {c, c, "--view", "arrows", "-o", out}, 2, "%n");
        row("missing dataset", {"OUT/none.gri", "--view", "arrows", "-o", out}, 1,
            "cannot load OUT/none.gri: Not loaded: cannot open the grid file");
        row("not a dataset", {"OUT/text.gri", "--view", "arrows", "-o", out}, 1, "Not a dataset");
        row("no such folder", {c, "--view", "arrows", "-o", "OUT/no/x.png"}, 1, "cannot write");
        row("grid log not written", {c, "--view", "evenly", "--grid-log", "OUT/no/g.log", "-o", out}, 1, "no/g.log");
        row("output is a folder", {c, "--view", "arrows", "-o", "OUT/dir.png"}, 2, "-o OUT/dir.png: not a regular file (a folder)");
        row("batch, one bad", {c, "OUT/text.gri", "--view", "arrows", "-o", "OUT/%n.png"}, 1, "text.gri");
    }
    // The right status and one line on stderr; no output and nothing half-written stays
    // behind: only what the test made (and the good item of a batch).
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString root = dir.path();
        QDir(root).mkdir("dir.png");
        testsupport::writeFile(root + "/text.gri", "hello, not a dataset\n");
        QFile::copy(mChannel.chopped(4) + ".00000.dat", root + "/text.00000.dat");
        for (QString &a : args)
            a.replace("CHANNEL", mChannel).replace("TINY", mTiny).replace("OUT", root);
        const auto r = render(args);
        QTEST(r.status, "status");
        QVERIFY2(r.err.contains(message.replace("OUT", root)) && r.err.count('\n') == 1, qPrintable(r.err));
        QStringList left = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeAll("channel.png");
        QCOMPARE(left, (QStringList{"dir.png", "text.00000.dat", "text.gri"}));
    }

    // Nothing an input, nothing of another output, nothing that is not a regular file is
    // ever replaced; a dataset's outputs appear together or not at all; positions outside a
    // dataset, empty output names, huge view rectangles and datasets that cannot be shown are
    // refused; a failed write says which file and why. One line on stderr, the status, and
    // the folder as it was but for the files written.
    void refusedAndKept_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<qint64>("fileLimit"); // bytes a written file may hold; 0: no limit
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("changed"); // what may differ from before: written files
        const QString a = "OUT/a.gri";
        const auto row = [](const char *name, const QStringList &args, int status, const QString &message,
                            const QStringList &changed = {}, qint64 limit = 0) {
            QTest::newRow(name) << args << limit << status << message << changed;
        };
        // Inputs and other outputs, seen through patterns, ".." and symlinks.
        row("grid log over both inputs", {a, "OUT/b.gri", "--view", "evenly", "-o", "OUT/%n.png", "--grid-log", "OUT/%n.gri"}, 2,
            "--grid-log OUT/a.gri: the file is an input of this run (OUT/a.gri)");
        row("grid log over a data file via ..", {a, "--view", "evenly", "-o", "OUT/x.png", "--grid-log", "OUT/sub/../a.00000.dat"}, 2,
            "--grid-log OUT/sub/../a.00000.dat: the file is an input of this run (OUT/a.00000.dat)");
        row("picture over an input via a link", {a, "--view", "arrows", "-o", "OUT/link.png"}, 2,
            "-o OUT/link.png: the file is an input of this run (OUT/a.gri)");
        row("grid log is the picture", {a, "--view", "evenly", "-o", "OUT/x.png", "--grid-log", "OUT/x.png"}, 2,
            "--grid-log OUT/x.png: the same file as -o OUT/x.png");
        row("grid log is a pipe", {a, "--view", "evenly", "-o", "OUT/x.png", "--grid-log", "OUT/g.fifo"}, 2,
            "--grid-log OUT/g.fifo: not a regular file (a device, pipe or socket)");
        // All of a dataset's outputs or none.
        row("failed grid log keeps the earlier picture", {a, "--view", "evenly", "-o", "OUT/e.png", "--grid-log", "OUT/no/g.log"}, 1,
            "cannot write OUT/no/g.log: No such file or directory");
        row("full disk keeps the earlier picture", {"CHANNEL", "--view", "evenly", "-o", "OUT/e.png"}, 1,
            "cannot write OUT/e.png: File too large", {}, 4096);
        row("full disk, data and grid log", {a, "--view", "evenly", "-o", "OUT/x.csv", "--grid-log", "OUT/g.log"}, 1,
            "cannot write OUT/x.csv: File too large", {}, 600);
        // Probes within 0 ... X - 1, 0 ... Y - 1 only.
        row("probe past the last column", {a, "--probe", "20,5"}, 2,
            "--probe 20,5: outside OUT/a.gri, whose positions run from 0 to 19 along x and 0 to 19 along y");
        row("probe between the last rows", {a, "--probe", "3,19.5"}, 2, "--probe 3,19.5: outside OUT/a.gri");
        // Options that crashed or overflowed.
        row("-o ''", {a, "--view", "arrows", "-o", ""}, 2, "-o needs a file name");
        row("--output=", {a, "--view", "arrows", "--output="}, 2, "-o needs a file name");
        row("view rect of 2^31", {a, "--view", "streamlines", "--view-rect", "-1073741824,-1073741824,1073741824,1073741824", "-o", "OUT/x.png"},
            2, "each within +-536870912");
        // Datasets the views cannot show; the batch's good dataset is still done.
        row("all points at one place", {"OUT/flat.gri", a, "--view", "arrows", "-o", "OUT/%n.png"}, 1,
            "cannot load OUT/flat.gri: Not loaded: the extent is empty: all 400 points lie at (3, 4)", {"a.png"});
        row("one row", {"OUT/row.gri", "--view", "evenly", "-o", "OUT/x.csv"}, 1,
            "cannot load OUT/row.gri: Not loaded: the dataset is 20 x 1 points: at least 2 along x and 2 along y are needed");
        row("no finite position", {"OUT/nan.gri", "--view", "streamlines", "-o", "OUT/x.vtk"}, 1,
            "Not loaded: the extent is empty: all 30 positions are NaN or infinite");
        row("an infinite corner", {"OUT/inf.gri", "--probe", "1,1"}, 1,
            "Not loaded: the extent is infinite: 1 of 400 positions are infinite");
        row("a flat extent", {"OUT/line.gri", "--view", "arrows", "-o", "OUT/x.svg"}, 1,
            "Not loaded: the extent has no width: it runs from (3, 0) to (3, 19)");
        row("positions beyond 1e8", {"OUT/far.gri", "--view", "streamlines", "-o", "OUT/x.png"}, 1,
            "Not loaded: the extent is not set: every position lies beyond +-99999999 in x or y");
    }
    void refusedAndKept()
    {
        QFETCH(QStringList, args);
        QFETCH(qint64, fileLimit);
        QFETCH(QString, message);
        QFETCH(QStringList, changed);
        QTemporaryDir dir;
        const QString root = dir.path();
        for (const char *name : {"a", "b"})
            for (const char *suffix : {".gri", ".00000.dat"})
                QVERIFY(QFile::copy(mTiny.chopped(4) + suffix, root + "/" + name + suffix));
        testsupport::writeFile(root + "/e.png", "an earlier picture\n");
        QVERIFY(QDir(root).mkdir("sub") && QFile::link("a.gri", root + "/link.png"));
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/g.fifo").constData(), 0644), 0);
        // 20 x 20 points at (3, 4); 20 x 1; 6 x 5 at NaN; 20 x 20 whose last point is at
        // infinity; 20 x 20 on the line x = 3; 20 x 20 right of x = 2e8.
        const auto dataset = [&](const char *name, int w, int h, const std::function<void(int, int, float *)> &place) {
            QVERIFY(dataset::write(root + "/" + name, w, h, 1, 1, [&](int x, int y, int, float p[3], float d[3], float *) {
                place(x, y, p);
                d[0] = 1.0f;
            }));
        };
        dataset("flat.gri", 20, 20, [](int, int, float *p) { p[0] = 3.0f, p[1] = 4.0f; });
        dataset("row.gri", 20, 1, [](int x, int y, float *p) { p[0] = float(x), p[1] = float(y); });
        dataset("nan.gri", 6, 5, [](int, int, float *p) { p[0] = NAN, p[1] = NAN; });
        dataset("inf.gri", 20, 20, [](int x, int y, float *p) {
            p[0] = x == 19 && y == 19 ? INFINITY : float(x);
            p[1] = x == 19 && y == 19 ? INFINITY : float(y);
        });
        dataset("line.gri", 20, 20, [](int, int y, float *p) { p[0] = 3.0f, p[1] = float(y); });
        dataset("far.gri", 20, 20, [](int x, int y, float *p) { p[0] = 2e8f + 1e7f * float(x), p[1] = float(y); });
        for (QString &a : args)
            a.replace("CHANNEL", mChannel).replace("OUT", root);
        const QMap<QString, QByteArray> before = snapshot(root);

        const auto r = fileLimit > 0 ? renderLimited(args, fileLimit) : testsupport::runTool(TESSALY_RENDER, args);
        QTEST(r.status, "status");
        QVERIFY2(r.err.contains(message.replace("OUT", root)) && r.err.count('\n') == 1, qPrintable(r.err));
        const QMap<QString, QByteArray> after = snapshot(root);
        for (auto i = before.begin(); i != before.end(); ++i)
            QVERIFY2(after.value(i.key()) == i.value(), qPrintable(i.key()));
        QStringList added;
        for (const QString &name : after.keys())
            if (!before.contains(name))
                added << name;
        QCOMPARE(added, changed);
    }
};

QTEST_MAIN(RenderTest)
#include "tst_render.moc"
