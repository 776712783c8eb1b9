// ReportHistory: what the HTML report shows beyond the rank view, read from the check ledger.
// For each engine of a RankView: its last checks up to the one shown (oldest first), the rank of
// every keyword text and URL key in each of them (the series behind the sparklines and trend
// charts), and per keyword the shown check's top 10 with the user's links marked and the sites
// ranking above the user's best URL (the competitors). Ranks follow the view's request: its
// matching mode, and --top (a position beyond it counts as not found).
//
// Built once by the report command after the RankView, from the same Ledger; a plain value
// afterwards, read on one thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/report/rank_view.h"
#include "ledger/ledger.h"

namespace rankcheck {

class ReportHistory {
  public:
    // The most checks of one engine the page draws; older ones are left out.
    static constexpr size_t kMaxChecks = 30;
    // The length of the top list.
    static constexpr size_t kTopLinks = 10;

    // One keyword and URL in one check of the engine.
    struct Point {
        size_t check = 0;  // index into EngineHistory::checks
        ledger::RankStatus status = ledger::RankStatus::NotSearched;
        std::optional<int> rank;
    };
    struct Competitor {
        std::string site;  // the link's host, as in the link but lower-case
        int position = 0;  // its best position above the user's best URL
    };
    struct TopList {
        int64_t check = 0;
        ledger::KeywordState state = ledger::KeywordState::NotReached;
        int positionsExamined = 0;
        std::vector<std::string> links;  // the first kTopLinks of the result list
        std::vector<bool> mine;          // per link: it matches one of the user's URLs
        std::optional<int> best;         // the best position of any user URL (within --top)
        std::string bestUrl;             // that URL, as the rank view shows it
        std::vector<Competitor> above;   // distinct sites above `best` (above all when none)
    };
    struct EngineHistory {
        std::vector<ledger::CheckInfo> checks;  // oldest first; the last is the one shown
        // By keyword text and URL key: one point per check of `checks`, in the same order.
        std::map<std::pair<std::string, std::string>, std::vector<Point>> series;
        std::map<std::string, TopList> top;  // by keyword text, from the shown check
    };

    static ReportHistory Build(ledger::Ledger& ledger, const RankView& view,
                               size_t maxChecks = kMaxChecks);

    // One per engine of the view, in its order; no checks where the engine has none.
    const std::vector<EngineHistory>& Engines() const { return engines_; }
    // The points of a keyword and URL key, empty when the engine never had them.
    const std::vector<Point>& Series(size_t engine, const std::string& keyword,
                                     const std::string& urlKey) const;
    const TopList* Top(size_t engine, const std::string& keyword) const;
    // The bottom of the one position scale every chart of the page shares: 10, 20, 50, 100, ...
    // at or past the largest rank drawn.
    int AxisTop() const { return axisTop_; }
    // The start times of every check drawn, all engines, oldest first, without repeats.
    const std::vector<std::string>& Timeline() const { return timeline_; }

  private:
    std::vector<EngineHistory> engines_;
    int axisTop_ = 10;
    std::vector<std::string> timeline_;
};

// The step after `n` in the series 10, 20, 50, 100, 200, 500, ...
int NextRoundStep(int n);
// The host of a result link: after "scheme://", up to the first "/", "?" or "#", lower-case.
std::string SiteOf(const std::string& link);

}  // namespace rankcheck
