#pragma once

#include <QString>

#include <memory>

// Progress of a long computation, free of any window: the computation reports its label,
// range and values here and may ask whether to stop. What the user sees is up to the
// installed ProgressDisplay (the interface installs progress dialogs; without one, as in
// tools and benchmarks, nothing is shown and the work is never asked to stop).
class Progress
{
public:
    // One shown progress: the interface's side of a Progress.
    class Display
    {
    public:
        virtual ~Display() = default;
        virtual void setValue(int value) = 0;
        // Called often during long steps without a new value: a chance to keep a window live.
        virtual void keepAlive() = 0;
        virtual void close() = 0;
        // True once the user asked to stop. The computations of this program always run
        // to their end and do not consult it today; it is here for callers that may.
        virtual bool stopRequested() const { return false; }
    };
    // Makes the display of each new Progress.
    using DisplayFactory = std::unique_ptr<Display> (*)(const QString &label, int minimum, int maximum);
    static void setDisplayFactory(DisplayFactory factory);

    Progress(const QString &label, int minimum, int maximum);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void setValue(int value);
    void keepAlive();
    void close();
    bool stopRequested() const;

    // Hooks for tests: every progress's label, range and values are reported here.
    struct Observer
    {
        virtual ~Observer() = default;
        virtual void opened(const QString &label, int minimum, int maximum) = 0;
        virtual void valueSet(int value) = 0;
        virtual void closed() = 0;
    };
    static void setObserver(Observer *observer);

private:
    std::unique_ptr<Display> mDisplay;
    bool mClosed = false;
};
