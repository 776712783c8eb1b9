// Both plug-ins, through their exports, against engine-sim: a resumed run whose saved keyword lost
// result lines, a stop while a page trickles in, and symbolic links planted where the job writes
// its files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>

#include "jobfiles/job_files.h"
#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using enginesim::Engine;
using enginesim::Fault;
using enginesim::FaultKind;
using Clock = std::chrono::steady_clock;
using V = std::vector<std::string>;

struct EngineCase {
    const char* name;
    const char* lib;
    Engine engine;
    int perPage;
};

void PrintTo(const EngineCase& c, std::ostream* out) {
    *out << c.name;
}

const EngineCase kQuillon{"Quillon", QUILLON_LIB, Engine::Quillon, 10};
const EngineCase kVerrin{"Verrin", VERRIN_LIB, Engine::Verrin, 15};

// Keyword "kw" has three full pages and a short one; "after" one short page.
class PluginMends : public SimFixture, public ::testing::WithParamInterface<EngineCase> {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        Keywords({"kw", "after"});
        scenario_.Setup("kw", E().engine).results = 3 * E().perPage + 4;
        scenario_.Setup("after", E().engine).results = 3;
        sim_.SetScenario(scenario_);
    }
    void TearDown() override { Plugin().bridge.OnLine = nullptr; }

    const EngineCase& E() const { return GetParam(); }
    PluginHarness& Plugin() {
        static std::map<std::string, std::unique_ptr<PluginHarness>> plugins;
        auto& p = plugins[E().name];
        if (!p) p = std::make_unique<PluginHarness>(E().lib, E().name);
        return *p;
    }
    // Faults of keyword "kw" from now on.
    void FaultsOnKw(const std::vector<Fault>& faults) {
        scenario_.Setup("kw", E().engine).faults = faults;
        sim_.SetScenario(scenario_);
    }
    // A run that asks to stop as soon as the host receives `stopAtLine`.
    void RunStoppingAt(const std::string& stopAtLine, char resume = 0) {
        auto& plugin = Plugin();
        plugin.bridge.ClearLines();
        plugin.bridge.OnLine = [&plugin, stopAtLine](const std::string& line) {
            if (line == stopAtLine) plugin.stop();
        };
        ASSERT_TRUE(plugin.Run(resume));
        plugin.bridge.OnLine = nullptr;
    }
    // A run to the end; returns its log.
    V Run(char resume) {
        auto& plugin = Plugin();
        plugin.bridge.ClearLines();
        EXPECT_TRUE(plugin.Run(resume)) << "the run did not end";
        return plugin.Log();
    }
    std::string Name(const std::string& suffix) const { return E().name + suffix; }
    std::string ResultFile(int i) const { return Name("-" + std::to_string(i) + ".urls"); }
    V Links(int i) const { return ReadLines(ResultFile(i)); }
    V Progress() const { return ReadLines(Name(".set")); }
    V Expected(const std::string& keyword) const {
        return SimFixture::Expected(keyword, E().engine, scenario_, E().engine == Engine::Quillon);
    }
    std::string PosLine(int n, const std::string& keyword) const {
        return std::to_string(n) + " pos. on " + E().name + " for \"" + keyword + "\"";
    }
    std::string StartLine(const std::string& keyword) const {
        return std::string("Start ") + E().name + " search for keyword \"" + keyword + "\"";
    }

    enginesim::Scenario scenario_;
};

using ResumeRepair = PluginMends;
using RequestLimits = PluginMends;
using PlantedLinks = PluginMends;

// --- A resumed run whose saved keyword lost result lines ---

TEST_P(ResumeRepair, ATruncatedOrEmptiedResultFileStartsTheKeywordAgain) {
    ASSERT_TRUE(Plugin().Run());
    const V whole = Links(0);
    ASSERT_EQ(whole, Expected("kw"));

    for (const size_t kept : {size_t{5}, size_t{0}}) {
        SCOPED_TRACE("lines kept: " + std::to_string(kept));
        RunStoppingAt(PosLine(2 * E().perPage, "kw"));
        ASSERT_EQ(Progress().at(1), std::to_string(2 * E().perPage));
        ASSERT_EQ(Progress().at(2), "0");
        const V saved = Links(0);
        WriteLines(ResultFile(0), V(saved.begin(), saved.begin() + kept));

        const V log = Run(1);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], StartLine("kw"));
        EXPECT_EQ(log[1], PosLine(E().perPage, "kw"));
        EXPECT_EQ(Links(0), whole);
        EXPECT_EQ(Links(1), Expected("after"));
    }
}

TEST_P(ResumeRepair, ANegativePositionStartsTheKeywordAgain) {
    WriteLines(Name(".set"), {"3", "-4", "0", "http://" + std::string(E().name) + ".example/"});
    WriteLines(ResultFile(0), {"www.left.example/over", "www.from.example/before"});
    const V log = Run(1);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], StartLine("kw"));
    EXPECT_EQ(RequestedUrls().at(0), ReadLines(Name(".start")).at(0));
    EXPECT_EQ(Links(0), Expected("kw"));
    EXPECT_EQ(Links(1), Expected("after"));
}

TEST_P(ResumeRepair, AKeywordGivenUpInAnOutageStaysGivenUp) {
    // The engine answers nothing from page 2 of "kw" on: "kw" is given up, then stopped.
    scenario_.faults = {{.kind = FaultKind::Drop, .fromRequest = 2}};
    sim_.SetScenario(scenario_);
    RunStoppingAt(std::string("Can't connect to ") + E().name + ". Page skipped");
    ASSERT_EQ(Progress().at(0), "1000");
    ASSERT_EQ(Progress().at(1), "10000");
    ASSERT_EQ(Progress().at(2), "0");
    V givenUp = Expected("kw");
    givenUp.resize(static_cast<size_t>(E().perPage));
    givenUp.push_back("2#Error found#");
    ASSERT_EQ(Links(0), givenUp);

    // The outage is over: "kw" keeps what it had, "after" is searched.
    scenario_.faults.clear();
    sim_.SetScenario(scenario_);
    // The resumed run asks for one more page of "kw" before it moves on (Verrin's is the page
    // that failed, whose links then follow the marker at their own ranks).
    const V log = Run(1);
    EXPECT_EQ(std::count(log.begin(), log.end(), StartLine("kw")), 0);
    const V links = Links(0);
    ASSERT_GE(links.size(), givenUp.size());
    EXPECT_EQ(V(links.begin(), links.begin() + static_cast<long>(givenUp.size())), givenUp);
    V ranked = jobfiles::ResultLines::From(links).links;
    V expected = Expected("kw");
    ASSERT_LE(ranked.size(), expected.size());
    expected.resize(ranked.size());
    EXPECT_EQ(ranked, expected);
    EXPECT_EQ(Links(1), Expected("after"));
    EXPECT_EQ(log.back(), std::string("Finished search on ") + E().name);
}

// --- A stop while a page trickles in ---

TEST_P(RequestLimits, AStopDuringATricklingPageEndsTheRunWithinSeconds) {
    // Page 2 of "kw" announces a megabyte and sends two bytes a second: it would hold the run
    // for the whole low-speed time (30 s) without the stop.
    FaultsOnKw({{.kind = FaultKind::Drip, .page = 2, .times = 1, .bytesPerSecond = 2}});
    auto& plugin = Plugin();
    plugin.bridge.ClearLines();
    plugin.Start();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (sim_.Requests().size() < 2 && Clock::now() < deadline)
        plugin.bridge.Pump(5);
    ASSERT_EQ(sim_.Requests().size(), 2u);
    ASSERT_EQ(sim_.Requests()[1].faults, "drip");
    plugin.stop();
    const bool ended = plugin.WaitFinished(std::chrono::seconds(7));
    plugin.clear();
    ASSERT_TRUE(ended) << "the run was still waiting for the page 7 s after the stop";

    // The page under way is not recorded, nor counted as a failure: the files describe page 1,
    // and the progress names page 2 as the one to ask next.
    const V log = plugin.Log();
    EXPECT_EQ(log, (V{StartLine("kw"), PosLine(E().perPage, "kw"),
                      std::string("Finished search on ") + E().name}));
    V firstPage = Expected("kw");
    firstPage.resize(static_cast<size_t>(E().perPage));
    EXPECT_EQ(Links(0), firstPage);
    EXPECT_EQ(Progress().at(0), "2");
    EXPECT_EQ(Progress().at(1), std::to_string(E().perPage));
    EXPECT_EQ(Progress().at(3), sim_.Requests()[1].url);

    // Resumed, the run asks for that page again and ends as an uninterrupted run would.
    Run(1);
    EXPECT_EQ(sim_.Requests().at(2).url, sim_.Requests()[1].url);
    EXPECT_EQ(Links(0), Expected("kw"));
    EXPECT_EQ(Links(1), Expected("after"));
}

TEST_P(RequestLimits, AStopStillLetsAPageThatComesInTimeFinish) {
    FaultsOnKw({{.kind = FaultKind::Delay, .page = 2, .times = 1, .ms = 1500}});
    auto& plugin = Plugin();
    plugin.bridge.ClearLines();
    plugin.Start();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (sim_.Requests().size() < 2 && Clock::now() < deadline)
        plugin.bridge.Pump(5);
    plugin.stop();
    ASSERT_TRUE(plugin.WaitFinished());
    plugin.clear();
    EXPECT_EQ(plugin.Log().at(2), PosLine(2 * E().perPage, "kw"));
    EXPECT_EQ(Links(0).size(), static_cast<size_t>(2 * E().perPage));
}

// --- Symbolic links planted where the job writes ---

TEST_P(PlantedLinks, ALinkAtATemporaryOrFinalNameIsNeverWrittenThrough) {
    const std::string precious = "precious\r\n";
    const V temporaries{ResultFile(0) + ".tmp", ResultFile(1) + ".tmp", Name(".set.tmp")};
    for (size_t i = 0; i < temporaries.size(); ++i) {
        const std::string victim = "victim" + std::to_string(i) + ".txt";
        WriteFile(victim, precious);
        ASSERT_EQ(::symlink(victim.c_str(), temporaries[i].c_str()), 0);
    }
    // A dangling link would have its target created; a link at a final name is replaced.
    ASSERT_EQ(::symlink("created-through-link.txt", Name(".start.tmp").c_str()), 0);
    WriteFile("victim-final.txt", precious);
    ASSERT_EQ(::symlink("victim-final.txt", ResultFile(0).c_str()), 0);

    const V log = Run(0);
    EXPECT_EQ(log.back(), std::string("Finished search on ") + E().name);
    for (size_t i = 0; i < temporaries.size(); ++i)
        EXPECT_EQ(ReadFile("victim" + std::to_string(i) + ".txt"), precious) << temporaries[i];
    EXPECT_EQ(ReadFile("victim-final.txt"), precious);
    EXPECT_FALSE(std::filesystem::exists("created-through-link.txt"));
    for (const std::string& tmp :
         {temporaries[0], temporaries[1], temporaries[2], Name(".start.tmp")})
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tmp))) << tmp;

    // The job's files are right, and regular files where the links stood.
    EXPECT_FALSE(std::filesystem::is_symlink(ResultFile(0)));
    EXPECT_EQ(Links(0), Expected("kw"));
    EXPECT_EQ(Links(1), Expected("after"));
    EXPECT_EQ(Progress().at(2), "1");
    EXPECT_EQ(ReadLines(Name(".start")).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Engines, ResumeRepair, ::testing::Values(kQuillon, kVerrin),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Engines, RequestLimits, ::testing::Values(kQuillon, kVerrin),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Engines, PlantedLinks, ::testing::Values(kQuillon, kVerrin),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
