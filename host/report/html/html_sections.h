// The detailed sections of the HTML report page and the pieces every section shares: the rank
// table of every keyword and URL (bands, changes, sparklines, grouped by keyword so that a small
// script can filter and sort it), and per keyword, folded until a person opens it, its trend
// charts, each engine's top 10 and the sites above the user's best URL. The overview sections
// that come first are in html_overview.h; html_report.cpp puts them together with the page's
// style sheet and script.
//
// Free functions without state; any thread.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// The band a cell is coloured by: "b1" (positions 1-3), "b2" (4-10), "b3" (11-20), "b4" (21-50),
// "b5" (51 and beyond), "nf" (not found), "pa" (partial, beyond), "err" (given up, suspect),
// "ns" (not searched).
const char* RankBand(const std::optional<ledger::ReportRow>& cell);

// The engines of the view that have a check, in its order: the table has a column for each (the
// checks section says which have none).
std::vector<size_t> EnginesWithCheck(const RankView& view);

// The id of a keyword's folded section ("kw-1", "kw-2", ... in row order), for links to it.
std::string KeywordAnchor(size_t ordinal);

// The keywords of the view in row order, each with its rows (one per URL).
struct KeywordGroup {
    std::string keyword;
    std::vector<const RankView::Row*> rows;
};
std::vector<KeywordGroup> KeywordGroups(const RankView& view);

// The class of a change mark: "up", "down", "same", "new" or "lost".
const char* ChangeClass(const std::string& change);

// The content of one engine's cell of a row, as the rank table shows it: the position or the
// status in words, its change mark and the sparkline of the last checks.
std::string RankCellHtml(const RankView& view, const ReportHistory& history,
                         const RankView::Row& row, size_t engine);

void WriteRankTable(const RankView& view, const ReportHistory& history, std::ostream& out);
void WriteKeywordSections(const RankView& view, const ReportHistory& history, std::ostream& out);

}  // namespace rankcheck
