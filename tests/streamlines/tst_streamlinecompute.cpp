// The widget-free streamline computation: integration step, fixed-length trace, seed grid,
// pixel mapping, painted images and the separation grid.

#include "streamlines/Integrate.h"
#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineRender.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QtTest>

#include <climits>
#include <cmath>

using namespace testsupport;

class StreamlineComputeTest : public QObject
{
    Q_OBJECT
private slots:
    // A step is |dt| long along the flow direction, backwards for a negative dt, whatever the
    // speed (forwards: the border test's exact Euler step).
    void stepLengthIsDtWhateverTheSpeed()
    {
        for (int method : {0, 1})
            for (double speed : {1e-6, 2.5e4}) {
                std::unique_ptr<Volume> diagonal(uniformFlow(20, 20, speed, speed));
                const Vector3 r = integrate(Vector3(5, 5, 0), -2.0, method, diagonal.get());
                QVERIFY(std::fabs((r - Vector3(5, 5, 0)).length() - 2.0) < 1e-12);
                QVERIFY(r.x < 5.0 && std::fabs(r.x - r.y) < 1e-15); // backwards, along the diagonal
            }
    }

    void stepsAndTracesEndAtTheBorder()
    {
        std::unique_ptr<Volume> small(uniformFlow(10, 10, 1, 0));
        // 9.5 is inside; the midpoint 10.275 is not, so there is no flow there.
        QCOMPARE(integrate(Vector3(9.5, 5, 0), 1.55, RungeKutta, small.get()), Vector3(9.5, 5, 0));
        QCOMPARE(integrate(Vector3(9.5, 5, 0), 1.55, Euler, small.get()), Vector3(9.5 + 1.55, 5, 0));

        std::unique_ptr<Volume> v(uniformFlow(20, 20, 1, 0));
        // Steps of exactly 1 from x = 10: 10, 11, ..., 19; x = 20 = dimX is outside.
        const Streamline line = traceFixedLength(Vector3(10, 5, 0), 1.0, Euler, 200, *v);
        QCOMPARE(line.size(), 10);
        QCOMPARE(line.last(), Vector3(19, 5, 0));
        QVERIFY(traceFixedLength(Vector3(20, 5, 0), 1.0, Euler, 200, *v).isEmpty());
        // Stagnation on the centre column repeats the seed up to the length limit.
        std::unique_ptr<Volume> still(makeGrid(21, 21, [](int x, int) { return Vector3(10 - x, 0, 0); }));
        QCOMPARE(traceFixedLength(Vector3(10, 7, 0), 1.55, Euler, 37, *still), Streamline(37, Vector3(10, 7, 0)));
    }

    void seedGridAndPixelMapping()
    {
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, ViewRect{0, 0, 100, 100}, 10, 10);
        QCOMPARE(seeds.size(), 100);
        for (int i = 0; i < 100; ++i) // column by column: 1, 11, ..., 91
            QCOMPARE(seeds[i], Vector3(1 + 10 * (i / 10), 1 + 10 * (i % 10), 0));

        const PixelMapping identity(ViewRect{0, 0, 314, 538}, 314, 538);
        QCOMPARE(identity.map(-0.9, -0.1), QPoint(0, 0)); // truncated toward zero
        QCOMPARE(identity.map(-1.5, 313.999), QPoint(-1, 313));
        const PixelMapping zoomed(ViewRect{10, 20, 60, 70}, 100, 100);
        QCOMPARE(zoomed.map(35, 45), QPoint(50, 50));
        QCOMPARE(zoomed.map(10.99, 20.49), QPoint(1, 0));
    }

    void picturePaintsWhiteLinesOnBlack()
    {
        // Flow along +x: each seed row gives a horizontal line from its seed to the border.
        std::unique_ptr<Volume> v(uniformFlow(100, 100, 2, 0));
        const QImage img =
            renderRegularPicture(QSize(100, 100), ViewRect{0, 0, 100, 100}, 10, 10, TraceSettings{1.0, Euler, 200}, false, *v)
                .image;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const QRgb want = (y % 10 == 1 && x >= 1) ? qRgba(255, 255, 255, 255) : qRgba(0, 0, 0, 255);
                QVERIFY2(img.pixel(x, y) == want, qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(img.pixel(x, y), 8, 16)));
            }
    }

    void noDataPictureIsDarkRedWithCentredText()
    {
        QImage img = blankStreamlineImage(QSize(314, 538));
        paintNoData(img);
        const QRect text = litBounds(img, qRgb(128, 0, 0));
        const QPoint off = text.center() - QPoint(157, 269);
        QVERIFY2(text.width() > 80 && text.height() < 30 && std::abs(off.x()) <= 3 && std::abs(off.y()) <= 3,
                 qPrintable(QStringLiteral("%1x%2 at %3,%4").arg(text.width()).arg(text.height()).arg(text.x()).arg(text.y())));

    }

    void separationGridCells()
    {
        SeparationGrid g;
        g.setSize(14, 11);
        QVERIFY(!g.isValidCell(-1, 0) && !g.isValidCell(14, 0) && !g.isValidCell(0, 11) && !g.isValidCell(std::nan(""), 0));
        const auto cells = [&g](double cx, double cy) {
            QString out;
            for (const Vector2 &c : g.getNeighbourCells(cx, cy))
                out += QStringLiteral("(%1,%2)").arg(c.x).arg(c.y);
            return out;
        };
        QCOMPARE(cells(5, 5), QStringLiteral("(4,4)(4,5)(4,6)(5,4)(5,5)(5,6)(6,4)(6,5)(6,6)")); // column by column
        QCOMPARE(cells(0, 0), QStringLiteral("(0,0)(0,1)(1,0)(1,1)"));
        QCOMPARE(cells(14, 11), QStringLiteral("(13,10)"));
        QVERIFY(cells(20, 3).isEmpty() && cells(-1e12, 1e12).isEmpty());
    }

    // A cell keeps its indices in the order they came, whether they continue its last run of
    // consecutive indices or not, next to a cell filled at the same time; a grid that takes
    // over another's storage starts empty, and the other too.
    void separationGridKeepsTheOrderOfItsIndices()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(3, 2);
        g.addPoints(1, 0, 5, 3);
        g.addPoints(2, 1, 8, 2);
        g.addPoint(1, 0, 8);
        g.addPoint(1, 0, 2);
        g.addPoints(1, 0, INT_MAX - 1, 2);
        g.addPoint(1, 0, 0);
        g.addPoint(2, 1, 10);
        g.addPoints(2, 1, 12, 1);
        QCOMPARE(g.getCell(1, 0), (QVector<int>{5, 6, 7, 8, 2, INT_MAX - 1, INT_MAX, 0}));
        QCOMPARE(g.getCell(2, 1), (QVector<int>{8, 9, 10, 12}));
        QCOMPARE(g.getCell(0, 0), QVector<int>());
        QCOMPARE(g.getCell(-1, 1), QVector<int>()); // entry 2: the end of row 0, empty
        QBuffer log;
        QVERIFY(log.open(QIODevice::WriteOnly) && g.writeLog(log));
        QCOMPARE(log.data(), QByteArray("\t0\t8\t0\n\t0\t0\t4\n"));

        SeparationGrid next;
        next.reuseStorageOf(g);
        next.setSize(3, 2);
        QVERIFY(next.getCell(1, 0).isEmpty() && next.getCell(2, 1).isEmpty() && g.getCell(0, 0).isEmpty());
        next.addPoint(1, 0, 3);
        QCOMPARE(next.getCell(1, 0), QVector<int>{3});
        QVERIFY(console.lines().isEmpty());
    }

    void gridLogOfASmallGrid()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(3, 2);
        int index = 0;
        for (const QPoint c : {QPoint(1, 0), QPoint(1, 0), QPoint(0, 1), QPoint(3, 0)}) // the last one outside
            g.addPoint(c.x(), c.y(), index++);
        QVERIFY(g.writeLog());
        QCOMPARE(readGridLog(), QByteArray("\t0\t2\t0\n\t1\t0\t0\n"));
        QCOMPARE(console.lines(), (QStringList{"index out of range 3 : 0", "file written to: grid.log"}));

        // A folder in the file's place: reported as a failure.
        QVERIFY(QFile::remove(QStringLiteral("grid.log")) && QDir().mkdir(QStringLiteral("grid.log")));
        console.clear();
        QVERIFY(!g.writeLog());
        QVERIFY(console.lines().size() == 1 && console.lines().first().startsWith(QStringLiteral("could not write grid.log:")));
        QVERIFY(QDir().rmdir(QStringLiteral("grid.log")));
    }
};

QTEST_MAIN(StreamlineComputeTest)
#include "tst_streamlinecompute.moc"
