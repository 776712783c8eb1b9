#include "job/search_engines.h"

#include <cstring>
#include <exception>
#include <utility>

#include "jobfiles/job_files.h"
#include "jobfiles/status_lines.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

using jobfiles::kKeywordFile;
using jobfiles::kUrlFile;

TSearchEngines::TSearchEngines(char resume, int maxResults_, char stopWhenAllFound_,
                               char exactMatch_, TStatusTarget* statusTarget_,
                               const AnsiString& fileBaseName)
    : TThread(statusTarget_), statusTarget(statusTarget_) {
    // Progress of an earlier run, or a fresh start. Any non-zero `resume` resumes: the progress
    // and the result files are read together, or the saved keyword's links would stay in front of
    // the ones its pages bring again.
    const bool resuming = resume != 0;
    if (resuming) {
        const jobfiles::ProgressRecord progress =
            jobfiles::ProgressRecord::Load(jobfiles::ProgressFileName(fileBaseName));
        pageNumber = progress.pageNumber;
        position = positionAtPageStart = progress.position;
        keywordIndex = progress.keywordIndex;
        nextPageUrl = progress.nextPageUrl;
    }
    maxResults = maxResults_;
    stopWhenAllFound = stopWhenAllFound_ != 0;
    exactMatch = exactMatch_ != 0;
    SetPriority(TThreadPriority::tpLowest);

    keywordList = std::make_unique<TStringList>();
    firstPageUrlList = std::make_unique<TStringList>();
    encodedKeywordList = std::make_unique<TStringList>();
    urlList = std::make_unique<TStringList>();
    keywordList->LoadFromFile(kKeywordFile);
    urlList->LoadFromFile(kUrlFile);

    const int keywordCount = keywordList->Count();
    if (keywordCount > kMaxKeywords) {
        throw Exception(AnsiString(kKeywordFile) + " holds " + IntToStr(keywordCount) +
                        " keywords; at most " + IntToStr(kMaxKeywords) + " can be searched");
    }
    if (resuming && (keywordIndex < 0 || keywordIndex >= keywordCount)) {
        throw Exception(jobfiles::ProgressFileName(fileBaseName) + " line 3: keyword index " +
                        IntToStr(keywordIndex) + " is not a keyword of " + kKeywordFile + " (" +
                        IntToStr(keywordCount) + (keywordCount == 1 ? " keyword)" : " keywords)"));
    }
    // A resumed run reads back the links of every keyword it has reached. Keywords after the
    // saved one have not been searched by this run: they start empty, and a file left there by
    // an older run is replaced when the keyword is reached instead of having new links appended
    // behind stale ones (which would shift every position).
    for (int i = 0; i < keywordCount; ++i) {
        resultLinks[i] = std::make_unique<TStringList>();
        if (resuming && i <= keywordIndex) {
            try {
                resultLinks[i]->LoadFromFile(jobfiles::ResultFileName(fileBaseName, i));
            } catch (const EFOpenError& e) {
                throw EFOpenError(
                    AnsiString(e.what()) +
                    " (a resumed run reads the result file of every keyword it has reached)");
            }
        }
    }

    if (resuming && keywordCount > 0) {
        ReconcileSavedKeyword();
        const auto& saved = resultLinks[keywordIndex]->Lines();
        keywordGivenUp_ = !saved.empty() && jobfiles::IsErrorMarker(saved.back());
    }

    http = std::make_unique<THttpClient>();
    http->UserAgent = "Mozilla/3.0 (compatible;)";
    http->AcceptLanguage = "en-us";
    http->ReadTimeout = 30000;
    http->AbortRequested = [this] { return StopGraceOver(); };
    LoadProxySettings(*http);

    urlCodec = std::make_unique<TUrlCodec>(nullptr);

    for (int i = 0; i < urlList->Count(); ++i) {
        try {
            (*urlList)[i] = jobfiles::NormaliseUrl((*urlList)[i]);
        } catch (const ERangeError&) {
            throw EConvertError(AnsiString(kUrlFile) + " line " + IntToStr(i + 1) +
                                " is empty or blank");
        }
    }
}

TSearchEngines::~TSearchEngines() {
    // The thread must end before the members it uses go away.
    WaitFor();
}

void TSearchEngines::ReconcileSavedKeyword() {
    TStringList& links = *resultLinks[keywordIndex];
    const jobfiles::ResultLines saved = jobfiles::ResultLines::From(links.Lines());
    // Given up: the marker line is there and the progress holds the give-up position (or one
    // beyond, after pages that a resumed run asked for once more). Its links are not counted.
    const bool givenUp = saved.givenUp && position >= kGiveUpPosition;
    if (position >= 0 && (givenUp || static_cast<int>(saved.links.size()) >= position)) {
        DropUnrecordedLinks();
        return;
    }
    // Links that the progress counts are missing: appending behind the gap would put every
    // later link at a wrong position. The keyword is searched again from its first page, and
    // its first recorded page replaces the file.
    links = TStringList();
    pageNumber = 1;
    position = positionAtPageStart = 0;
    nextPageUrl.clear();
}

void TSearchEngines::DropUnrecordedLinks() {
    // The result file is written before the progress file. A run killed between the two leaves
    // a page in the result file that the progress does not count; that page is asked again, so
    // its first copy must go, or every later position would be off by a page.
    TStringList& links = *resultLinks[keywordIndex];
    int counted = 0;
    for (int i = 0; i < links.Count(); ++i) {
        if (jobfiles::IsErrorMarker(links[i])) continue;
        if (++counted > position) {
            while (links.Count() > i)
                links.Delete(links.Count() - 1);
            break;
        }
    }
}

void TSearchEngines::LoadProxySettings(THttpClient& client) {
    const jobfiles::ProxySettings settings = jobfiles::ProxySettings::Load();
    client.ProxyBasicAuthentication = true;
    client.ProxyServer = settings.host;
    client.ProxyPort = settings.port;
    client.ProxyUsername = settings.user;
    client.ProxyPassword = settings.password;
}

void TSearchEngines::EncodeKeywords() {
    for (int i = 0; i < keywordList->Count(); ++i) {
        // The keyword is text in the ANSI code page and ends at a zero byte, if it holds one.
        const AnsiString& keyword = (*keywordList)[i];
        const AnsiString text = keyword.substr(0, std::strlen(keyword.c_str()));
        urlCodec->InputString = AnsiToUtf8(text);
        encodedKeywordList->Add(urlCodec->GetEncodeString());
    }
}

void TSearchEngines::WriteStatus() {
    statusTarget->InsertLine(statusLine);
}

void TSearchEngines::PostStatus(const AnsiString& line) {
    statusLine = line;
    Synchronize([this] { WriteStatus(); });
}

void TSearchEngines::ReleaseOwned() {
    for (auto& links : resultLinks)
        links.reset();
    keywordList.reset();
    firstPageUrlList.reset();
    encodedKeywordList.reset();
    urlList.reset();
    http.reset();
    urlCodec.reset();
}

void TSearchEngines::Execute() {
    try {
        bool noKeyword = false;
        while (!stopRequested) {
            if (position == 0) {
                // Only a job without keywords gets here with no keyword to search; it has
                // nothing to report and ends without a line.
                if (keywordIndex >= keywordList->Count()) {
                    noKeyword = true;
                    break;
                }
                PostStatus(jobfiles::KeywordStartLine(engineName, (*keywordList)[keywordIndex]));
            }
            SearchPage();
            if (RecordProgress()) stopRequested = true;
        }
        if (!noKeyword) PostStatus(jobfiles::FinishedLine(engineName));
    } catch (const std::exception& e) {
        ReportStop(e.what());
    } catch (...) {
        ReportStop("unknown error");
    }
    stopRequested = true;
    ReleaseOwned();
    finished = true;
}

void TSearchEngines::ReportStop(const AnsiString& reason) {
    stopRequested = true;
    // The one line that tells the user why the run ended early; if even that hand-over fails,
    // the run ends without it.
    try {
        PostStatus(jobfiles::StoppedLine(engineName, reason));
    } catch (...) {
    }
}

void TSearchEngines::UseFirstPageUrl(const AnsiString& url) {
    pageUrl = url;
    if (firstPageUrlList->Count() <= keywordIndex) firstPageUrlList->Add(pageUrl);
}

void TSearchEngines::RecordAheadOfPauses(int pageNumberAfter, const AnsiString& nextPageUrlAfter) {
    ahead_ = PageStateAhead{pageNumberAfter, nextPageUrlAfter};
}

void TSearchEngines::AppendResultLinks(const std::vector<AnsiString>& links) {
    TStringList& results = *resultLinks.at(keywordIndex);
    // 1 ms per link, counted from the first pause of the page: link k goes in no earlier than
    // k ms after the page's pauses began, and a late wake-up does not lengthen the pauses after it.
    TPacer pacer(1);
    const std::optional<PageStateAhead> ahead = std::exchange(ahead_, std::nullopt);
    if (ahead && !links.empty()) {
        // The files go to disk inside the first pauses. They describe the page as recorded: a
        // run killed before RecordProgress leaves what it would have left just after it, and a
        // stop lets the page finish anyway. A write that fails here is left to RecordProgress,
        // which makes it again and ends the run with its reason at the usual point.
        pacer.Begin();
        TStringList after = results;
        for (const AnsiString& link : links)
            after.Add(link);
        try {
            SaveJobFiles(after, ahead->pageNumber, position + static_cast<int>(links.size()),
                         ahead->nextPageUrl);
        } catch (const EFCreateError&) {
        }
    }
    for (const AnsiString& link : links) {
        position += 1;
        pacer.Pause();
        results.Add(link);
    }
}

bool TSearchEngines::StopGraceOver() {
    if (!stopRequested) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!stopSeenAt_) stopSeenAt_ = now;
    return now - *stopSeenAt_ >= kStopGrace;
}

bool TSearchEngines::FetchPage(AnsiString& pageText) {
    try {
        pageText = http->Get(pageUrl);
        return true;
    } catch (const EHttpAborted&) {
        // The run ends after this page, which never came whole: nothing of it is recorded, and
        // the progress file still names it, so a resumed run asks for it again.
        pageText.clear();
        positionAtPageStart = position - resultsPerPage;
        return false;
    } catch (const std::exception&) {
        pageText.clear();
    }
    failCount += 1;
    PostStatus(jobfiles::RetryingLine(engineName));
    positionAtPageStart = position - resultsPerPage;
    return false;
}

void TSearchEngines::PostPageProgress() {
    PostStatus(jobfiles::PositionsLine(position, engineName, (*keywordList)[keywordIndex]));
}

void TSearchEngines::GiveUpAfterRepeatedFailures() {
    if (failCount <= 5) return;
    resultLinks.at(keywordIndex)->Add(jobfiles::ErrorMarker(pageNumber));
    pageNumber = kGiveUpPageNumber;
    position = kGiveUpPosition;
    keywordGivenUp_ = true;
    PostStatus(jobfiles::PageSkippedLine(engineName));
}

bool TSearchEngines::RecordProgress() {
    // In this order: a resumed run trusts the result file only as far as the progress file
    // counts. A file whose bytes would not change is not written again; after the first page of
    // a run every file holds what this run last recorded.
    SaveJobFiles(*resultLinks.at(keywordIndex), pageNumber, position, nextPageUrl);

    if (!KeywordComplete()) return false;
    pageNumber = 1;
    position = 0;
    positionAtPageStart = 0;
    keywordIndex += 1;
    failCount = 0;
    keywordGivenUp_ = false;
    return keywordIndex >= keywordList->Count();
}

void TSearchEngines::SaveJobFiles(const TStringList& links, int savedPageNumber, int savedPosition,
                                  const AnsiString& savedNextPageUrl) {
    resultFile_.Save(jobfiles::ResultFileName(engineName, keywordIndex), links);
    const jobfiles::ProgressRecord progress{savedPageNumber, savedPosition, keywordIndex,
                                            savedNextPageUrl};
    progressFile_.Save(jobfiles::ProgressFileName(engineName), progress.Lines());
    firstPageFile_.Save(jobfiles::FirstPageFileName(engineName), *firstPageUrlList);
}

bool TSearchEngines::KeywordComplete() {
    // A keyword given up ends here also when maxResults lies beyond the give-up position 10000;
    // otherwise every further request would fail at once and give it up again, without end.
    if (position >= maxResults || keywordGivenUp_) return true;
    // A page that added fewer links than a full page is the end of the engine's results.
    if (position - positionAtPageStart < resultsPerPage) return true;
    positionAtPageStart = position;
    if (!stopWhenAllFound) return false;

    const auto& lines = resultLinks.at(keywordIndex)->Lines();
    const long long n = static_cast<long long>(lines.size());
    const long long p = resultsPerPage;
    // The engine served the same page again: its last links repeat those a page earlier.
    if (n != p) {
        bool repeated = true;
        for (const long long back : {1, 2, 5}) {
            const long long a = n - back;
            const long long b = n - back - p;
            if (a < 0 || b < 0 || a >= n || b >= n || lines[a] != lines[b]) {
                repeated = false;
                break;
            }
        }
        if (repeated) return true;
    }

    // Every user URL must occur among the keyword's links, ignoring case: as the whole link with
    // exactMatch, anywhere inside it otherwise (where an empty URL occurs nowhere).
    std::vector<AnsiString> upperLinks;
    upperLinks.reserve(lines.size());
    for (const AnsiString& link : lines)
        upperLinks.push_back(AnsiUpperCase(link));
    for (const AnsiString& url : urlList->Lines()) {
        const AnsiString wanted = AnsiUpperCase(url);
        bool found = false;
        for (const AnsiString& upper : upperLinks) {
            found = jobfiles::UpperLinkMatchesUpperUrl(upper, wanted, exactMatch);
            if (found) break;
        }
        if (!found) return false;
    }
    return true;
}
