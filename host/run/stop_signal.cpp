#include "host/run/stop_signal.h"

#include <unistd.h>

#include <atomic>

namespace rankcheck {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> stopSignals{0};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free count");

void OnStopSignal(int number) {
    int none = 0;
    firstSignal.compare_exchange_strong(none, number);
    if (stopSignals.fetch_add(1) >= 1) {
        static const char kMessage[] = "\nrankcheck: stopped at once\n";
        const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        (void)written;
        _exit(128 + number);
    }
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kStopSignals)
        sigaddset(&set, number);
    return set;
}

}  // namespace

void StopSignal::Install() {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kStopSignals)
        sigaction(number, &action, nullptr);
    // Ctrl-C also ends the reader of a pipe (rankcheck run all | tee log); the run must still
    // get to finish its page and stop instead of dying on its next write.
    signal(SIGPIPE, SIG_IGN);
}

int StopSignal::Count() {
    return stopSignals.load();
}

int StopSignal::First() {
    return firstSignal.load();
}

std::string StopSignal::FirstInWords() {
    switch (First()) {
        case SIGINT:
            return "Ctrl-C";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "";
    }
}

StopSignal::Blocked::Blocked() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

StopSignal::Blocked::~Blocked() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace rankcheck
