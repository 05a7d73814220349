#pragma once

#include <QObject>

#include <functional>

// The one re-entrancy guard of the program. Loading, resampling and the views' renderings
// hold a Busy::Scope while they run; because they process pending events, other slots can
// run in the middle of them. Such a slot must not start a computation or read the volumes:
// it hands its work to whenIdle() instead.
//
// Deferred work waits in one queue, keyed by receiver and kind of request: a newer request
// with the same key replaces the queued one (it keeps its place in the queue), so only the
// latest request of each key runs. The queue drains from the event loop, one request per
// queued invocation and only while nothing is busy, never from inside a scope's end: a
// deferred request that processes events sees later input queued behind it instead of
// running it nested, so the stack stays flat however long the input goes on.
class Busy : public QObject
{
    Q_OBJECT
public:
    // Kinds of deferred request; one receiver may have one of each waiting.
    enum Kind { Render, Seeding, Report };

    static Busy *instance();
    static bool isBusy();

    // Runs fn at once when nothing is busy and nothing is waiting; otherwise queues it under
    // (receiver, kind), replacing a request with that key. Dropped if the receiver is gone
    // by the time its turn comes.
    static void whenIdle(QObject *receiver, Kind kind, std::function<void()> fn);
    static void whenIdle(QObject *receiver, std::function<void()> fn) { whenIdle(receiver, Render, std::move(fn)); }
    // Requests waiting to run.
    static int pendingCount();

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
    void scheduleDrain();
    void drainOne();
    int mDepth = 0;
    bool mDrainScheduled = false;
};
