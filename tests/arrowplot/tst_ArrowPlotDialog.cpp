// The arrow plot dialog: its controls and layout, what each control does to the plot, the
// Ctrl key, Reset and refreshPlot(), and the dock that opens it (also during a load).

#include "ArrowPlot.h"
#include "ArrowPlotDialog.h"
#include "ArrowTestUtil.h"
#include "Busy.h"
#include "ColorBar.h"
#include "ControlDock.h"
#include "Progress.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace arrowtest;

namespace {

struct ProgressLog : Progress::Observer
{
    QStringList events;
    ProgressLog() { Progress::setObserver(this); }
    ~ProgressLog() override { Progress::setObserver(nullptr); }
    void opened(const QString &label, int, int) override { events << QStringLiteral("open ") + label; }
    void valueSet(int) override {}
    void closed() override { events << QStringLiteral("close"); }
    int count(const QString &label) const { return events.filter(label).size(); }
};

void setUniformGrid()
{
    testsupport::setVolumes(new Volume(), testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 1, 0); },
                                                              [](int x, int y) { return -4.0f + 0.01f * (x + y); }));
}

QList<int> view(const ArrowPlot *p) { return {p->viewX1(), p->viewY1(), p->viewX2(), p->viewY2()}; }

QString describe(QLayoutItem *item)
{
    if (item->layout()) {
        QStringList parts;
        for (int i = 0; i < item->layout()->count(); ++i)
            parts << describe(item->layout()->itemAt(i));
        return QStringLiteral("[") + parts.join(QStringLiteral(" ")) + QStringLiteral("]");
    }
    QWidget *w = item->widget();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (dynamic_cast<ColorBar *>(w))
        return QStringLiteral("<bar>");
    if (auto *f = qobject_cast<QFrame *>(w))
        return QStringLiteral("<frame %1 %2x%3>").arg(f->frameStyle()).arg(f->width()).arg(f->height());
    return QStringLiteral("?");
}

// Clicks a control near its left end: the check boxes are stretched to the column's width,
// and only their indicator and text take clicks.
void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, button->height() / 2));
}

void rightClick(ArrowPlot *plot)
{
    QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(30, 30));
}

} // namespace

class TestArrowPlotDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void controlsAfterConstruction();
    void layoutAndSlots();
    void controlsDriveThePlot();
    void resetRestoresControlsAndView();
    void refreshPlotLeavesTheControls();
    void escapeDoesNotClose();
    void ctrlStateFromTheKeyboard();
    void dockOpensOnceAndRerenders();
    void requestsDuringADatasetLoad();
    void controlsWhileBusy();
};

void TestArrowPlotDialog::init()
{
    Progress::setShowDelayMs(300);
    testsupport::setVolumes(nullptr, nullptr);
}

void TestArrowPlotDialog::cleanup()
{
    Progress::setShowDelayMs(300);
    testsupport::setVolumes(nullptr, nullptr);
    QVERIFY(!Busy::isBusy());
    QVERIFY(!Progress::dialogVisible());
}

void TestArrowPlotDialog::controlsAfterConstruction()
{
    ArrowPlotDialog dialog;
    QVERIFY(dialog.showArrowsCheck()->isChecked());
    QVERIFY(!dialog.intensityCheck()->isChecked());
    QVERIFY(!dialog.pressureCheck()->isChecked());
    QVERIFY(dialog.whiteRadio()->isChecked());
    QVERIFY(!dialog.blackRadio()->isChecked());
    QCOMPARE(dialog.showArrowsCheck()->text(), QStringLiteral("Show Arrows"));
    QCOMPARE(dialog.intensityCheck()->text(), QStringLiteral("Show Intensity of Flow"));
    QCOMPARE(dialog.pressureCheck()->text(), QStringLiteral("Show Pressure"));
    QCOMPARE(dialog.resetButton()->text(), QStringLiteral("Reset"));
    QCOMPARE(dialog.resetButton()->minimumSize(), QSize(80, 25));
    QCOMPARE(dialog.resetButton()->maximumSize(), QSize(80, 25));
    QCOMPARE(dialog.colorBar()->size(), QSize(180, 70));
    // The controls agree with the plot's defaults; the plot is not computed yet.
    ArrowPlot *plot = dialog.plot();
    QVERIFY(plot->showArrows() && plot->fixedLength() && !plot->showPressure());
    QCOMPARE(plot->arrowColor(), QColor(255, 255, 255));
    QVERIFY(plot->image().isNull());
    QCOMPARE(plot->parentWidget(), &dialog);
    QCOMPARE(dialog.windowTitle(), QString());
    QVERIFY(!dialog.isModal());
    QCOMPARE(dialog.metaObject()->className(), "ArrowPlotDialog");
    // Everything belongs to the dialog.
    for (QWidget *w : std::initializer_list<QWidget *>{dialog.resetButton(), dialog.showArrowsCheck(), dialog.intensityCheck(),
                                                      dialog.pressureCheck(), dialog.colorBar(), dialog.blackRadio(),
                                                      dialog.whiteRadio()})
        QCOMPARE(w->parentWidget(), &dialog);
}

void TestArrowPlotDialog::layoutAndSlots()
{
    ArrowPlotDialog dialog;
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    QVERIFY(grid);
    QVERIFY(grid->itemAtPosition(0, 0) == nullptr && grid->itemAtPosition(0, 1) == nullptr);
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), dialog.plot());
    QCOMPARE(describe(grid->itemAtPosition(1, 0)),
             QStringLiteral("[<frame 2 20x20> Show Arrows Color: [White Black] <frame 4 175x50> Show Intensity of Flow "
                            "(Adjusts the Length of the Arrows) <frame 4 175x50> Show Pressure <bar> <frame 4 175x50> "
                            "Zoom In: Right Click Zoom Out: Ctrl + Right Click Move: Left Click + Drag <frame 2 20x110>]"));
    QLayoutItem *buttons = grid->itemAtPosition(2, 1);
    QCOMPARE(describe(buttons), QStringLiteral("[Reset]"));
    QCOMPARE(buttons->alignment(), Qt::Alignment(Qt::AlignRight));
    // The five slots in the order of the method table, each returning int.
    const QMetaObject *mo = dialog.metaObject();
    const QStringList expected = {"resetArrowPlot()", "showArrows()", "changeLength()", "changeArrowColor()", "drawColors()"};
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo->method(mo->methodOffset() + i);
        QCOMPARE(QString::fromLatin1(m.methodSignature()), expected[i]);
        QCOMPARE(m.returnType(), int(QMetaType::Int));
    }
    QCOMPARE(mo->methodCount() - mo->methodOffset(), 5);
}

void TestArrowPlotDialog::controlsDriveThePlot()
{
    setUniformGrid();
    ProgressLog log;
    ArrowPlotDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ArrowPlot *plot = dialog.plot();
    dialog.refreshPlot();
    qint64 key = plot->image().cacheKey();
    auto redrawn = [&] {
        const bool changed = plot->image().cacheKey() != key;
        key = plot->image().cacheKey();
        return changed;
    };

    click(dialog.pressureCheck());
    QVERIFY(plot->showPressure());
    QVERIFY(redrawn());
    QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 1);
    QCOMPARE(plot->image().pixel(1, 300), plot->colorImage().pixel(1, 300));
    click(dialog.pressureCheck());
    QVERIFY(!plot->showPressure());
    QVERIFY(redrawn());
    QCOMPARE(plot->image().pixel(1, 300), qRgb(0, 0, 0));
    click(dialog.pressureCheck());
    QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 1); // the cached background
    QCOMPARE(plot->image().pixel(1, 300), plot->colorImage().pixel(1, 300));

    click(dialog.blackRadio());
    QVERIFY(dialog.blackRadio()->isChecked() && !dialog.whiteRadio()->isChecked());
    QCOMPARE(plot->arrowColor(), QColor(0, 0, 0));
    QVERIFY(redrawn());
    click(dialog.whiteRadio());
    QVERIFY(!dialog.blackRadio()->isChecked() && dialog.whiteRadio()->isChecked());
    QCOMPARE(plot->arrowColor(), QColor(255, 255, 255));
    QVERIFY(redrawn());

    // By intensity, (1, 1) has m = sqrt(2) + 0.3: the arrows reach further than 6 cells.
    click(dialog.intensityCheck());
    QVERIFY(!plot->fixedLength());
    QVERIFY(redrawn());
    QVERIFY(plot->image().pixel(12 + 9, 12 + 9) != plot->colorImage().pixel(12 + 9, 12 + 9));
    click(dialog.intensityCheck());
    QVERIFY(plot->fixedLength());
    QCOMPARE(plot->image().pixel(12 + 9, 12 + 9), plot->colorImage().pixel(12 + 9, 12 + 9));

    click(dialog.showArrowsCheck());
    QVERIFY(!plot->showArrows());
    QVERIFY(redrawn());
    QCOMPARE(plot->image(), plot->colorImage());
    click(dialog.showArrowsCheck());
    QVERIFY(plot->showArrows());
    QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 1);
}

void TestArrowPlotDialog::resetRestoresControlsAndView()
{
    setUniformGrid();
    ArrowPlotDialog dialog;
    dialog.show();
    ArrowPlot *plot = dialog.plot();
    click(dialog.pressureCheck());
    click(dialog.intensityCheck());
    click(dialog.blackRadio());
    click(dialog.showArrowsCheck());
    rightClick(plot);
    rightClick(plot);
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(plot, QPoint(30, 40));
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    QCOMPARE(plot->zoom(), 3);
    const qint64 key = plot->image().cacheKey();

    click(dialog.resetButton());
    QVERIFY(dialog.showArrowsCheck()->isChecked());
    QVERIFY(!dialog.intensityCheck()->isChecked());
    QVERIFY(!dialog.pressureCheck()->isChecked());
    QVERIFY(dialog.whiteRadio()->isChecked() && !dialog.blackRadio()->isChecked());
    QCOMPARE(view(plot), (QList<int>{0, 0, 314, 538}));
    QCOMPARE(plot->zoom(), 1);
    QVERIFY(plot->showArrows() && plot->fixedLength() && !plot->showPressure() && !plot->colorsValid());
    QVERIFY(plot->image().cacheKey() != key);
    // Redrawn at the defaults: white arrows on black, 26 x 43 of them.
    QCOMPARE(litComponents(plot->image()), 26 * 43);
}

void TestArrowPlotDialog::refreshPlotLeavesTheControls()
{
    setUniformGrid();
    ArrowPlotDialog dialog;
    dialog.show();
    click(dialog.pressureCheck());
    click(dialog.blackRadio());
    rightClick(dialog.plot());
    dialog.refreshPlot();
    QVERIFY(dialog.pressureCheck()->isChecked());
    QVERIFY(dialog.blackRadio()->isChecked());
    ArrowPlot *plot = dialog.plot();
    QVERIFY(!plot->showPressure());
    QCOMPARE(plot->arrowColor(), QColor(255, 255, 255));
    QCOMPARE(plot->zoom(), 1);
    QCOMPARE(plot->image().pixel(1, 300), qRgb(0, 0, 0));
    // The next control used brings its own setting back.
    click(dialog.blackRadio());
    QCOMPARE(plot->arrowColor(), QColor(0, 0, 0));
}

void TestArrowPlotDialog::escapeDoesNotClose()
{
    ArrowPlotDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    // Also when a control has the focus and passes the key on.
    dialog.pressureCheck()->setFocus();
    QTest::keyClick(dialog.pressureCheck(), Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
}

void TestArrowPlotDialog::ctrlStateFromTheKeyboard()
{
    ArrowPlotDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ArrowPlot *plot = dialog.plot();
    rightClick(plot);
    rightClick(plot);
    QCOMPARE(plot->zoom(), 3);

    QTest::keyPress(&dialog, Qt::Key_Control);
    QVERIFY(plot->ctrlPressed());
    rightClick(plot);
    QCOMPARE(plot->zoom(), 2);
    // Another key pressed and released while Ctrl is still held ends the zoom-out mode.
    QTest::keyPress(&dialog, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(plot->ctrlPressed());
    QTest::keyRelease(&dialog, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(!plot->ctrlPressed());
    rightClick(plot);
    QCOMPARE(plot->zoom(), 3);
    QTest::keyPress(&dialog, Qt::Key_Control);
    QVERIFY(plot->ctrlPressed());
    QTest::keyRelease(&dialog, Qt::Key_Control);
    QVERIFY(!plot->ctrlPressed());
    // Keys reach the dialog from a focused control as well.
    dialog.showArrowsCheck()->setFocus();
    QTest::keyPress(dialog.showArrowsCheck(), Qt::Key_Control);
    QVERIFY(plot->ctrlPressed());
    QTest::keyRelease(dialog.showArrowsCheck(), Qt::Key_Control);
    QVERIFY(!plot->ctrlPressed());
    // Other keys do not set it.
    QTest::keyPress(&dialog, Qt::Key_Shift);
    QVERIFY(!plot->ctrlPressed());
}

void TestArrowPlotDialog::dockOpensOnceAndRerenders()
{
    ControlDock dock;
    dock.ArrowPlotClicked();
    ArrowPlotDialog *dialog = dock.arrowPlotDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->parentWidget(), &dock);
    ArrowPlot *plot = dialog->plot();
    // No data yet: the message.
    QVERIFY(litBounds(plot->image()).isValid());
    QVERIFY(litBounds(plot->image()).width() < 250);

    setUniformGrid();
    click(dialog->pressureCheck());
    rightClick(plot);
    dialog->hide();
    const qint64 key = plot->image().cacheKey();
    dock.ArrowPlotClicked();
    QCOMPARE(dock.arrowPlotDialog(), dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(plot->image().cacheKey() != key);
    QCOMPARE(plot->zoom(), 1);
    QVERIFY(!plot->showPressure());
    QVERIFY(dialog->pressureCheck()->isChecked());
    QCOMPARE(litComponents(plot->image()), 26 * 43);
}

void TestArrowPlotDialog::requestsDuringADatasetLoad()
{
    // The progress dialogs process events as soon as they open: requests that wait in the
    // queue arrive while loadedVolume is set and gridVolume is still missing.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("channel.gri"));
    QVERIFY(flows::write(QStringLiteral("channel"), path));
    ControlDock dock;
    dock.ArrowPlotClicked();
    ArrowPlotDialog *dialog = dock.arrowPlotDialog();
    ArrowPlot *plot = dialog->plot();
    click(dialog->pressureCheck());

    Progress::setShowDelayMs(0);
    ProgressLog log;
    QCoreApplication::postEvent(plot, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), plot->mapToGlobal(QPointF(5, 5)),
                                                      Qt::RightButton, Qt::RightButton, Qt::NoModifier));
    QMetaObject::invokeMethod(dialog, "drawColors", Qt::QueuedConnection);
    QMetaObject::invokeMethod(dialog, "changeArrowColor", Qt::QueuedConnection);
    dock.loadDataset(path);

    // The plot computed once, after the load and the resampling.
    QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 1);
    const int colours = log.events.indexOf(QStringLiteral("open Calculating Colors ..."));
    QVERIFY(log.events.indexOf(QStringLiteral("open Calculating Grid ...")) < colours);
    QCOMPARE(log.events.mid(colours), (QStringList{QStringLiteral("open Calculating Colors ..."), QStringLiteral("close")}));
    QCOMPARE(plot->zoom(), 2);
    QVERIFY(plot->colorsValid());
    QVERIFY(plot->viewVolume() && !plot->viewVolume()->getAt(100, 100, 0).mValues.isEmpty());
}

void TestArrowPlotDialog::controlsWhileBusy()
{
    setUniformGrid();
    ProgressLog log;
    ArrowPlotDialog dialog;
    dialog.show();
    dialog.refreshPlot();
    {
        Busy::Scope busy;
        click(dialog.pressureCheck());
        click(dialog.blackRadio());
        click(dialog.resetButton());
        click(dialog.pressureCheck());
        QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 0);
    }
    // Drawn once, with the settings the controls show.
    QCOMPARE(log.count(QStringLiteral("Calculating Colors ...")), 1);
    QVERIFY(dialog.plot()->showPressure() && dialog.pressureCheck()->isChecked());
    QCOMPARE(dialog.plot()->arrowColor(), QColor(255, 255, 255));
    QCOMPARE(dialog.plot()->image().pixel(1, 300), dialog.plot()->colorImage().pixel(1, 300));
}

QTEST_MAIN(TestArrowPlotDialog)
#include "tst_ArrowPlotDialog.moc"
