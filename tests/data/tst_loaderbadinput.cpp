// Bad dataset files: every refused input must leave an empty volume (and an empty grid after
// the resampling that follows a load), write a console line saying why, and return promptly.

#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

using namespace testsupport;

namespace {

QByteArray header(const QByteArray &text)
{
    QByteArray h = text.left(40);
    return h + QByteArray(40 - h.size(), ' ');
}

QByteArray floats(std::initializer_list<float> values)
{
    QByteArray out;
    for (float v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A correct 3 x 3 x 1 dataset with one value per point: grid file and data file bytes.
QByteArray goodGrid()
{
    QByteArray g = header("SN4DB 3 3 1 1 1 0.5");
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            g += floats({float(x), float(y), 0.0f});
    return g;
}

QByteArray goodData()
{
    QByteArray d;
    for (int i = 0; i < 9; ++i)
        d += floats({1.0f, 0.5f, 0.0f, float(i)});
    return d;
}

} // namespace

class TestLoaderBadInput : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mDir;

    QString path(const QString &name) const { return mDir.filePath(name); }

    // Loads the way the control dock does; both volumes must be empty afterwards and the
    // console must carry `message`.
    void expectRefused(const QString &gridFile, const QString &message, QStringList *trace = nullptr)
    {
        ConsoleCapture console;
        QElapsedTimer timer;
        timer.start();
        loadLikeTheDock(gridFile);
        QVERIFY2(timer.elapsed() < 5000, "a refused load must not take long");
        QVERIFY(loadedVolume && gridVolume);
        QCOMPARE(loadedVolume->getDimX(), 0);
        QCOMPARE(loadedVolume->getDimY(), 0);
        QCOMPARE(loadedVolume->getDimZ(), 0);
        QCOMPARE(loadedVolume->pointCount(), std::size_t(0));
        QCOMPARE(gridVolume->pointCount(), std::size_t(0));
        QVERIFY(!loadedVolume->isInside(0, 0, 0));
        QCOMPARE(loadedVolume->getValue(0.5, 0.5, 0).mValues.size(), 0);
        QVERIFY2(console.contains(message),
                 qPrintable(QStringLiteral("expected \"%1\" in:\n%2").arg(message, console.lines().join('\n'))));
        if (trace)
            *trace = console.lines();
    }

    QString pair(const QString &stem, const QByteArray &grid, const QByteArray &data)
    {
        const QString g = path(stem + QStringLiteral(".gri"));
        writeFile(g, grid);
        writeFile(path(stem + QStringLiteral(".00000.dat")), data);
        return g;
    }

private slots:
    void initTestCase() { QVERIFY(mDir.isValid()); }
    void cleanup() { setVolumes(nullptr, nullptr); }

    void goodDatasetLoads()
    {
        ConsoleCapture console;
        loadLikeTheDock(pair(QStringLiteral("good"), goodGrid(), goodData()));
        QCOMPARE(loadedVolume->pointCount(), std::size_t(9));
        QCOMPARE(loadedVolume->getAt(2, 1, 0).mValues, QList<float>{5.0f});
        QCOMPARE(gridVolume->pointCount(), std::size_t(9));
        QVERIFY(console.contains(QStringLiteral("Dataset size: 3 3 1")));
        QVERIFY(!console.contains(QStringLiteral("Not loaded")));
    }

    void missingFiles()
    {
        expectRefused(path(QStringLiteral("nowhere.gri")), QStringLiteral("cannot open the grid file"));
        writeFile(path(QStringLiteral("lonely.gri")), goodGrid());
        expectRefused(path(QStringLiteral("lonely.gri")), QStringLiteral("cannot open the data file"));
    }

    void emptyFiles()
    {
        expectRefused(pair(QStringLiteral("empty"), QByteArray(), QByteArray()),
                      QStringLiteral("does not start with \"SN4DB\""));
        expectRefused(pair(QStringLiteral("emptydata"), goodGrid(), QByteArray()),
                      QStringLiteral("Data file too short"));
    }

    void shortFiles()
    {
        expectRefused(pair(QStringLiteral("shortgrid"), goodGrid().left(40 + 12 * 8 + 5), goodData()),
                      QStringLiteral("Grid file too short"));
        expectRefused(pair(QStringLiteral("shortheader"), goodGrid().left(25), goodData()),
                      QStringLiteral("Grid file too short"));
        expectRefused(pair(QStringLiteral("shortdata"), goodGrid(), goodData().left(16 * 9 - 1)),
                      QStringLiteral("Data file too short"));
    }

    void wrongMagic()
    {
        QByteArray g = goodGrid();
        g[4] = 'C';
        expectRefused(pair(QStringLiteral("magic"), g, goodData()), QStringLiteral("does not start with \"SN4DB\""));
        g = goodGrid();
        g.replace(0, 5, "sn4db");
        expectRefused(pair(QStringLiteral("lower"), g, goodData()), QStringLiteral("does not start with \"SN4DB\""));
    }

    void negativeCounts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("x") << QByteArray("SN4DB -3 3 1 1 1 0");
        QTest::newRow("y") << QByteArray("SN4DB 3 -3 1 1 1 0");
        QTest::newRow("z") << QByteArray("SN4DB 3 3 -1 1 1 0");
        QTest::newRow("channels") << QByteArray("SN4DB 3 3 1 -1 1 0");
        QTest::newRow("two negatives") << QByteArray("SN4DB -3 -3 1 1 1 0");
        QTest::newRow("int min") << QByteArray("SN4DB -2147483648 1 1 0 1 0");
    }
    void negativeCounts()
    {
        QFETCH(QByteArray, text);
        QByteArray g = goodGrid();
        g.replace(0, 40, header(text));
        expectRefused(pair(QStringLiteral("negative"), g, goodData()), QStringLiteral("negative or impossibly large"));
    }

    // Counts whose product needs more than 64 bits, or more files than exist, or more
    // points than an int index reaches.
    void overflowingCounts()
    {
        expectRefused(pair(QStringLiteral("ovf64"), header("SN4DB 2147483647 2147483647 2147483647 1"), goodData()),
                      QStringLiteral("negative or impossibly large"));
        expectRefused(pair(QStringLiteral("ovfch"), header("SN4DB 3 3 1 2147483647 1 0") + goodGrid().mid(40),
                           goodData()),
                      QStringLiteral("Data file too short"));
        expectRefused(pair(QStringLiteral("ovf32"), header("SN4DB 65536 65536 2 1 1 0") + goodGrid().mid(40),
                           goodData()),
                      QStringLiteral("Grid file too short"));
        // Files long enough for 2^32 points (sparse, nothing is stored): the count still does
        // not fit the volume's int indices, and nothing may be allocated or read for it.
        const QString g = pair(QStringLiteral("sparse"), header("SN4DB 65536 65536 1 0 1 0"), QByteArray());
        QFile grid(g), data(path(QStringLiteral("sparse.00000.dat")));
        const qint64 n = qint64(65536) * 65536;
        if (!grid.resize(40 + 12 * n) || !data.resize(12 * n))
            QSKIP("this file system cannot hold sparse files of 48 GiB");
        expectRefused(g, QStringLiteral("Cannot hold 65536 x 65536 x 1 points"));
        grid.remove();
        data.remove();
    }

    void headerWithoutNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("read");
        QTest::newRow("magic only") << QByteArray("SN4DB") << QStringLiteral("0 of 6");
        QTest::newRow("words") << QByteArray("SN4DB x y z n t f") << QStringLiteral("0 of 6");
        QTest::newRow("two numbers") << QByteArray("SN4DB 3 3") << QStringLiteral("2 of 6");
    }
    void headerWithoutNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, read);
        QByteArray g = goodGrid();
        g.replace(0, 40, header(text));
        QStringList trace;
        expectRefused(pair(QStringLiteral("nonumbers"), g, goodData()), QStringLiteral("Empty dataset:"), &trace);
        QVERIFY(trace.join('\n').contains(QStringLiteral("(%1 numbers read)").arg(read)));
        // The loader's start extent stays, with z = 0.
        QCOMPARE(loadedVolume->mMinPos, Vector3(99999999.0, 99999999.0, 0.0));
        QCOMPARE(loadedVolume->mMaxPos, Vector3(-99999999.0, -99999999.0, 0.0));
    }

    // Header text runs on past byte 40: the numbers beyond it are not part of the header.
    void headerPast40Bytes()
    {
        QByteArray g = "SN4DB 3 3 1" + QByteArray(29, ' ') + "1 1 0.5" + goodGrid().mid(40);
        QCOMPARE(g.indexOf("1 1 0.5"), 40);
        ConsoleCapture console;
        loadLikeTheDock(pair(QStringLiteral("past40"), g, goodData()));
        QVERIFY(console.contains(QStringLiteral("additional Data: 0")));
        // 3 x 3 points, no values: the data file needs 108 bytes and the grid 148; the grid
        // file's points start at 40 regardless of what the text says.
        QCOMPARE(loadedVolume->pointCount(), std::size_t(9));
        QCOMPARE(loadedVolume->getAt(0, 0, 0).mPos, Vector3(qFromLittleEndian<float>("1 1 "), qFromLittleEndian<float>("0.5\0"), 0.0));
    }

    void nonDatasetFilePicked()
    {
        // A file without ".gri" in its name has no data file of its own.
        writeFile(path(QStringLiteral("notes.txt")), "just some words\n");
        expectRefused(path(QStringLiteral("notes.txt")), QStringLiteral("has no \".gri\" in its file name"));
        // Case matters: FLOW.GRI has no data file name either.
        writeFile(path(QStringLiteral("FLOW.GRI")), goodGrid());
        expectRefused(path(QStringLiteral("FLOW.GRI")), QStringLiteral("has no \".gri\""));
        // A picture renamed to .gri, with a "data file" beside it.
        static const char pngBytes[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0";
        const QByteArray png(pngBytes, sizeof pngBytes - 1);
        expectRefused(pair(QStringLiteral("picture"), png, png), QStringLiteral("does not start with \"SN4DB\""));
        // A device behind a dataset name (endless zeros): refused before anything is read.
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path(QStringLiteral("zero.gri"))));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path(QStringLiteral("zero.00000.dat"))));
        expectRefused(path(QStringLiteral("zero.gri")), QStringLiteral("is not a regular file"));
    }

    void directoryPicked()
    {
        QVERIFY(QDir(mDir.path()).mkpath(QStringLiteral("folder.gri")));
        expectRefused(path(QStringLiteral("folder.gri")), QStringLiteral("cannot open the data file"));
        writeFile(path(QStringLiteral("folder.00000.dat")), goodData());
        expectRefused(path(QStringLiteral("folder.gri")), QStringLiteral("is not a regular file"));
        // Grid file fine, but the data file's name is a folder.
        writeFile(path(QStringLiteral("dirdata.gri")), goodGrid());
        QVERIFY(QDir(mDir.path()).mkpath(QStringLiteral("dirdata.00000.dat")));
        expectRefused(path(QStringLiteral("dirdata.gri")), QStringLiteral("is not a regular file"));
        // The folder itself (no file name at all).
        expectRefused(mDir.path() + QLatin1Char('/'), QStringLiteral("has no \".gri\""));
    }

    // A named pipe would block a plain open until someone writes into it.
    void pipePicked()
    {
        const QString g = path(QStringLiteral("pipe.gri"));
        QCOMPARE(::mkfifo(QFile::encodeName(g).constData(), 0600), 0);
        writeFile(path(QStringLiteral("pipe.00000.dat")), goodData());
        expectRefused(g, QStringLiteral("is not a regular file"));
        const QString g2 = pair(QStringLiteral("pipedata"), goodGrid(), QByteArray());
        QFile::remove(path(QStringLiteral("pipedata.00000.dat")));
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("pipedata.00000.dat"))).constData(), 0600), 0);
        expectRefused(g2, QStringLiteral("is not a regular file"));
    }

    void nonAsciiPath()
    {
        const QString folder = path(QStringLiteral("Strömung ü 渦"));
        QVERIFY(QDir().mkpath(folder));
        const QString g = folder + QStringLiteral("/wirbel-δ.gri");
        QVERIFY(writeFile(g, goodGrid()));
        QVERIFY(writeFile(folder + QStringLiteral("/wirbel-δ.00000.dat"), goodData()));
        ConsoleCapture console;
        loadLikeTheDock(g);
        QCOMPARE(loadedVolume->pointCount(), std::size_t(9));
        QCOMPARE(loadedVolume->getAt(1, 2, 0).mPos, Vector3(1, 2, 0));
        QCOMPARE(loadedVolume->getAt(1, 2, 0).mValues, QList<float>{7.0f});
        QCOMPARE(loadedVolume->mMaxPos, Vector3(2, 2, 0));
        // A missing file under a non-ASCII name is reported under that name.
        expectRefused(folder + QStringLiteral("/fehlt-ß.gri"), QStringLiteral("fehlt-ß.gri"));
    }

    // Large rows are read a few at a time; small datasets in one piece. Every value must
    // land on its point either way, including in the last, partial chunk.
    void chunkedReading_data()
    {
        QTest::addColumn<int>("dimX");
        QTest::addColumn<int>("dimY");
        QTest::addColumn<int>("dimZ");
        QTest::newRow("one point") << 1 << 1 << 1;
        QTest::newRow("small") << 5 << 4 << 3;
        QTest::newRow("rows over several chunks") << 20000 << 7 << 1;
        QTest::newRow("one row larger than a chunk") << 60000 << 2 << 1;
    }
    void chunkedReading()
    {
        QFETCH(int, dimX);
        QFETCH(int, dimY);
        QFETCH(int, dimZ);
        const QString g = writeDataset(mDir, QStringLiteral("chunks.gri"), dimX, dimY, dimZ, 2,
                                       [](int x, int y, int z, float pos[3], float dir[3], float *v) {
                                           pos[0] = float(x);
                                           pos[1] = float(y);
                                           pos[2] = float(z);
                                           dir[0] = float(x + y);
                                           dir[1] = float(z);
                                           v[0] = float(x) * 0.5f;
                                           v[1] = float(y * 100 + z);
                                       });
        Volume v;
        v.load(g);
        QCOMPARE(v.pointCount(), std::size_t(dimX) * dimY * dimZ);
        for (int z = 0; z < dimZ; ++z) {
            for (int y = 0; y < dimY; ++y) {
                for (int x : {0, dimX / 2, dimX - 1}) {
                    const DataPoint p = v.getAt(x, y, z);
                    QCOMPARE(p.mPos, Vector3(x, y, z));
                    QCOMPARE(p.mDir, Vector3(x + y, z, 0));
                    QCOMPARE(p.mValues, (QList<float>{float(x) * 0.5f, float(y * 100 + z)}));
                }
            }
        }
        QCOMPARE(v.mMaxPos, Vector3(dimX - 1, dimY - 1, 0));
    }
};

QTEST_MAIN(TestLoaderBadInput)
#include "tst_loaderbadinput.moc"
