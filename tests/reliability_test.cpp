// What users must be able to count on beyond the happy path: a real proxy with basic
// authentication in between, files that cannot be written or vanish, no proxy password in
// anything we print, and keywords that reach the engine only as encoded query text.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using enginesim::Engine;
using V = std::vector<std::string>;

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool CanConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

class Reliability : public SimFixture {
  protected:
    PluginHarness& Quillon() {
        static PluginHarness plugin(QUILLON_LIB, "Quillon");
        plugin.bridge.ClearLines();
        plugin.bridge.ResetStartFailure();
        plugin.bridge.OnLine = nullptr;
        return plugin;
    }
    PluginHarness& Verrin() {
        static PluginHarness plugin(VERRIN_LIB, "Verrin");
        plugin.bridge.ClearLines();
        plugin.bridge.ResetStartFailure();
        return plugin;
    }
};

// tinyproxy with basic authentication between the plug-in and engine-sim.
class RealProxy : public Reliability {
  protected:
    void SetUp() override {
        Reliability::SetUp();
        const char* binary = "/usr/bin/tinyproxy";
        if (::access(binary, X_OK) != 0)
            GTEST_SKIP() << "tinyproxy is not installed (apt-get install tinyproxy)";
        for (int attempt = 0; attempt < 5 && proxyPid_ <= 0; ++attempt) {
            proxyPort_ = FreePort();
            WriteFile("tinyproxy.conf", "Port " + std::to_string(proxyPort_) +
                                            "\nListen 127.0.0.1\nTimeout 30\nMaxClients 10\n"
                                            "LogLevel Warning\nBasicAuth alice s3cr3t-Pass\n"
                                            "Upstream http 127.0.0.1:" +
                                            std::to_string(port_) + "\nDisableViaHeader Yes\n");
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::freopen("/dev/null", "w", stdout);
                ::freopen("tinyproxy.log", "w", stderr);
                ::execl(binary, binary, "-d", "-c", "tinyproxy.conf", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            for (int i = 0; i < 200 && !CanConnect(proxyPort_); ++i)
                ::usleep(10000);
            if (CanConnect(proxyPort_)) {
                proxyPid_ = pid;
            } else {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
        if (proxyPid_ <= 0)
            GTEST_SKIP() << "tinyproxy did not start: " << ReadFile("tinyproxy.log");
    }
    void TearDown() override {
        if (proxyPid_ > 0) {
            ::kill(proxyPid_, SIGTERM);
            ::waitpid(proxyPid_, nullptr, 0);
        }
    }
    void UseRealProxy(const std::string& password) {
        WriteLines("proxy.def",
                   {"1", "1", "127.0.0.1", std::to_string(proxyPort_), "alice", password});
    }

    int proxyPort_ = 0;
    pid_t proxyPid_ = -1;
};

TEST_F(RealProxy, RightCredentialsPassWrongOnesGiveUp) {
    enginesim::Scenario scenario;
    scenario.Setup("kw", Engine::Quillon).results = 25;
    scenario.Setup("kw", Engine::Verrin).results = 25;
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    UseRealProxy("s3cr3t-Pass");
    ASSERT_TRUE(Quillon().Run());
    EXPECT_EQ(ReadLines("Quillon-0.urls"), Expected("kw", Engine::Quillon, scenario, true));
    ASSERT_TRUE(Verrin().Run());
    EXPECT_EQ(ReadLines("Verrin-0.urls"), Expected("kw", Engine::Verrin, scenario, false));
    ASSERT_FALSE(sim_.Requests().empty());
    // tinyproxy names the default port when it forwards to its upstream.
    EXPECT_EQ(sim_.Requests()[0].url,
              "http://search.quillon.example:80/search?cat=web&cs=utf-8&l=any&q=kw");

    sim_.ClearRequests();
    UseRealProxy("wrong");
    auto& plugin = Quillon();
    ASSERT_TRUE(plugin.Run());
    EXPECT_TRUE(sim_.Requests().empty());  // tinyproxy turned every page away
    EXPECT_EQ(ReadLines("Quillon-0.urls"), V{"1#Error found#"});
    const V log = plugin.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Can't connect to Quillon. Trying again"), 6);
    EXPECT_EQ(log[log.size() - 2], "Can't connect to Quillon. Page skipped");
}

TEST_F(Reliability, UnwritableResultFileEndsTheRunWithItsReason) {
    Keywords({"a", "b"});
    std::filesystem::create_directory("Quillon-1.urls");
    auto& plugin = Quillon();
    ASSERT_TRUE(plugin.Run());
    EXPECT_EQ(plugin.bridge.Lines()[0],
              "Search on Quillon stopped: cannot write \"Quillon-1.urls\": Is a directory");
    EXPECT_EQ(ReadLines("Quillon-0.urls").size(), 35u);  // keyword a is intact
    if (::geteuid() != 0) {
        // A folder without write permission (root would write there anyway).
        std::filesystem::remove("Quillon-1.urls");
        std::filesystem::permissions(".", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        ASSERT_TRUE(plugin.Run());
        std::filesystem::permissions(".", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        EXPECT_EQ(plugin.bridge.Lines()[0].rfind("Search on Quillon stopped: cannot write", 0), 0u);
    }
}

TEST_F(Reliability, ResultFileDeletedBetweenRunsIsAClearStartFailure) {
    Keywords({"a", "b"});
    auto& plugin = Quillon();
    plugin.bridge.OnLine = [&](const std::string& line) {
        if (line == "10 pos. on Quillon for \"b\"") plugin.stop();
    };
    ASSERT_TRUE(plugin.Run());
    std::filesystem::remove("Quillon-0.urls");
    plugin.bridge.OnLine = nullptr;
    plugin.Start(1);
    EXPECT_EQ(plugin.bridge.StartFailure(),
              "cannot open \"Quillon-0.urls\": No such file or directory (a resumed run reads the "
              "result file of every keyword it has reached)");
    EXPECT_EQ(plugin.isFinished(), 1);
}

TEST_F(Reliability, WorkingFolderRemovedDuringARun) {
    Keywords({"a", "b"});
    auto& plugin = Quillon();
    plugin.bridge.OnLine = [&](const std::string& line) {
        if (line == "20 pos. on Quillon for \"a\"") std::filesystem::remove_all(dir_.path());
    };
    ASSERT_TRUE(plugin.Run());
    EXPECT_EQ(
        plugin.bridge.Lines()[0],
        "Search on Quillon stopped: cannot write \"Quillon-0.urls\": No such file or directory");
}

TEST_F(Reliability, ProxyPasswordAppearsInNothingWePrint) {
    const std::string secret = "Pw-Secret-4711";
    enginesim::Scenario scenario;
    scenario.proxyAuth = enginesim::ProxyAuth{"bob", "other"};
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    std::vector<std::string> printed;
    auto collect = [&](PluginHarness& p) {
        printed.insert(printed.end(), p.bridge.Lines().begin(), p.bridge.Lines().end());
        if (p.bridge.StartFailed()) printed.push_back(p.bridge.StartFailure());
    };
    // Refused by the proxy, page after page.
    UseProxy("bob", secret);
    auto& quillon = Quillon();
    ASSERT_TRUE(quillon.Run());
    collect(quillon);
    // Start failures about the proxy file itself.
    for (const V& proxy :
         {V{"1", "1", "host", "x80", "bob", secret}, V{"1", "1", "host", "80", secret}}) {
        WriteLines("proxy.def", proxy);
        quillon.Start();
        collect(quillon);
        quillon.clear();
    }
    // A run that ends on a write failure.
    UseProxy("bob", secret);
    std::filesystem::create_directory("Verrin-0.urls");
    auto& verrin = Verrin();
    ASSERT_TRUE(verrin.Run());
    collect(verrin);
    ASSERT_GE(printed.size(), 5u);
    for (const auto& text : printed)
        EXPECT_EQ(text.find(secret), std::string::npos) << text;
}

TEST_F(Reliability, KeywordsReachTheEngineOnlyAsEncodedQueryText) {
    Keywords({"100% & more", "c#", "a=b?c/d", "caf\xE9", "\xD0\xBA\xD0\xBE\xD1\x82",
              std::string("nul\0x", 5), "tab\there"});
    auto& plugin = Quillon();
    ASSERT_TRUE(plugin.Run());
    V queries;
    const std::string prefix = "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=";
    for (const auto& url : RequestedUrls()) {
        if (url.rfind(prefix, 0) != 0) continue;
        const std::string q = url.substr(prefix.size());
        EXPECT_EQ(
            q.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%+"),
            std::string::npos)
            << url;
        queries.push_back(q);
    }
    EXPECT_EQ(queries, (V{"100%25+%26+more", "c%23", "a%3Db%3Fc%2Fd", "caf%C3%A9",
                          "%D0%BA%D0%BE%D1%82", "nul", "tab%09here"}));
}

}  // namespace
