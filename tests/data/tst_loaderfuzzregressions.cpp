// Replays every input of the loader fuzz corpus that is checked in (the seeds and each past
// finding) through the fuzz target's own entry function: load, resample, and the checks of
// what must hold afterwards. A finding that comes back fails here, in the normal build.

#include "LoaderFuzz.h"
#include "TestSupport.h"

#include <QtTest> // with all of QtCore

class TestLoaderFuzzRegressions : public QObject
{
    Q_OBJECT

    // Every file of a corpus folder but its README.md; `atLeast` counts the README too.
    static void addFolder(const QString &folder, int atLeast)
    {
        const QDir dir(folder);
        const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name); // hidden files are not listed
        QVERIFY2(files.size() >= atLeast, qPrintable(folder + QStringLiteral(" has lost its corpus")));
        for (const QFileInfo &fi : files)
            if (fi.fileName() != QLatin1String("README.md"))
                QTest::newRow(qPrintable(dir.dirName() + '/' + fi.fileName())) << fi.filePath();
    }

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("file");
        addFolder(QStringLiteral(TESSALY_FUZZ_SEEDS), 20);
        addFolder(QStringLiteral(TESSALY_FUZZ_REGRESSIONS), 2); // the README and at least one finding
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
        for (int i = 0; i < 9; ++i) {
            const int x = i % 3, y = i / 3;
            DataPoint p(1);
            const double far = i == 0 ? -1.5e9 : i == 4 ? 1.5e9 : 0.0; // corners (0, 0) and (1, 1)
            p.mPos = far != 0.0 ? Vector3(far, far, 0) : Vector3(x, y, 0);
            p.mDir = Vector3(x == 1 ? 2.0 : 0.0, y == 1 ? 2.0 : 0.0, 0.0);
            p.mValues[0] = x == 1 ? 2.0f : 0.0f;
            source.setAt(x, y, 0, p);
        }
        Volume grid(3, 3, 1);
        grid.calculateGridFrom(source);
        for (int i = 0; i < 9; ++i) {
            const DataPoint g = grid.getAt(i % 3, i / 3, 0);
            QCOMPARE(g.mValues.size(), 2);
            QVERIFY2(qAbs(g.mDir.x - 1.0) < 1e-6 && qAbs(g.mDir.y - 1.0) < 1e-6,
                     qPrintable(QStringLiteral("point %1: flow %2 %3").arg(i).arg(g.mDir.x).arg(g.mDir.y)));
            QVERIFY2(qAbs(g.mValues[0] - 1.0f) < 1e-3f, qPrintable(QString::number(g.mValues[0])));
        }
    }
};

QTEST_GUILESS_MAIN(TestLoaderFuzzRegressions)
#include "tst_loaderfuzzregressions.moc"
