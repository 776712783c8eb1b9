// CheckRecorder: one check of one engine written into the ledger while the plug-in runs. It
// follows the run through its status lines and the job files and records every keyword once its
// result file is final, so that a report made during the run already shows the keywords done.
//
// When a keyword is final: the job writes a keyword's result file and the progress file after
// every page, and begins the next keyword (with its start line) only once the last one is
// complete. So at a start line that follows a page of this run, the progress file names the
// keyword whose page was recorded last; unless that page was a failed first page (page 1,
// position 0: the start line then repeats the same keyword), that keyword is complete. Every
// keyword before it is complete too; CatchUp records those a killed rankcheck left unrecorded.
// At the end of a run the keyword under way is complete when the run completed, and partial
// when it was stopped or failed.
//
// Recording a keyword again replaces it, so a resumed check never holds a keyword twice.
//
// Owned by the run command; main thread (status lines arrive there), in the job folder.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/status_line.h"
#include "ledger/ledger.h"

namespace rankcheck {

// The ledger's form of the user's URLs: each line as written, keyed by its normalised form
// upper-cased, so that "http://www.a.example/" and "WWW.A.EXAMPLE" keep one history. A blank line
// (which no plug-in accepts) is kept under its own text.
std::vector<ledger::UserUrl> LedgerUrls(const std::vector<std::string>& lines);

// The best positions of every URL among `links` (links[n - 1] is position n), matched on the
// links without their scheme so that a URL written with or without http:// or https:// finds
// links shown either way.
std::vector<ledger::UrlRank> RanksOf(const std::vector<std::string>& links,
                                     const std::vector<ledger::UserUrl>& urls);

// A stable hash of a file's bytes (FNV-1a, 64 bits, in hex): tells whether keywords.lst changed.
std::string ContentHash(const std::string& bytes);

class CheckRecorder {
  public:
    // `now` gives the current time as ISO 8601 UTC (tests fix it).
    CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check,
                  std::vector<ledger::UserUrl> urls, std::function<std::string()> now);

    // Records, from their result files, the keywords before `keywordIndex` that the check does
    // not hold as done or given up (after a kill, or when a check is resumed).
    void CatchUp(int keywordIndex);
    // Main thread, for every status line of the run.
    void OnStatusLine(const StatusLine& line);
    // The run is over: records the keyword under way (complete when `completed`, else partial)
    // and ends the check as complete, stopped (`stoppedByUser`) or failed.
    void Finish(bool completed, bool stoppedByUser);

    // The indexes of the keywords this check holds as given up, in order.
    std::vector<int> GivenUp() const;
    const ledger::CheckInfo& Check() const { return check_; }

  private:
    // Reads the result file of keyword `index` and records it; Partial keeps that state unless
    // the file shows the keyword given up or searched to its limit.
    void Record(int index, bool partial);

    ledger::Ledger& ledger_;
    ledger::CheckInfo check_;
    std::vector<ledger::UserUrl> urls_;
    std::function<std::string()> now_;
    std::set<int> final_;    // keywords recorded as done or given up
    std::set<int> givenUp_;  // of those, the ones given up
    bool pageSeen_ = false;  // a page of this run has been recorded by the job
};

}  // namespace rankcheck
