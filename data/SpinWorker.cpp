#include "SpinWorker.h"

#include <chrono>
#include <system_error>

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

// How long the worker spins for the next task before it sleeps: longer than the owner's
// work between two tasks (the seed search and the filing of a line, up to some hundred
// microseconds on dense fields), short enough to be unnoticeable once a computation ends.
constexpr std::chrono::microseconds kSpinTime(500);

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

} // namespace

SpinWorker::~SpinWorker()
{
    if (!mThread.joinable())
        return;
    idle();
    post(kQuit);
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

void SpinWorker::post(State state)
{
    // Sequentially consistent, as the worker's side: either it sees the new state before it
    // sleeps, or this sees it asleep and wakes it (under the mutex, so not before it waits).
    mState.store(state);
    if (mAsleep.load()) {
        std::lock_guard<std::mutex> lock(mMutex);
        mWake.notify_one();
    }
}

void SpinWorker::idle()
{
    for (unsigned turns = 0; mState.load(std::memory_order_acquire) == kPosted; ++turns) {
        if (turns < 4096)
            pause();
        else
            std::this_thread::yield();
    }
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
        int state = mState.load(std::memory_order_acquire);
        const auto until = std::chrono::steady_clock::now() + kSpinTime;
        for (unsigned turns = 1; state == kIdle; ++turns) {
            pause();
            if (turns % 64 == 0 && std::chrono::steady_clock::now() > until) {
                std::unique_lock<std::mutex> lock(mMutex);
                mAsleep.store(true);
                while ((state = mState.load()) == kIdle)
                    mWake.wait(lock);
                mAsleep.store(false);
                break;
            }
            state = mState.load(std::memory_order_acquire);
        }
        if (state == kQuit)
            return;
        try {
            mCall(mTask);
        } catch (...) {
            mError = std::current_exception();
        }
        mState.store(kIdle, std::memory_order_release);
    }
}
