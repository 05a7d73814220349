// Deferred work: requests made while busy wait in one queue keyed by receiver and kind, the
// latest request of a key wins, and the queue drains from the event loop one request at a time.

#include "data/ui/Busy.h"
#include "data/ui/ProgressDialog.h"
#include "streamlines/ui/StreamLineDialog.h"
#include "tests/support/TestSupport.h"
#include "streamlines/ui/streamlines.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

class TestBusy : public QObject
{
    Q_OBJECT

    // Lets the event loop run until nothing waits any more (bounded: a fault must not hang).
    static void drain()
    {
        for (int turn = 0; turn < 1000 && (turn == 0 || Busy::pendingCount() > 0); ++turn)
            QCoreApplication::processEvents();
    }

private slots:
    void cleanup() { drain(); testsupport::setVolumes(nullptr, nullptr); ProgressDialog::setEventIntervalMs(30); }

    // During a load: redraw, then tick "Evenlyspaced Seedpoints"; the untick arrives while
    // the deferred redraw processes events. The view must end as the box says: unticked.
    void untickDuringDeferredRedrawWins()
    {
        testsupport::setVolumes(nullptr, testsupport::makeGrid(60, 60, [](int x, int y) { return Vector3(1.0 + 0.01 * y, 0.3 - 0.01 * x, 0.0); }));
        testsupport::ConsoleCapture console;
        StreamLineDialog dialog;
        dialog.show();
        auto *evenly = dialog.findChild<QCheckBox *>("mEvenlyCheck");
        ProgressDialog::setEventIntervalMs(0); // every traced seed lets events in

        bool unticked = false;
        QTimer meddler;
        connect(&meddler, &QTimer::timeout, this, [&] {
            if (!unticked && Busy::isBusy()) {
                unticked = true;
                QTest::mouseClick(evenly, Qt::LeftButton);
            }
        });
        {
            Busy::Scope loading;
            QTest::mouseClick(dialog.findChild<QPushButton *>("mRedrawButton"), Qt::LeftButton);
            QTest::mouseClick(evenly, Qt::LeftButton);
            QVERIFY(evenly->isChecked());
            QCOMPARE(Busy::pendingCount(), 2);
        }
        meddler.start(0);
        drain();
        QVERIFY(unticked); // the untick did arrive mid-work
        QVERIFY(!evenly->isChecked() && !dialog.view()->mEvenlySpaced && dialog.view()->mEvenLines.isEmpty());
    }

    // Per key only the latest request runs, in the order the keys first asked; nothing runs
    // from the scope's end, and a gone receiver's request is dropped.
    void latestRequestWins()
    {
        QObject a, b;
        auto *gone = new QObject;
        QStringList ran;
        {
            Busy::Scope busy;
            Busy::whenIdle(&a, Busy::Render, [&] { ran << "a render 1"; });
            Busy::whenIdle(&b, Busy::Render, [&] { ran << "b render"; });
            Busy::whenIdle(gone, Busy::Render, [&] { ran << "gone"; });
            Busy::whenIdle(&a, Busy::Seeding, [&] { ran << "a seeding"; });
            Busy::whenIdle(&a, Busy::Render, [&] { ran << "a render 2"; });
            delete gone;
        }
        QVERIFY(ran.isEmpty());
        QCoreApplication::processEvents(); // one request per turn at most
        QVERIFY(ran.size() <= 1);
        drain();
        QCOMPARE(ran, (QStringList{"a render 2", "b render", "a seeding"}));
        // Idle with nothing waiting: at once.
        Busy::whenIdle(&a, [&] { ran << "now"; });
        QCOMPARE(ran.last(), QStringLiteral("now"));
    }

    // Continuous input during slow deferred work: every request is itself slow work that
    // processes events, and input keeps arriving the whole time. The work never nests.
    void nestingStaysFlatUnderContinuousInput()
    {
        QObject receiver;
        int depth = 0, deepest = 0, runs = 0, requests = 0;
        std::function<void()> work = [&] {
            ++runs;
            deepest = std::max(deepest, ++depth);
            Busy::Scope busy;
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
            --depth;
        };
        QTimer input;
        connect(&input, &QTimer::timeout, this, [&] { ++requests; Busy::whenIdle(&receiver, Busy::Render, work); });
        {
            Busy::Scope busy;
            Busy::whenIdle(&receiver, Busy::Render, work);
        }
        input.start(0);
        for (int i = 0; i < 300; ++i)
            QCoreApplication::processEvents();
        input.stop();
        drain();
        QVERIFY(runs > 10);
        QVERIFY(requests > runs); // requests made while busy were merged
        QCOMPARE(deepest, 1);
    }
};

QTEST_MAIN(TestBusy)
#include "tst_busy.moc"
