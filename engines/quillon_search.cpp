#include "engines/quillon_search.h"

#include "engines/link_scanners.h"
#include "platform/sysutils.h"

namespace {
const AnsiString kEndpoint = AnsiString("http://") + TQuillonSearch::kHost;
}

TQuillonSearch::TQuillonSearch(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                               TStatusTarget* statusTarget)
    : TSearchEngines(resume, maxResults, stopWhenAllFound, exactMatch, statusTarget, kEngineName) {
    engineName = kEngineName;
    resultsPerPage = kResultsPerPage;
    EncodeKeywords();
}

void TQuillonSearch::SearchPage() {
    const AnsiString& query = (*encodedKeywordList)[keywordIndex];
    if (pageNumber == 1) {
        UseFirstPageUrl(kEndpoint + kEngine.resultPath + "?cat=web&cs=utf-8&l=any&q=" + query);
    } else {
        pageUrl = nextPageUrl;
    }

    AnsiString pageText;
    const bool fetched = FetchPage(pageText);
    if (fetched) RecordAheadOfPauses(pageNumber + 1, PageUrl(query, pageNumber + 1));
    ParseResultPage(pageText);
    if (fetched) {
        pageNumber += 1;
        PostPageProgress();
    }
    GiveUpAfterRepeatedFailures();
    // After a failure this names the same page again.
    nextPageUrl = PageUrl(query, pageNumber);
}

AnsiString TQuillonSearch::PageUrl(const AnsiString& query, int page) {
    // Page n is asked for by its result offset.
    return kEndpoint + kEngine.resultPath + "?q=" + query +
           "&c=web&cs=utf-8&o=" + IntToStr(static_cast<long long>(page - 1) * kResultsPerPage) +
           "&l=any";
}

void TQuillonSearch::ParseResultPage(const AnsiString& pageText) {
    AppendResultLinks(ScanQuillonLinks(pageText));
}
