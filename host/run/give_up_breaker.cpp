#include "host/run/give_up_breaker.h"

namespace rankcheck {

GiveUpBreaker::GiveUpBreaker(int limit, std::string engine, RunStop& stop)
    : limit_(limit), engine_(std::move(engine)), stop_(stop) {}

void GiveUpBreaker::OnOutcome(const ledger::KeywordOutcome& outcome) {
    const bool failed = outcome.status == ledger::RankStatus::Error ||
                        outcome.status == ledger::RankStatus::Suspect;
    inARow_ = failed ? inARow_ + 1 : 0;
    if (limit_ <= 0 || tripped_ || inARow_ < limit_) return;
    tripped_ = true;
    stop_.StopRun(engine_, Reason(limit_));
}

std::string GiveUpBreaker::Reason(int limit) {
    return std::to_string(limit) + (limit == 1 ? " keyword" : " keywords in a row") +
           " failed: the engine or the proxy is not answering";
}

}  // namespace rankcheck
