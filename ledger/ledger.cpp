#include "ledger/ledger.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include "ledger/id_list.h"
#include "ledger/keyword_history.h"
#include "ledger/ledger_queries.h"
#include "ledger/schema.h"

namespace rankcheck::ledger {

namespace fs = std::filesystem;

namespace {

using Kind = SqliteTransaction::Kind;

// A ledger of schema version 1 read as it is: its checks have no folder and no reason, its
// keywords no last trusted check worked out. The views live in the connection's own temporary
// schema, which names resolve first.
constexpr const char* kVersion1AsRead = R"sql(
CREATE TEMP VIEW checks AS
SELECT id, engine, started_at, ended_at, state, imported, max_results, stop_when_all_found,
       exact_match, keywords_hash, NULL AS folder, NULL AS reason
FROM main.checks;
CREATE TEMP VIEW check_keywords AS
SELECT check_id, idx, keyword_id, state, positions_examined, recorded_at,
       NULL AS trusted_check, NULL AS trusted_examined
FROM main.check_keywords)sql";

std::string CanonicalFolder(const std::string& folder) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(fs::absolute(folder), ec);
    if (ec) path = fs::absolute(folder).lexically_normal();
    std::string text = path.string();
    // "/a/b/" and "/a/b" are one folder.
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
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
    folder_ = CanonicalFolder(options.folder.empty() ? fs::absolute(path).parent_path().string()
                                                     : options.folder);
    if (options.readOnly) {
        OpenForReading(path, options);
    } else {
        OpenForWriting(path, options);
    }
    // Recording looks up every link by its text in an index that grows by about 1,500 links a
    // day; a cache of up to 64 MiB holds a year of it, where SQLite's default 2 MiB would read
    // most lookups from the file again.
    db_->Exec("PRAGMA cache_size = -65536");
    statements_ = std::make_unique<Statements>(*db_);
}

void Ledger::OpenForReading(const std::string& path, const Options& options) {
    std::optional<ReadOnlyFile> file;
    try {
        file = ReadOnlyFile::Prepare(path, options.busyTimeoutMs);
    } catch (const std::runtime_error& e) {
        throw LedgerError(e.what());
    }
    if (!file) throw LedgerMissing(path + ": there is no ledger: no check has been recorded yet");
    readOnlyFile_ = std::make_unique<ReadOnlyFile>(std::move(*file));
    db_ = std::make_unique<SqliteDb>(
        path, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, readOnlyFile_->Uri());
    db_->SetBusyTimeout(options.busyTimeoutMs);
    // The first statement that reads the file: a file that is not a database fails here.
    db_->Exec("PRAGMA foreign_keys = ON");
    const int version = ledger::SchemaVersion(*db_);
    const int latest = static_cast<int>(SchemaSteps().size());
    if (version > latest) MigrateSchema(*db_, SchemaSteps());  // raises the refusal
    // The schema comes whole in one transaction with its version: version 0 is a file whose
    // creator has not committed it yet (or failed to), that is no ledger yet.
    if (version == 0) {
        throw LedgerMissing(path +
                            ": there is no ledger yet: it is being created, or its "
                            "creation failed before any check was recorded");
    }
    if (version == 1) db_->Exec(kVersion1AsRead);
}

void Ledger::OpenForWriting(const std::string& path, const Options& options) {
    db_ = std::make_unique<SqliteDb>(
        path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    db_->SetBusyTimeout(options.busyTimeoutMs);
    // The first statement that reads the file: a file that is not a database fails here.
    db_->Exec("PRAGMA foreign_keys = ON");
    // Readers go on reading while the one writer commits.
    SqliteStatement wal(*db_, "PRAGMA journal_mode = WAL");
    while (wal.Step()) {
    }
    db_->Exec(options.durableCommits ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
    // A run commits once per keyword, a few dozen pages each. Checkpointing every 10,000
    // pages (about 40 MB of WAL) instead of every 1,000 copies a page that many commits
    // touch once rather than ten times and flushes a tenth as often (0.46 s against 0.62 s
    // per 500-keyword check in bench_ledger, at a load of 4).
    db_->Exec("PRAGMA wal_autocheckpoint = 10000");
    MigrateSchema(*db_, SchemaSteps());
}

// The statements are finalized before the connection closes, and the connection before a
// reader's lock on the file goes.
Ledger::~Ledger() {
    statements_.reset();
    db_.reset();
}

const std::string& Ledger::Path() const {
    return db_->Path();
}

const std::string& Ledger::Folder() const {
    return folder_;
}

int Ledger::SchemaVersion() {
    return ledger::SchemaVersion(*db_);
}

std::optional<std::string> Ledger::WhyNotWritable(const std::string& path) {
    return ledger::WhyNotWritable(path);
}

void Ledger::Refuse(const std::string& message) const {
    throw LedgerError(db_->Path() + ": " + message);
}

std::string Ledger::FolderOf(const CheckInfo& check) const {
    return check.folder.value_or(folder_);
}

void Ledger::RequireOwnFolder(const CheckInfo& check, const std::string& what) const {
    if (check.folder && *check.folder != folder_) {
        Refuse("check " + std::to_string(check.id) + " belongs to the folder " + *check.folder +
               ", not to " + folder_ + "; " + what);
    }
}

void Ledger::ClaimChecksWithoutFolder() {
    SqliteStatement claim(*db_, "UPDATE checks SET folder = ?1 WHERE folder IS NULL");
    claim.BindBlob(1, folder_).Run();
}

namespace {

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

// Checks ------------------------------------------------------------------------------------

std::optional<CheckInfo> Ledger::FindCheck(const char* idQuery, int64_t number,
                                           const std::string& engine, Counts counts) {
    const std::string_view query(idQuery);
    // The counts that need history are read in the same snapshot.
    std::optional<SqliteTransaction> read;
    if (!db_->InTransaction()) read.emplace(*db_, Kind::Read);
    std::vector<CheckRow> rows;
    {
        SqliteStatement s(
            *db_, std::string(kCheckColumns) + "WHERE c.id = (" + idQuery + ") GROUP BY c.id");
        s.BindInt(1, number);
        if (query.find("?2") != std::string_view::npos) s.BindText(2, engine);
        if (query.find("?3") != std::string_view::npos) s.BindBlob(3, folder_);
        if (!s.Step()) return std::nullopt;
        rows.push_back(ReadCheck(s));
    }
    std::vector<CheckInfo> checks = FinishCounts(std::move(rows), counts);
    if (read) read->Commit();
    return std::move(checks.front());
}

CheckInfo Ledger::RequireCheck(int64_t id, Counts counts) {
    auto info = FindCheck("SELECT ?1", id, "", counts);
    if (!info) Refuse("there is no check " + std::to_string(id));
    return *info;
}

CheckInfo Ledger::Check(int64_t id) {
    SqliteTransaction read(*db_, Kind::Read);
    return RequireCheck(id);
}

std::vector<CheckInfo> Ledger::Checks(const std::string& engine) {
    SqliteTransaction read(*db_, Kind::Read);
    std::vector<CheckRow> rows;
    {
        SqliteStatement s(*db_, std::string(kCheckColumns) + "WHERE " + InFolder(2) +
                                    (engine.empty() ? "" : " AND c.engine = ?1") +
                                    " GROUP BY c.id ORDER BY c.id");
        if (!engine.empty()) s.BindText(1, engine);
        s.BindBlob(2, folder_);
        while (s.Step())
            rows.push_back(ReadCheck(s));
    }
    std::vector<CheckInfo> checks = FinishCounts(std::move(rows), Counts::All);
    read.Commit();
    return checks;
}

std::optional<CheckInfo> Ledger::LatestCheck(const std::string& engine) {
    return FindCheck(
        "SELECT MAX(id) FROM checks c WHERE c.engine = ?2 AND c.id > ?1 AND "
        "(c.folder = ?3 OR c.folder IS NULL)",
        0, engine);
}

std::optional<CheckInfo> Ledger::ResumableCheck(const std::string& engine) {
    auto latest = LatestCheck(engine);
    if (latest && latest->state == CheckState::Complete) return std::nullopt;
    return latest;
}

std::optional<CheckInfo> Ledger::PreviousComplete(const std::string& engine, int64_t beforeCheck) {
    return FindCheck(
        "SELECT MAX(id) FROM checks c WHERE c.engine = ?2 AND c.state = 'complete' AND "
        "c.id < ?1 AND (c.folder = ?3 OR c.folder IS NULL)",
        beforeCheck, engine);
}

std::vector<CheckInfo> Ledger::FinishCounts(std::vector<CheckRow> rows, Counts counts) {
    std::vector<CheckInfo> checks;
    checks.reserve(rows.size());
    std::vector<size_t> needy;  // rows with keywords whose outcome needs their history
    std::optional<SqliteStatement> shortKeywords;
    for (size_t i = 0; i < rows.size(); ++i) {
        CheckRow& row = rows[i];
        if (row.recordedShort == 0) continue;
        if (!shortKeywords) shortKeywords.emplace(*db_, kShortKeywords);
        shortKeywords->Reset();
        shortKeywords->BindInt(1, row.info.id).BindInt(2, row.info.options.maxResults);
        while (shortKeywords->Step()) {
            const KeywordState state = KeywordStateAt(*shortKeywords, 0);
            const bool none = shortKeywords->Int(1) != 0;
            const bool unknown = shortKeywords->Int(2) != 0;
            const bool fellShort = shortKeywords->Int(3) != 0;
            const int count = static_cast<int>(shortKeywords->Int(4));
            if (state == KeywordState::GivenUp) row.info.keywordsError += count;
            if (state == KeywordState::Partial) row.info.keywordsCutShort += count;
            if (state != KeywordState::Done) continue;
            if (none || (!unknown && fellShort)) row.info.keywordsSuspect += count;
            if (!none && unknown) row.needHistory += count;
        }
        shortKeywords->Reset();
        if (row.needHistory > 0 && counts == Counts::All) needy.push_back(i);
    }
    if (needy.size() == 1) {
        // One check: each such keyword's history read back as far as it needs.
        CheckRow& row = rows[needy.front()];
        row.info.keywordsSuspect = 0;
        for (const KeywordOutcome& outcome : OutcomesOf(row.info, 0))
            row.info.keywordsSuspect += outcome.status == RankStatus::Suspect;
    } else if (!needy.empty()) {
        // Several: one pass over the history of each such keyword.
        CountSuspectsInHistory(rows);
    }
    for (CheckRow& row : rows)
        checks.push_back(std::move(row.info));
    return checks;
}

void Ledger::CountSuspectsInHistory(std::vector<CheckRow>& rows) {
    std::map<int64_t, CheckInfo*> byId;
    for (CheckRow& row : rows) {
        if (row.needHistory > 0) byId.emplace(row.info.id, &row.info);
    }
    // The keyword lines whose trust is not worked out (they are not counted yet), by folder.
    std::map<std::string, std::set<int64_t>> keywordsByFolder;
    std::set<std::pair<int64_t, int>> lines;
    SqliteStatement s(*db_, R"sql(
        SELECT ck.idx, ck.keyword_id FROM check_keywords ck
        WHERE ck.check_id = ?1 AND ck.state = 'done' AND ck.positions_examined > 0
          AND ck.positions_examined < ?2 AND ck.trusted_check IS NULL)sql");
    for (const auto& [id, info] : byId) {
        s.Reset();
        s.BindInt(1, id).BindInt(2, info->options.maxResults);
        while (s.Step()) {
            lines.emplace(id, static_cast<int>(s.Int(0)));
            keywordsByFolder[FolderOf(*info)].insert(s.Int(1));
        }
    }
    for (const auto& [folder, keywords] : keywordsByFolder) {
        HistoryOutcomes(*db_, "", folder, {keywords.begin(), keywords.end()},
                        [&](int64_t id, int index, const KeywordOutcome& outcome) {
                            const auto check = byId.find(id);
                            if (check != byId.end() && lines.count({id, index}) > 0 &&
                                FolderOf(*check->second) == folder) {
                                check->second->keywordsSuspect +=
                                    outcome.status == RankStatus::Suspect;
                            }
                        });
    }
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
    ClaimChecksWithoutFolder();
    SqliteStatement check(*db_, R"sql(
        INSERT INTO checks(engine, started_at, state, imported, max_results, stop_when_all_found,
                           exact_match, keywords_hash, folder)
        VALUES(?1, ?2, 'running', ?3, ?4, ?5, ?6, ?7, ?8))sql");
    check.BindText(1, start.engine)
        .BindText(2, start.startedAt)
        .BindInt(3, start.imported)
        .BindInt(4, start.options.maxResults)
        .BindInt(5, start.options.stopWhenAllFound)
        .BindInt(6, start.options.exactMatch)
        .BindText(7, start.keywordsHash)
        .BindBlob(8, folder_)
        .Run();
    const int64_t id = db_->LastInsertRowid();

    // Each keyword's last trusted check before this one, from its history, kept with it.
    KeywordHistory::Reader reader(*db_, start.engine, folder_, RankMode::Contains, 0);
    std::unordered_map<int64_t, StoredTrust> trust;
    SqliteStatement keyword(*db_, R"sql(
        INSERT INTO check_keywords(check_id, idx, keyword_id, state, trusted_check, trusted_examined)
        VALUES(?1, ?2, ?3, 'not_reached', ?4, ?5))sql");
    for (size_t i = 0; i < start.keywords.size(); ++i) {
        const int64_t keywordId = KeywordId(start.keywords[i]);
        auto [known, fresh] = trust.try_emplace(keywordId);
        if (fresh) known->second = KeywordHistory(reader, keywordId, id).LastTrustedStored();
        const StoredTrust& last = known->second;
        keyword.Reset();
        keyword.BindInt(1, id)
            .BindInt(2, static_cast<int64_t>(i))
            .BindInt(3, keywordId)
            .BindInt(4, last.check)
            .BindOptionalInt(5,
                             last.check > 0 ? std::optional<int64_t>(last.examined) : std::nullopt)
            .Run();
    }
    SqliteStatement url(
        *db_, "INSERT INTO check_urls(check_id, idx, url, url_key) VALUES(?1, ?2, ?3, ?4)");
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
            SELECT c.state, (SELECT COUNT(*) FROM check_urls u WHERE u.check_id = c.id), c.folder
            FROM checks c WHERE c.id = ?1)sql");
        state.BindInt(1, check);
        if (!state.Step()) Refuse("there is no check " + std::to_string(check));
        if (state.Bytes(0) != Name(CheckState::Running)) {
            Refuse(what + "the check is " + state.String(0) + ", not running");
        }
        if (!state.IsNull(2) && state.Bytes(2) != folder_) {
            Refuse(what + "the check belongs to the folder " + state.String(2) + ", not to " +
                   folder_);
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

void Ledger::EndCheck(int64_t check, CheckState state, const std::string& endedAt,
                      const std::string& reason) {
    if (state == CheckState::Running) Refuse("a check ends complete, stopped or failed");
    if (!IsUtcTimestamp(endedAt)) {
        Refuse("the end time \"" + endedAt + "\" is not an ISO 8601 UTC time");
    }
    SqliteTransaction write(*db_, Kind::Write);
    const CheckInfo info = RequireCheck(check, Counts::OfStates);
    RequireOwnFolder(info, "it is not ended from here");
    if (info.state != CheckState::Running) {
        Refuse("check " + std::to_string(check) + " is " + Name(info.state) + ", not running");
    }
    SqliteStatement end(*db_,
                        "UPDATE checks SET state = ?2, ended_at = ?3, reason = ?4 WHERE id = ?1");
    end.BindInt(1, check).BindText(2, Name(state)).BindText(3, endedAt);
    if (reason.empty()) {
        end.BindNull(4);
    } else {
        end.BindText(4, reason);
    }
    end.Run();
    write.Commit();
}

void Ledger::RecordUpstreams(int64_t check, const std::vector<UpstreamCounts>& rows) {
    SqliteTransaction write(*db_, Kind::Write);
    RequireOwnFolder(RequireCheck(check, Counts::OfStates), "its upstreams are not recorded here");
    SqliteStatement add(*db_,
                        "INSERT INTO check_upstreams(check_id, upstream, requests, pages, blocks, "
                        "failures, median_us) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) "
                        "ON CONFLICT(check_id, upstream) DO UPDATE SET "
                        "requests = requests + ?3, pages = pages + ?4, blocks = blocks + ?5, "
                        "failures = failures + ?6, median_us = ?7");
    for (const UpstreamCounts& row : rows) {
        if (row.requests <= 0) continue;
        add.BindInt(1, check).BindText(2, row.upstream).BindInt(3, row.requests);
        add.BindInt(4, row.pages).BindInt(5, row.blocks).BindInt(6, row.failures);
        add.BindInt(7, static_cast<int64_t>(std::max(0.0, row.medianMs) * 1000 + 0.5));
        add.Run();
        add.Reset();
    }
    write.Commit();
}

std::vector<UpstreamCounts> Ledger::Upstreams(int64_t check) {
    if (SchemaVersion() < 3) return {};  // a read-only ledger of before the gateway
    SqliteTransaction read(*db_, Kind::Read);
    RequireCheck(check, Counts::OfStates);
    SqliteStatement rows(*db_,
                         "SELECT upstream, requests, pages, blocks, failures, median_us FROM "
                         "check_upstreams WHERE check_id = ?1 ORDER BY rowid");
    rows.BindInt(1, check);
    std::vector<UpstreamCounts> counts;
    while (rows.Step()) {
        counts.push_back({rows.String(0), static_cast<int>(rows.Int(1)),
                          static_cast<int>(rows.Int(2)), static_cast<int>(rows.Int(3)),
                          static_cast<int>(rows.Int(4)), static_cast<double>(rows.Int(5)) / 1000});
    }
    return counts;
}

void Ledger::ReopenCheck(int64_t check, Reopen why) {
    SqliteTransaction write(*db_, Kind::Write);
    const CheckInfo info = RequireCheck(check, Counts::OfStates);
    RequireOwnFolder(info, "it is resumed and rechecked only there");
    if (info.state == CheckState::Complete && why == Reopen::Resume) {
        Refuse("check " + std::to_string(check) + " is complete and cannot be resumed");
    }
    // The outcomes and comparisons of later checks rest on it as it is.
    const std::optional<CheckInfo> latest = FindCheck(
        "SELECT MAX(id) FROM checks c WHERE c.engine = ?2 AND c.id > ?1 AND "
        "(c.folder = ?3 OR c.folder IS NULL)",
        0, info.engine, Counts::OfStates);
    if (latest && latest->id != check) {
        Refuse("check " + std::to_string(check) + " is not the latest " + info.engine +
               " check of " + folder_ + " (check " + std::to_string(latest->id) +
               " is); only the latest is " + (why == Reopen::Resume ? "resumed" : "rechecked"));
    }
    ClaimChecksWithoutFolder();
    // A check left running by a killed process is resumed as it is.
    SqliteStatement reopen(
        *db_, "UPDATE checks SET state = 'running', ended_at = NULL, reason = NULL WHERE id = ?1");
    reopen.BindInt(1, check).Run();
    write.Commit();
}

// Contents ----------------------------------------------------------------------------------

CheckDetail Ledger::LoadCheck(int64_t id) {
    SqliteTransaction read(*db_, Kind::Read);
    CheckDetail detail;
    detail.info = RequireCheck(id);

    SqliteStatement urls(*db_,
                         "SELECT url, url_key FROM check_urls WHERE check_id = ?1 ORDER BY idx");
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
    RequireCheck(check, Counts::OfStates);
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

}  // namespace rankcheck::ledger
