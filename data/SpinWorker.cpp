#include "data/SpinWorker.h"

#include <chrono>
#include <system_error>

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

// One turn of a wait: a pause instruction, which keeps a spinning core from flooding the
// memory system with loads and lets a sibling hardware thread run.
inline void pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The cores this process may run on: a process confined to one core (taskset, a container's
// CPU set) would have its two threads take turns, each spinning away the other's time.
unsigned usableCores()
{
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return unsigned(CPU_COUNT(&set));
#endif
    return std::thread::hardware_concurrency();
}

// How long a wait spins before it sleeps: for a task that runs on the other core, and for
// anything else (a task not yet taken up, the worker's wait for the next task). The second
// is longer than the owner's work between two tasks of a busy computation.
constexpr std::chrono::microseconds kRunningSpin(400);
constexpr std::chrono::microseconds kWaitingSpin(100);

} // namespace

SpinWorker::~SpinWorker()
{
    if (!mThread.joinable())
        return;
    idle();
    set(kQuit);
    mThread.join();
}

bool SpinWorker::ready()
{
    if (mThread.joinable())
        return true;
    if (mUnavailable || usableCores() < 2) {
        mUnavailable = true;
        return false;
    }
    try {
        mThread = std::thread([this] { loop(); });
    } catch (const std::system_error &) {
        mUnavailable = true;
    }
    return mThread.joinable();
}

void SpinWorker::set(State state)
{
    // Sequentially consistent, as the sleeper's side in await(): either the sleeper sees the
    // new state before it sleeps, or this sees it counted and wakes it (under the mutex, so
    // not before it waits).
    mState.store(state);
    if (mSleepers.load() > 0) {
        std::lock_guard<std::mutex> lock(mMutex);
        mWake.notify_all();
    }
}

int SpinWorker::await(int from, int also)
{
    int state = mState.load(std::memory_order_acquire);
    if (state != from && state != also)
        return state;
    // The spin's length: a task running on the other core ends within some hundred
    // microseconds; one posted but not yet taken up, or none at all, may take much longer
    // (the worker asleep, or not given a core on a busy machine), and this core may be
    // wanted by it.
    const auto start = std::chrono::steady_clock::now();
    for (unsigned turns = 1;; ++turns) {
        pause();
        state = mState.load(std::memory_order_acquire);
        if (state != from && state != also)
            return state;
        if (turns % 64 == 0) {
            const auto spun = std::chrono::steady_clock::now() - start;
            if (spun > (state == kRunning ? kRunningSpin : kWaitingSpin))
                break;
        }
    }
    std::unique_lock<std::mutex> lock(mMutex);
    mSleepers.fetch_add(1);
    while ((state = mState.load()) == from || state == also)
        mWake.wait(lock);
    mSleepers.fetch_sub(1);
    return state;
}

void SpinWorker::wait()
{
    idle();
    if (mError) {
        std::exception_ptr error = std::move(mError);
        mError = nullptr;
        std::rethrow_exception(error);
    }
}

void SpinWorker::loop()
{
    for (;;) {
        if (await(kIdle, kIdle) == kQuit)
            return;
        mState.store(kRunning, std::memory_order_relaxed);
        try {
            mCall(mTask);
        } catch (...) {
            mError = std::current_exception();
        }
        set(kIdle);
    }
}
