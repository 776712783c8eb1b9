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
// Owned by the run (one per engine under way); main thread, where the status lines arrive. The
// job files are read from the folder given, whatever the current directory is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/report/ledger_urls.h"
#include "jobfiles/job_files.h"
#include "jobfiles/status_lines.h"
#include "ledger/ledger.h"

namespace rankcheck {

class CheckRecorder {
  public:
    // `folder` holds the job files; `now` gives the current time as ISO 8601 UTC (tests fix it).
    CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check,
                  std::filesystem::path folder, std::vector<ledger::UserUrl> urls,
                  std::function<std::string()> now);

    // Records, from their result files, the keywords before `keywordIndex` that the check does
    // not hold as done or given up (after a kill, or when a check is resumed).
    void CatchUp(int keywordIndex);
    // Main thread, for every status line of the run.
    void OnStatusLine(const jobfiles::StatusLine& line);
    // The run is over: records the keyword under way (complete when `completed`, else partial)
    // and ends the check as complete, stopped (`stoppedByUser`) or failed.
    void Finish(bool completed, bool stoppedByUser);

    // The indexes of the keywords this check holds as given up, in order.
    std::vector<int> GivenUp() const;
    const ledger::CheckInfo& Check() const { return check_; }

  private:
    // The progress file of the check's engine.
    jobfiles::ProgressRecord Progress() const;
    // Reads the result file of keyword `index` and records it; Partial keeps that state unless
    // the file shows the keyword given up or searched to its limit.
    void Record(int index, bool partial);

    ledger::Ledger& ledger_;
    ledger::CheckInfo check_;
    std::filesystem::path folder_;
    std::vector<ledger::UserUrl> urls_;
    std::function<std::string()> now_;
    std::set<int> final_;    // keywords recorded as done or given up
    std::set<int> givenUp_;  // of those, the ones given up
    bool pageSeen_ = false;  // a page of this run has been recorded by the job
};

}  // namespace rankcheck
