// Both plug-ins against every fault engine-sim can act out: the run does what it should, never
// crashes or hangs, and the job files stay consistent (each result file holds exactly one line
// per reported position, plus error marker lines; the progress file has its four lines).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <ostream>
#include <regex>

#include "platform/sysutils.h"
#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using enginesim::Engine;
using enginesim::Fault;
using enginesim::FaultKind;
using V = std::vector<std::string>;

struct EngineCase {
    const char* name;
    const char* lib;
    Engine engine;
    int perPage;
};

// How gtest shows a case in its output and in failure messages: by the engine's name.
void PrintTo(const EngineCase& c, std::ostream* out) {
    *out << c.name;
}

const EngineCase kQuillon{"Quillon", QUILLON_LIB, Engine::Quillon, 10};
const EngineCase kVerrin{"Verrin", VERRIN_LIB, Engine::Verrin, 15};

class FaultMatrix : public SimFixture, public ::testing::WithParamInterface<EngineCase> {
  protected:
    const EngineCase& E() const { return GetParam(); }
    PluginHarness& Plugin() {
        static std::map<std::string, std::unique_ptr<PluginHarness>> plugins;
        auto& p = plugins[E().name];
        if (!p) p = std::make_unique<PluginHarness>(E().lib, E().name);
        p->bridge.ClearLines();
        return *p;
    }
    // Runs the keywords with `faults` on keyword "kw" (results: 3 pages and a bit) and checks
    // that the run finished and left consistent files. Returns the run's log.
    V RunWith(const std::vector<Fault>& faults, char stopWhenAllFound = 0, int maxResults = 100,
              std::chrono::seconds limit = std::chrono::seconds(60)) {
        scenario_.Setup("kw", E().engine).results = 3 * E().perPage + 4;
        scenario_.Setup("kw", E().engine).faults = faults;
        scenario_.Setup("after", E().engine).results = 3;
        sim_.SetScenario(scenario_);
        Keywords({"kw", "after"});
        auto& plugin = Plugin();
        EXPECT_TRUE(plugin.Run(0, maxResults, stopWhenAllFound, 0, limit)) << "the run did not end";
        const V log = plugin.Log();
        ExpectConsistentFiles(log);
        return log;
    }
    std::string ResultFile(int i) const {
        return std::string(E().name) + "-" + std::to_string(i) + ".urls";
    }
    V Links(int i) const { return ReadLines(ResultFile(i)); }
    V Expected(const std::string& keyword) const {
        return SimFixture::Expected(keyword, E().engine, scenario_, E().engine == Engine::Quillon);
    }
    long Count(const V& log, const std::string& line) const {
        return std::count(log.begin(), log.end(), line);
    }
    std::string Line(const std::string& text) const {
        return std::regex_replace(text, std::regex("ENGINE"), E().name);
    }

    // Every keyword that reported positions has a result file with exactly that many link
    // lines (error marker lines aside); the progress file has four lines, three of them numbers.
    void ExpectConsistentFiles(const V& log) const {
        std::map<std::string, int> reported;
        const std::regex pos("^(\\d+) pos\\. on " + std::string(E().name) + " for \"(.*)\"$");
        for (const auto& line : log) {
            std::smatch m;
            if (std::regex_match(line, m, pos)) reported[m[2]] = std::stoi(m[1]);
        }
        const V keywords = ReadLines("keywords.lst");
        for (size_t i = 0; i < keywords.size(); ++i) {
            if (!reported.count(keywords[i])) continue;
            const V links = Links(static_cast<int>(i));
            const auto markers = std::count_if(
                links.begin(), links.end(),
                [](const std::string& l) { return l.find("#Error found#") != std::string::npos; });
            EXPECT_EQ(static_cast<long>(links.size()) - markers, reported[keywords[i]])
                << ResultFile(static_cast<int>(i));
        }
        const V progress = ReadLines(std::string(E().name) + ".set");
        ASSERT_GE(progress.size(), 4u);
        for (int i = 0; i < 3; ++i)
            EXPECT_NO_THROW(StrToInt(progress[i])) << progress[i];
    }

    enginesim::Scenario scenario_;
};

TEST_P(FaultMatrix, ConnectionRefusedGivesEveryKeywordUp) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(ntohs(addr.sin_port))});
    Keywords({"kw", "after"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V log = plugin.Log();
    EXPECT_EQ(Count(log, Line("Can't connect to ENGINE. Trying again")), 12);
    EXPECT_EQ(Count(log, Line("Can't connect to ENGINE. Page skipped")), 2);
    EXPECT_EQ(Links(0), V{"1#Error found#"});
    EXPECT_EQ(Links(1), V{"1#Error found#"});
    EXPECT_EQ(log.back(), Line("Finished search on ENGINE"));
}

TEST_P(FaultMatrix, ServerErrorsAndBrokenConnectionsAreRetried) {
    const V log =
        RunWith({MakeFault(FaultKind::Status, 1, 2), MakeFault(FaultKind::CloseMidBody, 2, 2),
                 MakeFault(FaultKind::NoAnswer, 3, 1)});
    EXPECT_EQ(Count(log, Line("Can't connect to ENGINE. Trying again")), 5);
    EXPECT_EQ(Links(0), Expected("kw"));
    EXPECT_EQ(log.back(), Line("Finished search on ENGINE"));
}

TEST_P(FaultMatrix, ProxyRefusingCredentials) {
    scenario_.proxyAuth = enginesim::ProxyAuth{"user", "right"};
    UseProxy("user", "wrong");
    const V log = RunWith({});
    EXPECT_EQ(Links(0), V{"1#Error found#"});
    EXPECT_EQ(Links(1), V{"1#Error found#"});
    for (const auto& r : sim_.Requests())
        EXPECT_EQ(r.status, 407);
}

TEST_P(FaultMatrix, TruncatedPageKeepsTheLinksBeforeTheCut) {
    Fault cut = MakeFault(FaultKind::Truncate, 2);
    cut.result = 5;
    const V log = RunWith({cut});
    V expected = Expected("kw");
    expected.resize(E().perPage + 4);  // the cut fifth link of page 2 is dropped
    EXPECT_EQ(Links(0), expected);
    EXPECT_EQ(Links(1), Expected("after"));
    EXPECT_EQ(log.back(), Line("Finished search on ENGINE"));
}

TEST_P(FaultMatrix, RepeatedPage) {
    // Looking for all the user's URLs, a page served twice ends the keyword.
    const V log = RunWith({MakeFault(FaultKind::RepeatPage, 3)}, 1);
    const V links = Links(0);
    const size_t p = E().perPage;
    ASSERT_EQ(links.size(), 3 * p);
    EXPECT_EQ(V(links.begin() + 2 * p, links.end()), V(links.begin() + p, links.begin() + 2 * p));
    // Without that test, the repeated links are recorded and the walk goes on: Quillon to the
    // next offset, Verrin to the link the repeated page holds, which names the third page again.
    RunWith({MakeFault(FaultKind::RepeatPage, 3, 1)}, 0);
    EXPECT_EQ(Links(0).size(), (E().engine == Engine::Quillon ? 3 : 4) * p + 4);
}

TEST_P(FaultMatrix, MissingNextLink) {
    const V log = RunWith({MakeFault(FaultKind::NoNextLink, 2)});
    const size_t p = E().perPage;
    // Quillon pages carry no next-page link to lose; Verrin's walk goes to the bare host and
    // ends there.
    EXPECT_EQ(Links(0).size(), E().engine == Engine::Quillon ? 3 * p + 4 : 2 * p);
    EXPECT_EQ(Links(1), Expected("after"));
}

TEST_P(FaultMatrix, EmptyLinkAndLineBreakKeepPositionsAligned) {
    Fault empty = MakeFault(FaultKind::EmptyLink, 1);
    empty.result = 3;
    Fault lineBreak = MakeFault(FaultKind::LineBreakLink, 2);
    lineBreak.result = 4;
    RunWith({empty, lineBreak});
    const V links = Links(0);
    const V expected = Expected("kw");
    ASSERT_EQ(links.size(), expected.size());
    EXPECT_EQ(links[2], "");
    const size_t broken = E().perPage + 3;
    EXPECT_NE(links[broken], expected[broken]);
    EXPECT_EQ(expected[broken].rfind(links[broken], 0), 0u);  // cut at the line break
    for (size_t i = 0; i < links.size(); ++i) {
        if (i != 2 && i != broken) {
            EXPECT_EQ(links[i], expected[i]) << i;
        }
    }
}

TEST_P(FaultMatrix, OversizedPageIsRefusedAndTheKeywordGivenUp) {
    const V log = RunWith({MakeFault(FaultKind::HugePage, 2)});
    V expected = Expected("kw");
    expected.resize(E().perPage);
    expected.push_back("2#Error found#");
    EXPECT_EQ(Links(0), expected);
    EXPECT_EQ(Links(1), Expected("after"));
}

TEST_P(FaultMatrix, BinaryGarbageIsAPageWithoutResults) {
    const V log = RunWith({MakeFault(FaultKind::Garbage, 2)});
    EXPECT_EQ(Links(0).size(), static_cast<size_t>(E().perPage));
    EXPECT_EQ(Count(log, Line("Can't connect to ENGINE. Trying again")), 0);
    EXPECT_EQ(Links(1), Expected("after"));
}

TEST_P(FaultMatrix, HundredThousandResultsOnOnePage) {
    // Sent as it is: compressing the 8 MB page takes the simulator's compressor about 30 s of
    // CPU, as long as the client waits for a first byte, and longer under load or a sanitizer.
    sim_.SetCompression(false);
    Fault many = MakeFault(FaultKind::Markers, 1);
    many.count = 100000;
    // The limit ends the keyword after this one page; every link costs its 1 ms pause.
    RunWith({many}, 0, 100, std::chrono::seconds(280));
    const V links = Links(0);
    ASSERT_EQ(links.size(), 100000u);
    const V expected = Expected("kw");
    EXPECT_EQ(V(links.begin(), links.begin() + 3), V(expected.begin(), expected.begin() + 3));
}

INSTANTIATE_TEST_SUITE_P(BothEngines, FaultMatrix, ::testing::Values(kQuillon, kVerrin),
                         [](const auto& info) { return std::string(info.param.name); });

// The one case that waits out the full 30 s read time-out of a real run.
TEST_F(SimFixture, SilentServerTimesOutAfterThirtySeconds) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Quillon).results = 4;
    Fault silent = MakeFault(FaultKind::NoAnswer, 1, 1);
    silent.ms = 40000;
    scenario.Setup("kw", Engine::Quillon).faults = {silent};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    PluginHarness plugin(QUILLON_LIB, "Quillon");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(plugin.Run());
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::seconds(29));
    EXPECT_LT(waited, std::chrono::seconds(38));
    EXPECT_EQ(plugin.Log()[1], "Can't connect to Quillon. Trying again");
    EXPECT_EQ(ReadLines("Quillon-0.urls").size(), 4u);
}

}  // namespace
