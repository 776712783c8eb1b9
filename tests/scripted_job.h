// ScriptedJob: a search job whose engine is a script, for testing the job's construction, run
// loop and recording without any network. Each SearchPage call asks `script` for the page of
// (keyword, page number) and plays it the way an engine adapter does: links appended and
// counted, a progress line, or a failed fetch with its status line. Before each page it takes a
// snapshot of the three job files so tests can check what was on disk after every page, and
// after each page it notes what those files must then hold.
// Runs on the job thread like any adapter; tests read its state only after `finished`.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "job/search_engines.h"
#include "jobfiles/job_files.h"
#include "platform/sysutils.h"
#include "tests/test_support.h"

namespace testsupport {

struct ScriptedPage {
    ScriptedPage() = default;
    explicit ScriptedPage(std::vector<std::string> l, bool f = false, std::string t = "")
        : links(std::move(l)), fail(f), throwMessage(std::move(t)) {}
    std::vector<std::string> links;
    bool fail = false;
    std::string throwMessage;  // non-empty: SearchPage raises this
    bool giveUp = false;       // the adapter gives the keyword up after this page
};

struct FileSnapshot {
    std::optional<std::string> results, progress, firstPages;
    // The files' inode numbers (0: no file). Every atomic replace gives the file a new inode.
    ino_t resultsInode = 0, progressInode = 0, firstPagesInode = 0;
    bool operator==(const FileSnapshot& other) const {
        return results == other.results && progress == other.progress &&
               firstPages == other.firstPages;
    }
};

class ScriptedJob : public TSearchEngines {
  public:
    static constexpr const char* kEngine = "Test";

    ScriptedJob(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                const HostListControl* target, int perPage = 10)
        : TSearchEngines(resume, maxResults, stopWhenAllFound, exactMatch, target, kEngine) {
        engineName = kEngine;
        resultsPerPage = perPage;
        EncodeKeywords();
    }

    std::function<ScriptedPage(int keyword, int page)> script;
    std::function<void()> duringPage;            // runs inside SearchPage, after the fetch
    std::vector<std::pair<int, int>> requested;  // (keyword, page) of every SearchPage call
    std::vector<FileSnapshot> snapshots;         // the files as they were before each page
    // After each page: what recording it must leave on disk, the lists and the page state
    // written out whole, as if every file were rewritten after every page.
    std::vector<FileSnapshot> expectedAfter;

    using TSearchEngines::GiveUpAfterRepeatedFailures;
    using TSearchEngines::KeywordComplete;
    using TSearchEngines::RecordProgress;

    static std::optional<std::string> Maybe(const std::string& name) {
        if (!std::filesystem::exists(name)) return std::nullopt;
        return ReadFile(name);
    }
    static ino_t Inode(const std::string& name) {
        struct stat st {};
        return ::stat(name.c_str(), &st) == 0 ? st.st_ino : 0;
    }
    static FileSnapshot Snapshot(int keyword) {
        const std::string results = jobfiles::ResultFileName(kEngine, keyword);
        const std::string progress = jobfiles::ProgressFileName(kEngine);
        const std::string firstPages = jobfiles::FirstPageFileName(kEngine);
        return {Maybe(results),   Maybe(progress),   Maybe(firstPages),
                Inode(results),   Inode(progress),   Inode(firstPages)};
    }

  protected:
    void SearchPage() override {
        // The result file of the keyword whose page was recorded last.
        snapshots.push_back(Snapshot(requested.empty() ? keywordIndex : requested.back().first));
        requested.emplace_back(keywordIndex, pageNumber);
        if (pageNumber == 1 && firstPageUrlList->Count() <= keywordIndex) {
            firstPageUrlList->Add("first:" + (*encodedKeywordList)[keywordIndex]);
        }
        const ScriptedPage page = script(keywordIndex, pageNumber);
        if (duringPage) duringPage();
        if (!page.throwMessage.empty()) throw Exception(page.throwMessage);
        if (page.fail) {
            ++failCount;
            PostStatus("Can't connect to " + engineName + ". Trying again");
            positionAtPageStart = position - resultsPerPage;
        } else {
            for (const auto& link : page.links) {
                ++position;
                resultLinks[keywordIndex]->Add(link);
            }
            ++pageNumber;
            nextPageUrl = "next:" + IntToStr(pageNumber);
            PostStatus(IntToStr(position) + " pos. on " + engineName + " for \"" +
                       (*keywordList)[keywordIndex] + "\"");
        }
        if (page.giveUp) {
            failCount = 6;
            GiveUpAfterRepeatedFailures();
        }
        const jobfiles::ProgressRecord progress{pageNumber, position, keywordIndex, nextPageUrl};
        expectedAfter.push_back({resultLinks[keywordIndex]->Text(), progress.Lines().Text(),
                                 firstPageUrlList->Text()});
    }
};

// n distinct links named after the keyword and page.
inline std::vector<std::string> Links(int n, int keyword = 0, int page = 1) {
    std::vector<std::string> links;
    for (int i = 0; i < n; ++i) {
        links.push_back("site" + std::to_string(keyword) + ".example/p" + std::to_string(page) +
                        "/r" + std::to_string(i + 1));
    }
    return links;
}

}  // namespace testsupport
