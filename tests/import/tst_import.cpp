// tessaly-import: NetCDF files made here with the library (CF names, a descending latitude,
// packing, fill values, an extra time dimension, a curvilinear grid), the first COADS month
// against the file's own values, column tables in both orders, and the command's answers
// to bad input.

#include "DatasetFiles.h"
#include "ImportGrid.h"
#include "NetcdfReader.h"
#include "TableReader.h"
#include "Volume.h"

#include <netcdf.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace tessimport;

namespace {

const char kCoads[] = "/usr/share/ferret-vis/data/coads_climatology.cdf";

#define NC(call) QVERIFY2((call) == NC_NOERR, #call)

void putText(int nc, int var, const char *name, const char *text)
{
    nc_put_att_text(nc, var, name, std::strlen(text), text);
}

// time = 2, lat = 3 (descending 10, 0, -10), lon = 4. The components are named oddly and
// found by standard_name; u is packed (short, scale 0.5, offset 10, _FillValue -999), v
// marks gaps with missing_value and valid_range. Raw u = 100 t + 10 j + i.
void writeCfFile(const QString &path, int format)
{
    int nc, dT, dY, dX, vT, vY, vX, vU, vV, vP;
    NC(nc_create(qPrintable(path), format, &nc));
    NC(nc_def_dim(nc, "time", NC_UNLIMITED, &dT));
    NC(nc_def_dim(nc, "lat", 3, &dY));
    NC(nc_def_dim(nc, "lon", 4, &dX));
    NC(nc_def_var(nc, "time", NC_DOUBLE, 1, &dT, &vT));
    NC(nc_def_var(nc, "lat", NC_FLOAT, 1, &dY, &vY));
    NC(nc_def_var(nc, "lon", NC_FLOAT, 1, &dX, &vX));
    const int dims[] = {dT, dY, dX};
    NC(nc_def_var(nc, "wind_e", NC_SHORT, 3, dims, &vU));
    NC(nc_def_var(nc, "wind_n", NC_FLOAT, 3, dims, &vV));
    NC(nc_def_var(nc, "psl", NC_FLOAT, 3, dims, &vP));
    putText(nc, vT, "units", "hours since 2000-01-01");
    putText(nc, vY, "units", "degrees_north");
    putText(nc, vX, "units", "degrees_east");
    putText(nc, vU, "standard_name", "eastward_wind");
    putText(nc, vV, "standard_name", "northward_wind");
    putText(nc, vU, "units", "m s-1");
    const short fill = -999;
    const double scale = 0.5, offset = 10.0;
    const float missing = 1e20f, range[] = {-50.0f, 50.0f};
    NC(nc_put_att_short(nc, vU, "_FillValue", NC_SHORT, 1, &fill));
    NC(nc_put_att_double(nc, vU, "scale_factor", NC_DOUBLE, 1, &scale));
    NC(nc_put_att_double(nc, vU, "add_offset", NC_DOUBLE, 1, &offset));
    NC(nc_put_att_float(nc, vV, "missing_value", NC_FLOAT, 1, &missing));
    NC(nc_put_att_float(nc, vV, "valid_range", NC_FLOAT, 2, range));
    NC(nc_enddef(nc));
    const float lat[] = {10, 0, -10}, lon[] = {0, 90, 180, 270};
    const double time[] = {0, 6};
    short u[24];
    float v[24], p[24];
    for (int k = 0; k < 24; ++k) {
        const int t = k / 12, j = k / 4 % 3, i = k % 4;
        u[k] = static_cast<short>(100 * t + 10 * j + i);
        v[k] = static_cast<float>(j - i);
        p[k] = 1000.0f + k;
    }
    u[12 + 5] = fill;   // t 1, file row 1, column 1
    v[12 + 2] = 1e20f;  // t 1, file row 0, column 2: missing_value
    v[12 + 11] = 60.0f; // t 1, file row 2, column 3: outside valid_range
    const std::size_t start[] = {0, 0, 0}, count[] = {2, 3, 4}, two = 2;
    NC(nc_put_vara_double(nc, vT, start, &two, time));
    NC(nc_put_var_float(nc, vY, lat));
    NC(nc_put_var_float(nc, vX, lon));
    NC(nc_put_vara_short(nc, vU, start, count, u));
    NC(nc_put_vara_float(nc, vV, start, count, v));
    NC(nc_put_vara_float(nc, vP, start, count, p));
    NC(nc_close(nc));
}

QString runImport(const QStringList &args, int *exitCode, QString *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral(TESSALY_IMPORT_BIN), args);
    p.waitForFinished(60000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return QString::fromLocal8Bit(p.readAllStandardError());
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString path(const char *name) const { return mDir.filePath(QLatin1String(name)); }

private slots:
    // CF names, the descending latitude reversed, packing, every missing marker, --time 1,
    // in both the classic and the NetCDF-4 format.
    void netcdfCfFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("classic") << int(NC_CLOBBER);
        QTest::newRow("netcdf4") << int(NC_CLOBBER | NC_NETCDF4);
    }
    void netcdfCfFile()
    {
        QFETCH(int, format);
        const QString file = path("cf.nc");
        writeCfFile(file, format);
        NetcdfChoice choice;
        choice.time = 1;
        Grid g;
        QString error;
        QVERIFY2(readNetcdf(file, choice, g, error), qPrintable(error));
        QVERIFY(orient(g).isEmpty());
        QCOMPARE(g.uName, QStringLiteral("wind_e"));
        QCOMPARE(g.vName, QStringLiteral("wind_n"));
        QCOMPARE(g.scalarName, QStringLiteral("psl"));
        QCOMPARE(g.source, QStringLiteral("time = 1 of 2"));
        QVERIFY(g.reversedY && !g.reversedX);
        QCOMPARE(g.ys, (std::vector<double>{-10, 0, 10}));
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 4; ++i) {
                const int fileRow = 2 - j, k = j * 4 + i;
                const bool uGone = fileRow == 1 && i == 1;
                const bool vGone = (fileRow == 0 && i == 2) || (fileRow == 2 && i == 3);
                QCOMPARE(std::isnan(g.u[k]), uGone);
                QCOMPARE(std::isnan(g.v[k]), vGone);
                if (!uGone)
                    QCOMPARE(g.u[k], float((100 + 10 * fileRow + i) * 0.5 + 10.0));
                if (!vGone)
                    QCOMPARE(g.v[k], float(fileRow - i));
                QCOMPARE(g.scalar[k], 1000.0f + 12 + fileRow * 4 + i);
            }
        QString report;
        QVERIFY(listNetcdf(file, {}, report, error));
        QVERIFY2(report.contains(QStringLiteral("would use: u = wind_e, v = wind_n, scalar = psl")), qPrintable(report));
        choice.time = 2;
        QVERIFY(!readNetcdf(file, choice, g, error));
        QCOMPARE(error, QStringLiteral("--time 2 is out of range: time has 2 steps (0 ... 1)"));
    }

    // 2-D coordinates named in `coordinates`; longitude falls along the rows, so the
    // columns are reversed and positions and values stay together.
    void netcdfCurvilinear()
    {
        const QString file = path("curv.nc");
        int nc, dY, dX, vLon, vLat, vU, vV;
        NC(nc_create(qPrintable(file), NC_CLOBBER, &nc));
        NC(nc_def_dim(nc, "y", 3, &dY));
        NC(nc_def_dim(nc, "x", 4, &dX));
        const int dims[] = {dY, dX};
        NC(nc_def_var(nc, "nav_lon", NC_DOUBLE, 2, dims, &vLon));
        NC(nc_def_var(nc, "nav_lat", NC_DOUBLE, 2, dims, &vLat));
        NC(nc_def_var(nc, "uo", NC_FLOAT, 2, dims, &vU));
        NC(nc_def_var(nc, "vo", NC_FLOAT, 2, dims, &vV));
        putText(nc, vLon, "units", "degrees_east");
        putText(nc, vLat, "units", "degrees_north");
        putText(nc, vU, "coordinates", "nav_lat nav_lon");
        NC(nc_enddef(nc));
        double lon[12], lat[12];
        float u[12], v[12];
        for (int k = 0; k < 12; ++k) {
            const int j = k / 4, i = k % 4;
            lon[k] = 10.0 - i + 0.1 * j;
            lat[k] = j + 0.05 * i;
            u[k] = float(i + 10 * j);
            v[k] = -u[k];
        }
        NC(nc_put_var_double(nc, vLon, lon));
        NC(nc_put_var_double(nc, vLat, lat));
        NC(nc_put_var_float(nc, vU, u));
        NC(nc_put_var_float(nc, vV, v));
        NC(nc_close(nc));
        Grid g;
        QString error;
        QVERIFY2(readNetcdf(file, {}, g, error), qPrintable(error));
        QVERIFY(orient(g).isEmpty());
        QVERIFY(g.curvilinear && g.reversedX && !g.reversedY);
        QCOMPARE(g.xAxis.name, QStringLiteral("nav_lon"));
        QCOMPARE(g.x(0, 0), 7.0);
        QCOMPARE(g.y(0, 0), 0.15);
        QCOMPARE(g.x(3, 2), 10.2);
        QCOMPARE(g.u[0], 3.0f);
        QCOMPARE(g.u[2 * 4 + 3], 20.0f);
        QVERIFY(g.scalar.empty());
    }

    // The first COADS month written and loaded back, checked against the file's own values.
    void coadsFirstMonth()
    {
        if (!QFile::exists(QLatin1String(kCoads)))
            QSKIP("ferret-datasets is not installed");
        const QString out = path("coads.gri");
        int code = 0;
        QString stdOut;
        const QString err = runImport({QLatin1String(kCoads), out}, &code, &stdOut);
        QVERIFY2(code == 0, qPrintable(err));
        QVERIFY2(stdOut.contains(QStringLiteral("scalar SLP [MB]: ")) && stdOut.contains(QStringLiteral("onto -4 ... 2.5 as channel 0")),
                 qPrintable(stdOut));
        Volume vol;
        vol.load(out);
        QCOMPARE(vol.getDimX(), 180);
        QCOMPARE(vol.getDimY(), 90);
        int nc, vX, vY, vU, vV, vS;
        NC(nc_open(kCoads, NC_NOWRITE, &nc));
        NC(nc_inq_varid(nc, "COADSX", &vX));
        NC(nc_inq_varid(nc, "COADSY", &vY));
        NC(nc_inq_varid(nc, "UWND", &vU));
        NC(nc_inq_varid(nc, "VWND", &vV));
        NC(nc_inq_varid(nc, "SLP", &vS));
        const int points[][2] = {{0, 0}, {100, 45}, {60, 30}, {179, 89}, {150, 60}, {10, 70}};
        int land = 0;
        for (const auto &pt : points) {
            const std::size_t at[] = {0, std::size_t(pt[1]), std::size_t(pt[0])};
            double x, y;
            float u, v, s;
            NC(nc_get_var1_double(nc, vX, &at[2], &x));
            NC(nc_get_var1_double(nc, vY, &at[1], &y));
            NC(nc_get_var1_float(nc, vU, at, &u));
            NC(nc_get_var1_float(nc, vV, at, &v));
            NC(nc_get_var1_float(nc, vS, at, &s));
            const DataPoint p = vol.getAt(pt[0], pt[1], 0);
            QCOMPARE(p.mPos.x, double(float(x)));
            QCOMPARE(p.mPos.y, double(float(y)));
            const bool gone = u == -1e34f || v == -1e34f;
            land += gone;
            QCOMPARE(std::isnan(p.mDir.x) && std::isnan(p.mDir.y), gone);
            if (!gone) {
                QCOMPARE(p.mDir.x, double(u));
                QCOMPARE(p.mDir.y, double(v));
            }
            QCOMPARE(p.mValues.size(), 2);
            if (s == -1e34f)
                QVERIFY(std::isnan(p.mValues[1]) && std::isnan(p.mValues[0]));
            else
                QVERIFY(p.mValues[1] == s && p.mValues[0] >= -4.0f && p.mValues[0] <= 2.5f);
        }
        nc_close(nc);
        QVERIFY(land > 0 && land < 6); // the points cover both land and sea
    }

    // Both row orders give the same grid; a table that is no grid is refused with counts.
    void tables()
    {
        const QByteArray xFast = "# x fastest\nx y u v p\n0 0 1 0 5\n1 0 2 NaN 6\n2 0 3 0 7\n"
                                 "0 1 4 0 8\n1 1 5 0 nan\n2 1 6 0 10\n";
        const QByteArray yFast = "X,Y,U,V,P\n0,0,1,0,5\n0,1,4,0,8\n1,0,2,,6\n1,1,5,0,\n2,0,3,0,7\n2,1,6,0,10\n";
        for (const QByteArray &text : {xFast, yFast}) {
            Grid g;
            QString error;
            QVERIFY2(readTable(text, {}, g, error), qPrintable(error));
            QVERIFY(orient(g).isEmpty());
            QCOMPARE(g.nx, 3);
            QCOMPARE(g.ny, 2);
            QCOMPARE(g.u, (std::vector<float>{1, 2, 3, 4, 5, 6}));
            QVERIFY(std::isnan(g.v[1]) && std::isnan(g.scalar[4]));
            QCOMPARE(g.scalar[5], 10.0f);
        }
        // Columns by number, a descending y reversed.
        Grid g;
        QString error;
        TableColumns cols;
        cols.u = QStringLiteral("4");
        cols.v = QStringLiteral("3");
        QVERIFY(readTable("0 1 7 8\n1 1 7 8\n0 0 9 8\n1 0 9 8\n", cols, g, error));
        QVERIFY(orient(g).isEmpty() && g.reversedY);
        QCOMPARE(g.u, (std::vector<float>{8, 8, 8, 8}));
        QCOMPARE(g.v, (std::vector<float>{9, 9, 7, 7}));
        QVERIFY(!readTable("0 0 1 0\n1 0 1 0\n2 0 1 0\n0 1 1 0\n1 5 1 0\n", {}, g, error));
        QCOMPARE(error, QStringLiteral("rows do not form a grid: 3 distinct x, 3 distinct y, 5 rows"));
    }

    // A scalar range and a flow scale reach the written channels as printed.
    void scalarMappingAndFlowScale()
    {
        writeText(path("t.txt"), "x y u v p\n0 0 1 2 0\n1 0 1 2 5\n0 1 1 2 10\n1 1 1 2 20\n");
        int code = 0;
        QString stdOut;
        const QString err = runImport({path("t.txt"), path("t.gri"), QStringLiteral("--scalar-range"), QStringLiteral("0:10"),
                                       QStringLiteral("--flow-scale"), QStringLiteral("2.5")}, &code, &stdOut);
        QVERIFY2(code == 0, qPrintable(err));
        QVERIFY(stdOut.contains(QStringLiteral("scalar p: 0 ... 10 (--scalar-range) mapped linearly onto -4 ... 2.5 as channel 0")));
        QVERIFY(stdOut.contains(QStringLiteral("flow scale: 2.5 (u and v multiplied by 2.5)")));
        Volume vol;
        vol.load(path("t.gri"));
        const DataPoint p = vol.getAt(1, 0, 0);
        QCOMPARE(p.mDir.x, 2.5);
        QCOMPARE(p.mDir.y, 5.0);
        QCOMPARE(p.mValues[0], -0.75f);                    // 5 is the middle of 0 ... 10
        QCOMPARE(vol.getAt(1, 1, 0).mValues[0], 2.5f);     // 20 clamped to the top
        QCOMPARE(vol.getAt(1, 1, 0).mValues[1], 20.0f);
    }

    // Every bad input: the right exit status, one line on stderr, and no output file.
    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString cf = path("cf.nc"), out = path("out.gri");
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
        QTest::newRow("time out of range") << QStringList{cf, out, "--time", "7"} << 1 << "--time 7 is out of range";
        QTest::newRow("mismatched shapes") << QStringList{cf, out, "--v", "other"} << 1 << "mismatched shapes: wind_e(time, lat, lon) and other(a, b)";
        QTest::newRow("mismatched scalar") << QStringList{cf, out, "--scalar", "other"} << 1 << "mismatched shapes";
        QTest::newRow("not a grid") << QStringList{path("nongrid.txt"), out} << 1 << "rows do not form a grid";
        QTest::newRow("ragged table") << QStringList{path("ragged.txt"), out} << 1 << "line 3 has 3 fields, expected 4";
        QTest::newRow("no such folder") << QStringList{cf, path("none/out.gri")} << 1 << "cannot write";
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        QDir(mDir.path()).removeRecursively();
        QDir().mkpath(mDir.path());
        writeCfFile(path("cf.nc"), NC_CLOBBER | NC_NETCDF4);
        int nc, dims[2], var;
        NC(nc_open(qPrintable(path("cf.nc")), NC_WRITE, &nc));
        NC(nc_redef(nc));
        NC(nc_def_dim(nc, "a", 2, &dims[0]));
        NC(nc_def_dim(nc, "b", 2, &dims[1]));
        NC(nc_def_var(nc, "other", NC_FLOAT, 2, dims, &var));
        NC(nc_close(nc));
        writeText(path("binary.bin"), QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10));
        QFile cf(path("cf.nc"));
        QVERIFY(cf.open(QIODevice::ReadOnly));
        writeText(path("cut.nc"), cf.read(200));
        writeText(path("nongrid.txt"), "0 0 1 0\n1 0 1 0\n2 5 1 0\n");
        writeText(path("ragged.txt"), "0 0 1 0\n1 0 1 0\n2 5 1\n");
        const QStringList before = QDir(mDir.path()).entryList(QDir::Files);
        int exitCode = 0;
        const QString err = runImport(args, &exitCode);
        QCOMPARE(exitCode, code);
        QVERIFY2(err.startsWith(QStringLiteral("tessaly-import: ")) && err.count(QLatin1Char('\n')) == 1, qPrintable(err));
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(QDir(mDir.path()).entryList(QDir::Files), before);
    }

    // The writer leaves nothing behind when the pair cannot be finished.
    void writerLeavesNoPartialPair()
    {
        const QString grid = path("w/pair.gri");
        QVERIFY(QDir().mkpath(path("w")));
        QVERIFY(QDir().mkpath(path("w/pair.00000.dat"))); // a folder where the data file goes
        const auto fill = [](int, int, int, float *, float *, float *) {};
        QVERIFY(!dataset::write(grid, 3, 3, 1, 2, fill));
        QCOMPARE(QDir(path("w")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
