// The text of `rankcheck report --changes`: for cron, which mails what a command prints, only
// what happened. Per engine whose check has something to tell: its line (check, date, state,
// the check it is compared with), the keyword and URL pairs that moved, the new and the lost
// ones, then apart, under "Could not be checked", those whose rank the check could not tell
// (given up, suspect) with the last trusted rank and its date: never a drop. A check that is not
// complete (stopped, failed, interrupted) is told even without a change. Nothing at all when
// nothing happened.
//
// Free functions without state; any thread.
#pragma once

#include <string>
#include <vector>

#include "host/report/rank_view.h"
#include "ledger/change_alerts.h"

namespace rankcheck {

struct EngineChanges {
    RankView::Engine engine;  // its check, the check it is compared with, its state in words
    ledger::ChangeAlerts alerts;
};

// Empty when no engine has an alert and every engine's check is complete.
std::string ChangesText(const std::vector<EngineChanges>& engines);

}  // namespace rankcheck
