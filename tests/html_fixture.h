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
// kRye given up.
//
// BigProject: a project of 500 keywords and 3 URLs checked every day for 12 days on Quillon
// (the page draws at most the last 30 checks of an engine; bench/bench_html_report measures a
// year): the URLs move from day to day; on the last day only the first URL of the first 24
// keywords moves, keyword k by k + 1 places (up for even k, down for odd k), one keyword has no
// results (suspect) and one is given up. Test thread only.
#pragma once

#include <algorithm>
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

class BigProject {
  public:
    static constexpr int kKeywords = 500, kChecks = 12, kLinks = 30;
    static constexpr int kMoving = 24;                    // keywords that move on the last day
    static constexpr int kSuspect = 107, kGivenUp = 111;  // keywords failing on the last day

    BigProject() {
        std::vector<std::string> keywords;
        for (int k = 0; k < kKeywords; ++k)
            keywords.push_back("keyword " + std::to_string(k) + " sourdough starter");
        const V urls{"www.my-bakery.example", "bread-shop.example", "rye-corner.example/menu"};
        for (int day = 0; day < kChecks; ++day) {
            ledger::CheckStart start;
            start.engine = "Quillon";
            start.startedAt = Day(day);
            start.options.maxResults = kLinks;
            start.keywordsHash = "h";
            start.keywords = keywords;
            start.urls = LedgerUrls(urls);
            const int64_t id = ledger_.BeginCheck(start);
            for (int k = 0; k < kKeywords; ++k)
                ledger_.RecordKeyword(id, Result(k, day, start.urls));
            ledger_.EndCheck(id, ledger::CheckState::Complete, Day(day));
        }
    }

    std::string Page() {
        const RankView view = RankView::Build(ledger_, {});
        std::ostringstream out;
        WriteHtml(view, ReportHistory::Build(ledger_, view), out, "/srv/big");
        return out.str();
    }
    ledger::Ledger& Ledger() { return ledger_; }

  private:
    // Where URL u ranks for keyword k on `day` (1-based), or 0 where it does not.
    static int RankOf(int k, int u, int day) {
        const int last = kChecks - 1;
        if (k < kMoving) {
            if (u != 0) return 0;
            const int before = k % 2 == 0 ? 30 : 5;
            return day < last - 1    ? 10 + day % 3
                   : day == last - 1 ? before
                   : k % 2 == 0      ? before - (k + 1)
                                     : before + (k + 1);
        }
        if ((k + u) % 3 == 0) return 0;
        return 1 + (k * 5 + u * 9 + std::min(day, last - 1) * (k % 5 + 1)) % kLinks;
    }

    static ledger::KeywordResult Result(int k, int day, const std::vector<ledger::UserUrl>& urls) {
        ledger::KeywordResult result;
        result.index = k;
        result.recordedAt = Day(day);
        if (day + 1 == kChecks && (k == kSuspect || k == kGivenUp)) {
            result.state =
                k == kGivenUp ? ledger::KeywordState::GivenUp : ledger::KeywordState::Done;
            result.ranks.assign(urls.size(), {});
            return result;
        }
        for (int i = 1; i <= kLinks; ++i)
            result.links.push_back("http://www.site-" + std::to_string(i) + "-of-keyword-" +
                                   std::to_string(k) + ".example/recipes/sourdough-starter.html");
        for (size_t u = 0; u < urls.size(); ++u) {
            const int at = RankOf(k, static_cast<int>(u), day);
            if (at == 0 ||
                result.links[static_cast<size_t>(at - 1)].find("site-") == std::string::npos)
                continue;  // not ranked, or another URL has the place
            result.links[static_cast<size_t>(at - 1)] = "http://" + urls[u].text + "/sourdough/";
        }
        result.positionsExamined = static_cast<int>(result.links.size());
        result.ranks = RanksOf(result.links, urls);
        return result;
    }

    testsupport::ScratchDir dir_;
    ledger::Ledger ledger_{"rankcheck.db"};
};

}  // namespace htmlfixture
