// Replays the importer's checked-in fuzz corpora (seeds and past findings) through the fuzz
// targets' own entry functions, in the normal build.

#include "ImportFuzz.h"
#include "TestSupport.h"

#include <QtTest>

class TestImportFuzzReplay : public QObject
{
    Q_OBJECT

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *target : {"table", "netcdf"}) {
            const QDir dir(QStringLiteral(TESSALY_IMPORT_CORPORA "/corpus-") + QLatin1String(target));
            const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
            QVERIFY2(files.size() >= 2, qPrintable(dir.path() + " has lost its corpus"));
            for (const QFileInfo &fi : files)
                QTest::newRow(qPrintable(QLatin1String(target) + '/' + fi.fileName())) << fi.filePath();
        }
    }
    void replay()
    {
        QFETCH(QString, file);
        const QByteArray bytes = testsupport::readFile(file);
        const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
        const QString problem = file.contains("/corpus-netcdf/") ? importfuzz::runNetcdf(data, std::size_t(bytes.size()))
                                                                 : importfuzz::runTable(data, std::size_t(bytes.size()));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(TestImportFuzzReplay)
#include "tst_importfuzzreplay.moc"
