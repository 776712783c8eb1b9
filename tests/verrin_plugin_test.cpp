// libverrin.so: paging by the page's own next-page link, the bare host after the last page, its
// link rule, and the next-page link as untrusted input, the things only Verrin does. Its runs in
// the scenarios both engines share are in plugin_run_test.cpp.
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "tests/engine_fixture.h"

namespace testsupport {

namespace {

// Page 1 is the search form's URL; every later page is the next-page link of the page before,
// as engine-sim writes it, and after a page without one the bare host.
std::string VerrinPage(const std::string& q, int page, int results) {
    if (page == 1)
        return "http://search.verrin.example/results.asp?q=" + q +
               "&origq=&RS=CHECKED&FORM=SMCRT&v=1&cfg=SMCINITIAL&nosp=0&thr=";
    const int shown = (page - 1) * 15;
    if (shown >= results) return "http://search.verrin.example/";
    return "http://search.verrin.example/results.aspx?q=" + q +
           "&amp;first=" + std::to_string(shown + 1) + "&amp;FORM=PERE";
}

}  // namespace

const EngineCase kVerrin{.name = "Verrin",
                         .lib = VERRIN_LIB,
                         .engine = enginesim::Engine::Verrin,
                         .perPage = 15,
                         .dropsScheme = false,
                         .pageUrl = VerrinPage};

}  // namespace testsupport

namespace {

using namespace testsupport;
using enginesim::FaultKind;
using V = std::vector<std::string>;

class Verrin : public EngineFixture {
  protected:
    Verrin() : EngineFixture(kVerrin) {}
};

TEST_F(Verrin, WalksFivePagesByTheirNextLinksVerbatim) {
    Setup("red shoes").results = 70;
    SetScenario();
    Keywords({"red shoes"});
    ASSERT_TRUE(Plugin().Run());
    const V urls = RequestedUrls();
    ASSERT_EQ(urls.size(), 5u);
    EXPECT_EQ(urls[0], E().FirstPage("red+shoes"));
    for (size_t i = 1; i < urls.size(); ++i) {
        EXPECT_EQ(urls[i].rfind("http://search.verrin.example/results.aspx?", 0), 0u) << urls[i];
        EXPECT_NE(urls[i].find("&amp;"), std::string::npos) << urls[i];  // not decoded
    }
    EXPECT_EQ(Links(0), Expected("red shoes"));
    // The last page links nowhere: the saved next page is the bare host.
    EXPECT_EQ(Progress(), (V{"6", "70", "0", "http://search.verrin.example/"}));
}

TEST_F(Verrin, LinkRuleKeepsTheSchemeAndDropsOneTrailingSlash) {
    EXPECT_EQ(LinksUnderTheLinkRule(),
              (V{"http://www.one.example/a", "http://www.two.example/b/",
                 "www.three.example/?u=http://x", "HTTP://www.four.example"}));
}

TEST_F(Verrin, PageWithoutNextLinkLeadsToTheBareHost) {
    Setup("kw").results = 60;
    Setup("kw").faults = {MakeFault(FaultKind::NoNextLink, 2, 0)};
    SetScenario();
    Keywords({"kw"});
    ASSERT_TRUE(Plugin().Run());
    const V urls = RequestedUrls();
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[2], "http://search.verrin.example/");
    EXPECT_EQ(Links(0).size(), 30u);
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

}  // namespace
