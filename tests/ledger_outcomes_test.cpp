// What the ledger says is true: the outcome of a keyword from its state, depth and history
// (suspect, beyond, error), like-with-like comparisons, change alerts, rechecks inside a check,
// the words of a check's state, a check's own inputs, folders sharing one ledger file, the
// migration of a version-1 ledger, a reader racing the ledger's creator, and read-only opens
// that create nothing and read files and folders no one may write.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "ledger/change_alerts.h"
#include "ledger/check_inputs.h"
#include "ledger/check_state_words.h"
#include "ledger/keyword_outcome.h"
#include "ledger/ledger.h"
#include "ledger/schema.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace rankcheck::ledger;
using testsupport::ScratchDir;
using S = RankStatus;
using K = KeywordState;
using V = std::vector<std::string>;
constexpr const char* kDb = "rankcheck.db";

std::string Day(int day) {  // 2026-12-01 plus `day` days, at 04:00 UTC
    return UtcTimestamp(1796097600 + static_cast<std::time_t>(day) * 86400);
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

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The rule ----------------------------------------------------------------------------------

struct RuleCase {
    KeywordState state;
    int examined, requested;
    std::optional<int> lastTrusted;  // positions the last trusted check examined, on Day(5)
    int top;
    RankStatus status;
    int depth;
    std::string note;
};

TEST(KeywordOutcomeRule, FromStateDepthAndTheLastTrustedCheck) {
    const std::string on = ", 64 on 2026-12-06";
    const RuleCase cases[] = {
        {K::NotReached, 0, 100, {}, 0, S::NotSearched, 0, ""},
        {K::Done, 100, 100, 64, 0, S::NotFound, 100, ""},
        {K::Done, 20, 15, {}, 0, S::NotFound, 20, ""},    // pages are recorded whole
        {K::Done, 35, 100, {}, 0, S::NotFound, 100, ""},  // the engine had 35, nothing to doubt
        {K::Done, 64, 100, 64, 0, S::NotFound, 100, ""},  // results ended where they ended
        {K::Done, 70, 100, 64, 0, S::NotFound, 100, ""},
        {K::Done, 0, 100, {}, 0, S::Suspect, 0, "no results on page 1"},
        {K::Done, 10, 100, 64, 0, S::Suspect, 10, "results ended at 10" + on},
        {K::Done, 10, 100, 64, 30, S::Suspect, 10, "results ended at 10" + on},
        {K::Done, 10, 100, 64, 10, S::NotFound, 10, ""},  // every position up to --top
        {K::Done, 20, 20, 100, 0, S::NotFound, 20, ""},   // a shallow check is not suspect
        {K::GivenUp, 30, 100, 64, 0, S::Error, 30, ""},
        {K::GivenUp, 100, 100, {}, 0, S::NotFound, 100, ""},
        {K::Partial, 30, 100, {}, 0, S::Partial, 30, ""},
        {K::Partial, 100, 100, {}, 0, S::NotFound, 100, ""},
    };
    for (const RuleCase& c : cases) {
        std::optional<TrustedCheck> last;
        if (c.lastTrusted) last = TrustedCheck{1, Day(5), *c.lastTrusted};
        const KeywordOutcome o =
            OutcomeOf({2, Day(6), c.state, c.examined, c.requested}, last, c.top);
        const std::string at = std::string(Name(c.state)) + " " + std::to_string(c.examined) +
                               " of " + std::to_string(c.requested) + ", top " +
                               std::to_string(c.top);
        EXPECT_EQ(o.status, c.status) << at;
        EXPECT_EQ(o.depth, c.depth) << at;
        EXPECT_EQ(o.note, c.note) << at;
    }
    // Without history a done keyword is told by its own figures only.
    EXPECT_EQ(StatusOf(K::Done, 0, 100, std::nullopt), S::Suspect);
    EXPECT_EQ(StatusOf(K::Done, 0, 100, 1), S::Ranked);
    // No change is ever made against an untrusted side, on either side.
    for (const S untrusted : {S::Beyond, S::Suspect, S::Error, S::Partial}) {
        EXPECT_EQ(ChangeText(S::Ranked, 3, untrusted, std::nullopt), "") << Name(untrusted);
        EXPECT_EQ(ChangeText(untrusted, std::nullopt, S::Ranked, 3), "") << Name(untrusted);
    }
    for (const S s :
         {S::Ranked, S::NotFound, S::Beyond, S::Suspect, S::Error, S::Partial, S::NotSearched}) {
        EXPECT_EQ(RankStatusNamed(Name(s)), s);
    }
}

// Checks over days --------------------------------------------------------------------------

// One keyword of a check as a test records it: its state, positions examined and the ranks of
// the check's URLs (a.example, b.example).
struct Kw {
    std::string text;
    KeywordState state;
    int examined;
    std::vector<std::optional<int>> ranks;
};

class OutcomeTest : public ::testing::Test {
  protected:
    int64_t Made(int day, const std::vector<Kw>& keywords, int maxResults = 100,
                 CheckState end = CheckState::Complete, Ledger* ledger = nullptr) {
        Ledger& l = ledger != nullptr ? *ledger : ledger_;
        CheckStart start;
        start.engine = "Quillon";
        start.startedAt = Day(day);
        start.options.maxResults = maxResults;
        start.keywordsHash = "h";
        for (const Kw& k : keywords)
            start.keywords.push_back(k.text);
        start.urls = {{"a.example", ""}, {"b.example", ""}};
        const int64_t id = l.BeginCheck(start);
        for (size_t i = 0; i < keywords.size(); ++i) {
            const Kw& k = keywords[i];
            if (k.state == K::NotReached) continue;
            KeywordResult r{static_cast<int>(i), k.state, k.examined,
                            V(k.examined, "l"),  {},      Day(day)};
            for (size_t u = 0; u < 2; ++u)
                r.ranks.push_back({u < k.ranks.size() ? k.ranks[u] : std::nullopt, std::nullopt});
            l.RecordKeyword(id, r);
        }
        if (end != CheckState::Running) l.EndCheck(id, end, Day(day));
        return id;
    }
    static const ReportRow& Row(const CheckReport& report, const std::string& keyword, int url) {
        for (const ReportRow& row : report.rows)
            if (row.keyword == keyword && row.urlIndex == url) return row;
        throw std::runtime_error("no row " + keyword);
    }

    ScratchDir dir_;
    Ledger ledger_{kDb};
};

TEST_F(OutcomeTest, ASuspectIsNeverADropAndShowsItsLastTrustedRank) {
    // Day 0: the bakery stood at 3 among 64 results; rye at 12 among 100.
    const int64_t day0 = Made(0, {{"bakery", K::Done, 64, {3}}, {"rye", K::Done, 100, {12}}});
    // Day 1: a first page without a result link, and a page 2 without results.
    const int64_t day1 = Made(1, {{"bakery", K::Done, 0, {}}, {"rye", K::Done, 10, {}}});
    const CheckReport report = ledger_.Report(day1, RankMode::Contains);
    const ReportRow& bakery = Row(report, "bakery", 0);
    EXPECT_EQ(bakery.status, S::Suspect);
    EXPECT_EQ(bakery.note, "no results on page 1");
    EXPECT_EQ(bakery.change, "");
    EXPECT_EQ(bakery.lastKnownRank, 3);
    EXPECT_EQ(bakery.lastKnownAt, Day(0));
    const ReportRow& rye = Row(report, "rye", 0);
    EXPECT_EQ(rye.status, S::Suspect);
    EXPECT_EQ(rye.note, "results ended at 10, 100 on 2026-12-01");
    EXPECT_EQ(rye.change, "");
    EXPECT_EQ(rye.lastKnownRank, 12);
    EXPECT_EQ(Row(report, "rye", 1).lastKnownCheck, day0);  // b.example: known as not found

    const CheckInfo info = ledger_.Check(day1);
    EXPECT_EQ(info.keywordsSuspect, 2);
    EXPECT_EQ(StateWords(info, true).text, "complete with 2 failed (2 suspect)");
    const ChangeAlerts alerts = ChangesOf(report);
    EXPECT_TRUE(alerts.moved.empty() && alerts.fresh.empty() && alerts.lost.empty());
    EXPECT_EQ(alerts.unchecked.size(), 4u);  // both keywords, both URLs

    // Day 2: back where they were; compared with day 0, not "new" against the suspect day.
    const int64_t day2 = Made(2, {{"bakery", K::Done, 64, {3}}, {"rye", K::Done, 100, {12}}});
    const CheckReport back = ledger_.Report(day2, RankMode::Contains);
    EXPECT_EQ(Row(back, "bakery", 0).change, "0");
    EXPECT_EQ(Row(back, "rye", 0).comparedCheck, day0);
    EXPECT_EQ(back.compared->id, day0);
    EXPECT_TRUE(ChangesOf(back).Empty());
}

TEST_F(OutcomeTest, ARankWithinASuspectCheckStaysARank) {
    Made(0, {{"bakery", K::Done, 100, {3, 40}}});
    const int64_t day1 = Made(1, {{"bakery", K::Done, 10, {5}}});
    const CheckReport report = ledger_.Report(day1, RankMode::Contains);
    EXPECT_EQ(ledger_.Outcomes(day1).at(0).status, S::Suspect);
    const ReportRow& a = Row(report, "bakery", 0);
    EXPECT_EQ(a.status, S::Ranked);
    EXPECT_EQ(a.rank, 5);
    EXPECT_EQ(a.note, "");
    EXPECT_EQ(a.change, "-2");
    const ReportRow& b = Row(report, "bakery", 1);  // at 40 the day before: not seen in 10
    EXPECT_EQ(b.status, S::Suspect);
    EXPECT_EQ(b.change, "");
    EXPECT_EQ(b.lastKnownRank, 40);
}

TEST_F(OutcomeTest, AShallowCheckIsBeyondItsDepthAndNeverTheBaseline) {
    const int64_t deep = Made(0, {{"bakery near me", K::Done, 100, {87, 5}}});
    const int64_t shallow = Made(1, {{"bakery near me", K::Done, 20, {std::nullopt, 6}}}, 20);
    const CheckReport report = ledger_.Report(shallow, RankMode::Contains);
    const ReportRow& a = Row(report, "bakery near me", 0);
    EXPECT_EQ(a.status, S::Beyond);
    EXPECT_EQ(a.positionsExamined, 20);
    EXPECT_EQ(a.change, "");
    EXPECT_EQ(a.comparedCheck, deep);
    EXPECT_EQ(a.lastKnownRank, 87);
    EXPECT_EQ(Row(report, "bakery near me", 1).change, "-1");  // a rank within 20 compares
    EXPECT_EQ(ledger_.Check(shallow).KeywordsFailed(), 0);     // a shallow check is no failure

    // The next deep check compares with the deep one, passing over the shallow one.
    const int64_t again = Made(2, {{"bakery near me", K::Done, 100, {85, 5}}});
    const CheckReport next = ledger_.Report(again, RankMode::Contains);
    EXPECT_EQ(Row(next, "bakery near me", 0).change, "2");
    EXPECT_EQ(Row(next, "bakery near me", 0).comparedCheck, deep);
    EXPECT_EQ(next.compared->id, deep);
    // Named explicitly, the shallow check is a beyond side: no change against it.
    ReportOptions options;
    options.compareWith = shallow;
    const CheckReport named = ledger_.Report(again, options);
    EXPECT_EQ(Row(named, "bakery near me", 0).previousStatus, S::Beyond);
    EXPECT_EQ(Row(named, "bakery near me", 0).change, "");
    EXPECT_EQ(Row(named, "bakery near me", 1).change, "1");
}

// Everything the ledger says of the keywords of every check, in words.
V Said(Ledger& ledger) {
    V said;
    for (const CheckInfo& c : ledger.Checks()) {
        said.push_back("check " + std::to_string(c.id) + ": " + std::to_string(c.keywordsSuspect) +
                       " suspect; " + StateWords(c, true).text);
        for (const KeywordOutcome& o : ledger.Outcomes(c.id))
            said.push_back(std::string("  ") + Name(o.status) + " " + o.note);
        for (const ReportRow& row : ledger.Report(c.id, RankMode::Contains).rows) {
            said.push_back("  " + row.keyword + "/" + std::to_string(row.urlIndex) + " " +
                           Name(row.status) + " " + row.change + " " +
                           std::to_string(row.comparedCheck.value_or(0)) + " " +
                           std::to_string(row.lastKnownCheck.value_or(0)));
        }
    }
    for (const HistoryRow& row : ledger.History({}))
        said.push_back(std::to_string(row.checkId) + " " + Name(row.status) + " " + row.note);
    return said;
}

TEST_F(OutcomeTest, ShortResultsAreHeldAgainstTheLastTrustedCheckInEveryQuery) {
    // The engine has 35 results, then 40 (trusted: more than before), then 38 twice (suspect
    // against the 40 of day 1, not against the suspect day 2), then 40 again.
    Made(0, {{"niche", K::Done, 35, {}}});
    const int64_t day1 = Made(1, {{"niche", K::Done, 40, {}}});
    const int64_t day2 = Made(2, {{"niche", K::Done, 38, {}}});
    const int64_t day3 = Made(3, {{"niche", K::Done, 38, {}}});
    const int64_t day4 = Made(4, {{"niche", K::Done, 40, {}}});
    const std::string note = "results ended at 38, 40 on 2026-12-02";
    const KeywordOutcome third = ledger_.Outcomes(day3).at(0);
    EXPECT_EQ(third.status, S::Suspect);
    EXPECT_EQ(third.note, note);
    EXPECT_EQ(third.heldAgainst->check, day1);
    EXPECT_EQ(ledger_.Outcomes(day4).at(0).status, S::NotFound);
    EXPECT_EQ(ledger_.Outcome(day3, 0).note, note);
    EXPECT_EQ(ledger_.KeywordsToRecheck(day3).at(0).outcome.note, note);

    // The check list and one check agree.
    std::vector<int> suspects;
    for (const CheckInfo& c : ledger_.Checks()) {
        suspects.push_back(c.keywordsSuspect);
        EXPECT_EQ(c.keywordsSuspect, ledger_.Check(c.id).keywordsSuspect) << c.id;
    }
    EXPECT_EQ(suspects, (std::vector<int>{0, 0, 1, 1, 0}));
    // So does the history, with the note.
    HistoryFilter filter;
    filter.url = "a.example";
    std::vector<std::string> history;
    for (const HistoryRow& row : ledger_.History(filter))
        history.push_back(std::string(Name(row.status)) +
                          (row.note.empty() ? "" : ": " + row.note));
    EXPECT_EQ(history,
              (V{"not_found", "not_found", "suspect: " + note, "suspect: " + note, "not_found"}));
    EXPECT_EQ(Row(ledger_.Report(day2, RankMode::Contains), "niche", 0).lastKnownCheck, day1);

    // A ledger whose checks do not keep their keywords' last trusted check (as version 1 made
    // them) says the same, worked out from the history every time.
    const V kept = Said(ledger_);
    {
        SqliteDb raw(kDb, SQLITE_OPEN_READWRITE);
        raw.Exec("UPDATE check_keywords SET trusted_check = NULL, trusted_examined = NULL");
    }
    Ledger worked(kDb);
    EXPECT_EQ(Said(worked), kept);
}

TEST_F(OutcomeTest, ChangesListMovesOfAtLeastNNewAndLostApartFromRanksUnchecked) {
    Made(0, {{"k1", K::Done, 100, {5}},
             {"k2", K::Done, 100, {8}},
             {"k3", K::Done, 100, {}},
             {"k4", K::Done, 100, {6}},
             {"k5", K::Done, 100, {9}}});
    const int64_t now = Made(1, {{"k1", K::Done, 100, {3}},
                                 {"k2", K::Done, 100, {7}},
                                 {"k3", K::Done, 100, {4}},
                                 {"k4", K::Done, 100, {}},
                                 {"k5", K::GivenUp, 20, {}}});
    const CheckReport report = ledger_.Report(now, RankMode::Contains);
    const auto keywords = [](const std::vector<ReportRow>& rows) {
        V texts;
        for (const ReportRow& row : rows)
            texts.push_back(row.keyword + "/" + std::to_string(row.urlIndex));
        return texts;
    };
    const ChangeAlerts two = ChangesOf(report, 2);
    EXPECT_EQ(keywords(two.moved), V{"k1/0"});
    EXPECT_EQ(keywords(two.fresh), V{"k3/0"});
    EXPECT_EQ(keywords(two.lost), V{"k4/0"});
    EXPECT_EQ(keywords(two.unchecked), (V{"k5/0", "k5/1"}));
    EXPECT_EQ(two.unchecked[0].lastKnownRank, 9);
    EXPECT_EQ(keywords(ChangesOf(report).moved), (V{"k1/0", "k2/0"}));
}

// Stopped checks, rechecks and their words ----------------------------------------------------

TEST_F(OutcomeTest, ARecheckRecordsIntoTheSameCheckAndItsStateFollows) {
    Made(0, {{"a", K::Done, 100, {1}},
             {"b", K::Done, 100, {2}},
             {"c", K::Done, 100, {3}},
             {"d", K::Done, 100, {4}}});
    const int64_t id = Made(1,
                            {{"a", K::Done, 100, {1}},
                             {"b", K::GivenUp, 10, {}},
                             {"c", K::Done, 0, {}},
                             {"d", K::NotReached, 0, {}}},
                            100, CheckState::Running);
    const std::string reason =
        "3 keywords in a row failed: the engine or the proxy is not answering";
    ledger_.EndCheck(id, CheckState::Stopped, Day(1), reason);
    CheckInfo info = ledger_.Check(id);
    EXPECT_EQ(info.reason, reason);
    EXPECT_EQ(StateWords(info, true).text, "stopped after 3 of 4 keywords (" + reason + ")");
    std::vector<std::pair<int, S>> todo;
    for (const RecheckKeyword& k : ledger_.KeywordsToRecheck(id))
        todo.emplace_back(k.index, k.outcome.status);
    EXPECT_EQ(todo, (std::vector<std::pair<int, S>>{
                        {1, S::Error}, {2, S::Suspect}, {3, S::NotSearched}}));

    ledger_.ReopenCheck(id, Reopen::Recheck);
    EXPECT_EQ(ledger_.Check(id).reason, "");
    for (int k = 1; k <= 3; ++k) {
        ledger_.RecordKeyword(id, {k, K::Done, 100, V(100, "l"), {{k + 2, {}}, {}}, Day(1)});
    }
    ledger_.EndCheck(id, CheckState::Complete, Day(1));
    info = ledger_.Check(id);
    EXPECT_EQ(std::make_tuple(info.keywordsDone, info.keywordsGivenUp, info.KeywordsFailed()),
              std::make_tuple(4, 0, 0));
    EXPECT_EQ(StateWords(info, true).text, "complete");
    EXPECT_TRUE(ledger_.KeywordsToRecheck(id).empty());
    const CheckReport report = ledger_.Report(id, RankMode::Contains);
    EXPECT_EQ(Row(report, "b", 0).change, "-1");
    // A complete check is rechecked, never resumed.
    EXPECT_NE(ErrorOf([&] { ledger_.ReopenCheck(id); }).find("is complete and cannot be resumed"),
              std::string::npos);
    ledger_.ReopenCheck(id, Reopen::Recheck);
    EXPECT_EQ(ledger_.Check(id).state, CheckState::Running);
    // Once a later check is made, the later one's comparisons rest on this one as it is.
    ledger_.EndCheck(id, CheckState::Complete, Day(1));
    Made(2, {{"a", K::Done, 100, {1}}});
    EXPECT_NE(ErrorOf([&] {
                  ledger_.ReopenCheck(id, Reopen::Recheck);
              }).find("is not the latest Quillon check"),
              std::string::npos);
}

TEST(CheckStateWords, OneWordingForEveryState) {
    CheckInfo c;
    c.keywordsTotal = 30;
    c.keywordsDone = 10;
    c.keywordsGivenUp = 2;
    const auto words = [&](CheckState state, bool lockFree) {
        c.state = state;
        const CheckStateWords w = StateWords(c, lockFree);
        return w.name + " | " + w.text;
    };
    EXPECT_EQ(words(CheckState::Running, false), "running | running: 12 of 30 keywords so far");
    EXPECT_EQ(words(CheckState::Running, true),
              "interrupted | interrupted after 12 of 30 keywords");
    EXPECT_EQ(words(CheckState::Stopped, true), "stopped | stopped after 12 of 30 keywords");
    c.reason = "the engine could not be reached";
    EXPECT_EQ(words(CheckState::Failed, true),
              "failed | failed after 12 of 30 keywords (the engine could not be reached)");
    c.keywordsDone = 28;
    c.keywordsError = 1;
    c.keywordsSuspect = 2;
    EXPECT_EQ(words(CheckState::Complete, true),
              "complete | complete with 3 failed (1 given up, 2 suspect)");
    c.keywordsError = c.keywordsSuspect = 0;
    EXPECT_EQ(words(CheckState::Complete, false), "complete | complete");
}

TEST(CheckInputs, EveryDifferenceIsNamedWithTheCheckValue) {
    CheckDetail check;
    check.info.options = {100, false, false};
    check.urls = {{"www.a.example", ""}, {"www.b.example", ""}};
    EXPECT_TRUE(InputDifferences(check, check.urls, {100, false, false}).empty());
    EXPECT_EQ(
        InputDifferences(check, {{"www.b.example", ""}, {"www.a.example", ""}}, {10, true, false}),
        (V{"urls.lst: line 1 was www.a.example, is www.b.example",
           "urls.lst: line 2 was www.b.example, is www.a.example",
           "--max-results: the check has 100",
           "--stop-when-all-found: the check was made without it"}));
    EXPECT_EQ(InputDifferences(check, {{"www.a.example", ""}}, {100, false, true}),
              (V{"urls.lst: line 2 (www.b.example) is gone",
                 "--exact-match: the check was made without it"}));
    EXPECT_EQ(
        InputDifferences(check, {{"x", ""}, {"y", ""}, {"www.c.example", ""}, {"z", ""}, {"w", ""}},
                         {100, false, false}),
        (V{"urls.lst: line 1 was www.a.example, is x", "urls.lst: line 2 was www.b.example, is y",
           "urls.lst: line 3 is new (www.c.example)", "urls.lst: and 2 more lines differ"}));
}

// Folders and the schema ----------------------------------------------------------------------

TEST_F(OutcomeTest, FoldersSharingALedgerNeverTouchEachOthersChecks) {
    fs::create_directories("one");
    fs::create_directories("two");
    Ledger one(kDb, {.folder = "one"});
    Ledger two(kDb, {.folder = "./two/"});
    EXPECT_EQ(two.Folder(), fs::canonical("two").string());
    Made(0, {{"kw", K::Done, 100, {3}}}, 100, CheckState::Complete, &one);
    const int64_t running = Made(1, {{"kw", K::Done, 100, {2}}}, 100, CheckState::Running, &one);

    EXPECT_FALSE(two.LatestCheck("Quillon"));
    EXPECT_FALSE(two.ResumableCheck("Quillon"));
    EXPECT_TRUE(two.Checks().empty());
    EXPECT_TRUE(two.History({}).empty());
    const std::string foreign =
        "belongs to the folder " + one.Folder() + ", not to " + two.Folder();
    EXPECT_NE(ErrorOf([&] { two.EndCheck(running, CheckState::Stopped, Day(1)); }).find(foreign),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { two.ReopenCheck(running); }).find(foreign), std::string::npos);
    EXPECT_NE(ErrorOf([&] {
                  two.RecordKeyword(running, {0, K::Done, 0, {}, {{}, {}}, Day(1)});
              }).find(foreign),
              std::string::npos);

    // The other folder's first check has nothing to compare with; its own history is its own.
    const int64_t theirs = Made(2, {{"kw", K::Done, 100, {9}}}, 100, CheckState::Complete, &two);
    EXPECT_FALSE(two.Report(theirs, RankMode::Contains).compared);
    EXPECT_EQ(one.ResumableCheck("Quillon")->id, running);
    EXPECT_EQ(one.Check(theirs).folder, two.Folder());  // by id, any folder's
    EXPECT_EQ(one.Checks().size(), 2u);
}

TEST(LedgerMigration, AVersion1LedgerIsReadAsItIsThenTakenForwardAndClaimed) {
    ScratchDir dir;
    fs::create_directories("mine");
    {
        // A ledger as version 1 wrote it: one complete check with a keyword and a URL.
        SqliteDb db(kDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Exec("PRAGMA journal_mode = WAL");
        ASSERT_EQ(MigrateSchema(db, SchemaSteps().first(1)), 1);
        db.Exec(R"sql(
            INSERT INTO checks VALUES(1, 'Quillon', '2026-12-01T04:00:00Z', '2026-12-01T04:10:00Z',
                                      'complete', 0, 100, 0, 0, 'h');
            INSERT INTO keywords VALUES(1, CAST('bread' AS BLOB));
            INSERT INTO check_keywords VALUES(1, 0, 1, 'done', 100, '2026-12-01T04:01:00Z');
            INSERT INTO check_urls VALUES(1, 0, CAST('mine.example' AS BLOB), CAST('mine.example' AS BLOB));
            INSERT INTO ranks VALUES(1, 0, 0, 4, NULL);
            INSERT INTO result_lists VALUES(1, 0, x'');)sql");
    }
    {
        // Read-only: read as it is, and left as it is.
        const auto before = FilesIn(".");
        Ledger reader(kDb, {.readOnly = true, .folder = "mine"});
        EXPECT_EQ(reader.SchemaVersion(), 1);
        ASSERT_EQ(reader.Checks().size(), 1u);
        EXPECT_FALSE(reader.Checks()[0].folder);
        EXPECT_EQ(reader.Report(1, RankMode::Contains).rows.at(0).rank, 4);
        EXPECT_EQ(FilesIn("."), before);
    }
    Ledger mine(kDb, {.folder = "mine"});
    EXPECT_EQ(mine.SchemaVersion(), static_cast<int>(SchemaSteps().size()));
    EXPECT_FALSE(mine.Check(1).folder);  // no folder yet: every folder counts it as its own
    Ledger other(kDb, {.folder = "."});
    EXPECT_EQ(other.Checks().size(), 1u);

    CheckStart start{"Quillon", "2026-12-02T04:00:00Z", {},   "h",
                     {"bread"}, {{"mine.example", ""}}, false};
    const int64_t next = mine.BeginCheck(start);  // claims the check without a folder
    mine.RecordKeyword(next, {0, K::Done, 100, V(100, "l"), {{3, {}}}, "2026-12-02T04:01:00Z"});
    EXPECT_EQ(mine.Check(1).folder, mine.Folder());
    EXPECT_TRUE(other.Checks().empty());
    EXPECT_EQ(mine.Report(next, RankMode::Contains).rows.at(0).change, "1");
}

// Opening the file ---------------------------------------------------------------------------

TEST(LedgerOpening, AReaderRacingTheCreatorFindsNoLedgerOrAWholeOne) {
    ScratchDir dir;
    const int latest = static_cast<int>(SchemaSteps().size());
    int missing = 0, whole = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (int round = 0; round < 60 && std::chrono::steady_clock::now() < deadline; ++round) {
        for (const char* name : {"rankcheck.db", "rankcheck.db-wal", "rankcheck.db-shm"})
            fs::remove(name);
        const pid_t creator = fork();
        ASSERT_GE(creator, 0);
        if (creator == 0) {
            try {
                Ledger ledger(kDb);
                ledger.BeginCheck({"Quillon", Day(0), {}, "h", {"a"}, {}, false});
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        int status = 0;
        bool done = false;
        while (!done) {
            done = waitpid(creator, &status, WNOHANG) != 0;
            try {
                Ledger reader(kDb, {.readOnly = true});
                EXPECT_EQ(reader.SchemaVersion(), latest);
                EXPECT_LE(reader.Checks().size(), 1u);
                ++whole;
            } catch (const LedgerMissing&) {
                ++missing;
            } catch (const std::exception& e) {
                ADD_FAILURE() << "round " << round << ": " << e.what();
            }
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the creator failed";
        if (HasFailure()) break;
    }
    EXPECT_GT(missing + whole, 0);
}

TEST(LedgerOpening, AReadOnlyOpenCreatesNoFileAndReadsWhatAWriterCommitted) {
    ScratchDir dir;
    int64_t id = 0;
    {
        Ledger writer(kDb);
        id = writer.BeginCheck({"Quillon", Day(0), {}, "h", {"a"}, {}, false});
    }
    // Closed: no -wal, the file alone is the ledger; it is read immutable.
    ASSERT_EQ(FilesIn("."), std::set<std::string>{kDb});
    EXPECT_TRUE(ReadOnlyFile::Prepare(kDb, 100)->Immutable());
    {
        Ledger reader(kDb, {.readOnly = true});
        EXPECT_EQ(reader.Check(id).state, CheckState::Running);
    }
    EXPECT_EQ(FilesIn("."), std::set<std::string>{kDb});

    // A writer at work: its committed change is in its -wal, and a reader sees it.
    Ledger writer(kDb);
    writer.EndCheck(id, CheckState::Stopped, Day(0), "stopped with Ctrl-C");
    const auto files = FilesIn(".");
    EXPECT_FALSE(ReadOnlyFile::Prepare(kDb, 100)->Immutable());
    {
        Ledger reader(kDb, {.readOnly = true});
        EXPECT_EQ(reader.Check(id).reason, "stopped with Ctrl-C");
        EXPECT_EQ(FilesIn("."), files);
    }
    // A -wal whose -shm is gone cannot be read without making one: refused, naming both.
    fs::copy_file("rankcheck.db-wal", "copy.db-wal");
    fs::copy_file(kDb, "copy.db");
    EXPECT_NE(ErrorOf([] {
                  Ledger l("copy.db", {.readOnly = true});
              }).find("copy.db-shm, which reading them needs, is missing"),
              std::string::npos);
    EXPECT_FALSE(fs::exists("copy.db-shm"));
}

TEST(LedgerOpening, AReaderKeepsAClosingWriterFromChangingTheFileUnderIt) {
    ScratchDir dir;
    { Ledger create(kDb); }
    Ledger reader(kDb, {.readOnly = true});  // immutable: reads the file alone
    {
        Ledger writer(kDb);
        writer.BeginCheck({"Quillon", Day(0), {}, "h", {"a"}, {}, false});
    }  // the last writer's close would copy its WAL into the file and remove it
    EXPECT_TRUE(fs::exists("rankcheck.db-wal"));
    EXPECT_TRUE(reader.Checks().empty());  // the reader's snapshot, whole
    Ledger later(kDb, {.readOnly = true});
    EXPECT_EQ(later.Checks().size(), 1u);
}

// Runs `probe` as a user without rights to the scratch folder's files: a forked child that
// became nobody when the test runs as root (root passes every file mode), else this process.
// Returns what the probe reported, or nullopt when root cannot become another user.
std::optional<std::string> AsUnprivileged(const std::function<std::string()>& probe) {
    if (geteuid() != 0) return probe();
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        close(fds[0]);
        std::string report = "cannot become nobody";
        if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0) {
            try {
                report = probe();
            } catch (const std::exception& e) {
                report = std::string("probe failed: ") + e.what();
            }
        }
        if (write(fds[1], report.data(), report.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    if (report == "cannot become nobody") return std::nullopt;
    return report;
}

TEST(LedgerOpening, ALedgerNoOneMayWriteIsReadAndAWriterIsToldWhy) {
    ScratchDir dir;
    {
        Ledger writer(kDb);
        writer.BeginCheck({"Quillon", Day(0), {}, "h", {"a"}, {}, false});
    }
    EXPECT_EQ(Ledger::WhyNotWritable(kDb), std::nullopt);
    const auto probe = [] {
        std::string report = "why: " + Ledger::WhyNotWritable(kDb).value_or("writable") + "\n";
        {
            Ledger reader(kDb, {.readOnly = true});
            report += "checks: " + std::to_string(reader.Checks().size()) + "\n";
        }
        return report + "files: " + std::to_string(FilesIn(".").size()) + "\n";
    };
    const fs::path folder = fs::current_path();
    const auto mode = [](const fs::path& path, fs::perms perms) {
        fs::permissions(path, perms, fs::perm_options::replace);
    };
    using P = fs::perms;
    // A ledger file of mode 0444 in a folder anyone may write: nothing may be created beside it.
    mode(folder, P::all);
    mode(kDb, P::owner_read | P::group_read | P::others_read);
    const auto fileReport = AsUnprivileged(probe);
    // A folder of mode 0555 with a ledger file anyone may write.
    mode(folder, P::owner_read | P::owner_exec | P::group_read | P::group_exec | P::others_read |
                     P::others_exec);
    mode(kDb, P::owner_read | P::owner_write | P::group_read | P::group_write | P::others_read |
                  P::others_write);
    const auto folderReport = AsUnprivileged(probe);
    if (!fileReport || !folderReport) {
        GTEST_SKIP() << "running as root without the right to become another user: file modes "
                        "do not bind root, so a read-only file or folder cannot be tested";
    }
    EXPECT_EQ(*fileReport,
              "why: rankcheck.db: the ledger cannot be written: Permission denied\n"
              "checks: 1\nfiles: 1\n");
    EXPECT_EQ(*folderReport,
              "why: " + folder.string() +
                  ": the ledger's folder cannot be written, and its rankcheck.db-wal and "
                  "rankcheck.db-shm are made there: Permission denied\n"
                  "checks: 1\nfiles: 1\n");
}

}  // namespace
