#include "host/report/ledger_lists.h"

#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/report/rank_view.h"
#include "host/report/text_table.h"
#include "ledger/check_state_words.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using json = nlohmann::ordered_json;

std::vector<TextRow> HistoryCells(const std::vector<ledger::HistoryRow>& rows) {
    std::vector<TextRow> cells;
    for (const ledger::HistoryRow& row : rows) {
        cells.push_back({row.engine, std::to_string(row.checkId), row.checkedAt,
                         AnsiToUtf8(row.keyword), AnsiToUtf8(ShownUrl(row.url)),
                         row.rank ? std::to_string(*row.rank) : "", ledger::Name(row.status),
                         row.note});
    }
    return cells;
}

std::string HistoryJson(const std::vector<ledger::HistoryRow>& rows,
                        const std::vector<TextRow>& cells) {
    json doc = json::array();
    for (size_t r = 0; r < rows.size(); ++r) {
        json row;
        row["engine"] = rows[r].engine;
        row["check_id"] = rows[r].checkId;
        row["checked_at"] = rows[r].checkedAt;
        row["keyword"] = cells[r][3];
        row["url"] = cells[r][4];
        row["rank"] = rows[r].rank ? json(*rows[r].rank) : json(nullptr);
        row["status"] = cells[r][6];
        row["note"] = rows[r].note.empty() ? json(nullptr) : json(rows[r].note);
        doc.push_back(std::move(row));
    }
    return doc.dump(2) + "\n";
}

// Per check: the CSV cells, with the name of its state (`states`) in column 4.
std::vector<TextRow> CheckCells(const std::vector<ledger::CheckInfo>& checks,
                                const std::vector<ledger::CheckStateWords>& states) {
    std::vector<TextRow> cells;
    for (size_t i = 0; i < checks.size(); ++i) {
        const ledger::CheckInfo& c = checks[i];
        cells.push_back({std::to_string(c.id), c.engine, c.startedAt, c.endedAt.value_or(""),
                         states[i].name, std::to_string(c.keywordsDone),
                         std::to_string(c.keywordsGivenUp), std::to_string(c.keywordsTotal),
                         std::to_string(c.KeywordsFailed()), c.reason});
    }
    return cells;
}

std::string ChecksJson(const std::vector<ledger::CheckInfo>& checks,
                       const std::vector<ledger::CheckStateWords>& states) {
    json doc = json::array();
    for (size_t i = 0; i < checks.size(); ++i) {
        const ledger::CheckInfo& c = checks[i];
        doc.push_back({{"check_id", c.id},
                       {"engine", c.engine},
                       {"started_at", c.startedAt},
                       {"ended_at", c.endedAt ? json(*c.endedAt) : json(nullptr)},
                       {"state", states[i].name},
                       {"state_text", states[i].text},
                       {"reason", c.reason.empty() ? json(nullptr) : json(c.reason)},
                       {"imported", c.imported},
                       {"keywords_done", c.keywordsDone},
                       {"keywords_given_up", c.keywordsGivenUp},
                       {"keywords_failed", c.KeywordsFailed()},
                       {"keywords_total", c.keywordsTotal}});
    }
    return doc.dump(2) + "\n";
}

}  // namespace

std::string HistoryText(const std::vector<ledger::HistoryRow>& rows, const std::string& format,
                        int columns) {
    std::vector<TextRow> cells = HistoryCells(rows);
    if (format == "csv") {
        return CsvTable(
            {"engine", "check_id", "checked_at", "keyword", "url", "rank", "status", "note"},
            cells);
    }
    if (format == "json") return HistoryJson(rows, cells);
    if (rows.empty()) return "(no check matches)\n";
    for (size_t r = 0; r < cells.size(); ++r) {
        TextRow& row = cells[r];
        row = {row[0] + " " + row[1], row[2].substr(0, 10), row[3], row[4],
               StatusWords(rows[r].status, rows[r].rank) +
                   (row[7].empty() ? "" : " (" + row[7] + ")")};
    }
    return AlignedTable({"Check", "Date", "Keyword", "URL", "Rank"}, cells, {columns, {2, 4}});
}

std::string ChecksText(const std::vector<ledger::CheckInfo>& checks, const std::string& format,
                       const std::function<bool(const ledger::CheckInfo&)>& lockFree, int columns) {
    std::vector<ledger::CheckStateWords> states;
    for (const ledger::CheckInfo& c : checks)
        states.push_back(ledger::StateWords(c, lockFree(c)));
    std::vector<TextRow> cells = CheckCells(checks, states);
    if (format == "csv") {
        return CsvTable({"check_id", "engine", "started_at", "ended_at", "state", "keywords_done",
                         "keywords_given_up", "keywords_total", "keywords_failed", "reason"},
                        cells);
    }
    if (format == "json") return ChecksJson(checks, states);
    if (checks.empty()) return "(no check yet)\n";
    for (size_t i = 0; i < cells.size(); ++i) {
        TextRow& row = cells[i];
        const ledger::CheckInfo& c = checks[i];
        // The end as its time alone on the day the check began.
        const std::string ended = row[3].size() < 16 ? ""
                                  : row[3].compare(0, 10, row[2], 0, 10) == 0
                                      ? row[3].substr(11, 5)
                                      : row[3].substr(5, 5) + " " + row[3].substr(11, 5);
        std::string keywords = row[5] + "/" + row[7];
        if (c.keywordsGivenUp > 0) keywords += ", " + row[6] + " given up";
        row = {row[0], row[1],   ShortTime(row[2]).substr(0, 16),
               ended,  keywords, states[i].text + (c.imported ? " (imported)" : "")};
    }
    return AlignedTable({"Check", "Engine", "Started (UTC)", "Ended", "Keywords", "State"}, cells,
                        {columns, {4, 5}});
}

std::string UpstreamsText(const std::vector<CheckUpstreams>& checks, const std::string& format) {
    std::vector<TextRow> rows;
    nlohmann::ordered_json json = nlohmann::ordered_json::array();
    for (const CheckUpstreams& c : checks) {
        for (const ledger::UpstreamCounts& u : c.upstreams) {
            std::ostringstream median;
            median << std::fixed << std::setprecision(1) << u.medianMs;
            rows.push_back({std::to_string(c.check.id), c.check.engine, u.upstream,
                            std::to_string(u.requests), std::to_string(u.pages),
                            std::to_string(u.blocks), std::to_string(u.failures), median.str()});
            json.push_back({{"check_id", c.check.id},
                            {"engine", c.check.engine},
                            {"upstream", u.upstream},
                            {"requests", u.requests},
                            {"pages", u.pages},
                            {"blocks", u.blocks},
                            {"failures", u.failures},
                            {"median_ms", u.medianMs}});
        }
    }
    if (format == "csv") {
        return CsvTable({"check_id", "engine", "upstream", "requests", "pages", "blocks",
                         "failures", "median_ms"},
                        rows);
    }
    if (format == "json") return json.dump(2) + "\n";
    if (rows.empty()) return "(no check went through the gateway yet)\n";
    return AlignedTable(
        {"Check", "Engine", "Upstream", "Requests", "Pages", "Blocks", "Failures", "Median ms"},
        rows);
}

}  // namespace rankcheck
