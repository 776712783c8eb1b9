// UpstreamPool: which upstream a request goes through, and when it may go.
//
// Each upstream has a pace: two requests through it are at least `pace` apart, plus a random
// extra of up to `extra` × pace (0.5: up to half of it) drawn anew after every request, so that
// the requests do not come like clockwork. An upstream's slots follow a plan of those gaps; a
// request that comes after its slot (its client was busy) uses up the random extra first, and
// the following gaps make up for lateness beyond it, up to one largest extra (so that a window of
// any length holds at most that much more than the plan); a client that is often a little late
// thus loses little of what the upstream may carry. The pace itself always holds.
//
// Requests go round the upstreams that are not suspended: a request takes the upstream whose
// slot comes first (of those ready, the one that has waited longest), and of equal slots the
// next in their order (round-robin). Without a pace that is plain round-robin. With N upstreams
// and one request after the other, the requests go out up to N times as often as through one.
// Requests from several clients at once (two plug-ins) share the turns and the slots.
//
// Owned by the gateway; its worker threads call it at the same time. Pacing runs on the steady
// clock; suspensions on the system clock, passed in (they are shown and kept as times of day).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/gateway/suspensions.h"

namespace rankcheck::gateway {

class UpstreamPool {
  public:
    using SteadyTime = std::chrono::steady_clock::time_point;

    UpstreamPool(std::vector<std::string> labels, std::chrono::milliseconds pace, double extra);

    struct Turn {
        size_t upstream;  // index into the labels
        SteadyTime at;    // the request may go at this time, not before
    };
    // The upstream in turn (see above) among those not suspended at `now`, with its slot
    // (taken): `ready` or later. Nothing when every upstream is suspended.
    std::optional<Turn> Take(SystemTime now, SteadyTime ready = std::chrono::steady_clock::now());
    // The request of the upstream's last turn went out at `sent`, which may be well after its
    // slot (the connection to the proxy took long): the next slot is at least `pace` after it.
    void Sent(size_t upstream, SteadyTime sent);

    bool Suspended(size_t upstream, SystemTime now) const;
    // Suspends an upstream for a block (see Suspend) and returns its suspension.
    Suspension Block(size_t upstream, long status, std::optional<std::chrono::seconds> retryAfter,
                     std::string cause, const BlockPolicy& policy, SystemTime now);
    // When every upstream is suspended at `now`: the time the first of them is back.
    std::optional<SystemTime> AllSuspendedUntil(SystemTime now) const;

    // The suspensions by label (upstreams never blocked are left out), and taking them back
    // from the state file: entries with other labels are ignored.
    std::map<std::string, Suspension> Suspensions() const;
    void Restore(const std::map<std::string, Suspension>& suspensions);

  private:
    const std::vector<std::string> labels_;
    const std::chrono::steady_clock::duration pace_;
    const double extra_;
    mutable std::mutex mutex_;
    std::mt19937_64 random_;               // guarded by mutex_
    size_t cursor_ = 0;                    // the next in turn
    struct Pacing {
        SteadyTime planned;   // the next request's place in the upstream's plan of gaps
        SteadyTime earliest;  // the pace after the last request sent
        SteadyTime Slot() const { return std::max(planned, earliest); }
    };
    std::vector<Pacing> pacing_;           // per upstream
    std::vector<Suspension> suspensions_;  // per upstream; strikes 0: never blocked
};

}  // namespace rankcheck::gateway
