#include "hostkit/host_bridge.h"

#include <chrono>

namespace hostkit {

HostBridge::HostBridge() : mainThread_(std::this_thread::get_id()) {
    control_.version = HOST_LIST_CONTROL_VERSION;
    control_.host = this;
    control_.synchronize = &HostBridge::Synchronize;
    control_.checkSynchronize = &HostBridge::CheckSynchronize;
    control_.insertLine = &HostBridge::InsertLine;
    control_.startFailed = &HostBridge::StartFailedCb;
}

void HostBridge::Synchronize(void* host, void (*method)(void*), void* data) {
    auto* self = static_cast<HostBridge*>(host);
    if (std::this_thread::get_id() == self->mainThread_) {
        method(data);  // already on the main thread: nothing to hand over
        return;
    }
    Request request{method, data};
    {
        std::lock_guard lock(self->mutex_);
        self->queue_.push_back(&request);
    }
    // Woken after the lock is free, the main thread does not have to wait for it again.
    self->requestPosted_.notify_one();
    if (self->doorbell_ != nullptr) self->doorbell_->Ring();
    std::unique_lock lock(self->mutex_);
    self->requestDone_.wait(lock, [&] { return request.done; });
}

int HostBridge::Pump(int timeoutMs) {
    int ran = 0;
    {
        std::unique_lock lock(mutex_);
        if (queue_.empty() && timeoutMs > 0) {
            requestPosted_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return !queue_.empty(); });
        }
        while (!queue_.empty()) {
            Request* request = queue_.front();
            queue_.pop_front();
            lock.unlock();
            request->method(request->data);
            lock.lock();
            request->done = true;
            ++ran;
        }
    }
    // After the unlock, for the same reason; a waiting thread finds its request done.
    if (ran > 0) requestDone_.notify_all();
    return ran;
}

int HostBridge::CheckSynchronize(void* host, int timeoutMs) {
    return static_cast<HostBridge*>(host)->Pump(timeoutMs);
}

void HostBridge::InsertLine(void* host, const char* line, size_t length) {
    auto* self = static_cast<HostBridge*>(host);
    if (std::this_thread::get_id() != self->mainThread_) ++self->wrongThreadInserts_;
    std::string text(line, length);
    self->lines_.insert(self->lines_.begin(), text);
    if (self->OnLine) self->OnLine(text);
}

void HostBridge::StartFailedCb(void* host, const char* message) {
    auto* self = static_cast<HostBridge*>(host);
    self->startFailed_ = true;
    self->startFailure_ = message != nullptr ? message : "";
}

}  // namespace hostkit
