// ScriptedJob: a search job whose engine is a script, for testing the job's construction, run
// loop and recording without any network. Each SearchPage call asks `script` for the page of
// (keyword, page number) and plays it the way an engine adapter does: links appended and
// counted, a progress line, or a failed fetch with its status line. Before each page it takes a
// snapshot of the three job files so tests can check what was on disk after every page.
// Runs on the job thread like any adapter; tests read its state only after `finished`.
#pragma once

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
};

struct FileSnapshot {
    std::optional<std::string> results, progress, firstPages;
};

class ScriptedJob : public TSearchEngines {
  public:
    static constexpr const char* kEngine = "Test";

    ScriptedJob(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                TStatusTarget* target, int perPage = 10)
        : TSearchEngines(resume, maxResults, stopWhenAllFound, exactMatch, target, kEngine) {
        engineName = kEngine;
        resultsPerPage = perPage;
        EncodeKeywords();
    }

    std::function<ScriptedPage(int keyword, int page)> script;
    std::function<void()> duringPage;            // runs inside SearchPage, after the fetch
    std::vector<std::pair<int, int>> requested;  // (keyword, page) of every SearchPage call
    std::vector<FileSnapshot> snapshots;         // the files as they were before each page

    using TSearchEngines::GiveUpAfterRepeatedFailures;
    using TSearchEngines::KeywordComplete;
    using TSearchEngines::RecordProgress;

    static std::optional<std::string> Maybe(const std::string& name) {
        if (!std::filesystem::exists(name)) return std::nullopt;
        return ReadFile(name);
    }
    FileSnapshot Snapshot(int keyword) const {
        return {Maybe(jobfiles::ResultFileName(kEngine, keyword)),
                Maybe(jobfiles::ProgressFileName(kEngine)),
                Maybe(jobfiles::FirstPageFileName(kEngine))};
    }

  protected:
    void SearchPage() override {
        snapshots.push_back(Snapshot(keywordIndex));
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
            return;
        }
        for (const auto& link : page.links) {
            ++position;
            resultLinks[keywordIndex]->Add(link);
        }
        ++pageNumber;
        nextPageUrl = "next:" + IntToStr(pageNumber);
        PostStatus(IntToStr(position) + " pos. on " + engineName + " for \"" +
                   (*keywordList)[keywordIndex] + "\"");
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
