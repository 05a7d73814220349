// Every rounding to single precision that decides a visible result, each checked with values
// where a double computation would give something else. A compiler that widens one of them
// again (GCC 12's vectoriser did so in getGridPos) fails here instead of shipping.

#include "arrowplot/ColorRamp.h"
#include "streamlines/EvenlySpacedSeeding.h"
#include "streamlines/ui/StreamLineDialog.h"
#include "streamlines/StreamlineRender.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"
#include "streamlines/ui/streamlines.h"

#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>

using namespace testsupport;

namespace {

// A volume of dimX x dimY x 1 whose points sit at (xs(i), ys(j)) with flow (i, j, 0); the
// extent is set as a loader would find it for such a monotone grid.
void fill(Volume &v, const std::function<double(int)> &xs, const std::function<double(int)> &ys)
{
    for (int j = 0; j < v.getDimY(); ++j)
        for (int i = 0; i < v.getDimX(); ++i) {
            DataPoint p;
            p.mPos = Vector3(xs(i), ys(j), 0.0);
            p.mDir = Vector3(i, j, 0.0);
            p.mValues = {1.0f};
            v.setAt(i, j, 0, p);
        }
    v.mMinPos = Vector3(xs(0), ys(0), 0.0);
    v.mMaxPos = Vector3(xs(v.getDimX() - 1), ys(v.getDimY() - 1), 0.0);
}

} // namespace

class Roundings : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    // sx = float(dimX / width), sy = float(dimY / height): the last point lands just inside
    // the grid (99.999996, not 100), so its floor is the last column.
    void gridPositionAtTheEdges()
    {
        Volume v(100, 50, 1);
        fill(v, [](int i) { return i * 3.0 / 99.0; }, [](int j) { return j * 7.0 / 49.0; });

        const Vector3 g = v.getGridPos(99, 49, 0);
        QCOMPARE(g.x, 99.99999618530273); // printed as 99.999996
        QCOMPARE(g.y, 49.99999952316284);
    }

    // The resampling floors the same single-precision products: the last visited cell (97)
    // ends in column 99 (span 1), so column 99 takes corner 98's flow exactly. With double
    // scales it would end at 100 (span 2) and column 99 would get the mean of 97 and 98.
    void resamplingFloorsTheSingleProducts()
    {
        Volume source(100, 4, 1);
        fill(source, [](int i) { return i < 99 ? i * 3.0 / 98.0 : 3.0; }, [](int j) { return double(j); });
        Volume grid(100, 4, 1);
        grid.calculateGridFrom(source);
        QCOMPARE(grid.getAt(99, 0, 0).mDir.x, 98.0);
        QCOMPARE(grid.getAt(98, 0, 0).mDir.x, 97.0);
    }

    // red = green = float(255 - 194 t) and blue = float(61 t) before truncation: values just
    // below a whole number round up to it.
    void colourRampRoundsBeforeTruncating()
    {
        const QColor c = colorFromRamp(0.7989690721649491); // 255 - 194 t = 99.99999999999989
        QVERIFY(c.red() == 100 && c.green() == 100);
        QCOMPARE(colorFromRamp((1.0 - 1e-13) / 61.0).blue(), 1);
        // (p + 4) * 2/13 kept in single precision: 0.6307691931724548, not 0.6307692160973183.
        QCOMPARE(pressureToRamp(0.1f), 0.6307691931724548);
    }

    // The separation grid's column count: w * float(1 / dSep) + 1 in single precision gives
    // 9.999999 for w = 549, dSep = 61 (10 in double), so the grid has 9 columns.
    void separationGridSizeInSinglePrecision()
    {
        EvenlySpacedSeeding seeding;
        seeding.reset({61.0f, 0.5f, 1.55, 0, 549, 549});
        QCOMPARE(static_cast<double>(seeding.gridWidth()), 9.999999046325684);
        QCOMPARE(static_cast<int>(seeding.gridWidth()), 9);
    }

    // Pixel scale float((x2 - x1) / dimX) and its reciprocal, both in single precision (the
    // reading of "1 / scaleX" with a float scale): 7 units over 50 pixels put x = 7 at
    // 7 * 7.142857 = 49.9999995, pixel 49.
    void pixelScaleAndReciprocalInSinglePrecision()
    {
        const PixelMapping m(ViewRect{0, 0, 7, 7}, 50, 50);
        QCOMPARE(m.map(7.0, 7.0), QPoint(49, 49));
    }

    // Dtest = float(slider * 0.01); Dt = slider * 0.01f held as a double (7.4999998, not 7.5);
    // each change writes its console line.
    void sliderConversions()
    {
        setVolumes(nullptr, uniformFlow(90, 90, 1, 0));
        StreamLineDialog d;
        ConsoleCapture console;
        const auto slide = [&d](const char *name, int value) { d.findChild<QSlider *>(QLatin1String(name))->setValue(value); };
        slide("mDTestSlider", 7);
        QCOMPARE(static_cast<double>(d.view()->mDTest), 0.07000000029802322);
        slide("mDtSlider", 750);
        QCOMPARE(d.view()->mDt, 7.499999832361937);
        slide("mDtSlider", 1);
        QCOMPARE(d.view()->mDt, 0.009999999776482582);
        slide("mDtSlider", 155);
        QCOMPARE(d.view()->mDt, 1.5499999653548002);
        slide("mDSepSlider", 45);
        QCOMPARE(console.lines(), (QStringList{"Dtest:  0.07", "Dt:  7.5", "Dt:  0.01", "Dt:  1.55", "DSep:  45"}));
    }

    // The dialled position is float(whole + hundredths * 0.01): 0.07 becomes
    // 0.07000000029802322, which a world extent of 1e9 per point makes visible in mPos.
    void spinBoxPositionIsSinglePrecision()
    {
        auto *v = new Volume(2, 2, 1);
        fill(*v, [](int i) { return i * 1e9; }, [](int j) { return double(j); });
        setVolumes(v, nullptr);
        VolInfo dlg;
        dlg.xFracSpin()->setValue(7);
        QVERIFY2(dlg.output()->toPlainText().contains(QStringLiteral("mPos: (70000000.298023,")),
                 qPrintable(dlg.output()->toPlainText()));
    }
};

QTEST_MAIN(Roundings)
#include "tst_roundings.moc"
