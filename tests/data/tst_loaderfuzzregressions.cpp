// Replays every input of the loader fuzz corpus that is checked in (the seeds and each past
// finding) through the fuzz target's own entry function: load, resample, and the checks of
// what must hold afterwards. A finding that comes back fails here, in the normal build.

#include "LoaderFuzz.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtMath>
#include <QtTest>

class TestLoaderFuzzRegressions : public QObject
{
    Q_OBJECT

private:
    static void addFolder(const QString &folder, int &rows)
    {
        const QDir dir(folder);
        for (const QFileInfo &fi : dir.entryInfoList(QDir::Files, QDir::Name)) {
            if (fi.fileName().startsWith(QLatin1Char('.')) || fi.fileName() == QLatin1String("README.md"))
                continue;
            QTest::newRow(qPrintable(dir.dirName() + QLatin1Char('/') + fi.fileName())) << fi.filePath();
            ++rows;
        }
    }

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("file");
        int seeds = 0, findings = 0;
        addFolder(QStringLiteral(TESSALY_FUZZ_SEEDS), seeds);
        addFolder(QStringLiteral(TESSALY_FUZZ_REGRESSIONS), findings);
        QVERIFY2(seeds >= 20, "the seed corpus is missing");
        QVERIFY2(findings >= 1, "the regression corpus is missing");
    }
    void replay()
    {
        QFETCH(QString, file);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        testsupport::ConsoleCapture quiet; // the load's trace is not what is tested here
        const QString problem = loaderfuzz::runOne(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                                   static_cast<std::size_t>(bytes.size()));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // A cell whose diagonal corners lie 1.5e9 grid units before and after the grid: the span
    // of 3e9 units does not fit an int. Every grid point lies in the middle of that cell,
    // so it must get the mean of the corners, not a value extrapolated from a wrapped span.
    void resampleCellSpanningBeyondInt()
    {
        Volume source(3, 3, 1);
        source.mMinPos = Vector3(0, 0, 0);
        source.mMaxPos = Vector3(3, 3, 0); // one grid unit per world unit
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                DataPoint p(1);
                p.mPos = Vector3(x, y, 0);
                p.mDir = Vector3(x == 1 ? 2.0 : 0.0, y == 1 ? 2.0 : 0.0, 0.0);
                p.mValues[0] = x == 1 ? 2.0f : 0.0f;
                source.setAt(x, y, 0, p);
            }
        }
        DataPoint p00 = source.getAt(0, 0, 0), p11 = source.getAt(1, 1, 0);
        p00.mPos = Vector3(-1.5e9, -1.5e9, 0);
        p11.mPos = Vector3(1.5e9, 1.5e9, 0);
        source.setAt(0, 0, 0, p00);
        source.setAt(1, 1, 0, p11);

        Volume grid(3, 3, 1);
        grid.calculateGridFrom(source);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                const DataPoint g = grid.getAt(x, y, 0);
                QCOMPARE(g.mValues.size(), 2);
                QVERIFY2(qAbs(g.mDir.x - 1.0) < 1e-6 && qAbs(g.mDir.y - 1.0) < 1e-6,
                         qPrintable(QStringLiteral("(%1, %2): flow %3 %4").arg(x).arg(y).arg(g.mDir.x).arg(g.mDir.y)));
                QVERIFY2(qAbs(g.mValues[0] - 1.0f) < 1e-3f, qPrintable(QString::number(g.mValues[0])));
            }
        }
    }

    // The packing that the seeds use splits back into the same two files.
    void packedInputsRoundTrip()
    {
        const QByteArray grid = "SN4DB 1 1 1 0 1 0" + QByteArray(23, ' ') + QByteArray(12, '\0');
        const QByteArray data(12, '\0');
        const QByteArray packed = loaderfuzz::pack(grid, data);
        QCOMPARE(packed.size(), 4 + grid.size() + data.size());
        QCOMPARE(packed.left(4), QByteArray("\x34\0\0\0", 4));
        QCOMPARE(loaderfuzz::pack(grid, data, false).at(3), char(0x80));
        testsupport::ConsoleCapture console;
        QVERIFY(loaderfuzz::runOne(reinterpret_cast<const std::uint8_t *>(packed.constData()), packed.size()).isEmpty());
        QVERIFY(console.contains(QStringLiteral("Dataset size: 1 1 1")));
        const QByteArray noData = loaderfuzz::pack(grid, data, false);
        console.clear();
        QVERIFY(loaderfuzz::runOne(reinterpret_cast<const std::uint8_t *>(noData.constData()), noData.size()).isEmpty());
        QVERIFY(console.contains(QStringLiteral("cannot open the data file")));
    }
};

QTEST_GUILESS_MAIN(TestLoaderFuzzRegressions)
#include "tst_loaderfuzzregressions.moc"
