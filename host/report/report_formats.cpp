#include "host/report/report_formats.h"

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "host/report/safe_text.h"
#include "host/report/text_table.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using json = nlohmann::ordered_json;
using ledger::RankStatus;
using ledger::ReportRow;

int MaxResults(const RankView::Engine& engine) {
    return engine.check ? engine.check->options.maxResults : 0;
}

// One record per keyword, URL and engine, in row order, as CSV and JSON give them.
struct Record {
    const RankView::Row* row;
    const RankView::Engine* engine;
    const std::optional<ReportRow>* cell;
};

std::vector<Record> Records(const RankView& view) {
    std::vector<Record> records;
    for (const RankView::Row& row : view.Rows()) {
        for (size_t e = 0; e < view.Engines().size(); ++e)
            records.push_back({&row, &view.Engines()[e], &row.cells[e]});
    }
    return records;
}

const char* StatusOf(const std::optional<ReportRow>& cell) {
    return cell ? ledger::Name(cell->status) : ledger::Name(RankStatus::NotSearched);
}

// JSON's change: a number of places (previous - rank), "new", "lost", or null.
// JSON's change is the number of places moved (up positive), or null where there is none to
// give: nothing compared, or a new or lost pair, which change_text says as the CSV does.
json ChangeJson(const std::optional<ReportRow>& cell) {
    if (!cell || cell->change.empty()) return nullptr;
    if (cell->change == "new" || cell->change == "lost") return nullptr;
    return std::stoi(cell->change);
}

// A keyword's line, by keyword and engine, as the notes below the table name it.
std::string KeywordOn(const RankView::Row& row, const RankView::Engine& engine) {
    return engine.name + ", \"" + TerminalText(AnsiToUtf8(row.keyword)) + "\"";
}

// Below the table: where a keyword was compared with another check than its engine's line
// names, and why each suspect keyword is suspect. Each keyword once per engine.
void WriteNotes(const RankView& view, std::ostream& out, int columns) {
    std::vector<std::string> compared, suspect;
    std::set<std::pair<size_t, std::string>> seen;
    for (const RankView::Row& row : view.Rows()) {
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            const std::optional<ReportRow>& cell = row.cells[e];
            const RankView::Engine& engine = view.Engines()[e];
            if (!cell || !seen.insert({e, row.keyword}).second) continue;
            if (cell->comparedCheck && engine.compared &&
                *cell->comparedCheck != engine.compared->id) {
                compared.push_back(KeywordOn(row, engine) + ": check " +
                                   std::to_string(*cell->comparedCheck) + " of " +
                                   ShortTime(cell->comparedAt.value_or("")));
            }
            if (cell->status == RankStatus::Suspect) {
                suspect.push_back(KeywordOn(row, engine) + ": " + cell->note);
            }
        }
    }
    const auto list = [&](const std::string& title, const std::vector<std::string>& lines) {
        if (lines.empty()) return;
        out << '\n' << WrapText(title, columns) << '\n';
        for (const std::string& line : lines)
            out << WrapText("  " + line, columns, 4) << '\n';
    };
    list(
        "Compared with another check (the engine's compared check could not be trusted for it, "
        "or examined it less deep):",
        compared);
    list(
        "Suspect (the engine's results ended early, as a block or captcha page looks; "
        "`rankcheck run ENGINE --recheck` searches them again):",
        suspect);
}

// An engine's check line fitted to `columns`: wrapped before the check it is compared with.
std::string CheckLines(const std::string& line, int columns) {
    const size_t compared = line.rfind("; ");
    if (DisplayWidth(line) <= static_cast<size_t>(columns) || compared == std::string::npos)
        return WrapText(line, columns, 2);
    return WrapText(line.substr(0, compared + 1), columns, 2) + "\n" +
           WrapText("  " + line.substr(compared + 2), columns, 4);
}

// What the table's cells and marks mean, each paragraph wrapped to `columns`.
void WriteLegend(const RankViewRequest& request, std::ostream& out, int columns) {
    std::string numbers = "Numbers are positions (1 = first result)";
    if (request.top > 0) numbers += ", counted up to " + std::to_string(request.top);
    numbers += std::string("; URLs match ") +
               (request.exactMatch ? "the whole link" : "inside a link") +
               ", with or without http:// or https://, ignoring case.";
    const std::string paragraphs[] = {
        numbers,
        "\u25B23 / \u25BC2: moved up 3 / down 2 places since the compared check; new: not found "
        "there; lost: not found now.",
        "-: not found, and every position requested was examined (or the engine's results ended "
        "where they ended on the last trusted check).",
        "beyond 20: not among the 20 positions this check examined, fewer than the check it is "
        "compared with.",
        "err: error, the engine gave the keyword up. susp: suspect, the engine's results ended "
        "early (no result on page 1, or fewer positions than requested and than last time), as a "
        "block page looks. (7, 12-06) after err or susp: the last trusted rank, 7, and its date "
        "(month-day).",
        "part (30/100): partial, the run stopped with the keyword under way, 30 of 100 positions "
        "examined.",
        "not searched: the check did not reach the keyword. beyond, susp, err, part and not "
        "searched are never counted as a move, new or lost.",
    };
    for (const std::string& paragraph : paragraphs)
        out << WrapText(paragraph, columns, 3) << '\n';
}

}  // namespace

std::string CheckLine(const RankView::Engine& engine) {
    if (!engine.check) return engine.name + ": no check yet";
    const ledger::CheckInfo& check = *engine.check;
    std::string line = engine.name + ": check " + std::to_string(check.id) + ", " +
                       ShortTime(check.startedAt) + ", " + engine.state.text;
    if (check.imported) line += " (imported from the result files)";
    if (engine.compared) {
        line += "; compared with check " + std::to_string(engine.compared->id) + " of " +
                ShortTime(engine.compared->startedAt);
    } else {
        line += "; no earlier trusted check to compare with";
    }
    return TerminalMessage(line);
}

void WriteTable(const RankView& view, std::ostream& out, int columns) {
    for (const RankView::Engine& engine : view.Engines()) {
        const std::string line = engine.check || view.Request().at.empty()
                                     ? CheckLine(engine)
                                     : engine.name + ": no check on or before " + view.Request().at;
        out << CheckLines(line, columns) << '\n';
    }
    out << '\n';

    std::vector<std::string> header{"Keyword", "URL"};
    for (const RankView::Engine& engine : view.Engines())
        header.push_back(engine.name);
    std::vector<std::vector<std::string>> rows;
    const std::string* previousKeyword = nullptr;
    for (const RankView::Row& row : view.Rows()) {
        // The keyword is shown on its first row only, so that its URLs read as a group.
        const bool first = previousKeyword == nullptr || *previousKeyword != row.keyword;
        previousKeyword = &row.keyword;
        std::vector<std::string> cells{first ? AnsiToUtf8(row.keyword) : "", AnsiToUtf8(row.url)};
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            const RankView::Engine& engine = view.Engines()[e];
            std::string text = ShortCellText(row.cells[e], MaxResults(engine),
                                             engine.check ? engine.check->startedAt : "");
            const std::string mark = ChangeMark(row.cells[e]);
            if (!mark.empty()) text += " " + mark;
            cells.push_back(std::move(text));
        }
        rows.push_back(std::move(cells));
    }

    out << AlignedTable(header, rows, {columns, {0}});
    if (rows.empty()) out << "(no check holds a keyword and a URL yet)\n";
    WriteNotes(view, out, columns);
    out << '\n';
    WriteLegend(view.Request(), out, columns);
}

void WriteCsv(const RankView& view, std::ostream& out) {
    out << "keyword,url,engine,rank,status,previous_rank,change,check_id,checked_at,note\r\n";
    // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict) on "," + a temporary.
    for (const Record& r : Records(view)) {
        const std::optional<ReportRow>& cell = *r.cell;
        std::string line = CsvField(AnsiToUtf8(r.row->keyword));
        line += ',';
        line += CsvField(AnsiToUtf8(r.row->url));
        line += ',';
        line += CsvField(r.engine->name);
        line += ',';
        if (cell && cell->rank) line += std::to_string(*cell->rank);
        line += ',';
        line += StatusOf(cell);
        line += ',';
        if (cell && cell->previousRank) line += std::to_string(*cell->previousRank);
        line += ',';
        if (cell) line += CsvField(cell->change);
        line += ',';
        if (r.engine->check) {
            line += std::to_string(r.engine->check->id);
            line += ',';
            line += r.engine->check->startedAt;
        } else {
            line += ',';
        }
        line += ',';
        if (cell) line += CsvField(cell->note);
        out << line << "\r\n";
    }
}

void WriteJson(const RankView& view, std::ostream& out) {
    auto checkJson = [](const std::optional<ledger::CheckInfo>& check,
                        const ledger::CheckStateWords* state) -> json {
        if (!check) return nullptr;
        json doc = {{"check_id", check->id},
                    {"engine", check->engine},
                    {"started_at", check->startedAt},
                    {"ended_at", check->endedAt ? json(*check->endedAt) : json(nullptr)},
                    {"state", state ? state->name : std::string(ledger::Name(check->state))},
                    {"imported", check->imported},
                    {"max_results", check->options.maxResults},
                    {"keywords_total", check->keywordsTotal},
                    {"keywords_done", check->keywordsDone},
                    {"keywords_given_up", check->keywordsGivenUp}};
        if (state) {
            doc["state_text"] = state->text;
            doc["reason"] = check->reason.empty() ? json(nullptr) : json(check->reason);
            doc["keywords_failed"] = check->KeywordsFailed();
            doc["keywords_suspect"] = check->keywordsSuspect;
        }
        return doc;
    };
    json doc;
    doc["exact_match"] = view.Request().exactMatch;
    doc["top"] = view.Request().top > 0 ? json(view.Request().top) : json(nullptr);
    doc["engines"] = json::array();
    for (const RankView::Engine& engine : view.Engines()) {
        doc["engines"].push_back({{"engine", engine.name},
                                  {"check", checkJson(engine.check, &engine.state)},
                                  {"compared", checkJson(engine.compared, nullptr)}});
    }
    doc["rows"] = json::array();
    for (const Record& r : Records(view)) {
        const std::optional<ReportRow>& cell = *r.cell;
        json row;
        row["keyword"] = AnsiToUtf8(r.row->keyword);
        row["url"] = AnsiToUtf8(r.row->url);
        row["engine"] = r.engine->name;
        row["rank"] = cell && cell->rank ? json(*cell->rank) : json(nullptr);
        row["status"] = StatusOf(cell);
        row["previous_rank"] =
            cell && cell->previousRank ? json(*cell->previousRank) : json(nullptr);
        row["change"] = ChangeJson(cell);
        row["change_text"] = cell && !cell->change.empty() ? json(cell->change) : json(nullptr);
        row["check_id"] = r.engine->check ? json(r.engine->check->id) : json(nullptr);
        row["checked_at"] = r.engine->check ? json(r.engine->check->startedAt) : json(nullptr);
        row["note"] = cell && !cell->note.empty() ? json(cell->note) : json(nullptr);
        row["positions_examined"] = cell ? cell->positionsExamined : 0;
        row["compared_check_id"] =
            cell && cell->comparedCheck ? json(*cell->comparedCheck) : json(nullptr);
        if (cell && cell->lastKnownAt) {
            row["last_known_rank"] =
                cell->lastKnownRank ? json(*cell->lastKnownRank) : json(nullptr);
            row["last_known_at"] = *cell->lastKnownAt;
        }
        doc["rows"].push_back(std::move(row));
    }
    out << doc.dump(2) << '\n';
}

}  // namespace rankcheck
