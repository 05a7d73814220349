// Missing data as imported files carry it (NaN flow and values): the left half of a field
// is missing. No view may draw there, turn NaN into pixel coordinates or crash.

#include "arrowplot/ui/ArrowPlot.h"
#include "streamlines/StreamlineRender.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"
#include "streamlines/ui/streamlines.h"

#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

#include <cmath>

constexpr int kDimX = 120, kDimY = 100, kMissingBelowX = 60;

class TestMissingData : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    testsupport::ConsoleCapture mQuiet; // the views' console trace

private slots:
    // Flow (-1, 0.3), towards the missing half; pressure -1 where there is data.
    void initTestCase()
    {
        const QString grid = mDir.filePath(QStringLiteral("half.gri"));
        QVERIFY(dataset::write(grid, kDimX, kDimY, 1, 2, [](int x, int y, int, float *pos, float *dir, float *v) {
            const bool gone = x < kMissingBelowX;
            pos[0] = float(x);
            pos[1] = float(y);
            dir[0] = v[0] = gone ? NAN : -1.0f;
            dir[1] = gone ? NAN : 0.3f;
            v[1] = gone ? NAN : 1000.0f;
        }));
        testsupport::loadLikeTheDock(grid);
        QVERIFY(gridVolume && std::isnan(gridVolume->getAt(10, 10, 0).mDir.x));
    }
    void cleanupTestCase() { testsupport::setVolumes(nullptr, nullptr); }

    // Black background and no arrows over the missing half (the arrows are drawn the same
    // with or without the pressure colours); colour and arrows beside it. Arrows at column
    // 60 reach 6 cells to the left.
    void arrowPlot()
    {
        ArrowPlot plot;
        plot.show();
        plot.setShowPressure(true);
        plot.drawArrowPlot();
        QVERIFY(testsupport::litBounds(plot.image().copy(0, 0, kMissingBelowX - 8, kDimY - 2)).isNull());
        QVERIFY(!testsupport::litBounds(plot.image().copy(kMissingBelowX + 6, 0, 40, kDimY - 2)).isNull());
    }

    // A trace runs towards the gap and stops at its edge; no pixel of the regular seeds' lines
    // comes from a NaN position. (The evenly spaced seeding on missing flow: the "land" and
    // "allnan" rows of tst_evenlyspacedseeding, against the plain reference.)
    void streamlinesStopAtTheGap()
    {
        const Streamline trace = traceFixedLength(Vector3(110.5, 40.5, 0), 1.55, Euler, 200, *gridVolume);
        QVERIFY(trace.size() > 20 && trace.last().x < kMissingBelowX + 2);
        for (const Vector3 &p : trace)
            QVERIFY(std::isfinite(p.x) && std::isfinite(p.y) && p.x >= kMissingBelowX - 2);
        streamlines view; // the regular seeds, traced and drawn at once
        QVERIFY(!view.mPolylines.isEmpty());
        const QRect inside = view.getImage().rect().adjusted(-2, -2, 2, 2);
        for (const QPolygon &line : view.mPolylines)
            for (const QPoint &p : line)
                QVERIFY2(inside.contains(p), qPrintable(QStringLiteral("pixel %1, %2").arg(p.x()).arg(p.y())));
    }

    // The probe reports a missing point as missing (reports of points with data:
    // tst_volinfo's exact texts).
    void volumeInformation()
    {
        VolInfo dlg;
        dlg.xSpin()->setValue(10);
        dlg.ySpin()->setValue(10);
        const QString gap = dlg.output()->toPlainText();
        QVERIFY2(gap.contains("missing data at this position") && !gap.contains("-nan") && gap.contains("mDir: (nan,nan,"),
                 qPrintable(gap));
    }
};

QTEST_MAIN(TestMissingData)
#include "tst_missingdata.moc"
