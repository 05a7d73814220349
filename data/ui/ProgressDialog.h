#pragma once

#include "data/Progress.h"

#include <QElapsedTimer>
#include <QString>

class QProgressDialog;

// The interface's display of a Progress: a non-modal "Abort" dialog on the GUI thread that
// is never consulted (the work always runs to its end).
//
// The dialog appears only once the work has run longer than showDelayMs (work that would
// only flash it shows nothing), and pending events are processed every eventIntervalMs so
// the window stays live. Without a QApplication nothing is shown and no events are
// processed. Anything that can run while events are processed must respect Busy.
class ProgressDialog : public Progress::Display
{
public:
    // Makes every later Progress show through a ProgressDialog. The application and the
    // interface tests call it once at start.
    static void install();

    ProgressDialog(const QString &label, int minimum, int maximum);
    ~ProgressDialog() override;

    void setValue(int value) override;
    // Processes pending events now if the last time was longer ago than the interval.
    void keepAlive() override;
    void close() override;

    static void setShowDelayMs(int ms);
    static void setEventIntervalMs(int ms);
    static bool dialogVisible(); // true while any progress dialog is on screen

private:
    void processEventsNow();

    QString mLabel;
    int mMinimum;
    int mMaximum;
    int mValue;
    bool mInteractive;
    bool mClosed = false;
    QElapsedTimer mStarted;
    qint64 mLastEventsMs = 0;
    QProgressDialog *mDialog = nullptr;
};
