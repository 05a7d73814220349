// The arrow plot widget: construction and defaults, zooming and dragging, the cached pressure
// background, the pictures it computes, and its behaviour while the program is busy.

#include "ArrowPlot.h"
#include "ArrowRender.h"
#include "ArrowTestUtil.h"
#include "Busy.h"
#include "Progress.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace arrowtest;

namespace {

// Progress dialogs in the order they open and close.
struct ProgressLog : Progress::Observer
{
    QStringList events;
    ProgressLog() { Progress::setObserver(this); }
    ~ProgressLog() override { Progress::setObserver(nullptr); }
    void opened(const QString &label, int minimum, int maximum) override
    {
        events << QStringLiteral("open %1 %2..%3").arg(label).arg(minimum).arg(maximum);
    }
    void valueSet(int) override {}
    void closed() override { events << QStringLiteral("close"); }
    int opens() const { return events.filter(QStringLiteral("open")).size(); }
};

QList<int> view(const ArrowPlot &p) { return {p.viewX1(), p.viewY1(), p.viewX2(), p.viewY2()}; }

void rightClick(ArrowPlot &p, bool ctrl = false)
{
    p.setCtrlPressed(ctrl);
    QTest::mouseClick(&p, Qt::RightButton, Qt::NoModifier, QPoint(50, 70));
}

// A grid of uniform flow (1, 1) whose pressure runs across the ramp; loadedVolume only has to
// exist for the plot to draw.
void setUniformGrid()
{
    testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 1, 0); },
                                                              [](int x, int y) { return -4.0f + 0.01f * (x + y); }));
}

// The background the plot must show for its current view, computed on the side.
QImage expectedBackground(const ArrowPlot &p)
{
    const int vw = p.viewX2() - p.viewX1(), vh = p.viewY2() - p.viewY1();
    Volume v(vw, vh, 1);
    arrowrender::copyViewCells(gridVolume, p.viewX1(), p.viewY1(), v);
    return referenceBackground(v, 314, 538, 314.0f / vw, 538.0f / vh);
}

} // namespace

class TestArrowPlot : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void construction();
    void resetRestoresDefaults();
    void zoomTable();
    void zoomLimits();
    void dragMovesTheView();
    void noDataImage();
    void arrowLatticeOnScreen();
    void arrowColours();
    void pressureBackgroundShown();
    void backgroundCacheReuseAndDrop();
    void backgroundFollowsANewDataset();
    void missingOrEmptyGrid();
    void deferredWhileBusy();
    void requestsDuringTheBackground();
    void nonFiniteFlowIsReported();

private:
    QTemporaryDir mDir;
};

void TestArrowPlot::init()
{
    Progress::setShowDelayMs(300);
    testsupport::setVolumes(nullptr, nullptr);
}

void TestArrowPlot::cleanup()
{
    Progress::setShowDelayMs(300);
    testsupport::setVolumes(nullptr, nullptr);
    QVERIFY(!Busy::isBusy());
    QVERIFY(!Progress::dialogVisible());
}

void TestArrowPlot::construction()
{
    ArrowPlot plot;
    QCOMPARE(plot.size(), QSize(314, 538));
    QCOMPARE(plot.minimumSize(), QSize(314, 538));
    QCOMPARE(plot.maximumSize(), QSize(314, 538));
    plot.resize(600, 600);
    QCOMPARE(plot.size(), QSize(314, 538));
    QCOMPARE(plot.windowTitle(), QStringLiteral(".:Korvu:. Beispiel 2 :: Arrow Plot"));
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
    QCOMPARE(plot.zoom(), 1);
    QVERIFY(!plot.ctrlPressed() && !plot.dragging() && !plot.showPressure() && !plot.colorsValid());
    QVERIFY(plot.fixedLength() && plot.showArrows());
    QCOMPARE(plot.arrowColor(), QColor(255, 255, 255));
    QCOMPARE(plot.cellWidth(), 1.0f);
    QCOMPARE(plot.cellHeight(), 1.0f);
    // Nothing is computed until someone asks.
    QVERIFY(plot.image().isNull());
    QVERIFY(plot.colorImage().isNull());
    QVERIFY(plot.viewVolume() == nullptr);
    QCOMPARE(plot.metaObject()->className(), "ArrowPlot");
}

void TestArrowPlot::resetRestoresDefaults()
{
    setUniformGrid();
    ArrowPlot plot;
    plot.show();
    plot.setShowArrows(false);
    plot.setFixedLength(false);
    plot.setShowPressure(true);
    plot.setArrowColor(true);
    plot.setCtrlPressed(false);
    rightClick(plot);
    rightClick(plot);
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    plot.setCtrlPressed(true);
    QVERIFY(plot.colorsValid());
    QCOMPARE(plot.arrowColor(), QColor(0, 0, 0));

    plot.resetParameters();
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
    QCOMPARE(plot.zoom(), 1);
    QVERIFY(!plot.ctrlPressed() && !plot.dragging() && !plot.showPressure() && !plot.colorsValid());
    QVERIFY(plot.fixedLength() && plot.showArrows());
    QCOMPARE(plot.arrowColor(), QColor(255, 255, 255));
    QCOMPARE(plot.cellWidth(), 1.0f);
}

void TestArrowPlot::zoomTable()
{
    setUniformGrid();
    ArrowPlot plot;
    plot.show();
    plot.drawArrowPlot();
    QCOMPARE(plot.pixelsPerUnitX(), 314.0f / (11.6701f - 0.3299f));
    QCOMPARE(QString::number(plot.pixelsPerUnitX(), 'f', 2), QStringLiteral("27.69"));
    QCOMPARE(QString::number(plot.pixelsPerUnitY(), 'f', 2), QStringLiteral("29.17"));

    struct Row { int level, vw, vh; const char *cw, *ch, *ppu; };
    const Row table[] = {{2, 294, 502, "1.068", "1.072", "55.38"},  {5, 234, 394, "1.342", "1.365", "138.45"},
                         {10, 134, 214, "2.343", "2.514", "276.89"}, {14, 54, 70, "5.815", "7.686", "387.65"},
                         {15, 34, 34, "9.235", "15.824", "415.34"}};
    for (const Row &r : table) {
        while (plot.zoom() < r.level)
            rightClick(plot);
        QCOMPARE(plot.zoom(), r.level);
        const int k = r.level - 1;
        QCOMPARE(view(plot), (QList<int>{10 * k, 18 * k, 314 - 10 * k, 538 - 18 * k}));
        QCOMPARE(plot.viewX2() - plot.viewX1(), r.vw);
        QCOMPARE(plot.viewY2() - plot.viewY1(), r.vh);
        QCOMPARE(plot.cellWidth(), 314.0f / static_cast<float>(r.vw));
        QCOMPARE(QString::number(plot.cellWidth(), 'f', 3), QString::fromLatin1(r.cw));
        QCOMPARE(QString::number(plot.cellHeight(), 'f', 3), QString::fromLatin1(r.ch));
        QCOMPARE(QString::number(plot.pixelsPerUnitX(), 'f', 2), QString::fromLatin1(r.ppu));
    }
    QCOMPARE(view(plot), (QList<int>{140, 252, 174, 286}));
}

void TestArrowPlot::zoomLimits()
{
    ArrowPlot plot; // no data: every step still draws the message
    plot.show();
    rightClick(plot);
    QCOMPARE(view(plot), (QList<int>{10, 18, 304, 520}));
    QCOMPARE(plot.zoom(), 2);
    rightClick(plot, true);
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
    QCOMPARE(plot.zoom(), 1);

    // Ctrl + right click at level 1: nothing changes and nothing is drawn.
    plot.drawArrowPlot();
    qint64 key = plot.image().cacheKey();
    rightClick(plot, true);
    QCOMPARE(plot.zoom(), 1);
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
    QCOMPARE(plot.image().cacheKey(), key);

    for (int i = 0; i < 14; ++i)
        rightClick(plot);
    QCOMPARE(plot.zoom(), 15);
    QCOMPARE(view(plot), (QList<int>{140, 252, 174, 286}));
    key = plot.image().cacheKey();
    rightClick(plot);
    QCOMPARE(plot.zoom(), 15);
    QCOMPARE(view(plot), (QList<int>{140, 252, 174, 286}));
    QCOMPARE(plot.image().cacheKey(), key);

    // The click position plays no part, and the middle button does nothing.
    plot.setCtrlPressed(true);
    QTest::mouseClick(&plot, Qt::RightButton, Qt::NoModifier, QPoint(300, 500));
    QCOMPARE(view(plot), (QList<int>{130, 234, 184, 304}));
    QTest::mouseClick(&plot, Qt::MiddleButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(plot.zoom(), 14);
    // The keyboard modifiers of the mouse event do not count: only the dialog's Ctrl state.
    plot.setCtrlPressed(false);
    QTest::mouseClick(&plot, Qt::RightButton, Qt::ControlModifier, QPoint(10, 10));
    QCOMPARE(plot.zoom(), 15);
}

void TestArrowPlot::dragMovesTheView()
{
    ArrowPlot plot;
    plot.show();
    // Moving without a button changes nothing.
    QTest::mouseMove(&plot, QPoint(30, 30));
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));

    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QVERIFY(plot.dragging());
    QTest::mouseMove(&plot, QPoint(105, 97));
    QCOMPARE(view(plot), (QList<int>{-5, 3, 309, 541}));
    QVERIFY(!plot.image().isNull()); // each move draws
    QTest::mouseMove(&plot, QPoint(104, 97));
    QCOMPARE(view(plot), (QList<int>{-4, 3, 310, 541}));
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(104, 97));
    QVERIFY(!plot.dragging());
    QTest::mouseMove(&plot, QPoint(200, 200));
    QCOMPARE(view(plot), (QList<int>{-4, 3, 310, 541}));

    // One cell per pixel at every zoom level; the view keeps its size.
    rightClick(plot);
    rightClick(plot);
    QCOMPARE(view(plot), (QList<int>{16, 39, 290, 505}));
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(&plot, QPoint(40, 70));
    QCOMPARE(view(plot), (QList<int>{26, 19, 300, 485}));
    // Releasing another button ends the drag too.
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(40, 70));
    QVERIFY(!plot.dragging());
}

void TestArrowPlot::noDataImage()
{
    ProgressLog log;
    ArrowPlot plot;
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(log.opens(), 0);
    const QImage image = plot.image();
    QCOMPARE(image.size(), QSize(314, 538));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    const QRect text = litBounds(image);
    QVERIFY(text.isValid());
    // One line of text, centred horizontally and vertically, the rest black.
    QVERIFY2(text.width() > 80 && text.height() < 30, qPrintable(QStringLiteral("%1x%2").arg(text.width()).arg(text.height())));
    QVERIFY(std::abs(text.center().x() - 157) <= 3);
    QVERIFY(std::abs(text.center().y() - 269) <= 3);
    bool white = false;
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x)
            white = white || image.pixel(x, y) == qRgb(255, 255, 255);
    QVERIFY(white);
    // Zoom and pan steps still draw the message.
    plot.show();
    rightClick(plot);
    QCOMPARE(litBounds(plot.image()), text);
    QVERIFY(plot.viewVolume() == nullptr);
}

void TestArrowPlot::arrowLatticeOnScreen()
{
    setUniformGrid();
    ArrowPlot plot;
    plot.show();
    plot.drawArrowPlot();
    // Each arrow is one connected glyph: 26 x 43 of them, the first with its tail at (12, 12).
    QCOMPARE(litComponents(plot.image()), 26 * 43);
    QVERIFY(!isBlack(plot.image().pixel(12, 12)));
    QVERIFY(!isBlack(plot.image().pixel(312, 516)));
    QVERIFY(isBlack(plot.image().pixel(0, 0)));
    QVERIFY(isBlack(plot.image().pixel(12, 528 + 3))); // no row at 528
    for (int i = 0; i < 14; ++i)
        rightClick(plot);
    QCOMPARE(litComponents(plot.image()), 2);
    QVERIFY(!isBlack(plot.image().pixel(110, 189)));
    QVERIFY(!isBlack(plot.image().pixel(221, 189)));
    // Arrows off: an all-black picture.
    plot.setShowArrows(false);
    plot.drawArrowPlot();
    QCOMPARE(litBounds(plot.image()), QRect());
}

void TestArrowPlot::arrowColours()
{
    setUniformGrid();
    ArrowPlot plot;
    plot.show();
    plot.drawArrowPlot();
    // Antialiased one-pixel lines on integer coordinates straddle two pixels: the shaft of
    // (1, 1) from (12, 12) covers half of (15, 15) in white.
    const QRgb shaft = plot.image().pixel(15, 15);
    QVERIFY(qRed(shaft) == qGreen(shaft) && qGreen(shaft) == qBlue(shaft) && qRed(shaft) >= 100);
    // Black arrows darken the background, white ones lighten it; elsewhere the background.
    plot.setShowPressure(true);
    plot.setArrowColor(true);
    plot.drawArrowPlot();
    const QRgb bg = plot.colorImage().pixel(15, 15);
    QRgb px = plot.image().pixel(15, 15);
    QVERIFY(qRed(px) < qRed(bg) && qGreen(px) < qGreen(bg));
    QCOMPARE(plot.image().pixel(20, 12), plot.colorImage().pixel(20, 12));
    plot.setArrowColor(false);
    plot.drawArrowPlot();
    px = plot.image().pixel(15, 15);
    QVERIFY(qRed(px) > qRed(bg) && qBlue(px) > qBlue(bg));
}

void TestArrowPlot::pressureBackgroundShown()
{
    QVERIFY(loadChannelSample(mDir));
    ArrowPlot plot;
    plot.show();
    plot.setShowPressure(true);
    plot.setShowArrows(false);
    plot.drawArrowPlot();
    QCOMPARE(firstDifference(plot.image(), expectedBackground(plot)), QString());
    QCOMPARE(firstDifference(plot.colorImage(), plot.image()), QString());
    // Zoomed and dragged past the grid's corner: cells without values are black.
    for (int i = 0; i < 9; ++i)
        rightClick(plot);
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(&plot, QPoint(200, 300));
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 300));
    QVERIFY(plot.viewX1() < 0 && plot.viewY1() < 0);
    QCOMPARE(firstDifference(plot.image(), expectedBackground(plot)), QString());
    QCOMPARE(plot.image().pixel(0, 0), qRgb(0, 0, 0));
    QVERIFY(!isBlack(plot.image().pixel(313, 537)));
    // The arrows go on top of the background.
    plot.setShowArrows(true);
    plot.drawArrowPlot();
    QVERIFY(firstDifference(plot.image(), plot.colorImage()) != QString());
}

void TestArrowPlot::backgroundCacheReuseAndDrop()
{
    QVERIFY(loadChannelSample(mDir));
    testsupport::ProgressRecorder recorder;
    ArrowPlot plot;
    plot.show();
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 1);
    QCOMPARE(recorder.runs[0].label, QStringLiteral("Calculating Colors ..."));
    QCOMPARE(recorder.runs[0].minimum, 0);
    QCOMPARE(recorder.runs[0].maximum, 314);
    QCOMPARE(recorder.runs[0].values.last(), 324);
    QVERIFY(recorder.runs[0].closed);
    QVERIFY(plot.colorsValid());
    const QImage first = plot.colorImage();

    // Toggling the background and the other settings keeps the cache.
    plot.setShowPressure(false);
    plot.drawArrowPlot();
    plot.setShowArrows(false);
    plot.setFixedLength(false);
    plot.setArrowColor(true);
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 1);
    QVERIFY(plot.colorsValid());
    QCOMPARE(plot.image(), first);

    // Zoom, pan and reset drop it.
    rightClick(plot);
    QCOMPARE(recorder.runs.size(), 2);
    QCOMPARE(recorder.runs[1].maximum, 294);
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(&plot, QPoint(11, 10));
    QCOMPARE(recorder.runs.size(), 3);
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(11, 10));
    plot.resetParameters();
    QVERIFY(!plot.colorsValid());
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 4);
    QCOMPARE(plot.colorImage(), first);
    // Without the background, zooming computes none.
    plot.setShowPressure(false);
    rightClick(plot);
    QCOMPARE(recorder.runs.size(), 4);
    QVERIFY(!plot.colorsValid());
    for (const auto &run : recorder.runs)
        QVERIFY(run.closed);
}

void TestArrowPlot::backgroundFollowsANewDataset()
{
    setUniformGrid();
    testsupport::ProgressRecorder recorder;
    ArrowPlot plot;
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 1);
    // The same pressures loaded again: the cache still fits.
    setUniformGrid();
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 1);
    // Another dataset in the same view: the old background must not stay under it.
    testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 1, 0); },
                                                              [](int x, int) { return 2.5f - 0.02f * x; }));
    plot.setShowPressure(false);
    plot.drawArrowPlot();
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QCOMPARE(recorder.runs.size(), 2);
    QVERIFY(plot.colorsValid());
    QCOMPARE(firstDifference(plot.colorImage(), expectedBackground(plot)), QString());
}

void TestArrowPlot::missingOrEmptyGrid()
{
    testsupport::ConsoleCapture console;
    ArrowPlot plot;
    plot.show();
    plot.setShowPressure(true);
    // Data "loaded" but no regular grid (as between the two steps of a first load).
    testsupport::setVolumes(new Volume(), nullptr);
    plot.drawArrowPlot();
    QCOMPARE(litBounds(plot.image()), QRect());
    QVERIFY(console.contains(QStringLiteral("regular grid holds no points")));
    QCOMPARE(plot.viewVolume()->getDimX(), 314);
    // A grid of no points (a load that failed).
    testsupport::setVolumes(new Volume(), new Volume(0, 0, 1));
    rightClick(plot);
    QCOMPARE(litBounds(plot.image()), QRect());
    // Then real data: the next computation shows it.
    setUniformGrid();
    rightClick(plot);
    QVERIFY(litBounds(plot.image()).isValid());
}

void TestArrowPlot::deferredWhileBusy()
{
    // A load is under way: loadedVolume exists, gridVolume does not yet.
    ProgressLog log;
    ArrowPlot plot;
    plot.show();
    plot.setShowPressure(true);
    {
        Busy::Scope loading;
        testsupport::setVolumes(new Volume(), nullptr);
        plot.drawArrowPlot();
        rightClick(plot);  // the view changes at once, the drawing waits
        rightClick(plot);
        QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QTest::mouseMove(&plot, QPoint(12, 10));
        QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(12, 10));
        QCOMPARE(plot.zoom(), 3);
        QVERIFY(plot.image().isNull());
        QVERIFY(plot.viewVolume() == nullptr);
        QCOMPARE(log.opens(), 0);
        // The load finishes: the grid is there before the busy period ends.
        delete gridVolume;
        gridVolume = testsupport::makeGrid(314, 538, [](int, int) { return Vector3(0, 1, 0); },
                                           [](int x, int) { return -4.0f + 0.02f * x; });
    }
    // One rendering of the latest state.
    QCOMPARE(log.opens(), 1);
    QCOMPARE(log.events.first(), QStringLiteral("open Calculating Colors ... 0..274"));
    QVERIFY(plot.colorsValid());
    QCOMPARE(view(plot), (QList<int>{18, 36, 292, 502}));
    plot.setShowArrows(false);
    plot.drawArrowPlot();
    QCOMPARE(firstDifference(plot.image(), expectedBackground(plot)), QString());
    // createViewVolume() refuses to touch the volumes while busy.
    {
        Busy::Scope other;
        const Volume *before = plot.viewVolume();
        testsupport::ConsoleCapture console;
        plot.createViewVolume();
        QCOMPARE(plot.viewVolume(), before);
        QVERIFY(console.contains(QStringLiteral("busy")));
    }
}

void TestArrowPlot::requestsDuringTheBackground()
{
    // The progress dialog processes events at once: a zoom and a pan that were waiting arrive
    // in the middle of the background computation.
    QVERIFY(loadChannelSample(mDir));
    Progress::setShowDelayMs(0);
    ProgressLog log;
    ArrowPlot plot;
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.setShowPressure(true);
    auto post = [&](QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QCoreApplication::postEvent(&plot, new QMouseEvent(type, QPointF(at), plot.mapToGlobal(QPointF(at)), button,
                                                           type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                                                           Qt::NoModifier));
    };
    post(QEvent::MouseButtonPress, Qt::RightButton, QPoint(5, 5));
    post(QEvent::MouseButtonRelease, Qt::RightButton, QPoint(5, 5));
    post(QEvent::MouseButtonPress, Qt::LeftButton, QPoint(20, 20));
    post(QEvent::MouseMove, Qt::LeftButton, QPoint(22, 21));
    post(QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(22, 21));
    plot.drawArrowPlot();
    // The computation that was running finished first; the requests were then drawn once,
    // never inside it.
    QCOMPARE(log.events, (QStringList{QStringLiteral("open Calculating Colors ... 0..314"), QStringLiteral("close"),
                                      QStringLiteral("open Calculating Colors ... 0..294"), QStringLiteral("close")}));
    QCOMPARE(plot.zoom(), 2);
    QCOMPARE(view(plot), (QList<int>{8, 17, 302, 519}));
    // The cache belongs to the view that is shown, not to the one the interrupted run began with.
    QVERIFY(plot.colorsValid());
    QCOMPARE(firstDifference(plot.colorImage(), expectedBackground(plot)), QString());
    QVERIFY(!Progress::dialogVisible());
}

void TestArrowPlot::nonFiniteFlowIsReported()
{
    testsupport::ConsoleCapture console;
    testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int x, int) {
        return x == 24 ? Vector3(std::numeric_limits<double>::quiet_NaN(), 1, 0) : Vector3(1, 0, 0);
    }));
    ArrowPlot plot;
    plot.drawArrowPlot();
    QVERIFY(console.contains(QStringLiteral("43 arrows with a non-finite flow vector")));
    QCOMPARE(litComponents(plot.image()), 25 * 43);
}

QTEST_MAIN(TestArrowPlot)
#include "tst_ArrowPlot.moc"
