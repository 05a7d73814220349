// The public core: loadDataset's refusals as values (kind and the console's own line),
// Dataset::fromArrays against tessaly-import's files loaded back (1-D and 2-D coordinates,
// reversed axes, NaN, a given range, a flow scale), fromArrays' refusals, and the views'
// entry points against the widgets that show the same dataset.

#include "arrowplot/ui/ArrowPlot.h"
#include "arrowplot/ui/ArrowPlotDialog.h"
#include "arrowplot/ArrowRender.h"
#include "data/Dataset.h"
#include "tools/Flows.h"
#include "tools/import/ImportGrid.h"
#include "streamlines/StreamlineRuns.h"
#include "tests/support/TestSupport.h"
#include "volinfo/ui/VolInfo.h"
#include "volinfo/VolumeReport.h"
#include "streamlines/ui/streamlines.h"

#include <QLabel>
#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

#include <cmath>
#include <cstring>

using namespace testsupport;
using Kind = DatasetError::Kind;

namespace {

QByteArray header(const QByteArray &text) { return text.leftJustified(40, ' ', true); }

// A correct 3 x 3 x 1 pair with one value per point.
QByteArray goodGrid()
{
    QByteArray b = header("SN4DB 3 3 1 1 1 0.5");
    for (int i = 0; i < 9; ++i)
        b += floats({float(i % 3), float(i / 3), 0.0f});
    return b;
}
QByteArray goodData()
{
    QByteArray b;
    for (int i = 0; i < 9; ++i)
        b += floats({1.0f, 0.5f, 0.0f, float(i)});
    return b;
}

// Byte-equal columns: NaN payloads and signed zeros count.
bool sameBytes(const void *a, const void *b, std::size_t n) { return n == 0 || (a && b && std::memcmp(a, b, n) == 0); }

QString differenceOf(const Volume &a, const Volume &b)
{
    if (a.getDimX() != b.getDimX() || a.getDimY() != b.getDimY() || a.getDimZ() != b.getDimZ())
        return QStringLiteral("sizes differ");
    for (const auto &[p, q] : {std::pair(a.mMinPos, b.mMinPos), {a.mMaxPos, b.mMaxPos}})
        if (!sameBytes(&p, &q, sizeof p))
            return QStringLiteral("extents differ");
    const Dataset::Columns c = Dataset::columns(a), d = Dataset::columns(b);
    if (c.points != d.points || c.stride != d.stride)
        return QStringLiteral("point counts or strides differ");
    if (!sameBytes(c.positions, d.positions, 3 * sizeof(double) * c.points)
        || !sameBytes(c.directions, d.directions, 3 * sizeof(double) * c.points)
        || !sameBytes(c.counts, d.counts, sizeof(std::int32_t) * c.points))
        return QStringLiteral("positions, flow or value counts differ");
    for (std::size_t i = 0; i < c.points; ++i)
        if (!sameBytes(c.values + i * std::size_t(c.stride), d.values + i * std::size_t(d.stride), sizeof(float) * std::size_t(c.counts[i])))
            return QStringLiteral("values of point %1 differ").arg(i);
    return QString();
}

// A field of nx x ny points: a 1-D or curvilinear grid (a sheared one), a swirl with gaps.
field::Arrays makeField(int nx, int ny, bool curvilinear, bool descendingY, bool scalar, bool gaps)
{
    field::Arrays g;
    g.nx = nx;
    g.ny = ny;
    g.curvilinear = curvilinear;
    g.uName = QStringLiteral("u");
    g.vName = QStringLiteral("v");
    const auto yAt = [&](int j) { return descendingY ? 40.0 - 2.5 * j : -10.0 + 2.5 * j; };
    if (curvilinear) {
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                g.xs.push_back(100.0 + 1.25 * i + 0.1 * j);
                g.ys.push_back(yAt(j) + 0.05 * i);
            }
    } else {
        for (int i = 0; i < nx; ++i)
            g.xs.push_back(100.0 + 1.25 * i);
        for (int j = 0; j < ny; ++j)
            g.ys.push_back(yAt(j));
    }
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const std::size_t k = std::size_t(j) * std::size_t(nx) + std::size_t(i);
            g.u.push_back(float(std::sin(0.3 * i) * 3.0 + 0.1 * j));
            g.v.push_back(float(std::cos(0.2 * j) * 2.0 - 0.05 * i));
            if (scalar)
                g.scalar.push_back(float(1000.0 + 3.0 * i - 2.0 * j));
            if (gaps && k % 7 == 3)
                g.u.back() = NAN;
            if (gaps && scalar && k % 11 == 5)
                g.scalar.back() = NAN;
        }
    return g;
}

struct FieldCase { field::Arrays g; Dataset::FieldOptions options; };

} // namespace

Q_DECLARE_METATYPE(FieldCase)

class TestDataset : public QObject
{
    Q_OBJECT
    QTemporaryDir mDir;
    QString path(const QString &name) const { return mDir.filePath(name); }

private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    // Each refusal: its kind, the message word for word (with %1 the grid file), and that
    // message as the console line the loader printed (none for a header of zero counts).
    void loadRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("grid");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        const QByteArray g = goodGrid(), d = goodData(), none;
        QTest::newRow("missing") << "nowhere.gri" << none << none << int(Kind::CannotOpen)
                                 << "Not loaded: cannot open the grid file %1";
        QTest::newRow("no .gri") << "FLOW.GRI" << g << d << int(Kind::NoDataFile)
                                 << "Not loaded: %1 has no \".gri\" in its file name, so it has no data file of its own.";
        QTest::newRow("magic") << "m.gri" << QByteArray("sn4db" + g.mid(5)) << d << int(Kind::NotADataset)
                               << "Not a dataset: %1 does not start with \"SN4DB\"; no points loaded.";
        QTest::newRow("negative") << "n.gri" << QByteArray(header("SN4DB 3 -3 1 1 1 0") + g.mid(40)) << d << int(Kind::BadHeader)
                                  << "Bad header in %1: negative or impossibly large counts (3 x -3 x 1 points, 1 values each); no points loaded.";
        QTest::newRow("short grid") << "s.gri" << g.left(100) << d << int(Kind::TooShort)
                                    << "Grid file too short: %1 holds 100 bytes, the header needs 148; no points loaded.";
        QTest::newRow("no counts") << "e.gri" << QByteArray(header("SN4DB")) << d << int(Kind::NoPoints)
                                   << "Empty dataset: %1 has a header of no points (0 of 6 numbers read); no points loaded.";
        QByteArray flat = header("SN4DB 3 3 1 1 1 0.5");
        for (int i = 0; i < 9; ++i)
            flat += floats({1.0f, 1.0f, 0.0f});
        QTest::newRow("flat extent") << "f.gri" << flat << d << int(Kind::Unusable)
                                     << "Not loaded: the extent is empty: all 9 points lie at (1, 1)";
        QTest::newRow("zero counts") << "z.gri" << QByteArray(header("SN4DB 0 0 0 1 1 0")) << d << int(Kind::NoPoints)
                                     << "the dataset holds no points";
    }
    void loadRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, grid);
        QFETCH(QByteArray, data);
        QFETCH(int, kind);
        QFETCH(QString, message);
        const QString file = path(name);
        if (!grid.isNull())
            writeFile(file, grid);
        if (!data.isNull())
            writeFile(dataset::dataFileName(file).isEmpty() ? file + ".dat" : dataset::dataFileName(file), data);
        ConsoleCapture console;
        const DatasetResult r = loadDataset(file);
        QVERIFY(!r && !r.dataset && r.state && r.state->isEmpty() && r.state->grid().pointCount() == 0);
        QCOMPARE(int(r.error.kind), kind);
        QCOMPARE(r.error.message, message.arg(file));
        const bool printed = kind != int(Kind::NoPoints) || message.contains("%1");
        QCOMPARE(r.error.printed, printed);
        QCOMPARE(console.lines().contains(r.error.message), printed);
    }

    // A good file: no error, the dataset's own volumes, the trace unchanged by the value.
    void loadGood()
    {
        writeFile(path("ok.gri"), goodGrid());
        writeFile(path("ok.00000.dat"), goodData());
        ConsoleCapture console;
        const DatasetResult r = loadDataset(path("ok.gri"));
        QVERIFY(r && r.state == r.dataset && !r.error.isError() && r.dataset->warnings().isEmpty());
        QCOMPARE(console.lines(), (QStringList{"Dataset size: 3 3 1", "additional Data: 1", "number of Timesteps: 1 0.5",
                                               "min: 0 0 0", "max: 2 2 0"}));
        QCOMPARE(r.dataset->gridColumns().points, std::size_t(9));
        QCOMPARE(r.dataset->loadedColumns().values[4], 4.0f);
    }

    // fromArrays holds exactly what importing the same field and loading the files gives:
    // the loaded volume byte for byte, and hence the same regular grid.
    void fromArraysIsImportThenLoad_data()
    {
        QTest::addColumn<FieldCase>("c");
        QTest::newRow("1-D, scalar, gaps") << FieldCase{makeField(23, 17, false, false, true, true), {}};
        QTest::newRow("1-D descending y, speed") << FieldCase{makeField(12, 30, false, true, false, true), {}};
        QTest::newRow("curvilinear descending, range, scale")
            << FieldCase{makeField(19, 14, true, true, true, true), {true, 990.0, 1060.0, 40.0}};
        QTest::newRow("curvilinear, no gaps") << FieldCase{makeField(8, 9, true, false, true, false), {}};
    }
    void fromArraysIsImportThenLoad()
    {
        QFETCH(FieldCase, c);
        const DatasetResult made = Dataset::fromArrays(c.g, c.options);
        QVERIFY2(made, qPrintable(made.error.message));

        field::Arrays g = c.g;
        QVERIFY(tessimport::orient(g).isEmpty());
        tessimport::ScalarMapping m;
        QString error;
        QVERIFY(tessimport::scalarMapping(g, c.options.haveRange, c.options.low, c.options.high, m, error));
        const QString file = path("imported.gri");
        QVERIFY2(tessimport::writeDataset(g, m, c.options.flowScale, file, error), qPrintable(error));
        ConsoleCapture quiet;
        const DatasetResult loaded = loadDataset(file);
        QVERIFY(loaded);

        QCOMPARE(differenceOf(made.dataset->loaded(), loaded.dataset->loaded()), QString());
        QCOMPARE(differenceOf(made.dataset->grid(), loaded.dataset->grid()), QString());
        // A point missing u or v has no flow at all.
        const Dataset::Columns columns = made.dataset->loadedColumns();
        std::size_t noFlow = 0;
        for (std::size_t i = 0; i < columns.points; ++i)
            noFlow += std::isnan(columns.directions[3 * i]) && std::isnan(columns.directions[3 * i + 1]);
        QCOMPARE(noFlow, field::missingFlow(g));
    }

    void fromArraysRefusals_data()
    {
        QTest::addColumn<FieldCase>("c");
        QTest::addColumn<QString>("message");
        field::Arrays small = makeField(1, 5, false, false, false, false);
        field::Arrays ragged = makeField(4, 4, false, false, true, false);
        ragged.scalar.pop_back();
        field::Arrays flat = makeField(4, 4, false, false, false, false);
        flat.xs[2] = flat.xs[1];
        field::Arrays dry = makeField(3, 3, false, false, false, false);
        std::fill(dry.v.begin(), dry.v.end(), NAN);
        QTest::newRow("1 column") << FieldCase{small, {}} << "a grid needs at least 2 x 2 points, found 1 x 5";
        QTest::newRow("short scalar") << FieldCase{ragged, {}} << "u, v and the scalar hold 16, 16 and 15 values, a 4 x 4 grid needs 16 each";
        QTest::newRow("x not monotonic") << FieldCase{flat, {}} << "the x coordinate  is not strictly monotonic";
        QTest::newRow("no flow") << FieldCase{dry, {}} << "u and v have no value at any point";
        QTest::newRow("zero scale") << FieldCase{makeField(3, 3, false, false, false, false), {false, 0, 0, 0.0}}
                                    << "the flow scale must be a number above 0, not 0";
    }
    void fromArraysRefusals()
    {
        QFETCH(FieldCase, c);
        QFETCH(QString, message);
        const DatasetResult r = Dataset::fromArrays(c.g, c.options);
        QVERIFY(!r && !r.state);
        QCOMPARE(int(r.error.kind), int(Kind::BadArrays));
        QCOMPARE(r.error.message, message);
    }

    // The entry points give the widgets' pictures, lines, grid.log and texts.
    void entryPointsAreTheViews()
    {
        const QString file = path("vortices.gri");
        QVERIFY(flows::write("vortices", file, {150, 110}));
        ConsoleCapture quiet;
        loadLikeTheDock(file);
        const std::shared_ptr<const Dataset> d = currentDataset();
        QVERIFY(d && !d->isEmpty());

        ArrowPlotDialog arrows;
        arrows.show();
        arrows.refreshPlot();
        QCOMPARE(arrows.plot()->image(), arrowrender::renderPicture(*d, arrowrender::PictureSettings()));

        streamlines view;
        view.drawStreamLines();
        const StreamlineResult regular = regularStreamlines(*d, StreamlineSettings(), true);
        QCOMPARE(regular.seeds, view.mSeedPoints);
        QCOMPARE(regular.image, view.getImage());

        StreamlineSettings evenly;
        evenly.dSep = 7.0f;
        evenly.method = 1;
        view.mDSep = 7.0f;
        view.mIntegrationMethod = 1;
        view.computeSeedPoints(true); // writes grid.log
        view.drawStreamLines();
        const StreamlineResult spaced = evenlySpacedStreamlines(*d, evenly, true);
        QVERIFY(spaced.lines.size() > 10);
        QCOMPARE(spaced.lines, view.mEvenLines);
        QCOMPARE(spaced.image, view.getImage());
        QCOMPARE(spaced.gridLog(), readGridLog());

        VolInfo info;
        for (auto [spin, value] : {std::pair(info.xSpin(), 40), {info.xFracSpin(), 25}, {info.ySpin(), 71}, {info.yFracSpin(), 5}})
            spin->setValue(value);
        QCOMPARE(info.informationLabel()->text(), volumereport::informationText(*d));
        QCOMPARE(info.output()->toPlainText(),
                 volumereport::text(volumereport::sample(*d, volumereport::dialPosition(40, 25), volumereport::dialPosition(71, 5))));
    }
};

QTEST_MAIN(TestDataset)
#include "tst_dataset.moc"
