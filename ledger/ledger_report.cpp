// The Ledger's reading of outcomes: a check's keyword outcomes, the keywords a recheck searches,
// the report of a check with its comparisons, and the history of every check.
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "ledger/keyword_history.h"
#include "ledger/ledger.h"
#include "ledger/ledger_queries.h"

namespace rankcheck::ledger {

namespace {

using Kind = SqliteTransaction::Kind;

// Every keyword and URL of one check, in index order, with both ranks.
constexpr const char* kCheckPairs = R"sql(
SELECT ck.idx, ck.keyword_id, k.text, ck.state, ck.positions_examined, cu.idx, cu.url, cu.url_key,
       r.rank_contains, r.rank_exact, ck.trusted_check, ck.trusted_examined
FROM check_keywords ck
JOIN keywords k ON k.id = ck.keyword_id
JOIN check_urls cu ON cu.check_id = ck.check_id
LEFT JOIN ranks r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx AND r.url_idx = cu.idx
WHERE ck.check_id = ?1
ORDER BY ck.idx, cu.idx
)sql";

// One keyword and URL of a check as stored, its rank within `top`.
struct Pair {
    int keywordIndex;
    int64_t keywordId;
    std::string keyword;
    KeywordState state;
    int positionsExamined;
    int urlIndex;
    std::string url;
    std::string urlKey;
    std::optional<int> rank;
    std::optional<StoredTrust> trust;  // the keyword's last trusted check before, when kept
};

std::vector<Pair> LoadPairs(SqliteDb& db, int64_t check, RankMode mode, int top) {
    SqliteStatement s(db, kCheckPairs);
    s.BindInt(1, check);
    std::vector<Pair> pairs;
    while (s.Step()) {
        std::optional<int> rank = RankIn(s, 8, mode);
        if (rank && top > 0 && *rank > top) rank.reset();
        pairs.push_back({static_cast<int>(s.Int(0)), s.Int(1), s.String(2), KeywordStateAt(s, 3),
                         static_cast<int>(s.Int(4)), static_cast<int>(s.Int(5)), s.String(6),
                         s.String(7), rank, StoredTrustAt(s, 10)});
    }
    return pairs;
}

// One keyword and URL of a check a report is compared with by name.
struct Side {
    RankStatus status;
    std::optional<int> rank;
    int depth;
};

// The walk back through a keyword's history for one URL: the side it is compared with, like
// with like, and its last trusted rank.
struct Walk {
    std::optional<size_t> compared;   // the entry compared with
    std::optional<size_t> lastKnown;  // the latest trusted entry at any depth
    bool searched = false;            // some entry searched the keyword with this URL
};

Walk WalkBack(KeywordHistory& history, const std::string& urlKey, int depth) {
    Walk walk;
    for (size_t k = 0; history.Has(k); ++k) {
        const OutcomeKind outcome = history.Outcome(k);
        if (outcome.status == RankStatus::NotSearched) continue;
        const std::optional<std::optional<int>> rank = history.Rank(k, urlKey);
        if (!rank) continue;  // that check did not list the URL
        walk.searched = true;
        if (!rank->has_value() && !outcome.Trusted()) continue;
        if (!walk.lastKnown) walk.lastKnown = k;
        if (outcome.depth >= depth) {
            walk.compared = k;
            break;
        }
    }
    return walk;
}

bool Trusted(RankStatus status) {
    return status == RankStatus::Ranked || status == RankStatus::NotFound;
}

}  // namespace

// Outcomes ----------------------------------------------------------------------------------

std::vector<KeywordOutcome> Ledger::OutcomesOf(const CheckInfo& check, int top, int only) {
    KeywordHistory::Reader reader(*db_, check.engine, FolderOf(check), RankMode::Contains, top);
    std::unordered_map<int64_t, KeywordHistory> histories;
    SqliteStatement s(*db_, R"sql(
        SELECT keyword_id, state, positions_examined, trusted_check, trusted_examined
        FROM check_keywords WHERE check_id = ?1 AND (?2 < 0 OR idx = ?2) ORDER BY idx)sql");
    s.BindInt(1, check.id).BindInt(2, only);
    std::vector<KeywordOutcome> outcomes;
    while (s.Step()) {
        const KeywordEntry entry{check.id, check.startedAt, KeywordStateAt(s, 1),
                                 static_cast<int>(s.Int(2)), check.options.maxResults};
        std::optional<TrustedCheck> lastTrusted;
        if (NeedsHistory(entry, top)) {
            if (const std::optional<StoredTrust> kept = StoredTrustAt(s, 3)) {
                lastTrusted = reader.TrustedOf(*kept);
            } else {
                const int64_t keyword = s.Int(0);
                lastTrusted = histories.try_emplace(keyword, reader, keyword, check.id)
                                  .first->second.LastTrusted();
            }
        }
        outcomes.push_back(OutcomeOf(entry, lastTrusted, top));
    }
    return outcomes;
}

std::vector<KeywordOutcome> Ledger::Outcomes(int64_t check, int top) {
    SqliteTransaction read(*db_, Kind::Read);
    const CheckInfo info = RequireCheck(check, Counts::OfStates);
    std::vector<KeywordOutcome> outcomes = OutcomesOf(info, top);
    read.Commit();
    return outcomes;
}

KeywordOutcome Ledger::Outcome(int64_t check, int keywordIndex, int top) {
    SqliteTransaction read(*db_, Kind::Read);
    const CheckInfo info = RequireCheck(check, Counts::OfStates);
    std::vector<KeywordOutcome> outcomes = OutcomesOf(info, top, std::max(keywordIndex, 0));
    if (keywordIndex < 0 || outcomes.empty()) {
        Refuse("check " + std::to_string(check) + ", keyword " + std::to_string(keywordIndex) +
               ": the check has no keyword with that index");
    }
    read.Commit();
    return std::move(outcomes.front());
}

std::vector<RecheckKeyword> Ledger::KeywordsToRecheck(int64_t check) {
    SqliteTransaction read(*db_, Kind::Read);
    const CheckInfo info = RequireCheck(check, Counts::OfStates);
    const std::vector<KeywordOutcome> outcomes = OutcomesOf(info, 0);
    SqliteStatement s(*db_, R"sql(
        SELECT ck.idx, k.text FROM check_keywords ck JOIN keywords k ON k.id = ck.keyword_id
        WHERE ck.check_id = ?1 ORDER BY ck.idx)sql");
    s.BindInt(1, check);
    std::vector<RecheckKeyword> keywords;
    for (size_t i = 0; s.Step() && i < outcomes.size(); ++i) {
        if (outcomes[i].Trusted()) continue;
        keywords.push_back({static_cast<int>(s.Int(0)), s.String(1), outcomes[i]});
    }
    read.Commit();
    return keywords;
}

// Reports -----------------------------------------------------------------------------------

CheckReport Ledger::Report(int64_t check, RankMode mode) {
    ReportOptions options;
    options.mode = mode;
    return Report(check, options);
}

namespace {

// The keyword texts and URL keys of a check named to compare with, each with its side (a
// keyword or URL it lists twice counts by its first line).
using NamedSides = std::map<std::pair<int64_t, std::string>, Side>;

NamedSides SidesOf(std::vector<Pair> pairs, const std::vector<KeywordOutcome>& outcomes) {
    NamedSides sides;
    for (Pair& p : pairs) {
        const KeywordOutcome& o = outcomes.at(static_cast<size_t>(p.keywordIndex));
        sides.try_emplace({p.keywordId, std::move(p.urlKey)},
                          Side{p.rank ? RankStatus::Ranked : o.status, p.rank, o.depth});
    }
    return sides;
}

// A keyword's entry in the latest earlier check, with that check's ranks for its URLs.
struct Seed {
    KeywordEntry entry;
    int keywordIndex;
    std::optional<StoredTrust> trust;
    KeywordHistory::UrlRanks ranks;
};

// The latest earlier check of the engine in the folder usually answers every question of the
// walks back: it is read whole at once and given to each keyword's history. Empty when the
// check is the engine's first in the folder.
std::optional<std::unordered_map<int64_t, Seed>> LoadSeeds(SqliteDb& db, const CheckInfo& info,
                                                           const std::string& folder,
                                                           RankMode mode, int top) {
    SqliteStatement s(db,
                      "SELECT c.id, c.started_at, c.max_results FROM checks c WHERE "
                      "c.engine = ?1 AND c.id < ?2 AND " +
                          InFolder(3) + " ORDER BY c.id DESC LIMIT 1");
    s.BindText(1, info.engine).BindInt(2, info.id).BindBlob(3, folder);
    if (!s.Step()) return std::nullopt;
    const int64_t latest = s.Int(0);
    const std::string startedAt = s.String(1);
    const int maxResults = static_cast<int>(s.Int(2));
    s.Reset();
    std::unordered_map<int64_t, Seed> seeds;
    for (Pair& p : LoadPairs(db, latest, mode, top)) {
        auto [at, fresh] = seeds.try_emplace(
            p.keywordId,
            Seed{{latest, startedAt, p.state, p.positionsExamined, maxResults}, p.keywordIndex,
                 p.trust, {}});
        if (!fresh && at->second.keywordIndex != p.keywordIndex) continue;
        KeywordHistory::UrlRanks& ranks = at->second.ranks;
        const bool seen = std::any_of(ranks.begin(), ranks.end(),
                                      [&](const auto& r) { return r.first == p.urlKey; });
        if (!seen) ranks.emplace_back(std::move(p.urlKey), p.rank);
    }
    return seeds;
}

// A row's own side: its rank, or the keyword's outcome for a URL without one.
ReportRow RowOf(const Pair& p, const KeywordOutcome& outcome) {
    ReportRow row;
    row.keywordIndex = p.keywordIndex;
    row.keyword = p.keyword;
    row.urlIndex = p.urlIndex;
    row.url = p.url;
    row.keywordState = p.state;
    row.positionsExamined = p.positionsExamined;
    row.rank = p.rank;
    row.status = p.rank ? RankStatus::Ranked : outcome.status;
    if (!p.rank) row.note = outcome.note;
    return row;
}

// Compares a row with the check the report was asked to compare with. Not found at a depth the
// other side went beyond is "beyond", on either side.
void CompareWithNamed(ReportRow& row, const CheckInfo& named, const NamedSides& sides,
                      const Pair& p, int depth) {
    row.comparedCheck = named.id;
    row.comparedAt = named.startedAt;
    const auto found = sides.find({p.keywordId, p.urlKey});
    if (found == sides.end()) {
        row.previousStatus = RankStatus::NotSearched;
        return;
    }
    const Side& side = found->second;
    row.previousStatus = side.status;
    row.previousRank = side.rank;
    if (side.status == RankStatus::NotFound && side.depth < depth) {
        row.previousStatus = RankStatus::Beyond;
    }
    if (row.status == RankStatus::NotFound && side.depth > depth) {
        row.status = RankStatus::Beyond;
    }
}

// Walks back through the keyword's history: like with like when no check was named to compare
// with, and the last trusted rank of a row that is not trusted itself.
void CompareWithHistory(ReportRow& row, KeywordHistory& history, const Pair& p, int depth,
                        bool named, bool anyEarlier) {
    if (named && Trusted(row.status)) return;
    const Walk walk = WalkBack(history, p.urlKey, depth);
    if (!named && walk.compared) {
        const size_t k = *walk.compared;
        const KeywordEntry entry = history.Entry(k);
        row.comparedCheck = entry.check;
        row.comparedAt = entry.checkedAt;
        row.previousRank = *history.Rank(k, p.urlKey);
        row.previousStatus = row.previousRank ? RankStatus::Ranked : RankStatus::NotFound;
        if (row.status == RankStatus::NotFound && history.Outcome(k).depth > depth) {
            row.status = RankStatus::Beyond;
        }
    } else if (!named && anyEarlier && !walk.searched) {
        row.previousStatus = RankStatus::NotSearched;
    }
    if (!Trusted(row.status) && walk.lastKnown) {
        const size_t k = *walk.lastKnown;
        const KeywordEntry entry = history.Entry(k);
        row.lastKnownCheck = entry.check;
        row.lastKnownAt = entry.checkedAt;
        row.lastKnownRank = *history.Rank(k, p.urlKey);
    }
}

// The check most rows were compared with; the latest among those that tie (the map runs by id).
int64_t MostCompared(const std::map<int64_t, int>& comparedWith) {
    auto most = comparedWith.begin();
    for (auto at = comparedWith.begin(); at != comparedWith.end(); ++at) {
        if (at->second >= most->second) most = at;
    }
    return most->first;
}

}  // namespace

CheckReport Ledger::Report(int64_t check, const ReportOptions& options) {
    SqliteTransaction read(*db_, Kind::Read);
    CheckReport report;
    // Its suspect keywords are counted below, with the outcomes the rows need anyway.
    report.check = RequireCheck(check, Counts::OfStates);
    const CheckInfo& info = report.check;
    int suspects = 0;
    const int top = options.top;
    const std::string folder = FolderOf(info);

    std::optional<CheckInfo> named;
    NamedSides namedSides;
    if (options.compareWith) {
        named = RequireCheck(*options.compareWith);
        if (named->engine != info.engine) {
            Refuse("check " + std::to_string(named->id) + " is a " + named->engine + " check; " +
                   info.engine + "'s check " + std::to_string(check) +
                   " can only be compared with a check of " + info.engine);
        }
        namedSides =
            SidesOf(LoadPairs(*db_, named->id, options.mode, top), OutcomesOf(*named, top));
    }
    std::optional<std::unordered_map<int64_t, Seed>> seeds =
        LoadSeeds(*db_, info, folder, options.mode, top);

    KeywordHistory::Reader reader(*db_, info.engine, folder, options.mode, top);
    std::unordered_map<int64_t, KeywordHistory> histories;
    std::map<int64_t, int> comparedWith;  // check -> rows compared with it
    const std::vector<Pair> pairs = LoadPairs(*db_, check, options.mode, top);
    for (size_t i = 0; i < pairs.size();) {
        const Pair& line = pairs[i];
        auto [known, fresh] = histories.try_emplace(line.keywordId, reader, line.keywordId, check);
        KeywordHistory& history = known->second;
        if (fresh && seeds) {
            if (const auto seed = seeds->find(line.keywordId); seed != seeds->end()) {
                history.Seed(seed->second.entry, seed->second.keywordIndex, seed->second.trust,
                             std::move(seed->second.ranks));
            }
        }
        const KeywordEntry own{check, info.startedAt, line.state, line.positionsExamined,
                               info.options.maxResults};
        std::optional<TrustedCheck> lastTrusted;
        if (NeedsHistory(own, top)) {
            lastTrusted = line.trust ? reader.TrustedOf(*line.trust) : history.LastTrusted();
        }
        const KeywordOutcome outcome = OutcomeOf(own, lastTrusted, top);
        suspects += outcome.status == RankStatus::Suspect;
        for (; i < pairs.size() && pairs[i].keywordIndex == line.keywordIndex; ++i) {
            const Pair& p = pairs[i];
            ReportRow row = RowOf(p, outcome);
            if (named) CompareWithNamed(row, *named, namedSides, p, outcome.depth);
            CompareWithHistory(row, history, p, outcome.depth, named.has_value(),
                               seeds.has_value());
            row.change = ChangeText(row.status, row.rank, row.previousStatus, row.previousRank);
            if (row.comparedCheck) ++comparedWith[*row.comparedCheck];
            report.rows.push_back(std::move(row));
        }
    }

    if (top == 0 && !pairs.empty()) {
        report.check.keywordsSuspect = suspects;
    } else {
        report.check = RequireCheck(check);  // no URLs, or outcomes within --top
    }
    if (named) {
        report.compared = std::move(named);
    } else if (!comparedWith.empty()) {
        report.compared = RequireCheck(MostCompared(comparedWith));
    }
    read.Commit();
    return report;
}

namespace {

// A history row before its texts are filled in; sorted by the ordinals.
struct HistoryEntry {
    int engine;   // ordinal of the engine name
    int keyword;  // ordinal of the keyword text
    int url;      // ordinal of the URL key
    int64_t check;
    int keywordIndex;
    int urlIndex;
    int rank;  // 0: none
    KeywordState state;
    int positionsExamined;

    auto Order() const { return std::tie(engine, keyword, url, check, keywordIndex, urlIndex); }
};

struct HistoryCheck {
    int engine;
    std::string startedAt;
    int maxResults;
};

// Gives each distinct text an ordinal in byte order.
class Ordinals {
  public:
    void Add(const std::string& text) { texts_.push_back(text); }
    void Sort() {
        std::sort(texts_.begin(), texts_.end());
        texts_.erase(std::unique(texts_.begin(), texts_.end()), texts_.end());
    }
    int Of(const std::string& text) const {
        return static_cast<int>(std::lower_bound(texts_.begin(), texts_.end(), text) -
                                texts_.begin());
    }
    const std::string& Text(int ordinal) const { return texts_[static_cast<size_t>(ordinal)]; }

  private:
    std::vector<std::string> texts_;
};

}  // namespace

void Ledger::History(const HistoryFilter& filter,
                     const std::function<void(const HistoryRow&)>& emit) {
    SqliteTransaction read(*db_, Kind::Read);

    // The small tables first: checks, their URLs, the keywords.
    Ordinals engines;
    {
        SqliteStatement s(*db_, "SELECT DISTINCT engine FROM checks");
        while (s.Step())
            engines.Add(s.String(0));
        engines.Sort();
    }
    std::unordered_map<int64_t, HistoryCheck> checks;
    {
        SqliteStatement s(
            *db_, "SELECT id, engine, started_at, max_results FROM checks c WHERE " + InFolder(1));
        s.BindBlob(1, folder_);
        while (s.Step()) {
            checks.emplace(s.Int(0), HistoryCheck{engines.Of(s.String(1)), s.String(2),
                                                  static_cast<int>(s.Int(3))});
        }
    }
    // (check, URL index) -> URL as written, and its key's ordinal.
    std::map<std::pair<int64_t, int>, std::pair<std::string, int>> urls;
    Ordinals urlKeys;
    {
        SqliteStatement s(*db_, "SELECT check_id, idx, url, url_key FROM check_urls");
        std::vector<std::pair<std::pair<int64_t, int>, std::pair<std::string, std::string>>> rows;
        while (s.Step()) {
            rows.push_back({{s.Int(0), static_cast<int>(s.Int(1))}, {s.String(2), s.String(3)}});
            urlKeys.Add(rows.back().second.second);
        }
        urlKeys.Sort();
        for (auto& [at, url] : rows)
            urls.emplace(at, std::make_pair(std::move(url.first), urlKeys.Of(url.second)));
    }
    std::unordered_map<int64_t, int> keywordOrdinal;
    Ordinals keywords;
    {
        SqliteStatement s(*db_, "SELECT id, text FROM keywords");
        std::vector<std::pair<int64_t, std::string>> rows;
        while (s.Step()) {
            rows.emplace_back(s.Int(0), s.String(1));
            keywords.Add(rows.back().second);
        }
        keywords.Sort();
        for (const auto& [id, text] : rows)
            keywordOrdinal.emplace(id, keywords.Of(text));
    }

    // Then every keyword and URL of every selected check, as numbers. The filters are fixed
    // clauses with bound values.
    std::string sql = R"sql(
        SELECT ck.check_id, ck.idx, ck.keyword_id, ck.state, ck.positions_examined, cu.idx,
               r.rank_contains, r.rank_exact, ck.trusted_check, ck.trusted_examined
        FROM check_keywords ck
        JOIN checks c ON c.id = ck.check_id
        JOIN check_urls cu ON cu.check_id = ck.check_id
        LEFT JOIN ranks r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx AND r.url_idx = cu.idx
        WHERE )sql" + InFolder(4);
    if (filter.engine) sql += " AND c.engine = ?1";
    if (filter.keyword) sql += " AND ck.keyword_id = (SELECT id FROM keywords WHERE text = ?2)";
    if (filter.url) sql += " AND cu.url_key = ?3";
    SqliteStatement s(*db_, sql);
    if (filter.engine) s.BindText(1, *filter.engine);
    if (filter.keyword) s.BindBlob(2, *filter.keyword);
    if (filter.url) s.BindBlob(3, *filter.url);
    s.BindBlob(4, folder_);

    std::vector<HistoryEntry> entries;
    // The keyword lines done short of their positions without a rank: their outcome rests on
    // their last trusted check, kept with them or, where it is not (version 1), worked out from
    // the history of their keyword.
    std::map<std::pair<int64_t, int>, StoredTrust> kept;
    std::set<int64_t> needHistory;
    while (s.Step()) {
        const int64_t check = s.Int(0);
        const int urlIndex = static_cast<int>(s.Int(5));
        const auto url = urls.find({check, urlIndex});
        const auto keyword = keywordOrdinal.find(s.Int(2));
        const auto info = checks.find(check);
        if (url == urls.end() || keyword == keywordOrdinal.end() || info == checks.end()) continue;
        const HistoryEntry& e = entries.emplace_back(HistoryEntry{
            info->second.engine, keyword->second, url->second.second, check,
            static_cast<int>(s.Int(1)), urlIndex, RankIn(s, 6, filter.mode).value_or(0),
            KeywordStateAt(s, 3), static_cast<int>(s.Int(4))});
        // As NeedsHistory, without building an entry for every row.
        if (e.rank == 0 && e.state == KeywordState::Done && e.positionsExamined > 0 &&
            e.positionsExamined < info->second.maxResults) {
            if (const std::optional<StoredTrust> trust = StoredTrustAt(s, 8)) {
                kept.emplace(std::make_pair(check, e.keywordIndex), *trust);
            } else {
                needHistory.insert(s.Int(2));
            }
        }
    }
    // The outcome of a keyword done short of its positions whose last trusted check is not kept
    // (version 1), from its history in the folder (in every check of its engine, whatever the
    // filter keeps).
    std::map<std::pair<int64_t, int>, KeywordOutcome> outcomes;
    HistoryOutcomes(*db_, filter.engine.value_or(""), folder_,
                    {needHistory.begin(), needHistory.end()},
                    [&](int64_t check, int keywordIndex, const KeywordOutcome& outcome) {
                        outcomes.emplace(std::make_pair(check, keywordIndex), outcome);
                    });
    read.Commit();

    std::sort(entries.begin(), entries.end(),
              [](const HistoryEntry& a, const HistoryEntry& b) { return a.Order() < b.Order(); });
    HistoryRow row;
    const HistoryEntry* last = nullptr;
    for (const HistoryEntry& e : entries) {
        // A keyword or URL key listed twice in one check: its first line stands for it.
        if (last != nullptr && last->engine == e.engine && last->keyword == e.keyword &&
            last->url == e.url && last->check == e.check) {
            continue;
        }
        last = &e;
        const HistoryCheck& info = checks.at(e.check);
        row.engine = engines.Text(e.engine);
        row.checkId = e.check;
        row.checkedAt = info.startedAt;
        row.keyword = keywords.Text(e.keyword);
        row.url = urls.at({e.check, e.urlIndex}).first;
        row.rank = e.rank > 0 ? std::optional<int>(e.rank) : std::nullopt;
        row.keywordState = e.state;
        row.note.clear();
        row.status = RankStatus::Ranked;
        if (!row.rank) {
            // Most rows are told by their own figures; only a suspect one needs words.
            const KeywordEntry entry{e.check, {}, e.state, e.positionsExamined, info.maxResults};
            std::optional<TrustedCheck> trusted;
            if (NeedsHistory(entry)) {
                const auto trust = kept.find({e.check, e.keywordIndex});
                if (trust == kept.end()) {
                    const KeywordOutcome& outcome = outcomes.at({e.check, e.keywordIndex});
                    row.status = outcome.status;
                    row.note = outcome.note;
                    emit(row);
                    continue;
                }
                if (trust->second.check > 0) {
                    const auto at = checks.find(trust->second.check);
                    trusted =
                        TrustedCheck{trust->second.check,
                                     at != checks.end() ? at->second.startedAt : std::string(),
                                     trust->second.examined};
                }
            }
            const std::optional<int> trustedExamined =
                trusted ? std::optional<int>(trusted->examined) : std::nullopt;
            row.status =
                KindOf(e.state, e.positionsExamined, info.maxResults, trustedExamined).status;
            if (row.status == RankStatus::Suspect) row.note = OutcomeOf(entry, trusted).note;
        }
        emit(row);
    }
}

std::vector<HistoryRow> Ledger::History(const HistoryFilter& filter) {
    std::vector<HistoryRow> rows;
    History(filter, [&](const HistoryRow& row) { rows.push_back(row); });
    return rows;
}

}  // namespace rankcheck::ledger
