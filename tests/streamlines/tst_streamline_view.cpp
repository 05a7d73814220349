// The streamline view widget: its size, zoom and drag, renderings on release, the Busy rule
// and the progress dialog.

#include "Busy.h"
#include "ControlDock.h"
#include "Flows.h"
#include "StreamlineRender.h"
#include "TestSupport.h"
#include "streamlines.h"

#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace testsupport;

namespace {

Volume *uniformGrid(int w, int h)
{
    return makeGrid(w, h, [](int, int) { return Vector3(1, 0.25, 0); });
}

ViewRect rectOf(const streamlines &v)
{
    return v.viewRect();
}

void rightClick(QWidget *w)
{
    QTest::mouseClick(w, Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
}

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint pos)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

int drawings(const ProgressRecorder &r)
{
    int n = 0;
    for (const auto &run : r.runs)
        n += run.label == QLatin1String("Drawing Image...");
    return n;
}

} // namespace

// Found by argument-dependent lookup when a comparison of rectangles fails.
char *toString(const ViewRect &r)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3, %4)").arg(r.x1).arg(r.y1).arg(r.x2).arg(r.y2));
}

class StreamlineViewTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        setVolumes(nullptr, nullptr);
        Progress::setShowDelayMs(300);
        Progress::setEventIntervalMs(30);
    }

    void noDataGivesTheFixedDefaultSize()
    {
        ConsoleCapture console;
        streamlines view;
        QCOMPARE(view.size(), QSize(314, 538));
        QCOMPARE(view.minimumSize(), view.maximumSize());
        QCOMPARE(rectOf(view), (ViewRect{0, 0, 314, 538}));
        QCOMPARE(view.getImage().size(), QSize(314, 538));
        QCOMPARE(view.getImage().pixel(3, 3), qRgba(128, 0, 0, 255));
        QCOMPARE(view.getImage().pixel(310, 530), qRgba(128, 0, 0, 255));
        // The reset's regular seeding still ran: 54 hyphens, 100 seeds, no points.
        QVERIFY(console.lines().contains(QString(54, QLatin1Char('-'))));
        QVERIFY(console.lines().contains(QStringLiteral("generated  0 Points")));
        QCOMPARE(view.mSeedPoints.size(), 100);

        // Clicks without data zoom and render the no-data picture again, and nothing breaks.
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        rightClick(&view);
        QCOMPARE(view.getImage().pixel(3, 3), qRgba(128, 0, 0, 255));
    }

    void emptyGridCountsAsNoData()
    {
        setVolumes(new Volume(), new Volume(0, 0, 1));
        streamlines view;
        QCOMPARE(view.size(), QSize(314, 538));
        QCOMPARE(view.getImage().pixel(0, 0), qRgba(128, 0, 0, 255));
        view.computeSeedPoints(true); // evenly spaced without data: empty lists, no crash
        QVERIFY(view.mEvenlySpaced);
        QVERIFY(view.mSeedPoints.isEmpty() && view.mEvenLines.isEmpty());
        view.drawStreamLines();
        QCOMPARE(view.getImage().pixel(0, 0), qRgba(128, 0, 0, 255));
    }

    void sizedToTheGridWithDefaults()
    {
        setVolumes(nullptr, uniformGrid(300, 200));
        streamlines view;
        QCOMPARE(view.size(), QSize(300, 200));
        QCOMPARE(view.minimumSize(), QSize(300, 200));
        QCOMPARE(view.maximumSize(), QSize(300, 200));
        QCOMPARE(view.mDt, 1.55);
        QCOMPARE(view.mMaxLength, 200);
        QCOMPARE(view.mIntegrationMethod, 0);
        QCOMPARE(view.mSeedsX, 10);
        QCOMPARE(view.mSeedsY, 10);
        QCOMPARE(view.mDSep, 30.0f);
        QCOMPARE(view.mDTest, 0.5f);
        QVERIFY(!view.mAntialiased && !view.mEvenlySpaced && !view.mCtrlPressed && !view.mDragging);
        QCOMPARE(rectOf(view), (ViewRect{0, 0, 300, 200}));
        const QImage img = view.getImage();
        QCOMPARE(img.size(), QSize(300, 200));
        QCOMPARE(img.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(view.mPolylines.size(), 100);
        QCOMPARE(img.pixel(1, 1), qRgba(255, 255, 255, 255)); // the first seed
        QCOMPARE(img.pixel(0, 0), qRgba(0, 0, 0, 255));
    }

    void seedsAndLinesOnAHundredGrid()
    {
        setVolumes(nullptr, uniformGrid(100, 100));
        streamlines view;
        QCOMPARE(view.mSeedPoints.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(view.mSeedPoints[i], Vector3(1 + 10 * (i / 10), 1 + 10 * (i % 10), 0));
            QCOMPARE(view.mPolylines[i].first(), QPoint(1 + 10 * (i / 10), 1 + 10 * (i % 10)));
        }
    }

    void zoomArithmeticOnA314View()
    {
        setVolumes(nullptr, uniformGrid(314, 538));
        streamlines view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        rightClick(&view);
        QCOMPARE(rectOf(view), (ViewRect{10, 17, 303, 520}));
        view.setCtrlPressed(true);
        rightClick(&view);
        QCOMPARE(rectOf(view), (ViewRect{0, 0, 313, 537})); // trunc(10 - 10.47) is 0, not -1
        view.resetParameters();
        view.setCtrlPressed(true);
        rightClick(&view);
        QCOMPARE(rectOf(view), (ViewRect{-10, -17, 324, 555}));
        // The rendering after the zoom-in places 100 seeds inside the smaller rectangle.
        view.resetParameters();
        rightClick(&view);
        QCOMPARE(view.mSeedPoints.size(), 100);
        QCOMPARE(view.mSeedPoints.first(), Vector3(11, 18, 0));
    }

    void zoomInStopsAtTwoUnitsButZoomOutGoesOn()
    {
        setVolumes(nullptr, uniformGrid(300, 300));
        streamlines view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int i = 1; i <= 14; ++i) {
            rightClick(&view);
            QCOMPARE(rectOf(view), (ViewRect{10 * i, 10 * i, 300 - 10 * i, 300 - 10 * i})); // exactly 10 a click
        }
        ConsoleCapture console;
        rightClick(&view); // would leave 0 x 0
        QCOMPARE(rectOf(view), (ViewRect{140, 140, 160, 160}));
        QVERIFY(console.contains(QStringLiteral("Zoom in refused")));
        QVERIFY(!view.getImage().isNull());
        QCOMPARE(view.mSeedPoints.size(), 100);
        view.setCtrlPressed(true);
        rightClick(&view);
        QCOMPARE(rectOf(view), (ViewRect{130, 130, 170, 170}));

        // A narrow grid: the refusal looks at each axis.
        setVolumes(nullptr, uniformGrid(300, 40));
        streamlines narrow;
        narrow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&narrow));
        for (int i = 0; i < 40; ++i)
            rightClick(&narrow);
        QVERIFY(narrow.mViewY2 - narrow.mViewY1 >= kMinViewExtent);
        QVERIFY(narrow.mViewX2 - narrow.mViewX1 >= kMinViewExtent);
    }

    void dragMovesOppositeToTheMouseAndRendersOnRelease()
    {
        setVolumes(nullptr, uniformGrid(314, 538));
        streamlines view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        ProgressRecorder recorder;
        sendMouse(&view, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPoint(100, 100));
        QVERIFY(view.mDragging);
        sendMouse(&view, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, QPoint(103, 101));
        sendMouse(&view, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, QPoint(105, 103));
        QCOMPARE(drawings(recorder), 0); // nothing is rendered while dragging
        QCOMPARE(rectOf(view), (ViewRect{-5, -3, 309, 535}));
        sendMouse(&view, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, QPoint(105, 103));
        QVERIFY(!view.mDragging);
        QCOMPARE(drawings(recorder), 1);
        // The first seed now sits at grid (-4, -2), outside: its line is empty.
        QCOMPARE(view.mSeedPoints.first(), Vector3(-4, -2, 0));
        QVERIFY(view.mPolylines.first().isEmpty());
        // Moves without a pressed left button do nothing.
        sendMouse(&view, QEvent::MouseMove, Qt::NoButton, Qt::NoButton, QPoint(10, 10));
        QCOMPARE(rectOf(view), (ViewRect{-5, -3, 309, 535}));
    }

    void otherButtonsOnlyRender()
    {
        setVolumes(nullptr, uniformGrid(120, 90));
        streamlines view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        ProgressRecorder recorder;
        QTest::mouseClick(&view, Qt::MiddleButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(rectOf(view), (ViewRect{0, 0, 120, 90}));
        QCOMPARE(drawings(recorder), 1);
        QTest::mouseClick(&view, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(drawings(recorder), 2); // the zoom shows at the release
    }

    void negativeDtIsTracedForwardAndLeftPositive()
    {
        setVolumes(nullptr, makeGrid(100, 100, [](int x, int y) { return Vector3(1 + 0.01 * y, 0.2 - 0.004 * x, 0); }));
        streamlines view;
        const QVector<QPolygon> forward = view.mPolylines;
        view.mDt = -1.55;
        view.drawStreamLines();
        QCOMPARE(view.mDt, 1.55);
        QCOMPARE(view.mPolylines, forward);
        // Parameters wait for the rendering: a new length shows only when drawn.
        view.mMaxLength = 3;
        QCOMPARE(view.mPolylines.first().size(), forward.first().size());
        view.drawStreamLines();
        QCOMPARE(view.mPolylines.first().size(), 3);
    }

    void evenlySpacedLinesAreRemappedNotRecomputed()
    {
        setVolumes(nullptr, uniformGrid(100, 100));
        streamlines view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.computeSeedPoints(true);
        QVERIFY(view.mEvenlySpaced);
        // Whatever the seeding stored is drawn as stored; give it known lines.
        view.mEvenLines = {{Vector3(10, 10, 0), Vector3(40, 10, 0)}, {Vector3(10, 50, 0), Vector3(80, 90, 0)}};
        const QVector<Vector3> seeds = view.mSeedPoints;
        view.drawStreamLines();
        QCOMPARE(view.mPolylines.size(), 2);
        QCOMPARE(view.mPolylines[0], QPolygon({QPoint(10, 10), QPoint(40, 10)}));
        QCOMPARE(view.getImage().pixel(25, 10), qRgba(255, 255, 255, 255));
        rightClick(&view); // 100 / 30 = 3.33: rectangle 3..97
        QCOMPARE(view.mEvenLines.size(), 2);
        QCOMPARE(view.mSeedPoints, seeds);
        QCOMPARE(view.mPolylines[0].first(), PixelMapping(ViewRect{3, 3, 97, 97}, 100, 100).map(10, 10));
    }

    void seedingRunWritesItsConsoleFrame()
    {
        setVolumes(nullptr, uniformGrid(100, 100));
        streamlines view;
        ConsoleCapture console;
        view.computeSeedPoints(false);
        QCOMPARE(console.lines(), QStringList({QString(54, QLatin1Char('-')), QStringLiteral("generated  0 Points")}));
        // The evenly spaced branch opens and closes the same way, whatever it traced.
        console.clear();
        view.computeSeedPoints(true);
        QCOMPARE(console.lines().first(), QString(54, QLatin1Char('-')));
        QVERIFY(console.lines().last().startsWith(QLatin1String("generated  ")));
        QVERIFY(console.lines().last().endsWith(QLatin1String(" Points")));
        view.drawStreamLines(); // draws whatever is stored; must not crash
        view.computeSeedPoints(false);
        QVERIFY(!view.mEvenlySpaced);
        QCOMPARE(view.mSeedPoints.size(), 100);
        QVERIFY(view.mEvenLines.isEmpty());
    }

    void renderingWaitsWhileBusy()
    {
        setVolumes(nullptr, uniformGrid(100, 100));
        streamlines view;
        ProgressRecorder recorder;
        const int firstLength = view.mPolylines.first().size();
        QVERIFY(firstLength > 2);
        {
            Busy::Scope busy;
            view.mMaxLength = 2;
            view.drawStreamLines();
            view.drawStreamLines(); // a second request replaces the first
            view.computeSeedPoints(true);
            view.computeSeedPoints(false); // the latest seeding request wins
            QCOMPARE(drawings(recorder), 0);
            QCOMPARE(view.mPolylines.first().size(), firstLength); // still the first picture
        }
        QCOMPARE(drawings(recorder), 1);
        QCOMPARE(view.mPolylines.first().size(), 2);
        QVERIFY(!view.mEvenlySpaced);
    }

    void renderingRequestedDuringALoadWaitsForIt()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("channel.gri"));
        QVERIFY(flows::write(QStringLiteral("channel"), file));
        streamlines view; // built before any data: 314 x 538
        ControlDock dock;
        Progress::setEventIntervalMs(0); // the load processes events at every step
        ProgressRecorder recorder;
        bool sawHalfLoad = false;
        // Fires from inside the load's event processing.
        QTimer::singleShot(0, &view, [&] {
            sawHalfLoad = Busy::isBusy();
            view.drawStreamLines();
        });
        dock.loadDataset(file);
        QVERIFY(sawHalfLoad);
        QVERIFY(gridVolume && gridVolume->pointCount() > 0);
        // Exactly one rendering, after the load's own progress dialogs closed.
        QCOMPARE(drawings(recorder), 1);
        QCOMPARE(recorder.runs.last().label, QStringLiteral("Drawing Image..."));
        for (const auto &run : recorder.runs)
            QVERIFY(run.closed);
        QCOMPARE(view.mPolylines.size(), view.mSeedPoints.size());
        QVERIFY(!view.mPolylines.isEmpty());
    }

    void progressIsNeverLeftOpen()
    {
        setVolumes(nullptr, uniformGrid(200, 200));
        Progress::setShowDelayMs(0); // show the dialog even for this short work
        streamlines view;
        ProgressRecorder recorder;
        view.drawStreamLines();
        QCOMPARE(drawings(recorder), 1);
        const auto &run = recorder.runs.last();
        QCOMPARE(run.minimum, 0);
        QCOMPARE(run.maximum, 100);
        QCOMPARE(run.values.size(), 100);
        QCOMPARE(run.values.last(), 99);
        QVERIFY(run.closed);
        QVERIFY(!Progress::dialogVisible());
        view.computeSeedPoints(true);
        view.drawStreamLines();
        QVERIFY(recorder.runs.last().closed);
        QVERIFY(!Progress::dialogVisible());
    }

    void paintShowsTheImage()
    {
        setVolumes(nullptr, uniformGrid(120, 80));
        streamlines view;
        view.mAntialiased = true;
        view.drawStreamLines();
        const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shown.size(), QSize(120, 80));
        QCOMPARE(shown, view.getImage());
    }
};

QTEST_MAIN(StreamlineViewTest)
#include "tst_streamline_view.moc"
