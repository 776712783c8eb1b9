// rankcheck end to end: the real rankcheck binary loading the real plug-in libraries, against
// the engine-sim program serving a scenario written by each test, in a scratch folder of its
// own. Covers the runs, stopping and resuming, the report in every format, and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/child_process.h"
#include "tests/rankcheck_support.h"
#include "tests/test_support.h"
#include "tools/engine-sim/scenario.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kVerrinLib = VERRIN_LIB;

const char kBakery[] = "www.my-bakery.example";
const char kMill[] = "www.flour-mill.example";
const char kNowhere[] = "nowhere.example";

// The sites each keyword's results show, and where; every other rank is a generated link.
// "broken oven" always fails on Quillon, so Quillon gives it up.
const char kScenario[] = R"({
  "defaultResults": 37,
  "keywords": {
    "fresh bread": {
      "quillon": {"sites": [{"rank": 3, "link": "http://www.my-bakery.example/"},
                            {"rank": 17, "link": "http://www.flour-mill.example/shop/"}]},
      "verrin": {"sites": [{"rank": 1, "link": "http://www.my-bakery.example/bread"},
                           {"rank": 22, "link": "http://www.flour-mill.example/"}]}
    },
    "sourdough starter": {
      "quillon": {"sites": [{"rank": 12, "link": "http://WWW.MY-BAKERY.EXAMPLE/sourdough/"}]},
      "verrin": {"results": 10}
    },
    "rye flour": {
      "quillon": {"results": 25, "sites": [{"rank": 25, "link": "http://www.flour-mill.example/rye/"}]},
      "verrin": {"sites": [{"rank": 2, "link": "http://www.flour-mill.example/"},
                           {"rank": 30, "link": "http://www.my-bakery.example/"}]}
    },
    "broken oven": {
      "quillon": {"faults": [{"kind": "status", "status": 500}]},
      "verrin": {"sites": [{"rank": 5, "link": "http://www.my-bakery.example/ovens/"}]}
    }
  }
})";

const V kKeywords{"fresh bread", "sourdough starter", "rye flour", "broken oven"};

// keyword -> url -> {Quillon cell, Verrin cell}, as the report must show them.
using Expected = std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>>;
const Expected kExpected{
    {"fresh bread", {{kBakery, {"3", "1"}}, {kMill, {"17", "22"}}, {kNowhere, {"-", "-"}}}},
    {"sourdough starter", {{kBakery, {"12", "-"}}, {kMill, {"-", "-"}}, {kNowhere, {"-", "-"}}}},
    {"rye flour", {{kBakery, {"-", "30"}}, {kMill, {"25", "2"}}, {kNowhere, {"-", "-"}}}},
    {"broken oven",
     {{kBakery, {"error", "5"}}, {kMill, {"error", "-"}}, {kNowhere, {"error", "-"}}}},
};

class RankcheckE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path().string();
        WriteFile("scenario.json", kScenario);
        WriteLines("keywords.lst", kKeywords);
        WriteLines("urls.lst",
                   {"http://www.my-bakery.example/", " www.flour-mill.example ", kNowhere});
    }
    void StartSim(const std::string& scenario = kScenario) {
        WriteFile("scenario.json", scenario);
        sim_ = std::make_unique<EngineSimProcess>("scenario.json");
        WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(sim_->Port())});
    }
    // The links a result file must hold when the keyword was searched to its end.
    V FullResults(const std::string& keyword, enginesim::Engine engine,
                  const std::string& scenarioText) const {
        const auto scenario = enginesim::Scenario::FromJson(scenarioText);
        V links;
        for (std::string link : enginesim::LinkGenerator(scenario).Links(keyword, engine)) {
            if (!link.empty() && link.back() == '/') link.pop_back();
            if (engine == enginesim::Engine::Quillon && link.rfind("http://", 0) == 0) {
                link.erase(0, 7);
            }
            links.push_back(link);
        }
        return links;
    }

    ScratchDir dir_;
    std::string folder_;
    std::unique_ptr<EngineSimProcess> sim_;
};

// keyword -> url -> {Quillon cell, Verrin cell} from CSV or JSON records: the rank, "-" for
// not_found, else the status.
std::string CellOf(const std::string& rank, const std::string& status) {
    if (status == "ranked") return rank;
    return status == "not_found" ? "-" : status;
}

Expected FromCsv(const std::vector<V>& records) {
    Expected got;
    for (size_t i = 1; i < records.size(); ++i) {
        const V& r = records[i];
        if (r.size() != 10) throw std::runtime_error("a CSV record without 10 fields");
        auto& cell = got[r[0]][r[1]];
        (r[2] == "Quillon" ? cell.first : cell.second) = CellOf(r[3], r[4]);
    }
    return got;
}

TEST_F(RankcheckE2E, RunAllThenReportsShowThePlacedRanks) {
    StartSim();
    const Result run = Rankcheck({"run", "all", "--sequential", "--dir", folder_});
    // Quillon gave "broken oven" up: the run completed, with a keyword given up.
    ASSERT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex("Quillon \\(check 1\\): complete with 1 "
                                                      "failed \\(1 given up\\)\n  3 of 4 keywords "
                                                      "trusted.*\n  given up: \"broken oven\"")))
        << run.err;
    // Quillon's run ends before Verrin's begins, each with its closing line.
    const size_t quillonEnd = run.out.find("Finished search on Quillon\n");
    const size_t verrinStart = run.out.find("Start Verrin search for keyword \"fresh bread\"\n");
    ASSERT_NE(quillonEnd, std::string::npos) << run.out;
    ASSERT_NE(verrinStart, std::string::npos) << run.out;
    EXPECT_LT(quillonEnd, verrinStart);
    EXPECT_NE(run.out.find("Finished search on Verrin\n"), std::string::npos);
    EXPECT_NE(run.out.find("Can't connect to Quillon. Page skipped\n"), std::string::npos);
    // Piped output holds the plain lines only: no progress display.
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(run.out.find("keyword 1 of"), std::string::npos);

    const Result csv = Rankcheck({"report", "--dir", folder_, "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto records = ParseCsv(csv.out);
    ASSERT_EQ(records.size(), 1 + kKeywords.size() * 3 * 2) << csv.out;
    EXPECT_EQ(records[0], (V{"keyword", "url", "engine", "rank", "status", "previous_rank",
                             "change", "check_id", "checked_at", "note"}));
    EXPECT_EQ(FromCsv(records), kExpected);
    EXPECT_EQ(records[1][7], "1");
    EXPECT_TRUE(std::regex_match(records[1][8], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));

    const Result js = Rankcheck({"report", "--dir", folder_, "--format", "json"});
    ASSERT_EQ(js.status, 0) << js.err;
    const json doc = json::parse(js.out);
    Expected fromJson;
    for (const auto& row : doc["rows"]) {
        auto& cell = fromJson[row["keyword"]][row["url"]];
        (row["engine"] == "Quillon" ? cell.first : cell.second) = CellOf(
            row["rank"].is_null() ? "" : std::to_string(row["rank"].get<int>()), row["status"]);
    }
    EXPECT_EQ(fromJson, kExpected);
    EXPECT_EQ(doc["engines"][0]["check"]["keywords_given_up"], 1);
    EXPECT_EQ(doc["engines"][1]["check"]["state"], "complete");

    const Result table = Rankcheck({"report", "--dir", folder_});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(std::regex_search(table.out, std::regex("^Quillon: check 1, \\d{4}-\\d\\d-\\d\\d "
                                                        "\\d\\d:\\d\\d UTC, complete")))
        << table.out;
    EXPECT_TRUE(std::regex_search(table.out,
                                  std::regex("\nfresh bread +www\\.my-bakery\\.example +3 +1\n")))
        << table.out;
    EXPECT_TRUE(
        std::regex_search(table.out, std::regex("\n +www\\.flour-mill\\.example +17 +22\n")));
    EXPECT_TRUE(std::regex_search(
        table.out, std::regex("\nbroken oven +www\\.my-bakery\\.example +error +5\n")));

    const std::string htmlFile = folder_ + "/report.html";
    const Result html =
        Rankcheck({"report", "--dir", folder_, "--format", "html", "--output", htmlFile});
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_TRUE(html.out.empty());
    EXPECT_NE(html.err.find(htmlFile), std::string::npos) << html.err;  // says where it is
    const std::string page = ReadFile(htmlFile);
    // Links only within the page.
    EXPECT_FALSE(
        std::regex_search(page, std::regex(R"(src\s*=|href\s*=\s*"[^#])", std::regex::icase)));
    // Nothing from elsewhere: no style sheet or script file; the one script is the page's own.
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(<link|<script[^>]|@import|url\((?!#))")));
    EXPECT_EQ(page.find("<script>"), page.rfind("<script>"));
    EXPECT_TRUE(std::regex_search(page, std::regex(R"(<td class="rank b1"[^>]*>3\b)")));
    EXPECT_TRUE(std::regex_search(page, std::regex(R"(<td class="rank b3"[^>]*>17\b)")));
    EXPECT_TRUE(std::regex_search(page, std::regex(R"(<td class="rank err"[^>]*>error)")));
    EXPECT_NE(page.find("<svg class=\"trend\""), std::string::npos);
    EXPECT_NE(page.find("<ol class=\"top10\">"), std::string::npos);
}

TEST_F(RankcheckE2E, ReportTopExactMatchAndNotSearched) {
    StartSim();
    ASSERT_EQ(Rankcheck({"run", "quillon", "--dir", folder_}).status, 3);

    // Verrin has not run: every Verrin cell is "not searched".
    Result csv = Rankcheck({"report", "--dir", folder_, "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    Expected got = FromCsv(ParseCsv(csv.out));
    ASSERT_EQ(got.size(), 4u);
    for (const auto& [keyword, urls] : got) {
        for (const auto& [url, cells] : urls)
            EXPECT_EQ(cells.second, "not_searched") << keyword << " " << url;
    }
    EXPECT_EQ(got["fresh bread"][kMill].first, "17");

    // --top 12 keeps 3 and 12, drops 17 and 25; --exact-match asks for the whole link, which
    // only the bakery's home page on Quillon is.
    csv = Rankcheck({"report", "--dir", folder_, "--format", "csv", "--top", "12", "--exact-match",
                     "--engines", "quillon"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    got = FromCsv(ParseCsv(csv.out));
    EXPECT_EQ(got["fresh bread"][kBakery].first, "3");
    EXPECT_EQ(got["fresh bread"][kMill].first, "-");
    EXPECT_EQ(got["sourdough starter"][kBakery].first, "-");  // a longer link: not exact
    EXPECT_EQ(got["rye flour"][kMill].first, "-");
    EXPECT_EQ(got["broken oven"][kBakery].first, "error");  // given up before position 12
    EXPECT_EQ(got["fresh bread"][kBakery].second, "");      // Verrin not asked for
}

// Splits the resume command that rankcheck printed (its words need no quoting here).
V ResumeCommand(const std::string& err) {
    std::smatch match;
    if (!std::regex_search(err, match, std::regex("\n  (\\S+ run .*--resume)\n"))) return {};
    std::istringstream words(match[1].str());
    V args;
    for (std::string word; words >> word;)
        args.push_back(word);
    return args;
}

TEST_F(RankcheckE2E, CtrlCStopsAfterThePageAndResumeFinishesTheRun) {
    // Every page takes a while, so that the run is still going when it is stopped.
    std::string scenario = kScenario;
    scenario.replace(scenario.rfind('}'), 1, R"(, "faults": [{"kind": "delay", "ms": 120}]})");
    StartSim(scenario);
    WriteLines("keywords.lst", {"fresh bread", "rye flour", "sourdough starter"});

    // The limit is above every keyword's results, so each keyword ends with a short page.
    ChildProcess run({kRankcheck, "run", "verrin", "--dir", folder_, "--max-results", "60"});
    ASSERT_TRUE(run.ReadUntilContains("pos. on Verrin", 20000)) << run.Out() << run.Err();
    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(), 130) << run.Out() << run.Err();
    // The page under way was finished and the run closed normally.
    EXPECT_NE(run.Out().find("Finished search on Verrin\n"), std::string::npos);
    EXPECT_EQ(run.Out().find("sourdough starter"), std::string::npos) << "the stop came too late";
    const V progress = ReadLines("jobs/run/Verrin.set");
    ASSERT_EQ(progress.size(), 4u);

    const V again = ResumeCommand(run.Err());
    ASSERT_FALSE(again.empty()) << run.Err();
    EXPECT_EQ(again[0], kRankcheck);
    EXPECT_NE(std::find(again.begin(), again.end(), "--max-results"), again.end());
    ChildProcess resumed(again);
    ASSERT_EQ(resumed.Wait(), 0) << resumed.Out() << resumed.Err();
    EXPECT_NE(resumed.Out().find("Finished search on Verrin\n"), std::string::npos);

    // Stopped and resumed, the result files hold every link of each keyword once, in rank order.
    EXPECT_EQ(ReadLines("jobs/run/Verrin-0.urls"),
              FullResults("fresh bread", enginesim::Engine::Verrin, scenario));
    EXPECT_EQ(ReadLines("jobs/run/Verrin-1.urls"),
              FullResults("rye flour", enginesim::Engine::Verrin, scenario));
    EXPECT_EQ(ReadLines("jobs/run/Verrin-2.urls"),
              FullResults("sourdough starter", enginesim::Engine::Verrin, scenario));
}

TEST_F(RankcheckE2E, RunAllRunsBothEnginesAtOnceAndOneCtrlCStopsBoth) {
    // Every page takes a while, so that both runs are under way together.
    std::string scenario = kScenario;
    scenario.replace(scenario.rfind('}'), 1, R"(, "faults": [{"kind": "delay", "ms": 60}]})");
    StartSim(scenario);

    ChildProcess run({kRankcheck, "run", "all", "--dir", folder_});
    ASSERT_TRUE(run.ReadUntilContains("pos. on Verrin", 20000)) << run.Out() << run.Err();
    ASSERT_TRUE(run.ReadUntilContains("pos. on Quillon", 20000)) << run.Out() << run.Err();
    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(), 130) << run.Out() << run.Err();
    // One Ctrl-C stopped both after their pages under way; each closed normally.
    EXPECT_NE(run.Out().find("Finished search on Quillon\n"), std::string::npos) << run.Out();
    EXPECT_NE(run.Out().find("Finished search on Verrin\n"), std::string::npos) << run.Out();
    EXPECT_EQ(run.Out().find("broken oven"), std::string::npos) << "the stop came too late";
    const V again = ResumeCommand(run.Err());
    ASSERT_FALSE(again.empty()) << run.Err();
    EXPECT_EQ(again[2], "all");

    const Result resumed = Rankcheck(V(again.begin() + 1, again.end()));
    ASSERT_EQ(resumed.status, 3) << resumed.out << resumed.err;  // Quillon gave "broken oven" up
    // The two engines' lines are interleaved: Verrin began before Quillon finished.
    EXPECT_LT(resumed.out.find("pos. on Verrin"), resumed.out.find("Finished search on Quillon"))
        << resumed.out;
    EXPECT_NE(resumed.err.find("Quillon (check 1): complete with 1 failed (1 given up)\n  3 of 4 "
                               "keywords trusted"),
              std::string::npos)
        << resumed.err;
    EXPECT_NE(resumed.err.find("Verrin (check 2): complete\n  4 of 4 keywords trusted"),
              std::string::npos)
        << resumed.err;
    const Result csv = Rankcheck({"report", "--dir", folder_, "--format", "csv"});
    EXPECT_EQ(FromCsv(ParseCsv(csv.out)), kExpected);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ReadLines("jobs/run/Verrin-" + std::to_string(i) + ".urls"),
                  FullResults(kKeywords[i], enginesim::Engine::Verrin, scenario))
            << kKeywords[i];
    }
}

TEST_F(RankcheckE2E, ATerminalShowsBothEnginesAndTheTimeLeft) {
    std::string scenario = kScenario;
    scenario.replace(scenario.rfind('}'), 1, R"(, "faults": [{"kind": "delay", "ms": 40}]})");
    StartSim(scenario);
    const Result shown =
        Rankcheck({"run", "all", "--dir", folder_}, ChildProcess::Output::Terminal);
    ASSERT_EQ(shown.status, 3) << shown.out;
    EXPECT_TRUE(
        std::regex_search(shown.out, std::regex("Quillon: keyword \\d of 4, \\d+ pos\\.[^\r]* \\| "
                                                "Verrin: keyword \\d of 4, \\d+ pos\\.")))
        << shown.out;
    EXPECT_TRUE(std::regex_search(shown.out, std::regex("about \\d+:\\d\\d left")));
}

TEST_F(RankcheckE2E, SecondCtrlCQuitsAtOnceAndTheFilesStayWhole) {
    // The second page request hangs for long; the first one is recorded before it.
    std::string scenario = kScenario;
    scenario.replace(
        scenario.rfind('}'), 1,
        R"(, "faults": [{"kind": "delay", "ms": 20000, "fromRequest": 2, "times": 1}]})");
    StartSim(scenario);

    ChildProcess run({kRankcheck, "run", "quillon", "--dir", folder_});
    ASSERT_TRUE(run.ReadUntilContains("10 pos. on Quillon", 20000)) << run.Out() << run.Err();
    // By now the job thread waits for the second page; the first Ctrl-C cannot end the run.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto begin = std::chrono::steady_clock::now();
    run.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(10000), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_NE(run.Err().find("stopped at once"), std::string::npos) << run.Err();
    EXPECT_EQ(run.Out().find("Finished search on"), std::string::npos);

    // The files describe the first page; a resumed run goes on from there to the end.
    const V progress = ReadLines("jobs/run/Quillon.set");
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(V(progress.begin(), progress.begin() + 3), (V{"2", "10", "0"}));
    EXPECT_EQ(ReadLines("jobs/run/Quillon-0.urls").size(), 10u);
    const Result resumed = Rankcheck({"run", "quillon", "--dir", folder_, "--resume"});
    ASSERT_EQ(resumed.status, 3) << resumed.out << resumed.err;  // "broken oven" given up
    EXPECT_EQ(ReadLines("jobs/run/Quillon-0.urls"),
              FullResults("fresh bread", enginesim::Engine::Quillon, scenario));
}

TEST_F(RankcheckE2E, ATerminalGetsAProgressLineThatLeavesTheLogIntact) {
    StartSim();
    WriteLines("keywords.lst", {"fresh bread", "rye flour"});
    const Result piped = Rankcheck({"run", "quillon", "--dir", folder_});
    ASSERT_EQ(piped.status, 0);
    const Result shown =
        Rankcheck({"run", "quillon", "--dir", folder_}, ChildProcess::Output::Terminal);
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("Quillon: keyword 2 of 2 \"rye flour\""), std::string::npos)
        << shown.out;
    // Without the progress drawings (each one erased again before the next log line) the
    // terminal shows the same log as the pipe (the terminal turns LF into CR LF).
    std::string log =
        std::regex_replace(shown.out, std::regex("\r\033\\[K[^\r\n]*(?=\r\033\\[K)"), "");
    log = std::regex_replace(log, std::regex("\r\033\\[K"), "");
    log = std::regex_replace(log, std::regex("\r\n"), "\n");
    EXPECT_EQ(log, piped.out);
}

TEST_F(RankcheckE2E, ARunEndedByAFailureExitsWith1) {
    StartSim();
    // The result file cannot be replaced: the plug-in's first recording fails.
    fs::create_directories("jobs/run/Quillon-0.urls");
    const Result run = Rankcheck({"run", "quillon", "--dir", folder_});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("Search on Quillon stopped: "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("the Quillon run ended early"), std::string::npos) << run.err;
}

TEST_F(RankcheckE2E, APlugInGivenByItsPath) {
    StartSim();
    WriteLines("keywords.lst", {"rye flour"});
    const Result run = Rankcheck({"run", kVerrinLib, "--dir", folder_});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadLines("jobs/run/Verrin-0.urls"),
              FullResults("rye flour", enginesim::Engine::Verrin, kScenario));
}

TEST_F(RankcheckE2E, StartFailuresPrintThePlugInsMessageAndExitWith2) {
    WriteLines("proxy.def", {"0"});
    struct Case {
        std::function<void()> prepare;
        V args;
        std::string named;
        std::string said = "could not start";  // the plug-in's own refusal, or rankcheck's
    };
    const std::vector<Case> cases{
        {[] { std::remove("keywords.lst"); }, {"run", "quillon"}, "keywords.lst"},
        {[] {
             WriteLines("keywords.lst", {"kw"});
             std::remove("urls.lst");
         },
         {"run", "verrin"},
         "urls.lst"},
        {[] {
             WriteLines("urls.lst", {"a.example", ""});
         },
         {"run", "quillon"},
         "urls.lst line 2"},
        // rankcheck itself says what a missing proxy.def and a resume without progress mean.
        {[] {
             WriteLines("urls.lst", {"a.example"});
             std::remove("proxy.def");
         },
         {"run", "quillon"},
         "proxy.def",
         "a single line 0 for a direct connection (`" + kRankcheck + " init`"},
        {[] { WriteLines("proxy.def", {"0"}); },
         {"run", "quillon", "--resume"},
         "no Quillon.set",
         "there is nothing to resume on Quillon"},
    };
    for (const auto& c : cases) {
        c.prepare();
        V args = c.args;
        // A direct connection cannot reach the engines' hosts from here.
        args.insert(args.end(), {"--dir", folder_, "--no-preflight"});
        const Result r = Rankcheck(args);
        EXPECT_EQ(r.status, 2) << c.named << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.named << ": " << r.err;
    }
}

TEST_F(RankcheckE2E, BadArgumentsAndFoldersExitWith2) {
    const std::string missing = folder_ + "/no-such-folder";
    const std::vector<std::pair<V, std::string>> cases{
        {{"run", "quillon", "--dir", missing}, "no-such-folder"},
        {{"report", "--dir", missing}, "no-such-folder"},
        {{"run", "bing", "--dir", folder_}, "no plug-in \"bing\" (libbing.so)"},
        {{"run", "quillon", "--plugin-dir", folder_}, "no plug-in \"quillon\" (libquillon.so)"},
        {{"run", "quillon", "--max-results", "-1"}, "--max-results"},
        {{"run"}, "engine"},
        {{"report", "--format", "xml"}, "--format"},
        {{"report", "--top", "0"}, "--top"},
        {{"frobnicate"}, "unknown command \"frobnicate\"; the commands are init, run, report"},
        {{}, "a command is needed"},
    };
    for (const auto& [args, named] : cases) {
        const Result r = Rankcheck(args);
        EXPECT_EQ(r.status, 2) << named << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << named << ": " << r.err;
    }
    // A report of a folder without a ledger says so, and how to make the first check; it
    // creates nothing there.
    fs::create_directory("empty");
    const Result r = Rankcheck({"report", "--dir", folder_ + "/empty"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("rankcheck.db does not exist"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("run all --dir"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty("empty"));
}

// The demo's example: every site the scenario placed shows at its rank, on both engines.
TEST_F(RankcheckE2E, TheExampleScenarioReportsThePlacedRanks) {
    const fs::path examples = EXAMPLES_DIR;
    ASSERT_TRUE(fs::exists(examples / "scenario.json")) << examples << " lacks the demo's scenario";
    fs::copy_file(examples / "keywords.lst", "keywords.lst", fs::copy_options::overwrite_existing);
    fs::copy_file(examples / "urls.lst", "urls.lst", fs::copy_options::overwrite_existing);
    const std::string scenarioText = ReadFile((examples / "scenario.json").string());
    StartSim(scenarioText);
    const Result run = Rankcheck({"run", "all", "--dir", folder_});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const Result report = Rankcheck({"report", "--dir", folder_, "--format", "json"});
    ASSERT_EQ(report.status, 0) << report.err;
    const json doc = json::parse(report.out);

    const auto scenario = enginesim::Scenario::FromJson(scenarioText);
    auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const int maxResults = 100;  // rankcheck's default
    int foundCells = 0;
    for (const auto& row : doc["rows"]) {
        const std::string keyword = row["keyword"], url = row["url"];
        const auto engine =
            row["engine"] == "Quillon" ? enginesim::Engine::Quillon : enginesim::Engine::Verrin;
        // The best placed site holding the URL, among the positions examined: pages are
        // recorded whole, so those end at a page boundary. No generated link holds a placed site.
        const int perPage = enginesim::ResultsPerPage(engine);
        const int examined = std::min(scenario.ResultCount(keyword, engine),
                                      (maxResults + perPage - 1) / perPage * perPage);
        int best = 0;
        if (const auto* setup = scenario.Find(keyword, engine)) {
            for (const auto& site : setup->sites) {
                if (site.rank <= examined && (best == 0 || site.rank < best) &&
                    lower(site.link).find(lower(url)) != std::string::npos) {
                    best = site.rank;
                }
            }
        }
        const std::string got = row["status"] == "ranked" ? std::to_string(row["rank"].get<int>())
                                                          : row["status"].get<std::string>();
        EXPECT_EQ(got, best > 0 ? std::to_string(best) : "not_found")
            << keyword << " / " << url << " on " << enginesim::EngineName(engine);
        if (best > 0) ++foundCells;
    }
    EXPECT_GE(foundCells, 10) << "the example should place the user's sites";
}

TEST(RankcheckHelp, EveryCommandDescribesItsOptions) {
    const Result top = Rankcheck({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* word : {"run", "report", "keywords.lst", "urls.lst", "proxy.def", ".urls"})
        EXPECT_NE(top.out.find(word), std::string::npos) << word;
    const Result run = Rankcheck({"run", "--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"--resume", "--max-results", "--stop-when-all-found", "--exact-match",
                             "--dir", "--plugin-dir", "Exit status", "130", "Ctrl-C"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    const Result report = Rankcheck({"report", "--help"});
    EXPECT_EQ(report.status, 0);
    for (const char* word : {"--dir", "--format", "--output", "--top", "--exact-match", "csv",
                             "json", "html", "not searched", "Exit status"})
        EXPECT_NE(report.out.find(word), std::string::npos) << word;
}

}  // namespace
