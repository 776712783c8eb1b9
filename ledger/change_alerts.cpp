#include "ledger/change_alerts.h"

#include <cstdlib>
#include <string>

namespace rankcheck::ledger {

ChangeAlerts ChangesOf(const CheckReport& report, int minChange) {
    if (minChange < 1) minChange = 1;
    ChangeAlerts alerts;
    for (const ReportRow& row : report.rows) {
        if (row.status == RankStatus::Error || row.status == RankStatus::Suspect) {
            alerts.unchecked.push_back(row);
        } else if (row.change == "new") {
            alerts.fresh.push_back(row);
        } else if (row.change == "lost") {
            alerts.lost.push_back(row);
        } else if (!row.change.empty() && std::abs(std::stoi(row.change)) >= minChange) {
            alerts.moved.push_back(row);
        }
    }
    return alerts;
}

}  // namespace rankcheck::ledger
