// The streamline view and its dialog driven as a user would: zoom and drag, controls, keys,
// Reset and Save Image (slider values and lines: tst_roundings; the Busy rule: tst_busy).

#include "streamlines/ui/StreamLineDialog.h"
#include "streamlines/StreamlineRender.h"
#include "tests/support/TestSupport.h"
#include "streamlines/ui/streamlines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace testsupport;

namespace {

template <typename T>
T *control(const StreamLineDialog &d, const char *name) { return d.findChild<T *>(QLatin1String(name)); }

} // namespace

class StreamlineUiTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { setVolumes(nullptr, uniformFlow(100, 120, 1, 0.25)); } // the dialog tests' field
    void cleanup() { setVolumes(nullptr, nullptr); }

    void zoomAndDragArithmeticOnA314View()
    {
        setVolumes(nullptr, uniformFlow(314, 538, 1, 0.25));
        streamlines view;
        view.show();
        rightClick(&view);
        QCOMPARE(view.viewRect(), (ViewRect{10, 17, 303, 520}));
        QCOMPARE(view.mSeedPoints.first(), Vector3(11, 18, 0));
        view.setCtrlPressed(true);
        rightClick(&view);
        QCOMPARE(view.viewRect(), (ViewRect{0, 0, 313, 537})); // trunc(10 - 10.47) is 0, not -1

        // Dragging moves the rectangle opposite to the mouse and renders on release only.
        view.resetParameters();
        QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseMove(&view, QPoint(103, 101));
        QTest::mouseMove(&view, QPoint(105, 103));
        QCOMPARE(view.viewRect(), (ViewRect{-5, -3, 309, 535}));
        QCOMPARE(view.mSeedPoints.first(), Vector3(1, 1, 0));
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(105, 103));
        QCOMPARE(view.mSeedPoints.first(), Vector3(-4, -2, 0));
        QVERIFY(view.mPolylines.first().isEmpty()); // that seed is outside the field
    }

    void zoomInRefusedBelowTwoUnits()
    {
        setVolumes(nullptr, uniformFlow(300, 300, 1, 0.25));
        streamlines view;
        view.show();
        ConsoleCapture console;
        rightClick(&view, 15); // the 15th would leave 0 x 0
        QCOMPARE(view.viewRect(), (ViewRect{140, 140, 160, 160}));
        QCOMPARE(console.lines().filter(QStringLiteral("Zoom in refused")).size(), 1);
    }

    // A negative step set before rendering is traced forwards all the same and left positive.
    void negativeDtIsTracedForwards()
    {
        setVolumes(nullptr, makeGrid(100, 100, [](int x, int y) { return Vector3(1 + 0.01 * y, 0.2 - 0.004 * x, 0); }));
        streamlines view;
        const QVector<QPolygon> forward = view.mPolylines;
        view.mDt = -1.55;
        view.drawStreamLines();
        QCOMPARE(view.mDt, 1.55);
        QCOMPARE(view.mPolylines, forward);
    }

    void resetRestoresEveryControlAndTheView()
    {
        StreamLineDialog d;
        d.show();
        const QImage fresh = d.view()->getImage();
        QTest::keyClick(control<QComboBox>(d, "mMethodCombo"), Qt::Key_Down);
        QCOMPARE(d.view()->mIntegrationMethod, 1);
        const std::pair<const char *, int> sliders[] = {{"mDtSlider", 155}, {"mDSepSlider", 30}, {"mDTestSlider", 50}};
        for (const auto &[name, initial] : sliders)
            control<QSlider>(d, name)->setValue(initial / 2);
        control<QSpinBox>(d, "mLengthSpin")->setValue(50);
        QTest::mouseClick(control<QCheckBox>(d, "mAntialiasCheck"), Qt::LeftButton);
        QTest::mouseClick(control<QCheckBox>(d, "mEvenlyCheck"), Qt::LeftButton);
        QTest::keyClick(&d, Qt::Key_Escape); // does not close the dialog
        QVERIFY(d.isVisible());
        QTest::keyPress(&d, Qt::Key_Control);
        rightClick(d.view());
        QCOMPARE(d.view()->viewRect().x1, -3); // zoomed out: 100 / 30 = 3.33
        QTest::keyRelease(&d, Qt::Key_A);      // releasing any key ends Ctrl
        QVERIFY(!d.view()->mCtrlPressed);
        QTest::keyPress(&d, Qt::Key_Control);
        QVERIFY(d.view()->getImage() != fresh);

        QTest::mouseClick(control<QPushButton>(d, "mResetButton"), Qt::LeftButton);
        QCOMPARE(control<QComboBox>(d, "mMethodCombo")->currentIndex(), 0);
        for (const auto &[name, initial] : sliders)
            QCOMPARE(control<QSlider>(d, name)->value(), initial);
        QCOMPARE(control<QSpinBox>(d, "mLengthSpin")->value(), 120); // 200, held at the grid's 120
        QVERIFY(!control<QCheckBox>(d, "mAntialiasCheck")->isChecked() && !control<QCheckBox>(d, "mEvenlyCheck")->isChecked());
        // The picture covers the rest; these do not show in it.
        QVERIFY(d.view()->mMaxLength == 200 && d.view()->mDSep == 30.0f && d.view()->mDTest == 0.5f && !d.view()->mCtrlPressed);
        QCOMPARE(d.view()->viewRect(), (ViewRect{0, 0, 100, 120}));
        QCOMPARE(d.view()->getImage(), fresh);
    }

    void saveWritesTheViewImage()
    {
        StreamLineDialog d; // saves into the working directory, the test's own
        auto *save = control<QPushButton>(d, "mSaveButton");
        QTest::mouseClick(save, Qt::LeftButton);
        const QImage saved(QStringLiteral("streamlines.png"));
        QCOMPARE(saved.convertToFormat(QImage::Format_ARGB32_Premultiplied), d.view()->getImage());
        // A folder in the file's place: the failure is reported on the console.
        QVERIFY(QFile::remove(QStringLiteral("streamlines.png")) && QDir().mkdir(QStringLiteral("streamlines.png")));
        ConsoleCapture console;
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(console.contains(QStringLiteral("Could not write the streamline image")));
        QVERIFY(QDir().rmdir(QStringLiteral("streamlines.png")));
    }
};

QTEST_MAIN(StreamlineUiTest)
#include "tst_streamlineui.moc"
