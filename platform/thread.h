// TThread: the framework's worker thread. A TThread is created suspended; Resume starts it, and
// it runs Execute exactly once. Synchronize hands a method to the thread's TSyncTarget (the host's
// main thread) and returns after it has run there.
//
// Ownership: whoever created the object destroys it (no free-on-terminate). The destructor waits
// for a running thread to end. When it is called on the host's main thread while the thread may
// still need that thread (a status line pending), it keeps running the thread's requests through
// the target's CheckSynchronize, so that the wait cannot deadlock.
//
// Threads: construction, Resume, SetPriority and destruction on the host's main thread; Execute
// and Synchronize on the worker thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/sync_target.h"

enum class TThreadPriority {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

class TThread {
  public:
    // The timer slack of the thread (how late the system may end its sleeps to group wake-ups),
    // set when it starts: 1 ns, the least there is, instead of the default 50 us.
    static constexpr unsigned long kTimerSlackNs = 1;

    // Creates the thread suspended: it starts with Resume, once the derived object is complete.
    // `syncTarget` is the thread that runs Synchronize requests; it may be null for a thread that
    // never synchronizes.
    explicit TThread(TSyncTarget* syncTarget) : syncTarget_(syncTarget) {}
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread (once; later calls do nothing). Raises EThread when the system cannot
    // start it; the object is then as before, never started, and may be destroyed at once.
    void Resume();
    // Best effort: the priority is applied when the thread starts (a lower one raises the
    // thread's nice value); a failure to apply it is ignored.
    void SetPriority(TThreadPriority priority) { priority_ = priority; }
    TThreadPriority Priority() const { return priority_; }
    // Waits for a started thread to end, running its Synchronize requests meanwhile.
    void WaitFor();

  protected:
    virtual void Execute() = 0;
    // Worker thread: runs `method` on the target's thread and returns after it has run there.
    // Exceptions thrown by `method` are carried back and rethrown here.
    void Synchronize(const std::function<void()>& method);
    // Resume: starts the system thread that runs `body`; raises std::system_error as std::thread
    // does. Overridden only to make a start fail on purpose.
    virtual std::thread StartThread(std::function<void()> body);

  private:
    void ThreadMain();

    TSyncTarget* syncTarget_;
    TThreadPriority priority_ = TThreadPriority::tpNormal;
    std::thread thread_;
    bool started_ = false;
    std::atomic<bool> ended_{false};
};
