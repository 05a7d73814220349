// The streamline dialog driven as a user would: controls, their console lines, keys, Reset
// and Save Image.

#include "ControlDock.h"
#include "StreamLineDialog.h"
#include "StreamlineRender.h"
#include "TestSupport.h"
#include "streamlines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

using namespace testsupport;

namespace {

template <typename T>
T *control(const StreamLineDialog &d, const char *name)
{
    T *w = d.findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("control %s not found", name);
    return w;
}

// The texts of the controls column, top to bottom (labels, check boxes, buttons).
QStringList columnTexts(const StreamLineDialog &d)
{
    QStringList texts;
    auto *column = d.findChild<QVBoxLayout *>();
    for (int i = 0; column && i < column->count(); ++i) {
        QWidget *w = column->itemAt(i)->widget();
        if (auto *l = qobject_cast<QLabel *>(w))
            texts << l->text();
        else if (auto *b = qobject_cast<QAbstractButton *>(w))
            texts << b->text();
        else if (w)
            texts << QString::fromLatin1(w->metaObject()->className());
    }
    return texts;
}

void rightClick(QWidget *w)
{
    QTest::mouseClick(w, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
}

} // namespace

class StreamLineDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        setVolumes(nullptr, makeGrid(100, 120, [](int x, int y) { return Vector3(1 + 0.01 * y, 0.3 - 0.004 * x, 0); }));
    }
    void cleanup() { setVolumes(nullptr, nullptr); }

    void controlsStartAtTheViewDefaults()
    {
        ConsoleCapture console;
        StreamLineDialog d;
        // Building runs no slot: none of their console lines.
        for (const QString &l : console.lines())
            QVERIFY2(!l.startsWith(QLatin1String("Dt:")) && !l.startsWith(QLatin1String("MaxLength:")), qPrintable(l));

        auto *combo = control<QComboBox>(d, "mMethodCombo");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Euler"));
        QCOMPARE(combo->itemText(1), QStringLiteral("Runge-Kutta"));
        QCOMPARE(combo->currentIndex(), 0);
        auto *dt = control<QSlider>(d, "mDtSlider");
        QCOMPARE(dt->orientation(), Qt::Horizontal);
        QCOMPARE(dt->minimum(), 1);
        QCOMPARE(dt->maximum(), 750);
        QCOMPARE(dt->value(), 155);
        auto *length = control<QSpinBox>(d, "mLengthSpin");
        QCOMPARE(length->minimum(), 1);
        QCOMPARE(length->maximum(), 120); // the grid's y size
        QCOMPARE(length->value(), 120);   // shows the limit ...
        QCOMPARE(d.view()->mMaxLength, 200); // ... while the view keeps its own until changed
        QCOMPARE(length->singleStep(), 1);
        auto *dsep = control<QSlider>(d, "mDSepSlider");
        QCOMPARE(dsep->minimum(), 1);
        QCOMPARE(dsep->maximum(), 100);
        QCOMPARE(dsep->value(), 30);
        auto *dtest = control<QSlider>(d, "mDTestSlider");
        QCOMPARE(dtest->minimum(), 1);
        QCOMPARE(dtest->maximum(), 100);
        QCOMPARE(dtest->value(), 50);
        QVERIFY(!control<QCheckBox>(d, "mAntialiasCheck")->isChecked());
        QVERIFY(!control<QCheckBox>(d, "mEvenlyCheck")->isChecked());
        QCOMPARE(control<QPushButton>(d, "mResetButton")->text(), QStringLiteral("Reset"));
        QCOMPARE(control<QPushButton>(d, "mResetButton")->size(), QSize(80, 25));
        QCOMPARE(control<QPushButton>(d, "mSaveButton")->text(), QStringLiteral("Save Image"));
        QCOMPARE(d.view()->size(), QSize(100, 120));
        QVERIFY(d.windowTitle().isEmpty() || d.windowTitle() == QCoreApplication::applicationName());

        const QStringList expected = {
            QStringLiteral("Integration Method:"), QStringLiteral("QComboBox"),
            QStringLiteral("Dt:"), QStringLiteral("QSlider"),
            QStringLiteral("Streamline max length: 120"), QStringLiteral("QSpinBox"),
            QStringLiteral("Number of Streamlines:"), QStringLiteral("Use Antialiased Lines"),
            QStringLiteral("Evenlyspaced Seedpoints"),
            QStringLiteral("Dsep:"), QStringLiteral("QSlider"),
            QStringLiteral("Dtest:"), QStringLiteral("QSlider"),
            QStringLiteral("redraw"), QStringLiteral("QFrame"),
            QStringLiteral("Zoom In: Right Click"), QStringLiteral("Zoom Out: Ctrl + Right Click"),
            QStringLiteral("Move: Left Click + Drag")};
        QCOMPARE(columnTexts(d), expected);
        // Every control ends up owned by the dialog.
        QCOMPARE(d.view()->parentWidget(), &d);
        QCOMPARE(combo->parentWidget(), &d);
        QCOMPARE(dt->parentWidget(), &d);
    }

    void withoutDataTheLengthLimitIs538()
    {
        setVolumes(nullptr, nullptr);
        StreamLineDialog d;
        QCOMPARE(control<QSpinBox>(d, "mLengthSpin")->maximum(), 538);
        QVERIFY(columnTexts(d).contains(QStringLiteral("Streamline max length: 538")));
        QCOMPARE(d.view()->size(), QSize(314, 538));
        QCOMPARE(d.view()->getImage().pixel(0, 0), qRgba(128, 0, 0, 255));
        // Ticking evenly spaced seeding without data ends at once; redraw still shows no data.
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        ConsoleCapture console;
        QTest::mouseClick(control<QCheckBox>(d, "mEvenlyCheck"), Qt::LeftButton);
        QVERIFY(d.view()->mEvenlySpaced);
        QVERIFY(d.view()->mEvenLines.isEmpty());
        QVERIFY(console.contains(QStringLiteral("No dataset loaded")));
        QTest::mouseClick(control<QPushButton>(d, "mRedrawButton"), Qt::LeftButton);
        QCOMPARE(d.view()->getImage().pixel(0, 0), qRgba(128, 0, 0, 255));
    }

    void slidersConvertAndReport()
    {
        StreamLineDialog d;
        ConsoleCapture console;
        auto *dt = control<QSlider>(d, "mDtSlider");
        dt->setValue(1);
        QCOMPARE(d.view()->mDt, 0.009999999776482582);
        dt->setValue(155);
        QCOMPARE(d.view()->mDt, 1.5499999653548002);
        dt->setValue(750);
        QCOMPARE(d.view()->mDt, 750 * static_cast<double>(0.01f));
        QVERIFY(d.view()->mDt < 7.5 && d.view()->mDt > 7.4999998);
        QCOMPARE(console.lines(), QStringList({QStringLiteral("Dt:  0.01"), QStringLiteral("Dt:  1.55"),
                                               QStringLiteral("Dt:  7.5")}));
        console.clear();
        control<QSlider>(d, "mDSepSlider")->setValue(45);
        QCOMPARE(d.view()->mDSep, 45.0f);
        control<QSlider>(d, "mDTestSlider")->setValue(37);
        QCOMPARE(d.view()->mDTest, static_cast<float>(37 * 0.01));
        control<QSlider>(d, "mDTestSlider")->setValue(100);
        QCOMPARE(d.view()->mDTest, 1.0f);
        control<QSpinBox>(d, "mLengthSpin")->setValue(57);
        QCOMPARE(d.view()->mMaxLength, 57);
        QCOMPARE(console.lines(), QStringList({QStringLiteral("DSep:  45"), QStringLiteral("Dtest:  0.37"),
                                               QStringLiteral("Dtest:  1"), QStringLiteral("MaxLength:  57")}));
    }

    void keyboardDrivesTheControls()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto *combo = control<QComboBox>(d, "mMethodCombo");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("Runge-Kutta"));
        QCOMPARE(d.view()->mIntegrationMethod, 1);
        QTest::keyClick(combo, Qt::Key_Up);
        QCOMPARE(d.view()->mIntegrationMethod, 0);
        d.view()->mIntegrationMethod = 5;
        QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, 0)); // the current entry again
        QCOMPARE(d.view()->mIntegrationMethod, 0);

        auto *dt = control<QSlider>(d, "mDtSlider");
        dt->setFocus();
        QTest::keyClick(dt, Qt::Key_Right);
        QCOMPARE(dt->value(), 156);
        QCOMPARE(d.view()->mDt, 156 * static_cast<double>(0.01f));
    }

    void parameterChangesWaitForRedraw()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QImage before = d.view()->getImage();
        auto *aa = control<QCheckBox>(d, "mAntialiasCheck");
        QTest::mouseClick(aa, Qt::LeftButton);
        QVERIFY(d.view()->mAntialiased);
        control<QSlider>(d, "mDtSlider")->setValue(400);
        QCOMPARE(d.view()->getImage(), before);
        QTest::mouseClick(control<QPushButton>(d, "mRedrawButton"), Qt::LeftButton);
        QVERIFY(d.view()->getImage() != before);
        // Antialiased lines leave grey pixels; unticking shows at the next redraw only.
        auto greys = [](const QImage &img) {
            int n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    n += qGreen(img.pixel(x, y)) > 0 && qGreen(img.pixel(x, y)) < 255;
            return n;
        };
        QVERIFY(greys(d.view()->getImage()) > 0);
        QTest::mouseClick(aa, Qt::LeftButton);
        QVERIFY(!d.view()->mAntialiased);
        QVERIFY(greys(d.view()->getImage()) > 0);
        QTest::mouseClick(control<QPushButton>(d, "mRedrawButton"), Qt::LeftButton);
        QCOMPARE(greys(d.view()->getImage()), 0);
    }

    void evenlySpacedBoxSwitchesTheMode()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        ConsoleCapture console;
        auto *evenly = control<QCheckBox>(d, "mEvenlyCheck");
        QTest::mouseClick(evenly, Qt::LeftButton);
        QVERIFY(d.view()->mEvenlySpaced);
        QCOMPARE(console.lines().first(), QString(54, QLatin1Char('-')));
        QTest::mouseClick(control<QPushButton>(d, "mRedrawButton"), Qt::LeftButton);
        QCOMPARE(d.view()->mPolylines.size(), d.view()->mEvenLines.size());
        QTest::mouseClick(evenly, Qt::LeftButton);
        QVERIFY(!d.view()->mEvenlySpaced);
        QCOMPARE(d.view()->mSeedPoints.size(), 100);
    }

    void resetRestoresEveryControlAndTheView()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QImage fresh = d.view()->getImage();
        auto *combo = control<QComboBox>(d, "mMethodCombo");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        control<QSlider>(d, "mDtSlider")->setValue(300);
        control<QSpinBox>(d, "mLengthSpin")->setValue(50);
        QTest::mouseClick(control<QCheckBox>(d, "mAntialiasCheck"), Qt::LeftButton);
        QTest::mouseClick(control<QCheckBox>(d, "mEvenlyCheck"), Qt::LeftButton);
        control<QSlider>(d, "mDSepSlider")->setValue(60);
        control<QSlider>(d, "mDTestSlider")->setValue(20);
        rightClick(d.view());
        QTest::keyPress(&d, Qt::Key_Control);
        QVERIFY(d.view()->mCtrlPressed);
        QVERIFY(d.view()->getImage() != fresh);

        ConsoleCapture console;
        QTest::mouseClick(control<QPushButton>(d, "mResetButton"), Qt::LeftButton);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(control<QSlider>(d, "mDtSlider")->value(), 155);
        QCOMPARE(control<QSpinBox>(d, "mLengthSpin")->value(), 120); // 200, held at the grid's 120
        QVERIFY(!control<QCheckBox>(d, "mAntialiasCheck")->isChecked());
        QVERIFY(!control<QCheckBox>(d, "mEvenlyCheck")->isChecked());
        QCOMPARE(control<QSlider>(d, "mDSepSlider")->value(), 30);
        QCOMPARE(control<QSlider>(d, "mDTestSlider")->value(), 50);
        // The value slots ran on the way (their lines), then the view's reset overwrote them.
        QVERIFY(console.lines().contains(QStringLiteral("Dt:  1.55")));
        QVERIFY(console.lines().contains(QStringLiteral("DSep:  30")));
        QVERIFY(console.lines().contains(QStringLiteral("Dtest:  0.5")));
        streamlines *v = d.view();
        QCOMPARE(v->mDt, 1.55);
        QCOMPARE(v->mMaxLength, 200);
        QCOMPARE(v->mIntegrationMethod, 0);
        QCOMPARE(v->mDSep, 30.0f);
        QCOMPARE(v->mDTest, 0.5f);
        QVERIFY(!v->mAntialiased && !v->mEvenlySpaced && !v->mCtrlPressed);
        QCOMPARE(v->viewRect().x1, 0);
        QCOMPARE(v->viewRect().y1, 0);
        QCOMPARE(v->viewRect().x2, 100);
        QCOMPARE(v->viewRect().y2, 120);
        QCOMPARE(v->mSeedPoints.size(), 100);
        QCOMPARE(v->getImage(), fresh);
    }

    void saveWritesTheViewImage()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        ConsoleCapture console;
        auto *save = control<QPushButton>(d, "mSaveButton");
        QTest::mouseClick(save, Qt::LeftButton);
        QImage saved(dir.filePath(QStringLiteral("streamlines.png")));
        QVERIFY(!saved.isNull());
        QCOMPARE(saved.size(), QSize(100, 120));
        QCOMPARE(saved.convertToFormat(QImage::Format_ARGB32_Premultiplied), d.view()->getImage());
        // A second save replaces the file with the current picture.
        control<QSlider>(d, "mDtSlider")->setValue(20);
        QTest::mouseClick(control<QPushButton>(d, "mRedrawButton"), Qt::LeftButton);
        QTest::mouseClick(save, Qt::LeftButton);
        saved.load(dir.filePath(QStringLiteral("streamlines.png")));
        QCOMPARE(saved.convertToFormat(QImage::Format_ARGB32_Premultiplied), d.view()->getImage());
        for (const QString &l : console.lines())
            QVERIFY2(!l.contains(QLatin1String("streamlines.png")), qPrintable(l)); // success is silent

        // A folder in the file's place: the failure is reported on the console.
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("streamlines.png"))));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("streamlines.png")));
        console.clear();
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(console.contains(QStringLiteral("Could not write the streamline image")));
        QVERIFY(console.contains(QStringLiteral("streamlines.png")));
        QVERIFY(QDir::setCurrent(previous));
    }

    void ctrlMakesRightClicksZoomOut()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        streamlines *v = d.view();
        QTest::keyPress(&d, Qt::Key_Control);
        rightClick(v);
        QCOMPARE(v->viewRect().x1, -3); // 100 / 30 = 3.33
        QCOMPARE(v->viewRect().x2, 103);
        // Releasing any key, not only Ctrl, ends it.
        QTest::keyRelease(&d, Qt::Key_A);
        QVERIFY(!v->mCtrlPressed);
        rightClick(v);
        QCOMPARE(v->viewRect().x1, 0);
        QCOMPARE(v->viewRect().x2, 99);
        // Other keys do not count as Ctrl.
        QTest::keyPress(&d, Qt::Key_Shift);
        QVERIFY(!v->mCtrlPressed);
    }

    void escapeDoesNotCloseTheDialog()
    {
        StreamLineDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QSignalSpy rejected(&d, &QDialog::rejected);
        QTest::keyClick(&d, Qt::Key_Escape);
        QTest::keyClick(&d, Qt::Key_Return);
        QVERIFY(d.isVisible());
        QCOMPARE(rejected.count(), 0);
    }

    void dockCreatesTheDialogOnce()
    {
        ControlDock dock;
        QVERIFY(!dock.streamLineDialog());
        dock.StreamLinesClicked();
        StreamLineDialog *first = dock.streamLineDialog();
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->parent(), &dock);
        first->hide();
        dock.StreamLinesClicked();
        QCOMPARE(dock.streamLineDialog(), first);
        QVERIFY(first->isVisible());
    }
};

QTEST_MAIN(StreamLineDialogTest)
#include "tst_streamline_dialog.moc"
