#include "data/ui/ProgressDialog.h"

#include <QApplication>
#include <QProgressDialog>

namespace {
int gShowDelayMs = 300;
int gEventIntervalMs = 30;
int gVisibleDialogs = 0;

std::unique_ptr<Progress::Display> makeDialog(const QString &label, int minimum, int maximum)
{
    return std::make_unique<ProgressDialog>(label, minimum, maximum);
}
} // namespace

void ProgressDialog::install() { Progress::setDisplayFactory(&makeDialog); }
void ProgressDialog::setShowDelayMs(int ms) { gShowDelayMs = ms; }
void ProgressDialog::setEventIntervalMs(int ms) { gEventIntervalMs = ms; }
bool ProgressDialog::dialogVisible() { return gVisibleDialogs > 0; }

ProgressDialog::ProgressDialog(const QString &label, int minimum, int maximum)
    : mLabel(label), mMinimum(minimum), mMaximum(maximum), mValue(minimum),
      mInteractive(qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr)
{
    mStarted.start();
    if (mInteractive && gShowDelayMs <= 0)
        processEventsNow();
}

ProgressDialog::~ProgressDialog()
{
    close();
}

void ProgressDialog::setValue(int value)
{
    mValue = value;
    if (mDialog)
        mDialog->setValue(value);
    keepAlive();
}

void ProgressDialog::keepAlive()
{
    if (!mInteractive || mClosed)
        return;
    if (mStarted.elapsed() - mLastEventsMs >= gEventIntervalMs)
        processEventsNow();
}

void ProgressDialog::processEventsNow()
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

void ProgressDialog::close()
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
}
