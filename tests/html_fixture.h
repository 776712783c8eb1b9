// A check ledger of three days for the HTML report's tests, with keyword, URL and link texts a
// page could be broken by (<script>, quotes, &, a Latin-1 byte), and the page written from it.
//
//   keyword                         Quillon 1, 2, 3 (day 0, 1, 2)     Verrin 4, 5 (day 0, 2)
//   kScript: mine                   7, 5, 3                           8, 10 (check 5 stopped)
//            other (the hostile URL) -, -, 9                          -, -
//   kQuoted: mine                   12, -, 2                          -, -
//   kRye:    mine                   5, 4, given up (error)            -, not searched
//
// Position 1 and 2 of every list are the same rival site; check 3 of Quillon is complete with
// kRye given up. Test thread only.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "host/report/html/html_report.h"
#include "host/report/ledger_urls.h"
#include "host/report/rank_view.h"
#include "host/report/report_history.h"
#include "ledger/ledger.h"
#include "tests/test_support.h"

namespace htmlfixture {

using namespace rankcheck;
using V = std::vector<std::string>;

inline const std::string kScript = "fresh <script>alert(1)</script> bread";
inline const std::string kQuoted = "caf\xE9 \"quoted\" & 'single'";
inline const std::string kRye = "rye";
inline const std::string kMine = "mine.example";
inline const std::string kOther = "www.other.example/<b>&\"x\"";

inline std::string Day(int day) {  // 2026-12-01 plus `day` days, at 04:00 UTC
    return ledger::UtcTimestamp(1796097600 + static_cast<std::time_t>(day) * 86400);
}

// `count` links; the rival at 1 and 2, `mine` at mineAt and the other URL at otherAt (0: absent).
inline V Links(int count, int mineAt, int otherAt = 0) {
    V links;
    for (int i = 1; i <= count; ++i) {
        if (i == mineAt) {
            links.push_back("http://mine.example/page");
        } else if (i == otherAt) {
            links.push_back("https://www.other.example/<b>&\"x\"/deep");
        } else if (i <= 2) {
            links.push_back(i == 1 ? "https://Rival.example/a?x=1&y=<2>" : "rival.example/b");
        } else {
            links.push_back("http://site" + std::to_string(i) + ".example/p");
        }
    }
    return links;
}

class ThreeDays {
  public:
    ThreeDays() {
        Check("Quillon", 0, {{Done(30, 7)}, {Done(30, 12)}, {Done(30, 5)}});
        Check("Quillon", 1, {{Done(30, 5)}, {Done(30, 0)}, {Done(30, 4)}});
        Check("Quillon", 2, {{Done(30, 3, 9)}, {Done(30, 2)}, {GivenUp()}});
        Check("Verrin", 0, {{Done(30, 8)}, {Done(30, 0)}, {Done(30, 0)}});
        Check("Verrin", 2, {{Done(30, 10)}, {Done(30, 0)}}, ledger::CheckState::Stopped);
    }

    RankView View() { return RankView::Build(ledger_, {}); }
    ReportHistory History(const RankView& view, size_t maxChecks = ReportHistory::kMaxChecks) {
        return ReportHistory::Build(ledger_, view, maxChecks);
    }
    std::string Page(const std::string& folder = "/srv/r\xC3\xA9ports <&> \"x\"") {
        const RankView view = View();
        std::ostringstream out;
        WriteHtml(view, History(view), out, folder);
        return out.str();
    }
    ledger::Ledger& Ledger() { return ledger_; }

  private:
    struct Keyword {
        ledger::KeywordState state = ledger::KeywordState::Done;
        V links;
    };
    static Keyword Done(int count, int mineAt, int otherAt = 0) {
        return {ledger::KeywordState::Done, Links(count, mineAt, otherAt)};
    }
    static Keyword GivenUp() { return {ledger::KeywordState::GivenUp, Links(3, 0)}; }

    void Check(const std::string& engine, int day, const std::vector<Keyword>& keywords,
               ledger::CheckState end = ledger::CheckState::Complete) {
        ledger::CheckStart start;
        start.engine = engine;
        start.startedAt = Day(day);
        start.options.maxResults = 30;
        start.keywordsHash = "h";
        start.keywords = {kScript, kQuoted, kRye};
        start.urls = LedgerUrls({kMine, kOther});
        const int64_t id = ledger_.BeginCheck(start);
        for (size_t k = 0; k < keywords.size(); ++k) {
            ledger::KeywordResult result;
            result.index = static_cast<int>(k);
            result.state = keywords[k].state;
            result.positionsExamined = static_cast<int>(keywords[k].links.size());
            result.links = keywords[k].links;
            result.ranks = RanksOf(result.links, start.urls);
            result.recordedAt = start.startedAt;
            ledger_.RecordKeyword(id, result);
        }
        ledger_.EndCheck(id, end, Day(day));
    }

    testsupport::ScratchDir dir_;
    ledger::Ledger ledger_{"rankcheck.db"};
};

}  // namespace htmlfixture
