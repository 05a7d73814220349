// Dataset files: header scan, names, extent, the console trace and every refused file.

#include "DatasetFiles.h"
#include "TestSupport.h"
#include "Volume.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using testsupport::ConsoleCapture;

namespace {

QByteArray header(const char *text)
{
    QByteArray h(text);
    h = h.leftJustified(dataset::kHeaderBytes, ' ', true);
    return h;
}

// Positions given point by point; flow (1, 0, 0) and one channel valued by index.
QString writePoints(const QTemporaryDir &dir, const QString &name, int nx, int ny, const QList<QPointF> &pos)
{
    return testsupport::writeDataset(dir, name, nx, ny, 1, 1, [&](int x, int y, int, float p[3], float d[3], float *v) {
        const QPointF q = pos[y * nx + x];
        p[0] = float(q.x());
        p[1] = float(q.y());
        d[0] = 1.f;
        v[0] = float(y * nx + x);
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

    void fileSizesAndTrace()
    {
        QTemporaryDir dir;
        const QString path = writePoints(dir, "s.gri", 2, 2, {{0, 0}, {1, 0}, {0, 1}, {1, 1}});
        QCOMPARE(QFileInfo(path).size(), 88);
        QCOMPARE(QFileInfo(dir.filePath("s.00000.dat")).size(), 64);

        ConsoleCapture console;
        testsupport::ProgressRecorder progress;
        Volume v;
        v.load(path);
        QCOMPARE(console.lines(), QStringList({"Dataset size: 2 2 1", "additional Data: 1",
                                               "number of Timesteps: 1 0", "min: 0 0 0", "max: 1 1 0"}));
        QCOMPARE(v.getAt(1, 1, 0).mValues, QList<float>({3.f}));
        QCOMPARE(v.getAt(1, 0, 0).mPos, Vector3(1, 0, 0));
        QCOMPARE(progress.runs.size(), 1);
        QCOMPARE(progress.runs[0].label, QString("Loading Dataset..."));
        QCOMPARE(progress.runs[0].maximum, 2);
        QVERIFY(progress.runs[0].closed);
    }

    void handMadeHeaderAndProgressPerRow()
    {
        QTemporaryDir dir;
        QByteArray grid = header("SN4DB 3 2 1 1 1 0.1");
        QByteArray data;
        for (int i = 0; i < 6; ++i) {
            grid += testsupport::floats({float(i % 3), float(i / 3), 0.f});
            data += testsupport::floats({1.f, 2.f, 3.f, 0.5f * i});
        }
        testsupport::writeFile(dir.filePath("h.gri"), grid);
        testsupport::writeFile(dir.filePath("h.00000.dat"), data);
        ConsoleCapture console;
        Volume v;
        v.load(dir.filePath("h.gri"));
        QCOMPARE(v.getDimX(), 3);
        QCOMPARE(v.getDimY(), 2);
        QCOMPARE(v.getAt(2, 1, 0).mValues, QList<float>({2.5f}));
        QVERIFY(console.lines().contains("number of Timesteps: 1 0.1"));

        // Two layers of three rows: one progress value per row.
        const QString two = testsupport::writeDataset(dir, "z.gri", 2, 3, 2, 0, [](int x, int y, int, float p[3], float *, float *) {
            p[0] = float(x);
            p[1] = float(y);
        });
        testsupport::ProgressRecorder progress;
        Volume w;
        w.load(two);
        QCOMPARE(progress.runs[0].maximum, 6);
        QCOMPARE(progress.runs[0].values.mid(0, 6), QList<int>({1, 2, 3, 4, 5, 6}));
        QCOMPARE(w.getDimZ(), 2);
    }

    void extentTakesWholePositions()
    {
        QTemporaryDir dir;
        Volume a, b, c;
        ConsoleCapture console;
        a.load(writePoints(dir, "a.gri", 2, 1, {{0, 5}, {5, 0}}));
        QCOMPARE(a.mMinPos, Vector3(0, 5, 0));
        b.load(writePoints(dir, "b.gri", 2, 1, {{0, 0}, {5, 5}}));
        QCOMPARE(b.mMinPos, Vector3(0, 0, 0));
        QCOMPARE(b.mMaxPos, Vector3(5, 5, 0));
        c.load(writePoints(dir, "c.gri", 2, 1, {{0, 5}, {0, 3}}));
        QCOMPARE(c.mMinPos, Vector3(0, 3, 0));
    }

    void refusedNames()
    {
        QTemporaryDir dir;
        writePoints(dir, "ok.gri", 2, 1, {{0, 0}, {1, 1}});
        QVERIFY(QFile::copy(dir.filePath("ok.gri"), dir.filePath("FLOW.GRI")));
        QVERIFY(QDir(dir.path()).mkpath("folder.gri"));
        QVERIFY(QDir(dir.path()).mkpath("nodata.gri"));
        QFile::remove(dir.filePath("ok.00000.dat"));
        const struct
        {
            QString file, message;
        } cases[] = {
            {dir.filePath("FLOW.GRI"), "has no \".gri\""},
            {dir.filePath("missing.gri"), "cannot open the grid file"},
            {dir.filePath("ok.gri"), "cannot open the data file"},
            {dir.filePath("folder.gri"), "is not a regular file"},
        };
        QVERIFY(QDir(dir.path()).mkpath("folder.00000.dat"));
        for (const auto &c : cases) {
            ConsoleCapture console;
            Volume v;
            v.load(c.file);
            QVERIFY2(console.contains(c.message), qPrintable(c.file + ": " + console.lines().join('\n')));
            QVERIFY2(console.contains(c.file) || console.contains(dataset::dataFileName(c.file)), qPrintable(c.file));
            QCOMPARE(v.pointCount(), std::size_t(0));
        }
    }

    void countsWithoutPointsGiveTheEmptyVolume()
    {
        QTemporaryDir dir;
        testsupport::writeFile(dir.filePath("e.gri"), header("SN4DB 0 2000000000 2000000000 3 1 0"));
        testsupport::writeFile(dir.filePath("e.00000.dat"), QByteArray());
        ConsoleCapture console;
        Volume v;
        v.load(dir.filePath("e.gri")); // must not spin over 4e18 empty rows
        QCOMPARE(v.getDimY(), 0);
        QCOMPARE(console.lines().at(3), QString("min: 1e+08 1e+08 0"));
        QCOMPARE(console.lines().at(4), QString("max: -1e+08 -1e+08 0"));
    }
};

QTEST_MAIN(TestLoader)
#include "test_loader.moc"
