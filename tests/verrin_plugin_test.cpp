// libverrin.so driven through its exports: paging by the page's own next-page link, the link
// rule, failures, the next-page link as untrusted input, and both plug-ins side by side.
#include <gtest/gtest.h>
#include <httplib.h>

#include <set>
#include <thread>

#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using enginesim::Engine;
using enginesim::Fault;
using enginesim::FaultKind;
using V = std::vector<std::string>;

const std::string kFirstTail = "&origq=&RS=CHECKED&FORM=SMCRT&v=1&cfg=SMCINITIAL&nosp=0&thr=";
std::string First(const std::string& q) {
    return "http://search.verrin.example/results.asp?q=" + q + kFirstTail;
}

class Verrin : public SimFixture {
  protected:
    PluginHarness& Plugin() {
        static PluginHarness plugin(VERRIN_LIB, "Verrin");
        plugin.bridge.ClearLines();
        plugin.bridge.ResetStartFailure();
        plugin.bridge.OnLine = nullptr;
        return plugin;
    }
};

TEST_F(Verrin, WalksFivePagesByTheirNextLinksVerbatim) {
    enginesim::Scenario scenario;
    scenario.Setup("red shoes", Engine::Verrin).results = 70;
    sim_.SetScenario(scenario);
    Keywords({"red shoes"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V urls = RequestedUrls();
    ASSERT_EQ(urls.size(), 5u);
    EXPECT_EQ(urls[0], First("red+shoes"));
    for (size_t i = 1; i < urls.size(); ++i) {
        EXPECT_EQ(urls[i].rfind("http://search.verrin.example/results.aspx?", 0), 0u) << urls[i];
        EXPECT_NE(urls[i].find("&amp;"), std::string::npos) << urls[i];  // not decoded
    }
    EXPECT_EQ(ReadLines("Verrin-0.urls"), Expected("red shoes", Engine::Verrin, scenario, false));
    EXPECT_EQ(plugin.Log(),
              (V{"Start Verrin search for keyword \"red shoes\"",
                 "15 pos. on Verrin for \"red shoes\"", "30 pos. on Verrin for \"red shoes\"",
                 "45 pos. on Verrin for \"red shoes\"", "60 pos. on Verrin for \"red shoes\"",
                 "70 pos. on Verrin for \"red shoes\"", "Finished search on Verrin"}));
    EXPECT_EQ(ReadLines("Verrin.start"), V{First("red+shoes")});
    // The last page links nowhere: the saved next page is the bare host.
    EXPECT_EQ(ReadLines("Verrin.set"), (V{"6", "70", "0", "http://search.verrin.example/"}));
}

TEST_F(Verrin, AFullPageIsRecordedDuringItsPausesAndOnlyOnce) {
    enginesim::Scenario scenario;
    scenario.Setup("red shoes", Engine::Verrin).results = 70;  // pages of 15 x 4, then 10
    scenario.Setup("two", Engine::Verrin).results = 30;        // 15, 15, then the bare host
    sim_.SetScenario(scenario);
    Keywords({"red shoes", "two"});
    auto& plugin = Plugin();
    std::vector<LineAndFiles> seen;
    WatchJobFiles(plugin, "Verrin", seen);
    ASSERT_TRUE(plugin.Run());
    ASSERT_EQ(seen.size(), 11u);
    ExpectPagesRecordedDuringTheirPauses(seen, RequestedUrls());
    EXPECT_EQ(seen[5].results, Expected("red shoes", Engine::Verrin, scenario, false));
}

TEST_F(Verrin, LimitAndPageSize) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Verrin).results = 100;
    scenario.Setup("kw", Engine::Verrin).sites = {{2, "http://www.mine.example/x/"}};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run(0, 25));
    const V links = ReadLines("Verrin-0.urls");
    EXPECT_EQ(links.size(), 30u);
    EXPECT_EQ(links[1], "http://www.mine.example/x");  // scheme kept, one slash dropped
}

TEST_F(Verrin, PageWithoutNextLinkLeadsToTheBareHost) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Verrin).results = 60;
    scenario.Setup("kw", Engine::Verrin).faults = {MakeFault(FaultKind::NoNextLink, 2, 0)};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V urls = RequestedUrls();
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[2], "http://search.verrin.example/");
    EXPECT_EQ(ReadLines("Verrin-0.urls").size(), 30u);
}

TEST_F(Verrin, FailedPageIsAskedAgainNotTakenForTheLastOne) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Verrin).results = 40;
    scenario.Setup("kw", Engine::Verrin).faults = {MakeFault(FaultKind::Status, 2, 1)};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V urls = RequestedUrls();
    ASSERT_EQ(urls.size(), 4u);
    EXPECT_EQ(urls[1], urls[2]);
    EXPECT_EQ(ReadLines("Verrin-0.urls"), Expected("kw", Engine::Verrin, scenario, false));
    EXPECT_EQ(plugin.Log()[2], "Can't connect to Verrin. Trying again");
}

TEST_F(Verrin, SixFailuresGiveTheKeywordUp) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Verrin).results = 40;
    scenario.Setup("kw", Engine::Verrin).faults = {MakeFault(FaultKind::NoAnswer, 2, 6)};
    for (auto& f : scenario.Setup("kw", Engine::Verrin).faults)
        f.ms = 10;
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    V expected = Expected("kw", Engine::Verrin, scenario, false);
    expected.resize(15);
    expected.push_back("2#Error found#");
    EXPECT_EQ(ReadLines("Verrin-0.urls"), expected);
    const V log = plugin.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Can't connect to Verrin. Trying again"), 6);
    EXPECT_EQ(log[log.size() - 2], "Can't connect to Verrin. Page skipped");
}

TEST_F(Verrin, LinkMends) {
    enginesim::Scenario scenario;
    auto& setup = scenario.Setup("kw", Engine::Verrin);
    setup.results = 15;
    Fault empty = MakeFault(FaultKind::EmptyLink, 1, 0);
    empty.result = 2;
    Fault lineBreak = MakeFault(FaultKind::LineBreakLink, 1, 0);
    lineBreak.result = 3;
    Fault truncated = MakeFault(FaultKind::Truncate, 1, 0);
    truncated.result = 10;
    setup.faults = {empty, lineBreak, truncated};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V links = ReadLines("Verrin-0.urls");
    ASSERT_EQ(links.size(), 9u);
    EXPECT_EQ(links[1], "");
    EXPECT_EQ(plugin.Log().back(), "Finished search on Verrin");
}

// A server of our own that serves one full Verrin page whose next-page link is hostile.
class HostilePages : public ::testing::Test {
  protected:
    void Serve(const std::string& nextLink) {
        server_.Get(".*", [this, nextLink](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                targets_.push_back(req.target);
                for (const auto& [name, value] : req.headers)
                    headerNames_.push_back(name);
            }
            std::string page = "<a href=\"results.aspx?nav\">nav</a>";
            for (int i = 0; i < 15; ++i)
                page += "<span class=\"u\">site" + std::to_string(i) + "</span>";
            page += "<a href=\"" + nextLink + "\">Next</a>";
            res.set_content(page, "text/html");
        });
        const int port = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(port)});
        WriteLines("keywords.lst", {"kw"});
        WriteLines("urls.lst", {"x"});
    }
    void TearDown() override {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    PluginHarness& Plugin() {
        static PluginHarness plugin(VERRIN_LIB, "Verrin");
        plugin.bridge.ClearLines();
        return plugin;
    }
    V Targets() {
        std::lock_guard lock(mutex_);
        return targets_;
    }
    V HeaderNames() {
        std::lock_guard lock(mutex_);
        return headerNames_;
    }

    ScratchDir dir_;
    httplib::Server server_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> targets_;
    std::vector<std::string> headerNames_;
};

TEST_F(HostilePages, LineBreaksInANextLinkAreRefusedAsFailedFetches) {
    Serve("results.aspx?q=kw\r\nX-Injected: yes\r\n\r\nGET /smuggled HTTP/1.1");
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run(0, 1000));
    // Only the first page ever reached the server; the hostile link failed six times locally.
    EXPECT_EQ(Targets().size(), 1u);
    for (const auto& name : HeaderNames())
        EXPECT_NE(name, "X-Injected");
    const V links = ReadLines("Verrin-0.urls");
    EXPECT_EQ(links.size(), 16u);
    EXPECT_EQ(links.back(), "2#Error found#");
}

TEST_F(HostilePages, BlanksInANextLinkAreSentPercentEncoded) {
    Serve("results.aspx?q=red shoes&amp;first=16");
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run(0, 30));
    const V targets = Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[1], "http://search.verrin.example/results.aspx?q=red%20shoes&amp;first=16");
}

TEST_F(Verrin, CompressedAndPlainPagesGiveTheSameRun) {
    enginesim::Scenario scenario;
    scenario.Setup("red shoes", Engine::Verrin).results = 40;
    sim_.SetScenario(scenario);
    // What goes over the wire: compressed for a client that accepts it, unless switched off.
    const auto fetchRaw = [&] {
        httplib::Client client("127.0.0.1", port_);
        client.set_decompress(false);
        return client.Get(First("red+shoes"), {{"Accept-Encoding", "br, gzip"}});
    };
    auto raw = fetchRaw();
    ASSERT_TRUE(raw);
    EXPECT_NE(raw->get_header_value("Content-Encoding"), "");
    EXPECT_EQ(raw->body.find("<span class=\"u\">"), std::string::npos);
    sim_.SetCompression(false);
    raw = fetchRaw();
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->get_header_value("Content-Encoding"), "");
    EXPECT_NE(raw->body.find("<span class=\"u\">"), std::string::npos);

    // The plug-in reads either alike.
    Keywords({"red shoes"});
    auto& plugin = Plugin();
    V logs[2];
    for (const bool compress : {true, false}) {
        sim_.SetCompression(compress);
        plugin.bridge.ClearLines();
        ASSERT_TRUE(plugin.Run());
        EXPECT_EQ(ReadLines("Verrin-0.urls"),
                  Expected("red shoes", Engine::Verrin, scenario, false));
        logs[compress ? 0 : 1] = plugin.Log();
    }
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(logs[0].back(), "Finished search on Verrin");
}

TEST_F(Verrin, WithoutKeepAliveEveryPageComesOverItsOwnConnection) {
    enginesim::Scenario scenario;
    scenario.Setup("red shoes", Engine::Verrin).results = 40;
    sim_.SetScenario(scenario);
    Keywords({"red shoes"});
    auto& plugin = Plugin();
    ASSERT_TRUE(plugin.Run());
    const V keptAlive = plugin.Log();
    const auto ports = [&] {
        std::set<int> p;
        for (const auto& r : sim_.Requests())
            p.insert(r.clientPort);
        return p;
    };
    EXPECT_EQ(ports().size(), 1u);

    sim_.ClearRequests();
    sim_.SetKeepAlive(false);
    port_ = sim_.Start();
    UseProxy();
    plugin.bridge.ClearLines();
    ASSERT_TRUE(plugin.Run());
    EXPECT_EQ(sim_.Requests().size(), 3u);
    EXPECT_EQ(ports().size(), 3u);
    EXPECT_EQ(plugin.Log(), keptAlive);
    EXPECT_EQ(ReadLines("Verrin-0.urls"), Expected("red shoes", Engine::Verrin, scenario, false));
}

TEST_F(SimFixture, BothLibrariesSideBySideInOneFolder) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Quillon).results = 45;
    scenario.Setup("kw", Engine::Verrin).results = 50;
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    PluginHarness quillon(QUILLON_LIB, "Quillon");
    PluginHarness verrin(VERRIN_LIB, "Verrin");
    quillon.Start();
    verrin.Start();
    // One host, two runs at once: its main thread services both.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((!quillon.isFinished() || !verrin.isFinished()) &&
           std::chrono::steady_clock::now() < deadline) {
        quillon.bridge.Pump(1);
        verrin.bridge.Pump(1);
    }
    ASSERT_TRUE(quillon.isFinished() && verrin.isFinished());
    quillon.clear();
    verrin.clear();
    EXPECT_EQ(quillon.bridge.Lines().front(), "Finished search on Quillon");
    EXPECT_EQ(verrin.bridge.Lines().front(), "Finished search on Verrin");
    EXPECT_EQ(ReadLines("Quillon-0.urls"), Expected("kw", Engine::Quillon, scenario, true));
    EXPECT_EQ(ReadLines("Verrin-0.urls"), Expected("kw", Engine::Verrin, scenario, false));
    EXPECT_EQ(ReadLines("Quillon.set")[1], "45");
    EXPECT_EQ(ReadLines("Verrin.set")[1], "50");
}

}  // namespace
