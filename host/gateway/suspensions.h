// Suspensions: how long a blocked upstream rests, and the state file that keeps the suspensions
// across runs.
//
// A block suspends its upstream for
//   429 or 503:  the answer's Retry-After (seconds or an HTTP date), else BlockPolicy::rateLimited
//                (10 minutes);
//   403, a block page, a redirect away from the results:  BlockPolicy::blocked (an hour);
// doubled for every earlier block of that upstream that still counts, up to BlockPolicy::longest
// (a day). An earlier block counts while less than `longest` has passed since its suspension
// ended: a day without a block wipes the slate.
//
// The state file is JSON, written whole to a temporary file and renamed over the old one, so it
// is always either the old or the new version. It holds per upstream label the end of the
// suspension (ISO 8601 UTC, rounded up to the second), the strikes and the cause in words; never
// a password, since labels and causes hold none:
//   {"version": 1, "upstreams": {"10.0.0.5:3128": {"until": "2026-12-08T13:05:00Z",
//    "strikes": 2, "cause": "captcha page from Verrin"}}}
//
// Free functions on plain values; any thread (the gateway serialises its writes).
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace rankcheck::gateway {

using SystemTime = std::chrono::system_clock::time_point;

struct BlockPolicy {
    std::chrono::milliseconds rateLimited = std::chrono::minutes(10);
    std::chrono::milliseconds blocked = std::chrono::hours(1);
    std::chrono::milliseconds longest = std::chrono::hours(24);
};

struct Suspension {
    SystemTime until{};
    int strikes = 0;    // blocks in a row, this one included
    std::string cause;  // the block in words, e.g. "captcha page from Verrin"
};

// The suspension that a block at `now` earns an upstream whose previous suspension was
// `previous` (strikes 0: none): its end and its strikes. `status` is the answer's HTTP status
// (429 and 503 take `retryAfter` when it is given).
Suspension Suspend(const BlockPolicy& policy, long status,
                   std::optional<std::chrono::seconds> retryAfter, const Suspension& previous,
                   SystemTime now);

// A Retry-After value: delay-seconds ("120") or an HTTP date, as a delay from `now` (0 for a
// date in the past); nothing for a value that is neither.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, SystemTime now);

class StateFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The suspensions of the state file at `path` by label; none when the file does not exist.
// Throws StateFileError naming the file when it cannot be read or is not a state file.
std::map<std::string, Suspension> LoadSuspensions(const std::string& path);

// Writes the suspensions to `path` atomically. Throws StateFileError naming the file.
void SaveSuspensions(const std::string& path, const std::map<std::string, Suspension>& all);

// Whether an entry still matters at `now`: suspended, or its strikes still count.
bool StillCounts(const Suspension& suspension, const BlockPolicy& policy, SystemTime now);

}  // namespace rankcheck::gateway
