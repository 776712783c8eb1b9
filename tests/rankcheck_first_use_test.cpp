// rankcheck as a first-time user meets it, through the real binary: `init`, the preflight that
// refuses an unreachable proxy before anything changes, the warnings about the input files, and
// the messages of unknown commands and engines.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

// Every file of `dir` with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        files[entry.path().string()] = {ReadFile(entry.path().string()), entry.last_write_time()};
    }
    return files;
}

// A loopback port where nothing listens: bound once, then closed.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

class FirstUse : public ::testing::Test {
  protected:
    ScratchDir dir_;
    const std::string folder_ = dir_.path().string();
};

TEST_F(FirstUse, InitWritesAProjectThatRunsAndNeverOverwrites) {
    const Result r = Rankcheck({"init", "--dir", "shop"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile("shop/keywords.lst"), "fresh bread\r\nsourdough starter\r\nrye flour\r\n");
    EXPECT_EQ(ReadFile("shop/urls.lst"), "www.example.com\r\n");
    EXPECT_EQ(ReadFile("shop/proxy.def"), "0\r\n");
    // It says what to edit next and the commands to run, with the folder given.
    for (const char* said : {"keywords.lst", "urls.lst", "a direct connection",
                             " run all --dir shop", " report --dir shop"}) {
        EXPECT_NE(r.out.find(said), std::string::npos) << said << " in\n" << r.out;
    }

    // A second init changes nothing and names the file in the way.
    WriteFile("shop/urls.lst", "www.mine.example\r\n");
    const auto before = Snapshot("shop");
    const Result again = Rankcheck({"init", "--dir", "shop"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("shop/keywords.lst exists already"), std::string::npos) << again.err;
    EXPECT_EQ(Snapshot("shop"), before);
    // Only one of the three there is enough to refuse.
    fs::create_directory("half");
    WriteFile("half/proxy.def", "0\r\n");
    EXPECT_EQ(Rankcheck({"init", "--dir", "half"}).status, 2);
    EXPECT_FALSE(fs::exists("half/keywords.lst"));
}

TEST_F(FirstUse, InitWritesTheProxyFormWithThePasswordFromAFileOrTheTerminal) {
    WriteFile("secret", "s3cret word\n");
    Result r = Rankcheck({"init", "--dir", "a", "--proxy", "proxy.lan:3128", "--proxy-user", "demo",
                          "--proxy-password-file", "secret"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadLines("a/proxy.def"), (V{"1", "1", "proxy.lan", "3128", "demo", "s3cret word"}));
    EXPECT_EQ(fs::status("a/proxy.def").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);

    r = Rankcheck({"init", "--dir", "b", "--proxy", "10.0.0.1:8080"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadLines("b/proxy.def"), (V{"1", "0", "10.0.0.1", "8080"}));

    // Typed at the terminal, not echoed.
    ChildProcess typed({kRankcheck, "init", "--dir", "c", "--proxy", "h:81", "--proxy-user", "u"},
                       ChildProcess::Output::Terminal);
    ASSERT_TRUE(typed.ReadUntilContains("Password of proxy user u: ", 10000)) << typed.Out();
    typed.Type("typed pw\r");
    EXPECT_EQ(typed.Wait(10000), 0) << typed.Out();
    EXPECT_EQ(ReadLines("c/proxy.def"), (V{"1", "1", "h", "81", "u", "typed pw"}));
    EXPECT_EQ(typed.Out().find("typed pw"), std::string::npos) << typed.Out();

    for (const auto& [args, said] : std::vector<std::pair<V, std::string>>{
             {{"--proxy", "nohost"}, "HOST:PORT"},
             {{"--proxy", "h:0"}, "between 1 and 65535"},
             {{"--proxy-user", "u"}, "--proxy-user needs --proxy"},
         }) {
        V argv{"init", "--dir", "e"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Result bad = Rankcheck(argv);
        EXPECT_EQ(bad.status, 2);
        EXPECT_NE(bad.err.find(said), std::string::npos) << bad.err;
        EXPECT_FALSE(fs::exists("e/proxy.def"));
    }
}

TEST_F(FirstUse, InitInAProjectReplacesProxyDefAlone) {
    WriteFile("secret", "pw\n");
    ASSERT_EQ(Rankcheck({"init", "--dir", "p", "--proxy", "old.lan:3128", "--proxy-user", "u",
                         "--proxy-password-file", "secret"})
                  .status,
              0);
    WriteFile("p/keywords.lst", "my keyword\r\n");
    WriteFile("p/rankcheck.db", "not touched");
    const auto mode = [](const char* file) {
        return fs::status(file).permissions() & fs::perms::all;
    };
    const auto others = [] {
        auto files = Snapshot("p");
        for (const char* name : {"p/proxy.def", "p/proxy.def.bak"})
            files.erase(name);
        return files;
    };
    const auto before = others();

    Result r = Rankcheck({"init", "--dir", "p", "--proxy", "127.0.0.1:8765"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("proxy.def.bak"), std::string::npos) << r.out;
    EXPECT_EQ(ReadLines("p/proxy.def"), (V{"1", "0", "127.0.0.1", "8765"}));
    EXPECT_EQ(ReadLines("p/proxy.def.bak"), (V{"1", "1", "old.lan", "3128", "u", "pw"}));
    EXPECT_EQ(mode("p/proxy.def.bak"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(others(), before);

    // --direct the same way; the .bak is now the proxy form without a password.
    r = Rankcheck({"init", "--dir", "p", "--direct"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadLines("p/proxy.def"), (V{"0"}));
    EXPECT_EQ(ReadLines("p/proxy.def.bak"), (V{"1", "0", "127.0.0.1", "8765"}));
    EXPECT_EQ(others(), before);
    EXPECT_EQ(Rankcheck({"init", "--dir", "p", "--direct", "--proxy", "h:1"}).status, 2);
    EXPECT_EQ(ReadLines("p/proxy.def"), (V{"0"}));
}

TEST_F(FirstUse, AnUnreachableProxyStopsTheRunBeforeAnyFileChanges) {
    WriteLines("keywords.lst", {"fresh bread", "rye flour"});
    WriteLines("urls.lst", {"www.mine.example"});
    const int port = ClosedPort();
    WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(port)});
    // Results of an earlier run that a burnt run would overwrite with error markers.
    WriteLines("Quillon-0.urls", {"a.example", "www.mine.example/"});
    WriteLines("Quillon.set", {"1", "0", "1", ""});
    const auto before = Snapshot(".");
    for (const char* engine : {"quillon", "all"}) {
        const Result r = Rankcheck({"run", engine, "--dir", folder_});
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("cannot reach the proxy of proxy.def at 127.0.0.1:" +
                             std::to_string(port) + ": connection refused"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");  // no plug-in ran
        EXPECT_EQ(Snapshot("."), before) << engine;
    }
    // --no-preflight lets the plug-in try, and it gives every keyword up.
    const Result tried = Rankcheck({"run", "quillon", "--dir", folder_, "--no-preflight"});
    EXPECT_NE(tried.out.find("Can't connect to Quillon. Page skipped"), std::string::npos);
}

TEST_F(FirstUse, WarningsAboutTheInputFilesAndTheRunGoesOn) {
    WriteLines("keywords.lst", {"fresh bread", "", "rye flour", "fresh bread", "  "});
    WriteLines("urls.lst", {"http://www.mine.example/", "WWW.MINE.EXAMPLE", "www.other.example"});
    WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(ClosedPort())});
    const Result r = Rankcheck({"run", "quillon", "--dir", folder_, "--no-preflight"});
    EXPECT_NE(r.out.find("Start Quillon search for keyword \"fresh bread\""), std::string::npos);
    EXPECT_NE(r.err.find("rankcheck: warning: keywords.lst lines 2 and 5 are blank: searched as "
                         "empty keywords"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("keywords.lst lines 1 and 4 hold the same keyword \"fresh bread\": it "
                         "is searched 2 times"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("urls.lst lines 1 and 2 are the same URL \"www.mine.example\""),
              std::string::npos)
        << r.err;
    WriteFile("urls.lst", "");
    const Result empty = Rankcheck({"run", "quillon", "--dir", folder_, "--no-preflight"});
    EXPECT_NE(empty.err.find("warning: urls.lst holds no URL"), std::string::npos) << empty.err;
}

TEST_F(FirstUse, CommandsAndHelp) {
    Result r = Rankcheck({"help"});
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"init", "run", "report"})
        EXPECT_NE(r.out.find(std::string("  ") + command), std::string::npos) << r.out;
    r = Rankcheck({"help", "init"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--proxy-password-file"), std::string::npos) << r.out;
    r = Rankcheck({"help", "frobnicate"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command \"frobnicate\""), std::string::npos) << r.err;
    r = Rankcheck({"report", "--help"});
    EXPECT_NE(r.out.find("beyond N"), std::string::npos) << r.out;
}

}  // namespace
