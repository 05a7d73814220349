// The separation grid on its own: cell validity, the 3 x 3 neighbourhood, storing indices
// and the "grid.log" dump.
#include "SeparationGrid.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cmath>
#include <limits>

using testsupport::ConsoleCapture;

namespace {

QList<QPair<double, double>> pairs(const QVector<Vector2> &cells)
{
    QList<QPair<double, double>> out;
    for (const Vector2 &c : cells)
        out.append({c.x, c.y});
    return out;
}

QByteArray readGridLog()
{
    QFile f(QStringLiteral("grid.log"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

int totalIndices(const SeparationGrid &g)
{
    int n = 0;
    for (const auto &c : g.mCells)
        n += int(c.size());
    return n;
}

} // namespace

class TestSeparationGrid : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(QStringLiteral("grid.log"));
        QDir().rmdir(QStringLiteral("grid.log"));
    }

    void validCellsStopAtTheBorders()
    {
        SeparationGrid g;
        g.setSize(14, 11);
        QCOMPARE(g.mCells.size(), 14 * 11);
        QVERIFY(g.isValidCell(0, 0));
        QVERIFY(g.isValidCell(13, 10));
        QVERIFY(!g.isValidCell(-1, 0));
        QVERIFY(!g.isValidCell(14, 0));
        QVERIFY(!g.isValidCell(0, -1));
        QVERIFY(!g.isValidCell(0, 11));
        QVERIFY(!g.isValidCell(std::nan(""), 0));
        QVERIFY(!g.isValidCell(1e300, 1e300));
    }

    void sizesAreSane()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(-3, 5);
        QCOMPARE(g.mWidth, 0);
        QCOMPARE(g.mCells.size(), 0);
        // A size that would need billions of cells is refused instead of allocated.
        g.setSize(100000, 100000);
        QCOMPARE(g.mWidth, 0);
        QCOMPARE(g.mHeight, 0);
        QCOMPARE(g.mCells.size(), 0);
        QVERIFY(console.contains(QStringLiteral("too large")));
        g.setSize(3, 2);
        QCOMPARE(g.mCells.size(), 6);
    }

    void neighbourCellsComeColumnByColumn()
    {
        SeparationGrid g;
        g.setSize(14, 11);
        using L = QList<QPair<double, double>>;
        QCOMPARE(pairs(g.getNeighbourCells(0, 0)), (L{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
        QCOMPARE(pairs(g.getNeighbourCells(5, 5)),
                 (L{{4, 4}, {4, 5}, {4, 6}, {5, 4}, {5, 5}, {5, 6}, {6, 4}, {6, 5}, {6, 6}}));
        // Edge cells give six, the far corner four.
        QCOMPARE(pairs(g.getNeighbourCells(0, 5)), (L{{0, 4}, {0, 5}, {0, 6}, {1, 4}, {1, 5}, {1, 6}}));
        QCOMPARE(pairs(g.getNeighbourCells(13, 10)), (L{{12, 9}, {12, 10}, {13, 9}, {13, 10}}));
        QCOMPARE(pairs(g.getNeighbourCells(6, 0)), (L{{5, 0}, {5, 1}, {6, 0}, {6, 1}, {7, 0}, {7, 1}}));
        // A position just outside still sees the cells it touches.
        QCOMPARE(pairs(g.getNeighbourCells(-1, -1)), (L{{0, 0}}));
        QCOMPARE(pairs(g.getNeighbourCells(14, 11)), (L{{13, 10}}));
        QVERIFY(g.getNeighbourCells(20, 3).isEmpty());
        // Non-finite or enormous cell numbers name no cell and do not overflow.
        QVERIFY(g.getNeighbourCells(std::nan(""), 1).isEmpty());
        QVERIFY(g.getNeighbourCells(1, std::numeric_limits<double>::infinity()).isEmpty());
        QVERIFY(g.getNeighbourCells(-1e12, 1e12).isEmpty());

        SeparationGrid one;
        one.setSize(1, 1);
        QCOMPARE(pairs(one.getNeighbourCells(0, 0)), (L{{0, 0}}));
    }

    void pointsAreFiledInTheirCell()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(14, 11);
        g.addPoint(3, 2, 7);
        g.addPoint(3, 2, 4);
        g.addPoint(13, 10, 9);
        QCOMPARE(g.getCell(3, 2), (QVector<int>{7, 4}));
        QCOMPARE(g.mCells.at(2 * 14 + 3), (QVector<int>{7, 4}));
        QCOMPARE(g.getCell(13, 10), (QVector<int>{9}));
        QVERIFY(g.getCell(2, 3).isEmpty());

        // getCell hands out a copy.
        QVector<int> copy = g.getCell(3, 2);
        copy.append(1);
        QCOMPARE(g.getCell(3, 2).size(), 2);

        QVERIFY(console.lines().isEmpty());
        g.addPoint(-1, 0, 1);
        g.addPoint(14, 3, 2);
        g.addPoint(0, 11, 3);
        g.addPoint(INT_MAX, INT_MAX, 4);
        QCOMPARE(console.lines(), (QStringList{"index out of range -1 : 0", "index out of range 14 : 3",
                                               "index out of range 0 : 11",
                                               "index out of range 2147483647 : 2147483647"}));
        QCOMPARE(totalIndices(g), 3);

        // Entry numbers outside the cells read as empty lists; a negative column with a
        // later row still names an entry, the end of the row above.
        QVERIFY(g.getCell(0, 11).isEmpty());
        QVERIFY(g.getCell(-1, 0).isEmpty());
        QVERIFY(g.getCell(INT_MIN, INT_MIN).isEmpty());
        QCOMPARE(g.getCell(-1, 11), (QVector<int>{9}));
    }

    void indexRangeIsTracked()
    {
        SeparationGrid g;
        g.setSize(2, 2);
        QVERIFY(g.indicesBelow(0));
        g.addPoint(0, 0, 0);
        g.addPoint(1, 1, 5);
        QVERIFY(!g.indicesBelow(5));
        QVERIFY(g.indicesBelow(6));
        ConsoleCapture console;
        g.addPoint(7, 7, 100); // not stored, so not counted
        QVERIFY(g.indicesBelow(6));
        g.addPoint(1, 0, -1);
        QVERIFY(!g.indicesBelow(1000));
    }

    void gridLogOfASmallGrid()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(3, 2);
        g.addPoint(1, 0, 0);
        g.addPoint(1, 0, 1);
        g.addPoint(0, 1, 2);
        QVERIFY(g.writeLog());
        QCOMPARE(readGridLog(), QByteArray("\t0\t2\t0\n\t1\t0\t0\n"));
        QCOMPARE(console.lines(), QStringList{"file written to: grid.log"});
    }

    void gridLogHasOneLinePerRow()
    {
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(14, 11);
        for (int i = 0; i < 30; ++i)
            g.addPoint(i % 14, (i * 7) % 11, i);
        g.addPoint(12, 10, 30);
        QVERIFY(g.writeLog());
        const QByteArray text = readGridLog();
        QVERIFY(text.endsWith('\n'));
        const QList<QByteArray> rows = text.chopped(1).split('\n');
        QCOMPARE(rows.size(), 11);
        for (int cy = 0; cy < 11; ++cy) {
            QVERIFY(rows[cy].startsWith('\t'));
            const QList<QByteArray> fields = rows[cy].mid(1).split('\t');
            QCOMPARE(fields.size(), 14);
            for (int cx = 0; cx < 14; ++cx)
                QCOMPARE(fields[cx].toInt(), int(g.getCell(cx, cy).size()));
        }
        QCOMPARE(rows[10], QByteArray("\t1\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t1\t1\t0"));
    }

    void gridLogIsReplacedOnEveryWrite()
    {
        ConsoleCapture console;
        SeparationGrid big;
        big.setSize(14, 11);
        big.addPoint(0, 0, 0);
        QVERIFY(big.writeLog());
        SeparationGrid small;
        small.setSize(1, 1);
        QVERIFY(small.writeLog());
        QCOMPARE(readGridLog(), QByteArray("\t0\n"));
        QCOMPARE(console.lines().count(QStringLiteral("file written to: grid.log")), 2);
    }

    void unwritableGridLogIsReportedAsAFailure()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("grid.log")));
        ConsoleCapture console;
        SeparationGrid g;
        g.setSize(2, 2);
        QVERIFY(!g.writeLog());
        QVERIFY(!console.contains(QStringLiteral("file written to:")));
        QCOMPARE(console.lines().size(), 1);
        QVERIFY2(console.lines().first().startsWith(QStringLiteral("could not write grid.log:")),
                 qPrintable(console.lines().first()));
        QVERIFY(QDir().rmdir(QStringLiteral("grid.log")));
    }
};

QTEST_GUILESS_MAIN(TestSeparationGrid)
#include "tst_separationgrid.moc"
