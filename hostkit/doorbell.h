// Doorbell: lets one thread wait for work from several HostBridges at once. Each bridge rings it
// when a synchronize request arrives; the main thread takes the count, services every bridge,
// and then waits only if nothing rang since it took the count. This is how rankcheck serves two
// plug-ins running at the same time on its one main thread without polling either.
//
// Owned by the host (in rankcheck, the run); Ring from any thread, Count and WaitSince on the
// main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace hostkit {

class Doorbell {
  public:
    void Ring() {
        {
            std::lock_guard lock(mutex_);
            ++rings_;
        }
        rung_.notify_all();
    }
    uint64_t Count() {
        std::lock_guard lock(mutex_);
        return rings_;
    }
    // Waits up to `timeoutMs` for a ring after `count` was taken; returns at once if one came.
    void WaitSince(uint64_t count, int timeoutMs) {
        std::unique_lock lock(mutex_);
        rung_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return rings_ != count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable rung_;
    uint64_t rings_ = 0;
};

}  // namespace hostkit
