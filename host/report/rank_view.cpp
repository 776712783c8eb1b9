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

// A rank beyond `top` is not found, and no more positions than `top` count as examined.
void CutAtTop(ReportRow& row, int top, int maxResults) {
    if (top <= 0) return;
    if (row.rank && *row.rank > top) row.rank.reset();
    row.status = ledger::StatusOf(row.keywordState, std::min(row.positionsExamined, top),
                                  std::min(maxResults, top), row.rank);
    if (row.previousRank && *row.previousRank > top) {
        row.previousRank.reset();
        row.previousStatus = RankStatus::NotFound;
    }
    if (row.lastKnownRank && *row.lastKnownRank > top) row.lastKnownRank.reset();
}

// Ranks by keyword text and URL key.
using ComparedRanks =
    std::map<std::pair<std::string, std::string>, std::pair<RankStatus, std::optional<int>>>;

// The ranks of check `id`, which `engine`'s check is compared with instead of its previous
// complete check (`engine.compared` is set to it). Raises when it is another engine's check.
ComparedRanks CompareWith(ledger::Ledger& ledger, int64_t id, RankView::Engine& engine,
                          ledger::RankMode mode, int top) {
    const ledger::CheckInfo other = ledger.Check(id);
    if (other.engine != engine.name) {
        throw ledger::LedgerError("check " + std::to_string(other.id) + " is a " + other.engine +
                                  " check; " + engine.name + "'s check " +
                                  std::to_string(engine.check->id) +
                                  " can only be compared with a check of " + engine.name);
    }
    engine.compared = other;
    ComparedRanks compared;
    const std::vector<std::string> keys = UrlKeys(ledger, other.id);
    for (const ReportRow& row : ledger.Report(other.id, mode).rows) {
        ReportRow cut = row;
        CutAtTop(cut, top, other.options.maxResults);
        compared.try_emplace({row.keyword, keys.at(row.urlIndex)}, cut.status, cut.rank);
    }
    return compared;
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
        ledger::CheckReport report = ledger.Report(engine.check->id, mode);
        engine.compared = report.previous;

        const ComparedRanks compared =
            request.compare ? CompareWith(ledger, *request.compare, engine, mode, request.top)
                            : ComparedRanks{};
        const std::vector<std::string> keys = UrlKeys(ledger, engine.check->id);
        for (ReportRow& row : report.rows) {
            const std::string& key = keys.at(row.urlIndex);
            if (request.compare) {
                const auto found = compared.find({row.keyword, key});
                row.previousStatus =
                    found == compared.end() ? RankStatus::NotSearched : found->second.first;
                row.previousRank = found == compared.end() ? std::nullopt : found->second.second;
            }
            CutAtTop(row, request.top, engine.check->options.maxResults);
            row.change =
                ledger::ChangeText(row.status, row.rank, row.previousStatus, row.previousRank);

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
    if (cell->status == RankStatus::Partial) {
        return StatusWords(cell->status, cell->rank) + " (" +
               std::to_string(cell->positionsExamined) + " of " + std::to_string(maxResults) + ")";
    }
    if (cell->status == RankStatus::Error && cell->lastKnownAt) {
        const std::string last = cell->lastKnownRank ? std::to_string(*cell->lastKnownRank) : "-";
        return StatusWords(cell->status, cell->rank) + " (last " + last + " on " +
               cell->lastKnownAt->substr(0, 10) + ")";
    }
    return StatusWords(cell->status, cell->rank);
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
