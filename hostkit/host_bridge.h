// HostBridge: a ready-made host side of plugin/host_list_control.h for hosts written in C++
// (rankcheck, the tests, the benchmarks). Owned by the host, one per plug-in run under way. It
// holds the host's line list (newest line first, as a list control shows it) and a queue of
// synchronize requests that the host's main thread services with Pump. One bridge serves one
// plug-in run at a time.
//
// Threads: the bridge's owner thread is its main thread (the thread that constructed it, or
// the one named by SetMainThread). Pump, Lines and the start-failure accessors belong to that
// thread; synchronize may be called from any other thread and blocks until the main thread has
// run the request. insertLine checks that it runs on the main thread and counts violations.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/doorbell.h"
#include "plugin/host_list_control.h"

namespace hostkit {

class HostBridge {
  public:
    HostBridge();
    ~HostBridge() = default;
    HostBridge(const HostBridge&) = delete;
    HostBridge& operator=(const HostBridge&) = delete;

    // The control to pass as the start export's fifth argument; valid while the bridge lives.
    const HostListControl* Control() const { return &control_; }
    HostListControl* MutableControl() { return &control_; }

    // Main thread: runs pending synchronize requests, waiting up to timeoutMs for the first one
    // (0: only what is pending); returns how many ran.
    int Pump(int timeoutMs);

    // Called on the main thread, inside insertLine, with each new line (for live output).
    std::function<void(const std::string& line)> OnLine;

    // Main thread: the host's list, index 0 = newest line.
    const std::vector<std::string>& Lines() const { return lines_; }
    void ClearLines() { lines_.clear(); }
    // Main thread: the message of the last startFailed call, and whether there was one.
    bool StartFailed() const { return startFailed_; }
    const std::string& StartFailure() const { return startFailure_; }
    void ResetStartFailure() {
        startFailed_ = false;
        startFailure_.clear();
    }
    // insertLine calls made on a thread other than the main thread (should stay 0).
    int WrongThreadInserts() const { return wrongThreadInserts_.load(); }
    void SetMainThread(std::thread::id id) { mainThread_ = id; }
    // Rung (from the plug-in's thread) with every synchronize request, besides the bridge's own
    // wake-up; set before the plug-in starts. Null: none.
    void SetDoorbell(Doorbell* doorbell) { doorbell_ = doorbell; }

  private:
    struct Request {
        void (*method)(void*);
        void* data;
        bool done = false;
    };

    static void Synchronize(void* host, void (*method)(void*), void* data);
    static int CheckSynchronize(void* host, int timeoutMs);
    static void InsertLine(void* host, const char* line, size_t length);
    static void StartFailedCb(void* host, const char* message);

    HostListControl control_;
    std::thread::id mainThread_;

    std::mutex mutex_;
    std::condition_variable requestPosted_;
    std::condition_variable requestDone_;
    std::deque<Request*> queue_;

    std::vector<std::string> lines_;
    bool startFailed_ = false;
    std::string startFailure_;
    std::atomic<int> wrongThreadInserts_{0};
    Doorbell* doorbell_ = nullptr;
};

}  // namespace hostkit
