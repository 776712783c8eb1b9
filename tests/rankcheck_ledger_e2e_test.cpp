// rankcheck's memory end to end: the real binary and plug-ins against engine-sim, checked through
// the ledger. Three checks that move a site, keywords.lst edited between checks and between a
// stop and --resume, a total outage, the folder lock, and rankcheck killed with SIGKILL again and
// again while the ledger records.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "jobfiles/job_files.h"
#include "ledger/ledger.h"
#include "tests/child_process.h"
#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;
namespace ledger = rankcheck::ledger;

const char kBakery[] = "www.my-bakery.example";

// A scenario of 30 results per keyword where the bakery stands at `ranks[keyword]` on Quillon
// (0: absent), with `extra` appended to the top-level object.
std::string Scenario(const std::map<std::string, int>& ranks, const std::string& extra = "") {
    json keywords = json::object();
    for (const auto& [keyword, rank] : ranks) {
        json quillon = {{"results", 30}};
        if (rank > 0)
            quillon["sites"] =
                json::array({{{"rank", rank}, {"link", "http://www.my-bakery.example/"}}});
        keywords[keyword] = {{"quillon", quillon}};
    }
    std::string text = json{{"defaultResults", 30}, {"keywords", keywords}}.dump();
    if (!extra.empty()) text.insert(text.size() - 1, "," + extra);
    return text;
}

class LedgerE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path().string();
        WriteLines("urls.lst", {"https://www.my-bakery.example/"});
    }
    void StartSim(const std::string& scenario) {
        sim_.reset();
        WriteFile("scenario.json", scenario);
        sim_ = std::make_unique<EngineSimProcess>("scenario.json");
        WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(sim_->Port())});
    }
    Result Run(V extra = {}) {
        V args{"run", "quillon", "--dir", folder_, "--max-results", "30"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Rankcheck(args);
    }
    // keyword -> the report's CSV record of the bakery on Quillon.
    std::map<std::string, V> ReportCsv(V extra = {}) {
        V args{"report", "--dir", folder_, "--format", "csv", "--engines", "quillon"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result r = Rankcheck(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<std::string, V> rows;
        const auto records = ParseCsv(r.out);
        for (size_t i = 1; i < records.size(); ++i)
            rows[records[i][0]] = records[i];
        return rows;
    }
    // Every file of the folder but the ledger's, with its bytes.
    std::map<std::string, std::string> JobFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("rankcheck.db", 0) == 0) continue;
            files[name] = ReadFile(entry.path().string());
        }
        return files;
    }

    ScratchDir dir_;
    std::string folder_;
    std::unique_ptr<EngineSimProcess> sim_;
};

TEST_F(LedgerE2E, ThreeChecksMoveASiteAndEveryFormatShowsTheChange) {
    WriteLines("keywords.lst", {"fresh bread", "rye flour"});
    for (const int rank : {7, 4, 0}) {
        StartSim(Scenario({{"fresh bread", rank}, {"rye flour", 2}}));
        const Result run = Run();
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    // Check 3 against check 2: lost; rye flour unchanged.
    auto rows = ReportCsv();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows["fresh bread"], (V{"fresh bread", kBakery, "Quillon", "", "not_found", "4",
                                      "lost", "3", rows["fresh bread"][8], ""}));
    EXPECT_EQ(rows["rye flour"][3], "2");
    EXPECT_EQ(rows["rye flour"][6], "0");
    // Check 2 against check 1: up 3.
    rows = ReportCsv({"--check", "2"});
    EXPECT_EQ(V(rows["fresh bread"].begin() + 3, rows["fresh bread"].begin() + 8),
              (V{"4", "ranked", "7", "3", "2"}));
    // Check 3 compared with check 1 instead.
    rows = ReportCsv({"--compare", "1"});
    EXPECT_EQ(rows["fresh bread"][5], "7");
    EXPECT_EQ(rows["fresh bread"][6], "lost");

    const Result table = Rankcheck({"report", "--dir", folder_, "--check", "2"});
    EXPECT_TRUE(std::regex_search(
        table.out, std::regex("\nfresh bread +www\\.my-bakery\\.example +4 \u25B23\n")))
        << table.out;
    EXPECT_NE(table.out.find("compared with check 1 of"), std::string::npos) << table.out;
    const Result latest = Rankcheck({"report", "--dir", folder_});
    EXPECT_TRUE(std::regex_search(
        latest.out, std::regex("\nfresh bread +www\\.my-bakery\\.example +- lost +not searched\n")))
        << latest.out;
    EXPECT_TRUE(std::regex_search(
        latest.out, std::regex("\nrye flour +www\\.my-bakery\\.example +2 = +not searched\n")));

    const Result js = Rankcheck({"report", "--dir", folder_, "--format", "json", "--check", "2"});
    ASSERT_EQ(js.status, 0) << js.err;
    const json doc = json::parse(js.out);
    EXPECT_EQ(doc["rows"][0]["rank"], 4);
    EXPECT_EQ(doc["rows"][0]["previous_rank"], 7);
    EXPECT_EQ(doc["rows"][0]["change"], 3);
    EXPECT_EQ(doc["engines"][0]["compared"]["check_id"], 1);

    const Result html = Rankcheck({"report", "--dir", folder_, "--format", "html", "--check", "2"});
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_TRUE(std::regex_search(html.out, std::regex(R"(<td class="rank b2"[^>]*>4\b)")));
    EXPECT_NE(html.out.find("\u25B23"), std::string::npos);

    // History: every check, by keyword and URL, in CSV and JSON.
    const Result history =
        Rankcheck({"history", "--dir", folder_, "--keyword", "fresh bread", "--format", "csv"});
    ASSERT_EQ(history.status, 0) << history.err;
    const auto records = ParseCsv(history.out);
    ASSERT_EQ(records.size(), 4u) << history.out;
    EXPECT_EQ(records[0],
              (V{"engine", "check_id", "checked_at", "keyword", "url", "rank", "status", "note"}));
    V ranks, statuses;
    for (size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i][0], "Quillon");
        EXPECT_EQ(records[i][1], std::to_string(i));
        EXPECT_EQ(records[i][3], "fresh bread");
        ranks.push_back(records[i][5]);
        statuses.push_back(records[i][6]);
    }
    EXPECT_EQ(ranks, (V{"7", "4", ""}));
    EXPECT_EQ(statuses, (V{"ranked", "ranked", "not_found"}));
    const Result historyJson = Rankcheck(
        {"history", "--dir", folder_, "--url", "http://www.my-bakery.example", "--format", "json"});
    ASSERT_EQ(historyJson.status, 0) << historyJson.err;
    EXPECT_EQ(json::parse(historyJson.out).size(), 6u) << historyJson.out;

    const Result checks = Rankcheck({"checks", "--dir", folder_, "--format", "csv"});
    ASSERT_EQ(checks.status, 0) << checks.err;
    const auto lines = ParseCsv(checks.out);
    ASSERT_EQ(lines.size(), 4u) << checks.out;
    EXPECT_NE(std::find(lines[3].begin(), lines[3].end(), "complete"), lines[3].end())
        << checks.out;
}

TEST_F(LedgerE2E, RanksStayWithTheirKeywordsWhenKeywordsLstIsEdited) {
    StartSim(Scenario(
        {{"sourdough starter", 5}, {"fresh bread", 9}, {"rye flour", 12}, {"croissant", 3}}));
    WriteLines("keywords.lst", {"sourdough starter", "fresh bread", "rye flour"});
    ASSERT_EQ(Run().status, 0);
    // The first keyword deleted, a new one inserted at the top.
    WriteLines("keywords.lst", {"croissant", "fresh bread", "rye flour"});
    ASSERT_EQ(Run().status, 0);
    auto rows = ReportCsv();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows["croissant"][3], "3");
    EXPECT_EQ(rows["croissant"][6], "new");
    EXPECT_EQ(rows["fresh bread"][3], "9");
    EXPECT_EQ(rows["fresh bread"][5], "9");
    EXPECT_EQ(rows["fresh bread"][6], "0");
    EXPECT_EQ(rows["rye flour"][5], "12");
    // The deleted keyword keeps its history.
    const Result history = Rankcheck(
        {"history", "--dir", folder_, "--keyword", "sourdough starter", "--format", "csv"});
    const auto records = ParseCsv(history.out);
    ASSERT_EQ(records.size(), 2u) << history.out;
    EXPECT_EQ(records[1][5], "5");
}

TEST_F(LedgerE2E, ResumeRefusesWhenKeywordsChangedAndNothingChanges) {
    // Every page is slow, so that the run is stopped during its first keywords.
    StartSim(
        Scenario({{"a", 4}, {"b", 5}, {"c", 6}}, R"("faults": [{"kind": "delay", "ms": 150}])"));
    WriteLines("keywords.lst", {"a", "b", "c"});
    ChildProcess run({kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "30"});
    ASSERT_TRUE(run.ReadUntilContains("pos. on Quillon", 20000)) << run.Out() << run.Err();
    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(), 130) << run.Err();
    const Result checksBefore = Rankcheck({"checks", "--dir", folder_, "--format", "csv"});
    EXPECT_NE(checksBefore.out.find("stopped"), std::string::npos) << checksBefore.out;

    WriteLines("keywords.lst", {"new", "a", "b", "c"});
    const auto before = JobFiles();
    const Result resumed = Run({"--resume"});
    EXPECT_EQ(resumed.status, 2) << resumed.out << resumed.err;
    EXPECT_NE(resumed.err.find("keywords.lst has changed"), std::string::npos) << resumed.err;
    EXPECT_NE(resumed.err.find("\"new\""), std::string::npos) << resumed.err;
    EXPECT_EQ(JobFiles(), before);
    EXPECT_EQ(Rankcheck({"checks", "--dir", folder_, "--format", "csv"}).out, checksBefore.out);

    // Put back, the same check goes on and completes.
    WriteLines("keywords.lst", {"a", "b", "c"});
    const Result again = Run({"--resume"});
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    auto rows = ReportCsv();
    EXPECT_EQ(rows["a"][3], "4");
    EXPECT_EQ(rows["c"][3], "6");
    EXPECT_EQ(rows["c"][7], "1");  // check 1, resumed
    const Result nothing = Run({"--resume"});
    EXPECT_EQ(nothing.status, 2);
    EXPECT_NE(nothing.err.find("there is nothing to resume on Quillon"), std::string::npos)
        << nothing.err;
}

TEST_F(LedgerE2E, ATotalOutageExits3AndKeepsTheLastGoodRank) {
    WriteLines("keywords.lst", {"fresh bread", "rye flour"});
    StartSim(Scenario({{"fresh bread", 7}, {"rye flour", 2}}));
    ASSERT_EQ(Run().status, 0);
    StartSim(Scenario({{"fresh bread", 7}, {"rye flour", 2}},
                      R"("faults": [{"kind": "status", "status": 503}])"));
    // Without the gateway, for which a 503 is a block that stops the run (exit 4).
    const Result run = Run({"--no-gateway"});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("2 given up"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("given up: \"fresh bread\", \"rye flour\""), std::string::npos)
        << run.err;

    const auto rows = ReportCsv();
    EXPECT_EQ(rows.at("fresh bread")[4], "error");
    EXPECT_EQ(rows.at("fresh bread")[7], "2");
    const Result table = Rankcheck({"report", "--dir", folder_});
    EXPECT_TRUE(std::regex_search(
        table.out, std::regex("fresh bread +www\\.my-bakery\\.example +err \\(7, \\d\\d-\\d\\d\\)")))
        << table.out;
    const Result history = Rankcheck({"history", "--dir", folder_, "--format", "csv"});
    const auto records = ParseCsv(history.out);
    ASSERT_EQ(records.size(), 5u) << history.out;
    EXPECT_EQ(records[1][5], "7");
    EXPECT_EQ(records[2][6], "error");
}

TEST_F(LedgerE2E, ASecondRunInTheFolderFailsFastAndTheFirstGoesOn) {
    StartSim(Scenario({{"a", 4}, {"b", 5}}, R"("faults": [{"kind": "delay", "ms": 100}])"));
    WriteLines("keywords.lst", {"a", "b"});
    ChildProcess first({kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "30"});
    ASSERT_TRUE(first.ReadUntilContains("Start Quillon search", 20000)) << first.Err();
    const auto begin = std::chrono::steady_clock::now();
    const Result second = Run();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_EQ(second.status, 2);
    EXPECT_NE(second.err.find(std::to_string(first.Pid())), std::string::npos) << second.err;
    ASSERT_EQ(first.Wait(), 0) << first.Err();
    EXPECT_EQ(ReportCsv()["b"][3], "5");
    // A report needs no lock: it reads while a run writes.
}

TEST_F(LedgerE2E, KilledAgainAndAgainTheLedgerAndTheJobFilesAgree) {
    const V keywords{"k0", "k1", "k2", "k3", "k4", "k5"};
    std::map<std::string, int> ranks;
    for (size_t i = 0; i < keywords.size(); ++i)
        ranks[keywords[i]] = static_cast<int>(3 + 4 * i);
    StartSim(Scenario(ranks, R"("faults": [{"kind": "delay", "ms": 25}])"));
    WriteLines("keywords.lst", keywords);

    int kills = 0;
    bool started = false;
    std::set<int> doneAtKills;  // how many keywords the ledger held as done at each kill
    for (int attempt = 0; attempt < 40 && kills < 12; ++attempt) {
        V args{kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "30"};
        if (started) args.push_back("--resume");
        ChildProcess run(args);
        // Kill moments spread over the start, the pages and the recording. They are counted
        // from what the run has shown, not from its start, so that a slow machine (or a
        // sanitizer build) still sees kills at every stage: every third run is killed early,
        // maybe before its check begins; the others once their second page is shown (by then
        // the first is saved: a resumed run's first page may repeat the end of a keyword that
        // was complete), after a further pause of 3 to 51 ms, so each of those moves the
        // check on.
        if (attempt % 3 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * (attempt % 5)));
        } else {
            run.ReadUntil(
                [](const std::string& out) {
                    size_t pages = 0;
                    for (size_t at = out.find(" pos. on Quillon"); at != std::string::npos;
                         at = out.find(" pos. on Quillon", at + 1))
                        ++pages;
                    return pages >= 2;
                },
                20000);
            std::this_thread::sleep_for(std::chrono::milliseconds(3 + 13 * attempt % 49));
        }
        run.Signal(SIGKILL);
        const int status = run.Wait();
        if (status == 0) break;  // the run got to its end first
        ++kills;
        if (fs::exists("rankcheck.db")) {
            ledger::Ledger probe("rankcheck.db");
            const auto checks = probe.Checks("Quillon");
            started = !checks.empty();
            if (started) doneAtKills.insert(checks.back().keywordsDone);
        }
    }
    EXPECT_GE(kills, 10);
    // The kills came before the check began, and while keywords were being recorded.
    EXPECT_GE(doneAtKills.size(), 3u)
        << "kills at too few moments of the run (" << kills << " kills)";
    const Result last = Run(started ? V{"--resume"} : V{});
    ASSERT_EQ(last.status, 0) << last.out << last.err;

    ledger::Ledger book("rankcheck.db");
    const auto checks = book.Checks("Quillon");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].state, ledger::CheckState::Complete);
    EXPECT_EQ(checks[0].keywordsDone, static_cast<int>(keywords.size()));
    const auto detail = book.LoadCheck(checks[0].id);
    ASSERT_EQ(detail.keywords.size(), keywords.size());
    for (size_t i = 0; i < keywords.size(); ++i) {
        const int index = static_cast<int>(i);
        EXPECT_EQ(book.ResultList(checks[0].id, index),
                  ReadLines("jobs/run/" + jobfiles::ResultFileName("Quillon", index)))
            << keywords[i];
        EXPECT_EQ(detail.keywords[i].state, ledger::KeywordState::Done);
        EXPECT_EQ(detail.keywords[i].positionsExamined, 30);
        EXPECT_EQ(detail.keywords[i].ranks[0].contains, ranks[keywords[i]]);
    }
    // One row per keyword and URL: the history holds each keyword once.
    EXPECT_EQ(book.History({}).size(), keywords.size());
}

}  // namespace
