#include "data/Progress.h"

namespace {
Progress::Observer *gObserver = nullptr;
Progress::DisplayFactory gFactory = nullptr;
} // namespace

void Progress::setObserver(Observer *observer) { gObserver = observer; }
void Progress::setDisplayFactory(DisplayFactory factory) { gFactory = factory; }

Progress::Progress(const QString &label, int minimum, int maximum)
{
    if (gObserver)
        gObserver->opened(label, minimum, maximum);
    if (gFactory)
        mDisplay = gFactory(label, minimum, maximum);
}

Progress::~Progress()
{
    close();
}

void Progress::setValue(int value)
{
    if (gObserver)
        gObserver->valueSet(value);
    if (mDisplay && !mClosed)
        mDisplay->setValue(value);
}

void Progress::keepAlive()
{
    if (mDisplay && !mClosed)
        mDisplay->keepAlive();
}

void Progress::close()
{
    if (mClosed)
        return;
    mClosed = true;
    if (mDisplay)
        mDisplay->close();
    if (gObserver)
        gObserver->closed();
}

bool Progress::stopRequested() const
{
    return mDisplay && mDisplay->stopRequested();
}
