#include "host/report/change_report.h"

#include "host/report/report_formats.h"
#include "host/report/text_table.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using ledger::ReportRow;

std::string Rank(const std::optional<int>& rank) {
    return rank ? std::to_string(*rank) : "-";
}

// The side a change was measured against: its rank, "-" (not found) or "not searched".
std::string Before(const ReportRow& row) {
    if (row.previousStatus == ledger::RankStatus::NotSearched) return "not searched";
    return Rank(row.previousRank);
}

std::string ChangeWord(const ReportRow& row) {
    if (row.change == "new" || row.change == "lost") return row.change;
    const int change = std::stoi(row.change);
    return (change > 0 ? "\u25B2" : "\u25BC") + std::to_string(change > 0 ? change : -change);
}

TextRow Cells(const ReportRow& row) {
    return {AnsiToUtf8(row.keyword), ShownUrl(AnsiToUtf8(row.url))};
}

std::string ChangesTable(const ledger::ChangeAlerts& alerts) {
    std::vector<TextRow> rows;
    for (const auto* group : {&alerts.moved, &alerts.fresh, &alerts.lost}) {
        for (const ReportRow& row : *group) {
            TextRow cells{ChangeWord(row)};
            for (std::string& cell : Cells(row))
                cells.push_back(std::move(cell));
            cells.push_back(Rank(row.rank));
            cells.push_back(Before(row));
            rows.push_back(std::move(cells));
        }
    }
    if (rows.empty()) return "";
    return AlignedTable({"Change", "Keyword", "URL", "Now", "Before"}, rows);
}

std::string UncheckedTable(const std::vector<ReportRow>& unchecked) {
    std::vector<TextRow> rows;
    for (const ReportRow& row : unchecked) {
        TextRow cells = Cells(row);
        std::string why = ledger::Name(row.status);
        if (!row.note.empty()) why += ": " + row.note;
        cells.push_back(why);
        cells.push_back(row.lastKnownAt
                            ? Rank(row.lastKnownRank) + " on " + ledger::DateOf(*row.lastKnownAt)
                            : "none");
        rows.push_back(std::move(cells));
    }
    return AlignedTable({"Keyword", "URL", "Why", "Last trusted"}, rows);
}

}  // namespace

std::string ChangesText(const std::vector<EngineChanges>& engines) {
    std::string text;
    for (const EngineChanges& e : engines) {
        const bool unfinished =
            e.engine.check && e.engine.check->state != ledger::CheckState::Complete;
        if (e.alerts.Empty() && !unfinished) continue;
        if (!text.empty()) text += '\n';
        text += CheckLine(e.engine) + '\n';
        const std::string changes = ChangesTable(e.alerts);
        if (!changes.empty()) text += '\n' + changes;
        if (!e.alerts.unchecked.empty()) {
            text +=
                "\nCould not be checked (never counted as a change; `rankcheck run ENGINE "
                "--recheck` searches them again):\n" +
                UncheckedTable(e.alerts.unchecked);
        }
    }
    return text;
}

}  // namespace rankcheck
