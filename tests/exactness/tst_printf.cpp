// The printf-style texts round as C's printf does: the exact binary value to nearest, ties to
// even. Every value here prints differently under a tie-up rounding (0.4765625 -> 0.476563) or
// carries a sign a hand-made formatter drops; each expectation is made with std::snprintf here.

#include "data/CFormat.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTest>
#include <QTextEdit>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

using namespace testsupport;

namespace {

const float kTie = 0.4765625f;       // 0.476562|5 under %f and %g
const float kSmall = 2.5e-7f;        // 0.000000 under %f, 2.5e-07 under %g
const float kNan = -std::numeric_limits<float>::quiet_NaN(); // sign bit set: glibc says "-nan"

// C's text, with a NaN's sign dropped as the program drops it.
QString c(const char *format, double v)
{
    char text[512];
    std::snprintf(text, sizeof text, format, v);
    return QString::fromLatin1(text).replace(QLatin1String("-nan"), QLatin1String("nan"));
}

} // namespace

class PrintfTest : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString mTies; // 3 x 2 points at x = 0.4765625 + i, y = -j (-0 first); channels tie, small, -0, NaN

private slots:
    void initTestCase()
    {
        mTies = writeDataset(mDir, "ties.gri", 3, 2, 1, 4, [](int x, int y, int, float pos[3], float d[3], float *v) {
            pos[0] = kTie + x;
            pos[1] = -float(y);
            d[0] = kTie;
            d[1] = -0.0f;
            d[2] = 0.0f;
            v[0] = kTie;
            v[1] = kSmall;
            v[2] = -0.0f;
            v[3] = kNan;
        });
    }
    void cleanup() { setVolumes(nullptr, nullptr); }

    void formatsAsC_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("%f tie") << QByteArray("%f") << double(kTie) << "0.476562";
        QTest::newRow("%f tie to even, up") << QByteArray("%f") << 0.0234375 << "0.023438";
        QTest::newRow("%f small") << QByteArray("%f") << double(kSmall) << "0.000000";
        QTest::newRow("%f -small") << QByteArray("%f") << -double(kSmall) << "-0.000000";
        QTest::newRow("%f -0") << QByteArray("%f") << -0.0 << "-0.000000";
        QTest::newRow("%f nan") << QByteArray("%f") << double(kNan) << "nan";
        QTest::newRow("%f -inf") << QByteArray("%f") << -HUGE_VAL << "-inf";
        QTest::newRow("%f 1e300 (long)") << QByteArray("%f") << 1e300 << c("%f", 1e300);
        QTest::newRow("%g tie") << QByteArray("%g") << double(kTie) << "0.476562";
        QTest::newRow("%g whole tie") << QByteArray("%g") << 123456.5 << "123456";
        QTest::newRow("%g exponent tie") << QByteArray("%g") << 5514325.0 << "5.51432e+06";
        QTest::newRow("%g small") << QByteArray("%g") << double(kSmall) << "2.5e-07";
        QTest::newRow("%g -0") << QByteArray("%g") << -0.0 << "-0";
        QTest::newRow("%g nan") << QByteArray("%g") << double(kNan) << "nan";
    }
    void formatsAsC()
    {
        QFETCH(QByteArray, format);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(c(format.constData(), value), expected);
        QCOMPARE(cformat(format.constData(), value), expected);
        if (format == "%g")
            QCOMPARE(QString::fromLatin1(consoleNumber(value).text), expected);
    }
    void integers() { QCOMPARE(cformat("%i|%d|%i", -7, 2147483647, 0), c("%.0f", -7.0) + "|2147483647|0"); }

    // The application sets the user's locale; a comma locale must not reach the texts.
    void decimalPointUnderAnyLocale()
    {
        const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
        bool comma = false;
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
            comma = comma || std::setlocale(LC_NUMERIC, name);
        const QString text = cformat("%f", double(kTie));
        std::setlocale(LC_NUMERIC, before.constData());
        if (!comma)
            QSKIP("no comma locale installed");
        QCOMPARE(text, "0.476562");
    }

    // Information label, report and the loader's console lines of the same dataset.
    void dialogAndConsole()
    {
        ConsoleCapture console;
        loadLikeTheDock(mTies);
        QVERIFY(console.lines().contains(QStringLiteral("min: %1 %2 0").arg(c("%g", kTie), c("%g", -1.0))));
        QVERIFY(console.lines().contains(QStringLiteral("max: %1 %2 0").arg(c("%g", kTie + 2.0), c("%g", -0.0))));
        QCOMPARE(console.lines().filter("min:").first(), "min: 0.476562 -1 0");

        VolInfo dialog;
        QCOMPARE(dialog.informationLabel()->text(),
                 QStringLiteral("DatasetSize: (3 x 2)\n MaxPos: (%1,%2)\n MinPos: (%3,%4)")
                     .arg(c("%f", kTie + 2.0), c("%f", -0.0), c("%f", kTie), c("%f", -1.0)));
        QVERIFY(dialog.informationLabel()->text().contains("MaxPos: (2.476562,-0.000000)"));
        const QString report = dialog.output()->toPlainText();
        const QString dir = QStringLiteral("  mDir: (%1,%2,%3) \n").arg(c("%f", kTie), c("%f", -0.0), c("%f", 0.0));
        QVERIFY2(report.contains(dir), qPrintable(report));
        const QString values = QStringLiteral("  Value 0: %1 \n  Value 1: %2 \n  Value 2: %3 \n  Value 3: %4 \n")
                                   .arg(c("%f", kTie), c("%f", kSmall), c("%f", -0.0), c("%f", kNan));
        QVERIFY2(report.contains(values), qPrintable(report));
        QVERIFY(report.contains("  Value 0: 0.476562 \n") && report.contains("  Value 2: -0.000000 \n")
                && report.contains("  Value 3: nan \n  missing data at this position \n"));
    }

    // tessaly-render's probe prints the dialog's text; its JSON holds the exact values.
    void probe()
    {
        loadLikeTheDock(mTies);
        VolInfo dialog;
        const ToolRun text = runTool(TESSALY_RENDER, {mTies, "--probe", "0,0"});
        const ToolRun json = runTool(TESSALY_RENDER, {mTies, "--probe", "0,0", "--json"});
        QCOMPARE(text.status + json.status, 0);
        QCOMPARE(text.out, dialog.output()->toPlainText() + "\n");
        QVERIFY(text.out.contains(QStringLiteral("  Value 0: %1 \n").arg(c("%f", kTie))));
        const QJsonArray values = QJsonDocument::fromJson(json.out.toUtf8()).object()["values"].toArray();
        QCOMPARE(values.size(), 4);
        QCOMPARE(values[0].toDouble(), double(kTie));
        QCOMPARE(values[1].toDouble(), double(kSmall));
    }
};

QTEST_MAIN(PrintfTest)
#include "tst_printf.moc"
