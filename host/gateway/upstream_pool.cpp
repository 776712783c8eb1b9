#include "host/gateway/upstream_pool.h"

#include <algorithm>

namespace rankcheck::gateway {

UpstreamPool::UpstreamPool(std::vector<std::string> labels, std::chrono::milliseconds pace,
                           double extra)
    : labels_(std::move(labels)),
      pace_(pace),
      extra_(extra),
      random_(std::random_device{}()),
      pacing_(labels_.size()),
      suspensions_(labels_.size()) {}

std::optional<UpstreamPool::Turn> UpstreamPool::Take(SystemTime now, SteadyTime ready) {
    std::lock_guard lock(mutex_);
    // The upstream whose slot came first; from the cursor on, so that of equal slots (no pace,
    // or none taken yet) the next in order wins.
    std::optional<size_t> first;
    for (size_t i = 0; i < labels_.size(); ++i) {
        const size_t k = (cursor_ + i) % labels_.size();
        if (now < suspensions_[k].until) continue;
        if (!first || pacing_[k].Slot() < pacing_[*first].Slot()) first = k;
    }
    if (!first) return std::nullopt;
    const size_t k = *first;
    cursor_ = k + 1;
    Pacing& p = pacing_[k];
    const Turn turn{k, std::max(ready, p.Slot())};
    // The plan goes on from this request's place in it, not from the time it is taken: a
    // request that comes late uses up the random extra first, and the following gaps make up
    // for lateness beyond it, up to one largest extra; what is later still moves the plan back.
    // The pace itself always holds between two requests.
    std::uniform_real_distribution<double> share(0.0, extra_);
    const auto drawn =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(pace_ * share(random_));
    const auto credit =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(pace_ * extra_);
    const SteadyTime planned = p.planned == SteadyTime{} ? turn.at : p.planned;
    p.planned = std::max(planned + pace_ + drawn, turn.at + pace_ - credit);
    p.earliest = turn.at + pace_;
    return turn;
}

void UpstreamPool::Sent(size_t upstream, SteadyTime sent) {
    std::lock_guard lock(mutex_);
    Pacing& p = pacing_.at(upstream);
    p.earliest = std::max(p.earliest, sent + pace_);
}

bool UpstreamPool::Suspended(size_t upstream, SystemTime now) const {
    std::lock_guard lock(mutex_);
    return now < suspensions_.at(upstream).until;
}

Suspension UpstreamPool::Block(size_t upstream, long status,
                               std::optional<std::chrono::seconds> retryAfter, std::string cause,
                               const BlockPolicy& policy, SystemTime now) {
    std::lock_guard lock(mutex_);
    Suspension& s = suspensions_.at(upstream);
    // A second block of the same upstream from a request that was under way before the first
    // one came back is the same block: the suspension stands as it is.
    if (now < s.until) return s;
    s = Suspend(policy, status, retryAfter, s, now);
    s.cause = std::move(cause);
    return s;
}

std::optional<SystemTime> UpstreamPool::AllSuspendedUntil(SystemTime now) const {
    std::lock_guard lock(mutex_);
    std::optional<SystemTime> first;
    for (const Suspension& s : suspensions_) {
        if (!(now < s.until)) return std::nullopt;
        if (!first || s.until < *first) first = s.until;
    }
    return first;
}

std::map<std::string, Suspension> UpstreamPool::Suspensions() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, Suspension> all;
    for (size_t i = 0; i < labels_.size(); ++i)
        if (suspensions_[i].strikes > 0) all[labels_[i]] = suspensions_[i];
    return all;
}

void UpstreamPool::Restore(const std::map<std::string, Suspension>& suspensions) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < labels_.size(); ++i) {
        const auto it = suspensions.find(labels_[i]);
        if (it != suspensions.end()) suspensions_[i] = it->second;
    }
}

}  // namespace rankcheck::gateway
