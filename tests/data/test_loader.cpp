// Dataset files: header scan, names, the console trace, progress per row and the extent.
// Refused files (missing, misnamed, short, hostile) are the rows of tst_loaderbadinput.

#include "TestSupport.h"

#include <QtTest>

using namespace testsupport;

namespace {

QByteArray header(const char *text) { return QByteArray(text).leftJustified(dataset::kHeaderBytes, ' ', true); }

// Two points at `a` and `b` (a 2 x 1 dataset) with flow (1, 0, 0) and one channel.
QString twoPoints(const QTemporaryDir &dir, const QString &name, QPointF a, QPointF b)
{
    return writeDataset(dir, name, 2, 1, 1, 1, [&](int x, int, int, float p[3], float d[3], float *v) {
        p[0] = float((x ? b : a).x());
        p[1] = float((x ? b : a).y());
        d[0] = 1.f;
        v[0] = float(x);
    });
}

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT

private slots:
    void headerScan_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("channels");
        QTest::addColumn<float>("time");
        QTest::addColumn<bool>("magic");
        QTest::newRow("plain") << header("SN4DB 3 2 1 1 1 0.1") << 3 << 2 << 1 << 0.1f << true;
        QTest::newRow("tabs and newlines") << header("SN4DB\t3\n2 1 1 1 0.1") << 3 << 2 << 1 << 0.1f << true;
        QTest::newRow("stops matching") << header("SN4DB 3 x 1 1 1 0.1") << 3 << 0 << 0 << 0.f << true;
        QTest::newRow("wrong magic") << header("SN4DX 3 2 1 1 1 0.1") << 0 << 0 << 0 << 0.f << false;
        QTest::newRow("leading blank") << header(" SN4DB 3 2 1 1 1 0.1") << 0 << 0 << 0 << 0.f << false;
        // The real number starts at byte 38: only "12" of "1234" lies inside the header.
        QTest::newRow("cut at byte 40") << QByteArray("SN4DB 100000 200000 3 4 5 0000000000001234xx")
                                        << 100000 << 200000 << 4 << 12.f << true;
        QTest::newRow("nul ends the text") << QByteArray("SN4DB 3 2\0 1 1 1", 16).leftJustified(40, ' ') << 3 << 2 << 0
                                           << 0.f << true;
        QTest::newRow("huge saturates") << header("SN4DB 99999999999 2 1 1 1 1") << INT_MAX << 2 << 1 << 1.f << true;
    }
    void headerScan()
    {
        QFETCH(QByteArray, bytes);
        const dataset::Header h = dataset::parseHeader(bytes.constData(), qMin(int(bytes.size()), 40));
        QTEST(h.dimX, "x");
        QTEST(h.dimY, "y");
        QTEST(h.channels, "channels");
        QTEST(h.time, "time");
        QTEST(h.magic, "magic");
    }

    void dataFileNames()
    {
        QCOMPARE(dataset::dataFileName("flows/cyl.gri"), QString("flows/cyl.00000.dat"));
        QCOMPARE(dataset::dataFileName("data.gri.gri"), QString("data.00000.dat.00000.dat"));
        QCOMPARE(dataset::dataFileName("/x/runs.grid/a.gri"), QString("/x/runs.grid/a.00000.dat"));
        QCOMPARE(dataset::dataFileName("/x/y.gri/FLOW.GRI"), QString());
    }

    // Files made byte by byte (not by our own writer): trace, values, one progress step per row.
    void handMadeFileTraceAndProgress()
    {
        QTemporaryDir dir;
        QByteArray grid = header("SN4DB 3 2 1 1 1 0.1"), data;
        for (int i = 0; i < 6; ++i) {
            grid += floats({float(i % 3), float(i / 3), 0.f});
            data += floats({1.f, 2.f, 3.f, 0.5f * i});
        }
        writeFile(dir.filePath("h.gri"), grid);
        writeFile(dir.filePath("h.00000.dat"), data);
        ConsoleCapture console;
        ProgressRecorder progress;
        Volume v;
        v.load(dir.filePath("h.gri"));
        QCOMPARE(console.lines(), QStringList({"Dataset size: 3 2 1", "additional Data: 1", "number of Timesteps: 1 0.1",
                                               "min: 0 0 0", "max: 2 1 0"}));
        QCOMPARE(v.getAt(2, 1, 0).mValues, QList<float>({2.5f}));
        QCOMPARE(v.getAt(1, 0, 0).mPos, Vector3(1, 0, 0));
        QCOMPARE(v.getAt(1, 0, 0).mDir, Vector3(1, 2, 3));
        QCOMPARE(progress.runs.size(), 1);
        QCOMPARE(progress.runs[0].label, QString("Loading Dataset..."));
        QCOMPARE(progress.runs[0].maximum, 2);
        QVERIFY(progress.runs[0].closed);

        // Our writer's files have the same layout; two layers of three rows give six steps.
        const QString two = writeDataset(dir, "z.gri", 2, 3, 2, 0, [](int x, int y, int, float p[3], float *, float *) {
            p[0] = float(x);
            p[1] = float(y);
        });
        QCOMPARE(QFileInfo(two).size(), 40 + 12 * 12);
        QCOMPARE(QFileInfo(dir.filePath("z.00000.dat")).size(), 12 * 12);
        Volume w;
        w.load(two);
        QCOMPARE(w.getDimZ(), 2);
        QCOMPARE(progress.runs[1].maximum, 6);
        QCOMPARE(progress.runs[1].values.mid(0, 6), QList<int>({1, 2, 3, 4, 5, 6}));
    }

    // The extent keeps the smallest and largest whole position, not per-axis minima.
    void extentTakesWholePositions()
    {
        QTemporaryDir dir;
        ConsoleCapture quiet;
        Volume a, b;
        a.load(twoPoints(dir, "a.gri", {0, 5}, {5, 0}));
        QCOMPARE(a.mMinPos, Vector3(0, 5, 0));
        b.load(twoPoints(dir, "b.gri", {0, 5}, {0, 3}));
        QCOMPARE(b.mMinPos, Vector3(0, 3, 0));
        QCOMPARE(b.mMaxPos, Vector3(0, 5, 0));
    }
};

QTEST_MAIN(TestLoader)
#include "test_loader.moc"
