#include "streamlines/EvenlySpacedTrace.h"

#include "streamlines/Integrate.h"
#include "streamlines/SeparationTest.h"

#include <algorithm>
#include <cmath>

using seedingMath::samePosition;

namespace {

// The separation test of a trace's steps with fewer full tests, and the same answers. A test
// that finds every stored point at least D away from q also clears the points that follow q,
// as long as the path walked since q stays below D - minDistance (the triangle inequality);
// every step's length is bounded, so no assumption on the step is made. Margins of kStep keep
// rounding on the safe side. Where the clearance is too small to cover a step, the plain test
// is used for a while (first for 2 steps, doubling up to 64 while it does not pay). A
// clearance looks no further than `radius`: a step and a quarter (or the test distance)
// beyond the test distance, where a wider look cost more than the steps it saved on the
// benchmark fields.
class StepTest
{
public:
    StepTest(const SeparationTest &test, const HalfTraceSettings &s, double dt, bool knownStep)
        : mTest(test), mMinDistance(s.minDistance), mDSep(s.dSep), mDt(std::fabs(dt)), mKnownStep(knownStep),
          mRadius(double(s.minDistance) + std::max(double(s.minDistance), 1.25 * std::fabs(dt))),
          mStepBound(std::fabs(dt) * (1.0 + kE))
    {
    }

    // Whether q, one step from p, lies closer than the test distance to a stored point of the
    // 3 x 3 cells around it. q lies inside the field.
    bool tooClose(const Vector3 &p, const Vector3 &q)
    {
        // Euler and Runge-Kutta steps move by |dt| along a unit (or zero) direction, up to
        // the rounding of the sum; other method codes jump anywhere, so they are measured.
        double moved = mStepBound;
        if (!mKnownStep) {
            const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
            moved = std::sqrt(dx * dx + dy * dy + dz * dz) * (1.0 + kE);
        }
        mSlack -= moved + kE * (std::fabs(q.x) + std::fabs(q.y) + std::fabs(q.z));
        if (mSlack >= 0.0)
            return false;
        if (mPlainTests > 0) {
            --mPlainTests;
            return mTest.mayHaveCloser(q, mMinDistance) && mTest.closerPoint(q.x, q.y, q.z, mMinDistance) >= 0;
        }
        const double d = mTest.clearance(q, mMinDistance, mRadius);
        if (d < 0.0 && mTest.closerPoint(q.x, q.y, q.z, mMinDistance) >= 0)
            return true;
        const double m = mMinDistance;
        mSlack = d * (1.0 - kE) - m * (1.0 + kE) - kE * (std::fabs(q.x) + std::fabs(q.y) + mDSep);
        // Crowded surroundings: back off, longer each time it does not pay.
        if (mSlack < mDt) {
            mPlainTests = mBackOff;
            mBackOff = std::min(2 * mBackOff, 64);
        } else {
            mBackOff = 2;
        }
        return false;
    }

private:
    static constexpr double kE = seedingMargins::kStep;
    const SeparationTest &mTest;
    const float mMinDistance;
    const double mDSep;
    const double mDt;
    const bool mKnownStep;
    const double mRadius;
    const double mStepBound;
    double mSlack = -1.0; // path left that the last clearance covers; below 0: test again
    int mPlainTests = 0;
    int mBackOff = 2;
};

} // namespace

void traceHalf(const Volume &field, const SeparationTest &test, const HalfTraceSettings &s, const Vector3 &seed,
               double dt, std::vector<Vector3> &out)
{
    out.clear();
    const bool knownStep = s.method == Euler || s.method == RungeKutta;
    const bool rungeKutta = s.method == RungeKutta;
    StepTest stepTest(test, s, dt, knownStep);
    // p is inside throughout: the seed was checked by the caller, every later p passed the
    // inside test below.
    Vector3 p = seed;
    for (int step = 0; step < s.maxSteps; ++step) {
        const Vector3 q = knownStep ? integration::step(p, dt, rungeKutta, field, true) : integrate(p, dt, s.method, &field);
        if (!field.isInside(q.x, q.y, q.z) || (s.stopAtRest && q.x == p.x && q.y == p.y && q.z == p.z))
            break;
        // Lines bend slowly, so the step five ahead starts near q + 5 (q - p): its field
        // samples are fetched now. On a field larger than the caches a sample otherwise waits
        // for main memory (about a third of the time per point on a 1000 x 1000 field).
        integration::prefetchSample(field, q.x + 5.0 * (q.x - p.x), q.y + 5.0 * (q.y - p.y), q.z + 5.0 * (q.z - p.z));
        if (stepTest.tooClose(p, q))
            break;
        out.push_back(q);
        // A step that does not move: every later step starts from the same position in the
        // same grid, so it lands there again and passes the same test. The rest of the half
        // is that point.
        if (samePosition(p, q)) {
            out.insert(out.end(), size_t(s.maxSteps - step - 1), q);
            return;
        }
        p = q;
    }
}
