// The widget-free rendering: seed grid, pixel mapping, colours and the painted image.

#include "RgbaColor.h"
#include "StreamlineRender.h"
#include "TestSupport.h"

#include <QtTest>

using namespace testsupport;

namespace {

bool isWhite(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 255 && qAlpha(c) == 255;
}

bool isOpaqueBlack(QRgb c)
{
    return c == qRgba(0, 0, 0, 255);
}

} // namespace

class StreamlineRenderTest : public QObject
{
    Q_OBJECT
private slots:
    void seedGridOverTheFullView()
    {
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, ViewRect{0, 0, 100, 100}, 10, 10);
        QCOMPARE(seeds.size(), 100);
        // Column by column: x outer, y inner, 1, 11, ..., 91.
        for (int i = 0; i < 100; ++i)
            QCOMPARE(seeds[i], Vector3(1 + 10 * (i / 10), 1 + 10 * (i % 10), 0));
    }

    void seedGridAppendsAndKeepsInsideTheRectangle()
    {
        const QList<ViewRect> rects = {{10, 17, 303, 520}, {-10, -17, 324, 555}, {100, 40, 111, 51}, {5, 5, 36, 300}};
        for (const ViewRect &r : rects) {
            QVector<Vector3> seeds{Vector3(-7, -7, -7)};
            appendRegularSeeds(seeds, r, 10, 10);
            QCOMPARE(seeds.size(), 101); // at least 11 units wide and high: 10 x 10
            QCOMPARE(seeds[1], Vector3(r.x1 + 1, r.y1 + 1, 0));
            for (int i = 1; i < seeds.size(); ++i)
                QVERIFY(seeds[i].x < r.x2 && seeds[i].y < r.y2 && seeds[i].z == 0.0);
        }
        // Fractional steps accumulate in double precision: 293 / 10 = 29.3.
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, ViewRect{10, 10, 303, 303}, 10, 10);
        double x = 11.0;
        for (int i = 0; i < 3; ++i)
            x += 29.3;
        QCOMPARE(seeds[30].x, x);
    }

    void seedGridOfADegenerateViewIsEmpty()
    {
        const QList<ViewRect> rects = {{0, 0, 0, 100}, {0, 0, 100, 0}, {50, 0, 40, 100}, {0, 60, 100, 10}};
        for (const ViewRect &r : rects) {
            QVector<Vector3> seeds;
            appendRegularSeeds(seeds, r, 10, 10);
            QVERIFY(seeds.isEmpty());
        }
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, ViewRect{0, 0, 100, 100}, 0, 10);
        appendRegularSeeds(seeds, ViewRect{0, 0, 100, 100}, 10, -3);
        QVERIFY(seeds.isEmpty());
        // A rectangle of 2 units still gets its seed one unit in.
        appendRegularSeeds(seeds, ViewRect{4, 4, 6, 6}, 10, 10);
        QVERIFY(!seeds.isEmpty());
        QCOMPARE(seeds.first(), Vector3(5, 5, 0));
    }

    void mappingTruncatesTowardZero()
    {
        const PixelMapping identity(ViewRect{0, 0, 314, 538}, 314, 538);
        QCOMPARE(identity.scaleX(), 1.0f);
        QCOMPARE(identity.map(5.7, 3.2), QPoint(5, 3));
        QCOMPARE(identity.map(0.0, 0.0), QPoint(0, 0));
        QCOMPARE(identity.map(-0.9, -0.1), QPoint(0, 0)); // between -1 and 0: still 0
        QCOMPARE(identity.map(-1.5, 313.999), QPoint(-1, 313));

        // Zoomed in to half: every unit is two pixels, measured from the rectangle's corner.
        const PixelMapping zoomed(ViewRect{10, 20, 60, 70}, 100, 100);
        QCOMPARE(zoomed.scaleX(), 0.5f);
        QCOMPARE(zoomed.map(10, 20), QPoint(0, 0));
        QCOMPARE(zoomed.map(35, 45), QPoint(50, 50));
        QCOMPARE(zoomed.map(10.99, 20.49), QPoint(1, 0));
        QCOMPARE(zoomed.map(9.6, 19.6), QPoint(0, 0));

        // The axes scale independently; zoomed out, the picture shrinks.
        const PixelMapping squeezed(ViewRect{0, 0, 100, 50}, 100, 100);
        QCOMPARE(squeezed.map(50, 20), QPoint(50, 40));
        const PixelMapping out(ViewRect{-10, -10, 390, 390}, 100, 100);
        QCOMPARE(out.map(90, 30), QPoint(25, 10));
    }

    void mappingOfAHugeOffsetStaysAnInt()
    {
        const PixelMapping m(ViewRect{0, 0, 2, 2}, 100000, 100000);
        const QPoint p = m.map(99999.0, -99999.0);
        QVERIFY(p.x() > 1000000 && p.y() < -1000000);
    }

    void rgbaColorClampsEachChannel()
    {
        QCOMPARE(RgbaColor(255, 255, 255, 255).toQColor(), QColor(255, 255, 255, 255));
        QCOMPARE(RgbaColor(300, -5, 128, 1000).toQColor(), QColor(255, 0, 128, 255));
        QCOMPARE(RgbaColor(-1, 0, 256, -300).toQColor(), QColor(0, 0, 255, 0));
    }

    void everyLineStartsAtItsSeedPixel()
    {
        std::unique_ptr<Volume> v(makeGrid(100, 100, [](int x, int y) { return Vector3(1.0 + 0.01 * y, 0.3 - 0.005 * x, 0); }));
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, ViewRect{0, 0, 100, 100}, 10, 10);
        seeds.append(Vector3(150, 5, 0)); // outside: an empty line, kept in its place
        QVector<QPolygon> polylines;
        QList<int> progress;
        traceRegularPolylines(seeds, TraceSettings{1.55, Euler, 200}, *v, PixelMapping(ViewRect{0, 0, 100, 100}, 100, 100),
                              polylines, [&progress](int i) { progress.append(i); });
        QCOMPARE(polylines.size(), 101);
        QCOMPARE(progress.size(), 101);
        QCOMPARE(progress.last(), 100);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(!polylines[i].isEmpty());
            QVERIFY(polylines[i].size() <= 200);
            QCOMPARE(polylines[i].first(), QPoint(int(seeds[i].x), int(seeds[i].y)));
            // The polyline is exactly the trace, mapped.
            const Streamline line = traceFixedLength(seeds[i], 1.55, Euler, 200, *v);
            QCOMPARE(polylines[i].size(), line.size());
            QCOMPARE(polylines[i].last(), QPoint(int(line.last().x), int(line.last().y)));
        }
        QVERIFY(polylines.last().isEmpty());
    }

    void lengthOneGivesTheSeedAlone()
    {
        std::unique_ptr<Volume> v(makeGrid(100, 100, [](int, int) { return Vector3(1, 0, 0); }));
        const RegularPicture picture =
            renderRegularPicture(QSize(100, 100), ViewRect{0, 0, 100, 100}, 10, 10, TraceSettings{1.55, Euler, 1}, false, *v);
        QCOMPARE(picture.polylines.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(picture.polylines[i].size(), 1);
            QCOMPARE(picture.polylines[i].first(), QPoint(int(picture.seeds[i].x), int(picture.seeds[i].y)));
        }
    }

    void picturePaintsWhiteLinesOnBlack()
    {
        // Flow along +x: each seed row gives a horizontal line from its seed to the right border.
        std::unique_ptr<Volume> v(makeGrid(100, 100, [](int, int) { return Vector3(2, 0, 0); }));
        const RegularPicture picture =
            renderRegularPicture(QSize(100, 100), ViewRect{0, 0, 100, 100}, 10, 10, TraceSettings{1.0, Euler, 200}, false, *v);
        const QImage &img = picture.image;
        QCOMPARE(img.size(), QSize(100, 100));
        QCOMPARE(img.format(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const bool onLine = y % 10 == 1 && x >= 1 && x <= 99;
                if (onLine != isWhite(img.pixel(x, y)) || (!onLine && !isOpaqueBlack(img.pixel(x, y))))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(img.pixel(x, y), 8, 16)));
            }
    }

    void antialiasedLinesBlendDiagonals()
    {
        std::unique_ptr<Volume> v(makeGrid(100, 100, [](int, int) { return Vector3(1, 0.37, 0); }));
        const ViewRect r{0, 0, 100, 100};
        const TraceSettings s{1.55, RungeKutta, 200};
        const QImage plain = renderRegularPicture(QSize(100, 100), r, 10, 10, s, false, *v).image;
        const QImage smooth = renderRegularPicture(QSize(100, 100), r, 10, 10, s, true, *v).image;
        int grey = 0, greyPlain = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const int g = qGreen(smooth.pixel(x, y));
                grey += g > 0 && g < 255;
                const int gp = qGreen(plain.pixel(x, y));
                greyPlain += gp > 0 && gp < 255;
                QCOMPARE(qAlpha(smooth.pixel(x, y)), 255);
            }
        QCOMPARE(greyPlain, 0);
        QVERIFY(grey > 100);
    }

    void storedLinesAreMappedWithoutInsideTest()
    {
        const QVector<Streamline> lines = {{Vector3(10, 10, 0), Vector3(-20, 5, 0), Vector3(400, 30, 0)}, {}, {Vector3(1, 2, 0)}};
        QVector<QPolygon> polylines;
        mapStreamlines(lines, PixelMapping(ViewRect{0, 0, 50, 50}, 100, 100), polylines);
        QCOMPARE(polylines.size(), 3);
        QCOMPARE(polylines[0], QPolygon({QPoint(20, 20), QPoint(-40, 10), QPoint(800, 60)}));
        QVERIFY(polylines[1].isEmpty());
        QCOMPARE(polylines[2], QPolygon({QPoint(2, 4)}));
    }

    void noDataPictureIsDarkRedWithCentredWhiteText()
    {
        QImage img = blankStreamlineImage(QSize(314, 538));
        QCOMPARE(img.pixel(0, 0), qRgba(0, 0, 0, 255));
        paintNoData(img);
        int red = 0, white = 0;
        QRect text;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = img.pixel(x, y);
                if (c == qRgba(128, 0, 0, 255)) {
                    ++red;
                    continue;
                }
                // Everything else is text: white, or white blended into dark red at its edges.
                QVERIFY(qRed(c) >= 128 && qGreen(c) == qBlue(c) && qAlpha(c) == 255);
                white += isWhite(c);
                text |= QRect(x, y, 1, 1);
            }
        QVERIFY(red > img.width() * img.height() * 9 / 10);
        QVERIFY(white > 20);
        QVERIFY(std::abs(text.center().x() - img.width() / 2) <= 3);
        QVERIFY(std::abs(text.center().y() - img.height() / 2) <= 3);
        QVERIFY(text.width() > 80);
    }

    void usableGridRefusesEmptyVolumes()
    {
        QVERIFY(!usableGrid(nullptr));
        Volume empty;
        QVERIFY(!usableGrid(&empty));
        Volume flat(0, 5, 1);
        QVERIFY(!usableGrid(&flat));
        Volume some(3, 4, 1);
        QCOMPARE(usableGrid(&some), &some);
    }
};

QTEST_MAIN(StreamlineRenderTest)
#include "tst_streamline_render.moc"
