// TSyncTarget: the thread that a TThread hands work to with Synchronize; in the plug-ins, the
// host's main thread. A worker thread calls RunSynchronized and is blocked until the method has
// run on that thread. When that thread itself waits for a worker (TThread::WaitFor), it calls
// CheckSynchronize to keep running the worker's requests, so that the wait cannot deadlock.
//
// Ownership: whoever creates a TThread provides its target and keeps it alive for as long as the
// thread object lives. The target knows nothing of threads' objects; it only runs methods.
//
// Threads: RunSynchronized on worker threads (any number at once); CheckSynchronize on the
// target's own thread only.
#pragma once

#include <functional>

class TSyncTarget {
  public:
    virtual ~TSyncTarget() = default;

    // Worker thread: runs `method` on the target's thread and returns after it has returned
    // there. `method` does not throw (TThread::Synchronize catches on the target's thread and
    // carries the exception back). Raises Exception when the target cannot run methods at all.
    virtual void RunSynchronized(const std::function<void()>& method) = 0;

    // Target's thread: runs the requests pending, waiting up to `timeoutMs` for the first one
    // (0: only what is pending), and returns how many ran; -1 when this target cannot run them
    // from inside a wait, in which case a waiting TThread simply joins its thread.
    virtual int CheckSynchronize(int timeoutMs) = 0;
};
