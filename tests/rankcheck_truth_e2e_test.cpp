// Every rank rankcheck shows is true, end to end: the real binary and plug-ins against engine-sim.
// Pages that are no answer (a block-shaped page without results, garbage, a truncated page, a
// captcha, a page 2 without results after a deeper day) read as suspect with the last trusted
// rank, never as "not found" or "lost"; a shallow check reads as "beyond N"; an outage trips the
// give-up breaker (exit 4), --resume completes the same check and --recheck turns its suspect and
// given-up keywords into ranks within it; a check owns its inputs; a ledger shared by two
// folders; `run all --resume` with one engine complete; SIGTERM and SIGHUP; an interrupted check;
// a failed run that says how to go on; an empty keywords.lst; `report --changes`.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/child_process.h"
#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

const char kBakery[] = "www.my-bakery.example";
const char kMill[] = "www.flour-mill.example";

// A keyword of a scenario: `results` results, the bakery at `bakery` and the mill at `mill`
// (0: absent), and its faults.
json Keyword(int bakery, int mill = 0, json faults = json::array(), int results = 30) {
    json sites = json::array();
    if (bakery > 0) sites.push_back({{"rank", bakery}, {"link", "http://www.my-bakery.example/"}});
    if (mill > 0) sites.push_back({{"rank", mill}, {"link", "http://www.flour-mill.example/"}});
    json keyword = {{"results", results}, {"sites", sites}};
    if (!faults.empty()) keyword["faults"] = faults;
    return keyword;
}

json Fault(const std::string& kind, int page, json more = json::object()) {
    json fault = {{"kind", kind}, {"page", page}};
    fault.update(more);
    return fault;
}

// Keyword and URL -> the report's CSV record.
using Records = std::map<std::string, std::map<std::string, V>>;

class TruthE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path().string();
        WriteLines("urls.lst", {"https://www.my-bakery.example/", "www.flour-mill.example"});
    }
    // engine-sim serving `keywords` (keyword -> engine word -> Keyword) with the top-level
    // `extra`; proxy.def points at it.
    void StartSim(const json& keywords, const json& extra = json::object()) {
        sim_.reset();
        json scenario = {{"defaultResults", 30}, {"keywords", keywords}};
        scenario.update(extra);
        WriteFile("scenario.json", scenario.dump());
        sim_ = std::make_unique<EngineSimProcess>("scenario.json");
        WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(sim_->Port())});
    }
    // The same keyword setup on every engine.
    static json OnEvery(const json& keyword) { return {{"quillon", keyword}, {"verrin", keyword}}; }
    // `run ENGINE` in the folder with `extra`, and --max-results 30 unless `extra` gives it or
    // it goes on with a check (which has its own).
    Result Run(const std::string& engine, V extra = {}) {
        V args{"run", engine, "--dir", folder_};
        const auto has = [&](const char* word) {
            return std::find(extra.begin(), extra.end(), word) != extra.end();
        };
        if (!has("--max-results") && !has("--resume") && !has("--recheck"))
            args.insert(args.end(), {"--max-results", "30"});
        args.insert(args.end(), extra.begin(), extra.end());
        return Rankcheck(args);
    }
    Records Csv(V extra = {}) {
        V args{"report", "--dir", folder_, "--format", "csv"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result r = Rankcheck(args);
        EXPECT_EQ(r.status, 0) << r.err;
        Records rows;
        const auto records = ParseCsv(r.out);
        for (size_t i = 1; i < records.size(); ++i)
            rows[records[i][0]][records[i][1] + "@" + records[i][2]] = records[i];
        return rows;
    }
    json Checks(const std::string& dir = "", const std::string& db = "") {
        V args{"checks", "--dir", dir.empty() ? folder_ : dir, "--format", "json"};
        if (!db.empty()) args.insert(args.end(), {"--db", db});
        const Result r = Rankcheck(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out);
    }
    // Every file of the folder (the ledger's included) with its bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
            if (entry.is_regular_file())
                files[entry.path().string()] = ReadFile(entry.path().string());
        }
        return files;
    }

    ScratchDir dir_;
    std::string folder_;
    std::unique_ptr<EngineSimProcess> sim_;
};

// What both engines do alike, named by engine word.
class TruthByEngine : public TruthE2E, public ::testing::WithParamInterface<std::string> {
  protected:
    std::string Engine() const { return GetParam(); }
    std::string Name() const { return Engine() == "quillon" ? "Quillon" : "Verrin"; }
    json Only(const json& keyword) const { return {{Engine(), keyword}}; }
    const V& Cell(Records& rows, const std::string& keyword, const std::string& url) const {
        return rows[keyword][url + "@" + Name()];
    }
};

TEST_P(TruthByEngine, PagesThatAreNoAnswerAreSuspectWithTheLastTrustedRankAndNeverLost) {
    const V keywords{"blocked", "garbage", "truncated", "captcha", "page two"};
    WriteLines("keywords.lst", keywords);
    json normal = json::object();
    for (const std::string& k : keywords)
        normal[k] = Only(Keyword(3, 20));
    StartSim(normal);
    ASSERT_EQ(Run(Engine()).status, 0);

    json faulty = normal;
    faulty["blocked"] = Only(Keyword(3, 20, {Fault("markers", 1, {{"count", 0}})}));
    faulty["garbage"] = Only(Keyword(3, 20, {Fault("garbage", 1)}));
    faulty["truncated"] = Only(Keyword(3, 20, {Fault("truncate", 1, {{"result", 5}})}));
    faulty["captcha"] = Only(Keyword(3, 20, {Fault("captcha", 1)}));
    faulty["page two"] = Only(Keyword(3, 20, {Fault("markers", 2, {{"count", 0}})}));
    StartSim(faulty);
    // Without the gateway, which would take the captcha for a block and route around it.
    const Result day2 = Run(Engine(), {"--give-up-limit", "0", "--no-gateway"});
    EXPECT_EQ(day2.status, 3) << day2.out << day2.err;
    EXPECT_NE(day2.err.find("complete with 5 failed (5 suspect)"), std::string::npos) << day2.err;
    EXPECT_NE(day2.err.find("\"blocked\" (no results on page 1)"), std::string::npos) << day2.err;

    Records rows = Csv({"--engines", Engine()});
    for (const char* k : {"blocked", "garbage", "captcha"}) {
        for (const char* url : {kBakery, kMill}) {
            const V& cell = Cell(rows, k, url);
            ASSERT_EQ(cell.size(), 10u) << k;
            EXPECT_EQ(cell[4], "suspect") << k << " " << url;
            EXPECT_EQ(cell[6], "") << k << ": never a change";
            EXPECT_EQ(cell[9], "no results on page 1") << k;
        }
    }
    // A rank within the positions examined is true; what lies beyond them is suspect.
    EXPECT_EQ(Cell(rows, "truncated", kBakery)[3], "3");
    EXPECT_EQ(Cell(rows, "truncated", kBakery)[6], "0");
    EXPECT_EQ(Cell(rows, "truncated", kMill)[4], "suspect");
    EXPECT_TRUE(std::regex_match(Cell(rows, "truncated", kMill)[9],
                                 std::regex(R"(results ended at [45], 30 on \d{4}-\d\d-\d\d)")))
        << Cell(rows, "truncated", kMill)[9];
    EXPECT_EQ(Cell(rows, "page two", kMill)[4], "suspect");
    EXPECT_TRUE(std::regex_match(Cell(rows, "page two", kMill)[9],
                                 std::regex(R"(results ended at 1[05], 30 on \d{4}-\d\d-\d\d)")));

    const Result table = Rankcheck({"report", "--dir", folder_, "--engines", Engine()});
    EXPECT_TRUE(std::regex_search(
        table.out, std::regex("\nblocked +www\\.my-bakery\\.example +susp \\(3, "
                              "\\d\\d-\\d\\d\\)\n")))
        << table.out;
    EXPECT_EQ(table.out.find("- lost"), std::string::npos) << table.out;

    // The next good day compares with the last trusted one: no "new".
    StartSim(normal);
    ASSERT_EQ(Run(Engine()).status, 0);
    rows = Csv({"--engines", Engine()});
    EXPECT_EQ(Cell(rows, "blocked", kBakery)[6], "0");
    EXPECT_EQ(Cell(rows, "captcha", kMill)[6], "0");
}

TEST_P(TruthByEngine, AShallowCheckIsBeyondAndTheNextDeepOneComparesWithTheLastDeepOne) {
    WriteLines("keywords.lst", {"bakery near me"});
    StartSim({{"bakery near me", Only(Keyword(87, 0, json::array(), 120))}});
    ASSERT_EQ(Run(Engine(), {"--max-results", "100"}).status, 0);
    ASSERT_EQ(Run(Engine(), {"--max-results", "20"}).status, 0);
    Records rows = Csv({"--engines", Engine()});
    EXPECT_EQ(Cell(rows, "bakery near me", kBakery)[4], "beyond");
    EXPECT_EQ(Cell(rows, "bakery near me", kBakery)[6], "");
    const Result table = Rankcheck({"report", "--dir", folder_, "--engines", Engine()});
    EXPECT_TRUE(
        std::regex_search(table.out, std::regex("www\\.my-bakery\\.example +beyond [23]0\n")))
        << table.out;
    EXPECT_EQ(table.out.find("- lost"), std::string::npos) << table.out;

    ASSERT_EQ(Run(Engine(), {"--max-results", "100"}).status, 0);
    rows = Csv({"--engines", Engine()});
    EXPECT_EQ(Cell(rows, "bakery near me", kBakery)[3], "87");
    EXPECT_EQ(Cell(rows, "bakery near me", kBakery)[5], "87");
    EXPECT_EQ(Cell(rows, "bakery near me", kBakery)[6], "0");
    const Result deep = Rankcheck({"report", "--dir", folder_, "--engines", Engine()});
    EXPECT_NE(deep.out.find("compared with check 1 of "), std::string::npos) << deep.out;
}

// An outage three keywords in: the breaker stops the run (the keywords not reached stay not
// searched), --resume completes the same check, and --recheck turns its suspect and given-up
// keywords into ranks within it.
TEST_P(TruthByEngine, AnOutageTripsTheBreakerAndResumeAndRecheckCompleteOneCheck) {
    const V keywords{"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7"};
    WriteLines("keywords.lst", keywords);
    json good = json::object(), bad = json::object();
    for (const std::string& k : keywords)
        good[k] = bad[k] = Only(Keyword(2, 0, json::array(), 10));
    bad["k1"] = Only(Keyword(2, 0, {Fault("markers", 1, {{"count", 0}})}, 10));
    StartSim(bad, {{"faults", {{{"kind", "drop"}, {"fromRequest", 4}}}}});
    const Result halted = Run(Engine(), {"--max-results", "10"});
    EXPECT_EQ(halted.status, 4) << halted.out << halted.err;
    EXPECT_NE(Unwrapped(halted.err).find("stopped after 6 of 8 keywords (3 keywords in a row failed: the "
                              "engine or the proxy is not answering)"),
              std::string::npos)
        << halted.err;
    EXPECT_NE(halted.err.find("To go on where it left off:\n  " + kRankcheck + " run " + Engine() +
                              " --dir " + folder_ + " --max-results 10 --resume\n"),
              std::string::npos)
        << halted.err;
    json checks = Checks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["state"], "stopped");
    Records rows = Csv();
    EXPECT_EQ(Cell(rows, "k5", kBakery)[4], "error");
    EXPECT_EQ(Cell(rows, "k6", kBakery)[4], "not_searched");
    EXPECT_EQ(Cell(rows, "k7", kBakery)[4], "not_searched");

    StartSim(good);
    const Result resumed = Run(Engine(), {"--resume"});
    EXPECT_EQ(resumed.status, 3) << resumed.out << resumed.err;
    EXPECT_NE(resumed.err.find("  given up: \"k3\", \"k4\", \"k5\"\n  suspect: \"k1\" (no results "
                               "on page 1)"),
              std::string::npos)
        << resumed.err;
    EXPECT_EQ(Cell(rows = Csv(), "k7", kBakery)[3], "2");

    const Result recheck = Run(Engine(), {"--recheck"});
    EXPECT_EQ(recheck.status, 0) << recheck.out << recheck.err;
    EXPECT_NE(
        recheck.err.find("(check 1, 4 keywords rechecked): complete\n  8 of 8 keywords trusted"),
        std::string::npos)
        << recheck.err;
    // Only those four were searched again, in a folder of their own.
    EXPECT_EQ(ReadLines("jobs/recheck-" + Engine() + "/keywords.lst"), (V{"k1", "k3", "k4", "k5"}));
    struct stat proxy {};
    ASSERT_EQ(::stat(("jobs/recheck-" + Engine() + "/proxy.def").c_str(), &proxy), 0);
    EXPECT_EQ(proxy.st_mode & 0777, 0600u);
    checks = Checks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["state_text"], "complete");
    rows = Csv();
    for (const std::string& k : keywords) {
        EXPECT_EQ(Cell(rows, k, kBakery)[3], "2") << k;
        EXPECT_EQ(Cell(rows, k, kBakery)[7], "1") << k;
    }
    EXPECT_EQ(Run(Engine(), {"--recheck"}).status, 0);  // nothing left to recheck
}

INSTANTIATE_TEST_SUITE_P(Engines, TruthByEngine, ::testing::Values("quillon", "verrin"),
                         [](const auto& info) { return std::string(info.param); });

// A check stopped by the breaker, for the tests of what a resume may go on with.
class StoppedCheck : public TruthE2E {
  protected:
    void SetUp() override {
        TruthE2E::SetUp();
        WriteLines("keywords.lst", {"a", "b", "c", "d", "e"});
        for (const char* k : {"a", "b", "c", "d", "e"})
            good_[k] = OnEvery(Keyword(2, 5, json::array(), 10));
        StartSim(good_, {{"faults", {{{"kind", "drop"}, {"fromRequest", 2}}}}});
        const Result halted = Run("quillon", {"--max-results", "10"});
        ASSERT_EQ(halted.status, 4) << halted.out << halted.err;
        StartSim(good_);
    }
    json good_ = json::object();
};

TEST_F(StoppedCheck, ChangedInputsBeforeResumeAreRefusedAndNothingChanges) {
    const auto before = Files();
    const struct {
        V urls;
        V options;
        std::string named;
    } cases[] = {
        {{"www.flour-mill.example", "https://www.my-bakery.example/"},
         {},
         "urls.lst: line 1 was https://www.my-bakery.example/, is www.flour-mill.example"},
        {{"https://www.my-bakery.example/", "www.flour-mill.example", "www.third.example"},
         {},
         "urls.lst: line 3 is new (www.third.example)"},
        {{"https://www.my-bakery.example/", "www.flour-mill.example"},
         {"--max-results", "100"},
         "--max-results: the check has 10"},
    };
    for (const auto& c : cases) {
        WriteLines("urls.lst", c.urls);
        auto now = Files();
        V args{"--resume"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result refused = Run("quillon", args);
        EXPECT_EQ(refused.status, 2) << c.named << ": " << refused.err;
        EXPECT_NE(refused.err.find(c.named), std::string::npos) << refused.err;
        EXPECT_EQ(Files(), now) << c.named << ": a refused resume changed a file";
    }
    WriteLines("urls.lst", {"https://www.my-bakery.example/", "www.flour-mill.example"});
    EXPECT_EQ(Files(), before);
    const Result resumed = Run("quillon", {"--resume"});  // the check's own options
    EXPECT_EQ(resumed.status, 3) << resumed.err;  // the keywords given up in the outage stay so
    EXPECT_EQ(Csv()["e"][std::string(kMill) + "@Quillon"][3], "5");
}

TEST_F(StoppedCheck, RunAllResumeGoesOnWithWhatIsStoppedAndNeverHintsAFreshRun) {
    ASSERT_EQ(Run("verrin", {"--max-results", "10"}).status, 0);  // Verrin's latest is complete
    const Result resumed = Run("all", {"--resume"});
    EXPECT_EQ(resumed.status, 3) << resumed.err;  // the keywords given up in the outage stay so
    EXPECT_NE(resumed.err.find("nothing to resume on Verrin (its latest check 2 is complete)"),
              std::string::npos)
        << resumed.err;
    EXPECT_NE(resumed.err.find("Quillon (check 1): complete with 3 failed"), std::string::npos)
        << resumed.err;
    EXPECT_EQ(resumed.err.find("Verrin (check"), std::string::npos) << resumed.err;
    // Both complete now: nothing to resume, and a fresh run abandons nothing.
    const Result nothing = Run("all", {"--resume"});
    EXPECT_EQ(nothing.status, 2);
    EXPECT_NE(nothing.err.find("nothing to resume on Quillon"), std::string::npos) << nothing.err;
}

TEST_F(TruthE2E, ALedgerSharedByTwoFoldersKeepsTheirChecksApart) {
    const std::string db = folder_ + "/shared.db";
    fs::create_directories("one");
    fs::create_directories("two");
    StartSim({{"a", OnEvery(Keyword(2))}, {"b", OnEvery(Keyword(4))}},
             {{"faults", {{{"kind", "delay"}, {"ms", 150}}}}});
    for (const char* f : {"one", "two"}) {
        fs::copy_file("urls.lst", std::string(f) + "/urls.lst");
        fs::copy_file("proxy.def", std::string(f) + "/proxy.def");
        WriteLines(std::string(f) + "/keywords.lst", {"a", "b"});
    }
    ChildProcess first({kRankcheck, "run", "quillon", "--dir", "one", "--db", db});
    ASSERT_TRUE(first.ReadUntilContains("pos. on Quillon", 20000)) << first.Err();
    const Result second = Rankcheck({"run", "quillon", "--dir", "two", "--db", db});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(first.Wait(), 0) << first.Err();
    for (const char* f : {"one", "two"}) {
        const json checks = Checks(f, db);
        ASSERT_EQ(checks.size(), 1u) << f;
        EXPECT_EQ(checks[0]["state"], "complete") << f;
    }
    EXPECT_NE(Checks("one", db)[0]["check_id"], Checks("two", db)[0]["check_id"]);
}

// SIGTERM and SIGHUP stop like Ctrl-C, also during a page that trickles in: the run ends within
// seconds, its check stopped (not running) with the signal as its reason, and resumable.
class SignalStop : public TruthE2E, public ::testing::WithParamInterface<int> {};

TEST_P(SignalStop, StopsDuringATricklingPageWithinSecondsAndTheCheckIsStopped) {
    WriteLines("keywords.lst", {"a", "b"});
    json keywords = {{"a", OnEvery(Keyword(2))},
                     {"b", OnEvery(Keyword(3, 0, {Fault("drip", 1, {{"bytesPerSecond", 200}})}))}};
    StartSim(keywords);
    ChildProcess run({kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "10"});
    ASSERT_TRUE(run.ReadUntilContains("Start Quillon search for keyword \"b\"", 20000))
        << run.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto begin = std::chrono::steady_clock::now();
    run.Signal(GetParam());
    EXPECT_EQ(run.Wait(20000), 128 + GetParam()) << run.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_NE(run.Err().find("--resume"), std::string::npos) << run.Err();
    const json checks = Checks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["state"], "stopped");
    EXPECT_EQ(checks[0]["reason"], GetParam() == SIGTERM ? "SIGTERM" : "SIGHUP");
    StartSim({{"a", OnEvery(Keyword(2))}, {"b", OnEvery(Keyword(3))}});
    EXPECT_EQ(Run("quillon", {"--resume"}).status, 0);
    EXPECT_EQ(Csv()["b"][std::string(kBakery) + "@Quillon"][3], "3");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalStop, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGHUP");
                         });

TEST_F(TruthE2E, ACheckWhoseProcessIsGoneIsInterruptedAndResumable) {
    WriteLines("keywords.lst", {"a", "b", "c"});
    StartSim({{"a", OnEvery(Keyword(2))}, {"b", OnEvery(Keyword(3))}, {"c", OnEvery(Keyword(4))}},
             {{"faults", {{{"kind", "delay"}, {"ms", 300}}}}});
    ChildProcess run({kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "30"});
    ASSERT_TRUE(run.ReadUntilContains("pos. on Quillon", 20000)) << run.Err();
    run.Signal(SIGTERM);
    // The second (not sent at once: two pending signals are one) quits at once, leaving the
    // check open.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(10000), 143);
    const json checks = Checks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["state"], "interrupted");
    const Result table = Rankcheck({"report", "--dir", folder_, "--engines", "quillon"});
    EXPECT_NE(table.out.find("interrupted after"), std::string::npos) << table.out;
    EXPECT_EQ(Run("quillon", {"--resume"}).status, 0);
    EXPECT_EQ(Checks()[0]["state"], "complete");
}

TEST_F(TruthE2E, AFailedRunEndsItsCheckAndSaysHowToGoOn) {
    WriteLines("keywords.lst", {"a", "b"});
    StartSim({{"a", OnEvery(Keyword(2))}, {"b", OnEvery(Keyword(3))}});
    // The progress file cannot be written: the plug-in ends the run after its first page.
    fs::create_directories("jobs/run/Quillon.set/held");
    const Result failed = Run("quillon");
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_NE(failed.err.find("To go on where it left off:\n  " + kRankcheck +
                              " run quillon --dir " + folder_ + " --max-results 30 --resume"),
              std::string::npos)
        << failed.err;
    EXPECT_EQ(Checks()[0]["state"], "failed");
    fs::remove_all("jobs/run/Quillon.set");
    EXPECT_EQ(Run("quillon", {"--resume"}).status, 0);
    EXPECT_EQ(Checks()[0]["state"], "complete");
}

TEST_F(TruthE2E, AnEmptyKeywordsFileIsRefusedBeforeAnythingStarts) {
    WriteFile("keywords.lst", "");
    StartSim(json::object());
    const auto before = Files();
    const Result r = Run("all");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(folder_ + "/keywords.lst is empty"), std::string::npos) << r.err;
    EXPECT_EQ(Files(), before);
    EXPECT_FALSE(fs::exists("rankcheck.db"));
}

TEST_F(TruthE2E, ReportChangesIsSilentOnIdenticalDaysAndTellsAMove) {
    WriteLines("keywords.lst", {"a", "b"});
    StartSim({{"a", OnEvery(Keyword(2, 9))}, {"b", OnEvery(Keyword(4))}});
    for (int day = 0; day < 2; ++day) {
        const Result r = Run("all");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const Result silent = Rankcheck({"report", "--dir", folder_, "--changes"});
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.out, "");
    EXPECT_EQ(silent.err, "");

    StartSim({{"a", OnEvery(Keyword(2, 8))}, {"b", OnEvery(Keyword(0))}});
    ASSERT_EQ(Run("quillon").status, 0);
    const Result moved = Rankcheck({"report", "--dir", folder_, "--changes"});
    EXPECT_EQ(moved.status, 0);
    EXPECT_TRUE(
        std::regex_search(moved.out, std::regex("\u25B21 +a +www\\.flour-mill\\.example +8 +9\n")))
        << moved.out;
    EXPECT_TRUE(
        std::regex_search(moved.out, std::regex("lost +b +www\\.my-bakery\\.example +- +4\n")))
        << moved.out;
    EXPECT_EQ(moved.out.find("Verrin"), std::string::npos) << moved.out;  // nothing happened there
    const Result bigMoves =
        Rankcheck({"report", "--dir", folder_, "--changes", "--min-change", "2"});
    EXPECT_EQ(bigMoves.out.find("flour-mill"), std::string::npos) << bigMoves.out;
    EXPECT_NE(bigMoves.out.find("lost"), std::string::npos) << bigMoves.out;
}

}  // namespace
