// The views' shared mouse navigation: the zoom step and its level limits, Ctrl, the drag, and
// the bounds that keep the view rectangle's corners and extents ints after any navigation.

#include "data/ui/ViewNavigator.h"

#include <QtTest>

#include <climits>

Q_DECLARE_METATYPE(ViewRect)
Q_DECLARE_METATYPE(ViewNavigator::Press)

namespace {

using Press = ViewNavigator::Press;

// 0: the arrow plot's rules (levels 1 ... 15), 1: the streamline view's (no level limit).
ViewNavigator navigator(int which)
{
    return which == 0 ? ViewNavigator(ViewRules::arrowPlot(), 15) : ViewNavigator(ViewRules::streamlines());
}

constexpr int kArrowBound = 1 << 28;
constexpr int kLineBound = (1 << 30) - 1;

} // namespace

class ViewNavigatorTest : public QObject
{
    Q_OBJECT
private slots:
    void press_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<ViewRect>("start");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("ctrl");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("size"); // w, or w = 314 and h = 538 when 0
        QTest::addColumn<Press>("done");
        QTest::addColumn<ViewRect>("view");
        QTest::addColumn<int>("zoomAfter");
        const ViewRect full{0, 0, 314, 538};
        const int right = Qt::RightButton;
        // Arrow plot: round(314 / 30) = 10 and round(538 / 30) = 18 whole cells per click.
        QTest::newRow("arrows in") << 0 << full << 1 << false << right << 0 << Press::ZoomedIn
                                   << ViewRect{10, 18, 304, 520} << 2;
        QTest::newRow("arrows out at level 1") << 0 << full << 1 << true << right << 0 << Press::None << full << 1;
        QTest::newRow("arrows in at level 15") << 0 << full << 15 << false << right << 0 << Press::None << full << 15;
        QTest::newRow("arrows out") << 0 << ViewRect{10, 18, 304, 520} << 2 << true << right << 0
                                    << Press::ZoomedOut << full << 1;
        // Streamline view: 10.47 and 17.93 in single precision, each sum truncated toward zero.
        QTest::newRow("lines in") << 1 << full << 1 << false << right << 0 << Press::ZoomedIn
                                  << ViewRect{10, 17, 303, 520} << 1;
        QTest::newRow("lines out, trunc(10 - 10.47) is 0")
            << 1 << ViewRect{10, 17, 303, 520} << 1 << true << right << 0 << Press::ZoomedOut
            << ViewRect{0, 0, 313, 537} << 1;
        QTest::newRow("lines out past the full view") << 1 << full << 1 << true << right << 0 << Press::ZoomedOut
                                                      << ViewRect{-10, -17, 324, 555} << 1;
        QTest::newRow("lines in below 2 units refused")
            << 1 << ViewRect{140, 140, 160, 160} << 1 << false << right << 300 << Press::ZoomRefused
            << ViewRect{140, 140, 160, 160} << 1;
        QTest::newRow("lines in to exactly 2 units")
            << 1 << ViewRect{139, 139, 161, 161} << 1 << false << right << 300 << Press::ZoomedIn
            << ViewRect{149, 149, 151, 151} << 1;
        QTest::newRow("middle button") << 0 << full << 2 << false << int(Qt::MiddleButton) << 0 << Press::None
                                       << full << 2;
        QTest::newRow("left starts a drag") << 1 << full << 1 << true << int(Qt::LeftButton) << 0
                                            << Press::DragStarted << full << 1;
    }

    void press()
    {
        QFETCH(int, which);
        QFETCH(ViewRect, start);
        QFETCH(int, level);
        QFETCH(bool, ctrl);
        QFETCH(int, button);
        QFETCH(int, size);
        QFETCH(Press, done);
        QFETCH(ViewRect, view);
        QFETCH(int, zoomAfter);
        ViewNavigator nav = navigator(which);
        nav.view = start;
        nav.zoom = level;
        nav.setCtrlPressed(ctrl);
        const int w = size ? size : 314;
        const int h = size ? size : 538;
        QCOMPARE(nav.press(static_cast<Qt::MouseButton>(button), QPoint(7, 9), w, h), done);
        QCOMPARE(nav.view, view);
        QCOMPARE(nav.zoom, zoomAfter);
        QCOMPARE(nav.mDragging, done == Press::DragStarted);
        QCOMPARE(nav.mCtrlPressed, ctrl); // a click never changes the Ctrl state
    }

    void drag_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<ViewRect>("start");
        QTest::addColumn<QPoint>("to"); // from (100, 100)
        QTest::addColumn<ViewRect>("view");
        const ViewRect full{0, 0, 314, 538};
        // The view moves against the mouse, one unit per pixel.
        QTest::newRow("arrows") << 0 << full << QPoint(103, 101) << ViewRect{-3, -1, 311, 537};
        QTest::newRow("lines") << 1 << full << QPoint(97, 110) << ViewRect{3, -10, 317, 528};
        // Arrow plot: both edges stop together, keeping the extent.
        QTest::newRow("arrows at the right bound")
            << 0 << ViewRect{kArrowBound - 314, 0, kArrowBound, 538} << QPoint(0, 100)
            << ViewRect{kArrowBound - 314, 0, kArrowBound, 538};
        QTest::newRow("arrows up to the top bound")
            << 0 << ViewRect{0, -kArrowBound + 5, 314, -kArrowBound + 543} << QPoint(100, 200)
            << ViewRect{0, -kArrowBound, 314, -kArrowBound + 538};
        // Streamline view: every corner is clamped on its own.
        QTest::newRow("lines at the right bound")
            << 1 << ViewRect{kLineBound - 3, 0, kLineBound, 538} << QPoint(0, 100)
            << ViewRect{kLineBound, 0, kLineBound, 538};
        QTest::newRow("lines at the top bound")
            << 1 << ViewRect{0, -kLineBound + 5, 314, 538} << QPoint(100, 200)
            << ViewRect{0, -kLineBound, 314, 438};
    }

    void drag()
    {
        QFETCH(int, which);
        QFETCH(ViewRect, start);
        QFETCH(QPoint, to);
        QFETCH(ViewRect, view);
        ViewNavigator nav = navigator(which);
        nav.view = start;
        QVERIFY(!nav.move(to)); // no drag in progress: nothing moves
        QCOMPARE(nav.view, start);
        QCOMPARE(nav.press(Qt::LeftButton, QPoint(100, 100), 314, 538), Press::DragStarted);
        QVERIFY(nav.move(to));
        QCOMPARE(nav.view, view);
        QVERIFY(nav.move(to)); // the same position again: a move by nothing
        QCOMPARE(nav.view, view);
        nav.release();
        QVERIFY(!nav.move(QPoint(0, 0)));
        QCOMPARE(nav.view, view);
    }

    void resetRestoresTheFullView()
    {
        ViewNavigator nav = navigator(0);
        nav.setCtrlPressed(true);
        nav.press(Qt::LeftButton, QPoint(1, 1), 314, 538);
        nav.view = ViewRect{5, 6, 7, 8};
        nav.zoom = 9;
        nav.reset(314, 538);
        QCOMPARE(nav.view, (ViewRect{0, 0, 314, 538}));
        QVERIFY(nav.zoom == 1 && !nav.mCtrlPressed && !nav.mDragging);
    }

    // Far zooming out and dragging to the bounds, with the largest widget size: every corner
    // and every extent stays an int (the streamline view's corners once reached +-2^30, whose
    // difference is 2^31).
    void extremeNavigationStaysInInt_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("arrows") << 0;
        QTest::newRow("lines") << 1;
    }

    void extremeNavigationStaysInInt()
    {
        QFETCH(int, which);
        ViewNavigator nav = navigator(which);
        QVERIFY(2LL * nav.rules().bound <= INT_MAX);
        const int big = (1 << 24) - 1; // the largest widget side
        const auto check = [&nav](const char *step) {
            const ViewRect &v = nav.view;
            const long long w = static_cast<long long>(v.x2) - v.x1;
            const long long h = static_cast<long long>(v.y2) - v.y1;
            QVERIFY2(w >= INT_MIN && w <= INT_MAX && h >= INT_MIN && h <= INT_MAX, step);
            QCOMPARE(v.width(), static_cast<int>(w));
            QCOMPARE(v.height(), static_cast<int>(h));
        };
        nav.reset(big, big);
        for (int i = 0; i < 14; ++i) // the arrow plot zooms out only as far as it zoomed in
            nav.press(Qt::RightButton, QPoint(), big, big);
        nav.setCtrlPressed(true);
        const int far = 1 << 30;
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; i < 40; ++i)
                nav.press(Qt::RightButton, QPoint(), big, big);
            check("zoomed out");
            for (const QPoint to : {QPoint(-far, -far), QPoint(far, far), QPoint(far, -far), QPoint(-far, far)}) {
                QCOMPARE(nav.press(Qt::LeftButton, QPoint(0, 0), big, big), Press::DragStarted);
                for (int i = 0; i < 3; ++i) {
                    nav.mLastMousePos = QPoint(0, 0);
                    nav.move(to);
                    check("dragged");
                }
                nav.release();
            }
        }
        if (which == 1) {
            // The whole bounded square, then zoomed out: the corners stay at the bounds.
            nav.view = ViewRect{-kLineBound, -kLineBound, kLineBound, kLineBound};
            QCOMPARE(nav.press(Qt::RightButton, QPoint(), big, big), Press::ZoomedOut);
            QCOMPARE(nav.view, (ViewRect{-kLineBound, -kLineBound, kLineBound, kLineBound}));
            QCOMPARE(nav.view.width(), 2 * kLineBound);
        }
    }
};

QTEST_APPLESS_MAIN(ViewNavigatorTest)
#include "tst_viewnavigator.moc"
