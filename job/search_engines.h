// TSearchEngines: the search job. One object is both the worker thread of a run and the holder of
// everything the run needs and produces: the keywords and their query texts, the user's URLs,
// the result links per keyword, the page state, the HTTP client and the URL codec.
//
// Life of a job:
//  - constructed (host's main thread, inside the start export): reads proxy.def, keywords.lst,
//    urls.lst and, when resuming, the progress file and every result file; creates the client
//    and the codec. Any problem raises an Exception naming the file (and line) and nothing runs.
//    The engine adapter's constructor then sets engineName and resultsPerPage and calls
//    EncodeKeywords.
//  - running (job thread, after Resume): Execute asks the adapter's SearchPage for one result
//    page per turn and records it with RecordProgress, which rewrites the keyword's result file,
//    the progress file and the first-page file before it decides whether to move on. A page that
//    brings links has its files written ahead, at the start of its pauses (RecordAheadOfPauses),
//    so that RecordProgress finds them up to date.
//  - ended: Execute has released every list, the client and the codec and set `finished`.
//  - destroyed by the clear export (host's main thread), which first calls WaitFor: the job
//    thread must have ended before the adapter part of the object goes away. WaitFor services
//    the host's synchronize requests meanwhile, so the wait cannot deadlock.
//
// Threads: apart from the status hand-over (WriteStatus runs on the host's main thread while the
// job thread waits in Synchronize), the host's thread touches only `stopRequested` and
// `finished`, which are atomic. Everything else belongs to the job thread once it runs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "job/recorded_file.h"
#include "job/status_target.h"
#include "platform/ansi_string.h"
#include "platform/http_client.h"
#include "platform/string_list.h"
#include "platform/thread.h"
#include "urlcodec/url_codec.h"

class TSearchEngines : public TThread {
  public:
    static constexpr int kMaxKeywords = 500;
    // The page state of a keyword given up after repeated failures.
    static constexpr int kGiveUpPageNumber = 1000;
    static constexpr int kGiveUpPosition = 10000;
    // How long a stop waits for the page under way before the request is dropped, counted from
    // when the job's HTTP client first sees the stop. The client looks at least about once a
    // second, so the run ends at most about 5 s after the host asked.
    static constexpr std::chrono::seconds kStopGrace{4};

    // Reads the job's input files from the current directory. `fileBaseName` is the engine's
    // display name, the base of its progress, result and first-page file names.
    TSearchEngines(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                   TStatusTarget* statusTarget, const AnsiString& fileBaseName);
    ~TSearchEngines() override;

    // --- Job state; the names are those used throughout the plug-ins. ---
    std::unique_ptr<TStringList> keywordList;         // keywords, in keywords.lst order
    std::unique_ptr<TStringList> encodedKeywordList;  // query text per keyword
    std::unique_ptr<TStringList> urlList;             // the user's URLs, normalised
    std::unique_ptr<TStringList> firstPageUrlList;    // page-1 request URL per keyword
    std::array<std::unique_ptr<TStringList>, kMaxKeywords> resultLinks;  // links per keyword
    AnsiString engineName;
    int keywordIndex = 0;
    AnsiString pageUrl;
    AnsiString nextPageUrl;
    int pageNumber = 1;
    int position = 0;
    int positionAtPageStart = 0;
    int maxResults = 0;
    int resultsPerPage = 0;
    bool stopWhenAllFound = false;
    bool exactMatch = false;
    int failCount = 0;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{false};
    std::unique_ptr<THttpClient> http;
    std::unique_ptr<TUrlCodec> urlCodec;
    AnsiString statusLine;
    TStatusTarget* statusTarget;  // the host's list; the plug-in owns it

  protected:
    // Fills encodedKeywordList with the query text of every keyword (UTF-8, percent-encoded).
    // Called by the adapter's constructor as its last step.
    void EncodeKeywords();

    // Reads proxy.def and applies it to `client`.
    void LoadProxySettings(THttpClient& client);

    // Job thread: fetches and scans one result page of keyword `keywordIndex`.
    virtual void SearchPage() = 0;

    // Job thread: hands `line` to the host, which inserts it at the top of its list; returns
    // after the host's main thread has done so.
    void PostStatus(const AnsiString& line);

    void Execute() override;

    // --- Steps shared by the engine adapters' SearchPage (job thread). ---
    // Sets pageUrl; a first page also goes into firstPageUrlList unless the keyword has one.
    void UseFirstPageUrl(const AnsiString& url);
    // After a successful fetch, before its links are appended: the page will leave
    // `pageNumberAfter` and `nextPageUrlAfter` as the page state. The next AppendResultLinks then
    // writes the job files as RecordProgress will write them after this page, at the start of
    // the page's pauses: the disk's time is spent while the job waits anyway, and RecordProgress
    // finds nothing left to write. What it writes is only ever the state after the whole page.
    void RecordAheadOfPauses(int pageNumberAfter, const AnsiString& nextPageUrlAfter);
    // Appends `links` to the current keyword's result list in page order, counting each one and
    // pausing 1 ms before it goes in: link k no earlier than k ms after the page's first pause.
    // After RecordAheadOfPauses, and when there are links, the job files are written first,
    // within those pauses.
    void AppendResultLinks(const std::vector<AnsiString>& links);
    // Fetches pageUrl into `pageText`; on any failure leaves it empty, counts and reports the
    // failure and makes the empty page not look like a short one, so that the same page is
    // asked again. A page dropped because the run is stopping (kStopGrace) is neither counted
    // nor reported: it is simply not recorded, and a resumed run asks for it. Returns whether
    // the fetch succeeded.
    bool FetchPage(AnsiString& pageText);
    // After a page was fetched and scanned: "n pos. on Engine for "keyword"".
    void PostPageProgress();
    // The sixth failure of a keyword gives it up: an error marker line ("n#Error found#"), the
    // page/position values 1000/10000 in the progress file, and the keyword ends after this page
    // whatever maxResults is.
    void GiveUpAfterRepeatedFailures();

    // Job thread: writes the three job files (each only when its bytes change), then moves to the
    // next keyword when the current one is complete. Returns true when the last keyword is
    // complete.
    bool RecordProgress();
    bool KeywordComplete();

  private:
    // The current keyword has been given up: KeywordComplete ends it. A resumed run knows it from
    // the error marker line that ends the keyword's result file.
    bool keywordGivenUp_ = false;
    // The job files as this run last wrote them (job thread).
    TRecordedFile resultFile_, progressFile_, firstPageFile_;
    // When the HTTP client first saw stopRequested during a request (job thread).
    std::optional<std::chrono::steady_clock::time_point> stopSeenAt_;
    // Set by RecordAheadOfPauses for the next AppendResultLinks, which clears it.
    struct PageStateAhead {
        int pageNumber = 0;
        AnsiString nextPageUrl;
    };
    std::optional<PageStateAhead> ahead_;

    // The three job files for `links` of the current keyword and the page state
    // `savedPageNumber`, `savedPosition`, `savedNextPageUrl`, in the order a resumed run relies
    // on; each written only when its bytes change. Raises EFCreateError.
    void SaveJobFiles(const TStringList& links, int savedPageNumber, int savedPosition,
                      const AnsiString& savedNextPageUrl);

    // Host's main thread, inside Synchronize: inserts statusLine at index 0 of the host's list.
    void WriteStatus();
    void ReleaseOwned();
    // Resuming: makes the saved keyword's links agree with the saved position. Links beyond it
    // are dropped; a file holding fewer links than it counts (truncated, emptied), or a negative
    // position, starts the keyword again from its first page with no links. A keyword given up
    // (an error marker line in its file, the give-up position in the progress) stays.
    void ReconcileSavedKeyword();
    void DropUnrecordedLinks();
    // Job thread, asked by the HTTP client during a request: whether a stop has waited
    // kStopGrace for the page under way.
    bool StopGraceOver();
    // Job thread: the run ends early; tells the host why in one status line.
    void ReportStop(const AnsiString& reason);
};
