// The text formats of a RankView: an aligned table for people, CSV and JSON for programs. The
// self-contained HTML page is html/html_report.h's. Keywords and URLs are shown as UTF-8 (text in
// the ANSI code page is converted).
//
// CSV and JSON hold one record per keyword, URL and engine with the fields keyword, url, engine,
// rank (a number or empty/null), status (ranked, not_found, beyond, suspect, error, partial,
// not_searched), previous_rank, change (previous_rank - rank: positive moved up; "new", "lost",
// or empty; in JSON a number, "new", "lost" or null), check_id, checked_at (the check's start,
// ISO 8601 UTC) and note (why a suspect row is suspect); JSON adds what the table shows
// besides: positions examined, the check compared with, the last trusted rank of an untrusted
// row, and the checks themselves with their state in words (ledger/check_state_words.h).
//
// Free functions without state; any thread.
#pragma once

#include <ostream>

#include "host/report/rank_view.h"
#include "host/report/text_table.h"

namespace rankcheck {

// Above the table each engine's check, its date and state, and the check it is compared with;
// then one row per keyword and URL, one column per engine (rank and change); then the keywords
// compared with another check and why the suspect ones are suspect; then a legend. Cells take
// their short form (ShortCellText), the keyword column wraps and every text line is wrapped so
// that the whole fits `columns` (a URL wider than that is never cut).
void WriteTable(const RankView& view, std::ostream& out, int columns = kDefaultColumns);
// Header keyword,url,engine,rank,status,previous_rank,change,check_id,checked_at,note (RFC 4180).
void WriteCsv(const RankView& view, std::ostream& out);
void WriteJson(const RankView& view, std::ostream& out);

// "Quillon: check 12, 2026-12-08 04:21 UTC, complete with 1 failed (1 given up); compared with
// check 11 of 2026-12-07 04:00 UTC", made safe for a terminal.
std::string CheckLine(const RankView::Engine& engine);

}  // namespace rankcheck
