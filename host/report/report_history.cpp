#include "host/report/report_history.h"

#include <algorithm>
#include <set>

#include "host/report/ledger_urls.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;

// A rank and its status after --top: a position beyond it is not found, and no more positions
// than `top` count as examined.
ReportHistory::Point PointOf(const ledger::CheckedKeyword& keyword, std::optional<int> rank,
                             int maxResults, int top, size_t check) {
    int examined = keyword.positionsExamined;
    if (top > 0) {
        if (rank && *rank > top) rank.reset();
        examined = std::min(examined, top);
        maxResults = std::min(maxResults, top);
    }
    return {check, ledger::StatusOf(keyword.state, examined, maxResults, rank), rank};
}

// The keyword's top list in the check shown: its first links with the user's marked, the user's
// best URL within --top, and the distinct sites above it.
ReportHistory::TopList TopListOf(ledger::Ledger& ledger, const ledger::CheckInfo& check,
                                 const ledger::CheckDetail& detail,
                                 const ledger::CheckedKeyword& keyword, ledger::RankMode mode,
                                 int top) {
    ReportHistory::TopList list;
    list.check = check.id;
    list.state = keyword.state;
    list.positionsExamined = keyword.positionsExamined;
    for (size_t u = 0; u < detail.urls.size() && u < keyword.ranks.size(); ++u) {
        std::optional<int> rank = keyword.ranks[u].In(mode);
        if (rank && top > 0 && *rank > top) rank.reset();
        if (rank && (!list.best || *rank < *list.best)) {
            list.best = rank;
            list.bestUrl = ShownUrl(detail.urls[u].text);
        }
    }
    const std::vector<std::string> links = ledger.ResultList(check.id, keyword.index);
    for (size_t i = 0; i < links.size() && i < ReportHistory::kTopLinks; ++i) {
        bool mine = false;
        for (const ledger::UrlRank& rank : RanksOf({links[i]}, detail.urls))
            mine = mine || rank.In(mode).has_value();
        list.links.push_back(links[i]);
        list.mine.push_back(mine);
    }
    const size_t aboveEnd = list.best ? static_cast<size_t>(*list.best - 1) : links.size();
    std::set<std::string> sites;
    for (size_t i = 0; i < aboveEnd && i < links.size(); ++i) {
        std::string site = SiteOf(links[i]);
        if (sites.insert(site).second)
            list.above.push_back({std::move(site), static_cast<int>(i + 1)});
    }
    return list;
}

}  // namespace

int NextRoundStep(int n) {
    int scale = 1;
    while (n >= scale * 10)
        scale *= 10;
    const int lead = n / scale;
    return lead < 2 ? 2 * scale : lead < 5 ? 5 * scale : 10 * scale;
}

std::string SiteOf(const std::string& link) {
    size_t from = link.find("://");
    from = from == std::string::npos ? 0 : from + 3;
    const size_t to = link.find_first_of("/?#", from);
    std::string site = link.substr(from, to == std::string::npos ? std::string::npos : to - from);
    for (char& c : site) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return site;
}

ReportHistory ReportHistory::Build(ledger::Ledger& ledger, const RankView& view, size_t maxChecks) {
    ReportHistory history;
    const RankViewRequest& request = view.Request();
    const ledger::RankMode mode =
        request.exactMatch ? ledger::RankMode::Exact : ledger::RankMode::Contains;
    int largest = 1;
    for (const RankView::Engine& engine : view.Engines()) {
        EngineHistory& out = history.engines_.emplace_back();
        if (!engine.check) continue;
        for (const ledger::CheckInfo& check : ledger.Checks(engine.name)) {
            if (check.id <= engine.check->id) out.checks.push_back(check);
        }
        if (out.checks.size() > maxChecks && maxChecks > 0)
            out.checks.erase(out.checks.begin(),
                             out.checks.end() - static_cast<std::ptrdiff_t>(maxChecks));

        for (size_t c = 0; c < out.checks.size(); ++c) {
            const ledger::CheckInfo& check = out.checks[c];
            history.timeline_.push_back(check.startedAt);
            const ledger::CheckDetail detail = ledger.LoadCheck(check.id);
            const bool shown = c + 1 == out.checks.size();
            std::set<std::pair<std::string, std::string>>
                seen;  // a text listed twice: its first line
            std::set<std::string> seenKeywords;
            for (const ledger::CheckedKeyword& keyword : detail.keywords) {
                for (size_t u = 0; u < detail.urls.size() && u < keyword.ranks.size(); ++u) {
                    std::pair<std::string, std::string> id{keyword.text, detail.urls[u].Key()};
                    if (!seen.insert(id).second) continue;
                    Point point = PointOf(keyword, keyword.ranks[u].In(mode),
                                          check.options.maxResults, request.top, c);
                    if (point.rank) largest = std::max(largest, *point.rank);
                    auto [at, fresh] = out.series.try_emplace(std::move(id));
                    if (fresh) {
                        at->second.resize(out.checks.size());
                        for (size_t i = 0; i < out.checks.size(); ++i)
                            at->second[i].check = i;
                    }
                    at->second[c] = point;
                }
                if (shown && seenKeywords.insert(keyword.text).second)
                    out.top.emplace(keyword.text,
                                    TopListOf(ledger, check, detail, keyword, mode, request.top));
            }
        }
    }
    while (history.axisTop_ < largest)
        history.axisTop_ = NextRoundStep(history.axisTop_);
    std::sort(history.timeline_.begin(), history.timeline_.end());
    history.timeline_.erase(std::unique(history.timeline_.begin(), history.timeline_.end()),
                            history.timeline_.end());
    return history;
}

const std::vector<ReportHistory::Point>& ReportHistory::Series(size_t engine,
                                                               const std::string& keyword,
                                                               const std::string& urlKey) const {
    static const std::vector<Point> kNone;
    if (engine >= engines_.size()) return kNone;
    const auto found = engines_[engine].series.find({keyword, urlKey});
    return found == engines_[engine].series.end() ? kNone : found->second;
}

const ReportHistory::TopList* ReportHistory::Top(size_t engine, const std::string& keyword) const {
    if (engine >= engines_.size()) return nullptr;
    const auto found = engines_[engine].top.find(keyword);
    return found == engines_[engine].top.end() ? nullptr : &found->second;
}

}  // namespace rankcheck
