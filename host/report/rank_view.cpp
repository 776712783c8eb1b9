#include "host/report/rank_view.h"

#include <algorithm>
#include <map>

#include "jobfiles/url_match.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;
using ledger::ReportRow;

// The URL keys of a check, by URL index.
std::vector<std::string> UrlKeys(ledger::Ledger& ledger, int64_t check) {
    std::vector<std::string> keys;
    for (const ledger::UserUrl& url : ledger.LoadCheck(check).urls)
        keys.push_back(url.Key());
    return keys;
}

}  // namespace

std::string ShownUrl(const std::string& text) {
    try {
        return jobfiles::NormaliseUrl(text);
    } catch (const std::exception&) {
        return text;
    }
}

RankView RankView::Build(ledger::Ledger& ledger, const RankViewRequest& request) {
    RankView view;
    view.request_ = request;
    const ledger::RankMode mode =
        request.exactMatch ? ledger::RankMode::Exact : ledger::RankMode::Contains;

    if (request.check) {
        const ledger::CheckInfo check = ledger.Check(*request.check);
        view.engines_.push_back({check.engine, check, std::nullopt});
    } else {
        for (const std::string& name : request.engines)
            view.engines_.push_back({name, ledger.LatestCheck(name), std::nullopt});
    }

    std::map<std::pair<std::string, std::string>, size_t> rowOf;
    for (size_t e = 0; e < view.engines_.size(); ++e) {
        Engine& engine = view.engines_[e];
        if (!engine.check) continue;
        // The ledger applies --top and --compare, to this check and to those it is compared with.
        ledger::ReportOptions options;
        options.mode = mode;
        options.top = request.top;
        options.compareWith = request.compare;
        ledger::CheckReport report = ledger.Report(engine.check->id, options);
        engine.compared = report.compared;
        engine.state = ledger::StateWords(
            *engine.check, request.lockFree ? request.lockFree(*engine.check) : false);

        const std::vector<std::string> keys = UrlKeys(ledger, engine.check->id);
        for (ReportRow& row : report.rows) {
            const std::string& key = keys.at(row.urlIndex);
            const auto [at, fresh] = rowOf.try_emplace({row.keyword, key}, view.rows_.size());
            if (fresh) {
                view.rows_.push_back({row.keyword, ShownUrl(row.url), key, {}});
                view.rows_.back().cells.resize(view.engines_.size());
            }
            std::optional<ReportRow>& cell = view.rows_[at->second].cells[e];
            if (!cell) cell = std::move(row);  // a keyword listed twice: its first line
        }
    }
    // Keep the rows of one keyword together: keywords in their first appearance's order.
    std::map<std::string, size_t> keywordOrder;
    for (const Row& row : view.rows_)
        keywordOrder.try_emplace(row.keyword, keywordOrder.size());
    std::stable_sort(view.rows_.begin(), view.rows_.end(), [&](const Row& a, const Row& b) {
        return keywordOrder.at(a.keyword) < keywordOrder.at(b.keyword);
    });
    return view;
}

std::string ShortTime(const std::string& iso) {
    // 2026-12-08T04:21:16Z
    if (iso.size() < 16) return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 5) + " UTC";
}

std::string StatusWords(RankStatus status, std::optional<int> rank) {
    if (status == RankStatus::Ranked) return rank ? std::to_string(*rank) : "?";
    if (status == RankStatus::NotFound) return "-";
    std::string words = ledger::Name(status);
    std::replace(words.begin(), words.end(), '_', ' ');
    return words;
}

std::string CellText(const std::optional<ledger::ReportRow>& cell, int maxResults) {
    if (!cell) return StatusWords(RankStatus::NotSearched, std::nullopt);
    const std::string words = StatusWords(cell->status, cell->rank);
    switch (cell->status) {
        case RankStatus::Partial:
            return words + " (" + std::to_string(cell->positionsExamined) + " of " +
                   std::to_string(maxResults) + ")";
        case RankStatus::Beyond:
            return words + " " + std::to_string(cell->positionsExamined);
        case RankStatus::Suspect:
        case RankStatus::Error: {
            if (!cell->lastKnownAt) return words;
            const std::string last =
                cell->lastKnownRank ? std::to_string(*cell->lastKnownRank) : "-";
            return words + " (last " + last + " on " + cell->lastKnownAt->substr(0, 10) + ")";
        }
        default:
            return words;
    }
}

std::string ChangeMark(const std::optional<ledger::ReportRow>& cell) {
    if (!cell || cell->change.empty()) return "";
    const std::string& change = cell->change;
    if (change == "new" || change == "lost") return change;
    if (change == "0") return "=";
    if (change[0] == '-') return "\u25BC" + change.substr(1);
    return "\u25B2" + change;
}

}  // namespace rankcheck
