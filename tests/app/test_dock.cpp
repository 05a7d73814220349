// The control dock: its buttons, the load trace and re-entrancy while a load processes events.

#include "Busy.h"
#include "Flows.h"
#include "ProgressDialog.h"
#include "ScriptedDock.h"
#include "TestSupport.h"

#include <QPushButton>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <unistd.h>

// What the process writes on standard output while fn runs (nothing if no file can be made).
static QByteArray stdoutOf(const std::function<void()> &fn)
{
    QTemporaryFile file;
    file.open();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    fn();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

class TestDock : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

private slots:
    void cleanup() { testsupport::setVolumes(nullptr, nullptr); }

    void buttonsAndSizes()
    {
        ControlDock dock;
        QStringList buttons; // text, and the size where it is fixed
        for (const QPushButton *b : dock.findChildren<QPushButton *>())
            buttons << b->text() + (b->minimumSize() == b->maximumSize() ? QStringLiteral(" %1x%2").arg(b->width()).arg(b->height()) : QString());
        QCOMPARE(buttons, (QStringList{"Load Dataset ... 110x25", "Arrow Plot 90x25", "Stream Lines 110x25", "Volume Information"}));
    }

    // Cancelled and one-character choices do nothing; a refused file still ends with
    // "Dataset Loaded." and empty volumes (the loader's message: tst_loaderbadinput's
    // "missing file" row); a good one prints the whole trace.
    void loadTraceAndVolumes()
    {
        const QString sample = testsupport::writeDataset(mDir, "flow.gri", 12, 9, 2, 1, [](int x, int y, int z, float p[3], float *, float *) {
            p[0] = float(x);
            p[1] = float(y);
            p[2] = float(z);
        });
        ScriptedDock dock;
        dock.answers = {QString(), QStringLiteral("x"), mDir.filePath("nothing-here.gri"), sample};
        testsupport::ConsoleCapture console;
        dock.loadClicked();
        QTest::mouseClick(testsupport::findButton(&dock, "Load Dataset ..."), Qt::LeftButton);
        QVERIFY(console.lines().isEmpty());
        QVERIFY(!loadedVolume && !gridVolume);

        dock.loadClicked();
        QCOMPARE(console.lines().last(), QStringLiteral("Dataset Loaded."));
        QVERIFY(loadedVolume && gridVolume);
        QCOMPARE(gridVolume->pointCount(), std::size_t(0));

        console.clear();
        QCOMPARE(stdoutOf([&] { QTest::mouseClick(testsupport::findButton(&dock, "Load Dataset ..."), Qt::LeftButton); }),
                 QByteArray("vorher\nnachher\n"));
        QCOMPARE(dock.asked, 4);
        QCOMPARE(console.lines(), QStringList({"Loading: " + sample, "Dataset size: 12 9 2", "additional Data: 1",
                                               "number of Timesteps: 1 0", "min: 0 0 0", "max: 11 8 0",
                                               "Dataset Loaded."}));
        // One grid layer (the dataset has two, as the trace says), with pressure added.
        QCOMPARE((QList<int>{gridVolume->getDimX(), gridVolume->getDimY(), gridVolume->getDimZ()}), (QList<int>{12, 9, 1}));
        QCOMPARE(gridVolume->getAt(3, 3, 0).mValues.size(), 2);
    }

    void noSecondLoadWhileOneRuns()
    {
        // A large dataset with events processed at every row: clicks arrive mid-load.
        const QString big = mDir.filePath("big.gri");
        QVERIFY(flows::write("uniform", big, {400, 400}));
        ProgressDialog::setEventIntervalMs(0);
        ScriptedDock dock;
        dock.answers = {big, big};
        bool sawDisabled = false;
        int nestedLoads = 0;
        QTimer poke;
        connect(&poke, &QTimer::timeout, [&] {
            if (!Busy::isBusy())
                return;
            sawDisabled = sawDisabled || !testsupport::findButton(&dock, "Load Dataset ...")->isEnabled();
            ++nestedLoads;
            dock.loadClicked(); // must be refused without asking for a file
        });
        poke.start(0);
        testsupport::ConsoleCapture console;
        dock.loadClicked();
        poke.stop();
        ProgressDialog::setEventIntervalMs(30);
        QVERIFY(nestedLoads > 0 && sawDisabled);
        QCOMPARE(dock.asked, 1);
        QCOMPARE(console.lines().filter("Loading:").size(), 1);
        QVERIFY(testsupport::findButton(&dock, "Load Dataset ...")->isEnabled());
        QCOMPARE(gridVolume->getDimX(), 400);
    }
};

QTEST_MAIN(TestDock)
#include "test_dock.moc"
