// The text formats of a RankView: an aligned table for people, CSV and JSON for programs. The
// self-contained HTML page is html/html_report.h's. Keywords and URLs are shown as UTF-8 (text in
// the ANSI code page is converted).
//
// CSV and JSON hold one record per keyword, URL and engine with the fields keyword, url, engine,
// rank (a number or empty/null), status (ranked, not_found, partial, error, not_searched),
// previous_rank, change (previous_rank - rank: positive moved up; "new", "lost" or empty),
// check_id and checked_at (the check's start, ISO 8601 UTC); JSON adds what the table shows
// besides: positions examined, the last known rank of an error, and the checks themselves.
//
// Free functions without state; any thread.
#pragma once

#include <ostream>

#include "host/report/rank_view.h"

namespace rankcheck {

// Above the table each engine's check, its date and state, and the check it is compared with;
// then one row per keyword and URL, one column per engine (rank and change); then a legend.
void WriteTable(const RankView& view, std::ostream& out);
// Header keyword,url,engine,rank,status,previous_rank,change,check_id,checked_at (RFC 4180).
void WriteCsv(const RankView& view, std::ostream& out);
void WriteJson(const RankView& view, std::ostream& out);

// "Quillon: check 12, 2026-12-08 04:21 UTC, complete; compared with check 11 of 2026-12-07".
std::string CheckLine(const RankView::Engine& engine);

}  // namespace rankcheck
