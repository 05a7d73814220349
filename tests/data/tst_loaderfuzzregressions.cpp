// Replays every fuzz input that is checked in (the loader's seeds and each past finding, the
// importer readers' corpora) through the fuzz targets' own entry functions: load or read,
// resample, and the checks of what must hold afterwards. A finding that comes back fails
// here, in the normal build.
// (resample-span-overflow-written pins the wrapped cell span: its grid values must stay
// within the corners' range, which the target's checks demand.)

#include "tools/import/fuzz/ImportFuzz.h"
#include "tools/fuzz/LoaderFuzz.h"
#include "tests/support/TestSupport.h"

#include <QtTest> // with all of QtCore

class TestLoaderFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("file");
        // `atLeast` counts each folder's README.md too: the corpus has not been lost.
        for (const auto &[folder, atLeast] : {std::pair(QStringLiteral(TESSALY_FUZZ_SEEDS), 20),
                                              {TESSALY_FUZZ_REGRESSIONS, 2},
                                              {TESSALY_IMPORT_CORPORA "/corpus-table", 2},
                                              {TESSALY_IMPORT_CORPORA "/corpus-netcdf", 2}}) {
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
        const QByteArray bytes = testsupport::readFile(file);
        testsupport::ConsoleCapture quiet; // the load's trace is not what is tested here
        const auto run = file.contains("/corpus-table/")    ? importfuzz::runTable
                         : file.contains("/corpus-netcdf/") ? importfuzz::runNetcdf
                                                            : loaderfuzz::runOne;
        const QString problem = run(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(TestLoaderFuzzRegressions)
#include "tst_loaderfuzzregressions.moc"
