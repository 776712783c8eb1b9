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
// when it was stopped or failed (and not searched while it has no link yet).
//
// The job's keywords are the check's, or, for a recheck, some of them in a job folder of their
// own: keyword i of the job is then keyword Job::checkIndexes[i] of the check. Recording a
// keyword again replaces it, so a resumed or rechecked check never holds a keyword twice.
//
// Owned by the run (one per engine under way); main thread, where the status lines arrive. The
// job files are read from the job folder given, whatever the current directory is.
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
    // Where the plug-in works and which of the check's keywords it searches.
    struct Job {
        std::filesystem::path folder;  // holds the job files
        // Keyword i of the job is keyword checkIndexes[i] of the check; empty: the job's keywords
        // are the check's, in the check's order.
        std::vector<int> checkIndexes = {};
    };

    // `urls` are the check's; `now` gives the current time as ISO 8601 UTC (tests fix it).
    CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check, Job job,
                  std::vector<ledger::UserUrl> urls, std::function<std::string()> now);

    // Records, from their result files, the job's keywords before `jobIndex` that the check does
    // not hold as done or given up (after a kill, or when a check is resumed).
    void CatchUp(int jobIndex);
    // Main thread, for every status line of the run.
    void OnStatusLine(const jobfiles::StatusLine& line);
    // The run is over: records the keyword under way (complete when `completed`, else partial;
    // left not searched while its file holds no link) and ends the check in `state` (complete,
    // stopped or failed) with `reason`. The check is ended also when the files of the last
    // keywords cannot be read (as failed, where it would have been complete); that then raises.
    void Finish(bool completed, ledger::CheckState state, const std::string& reason = "");

    // Called with every keyword recorded as done or given up, by its index in the check, with
    // its outcome, in the order the run searched them. An exception from it is the caller's.
    std::function<void(int checkIndex, const ledger::KeywordOutcome& outcome)> OnRecorded;

    const ledger::CheckInfo& Check() const { return check_; }

  private:
    int JobKeywords() const;
    int CheckIndex(int jobIndex) const;
    // The progress file of the check's engine in the job folder.
    jobfiles::ProgressRecord Progress() const;
    // Reads the result file of the job's keyword `jobIndex` and records it; `partial` keeps that
    // state unless the file shows the keyword given up or searched to its limit. Returns false
    // (recording nothing) for a partial keyword without a link.
    bool Record(int jobIndex, bool partial);

    ledger::Ledger& ledger_;
    ledger::CheckInfo check_;
    Job job_;
    std::vector<ledger::UserUrl> urls_;
    std::function<std::string()> now_;
    std::set<int> final_;    // the job's keywords recorded as done or given up
    bool pageSeen_ = false;  // a page of this run has been recorded by the job
};

}  // namespace rankcheck
