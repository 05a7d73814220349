#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

// A second thread that runs one task at a time beside its owner, for computations split into
// parts of some tens of microseconds and up (the bands of a resampling). Either side waits for the other spinning for a short while, so a hand-over
// within a busy computation costs well under a microsecond; then it sleeps until woken. The
// sleep matters on a busy machine, where a thread spinning for one that is not running would
// take its core from it.
// Starting a thread per computation would not do: in a virtual machine that costs up to a
// few milliseconds.
class SpinWorker
{
public:
    SpinWorker() = default;
    ~SpinWorker();
    SpinWorker(const SpinWorker &) = delete;
    SpinWorker &operator=(const SpinWorker &) = delete;

    // Starts the thread unless it runs; false when the process may use only one core or no
    // thread can be had (the owner then does the work itself).
    bool ready();

    // Starts task() on the worker (after ready() said true). The task and what it reads must
    // stay as they are until wait() returns; one task at a time.
    template <typename Task>
    void start(Task &task)
    {
        mCall = [](void *t) { (*static_cast<Task *>(t))(); };
        mTask = &task;
        set(kPosted);
    }
    // Waits for the task started last; rethrows what it threw.
    void wait();
    // beside() on the worker while own() runs here; returns when both are done, also when
    // own() throws (beside() may read the caller's frame). Rethrows what either threw.
    template <typename Beside, typename Own>
    void together(Beside &beside, Own &&own)
    {
        start(beside);
        try {
            own();
        } catch (...) {
            idle();
            mError = nullptr;
            throw;
        }
        wait();
    }

private:
    enum State { kIdle, kPosted, kRunning, kQuit };
    // A new state, waking whoever sleeps on it.
    void set(State state);
    // Until the state is none of `from` and `also`: spinning for a while, then asleep.
    int await(int from, int also);
    void idle() { await(kPosted, kRunning); } // until no task runs
    void loop();

    // On a cache line of its own: both threads poll it while they wait.
    alignas(64) std::atomic<int> mState{kIdle};
    alignas(64) std::atomic<int> mSleepers{0};
    std::mutex mMutex; // with mWake: the sleeps
    std::condition_variable mWake;
    void (*mCall)(void *) = nullptr;
    void *mTask = nullptr;
    std::exception_ptr mError;
    std::thread mThread;
    bool mUnavailable = false;
};
