// The run loop, the status lines and the recording of results and progress after every page.
#include <gtest/gtest.h>

#include <climits>

#include "hostkit/host_bridge.h"
#include "job/recorded_file.h"
#include "platform/exceptions.h"
#include "plugin/host_list_target.h"
#include "tests/scripted_job.h"

namespace {

using namespace testsupport;
using V = std::vector<std::string>;

class JobRun : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteLines("proxy.def", {"0"});
        WriteLines("keywords.lst", {"red shoes", "blue"});
        WriteLines("urls.lst", {"www.mine.example"});
    }
    std::unique_ptr<ScriptedJob> Make(int maxResults = 100, char stopWhenAllFound = 0,
                                      char exactMatch = 0, char resume = 0) {
        return std::make_unique<ScriptedJob>(resume, maxResults, stopWhenAllFound, exactMatch,
                                             &target_);
    }
    // Resumes the job and services its status lines on this (the host's main) thread.
    void Run(ScriptedJob& job) {
        job.Resume();
        while (!job.finished)
            bridge_.Pump(5);
        EXPECT_EQ(bridge_.WrongThreadInserts(), 0);
    }

    ScratchDir dir_;
    hostkit::HostBridge bridge_;
    THostListTarget target_{bridge_.Control()};
};

TEST_F(JobRun, TwoKeywordsFullAndShortPages) {
    auto job = Make();
    // Keyword 0: a full page, then a short one. Keyword 1: one short page.
    job->script = [](int k, int page) {
        if (k == 0) return ScriptedPage{Links(page == 1 ? 10 : 4, k, page)};
        return ScriptedPage{Links(3, k, page)};
    };
    Run(*job);
    EXPECT_EQ(
        bridge_.Lines(),
        (V{"Finished search on Test", "3 pos. on Test for \"blue\"",
           "Start Test search for keyword \"blue\"", "14 pos. on Test for \"red shoes\"",
           "10 pos. on Test for \"red shoes\"", "Start Test search for keyword \"red shoes\""}));
    EXPECT_EQ(job->requested, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 1}}));

    // What was on disk before pages 2 and 3: the state the previous page left.
    ASSERT_EQ(job->snapshots.size(), 3u);
    EXPECT_FALSE(job->snapshots[0].progress.has_value());
    EXPECT_EQ(job->snapshots[1].progress, "2\r\n10\r\n0\r\nnext:2\r\n");
    EXPECT_EQ(job->snapshots[2].progress, "3\r\n14\r\n0\r\nnext:3\r\n");  // not yet advanced
    EXPECT_EQ(job->snapshots[1].firstPages, "first:red+shoes\r\n");
    std::string tenLines;
    for (const auto& l : Links(10, 0, 1))
        tenLines += l + "\r\n";
    EXPECT_EQ(job->snapshots[1].results, tenLines);

    // After the run: the last keyword's page state, both first-page URLs, each result file.
    EXPECT_EQ(ReadFile("Test.set"), "2\r\n3\r\n1\r\nnext:2\r\n");
    EXPECT_EQ(ReadFile("Test.start"), "first:red+shoes\r\nfirst:blue\r\n");
    EXPECT_EQ(ReadLines("Test-0.urls").size(), 14u);
    EXPECT_EQ(ReadLines("Test-1.urls"), Links(3, 1, 1));

    // The run released everything it owned; both flags stay set.
    EXPECT_TRUE(job->stopRequested);
    EXPECT_TRUE(job->finished);
    EXPECT_EQ(job->keywordList, nullptr);
    EXPECT_EQ(job->encodedKeywordList, nullptr);
    EXPECT_EQ(job->urlList, nullptr);
    EXPECT_EQ(job->firstPageUrlList, nullptr);
    EXPECT_EQ(job->resultLinks[0], nullptr);
    EXPECT_EQ(job->resultLinks[1], nullptr);
    EXPECT_EQ(job->http, nullptr);
    EXPECT_EQ(job->urlCodec, nullptr);
}

TEST_F(JobRun, StopDuringAPageRecordsThatPageFirst) {
    auto job = Make();
    job->script = [](int k, int page) { return ScriptedPage{Links(10, k, page)}; };
    job->duringPage = [&] {
        if (job->requested.size() == 2) job->stopRequested = true;
    };
    Run(*job);
    EXPECT_EQ(bridge_.Lines(), (V{"Finished search on Test", "20 pos. on Test for \"red shoes\"",
                                  "10 pos. on Test for \"red shoes\"",
                                  "Start Test search for keyword \"red shoes\""}));
    EXPECT_EQ(ReadLines("Test.set"), (V{"3", "20", "0", "next:3"}));
    EXPECT_EQ(ReadLines("Test-0.urls").size(), 20u);
}

TEST_F(JobRun, StopBeforeTheLoopGivesOnlyTheClosingLine) {
    auto job = Make();
    job->script = [](int, int) { return ScriptedPage{Links(10)}; };
    job->stopRequested = true;
    Run(*job);
    EXPECT_EQ(bridge_.Lines(), V{"Finished search on Test"});
    EXPECT_TRUE(job->requested.empty());
    EXPECT_FALSE(std::filesystem::exists("Test.set"));
}

TEST_F(JobRun, EmptyKeywordFileEndsWithoutAnyLine) {
    WriteFile("keywords.lst", "");
    auto job = Make();
    job->script = [](int, int) { return ScriptedPage{}; };
    Run(*job);
    EXPECT_TRUE(bridge_.Lines().empty());
    EXPECT_TRUE(job->finished);
    EXPECT_EQ(job->http, nullptr);
}

TEST_F(JobRun, UnwritableResultFileEndsTheRunWithItsReason) {
    std::filesystem::create_directory("Test-1.urls");
    auto job = Make();
    job->script = [](int k, int page) { return ScriptedPage{Links(5, k, page)}; };
    Run(*job);
    ASSERT_FALSE(bridge_.Lines().empty());
    EXPECT_EQ(bridge_.Lines()[0].rfind("Search on Test stopped: cannot write \"Test-1.urls\": ", 0),
              0u)
        << bridge_.Lines()[0];
    for (const auto& line : bridge_.Lines())
        EXPECT_NE(line, "Finished search on Test");
    // The page itself was handled to its end: the failure ends the run in its recording.
    ASSERT_GE(bridge_.Lines().size(), 2u);
    EXPECT_EQ(bridge_.Lines()[1], "5 pos. on Test for \"blue\"");
    EXPECT_TRUE(job->finished);
    EXPECT_EQ(job->keywordList, nullptr);
    // Keyword 0's files stay as its last page left them.
    EXPECT_EQ(ReadLines("Test-0.urls"), Links(5, 0, 1));
    EXPECT_EQ(ReadLines("Test.set"), (V{"2", "5", "0", "next:2"}));
}

TEST_F(JobRun, AnExceptionFromTheAdapterEndsTheRunWithOneLine) {
    auto job = Make();
    job->script = [](int, int page) {
        if (page == 2) return ScriptedPage{{}, false, "scan failed"};
        return ScriptedPage{Links(10)};
    };
    Run(*job);
    EXPECT_EQ(bridge_.Lines(),
              (V{"Search on Test stopped: scan failed", "10 pos. on Test for \"red shoes\"",
                 "Start Test search for keyword \"red shoes\""}));
}

TEST_F(JobRun, LimitAndShortPageRules) {
    auto job = Make(25);
    job->script = [](int k, int page) { return ScriptedPage{Links(10, k, page)}; };
    Run(*job);
    EXPECT_EQ(ReadLines("Test-0.urls").size(), 30u);
    EXPECT_EQ(ReadLines("Test-1.urls").size(), 30u);

    bridge_.ClearLines();
    auto once = Make(0);
    once->script = [](int k, int page) { return ScriptedPage{Links(10, k, page)}; };
    Run(*once);
    EXPECT_EQ(once->requested, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}}));
}

TEST_F(JobRun, FailedPageIsAskedAgainWithTheStartLineRepeated) {
    auto job = Make();
    int calls = 0;
    job->script = [&](int k, int page) {
        ++calls;
        if (calls == 1) return ScriptedPage{{}, true};
        return ScriptedPage{Links(3, k, page)};
    };
    Run(*job);
    EXPECT_EQ(job->requested, (std::vector<std::pair<int, int>>{{0, 1}, {0, 1}, {1, 1}}));
    const V& lines = bridge_.Lines();
    EXPECT_EQ(V(lines.end() - 3, lines.end()), (V{"Start Test search for keyword \"red shoes\"",
                                                  "Can't connect to Test. Trying again",
                                                  "Start Test search for keyword \"red shoes\""}));
    EXPECT_EQ(ReadLines("Test.start"), (V{"first:red+shoes", "first:blue"}));
}

TEST_F(JobRun, ResumeContinuesOnTheFinishedKeywordWithOneMorePage) {
    auto first = Make();
    first->script = [](int k, int page) {
        return ScriptedPage{Links(page == 1 ? 10 : 2, k, page)};
    };
    // Stop after keyword 0 is complete (its second page is short).
    first->duringPage = [&] {
        if (first->requested.size() == 2) first->stopRequested = true;
    };
    Run(*first);
    EXPECT_EQ(ReadLines("Test.set"), (V{"3", "12", "0", "next:3"}));
    first.reset();

    WriteLines("Test-1.urls", {"stale link of an older run"});
    bridge_.ClearLines();
    auto resumed = Make(100, 0, 0, 1);
    EXPECT_EQ(resumed->resultLinks[0]->Count(), 12);
    resumed->script = [](int k, int page) { return ScriptedPage{Links(k == 0 ? 0 : 4, k, page)}; };
    Run(*resumed);
    // Keyword 0 gets one more page (empty here), then keyword 1 starts at page 1.
    EXPECT_EQ(resumed->requested, (std::vector<std::pair<int, int>>{{0, 3}, {1, 1}}));
    EXPECT_EQ(ReadLines("Test-0.urls").size(), 12u);
    EXPECT_EQ(ReadLines("Test-1.urls"), Links(4, 1, 1));  // replaced, not appended to
    EXPECT_EQ(ReadLines("Test.start"), V{"first:blue"});
    EXPECT_EQ(bridge_.Lines().back(), "12 pos. on Test for \"red shoes\"");  // no start line
}

TEST_F(JobRun, ResumedGiveUpEndsTheKeywordBeyondTenThousandPositions) {
    // Stopped right after keyword 0 was given up, with a limit above the give-up position: the
    // resumed run asks the keyword's page once more, as after any finished keyword, and then goes
    // on instead of walking on from page 1000.
    WriteLines("Test.set", {"1000", "10000", "0", "next:1000"});
    WriteLines("Test-0.urls", {"1#Error found#"});
    auto resumed = Make(20000, 0, 0, 1);
    resumed->script = [](int k, int page) { return ScriptedPage{Links(k == 0 ? 10 : 4, k, page)}; };
    Run(*resumed);
    EXPECT_EQ(resumed->requested, (std::vector<std::pair<int, int>>{{0, 1000}, {1, 1}}));
    EXPECT_EQ(ReadLines("Test-1.urls"), Links(4, 1, 1));
    EXPECT_EQ(bridge_.Lines().front(), "Finished search on Test");  // newest first
}

// A keyword whose requests all fail: five failures are asked again, the sixth gives the keyword
// up with the error marker and the give-up values 1000 / 10000, and the run goes on to the next
// keyword. Also with maxResults beyond 10000, where the limit cannot end the keyword.
TEST_F(JobRun, AKeywordWhoseRequestsAllFailIsGivenUpWhateverMaxResults) {
    for (const int maxResults : {100, 10000, 10001, INT_MAX}) {
        SCOPED_TRACE(maxResults);
        bridge_.ClearLines();
        auto job = Make(maxResults);
        job->script = [&](int k, int page) {
            // A give-up that does not end the keyword would ask again without end: stop it.
            if (job->requested.size() > 20) job->stopRequested = true;
            return k == 0 ? ScriptedPage{{}, true} : ScriptedPage{Links(3, k, page)};
        };
        Run(*job);
        const std::vector<std::pair<int, int>> sixFailures(6, {0, 1});
        std::vector<std::pair<int, int>> expected = sixFailures;
        expected.emplace_back(1, 1);
        EXPECT_EQ(job->requested, expected);
        EXPECT_EQ(V(job->fetchedUrls.begin(), job->fetchedUrls.begin() + 6),
                  V(6, "first:red+shoes"));
        EXPECT_EQ(ReadLines("Test-0.urls"), V{"1#Error found#"});
        // What keyword 0's last page left on disk, as the next keyword began.
        ASSERT_EQ(job->snapshots.size(), 7u);
        EXPECT_EQ(job->snapshots[6].progress, "1000\r\n10000\r\n0\r\n\r\n");
        EXPECT_EQ(ReadLines("Test-1.urls"), Links(3, 1, 1));

        V log(bridge_.Lines().rbegin(), bridge_.Lines().rend());  // oldest first
        const V failure = {"Start Test search for keyword \"red shoes\"",
                           "Can't connect to Test. Trying again"};
        V expectedLog;
        for (int i = 0; i < 6; ++i)
            expectedLog.insert(expectedLog.end(), failure.begin(), failure.end());
        expectedLog.insert(
            expectedLog.end(),
            {"Can't connect to Test. Page skipped", "Start Test search for keyword \"blue\"",
             "3 pos. on Test for \"blue\"", "Finished search on Test"});
        EXPECT_EQ(log, expectedLog);
    }
}

// What each page's recording leaves on disk: the same bytes as writing all three files after
// every page, although a file whose bytes would not change is not written again.
class Recording : public JobRun {
  protected:
    // Runs `job` and checks the files after every page against what that page must leave.
    void RunAndCompare(ScriptedJob& job, int keywordCount) {
        Run(job);
        auto after = job.snapshots;
        after.erase(after.begin());
        const int lastKeyword = job.requested.back().first;
        after.push_back(ScriptedJob::Snapshot(lastKeyword));
        ASSERT_EQ(after.size(), job.expectedAfter.size());
        for (size_t page = 0; page < after.size(); ++page) {
            EXPECT_EQ(after[page].results, job.expectedAfter[page].results) << "page " << page;
            EXPECT_EQ(after[page].progress, job.expectedAfter[page].progress) << "page " << page;
            EXPECT_EQ(after[page].firstPages, job.expectedAfter[page].firstPages)
                << "page " << page;
        }
        // Nothing else is left in the folder: no temporary file, no file of a keyword not run.
        V names = {"Test.set", "Test.start", "keywords.lst", "proxy.def", "urls.lst"};
        for (int k = 0; k < keywordCount; ++k)
            names.push_back("Test-" + std::to_string(k) + ".urls");
        std::sort(names.begin(), names.end());
        EXPECT_EQ(DirectoryEntries(), names);
    }
};

TEST_F(Recording, EveryPageLeavesTheBytesOfAFullRewrite) {
    WriteLines("keywords.lst", {"red shoes", "blue", "green"});
    // A stale first-page file and a stale result file of keyword 2 from an older run.
    WriteLines("Test.start", {"first:older", "first:run"});
    WriteLines("Test-2.urls", {"stale link of an older run"});
    auto job = Make(100);
    int calls = 0;
    job->script = [&](int k, int page) {
        ++calls;
        if (k == 0) return ScriptedPage{Links(page < 3 ? 10 : 0, k, page)};  // empty last page
        if (k == 1 && calls == 4) return ScriptedPage{{}, true};             // failed first page
        if (k == 1) return ScriptedPage{Links(page == 1 ? 10 : 3, k, page)};
        if (page == 1) return ScriptedPage{Links(10, k, page)};
        ScriptedPage giveUp{{}, true};  // keyword 2: its second page fails and gives it up
        giveUp.giveUp = true;
        return giveUp;
    };
    RunAndCompare(*job, 3);
    EXPECT_EQ(job->requested, (std::vector<std::pair<int, int>>{
                                  {0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 1}, {1, 2}, {2, 1}, {2, 2}}));
    EXPECT_EQ(ReadLines("Test-2.urls").back(), "2#Error found#");

    // Which files were replaced: a file keeps its inode until it is written again. The
    // first-page file changes only when a keyword starts; a result file not on a page without
    // links; the progress file after a failed page only where the page state moved.
    const auto& s = job->snapshots;
    auto after = [&](size_t page) {
        return page + 1 < s.size() ? s[page + 1] : ScriptedJob::Snapshot(2);
    };
    EXPECT_EQ(after(1).firstPagesInode, after(0).firstPagesInode);  // keyword 0, page 2
    EXPECT_EQ(after(2).firstPagesInode, after(1).firstPagesInode);  // keyword 0, empty page
    EXPECT_EQ(after(2).resultsInode, after(1).resultsInode);
    EXPECT_NE(after(2).progressInode, after(1).progressInode);      // page 3 -> 4
    EXPECT_NE(after(3).firstPagesInode, after(2).firstPagesInode);  // keyword 1 starts
    EXPECT_NE(after(5).resultsInode, after(4).resultsInode);
}

TEST_F(Recording, APageThatEndsOtherwiseThanForeseenIsRecordedAsItEnded) {
    // Page 2 brings its links (written ahead as page state 3 / 20) and is then given up, which
    // no engine does after a successful fetch: the recording after the page must still leave
    // the give-up's state and marker.
    WriteLines("keywords.lst", {"red shoes", "blue"});
    auto job = Make(100);
    job->script = [](int k, int page) {
        ScriptedPage p{Links(k == 0 ? 10 : 3, k, page)};
        p.giveUp = k == 0 && page == 2;
        return p;
    };
    RunAndCompare(*job, 2);
    V expected = Links(10, 0, 1);
    const V page2 = Links(10, 0, 2);
    expected.insert(expected.end(), page2.begin(), page2.end());
    expected.push_back("3#Error found#");
    EXPECT_EQ(ReadLines("Test-0.urls"), expected);
    EXPECT_EQ(job->snapshots[2].progress, "1000\r\n10000\r\n0\r\nnext:3\r\n");
}

TEST_F(Recording, AResumedRunReplacesEveryFileAtItsFirstPage) {
    // Killed between the result file and the progress file of keyword 0's third page: the result
    // file holds 25 links, the progress counts 20. The first-page file is an older run's.
    WriteLines("Test.set", {"3", "20", "0", "next:3"});
    std::vector<std::string> links = Links(10, 0, 1);
    for (const auto& page : {Links(10, 0, 2), Links(5, 0, 3)})
        links.insert(links.end(), page.begin(), page.end());
    WriteLines("Test-0.urls", links);
    WriteLines("Test.start", {"first:red+shoes", "first:blue"});
    auto job = Make(100, 0, 0, 1);
    // The page asked again now brings nothing: the list in memory is what the file must hold.
    job->script = [](int k, int page) { return ScriptedPage{Links(k == 0 ? 0 : 4, k, page)}; };
    RunAndCompare(*job, 2);
    EXPECT_EQ(ReadLines("Test-0.urls"), V(links.begin(), links.begin() + 20));
    EXPECT_EQ(ReadLines("Test.start"), V{"first:blue"});
}

TEST_F(Recording, ASkippedWriteNeedsTheSameTextUnderTheSameNameAfterASuccess) {
    TRecordedFile file;
    TStringList lines;
    lines.Add("a");
    EXPECT_TRUE(file.Save("one.urls", lines));
    EXPECT_FALSE(file.Save("one.urls", lines));
    EXPECT_TRUE(file.Save("two.urls", lines));  // another name is written
    EXPECT_EQ(ReadFile("two.urls"), "a\r\n");
    lines.Add("");
    EXPECT_TRUE(file.Save("two.urls", lines));  // one more line, if only an empty one
    EXPECT_EQ(ReadFile("two.urls"), "a\r\n\r\n");

    // A write that failed is made again, also with the text that the file held before it.
    lines = TStringList();
    lines.Add("b");
    EXPECT_TRUE(file.Save("three.urls", lines));
    std::filesystem::create_directory("three.urls.tmp");
    lines.Add("c");
    EXPECT_THROW(file.Save("three.urls", lines), EFCreateError);
    std::filesystem::remove("three.urls.tmp");
    lines.Delete(1);
    EXPECT_TRUE(file.Save("three.urls", lines));
    EXPECT_EQ(ReadFile("three.urls"), "b\r\n");
}

// KeywordComplete, driven directly on a constructed job.
class Completion : public JobRun {
  protected:
    // Prepares keyword 0 as if `links` had been recorded, the last page adding `added` links.
    std::unique_ptr<ScriptedJob> With(const V& urls, const V& links, char stopWhenAllFound,
                                      char exactMatch, int added = 10) {
        WriteLines("urls.lst", urls);
        auto job = Make(100, stopWhenAllFound, exactMatch);
        for (const auto& l : links)
            job->resultLinks[0]->Add(l);
        job->position = static_cast<int>(links.size());
        job->positionAtPageStart = job->position - added;
        return job;
    }
};

TEST_F(Completion, RepeatedPageTest) {
    V links = Links(10, 0, 1);
    const V repeat = links;
    links.insert(links.end(), repeat.begin(), repeat.end());
    EXPECT_TRUE(With({"absent.example"}, links, 1, 0)->KeywordComplete());
    EXPECT_FALSE(With({"absent.example"}, links, 0, 0)->KeywordComplete());  // test not made
    // Only lines 20, 19 and 16 against 10, 9 and 6 are compared.
    links[17 - 1] = "changed";
    links[18 - 1] = "changed";
    EXPECT_TRUE(With({"absent.example"}, links, 1, 0)->KeywordComplete());
    links[16 - 1] = "changed";
    EXPECT_FALSE(With({"absent.example"}, links, 1, 0)->KeywordComplete());
    // Exactly one page recorded: skipped. Out-of-range indexes: not met, no error.
    EXPECT_FALSE(With({"absent.example"}, Links(10), 1, 0)->KeywordComplete());
    V fourteen = Links(14);
    EXPECT_FALSE(With({"absent.example"}, fourteen, 1, 0)->KeywordComplete());
}

TEST_F(Completion, AllFoundMatching) {
    const V page = {
        "www.site/page/index", "other.example/x", "SITE/PAGE", "a", "b", "c", "d", "e", "f", "g"};
    auto complete = [&](const V& urls, char exact) {
        auto job = With(urls, page, 1, exact);
        const bool result = job->KeywordComplete();
        EXPECT_EQ(job->positionAtPageStart, 10);
        return result;
    };
    EXPECT_TRUE(complete({}, 0));
    EXPECT_TRUE(complete({"site/page"}, 0));
    EXPECT_TRUE(complete({"site/page"}, 1));  // SITE/PAGE is the whole link
    EXPECT_TRUE(complete({"Site/Page"}, 0));
    EXPECT_TRUE(complete({"Site/Page"}, 1));
    EXPECT_TRUE(complete({"www.site/page/index"}, 1));
    EXPECT_FALSE(complete({"site/page/index"}, 1));  // not the whole link
    EXPECT_TRUE(complete({"site/page/index"}, 0));
    EXPECT_FALSE(complete({"site/page", "missing.example"}, 0));
    EXPECT_FALSE(complete({"/"}, 0));  // an empty URL occurs nowhere...
    EXPECT_FALSE(complete({"/"}, 1));  // ...and equals only an empty link
    V withEmpty = page;
    withEmpty[9] = "";
    EXPECT_TRUE(With({"/"}, withEmpty, 1, 1)->KeywordComplete());
    // Non-ASCII letters match regardless of case.
    V accented = page;
    accented[3] = "caf\xC3\xA9.example/men\xC3\xBC";
    EXPECT_TRUE(With({"CAF\xC3\x89.example/MEN\xC3\x9C"}, accented, 1, 0)->KeywordComplete());
}

TEST_F(Completion, AGiveUpEndsTheKeywordWhateverTheLimit) {
    for (const int maxResults : {100, 10000, 10001, 20000, INT_MAX}) {
        auto job = With({"absent.example"}, Links(20), 0, 0);
        job->maxResults = maxResults;
        job->failCount = 6;
        job->GiveUpAfterRepeatedFailures();
        EXPECT_EQ(job->position, 10000);
        EXPECT_EQ(job->pageNumber, 1000);
        EXPECT_EQ(job->resultLinks[0]->Lines().back(), "1#Error found#");
        EXPECT_TRUE(job->KeywordComplete()) << maxResults;
    }
}

TEST_F(Completion, LimitAndShortPageComeFirst) {
    auto job = With({"absent.example"}, Links(30), 1, 0);
    job->maxResults = 30;
    EXPECT_TRUE(job->KeywordComplete());
    EXPECT_EQ(job->positionAtPageStart, 20);  // untouched by the limit rule
    EXPECT_TRUE(With({"absent.example"}, Links(19), 0, 0, 9)->KeywordComplete());
    EXPECT_FALSE(With({"absent.example"}, Links(20), 0, 0, 10)->KeywordComplete());
}

}  // namespace
