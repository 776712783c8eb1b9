#include "ledger/keyword_outcome.h"

#include <algorithm>

namespace rankcheck::ledger {

namespace {

int Cut(int positions, int top) { return top > 0 ? std::min(positions, top) : positions; }

}  // namespace

std::string DateOf(const std::string& timestamp) { return timestamp.substr(0, 10); }

bool NeedsHistory(const KeywordEntry& entry, int top) {
    const int examined = Cut(entry.examined, top);
    return entry.state == KeywordState::Done && examined > 0 &&
           examined < Cut(entry.maxResults, top);
}

bool TrustedOnItsOwn(const KeywordEntry& entry, int top) {
    return entry.state != KeywordState::NotReached &&
           Cut(entry.examined, top) >= Cut(entry.maxResults, top);
}

TrustedCheck AsTrusted(const KeywordEntry& entry) {
    return {entry.check, entry.checkedAt, entry.examined};
}

KeywordOutcome OutcomeOf(const KeywordEntry& entry, const std::optional<TrustedCheck>& lastTrusted,
                         int top) {
    KeywordOutcome outcome;
    const int examined = Cut(entry.examined, top);
    const int requested = Cut(entry.maxResults, top);
    outcome.examined = examined;
    outcome.depth = examined;
    const auto trusted = [&] {
        outcome.status = RankStatus::NotFound;
        outcome.depth = std::max(examined, requested);
        return outcome;
    };
    if (entry.state == KeywordState::NotReached) {
        outcome.status = RankStatus::NotSearched;
        outcome.depth = 0;
        return outcome;
    }
    if (examined >= requested) return trusted();
    switch (entry.state) {
        case KeywordState::GivenUp:
            outcome.status = RankStatus::Error;
            return outcome;
        case KeywordState::Partial:
            outcome.status = RankStatus::Partial;
            return outcome;
        case KeywordState::NotReached:
        case KeywordState::Done:
            break;
    }
    // Done short of the positions requested: the engine's results ended early.
    if (examined == 0) {
        outcome.status = RankStatus::Suspect;
        outcome.note = "no results on page 1";
        return outcome;
    }
    if (lastTrusted && examined < Cut(lastTrusted->examined, top)) {
        outcome.status = RankStatus::Suspect;
        outcome.note = "results ended at " + std::to_string(entry.examined) + ", " +
                       std::to_string(lastTrusted->examined) + " on " +
                       DateOf(lastTrusted->checkedAt);
        outcome.heldAgainst = lastTrusted;
        return outcome;
    }
    return trusted();
}

}  // namespace rankcheck::ledger
