// tessaly-render run as a process, its files compared with what the real widgets show after
// the same clicks: arrow plot, colour bar, both streamline modes; the data files, batch
// names, probe reports and every kind of failure.

#include "ArrowPlot.h"
#include "ArrowPlotDialog.h"
#include "ColorBar.h"
#include "Flows.h"
#include "TestSupport.h"
#include "VolInfo.h"
#include "streamlines.h"

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

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

Run render(const QStringList &args, const QString &cwd = QString())
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the tool must choose offscreen itself
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TESSALY_RENDER), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QImage rgb(const QImage &i) { return i.convertToFormat(QImage::Format_RGB32); }

// Pixels that differ, as a count (0: identical images of the same size).
int differing(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    const QImage x = rgb(a), y = rgb(b);
    int n = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i)
            n += x.pixel(i, j) != y.pixel(i, j);
    return n;
}

QStringList csvRows(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QStringList rows = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    rows.removeFirst(); // header
    return rows;
}

} // namespace

class RenderTest : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString mChannel, mVortices, mTiny;
    std::unique_ptr<testsupport::ConsoleCapture> mQuiet; // the widgets' console trace
    QString path(const QString &name) const { return mDir.filePath(name); }

private slots:
    void initTestCase()
    {
        mQuiet = std::make_unique<testsupport::ConsoleCapture>();
        mChannel = path(QStringLiteral("channel.gri"));
        mVortices = path(QStringLiteral("vortices.gri"));
        QVERIFY(flows::write(QStringLiteral("channel"), mChannel));
        QVERIFY(flows::write(QStringLiteral("vortices"), mVortices, {160, 120}));
        mTiny = path(QStringLiteral("tiny.gri"));
        QVERIFY(flows::write(QStringLiteral("uniform"), mTiny, {20, 20}));
    }
    void cleanup() { testsupport::setVolumes(nullptr, nullptr); }

    void arrowsMatchTheDialog_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QPoint>("pan");
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("default") << 1 << QPoint() << QStringList();
        QTest::newRow("zoom 4, pan, pressure, colour bar")
            << 4 << QPoint(7, -5) << QStringList{"--pressure", "--colorbar"};
        QTest::newRow("zoom 9, intensity, black over pressure")
            << 9 << QPoint(-30, 12) << QStringList{"--pressure", "--intensity", "--black"};
    }
    void arrowsMatchTheDialog()
    {
        QFETCH(int, zoom);
        QFETCH(QPoint, pan);
        QFETCH(QStringList, flags);
        const QString out = path(QStringLiteral("arrows.png"));
        const Run r = render(QStringList{mChannel, "--view", "arrows", "--zoom", QString::number(zoom), "--pan",
                                         QStringLiteral("%1,%2").arg(pan.x()).arg(pan.y()), "-o", out}
                             + flags);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString()); // no console trace without --verbose

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
        if (flags.contains("--pressure"))
            dialog.pressureCheck()->click();
        if (flags.contains("--intensity"))
            dialog.intensityCheck()->click();
        if (flags.contains("--black"))
            dialog.blackRadio()->click();

        const QImage picture(out);
        const QImage shown = plot->image();
        QCOMPARE(differing(picture.copy(QRect(QPoint(), shown.size())), shown), 0);
        if (flags.contains("--colorbar")) {
            // The legend 10 pixels right of the picture, on white, as the widget paints it.
            QVERIFY(picture.width() >= 314 + 10 + 180 && picture.height() == 538);
            QImage legend(180, 70, QImage::Format_RGB32);
            legend.fill(Qt::white);
            dialog.colorBar()->render(&legend, QPoint(), QRegion(), QWidget::DrawChildren);
            QCOMPARE(differing(picture.copy(324, 0, 180, 70), legend), 0);
            QCOMPARE(picture.copy(314, 0, 10, 538), rgb(picture.copy(314, 0, 10, 538)).copy());
            QCOMPARE(picture.pixel(318, 300), qRgb(255, 255, 255));
        }
    }

    void fitAndNorthUp()
    {
        const QString plain = path("plain.png"), fit = path("fit.png"), small = path("small.png"), up = path("up.png");
        QCOMPARE(render({mChannel, "--view", "arrows", "--pressure", "-o", plain}).status, 0);
        QCOMPARE(render({mChannel, "--view", "arrows", "--pressure", "--fit", "-o", fit}).status, 0);
        QCOMPARE(render({mChannel, "--view", "arrows", "--pressure", "--north-up", "-o", up}).status, 0);
        // The channel is 314 x 538: its own size is the view's.
        QCOMPARE(differing(QImage(plain), QImage(fit)), 0);
        QCOMPARE(differing(QImage(plain).mirrored(false, true), QImage(up)), 0);
        // Data keep their coordinates.
        const QString csv = path("plain.csv"), upCsv = path("up.csv");
        QCOMPARE(render({mVortices, "--view", "streamlines", "-o", csv}).status, 0);
        QCOMPARE(render({mVortices, "--view", "streamlines", "--north-up", "-o", upCsv}).status, 0);
        QCOMPARE(csvRows(upCsv), csvRows(csv));
        QCOMPARE(render({mVortices, "--view", "arrows", "--fit", "-o", small}).status, 0);
        QCOMPARE(QImage(small).size(), QSize(160, 120));
        // Zoom steps of 1 x 1 cell leave a 20 x 20 picture 2 cells at level 10, none at 11.
        QCOMPARE(render({mTiny, "--view", "arrows", "--fit", "--zoom", "10", "-o", small}).status, 0);
        const Run r = render({mTiny, "--view", "arrows", "--fit", "--zoom", "11", "-o", path("none.png")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("largest zoom 10") && !QFile::exists(path("none.png")));
    }

    void streamlinesMatchTheView_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("regular euler") << QStringList{"--view", "streamlines"};
        QTest::newRow("regular rk antialiased, zoomed")
            << QStringList{"--view", "streamlines", "--method", "rk", "--antialias", "--dt", "0.8", "--max-length", "90",
                           "--view-rect", "20,15,140,100"};
        QTest::newRow("evenly euler") << QStringList{"--view", "evenly", "--dsep", "12"};
        QTest::newRow("evenly rk antialiased")
            << QStringList{"--view", "evenly", "--method", "rk", "--antialias", "--dsep", "9", "--dtest", "0.6",
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
        const QString png = path("lines.png"), csv = path("lines.csv"), vtk = path("lines.vtk"), log = path("g.log");
        QStringList base = QStringList{mVortices} + args;
        if (evenly)
            base << "--grid-log" << log;
        for (const QString &out : {png, csv, vtk})
            QCOMPARE(render(base + QStringList{"-o", out}).status, 0);

        testsupport::loadLikeTheDock(mVortices);
        streamlines view;
        view.mIntegrationMethod = arg("--method", "euler") == "rk" ? 1 : 0;
        view.mDt = arg("--dt", "1.55").toDouble();
        view.mMaxLength = arg("--max-length", "200").toInt();
        view.mAntialiased = args.contains("--antialias");
        view.mDSep = arg("--dsep", "30").toFloat();
        view.mDTest = arg("--dtest", "0.5").toFloat();
        const QStringList rect = arg("--view-rect", "0,0,160,120").split(',');
        view.mViewX1 = rect[0].toInt(), view.mViewY1 = rect[1].toInt();
        view.mViewX2 = rect[2].toInt(), view.mViewY2 = rect[3].toInt();
        if (evenly)
            view.computeSeedPoints(true); // writes grid.log into the working directory
        view.drawStreamLines();
        QCOMPARE(differing(QImage(png), view.getImage()), 0);

        // Data: every point of every drawn line, in order; the evenly spaced run's points.
        QVector<Vector3> points;
        if (evenly) {
            points = view.mSeeding.mPoints;
            QFile a(log), b(QStringLiteral("grid.log"));
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QCOMPARE(a.readAll(), b.readAll());
        } else {
            for (const Vector3 &seed : view.mSeedPoints)
                points += traceFixedLength(seed, view.mDt, view.mIntegrationMethod, view.mMaxLength, *gridVolume);
        }
        const QStringList rows = csvRows(csv);
        QCOMPARE(rows.size(), points.size());
        QSet<QString> lines;
        for (int i = 0; i < rows.size(); i += 97) {
            const QStringList f = rows[i].split(',');
            QCOMPARE(f[2].toDouble(), points[i].x);
            QCOMPARE(f[3].toDouble(), points[i].y);
        }
        for (const QString &row : rows)
            lines.insert(row.section(',', 0, 0));
        QFile v(vtk);
        QVERIFY(v.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(v.readAll());
        QVERIFY(text.startsWith("# vtk DataFile Version 3.0\n"));
        QVERIFY(text.contains(QStringLiteral("\nPOINTS %1 double\n").arg(points.size())));
        QVERIFY(text.contains(QStringLiteral("\nLINES %1 %2\n").arg(lines.size()).arg(points.size() + lines.size())));
    }

    void svgIsTheSamePicture()
    {
        const QString png = path("e.png"), svg = path("e.svg"), asvg = path("a.svg");
        const QStringList args{mVortices, "--view", "evenly", "--dsep", "8"};
        QCOMPARE(render(args + QStringList{"-o", png}).status, 0);
        QCOMPARE(render(args + QStringList{"-o", svg}).status, 0);
        QCOMPARE(render({mChannel, "--view", "arrows", "--pressure", "-o", asvg}).status, 0);
        QFile a(asvg);
        QVERIFY(a.open(QIODevice::ReadOnly));
        const QByteArray arrows = a.readAll();
        QVERIFY(arrows.contains("<path") && arrows.contains("<image") && arrows.contains("data:image/png;base64,"));
        QVERIFY(QSvgRenderer(arrows).isValid());

        // Rasterised at the same size, the lines differ only along their edges: a lit pixel
        // lies within 2 pixels of a line pixel of the PNG. The view's aliased stroker leaves
        // out the last pixel or two of a line, which the vector path draws: a few strays.
        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());
        const QImage picture = rgb(QImage(png));
        QImage drawn(picture.size(), QImage::Format_RGB32);
        drawn.fill(Qt::black);
        QPainter painter(&drawn);
        renderer.render(&painter);
        painter.end();
        const auto lit = [&](int x, int y) {
            for (int j = std::max(0, y - 2); j <= std::min(picture.height() - 1, y + 2); ++j)
                for (int i = std::max(0, x - 2); i <= std::min(picture.width() - 1, x + 2); ++i)
                    if (qGray(picture.pixel(i, j)) > 0)
                        return true;
            return false;
        };
        int strays = 0, lines = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                lines += qGray(picture.pixel(x, y)) > 0;
                strays += qGray(drawn.pixel(x, y)) > 64 && !lit(x, y);
            }
        QVERIFY(lines > 1000);
        QVERIFY2(strays * 200 < lines, qPrintable(QString::number(strays)));
    }

    void probeReportsAsTheDialog()
    {
        testsupport::loadLikeTheDock(mChannel);
        VolInfo dialog;
        dialog.xSpin()->setValue(3);
        dialog.xFracSpin()->setValue(25);
        dialog.ySpin()->setValue(17);
        dialog.yFracSpin()->setValue(7);
        const Run text = render({mChannel, "--probe", "3.25,17.07"});
        QCOMPARE(text.status, 0);
        QCOMPARE(text.out, dialog.output()->toPlainText() + "\n");
        const Run json = render({mChannel, "--probe", "3.25,17.07", "--json"});
        QCOMPARE(json.status, 0);
        const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
        const DataPoint p = loadedVolume->getValue(3.25f, 17.07f, 0.0);
        QCOMPARE(o["mDir"].toArray()[1].toDouble(), p.mDir.y);
        QCOMPARE(o["values"].toArray().size(), p.mValues.size());
        QCOMPARE(o["values"].toArray()[0].toDouble(), double(p.mValues[0]));
    }

    void batchNames()
    {
        QTemporaryDir cwd; // stays empty: no "grid.log" in the working directory
        const Run r = render({mChannel, mVortices, "--view", "evenly", "--grid-log", path("%n.log"), "-o",
                              path("%n-%v.png")},
                             cwd.path());
        QCOMPARE(r.status, 0);
        for (const char *f : {"channel-evenly.png", "vortices-evenly.png", "channel.log", "vortices.log"})
            QVERIFY2(QFile::exists(path(f)), f);
        QVERIFY(QDir(cwd.path()).isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("absent"); // must not exist afterwards
        const QString c = "CHANNEL", out = "OUT/x.png";
        QTest::newRow("unknown option") << QStringList{c, "--view", "arrows", "--bogus", "-o", out} << 2 << "bogus" << out;
        QTest::newRow("zoom 16") << QStringList{c, "--view", "arrows", "--zoom", "16", "-o", out} << 2 << "--zoom" << out;
        QTest::newRow("dt 0") << QStringList{c, "--view", "streamlines", "--dt", "0", "-o", out} << 2 << "--dt" << out;
        QTest::newRow("dsep 101") << QStringList{c, "--view", "evenly", "--dsep", "101", "-o", out} << 2 << "--dsep" << out;
        QTest::newRow("inverted rect") << QStringList{c, "--view", "streamlines", "--view-rect", "9,0,3,5", "-o", out} << 2 << "X1 < X2" << out;
        QTest::newRow("zoom with lines") << QStringList{c, "--view", "evenly", "--zoom", "2", "-o", out} << 2 << "applies to" << out;
        QTest::newRow("csv of arrows") << QStringList{c, "--view", "arrows", "-o", "OUT/x.csv"} << 2 << ".csv" << "OUT/x.csv";
        QTest::newRow("bad extension") << QStringList{c, "--view", "arrows", "-o", "OUT/x.jpg"} << 2 << "extension" << "OUT/x.jpg";
        QTest::newRow("batch without %n") << QStringList{c, c, "--view", "arrows", "-o", out} << 2 << "%n" << out;
        QTest::newRow("missing dataset")
            << QStringList{"OUT/none.gri", "--view", "arrows", "-o", out} << 1 << "cannot load OUT/none.gri: Not loaded: cannot open the grid file" << out;
        QTest::newRow("not a dataset")
            << QStringList{"OUT/text.gri", "--view", "arrows", "-o", out} << 1 << "Not a dataset" << out;
        QTest::newRow("no such folder") << QStringList{c, "--view", "arrows", "-o", "OUT/no/x.png"} << 1 << "cannot write" << "OUT/no/x.png";
        QTest::newRow("grid log not written")
            << QStringList{c, "--view", "evenly", "--grid-log", "OUT/no/g.log", "-o", out} << 1 << "no/g.log" << out;
        QTest::newRow("output is a folder") << QStringList{c, "--view", "arrows", "-o", "OUT/dir.png"} << 1 << "cannot write" << "";
        QTest::newRow("batch, one bad") << QStringList{c, "OUT/text.gri", "--view", "arrows", "-o", "OUT/%n.png"} << 1 << "text.gri" << "OUT/text.png";
    }
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, absent);
        QTemporaryDir dir;
        const QString root = dir.path();
        QDir(root).mkdir("dir.png");
        QFile text(root + "/text.gri");
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("hello, not a dataset\n") > 0);
        text.close();
        QFile::copy(mChannel.chopped(4) + ".00000.dat", root + "/text.00000.dat");
        for (QString &a : args)
            a.replace("CHANNEL", mChannel).replace("OUT", root);
        message.replace("OUT", root);
        const Run r = render(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.err.count('\n'), 1); // one line
        if (!absent.isEmpty())
            QVERIFY(!QFile::exists(absent.replace("OUT", root)));
        // Nothing half-written stays behind: only what the test made (and a good batch item).
        QStringList left = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeAll("channel.png");
        QCOMPARE(left, (QStringList{"dir.png", "text.00000.dat", "text.gri"}));
    }

    void helpListsEveryOption()
    {
        const Run r = render({"--help"});
        QCOMPARE(r.status, 0);
        for (const char *o : {"--view", "--output", "--zoom", "--pan", "--pressure", "--intensity", "--white", "--black",
                              "--colorbar", "--fit", "--method", "--dt", "--max-length", "--antialias", "--view-rect",
                              "--dsep", "--dtest", "--grid-log", "--north-up", "--probe", "--json", "--verbose"})
            QVERIFY2(r.out.contains(QLatin1String(o)), o);
        QVERIFY(r.out.contains("default 1.55") && r.out.contains("default 30") && r.out.contains("default 200"));
    }
};

QTEST_MAIN(RenderTest)
#include "tst_render.moc"
