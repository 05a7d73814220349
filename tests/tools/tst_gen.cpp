// tessaly-gen's answers: --help on stdout with every kind and status 0, usage errors with
// status 2 and nothing written, and a written flow that loads at the size asked for.

#include "data/Dataset.h"
#include "tools/Flows.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

class TestGen : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;

private slots:
    void help()
    {
        for (const char *flag : {"--help", "-h"}) {
            const testsupport::ToolRun r = testsupport::runTool(TESSALY_GEN_BIN, {flag});
            QCOMPARE(r.status, 0);
            QVERIFY(r.err.isEmpty());
            for (const QString &kind : flows::kinds())
                QVERIFY2(r.out.contains(kind), qPrintable(kind));
            QVERIFY(r.out.contains("--samples") && r.out.contains("WxH"));
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString f = mDir.filePath("u.gri");
        QTest::newRow("nothing") << QStringList{} << "needs KIND and FILE.gri";
        QTest::newRow("unknown kind") << QStringList{"swirl", f} << "unknown kind 'swirl'; the kinds are channel";
        QTest::newRow("unknown option") << QStringList{"--bogus", "uniform", f} << "Unknown option 'bogus'";
        QTest::newRow("bad size") << QStringList{"uniform", f, "5x0"} << "size must be WxH";
        QTest::newRow("too many") << QStringList{"uniform", f, "5x5", "x"} << "at most a size";
        QTest::newRow("samples and a kind") << QStringList{"--samples", mDir.path(), "uniform"} << "--samples takes no KIND";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const testsupport::ToolRun r = testsupport::runTool(TESSALY_GEN_BIN, args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.startsWith("tessaly-gen: ") && r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFile::exists(mDir.filePath("u.gri")));
    }

    void writesALoadableFlow()
    {
        const QString f = mDir.filePath("w.gri");
        const testsupport::ToolRun r = testsupport::runTool(TESSALY_GEN_BIN, {"vortices", f, "17x9"});
        QCOMPARE(r.status, 0);
        testsupport::ConsoleCapture quiet;
        const DatasetResult d = loadDataset(f);
        QVERIFY(d);
        QCOMPARE((QList<int>{d.dataset->loaded().getDimX(), d.dataset->loaded().getDimY()}), (QList<int>{17, 9}));
    }
};

QTEST_MAIN(TestGen)
#include "tst_gen.moc"
