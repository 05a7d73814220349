// Replays every input of the loader fuzz corpus that is checked in (the seeds and each past
// finding) through the fuzz target's own entry function: load, resample, and the checks of
// what must hold afterwards. A finding that comes back fails here, in the normal build.

#include "LoaderFuzz.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
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
