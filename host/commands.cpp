#include "host/commands.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "host/html_report.h"
#include "host/input_checks.h"
#include "host/preflight.h"
#include "host/plugin_library.h"
#include "host/progress_display.h"
#include "host/rank_report.h"
#include "host/report_formats.h"
#include "host/stop_signal.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace fs = std::filesystem;

constexpr int kPreflightMs = 5000;

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

// The command line that runs `engine` again with the user's settings.
std::string RunCommandLine(const RunCommandOptions& options, const std::string& engine,
                           bool resume) {
    std::string line = ShellQuote(options.program) + " run " + ShellQuote(engine);
    if (options.dir != ".") line += " --dir " + ShellQuote(options.dir);
    if (!options.pluginDir.empty()) line += " --plugin-dir " + ShellQuote(options.pluginDir);
    if (options.settings.maxResults != RunSettings{}.maxResults) {
        line += " --max-results " + std::to_string(options.settings.maxResults);
    }
    if (options.settings.stopWhenAllFound) line += " --stop-when-all-found";
    if (options.settings.exactMatch) line += " --exact-match";
    if (resume) line += " --resume";
    return line;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool StopWanted() {
    return StopSignal::Count() > 0;
}

// The keywords for the progress display; the plug-in itself reports a file it cannot read.
std::vector<std::string> KeywordsForDisplay() {
    TStringList keywords;
    try {
        keywords.LoadFromFile("keywords.lst");
    } catch (const Exception&) {
        return {};
    }
    return keywords.Lines();
}

// The keyword a resumed run starts on, from the engine's progress file (0 when unreadable).
int SavedKeywordIndex(const std::string& engine) {
    try {
        return jobfiles::ProgressRecord::Load(jobfiles::ProgressFileName(engine)).keywordIndex;
    } catch (const Exception&) {
        return 0;
    }
}

// What a run needs before anything starts, in the job folder: proxy.def readable and its first
// hop reachable, saved progress when resuming. Prints why not and returns 2; warnings about the
// keywords and URLs are printed and the run goes on (0). Nothing in the folder changes here.
int CheckBeforeRun(const RunCommandOptions& options, const std::vector<PluginRef>& plugins) {
    jobfiles::ProxySettings proxy;
    try {
        proxy = jobfiles::ProxySettings::Load();
    } catch (const EFOpenError& e) {
        std::cerr << "rankcheck: " << e.what()
                  << "; proxy.def says how the engines are reached: a single line 0 for a direct "
                     "connection (`" << ShellQuote(options.program)
                  << " init` writes one with the other input files)\n";
        return 2;
    } catch (const Exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }
    if (options.settings.resume) {
        for (const PluginRef& plugin : plugins) {
            const std::string progress = jobfiles::ProgressFileName(plugin.engine);
            std::error_code ec;
            if (!fs::exists(progress, ec)) {
                std::cerr << "rankcheck: there is nothing to resume on " << plugin.engine << " (no "
                          << progress << " in " << fs::current_path(ec).string()
                          << "); to start afresh: "
                          << RunCommandLine(options, options.engine, false) << '\n';
                return 2;
            }
        }
    }
    for (const char* file : {jobfiles::kKeywordFile, jobfiles::kUrlFile}) {
        TStringList lines;
        try {
            lines.LoadFromFile(file);
        } catch (const Exception&) {
            continue;  // the plug-in names the file it cannot read
        }
        const auto warnings = file == std::string(jobfiles::kKeywordFile)
                                  ? KeywordWarnings(lines.Lines())
                                  : UrlWarnings(lines.Lines());
        for (const std::string& warning : warnings)
            std::cerr << "rankcheck: warning: " << warning << '\n';
    }
    if (!options.preflight) return 0;
    std::vector<std::string> reached;
    for (const PluginRef& plugin : plugins) {
        const std::optional<Endpoint> hop = FirstHop(proxy, plugin.engine);
        if (!hop || std::find(reached.begin(), reached.end(), hop->Text()) != reached.end()) {
            continue;
        }
        if (const auto why = Unreachable(*hop, kPreflightMs)) {
            std::cerr << "rankcheck: cannot reach " << hop->what << " at " << hop->Text() << ": "
                      << *why << "; nothing was run and no file changed (check proxy.def, or "
                      << "run with --no-preflight to try anyway)\n";
            return 2;
        }
        reached.push_back(hop->Text());
    }
    return 0;
}

}  // namespace

int RunCommand(const RunCommandOptions& options) {
    // Everything the user named is resolved before the working folder changes.
    std::vector<std::string> engineArguments;
    if (options.engine == "all") {
        engineArguments = {"quillon", "verrin"};
    } else {
        engineArguments = {options.engine};
    }
    std::vector<PluginRef> plugins;
    try {
        const std::vector<fs::path> pluginFolders = PluginFolders(options.pluginDir);
        for (const auto& argument : engineArguments) {
            PluginRef ref = ResolvePlugin(argument, pluginFolders);
            ref.library = fs::absolute(ref.library);
            plugins.push_back(std::move(ref));
        }
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }
    if (chdir(options.dir.c_str()) != 0) {
        std::cerr << "rankcheck: --dir " << options.dir << ": " << std::strerror(errno) << '\n';
        return 2;
    }
    if (const int refused = CheckBeforeRun(options, plugins); refused != 0) return refused;

    StopSignal::Install();
    const bool live = isatty(STDOUT_FILENO) != 0;
    ProgressDisplay display(std::cout, std::cerr, live, &TerminalColumns);
    int status = 0;
    for (size_t i = 0; i < plugins.size(); ++i) {
        std::unique_ptr<PluginLibrary> library;
        try {
            library = std::make_unique<PluginLibrary>(plugins[i]);
        } catch (const PluginError& e) {
            display.Note(std::string("rankcheck: ") + e.what());
            status = std::max(status, 2);
            continue;
        }
        const std::string& engine = library->Engine();
        display.BeginRun(engine, KeywordsForDisplay(),
                         options.settings.resume ? SavedKeywordIndex(engine) : 0);
        SearchRun run(*library, display);
        const RunOutcome outcome = run.Run(options.settings, &StopWanted);
        switch (outcome) {
            case RunOutcome::Completed:
                break;
            case RunOutcome::StartFailed:
                display.Note("rankcheck: " + engine + " could not start: " + run.Message());
                status = std::max(status, 2);
                break;
            case RunOutcome::Failed:
                display.Note("rankcheck: the " + engine + " run ended early: " + run.Message());
                status = std::max(status, 1);
                break;
            case RunOutcome::Stopped: {
                std::string hint = "rankcheck: stopped. To go on where " + engine +
                                   " left off:\n  " +
                                   RunCommandLine(options, engineArguments[i], true);
                for (size_t rest = i + 1; rest < plugins.size(); ++rest) {
                    hint += "\nthen, for the engine not run yet:\n  " +
                            RunCommandLine(options, engineArguments[rest], options.settings.resume);
                }
                display.Note(hint);
                return static_cast<int>(RunOutcome::Stopped);
            }
        }
    }
    return status;
}

int ReportCommand(const ReportCommandOptions& options) {
    ReportOptions reportOptions;
    reportOptions.engines.clear();
    for (const std::string& engine : options.engines)
        reportOptions.engines.push_back(EngineName(engine));
    reportOptions.exactMatch = options.exactMatch;
    reportOptions.top = options.top;
    std::unique_ptr<RankReport> report;
    try {
        report = std::make_unique<RankReport>(RankReport::Load(options.dir, reportOptions));
    } catch (const ReportError& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }

    std::ostringstream text;
    if (options.format == "csv") {
        WriteCsv(*report, text);
    } else if (options.format == "json") {
        WriteJson(*report, text);
    } else if (options.format == "html") {
        std::error_code ec;
        const fs::path folder = fs::weakly_canonical(fs::absolute(options.dir), ec);
        WriteHtml(*report, text, folder.string());
    } else {
        WriteTable(*report, text);
    }

    if (options.output.empty()) {
        std::cout << text.str() << std::flush;
        return 0;
    }
    std::ofstream file(options.output, std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file) {
        std::cerr << "rankcheck: " << options.output
                  << ": cannot be written: " << std::strerror(errno) << '\n';
        return 2;
    }
    std::cerr << "rankcheck: " << options.format << " report written to "
              << fs::absolute(options.output).string() << '\n';
    return 0;
}

}  // namespace rankcheck
