// rankcheck report, history and checks: the commands that read a folder's check ledger.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "host/cli/commands.h"
#include "host/report/change_report.h"
#include "host/report/html/html_report.h"
#include "host/report/ledger_lists.h"
#include "host/report/ledger_urls.h"
#include "host/report/rank_view.h"
#include "host/report/report_formats.h"
#include "host/report/safe_text.h"
#include "host/report/shell_quote.h"
#include "host/report/text_table.h"
#include "host/run/folder_inputs.h"
#include "host/run/folder_lock.h"
#include "host/run/ledger_import.h"
#include "jobfiles/engine_table.h"
#include "ledger/change_alerts.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

// The ledger's options for the project folder `dir`: its checks are the folder's, also in a
// ledger shared with other folders (--db).
ledger::Ledger::Options ForFolder(const std::string& dir, bool readOnly) {
    ledger::Ledger::Options options;
    options.readOnly = readOnly;
    options.folder = dir;
    return options;
}

// Whether nothing holds the folder a check belongs to: a running check of it was interrupted.
std::function<bool(const ledger::CheckInfo&)> LockFree(const std::string& dir) {
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(fs::absolute(dir), ec);
    return [folder](const ledger::CheckInfo& check) {
        return FolderLock::HolderPid(check.folder ? fs::path(*check.folder) : folder) == 0;
    };
}

// A folder searched before it had a ledger: its result files imported into a new ledger at
// `path`, under the folder lock unless a run holds it (the run imports them then). Null when
// there was nothing to import; no file is left behind then.
std::unique_ptr<ledger::Ledger> ImportIntoNewLedger(const std::string& dir, const fs::path& path) {
    std::unique_ptr<FolderLock> lock;
    try {
        // Only a folder with result files has anything to import; any other is left as it is.
        if (HasResultFiles(dir)) lock = FolderLock::Acquire(dir);
    } catch (const LockError&) {
    }
    if (!lock) return nullptr;
    auto ledger = std::make_unique<ledger::Ledger>(path.string(), ForFolder(dir, false));
    const auto imported = ImportFolderOnce(*ledger, dir, FolderInputs::Read(dir));
    if (!imported.empty()) {
        std::cerr << "rankcheck: imported the result files of " << dir << " into " << path.string()
                  << " as " << imported.size() << (imported.size() == 1 ? " check\n" : " checks\n");
        return ledger;
    }
    ledger.reset();
    std::error_code ec;
    fs::remove(path, ec);
    for (const char* suffix : {"-wal", "-shm"})
        fs::remove(path.string() + suffix, ec);
    return nullptr;
}

// The ledger of a folder for a reading command. A folder searched before it had a ledger is
// imported first. Raises with a message for the user when there is nothing to read.
std::unique_ptr<ledger::Ledger> OpenForReading(const LedgerOptions& options) {
    const std::string& dir = options.dir;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw std::runtime_error(dir + ": no such folder");
    const fs::path path = options.db.empty() ? fs::path(dir) / ledger::Ledger::kDefaultFileName
                                             : fs::path(options.db);
    if (!fs::exists(path, ec)) {
        if (auto imported = ImportIntoNewLedger(dir, path)) return imported;
        throw std::runtime_error(path.string() + " does not exist: no check has been recorded in " +
                                 dir + " yet (rankcheck run all --dir " + ShellQuote(dir) +
                                 " makes the first)");
    }
    return std::make_unique<ledger::Ledger>(path.string(), ForFolder(dir, true));
}

// Writes `text` to standard output or to the output file.
ExitStatus Deliver(const std::string& text, const OutputOptions& out, const std::string& what) {
    if (out.output.empty()) {
        std::cout << text << std::flush;
        return ExitStatus::Success;
    }
    std::ofstream file(out.output, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "rankcheck: " << out.output << ": cannot be written: " << std::strerror(errno)
                  << '\n';
        return ExitStatus::Refused;
    }
    std::cerr << "rankcheck: " << out.format << " " << what << " written to "
              << fs::absolute(out.output).string() << '\n';
    return ExitStatus::Success;
}

ExitStatus Refuse(const std::exception& e) {
    std::cerr << "rankcheck: " << e.what() << '\n';
    return ExitStatus::Refused;
}

std::string ReportText(const RankView& view, const std::optional<ReportHistory>& history,
                       const ReportCommandOptions& options) {
    std::ostringstream text;
    const std::string& format = options.out.format;
    if (format == "csv") {
        WriteCsv(view, text);
    } else if (format == "json") {
        WriteJson(view, text);
    } else if (format == "html") {
        std::error_code ec;
        const fs::path folder = fs::weakly_canonical(fs::absolute(options.ledger.dir), ec);
        // Only a check recorded as running needs to know whether a run still holds the folder.
        bool lockFree = false;
        for (const RankView::Engine& engine : view.Engines())
            if (engine.check && engine.check->state == ledger::CheckState::Running)
                lockFree = FolderLock::HolderPid(options.ledger.dir) == 0;
        WriteHtml(view, *history, text, folder.string(), lockFree);
    } else {
        WriteTable(view, text, OutputColumns(STDOUT_FILENO));
    }
    return text.str();
}

// `report --changes`: each engine's check (of those asked for) against the one it is compared
// with, told only where something happened.
std::string ChangesReport(ledger::Ledger& ledger, const RankViewRequest& request, int minChange) {
    std::vector<EngineChanges> engines;
    for (const ShownCheck& shown : ShownChecks(ledger, request)) {
        if (!shown.check) continue;
        ledger::ReportOptions options;
        options.mode = request.exactMatch ? ledger::RankMode::Exact : ledger::RankMode::Contains;
        options.top = request.top;
        options.compareWith = shown.compareWith;
        const ledger::CheckReport report = ledger.Report(shown.check->id, options);
        EngineChanges& e = engines.emplace_back();
        e.engine = {shown.check->engine, report.check, report.compared,
                    ledger::StateWords(report.check, request.lockFree(report.check))};
        e.alerts = ledger::ChangesOf(report, minChange);
    }
    return ChangesText(engines);
}

// The checks of --check or --compare: "12" (the check's own engine) or "quillon=12"; false
// (the reason printed, naming the value) when one is neither.
bool ParsePicks(const std::vector<std::string>& values, const char* option,
                std::vector<CheckPick>& picks) {
    for (const std::string& value : values) {
        const size_t equals = value.find('=');
        const std::string engine = equals == std::string::npos ? "" : value.substr(0, equals);
        const std::string id = equals == std::string::npos ? value : value.substr(equals + 1);
        const bool digits = !id.empty() && id.size() <= 18 &&
                            id.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoll(id) == 0 || (equals != std::string::npos && engine.empty())) {
            std::cerr << "rankcheck: " << option << " " << TerminalText(value)
                      << ": give a check id (rankcheck checks lists them) or ENGINE=ID, for "
                         "instance "
                      << option << " quillon=12\n";
            return false;
        }
        picks.push_back(
            {engine.empty() ? "" : jobfiles::EngineDisplayName(engine), std::stoll(id)});
    }
    return true;
}

// --at DATE; false (the reason printed) when it is not a date.
bool CheckDate(const std::string& at) {
    if (at.empty() || IsCalendarDate(at)) return true;
    std::cerr << "rankcheck: --at " << TerminalText(at)
              << ": give a day as YYYY-MM-DD, for instance --at 2026-12-06\n";
    return false;
}

}  // namespace

ExitStatus ReportCommand(const ReportCommandOptions& options) {
    if (options.changes && options.out.format != "table") {
        std::cerr << "rankcheck: --changes prints text for people (and cron's mail); it has no "
                     "--format "
                  << options.out.format << '\n';
        return ExitStatus::Refused;
    }
    RankViewRequest request;
    request.engines.clear();
    for (const std::string& engine : options.engines)
        request.engines.push_back(jobfiles::EngineDisplayName(engine));
    request.exactMatch = options.exactMatch;
    request.top = options.top;
    if (!ParsePicks(options.check, "--check", request.checks) ||
        !ParsePicks(options.compare, "--compare", request.compare) || !CheckDate(options.at))
        return ExitStatus::Refused;
    request.at = options.at;
    request.lockFree = LockFree(options.ledger.dir);
    std::optional<RankView> view;
    std::optional<ReportHistory> history;
    try {
        auto ledger = OpenForReading(options.ledger);
        if (options.changes) {
            const std::string text = ChangesReport(*ledger, request, options.minChange);
            // Nothing happened: nothing at all, not even an empty output file.
            if (text.empty()) return ExitStatus::Success;
            return Deliver(text, options.out, "list of changes");
        }
        view = RankView::Build(*ledger, request);
        if (options.out.format == "html") history = ReportHistory::Build(*ledger, *view);
    } catch (const std::exception& e) {
        return Refuse(e);
    }
    return Deliver(ReportText(*view, history, options), options.out, "report");
}

ExitStatus HistoryCommand(const HistoryCommandOptions& options) {
    ledger::HistoryFilter filter;
    if (!options.engine.empty()) filter.engine = jobfiles::EngineDisplayName(options.engine);
    if (!options.keyword.empty()) filter.keyword = options.keyword;
    if (!options.url.empty()) filter.url = LedgerUrls({options.url}).front().Key();
    filter.mode = options.exactMatch ? ledger::RankMode::Exact : ledger::RankMode::Contains;
    if (!CheckDate(options.at)) return ExitStatus::Refused;
    std::vector<ledger::HistoryRow> rows;
    try {
        rows = OpenForReading(options.ledger)->History(filter);
    } catch (const std::exception& e) {
        return Refuse(e);
    }
    if (!options.at.empty()) {
        std::erase_if(rows, [&](const ledger::HistoryRow& row) {
            return row.checkedAt.substr(0, 10) > options.at;
        });
    }
    return Deliver(HistoryText(rows, options.out.format, OutputColumns(STDOUT_FILENO)), options.out,
                   "history");
}

ExitStatus ChecksCommand(const ChecksCommandOptions& options) {
    std::vector<ledger::CheckInfo> checks;
    try {
        auto ledger = OpenForReading(options.ledger);
        checks = ledger->Checks();
        if (options.upstreams) {
            std::vector<CheckUpstreams> rows;
            for (const ledger::CheckInfo& check : checks)
                rows.push_back({check, ledger->Upstreams(check.id)});
            return Deliver(UpstreamsText(rows, options.out.format), options.out,
                           "list of upstreams");
        }
    } catch (const std::exception& e) {
        return Refuse(e);
    }
    return Deliver(ChecksText(checks, options.out.format, LockFree(options.ledger.dir),
                              OutputColumns(STDOUT_FILENO)),
                   options.out, "list of checks");
}

}  // namespace rankcheck
