// The in-memory dataset: storage order, bounds, point arithmetic and interpolated sampling.

#include "tests/support/TestSupport.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <random>

class TestVolume : public QObject
{
    Q_OBJECT

private slots:
    // A 10 x 5 x 1 volume whose point (x, y) lies at world (10x, 10y) with flow (1 + x, 1 + y);
    // then grown, and refused absurd sizes.
    void storageBoundsSamplingAndSize()
    {
        QVERIFY(!Volume().isInside(0, 0, 0));
        QCOMPARE(Volume().getAt(0, 0, 0).mValues.size(), 0);
        Volume v(10, 5, 1);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x) {
                DataPoint p(2);
                p.mPos = Vector3(x * 10, y * 10, 0);
                p.mDir = Vector3(1 + x, 1 + y, 0);
                p.mValues = {float(x + y), 1.f};
                v.setAt(x, y, 0, p);
            }
        QCOMPARE(v.indexOf(3, 2, 0), std::size_t(23));
        QCOMPARE(v.store().dir()[23], Vector3(4, 3, 0));
        // Bounds are half-open; reads outside give zero points, never a neighbour in the block,
        // and writes outside are dropped rather than landing on one.
        QVERIFY(v.isInside(9.999, 0, 0) && v.isInside(0, 4.5, 0.999));
        QVERIFY(!v.isInside(10.0, 0, 0) && !v.isInside(-0.001, 0, 0) && !v.isInside(0, 0, 1.0));
        QVERIFY(!v.isInside(std::nan(""), 0, 0));
        QCOMPARE(v.getAt(-1, 1, 0).mValues.size(), 0);
        QCOMPARE(v.getAt(10, 0, 0).mDir, Vector3());
        v.setAt(10, 0, 0, DataPoint(3)); // index of (0, 1)
        v.setAt(-1, 1, 0, DataPoint(3)); // index of (9, 0)
        QCOMPARE(v.getAt(0, 1, 0).mValues.size() + v.getAt(9, 0, 0).mValues.size(), 4);

        const DataPoint exact = v.getValue(3, 2, 0);
        QCOMPARE(exact.mDir, Vector3(4, 3, 0));
        QCOMPARE(exact.mPos, Vector3(30, 20, 0));
        QCOMPARE(exact.mValues, QList<float>({5.f, 1.f}));
        QCOMPARE(v.getValue(0.5, 0.5, 0).mDir, Vector3(1.5, 1.5, 0));
        // Last column: the corners beyond are zero points, so the field halves mid-cell.
        QCOMPARE(v.getValue(9.5, 0, 0).mDir, Vector3(5, 0.5, 0));
        QCOMPARE(v.getValue(9.5, 0, 0).mValues.size(), 2);
        // One layer: z = 0.5 is inside and halves the result; z = 1 is outside.
        QCOMPARE(v.getValue(3, 2, 0.5).mDir, Vector3(2, 1.5, 0));
        QCOMPARE(v.getValue(3, 2, 1.0).mValues.size(), 0);
        QCOMPARE(v.getValue(10.0, 1, 0).mDir, Vector3());

        v.setSize(10, 6, 1); // growing keeps the points at the start of the block
        QCOMPARE(v.getAt(3, 2, 0).mDir, Vector3(4, 3, 0));
        QCOMPARE(v.getAt(3, 5, 0).mValues.size(), 0);
        testsupport::ConsoleCapture console;
        v.setSize(100000, 100000, 100000);
        QCOMPARE(v.getDimX() + int(v.pointCount()), 0);
        QVERIFY(console.contains(QStringLiteral("Cannot hold")));
        v.setSize(-3, 4, 1);
        QCOMPARE(v.getDimX() + int(v.pointCount()), 0);
    }

    // The sum pads the shorter list with +0 (so a -0 comes out +0); scaled values round to float.
    // (Vector3's normalisation and turn: the seeding's reference, which uses them, against the
    // fast seeding's own copies, and the seeding's pinned seed positions.)
    void pointArithmetic()
    {
        DataPoint a(1), b(3);
        a.mValues = {1.f};
        b.mValues = {2.f, 3.f, -0.f};
        const DataPoint s = a + b;
        QCOMPARE(s.mValues, QList<float>({3.f, 3.f, 0.f}));
        QVERIFY(!std::signbit(s.mValues[2]));
        QCOMPARE((DataPoint() + a).mValues, a.mValues);
        a.mValues = {0.1f};
        a.mDir = Vector3(1, 2, 3);
        const DataPoint m = a * 0.3;
        QCOMPARE(m.mValues[0], float(double(0.1f) * 0.3));
        QCOMPARE(m.mDir, Vector3(0.3, 0.6, 3 * 0.3));
    }

    void fastDirectionSampleIsBitIdentical()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> val(-3, 3);
        Volume v(17, 11, 1);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 17; ++x) {
                DataPoint p;
                p.mDir = Vector3(val(rng), val(rng), val(rng));
                if ((x * y) % 5 != 3) // leave some zero points, as the resampling does
                    v.setAt(x, y, 0, p);
            }
        std::uniform_real_distribution<double> px(-1, 18), py(-1, 12), pz(-0.2, 1.2);
        for (int i = 0; i < 20000; ++i) {
            const double x = px(rng), y = py(rng), z = i % 3 ? 0.0 : pz(rng);
            const Vector3 a = v.sampleDir(x, y, z), b = v.getValue(x, y, z).mDir;
            QVERIFY2(std::memcmp(&a, &b, sizeof a) == 0, qPrintable(QStringLiteral("at %1 %2 %3").arg(x).arg(y).arg(z)));
        }
    }
};

QTEST_GUILESS_MAIN(TestVolume)
#include "tst_volume.moc"
