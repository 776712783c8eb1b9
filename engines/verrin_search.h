// TVerrin: the search job against the Verrin engine. Fifteen results per page; the next page of
// a keyword is the one the page itself links to (its second `href="results.aspx` link, taken
// verbatim); result links are cut out of the page by ScanVerrinLinks. A failed fetch is reported
// and asked again on the next turn; the sixth failure of one keyword gives the keyword up with an
// error marker line.
//
// Created by the start export of libverrin.so on the host's main thread; SearchPage runs on the
// job thread only.
#pragma once

#include "job/search_engines.h"
#include "jobfiles/engine_table.h"

class TVerrin : public TSearchEngines {
  public:
    static constexpr const jobfiles::EngineInfo& kEngine = jobfiles::Engine("Verrin");
    static constexpr const char* kEngineName = kEngine.name;
    static constexpr const char* kHost = kEngine.host;
    static constexpr int kResultsPerPage = kEngine.resultsPerPage;

    TVerrin(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
            TStatusTarget* statusTarget);

  protected:
    void SearchPage() override;

  private:
    void ParseResultPage(const AnsiString& pageText);
};
