#include "host/gateway/upstream_pool.h"

#include <algorithm>

namespace rankcheck::gateway {

UpstreamPool::UpstreamPool(std::vector<std::string> labels, std::chrono::milliseconds pace,
                           double extra)
    : labels_(std::move(labels)),
      pace_(pace),
      extra_(extra),
      random_(std::random_device{}()),
      nextSlot_(labels_.size()),
      suspensions_(labels_.size()) {}

std::optional<UpstreamPool::Turn> UpstreamPool::Take(SystemTime now) {
    std::lock_guard lock(mutex_);
    const SteadyTime ready = std::chrono::steady_clock::now();
    std::optional<Turn> turn;
    // From the cursor on, so that of the upstreams ready now the next in order wins.
    for (size_t i = 0; i < labels_.size(); ++i) {
        const size_t k = (cursor_ + i) % labels_.size();
        if (now < suspensions_[k].until) continue;
        const SteadyTime slot = std::max(ready, nextSlot_[k]);
        if (!turn || slot < turn->at) turn = Turn{k, slot};
    }
    if (!turn) return std::nullopt;
    const size_t k = turn->upstream;
    cursor_ = k + 1;
    std::uniform_real_distribution<double> share(0.0, extra_);
    nextSlot_[k] =
        turn->at + pace_ +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(pace_ * share(random_));
    return turn;
}

void UpstreamPool::Sent(size_t upstream, SteadyTime sent) {
    std::lock_guard lock(mutex_);
    nextSlot_.at(upstream) = std::max(nextSlot_[upstream], sent + pace_);
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
