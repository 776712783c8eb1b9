// The overview that opens the HTML report page, before the full table: the page's banner (the
// folder and how URLs are matched), each engine's check with its date and state and the check it
// is compared with, the summary figures per engine, the biggest moves since the compared check
// (largest rises and drops, each with its sparkline) and the keywords that could not be checked
// (given up, suspect, partial: with their last trusted rank and its date; not searched). A person
// sees first what moved most and what failed, then finds one keyword in the table below
// (html_sections.h).
//
// Free functions without state; any thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// The summary figures of one engine of the view. Counts are of keyword and URL pairs, except
// `keywords`; changes are against the compared check.
struct EngineSummary {
    int keywords = 0;  // distinct keyword texts of the engine's check
    int top3 = 0, top10 = 0, top100 = 0;
    int improved = 0, declined = 0, fresh = 0, lost = 0;
    int unchecked = 0;  // given up, suspect or partial: the check cannot tell
};
EngineSummary Summarise(const RankView& view, size_t engine);

// One keyword and URL of one engine that moved by `change` places (> 0 up) since the compared
// check.
struct Move {
    const RankView::Row* row = nullptr;
    size_t engine = 0;
    int change = 0;
};
struct Moves {
    std::vector<Move> rises;  // largest first; ties in row order
    std::vector<Move> drops;  // largest first (most negative change); ties in row order
};
// At most `count` of each; only moves between two ranks (never "new", "lost", or a status that
// cannot tell).
Moves BiggestMoves(const RankView& view, size_t count);

// The most rises and drops the page shows.
constexpr size_t kMovesShown = 10;

// `folderLockFree`: nothing holds the folder, so a check still recorded as running was
// interrupted (ledger::StateWords).
void WriteBanner(const RankView& view, const std::string& folder, std::ostream& out);
void WriteChecksSection(const RankView& view, bool folderLockFree, std::ostream& out);
void WriteSummarySection(const RankView& view, std::ostream& out);
void WriteMovesSection(const RankView& view, const ReportHistory& history, std::ostream& out);
void WriteUncheckedSection(const RankView& view, std::ostream& out);

}  // namespace rankcheck
