// tessaly-import's inputs and outputs: what it refuses before reading (inputs that are no
// regular file, outputs that are the input), files that would import as a wrong field (a cut
// classic NetCDF file, a never-written NetCDF-4 field, tables without names, positions that
// single precision cannot hold), the tables it now reads as meant, and the publication of a
// pair: one import at a time, the old pair kept whole when the new one cannot be finished.

#include "data/Metadata.h"
#include "tools/import/PairOutput.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <atomic>
#include <thread>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessimport;

namespace {

const char kCoads[] = "/usr/share/ferret-vis/data/coads_climatology.cdf";

testsupport::ToolRun runImport(const QStringList &args) { return testsupport::runTool(QStringLiteral(TESSALY_IMPORT_BIN), args); }

// The 4 x 3 grid x = i, y = j, u = i + 1, v = j - 1 as rows "x y [z] u v [w]".
QByteArray rows(bool threeD)
{
    QByteArray t;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i)
            t += threeD ? QStringLiteral("%1 %2 0.005 %3 %4 0\n").arg(i).arg(j).arg(i + 1).arg(j - 1).toLatin1()
                        : QStringLiteral("%1 %2 %3 %4\n").arg(i).arg(j).arg(i + 1).arg(j - 1).toLatin1();
    return t;
}

bool ncgen(const QString &cdl, const QString &out)
{
    testsupport::writeFile(out + ".cdl", cdl.toLatin1());
    const testsupport::ToolRun r = testsupport::runTool(QStringLiteral("ncgen"), {"-k", "nc4", "-o", out, out + ".cdl"});
    return r.status == 0 || (qWarning().noquote() << "ncgen (netcdf-bin):" << r.err, false);
}

// Every file of a folder, hidden ones (the temporaries) included, with its bytes.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> m;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        m[f.fileName()] = f.isFile() && !f.isSymLink() ? testsupport::readFile(f.filePath()) : QByteArray("(not a file)");
    return m;
}

// A pair's signature: the grid's first z and the data's first u, set equal by its writer.
bool consistent(const QString &grid, const QString &data, float *signature = nullptr)
{
    const QByteArray g = testsupport::readFile(grid), d = testsupport::readFile(data);
    if (g.size() < 52 || d.size() < 4)
        return false;
    // Through QByteArray::mid: GCC 12 takes the raw pointer for the empty array's and warns.
    float z, u;
    std::memcpy(&z, g.mid(48, 4).constData(), 4);
    std::memcpy(&u, d.left(4).constData(), 4);
    if (signature)
        *signature = u;
    return z == u && g.size() == 40 + 6 * 12 && d.size() == 6 * 20;
}

} // namespace

class TestImportSafety : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString path(const QString &name) const { return mDir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        testsupport::writeFile(path("table.txt"), "x y u v\n" + rows(false));
    }

    // Refused before or instead of a wrong import: exit status, the message, and the folder
    // exactly as before (files, hidden temporaries, contents).
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString table = path("table.txt");
        const QByteArray tableText = testsupport::readFile(table);
        // The input named like the data file it would derive, through a link, another name
        // of it, "..", and outputs that are no regular files.
        testsupport::writeFile(path("T.00000.dat"), tableText);
        QVERIFY(QDir().mkpath(path("sub")));
        QFile::link(table, path("L.gri"));
        QVERIFY(::link(QFile::encodeName(table).constData(), QFile::encodeName(path("H.00000.dat")).constData()) == 0);
        QVERIFY(QDir().mkpath(path("folder.gri")));
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo.00000.dat")).constData(), 0644) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe.txt")).constData(), 0644) == 0);
        QTest::newRow("input is the data file") << QStringList{path("T.00000.dat"), path("T.gri")} << 2
                                                << "the data file " + path("T.00000.dat") + " of " + path("T.gri") + " would replace the input";
        QTest::newRow("input reached by ..") << QStringList{path("sub/../T.00000.dat"), path("T.gri")} << 2 << "would replace the input";
        QTest::newRow("output links to the input") << QStringList{table, path("L.gri")} << 2 << "the output " + path("L.gri") + " would replace the input";
        QTest::newRow("data file is another name of the input") << QStringList{table, path("H.gri")} << 2 << "would replace the input " + table;
        QTest::newRow("output is a folder") << QStringList{table, path("folder.gri")} << 2 << "folder.gri is a folder, not a regular file";
        testsupport::writeFile(path("M.meta.json"), tableText);
        QVERIFY(QDir().mkpath(path("mfolder.meta.json")));
        QTest::newRow("input is the metadata file") << QStringList{path("M.meta.json"), path("M.gri")} << 2
                                                    << "the metadata file " + path("M.meta.json") + " of " + path("M.gri") + " would replace the input";
        QTest::newRow("metadata file is a folder") << QStringList{table, path("mfolder.gri")} << 2 << "mfolder.meta.json is a folder, not a regular file";
        QTest::newRow("data file is a named pipe") << QStringList{table, path("fifo.gri")} << 2 << "fifo.00000.dat is a named pipe, not a regular file";
        // Inputs that would block or never end.
        QTest::newRow("named pipe") << QStringList{path("pipe.txt"), path("o.gri")} << 1 << "pipe.txt: a named pipe, not a regular file";
        QTest::newRow("named pipe, --list") << QStringList{path("pipe.txt"), "--list"} << 1 << "a named pipe, not a regular file";
        QTest::newRow("device") << QStringList{"/dev/zero", path("o.gri")} << 1 << "cannot read /dev/zero: a device, not a regular file";
        QTest::newRow("folder") << QStringList{path("sub"), "--list"} << 1 << "a folder, not a regular file";
        // A classic file cut short: the library would return zeros past its end.
        if (QFile::exists(QLatin1String(kCoads))) {
            const QByteArray coads = testsupport::readFile(QLatin1String(kCoads));
            testsupport::writeFile(path("t.cdf"), coads.left(100000));
            testsupport::writeFile(path("half.cdf"), coads.left(coads.size() / 2));
            QTest::newRow("cut classic NetCDF") << QStringList{path("t.cdf"), path("o.gri")} << 1
                                                << "t.cdf is truncated: UWND needs bytes up to 5317872, the file has 100000";
            QTest::newRow("cut at half, --time 6") << QStringList{path("half.cdf"), path("o.gri"), "--time", "6"} << 1
                                                   << QStringLiteral("half.cdf is truncated: UWND needs bytes up to 5317872, the file has %1").arg(coads.size() / 2);
            QTest::newRow("cut, --list") << QStringList{path("t.cdf"), "--list"} << 1 << "t.cdf is truncated: ";
        }
        // NetCDF-4 declaring 11000^2 values never written: refused from the sizes, at once.
        QVERIFY(ncgen("netcdf big {\ndimensions: y = 11000; x = 11000;\nvariables:\n float u(y, x); float v(y, x);\n}\n", path("big.nc")));
        QTest::newRow("never-written NetCDF-4 field") << QStringList{path("big.nc"), path("o.gri")} << 1
                                                      << "u(y, x) was never written: 11000 x 11000 values need at least 484000000 bytes";
        // Curvilinear positions all at one point.
        QVERIFY(ncgen("netcdf one {\ndimensions: y = 3; x = 4;\nvariables:\n double lon(y, x); double lat(y, x);\n"
                      " float u(y, x); u:coordinates = \"lon lat\"; float v(y, x);\n"
                      "data:\n lon = 3,3,3,3,3,3,3,3,3,3,3,3;\n lat = 4,4,4,4,4,4,4,4,4,4,4,4;\n"
                      " u = 1,2,3,4,5,6,7,8,9,10,11,12;\n v = 1,2,3,4,5,6,7,8,9,10,11,12;\n}\n",
                      path("onepoint.nc")));
        QVERIFY(ncgen("netcdf line {\ndimensions: y = 3; x = 1;\nvariables:\n float x(x); float y(y); float u(y, x); float v(y, x);\n"
                      "data:\n x = 5;\n y = 1, 2, 3;\n u = 1, 2, 3;\n v = 1, 2, 3;\n}\n",
                      path("column.nc")));
        QTest::newRow("one point along x") << QStringList{path("column.nc"), path("o.gri")} << 1 << "u(y, x) has 1 x 3 points; a grid needs at least 2 x 2";
        QTest::newRow("all positions equal") << QStringList{path("onepoint.nc"), path("o.gri")} << 1 << "the extent is empty: all 12 points lie at (3, 4)";
        // Tables: more than four columns without names, positions single precision cannot
        // hold, flow values beyond the float range.
        testsupport::writeFile(path("sets.xy"), rows(true));
        testsupport::writeFile(path("huge.txt"), "x y u v\n0 0 1 1\n1e308 0 2 1\n0 1 1 2\n1e308 1 1 1\n");
        testsupport::writeFile(path("tiny.txt"), "x y u v\n0 0 1 1\n1e-50 0 2 1\n0 1 1 2\n1e-50 1 1 1\n");
        testsupport::writeFile(path("close.txt"), "x y u v\n1 0 1 1\n1.00000001 0 2 1\n1 1 1 2\n1.00000001 1 1 1\n");
        testsupport::writeFile(path("beyond.txt"), "x y u v\n0 0 1e308 1\n1 0 1 -1e308\n0 1 1e308 2\n1 1 -1e308 2\n");
        QTest::newRow("six columns, no names") << QStringList{path("sets.xy"), path("o.gri")} << 1
                                               << "line 1 has 6 columns and the table has no header line of names: say which hold the positions and the flow with --x/--y/--u/--v";
        QTest::newRow("six columns, --list") << QStringList{path("sets.xy"), "--list"} << 1 << "has 6 columns";
        QTest::newRow("coordinate beyond float") << QStringList{path("huge.txt"), path("o.gri")} << 1
                                                 << "the x coordinate x holds 1e+308, beyond the float range of positions";
        QTest::newRow("coordinate underflows") << QStringList{path("tiny.txt"), path("o.gri")} << 1
                                               << "the x coordinate x holds 1e-50, which single precision stores as 0";
        QTest::newRow("coordinates merge in float") << QStringList{path("close.txt"), path("o.gri")} << 1
                                                    << "the x coordinate x has neighbours 1 and 1.0000000099999999 that single precision stores as one value";
        QTest::newRow("flow beyond float") << QStringList{path("beyond.txt"), path("o.gri")} << 1
                                           << "u and v have no value at any point: 4 u or v values lie beyond the float range (about ±3.4e38) and count as missing";
        QTest::newRow("no such folder") << QStringList{table, path("none/o.gri")} << 1 << "cannot write " + path("none/o.gri") + ": the folder";
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const auto before = contents(mDir.path());
        QElapsedTimer clock;
        clock.start();
        const auto r = runImport(args);
        QTEST(r.status, "code");
        QVERIFY2(r.err.startsWith("tessaly-import: ") && r.err.count('\n') == 1 && r.err.contains(message), qPrintable(r.err));
        QVERIFY2(clock.elapsed() < 10000, "refused only after reading"); // the 11000^2 field took 5 s and 2.4 GB
        QCOMPARE(contents(mDir.path()).keys(), before.keys());
        QVERIFY(contents(mDir.path()) == before);
    }

    // Tables read as meant: the field written, the summary's choice, and stderr.
    void tableLayouts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QList<float>>("flow"); // at point (3, 2)
        QByteArray crOnly = "x y u v\n" + rows(false);
        crOnly.replace('\n', '\r');
        QByteArray savetxt = "# x y u v\n" + rows(false);
        QByteArray units;
        for (const QByteArray &line : rows(false).split('\n'))
            units += line.isEmpty() ? QByteArray() : line + "\n";
        units.prepend("x [mm] y [mm] u [m/s] v [m/s]\n");
        QTest::newRow("OpenFOAM sets, named") << "# x y z U_x U_y U_z\n" + rows(true) << QStringList() << "u = U_x, v = U_y" << "" << QList<float>{4, 1};
        QTest::newRow("numpy.savetxt header") << savetxt << QStringList() << "u = u, v = v" << "" << QList<float>{4, 1};
        QTest::newRow("CR line ends") << crOnly << QStringList() << "u = u, v = v, 12 rows" << "" << QList<float>{4, 1};
        QTest::newRow("units in brackets") << units << QStringList() << "u = u [m/s], v = v [m/s]" << "" << QList<float>{4, 1};
        QTest::newRow("--u 4 --v 5: scalar is the speed") << rows(true) << QStringList{"--u", "4", "--v", "5"} << "scalar speed: 1 ... 4.123106" << "" << QList<float>{4, 1};
        QTest::newRow("constant u column warned") << rows(true) << QStringList{"--u", "3", "--v", "5"} << "u = 3, v = 5"
                                                  << "tessaly-import: warning: the u column 3 holds 0.005 in every row; is it the right column? (--u)\n"
                                                  << QList<float>{0.005f, 1};
    }
    void tableLayouts()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, options);
        QFETCH(QString, warning);
        testsupport::writeFile(path("layout.txt"), text);
        const auto r = runImport(QStringList{path("layout.txt"), path("layout.gri")} + options);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(r.err, warning);
        QVERIFY2(r.out.contains(QStringLiteral("grid: 4 x 3 points")), qPrintable(r.out));
        QFETCH(QString, summary);
        QVERIFY2(r.out.contains(summary), qPrintable(r.out));
        // The flow of point (3, 2), u = 4 and v = 1 in every layout: 20 bytes a record.
        const QByteArray d = testsupport::readFile(path("layout.00000.dat"));
        QCOMPARE(d.size(), 12 * 20);
        float uv[2];
        std::memcpy(uv, d.constData() + 11 * 20, 8);
        QTEST(QList<float>({uv[0], uv[1]}), "flow");
    }

    // A write that fails (here the file size limit, as a full disk would) names the file
    // and the reason; nothing is left, and an earlier pair and its metadata stay as they were.
    void writeErrorNamesFile()
    {
        const QString folder = path("limited");
        QVERIFY(QDir().mkpath(folder));
        QByteArray big = "x y u v\n";
        for (int j = 0; j < 10; ++j)
            for (int i = 0; i < 10; ++i)
                big += QStringLiteral("%1 %2 %3 %4\n").arg(i).arg(j).arg(i + j).arg(j).toLatin1();
        testsupport::writeFile(folder + "/big.txt", big);
        testsupport::writeFile(folder + "/w.gri", "old grid");
        testsupport::writeFile(folder + "/w.00000.dat", "old data");
        testsupport::writeFile(folder + "/w.meta.json", "old meta");
        const auto before = contents(folder);
        QProcess p;
        // Grid file 1240 bytes, data file 2000: only the data file exceeds the limit.
        p.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1500, 1500};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(QStringLiteral(TESSALY_IMPORT_BIN), {folder + "/big.txt", folder + "/w.gri"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(err, QStringLiteral("tessaly-import: cannot write %1/w.00000.dat: %2\n").arg(folder, QString::fromLocal8Bit(std::strerror(EFBIG))));
        QVERIFY(contents(folder) == before);
    }

    // The data file is in place and the grid's rename fails (a folder took its name): the
    // old data file comes back, the temporaries go.
    void failedGridRenameRestoresOldData()
    {
        const QString folder = path("restore");
        QVERIFY(QDir().mkpath(folder + "/p.gri/inside"));
        testsupport::writeFile(folder + "/p.00000.dat", "old data");
        testsupport::writeFile(folder + "/.new-grid", "new grid");
        testsupport::writeFile(folder + "/.new-data", "new data");
        const PairPaths paths{folder + "/p.gri", folder + "/p.00000.dat", "p.gri", "p.00000.dat", QString(), QString()};
        QString error;
        QVERIFY(!publishPair(folder + "/.new-grid", folder + "/.new-data", paths, error));
        QVERIFY2(error.startsWith("cannot write p.gri: "), qPrintable(error));
        QCOMPARE(testsupport::readFile(folder + "/p.00000.dat"), QByteArray("old data"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({"p.00000.dat", "p.gri"}));
    }

    // The metadata file goes with its pair: a publication that fails at any rename leaves
    // the old trio (or the old pair without one) as it was, and a new pair without metadata
    // takes an old metadata file with it.
    void metadataIsPublishedWithItsPair_data()
    {
        QTest::addColumn<QString>("fails");    // the rename that fails: "grid", "meta" or ""
        QTest::addColumn<bool>("oldMeta");     // p.meta.json before
        QTest::addColumn<bool>("newMeta");     // the publication brings one
        QTest::addColumn<QByteArray>("meta");  // p.meta.json after; empty: none
        QTest::newRow("new trio over old") << "" << true << true << QByteArray("new meta");
        QTest::newRow("new trio, none before") << "" << false << true << QByteArray("new meta");
        QTest::newRow("pair without metadata removes the old") << "" << true << false << QByteArray();
        QTest::newRow("grid fails: old trio kept") << "grid" << true << true << QByteArray("old meta");
        QTest::newRow("grid fails: none before, none after") << "grid" << false << true << QByteArray();
        QTest::newRow("grid fails: old metadata back") << "grid" << true << false << QByteArray("old meta");
        QTest::newRow("metadata fails: old trio kept") << "meta" << true << true << QByteArray("old meta");
        QTest::newRow("metadata fails: none before") << "meta" << false << true << QByteArray();
    }
    void metadataIsPublishedWithItsPair()
    {
        QFETCH(QString, fails);
        QFETCH(bool, oldMeta);
        QFETCH(bool, newMeta);
        QFETCH(QByteArray, meta);
        QTemporaryDir dir;
        const QString folder = dir.path();
        // A grid rename fails where a folder holds the grid's name; a metadata rename where
        // its temporary has gone.
        if (fails == QLatin1String("grid"))
            QVERIFY(QDir().mkpath(folder + "/p.gri/inside"));
        else
            testsupport::writeFile(folder + "/p.gri", "old grid");
        testsupport::writeFile(folder + "/p.00000.dat", "old data");
        if (oldMeta)
            testsupport::writeFile(folder + "/p.meta.json", "old meta");
        testsupport::writeFile(folder + "/.new-grid", "new grid");
        testsupport::writeFile(folder + "/.new-data", "new data");
        if (newMeta && fails != QLatin1String("meta"))
            testsupport::writeFile(folder + "/.new-meta", "new meta");
        const PairPaths paths{folder + "/p.gri", folder + "/p.00000.dat", "p.gri", "p.00000.dat", folder + "/p.meta.json", "p.meta.json"};
        QString error;
        const bool ok = publishPair(folder + "/.new-grid", folder + "/.new-data", paths, error, newMeta ? folder + "/.new-meta" : QString());
        QCOMPARE(ok, fails.isEmpty());
        if (!ok)
            QVERIFY2(error.startsWith(fails == QLatin1String("grid") ? "cannot write p.gri: " : "cannot write p.meta.json: "), qPrintable(error));
        QStringList expected{"p.00000.dat", "p.gri"};
        if (!meta.isEmpty())
            expected.append("p.meta.json");
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), expected);
        QCOMPARE(testsupport::readFile(folder + "/p.00000.dat"), QByteArray(ok ? "new data" : "old data"));
        if (fails != QLatin1String("grid"))
            QCOMPARE(testsupport::readFile(folder + "/p.gri"), QByteArray(ok ? "new grid" : "old grid"));
        if (!meta.isEmpty())
            QCOMPARE(testsupport::readFile(folder + "/p.meta.json"), meta);
    }

    // 200 pairs published at once into one name, each with its own signature: whenever the
    // lock is free (checked by a reader holding it) and at the end, the grid, the data file
    // and the metadata (or its absence) come from one import; no temporary or backup is left.
    void concurrentPairsStayWhole()
    {
        const QString folder = path("race");
        QVERIFY(QDir().mkpath(folder));
        const PairPaths paths{folder + "/out.gri", folder + "/out.00000.dat", "out.gri", "out.00000.dat", folder + "/out.meta.json", "out.meta.json"};
        // Even publications bring metadata holding their signature, odd ones none: the
        // metadata file is there exactly when the pair is an even one's, and is that one's.
        const auto metaFits = [&](float signature) {
            const int k = int(signature);
            return QFile::exists(paths.meta) == (k % 2 == 0) && (k % 2 != 0 || testsupport::readFile(paths.meta) == QByteArray::number(k));
        };
        std::atomic<int> failures{0}, done{0};
        std::vector<std::thread> writers;
        for (int k = 1; k <= 200; ++k)
            writers.emplace_back([&, k] {
                QString error;
                const QByteArray meta = QByteArray::number(k);
                const bool ok = writePair(paths, 3, 2, 2, [k](int x, int y, int, float *pos, float *dir, float *v) {
                    pos[0] = float(x);
                    pos[1] = float(y);
                    pos[2] = float(k);
                    dir[0] = float(k);
                    v[0] = v[1] = float(k);
                }, error, k % 2 == 0 ? &meta : nullptr);
                failures += !ok;
                ++done;
            });
        int checks = 0, torn = 0;
        while (done < 200) {
            PairLock lock(paths);
            QVERIFY(lock.locked());
            if (QFile::exists(paths.grid)) {
                ++checks;
                float signature = 0;
                torn += !consistent(paths.grid, paths.data, &signature) || !metaFits(signature);
            }
        }
        for (std::thread &t : writers)
            t.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(torn, 0);
        float signature = 0;
        QVERIFY(consistent(paths.grid, paths.data, &signature));
        QVERIFY(signature >= 1 && signature <= 200);
        QVERIFY(metaFits(signature));
        QStringList files{"out.00000.dat", "out.gri"};
        if (int(signature) % 2 == 0)
            files << "out.meta.json";
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), files);
        qInfo("%d checks under the lock", checks);
    }

    // The same through the command: 16 imports of different tables into one pair at once.
    void concurrentImports()
    {
        const QString folder = path("imports");
        QVERIFY(QDir().mkpath(folder));
        constexpr int kRuns = 16;
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int k = 0; k < kRuns; ++k) {
            QByteArray t = "x y u v\n";
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 3; ++i)
                    t += QStringLiteral("%1 %2 %3 %4\n").arg(100 * k + i).arg(j).arg(k + 0.5 * i).arg(j).toLatin1();
            testsupport::writeFile(QStringLiteral("%1/in%2.txt").arg(folder).arg(k), t);
        }
        for (int k = 0; k < kRuns; ++k) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(QStringLiteral(TESSALY_IMPORT_BIN), {QStringLiteral("%1/in%2.txt").arg(folder).arg(k), folder + "/out.gri"});
        }
        for (auto &p : runs) {
            QVERIFY(p->waitForFinished(30000));
            QCOMPARE(p->exitCode(), 0);
        }
        const QByteArray g = testsupport::readFile(folder + "/out.gri"), d = testsupport::readFile(folder + "/out.00000.dat");
        QCOMPARE(QList<qsizetype>({g.size(), d.size()}), QList<qsizetype>({40 + 6 * 12, 6 * 20}));
        float x, u;
        std::memcpy(&x, g.constData() + 40, 4);
        std::memcpy(&u, d.constData(), 4);
        QCOMPARE(x, 100 * u); // point (0, 0) of import k: x = 100 k, u = k
        // The metadata names the source of that same import.
        const metadata::Loaded meta = metadata::load(folder + "/out.gri", 3, 2);
        QCOMPARE(meta.status, metadata::Status::Loaded);
        QCOMPARE(meta.meta.source, QStringLiteral("%1/in%2.txt").arg(folder).arg(int(u)));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^out|^\\.")),
                 QStringList({"out.00000.dat", "out.gri", "out.meta.json"}));
    }
};

QTEST_GUILESS_MAIN(TestImportSafety)
#include "tst_importsafety.moc"
