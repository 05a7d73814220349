#pragma once

#include <QElapsedTimer>
#include <QString>

class QProgressDialog;

// Progress of a long computation on the GUI thread, shown as a non-modal "Abort" dialog
// that is never consulted: the work always runs to its end.
//
// The dialog appears only once the work has run longer than showDelayMs (work that would
// only flash it shows nothing), and pending events are processed every eventIntervalMs so
// the window stays live. Without a QApplication (tools, benchmarks) nothing is shown and no
// events are processed. Anything that can run while events are processed must respect Busy.
class Progress
{
public:
    Progress(const QString &label, int minimum, int maximum);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void setValue(int value);
    // Processes pending events now if the last time was longer ago than the interval.
    void keepAlive();
    void close();

    // Hooks for tests: every dialog's label, range and values are reported here.
    struct Observer
    {
        virtual ~Observer() = default;
        virtual void opened(const QString &label, int minimum, int maximum) = 0;
        virtual void valueSet(int value) = 0;
        virtual void closed() = 0;
    };
    static void setObserver(Observer *observer);
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
