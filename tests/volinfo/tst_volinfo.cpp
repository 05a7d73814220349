#include "Busy.h"
#include "ControlDock.h"
#include "Progress.h"
#include "TestSupport.h"
#include "VolInfo.h"
#include "Volume.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>

using namespace testsupport;

namespace {

// 6 x 4 points, world position (1 + 2x, 5 + 3y): extent (1, 5) .. (11, 14). Flow (x, 10y, -1),
// channels x + 0.5 and 2y: every bilinear sample at hundredths that are multiples of 0.25
// is exact, so whole report texts can be compared.
QString writeSmall(const QTemporaryDir &dir, const QString &name, int channels)
{
    return writeDataset(dir, name, 6, 4, 1, channels, [channels](int x, int y, int, float pos[3], float d[3], float *v) {
        pos[0] = 1.0f + 2.0f * x;
        pos[1] = 5.0f + 3.0f * y;
        pos[2] = 0.0f;
        d[0] = float(x);
        d[1] = 10.0f * y;
        d[2] = -1.0f;
        if (channels == 2) {
            v[0] = x + 0.5f;
            v[1] = 2.0f * y;
        }
    });
}

// Any dims; position (x, 100 + y), flow (x, y, 0), one channel.
QString writePlain(const QTemporaryDir &dir, const QString &name, int dimX, int dimY)
{
    return writeDataset(dir, name, dimX, dimY, 1, 1, [](int x, int y, int, float pos[3], float d[3], float *v) {
        pos[0] = float(x);
        pos[1] = 100.0f + y;
        pos[2] = 0.0f;
        d[0] = float(x);
        d[1] = float(y);
        d[2] = 0.0f;
        v[0] = 0.0f;
    });
}

QString report(const VolInfo &dlg) { return dlg.output()->toPlainText(); }

void dial(VolInfo &dlg, int x, int xFrac, int y, int yFrac)
{
    dlg.xSpin()->setValue(x);
    dlg.xFracSpin()->setValue(xFrac);
    dlg.ySpin()->setValue(y);
    dlg.yFracSpin()->setValue(yFrac);
}

// A control dock whose file dialog answers with a preset file.
class ScriptedDock : public ControlDock
{
public:
    QString next;
    void click(const QString &text)
    {
        for (QPushButton *b : findChildren<QPushButton *>())
            if (b->text() == text)
                QTest::mouseClick(b, Qt::LeftButton);
    }

protected:
    QString askForDataset() override { return next; }
};

// Acts once, in the middle of a load, when the loader reports its first row.
struct MidLoad : Progress::Observer
{
    std::function<void()> act;
    void opened(const QString &, int, int) override {}
    void valueSet(int) override
    {
        if (act)
            std::exchange(act, nullptr)();
    }
    void closed() override {}
};

} // namespace

class TestVolInfo : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;

private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    void reportAtConstructionAndLayout()
    {
        loadLikeTheDock(writeSmall(mDir, "a.gri", 2));
        VolInfo dlg;
        QCOMPARE(report(dlg), QStringLiteral("(0.000000x0.000000): \n"
                                             "  mPos: (1.000000,5.000000,0.000000) \n"
                                             "  mDir: (0.000000,0.000000,-1.000000) \n"
                                             "  Value 0: 0.500000 \n"
                                             "  Value 1: 0.000000 \n"
                                             "  outPutPos: (0.000000,0.000000,0.000000)"));
        QCOMPARE(dlg.xSpin()->maximum(), 6);
        QCOMPARE(dlg.ySpin()->maximum(), 4);
        QCOMPARE(dlg.xFracSpin()->maximum(), 100);
        QCOMPARE(dlg.yFracSpin()->maximum(), 100);
        QCOMPARE(dlg.windowTitle(), QString());
        QVERIFY(!dlg.isModal());

        // One column, one widget per row, in reading order.
        auto *grid = qobject_cast<QGridLayout *>(dlg.layout());
        QVERIFY(grid);
        QCOMPARE(grid->columnCount(), 1);
        QCOMPARE(grid->rowCount(), 9);
        auto textAt = [&](int row) { return qobject_cast<QLabel *>(grid->itemAtPosition(row, 0)->widget())->text(); };
        QCOMPARE(grid->itemAtPosition(0, 0)->widget(), dlg.informationLabel());
        QCOMPARE(textAt(1), QString());
        QCOMPARE(textAt(2), QStringLiteral("X-Position:"));
        QCOMPARE(grid->itemAtPosition(3, 0)->widget(), dlg.xSpin());
        QCOMPARE(grid->itemAtPosition(4, 0)->widget(), dlg.xFracSpin());
        QCOMPARE(textAt(5), QStringLiteral("Y-Position:"));
        QCOMPARE(grid->itemAtPosition(6, 0)->widget(), dlg.ySpin());
        QCOMPARE(grid->itemAtPosition(7, 0)->widget(), dlg.yFracSpin());
        QCOMPARE(grid->itemAtPosition(8, 0)->widget(), dlg.output());
    }

    void reportFollowsEverySpinBox()
    {
        loadLikeTheDock(writeSmall(mDir, "a.gri", 2));
        VolInfo dlg;
        dial(dlg, 3, 25, 0, 0);
        QCOMPARE(report(dlg), QStringLiteral("(3.250000x0.000000): \n"
                                             "  mPos: (7.500000,5.000000,0.000000) \n"
                                             "  mDir: (3.250000,0.000000,-1.000000) \n"
                                             "  Value 0: 3.750000 \n"
                                             "  Value 1: 0.000000 \n"
                                             "  outPutPos: (3.600000,0.000000,0.000000)"));
        dlg.ySpin()->setValue(1);
        dlg.yFracSpin()->setValue(50);
        QVERIFY(report(dlg).startsWith(QStringLiteral("(3.250000x1.500000): \n  mPos: (7.500000,9.500000,0.000000) \n")));

        // 100 hundredths reach the next whole position.
        dial(dlg, 2, 100, 1, 100);
        const QString viaHundredths = report(dlg);
        dial(dlg, 3, 0, 2, 0);
        QCOMPARE(viaHundredths, report(dlg));
        QVERIFY(viaHundredths.startsWith(QStringLiteral("(3.000000x2.000000): \n")));
    }

    // The position is single precision: 300.37 is the float 300.36999511..., and that is
    // also where the dataset is sampled.
    void positionIsSinglePrecision()
    {
        loadLikeTheDock(writePlain(mDir, "wide.gri", 400, 2));
        VolInfo dlg;
        dial(dlg, 300, 37, 0, 0);
        QVERIFY(report(dlg).startsWith(QStringLiteral("(300.369995x0.000000): \n  mPos: (300.369995,100.000000,0.000000) \n")));
    }

    void oneValueLinePerChannel()
    {
        loadLikeTheDock(writeSmall(mDir, "none.gri", 0));
        VolInfo none;
        QVERIFY(!report(none).contains(QStringLiteral("Value")));
        dial(none, 4, 50, 2, 50); // corners of a mixed neighbourhood, still no channel
        QVERIFY(!report(none).contains(QStringLiteral("Value")));

        loadLikeTheDock(writeSmall(mDir, "two.gri", 2));
        VolInfo two;
        dial(two, 5, 50, 3, 50); // last column and row: three corners are zero points
        const QString r = report(two);
        QCOMPARE(r.count(QStringLiteral("  Value ")), 2);
        QVERIFY(r.contains(QStringLiteral("  Value 0: ")) && r.contains(QStringLiteral("  Value 1: ")));
    }

    void pastTheLastPointGivesZeros()
    {
        loadLikeTheDock(writeSmall(mDir, "a.gri", 2));
        VolInfo dlg;
        dial(dlg, 6, 50, 0, 0);
        // The zero point, and index (6, 0) maps the zero position: (0 - 1) * 6/10, (0 - 5) * 4/9.
        QCOMPARE(report(dlg), QStringLiteral("(6.500000x0.000000): \n"
                                             "  mPos: (0.000000,0.000000,0.000000) \n"
                                             "  mDir: (0.000000,0.000000,0.000000) \n"
                                             "  outPutPos: (-0.600000,-2.222222,0.000000)"));
        dial(dlg, 0, 0, 4, 100);
        QVERIFY(report(dlg).startsWith(QStringLiteral("(0.000000x5.000000): \n  mPos: (0.000000,0.000000,0.000000) \n")));
        QVERIFY(!report(dlg).contains(QStringLiteral("Value")));
    }

    void informationLabel()
    {
        loadLikeTheDock(writeDataset(mDir, "big.gri", 100, 50, 1, 1,
                                     [](int x, int y, int, float pos[3], float d[3], float *v) {
                                         pos[0] = 0.5f * x - 10.0f;
                                         pos[1] = 0.25f * y + 2.0f;
                                         pos[2] = 0.0f;
                                         d[0] = d[1] = d[2] = 0.0f;
                                         v[0] = 0.0f;
                                     }));
        VolInfo dlg;
        QCOMPARE(dlg.informationLabel()->text(), QStringLiteral("DatasetSize: (100 x 50)\n"
                                                                " MaxPos: (39.500000,14.250000)\n"
                                                                " MinPos: (-10.000000,2.000000)"));
        QCOMPARE(dlg.xSpin()->maximum(), 100);
        QCOMPARE(dlg.ySpin()->maximum(), 50);
    }

    void noDataset()
    {
        setVolumes(nullptr, nullptr);
        VolInfo dlg;
        QCOMPARE(report(dlg), VolInfo::noDataText());
        for (QSpinBox *s : {dlg.xSpin(), dlg.ySpin(), dlg.xFracSpin(), dlg.yFracSpin()})
            QCOMPARE(s->value(), 0);
        QCOMPARE(dlg.xSpin()->maximum(), 0);
        QCOMPARE(dlg.ySpin()->maximum(), 0);
        dlg.xFracSpin()->setValue(40);
        QCOMPARE(report(dlg), VolInfo::noDataText());
        dlg.refreshInformation();
        QCOMPARE(report(dlg), VolInfo::noDataText());

        // A failed load leaves an empty volume: no size, no extent worth showing.
        ConsoleCapture console;
        setVolumes(new Volume(), nullptr);
        loadedVolume->load(mDir.filePath("missing.gri"));
        VolInfo empty;
        QCOMPARE(report(empty), VolInfo::noDataText());
        QCOMPARE(empty.informationLabel()->text(), QStringLiteral("DatasetSize: (0 x 0)"));
        QCOMPARE(empty.xSpin()->maximum(), 0);
    }

    // Opened before any load, then after two different loads: the same dialog follows the data.
    void dockRefreshesAfterEachLoad()
    {
        ConsoleCapture console;
        setVolumes(nullptr, nullptr);
        ScriptedDock dock;
        dock.click(QStringLiteral("Volume Information"));
        VolInfo *dlg = dock.volInfo();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(report(*dlg), VolInfo::noDataText());

        dock.next = writeSmall(mDir, "first.gri", 2);
        dock.click(QStringLiteral("Load Dataset ..."));
        dock.click(QStringLiteral("Volume Information"));
        QCOMPARE(dock.volInfo(), dlg);
        QVERIFY(dlg->informationLabel()->text().startsWith(QStringLiteral("DatasetSize: (6 x 4)\n MaxPos: (11.000000,14.000000)")));
        QVERIFY(report(*dlg).startsWith(QStringLiteral("(0.000000x0.000000): \n  mPos: (1.000000,5.000000,0.000000) \n")));
        dial(*dlg, 5, 25, 4, 0);

        dock.next = writePlain(mDir, "second.gri", 10, 3);
        dock.click(QStringLiteral("Load Dataset ..."));
        dock.click(QStringLiteral("Volume Information"));
        QCOMPARE(dock.volInfo(), dlg);
        QCOMPARE(dlg->informationLabel()->text(), QStringLiteral("DatasetSize: (10 x 3)\n"
                                                                 " MaxPos: (9.000000,102.000000)\n"
                                                                 " MinPos: (0.000000,100.000000)"));
        QCOMPARE(dlg->xSpin()->maximum(), 10);
        QCOMPARE(dlg->ySpin()->maximum(), 3);
        // Values stay where the new ranges allow; y = 4 is clamped to 3.
        QCOMPARE(dlg->xSpin()->value(), 5);
        QCOMPARE(dlg->xFracSpin()->value(), 25);
        QCOMPARE(dlg->ySpin()->value(), 3);
        QVERIFY(report(*dlg).startsWith(QStringLiteral("(5.250000x3.000000): \n  mPos: (0.000000,0.000000,0.000000) \n")));
        dlg->ySpin()->setValue(1);
        QVERIFY(report(*dlg).startsWith(QStringLiteral("(5.250000x1.000000): \n  mPos: (5.250000,101.000000,0.000000) \n")));
    }

    // While busy the dialog neither reads the volume nor shows stale text as new;
    // a change and a refresh requested meanwhile both happen once the work ends.
    void busyDefersReportAndRefresh()
    {
        loadLikeTheDock(writeSmall(mDir, "a.gri", 2));
        VolInfo dlg;
        const QString before = report(dlg);
        const QString label = dlg.informationLabel()->text();
        {
            Busy::Scope busy;
            dlg.xSpin()->setValue(2);
            dlg.refreshInformation();
            dlg.xFracSpin()->setValue(50);
            QCOMPARE(report(dlg), before);
            QCOMPARE(dlg.informationLabel()->text(), label);
            loadLikeTheDock(writePlain(mDir, "b.gri", 8, 2));
        }
        QVERIFY(dlg.informationLabel()->text().startsWith(QStringLiteral("DatasetSize: (8 x 2)")));
        QVERIFY(report(dlg).startsWith(QStringLiteral("(2.500000x0.000000): \n  mPos: (2.500000,100.000000,0.000000) \n")));
    }

    // A real load through the dock processes events: a spin box change arriving in the middle
    // of it waits for the finished volume.
    void spinChangeDuringDockLoad()
    {
        ConsoleCapture console;
        ScriptedDock dock;
        dock.next = writeSmall(mDir, "first.gri", 2);
        dock.click(QStringLiteral("Load Dataset ..."));
        dock.click(QStringLiteral("Volume Information"));
        VolInfo *dlg = dock.volInfo();
        const QString before = report(*dlg);

        MidLoad mid;
        QString seenDuringLoad;
        mid.act = [&] {
            QVERIFY(Busy::isBusy());
            dlg->xSpin()->setValue(1);
            seenDuringLoad = report(*dlg);
        };
        Progress::setObserver(&mid);
        dock.next = writePlain(mDir, "second.gri", 10, 3);
        dock.click(QStringLiteral("Load Dataset ..."));
        Progress::setObserver(nullptr);

        QCOMPARE(seenDuringLoad, before);
        QVERIFY(report(*dlg).startsWith(QStringLiteral("(1.000000x0.000000): \n  mPos: (1.000000,100.000000,0.000000) \n")));
    }
};

QTEST_MAIN(TestVolInfo)
#include "tst_volinfo.moc"
