// rankcheck's gateway through the real binary and plug-ins against engine-sim, whose listening
// ports play the upstream proxies: the plug-ins work in jobs/run/ and the user's files stay as
// they were; the pace measured at engine-sim's request log; requests round three upstreams; a
// captcha page and a 429 routed around, and so is an upstream over engine-sim's rate limit; every
// upstream blocked stops the run (exit 4, "resume after") and the next run skips them, through
// the run's own gateway and through a `rankcheck gateway`; the cause lines of a failed page; two
// projects through one `rankcheck gateway` keep one pace.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "tests/child_process.h"
#include "tests/net_support.h"
#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

// engine-sim on `ports` free ports with a request log, stopped with SIGTERM at the end.
class SimPorts {
  public:
    SimPorts(int ports, const json& scenario)
        : process_((WriteFile("scenario.json", scenario.dump()),
                    V{kEngineSim, "--ports", std::to_string(ports), "--scenario", "scenario.json",
                      "--log", "sim-log.jsonl"})) {
        if (!process_.ReadUntilContains("\n", 10000))
            throw std::runtime_error("engine-sim did not start: " + process_.Err());
        std::istringstream bound(process_.Out());
        for (int port = 0; bound >> port;)
            ports_.push_back(port);
    }
    ~SimPorts() {
        process_.Signal(SIGTERM);
        process_.Wait(10000);
    }
    const std::vector<int>& Ports() const { return ports_; }
    std::string Label(int i) const { return "127.0.0.1:" + std::to_string(ports_.at(i)); }
    // The requests logged so far, oldest first.
    static std::vector<json> Log() {
        std::vector<json> lines;
        if (!fs::exists("sim-log.jsonl")) return lines;
        for (const std::string& line : ReadLines("sim-log.jsonl"))
            if (!line.empty()) lines.push_back(json::parse(line));
        return lines;
    }
    // The least gap in ms between two requests that came in on one listener.
    static double LeastGapPerListener() {
        std::map<int, double> last;
        double least = 1e9;
        for (const json& r : Log()) {
            const int listener = r["listener"];
            const double at = r["ms"];
            if (last.count(listener)) least = std::min(least, at - last[listener]);
            last[listener] = at;
        }
        return least;
    }

  private:
    ChildProcess process_;
    std::vector<int> ports_;
};

// The minute that `ahead` from now falls in, rounded up, as the gateway names a time: HH:MM,
// with the date before it on another day.
std::string ClockIn(std::chrono::seconds ahead) {
    using std::chrono::system_clock;
    const auto now = system_clock::now();
    const std::time_t then =
        system_clock::to_time_t(std::chrono::ceil<std::chrono::minutes>(now + ahead));
    const std::time_t today = system_clock::to_time_t(now);
    std::tm at{}, day{};
    ::localtime_r(&then, &at);
    ::localtime_r(&today, &day);
    char text[32];
    std::strftime(text, sizeof text, at.tm_yday == day.tm_yday ? "%H:%M" : "%Y-%m-%d %H:%M", &at);
    return text;
}

class GatewayRun : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteLines("keywords.lst", {"fresh bread", "rye flour"});
        WriteLines("urls.lst", {"www.my-bakery.example"});
    }
    // Scenario: every keyword with 20 results (one page each), the bakery at rank 3.
    static json Scenario(json extra = json::object()) {
        json keyword = {{"results", 20},
                        {"sites", {{{"rank", 3}, {"link", "http://www.my-bakery.example/"}}}}};
        json scenario = {{"defaultResults", 20},
                         {"keywords",
                          {{"fresh bread", {{"quillon", keyword}, {"verrin", keyword}}},
                           {"rye flour", {{"quillon", keyword}, {"verrin", keyword}}}}}};
        scenario.update(extra);
        return scenario;
    }
    void ProxyDefAt(int port) {
        WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(port)});
    }
    void ProxiesOf(const SimPorts& sim) {
        V lines;
        for (const int port : sim.Ports())
            lines.push_back("http://127.0.0.1:" + std::to_string(port));
        WriteLines("proxies.lst", lines);
    }
    static Result Run(const std::string& engine, V extra = {}) {
        V args{"run", engine, "--dir", "."};
        args.insert(args.end(), extra.begin(), extra.end());
        return Rankcheck(args);
    }
    static std::map<std::string, std::string> UserFiles() {
        std::map<std::string, std::string> files;
        for (const char* name : {"keywords.lst", "urls.lst", "proxy.def", "proxies.lst"})
            if (fs::exists(name)) files[name] = ReadFile(name);
        return files;
    }

    ScratchDir dir_;
};

class GatewayRunByEngine : public GatewayRun, public ::testing::WithParamInterface<std::string> {
  protected:
    std::string Engine() const { return GetParam() == "quillon" ? "Quillon" : "Verrin"; }
};

// A run goes through the gateway by default: the plug-in works in jobs/run/ (its proxy.def
// points at the gateway), the user's files are byte-identical, the summary counts the upstream,
// and the report has the ranks. A project with the plug-in's files from a run without a gateway
// has them taken over once.
TEST_P(GatewayRunByEngine, ThePlugInWorksInJobsAndTheUserFilesStay) {
    SimPorts sim(1, Scenario());
    ProxyDefAt(sim.Ports()[0]);
    const Result old = Run(GetParam(), {"--no-gateway"});
    ASSERT_EQ(old.status, 0) << old.err;
    EXPECT_TRUE(fs::exists(Engine() + "-0.urls"));
    const auto files = UserFiles();
    const size_t before = SimPorts::Log().size();

    const Result r = Run(GetParam());
    const std::string sent = std::to_string(SimPorts::Log().size() - before);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(UserFiles(), files);
    EXPECT_FALSE(fs::exists(Engine() + "-0.urls"));  // taken over
    EXPECT_EQ(ReadLines("jobs/run/" + Engine() + "-0.urls").size(), 20u);
    EXPECT_EQ(ReadLines("jobs/run/proxy.def")[0], "1");
    EXPECT_NE(ReadLines("jobs/run/proxy.def")[3], std::to_string(sim.Ports()[0]));
    EXPECT_NE(Unwrapped(r.err).find("through " + sim.Label(0) + ": " + sent + " requests, " + sent +
                         " pages, 0 blocks, 0 failures, median "),
              std::string::npos)
        << r.err;
    const Result report = Rankcheck({"report", "--format", "csv"});
    EXPECT_EQ(std::count(report.out.begin(), report.out.end(), '\n'), 5) << report.out;
}
INSTANTIATE_TEST_SUITE_P(Engines, GatewayRunByEngine, ::testing::Values("quillon", "verrin"));

// --pace: at engine-sim, no two requests through the one upstream closer than the pace.
TEST_F(GatewayRun, ThePaceHoldsAtTheEngine) {
    SimPorts sim(1, Scenario());
    ProxyDefAt(sim.Ports()[0]);
    WriteLines("keywords.lst", {"fresh bread", "rye flour", "a", "b"});
    const Result r = Run("all", {"--pace", "0.25"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GE(SimPorts::Log().size(), 8u);              // a page at least per keyword and engine
    EXPECT_GE(SimPorts::LeastGapPerListener(), 200.0);  // 250 ms, less the jitter of a busy machine
}

// proxies.lst with three upstreams: the requests go round them in turn.
TEST_F(GatewayRun, RequestsGoRoundTheUpstreamsOfProxiesLst) {
    SimPorts sim(3, Scenario());
    ProxyDefAt(sim.Ports()[0]);
    ProxiesOf(sim);
    WriteLines("keywords.lst", {"a", "b", "c", "d", "e", "f"});
    const Result r = Run("quillon");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int> listeners, inTurn;
    for (const json& request : SimPorts::Log()) {
        listeners.push_back(request["listener"]);
        inTurn.push_back(static_cast<int>(inTurn.size() % 3) + 1);
    }
    EXPECT_GE(listeners.size(), 6u);
    EXPECT_EQ(listeners, inTurn);
}

// A captcha page on the first upstream and a 429 on the second: each is suspended with its cause
// line, the pages come through the third, and every keyword is ranked.
TEST_F(GatewayRun, BlockedUpstreamsAreSuspendedAndThePagesComeThroughAnother) {
    SimPorts sim(3, Scenario({{"faults",
                               {{{"kind", "captcha"}, {"listener", 1}},
                                {{"kind", "status"}, {"status", 429}, {"listener", 2}}}}}));
    ProxyDefAt(sim.Ports()[0]);
    ProxiesOf(sim);
    const Result r = Run("quillon");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Unwrapped(r.err).find("rankcheck: Quillon: captcha page from Quillon through " + sim.Label(0) +
                         "; suspended until "),
              std::string::npos)
        << r.err;
    EXPECT_NE(Unwrapped(r.err).find("rankcheck: Quillon: HTTP 429"), std::string::npos) << r.err;
    EXPECT_NE(Unwrapped(r.err).find("2 of 2 keywords trusted"), std::string::npos) << r.err;
    EXPECT_NE(Unwrapped(r.err).find("through " + sim.Label(0) + ": 1 request, 0 pages, 1 block"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists("jobs/gateway-state.json"));
}

// engine-sim's rate limit on the first of two upstreams (3 requests a minute, then for two hours
// 429 with Retry-After, or the captcha page): that upstream is suspended with its cause line,
// after the 429 for Retry-After's time, after the captcha for an hour; it is asked nothing more,
// the pages come through the other one, and every keyword is ranked.
class GatewayRateLimit : public GatewayRun, public ::testing::WithParamInterface<std::string> {};

TEST_P(GatewayRateLimit, AnUpstreamOverTheEnginesLimitIsSuspendedAndThePagesComeThroughTheOther) {
    const bool captcha = GetParam() == "captcha";
    const std::chrono::seconds coolDown = std::chrono::hours(2);
    SimPorts sim(2, Scenario({{"rateLimit",
                               {{"requests", 3},
                                {"seconds", 60},
                                {"per", "port"},
                                {"listener", 1},
                                {"answer", GetParam()},
                                {"cooldown", coolDown.count()}}}}));
    ProxyDefAt(sim.Ports()[0]);
    ProxiesOf(sim);
    WriteLines("keywords.lst", {"a", "b", "c", "d", "e", "f", "g", "h"});
    const std::chrono::seconds suspension = captcha ? std::chrono::hours(1) : coolDown;
    const std::string earliest = ClockIn(suspension);
    const Result r = Run("quillon", {"--pace", "0.05"});
    const std::string latest = ClockIn(suspension);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string err = Unwrapped(r.err);
    const std::string cause = captcha ? "captcha page" : "HTTP 429 \\(too many requests\\)";
    std::smatch until;
    ASSERT_TRUE(
        std::regex_search(err, until,
                          std::regex("rankcheck: Quillon: " + cause + " from Quillon through " +
                                     sim.Label(0) + "; suspended until ([0-9: -]+[0-9])")))
        << r.err;
    EXPECT_TRUE(until[1] == earliest || until[1] == latest) << until[1] << " / " << earliest;
    EXPECT_NE(err.find("8 of 8 keywords trusted"), std::string::npos) << r.err;
    std::map<int, V> answered;  // per listener, in turn: "served" or "limited"
    for (const json& request : SimPorts::Log())
        answered[request["listener"]].push_back(request["faults"] == "rateLimit" ? "limited"
                                                                                 : "served");
    EXPECT_EQ(answered[1], (V{"served", "served", "served", "limited"}));
    EXPECT_GE(answered[2].size(), 5u);
    EXPECT_EQ(std::count(answered[2].begin(), answered[2].end(), "limited"), 0);
}
INSTANTIATE_TEST_SUITE_P(Answers, GatewayRateLimit, ::testing::Values("429", "captcha"));

// Every upstream blocked: the run stops (exit 4) saying when to resume, and the next run within
// the suspensions sends nothing to the engine.
TEST_F(GatewayRun, AllUpstreamsBlockedStopsTheRunUntilTheFirstIsBack) {
    SimPorts sim(2, Scenario({{"faults", {{{"kind", "status"}, {"status", 403}}}}}));
    ProxyDefAt(sim.Ports()[0]);
    ProxiesOf(sim);
    const Result r = Run("verrin");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(Unwrapped(r.err).find("every upstream is suspended after a block: resume after "),
              std::string::npos)
        << r.err;
    EXPECT_NE(Unwrapped(r.err).find("--resume"), std::string::npos) << r.err;
    const size_t sent = SimPorts::Log().size();
    EXPECT_EQ(sent, 2u);

    const Result again = Run("verrin", {"--resume"});
    EXPECT_EQ(again.status, 4) << again.err;
    EXPECT_NE(Unwrapped(again.err).find("resume after "), std::string::npos) << again.err;
    EXPECT_EQ(SimPorts::Log().size(), sent);
}

// The cause of each failed page, after the plug-in's own line: a proxy that asks for a password
// (tinyproxy), a closed port, a page that stalls beyond --timeout.
TEST_F(GatewayRun, EveryFailedPageIsFollowedByItsCause) {
    json stall = {{"kind", "noAnswer"}, {"ms", 3000}};
    SimPorts sim(1, Scenario({{"faults", {stall}}}));
    WriteLines("keywords.lst", {"fresh bread"});
    Tinyproxy proxy(sim.Ports()[0], "alice", "s3cr3t-Pass");
    const int closed = FreePort();
    struct Case {
        int port;
        std::string cause;
    };
    std::vector<Case> cases = {
        {closed, "rankcheck: Quillon: connection refused by 127.0.0.1:" + std::to_string(closed)},
        {sim.Ports()[0], "rankcheck: Quillon: timed out after 300 ms through " + sim.Label(0)},
    };
    if (proxy.Started()) {
        const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
        cases.push_back({proxy.Port(), "rankcheck: Quillon: HTTP 407 from proxy " + at +
                                           " (proxy authentication required)"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        ProxyDefAt(c.port);
        const Result r = Run("quillon", {"--timeout", "0.3", "--no-preflight"});
        EXPECT_EQ(r.status, 3) << r.err;  // the keyword given up
        const size_t line = r.out.find("Can't connect to Quillon");
        ASSERT_NE(line, std::string::npos) << r.out;
        EXPECT_NE(Unwrapped(r.err).find(c.cause), std::string::npos) << r.err;
    }
    if (!proxy.Started()) GTEST_SKIP() << proxy.Problem();
}

// The upstreams of proxies.lst are reached before the run, as proxy.def's proxy is: one that
// cannot be reached is named and the others carry the pages; when none can, nothing runs.
TEST_F(GatewayRun, APoolsUnreachableUpstreamsAreNamedBeforeTheRun) {
    SimPorts sim(1, Scenario());
    ProxyDefAt(sim.Ports()[0]);
    const std::string closed = "127.0.0.1:" + std::to_string(FreePort());
    const std::string named = "cannot reach the upstream of proxies.lst at " + closed;
    WriteLines("proxies.lst", {"http://" + sim.Label(0), "http://" + closed});
    const Result some = Run("quillon");
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(Unwrapped(some.err).find("rankcheck: warning: " + named), std::string::npos)
        << some.err;

    const auto before = fs::last_write_time("jobs/run/Quillon-0.urls");
    const size_t requests = SimPorts::Log().size();
    WriteLines("proxies.lst", {"http://" + closed, "socks5://" + closed});
    const Result none = Run("quillon");
    EXPECT_EQ(none.status, 2) << none.err;
    EXPECT_NE(Unwrapped(none.err).find("no upstream of proxies.lst can be reached; nothing was run"),
              std::string::npos)
        << none.err;
    EXPECT_EQ(fs::last_write_time("jobs/run/Quillon-0.urls"), before);
    EXPECT_EQ(SimPorts::Log().size(), requests);
}

// `init --proxies` sets a project up with a pool, readable by its owner alone; a run warns when
// others may read it, names the line of a bad one, and the ledger keeps each upstream's counts
// per check (`checks --upstreams`), the password in none of them.
TEST_F(GatewayRun, APoolFromInitItsWarningsAndItsCountsInTheLedger) {
    SimPorts sim(1, Scenario());
    WriteLines("pool.lst", {"# the paid proxy", "http://alice:s3cr3t@" + sim.Label(0)});
    ::chmod("pool.lst", 0644);
    const Result init = Rankcheck({"init", "--dir", "bakery", "--proxies", "pool.lst"});
    ASSERT_EQ(init.status, 0) << init.err;
    struct stat st {};
    ASSERT_EQ(::stat("bakery/proxies.lst", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadLines("bakery/proxies.lst"), ReadLines("pool.lst"));
    WriteLines("bakery/keywords.lst", {"fresh bread"});

    ::chmod("bakery/proxies.lst", 0644);
    const Result run = Rankcheck({"run", "quillon", "--dir", "bakery"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(Unwrapped(run.err).find("bakery/proxies.lst holds passwords and others may read it"),
              std::string::npos)
        << run.err;
    const Result counts =
        Rankcheck({"checks", "--upstreams", "--dir", "bakery", "--format", "csv"});
    ASSERT_EQ(counts.status, 0) << counts.err;
    const auto records = ParseCsv(counts.out);
    ASSERT_EQ(records.size(), 2u) << counts.out;
    const std::string sent = std::to_string(SimPorts::Log().size());
    EXPECT_EQ(V(records[1].begin(), records[1].end() - 1),
              (V{"1", "Quillon", sim.Label(0), sent, sent, "0", "0"}));
    EXPECT_EQ((init.out + init.err + run.out + run.err + counts.out).find("s3cr3t"),
              std::string::npos);

    WriteLines("bakery/proxies.lst", {"direct", "ftp://" + sim.Label(0)});
    const Result bad = Rankcheck({"run", "quillon", "--dir", "bakery"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(Unwrapped(bad.err).find("bakery/proxies.lst line 2: "), std::string::npos) << bad.err;
}

// Two projects at once through one `rankcheck gateway --pace`: one pace at the engine.
TEST_F(GatewayRun, TwoProjectsThroughOneGatewayKeepOnePace) {
    SimPorts sim(1, Scenario());
    WriteLines("proxies.lst", {"http://" + sim.Label(0)});
    const int port = FreePort();
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    ChildProcess gateway(
        {kRankcheck, "gateway", "--listen", listen, "--proxies", "proxies.lst", "--pace", "0.25"});
    ASSERT_TRUE(gateway.ReadUntilContains("listening", 10000)) << gateway.Err();
    for (const char* project : {"one", "two"}) {
        fs::create_directory(project);
        for (const char* name : {"keywords.lst", "urls.lst"})
            fs::copy_file(name, fs::path(project) / name);
        WriteLines(std::string(project) + "/proxy.def", {"0"});
    }
    ChildProcess one({kRankcheck, "run", "all", "--dir", "one", "--gateway", listen});
    ChildProcess two({kRankcheck, "run", "all", "--dir", "two", "--gateway", listen});
    EXPECT_EQ(one.Wait(60000), 0) << one.Err();
    EXPECT_EQ(two.Wait(60000), 0) << two.Err();
    EXPECT_GE(SimPorts::Log().size(), 8u);
    EXPECT_GE(SimPorts::LeastGapPerListener(), 200.0);  // 250 ms, less the jitter of a busy machine
    // Each run counts its own requests: together they are those the engine received.
    size_t counted = 0;
    for (const std::string& err : {Unwrapped(one.Err()), Unwrapped(two.Err())}) {
        const std::regex through("through " + sim.Label(0) + ": ([0-9]+) requests");
        for (std::sregex_iterator m(err.begin(), err.end(), through), end; m != end; ++m)
            counted += std::stoul((*m)[1]);
    }
    EXPECT_EQ(counted, SimPorts::Log().size()) << one.Err() << two.Err();
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Wait(10000), 0);
}

// `run --gateway` through a `rankcheck gateway` whose every upstream answers 403: the run stops
// (exit 4) saying when the first upstream is back, an hour on, and a second run within the
// suspensions stops at once, sending nothing to the engine.
TEST_F(GatewayRun, ASharedGatewayWithEveryUpstreamBlockedStopsEachRunThroughIt) {
    SimPorts sim(2, Scenario({{"faults", {{{"kind", "status"}, {"status", 403}}}}}));
    ProxiesOf(sim);
    WriteLines("proxy.def", {"0"});
    const std::string listen = "127.0.0.1:" + std::to_string(FreePort());
    ChildProcess gateway({kRankcheck, "gateway", "--listen", listen, "--proxies", "proxies.lst"});
    ASSERT_TRUE(gateway.ReadUntilContains("listening", 10000)) << gateway.Err();
    const std::string earliest = ClockIn(std::chrono::hours(1));
    const Result r = Run("verrin", {"--gateway", listen});
    const std::string latest = ClockIn(std::chrono::hours(1));
    EXPECT_EQ(r.status, 4) << r.err;
    const std::string err = Unwrapped(r.err);
    std::smatch resume;
    ASSERT_TRUE(std::regex_search(
        err, resume,
        std::regex("every upstream is suspended after a block: resume after ([0-9: -]+[0-9])")))
        << r.err;
    EXPECT_TRUE(resume[1] == earliest || resume[1] == latest) << resume[1] << " / " << earliest;
    const size_t sent = SimPorts::Log().size();
    EXPECT_EQ(sent, 2u);

    const Result again = Run("verrin", {"--gateway", listen, "--resume"});
    EXPECT_EQ(again.status, 4) << again.err;
    EXPECT_NE(Unwrapped(again.err).find("resume after " + resume[1].str()), std::string::npos)
        << again.err;
    EXPECT_EQ(SimPorts::Log().size(), sent);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Wait(10000), 0);
}

}  // namespace
