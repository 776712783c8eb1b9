// The state of a check in words, worded once for every output (the report's table, CSV, JSON
// and HTML, `rankcheck checks`, the run's summary):
//   complete
//   complete with 3 failed (2 given up, 1 suspect)
//   stopped after 12 of 30 keywords (3 keywords in a row failed: the engine or the proxy is not
//     answering)
//   interrupted after 12 of 30 keywords
//   failed after 12 of 30 keywords (<the run's reason>)
//   running: 12 of 30 keywords so far
// "Failed" keywords are those searched without a trusted outcome: given up (Error), suspect, or
// partial (CheckInfo::KeywordsFailed). A running check whose process is gone is interrupted:
// the ledger cannot see processes, so the caller says whether the folder's lock is free.
//
// Pure functions; any thread.
#pragma once

#include <string>

#include "ledger/ledger_types.h"

namespace rankcheck::ledger {

struct CheckStateWords {
    // One word for machines (CSV, JSON): "complete", "stopped", "interrupted", "failed",
    // "running".
    std::string name;
    // The words for people, as above.
    std::string text;
};

// `lockFree`: nothing holds the check's folder, so a running check was interrupted.
CheckStateWords StateWords(const CheckInfo& check, bool lockFree);

}  // namespace rankcheck::ledger
