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

// The checks of `picks` by engine, each the check of the engine named with it.
std::map<std::string, ledger::CheckInfo> Picked(ledger::Ledger& ledger,
                                                const std::vector<CheckPick>& picks,
                                                const char* what) {
    std::map<std::string, ledger::CheckInfo> byEngine;
    for (const CheckPick& pick : picks) {
        const ledger::CheckInfo check = ledger.Check(pick.id);
        if (!pick.engine.empty() && pick.engine != check.engine) {
            throw ledger::LedgerError(std::string(what) + " " + std::to_string(pick.id) +
                                      ": check " + std::to_string(pick.id) + " is " + check.engine +
                                      "'s, not " + pick.engine + "'s");
        }
        if (!byEngine.emplace(check.engine, check).second) {
            throw ledger::LedgerError(std::string(what) + ": two checks of " + check.engine + " (" +
                                      std::to_string(byEngine.at(check.engine).id) + " and " +
                                      std::to_string(pick.id) + "); give one each");
        }
    }
    return byEngine;
}

// The engine's latest check begun on or before `day`.
std::optional<ledger::CheckInfo> LatestOnOrBefore(ledger::Ledger& ledger, const std::string& engine,
                                                  const std::string& day) {
    std::optional<ledger::CheckInfo> latest;
    for (ledger::CheckInfo& check : ledger.Checks(engine)) {
        if (check.startedAt.substr(0, 10) <= day) latest = std::move(check);
    }
    return latest;
}

}  // namespace

bool IsCalendarDate(const std::string& day) {
    if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (day[i] < '0' || day[i] > '9') return false;
    const int year = std::stoi(day.substr(0, 4)), month = std::stoi(day.substr(5, 2)),
              date = std::stoi(day.substr(8, 2));
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && date >= 1 && date <= days[month - 1];
}

std::vector<ShownCheck> ShownChecks(ledger::Ledger& ledger, const RankViewRequest& request) {
    const std::map<std::string, ledger::CheckInfo> picked =
        Picked(ledger, request.checks, "--check");
    std::map<std::string, ledger::CheckInfo> compared =
        Picked(ledger, request.compare, "--compare");
    std::vector<ShownCheck> shown;
    if (!picked.empty() && request.at.empty()) {
        // The engines of the checks picked, in the order of `engines`, then any other.
        for (const std::string& name : request.engines)
            if (picked.count(name) != 0) shown.push_back({name, picked.at(name), std::nullopt});
        for (const auto& [name, check] : picked)
            if (std::find(request.engines.begin(), request.engines.end(), name) ==
                request.engines.end())
                shown.push_back({name, check, std::nullopt});
    } else {
        for (const std::string& name : request.engines) {
            if (picked.count(name) != 0)
                shown.push_back({name, picked.at(name), std::nullopt});
            else if (!request.at.empty())
                shown.push_back({name, LatestOnOrBefore(ledger, name, request.at), std::nullopt});
            else
                shown.push_back({name, ledger.LatestCheck(name), std::nullopt});
        }
    }
    for (ShownCheck& engine : shown) {
        const auto with = compared.find(engine.engine);
        if (with == compared.end()) continue;
        engine.compareWith = with->second.id;
        compared.erase(with);
    }
    if (!compared.empty()) {
        const ledger::CheckInfo& stray = compared.begin()->second;
        throw ledger::LedgerError("--compare " + std::to_string(stray.id) + ": check " +
                                  std::to_string(stray.id) + " is " + stray.engine +
                                  "'s, and the report shows no check of " + stray.engine);
    }
    return shown;
}

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

    const std::vector<ShownCheck> shown = ShownChecks(ledger, request);
    for (const ShownCheck& engine : shown)
        view.engines_.push_back({engine.engine, engine.check, std::nullopt});

    std::map<std::pair<std::string, std::string>, size_t> rowOf;
    for (size_t e = 0; e < view.engines_.size(); ++e) {
        Engine& engine = view.engines_[e];
        if (!engine.check) continue;
        // The ledger applies --top and --compare, to this check and to those it is compared with.
        ledger::ReportOptions options;
        options.mode = mode;
        options.top = request.top;
        options.compareWith = shown[e].compareWith;
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

std::string ShortCellText(const std::optional<ledger::ReportRow>& cell, int maxResults,
                          const std::string& checkedAt) {
    if (!cell) return CellText(cell, maxResults);
    switch (cell->status) {
        case RankStatus::Partial:
            return "part (" + std::to_string(cell->positionsExamined) + "/" +
                   std::to_string(maxResults) + ")";
        case RankStatus::Suspect:
        case RankStatus::Error: {
            const std::string words = cell->status == RankStatus::Error ? "err" : "susp";
            if (!cell->lastKnownAt) return CellText(cell, maxResults);
            const std::string& at = *cell->lastKnownAt;
            const bool sameYear = at.size() >= 10 && checkedAt.compare(0, 4, at, 0, 4) == 0;
            const std::string date = sameYear ? at.substr(5, 5) : at.substr(0, 10);
            const std::string last =
                cell->lastKnownRank ? std::to_string(*cell->lastKnownRank) : "-";
            return words + " (" + last + ", " + date + ")";
        }
        default:
            return CellText(cell, maxResults);
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
