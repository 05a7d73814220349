// tessaly-import: NetCDF files made here with ncgen (CF names, a descending latitude,
// packing, fill values, an extra time dimension, a curvilinear grid), the first COADS month
// against the file's own values, column tables in both orders, and the command's answers
// to bad input (the fuzz corpora: tst_loaderfuzzregressions).

#include "data/DatasetFiles.h"
#include "tools/import/ImportGrid.h"
#include "data/Metadata.h"
#include "tools/import/NetcdfReader.h"
#include "tools/import/TableReader.h"
#include "tests/support/TestSupport.h"
#include "data/Volume.h"

#include <netcdf.h>

#include <QtTest>

#include <cmath>
#include <functional>

using namespace tessimport;

namespace {

const char kCoads[] = "/usr/share/ferret-vis/data/coads_climatology.cdf";

#define NC(call) QVERIFY2((call) == NC_NOERR, #call)

// f(0) ... f(n - 1) as a CDL data list, every double exactly.
QString values(int n, const std::function<double(int)> &f)
{
    QStringList l;
    for (int k = 0; k < n; ++k)
        l << QString::number(f(k), 'g', 17);
    return l.join(", ");
}

// A NetCDF file of `kind` ("classic", "nc4") from CDL text, by ncgen (netcdf-bin).
bool ncgen(const QString &cdl, const QString &out, const char *kind = "nc4")
{
    testsupport::writeFile(out + ".cdl", cdl.toLatin1());
    const testsupport::ToolRun r = testsupport::runTool(QStringLiteral("ncgen"), {"-k", kind, "-o", out, out + ".cdl"});
    return r.status == 0 || (qWarning().noquote() << "ncgen (netcdf-bin):" << r.err, false);
}

// time = 2, lat = 3 (descending 10, 0, -10), lon = 4. The components are named oddly and
// found by standard_name; u is packed (short, scale 0.5, offset 10, _FillValue -999), v
// marks gaps with missing_value and valid_range. Raw u = 100 t + 10 j + i. Gaps at time 1:
// u at file row 1 column 1, v at row 0 column 2 (missing_value), row 2 column 3 (out of range).
// `other`, of another shape, is there for the mismatch errors.
bool writeCfFile(const QString &path, bool other = false)
{
    const auto u = [](int k) { return k == 17 ? -999 : 100 * (k / 12) + 10 * (k / 4 % 3) + k % 4; };
    const auto v = [](int k) { return k == 14 ? 1e20 : k == 23 ? 60 : k / 4 % 3 - k % 4; };
    return ncgen(QStringLiteral("netcdf cf {\ndimensions: time = UNLIMITED; lat = 3; lon = 4; %1\nvariables:\n"
                                " double time(time); time:units = \"hours since 2000-01-01\";\n"
                                " float lat(lat); lat:units = \"degrees_north\"; float lon(lon); lon:units = \"degrees_east\";\n"
                                " short wind_e(time, lat, lon); wind_e:standard_name = \"eastward_wind\"; wind_e:units = \"m s-1\";\n"
                                "  wind_e:_FillValue = -999s; wind_e:scale_factor = 0.5; wind_e:add_offset = 10.;\n"
                                " float wind_n(time, lat, lon); wind_n:standard_name = \"northward_wind\";\n"
                                "  wind_n:missing_value = 1e20f; wind_n:valid_range = -50.f, 50.f;\n"
                                " float psl(time, lat, lon); %2\n"
                                "data:\n time = 0, 6; lat = 10, 0, -10; lon = 0, 90, 180, 270;\n")
                     .arg(QLatin1String(other ? "a = 2; b = 2;" : ""), QLatin1String(other ? "float other(a, b);" : ""))
                     + QStringLiteral(" wind_e = %1;\n wind_n = %2;\n psl = %3;\n}\n")
                           .arg(values(24, u), values(24, v), values(24, [](int k) { return 1000 + k; })),
                 path);
}

testsupport::ToolRun runImport(const QStringList &args) { return testsupport::runTool(QStringLiteral(TESSALY_IMPORT_BIN), args); }

} // namespace

class TestImport : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString path(const char *name) const { return mDir.filePath(QLatin1String(name)); }

private slots:
    // CF names, the descending latitude reversed, packing, every missing marker, --time 1, in
    // the NetCDF-4 format (the classic format: netcdfCurvilinear).
    void netcdfCfFile()
    {
        const QString file = path("cf.nc");
        QVERIFY(writeCfFile(file));
        NetcdfChoice choice;
        choice.time = 1;
        Grid g;
        QString error;
        QVERIFY2(readNetcdf(file, choice, g, error), qPrintable(error));
        QVERIFY(orient(g).isEmpty());
        QCOMPARE(QStringList({g.uName, g.vName, g.scalarName, g.source}),
                 QStringList({"wind_e", "wind_n", "psl", "time = 1 of 2"}));
        QVERIFY(g.reversedY && !g.reversedX);
        QCOMPARE(g.ys, (std::vector<double>{-10, 0, 10}));
        for (int k = 0; k < 12; ++k) {
            const int fileRow = 2 - k / 4, i = k % 4;
            const bool uGone = fileRow == 1 && i == 1, vGone = (fileRow == 0 && i == 2) || (fileRow == 2 && i == 3);
            QVERIFY(uGone ? std::isnan(g.u[k]) : g.u[k] == float((100 + 10 * fileRow + i) * 0.5 + 10.0));
            QVERIFY(vGone ? std::isnan(g.v[k]) : g.v[k] == float(fileRow - i));
            QCOMPARE(g.scalar[k], 1000.0f + 12 + fileRow * 4 + i);
        }
    }

    // 2-D coordinates named in `coordinates`; longitude falls along the rows, so the
    // columns are reversed and positions and values stay together.
    void netcdfCurvilinear()
    {
        const QString file = path("curv.nc");
        QVERIFY(ncgen(QStringLiteral("netcdf c {\ndimensions: y = 3; x = 4;\nvariables:\n"
                                     " double nav_lon(y, x); nav_lon:units = \"degrees_east\";\n"
                                     " double nav_lat(y, x); nav_lat:units = \"degrees_north\";\n"
                                     " float uo(y, x); uo:coordinates = \"nav_lat nav_lon\"; float vo(y, x);\n"
                                     "data:\n nav_lon = %1;\n nav_lat = %2;\n uo = %3;\n vo = %4;\n}\n")
                          .arg(values(12, [](int k) { return 10.0 - k % 4 + 0.1 * (k / 4); }),
                               values(12, [](int k) { return k / 4 + 0.05 * (k % 4); }),
                               values(12, [](int k) { return k % 4 + 10 * (k / 4); }),
                               values(12, [](int k) { return -(k % 4 + 10 * (k / 4)); })),
                      file, "classic"));
        Grid g;
        QString error;
        QVERIFY2(readNetcdf(file, {}, g, error), qPrintable(error));
        QVERIFY(orient(g).isEmpty());
        QVERIFY(g.curvilinear && g.reversedX && !g.reversedY && g.scalar.empty());
        QCOMPARE(g.xAxis.name, QStringLiteral("nav_lon"));
        // Exactly as written: column 0 is file column 3.
        QCOMPARE(QList<double>({g.x(0, 0), g.y(0, 0), g.x(3, 2)}), QList<double>({10.0 - 3, 0.05 * 3, 10.0 + 0.1 * 2}));
        QCOMPARE(QList<float>({g.u[0], g.u[2 * 4 + 3], g.v[0]}), QList<float>({3, 20, -3}));
    }

    // A float field with only a fill value: infinities are missing and counted as beyond the
    // float range, NaN and the fill are missing, everything else is read as stored (21
    // values: runs of 16 and the rest).
    void netcdfFloatMarkers()
    {
        const QString file = path("markers.nc");
        QStringList u;
        for (int k = 0; k < 21; ++k)
            u << (k == 0 ? "Infinityf" : k == 18 ? "-Infinityf" : k == 5 ? "NaNf" : k == 9 ? "-1e34f" : QString::number(k + 0.5));
        QVERIFY(ncgen(QStringLiteral("netcdf m {\ndimensions: y = 3; x = 7;\nvariables:\n float u(y, x); u:_FillValue = -1e34f;"
                                     " float v(y, x);\ndata:\n u = %1;\n v = %2;\n}\n")
                          .arg(u.join(", "), values(21, [](int) { return 1; })),
                      file, "classic"));
        Grid g;
        QString error;
        QVERIFY2(readNetcdf(file, {}, g, error), qPrintable(error));
        QCOMPARE(g.flowBeyondFloat, std::size_t(2));
        for (int k = 0; k < 21; ++k)
            QVERIFY2(k == 0 || k == 5 || k == 9 || k == 18 ? std::isnan(g.u[k]) : g.u[k] == float(k + 0.5), qPrintable(QString::number(k)));
    }

    // The first COADS month written and loaded back, checked against the file's own values.
    void coadsFirstMonth()
    {
        if (!QFile::exists(QLatin1String(kCoads)))
            QSKIP("ferret-datasets is not installed");
        const QString out = path("coads.gri");
        const auto r = runImport({QLatin1String(kCoads), out});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains("scalar SLP [MB]: ") && r.out.contains("onto -4 ... 2.5 as channel 0"), qPrintable(r.out));
        Volume vol;
        vol.load(out);
        QCOMPARE(QSize(vol.getDimX(), vol.getDimY()), QSize(180, 90));
        int nc, id;
        NC(nc_open(kCoads, NC_NOWRITE, &nc));
        for (const auto &pt : {QPoint(0, 0), QPoint(100, 45), QPoint(60, 30), QPoint(179, 89), QPoint(150, 60), QPoint(10, 70)}) {
            const std::size_t at[] = {0, std::size_t(pt.y()), std::size_t(pt.x())};
            double x, y, u, v, s; // the fields are float, exactly representable in double
            for (auto [name, where, value] : {std::tuple("COADSX", &at[2], &x), {"COADSY", &at[1], &y}, {"UWND", at, &u},
                                              {"VWND", at, &v}, {"SLP", at, &s}}) {
                NC(nc_inq_varid(nc, name, &id));
                NC(nc_get_var1_double(nc, id, where, value));
            }
            const DataPoint p = vol.getAt(pt.x(), pt.y(), 0);
            QVERIFY(p.mPos.x == double(float(x)) && p.mPos.y == double(float(y)));
            QVERIFY(u == -1e34f || v == -1e34f ? std::isnan(p.mDir.x) && std::isnan(p.mDir.y) : p.mDir.x == u && p.mDir.y == v);
            QCOMPARE(p.mValues.size(), 2);
            QVERIFY(s == -1e34f ? std::isnan(p.mValues[1]) && std::isnan(p.mValues[0])
                                : p.mValues[1] == float(s) && p.mValues[0] >= -4.0f && p.mValues[0] <= 2.5f);
        }
        nc_close(nc);
    }

    // Both row orders give the same grid; columns by number with a descending y reversed (a
    // table that is no grid: badInput).
    void tables()
    {
        Grid g;
        QString error;
        for (const char *text : {"# x fastest\nx y u v p\n0 0 1 0 5\n1 0 2 NaN 6\n2 0 3 0 7\n0 1 4 0 8\n1 1 5 0 nan\n2 1 6 0 10\n",
                                 "X,Y,U,V,P\n0,0,1,0,5\n0,1,4,0,8\n1,0,2,,6\n1,1,5,0,\n2,0,3,0,7\n2,1,6,0,10\n"}) {
            QVERIFY2(readTable(text, {}, g, error), qPrintable(error));
            QVERIFY(orient(g).isEmpty() && g.nx == 3 && g.ny == 2);
            QCOMPARE(g.u, (std::vector<float>{1, 2, 3, 4, 5, 6}));
            QVERIFY(std::isnan(g.v[1]) && std::isnan(g.scalar[4]) && g.scalar[5] == 10.0f);
        }
        TableColumns cols;
        cols.u = QStringLiteral("4");
        cols.v = QStringLiteral("3");
        QVERIFY(readTable("0 1 7 8\n1 1 7 8\n0 0 9 8\n1 0 9 8\n", cols, g, error));
        QVERIFY(orient(g).isEmpty() && g.reversedY);
        QCOMPARE(g.u, (std::vector<float>{8, 8, 8, 8}));
        QCOMPARE(g.v, (std::vector<float>{9, 9, 7, 7}));
    }

    // A scalar range and a flow scale reach the written channels as printed.
    void scalarMappingAndFlowScale()
    {
        testsupport::writeFile(path("t.txt"), "x y u v p\n0 0 1 2 0\n1 0 1 2 5\n0 1 1 2 10\n1 1 1 2 20\n");
        const auto r = runImport({path("t.txt"), path("t.gri"), "--scalar-range", "0:10", "--flow-scale", "2.5"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY(r.out.contains("scalar p: 0 ... 10 (--scalar-range) mapped linearly onto -4 ... 2.5 as channel 0"));
        QVERIFY(r.out.contains("flow scale: 2.5 (u and v multiplied by 2.5)"));
        Volume vol;
        vol.load(path("t.gri"));
        const DataPoint p = vol.getAt(1, 0, 0), top = vol.getAt(1, 1, 0);
        QVERIFY(p.mDir.x == 2.5 && p.mDir.y == 5.0);
        QCOMPARE(p.mValues[0], -0.75f);  // 5 is the middle of 0 ... 10
        QCOMPARE(top.mValues[0], 2.5f);  // 20 clamped to the top
    }

    // OUT.meta.json beside the pair: the source, u, v and the scalar with their units and
    // long names, the slice with its coordinate's value, the mapping onto -4 ... 2.5 and the
    // flow scale; and the file reads back as written.
    void metadataDescribesTheImport_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("described");
        QVERIFY(writeCfFile(path("meta-cf.nc")));
        QVERIFY(ncgen("netcdf levels {\ndimensions: depth = 2; y = 2; x = 2;\nvariables:\n"
                      " float depth(depth); depth:units = \"m\"; float x(x); x:units = \"km\"; float y(y);\n"
                      " float u(depth, y, x); u:long_name = \"current east\"; u:units = \"cm/s\";\n"
                      " float v(depth, y, x); v:long_name = \"current north\"; v:units = \"cm/s\";\n"
                      "data:\n depth = 5, 15.5; x = 0, 1; y = 0, 1;\n u = 1, 2, 3, 4, 5, 6, 7, 8;\n v = 1, 1, 1, 1, 2, 2, 2, 2;\n}\n",
                      path("levels.nc")));
        testsupport::writeFile(path("units.txt"), "x [mm] y [mm] u [m/s] v [m/s] p [Pa]\n0 0 1 2 3\n1 0 2 2 4\n0 1 1 3 5\n1 1 1 2 6\n");
        testsupport::writeFile(path("bare.txt"), "0 0 3 4\n1 0 0 1\n0 1 1 0\n1 1 6 8\n");
        if (QFile::exists(QLatin1String(kCoads))) {
            QTest::newRow("COADS SLP in a given range")
                << kCoads << QStringList{"--scalar", "SLP", "--time", "0", "--scalar-range", "975:1045", "--flow-scale", "0.1"}
                << "NetCDF classic 180x90 x=COADSX||degrees_east y=COADSY||degrees_north u=UWND|ZONAL WIND|M/S v=VWND|MERIDIONAL WIND|M/S "
                   "flow*0.1 scalar=SLP|SEA LEVEL PRESSURE|MB TIME --time 0/12=366 [hour since 0000-01-01 00:00:00] "
                   "map 975:1045 --scalar-range";
            QTest::newRow("COADS July, the data's range")
                << kCoads << QStringList{"--time", "6"}
                << "NetCDF classic 180x90 x=COADSX||degrees_east y=COADSY||degrees_north u=UWND|ZONAL WIND|M/S v=VWND|MERIDIONAL WIND|M/S "
                   "flow*1 scalar=SLP|SEA LEVEL PRESSURE|MB TIME --time 6/12=4748.91 [hour since 0000-01-01 00:00:00] "
                   "map 975:1034.449951171875 data range";
        }
        QTest::newRow("CF names, no long names") << path("meta-cf.nc") << QStringList{"--time", "1"}
            << "NetCDF NetCDF-4 4x3 x=lon||degrees_east y=lat||degrees_north u=wind_e||m s-1 v=wind_n|| flow*1 scalar=psl|| "
               "time --time 1/2=6 [hours since 2000-01-01] map 1012:1023 data range";
        QTest::newRow("a level") << path("levels.nc") << QStringList{"--level", "1", "--scalar-range", "-1:1"}
            << "NetCDF NetCDF-4 2x2 x=x||km y=y|| u=u|current east|cm/s v=v|current north|cm/s flow*1 scalar=speed (flow)||cm/s "
               "depth --level 1/2=15.5 [m] map -1:1 --scalar-range";
        QTest::newRow("table with units") << path("units.txt") << QStringList{"--flow-scale", "3"}
            << "table 2x2 x=x||mm y=y||mm u=u||m/s v=v||m/s flow*3 scalar=p||Pa map 3:6 data range";
        QTest::newRow("table without names: the speed") << path("bare.txt") << QStringList()
            << "table 2x2 x=1|| y=2|| u=3|| v=4|| flow*1 scalar=speed (flow)|| map 1:10 data range";
    }
    void metadataDescribesTheImport()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, options);
        QFile::remove(path("meta.gri"));
        const auto r = runImport(QStringList{input, path("meta.gri")} + options);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains("and meta.meta.json\n"), qPrintable(r.out));
        const metadata::Loaded loaded = metadata::load(path("meta.gri"));
        QVERIFY2(loaded.status == metadata::Status::Loaded, qPrintable(loaded.warning));
        const metadata::Metadata &m = loaded.meta;
        QCOMPARE(m.source, QFileInfo(input).absoluteFilePath());
        const auto q = [](const metadata::Quantity &x) { return x.name + '|' + x.longName + '|' + x.units; };
        QString d = QStringLiteral("%1 %2x%3 x=%4 y=%5 u=%6 v=%7 flow*%8 scalar=%9")
                        .arg(m.format).arg(m.nx).arg(m.ny).arg(q(m.x), q(m.y), q(m.u), q(m.v)).arg(m.flowScale)
                        .arg(m.scalarIsSpeed ? QStringLiteral("speed (flow)||") + m.scalar.units : q(m.scalar));
        for (const metadata::Slice &s : m.slices)
            d += QStringLiteral(" %1 %2 %3/%4=%5 [%6]").arg(s.dimension, s.time ? "--time" : "--level").arg(s.index).arg(s.length)
                     .arg(QString::number(s.value, 'g', 12), s.units);
        d += QStringLiteral(" map %1:%2 %3").arg(QString::number(m.mapping.low, 'g', 17), QString::number(m.mapping.high, 'g', 17),
                                                  m.mapping.fromData ? "data range" : "--scalar-range");
        QTEST(d, "described");
        // Channel 0 is the mapping's stored value: a + b * stored is the real value at the
        // range's ends, and reading the file back writes it again byte for byte.
        QCOMPARE(m.mapping.real(metadata::kStoredLow), m.mapping.low);
        QCOMPARE(m.mapping.offset() + m.mapping.scale() * metadata::kStoredHigh, m.mapping.high);
        QCOMPARE(metadata::toJson(m), testsupport::readFile(path("meta.meta.json")));
    }

    // Every bad input: the right exit status, one line on stderr, and no output file.
    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString cf = path("cf.nc"), out = path("out.gri");
        QVERIFY(writeCfFile(cf, true)); // the inputs, once for every row
        testsupport::writeFile(path("binary.bin"), QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10));
        testsupport::writeFile(path("cut.nc"), testsupport::readFile(cf).left(200));
        testsupport::writeFile(path("nongrid.txt"), "0 0 1 0\n1 0 1 0\n2 5 1 0\n");
        testsupport::writeFile(path("ragged.txt"), "0 0 1 0\n1 0 1 0\n2 5 1\n");
        QTest::newRow("no arguments") << QStringList() << 2 << "no INPUT file given";
        QTest::newRow("unknown option") << QStringList{cf, out, "--speed", "3"} << 2 << "unknown option --speed";
        QTest::newRow("output name") << QStringList{cf, path("out.dat")} << 2 << "must be named NAME.gri";
        QTest::newRow("scalar range") << QStringList{cf, out, "--scalar-range", "5:1"} << 2 << "--scalar-range needs LO:HI";
        QTest::newRow("flow scale") << QStringList{cf, out, "--flow-scale", "0"} << 2 << "--flow-scale needs a number above 0";
        QTest::newRow("time index") << QStringList{cf, out, "--time", "x"} << 2 << "--time needs an index";
        QTest::newRow("missing input") << QStringList{path("none.nc"), out} << 1 << "cannot read";
        QTest::newRow("binary") << QStringList{path("binary.bin"), out} << 1 << "not a NetCDF file and not a column table";
        QTest::newRow("truncated netcdf") << QStringList{path("cut.nc"), out} << 1 << "cut.nc";
        QTest::newRow("unknown variable") << QStringList{cf, out, "--u", "UWND"} << 1 << "no variable named UWND";
        QTest::newRow("time out of range") << QStringList{cf, out, "--time", "7"} << 1 << "--time 7 is out of range: time has 2 steps (0 ... 1)";
        QTest::newRow("mismatched shapes") << QStringList{cf, out, "--v", "other"} << 1 << "mismatched shapes: wind_e(time, lat, lon) and other(a, b)";
        QTest::newRow("mismatched scalar") << QStringList{cf, out, "--scalar", "other"} << 1 << "mismatched shapes";
        QTest::newRow("not a grid") << QStringList{path("nongrid.txt"), out} << 1 << "rows do not form a grid: 3 distinct x, 2 distinct y, 3 rows";
        QTest::newRow("ragged table") << QStringList{path("ragged.txt"), out} << 1 << "line 3 has 3 fields, expected 4";
        QTest::newRow("no such folder") << QStringList{cf, path("none/out.gri")} << 1 << "cannot write";
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const QStringList before = QDir(mDir.path()).entryList(QDir::Files);
        const auto r = runImport(args);
        QTEST(r.status, "code");
        QVERIFY2(r.err.startsWith("tessaly-import: ") && r.err.count('\n') == 1 && r.err.contains(message), qPrintable(r.err));
        QCOMPARE(QDir(mDir.path()).entryList(QDir::Files), before);
    }

    // --help (and -h) lists every option of the table on stdout and exits 0.
    void help()
    {
        for (const char *flag : {"--help", "-h"}) {
            const auto r = runImport({flag});
            QVERIFY2(r.status == 0 && r.err.isEmpty(), qPrintable(r.err));
            for (const char *option : {"-u <NAME>", "-v <NAME>", "-x <NAME>", "-y <NAME>", "--scalar <NAME>", "--time <K>",
                                       "--level <K>", "--scalar-range <LO:HI>", "--flow-scale <K>", "--list", "INPUT", "OUT.gri"})
                QVERIFY2(r.out.contains(option), option);
        }
    }

    // The writer leaves nothing behind when the pair cannot be finished.
    void writerLeavesNoPartialPair()
    {
        QVERIFY(QDir().mkpath(path("w/pair.00000.dat"))); // a folder where the data file goes
        QVERIFY(!dataset::write(path("w/pair.gri"), 3, 3, 1, 2, [](int, int, int, float *, float *, float *) {}));
        QCOMPARE(QDir(path("w")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
