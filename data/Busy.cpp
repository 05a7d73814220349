#include "Busy.h"

#include <QMetaObject>
#include <QPointer>

#include <vector>

namespace {
struct Deferred
{
    QPointer<QObject> receiver;
    std::function<void()> fn;
};
std::vector<Deferred> gDeferred;
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

void Busy::whenIdle(QObject *receiver, std::function<void()> fn)
{
    if (!isBusy()) {
        fn();
        return;
    }
    for (Deferred &d : gDeferred) {
        if (d.receiver == receiver) {
            d.fn = std::move(fn);
            return;
        }
    }
    gDeferred.push_back({receiver, std::move(fn)});
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
    // Deferred work may itself go busy and defer more: run what is queued now, in order,
    // and stop as soon as one of them leaves the program busy again.
    std::vector<Deferred> pending;
    pending.swap(gDeferred);
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (isBusy()) {
            gDeferred.insert(gDeferred.begin(), pending.begin() + static_cast<long>(i), pending.end());
            return;
        }
        if (pending[i].receiver)
            pending[i].fn();
    }
}
