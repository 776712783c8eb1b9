// What `rankcheck report --changes [--min-change N]` tells: from one check's report, the pairs
// of keyword and URL that moved by N places or more, the new and the lost ones, and, apart and
// never as a change, those whose rank the check could not tell (given up or suspect) with their
// last trusted rank. Nothing at all when nothing changed and every rank could be told, so that a
// scheduled check mails only when something happened.
//
// Built from a CheckReport, whose change column already compares like with like; plain values
// afterwards, any thread.
#pragma once

#include <vector>

#include "ledger/ledger_types.h"

namespace rankcheck::ledger {

struct ChangeAlerts {
    std::vector<ReportRow> moved;      // ranked on both sides, by `minChange` places or more
    std::vector<ReportRow> fresh;      // change "new"
    std::vector<ReportRow> lost;       // change "lost"
    std::vector<ReportRow> unchecked;  // Error or Suspect: lastKnown* is the last trusted rank

    bool Empty() const {
        return moved.empty() && fresh.empty() && lost.empty() && unchecked.empty();
    }
};

// Rows keep the report's order (keyword index, then URL index). `minChange` below 1 counts as 1.
ChangeAlerts ChangesOf(const CheckReport& report, int minChange = 1);

}  // namespace rankcheck::ledger
