// The check ledger: its schema and migrations, recording and replacing keywords, check states and
// counts, reports and history by keyword text across checks (whatever line the keyword moved to),
// byte-exact texts, refusals, a reader beside a writer, and a writer killed with SIGKILL.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "ledger/id_list.h"
#include "ledger/ledger.h"
#include "ledger/schema.h"
#include "tests/test_support.h"

namespace {

using namespace rankcheck::ledger;
using testsupport::ScratchDir;
using V = std::vector<std::string>;
using R = std::vector<UrlRank>;
constexpr const char* kDb = "rankcheck.db";
constexpr const char* kT0 = "2026-12-01T04:00:00Z";

std::string Day(int day) {  // 2026-12-01 plus `day` days, at 04:00
    return UtcTimestamp(1796097600 + static_cast<std::time_t>(day) * 86400);
}

// A raw connection to the same file, to look at the rows themselves.
int64_t Count(const std::string& sql) {
    SqliteDb db(kDb, SQLITE_OPEN_READWRITE);
    SqliteStatement s(db, sql);
    return s.Step() ? s.Int(0) : -1;
}

template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

class LedgerTest : public ::testing::Test {
  protected:
    CheckStart Start(const V& keywords, const std::vector<UserUrl>& urls,
                     const std::string& at = kT0, const std::string& engine = "Quillon") {
        CheckStart s;
        s.engine = engine;
        s.startedAt = at;
        s.keywordsHash = "hash";
        s.keywords = keywords;
        s.urls = urls;
        return s;
    }
    static KeywordResult Result(int index, KeywordState state, const V& links, const R& ranks) {
        return {index, state, static_cast<int>(links.size()), links, ranks, kT0};
    }
    // A check of `keywords` on `engine` with one result per keyword: links and a contains rank
    // for the single URL "mine.example" (nullopt: not found), then ended.
    int64_t Made(const std::string& engine, const std::string& at, const V& keywords,
                 const std::vector<std::optional<int>>& ranks,
                 CheckState end = CheckState::Complete) {
        const int64_t id = ledger_.BeginCheck(Start(keywords, {{"mine.example", ""}}, at, engine));
        for (size_t k = 0; k < keywords.size(); ++k) {
            V links(10, "other.example/" + keywords[k]);
            ledger_.RecordKeyword(id, Result(static_cast<int>(k), KeywordState::Done, links,
                                             {{ranks[k], std::nullopt}}));
        }
        ledger_.EndCheck(id, end, at);
        return id;
    }

    ScratchDir dir_;
    Ledger ledger_{kDb};
};

// Schema and migrations ----------------------------------------------------------------------

TEST(LedgerSchema, NewAndEmptyFilesGetTheLatestSchemaInWalMode) {
    ScratchDir dir;
    std::ofstream("empty.db").flush();  // a 0-byte file, as a failed first run might leave
    for (const char* name : {"new.db", "empty.db"}) {
        Ledger ledger(name);
        EXPECT_EQ(ledger.SchemaVersion(), static_cast<int>(SchemaSteps().size())) << name;
        EXPECT_EQ(ledger.Checks().size(), 0u);
        SqliteDb raw(name, SQLITE_OPEN_READONLY);
        SqliteStatement mode(raw, "PRAGMA journal_mode");
        ASSERT_TRUE(mode.Step());
        EXPECT_EQ(mode.String(0), "wal") << name;
    }
    // Opening again migrates nothing and keeps the data.
    {
        Ledger ledger("new.db");
        ledger.BeginCheck({"Verrin", kT0, {}, "h", {"a"}, {{"u", ""}}, false});
    }
    Ledger again("new.db");
    EXPECT_EQ(again.Checks().size(), 1u);
}

TEST(LedgerSchema, StepsRunInOrderAndAFailedStepLeavesTheFileAsItWas) {
    ScratchDir dir;
    SqliteDb db("m.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const SchemaStep v1[] = {{1, "CREATE TABLE t(a INTEGER); INSERT INTO t VALUES(7);"}};
    EXPECT_EQ(MigrateSchema(db, v1), 1);
    const SchemaStep v2[] = {v1[0], {2, "ALTER TABLE t ADD COLUMN b TEXT DEFAULT 'x';"}};
    EXPECT_EQ(MigrateSchema(db, v2), 2);
    {
        SqliteStatement s(db, "SELECT a, b FROM t");
        ASSERT_TRUE(s.Step());
        EXPECT_EQ(s.Int(0), 7);
        EXPECT_EQ(s.String(1), "x");
    }
    // Step 3 fails half way: its first statement is undone with it, the version stays 2.
    const SchemaStep v3[] = {v1[0], v2[1], {3, "CREATE TABLE u(a); CREATE TABLE u(a);"}};
    EXPECT_THROW(MigrateSchema(db, v3), SqliteError);
    EXPECT_EQ(SchemaVersion(db), 2);
    SqliteStatement u(db, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'u'");
    ASSERT_TRUE(u.Step());
    EXPECT_EQ(u.Int(0), 0);
    // Steps out of order are a programming error, refused before anything runs.
    const SchemaStep gap[] = {v1[0], {3, "CREATE TABLE w(a);"}};
    EXPECT_THROW(MigrateSchema(db, gap), SqliteError);
}

TEST(LedgerSchema, ANewerSchemaIsRefusedForReadingAndWriting) {
    ScratchDir dir;
    { Ledger create(kDb); }
    {
        SqliteDb raw(kDb, SQLITE_OPEN_READWRITE);
        raw.Exec("PRAGMA user_version = 9");
    }
    const std::string expected =
        "rankcheck.db: the ledger has schema version 9, newer than this program knows (" +
        std::to_string(SchemaSteps().size()) + ")";
    EXPECT_NE(ErrorOf([] { Ledger l(kDb); }).find(expected), std::string::npos);
    EXPECT_NE(ErrorOf([] { Ledger l(kDb, {.readOnly = true}); }).find(expected), std::string::npos);
}

TEST(LedgerSchema, ReadOnlyCreatesNothingAndWritesNothing) {
    ScratchDir dir;
    EXPECT_THROW(Ledger(kDb, {.readOnly = true}), LedgerMissing);
    EXPECT_EQ(ErrorOf([] { Ledger l(kDb, {.readOnly = true}); }),
              "rankcheck.db: there is no ledger: no check has been recorded yet");
    EXPECT_FALSE(std::filesystem::exists(kDb));
    { Ledger create(kDb); }
    Ledger reader(kDb, {.readOnly = true});
    EXPECT_EQ(reader.Checks().size(), 0u);
    EXPECT_THROW(reader.BeginCheck({"Quillon", kT0, {}, "h", {"a"}, {}, false}), SqliteError);
}

TEST(LedgerSchema, UnusableFilesAreNamedInTheError) {
    ScratchDir dir;
    EXPECT_EQ(ErrorOf([] { Ledger l("no/such/folder/rankcheck.db"); }),
              "no/such/folder/rankcheck.db: unable to open database file");
    std::filesystem::create_directory("a-folder.db");
    EXPECT_NE(ErrorOf([] { Ledger l("a-folder.db"); }).find("a-folder.db: "), std::string::npos);
    std::ofstream("notes.db") << std::string(4096, 'x');
    EXPECT_EQ(ErrorOf([] { Ledger l("notes.db"); }), "notes.db: file is not a database");
}

TEST(LedgerSqlite, TransactionsRollBackUnlessCommittedAndBlobsKeepTheirBytes) {
    ScratchDir dir;
    SqliteDb db("t.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("CREATE TABLE t(b BLOB)");
    {
        SqliteTransaction t(db, SqliteTransaction::Kind::Write);
        SqliteStatement insert(db, "INSERT INTO t VALUES(?1)");
        insert.BindBlob(1, "lost").Run();
    }  // no Commit: rolled back
    SqliteStatement insert(db, "INSERT INTO t VALUES(?1)");
    insert.BindBlob(1, "").Run();
    insert.Reset();
    insert.BindBlob(1, std::string("\xff\0x", 3)).Run();
    SqliteStatement rows(db, "SELECT b IS NULL, b FROM t ORDER BY rowid");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Int(0), 0);  // an empty text is an empty blob, not NULL
    EXPECT_EQ(rows.String(1), "");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.String(1), std::string("\xff\0x", 3));
    EXPECT_FALSE(rows.Step());
    EXPECT_EQ(ErrorOf([&] { SqliteStatement bad(db, "SELECT missing FROM t"); }),
              "t.db: no such column: missing");
}

TEST(LedgerSqlite, ACommitEndsTheSnapshotOfAStatementLeftOnARow) {
    // A statement still on a row at COMMIT kept the connection reading its old snapshot: the
    // WAL could never start over and grew by every commit (50 MB over one check of 500
    // keywords), and the connection's later reads stayed old.
    ScratchDir dir;
    SqliteDb db("t.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("PRAGMA journal_mode = WAL; CREATE TABLE t(a); INSERT INTO t VALUES(1)");
    SqliteStatement read(db, "SELECT a FROM t");
    {
        SqliteTransaction t(db, SqliteTransaction::Kind::Write);
        ASSERT_TRUE(read.Step());
        t.Commit();
    }
    // `read` is still on its row; the connection's next statement sees the other's change.
    SqliteDb other("t.db", SQLITE_OPEN_READWRITE);
    other.Exec("UPDATE t SET a = 2");
    SqliteStatement again(db, "SELECT a FROM t");
    ASSERT_TRUE(again.Step());
    EXPECT_EQ(again.Int(0), 2);
}

// Recording and replacing --------------------------------------------------------------------

TEST_F(LedgerTest, ACheckBeginsWithEveryKeywordNotReached) {
    CheckStart start = Start({"fresh bread", "rye", "fresh bread"},
                             {{"http://www.Mine.example/", "mine.example"}, {"b.example", ""}});
    start.options = {50, true, true};
    start.imported = true;
    const int64_t id = ledger_.BeginCheck(start);

    const CheckDetail d = ledger_.LoadCheck(id);
    EXPECT_EQ(d.info.engine, "Quillon");
    EXPECT_EQ(d.info.state, CheckState::Running);
    EXPECT_EQ(d.info.startedAt, kT0);
    EXPECT_FALSE(d.info.endedAt);
    EXPECT_TRUE(d.info.imported);
    EXPECT_EQ(d.info.options.maxResults, 50);
    EXPECT_TRUE(d.info.options.stopWhenAllFound && d.info.options.exactMatch);
    EXPECT_EQ(d.info.keywordsHash, "hash");
    EXPECT_EQ(d.info.keywordsTotal, 3);
    EXPECT_EQ(d.info.keywordsDone, 0);
    ASSERT_EQ(d.keywords.size(), 3u);
    EXPECT_EQ(d.keywords[2].text, "fresh bread");
    EXPECT_EQ(d.keywords[2].index, 2);
    for (const auto& k : d.keywords) {
        EXPECT_EQ(k.state, KeywordState::NotReached);
        EXPECT_EQ(k.ranks, R(2));
        EXPECT_FALSE(k.recordedAt);
    }
    ASSERT_EQ(d.urls.size(), 2u);
    EXPECT_EQ(d.urls[0].text, "http://www.Mine.example/");
    EXPECT_EQ(d.urls[0].Key(), "mine.example");
    EXPECT_EQ(d.urls[1].Key(), "b.example");
    EXPECT_TRUE(ledger_.ResultList(id, 1).empty());
    // A keyword listed twice is one keyword text.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM keywords"), 2);
}

TEST_F(LedgerTest, RecordingAKeywordAgainReplacesIt) {
    const int64_t id = ledger_.BeginCheck(Start({"a", "b"}, {{"u1", ""}, {"u2", ""}}));
    ledger_.RecordKeyword(id, Result(1, KeywordState::Partial, {"x", "u1/p", "y"}, {{2, {}}, {}}));
    KeywordResult again = Result(1, KeywordState::Done, {"u2", "z", "u1", "w"}, {{3, 3}, {1, 1}});
    again.recordedAt = "2026-12-01T05:00:00Z";
    ledger_.RecordKeyword(id, again);
    ledger_.RecordKeyword(id, again);

    EXPECT_EQ(ledger_.ResultList(id, 1), V({"u2", "z", "u1", "w"}));
    const CheckDetail d = ledger_.LoadCheck(id);
    EXPECT_EQ(d.keywords[1].state, KeywordState::Done);
    EXPECT_EQ(d.keywords[1].positionsExamined, 4);
    EXPECT_EQ(d.keywords[1].recordedAt, "2026-12-01T05:00:00Z");
    EXPECT_EQ(d.keywords[1].ranks, R({{3, 3}, {1, 1}}));
    EXPECT_EQ(d.keywords[0].state, KeywordState::NotReached);
    // One set of rows, and each link text once however often it was recorded.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM result_lists"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ranks"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM check_keywords"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM links"), 7);  // x, u1/p, y, u2, z, u1, w

    // An empty result list (a keyword without results) is a list, not a missing one.
    ledger_.RecordKeyword(id, Result(0, KeywordState::Done, {}, {{}, {}}));
    EXPECT_TRUE(ledger_.ResultList(id, 0).empty());
    EXPECT_EQ(ledger_.LoadCheck(id).keywords[0].state, KeywordState::Done);
}

TEST_F(LedgerTest, BadRecordingsAreRefusedAndChangeNothing) {
    const int64_t id = ledger_.BeginCheck(Start({"a"}, {{"u", ""}}));
    const auto refusal = [&](KeywordResult r) {
        return ErrorOf([&] { ledger_.RecordKeyword(id, r); });
    };
    const std::string at = "rankcheck.db: check " + std::to_string(id) + ", keyword 0: ";
    EXPECT_EQ(refusal(Result(0, KeywordState::Done, {"x"}, {{2, {}}})),
              at + "rank 2 of URL 0 is not among its 1 links");
    EXPECT_EQ(refusal(Result(0, KeywordState::Done, {"x"}, {{}, {}})),
              at + "2 ranks given for the check's 1 URLs");
    EXPECT_EQ(refusal(Result(0, KeywordState::NotReached, {}, {{}})),
              at + "a keyword is recorded as done, given up or partial");
    KeywordResult badTime = Result(0, KeywordState::Done, {"x"}, {{}});
    badTime.recordedAt = "2026-12-01 04:00:00";
    EXPECT_NE(refusal(badTime).find("is not an ISO 8601 UTC time"), std::string::npos);
    EXPECT_EQ(ErrorOf([&] { ledger_.RecordKeyword(id, Result(1, KeywordState::Done, {}, {{}})); }),
              "rankcheck.db: check " + std::to_string(id) +
                  ", keyword 1: the check has no keyword with that index");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM result_lists") + Count("SELECT COUNT(*) FROM ranks") +
                  Count("SELECT COUNT(*) FROM links"),
              0);

    ledger_.EndCheck(id, CheckState::Complete, kT0);
    EXPECT_EQ(refusal(Result(0, KeywordState::Done, {}, {{}})),
              at + "the check is complete, not running");
}

TEST_F(LedgerTest, UnknownChecksAreNamed) {
    const std::string missing = "rankcheck.db: there is no check 42";
    EXPECT_EQ(ErrorOf([&] { ledger_.Check(42); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.LoadCheck(42); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.ResultList(42, 0); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.Report(42, RankMode::Contains); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.EndCheck(42, CheckState::Failed, kT0); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.ReopenCheck(42); }), missing);
    EXPECT_EQ(ErrorOf([&] { ledger_.RecordKeyword(42, Result(0, KeywordState::Done, {}, {})); }),
              missing);
}

TEST_F(LedgerTest, ADamagedResultListIsReportedNotMisread) {
    const int64_t id = ledger_.BeginCheck(Start({"a"}, {}));
    ledger_.RecordKeyword(id, Result(0, KeywordState::Done, {"x", "y"}, {}));
    {
        SqliteDb raw(kDb, SQLITE_OPEN_READWRITE);
        raw.Exec("UPDATE result_lists SET link_ids = x'8080'");
    }
    EXPECT_NE(ErrorOf([&] { ledger_.ResultList(id, 0); }).find("the stored result list is damaged"),
              std::string::npos);
    {
        SqliteDb raw(kDb, SQLITE_OPEN_READWRITE);
        raw.Exec("UPDATE result_lists SET link_ids = x'7f'");  // link id 127 does not exist
    }
    EXPECT_NE(ErrorOf([&] { ledger_.ResultList(id, 0); }).find("names a missing link"),
              std::string::npos);
}

TEST(LedgerIdList, RoundTripsAndRejectsCutLists) {
    const std::vector<int64_t> ids{1, 127, 128, 16383, 16384, 2097151, 2097152, INT64_MAX};
    const std::string bytes = EncodeIdList(ids);
    EXPECT_EQ(bytes.size(), 1u + 1 + 2 + 2 + 3 + 3 + 4 + 9);
    EXPECT_EQ(DecodeIdList(bytes), ids);
    EXPECT_EQ(DecodeIdList(""), std::vector<int64_t>{});
    EXPECT_FALSE(DecodeIdList(bytes.substr(0, bytes.size() - 1)));
    EXPECT_FALSE(DecodeIdList(std::string(9, '\xff') + "\x01"));  // beyond 63 bits
}

// States and counts --------------------------------------------------------------------------

TEST_F(LedgerTest, ChecksEndReopenAndCountTheirKeywords) {
    const int64_t id = ledger_.BeginCheck(Start({"a", "b", "c", "d"}, {{"u", ""}}));
    ledger_.RecordKeyword(id, Result(0, KeywordState::Done, {"x"}, {{}}));
    ledger_.RecordKeyword(id, Result(1, KeywordState::GivenUp, {}, {{}}));
    ledger_.RecordKeyword(id, Result(2, KeywordState::Partial, {"x"}, {{1, 1}}));
    ledger_.EndCheck(id, CheckState::Stopped, "2026-12-01T04:30:00Z");
    CheckInfo info = ledger_.Check(id);
    EXPECT_EQ(info.state, CheckState::Stopped);
    EXPECT_EQ(info.endedAt, "2026-12-01T04:30:00Z");
    EXPECT_EQ(std::tie(info.keywordsTotal, info.keywordsDone, info.keywordsGivenUp,
                       info.keywordsPartial),
              std::make_tuple(4, 1, 1, 1));
    EXPECT_EQ(ErrorOf([&] { ledger_.EndCheck(id, CheckState::Complete, kT0); }),
              "rankcheck.db: check " + std::to_string(id) + " is stopped, not running");

    // Resumed: running again, with what it had.
    ledger_.ReopenCheck(id);
    info = ledger_.Check(id);
    EXPECT_EQ(info.state, CheckState::Running);
    EXPECT_FALSE(info.endedAt);
    EXPECT_EQ(info.keywordsDone, 1);
    ledger_.ReopenCheck(id);  // left running by a killed run: resumed as it is
    ledger_.RecordKeyword(id, Result(3, KeywordState::Done, {}, {{}}));
    ledger_.EndCheck(id, CheckState::Complete, "2026-12-01T05:00:00Z");
    EXPECT_EQ(ErrorOf([&] { ledger_.ReopenCheck(id); }),
              "rankcheck.db: check " + std::to_string(id) + " is complete and cannot be resumed");
    EXPECT_EQ(ledger_.Checks()[0].keywordsDone, 2);
}

TEST_F(LedgerTest, LatestResumableAndPreviousCompleteKeepToTheirEngine) {
    EXPECT_FALSE(ledger_.LatestCheck("Quillon"));
    const int64_t q1 = Made("Quillon", Day(0), {"a"}, {1});
    const int64_t v1 = Made("Verrin", Day(0), {"a"}, {1}, CheckState::Failed);
    const int64_t q2 = Made("Quillon", Day(1), {"a"}, {1}, CheckState::Stopped);
    const int64_t q3 = ledger_.BeginCheck(Start({"a"}, {{"u", ""}}, Day(2)));

    EXPECT_EQ(ledger_.LatestCheck("Quillon")->id, q3);
    EXPECT_EQ(ledger_.ResumableCheck("Quillon")->id, q3);
    EXPECT_EQ(ledger_.ResumableCheck("Verrin")->id, v1);
    EXPECT_EQ(ledger_.PreviousComplete("Quillon", q3)->id, q1);  // the stopped one is skipped
    EXPECT_EQ(ledger_.PreviousComplete("Quillon", q2)->id, q1);
    EXPECT_FALSE(ledger_.PreviousComplete("Quillon", q1));
    EXPECT_FALSE(ledger_.PreviousComplete("Verrin", q3));
    ledger_.EndCheck(q3, CheckState::Complete, Day(2));
    EXPECT_FALSE(ledger_.ResumableCheck("Quillon"));
    EXPECT_EQ(ledger_.Checks("Quillon").size(), 3u);
    EXPECT_EQ(ledger_.Checks().size(), 4u);
}

// Reports and history by keyword text --------------------------------------------------------

TEST(LedgerRules, StatusAndChange) {
    using S = RankStatus;
    using K = KeywordState;
    EXPECT_EQ(StatusOf(K::Partial, 30, 100, 12), S::Ranked);
    EXPECT_EQ(StatusOf(K::GivenUp, 30, 100, 12), S::Ranked);
    EXPECT_EQ(StatusOf(K::Done, 35, 100, std::nullopt), S::NotFound);  // the engine had 35
    EXPECT_EQ(StatusOf(K::Partial, 30, 100, std::nullopt), S::Partial);
    EXPECT_EQ(StatusOf(K::Partial, 100, 100, std::nullopt), S::NotFound);
    EXPECT_EQ(StatusOf(K::GivenUp, 30, 100, std::nullopt), S::Error);
    EXPECT_EQ(StatusOf(K::GivenUp, 110, 100, std::nullopt), S::NotFound);
    EXPECT_EQ(StatusOf(K::NotReached, 0, 100, std::nullopt), S::NotSearched);

    EXPECT_EQ(ChangeText(S::Ranked, 3, S::Ranked, 5), "2");
    EXPECT_EQ(ChangeText(S::Ranked, 5, S::Ranked, 3), "-2");
    EXPECT_EQ(ChangeText(S::Ranked, 4, S::Ranked, 4), "0");
    EXPECT_EQ(ChangeText(S::Ranked, 4, S::NotFound, std::nullopt), "new");
    EXPECT_EQ(ChangeText(S::Ranked, 4, S::NotSearched, std::nullopt), "new");
    EXPECT_EQ(ChangeText(S::Ranked, 4, S::Error, std::nullopt), "");
    EXPECT_EQ(ChangeText(S::Ranked, 4, std::nullopt, std::nullopt), "");  // no previous check
    EXPECT_EQ(ChangeText(S::NotFound, std::nullopt, S::Ranked, 7), "lost");
    EXPECT_EQ(ChangeText(S::NotFound, std::nullopt, S::NotFound, std::nullopt), "");
    EXPECT_EQ(ChangeText(S::Partial, std::nullopt, S::Ranked, 7), "");
}

TEST_F(LedgerTest, TheReportComparesByKeywordTextWhereverTheKeywordMoved) {
    // Check 1: a, b, c. Check 2: "new" inserted at the top, b deleted, and the URL written
    // another way with the same key.
    const int64_t first = ledger_.BeginCheck(Start({"a", "b", "c"}, {{"mine.example", ""}}, Day(0)));
    ledger_.RecordKeyword(first, Result(0, KeywordState::Done, V(9, "l"), {{5, {}}}));
    ledger_.RecordKeyword(first, Result(1, KeywordState::Done, V(9, "l"), {{1, {}}}));
    ledger_.RecordKeyword(first, Result(2, KeywordState::Done, V(9, "l"), {{9, {}}}));
    ledger_.EndCheck(first, CheckState::Complete, Day(0));
    const int64_t second = ledger_.BeginCheck(
        Start({"new", "a", "c"}, {{"http://mine.example/", "mine.example"}}, Day(1)));
    ledger_.RecordKeyword(second, Result(0, KeywordState::Done, V(9, "l"), {{2, {}}}));
    ledger_.RecordKeyword(second, Result(1, KeywordState::Done, V(9, "l"), {{3, {}}}));
    ledger_.RecordKeyword(second, Result(2, KeywordState::Done, V(9, "l"), {{}}));

    const CheckReport report = ledger_.Report(second, RankMode::Contains);
    EXPECT_EQ(report.check.id, second);
    ASSERT_TRUE(report.compared);
    EXPECT_EQ(report.compared->id, first);
    ASSERT_EQ(report.rows.size(), 3u);
    const ReportRow& fresh = report.rows[0];
    EXPECT_EQ(fresh.keyword, "new");
    EXPECT_EQ(fresh.url, "http://mine.example/");
    EXPECT_EQ(fresh.previousStatus, RankStatus::NotSearched);
    EXPECT_EQ(fresh.change, "new");
    const ReportRow& a = report.rows[1];
    EXPECT_EQ(a.keyword, "a");
    EXPECT_EQ(a.rank, 3);
    EXPECT_EQ(a.previousRank, 5);  // a's rank, not that of b, which was line 1 before
    EXPECT_EQ(a.change, "2");
    const ReportRow& c = report.rows[2];
    EXPECT_EQ(c.status, RankStatus::NotFound);
    EXPECT_EQ(c.previousRank, 9);
    EXPECT_EQ(c.change, "lost");

    // The first check has nothing to compare with.
    const CheckReport earliest = ledger_.Report(first, RankMode::Contains);
    EXPECT_FALSE(earliest.compared);
    EXPECT_EQ(earliest.rows[0].change, "");
    EXPECT_FALSE(earliest.rows[0].previousStatus);
}

TEST_F(LedgerTest, AGivenUpKeywordShowsItsLastKnownRank) {
    const int64_t done = Made("Quillon", Day(0), {"a", "b"}, {4, std::nullopt});
    Made("Verrin", Day(1), {"a", "b"}, {1, 1});  // another engine never counts
    // Stopped: a ranked at 2 before the stop (counts as known); b partial without it (unknown).
    const int64_t stopped = ledger_.BeginCheck(Start({"a", "b"}, {{"mine.example", ""}}, Day(2)));
    ledger_.RecordKeyword(stopped, Result(0, KeywordState::Partial, V(5, "l"), {{2, {}}}));
    ledger_.RecordKeyword(stopped, Result(1, KeywordState::Partial, V(5, "l"), {{}}));
    ledger_.EndCheck(stopped, CheckState::Stopped, Day(2));

    const int64_t now = ledger_.BeginCheck(Start({"b", "a", "c"}, {{"mine.example", ""}}, Day(3)));
    ledger_.RecordKeyword(now, Result(0, KeywordState::GivenUp, V(3, "l"), {{}}));
    ledger_.RecordKeyword(now, Result(1, KeywordState::Partial, V(3, "l"), {{}}));
    const CheckReport report = ledger_.Report(now, RankMode::Contains);
    ASSERT_EQ(report.rows.size(), 3u);
    // One row each with the complete and the stopped check: the later one stands for the engine.
    EXPECT_EQ(report.compared->id, stopped);

    const ReportRow& b = report.rows[0];
    EXPECT_EQ(b.status, RankStatus::Error);
    EXPECT_EQ(b.comparedCheck, done);
    EXPECT_EQ(b.previousStatus, RankStatus::NotFound);
    EXPECT_EQ(b.change, "");
    EXPECT_EQ(b.lastKnownCheck, done);  // the partial check without a rank is passed over
    EXPECT_EQ(b.lastKnownAt, Day(0));
    EXPECT_FALSE(b.lastKnownRank);  // known: not found

    // a is compared with the stopped check: its rank there is a true rank, and the stopped check
    // examined a deeper (5) than this one (3).
    const ReportRow& a = report.rows[1];
    EXPECT_EQ(a.status, RankStatus::Partial);
    EXPECT_EQ(a.positionsExamined, 3);
    EXPECT_EQ(a.comparedCheck, stopped);
    EXPECT_EQ(a.previousRank, 2);
    EXPECT_EQ(a.lastKnownCheck, stopped);
    EXPECT_EQ(a.lastKnownRank, 2);

    const ReportRow& c = report.rows[2];  // never seen before
    EXPECT_EQ(c.status, RankStatus::NotSearched);
    EXPECT_FALSE(c.lastKnownCheck);
}

TEST_F(LedgerTest, HistoryFollowsTextsAndFiltersByEngineKeywordAndUrl) {
    const auto check = [&](const std::string& engine, int day, const V& keywords,
                           const std::vector<UrlRank>& perKeyword) {
        const int64_t id = ledger_.BeginCheck(
            Start(keywords, {{"www.b.example", "b.example"}, {"a.example", ""}}, Day(day), engine));
        for (size_t k = 0; k < keywords.size(); ++k) {
            ledger_.RecordKeyword(id, Result(static_cast<int>(k), KeywordState::Done, V(9, "l"),
                                             {perKeyword[k], {}}));
        }
        ledger_.EndCheck(id, CheckState::Complete, Day(day));
        return id;
    };
    const int64_t q1 = check("Quillon", 0, {"rye", "bread"}, {{1, 1}, {2, {}}});
    const int64_t v1 = check("Verrin", 0, {"bread"}, {{3, {}}});
    // "bread" listed twice: its first line stands for it.
    const int64_t q2 = check("Quillon", 1, {"bread", "rye", "bread"}, {{4, 4}, {}, {9, 9}});

    const std::vector<HistoryRow> all = ledger_.History(HistoryFilter{});
    std::vector<std::string> seen;
    for (const HistoryRow& r : all) {
        seen.push_back(r.engine + " " + std::to_string(r.checkId) + " " + r.keyword + " " + r.url +
                       " " + (r.rank ? std::to_string(*r.rank) : "-") + " " + Name(r.status));
    }
    const std::string q1s = std::to_string(q1), q2s = std::to_string(q2), v1s = std::to_string(v1);
    EXPECT_EQ(seen, V({
                        "Quillon " + q1s + " bread a.example - not_found",
                        "Quillon " + q2s + " bread a.example - not_found",
                        "Quillon " + q1s + " bread www.b.example 2 ranked",
                        "Quillon " + q2s + " bread www.b.example 4 ranked",
                        "Quillon " + q1s + " rye a.example - not_found",
                        "Quillon " + q2s + " rye a.example - not_found",
                        "Quillon " + q1s + " rye www.b.example 1 ranked",
                        "Quillon " + q2s + " rye www.b.example - not_found",
                        "Verrin " + v1s + " bread a.example - not_found",
                        "Verrin " + v1s + " bread www.b.example 3 ranked",
                    }));
    EXPECT_EQ(all[0].checkedAt, Day(0));

    HistoryFilter f;
    f.keyword = "bread";
    f.url = "b.example";
    f.mode = RankMode::Exact;
    std::vector<std::string> exact;
    ledger_.History(f, [&](const HistoryRow& r) {
        exact.push_back(r.engine + " " + (r.rank ? std::to_string(*r.rank) : "-"));
    });
    EXPECT_EQ(exact, V({"Quillon -", "Quillon 4", "Verrin -"}));
    f.engine = "Verrin";
    EXPECT_EQ(ledger_.History(f).size(), 1u);
    f.keyword = "Bread";  // texts are exact
    EXPECT_TRUE(ledger_.History(f).empty());
}

TEST_F(LedgerTest, TextsAreKeptByteForByte) {
    // Windows-1252 and UTF-8 forms, case, a trailing blank, an empty line and a zero byte are
    // six different keywords.
    const V keywords{"caf\xE9", "caf\xC3\xA9", "CAF\xC9", "bread ", "", std::string("a\0b", 3)};
    const V links{"http://www.caf\xE9.example/\xFF\xFE", std::string("x\0y", 3), ""};
    const int64_t id = ledger_.BeginCheck(Start(keywords, {{"caf\xE9.example", ""}}));
    for (int k = 0; k < 6; ++k)
        ledger_.RecordKeyword(id, Result(k, KeywordState::Done, links, {{k % 2 ? 1 : 2, {}}}));
    ledger_.EndCheck(id, CheckState::Complete, kT0);

    const CheckDetail d = ledger_.LoadCheck(id);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(d.keywords[k].text, keywords[k]) << k;
        EXPECT_EQ(ledger_.ResultList(id, k), links) << k;
    }
    EXPECT_EQ(d.urls[0].text, "caf\xE9.example");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM keywords"), 6);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM links"), 3);

    HistoryFilter f;
    f.keyword = "caf\xE9";
    const auto rows = ledger_.History(f);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].keyword, "caf\xE9");
    EXPECT_EQ(rows[0].rank, 2);
    f.keyword = std::string("a\0b", 3);
    EXPECT_EQ(ledger_.History(f).at(0).rank, 1);
}

// Several processes --------------------------------------------------------------------------

// The links of keyword k in version v of a check: a version is told by its links, its positions
// and its rank, so a keyword that mixes two versions is seen.
V VersionLinks(int k, int v, int n) {
    V links;
    for (int i = 0; i < n; ++i)
        links.push_back("http://site" + std::to_string((k * 7 + i) % 50) + ".example/k" +
                        std::to_string(k) + "/v" + std::to_string(v) + "/" + std::to_string(i));
    return links;
}
KeywordResult VersionResult(int k, int v, int n) {
    return {k, KeywordState::Done, v, VersionLinks(k, v, n), {{v % n + 1, {}}, {}}, kT0};
}
// The version of a result list that is one whole version: 0 for an empty list, -1 for a mixture.
int VersionOfList(int k, const V& links, int n) {
    if (links.empty()) return 0;
    const size_t at = links[0].find("/v");
    const int v = at == std::string::npos ? -1 : std::atoi(links[0].c_str() + at + 2);
    return v > 0 && links == VersionLinks(k, v, n) ? v : -1;
}
// Every recorded keyword is one whole version; returns the versions (0: not reached). The result
// lists are read after the check, so a writer may have recorded a later version meanwhile.
std::vector<int> ExpectWholeVersions(Ledger& ledger, int64_t check, int n) {
    const CheckDetail d = ledger.LoadCheck(check);
    std::vector<int> versions;
    int done = 0;
    for (const CheckedKeyword& k : d.keywords) {
        const int v = k.state == KeywordState::NotReached ? 0 : k.positionsExamined;
        if (v == 0) {
            EXPECT_EQ(k.ranks, R(2)) << k.index;
        } else {
            ++done;
            EXPECT_EQ(k.ranks, VersionResult(k.index, v, n).ranks) << k.index;
        }
        const int listed = VersionOfList(k.index, ledger.ResultList(check, k.index), n);
        EXPECT_GE(listed, v) << "keyword " << k.index << " has a mixed or older result list";
        versions.push_back(v);
    }
    EXPECT_EQ(d.info.keywordsDone, done);
    return versions;
}

TEST_F(LedgerTest, AReaderSeesWholeKeywordsWhileAnotherProcessRecords) {
    constexpr int kKeywords = 20, kLinks = 300, kRounds = 6;
    const int64_t id = ledger_.BeginCheck(Start(V(kKeywords, "k"), {{"u", ""}, {"w", ""}}));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // the writer: its own connection, as rankcheck run has
        int status = 0;
        try {
            Ledger writer(kDb);
            for (int v = 1; v <= kRounds; ++v)
                for (int k = 0; k < kKeywords; ++k)
                    writer.RecordKeyword(id, VersionResult(k, v, kLinks));
        } catch (...) {
            status = 1;
        }
        _exit(status);
    }
    int reads = 0;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        ExpectWholeVersions(ledger_, id, kLinks);
        (void)ledger_.Report(id, RankMode::Contains);
        ++reads;
        if (HasFailure()) break;
    }
    if (HasFailure()) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer failed";
    EXPECT_GT(reads, 1);
    EXPECT_EQ(ExpectWholeVersions(ledger_, id, kLinks), std::vector<int>(kKeywords, kRounds));
}

TEST_F(LedgerTest, ASecondWriterWaitsForTheFirstUpToTheBusyTimeOut) {
    const int64_t id = ledger_.BeginCheck(Start({"a"}, {}));
    SqliteDb other(kDb, SQLITE_OPEN_READWRITE);
    other.Exec("BEGIN IMMEDIATE");

    Ledger impatient(kDb, {.busyTimeoutMs = 50});
    try {
        impatient.RecordKeyword(id, Result(0, KeywordState::Done, {"x"}, {}));
        ADD_FAILURE() << "recorded past another writer's lock";
    } catch (const SqliteError& e) {
        EXPECT_EQ(std::string(e.what()), "rankcheck.db: database is locked");
        EXPECT_EQ(e.Code() & 0xff, SQLITE_BUSY);
    }
    // The default waits: the other writer commits within it.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.Exec("COMMIT");
    });
    EXPECT_NO_THROW(ledger_.RecordKeyword(id, Result(0, KeywordState::Done, {"x"}, {})));
    release.join();
    EXPECT_EQ(ledger_.ResultList(id, 0), V({"x"}));
}

TEST_F(LedgerTest, AWriterKilledMidRecordingLeavesWholeKeywordsAndResumesWithoutDuplicates) {
    constexpr int kKeywords = 12, kLinks = 2000, kKills = 5;
    const int64_t id = ledger_.BeginCheck(Start(V(kKeywords, "k"), {{"u", ""}, {"w", ""}}));
    std::mt19937 rng(20261208);
    std::vector<int> versions(kKeywords, 0);
    for (int kill = 0; kill < kKills; ++kill) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            try {
                Ledger writer(kDb);
                // Each keyword once more than before, reported after each commit, until killed.
                for (int v = 10 * (kill + 1);; ++v) {
                    for (int k = 0; k < kKeywords; ++k) {
                        writer.RecordKeyword(id, VersionResult(k, v, kLinks));
                        const std::string line =
                            std::to_string(k) + " " + std::to_string(v) + "\n";
                        if (write(pipeFds[1], line.data(), line.size()) < 0) _exit(1);
                    }
                }
            } catch (...) {
            }
            _exit(1);
        }
        close(pipeFds[1]);
        // Let a few commits through, then kill at a random moment (a recording takes
        // milliseconds, its commit a small part of that).
        FILE* acks = fdopen(pipeFds[0], "r");
        ASSERT_NE(acks, nullptr);
        std::vector<int> acknowledged(kKeywords, 0);
        int k = 0, v = 0;
        for (int i = 0; i < 3 + kill && std::fscanf(acks, "%d %d", &k, &v) == 2; ++i)
            acknowledged[k] = v;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        while (std::fscanf(acks, "%d %d", &k, &v) == 2)
            acknowledged[k] = v;
        std::fclose(acks);

        Ledger after(kDb);
        const std::vector<int> now = ExpectWholeVersions(after, id, kLinks);
        for (int i = 0; i < kKeywords; ++i) {
            // Nothing committed is lost, and nothing goes back.
            EXPECT_GE(now[i], acknowledged[i]) << "keyword " << i << " after kill " << kill;
            EXPECT_GE(now[i], versions[i]) << "keyword " << i << " after kill " << kill;
        }
        versions = now;
        ASSERT_FALSE(HasFailure()) << "after kill " << kill;
    }
    SqliteDb raw(kDb, SQLITE_OPEN_READWRITE);
    SqliteStatement integrity(raw, "PRAGMA integrity_check");
    ASSERT_TRUE(integrity.Step());
    EXPECT_EQ(integrity.String(0), "ok");
    SqliteStatement foreign(raw, "PRAGMA foreign_key_check");
    EXPECT_FALSE(foreign.Step());

    // The resumed run records every keyword again and completes the check.
    ledger_.ReopenCheck(id);
    for (int k = 0; k < kKeywords; ++k)
        ledger_.RecordKeyword(id, VersionResult(k, 1000, kLinks));
    ledger_.EndCheck(id, CheckState::Complete, kT0);
    EXPECT_EQ(ExpectWholeVersions(ledger_, id, kLinks), std::vector<int>(kKeywords, 1000));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM check_keywords"), kKeywords);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM result_lists"), kKeywords);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ranks"), 2 * kKeywords);
    EXPECT_EQ(ledger_.Check(id).keywordsDone, kKeywords);
}

}  // namespace
