// A long session: 50 loads with every view open and rendering. Memory after the last load
// stays within 10 % of what it was after the first; under LeakSanitizer the process also
// ends without a leak report.

#include "ArrowPlot.h"
#include "ArrowPlotDialog.h"
#include "ControlDock.h"
#include "Flows.h"
#include "StreamLineDialog.h"
#include "TestSupport.h"
#include "VolInfo.h"
#include "streamlines.h"

#include <QAbstractButton>
#include <QFile>
#include <QtTest>

#include <unistd.h>

namespace {

long residentKiB()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void fiftyLoadsWithEveryViewOpen()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.gri"), b = dir.filePath("b.gri");
        QVERIFY(flows::write("channel", a, {157, 269}));
        QVERIFY(flows::write("vortices", b, {157, 269}));

        testsupport::ConsoleCapture console;
        auto *dock = new ControlDock;
        dock->show();
        long afterFirst = 0;
        for (int i = 0; i < 50; ++i) {
            dock->loadDataset(i % 2 ? b : a);
            dock->ArrowPlotClicked();
            dock->StreamLinesClicked();
            dock->VolInfoClicked();
            testsupport::clickButton(dock->arrowPlotDialog(), "Show Pressure");
            testsupport::clickButton(dock->streamLineDialog(), "Evenlyspaced Seedpoints");
            testsupport::clickButton(dock->streamLineDialog(), "redraw");
            QTest::mouseClick(dock->streamLineDialog()->view(), Qt::RightButton);
            QTest::mouseClick(dock->arrowPlotDialog()->plot(), Qt::RightButton);
            QCoreApplication::processEvents();
            console.clear();
            if (i == 1)
                afterFirst = residentKiB(); // both datasets have been through once
        }
        const long afterLast = residentKiB();
        delete dock;
        testsupport::setVolumes(nullptr, nullptr);
        if (qEnvironmentVariableIsSet("TESSALY_SANITIZED"))
            return; // the sanitizers' own bookkeeping grows; leaks are checked at exit instead
        QVERIFY2(afterLast <= afterFirst * 1.1,
                 qPrintable(QStringLiteral("resident %1 KiB after the first loads, %2 KiB after the last").arg(afterFirst).arg(afterLast)));
    }
};

QTEST_MAIN(TestSession)
#include "test_session.moc"
