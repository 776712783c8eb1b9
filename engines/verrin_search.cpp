#include "engines/verrin_search.h"

#include "engines/link_scanners.h"

namespace {
const AnsiString kEndpoint = AnsiString("http://") + TVerrin::kHost;
}

TVerrin::TVerrin(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                 TStatusTarget* statusTarget)
    : TSearchEngines(resume, maxResults, stopWhenAllFound, exactMatch, statusTarget, kEngineName) {
    engineName = kEngineName;
    resultsPerPage = kResultsPerPage;
    EncodeKeywords();
}

void TVerrin::SearchPage() {
    if (pageNumber == 1) {
        UseFirstPageUrl(kEndpoint + kEngine.resultPath +
                        "?q=" + (*encodedKeywordList)[keywordIndex] +
                        "&origq=&RS=CHECKED&FORM=SMCRT&v=1&cfg=SMCINITIAL&nosp=0&thr=");
    } else {
        pageUrl = nextPageUrl;
    }

    AnsiString pageText;
    const bool fetched = FetchPage(pageText);
    // The page names its successor; a page without that link leaves just the host, which is
    // asked only if the page was full.
    const AnsiString successor = kEndpoint + "/" + ExtractVerrinNextPage(pageText);
    if (fetched) RecordAheadOfPauses(pageNumber + 1, successor);
    ParseResultPage(pageText);
    if (fetched) {
        pageNumber += 1;
        PostPageProgress();
        nextPageUrl = successor;
    }
    GiveUpAfterRepeatedFailures();
}

void TVerrin::ParseResultPage(const AnsiString& pageText) {
    AppendResultLinks(ScanVerrinLinks(pageText));
}
