// TQuillonSearch: the search job against the Quillon engine. Ten results per page; page n of a
// keyword is asked for by the result offset (n - 1) x 10 in the URL; result links are cut out of
// the page by ScanQuillonLinks. A failed fetch is reported and asked again on the next turn; the
// sixth failure of one keyword gives the keyword up with an error marker line.
//
// Created by the start export of libquillon.so on the host's main thread; SearchPage runs on the
// job thread only.
#pragma once

#include "job/search_engines.h"
#include "jobfiles/engine_table.h"

class TQuillonSearch : public TSearchEngines {
  public:
    static constexpr const jobfiles::EngineInfo& kEngine = jobfiles::Engine("Quillon");
    static constexpr const char* kEngineName = kEngine.name;
    static constexpr const char* kHost = kEngine.host;
    static constexpr int kResultsPerPage = kEngine.resultsPerPage;

    TQuillonSearch(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
                   TStatusTarget* statusTarget);

  protected:
    void SearchPage() override;

  private:
    // Counts, pauses for and appends every result link of `pageText`.
    void ParseResultPage(const AnsiString& pageText);
    // The request for result page `page` (1-based) of the keyword whose query text is `query`.
    static AnsiString PageUrl(const AnsiString& query, int page);
};
