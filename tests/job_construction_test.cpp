// Construction of a search job: the input files, resuming, the user's URLs and the query text.
#include <gtest/gtest.h>

#include "hostkit/host_bridge.h"
#include "platform/exceptions.h"
#include "plugin/host_list_target.h"
#include "tests/scripted_job.h"

namespace {

using namespace testsupport;
using V = std::vector<std::string>;

class JobConstruction : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteLines("proxy.def", {"0"});
        WriteLines("keywords.lst", {"alpha", "beta"});
        WriteLines("urls.lst", {"www.mine.example"});
    }
    std::unique_ptr<ScriptedJob> Make(char resume = 0) {
        return std::make_unique<ScriptedJob>(resume, 100, 0, 0, &target_);
    }
    // The message of the exception construction raises.
    std::string Failure(char resume = 0) {
        try {
            Make(resume);
        } catch (const Exception& e) {
            return e.what();
        }
        return "(no failure)";
    }

    ScratchDir dir_;
    hostkit::HostBridge bridge_;
    THostListTarget target_{bridge_.Control()};
};

TEST_F(JobConstruction, FreshJobStateAndNothingWrittenOrRun) {
    const V before = DirectoryEntries();
    auto job = Make();
    EXPECT_EQ(job->keywordList->Lines(), (V{"alpha", "beta"}));
    EXPECT_EQ(job->keywordIndex, 0);
    EXPECT_EQ(job->pageNumber, 1);
    EXPECT_EQ(job->position, 0);
    EXPECT_EQ(job->positionAtPageStart, 0);
    EXPECT_EQ(job->nextPageUrl, "");
    EXPECT_EQ(job->failCount, 0);
    EXPECT_EQ(job->engineName, "Test");
    EXPECT_FALSE(job->stopRequested);
    EXPECT_FALSE(job->finished);
    EXPECT_EQ(job->Priority(), TThreadPriority::tpLowest);
    EXPECT_EQ(job->http->UserAgent, "Mozilla/3.0 (compatible;)");
    EXPECT_EQ(job->http->AcceptLanguage, "en-us");
    EXPECT_EQ(job->http->ReadTimeout, 30000);
    ASSERT_NE(job->resultLinks[1], nullptr);
    EXPECT_EQ(job->resultLinks[2], nullptr);
    EXPECT_EQ(job->firstPageUrlList->Count(), 0);
    job.reset();
    EXPECT_EQ(DirectoryEntries(), before);
    EXPECT_TRUE(bridge_.Lines().empty());
}

TEST_F(JobConstruction, ProxyFileVariants) {
    auto job = Make();
    EXPECT_TRUE(job->http->ProxyBasicAuthentication);
    EXPECT_EQ(job->http->ProxyServer, "");
    EXPECT_EQ(job->http->ProxyPort, 0);

    WriteLines("proxy.def", {"yes", "no", "proxy.lan", "8080", "user", "pw"});
    job = Make();
    EXPECT_TRUE(job->http->ProxyBasicAuthentication);
    EXPECT_EQ(job->http->ProxyServer, "proxy.lan");
    EXPECT_EQ(job->http->ProxyPort, 8080);
    EXPECT_EQ(job->http->ProxyUsername, "");
    EXPECT_EQ(job->http->ProxyPassword, "");

    WriteLines("proxy.def", {"", "1", "10.0.0.1", "3128", "user", "pass word"});
    job = Make();
    EXPECT_EQ(job->http->ProxyServer, "10.0.0.1");
    EXPECT_EQ(job->http->ProxyUsername, "user");
    EXPECT_EQ(job->http->ProxyPassword, "pass word");

    // "0" with a trailing blank is not "0": a proxy is used and lines 3 and 4 are needed.
    WriteLines("proxy.def", {"0 ", "0"});
    EXPECT_EQ(Failure(), "proxy.def has 2 lines; a proxy needs at least 4");
    WriteLines("proxy.def", {"0 ", "0", "h", "81"});
    EXPECT_EQ(Make()->http->ProxyPort, 81);
}

TEST_F(JobConstruction, ProxyFileFailuresNameFileAndLineButNeverThePassword) {
    WriteLines("proxy.def", {"1", "0", "h", "x80"});
    EXPECT_EQ(Failure(), "proxy.def line 4: \"x80\" is not an integer");
    WriteLines("proxy.def", {"1", "1", "h", "8080", "user"});
    EXPECT_EQ(Failure(),
              "proxy.def has 5 lines; a proxy with a user name and password needs at least 6");
    WriteLines("proxy.def", {"1", "1", "h", " 80", "user", "TopSecret"});
    const std::string msg = Failure();
    EXPECT_EQ(msg, "proxy.def line 4: \" 80\" is not an integer");
    EXPECT_EQ(msg.find("TopSecret"), std::string::npos);
    WriteFile("proxy.def", "");
    EXPECT_NE(Failure().find("proxy.def is empty"), std::string::npos);
    std::filesystem::remove("proxy.def");
    EXPECT_EQ(Failure(), "cannot open \"proxy.def\": No such file or directory");
}

TEST_F(JobConstruction, MissingInputFiles) {
    std::filesystem::remove("urls.lst");
    EXPECT_EQ(Failure(), "cannot open \"urls.lst\": No such file or directory");
    std::filesystem::remove("keywords.lst");
    EXPECT_EQ(Failure(), "cannot open \"keywords.lst\": No such file or directory");
}

TEST_F(JobConstruction, UserUrlsAreNormalised) {
    // Every entry in place, in file order; a URL pasted with https:// loses its scheme as one
    // with http:// does.
    WriteLines("urls.lst", {"  http://site/page/  ", "https://site/", "HTTP://site", "/"});
    auto job = Make();
    EXPECT_EQ(job->urlList->Lines(), (V{"site/page", "site", "HTTP://site", ""}));
}

TEST_F(JobConstruction, EmptyOrBlankUrlLineFailsWithItsLineNumber) {
    WriteLines("urls.lst", {"a", "b", ""});
    EXPECT_EQ(Failure(), "urls.lst line 3 is empty or blank");
    WriteLines("urls.lst", {"   "});
    EXPECT_EQ(Failure(), "urls.lst line 1 is empty or blank");
    WriteFile("urls.lst", "");
    EXPECT_EQ(Make()->urlList->Count(), 0);
}

TEST_F(JobConstruction, ResumeReadsProgressAndTheResultFilesReached) {
    WriteLines("keywords.lst", {"k0", "k1", "k2"});
    WriteLines("Test.set", {"3", "20", "1", "http://next/page?o=20"});
    WriteLines("Test-0.urls", {"a", "b"});
    V twenty;
    for (int i = 1; i <= 20; ++i)
        twenty.push_back("c" + std::to_string(i));
    WriteLines("Test-1.urls", twenty);
    WriteLines("Test-2.urls", {"stale", "from an older run"});
    auto job = Make(1);
    EXPECT_EQ(job->pageNumber, 3);
    EXPECT_EQ(job->position, 20);
    EXPECT_EQ(job->positionAtPageStart, 20);
    EXPECT_EQ(job->keywordIndex, 1);
    EXPECT_EQ(job->nextPageUrl, "http://next/page?o=20");
    EXPECT_EQ(job->resultLinks[0]->Lines(), (V{"a", "b"}));
    EXPECT_EQ(job->resultLinks[1]->Lines(), twenty);
    EXPECT_EQ(job->resultLinks[2]->Count(), 0);  // not reached yet: starts empty
    EXPECT_EQ(job->firstPageUrlList->Count(), 0);

    // Later keywords need no file; a missing file of a keyword already searched is an error.
    std::filesystem::remove("Test-2.urls");
    EXPECT_EQ(Make(1)->resultLinks[2]->Count(), 0);
    std::filesystem::remove("Test-0.urls");
    EXPECT_EQ(Failure(1),
              "cannot open \"Test-0.urls\": No such file or directory (a resumed run reads the "
              "result file of every keyword it has reached)");
    // Not resuming ignores whatever is on disk, even a broken progress file.
    WriteLines("Test.set", {"x"});
    job = Make(0);
    EXPECT_EQ(job->keywordIndex, 0);
    EXPECT_EQ(job->resultLinks[1]->Count(), 0);
}

TEST_F(JobConstruction, AnyNonZeroResumeReadsProgressAndResultsTogether) {
    // Resuming with 2 must not read the result files without the progress: the saved keyword's
    // links would stay in front of the ones its pages bring again.
    WriteLines("keywords.lst", {"k0", "k1"});
    WriteLines("Test.set", {"2", "3", "1", "next"});
    WriteLines("Test-0.urls", {"a"});
    WriteLines("Test-1.urls", {"b", "c", "d"});
    for (const char resume : {char(1), char(2), char(-1)}) {
        auto job = Make(resume);
        EXPECT_EQ(job->keywordIndex, 1) << int(resume);
        EXPECT_EQ(job->pageNumber, 2) << int(resume);
        EXPECT_EQ(job->position, 3) << int(resume);
        EXPECT_EQ(job->resultLinks[1]->Lines(), (V{"b", "c", "d"})) << int(resume);
    }
    std::filesystem::remove("Test.set");
    EXPECT_EQ(Failure(2), "cannot open \"Test.set\": No such file or directory");
}

TEST_F(JobConstruction, ResumeDropsAPageWhoseProgressWasNeverSaved) {
    // Killed after the result file of page 3 was written but before the progress file was.
    WriteLines("keywords.lst", {"k0", "k1"});
    WriteLines("Test.set", {"3", "4", "1", "next"});
    WriteLines("Test-0.urls", {"a", "b"});
    WriteLines("Test-1.urls", {"p1", "p1b", "2#Error found#", "p2", "p2b", "p3", "p3b"});
    auto job = Make(1);
    EXPECT_EQ(job->resultLinks[1]->Lines(), (V{"p1", "p1b", "2#Error found#", "p2", "p2b"}));
    EXPECT_EQ(job->resultLinks[0]->Lines(), (V{"a", "b"}));  // earlier keywords stay whole
    // A consistent file is left alone, also after a give-up.
    WriteLines("Test.set", {"1000", "10000", "1", "next"});
    EXPECT_EQ(Make(1)->resultLinks[1]->Count(), 7);
}

TEST_F(JobConstruction, ResumeStartsAKeywordAgainWhenItsFileLostLinksTheProgressCounts) {
    WriteLines("keywords.lst", {"k0", "k1"});
    WriteLines("Test-0.urls", {"a"});
    // Cut short (4 links counted, 2 left), or a negative position: page 1, nothing kept.
    for (const std::string position : {"4", "-1"}) {
        WriteLines("Test.set", {"3", position, "1", "next"});
        WriteLines("Test-1.urls", {"p1", "p2"});
        auto job = Make(1);
        EXPECT_EQ(job->keywordIndex, 1) << position;
        EXPECT_EQ(job->pageNumber, 1) << position;
        EXPECT_EQ(job->position, 0) << position;
        EXPECT_EQ(job->positionAtPageStart, 0) << position;
        EXPECT_EQ(job->nextPageUrl, "") << position;
        EXPECT_EQ(job->resultLinks[1]->Count(), 0) << position;
        EXPECT_EQ(job->resultLinks[0]->Lines(), V{"a"}) << position;
    }
    // A keyword given up keeps its lines however few links came before the marker.
    WriteLines("Test.set", {"1000", "10000", "1", "next"});
    WriteLines("Test-1.urls", {"p1", "2#Error found#"});
    auto job = Make(1);
    EXPECT_EQ(job->position, 10000);
    EXPECT_EQ(job->resultLinks[1]->Lines(), (V{"p1", "2#Error found#"}));
}

TEST_F(JobConstruction, BrokenProgressFiles) {
    WriteLines("Test-0.urls", {});
    WriteLines("Test.set", {"1", "0", "0"});
    EXPECT_EQ(Failure(1), "Test.set has 3 lines; a progress file needs at least 4");
    WriteLines("Test.set", {"1", "x7", "0", ""});
    EXPECT_EQ(Failure(1), "Test.set line 2: \"x7\" is not an integer");
    WriteLines("Test.set", {"1", "0", "2", ""});
    EXPECT_EQ(Failure(1),
              "Test.set line 3: keyword index 2 is not a keyword of keywords.lst (2 keywords)");
    WriteLines("Test.set", {"1", "0", "-1", ""});
    EXPECT_NE(Failure(1).find("keyword index -1"), std::string::npos);
    std::filesystem::remove("Test.set");
    EXPECT_EQ(Failure(1), "cannot open \"Test.set\": No such file or directory");
}

TEST_F(JobConstruction, KeywordCountLimit) {
    V keywords(500, "kw");
    WriteLines("keywords.lst", keywords);
    auto job = Make();
    EXPECT_EQ(job->keywordList->Count(), 500);
    EXPECT_NE(job->resultLinks[499], nullptr);
    EXPECT_EQ(job->encodedKeywordList->Count(), 500);
    keywords.push_back("one too many");
    WriteLines("keywords.lst", keywords);
    EXPECT_EQ(Failure(), "keywords.lst holds 501 keywords; at most 500 can be searched");
    WriteFile("keywords.lst", "");
    job = Make();
    EXPECT_EQ(job->keywordList->Count(), 0);
    EXPECT_EQ(job->encodedKeywordList->Count(), 0);
    EXPECT_EQ(job->resultLinks[0], nullptr);
}

TEST_F(JobConstruction, QueryText) {
    WriteLines("keywords.lst", {"abc123", "red shoes", "", "caf\xC3\xA9", "caf\xE9", "a+b&c%d#e",
                                "red shoes", "\xE2\x82\xAC", std::string("nul\0cut", 7)});
    auto job = Make();
    EXPECT_EQ(job->encodedKeywordList->Lines(),
              (V{"abc123", "red+shoes", "", "caf%C3%A9", "caf%C3%A9", "a%2Bb%26c%25d%23e",
                 "red+shoes", "%E2%82%AC", "nul"}));
    EXPECT_EQ(job->keywordList->Lines()[2], "");  // an empty keyword keeps its own entry
    // A keyword longer than any conversion buffer is encoded whole.
    WriteLines("keywords.lst", {std::string(1500, 'x') + " y"});
    EXPECT_EQ(Make()->encodedKeywordList->Lines(), V{std::string(1500, 'x') + "+y"});
}

}  // namespace
