#include "job/search_engines.h"

#include <cstring>
#include <exception>

#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace {

const char kProxyFile[] = "proxy.def";
const char kKeywordFile[] = "keywords.lst";
const char kUrlFile[] = "urls.lst";

// StrToInt for line `line` (1-based) of `list`, with the file and line named on failure.
int IntFromLine(const TStringList& list, int line, const AnsiString& fileName) {
    try {
        return StrToInt(list[line - 1]);
    } catch (const EConvertError& e) {
        throw EConvertError(fileName + " line " + IntToStr(line) + ": " + e.what());
    }
}

void RequireLines(const TStringList& list, int needed, const AnsiString& fileName,
                  const char* what) {
    if (list.Count() < needed) {
        throw EStringListError(fileName + " has " + IntToStr(list.Count()) +
                               (list.Count() == 1 ? " line; " : " lines; ") + what +
                               " needs at least " + IntToStr(needed));
    }
}

}  // namespace

AnsiString TSearchEngines::ResultFileName(const AnsiString& engine, int keyword) {
    return engine + "-" + IntToStr(keyword) + ".urls";
}

TSearchEngines::TSearchEngines(char resume, int maxResults_, char stopWhenAllFound_,
                               char exactMatch_, const HostListControl* statusTarget_,
                               const AnsiString& fileBaseName)
    : TThread(true, statusTarget_), statusTarget(statusTarget_) {
    // Progress of an earlier run, or a fresh start.
    if (resume == 1) {
        const AnsiString fileName = ProgressFileName(fileBaseName);
        TStringList progress;
        progress.LoadFromFile(fileName);
        RequireLines(progress, 4, fileName, "a progress file");
        pageNumber = IntFromLine(progress, 1, fileName);
        position = positionAtPageStart = IntFromLine(progress, 2, fileName);
        keywordIndex = IntFromLine(progress, 3, fileName);
        nextPageUrl = progress[3];
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
    if (resume == 1 && (keywordIndex < 0 || keywordIndex >= keywordCount)) {
        throw Exception(ProgressFileName(fileBaseName) + " line 3: keyword index " +
                        IntToStr(keywordIndex) + " is not a keyword of " + kKeywordFile + " (" +
                        IntToStr(keywordCount) + (keywordCount == 1 ? " keyword)" : " keywords)"));
    }
    // A resumed run reads back the links of every keyword it has reached. Keywords after the
    // saved one have not been searched by this run: they start empty, and a file left there by
    // an older run is replaced when the keyword is reached instead of having new links appended
    // behind stale ones (which would shift every position).
    for (int i = 0; i < keywordCount; ++i) {
        resultLinks[i] = std::make_unique<TStringList>();
        if (resume != 0 && i <= keywordIndex) {
            try {
                resultLinks[i]->LoadFromFile(ResultFileName(fileBaseName, i));
            } catch (const EFOpenError& e) {
                throw EFOpenError(
                    AnsiString(e.what()) +
                    " (a resumed run reads the result file of every keyword it has reached)");
            }
        }
    }

    if (resume == 1 && keywordCount > 0) DropUnrecordedLinks();

    http = std::make_unique<THttpClient>();
    http->UserAgent = "Mozilla/3.0 (compatible;)";
    http->AcceptLanguage = "en-us";
    http->ReadTimeout = 30000;
    LoadProxySettings(*http);

    urlCodec = std::make_unique<TUrlCodec>(nullptr);

    for (int i = 0; i < urlList->Count(); ++i) {
        try {
            (*urlList)[i] = NormaliseUrl((*urlList)[i]);
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

void TSearchEngines::DropUnrecordedLinks() {
    // The result file is written before the progress file. A run killed between the two leaves
    // a page in the result file that the progress does not count; that page is asked again, so
    // its first copy must go, or every later position would be off by a page.
    TStringList& links = *resultLinks[keywordIndex];
    int counted = 0;
    for (int i = 0; i < links.Count(); ++i) {
        if (links[i].find("#Error found#") != AnsiString::npos) continue;
        if (++counted > position) {
            while (links.Count() > i)
                links.Delete(links.Count() - 1);
            break;
        }
    }
}

void TSearchEngines::LoadProxySettings(THttpClient& client) {
    TStringList settings;
    settings.LoadFromFile(kProxyFile);
    client.ProxyBasicAuthentication = true;
    if (settings.Count() == 0) {
        throw EStringListError(AnsiString(kProxyFile) +
                               " is empty; its first line must be \"0\" (direct connection) "
                               "or say that a proxy is used");
    }
    if (settings[0] == "0") {
        client.ProxyServer.clear();
        client.ProxyPort = 0;
        client.ProxyUsername.clear();
        client.ProxyPassword.clear();
        return;
    }
    RequireLines(settings, 4, kProxyFile, "a proxy");
    client.ProxyServer = settings[2];
    client.ProxyPort = IntFromLine(settings, 4, kProxyFile);
    if (settings[1] == "1") {
        RequireLines(settings, 6, kProxyFile, "a proxy with a user name and password");
        client.ProxyUsername = settings[4];
        client.ProxyPassword = settings[5];
    } else {
        client.ProxyUsername.clear();
        client.ProxyPassword.clear();
    }
}

AnsiString TSearchEngines::NormaliseUrl(const AnsiString& url) {
    AnsiString s = url;
    // An empty or all-blank text has no first character to look at.
    while (CharAt(s, 1) == ' ')
        s.erase(0, 1);
    while (CharAt(s, static_cast<long long>(s.size())) == ' ')
        s.pop_back();
    if (s.back() == '/') s.pop_back();
    if (s.compare(0, 7, "http://") == 0) s.erase(0, 7);
    return s;
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
    statusTarget->insertLine(statusTarget->host, statusLine.data(), statusLine.size());
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
                PostStatus("Start " + engineName + " search for keyword \"" +
                           (*keywordList)[keywordIndex] + "\"");
            }
            SearchPage();
            if (RecordProgress()) stopRequested = true;
        }
        if (!noKeyword) PostStatus("Finished search on " + engineName);
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
        PostStatus("Search on " + engineName + " stopped: " + reason);
    } catch (...) {
    }
}

void TSearchEngines::UseFirstPageUrl(const AnsiString& url) {
    pageUrl = url;
    if (firstPageUrlList->Count() <= keywordIndex) firstPageUrlList->Add(pageUrl);
}

void TSearchEngines::AppendResultLinks(const std::vector<AnsiString>& links) {
    TStringList& results = *resultLinks.at(keywordIndex);
    // 1 ms per link, counted from the first pause of the page: link k goes in no earlier than
    // k ms after the page's pauses began, and a late wake-up does not lengthen the pauses after it.
    TPacer pacer(1);
    for (const AnsiString& link : links) {
        position += 1;
        pacer.Pause();
        results.Add(link);
    }
}

bool TSearchEngines::FetchPage(AnsiString& pageText) {
    try {
        pageText = http->Get(pageUrl);
        return true;
    } catch (const std::exception&) {
        pageText.clear();
    }
    failCount += 1;
    PostStatus("Can't connect to " + engineName + ". Trying again");
    positionAtPageStart = position - resultsPerPage;
    return false;
}

void TSearchEngines::PostPageProgress() {
    PostStatus(IntToStr(position) + " pos. on " + engineName + " for \"" +
               (*keywordList)[keywordIndex] + "\"");
}

void TSearchEngines::GiveUpAfterRepeatedFailures() {
    if (failCount <= 5) return;
    resultLinks.at(keywordIndex)->Add(IntToStr(pageNumber) + "#Error found#");
    pageNumber = 1000;
    position = 10000;
    PostStatus("Can't connect to " + engineName + ". Page skipped");
}

bool TSearchEngines::RecordProgress() {
    const TStringList& links = *resultLinks.at(keywordIndex);
    links.SaveToFile(ResultFileName(engineName, keywordIndex));
    TStringList progress;
    progress.Add(IntToStr(pageNumber));
    progress.Add(IntToStr(position));
    progress.Add(IntToStr(keywordIndex));
    progress.Add(nextPageUrl);
    progress.SaveToFile(ProgressFileName(engineName));
    firstPageUrlList->SaveToFile(FirstPageFileName(engineName));

    if (!KeywordComplete()) return false;
    pageNumber = 1;
    position = 0;
    positionAtPageStart = 0;
    keywordIndex += 1;
    failCount = 0;
    return keywordIndex >= keywordList->Count();
}

bool TSearchEngines::KeywordComplete() {
    if (position >= maxResults) return true;
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
            found = exactMatch ? upper == wanted
                               : !wanted.empty() && upper.find(wanted) != AnsiString::npos;
            if (found) break;
        }
        if (!found) return false;
    }
    return true;
}
