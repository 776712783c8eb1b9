// The gateway between the real plug-ins (or their HTTP client) and engine-sim, whose listening
// ports play the upstream proxies: the pace measured at engine-sim's request log, requests going
// round the upstreams, blocks routed around and remembered across runs, and the cause of every
// failure in words. tinyproxy with basic authentication stands as a real upstream in one case.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "host/gateway/gateway.h"
#include "host/gateway/remote_gateway.h"
#include "platform/exceptions.h"
#include "platform/http_client.h"
#include "tests/net_support.h"
#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using namespace rankcheck::gateway;
using enginesim::Engine;
using enginesim::FaultKind;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using V = std::vector<std::string>;

const std::string kQuillonPage1 =
    "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=bread";

class GatewayE2E : public SimFixture {
  protected:
    static PluginHarness& Quillon() { return Loaded(QUILLON_LIB, "Quillon"); }
    static PluginHarness& Verrin() { return Loaded(VERRIN_LIB, "Verrin"); }

    // engine-sim anew on `count` ports, each one upstream proxy of the gateway.
    void Listen(int count, const enginesim::Scenario& scenario = {}) {
        sim_.SetScenario(scenario);
        sim_.SetPortCount(count);
        port_ = sim_.Start();
    }
    std::vector<Upstream> SimUpstreams() const {
        std::vector<Upstream> upstreams;
        for (const int port : sim_.Ports())
            upstreams.push_back(ParseUpstream("http://127.0.0.1:" + std::to_string(port)));
        return upstreams;
    }
    GatewayOptions Options() const {
        GatewayOptions o;
        o.upstreams = SimUpstreams();
        return o;
    }
    // Starts a gateway (replacing one that runs) and points the job's proxy.def at it.
    Gateway& StartGateway(GatewayOptions options) {
        gateway_.reset();
        gateway_ = std::make_unique<Gateway>(std::move(options));
        gateway_->Start();
        gateway_->JobProxySettings().Lines().SaveToFile("proxy.def");
        return *gateway_;
    }
    // The plug-ins' client, as a plug-in sets it up, with the gateway as its proxy.
    std::unique_ptr<THttpClient> Client(int readTimeoutMs = 30000) const {
        auto client = std::make_unique<THttpClient>();
        client->UserAgent = "Mozilla/3.0 (compatible;)";
        client->AcceptLanguage = "en-us";
        client->ProxyBasicAuthentication = true;
        client->ProxyServer = "127.0.0.1";
        client->ProxyPort = gateway_->Port();
        client->ReadTimeout = readTimeoutMs;
        return client;
    }
    static std::string Failure(THttpClient& client, const std::string& url) {
        try {
            client.Get(url);
        } catch (const EHttpError& e) {
            return e.what();
        }
        return "";
    }
    // The listening ports (1-based) the requests came in on, in order.
    std::vector<int> Listeners() const {
        std::vector<int> listeners;
        for (const auto& r : sim_.Requests())
            listeners.push_back(r.listener);
        return listeners;
    }
    std::vector<Event> EventsOf(EventKind kind) const {
        std::vector<Event> found;
        for (const Event& e : gateway_->Events().Since(0))
            if (e.kind == kind) found.push_back(e);
        return found;
    }
    std::string Label(int listener) const {
        return "127.0.0.1:" + std::to_string(sim_.Ports().at(listener - 1));
    }

    std::unique_ptr<Gateway> gateway_;

  private:
    static PluginHarness& Loaded(const char* path, const char* engine) {
        static std::map<std::string, std::unique_ptr<PluginHarness>> loaded;
        auto& plugin = loaded[engine];
        if (!plugin) plugin = std::make_unique<PluginHarness>(path, engine);
        plugin->bridge.ClearLines();
        plugin->bridge.ResetStartFailure();
        plugin->bridge.OnLine = nullptr;
        return *plugin;
    }
};

// Quillon and Verrin at the same time, as `run all` runs them, through two upstreams paced at
// 60 ms: at engine-sim, no two requests through one upstream are closer than the pace (less
// the loopback's own jitter), both upstreams carry requests, and every keyword is ranked whole.
TEST_F(GatewayE2E, PacingHoldsPerUpstreamForTwoPluginsAtOnce) {
    enginesim::Scenario scenario;
    scenario.defaultResults = 20;
    Listen(2, scenario);
    GatewayOptions options = Options();
    const milliseconds pace(60);
    options.pace = pace;
    StartGateway(options);
    Keywords({"rye bread", "spelt bread"});

    PluginHarness& quillon = Quillon();
    PluginHarness& verrin = Verrin();
    quillon.Start();
    verrin.Start();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while ((!quillon.isFinished() || !verrin.isFinished()) && Clock::now() < deadline) {
        quillon.bridge.Pump(1);
        verrin.bridge.Pump(1);
    }
    ASSERT_TRUE(quillon.isFinished() && verrin.isFinished());
    quillon.bridge.Pump(0);
    verrin.bridge.Pump(0);
    quillon.clear();
    verrin.clear();

    for (const char* keyword : {"rye bread", "spelt bread"}) {
        const int i = std::string(keyword) == "rye bread" ? 0 : 1;
        EXPECT_EQ(ReadLines("Quillon-" + std::to_string(i) + ".urls"),
                  Expected(keyword, Engine::Quillon, scenario, true));
        EXPECT_EQ(ReadLines("Verrin-" + std::to_string(i) + ".urls"),
                  Expected(keyword, Engine::Verrin, scenario, false));
    }
    const auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 10u);  // Quillon 3 pages a keyword, Verrin 2
    std::map<int, std::vector<Clock::time_point>> byListener;
    for (const auto& r : requests)
        byListener[r.listener].push_back(r.at);
    ASSERT_EQ(byListener.size(), 2u);
    // What a loaded machine may delay a request's reading at engine-sim; without the pace the
    // requests would come about 10 ms apart.
    const milliseconds jitter(15);
    for (const auto& [listener, times] : byListener) {
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], pace - jitter)
                << "upstream " << listener << ", requests " << i << " and " << i + 1;
    }
    const auto stats = gateway_->Stats();
    EXPECT_EQ(stats[0].requests + stats[1].requests, 10);
    EXPECT_EQ(gateway_->Stats("Quillon")[0].pages + gateway_->Stats("Quillon")[1].pages, 6);
    EXPECT_EQ(gateway_->Stats("Verrin")[0].pages + gateway_->Stats("Verrin")[1].pages, 4);
}

// One request after the other goes round three upstreams in their order, each counted with its
// own statistics.
TEST_F(GatewayE2E, RequestsGoRoundTheUpstreamsInTurn) {
    Listen(3);
    StartGateway(Options());
    auto client = Client();
    for (int i = 0; i < 7; ++i)
        EXPECT_NE(client->Get(kQuillonPage1).find("resURL"), std::string::npos);
    EXPECT_EQ(Listeners(), (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
    // The plug-in's own headers reach the engine.
    EXPECT_EQ(sim_.Requests()[0].userAgent, "Mozilla/3.0 (compatible;)");
    EXPECT_EQ(sim_.Requests()[0].acceptLanguage, "en-us");
    const auto stats = gateway_->Stats();
    ASSERT_EQ(stats.size(), 3u);
    EXPECT_EQ(stats[0].upstream, Label(1));
    EXPECT_EQ(stats[0].requests, 3);
    EXPECT_EQ(stats[0].pages, 3);
    EXPECT_EQ(stats[2].requests, 2);
    EXPECT_GT(stats[1].medianMs, 0);
    EXPECT_EQ(gateway_->Stats("Verrin")[0].requests, 0);
}

// A captcha page on the second upstream and a 429 on the third: each is suspended, for an hour
// and for ten minutes, and the plug-in receives every page through the first; it never sees a
// failure, and every keyword is ranked whole.
TEST_F(GatewayE2E, ABlockedUpstreamIsSuspendedAndThePageComesThroughAnother) {
    enginesim::Scenario scenario;
    scenario.faults = {{.kind = FaultKind::Captcha, .times = 1, .listener = 2},
                       {.kind = FaultKind::Status, .times = 1, .status = 429, .listener = 3}};
    Listen(3, scenario);
    StartGateway(Options());
    Keywords({"bread", "rolls"});
    PluginHarness& plugin = Quillon();
    const auto before = std::chrono::system_clock::now();
    ASSERT_TRUE(plugin.Run());

    EXPECT_EQ(ReadLines("Quillon-0.urls"), Expected("bread", Engine::Quillon, scenario, true));
    EXPECT_EQ(ReadLines("Quillon-1.urls"), Expected("rolls", Engine::Quillon, scenario, true));
    const V log = plugin.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Can't connect to Quillon. Trying again"), 0);
    // Page 1 went to 1; page 2 met the captcha on 2 and the 429 on 3, then came through 1.
    const std::vector<int> listeners = Listeners();
    ASSERT_GE(listeners.size(), 4u);
    EXPECT_EQ(std::vector<int>(listeners.begin(), listeners.begin() + 4),
              (std::vector<int>{1, 2, 3, 1}));
    EXPECT_TRUE(std::all_of(listeners.begin() + 3, listeners.end(), [](int l) { return l == 1; }));

    const std::vector<Event> blocks = EventsOf(EventKind::Block);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].cause, "captcha page from Quillon through " + Label(2) +
                                   "; suspended until " + ClockText(*blocks[0].until));
    EXPECT_EQ(blocks[1].cause, "HTTP 429 (too many requests) from Quillon through " + Label(3) +
                                   "; suspended until " + ClockText(*blocks[1].until));
    EXPECT_GE(*blocks[0].until, before + std::chrono::hours(1));
    EXPECT_LT(*blocks[0].until, before + std::chrono::minutes(61));
    EXPECT_GE(*blocks[1].until, before + std::chrono::minutes(10));
    EXPECT_LT(*blocks[1].until, before + std::chrono::minutes(11));
    EXPECT_TRUE(EventsOf(EventKind::Failure).empty());

    const auto states = gateway_->Upstreams();
    EXPECT_FALSE(states[0].suspendedUntil);
    EXPECT_EQ(states[1].suspendedUntil, blocks[0].until);
    EXPECT_EQ(states[1].cause, "captcha page from Quillon");
    EXPECT_EQ(states[2].strikes, 1);
    const auto stats = gateway_->Stats("Quillon");
    EXPECT_EQ(stats[1].blocks, 1);
    EXPECT_EQ(stats[2].blocks, 1);
    EXPECT_EQ(stats[0].pages, static_cast<int>(listeners.size()) - 2);
}

// Verrin's consent redirect (a 302 away from the result pages) is a block too; a redirect that
// stays among the result pages is passed on for the plug-in to follow.
TEST_F(GatewayE2E, ARedirectAwayFromTheResultsIsABlock) {
    enginesim::Scenario scenario;
    scenario.faults = {{.kind = FaultKind::Consent, .times = 1, .listener = 1}};
    Listen(2, scenario);
    StartGateway(Options());
    auto client = Client();
    const std::string url = "http://search.verrin.example/results.asp?q=bread";
    EXPECT_NE(client->Get(url).find("<span class=\"u\">"), std::string::npos);
    const std::vector<Event> blocks = EventsOf(EventKind::Block);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].cause.rfind("redirect to http://search.verrin.example/consent from Verrin "
                                    "through " +
                                        Label(1) + "; suspended until ",
                                    0),
              0u)
        << blocks[0].cause;
    EXPECT_EQ(Listeners(), (std::vector<int>{1, 2}));
}

// Every upstream blocked: the plug-in receives 503 and the event says when the first is back.
// The suspensions outlive the gateway: a new one that loads the state file sends nothing
// through them, and a fresh upstream beside them carries everything.
TEST_F(GatewayE2E, AllUpstreamsBlockedIs503AndTheStateFileKeepsTheSuspensions) {
    enginesim::Scenario scenario;
    scenario.faults = {{.kind = FaultKind::Status, .status = 403}};
    Listen(3, scenario);
    GatewayOptions options = Options();
    options.upstreams.pop_back();  // the third stays fresh for later
    options.stateFile = (dir_.path() / "gateway-state.json").string();
    StartGateway(options);
    auto client = Client();
    EXPECT_NE(Failure(*client, kQuillonPage1).find("HTTP status 503"), std::string::npos);
    EXPECT_EQ(Listeners(), (std::vector<int>{1, 2}));
    const std::vector<Event> left = EventsOf(EventKind::NoUpstreamLeft);
    ASSERT_EQ(left.size(), 1u);
    const std::vector<Event> blocks = EventsOf(EventKind::Block);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(left[0].until, std::min(*blocks[0].until, *blocks[1].until));
    EXPECT_EQ(left[0].cause,
              "no upstream left: every upstream is suspended; the first is back at " +
                  ClockText(*left[0].until));
    EXPECT_EQ(left[0].answered, 503);
    EXPECT_EQ(gateway_->AllSuspendedUntil(), left[0].until);

    // A new gateway within the suspensions: not a request reaches the engine.
    const size_t sent = sim_.Requests().size();
    StartGateway(options);
    client = Client();
    EXPECT_NE(Failure(*client, kQuillonPage1).find("HTTP status 503"), std::string::npos);
    EXPECT_EQ(sim_.Requests().size(), sent);
    ASSERT_EQ(EventsOf(EventKind::NoUpstreamLeft).size(), 1u);
    EXPECT_GE(*EventsOf(EventKind::NoUpstreamLeft)[0].until, *left[0].until);

    // With a fresh upstream beside them, everything goes through it.
    sim_.SetScenario({});
    options.upstreams = SimUpstreams();
    StartGateway(options);
    client = Client();
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(client->Get(kQuillonPage1).find("resURL"), std::string::npos);
    const std::vector<int> listeners = Listeners();
    EXPECT_EQ(std::vector<int>(listeners.begin() + static_cast<long>(sent), listeners.end()),
              (std::vector<int>{3, 3, 3}));
}

// Failures that are not blocks reach the plug-in as failed answers (502, 504 for a time-out),
// each with its cause in words; the next try goes to the next upstream.
TEST_F(GatewayE2E, EveryFailureHasItsCause) {
    enginesim::Scenario scenario;
    scenario.Setup("stall", Engine::Quillon).faults = {
        {.kind = FaultKind::NoAnswer, .times = 1, .ms = 3000}};
    scenario.Setup("broken", Engine::Quillon).faults = {{.kind = FaultKind::Status, .times = 1}};
    Listen(1, scenario);
    const int closed = FreePort();
    GatewayOptions options = Options();
    options.upstreams.push_back(ParseUpstream("http://127.0.0.1:" + std::to_string(closed)));
    options.timeout = milliseconds(300);
    StartGateway(options);
    auto client = Client();
    const std::string sim = Label(1);
    const std::string refused = "127.0.0.1:" + std::to_string(closed);
    const std::string quillon = "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=";

    struct Case {
        std::string url;
        std::string cause;
        int answered;
    };
    // The upstreams take turns: the engine-sim one, then the closed port, and so on.
    const std::vector<Case> cases = {
        {quillon + "stall", "timed out after 300 ms through " + sim, 504},
        {quillon + "x", "connection refused by " + refused, 502},
        {quillon + "broken", "HTTP 500 (internal server error) through proxy " + sim, 502},
        {quillon + "x", "connection refused by " + refused, 502},
        {"http://elsewhere.example/", "HTTP 404 (not found) through proxy " + sim, 502},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        const uint64_t seen = gateway_->Events().Last();
        const auto start = Clock::now();
        EXPECT_NE(Failure(*client, c.url).find("HTTP status " + std::to_string(c.answered)),
                  std::string::npos);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        const std::vector<Event> events = gateway_->Events().Since(seen);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind, EventKind::Failure);
        EXPECT_EQ(events[0].cause, c.cause);
        EXPECT_EQ(events[0].answered, c.answered);
    }
    EXPECT_EQ(gateway_->Events().Since(0)[0].engine, "Quillon");
    const auto stats = gateway_->Stats();
    EXPECT_EQ(stats[0].failures, 3);
    EXPECT_EQ(stats[1].failures, 2);
    EXPECT_EQ(stats[1].requests, 2);
    EXPECT_EQ(stats[1].pages, 0);
    // None of them was a block: nothing is suspended.
    EXPECT_FALSE(gateway_->Upstreams()[0].suspendedUntil);
}

// A direct upstream reaches the engine itself (here engine-sim, by the host's CONNECT_TO).
TEST_F(GatewayE2E, ADirectUpstreamReachesTheEngineItself) {
    Listen(1);
    GatewayOptions options;
    options.upstreams = {ParseUpstream("direct")};
    options.connectTo = {"search.quillon.example:80:127.0.0.1:" + std::to_string(port_)};
    StartGateway(options);
    auto client = Client();
    EXPECT_NE(client->Get(kQuillonPage1).find("resURL"), std::string::npos);
    ASSERT_EQ(sim_.Requests().size(), 1u);
    EXPECT_EQ(sim_.Requests()[0].url, kQuillonPage1);  // by its Host header: origin-form
    EXPECT_EQ(gateway_->Stats()[0].upstream, "direct");
}

// tinyproxy with basic authentication as a real upstream: with the right password the pages
// come through it; without credentials the plug-in's failures have the proxy's 407 as their
// cause, with a wrong password its 401 (tinyproxy's answer then). The password appears in no
// event, statistic or state file.
TEST_F(GatewayE2E, ARealProxyThatRefusesTheCredentialsIsNamed) {
    Tinyproxy proxy(port_, "alice", "s3cr3t-Pass");
    if (!proxy.Started()) GTEST_SKIP() << proxy.Problem();
    const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
    GatewayOptions options;
    options.upstreams = {ParseUpstream("http://alice:s3cr3t-Pass@" + at)};
    options.stateFile = "gateway-state.json";
    StartGateway(options);
    Keywords({"kw"});
    PluginHarness& plugin = Quillon();
    ASSERT_TRUE(plugin.Run());
    EXPECT_EQ(ReadLines("Quillon-0.urls").size(), 35u);

    const struct {
        std::string upstream;
        std::string cause;
    } cases[] = {
        {"http://" + at, "HTTP 407 from proxy " + at + " (proxy authentication required)"},
        {"http://alice:wr0ng-Pass@" + at,
         "HTTP 401 from proxy " + at + " (user name or password not accepted)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        options.upstreams = {ParseUpstream(c.upstream)};
        StartGateway(options);
        ASSERT_TRUE(plugin.Run());
        EXPECT_EQ(ReadLines("Quillon-0.urls"), V{"1#Error found#"});
        const std::vector<Event> failures = EventsOf(EventKind::Failure);
        ASSERT_EQ(failures.size(), 6u);  // the plug-in's six tries
        for (const Event& e : failures)
            EXPECT_EQ(e.cause, c.cause);
        std::string shown;
        for (const Event& e : gateway_->Events().Since(0))
            shown += e.cause + e.upstream + "\n";
        for (const UpstreamStats& s : gateway_->Stats())
            shown += s.upstream + "\n";
        shown += ReadFile("gateway-state.json");
        EXPECT_EQ(shown.find("wr0ng"), std::string::npos);
        EXPECT_EQ(shown.find("s3cr3t"), std::string::npos);
    }
}

// Two projects share one gateway, each naming its runs in its proxy.def: another process sees
// each one's events and statistics apart through the status pages, and the upstreams' states.
TEST_F(GatewayE2E, ProjectsSharingAGatewaySeeTheirOwnEventsAndStatistics) {
    enginesim::Scenario scenario;
    scenario.faults = {{.kind = FaultKind::Captcha, .times = 1, .listener = 1}};
    scenario.Setup("gone", Engine::Quillon).faults = {{.kind = FaultKind::Status, .status = 410}};
    Listen(2, scenario);
    StartGateway(Options());
    EXPECT_EQ(gateway_->JobProxySettings("bakery").Lines().Lines(),
              (V{"1", "1", "127.0.0.1", std::to_string(gateway_->Port()), "bakery", "-"}));
    const std::string quillon = "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=";
    auto bakery = Client();
    bakery->ProxyUsername = "bakery";
    bakery->ProxyPassword = "-";
    auto florist = Client();
    florist->ProxyUsername = "florist";
    florist->ProxyPassword = "-";
    EXPECT_NE(bakery->Get(quillon + "bread").find("resURL"), std::string::npos);  // blocked on 1
    EXPECT_NE(Failure(*florist, quillon + "gone"), "");
    EXPECT_NE(florist->Get(quillon + "roses").find("resURL"), std::string::npos);

    const RemoteGateway remote("127.0.0.1", gateway_->Port());
    uint64_t last = 0;
    const std::vector<Event> forBakery = remote.EventsSince(0, "bakery", last);
    EXPECT_EQ(last, 2u);
    ASSERT_EQ(forBakery.size(), 1u);
    EXPECT_EQ(forBakery[0].kind, EventKind::Block);
    EXPECT_EQ(forBakery[0].client, "bakery");
    EXPECT_EQ(forBakery[0].cause, gateway_->Events().Since(0)[0].cause);
    const auto toMs = [](std::optional<SystemTime> t) {
        return std::chrono::floor<milliseconds>(t.value());
    };
    EXPECT_EQ(toMs(forBakery[0].until), toMs(gateway_->Events().Since(0)[0].until));
    const std::vector<Event> forFlorist = remote.EventsSince(0, "florist", last);
    ASSERT_EQ(forFlorist.size(), 1u);
    EXPECT_EQ(forFlorist[0].cause, "HTTP 410 (gone) through proxy " + Label(2));
    EXPECT_EQ(forFlorist[0].answered, 502);
    EXPECT_EQ(remote.EventsSince(1, "", last).size(), 1u);

    const auto bakeryStats = remote.Stats("Quillon", "bakery");
    ASSERT_EQ(bakeryStats.size(), 2u);
    EXPECT_EQ(bakeryStats[0].upstream, Label(1));
    EXPECT_EQ(bakeryStats[0].blocks, 1);
    EXPECT_EQ(bakeryStats[1].pages, 1);
    EXPECT_EQ(remote.Stats("", "florist")[1].failures, 1);
    EXPECT_EQ(remote.Stats()[1].requests, 3);
    const auto states = remote.Upstreams();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(toMs(states[0].suspendedUntil), toMs(gateway_->Upstreams()[0].suspendedUntil));
    EXPECT_EQ(states[0].cause, "captcha page from Quillon");
    EXPECT_FALSE(states[1].suspendedUntil);

    gateway_->Stop();
    EXPECT_THROW(remote.Upstreams(), RemoteGatewayError);
}

// A request that waits for its pace longer than the plug-in's client waits for a byte is kept
// alive with interim answers, and gets its page.
TEST_F(GatewayE2E, ALongWaitForThePaceKeepsTheClientAlive) {
    Listen(1);
    sim_.SetCompression(false);  // the page itself comes at once, also in a sanitizer's build
    GatewayOptions options = Options();
    options.pace = milliseconds(1000);
    options.paceExtra = 0;
    options.interimEvery = milliseconds(100);
    StartGateway(options);
    Client()->Get(kQuillonPage1);
    auto impatient = Client(400);
    const auto start = Clock::now();
    EXPECT_NE(impatient->Get(kQuillonPage1).find("resURL"), std::string::npos);
    EXPECT_GE(Clock::now() - start, milliseconds(800));
    ASSERT_EQ(sim_.Requests().size(), 2u);
    // Less what a loaded machine may delay the first request's reading at engine-sim.
    EXPECT_GE(sim_.Requests()[1].at - sim_.Requests()[0].at, milliseconds(1000) - milliseconds(50));
}

// While a request waits for its pace, interim answers keep its client alive; Stop answers it
// at once with 503.
TEST_F(GatewayE2E, StopAnswersAWaitingRequestAtOnce) {
    Listen(1);
    GatewayOptions options = Options();
    options.pace = std::chrono::seconds(30);
    options.interimEvery = milliseconds(20);
    StartGateway(options);
    Client()->Get(kQuillonPage1);

    const int fd = ConnectLoopback(gateway_->Port());
    ASSERT_GE(fd, 0);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = "GET " + kQuillonPage1 + " HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string received;
    const auto readUntil = [&](const std::string& text) {
        char buffer[512];
        while (received.find(text) == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            received.append(buffer, static_cast<size_t>(n));
        }
        return true;
    };
    EXPECT_TRUE(readUntil("HTTP/1.1 102 Processing\r\n\r\n"));
    const auto stop = Clock::now();
    gateway_->Stop();
    EXPECT_LT(Clock::now() - stop, std::chrono::seconds(1));
    EXPECT_TRUE(readUntil("HTTP/1.1 503 Service Unavailable\r\n")) << received;
    ::close(fd);
    EXPECT_EQ(sim_.Requests().size(), 1u);
}

// What the gateway does not serve gets a clear answer: CONNECT and other methods 405, a
// request that is not for an absolute http:// URL 400.
TEST_F(GatewayE2E, WhatIsNotAProxyGetIsRefusedClearly) {
    Listen(1);
    StartGateway(Options());
    const int port = gateway_->Port();
    EXPECT_EQ(StatusLineOf(port,
                           "CONNECT search.quillon.example:443 HTTP/1.1\r\n"
                           "Host: search.quillon.example:443\r\n\r\n"),
              "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(StatusLineOf(port,
                           "POST http://search.quillon.example/search HTTP/1.1\r\n"
                           "Host: search.quillon.example\r\nContent-Length: 3\r\n\r\nq=x"),
              "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(
        StatusLineOf(port, "GET /search?q=x HTTP/1.1\r\nHost: search.quillon.example\r\n\r\n"),
        "HTTP/1.1 400 Bad Request");
    EXPECT_TRUE(sim_.Requests().empty());
}

}  // namespace
