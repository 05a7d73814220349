// The arrow plot widget and its dialog, driven with the mouse and keyboard: defaults and Reset,
// zooming and dragging, the cached pressure background, the pictures drawn, and busy periods.

#include "arrowplot/ui/ArrowPlot.h"
#include "arrowplot/ui/ArrowPlotDialog.h"
#include "data/ui/Busy.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>


namespace {

QList<int> view(const ArrowPlot *p) { return {p->viewX1(), p->viewY1(), p->viewX2(), p->viewY2()}; }

// Check boxes are stretched to the column's width: click near the indicator.
void click(QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(8, b->height() / 2)); }

// Uniform flow (1, 1) with pressures across the ramp; loadedVolume only has to exist.
void setUniformGrid()
{
    testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 1, 0); },
                                                              [](int x, int y) { return -4.0f + 0.01f * (x + y); }));
}

} // namespace

class TestArrowPlot : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { testsupport::setVolumes(nullptr, nullptr); QVERIFY(!Busy::isBusy()); }

    // The dialog's controls and keys: defaults, Escape, Ctrl (from the dialog or a focused
    // control) until any key is released, and Reset.
    void defaultsKeysAndReset()
    {
        setUniformGrid();
        ArrowPlotDialog dialog;
        ArrowPlot *plot = dialog.plot();
        QCOMPARE(plot->size(), QSize(314, 538));
        QCOMPARE(plot->windowTitle(), QStringLiteral(".:Korvu:. Beispiel 2 :: Arrow Plot"));
        auto atDefaults = [&] {
            QVERIFY(dialog.showArrowsCheck()->isChecked() && !dialog.intensityCheck()->isChecked() && !dialog.pressureCheck()->isChecked());
            QVERIFY(dialog.whiteRadio()->isChecked() && !dialog.blackRadio()->isChecked());
            QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
            QCOMPARE(plot->zoom(), 1);
            QVERIFY(plot->showArrows() && plot->fixedLength() && !plot->showPressure() && !plot->colorsValid());
            QVERIFY(!plot->ctrlPressed() && !plot->dragging());
            QCOMPARE(plot->arrowColor(), QColor(255, 255, 255));
        };
        atDefaults();
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QTest::keyPress(&dialog, Qt::Key_Control);
        QVERIFY(plot->ctrlPressed());
        QTest::keyPress(&dialog, Qt::Key_A, Qt::ControlModifier);
        QTest::keyRelease(&dialog, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(!plot->ctrlPressed());
        QTest::keyPress(dialog.showArrowsCheck(), Qt::Key_Control);
        QVERIFY(plot->ctrlPressed());
        QTest::keyRelease(dialog.showArrowsCheck(), Qt::Key_Control);
        QVERIFY(!plot->ctrlPressed());
        click(dialog.pressureCheck());
        click(dialog.intensityCheck());
        click(dialog.blackRadio());
        click(dialog.showArrowsCheck());
        QVERIFY(plot->showPressure() && !plot->fixedLength() && !plot->showArrows());
        QCOMPARE(plot->arrowColor(), QColor(0, 0, 0));
        testsupport::rightClick(plot, 2);
        testsupport::drag(plot, QPoint(10, 10), {QPoint(30, 40)});
        QTest::keyPress(&dialog, Qt::Key_Control);
        click(dialog.resetButton());
        atDefaults();
        // Redrawn at the defaults (the lattice itself is tst_arrowrender's).
        QCOMPARE(plot->image(), arrowrender::renderPicture(gridVolume, {}));
    }

    void zoomTableAndLimits()
    {
        setUniformGrid();
        ArrowPlot plot;
        plot.show();
        plot.drawArrowPlot();
        // Ctrl + right click at zoom 1 changes and draws nothing.
        const qint64 key = plot.image().cacheKey();
        plot.setCtrlPressed(true);
        testsupport::rightClick(&plot);
        QCOMPARE(plot.zoom(), 1);
        QCOMPARE(plot.image().cacheKey(), key);
        plot.setCtrlPressed(false);

        QCOMPARE(QString::number(plot.pixelsPerUnitY(), 'f', 2), QStringLiteral("29.17"));
        // Level: cell width and height, pixels per unit across.
        const QList<QPair<int, QString>> table = {{1, "1.000 1.000 27.69"}, {2, "1.068 1.072 55.38"}, {5, "1.342 1.365 138.45"},
                                                  {10, "2.343 2.514 276.89"}, {14, "5.815 7.686 387.65"}, {15, "9.235 15.824 415.34"}};
        for (const auto &[level, cells] : table) {
            testsupport::rightClick(&plot, level - plot.zoom() + (level == 15 ? 1 : 0)); // one click past 15
            QCOMPARE(plot.zoom(), level);
            const int k = level - 1;
            QCOMPARE(view(&plot), (QList<int>{10 * k, 18 * k, 314 - 10 * k, 538 - 18 * k}));
            QCOMPARE(QStringLiteral("%1 %2 %3").arg(plot.cellWidth(), 0, 'f', 3).arg(plot.cellHeight(), 0, 'f', 3).arg(plot.pixelsPerUnitX(), 0, 'f', 2), cells);
        }
        // At the deepest zoom the lattice holds two arrows, with tails at (110, 189) and (221, 189).
        QVERIFY((plot.image().pixel(110, 189) & 0xffffff) && (plot.image().pixel(221, 189) & 0xffffff));
        plot.setCtrlPressed(true);
        testsupport::rightClick(&plot);
        QCOMPARE(view(&plot), (QList<int>{130, 234, 184, 304}));
    }

    void backgroundCache()
    {
        setUniformGrid();
        testsupport::ProgressRecorder recorder;
        ArrowPlot plot;
        plot.show();
        plot.setShowPressure(true);
        plot.drawArrowPlot();
        QCOMPARE(recorder.runs.size(), 1);
        QCOMPARE(recorder.runs[0].label, QStringLiteral("Calculating Colors ..."));
        const QImage first = plot.colorImage();
        // Toggling the background and the other settings reuses the cache.
        plot.setShowPressure(false);
        plot.drawArrowPlot();
        plot.setShowArrows(false);
        plot.setFixedLength(false);
        plot.setArrowColor(true);
        plot.setShowPressure(true);
        plot.drawArrowPlot();
        QCOMPARE(recorder.runs.size(), 1);
        QCOMPARE(plot.image(), first);
        // Zoom and pan drop it (Reset does too: see defaultsAndReset).
        testsupport::rightClick(&plot);
        QCOMPARE(recorder.runs.size(), 2);
        testsupport::drag(&plot, QPoint(10, 10), {QPoint(11, 10)});
        QCOMPARE(recorder.runs.size(), 3);
        // The same pressures loaded again keep the cache; another dataset in the same view does
        // not leave the old background under its arrows.
        setUniformGrid();
        plot.drawArrowPlot();
        QCOMPARE(recorder.runs.size(), 3);
        testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 1, 0); },
                                                                  [](int, int) { return 2.5f; }));
        plot.drawArrowPlot();
        QCOMPARE(recorder.runs.size(), 4);
        QCOMPARE(plot.colorImage().pixelColor(100, 100), QColor(61, 61, 61));
    }

    void deferredWhileBusy()
    {
        // A load is under way: loadedVolume exists, gridVolume does not yet.
        testsupport::ProgressRecorder recorder;
        ArrowPlot plot;
        plot.show();
        plot.setShowPressure(true);
        {
            Busy::Scope loading;
            testsupport::setVolumes(new Volume(), nullptr);
            plot.drawArrowPlot();
            testsupport::rightClick(&plot, 2); // the view changes at once, the drawing waits
            QCOMPARE(plot.zoom(), 3);
            QVERIFY(plot.image().isNull() && plot.viewVolume() == nullptr);
            QCOMPARE(recorder.runs.size(), 0);
            testsupport::setVolumes(loadedVolume, testsupport::makeGrid(314, 538, [](int, int) { return Vector3(0, 1, 0); },
                                                                      [](int x, int) { return -4.0f + 0.02f * x; }));
        }
        QCoreApplication::processEvents();
        // The load finished before the busy period ended: one rendering, of the latest state.
        QCOMPARE(recorder.runs.size(), 1);
        QCOMPARE(recorder.runs[0].maximum, 274);
        QVERIFY(plot.colorsValid());
    }

    // Dragging moves the view opposite to the mouse until the release. Without data the
    // widget shows the core's picture: one line of text centred on black. (The pictures with
    // data against the core's: tst_render, whose PNG and SVG are the image and painter paths.)
    void dragAndNoDataPicture()
    {
        ArrowPlot plot;
        plot.show();
        QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseMove(&plot, QPoint(105, 97));
        QCOMPARE(view(&plot), (QList<int>{-5, 3, 309, 541}));
        QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(105, 97));
        QTest::mouseMove(&plot, QPoint(200, 200)); // released: moving no longer drags
        QCOMPARE(view(&plot), (QList<int>{-5, 3, 309, 541}));
        QCOMPARE(plot.image(), arrowrender::renderPicture(nullptr, {}));
        const QRect text = testsupport::litBounds(plot.image());
        const QPoint off = text.center() - QPoint(157, 269);
        QVERIFY2(text.width() > 80 && text.height() < 30 && std::abs(off.x()) <= 3 && std::abs(off.y()) <= 3,
                 qPrintable(QStringLiteral("%1x%2 at %3,%4").arg(text.width()).arg(text.height()).arg(text.x()).arg(text.y())));
    }
};

QTEST_MAIN(TestArrowPlot)
#include "tst_arrowplot.moc"
