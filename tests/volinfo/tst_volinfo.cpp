#include "data/ui/Busy.h"
#include "tests/support/ScriptedDock.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"

#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>

using namespace testsupport;

namespace {

// World position (1 + 2x, 5 + 3y), flow (x, 10y, -1), channels x + 0.5 and 2y: every bilinear
// sample at hundredths that are multiples of 0.25 is exact, so whole report texts can be compared.
QString write(const QTemporaryDir &dir, const QString &name, int dimX, int dimY, int channels)
{
    return writeDataset(dir, name, dimX, dimY, 1, channels, [channels](int x, int y, int, float pos[3], float d[3], float *v) {
        pos[0] = 1.0f + 2.0f * x;
        pos[1] = 5.0f + 3.0f * y;
        d[0] = float(x);
        d[1] = 10.0f * y;
        d[2] = -1.0f;
        for (int c = 0; c < channels; ++c)
            v[c] = c == 0 ? x + 0.5f : 2.0f * y;
    });
}

QString report(const VolInfo &dlg) { return dlg.output()->toPlainText(); }

void dial(VolInfo &dlg, int x, int xFrac, int y, int yFrac)
{
    for (auto [spin, value] : {std::pair(dlg.xSpin(), x), {dlg.xFracSpin(), xFrac}, {dlg.ySpin(), y}, {dlg.yFracSpin(), yFrac}})
        spin->setValue(value);
}

} // namespace

class TestVolInfo : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;

private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    void reportFollowsThePosition()
    {
        loadLikeTheDock(write(mDir, "a.gri", 6, 4, 2));
        VolInfo dlg;
        QCOMPARE(report(dlg), "(0.000000x0.000000): \n  mPos: (1.000000,5.000000,0.000000) \n  mDir: (0.000000,0.000000,-1.000000) \n"
                              "  Value 0: 0.500000 \n  Value 1: 0.000000 \n  outPutPos: (0.000000,0.000000,0.000000)");
        dial(dlg, 3, 25, 0, 0);
        QCOMPARE(report(dlg), "(3.250000x0.000000): \n  mPos: (7.500000,5.000000,0.000000) \n  mDir: (3.250000,0.000000,-1.000000) \n"
                              "  Value 0: 3.750000 \n  Value 1: 0.000000 \n  outPutPos: (3.600000,0.000000,0.000000)");
        dial(dlg, 2, 100, 1, 100); // 100 hundredths reach the next whole position
        const QString viaHundredths = report(dlg);
        dial(dlg, 3, 0, 2, 0);
        QCOMPARE(viaHundredths, report(dlg));
        // Past the last point: the zero point, whose position (0, 0) maps to (0 - 1) * 6/10, (0 - 5) * 4/9.
        dial(dlg, 6, 50, 0, 0);
        QCOMPARE(report(dlg), "(6.500000x0.000000): \n  mPos: (0.000000,0.000000,0.000000) \n"
                              "  mDir: (0.000000,0.000000,0.000000) \n  outPutPos: (-0.600000,-2.222222,0.000000)");
    }

    // Opened before any load, then after two loads (the second without channels): the same
    // dialog follows the data.
    void dockRefreshesAfterEachLoad()
    {
        ConsoleCapture console;
        ScriptedDock dock;
        clickButton(&dock, "Volume Information");
        VolInfo *dlg = dock.volInfo();
        QCOMPARE(report(*dlg), VolInfo::noDataText());
        dock.answers = {write(mDir, "first.gri", 6, 4, 2)};
        clickButton(&dock, "Load Dataset ...");
        clickButton(&dock, "Volume Information");
        dial(*dlg, 5, 25, 1, 0);
        dock.answers = {write(mDir, "second.gri", 100, 50, 0)};
        clickButton(&dock, "Load Dataset ...");
        clickButton(&dock, "Volume Information");
        QCOMPARE(dock.volInfo(), dlg);
        QCOMPARE(dlg->informationLabel()->text(), "DatasetSize: (100 x 50)\n MaxPos: (199.000000,152.000000)\n"
                                                  " MinPos: (1.000000,5.000000)");
        dlg->yFracSpin()->setValue(50);
        QVERIFY(report(*dlg).startsWith("(5.250000x1.500000): \n  mPos: (11.500000,9.500000,0.000000) \n"
                                        "  mDir: (5.250000,15.000000,-1.000000) \n  outPutPos: "));
    }

    // While busy the dialog neither reads the volume nor shows stale text as new; a change and
    // a refresh requested meanwhile both happen once the work ends.
    void busyDefersReportAndRefresh()
    {
        loadLikeTheDock(write(mDir, "a.gri", 6, 4, 2));
        VolInfo dlg;
        const QString before = report(dlg), label = dlg.informationLabel()->text();
        {
            Busy::Scope busy;
            dlg.xSpin()->setValue(2);
            dlg.refreshInformation();
            dlg.xFracSpin()->setValue(50);
            QCOMPARE(report(dlg), before);
            QCOMPARE(dlg.informationLabel()->text(), label);
            loadLikeTheDock(write(mDir, "b.gri", 8, 2, 0));
        }
        QCoreApplication::processEvents();
        QVERIFY(dlg.informationLabel()->text().startsWith("DatasetSize: (8 x 2)"));
        QVERIFY(report(dlg).startsWith("(2.500000x0.000000): \n  mPos: (6.000000,5.000000,0.000000) \n"));
    }
};

QTEST_MAIN(TestVolInfo)
#include "tst_volinfo.moc"
