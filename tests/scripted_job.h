// ScriptedJob: a search job whose engine is a script, for testing the job's construction, run
// loop and recording without any network. Its SearchPage takes the same steps as the engine
// adapters (first-page URL, FetchPage, AppendResultLinks, the progress line, the give-up after
// repeated failures); only the page comes from `script` instead of an engine: ScriptedClient
// takes the place of the HTTP client, answers with the scripted page's links (one per line) and
// fails the request when the page says so. Before each page the job takes a snapshot of the three
// job files so tests can check what was on disk after every page, and
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
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "tests/test_support.h"

namespace testsupport {

struct ScriptedPage {
    ScriptedPage() = default;
    explicit ScriptedPage(std::vector<std::string> l, bool f = false, std::string t = "")
        : links(std::move(l)), fail(f), throwMessage(std::move(t)) {}
    std::vector<std::string> links;
    bool fail = false;         // the request fails, as a refused connection or an error status
    std::string throwMessage;  // non-empty: SearchPage raises this after the fetch
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

// The HTTP client of a ScriptedJob: Get answers with the page SearchPage has just taken from the
// script. It keeps the settings the job's construction gave the real client.
class ScriptedClient : public THttpClient {
  public:
    explicit ScriptedClient(const THttpClient& configured) {
        UserAgent = configured.UserAgent;
        AcceptLanguage = configured.AcceptLanguage;
        ReadTimeout = configured.ReadTimeout;
        ProxyBasicAuthentication = configured.ProxyBasicAuthentication;
        ProxyServer = configured.ProxyServer;
        ProxyPort = configured.ProxyPort;
        ProxyUsername = configured.ProxyUsername;
        ProxyPassword = configured.ProxyPassword;
    }

    const ScriptedPage* page = nullptr;  // set by SearchPage before each fetch

    AnsiString Get(const AnsiString& url) override {
        if (page->fail) throw EHttpError("GET " + url + " failed: the script fails this page");
        AnsiString text;
        for (const auto& link : page->links)
            text += link + "\n";
        return text;
    }
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
        auto client = std::make_unique<ScriptedClient>(*http);
        client_ = client.get();
        http = std::move(client);
    }

    std::function<ScriptedPage(int keyword, int page)> script;
    std::function<void()> duringPage;            // runs inside SearchPage, after the fetch
    std::vector<std::pair<int, int>> requested;  // (keyword, page) of every SearchPage call
    std::vector<FileSnapshot> snapshots;         // the files as they were before each page
    std::vector<std::string> fetchedUrls;        // the URL of every page asked for
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
        const ScriptedPage page = script(keywordIndex, pageNumber);
        if (pageNumber == 1) {
            UseFirstPageUrl("first:" + (*encodedKeywordList)[keywordIndex]);
        } else {
            pageUrl = nextPageUrl;
        }

        client_->page = &page;
        AnsiString pageText;
        const bool fetched = FetchPage(pageText);
        client_->page = nullptr;
        fetchedUrls.push_back(pageUrl);
        if (duringPage) duringPage();
        if (!page.throwMessage.empty()) throw Exception(page.throwMessage);
        if (fetched) RecordAheadOfPauses(pageNumber + 1, "next:" + IntToStr(pageNumber + 1));
        AppendResultLinks(LinksOf(pageText));
        if (fetched) {
            pageNumber += 1;
            PostPageProgress();
            nextPageUrl = "next:" + IntToStr(pageNumber);
        }
        if (page.giveUp) failCount = 6;  // as if this were the last of the failures allowed
        GiveUpAfterRepeatedFailures();
        const jobfiles::ProgressRecord progress{pageNumber, position, keywordIndex, nextPageUrl};
        expectedAfter.push_back({resultLinks[keywordIndex]->Text(), progress.Lines().Text(),
                                 firstPageUrlList->Text()});
    }

  private:
    // The scripted engine's "scan": one link per line of the page.
    static std::vector<AnsiString> LinksOf(const AnsiString& pageText) {
        std::vector<AnsiString> links;
        size_t from = 0;
        for (size_t end; (end = pageText.find('\n', from)) != AnsiString::npos; from = end + 1)
            links.push_back(pageText.substr(from, end - from));
        return links;
    }

    ScriptedClient* client_ = nullptr;  // owned by `http` until the run releases it
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
