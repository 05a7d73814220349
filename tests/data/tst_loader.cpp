// Dataset files: header scan, names, the console trace, progress per row and the extent.
// Refused files (missing, misnamed, short, hostile) are the rows of tst_loaderbadinput.

#include "tests/support/TestSupport.h"

#include <QtTest>

using namespace testsupport;

namespace {

QByteArray header(const char *text) { return QByteArray(text).leftJustified(dataset::kHeaderBytes, ' ', true); }

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT

private slots:
    // Each row: the 40 header bytes, then x, y, channels, time and whether the magic word matched.
    void headerScan_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields");
        QTest::newRow("tabs and newlines") << header("SN4DB\t3\n2 1 1 1 0.1") << "3 2 1 0.1 magic";
        QTest::newRow("leading blank") << header(" SN4DB 3 2 1 1 1 0.1") << "0 0 0 0 -";
        // The real number starts at byte 38: only "12" of "1234" lies inside the header.
        QTest::newRow("cut at byte 40") << QByteArray("SN4DB 100000 200000 3 4 5 0000000000001234xx") << "100000 200000 4 12 magic";
        QTest::newRow("nul ends the text") << QByteArray("SN4DB 3 2\0 1 1 1", 16).leftJustified(40, ' ') << "3 2 0 0 magic";
        QTest::newRow("huge saturates") << header("SN4DB 99999999999 2 1 1 1 1") << "2147483647 2 1 1 magic";
    }
    void headerScan()
    {
        QFETCH(QByteArray, bytes);
        const dataset::Header h = dataset::parseHeader(bytes.constData(), qMin(int(bytes.size()), 40));
        QTEST(QString("%1 %2 %3 %4 %5").arg(h.dimX).arg(h.dimY).arg(h.channels).arg(h.time).arg(h.magic ? "magic" : "-"),
              "fields");
    }

    void dataFileNames()
    {
        QCOMPARE(dataset::dataFileName("flows/cyl.gri"), QString("flows/cyl.00000.dat"));
        QCOMPARE(dataset::dataFileName("data.gri.gri"), QString("data.00000.dat.00000.dat"));
        QCOMPARE(dataset::dataFileName("/x/runs.grid/a.gri"), QString("/x/runs.grid/a.00000.dat"));
    }

    // Files made byte by byte (not by our own writer), 2 x 3 x 2 points: trace, values, one
    // progress step per row; the extent's z prints as 0.
    void handMadeFileTraceAndProgress()
    {
        QTemporaryDir dir;
        QByteArray grid = header("SN4DB 2 3 2 1 1 0.1"), data;
        for (int i = 0; i < 12; ++i) {
            grid += floats({float(i % 2), float(i / 2 % 3), float(i / 6)});
            data += floats({1.f, 2.f, 3.f, 0.5f * i});
        }
        writeFile(dir.filePath("h.gri"), grid);
        writeFile(dir.filePath("h.00000.dat"), data);
        ConsoleCapture console;
        ProgressRecorder progress;
        Volume v;
        v.load(dir.filePath("h.gri"));
        QCOMPARE(console.lines(), QStringList({"Dataset size: 2 3 2", "additional Data: 1", "number of Timesteps: 1 0.1",
                                               "min: 0 0 0", "max: 1 2 0"}));
        QCOMPARE(v.getAt(1, 2, 1).mValues, QList<float>({5.5f}));
        QCOMPARE(v.getAt(1, 0, 1).mPos, Vector3(1, 0, 1));
        QCOMPARE(v.getAt(1, 0, 1).mDir, Vector3(1, 2, 3));
        QCOMPARE(progress.runs.size(), 1);
        QCOMPARE(progress.runs[0].label, QString("Loading Dataset..."));
        QCOMPARE(progress.runs[0].maximum, 6);
        QCOMPARE(progress.runs[0].values.mid(0, 6), QList<int>({1, 2, 3, 4, 5, 6}));
        QVERIFY(progress.runs[0].closed);
    }

    // The extent takes the last whole position at or beyond the previous one (inclusive):
    // (5, 0) does not replace (0, 5) in either, (0, 3) does as the minimum.
    void extentTakesWholePositions()
    {
        QTemporaryDir dir;
        ConsoleCapture quiet;
        writeFile(dir.filePath("a.gri"), header("SN4DB 3 1 1 0 1 0") + floats({0, 5, 0, 5, 0, 0, 0, 3, 0}));
        writeFile(dir.filePath("a.00000.dat"), QByteArray(3 * 12, '\0'));
        Volume v;
        v.load(dir.filePath("a.gri"));
        QCOMPARE(v.mMinPos, Vector3(0, 3, 0));
        QCOMPARE(v.mMaxPos, Vector3(0, 5, 0));
    }
};

QTEST_MAIN(TestLoader)
#include "tst_loader.moc"
