// The outcome of a keyword in a check: what the check found out about the keyword as a whole,
// told from its recorded state, how many positions were examined and asked for, and the
// keyword's own history (the last check whose outcome for it was trusted). It is worked out
// whenever it is asked for, never stored: a check keeps only which check was the keyword's last
// trusted one when it began (schema.cpp), and where a check of an old ledger lacks it, it is
// worked out from the history (keyword_history.h), so that every ledger reads alike.
//
// The rule, for positions examined E and requested R (both cut at `top` when one is given):
//   not reached                                   -> NotSearched
//   given up, E < R                               -> Error
//   stopped while under way (partial), E < R      -> Partial
//   any state but not reached, E >= R             -> NotFound (every requested position examined)
//   done, E = 0 < R                               -> Suspect "no results on page 1"
//   done, 0 < E < R, the last trusted check of the keyword examined T positions:
//       E < T                                     -> Suspect "results ended at E, T on <date>"
//       E >= T, or no trusted check before        -> NotFound (the engine's results ended there)
// NotFound is the only trusted keyword outcome. A URL found within the positions examined is
// Ranked whatever the keyword's outcome; a trusted one it does not hold is NotFound, or Beyond
// where the check it is compared with examined the keyword deeper (Ledger::Report).
//
// Each outcome has a depth: the positions it stands for. A trusted one stands for every
// requested position (max(E, R): when the engine's results ended, there was nothing further);
// an untrusted one for the positions examined. Comparisons are made like with like: with a
// check whose depth for the keyword is at least as great.
//
// Plain values and pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ledger/ledger_types.h"

namespace rankcheck::ledger {

// One keyword of one check as the rule reads it.
struct KeywordEntry {
    int64_t check = 0;
    std::string checkedAt;  // the check's start, ISO 8601 UTC
    KeywordState state = KeywordState::NotReached;
    int examined = 0;    // positions examined
    int maxResults = 0;  // positions the check requested
};

// The latest earlier check whose outcome for a keyword was trusted.
struct TrustedCheck {
    int64_t check = 0;
    std::string checkedAt;
    int examined = 0;  // positions it examined (not cut at any `top`)
};

struct KeywordOutcome {
    // NotFound (trusted), Suspect, Error, Partial or NotSearched; never Ranked or Beyond, which
    // are said of a URL.
    RankStatus status = RankStatus::NotSearched;
    int examined = 0;  // positions examined, within `top`
    int depth = 0;     // positions the outcome stands for, within `top` (see above)
    // Suspect: "no results on page 1" or "results ended at 10, 64 on 2026-12-06"; else empty.
    std::string note;
    // Suspect by comparison: the trusted check it fell short of.
    std::optional<TrustedCheck> heldAgainst;

    bool Trusted() const { return status == RankStatus::NotFound; }
};

// The outcome of `entry` given the last trusted check of its keyword before it (nullopt: none);
// `top` > 0 cuts positions at `top`.
KeywordOutcome OutcomeOf(const KeywordEntry& entry, const std::optional<TrustedCheck>& lastTrusted,
                         int top = 0);

// The same rule on the figures alone, without the note: for walks through long histories.
struct OutcomeKind {
    RankStatus status = RankStatus::NotSearched;
    int depth = 0;
    bool Trusted() const { return status == RankStatus::NotFound; }
};
OutcomeKind KindOf(KeywordState state, int examined, int maxResults,
                   std::optional<int> lastTrustedExamined, int top = 0);

// Whether OutcomeOf needs the last trusted check to tell this entry's outcome (done, some but
// fewer positions than requested). Every other entry's outcome stands on its own.
bool NeedsHistory(const KeywordEntry& entry, int top = 0);

// Whether the entry is trusted on its own figures (every requested position examined): a
// walk back through a keyword's history can stop there.
bool TrustedOnItsOwn(const KeywordEntry& entry, int top = 0);

// The trusted check an entry becomes for the entries after it, when its outcome is trusted.
TrustedCheck AsTrusted(const KeywordEntry& entry);

// "2026-12-06" of "2026-12-06T04:00:00Z".
std::string DateOf(const std::string& timestamp);

}  // namespace rankcheck::ledger
