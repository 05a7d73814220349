// NAME.meta.json from tessaly-import to tessaly-render: the probe's real values beside the
// stored ones, colour bars in the quantity's units with its long name, and metadata files
// that are not what they should be, ignored with one warning and nothing else changed.

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <sys/stat.h>

namespace {

const char kCoads[] = "/usr/share/ferret-vis/data/coads_climatology.cdf";

testsupport::ToolRun render(const QStringList &args) { return testsupport::runTool(TESSALY_RENDER, args); }
testsupport::ToolRun import(const QStringList &args) { return testsupport::runTool(TESSALY_IMPORT_BIN, args); }

// The texts of an SVG figure, in order: the legend's label, ticks and key.
QStringList svgTexts(const QString &file)
{
    QStringList texts;
    static const QRegularExpression text(QStringLiteral("<text[^>]*>([^<]*)</text>"));
    QString svg = QString::fromUtf8(testsupport::readFile(file));
    for (const QRegularExpressionMatch &m : text.globalMatch(svg))
        texts << m.captured(1).replace(QLatin1String("&amp;"), QLatin1String("&"));
    return texts;
}

// The numbers among `texts` (the ticks).
QList<double> numbers(const QStringList &texts)
{
    QList<double> values;
    for (const QString &t : texts) {
        bool ok = false;
        const double v = t.toDouble(&ok);
        if (ok)
            values << v;
    }
    return values;
}

// Ticks a reader takes for a scale: at least three, evenly spaced by 1, 2, 2.5 or 5 times a
// power of ten, each a whole multiple of that step.
bool roundTicks(const QList<double> &ticks, QString *why)
{
    if (ticks.size() < 3) {
        *why = QStringLiteral("%1 ticks").arg(ticks.size());
        return false;
    }
    const double step = ticks[1] - ticks[0];
    const double unit = std::pow(10.0, std::floor(std::log10(step)));
    const double mantissa = step / unit;
    bool nice = false;
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        nice = nice || std::fabs(mantissa - m) < 1e-9;
    for (qsizetype i = 1; i < ticks.size(); ++i)
        nice = nice && std::fabs(ticks[i] - ticks[i - 1] - step) < 1e-9 * step * 100;
    for (double t : ticks)
        nice = nice && std::fabs(t / step - std::round(t / step)) < 1e-6;
    if (!nice)
        *why = QStringLiteral("step %1 between %2").arg(step).arg(QString::number(ticks[0]));
    return nice;
}

QJsonObject probeJson(const QString &out)
{
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

} // namespace

class TestMetadata : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString path(const QString &name) const { return mDir.filePath(name); }

    // Imports `input` into NAME.gri with `options`; false (with the reason) when it fails.
    bool imported(const QString &input, const QString &name, const QStringList &options)
    {
        const auto r = import(QStringList{input, path(name + ".gri")} + options);
        if (r.status != 0)
            qWarning().noquote() << "tessaly-import:" << r.err;
        return r.status == 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        // p runs 3 ... 6 Pa, the flow has units; the second table has no names at all.
        testsupport::writeFile(path("units.txt"), "x [mm] y [mm] u [m/s] v [m/s] p [Pa]\n"
                                                  "0 0 1 0.5 3\n1 0 2 0.5 4\n2 0 2 1 4.5\n0 1 1 2 5\n1 1 1.5 2 6\n2 1 1 1 5.5\n"
                                                  "0 2 1 1 4\n1 2 2 1 3.5\n2 2 1 2 3.25\n");
        QVERIFY(imported(path("units.txt"), "units", {}));
        QVERIFY(imported(path("units.txt"), "narrow", {"--scalar-range", "4:5"}));
        if (QFile::exists(QLatin1String(kCoads))) {
            QVERIFY(imported(kCoads, "slp", {"--scalar", "SLP", "--time", "0", "--scalar-range", "975:1045", "--flow-scale", "0.1"}));
            QVERIFY(imported(kCoads, "slp1", {"--scalar", "SLP", "--time", "0", "--scalar-range", "975:1045"}));
        }
    }

    // --probe --json: the keys of a pair without metadata unchanged, and beside them each
    // channel's value in the scalar's units: channel 0 through the mapping (the range's ends
    // at -4 and 2.5), channel 1 as stored; within the mapped range both are the scalar.
    void probeShowsRealValues_data()
    {
        QTest::addColumn<QString>("dataset");
        QTest::addColumn<QString>("at");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("units");
        QTest::addColumn<bool>("inRange"); // the scalar lies inside low ... high there
        QTest::newRow("table, data range") << "units" << "1,1" << 3.0 << 6.0 << "Pa" << true;
        QTest::newRow("table, between points") << "units" << "0.5,1.25" << 3.0 << 6.0 << "Pa" << true;
        QTest::newRow("table, clamped below") << "narrow" << "0,0" << 4.0 << 5.0 << "Pa" << false;
        QTest::newRow("table, clamped above") << "narrow" << "1,1" << 4.0 << 5.0 << "Pa" << false;
        if (QFile::exists(QLatin1String(kCoads))) {
            QTest::newRow("COADS SLP") << "slp" << "90,45" << 975.0 << 1045.0 << "MB" << true;
            QTest::newRow("COADS SLP, another point") << "slp" << "150.5,30.25" << 975.0 << 1045.0 << "MB" << true;
        }
    }
    void probeShowsRealValues()
    {
        QFETCH(QString, dataset);
        QFETCH(QString, at);
        QFETCH(double, low);
        QFETCH(double, high);
        const QString grid = path(dataset + ".gri");
        const auto r = render({grid, "--probe", at, "--json"});
        QVERIFY2(r.status == 0 && r.err.isEmpty(), qPrintable(r.err));
        const QJsonObject o = probeJson(r.out);
        QCOMPARE(o.keys(), QStringList({"dataset", "mDir", "mPos", "outPutPos", "position", "real", "units", "values"}));
        const QJsonArray values = o["values"].toArray(), real = o["real"].toArray();
        QCOMPARE(values.size(), 2);
        QCOMPARE(real.size(), 2);
        const double stored = values[0].toDouble(), scalar = values[1].toDouble();
        const double expected = low + (stored + 4.0) / 6.5 * (high - low);
        QVERIFY2(std::fabs(real[0].toDouble() - expected) <= 1e-12 * std::fabs(expected), qPrintable(r.out));
        QCOMPARE(real[1].toDouble(), scalar);
        QFETCH(bool, inRange);
        // Single precision holds channel 0: the scalar back to about 1e-6 of the range.
        const double back = std::clamp(scalar, low, high);
        QVERIFY2(std::fabs(real[0].toDouble() - back) <= 2e-6 * (high - low) && (inRange == (back == scalar)), qPrintable(r.out));
        QFETCH(QString, units);
        QCOMPARE(o["units"].toArray(), QJsonArray({units, units}));
        // Without the metadata: exactly the old object.
        QVERIFY(QFile::copy(path(dataset + ".meta.json"), path("kept.json")));
        QVERIFY(QFile::remove(path(dataset + ".meta.json")));
        const auto plain = render({grid, "--probe", at, "--json"});
        QVERIFY(QFile::rename(path("kept.json"), path(dataset + ".meta.json")));
        QJsonObject withoutReal = o;
        withoutReal.remove("real");
        withoutReal.remove("units");
        QCOMPARE(probeJson(plain.out), withoutReal);
        QVERIFY(!plain.out.contains("real"));
    }

    // Colour bars show the quantity in its own units, labelled by its long name and units,
    // with round ticks inside the values it takes.
    void colourBarShowsRealValues_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("low");  // every tick inside
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("exact"); // the ticks when known, else empty
        QTest::addColumn<QString>("key");   // the reference arrow's text ends so, else empty
        QTest::newRow("table pressure background") << QStringList{"units", "--view", "arrows", "--pressure", "--fit", "--scale", "40", "--colorbar", "--arrow-step", "1"}
                                                   << "p [Pa]" << 3.0 << 6.0 << "3 4 5 6" << " m/s";
        QTest::newRow("table lines by pressure") << QStringList{"units", "--view", "streamlines", "--color-by", "pressure", "--scale", "40", "--colorbar"}
                                                 << "p [Pa]" << 3.0 << 6.0 << "" << "";
        QTest::newRow("a label of one's own") << QStringList{"units", "--view", "streamlines", "--color-by", "pressure", "--scale", "40", "--colorbar", "--label", "Druck"}
                                              << "Druck" << 3.0 << 6.0 << "" << "";
        if (QFile::exists(QLatin1String(kCoads))) {
            QTest::newRow("COADS SLP background in hPa") << QStringList{"slp", "--view", "arrows", "--pressure", "--fit", "--scale", "2", "--colorbar"}
                                                         << "SEA LEVEL PRESSURE [MB]" << 975.0 << 1045.0 << "980 1000 1020 1040" << " M/S";
            QTest::newRow("COADS lines by pressure") << QStringList{"slp", "--view", "streamlines", "--color-by", "pressure", "--scale", "2", "--colorbar"}
                                                     << "SEA LEVEL PRESSURE [MB]" << 975.0 << 1045.0 << "" << "";
            QTest::newRow("COADS evenly spaced lines by pressure") << QStringList{"slp", "--view", "evenly", "--color-by", "pressure", "--colorbar", "--dsep", "10"}
                                                                   << "SEA LEVEL PRESSURE [MB]" << 975.0 << 1045.0 << "" << "";
            QTest::newRow("COADS lines by speed") << QStringList{"slp", "--view", "evenly", "--color-by", "speed", "--colorbar", "--dsep", "10"}
                                                  << "speed [M/S]" << 0.0 << 30.0 << "" << "";
        }
    }
    void colourBarShowsRealValues()
    {
        QFETCH(QStringList, args);
        args[0] = path(args[0] + ".gri");
        const QString out = path("bar.svg");
        const auto r = render(args + QStringList{"-o", out});
        QVERIFY2(r.status == 0 && r.err.isEmpty(), qPrintable(r.err));
        const QStringList texts = svgTexts(out);
        QVERIFY(!texts.isEmpty());
        QTEST(texts[0], "label");
        QFETCH(QString, key);
        QStringList tickTexts = texts.mid(1);
        if (!key.isEmpty()) {
            QVERIFY2(tickTexts.last().endsWith(key), qPrintable(tickTexts.last()));
            tickTexts.removeLast();
        }
        QList<double> ticks = numbers(tickTexts);
        QCOMPARE(ticks.size(), tickTexts.size());
        std::reverse(ticks.begin(), ticks.end()); // written from the bottom up
        std::sort(ticks.begin(), ticks.end());
        QString why;
        QVERIFY2(roundTicks(ticks, &why), qPrintable(why + ": " + tickTexts.join(' ')));
        QFETCH(double, low);
        QFETCH(double, high);
        QVERIFY2(ticks.first() >= low && ticks.last() <= high, qPrintable(tickTexts.join(' ')));
        QFETCH(QString, exact);
        if (!exact.isEmpty()) {
            QStringList sorted;
            for (double t : ticks)
                sorted << QString::number(t);
            QCOMPARE(sorted.join(' '), exact);
        }
    }

    // Speeds are in the source's units: the speed's bar and the reference arrow read the
    // same whatever flow scale the import applied (slp: 0.1, slp1: 1).
    void speedIgnoresTheFlowScale_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("pattern"); // what the legend reads
        QTest::newRow("speed bar") << QStringList{"--view", "streamlines", "--color-by", "speed", "--colorbar", "--scale", "2"}
                                   << "^speed \\[M/S\\]( \\d+(\\.\\d+)?)+$";
        QTest::newRow("reference arrow") << QStringList{"--view", "arrows", "--fit", "--colorbar", "--scale", "2"} << "^(1|2|5|10|20) M/S$";
    }
    void speedIgnoresTheFlowScale()
    {
        if (!QFile::exists(QLatin1String(kCoads)))
            QSKIP("no COADS sample (ferret-vis-data)");
        QFETCH(QStringList, args);
        QStringList legends;
        for (const QString name : {"slp", "slp1"}) {
            const QString out = path(name + ".svg");
            const auto r = render(QStringList{path(name + ".gri")} + args + QStringList{"-o", out});
            QVERIFY2(r.status == 0, qPrintable(r.err));
            legends << svgTexts(out).join(' ');
        }
        QCOMPARE(legends[0], legends[1]);
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern).match(legends[0]).hasMatch(), qPrintable(legends[0]));
    }

    // A metadata file that is not what it should be changes nothing but one warning line:
    // the figure's bytes and the probe's object are those of the pair without it.
    void badMetadataIsIgnored_data()
    {
        QTest::addColumn<QByteArray>("meta");   // the file's bytes; "(folder)", "(pipe)", "(none)"
        QTest::addColumn<QString>("warning");   // its reason; empty: none expected
        const QByteArray good = testsupport::readFile(path("units.meta.json"));
        QVERIFY(good.contains("\"version\": 1") && good.contains("\"points\": [\n        3,\n        3\n    ]"));
        QByteArray v2 = good, down = good, stale = good, text = good, huge = good;
        v2.replace("\"version\": 1", "\"version\": 2");
        down.replace("\"real\": [\n            3,\n            6\n", "\"real\": [\n            6,\n            3\n");
        stale.replace("\"points\": [\n        3,", "\"points\": [\n        4,");
        text.replace("\"scale\": 1,", "\"scale\": \"one\",");
        huge.replace("{", "{" + QByteArray(1 << 20, ' '));
        QVERIFY(v2 != good && down != good && stale != good && text != good);
        QTest::newRow("absent") << QByteArray("(none)") << "";
        QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "not JSON (";
        QTest::newRow("empty") << QByteArray() << "not JSON (";
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "not a JSON object";
        QTest::newRow("another kind of file") << QByteArray("{\"version\": 1}") << "no \"format\": \"tessaly dataset metadata\"";
        QTest::newRow("a later version") << v2 << "version 2, this program reads version 1";
        QTest::newRow("range running down") << down << "mapping.real runs from 6 down to 3";
        QTest::newRow("text for a number") << text << "flow.scale is not a finite number";
        QTest::newRow("another grid's") << stale << "it describes 4 x 3 points, the dataset has 3 x 3";
        QTest::newRow("over 1 MiB") << huge << "bytes, more than the 1048576 a metadata file may hold";
        QTest::newRow("binary") << QByteArray("\0\xff\xfe{", 4) << "not JSON (";
        QTest::newRow("a folder") << QByteArray("(folder)") << "not a regular file";
        QTest::newRow("a named pipe") << QByteArray("(pipe)") << "not a regular file";
    }
    void badMetadataIsIgnored()
    {
        QFETCH(QByteArray, meta);
        QFETCH(QString, warning);
        // A copy of the table's pair, and its pictures and probe without metadata.
        const QString grid = path("bad.gri"), metaFile = path("bad.meta.json");
        for (const char *suffix : {".gri", ".00000.dat"}) {
            QFile::remove(path("bad") + suffix);
            QVERIFY(QFile::copy(path("units") + suffix, path("bad") + suffix));
        }
        QFile::remove(metaFile);
        QDir(metaFile).removeRecursively();
        const QStringList figure{grid, "--probe", "1,1", "--json", "--view", "arrows", "--pressure", "--fit", "--scale", "8", "--colorbar", "-o"};
        const auto reference = render(figure + QStringList{path("reference.png")});
        QVERIFY2(reference.status == 0 && reference.err.isEmpty(), qPrintable(reference.err));
        if (meta == "(folder)")
            QVERIFY(QDir().mkpath(metaFile));
        else if (meta == "(pipe)")
            QVERIFY(::mkfifo(QFile::encodeName(metaFile).constData(), 0644) == 0);
        else if (meta != "(none)")
            testsupport::writeFile(metaFile, meta);
        const auto r = render(figure + QStringList{path("bad.png")});
        QCOMPARE(r.status, 0);
        if (warning.isEmpty())
            QCOMPARE(r.err, QString());
        else
            QVERIFY2(r.err.startsWith("tessaly-render: warning: " + metaFile + " is ignored: ") && r.err.count('\n') == 1
                         && r.err.contains(warning),
                     qPrintable(r.err));
        QCOMPARE(r.out, reference.out);
        QVERIFY(testsupport::readFile(path("bad.png")) == testsupport::readFile(path("reference.png")));
        QFile::remove(metaFile);
        QDir(metaFile).removeRecursively();
    }

    // The metadata file is an input of the run: no output may replace it.
    void metadataIsNoOutput()
    {
        const QString meta = path("units.meta.json");
        const QByteArray before = testsupport::readFile(meta);
        const auto r = render({path("units.gri"), "--view", "evenly", "--grid-log", meta, "-o", path("lines.png")});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("the file is an input of this run"), qPrintable(r.err));
        QCOMPARE(testsupport::readFile(meta), before);
    }

    // The same figure with the table's own metadata does change: its bar reads 3 ... 6 Pa
    // (the check above would notice a renderer that never reads the file).
    void goodMetadataChangesTheLegend()
    {
        const QStringList figure{path("units.gri"), "--view", "arrows", "--pressure", "--fit", "--scale", "8", "--colorbar", "-o"};
        const auto with = render(figure + QStringList{path("with.png")});
        QVERIFY(QFile::rename(path("units.meta.json"), path("units.kept")));
        const auto without = render(figure + QStringList{path("without.png")});
        QVERIFY(QFile::rename(path("units.kept"), path("units.meta.json")));
        QVERIFY2(with.status == 0 && without.status == 0 && with.err.isEmpty() && without.err.isEmpty(), qPrintable(with.err + without.err));
        QVERIFY(testsupport::readFile(path("with.png")) != testsupport::readFile(path("without.png")));
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
