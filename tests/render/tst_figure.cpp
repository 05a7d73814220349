// tessaly-render's figures run as a process: scale 1 is the view's picture, line points land on
// drawn pixels at every scale, colours follow the map, round ticks, north up, the vector files
// parse, and every bad figure option is a usage error.

#include "tools/render/ColorMaps.h"
#include "data/Dataset.h"
#include "tools/render/Figure.h"
#include "tools/Flows.h"
#include "tools/render/Pipeline.h"
#include "tests/support/TestSupport.h"
#include "tools/render/Ticks.h"
#include "data/Volume.h"

#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

testsupport::ToolRun render(const QStringList &args) { return testsupport::runTool(TESSALY_RENDER, args); }

bool rendered(const QStringList &args)
{
    const auto r = render(args);
    if (r.status != 0 || !r.err.isEmpty())
        qWarning().noquote() << "tessaly-render" << args.join(' ') << "->" << r.status << r.err;
    return r.status == 0 && r.err.isEmpty();
}

// The CSV's points as grid index positions, one list per line.
QVector<QVector<QPointF>> csvLines(const QString &path)
{
    QVector<QVector<QPointF>> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    file.readLine(); // header
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().trimmed().split(',');
        if (f.size() != 6)
            continue;
        const int line = f[0].toInt();
        while (lines.size() <= line)
            lines.append(QVector<QPointF>());
        lines[line].append(QPointF(f[2].toDouble(), f[3].toDouble()));
    }
    return lines;
}

bool lit(const QImage &image, int x, int y)
{
    return x >= 0 && y >= 0 && x < image.width() && y < image.height() && (image.pixel(x, y) & 0xffffff) != 0;
}

// Some lit pixel whose square lies within half a pixel of p (output pixels).
bool nearLitPixel(const QImage &image, QPointF p)
{
    const int cx = static_cast<int>(std::floor(p.x())), cy = static_cast<int>(std::floor(p.y()));
    for (int y = cy - 1; y <= cy + 1; ++y)
        for (int x = cx - 1; x <= cx + 1; ++x) {
            const double dx = std::max({x - p.x(), 0.0, p.x() - (x + 1)});
            const double dy = std::max({y - p.y(), 0.0, p.y() - (y + 1)});
            if (std::hypot(dx, dy) <= 0.5 && lit(image, x, y))
                return true;
        }
    return false;
}

} // namespace

class FigureTest : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString mChannel = path("channel.gri"), mVortices = path("vortices.gri");
    testsupport::ConsoleCapture mQuiet;
    QString path(const QString &name) const { return mDir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(flows::write("channel", mChannel) && flows::write("vortices", mVortices, {160, 120}));
    }

    // --scale 1 alone is the view's picture, whatever the view.
    void scaleOneIsTheViewsPicture_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("arrows zoomed, pressure, colour bar")
            << QStringList{"--view", "arrows", "--zoom", "3", "--pan", "5,-4", "--pressure", "--colorbar"};
        QTest::newRow("arrows fit north up") << QStringList{"--view", "arrows", "--fit", "--pressure", "--north-up"};
        QTest::newRow("regular lines antialiased") << QStringList{"--view", "streamlines", "--antialias"};
        QTest::newRow("evenly spaced") << QStringList{"--view", "evenly", "--dsep", "8"};
    }
    void scaleOneIsTheViewsPicture()
    {
        QFETCH(QStringList, args);
        const QString a = path("plain.png"), b = path("scale1.png");
        QVERIFY(rendered(QStringList{mVortices} + args + QStringList{"-o", a}));
        QVERIFY(rendered(QStringList{mVortices} + args + QStringList{"--scale", "1", "-o", b}));
        QCOMPARE(testsupport::differing(QImage(a), QImage(b)), 0);
    }

    // Every point of the CSV, mapped to K output pixels per cell, lies within half a pixel of
    // a drawn pixel.
    void linePointsLandOnDrawnPixels_data()
    {
        QTest::addColumn<int>("scale");
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("1, a figure, antialiased") << 1 << QStringList{"--line-width", "1", "--antialias"};
        QTest::newRow("3, aliased") << 3 << QStringList{};
        QTest::newRow("8, antialiased, coloured") << 8 << QStringList{"--antialias", "--color-by", "speed"};
        QTest::newRow("8, aliased, thin") << 8 << QStringList{"--line-width", "1.5"};
    }
    void linePointsLandOnDrawnPixels()
    {
        QFETCH(int, scale);
        QFETCH(QStringList, flags);
        const QStringList base{mVortices, "--view", "evenly", "--dsep", "6"};
        const QString csv = path("lines.csv"), png = path("lines.png");
        const QStringList antialias = flags.contains("--antialias") ? QStringList{"--antialias"} : QStringList{};
        QVERIFY(rendered(base + antialias + QStringList{"-o", csv}));
        QVERIFY(rendered(base + flags + QStringList{"--scale", QString::number(scale), "-o", png}));
        const QImage image(png);
        QCOMPARE(image.size(), QSize(160 * scale, 120 * scale));
        int points = 0, missed = 0;
        for (const auto &line : csvLines(csv))
            for (const QPointF &q : line) {
                ++points;
                missed += !nearLitPixel(image, q * scale);
            }
        QVERIFY(points > 1000);
        QCOMPARE(missed, 0);
    }

    // Where a point stands clear of other points, its pixel has the map's colour at the
    // point's speed (bilinear flow), over the grid's range of speeds.
    void colourIsTheMapAtThePointsSpeed_data()
    {
        QTest::addColumn<QString>("map");
        for (const char *m : {"viridis", "cividis", "magma", "tessaly"})
            QTest::newRow(m) << QString::fromLatin1(m);
    }
    void colourIsTheMapAtThePointsSpeed()
    {
        QFETCH(QString, map);
        constexpr int scale = 8;
        constexpr double width = 3.0;
        const QStringList base{mVortices, "--view", "evenly", "--dsep", "10"};
        const QString csv = path("speed.csv"), png = path("speed.png");
        QVERIFY(rendered(base + QStringList{"-o", csv}));
        QVERIFY(rendered(base + QStringList{"--scale", QString::number(scale), "--color-by", "speed", "--cmap", map,
                                            "--line-width", QString::number(width), "-o", png}));
        const DatasetResult loadedSet = loadDataset(mVortices);
        QVERIFY(loadedSet);
        const Volume *grid = &loadedSet.dataset->grid();
        double lo = INFINITY, hi = -INFINITY;
        for (int y = 0; y < grid->getDimY(); ++y)
            for (int x = 0; x < grid->getDimX(); ++x) {
                const DataPoint cell = grid->getAt(x, y, 0);
                if (cell.mValues.isEmpty())
                    continue; // never written by the resampling: no data
                const Vector3 d = cell.mDir;
                lo = std::min(lo, std::hypot(d.x, d.y));
                hi = std::max(hi, std::hypot(d.x, d.y));
            }
        colormaps::Map m;
        QVERIFY(colormaps::parse(map, &m));
        const QImage image(png);
        const auto lines = csvLines(csv);
        QVector<QPointF> all;
        for (const auto &line : lines)
            all += line;
        int checked = 0, wrong = 0;
        for (const auto &line : lines)
            for (qsizetype i = 0; i < line.size(); ++i) {
                const QPointF p = line[i] * scale;
                // Clear: the line's neighbours at least two widths away, any other point four.
                bool clear = true;
                for (const QPointF &q : all) {
                    const double d = std::hypot(q.x() * scale - p.x(), q.y() * scale - p.y());
                    const bool neighbour = (i > 0 && q == line[i - 1]) || (i + 1 < line.size() && q == line[i + 1]);
                    if (q != line[i] && d < (neighbour ? 2.0 : 4.0) * width) {
                        clear = false;
                        break;
                    }
                }
                if (!clear)
                    continue;
                const Vector3 v = grid->sampleDir(line[i].x(), line[i].y(), 0.0);
                const QRgb expected = colormaps::at(m, (std::hypot(v.x, v.y) - lo) / (hi - lo));
                ++checked;
                wrong += (image.pixel(static_cast<int>(p.x()), static_cast<int>(p.y())) & 0xffffff) != (expected & 0xffffff);
            }
        QVERIFY2(checked > 50, qPrintable(QString::number(checked)));
        QCOMPARE(wrong, 0);
    }

    // The tables' ends, as published (sRGB 0 ... 1 rounded to bytes).
    void mapsHoldThePublishedTables()
    {
        QCOMPARE(colormaps::entry(colormaps::Map::Viridis, 0), qRgb(68, 1, 84));
        QCOMPARE(colormaps::entry(colormaps::Map::Viridis, 255), qRgb(253, 231, 37));
        QCOMPARE(colormaps::entry(colormaps::Map::Magma, 0), qRgb(0, 0, 4));
        QCOMPARE(colormaps::entry(colormaps::Map::Magma, 255), qRgb(252, 253, 191));
        QCOMPARE(colormaps::entry(colormaps::Map::Cividis, 0), qRgb(0, 34, 78));
        QCOMPARE(colormaps::entryFor(1.0), 255);
        QCOMPARE(colormaps::entryFor(0.5), 128);
        QCOMPARE(colormaps::entryFor(std::nan("")), 0);
    }

    void ticksAreRoundAndInside_data()
    {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::newRow("unit") << 0.0 << 1.0;
        QTest::newRow("pressure scale") << -4.0 << 2.5;
        QTest::newRow("hPa") << 975.3 << 1045.2;
        QTest::newRow("small") << 0.0123 << 0.0456;
        QTest::newRow("tiny, across zero") << -3e-5 << 7e-5;
        QTest::newRow("narrow far from zero") << 1e6 << 1e6 + 0.7;
        QTest::newRow("speeds") << 0.0021 << 1.2278;
    }
    void ticksAreRoundAndInside()
    {
        QFETCH(double, lo);
        QFETCH(double, hi);
        const QVector<ticks::Tick> t = ticks::roundTicks(lo, hi);
        QVERIFY2(t.size() >= 2 && t.size() <= 11, qPrintable(QString::number(t.size())));
        const double step = t[1].value - t[0].value;
        const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        const double m = step / power;
        QVERIFY2(std::fabs(m - 1) < 1e-6 || std::fabs(m - 2) < 1e-6 || std::fabs(m - 2.5) < 1e-6 || std::fabs(m - 5) < 1e-6,
                 qPrintable(QString::number(step)));
        for (const ticks::Tick &k : t) {
            QVERIFY(k.value >= lo && k.value <= hi);
            QVERIFY(std::fabs(k.value / step - std::round(k.value / step)) < 1e-6 * std::max(1.0, std::fabs(k.value / step)));
            QVERIFY(std::fabs(k.text.toDouble() - k.value) <= 1e-9 * std::max(1.0, std::fabs(k.value)));
            QVERIFY(!k.text.startsWith("-0") || k.text.toDouble() != 0.0);
        }
    }

    // North up mirrors the rows that show the grid, in place, at zoom 3 with a pan; the rest
    // of the view and the legend stay as they are.
    void northUpMirrorsTheDataRows_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("the view's picture") << QStringList{};
        QTest::newRow("scale 2 with the colour bar") << QStringList{"--scale", "2", "--colorbar"};
        QTest::newRow("scale 3, smooth") << QStringList{"--scale", "3", "--smooth"};
    }
    void northUpMirrorsTheDataRows()
    {
        QFETCH(QStringList, flags);
        const QStringList base = QStringList{mVortices, "--view", "arrows", "--zoom", "3", "--pan", "-20,-150", "--pressure", "--black"} + flags;
        const QString up = path("up.png"), down = path("down.png");
        QVERIFY(rendered(base + QStringList{"-o", down}));
        QVERIFY(rendered(base + QStringList{"--north-up", "-o", up}));
        const QImage plain = QImage(down).convertToFormat(QImage::Format_RGB32);
        const QImage flipped = QImage(up).convertToFormat(QImage::Format_RGB32);
        // The data rows: those with any pixel of the background in either picture (black
        // arrows; black beyond the grid, and where a cell has no value, such as the grid's last
        // row). Only the picture's columns count, not the legend's.
        const int pictureWidth = 314 * (flags.contains("--scale") ? flags[flags.indexOf("--scale") + 1].toInt() : 1);
        int r0 = plain.height(), r1 = 0;
        for (const QImage *image : {&plain, &flipped})
            for (int y = 0; y < image->height(); ++y)
                for (int x = 0; x < pictureWidth; ++x)
                    if ((image->pixel(x, y) & 0xffffff) != 0) {
                        r0 = std::min(r0, y);
                        r1 = std::max(r1, y + 1);
                        break;
                    }
        QVERIFY(r0 > 0 || r1 < 538); // the grid does not fill the view
        QVERIFY(r0 < r1);
        QImage expected = plain;
        for (int y = r0; y < r1; ++y)
            for (int x = 0; x < pictureWidth; ++x)
                expected.setPixel(x, y, plain.pixel(x, r0 + r1 - 1 - y));
        QCOMPARE(testsupport::differing(flipped, expected), 0);
    }

    // Arrows: heads never longer than 0.4 of their shaft; with --arrow-scale auto the longest
    // shaft spans the step; with S cells per unit a shaft is S cells per unit of its flow.
    void arrowsFollowTheirScale_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("cellsPerUnit"); // 0: auto; -1: the view's lengths
        QTest::newRow("view's lengths, step 12") << 0 << -1.0;
        QTest::newRow("auto, step 7") << 7 << 0.0;
        QTest::newRow("3 cells per unit, step 5") << 5 << 3.0;
    }
    void arrowsFollowTheirScale()
    {
        QFETCH(int, step);
        QFETCH(double, cellsPerUnit);
        const DatasetResult loadedSet = loadDataset(mVortices);
        QVERIFY(loadedSet);
        const Volume *grid = &loadedSet.dataset->grid();
        figure::Settings s;
        s.scale = 3;
        s.arrowStep = step;
        s.arrowScaleGiven = cellsPerUnit >= 0.0;
        s.arrowScale = std::max(cellsPerUnit, 0.0);
        pipeline::ArrowSettings a;
        a.fit = true;
        figure::Figure f;
        QString error;
        QCOMPARE(figure::arrowFigure(s, *grid, a, f, &error), 0);
        const auto lines = std::find_if(f.data.begin(), f.data.end(), [](const figure::Item &i) { return i.kind == figure::Item::Lines; });
        QVERIFY(lines != f.data.end());
        const QVector<QPointF> &p = lines->points;
        QVERIFY(p.size() > 6 * 20 && p.size() % 6 == 0);
        double longest = 0.0;
        const int every = step > 0 ? step : 12;
        for (qsizetype k = 0; k < p.size(); k += 6) {
            const QPointF shaft = p[k + 1] - p[k];
            const double length = std::hypot(shaft.x(), shaft.y());
            longest = std::max(longest, length);
            for (int b : {2, 4}) {
                QCOMPARE(p[k + b], p[k + 1]); // barbs start at the tip
                const QPointF barb = p[k + b + 1] - p[k + b];
                QVERIFY(std::hypot(barb.x(), barb.y()) <= 0.4 * length + 1e-9);
                QVERIFY(barb.x() * shaft.x() + barb.y() * shaft.y() < 0.0); // turned back
            }
            // The tail at a lattice cell; the shaft along that cell's flow.
            const int i = qRound(p[k].x() / 3.0), j = qRound(p[k].y() / 3.0);
            QVERIFY(i % every == 0 && j % every == 0);
            const Vector3 d = grid->getAt(i, j, 0).mDir;
            QVERIFY(d.x * shaft.x() + d.y * shaft.y() > 0.0);
            if (cellsPerUnit > 0.0)
                QVERIFY(std::fabs(length - cellsPerUnit * 3.0 * std::hypot(float(d.x), float(d.y))) < 1e-3 * length + 1e-6);
        }
        if (cellsPerUnit == 0.0)
            QVERIFY(std::fabs(longest - every * 3.0) < 1e-6);
        if (cellsPerUnit < 0.0)
            QVERIFY(longest <= 6.0 * 3.0 * std::sqrt(2.0) + 1e-6); // the view's limit: 6 cells a component
    }

    // --size: the largest whole scale whose figure (with its legend) fits.
    void sizeTakesTheLargestScaleThatFits()
    {
        const QString png = path("sized.png");
        QVERIFY(rendered({mVortices, "--view", "evenly", "--size", "500x400", "-o", png}));
        QCOMPARE(QImage(png).size(), QSize(480, 360));
        QVERIFY(rendered({mVortices, "--view", "evenly", "--size", "500x400", "--color-by", "speed", "--colorbar", "-o", png}));
        const QSize s = QImage(png).size();
        QVERIFY(s.width() <= 500 && s.height() <= 400 && s.height() >= 240 && s.width() > 320);
        const auto r = render({mVortices, "--view", "evenly", "--size", "100x100", "-o", png});
        QCOMPARE(r.status, 2);
    }

    // The SVG rasterises with Qt SVG to the PNG's picture, its coordinates hold two decimals;
    // the PDF has one page of the PNG's size in points.
    void vectorFilesParse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("evenly coloured, colour bar, heads")
            << QStringList{mVortices, "--view", "evenly", "--dsep", "8", "--scale", "4", "--color-by", "speed",
                           "--colorbar", "--antialias", "--line-arrows", "2"};
        QTest::newRow("arrows, pressure, auto scale, key")
            << QStringList{mChannel, "--view", "arrows", "--fit", "--pressure", "--scale", "2", "--arrow-scale", "auto",
                           "--arrow-step", "20", "--colorbar", "--north-up"};
        QTest::newRow("arrows zoomed and panned beyond the grid, north up")
            << QStringList{mChannel, "--view", "arrows", "--pressure", "--zoom", "3", "--pan", "10,-40", "--scale", "2",
                           "--colorbar", "--north-up", "--smooth"};
    }
    void vectorFilesParse()
    {
        QFETCH(QStringList, args);
        const QString png = path("v.png"), svg = path("v.svg"), pdf = path("v.pdf");
        QVERIFY(rendered(args + QStringList{"-o", png}));
        QVERIFY(rendered(args + QStringList{"-o", svg}));
        QVERIFY(rendered(args + QStringList{"-o", pdf}));
        const QImage raster = QImage(png).convertToFormat(QImage::Format_RGB32);

        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());
        QCOMPARE(renderer.defaultSize(), raster.size());
        QImage drawn(raster.size(), QImage::Format_RGB32);
        drawn.fill(Qt::white);
        {
            QPainter painter(&drawn);
            renderer.render(&painter);
        }
        // Same picture but for antialiasing: nearly all pixels close in colour, and no band of
        // rows mostly different (one the vector drawing left uncovered or shifted). Qt SVG
        // interpolates scaled images, which blurs a row or two at a sharp edge.
        qint64 close = 0;
        int badRows = 0, band = 0;
        for (int y = 0; y < raster.height(); ++y) {
            int closeInRow = 0;
            for (int x = 0; x < raster.width(); ++x) {
                const QRgb a = raster.pixel(x, y), b = drawn.pixel(x, y);
                closeInRow += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) < 60;
            }
            close += closeInRow;
            badRows = closeInRow * 2 < raster.width() ? badRows + 1 : 0;
            band = std::max(band, badRows);
        }
        QVERIFY2(close * 100 >= qint64(raster.width()) * raster.height() * 98,
                 qPrintable(QStringLiteral("%1 of %2").arg(close).arg(raster.width() * raster.height())));
        QVERIFY2(band <= 2, qPrintable(QString::number(band)));

        QFile file(svg);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QRegularExpression path(QStringLiteral(" d=\"([^\"]*)\""));
        int numbers = 0;
        for (auto it = path.globalMatch(text); it.hasNext();) {
            for (const QString &token : it.next().captured(1).split(QRegularExpression("[ ML]+"), Qt::SkipEmptyParts)) {
                QVERIFY2(QRegularExpression("^-?\\d+\\.\\d\\d$").match(token).hasMatch(), qPrintable(token));
                ++numbers;
            }
        }
        QVERIFY(numbers > 100);

        QFile p(pdf);
        QVERIFY(p.open(QIODevice::ReadOnly));
        const QByteArray bytes = p.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        QCOMPARE(QString::fromLatin1(bytes).count(QRegularExpression("/Type\\s*/Page[^s]")), 1);
        const QRegularExpressionMatch box
            = QRegularExpression("/MediaBox\\s*\\[\\s*0\\s+0\\s+([\\d.]+)\\s+([\\d.]+)\\s*\\]").match(QString::fromLatin1(bytes));
        QVERIFY(box.hasMatch());
        QCOMPARE(qRound(box.captured(1).toDouble()), raster.width());
        QCOMPARE(qRound(box.captured(2).toDouble()), raster.height());
    }

    // Bad values of every figure option: exit 2, one line on stderr, no file.
    void badValuesAreUsageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        const QStringList e{"--view", "evenly"}, a{"--view", "arrows"};
        QTest::newRow("scale 0") << e + QStringList{"--scale", "0"} << "--scale 0";
        QTest::newRow("scale 65") << e + QStringList{"--scale", "65"} << "--scale 65";
        QTest::newRow("scale 2.5") << e + QStringList{"--scale", "2.5"} << "--scale 2.5";
        QTest::newRow("size 0x0") << e + QStringList{"--size", "0x0"} << "--size 0x0";
        QTest::newRow("size without x") << e + QStringList{"--size", "640"} << "--size 640";
        QTest::newRow("size and scale") << e + QStringList{"--size", "640x480", "--scale", "2"} << "exclude";
        QTest::newRow("line width 0") << e + QStringList{"--line-width", "0"} << "--line-width 0";
        QTest::newRow("unknown quantity") << e + QStringList{"--color-by", "vorticity"} << "--color-by vorticity";
        QTest::newRow("unknown channel") << e + QStringList{"--color-by", "7"} << "--color-by 7";
        QTest::newRow("unknown map") << e + QStringList{"--color-by", "speed", "--cmap", "jet"} << "--cmap jet";
        QTest::newRow("map without colours") << e + QStringList{"--cmap", "magma"} << "--cmap goes with";
        QTest::newRow("colour bar of white lines") << e + QStringList{"--colorbar"} << "needs --color-by";
        QTest::newRow("label without bar") << a + QStringList{"--label", "x"} << "--label goes with";
        QTest::newRow("arrow step 0") << a + QStringList{"--arrow-step", "0"} << "--arrow-step 0";
        QTest::newRow("arrow scale -1") << a + QStringList{"--arrow-scale", "-1"} << "--arrow-scale -1";
        QTest::newRow("arrow scale word") << a + QStringList{"--arrow-scale", "big"} << "--arrow-scale big";
        QTest::newRow("line arrows 0") << e + QStringList{"--line-arrows", "0"} << "--line-arrows 0";
        QTest::newRow("smooth lines") << e + QStringList{"--smooth"} << "--smooth";
        QTest::newRow("smooth without pressure") << a + QStringList{"--smooth"} << "--smooth goes with";
        QTest::newRow("colours on arrows") << a + QStringList{"--color-by", "speed"} << "--color-by applies";
        QTest::newRow("scale of data") << e + QStringList{"--scale", "2", "-o", "x.csv"} << "do not apply";
    }
    void badValuesAreUsageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        const QString out = path("bad.png");
        QFile::remove(out);
        QStringList all = QStringList{mVortices} + args;
        if (!all.contains("-o"))
            all << "-o" << out;
        const auto r = render(all);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_MAIN(FigureTest)
#include "tst_figure.moc"
