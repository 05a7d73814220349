// The control dock: its buttons, the load trace and re-entrancy while a load processes events.

#include "data/ui/Busy.h"
#include "tools/Flows.h"
#include "data/ui/ProgressDialog.h"
#include "tests/support/ScriptedDock.h"
#include "tests/support/TestSupport.h"

#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <cmath>
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

// The console's lines without the offscreen platform's own complaints (a message box shown
// makes it say "This plugin does not support propagateSizeHints()").
static QStringList trace(const testsupport::ConsoleCapture &console)
{
    QStringList lines = console.lines();
    lines.removeIf([](const QString &l) { return l.startsWith(QLatin1String("This plugin does not support")); });
    return lines;
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
        QCOMPARE(trace(console).last(), QStringLiteral("Dataset Loaded."));
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

    // A refused file: the console keeps its trace, ending with "Dataset Loaded.", and says
    // why; both volumes stay empty; a message box beside the dock, not modal, names the file
    // and the same reason, and closes with Escape or OK. A good load after it closes it.
    void refusedLoadIsShown_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("positions"); // 0 grid, 1 all at (3, 4), 2 NaN
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("closeKey"); // 0: the OK button
        QTest::newRow("missing file") << "nothing.gri" << QSize() << 0 << "Not loaded: cannot open the grid file DIR/nothing.gri" << int(Qt::Key_Escape);
        QTest::newRow("all points at one place") << "flat.gri" << QSize(20, 20) << 1
                                                 << "Not loaded: the extent is empty: all 400 points lie at (3, 4)" << 0;
        QTest::newRow("one row") << "row.gri" << QSize(20, 1) << 0
                                 << "Not loaded: the dataset is 20 x 1 points: at least 2 along x and 2 along y are needed"
                                 << int(Qt::Key_Escape);
        QTest::newRow("no finite position") << "nan.gri" << QSize(6, 5) << 2
                                            << "Not loaded: the extent is empty: all 30 positions are NaN or infinite" << 0;
    }
    void refusedLoadIsShown()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(int, positions);
        QFETCH(QString, reason);
        QFETCH(int, closeKey);
        reason.replace("DIR", mDir.path());
        const QString file = mDir.filePath(name);
        if (size.isValid())
            testsupport::writeDataset(mDir, name, size.width(), size.height(), 1, 1, [&](int x, int y, int, float p[3], float d[3], float *) {
                p[0] = positions == 1 ? 3.0f : positions == 2 ? NAN : float(x);
                p[1] = positions == 1 ? 4.0f : positions == 2 ? NAN : float(y);
                d[0] = 1.0f;
            });
        ScriptedDock dock;
        dock.show();
        dock.answers = {file, testsupport::writeDataset(mDir, "good.gri", 8, 6, 1, 1, [](int x, int y, int, float p[3], float *, float *) {
                            p[0] = float(x);
                            p[1] = float(y);
                        })};
        testsupport::ConsoleCapture console;
        dock.loadClicked();
        const QStringList lines = trace(console);
        QCOMPARE(lines.first(), "Loading: " + file);
        QVERIFY2(lines.indexOf(reason) > 0, qPrintable(lines.join('|')));
        QCOMPARE(lines.last(), QStringLiteral("Dataset Loaded."));
        QVERIFY(loadedVolume->pointCount() == 0 && gridVolume->pointCount() == 0);

        QMessageBox *box = dock.loadMessage();
        QVERIFY(box && box->isVisible() && !box->isModal() && box->windowModality() == Qt::NonModal);
        QCOMPARE(box->parentWidget(), &dock);
        QVERIFY(box->text().contains(file));
        QCOMPARE(box->informativeText(), reason);
        QVERIFY(dock.isEnabled() && testsupport::findButton(&dock, "Load Dataset ...")->isEnabled());
        if (closeKey)
            QTest::keyClick(box, Qt::Key(closeKey));
        else
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QVERIFY(!box->isVisible());
        QTRY_VERIFY(!dock.loadMessage()); // deleted once closed

        // Refused again, then a good load: its message goes.
        dock.answers.prepend(file);
        dock.loadClicked();
        QVERIFY(dock.loadMessage() && dock.loadMessage()->isVisible());
        dock.loadClicked();
        QVERIFY(loadedVolume->pointCount() == 48);
        QTRY_VERIFY(!dock.loadMessage());
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
#include "tst_dock.moc"
