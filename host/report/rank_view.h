// RankView: what `rankcheck report` shows, read from the check ledger: for each engine one check
// (its latest by default) and the check it is compared with (the one most of its rows compare
// with, like with like, by default: see ledger::ReportRow), and per keyword text and URL the cell
// of each engine: the rank or the status, the previous rank and the change. Keywords and URLs are
// matched across engines and checks by their text (URLs by their normalised key), never by their
// line numbers, so a rank stays with its keyword whatever happened to keywords.lst.
//
// Rows follow the first engine's keyword order, then keywords only another engine's check has;
// within a keyword, URLs in urls.lst order.
//
// Built once by the report command from a Ledger; a plain value afterwards, read on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobfiles/engine_table.h"
#include "ledger/check_state_words.h"
#include "ledger/ledger.h"

namespace rankcheck {

// A check named by the user: its id, and the engine it must be of (empty: its own).
struct CheckPick {
    std::string engine;  // as the ledger names engines ("Quillon")
    int64_t id = 0;
};

struct RankViewRequest {
    std::vector<std::string> engines = jobfiles::EngineNames();
    // Show these checks instead of the latest: without `at`, their engines alone.
    std::vector<CheckPick> checks;
    // "YYYY-MM-DD": each engine (of `engines`, a check picked above excepted) shows its latest
    // check begun on or before that day (UTC); none when it had none.
    std::string at;
    // Each of its engine: compare with this check instead of like with like.
    std::vector<CheckPick> compare;
    bool exactMatch = false;  // the URL must be the whole link
    int top = 0;              // > 0: positions beyond it count as not found
    // Whether nothing holds the folder of a check (its lock is free), so that a running check
    // reads as interrupted; none: every check reads as it is recorded.
    std::function<bool(const ledger::CheckInfo&)> lockFree;
};

class RankView {
  public:
    struct Engine {
        std::string name;
        std::optional<ledger::CheckInfo> check;     // none: the engine has no check yet
        std::optional<ledger::CheckInfo> compared;  // none: nothing to compare with
        ledger::CheckStateWords state = {};         // of `check`, as every output words it
    };
    struct Row {
        std::string keyword;  // bytes as in keywords.lst
        std::string url;      // as matched: urls.lst's line without blanks, scheme and final "/"
        std::string urlKey;
        std::vector<std::optional<ledger::ReportRow>> cells;  // per engine; none: not in its check
    };

    // Raises ledger::LedgerError for an unknown check, a check picked that is not of the engine
    // named with it, two checks of one engine, or a compared check of an engine not shown.
    static RankView Build(ledger::Ledger& ledger, const RankViewRequest& request);

    const RankViewRequest& Request() const { return request_; }
    const std::vector<Engine>& Engines() const { return engines_; }
    const std::vector<Row>& Rows() const { return rows_; }

  private:
    RankViewRequest request_;
    std::vector<Engine> engines_;
    std::vector<Row> rows_;
};

// Each engine a report shows with the check it shows (none: the engine has none) and the check
// its --compare names (none: like with like), as RankView::Build picks them; raises as it does.
struct ShownCheck {
    std::string engine;
    std::optional<ledger::CheckInfo> check;
    std::optional<int64_t> compareWith;
};
std::vector<ShownCheck> ShownChecks(ledger::Ledger& ledger, const RankViewRequest& request);

// Whether `day` is a date "YYYY-MM-DD" of the calendar.
bool IsCalendarDate(const std::string& day);

// A rank status in the words the table, the HTML page and its charts show: the rank itself for
// ranked ("4"; "?" without one), "-" for not found, else the ledger's name of the status in
// words ("partial", "error", "not searched"). The one place these words are made.
std::string StatusWords(ledger::RankStatus status, std::optional<int> rank);
// What a cell shows in the table and in the HTML page: "4", "-", "beyond 20",
// "partial (30 of 100)", "error (last 7 on 2026-12-06)", "suspect (last 7 on 2026-12-06)",
// "not searched".
std::string CellText(const std::optional<ledger::ReportRow>& cell, int maxResults);
// The same in the short form of the text table, which fits 80 columns: "part (30/100)",
// "err (7, 12-06)", "susp (7, 12-06)" (the last trusted rank and its month and day; the year too
// when it is not the year of `checkedAt`, the shown check's start), else as CellText.
std::string ShortCellText(const std::optional<ledger::ReportRow>& cell, int maxResults,
                          const std::string& checkedAt);
// The change as the table shows it: "▲3", "▼2", "=", "new", "lost", or empty.
std::string ChangeMark(const std::optional<ledger::ReportRow>& cell);
// "2026-12-08 04:21 UTC" of an ISO 8601 UTC time.
std::string ShortTime(const std::string& iso);
// A URL as the report shows it: the form it is matched in (blanks, one trailing "/" and a
// leading http:// or https:// dropped), so that "  http://www.a.example/ " reads www.a.example.
std::string ShownUrl(const std::string& text);

}  // namespace rankcheck
