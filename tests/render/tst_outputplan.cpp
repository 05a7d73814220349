// A dataset's output files put in place together: when any of them fails, before or while
// they are renamed into place, the files that were there stay as they were and no temporary
// file or backup is left behind.

#include "tools/render/OutputPlan.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <sys/stat.h>

class OutputPlanTest : public QObject
{
    Q_OBJECT

private slots:
    void allOrNothing_data()
    {
        QTest::addColumn<QString>("mishap");
        QTest::addColumn<bool>("committed");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << "" << true << "";
        QTest::newRow("the second writer fails") << "writer" << false << "cannot write DIR/b.log: out of ink";
        QTest::newRow("the second became a folder") << "folder" << false << "cannot write DIR/b.log: not a regular file";
        QTest::newRow("the second's rename fails") << "rename" << false << "cannot write DIR/b.log: No such file or directory";
    }
    // a.png exists (mode 0640), b.log does not; both are staged and written, then one mishap.
    void allOrNothing()
    {
        QFETCH(QString, mishap);
        QFETCH(bool, committed);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString a = dir.filePath("a.png"), b = dir.filePath("b.log");
        testsupport::writeFile(a, "old a");
        QVERIFY(QFile::setPermissions(a, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QString error;
        bool ok = false;
        {
            outputplan::Transaction outputs;
            QCOMPARE(outputplan::Transaction::current(), &outputs);
            QIODevice *fa = outputs.stage(a, &error);
            QIODevice *fb = outputs.stage(b, &error);
            QVERIFY(fa && fb);
            QVERIFY(fa->write("new a") == 5 && fb->write("new b") == 5);
            QVERIFY(outputs.finish(fa, &error));
            if (mishap == "writer")
                outputs.fail(fb, "out of ink", &error);
            else
                QVERIFY(outputs.finish(fb, &error));
            if (mishap == "folder")
                QVERIFY(QDir(dir.path()).mkdir("b.log"));
            if (mishap == "rename") // the staged file vanishes under the run
                for (const QString &f : QDir(dir.path()).entryList({"b.log.*"}, QDir::Files))
                    QVERIFY(QFile::remove(dir.filePath(f)));
            if (mishap != "writer")
                ok = outputs.commit(&error);
        }
        QVERIFY(!outputplan::Transaction::current());
        QCOMPARE(ok, committed);
        QCOMPARE(error, message.replace("DIR", dir.path()));
        QCOMPARE(testsupport::readFile(a), QByteArray(committed ? "new a" : "old a"));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(a).constData(), &st) == 0 && (st.st_mode & 07777) == 0640);
        QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        QCOMPARE(left, (QStringList{"a.png"} + (committed || mishap == "folder" ? QStringList{"b.log"} : QStringList())));
        if (committed)
            QCOMPARE(testsupport::readFile(b), QByteArray("new b"));
    }

    // Paths name the files the system opens: ".." after a symlink is the parent of its target.
    void resolvedThroughLinks()
    {
        QTemporaryDir dir;
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir(root).mkpath("x/y") && QFile::link(root + "/x/y", root + "/l"));
        testsupport::writeFile(root + "/x/a.gri", "a");
        QCOMPARE(outputplan::resolvedPath(root + "/l/../a.gri"), root + "/x/a.gri");
        QCOMPARE(outputplan::resolvedPath(root + "/l/../new.png"), root + "/x/new.png");
        QVERIFY(QFile::link(root + "/x/gone", root + "/dangling.png"));
        QCOMPARE(outputplan::resolvedPath(root + "/dangling.png"), root + "/x/gone");
        QCOMPARE(outputplan::check({root + "/x/a.gri"}, {{"-o", root + "/l/../a.gri"}}),
                 QStringLiteral("-o %1/l/../a.gri: the file is an input of this run (%1/x/a.gri)").arg(root));
    }
};

QTEST_GUILESS_MAIN(OutputPlanTest)
#include "tst_outputplan.moc"
