// EventLog: what the gateway has to tell the host, each with its cause in words: a request that
// failed (the plug-in received a failure and will report it), an upstream suspended after a
// block (the request went on through another upstream), no upstream left (the plug-in received
// 503), and notices (the state file could not be read or written).
//
// An event is added before the answer it explains is sent to the plug-in. So a host that reads
// the log after the plug-in's failure line ("Can't connect to Quillon. Trying again") reached it
// finds the cause already there, and prints it after that line.
//
// The gateway's worker threads add; any thread reads (the host on its main thread). Events are
// numbered 1, 2, ...; a reader keeps the number of the last one it has seen and asks for the
// newer ones. The log keeps the newest `keep` events.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rankcheck::gateway {

enum class EventKind {
    Failure,         // the plug-in received a failed answer (502, 504) for this cause
    Block,           // an upstream was suspended; the request went on through another one
    NoUpstreamLeft,  // every upstream is suspended; the plug-in received 503
    Notice,          // about the gateway itself (its state file)
};

struct Event {
    uint64_t sequence = 0;
    EventKind kind = EventKind::Notice;
    std::chrono::system_clock::time_point at{};
    std::string engine;    // "Quillon", or the host of a site no engine rules name; empty: notice
    std::string upstream;  // the label of the upstream ("10.0.0.5:3128", "direct"), or empty
    // The run the request came from: the user name of its proxy.def (Gateway::JobProxySettings),
    // empty when it gave none and for notices.
    std::string client;
    // The line to print, e.g. "HTTP 407 from proxy 10.0.0.5:3128 (proxy authentication
    // required)", "timed out after 20 s through 10.0.0.5:3128", "captcha page from Verrin
    // through 10.0.0.7:3128; suspended until 14:05".
    std::string cause;
    int answered = 0;  // the status the plug-in received; 0 for Block and Notice
    // Block: the end of the suspension. NoUpstreamLeft: when the first upstream is back.
    std::optional<std::chrono::system_clock::time_point> until;
};

class EventLog {
  public:
    explicit EventLog(size_t keep = 1000) : keep_(keep) {}

    // Numbers the event, stamps it (unless `at` is set) and keeps it; returns its number.
    uint64_t Add(Event event);
    // The events numbered above `after`, oldest first.
    std::vector<Event> Since(uint64_t after) const;
    // Waits until there is an event numbered above `after`, at most `limit`; true when there is.
    bool WaitBeyond(uint64_t after, std::chrono::milliseconds limit) const;
    uint64_t Last() const;  // the number of the newest event; 0 before the first

  private:
    const size_t keep_;
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::deque<Event> events_;
    uint64_t last_ = 0;
};

// A time as a cause line shows it, in local time: "14:05" on the day of `now`, else
// "2026-12-09 14:05". Rounded up to the minute, so that "back at 14:05" is never early.
std::string ClockText(std::chrono::system_clock::time_point t,
                      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace rankcheck::gateway
