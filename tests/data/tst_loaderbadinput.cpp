// Bad dataset files loaded the way the control dock loads them: every refused input must leave
// an empty volume and an empty grid, write a console line saying why, and return promptly.

#include "tests/support/TestSupport.h"

#include <QtTest>

#include <sys/stat.h>

using namespace testsupport;

namespace {

QByteArray header(const QByteArray &text) { return text.leftJustified(40, ' ', true); }

// The grid or the data file of a correct 3 x 3 x 1 dataset with one value per point.
QByteArray good(bool grid)
{
    QByteArray b = grid ? header("SN4DB 3 3 1 1 1 0.5") : QByteArray("");
    for (int i = 0; i < 9; ++i)
        b += grid ? floats({float(i % 3), float(i / 3), 0.0f}) : floats({1.0f, 0.5f, 0.0f, float(i)});
    return b;
}

QByteArray withHeader(const QByteArray &text) { return header(text) + good(true).mid(40); }

// `grid` and `data` are the bytes of NAME.gri and NAME.00000.dat, written when not null;
// `setup` replaces one of them with something that is not a regular file.
struct Refusal { QString name; QByteArray grid, data; QString setup, message; };

} // namespace

Q_DECLARE_METATYPE(Refusal)

class TestLoaderBadInput : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    void refused_data()
    {
        QTest::addColumn<Refusal>("r");
        const QByteArray none, empty(""), g = good(true), d = good(false);
        const QString tooLarge = "negative or impossibly large", magic = "does not start with \"SN4DB\"";
        const auto row = [](const char *tag, const Refusal &r) { QTest::newRow(tag) << r; };
        row("missing file", {"nowhere.gri", none, none, "", "cannot open the grid file"});
        row("empty file", {"a.gri", empty, d, "", magic});
        row("empty data file", {"a.gri", g, empty, "", "Data file too short"});
        row("missing data file", {"a.gri", g, none, "", "cannot open the data file"});
        row("upper-case name", {"FLOW.GRI", g, none, "", "has no \".gri\""});
        row("short grid file", {"a.gri", g.left(40 + 12 * 8 + 5), d, "", "Grid file too short"});
        row("short data file", {"a.gri", g, d.left(16 * 9 - 1), "", "Data file too short"});
        row("lower-case magic", {"a.gri", "sn4db" + g.mid(5), d, "", magic});
        row("negative y", {"a.gri", withHeader("SN4DB 3 -3 1 1 1 0"), d, "", tooLarge});
        row("negative channels", {"a.gri", withHeader("SN4DB 3 3 1 -1 1 0"), d, "", tooLarge});
        row("int min", {"a.gri", withHeader("SN4DB -2147483648 1 1 0 1 0"), d, "", tooLarge});
        row("product past 64 bits", {"a.gri", header("SN4DB 2147483647 2147483647 2147483647 1"), d, "", tooLarge});
        row("channels past the data", {"a.gri", withHeader("SN4DB 3 3 1 2147483647 1 0"), d, "", "Data file too short"});
        row("points past 32 bits", {"a.gri", withHeader("SN4DB 65536 65536 2 1 1 0"), d, "", "Grid file too short"});
        // 2^32 points in sparse files of the right size: the count does not fit the volume's int
        // indices, and nothing may be allocated or read for it.
        row("points past int indices", {"a.gri", header("SN4DB 65536 65536 1 0 1 0"), empty, "sparse",
            "Cannot hold 65536 x 65536 x 1 points"});
        // No points at all, yet counts of 4e18 rows: must not spin over them; the extent stays unset.
        row("counts without points", {"a.gri", header("SN4DB 0 2000000000 2000000000 3 1 0"), empty, "",
            "max: -1e+08 -1e+08 0"});
        row("magic only", {"a.gri", withHeader("SN4DB"), d, "", "no points (0 of 6 numbers read)"});
        row("two numbers", {"a.gri", withHeader("SN4DB 3 3"), d, "", "no points (2 of 6 numbers read)"});
        row("text file picked", {"notes.txt", "just some words\n", none, "", "has no \".gri\" in its file name"});
        row("device picked", {"zero.gri", none, none, "zero", "is not a regular file"});
        row("folder named .gri", {"a.gri", none, d, "grid dir", "is not a regular file"});
        row("folder as data file", {"a.gri", g, none, "data dir", "is not a regular file"});
        row("the folder itself", {"", none, none, "", "has no \".gri\""});
        row("pipe as grid file", {"a.gri", none, d, "grid pipe", "is not a regular file"});
        row("pipe as data file", {"a.gri", g, none, "data pipe", "is not a regular file"});
        row("non-ASCII name", {"Strömung ü 渦/fehlt-ß.gri", none, none, "", "Strömung ü 渦/fehlt-ß.gri"});
        row("non-ASCII short data", {"Strömung/wirbel-δ.gri", g, d.left(7), "", "wirbel-δ.00000.dat holds 7 bytes"});
    }
    void refused()
    {
        QFETCH(Refusal, r);
        const auto &[name, grid, data, setup, message] = r;
        QTemporaryDir dir;
        const QString g = dir.filePath(name), d = dataset::dataFileName(g);
        QVERIFY(QDir().mkpath(QFileInfo(g).path()));
        if (!grid.isNull())
            writeFile(g, grid);
        if (!data.isNull())
            writeFile(d, data);
        if (setup == "zero") // endless zeros: must be refused before anything is read
            QVERIFY(QFile::link("/dev/zero", g) && QFile::link("/dev/zero", d));
        if (setup.endsWith("dir"))
            QVERIFY(QDir().mkpath(setup.startsWith("grid") ? g : d));
        if (setup.endsWith("pipe")) // a plain open would block until someone writes into it
            QCOMPARE(::mkfifo(QFile::encodeName(setup.startsWith("grid") ? g : d).constData(), 0600), 0);
        if (setup == "sparse" && !(QFile(g).resize(40 + 12 * (qint64(1) << 32)) && QFile(d).resize(12 * (qint64(1) << 32))))
            QSKIP("this file system cannot hold sparse files of 48 GiB");

        ConsoleCapture console;
        loadLikeTheDock(name.isEmpty() ? dir.path() + '/' : g); // a hang ends at the test's timeout
        QVERIFY(loadedVolume && gridVolume);
        QCOMPARE(loadedVolume->getDimX() + loadedVolume->getDimY() + loadedVolume->getDimZ(), 0);
        QCOMPARE(loadedVolume->pointCount() + gridVolume->pointCount(), std::size_t(0));
        QVERIFY2(console.contains(message), qPrintable(message + " not in:\n" + console.lines().join('\n')));
    }

    // Large rows are read a few at a time: every value must land on its point, including in
    // the last, partial chunk (three rows per chunk) and in a row larger than a chunk.
    void chunkedReading()
    {
        for (const QSize size : {QSize(20000, 7), QSize(70000, 2)}) {
            QTemporaryDir dir;
            Volume v;
            v.load(writeDataset(dir, "c.gri", size.width(), size.height(), 1, 1, [](int x, int y, int, float pos[3], float d[3], float *val) {
                pos[0] = val[0] = float(x);
                pos[1] = d[0] = float(y);
            }));
            QCOMPARE(v.pointCount(), std::size_t(size.width()) * size.height());
            for (int y = 0; y < size.height(); ++y)
                for (int x : {0, size.width() / 2, size.width() - 1}) {
                    const DataPoint p = v.getAt(x, y, 0); // as "pos x, pos y, dir x, value"
                    QCOMPARE(QString("%1 %2 %3 %4").arg(p.mPos.x).arg(p.mPos.y).arg(p.mDir.x).arg(p.mValues.value(0, -1)),
                             QString("%1 %2 %2 %1").arg(x).arg(y));
                }
        }
    }
};

QTEST_MAIN(TestLoaderBadInput)
#include "tst_loaderbadinput.moc"
