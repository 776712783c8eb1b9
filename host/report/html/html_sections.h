// The sections of the HTML report page, each written as a self-contained piece of HTML: the
// header (folder, each engine's check with its date and state, the check it is compared with),
// the summary figures per engine, the rank table with changes and sparklines, and per keyword its
// trend charts, each engine's top 10 and the sites above the user's best URL. html_report.cpp
// puts them together with the page's style sheet.
//
// Free functions without state; any thread.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// The band a cell is coloured by: "b1" (positions 1-3), "b2" (4-10), "b3" (11-20), "b4" (21-50),
// "b5" (51 and beyond), "nf" (not found), "pa" (partial), "err" (given up), "ns" (not searched).
const char* RankBand(const std::optional<ledger::ReportRow>& cell);

// A check's state as the header shows it: "complete", "partial (2 of 12 keywords given up or
// cut short)", "stopped (5 of 12 keywords searched)", "failed (...)", "running (...)".
std::string CheckStateText(const ledger::CheckInfo& check);

// The summary figures of one engine of the view. Counts are of keyword and URL pairs, except
// `keywords`; changes are against the compared check.
struct EngineSummary {
    int keywords = 0;  // distinct keyword texts of the engine's check
    int top3 = 0, top10 = 0, top100 = 0;
    int improved = 0, declined = 0, fresh = 0, lost = 0;
};
EngineSummary Summarise(const RankView& view, size_t engine);

// The id of a keyword's section ("kw-1", "kw-2", ... in row order), for links from the table.
std::string KeywordAnchor(size_t ordinal);

void WriteHeaderSection(const RankView& view, const std::string& folder, std::ostream& out);
void WriteSummarySection(const RankView& view, std::ostream& out);
void WriteRankTable(const RankView& view, const ReportHistory& history, std::ostream& out);
void WriteKeywordSections(const RankView& view, const ReportHistory& history, std::ostream& out);

}  // namespace rankcheck
