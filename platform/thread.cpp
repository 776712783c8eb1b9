#include "platform/thread.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exception>
#include <system_error>
#include <utility>

#include "platform/exceptions.h"

namespace {

// Nice value offsets for the framework's seven levels; only lowering is ever attempted, since
// raising a priority needs privileges a plug-in does not have.
int NiceFor(TThreadPriority p) {
    switch (p) {
        case TThreadPriority::tpIdle:
            return 19;
        case TThreadPriority::tpLowest:
            return 10;
        case TThreadPriority::tpLower:
            return 5;
        default:
            return 0;
    }
}

}  // namespace

TThread::~TThread() {
    WaitFor();
}

void TThread::Resume() {
    if (started_) return;
    try {
        thread_ = StartThread([this] { ThreadMain(); });
    } catch (const std::system_error& e) {
        throw EThread(std::string("cannot start a thread: ") + e.what());
    }
    started_ = true;
}

std::thread TThread::StartThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

void TThread::ThreadMain() {
    // Timers of this thread end as close to their time as the system can manage. The default
    // slack of 50 us may add that much to every pause, and a job pauses 1 ms per result link:
    // 5% more on every page. Best effort, like the priority.
    ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
    const int nice = NiceFor(priority_);
    if (nice > 0) {
        const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0 && current < nice) ::setpriority(PRIO_PROCESS, tid, nice);
    }
    Execute();
    ended_.store(true);
}

void TThread::WaitFor() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // a thread cannot wait for itself
        return;
    }
    // The worker may be blocked in Synchronize, waiting for this very thread: keep running its
    // requests until it has ended.
    if (syncTarget_ != nullptr) {
        while (!ended_.load()) {
            if (syncTarget_->CheckSynchronize(10) < 0) break;  // the target cannot: just join
        }
    }
    thread_.join();
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (syncTarget_ == nullptr) throw Exception("no host to synchronize with");
    // The target's thread must not see an exception: it is caught there and raised again here.
    std::exception_ptr error;
    syncTarget_->RunSynchronized([&] {
        try {
            method();
        } catch (...) {
            error = std::current_exception();
        }
    });
    if (error) std::rethrow_exception(error);
}
