// Replays every input of the loader fuzz corpus that is checked in (the seeds and each past
// finding) through the fuzz target's own entry function: load, resample, and the checks of
// what must hold afterwards. A finding that comes back fails here, in the normal build.
// (resample-span-overflow-written pins the wrapped cell span: its grid values must stay
// within the corners' range, which the target's checks demand.)

#include "LoaderFuzz.h"
#include "TestSupport.h"

#include <QtTest> // with all of QtCore

class TestLoaderFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("file");
        // The seeds, then the findings; `atLeast` counts each folder's README.md too.
        for (const auto &[folder, atLeast] : {std::pair(QStringLiteral(TESSALY_FUZZ_SEEDS), 20),
                                              std::pair(QStringLiteral(TESSALY_FUZZ_REGRESSIONS), 2)}) {
            const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
            QVERIFY2(files.size() >= atLeast, qPrintable(folder + " has lost its corpus"));
            for (const QFileInfo &fi : files)
                if (fi.fileName() != QLatin1String("README.md"))
                    QTest::newRow(qPrintable(fi.dir().dirName() + '/' + fi.fileName())) << fi.filePath();
        }
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
};

QTEST_GUILESS_MAIN(TestLoaderFuzzRegressions)
#include "tst_loaderfuzzregressions.moc"
