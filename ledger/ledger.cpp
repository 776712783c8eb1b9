#include "ledger/ledger.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <unordered_map>

#include "ledger/id_list.h"
#include "ledger/schema.h"

namespace rankcheck::ledger {

namespace {

using Kind = SqliteTransaction::Kind;

// A check's row with its keyword counts; the WHERE clause selects the check ids.
constexpr const char* kCheckColumns = R"sql(
SELECT c.id, c.engine, c.started_at, c.ended_at, c.state, c.imported, c.max_results,
       c.stop_when_all_found, c.exact_match, c.keywords_hash,
       COUNT(k.idx), COALESCE(SUM(k.state = 'done'), 0), COALESCE(SUM(k.state = 'given_up'), 0),
       COALESCE(SUM(k.state = 'partial'), 0)
FROM checks c LEFT JOIN check_keywords k ON k.check_id = c.id
)sql";

// Every keyword and URL of one check, in index order, with both ranks.
constexpr const char* kCheckPairs = R"sql(
SELECT ck.idx, ck.keyword_id, k.text, ck.state, ck.positions_examined, cu.idx, cu.url, cu.url_key,
       r.rank_contains, r.rank_exact
FROM check_keywords ck
JOIN keywords k ON k.id = ck.keyword_id
JOIN check_urls cu ON cu.check_id = ck.check_id
LEFT JOIN ranks r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx AND r.url_idx = cu.idx
WHERE ck.check_id = ?1
ORDER BY ck.idx, cu.idx
)sql";

// Earlier checks of one engine that had a keyword and a URL key, latest first.
constexpr const char* kEarlierPairs = R"sql(
SELECT c.id, c.started_at, c.max_results, ck.state, ck.positions_examined, r.rank_contains,
       r.rank_exact
FROM check_keywords ck
JOIN checks c ON c.id = ck.check_id
JOIN check_urls cu ON cu.check_id = ck.check_id AND cu.url_key = ?3
LEFT JOIN ranks r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx AND r.url_idx = cu.idx
WHERE ck.keyword_id = ?1 AND ck.check_id < ?2 AND c.engine = ?4
ORDER BY ck.check_id DESC, ck.idx, cu.idx
)sql";

std::optional<int> RankIn(const SqliteStatement& s, int containsColumn, RankMode mode) {
    const auto value = s.OptionalInt(mode == RankMode::Exact ? containsColumn + 1 : containsColumn);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

KeywordState KeywordStateAt(const SqliteStatement& s, int column) {
    // The schema's CHECK constraint admits the four names only.
    return KeywordStateNamed(s.Bytes(column)).value_or(KeywordState::NotReached);
}

}  // namespace

struct Ledger::Statements {
    explicit Statements(SqliteDb& db)
        : keywordSelect(db, "SELECT id FROM keywords WHERE text = ?1"),
          keywordInsert(db, "INSERT INTO keywords(text) VALUES(?1)"),
          linkSelect(db, "SELECT id FROM links WHERE text = ?1"),
          linkInsert(db, "INSERT INTO links(text) VALUES(?1)") {}
    SqliteStatement keywordSelect;
    SqliteStatement keywordInsert;
    SqliteStatement linkSelect;
    SqliteStatement linkInsert;
};

Ledger::Ledger(const std::string& path) : Ledger(path, Options{}) {}

Ledger::Ledger(const std::string& path, const Options& options) {
    const int flags = (options.readOnly ? SQLITE_OPEN_READONLY
                                        : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_NOMUTEX;
    db_ = std::make_unique<SqliteDb>(path, flags);
    db_->SetBusyTimeout(options.busyTimeoutMs);
    // The first statement that reads the file: a file that is not a database fails here.
    db_->Exec("PRAGMA foreign_keys = ON");
    if (options.readOnly) {
        const int version = ledger::SchemaVersion(*db_);
        const int latest = static_cast<int>(SchemaSteps().size());
        if (version > latest) MigrateSchema(*db_, SchemaSteps());  // raises the refusal
        if (version < latest) {
            Refuse("the ledger has schema version " + std::to_string(version) +
                   " and must be brought to version " + std::to_string(latest) +
                   " by a command that writes to it");
        }
    } else {
        // Readers go on reading while the one writer commits.
        SqliteStatement wal(*db_, "PRAGMA journal_mode = WAL");
        while (wal.Step()) {
        }
        db_->Exec(options.durableCommits ? "PRAGMA synchronous = FULL"
                                         : "PRAGMA synchronous = NORMAL");
        // A run commits once per keyword, a few dozen pages each. Checkpointing every 10,000
        // pages (about 40 MB of WAL) instead of every 1,000 copies a page that many commits
        // touch once rather than ten times and flushes a tenth as often (0.46 s against 0.62 s
        // per 500-keyword check in bench_ledger, at a load of 4).
        db_->Exec("PRAGMA wal_autocheckpoint = 10000");
        MigrateSchema(*db_, SchemaSteps());
    }
    // Recording looks up every link by its text in an index that grows by about 1,500 links a
    // day; a cache of up to 64 MiB holds a year of it, where SQLite's default 2 MiB would read
    // most lookups from the file again.
    db_->Exec("PRAGMA cache_size = -65536");
    statements_ = std::make_unique<Statements>(*db_);
}

// The statements are finalized before the connection closes.
Ledger::~Ledger() { statements_.reset(); }

const std::string& Ledger::Path() const { return db_->Path(); }

int Ledger::SchemaVersion() { return ledger::SchemaVersion(*db_); }

void Ledger::Refuse(const std::string& message) const {
    throw LedgerError(db_->Path() + ": " + message);
}

namespace {

CheckInfo ReadCheck(const SqliteStatement& s) {
    CheckInfo info;
    info.id = s.Int(0);
    info.engine = s.String(1);
    info.startedAt = s.String(2);
    if (!s.IsNull(3)) info.endedAt = s.String(3);
    info.state = CheckStateNamed(s.Bytes(4)).value_or(CheckState::Failed);
    info.imported = s.Int(5) != 0;
    info.options.maxResults = static_cast<int>(s.Int(6));
    info.options.stopWhenAllFound = s.Int(7) != 0;
    info.options.exactMatch = s.Int(8) != 0;
    info.keywordsHash = s.String(9);
    info.keywordsTotal = static_cast<int>(s.Int(10));
    info.keywordsDone = static_cast<int>(s.Int(11));
    info.keywordsGivenUp = static_cast<int>(s.Int(12));
    info.keywordsPartial = static_cast<int>(s.Int(13));
    return info;
}

int64_t Intern(SqliteDb& db, SqliteStatement& select, SqliteStatement& insert,
               const std::string& text) {
    select.Reset();
    select.BindBlob(1, text);
    if (select.Step()) {
        const int64_t id = select.Int(0);
        // A statement left on a row keeps its snapshot of the database after the transaction.
        select.Reset();
        return id;
    }
    insert.Reset();
    insert.BindBlob(1, text);
    insert.Run();
    return db.LastInsertRowid();
}

}  // namespace

int64_t Ledger::KeywordId(const std::string& text) {
    return Intern(*db_, statements_->keywordSelect, statements_->keywordInsert, text);
}

int64_t Ledger::LinkId(const std::string& text) {
    return Intern(*db_, statements_->linkSelect, statements_->linkInsert, text);
}

std::optional<CheckInfo> Ledger::FindCheck(const char* idQuery, int64_t number,
                                           const std::string& engine) {
    SqliteStatement s(*db_, std::string(kCheckColumns) + "WHERE c.id = (" + idQuery +
                                ") GROUP BY c.id");
    s.BindInt(1, number);
    if (std::string_view(idQuery).find("?2") != std::string_view::npos) s.BindText(2, engine);
    if (!s.Step()) return std::nullopt;
    return ReadCheck(s);
}

CheckInfo Ledger::RequireCheck(int64_t id) {
    auto info = FindCheck("SELECT ?1", id, "");
    if (!info) Refuse("there is no check " + std::to_string(id));
    return *info;
}

CheckInfo Ledger::Check(int64_t id) {
    SqliteTransaction read(*db_, Kind::Read);
    return RequireCheck(id);
}

std::vector<CheckInfo> Ledger::Checks(const std::string& engine) {
    SqliteStatement s(*db_, std::string(kCheckColumns) +
                                (engine.empty() ? "" : "WHERE c.engine = ?1 ") +
                                "GROUP BY c.id ORDER BY c.id");
    if (!engine.empty()) s.BindText(1, engine);
    std::vector<CheckInfo> checks;
    while (s.Step())
        checks.push_back(ReadCheck(s));
    return checks;
}

std::optional<CheckInfo> Ledger::LatestCheck(const std::string& engine) {
    return FindCheck("SELECT MAX(id) FROM checks WHERE engine = ?2 AND id > ?1", 0, engine);
}

std::optional<CheckInfo> Ledger::ResumableCheck(const std::string& engine) {
    auto latest = LatestCheck(engine);
    if (latest && latest->state == CheckState::Complete) return std::nullopt;
    return latest;
}

std::optional<CheckInfo> Ledger::PreviousComplete(const std::string& engine, int64_t beforeCheck) {
    return FindCheck(
        "SELECT MAX(id) FROM checks WHERE engine = ?2 AND state = 'complete' AND id < ?1",
        beforeCheck, engine);
}

// Recording ---------------------------------------------------------------------------------

int64_t Ledger::BeginCheck(const CheckStart& start) {
    if (start.engine.empty()) Refuse("a check needs an engine name");
    if (!IsUtcTimestamp(start.startedAt)) {
        Refuse("the start time \"" + start.startedAt + "\" is not an ISO 8601 UTC time");
    }
    if (start.options.maxResults < 1) {
        Refuse("a check needs a number of results of at least 1, not " +
               std::to_string(start.options.maxResults));
    }
    SqliteTransaction write(*db_, Kind::Write);
    SqliteStatement check(*db_, R"sql(
        INSERT INTO checks(engine, started_at, state, imported, max_results, stop_when_all_found,
                           exact_match, keywords_hash)
        VALUES(?1, ?2, 'running', ?3, ?4, ?5, ?6, ?7))sql");
    check.BindText(1, start.engine)
        .BindText(2, start.startedAt)
        .BindInt(3, start.imported)
        .BindInt(4, start.options.maxResults)
        .BindInt(5, start.options.stopWhenAllFound)
        .BindInt(6, start.options.exactMatch)
        .BindText(7, start.keywordsHash)
        .Run();
    const int64_t id = db_->LastInsertRowid();

    SqliteStatement keyword(*db_, R"sql(
        INSERT INTO check_keywords(check_id, idx, keyword_id, state) VALUES(?1, ?2, ?3, 'not_reached'))sql");
    for (size_t i = 0; i < start.keywords.size(); ++i) {
        const int64_t keywordId = KeywordId(start.keywords[i]);
        keyword.Reset();
        keyword.BindInt(1, id).BindInt(2, static_cast<int64_t>(i)).BindInt(3, keywordId).Run();
    }
    SqliteStatement url(*db_,
                        "INSERT INTO check_urls(check_id, idx, url, url_key) VALUES(?1, ?2, ?3, ?4)");
    for (size_t i = 0; i < start.urls.size(); ++i) {
        url.Reset();
        url.BindInt(1, id)
            .BindInt(2, static_cast<int64_t>(i))
            .BindBlob(3, start.urls[i].text)
            .BindBlob(4, start.urls[i].Key())
            .Run();
    }
    write.Commit();
    return id;
}

void Ledger::RecordKeyword(int64_t check, const KeywordResult& result) {
    const std::string what =
        "check " + std::to_string(check) + ", keyword " + std::to_string(result.index) + ": ";
    if (result.state == KeywordState::NotReached) {
        Refuse(what + "a keyword is recorded as done, given up or partial");
    }
    if (result.positionsExamined < 0) Refuse(what + "a negative number of positions examined");
    if (!IsUtcTimestamp(result.recordedAt)) {
        Refuse(what + "the time \"" + result.recordedAt + "\" is not an ISO 8601 UTC time");
    }
    for (size_t u = 0; u < result.ranks.size(); ++u) {
        for (const auto& rank : {result.ranks[u].contains, result.ranks[u].exact}) {
            if (rank && (*rank < 1 || static_cast<size_t>(*rank) > result.links.size())) {
                Refuse(what + "rank " + std::to_string(*rank) + " of URL " + std::to_string(u) +
                       " is not among its " + std::to_string(result.links.size()) + " links");
            }
        }
    }

    SqliteTransaction write(*db_, Kind::Write);
    {
        SqliteStatement state(*db_, R"sql(
            SELECT c.state, (SELECT COUNT(*) FROM check_urls u WHERE u.check_id = c.id)
            FROM checks c WHERE c.id = ?1)sql");
        state.BindInt(1, check);
        if (!state.Step()) Refuse("there is no check " + std::to_string(check));
        if (state.Bytes(0) != Name(CheckState::Running)) {
            Refuse(what + "the check is " + state.String(0) + ", not running");
        }
        const int64_t urls = state.Int(1);
        if (static_cast<int64_t>(result.ranks.size()) != urls) {
            Refuse(what + std::to_string(result.ranks.size()) + " ranks given for the check's " +
                   std::to_string(urls) + " URLs");
        }
    }

    SqliteStatement keyword(*db_, R"sql(
        UPDATE check_keywords SET state = ?3, positions_examined = ?4, recorded_at = ?5
        WHERE check_id = ?1 AND idx = ?2)sql");
    keyword.BindInt(1, check)
        .BindInt(2, result.index)
        .BindText(3, Name(result.state))
        .BindInt(4, result.positionsExamined)
        .BindText(5, result.recordedAt)
        .Run();
    if (db_->Changes() != 1) Refuse(what + "the check has no keyword with that index");

    std::vector<int64_t> linkIds;
    linkIds.reserve(result.links.size());
    for (const std::string& link : result.links)
        linkIds.push_back(LinkId(link));
    SqliteStatement list(*db_, R"sql(
        INSERT OR REPLACE INTO result_lists(check_id, keyword_idx, link_ids) VALUES(?1, ?2, ?3))sql");
    list.BindInt(1, check).BindInt(2, result.index).BindBlob(3, EncodeIdList(linkIds)).Run();

    SqliteStatement rank(*db_, R"sql(
        INSERT OR REPLACE INTO ranks(check_id, keyword_idx, url_idx, rank_contains, rank_exact)
        VALUES(?1, ?2, ?3, ?4, ?5))sql");
    for (size_t u = 0; u < result.ranks.size(); ++u) {
        rank.Reset();
        rank.BindInt(1, check)
            .BindInt(2, result.index)
            .BindInt(3, static_cast<int64_t>(u))
            .BindOptionalInt(4, result.ranks[u].contains)
            .BindOptionalInt(5, result.ranks[u].exact)
            .Run();
    }
    write.Commit();
}

void Ledger::EndCheck(int64_t check, CheckState state, const std::string& endedAt) {
    if (state == CheckState::Running) Refuse("a check ends complete, stopped or failed");
    if (!IsUtcTimestamp(endedAt)) {
        Refuse("the end time \"" + endedAt + "\" is not an ISO 8601 UTC time");
    }
    SqliteTransaction write(*db_, Kind::Write);
    SqliteStatement end(*db_, R"sql(
        UPDATE checks SET state = ?2, ended_at = ?3 WHERE id = ?1 AND state = 'running')sql");
    end.BindInt(1, check).BindText(2, Name(state)).BindText(3, endedAt).Run();
    if (db_->Changes() != 1) {
        const CheckInfo info = RequireCheck(check);
        Refuse("check " + std::to_string(check) + " is " + Name(info.state) + ", not running");
    }
    write.Commit();
}

void Ledger::ReopenCheck(int64_t check) {
    SqliteTransaction write(*db_, Kind::Write);
    const CheckInfo info = RequireCheck(check);
    if (info.state == CheckState::Complete) {
        Refuse("check " + std::to_string(check) + " is complete and cannot be resumed");
    }
    // A check left running by a killed process is resumed as it is.
    SqliteStatement reopen(*db_,
                           "UPDATE checks SET state = 'running', ended_at = NULL WHERE id = ?1");
    reopen.BindInt(1, check).Run();
    write.Commit();
}

// Contents ----------------------------------------------------------------------------------

CheckDetail Ledger::LoadCheck(int64_t id) {
    SqliteTransaction read(*db_, Kind::Read);
    CheckDetail detail;
    detail.info = RequireCheck(id);

    SqliteStatement urls(*db_, "SELECT url, url_key FROM check_urls WHERE check_id = ?1 ORDER BY idx");
    urls.BindInt(1, id);
    while (urls.Step()) {
        UserUrl url{urls.String(0), urls.String(1)};
        // A key equal to the text was given as the text itself.
        if (url.key == url.text) url.key.clear();
        detail.urls.push_back(std::move(url));
    }

    SqliteStatement keywords(*db_, R"sql(
        SELECT ck.idx, k.text, ck.state, ck.positions_examined, ck.recorded_at
        FROM check_keywords ck JOIN keywords k ON k.id = ck.keyword_id
        WHERE ck.check_id = ?1 ORDER BY ck.idx)sql");
    keywords.BindInt(1, id);
    while (keywords.Step()) {
        CheckedKeyword k;
        k.index = static_cast<int>(keywords.Int(0));
        k.text = keywords.String(1);
        k.state = KeywordStateAt(keywords, 2);
        k.positionsExamined = static_cast<int>(keywords.Int(3));
        if (!keywords.IsNull(4)) k.recordedAt = keywords.String(4);
        k.ranks.resize(detail.urls.size());
        detail.keywords.push_back(std::move(k));
    }

    // Indexes run from 0 without gaps: BeginCheck numbers them so.
    SqliteStatement ranks(*db_, R"sql(
        SELECT keyword_idx, url_idx, rank_contains, rank_exact FROM ranks WHERE check_id = ?1)sql");
    ranks.BindInt(1, id);
    while (ranks.Step()) {
        const auto k = static_cast<size_t>(ranks.Int(0));
        const auto u = static_cast<size_t>(ranks.Int(1));
        if (k >= detail.keywords.size() || u >= detail.urls.size()) continue;
        detail.keywords[k].ranks[u] = {RankIn(ranks, 2, RankMode::Contains),
                                       RankIn(ranks, 2, RankMode::Exact)};
    }
    read.Commit();
    return detail;
}

std::vector<std::string> Ledger::ResultList(int64_t check, int keywordIndex) {
    SqliteTransaction read(*db_, Kind::Read);
    RequireCheck(check);
    const std::string what =
        "check " + std::to_string(check) + ", keyword " + std::to_string(keywordIndex) + ": ";
    SqliteStatement list(*db_, R"sql(
        SELECT ck.idx, r.link_ids FROM check_keywords ck
        LEFT JOIN result_lists r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx
        WHERE ck.check_id = ?1 AND ck.idx = ?2)sql");
    list.BindInt(1, check).BindInt(2, keywordIndex);
    if (!list.Step()) Refuse(what + "the check has no keyword with that index");
    if (list.IsNull(1)) return {};
    const auto ids = DecodeIdList(list.Bytes(1));
    if (!ids) Refuse(what + "the stored result list is damaged");

    SqliteStatement link(*db_, "SELECT text FROM links WHERE id = ?1");
    std::vector<std::string> links;
    links.reserve(ids->size());
    for (const int64_t id : *ids) {
        link.Reset();
        link.BindInt(1, id);
        if (!link.Step()) Refuse(what + "the stored result list names a missing link");
        links.push_back(link.String(0));
    }
    read.Commit();
    return links;
}

// Reports -----------------------------------------------------------------------------------

namespace {

// One keyword and URL of a check as stored.
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
};

std::vector<Pair> LoadPairs(SqliteDb& db, int64_t check, RankMode mode) {
    SqliteStatement s(db, kCheckPairs);
    s.BindInt(1, check);
    std::vector<Pair> pairs;
    while (s.Step()) {
        pairs.push_back({static_cast<int>(s.Int(0)), s.Int(1), s.String(2), KeywordStateAt(s, 3),
                         static_cast<int>(s.Int(4)), static_cast<int>(s.Int(5)), s.String(6),
                         s.String(7), RankIn(s, 8, mode)});
    }
    return pairs;
}

struct PreviousCell {
    RankStatus status;
    std::optional<int> rank;
};

}  // namespace

void Ledger::LastKnown(const CheckInfo& check, int64_t keywordId, const std::string& urlKey,
                       RankMode mode, ReportRow& row) {
    SqliteStatement s(*db_, kEarlierPairs);
    s.BindInt(1, keywordId).BindInt(2, check.id).BindBlob(3, urlKey).BindText(4, check.engine);
    while (s.Step()) {
        const std::optional<int> rank = RankIn(s, 5, mode);
        const RankStatus status = StatusOf(KeywordStateAt(s, 3), static_cast<int>(s.Int(4)),
                                           static_cast<int>(s.Int(2)), rank);
        if (status == RankStatus::Ranked || status == RankStatus::NotFound) {
            row.lastKnownCheck = s.Int(0);
            row.lastKnownAt = s.String(1);
            row.lastKnownRank = rank;
            return;
        }
    }
}

CheckReport Ledger::Report(int64_t check, RankMode mode) {
    SqliteTransaction read(*db_, Kind::Read);
    CheckReport report;
    report.check = RequireCheck(check);
    report.previous = PreviousComplete(report.check.engine, check);

    // The previous complete check by keyword text and URL key; a keyword or URL it lists twice
    // counts by its first line.
    std::map<std::pair<int64_t, std::string>, PreviousCell> previous;
    if (report.previous) {
        for (Pair& p : LoadPairs(*db_, report.previous->id, mode)) {
            previous.try_emplace(
                {p.keywordId, std::move(p.urlKey)},
                PreviousCell{StatusOf(p.state, p.positionsExamined,
                                      report.previous->options.maxResults, p.rank),
                             p.rank});
        }
    }

    for (Pair& p : LoadPairs(*db_, check, mode)) {
        ReportRow row;
        row.keywordIndex = p.keywordIndex;
        row.keyword = std::move(p.keyword);
        row.urlIndex = p.urlIndex;
        row.url = std::move(p.url);
        row.keywordState = p.state;
        row.positionsExamined = p.positionsExamined;
        row.rank = p.rank;
        row.status =
            StatusOf(p.state, p.positionsExamined, report.check.options.maxResults, p.rank);
        if (report.previous) {
            const auto found = previous.find({p.keywordId, p.urlKey});
            if (found == previous.end()) {
                row.previousStatus = RankStatus::NotSearched;
            } else {
                row.previousStatus = found->second.status;
                row.previousRank = found->second.rank;
            }
        }
        row.change = ChangeText(row.status, row.rank, row.previousStatus, row.previousRank);
        if (row.status != RankStatus::Ranked && row.status != RankStatus::NotFound) {
            LastKnown(report.check, p.keywordId, p.urlKey, mode, row);
        }
        report.rows.push_back(std::move(row));
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

    auto Order() const {
        return std::tie(engine, keyword, url, check, keywordIndex, urlIndex);
    }
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
        SqliteStatement s(*db_, "SELECT id, engine, started_at, max_results FROM checks");
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
               r.rank_contains, r.rank_exact
        FROM check_keywords ck
        JOIN checks c ON c.id = ck.check_id
        JOIN check_urls cu ON cu.check_id = ck.check_id
        LEFT JOIN ranks r ON r.check_id = ck.check_id AND r.keyword_idx = ck.idx AND r.url_idx = cu.idx
        WHERE 1)sql";
    if (filter.engine) sql += " AND c.engine = ?1";
    if (filter.keyword) sql += " AND ck.keyword_id = (SELECT id FROM keywords WHERE text = ?2)";
    if (filter.url) sql += " AND cu.url_key = ?3";
    SqliteStatement s(*db_, sql);
    if (filter.engine) s.BindText(1, *filter.engine);
    if (filter.keyword) s.BindBlob(2, *filter.keyword);
    if (filter.url) s.BindBlob(3, *filter.url);

    std::vector<HistoryEntry> entries;
    while (s.Step()) {
        const int64_t check = s.Int(0);
        const int urlIndex = static_cast<int>(s.Int(5));
        const auto url = urls.find({check, urlIndex});
        const auto keyword = keywordOrdinal.find(s.Int(2));
        const auto info = checks.find(check);
        if (url == urls.end() || keyword == keywordOrdinal.end() || info == checks.end()) continue;
        entries.push_back({info->second.engine, keyword->second, url->second.second, check,
                           static_cast<int>(s.Int(1)), urlIndex,
                           RankIn(s, 6, filter.mode).value_or(0), KeywordStateAt(s, 3),
                           static_cast<int>(s.Int(4))});
    }
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
        row.status = StatusOf(e.state, e.positionsExamined, info.maxResults, row.rank);
        emit(row);
    }
}

std::vector<HistoryRow> Ledger::History(const HistoryFilter& filter) {
    std::vector<HistoryRow> rows;
    History(filter, [&](const HistoryRow& row) { rows.push_back(row); });
    return rows;
}

}  // namespace rankcheck::ledger
