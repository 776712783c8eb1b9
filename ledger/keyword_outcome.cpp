#include "ledger/keyword_outcome.h"

#include <algorithm>

namespace rankcheck::ledger {

namespace {

int Cut(int positions, int top) {
    return top > 0 ? std::min(positions, top) : positions;
}

}  // namespace

std::string DateOf(const std::string& timestamp) {
    return timestamp.substr(0, 10);
}

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

OutcomeKind KindOf(KeywordState state, int examined, int maxResults,
                   std::optional<int> lastTrustedExamined, int top) {
    const int seen = Cut(examined, top);
    const int requested = Cut(maxResults, top);
    if (state == KeywordState::NotReached) return {RankStatus::NotSearched, 0};
    if (seen >= requested) return {RankStatus::NotFound, std::max(seen, requested)};
    switch (state) {
        case KeywordState::GivenUp:
            return {RankStatus::Error, seen};
        case KeywordState::Partial:
            return {RankStatus::Partial, seen};
        case KeywordState::NotReached:
        case KeywordState::Done:
            break;
    }
    // Done short of the positions requested: the engine's results ended early.
    if (seen == 0) return {RankStatus::Suspect, seen};
    if (lastTrustedExamined && seen < Cut(*lastTrustedExamined, top)) {
        return {RankStatus::Suspect, seen};
    }
    return {RankStatus::NotFound, requested};
}

KeywordOutcome OutcomeOf(const KeywordEntry& entry, const std::optional<TrustedCheck>& lastTrusted,
                         int top) {
    const std::optional<int> trustedExamined =
        lastTrusted ? std::optional<int>(lastTrusted->examined) : std::nullopt;
    const OutcomeKind kind =
        KindOf(entry.state, entry.examined, entry.maxResults, trustedExamined, top);
    KeywordOutcome outcome;
    outcome.status = kind.status;
    outcome.depth = kind.depth;
    outcome.examined = Cut(entry.examined, top);
    if (kind.status != RankStatus::Suspect) return outcome;
    if (outcome.examined == 0) {
        outcome.note = "no results on page 1";
    } else {
        outcome.note = "results ended at " + std::to_string(entry.examined) + ", " +
                       std::to_string(lastTrusted->examined) + " on " +
                       DateOf(lastTrusted->checkedAt);
        outcome.heldAgainst = lastTrusted;
    }
    return outcome;
}

}  // namespace rankcheck::ledger
