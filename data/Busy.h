#pragma once

#include <QObject>

#include <functional>

// The one re-entrancy guard of the program. Loading, resampling and the views' renderings
// hold a Busy::Scope while they run; because they process pending events, other slots can
// run in the middle of them. Such a slot must not start a computation or read the volumes:
// it asks Busy::isBusy() and, when busy, hands its work to whenIdle(), which runs it once the
// last scope has ended (later requests from the same receiver replace earlier ones).
class Busy : public QObject
{
    Q_OBJECT
public:
    static Busy *instance();
    static bool isBusy();

    // Runs fn at once when idle; otherwise once, after the busy period, unless the receiver
    // is gone by then.
    static void whenIdle(QObject *receiver, std::function<void()> fn);

    class Scope
    {
    public:
        Scope();
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
    };

signals:
    void busyChanged(bool busy);

private:
    Busy() = default;
    void leave();
    int mDepth = 0;
};
