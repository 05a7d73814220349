#include "data/ui/Busy.h"

#include <QMetaObject>
#include <QPointer>

#include <deque>

namespace {
struct Deferred
{
    QPointer<QObject> receiver;
    const QObject *key; // the receiver as it was given: a gone receiver still holds its place
    Busy::Kind kind;
    std::function<void()> fn;
};
std::deque<Deferred> gQueue;
} // namespace

Busy *Busy::instance()
{
    static Busy *busy = new Busy; // lives as long as the process: slots may run at exit
    return busy;
}

bool Busy::isBusy()
{
    return instance()->mDepth > 0;
}

int Busy::pendingCount()
{
    return static_cast<int>(gQueue.size());
}

void Busy::whenIdle(QObject *receiver, Kind kind, std::function<void()> fn)
{
    if (!isBusy() && gQueue.empty()) {
        fn();
        return;
    }
    for (Deferred &d : gQueue) {
        if (d.key == receiver && d.kind == kind) {
            d.receiver = receiver;
            d.fn = std::move(fn);
            return;
        }
    }
    gQueue.push_back({receiver, receiver, kind, std::move(fn)});
    if (!isBusy())
        instance()->scheduleDrain();
}

Busy::Scope::Scope()
{
    Busy *b = instance();
    if (b->mDepth++ == 0)
        emit b->busyChanged(true);
}

Busy::Scope::~Scope()
{
    instance()->leave();
}

void Busy::leave()
{
    if (--mDepth > 0)
        return;
    emit busyChanged(false);
    if (!gQueue.empty())
        scheduleDrain();
}

void Busy::scheduleDrain()
{
    if (mDrainScheduled)
        return;
    mDrainScheduled = true;
    QMetaObject::invokeMethod(this, &Busy::drainOne, Qt::QueuedConnection);
}

void Busy::drainOne()
{
    mDrainScheduled = false;
    // Busy again (the invocation was delivered by a computation processing events): the
    // end of that computation schedules the next turn.
    if (isBusy() || gQueue.empty())
        return;
    Deferred next = std::move(gQueue.front());
    gQueue.pop_front();
    if (next.receiver)
        next.fn();
    if (!gQueue.empty() && !isBusy())
        scheduleDrain();
}
