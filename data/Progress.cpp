#include "Progress.h"

#include <QApplication>
#include <QProgressDialog>

namespace {
Progress::Observer *gObserver = nullptr;
int gShowDelayMs = 300;
int gEventIntervalMs = 30;
int gVisibleDialogs = 0;
} // namespace

void Progress::setObserver(Observer *observer) { gObserver = observer; }
void Progress::setShowDelayMs(int ms) { gShowDelayMs = ms; }
void Progress::setEventIntervalMs(int ms) { gEventIntervalMs = ms; }
bool Progress::dialogVisible() { return gVisibleDialogs > 0; }

Progress::Progress(const QString &label, int minimum, int maximum)
    : mLabel(label), mMinimum(minimum), mMaximum(maximum), mValue(minimum),
      mInteractive(qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr)
{
    mStarted.start();
    if (gObserver)
        gObserver->opened(label, minimum, maximum);
    if (mInteractive && gShowDelayMs <= 0)
        processEventsNow();
}

Progress::~Progress()
{
    close();
}

void Progress::setValue(int value)
{
    mValue = value;
    if (gObserver)
        gObserver->valueSet(value);
    if (mDialog)
        mDialog->setValue(value);
    keepAlive();
}

void Progress::keepAlive()
{
    if (!mInteractive || mClosed)
        return;
    if (mStarted.elapsed() - mLastEventsMs >= gEventIntervalMs)
        processEventsNow();
}

void Progress::processEventsNow()
{
    if (!mDialog && mStarted.elapsed() >= gShowDelayMs) {
        mDialog = new QProgressDialog(mLabel, QStringLiteral("Abort"), mMinimum, mMaximum, nullptr);
        mDialog->setMinimumDuration(0);
        mDialog->setAutoClose(false);
        mDialog->setAutoReset(false);
        mDialog->setValue(mValue);
        mDialog->show();
        ++gVisibleDialogs;
    }
    QCoreApplication::processEvents();
    mLastEventsMs = mStarted.elapsed();
}

void Progress::close()
{
    if (mClosed)
        return;
    mClosed = true;
    if (mDialog) {
        mDialog->close();
        delete mDialog;
        mDialog = nullptr;
        --gVisibleDialogs;
    }
    if (gObserver)
        gObserver->closed();
}
