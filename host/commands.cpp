#include "host/commands.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "host/check_recorder.h"
#include "host/folder_lock.h"
#include "host/html_report.h"
#include "host/ledger_import.h"
#include "host/rank_view.h"
#include "host/report_formats.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace fs = std::filesystem;


std::string ShellQuote(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               "_-./:=@+,") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string EngineName(const std::string& word) {
    std::string lower;
    for (const char c : word)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "quillon") return "Quillon";
    if (lower == "verrin") return "Verrin";
    std::string name = word;
    if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

namespace {

// Whether `dir` holds a result file of either engine (<Engine>-<i>.urls).
bool HasResultFiles(const std::string& dir) {
    static const std::regex name(R"((Quillon|Verrin)-[0-9]+\.urls)");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (std::regex_match(entry.path().filename().string(), name)) return true;
    }
    return false;
}

// The ledger of a folder for a reading command. A folder searched before it had a ledger is
// imported first, under the folder lock, unless a run holds it (the run imports it then).
// Raises with a message for the user when there is nothing to read.
std::unique_ptr<ledger::Ledger> OpenForReading(const std::string& dir, const std::string& db) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw std::runtime_error(dir + ": no such folder");
    const fs::path path =
        db.empty() ? fs::path(dir) / ledger::Ledger::kDefaultFileName : fs::path(db);
    if (!fs::exists(path, ec)) {
        std::unique_ptr<FolderLock> lock;
        try {
            // Only a folder with result files has anything to import; any other is left as it is.
            if (HasResultFiles(dir)) lock = FolderLock::Acquire(dir);
        } catch (const LockError&) {
        }
        const fs::path here = fs::current_path(ec);
        if (lock && chdir(dir.c_str()) == 0) {
            auto ledger = std::make_unique<ledger::Ledger>(fs::absolute(here / path).string());
            const auto imported = ImportFolderOnce(*ledger, {"Quillon", "Verrin"});
            fs::current_path(here, ec);
            if (!imported.empty()) {
                std::cerr << "rankcheck: imported the result files of " << dir << " into "
                          << path.string() << " as " << imported.size()
                          << (imported.size() == 1 ? " check\n" : " checks\n");
                return ledger;
            }
            ledger.reset();
            fs::remove(path, ec);
            for (const char* suffix : {"-wal", "-shm"})
                fs::remove(path.string() + suffix, ec);
        }
        throw std::runtime_error(path.string() + " does not exist: no check has been recorded in " +
                                 dir + " yet (rankcheck run all --dir " + ShellQuote(dir) +
                                 " makes the first)");
    }
    ledger::Ledger::Options options;
    options.readOnly = true;
    return std::make_unique<ledger::Ledger>(path.string(), options);
}

// Writes `text` to standard output or to `output`; the exit status.
int Deliver(const std::string& text, const std::string& output, const std::string& what) {
    if (output.empty()) {
        std::cout << text << std::flush;
        return 0;
    }
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "rankcheck: " << output << ": cannot be written: " << std::strerror(errno)
                  << '\n';
        return 2;
    }
    std::cerr << "rankcheck: " << what << " written to " << fs::absolute(output).string() << '\n';
    return 0;
}

// An aligned table of `rows` under `header`.
std::string AlignedTable(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows) {
    auto width = [](const std::string& text) {
        return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    };
    std::vector<size_t> widths(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = width(header[c]);
        for (const auto& row : rows)
            widths[c] = std::max(widths[c], width(row[c]));
    }
    std::string text;
    auto line = [&](const std::vector<std::string>& row) {
        std::string out;
        for (size_t c = 0; c < row.size(); ++c)
            out += (c == 0 ? "" : "  ") + row[c] + std::string(widths[c] - width(row[c]), ' ');
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + "\n";
    };
    line(header);
    std::vector<std::string> rule;
    for (size_t w : widths)
        rule.push_back(std::string(w, '-'));
    line(rule);
    for (const auto& row : rows)
        line(row);
    return text;
}

// Rows of strings as CSV (CR LF) or as a JSON array of objects named by `header`.
std::string CsvText(const std::vector<std::string>& header,
                    const std::vector<std::vector<std::string>>& rows) {
    std::string text;
    for (size_t c = 0; c < header.size(); ++c) {
        if (c != 0) text += ',';
        text += header[c];
    }
    text += "\r\n";
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c != 0) text += ',';
            text += CsvField(row[c]);
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace

int ReportCommand(const ReportCommandOptions& options) {
    RankViewRequest request;
    request.engines.clear();
    for (const std::string& engine : options.engines)
        request.engines.push_back(EngineName(engine));
    request.exactMatch = options.exactMatch;
    request.top = options.top;
    if (options.check > 0) request.check = options.check;
    if (options.compare > 0) request.compare = options.compare;
    std::optional<RankView> view;
    std::optional<ReportHistory> history;
    try {
        auto ledger = OpenForReading(options.dir, options.db);
        view = RankView::Build(*ledger, request);
        if (options.format == "html") history = ReportHistory::Build(*ledger, *view);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }

    std::ostringstream text;
    if (options.format == "csv") {
        WriteCsv(*view, text);
    } else if (options.format == "json") {
        WriteJson(*view, text);
    } else if (options.format == "html") {
        std::error_code ec;
        const fs::path folder = fs::weakly_canonical(fs::absolute(options.dir), ec);
        WriteHtml(*view, *history, text, folder.string());
    } else {
        WriteTable(*view, text);
    }
    return Deliver(text.str(), options.output, options.format + " report");
}

int HistoryCommand(const HistoryCommandOptions& options) {
    ledger::HistoryFilter filter;
    if (!options.engine.empty()) filter.engine = EngineName(options.engine);
    if (!options.keyword.empty()) filter.keyword = options.keyword;
    if (!options.url.empty()) {
        filter.url = LedgerUrls({options.url}).front().Key();
    }
    filter.mode = options.exactMatch ? ledger::RankMode::Exact : ledger::RankMode::Contains;
    std::vector<ledger::HistoryRow> rows;
    try {
        auto ledger = OpenForReading(options.dir, options.db);
        rows = ledger->History(filter);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }
    const std::vector<std::string> header{"engine", "check_id", "checked_at", "keyword",
                                          "url",    "rank",     "status"};
    std::vector<std::vector<std::string>> cells;
    for (const ledger::HistoryRow& row : rows) {
        cells.push_back({row.engine, std::to_string(row.checkId), row.checkedAt,
                         AnsiToUtf8(row.keyword), AnsiToUtf8(row.url),
                         row.rank ? std::to_string(*row.rank) : "", ledger::Name(row.status)});
    }
    std::string text;
    if (options.format == "csv") {
        text = CsvText(header, cells);
    } else if (options.format == "json") {
        nlohmann::ordered_json doc = nlohmann::ordered_json::array();
        for (size_t r = 0; r < rows.size(); ++r) {
            nlohmann::ordered_json row;
            row["engine"] = rows[r].engine;
            row["check_id"] = rows[r].checkId;
            row["checked_at"] = rows[r].checkedAt;
            row["keyword"] = cells[r][3];
            row["url"] = cells[r][4];
            row["rank"] = rows[r].rank ? nlohmann::ordered_json(*rows[r].rank)
                                       : nlohmann::ordered_json(nullptr);
            row["status"] = cells[r][6];
            doc.push_back(std::move(row));
        }
        text = doc.dump(2) + "\n";
    } else {
        for (auto& row : cells) {
            row[2] = ShortTime(row[2]);
            if (row[5].empty()) row[5] = row[6] == "not_found" ? "-" : row[6];
            row.pop_back();
        }
        text = rows.empty() ? "(no check matches)\n"
                            : AlignedTable({"Engine", "Check", "Date", "Keyword", "URL", "Rank"},
                                           cells);
    }
    return Deliver(text, options.output, options.format + " history");
}

int ChecksCommand(const ChecksCommandOptions& options) {
    std::vector<ledger::CheckInfo> checks;
    try {
        auto ledger = OpenForReading(options.dir, options.db);
        checks = ledger->Checks();
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }
    const std::vector<std::string> header{"check_id", "engine",     "started_at",     "ended_at",
                                          "state",    "keywords_done", "keywords_given_up",
                                          "keywords_total"};
    std::vector<std::vector<std::string>> cells;
    for (const ledger::CheckInfo& c : checks) {
        std::string state = ledger::Name(c.state);
        if (c.imported) state += " (imported)";
        cells.push_back({std::to_string(c.id), c.engine, c.startedAt, c.endedAt.value_or(""),
                         state, std::to_string(c.keywordsDone), std::to_string(c.keywordsGivenUp),
                         std::to_string(c.keywordsTotal)});
    }
    std::string text;
    if (options.format == "csv") {
        for (auto& row : cells)
            row[4] = row[4].substr(0, row[4].find(' '));
        text = CsvText(header, cells);
    } else if (options.format == "json") {
        nlohmann::ordered_json doc = nlohmann::ordered_json::array();
        for (const ledger::CheckInfo& c : checks) {
            doc.push_back({{"check_id", c.id},
                           {"engine", c.engine},
                           {"started_at", c.startedAt},
                           {"ended_at", c.endedAt ? nlohmann::ordered_json(*c.endedAt)
                                                  : nlohmann::ordered_json(nullptr)},
                           {"state", ledger::Name(c.state)},
                           {"imported", c.imported},
                           {"keywords_done", c.keywordsDone},
                           {"keywords_given_up", c.keywordsGivenUp},
                           {"keywords_total", c.keywordsTotal}});
        }
        text = doc.dump(2) + "\n";
    } else {
        for (auto& row : cells) {
            row[2] = ShortTime(row[2]);
            row[3] = row[3].empty() ? "" : ShortTime(row[3]);
            row[5] = row[5] + " / " + row[6] + " / " + row[7];
            row.resize(6);
        }
        text = checks.empty() ? "(no check yet)\n"
                              : AlignedTable({"Check", "Engine", "Started", "Ended", "State",
                                              "Done / given up / total"},
                                             cells);
    }
    return Deliver(text, options.output, options.format + " list of checks");
}

}  // namespace rankcheck
