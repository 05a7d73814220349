// The integration step and the regular mode's fixed-length trace, on small analytic fields.

#include "Flows.h"
#include "Integrate.h"
#include "StreamlineRender.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace testsupport;

namespace {

Vector3 uniform(double vx, double vy, double vz = 0.0)
{
    return Vector3(vx, vy, vz);
}

// The step as the text book writes it, sampling through getValue (points and all): the
// allocation-free path must give the very same bits.
Vector3 referenceStep(Vector3 p, double dt, int method, Volume &v)
{
    const Vector3 d1 = v.getValue(p.x, p.y, p.z).mDir.normalized();
    if (method == 0)
        return Vector3(p.x + dt * d1.x, p.y + dt * d1.y, p.z + dt * d1.z);
    const Vector3 mid = p + (d1 * dt) * 0.5;
    const Vector3 d2 = v.getValue(mid.x, mid.y, mid.z).mDir.normalized();
    return p + d2 * dt;
}

} // namespace

class StreamlineTraceTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setVolumes(nullptr, nullptr); }

    void stepLengthIsDtWhateverTheSpeed_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<double>("speed");
        for (int method : {0, 1})
            for (double speed : {1e-6, 1.0, 3.0, 2.5e4}) {
                const QByteArray name = QByteArray(method ? "RK " : "Euler ") + QByteArray::number(speed);
                QTest::newRow(name.constData()) << method << speed;
            }
    }
    void stepLengthIsDtWhateverTheSpeed()
    {
        QFETCH(int, method);
        QFETCH(double, speed);
        std::unique_ptr<Volume> along(makeGrid(20, 20, [&](int, int) { return uniform(speed, 0.0); }));
        const Vector3 q = integrate(Vector3(5, 5, 0), 1.55, method, along.get());
        QVERIFY(std::fabs(q.x - 6.55) < 1e-12);
        QCOMPARE(q.y, 5.0);
        QCOMPARE(q.z, 0.0);

        // Diagonal flow: the step still has length |dt|, split between the axes.
        std::unique_ptr<Volume> diagonal(makeGrid(20, 20, [&](int, int) { return uniform(speed, speed); }));
        const Vector3 r = integrate(Vector3(5, 5, 0), -2.0, method, diagonal.get());
        QVERIFY(std::fabs((r - Vector3(5, 5, 0)).length() - 2.0) < 1e-12);
        QVERIFY(r.x < 5.0 && std::fabs(r.x - r.y) < 1e-15); // backwards, along the diagonal
    }

    void unitFieldGivesExactPositions()
    {
        std::unique_ptr<Volume> v(makeGrid(20, 20, [](int, int) { return uniform(1.0, 0.0); }));
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, Euler, v.get()), Vector3(5.0 + 1.55, 5, 0));
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, RungeKutta, v.get()), Vector3(5.0 + 1.55, 5, 0));
    }

    void matchesTheSampledFieldBitForBit()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("channel.gri"));
        QVERIFY(flows::write(QStringLiteral("channel"), file));
        loadLikeTheDock(file);
        QVERIFY(gridVolume && gridVolume->pointCount() > 0);
        // A spread of positions over the field, including the faded last column and row.
        int compared = 0;
        for (double x = 0.25; x < gridVolume->getDimX(); x += 13.37)
            for (double y = 0.5; y < gridVolume->getDimY(); y += 21.11)
                for (int method : {0, 1})
                    for (double dt : {1.55, -0.7, 7.5}) {
                        const Vector3 p(x, y, 0.0);
                        QCOMPARE(integrate(p, dt, method, gridVolume), referenceStep(p, dt, method, *gridVolume));
                        ++compared;
                    }
        const Vector3 edge(gridVolume->getDimX() - 0.5, gridVolume->getDimY() - 0.25, 0.0);
        QCOMPARE(integrate(edge, 1.0, Euler, gridVolume), referenceStep(edge, 1.0, Euler, *gridVolume));
        QVERIFY(compared > 1000);
    }

    void zeroFlowReturnsTheStart()
    {
        std::unique_ptr<Volume> still(makeGrid(20, 20, [](int, int) { return uniform(0, 0); }));
        const Vector3 p(3.25, 4.5, 0.0);
        QCOMPARE(integrate(p, 1.55, Euler, still.get()), p);
        QCOMPARE(integrate(p, 1.55, RungeKutta, still.get()), p);
        // Outside the field the flow is zero as well.
        std::unique_ptr<Volume> v(makeGrid(20, 20, [](int, int) { return uniform(1, 0); }));
        QCOMPARE(integrate(Vector3(-3, 4, 0), 1.55, Euler, v.get()), Vector3(-3, 4, 0));
        QCOMPARE(integrate(Vector3(20, 4, 0), 1.55, RungeKutta, v.get()), Vector3(20, 4, 0));
    }

    void rungeKuttaMidpointOutsideKeepsTheStart()
    {
        std::unique_ptr<Volume> v(makeGrid(10, 10, [](int, int) { return uniform(1, 0); }));
        // 9.5 is inside (the last column fades, the direction stays +x); the midpoint 10.275 is not.
        const Vector3 p(9.5, 5.0, 0.0);
        QCOMPARE(integrate(p, 1.55, RungeKutta, v.get()), p);
        QCOMPARE(integrate(p, 1.55, Euler, v.get()), Vector3(9.5 + 1.55, 5, 0));
    }

    void unknownMethodJumpsToOrigin()
    {
        std::unique_ptr<Volume> v(makeGrid(10, 10, [](int, int) { return uniform(1, 0); }));
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, 2, v.get()), Vector3());
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, -1, v.get()), Vector3());
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, 7, nullptr), Vector3());
    }

    void noVolumeMeansNoFlow()
    {
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, Euler, nullptr), Vector3(5, 5, 0));
        QCOMPARE(integrate(Vector3(5, 5, 0), 1.55, RungeKutta, nullptr), Vector3(5, 5, 0));
    }

    void traceEndsBeforeTheBorder()
    {
        std::unique_ptr<Volume> v(makeGrid(20, 20, [](int, int) { return uniform(1, 0); }));
        // Steps of exactly 1 from x = 10: 10, 11, ..., 19; x = 20 = dimX is outside.
        const Streamline line = traceFixedLength(Vector3(10, 5, 0), 1.0, Euler, 200, *v);
        QCOMPARE(line.size(), 10);
        QCOMPARE(line.first(), Vector3(10, 5, 0));
        QCOMPARE(line.last(), Vector3(19, 5, 0));
        for (int i = 0; i < line.size(); ++i)
            QCOMPARE(line[i].x, 10.0 + i);

        // Upwards against y = 0: y = 0 is inside, anything below is not.
        std::unique_ptr<Volume> up(makeGrid(20, 20, [](int, int) { return uniform(0, -1); }));
        const Streamline toTop = traceFixedLength(Vector3(4, 3, 0), 1.0, Euler, 200, *up);
        QCOMPARE(toTop.size(), 4);
        QCOMPARE(toTop.last(), Vector3(4, 0, 0));
        // Runge-Kutta samples its midpoint y = -0.5 outside, finds no flow and stays on the
        // border row until the step limit.
        const Streamline stuck = traceFixedLength(Vector3(4, 3, 0), 1.0, RungeKutta, 200, *up);
        QCOMPARE(stuck.size(), 200);
        QCOMPARE(stuck[3], Vector3(4, 0, 0));
        QCOMPARE(stuck.last(), Vector3(4, 0, 0));
    }

    void seedOutsideGivesAnEmptyLine()
    {
        std::unique_ptr<Volume> v(makeGrid(20, 20, [](int, int) { return uniform(1, 0); }));
        QVERIFY(traceFixedLength(Vector3(20, 5, 0), 1.0, Euler, 200, *v).isEmpty());
        QVERIFY(traceFixedLength(Vector3(-0.001, 5, 0), 1.0, Euler, 200, *v).isEmpty());
        QVERIFY(traceFixedLength(Vector3(5, 5, 1.0), 1.0, Euler, 200, *v).isEmpty());
        QVERIFY(traceFixedLength(Vector3(5, 5, 0), 1.0, Euler, 0, *v).isEmpty());
        QVERIFY(traceFixedLength(Vector3(5, 5, 0), 1.0, Euler, -4, *v).isEmpty());
    }

    void stagnationRepeatsUntilTheLimit()
    {
        // Flow towards the centre column x = 10, zero on it.
        std::unique_ptr<Volume> v(makeGrid(21, 21, [](int x, int) { return uniform(10 - x, 0); }));
        const Streamline line = traceFixedLength(Vector3(10, 7, 0), 1.55, Euler, 37, *v);
        QCOMPARE(line.size(), 37);
        for (const Vector3 &p : line)
            QCOMPARE(p, Vector3(10, 7, 0));
    }

    void lineInsideHasExactlyMaxLengthPoints()
    {
        // A vortex about the centre keeps the line well inside for 200 steps.
        std::unique_ptr<Volume> v(makeGrid(100, 100, [](int x, int y) { return uniform(-(y - 50.0), x - 50.0); }));
        for (int method : {0, 1}) {
            const Streamline line = traceFixedLength(Vector3(50, 30, 0), 1.55, method, 200, *v);
            QCOMPARE(line.size(), 200);
            QCOMPARE(line.first(), Vector3(50, 30, 0));
            // Each listed position is one step from the one before.
            for (int i = 1; i < line.size(); ++i)
                QCOMPARE(line[i], integrate(line[i - 1], 1.55, method, v.get()));
        }
    }

    void negativeDtTracesDownstream()
    {
        std::unique_ptr<Volume> v(makeGrid(50, 50, [](int x, int y) { return uniform(1.0 + 0.01 * y, 0.02 * x); }));
        for (int method : {0, 1}) {
            const Streamline forward = traceFixedLength(Vector3(3, 4, 0), 1.55, method, 60, *v);
            const Streamline backward = traceFixedLength(Vector3(3, 4, 0), -1.55, method, 60, *v);
            QCOMPARE(backward, forward);
            QVERIFY(forward.last().x > forward.first().x);
        }
    }

    void verticalFlowLeavesASingleLayer()
    {
        std::unique_ptr<Volume> v(makeGrid(20, 20, [](int, int) { return uniform(1, 0, 1); }));
        const Vector3 q = integrate(Vector3(5, 5, 0), 1.55, Euler, v.get());
        const double c = 1.55 * (1.0 / std::sqrt(2.0));
        QVERIFY(std::fabs(q.x - (5 + c)) < 1e-12 && std::fabs(q.z - c) < 1e-12);
        QCOMPARE(traceFixedLength(Vector3(5, 5, 0), 1.55, Euler, 200, *v).size(), 1);
        // A shorter step stays below z = 1 once more.
        QCOMPARE(traceFixedLength(Vector3(5, 5, 0), 0.8, Euler, 200, *v).size(), 2);
    }
};

QTEST_APPLESS_MAIN(StreamlineTraceTest)
#include "tst_streamline_trace.moc"
