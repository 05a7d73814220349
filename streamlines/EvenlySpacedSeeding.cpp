// Placeholder: the evenly spaced computation is not there yet; runs end with empty lists.
#include "EvenlySpacedSeeding.h"

EvenlySpacedSeeding::EvenlySpacedSeeding(QVector<Vector3> &seedPoints, QVector<Streamline> &evenLines)
    : mSeedPoints(seedPoints), mEvenLines(evenLines)
{
}

void EvenlySpacedSeeding::reset(const Parameters &parameters)
{
    mParameters = parameters;
    mQueue.clear();
    mPoints.clear();
    mGridWidth = static_cast<float>(parameters.viewWidth * (1.0 / parameters.dSep) + 1);
    mGridHeight = static_cast<float>(parameters.viewHeight * (1.0 / parameters.dSep) + 1);
}

void EvenlySpacedSeeding::run(const Volume *grid)
{
    mVolume = grid;
}

bool EvenlySpacedSeeding::isValidPoint(double, double, double, float) const { return false; }
Streamline EvenlySpacedSeeding::traceStreamline(Vector3 seed) { return Streamline{seed}; }
Vector3 EvenlySpacedSeeding::findSeedPoint(Streamline) { return Vector3(-1.0, -1.0, -1.0); }
