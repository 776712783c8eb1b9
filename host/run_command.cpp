// rankcheck run: the plug-ins over the job files of a folder, each run recorded in the check
// ledger as one check, keyword by keyword.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "host/check_recorder.h"
#include "host/commands.h"
#include "host/doorbell.h"
#include "host/folder_lock.h"
#include "host/input_checks.h"
#include "host/ledger_import.h"
#include "host/plugin_library.h"
#include "host/preflight.h"
#include "host/progress_display.h"
#include "host/stop_signal.h"
#include "jobfiles/job_files.h"
#include "ledger/ledger.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

constexpr int kPreflightMs = 5000;

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

// The keyword a resumed run starts on, from the engine's progress file (0 when unreadable).
int SavedKeywordIndex(const std::string& engine) {
    try {
        return jobfiles::ProgressRecord::Load(jobfiles::ProgressFileName(engine)).keywordIndex;
    } catch (const Exception&) {
        return 0;
    }
}

// What a run needs before anything starts, in the job folder: proxy.def readable and its first
// hop reachable. Prints why not and returns 2; warnings about the
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


std::string Now() {
    return ledger::UtcTimestamp(std::time(nullptr));
}

// A file's lines (none when it cannot be read: the plug-in names such a file itself).
TStringList LoadOrEmpty(const char* file) {
    TStringList lines;
    try {
        lines.LoadFromFile(file);
    } catch (const Exception&) {
        return {};
    }
    return lines;
}

// How the keywords now differ from those a check was made with, in words; empty when equal.
std::string KeywordChanges(const std::vector<std::string>& before, const std::vector<std::string>& now) {
    if (before == now) return {};
    const std::multiset<std::string> was(before.begin(), before.end());
    const std::multiset<std::string> is(now.begin(), now.end());
    std::vector<std::string> added, removed;
    std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::back_inserter(added));
    std::set_difference(was.begin(), was.end(), is.begin(), is.end(), std::back_inserter(removed));
    auto quoted = [](const std::vector<std::string>& words) {
        std::string text;
        for (size_t i = 0; i < words.size() && i < 10; ++i)
            text += (i == 0 ? "\"" : ", \"") + AnsiToUtf8(words[i]) + "\"";
        if (words.size() > 10) text += " and " + std::to_string(words.size() - 10) + " more";
        return text;
    };
    std::string text;
    if (!added.empty()) text += "added " + quoted(added);
    if (!removed.empty()) text += (text.empty() ? "" : "; ") + std::string("removed ") + quoted(removed);
    if (text.empty()) {
        for (size_t i = 0; i < now.size(); ++i) {
            if (now[i] != before[i]) {
                text = "the order changed (line " + std::to_string(i + 1) + " was \"" +
                       AnsiToUtf8(before[i]) + "\", is \"" + AnsiToUtf8(now[i]) + "\")";
                break;
            }
        }
    }
    return text;
}

// The worse of two exit statuses of a run: could not start, then failed, then given up.
int Worse(int a, int b) {
    auto badness = [](int status) {
        switch (status) {
            case 2:
                return 3;
            case 1:
                return 2;
            case kExitGivenUp:
                return 1;
            default:
                return 0;
        }
    };
    return badness(b) > badness(a) ? b : a;
}

// One engine's part of a run: the check it records into, prepared before the plug-in starts.
struct EngineCheck {
    PluginRef plugin;
    std::string argument;  // as the user named the engine
    std::optional<ledger::CheckInfo> resumed;  // the check a --resume goes on with
    bool fromProgress = false;  // the plug-in resumes from the progress file (else from keyword 1)

    // While it runs, on the main thread.
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<SearchRun> run;
    std::unique_ptr<CheckRecorder> recorder;
    std::chrono::steady_clock::time_point started;
    bool startFailed = false;
    RunOutcome outcome = RunOutcome::Completed;
};

// The summary line of one engine's run.
std::string Summary(const ledger::CheckInfo& check, const std::vector<std::string>& keywords,
                    const std::vector<int>& givenUp, std::chrono::steady_clock::duration took,
                    int topTen) {
    const int done = check.keywordsDone;
    const int notReached = check.keywordsTotal - check.keywordsDone - check.keywordsGivenUp -
                           check.keywordsPartial;
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(took).count();
    std::ostringstream line;
    line << check.engine << " (check " << check.id << "): " << done << " of "
         << check.keywordsTotal << " keywords done, " << check.keywordsGivenUp << " given up";
    if (check.keywordsPartial > 0) line << ", " << check.keywordsPartial << " partial";
    line << ", " << notReached << " not reached; " << topTen
         << (topTen == 1 ? " rank" : " ranks") << " of your URLs in the top 10; " << seconds / 60
         << " min " << seconds % 60 << " s";
    if (!givenUp.empty()) {
        line << "\n  given up:";
        for (size_t i = 0; i < givenUp.size(); ++i) {
            const int k = givenUp[i];
            line << (i == 0 ? " " : ", ") << "\""
                 << (k < static_cast<int>(keywords.size()) ? AnsiToUtf8(keywords[k]) : "?") << "\"";
        }
    }
    return line.str();
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
    std::vector<EngineCheck> engines;
    try {
        const std::vector<fs::path> pluginFolders = PluginFolders(options.pluginDir);
        for (const auto& argument : engineArguments) {
            PluginRef ref = ResolvePlugin(argument, pluginFolders);
            ref.library = fs::absolute(ref.library);
            EngineCheck& e = engines.emplace_back();
            e.plugin = std::move(ref);
            e.argument = argument;
        }
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }
    const fs::path dbPath =
        fs::absolute(options.db.empty() ? fs::path(options.dir) / ledger::Ledger::kDefaultFileName
                                        : fs::path(options.db));
    if (chdir(options.dir.c_str()) != 0) {
        std::cerr << "rankcheck: --dir " << options.dir << ": " << std::strerror(errno) << '\n';
        return 2;
    }
    std::vector<PluginRef> plugins;
    for (const EngineCheck& e : engines)
        plugins.push_back(e.plugin);
    if (const int refused = CheckBeforeRun(options, plugins); refused != 0) return refused;

    std::unique_ptr<FolderLock> lock;
    std::unique_ptr<ledger::Ledger> ledger;
    // keywords.lst is read once: its lines for the checks, its text for their hash.
    const TStringList keywordFile = LoadOrEmpty(jobfiles::kKeywordFile);
    const std::vector<std::string> keywords = keywordFile.Lines();
    const std::string keywordsHash = ContentHash(keywordFile.Text());
    const std::vector<ledger::UserUrl> urls = LedgerUrls(LoadOrEmpty(jobfiles::kUrlFile).Lines());
    try {
        lock = FolderLock::Acquire(".");
        ledger = std::make_unique<ledger::Ledger>(dbPath.string());
        ImportFolderOnce(*ledger, {"Quillon", "Verrin"});
        for (EngineCheck& e : engines) {
            const std::string& engine = e.plugin.engine;
            if (!options.settings.resume) continue;
            e.resumed = ledger->ResumableCheck(engine);
            std::error_code ec;
            e.fromProgress = fs::exists(jobfiles::ProgressFileName(engine), ec);
            if (!e.resumed) {
                std::cerr << "rankcheck: there is nothing to resume on " << engine << " (";
                if (e.fromProgress) {
                    std::cerr << "its latest check in " << dbPath.string() << " is complete";
                } else {
                    std::cerr << "no stopped check and no " << jobfiles::ProgressFileName(engine)
                              << " in " << fs::current_path(ec).string();
                }
                std::cerr << "); to start afresh: " << RunCommandLine(options, options.engine, false)
                          << '\n';
                return 2;
            }
            std::vector<std::string> checked;
            for (const auto& keyword : ledger->LoadCheck(e.resumed->id).keywords)
                checked.push_back(keyword.text);
            const std::string changes = KeywordChanges(checked, keywords);
            if (!changes.empty()) {
                std::cerr << "rankcheck: keywords.lst has changed since " << engine << "'s check "
                          << e.resumed->id << " began (" << changes
                          << "); a resumed run would record pages under the wrong keywords. "
                             "Put keywords.lst back, or start afresh: "
                          << RunCommandLine(options, options.engine, false) << '\n';
                return 2;
            }
        }
    } catch (const LockError& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return 2;
    }

    StopSignal::Install();
    const bool live = isatty(STDOUT_FILENO) != 0;
    ProgressDisplay display(std::cout, std::cerr, live, &TerminalColumns);
    Doorbell doorbell;

    // Loads the plug-in and starts its run, recording into a new check or the resumed one.
    auto start = [&](EngineCheck& e) {
        try {
            e.library = std::make_unique<PluginLibrary>(e.plugin);
        } catch (const PluginError& error) {
            display.Note(std::string("rankcheck: ") + error.what());
            e.startFailed = true;
            e.outcome = RunOutcome::StartFailed;
            return;
        }
        const std::string& engine = e.library->Engine();
        RunSettings settings = options.settings;
        // A check killed before its first page was saved has no progress file: its run starts
        // again at the first keyword, within the same check.
        settings.resume = options.settings.resume && e.fromProgress;
        const int firstKeyword = settings.resume ? SavedKeywordIndex(engine) : 0;
        if (!settings.resume) {
            // A fresh run starts from nothing; a progress file left by an older run must not be
            // resumed as if it were this check's.
            std::error_code ec;
            fs::remove(jobfiles::ProgressFileName(engine), ec);
        }
        display.BeginRun(engine, keywords, firstKeyword, settings.maxResults);
        e.run = std::make_unique<SearchRun>(*e.library, display);
        e.started = std::chrono::steady_clock::now();
        e.run->OnStarted = [&e, &ledger, &options, &keywords, &keywordsHash, &urls, firstKeyword,
                             engine] {
            ledger::CheckInfo check;
            if (e.resumed) {
                ledger->ReopenCheck(e.resumed->id);
                check = ledger->Check(e.resumed->id);
            } else {
                // A check left running by a rankcheck that was killed: nobody runs it any more
                // (this run holds the folder), so it is stopped, and a --resume would go on.
                if (auto stale = ledger->LatestCheck(engine);
                    stale && stale->state == ledger::CheckState::Running) {
                    ledger->EndCheck(stale->id, ledger::CheckState::Stopped, Now());
                }
                ledger::CheckStart begin;
                begin.engine = engine;
                begin.startedAt = Now();
                begin.options = {options.settings.maxResults, options.settings.stopWhenAllFound,
                                 options.settings.exactMatch};
                begin.keywordsHash = keywordsHash;
                begin.keywords = keywords;
                begin.urls = urls;
                check = ledger->Check(ledger->BeginCheck(begin));
            }
            e.recorder = std::make_unique<CheckRecorder>(*ledger, check, urls, &Now);
            if (e.resumed) e.recorder->CatchUp(firstKeyword);
        };
        e.run->OnStatus = [&e](const StatusLine& line) {
            if (e.recorder) e.recorder->OnStatusLine(line);
        };
        if (!e.run->Start(settings, &doorbell)) e.outcome = e.run->End();
    };

    // Services the runs under way on this thread until each has finished.
    auto drive = [&](std::vector<EngineCheck*> running) {
        while (!running.empty()) {
            const uint64_t rung = doorbell.Count();
            std::erase_if(running, [&](EngineCheck* e) {
                if (e->run->Service(StopWanted())) return false;
                e->outcome = e->run->End();
                return true;
            });
            display.Tick();
            if (!running.empty()) doorbell.WaitSince(rung, 100);
        }
    };

    int status = 0;
    std::vector<std::string> summaries;
    // The run is over: the keyword under way recorded, the check ended, its summary made.
    auto finish = [&](EngineCheck& e) {
        if (e.startFailed || !e.library) {
            status = Worse(status, 2);
            return;
        }
        const std::string& engine = e.library->Engine();
        std::vector<int> givenUp;
        if (e.recorder) {
            try {
                e.recorder->Finish(e.outcome == RunOutcome::Completed,
                                   e.outcome == RunOutcome::Stopped);
                givenUp = e.recorder->GivenUp();
                const ledger::CheckInfo check = ledger->Check(e.recorder->Check().id);
                summaries.push_back(Summary(check, keywords, givenUp,
                                            std::chrono::steady_clock::now() - e.started,
                                            TopTenCount(*ledger, check.id)));
            } catch (const std::exception& error) {
                display.Note(std::string("rankcheck: the ledger could not be written: ") +
                             error.what());
                status = Worse(status, 1);
            }
        }
        switch (e.outcome) {
            case RunOutcome::Completed:
                if (!givenUp.empty()) status = Worse(status, kExitGivenUp);
                break;
            case RunOutcome::StartFailed:
                display.Note("rankcheck: " + engine + " could not start: " + e.run->Message());
                status = Worse(status, 2);
                break;
            case RunOutcome::Failed:
                display.Note("rankcheck: the " + engine + " run ended early: " + e.run->Message());
                status = Worse(status, 1);
                break;
            case RunOutcome::Stopped:
                break;
        }
    };

    const bool together = engines.size() > 1 && !options.sequential;
    size_t ran = 0;
    if (together) {
        std::vector<EngineCheck*> running;
        for (EngineCheck& e : engines) {
            start(e);
            if (!e.startFailed && e.outcome != RunOutcome::StartFailed) running.push_back(&e);
        }
        drive(running);
        for (EngineCheck& e : engines)
            finish(e);
        ran = engines.size();
    } else {
        for (EngineCheck& e : engines) {
            ++ran;
            start(e);
            if (!e.startFailed && e.outcome != RunOutcome::StartFailed) drive({&e});
            finish(e);
            if (e.outcome == RunOutcome::Stopped) break;
        }
    }

    for (const std::string& summary : summaries)
        display.Note("rankcheck: " + summary);
    // Stopped by the user: how to go on with each engine stopped, and those not run yet.
    std::vector<std::string> again;
    for (size_t i = 0; i < engines.size(); ++i) {
        if (i < ran && engines[i].outcome == RunOutcome::Stopped) {
            again.push_back(RunCommandLine(options, engines[i].argument, true));
        } else if (i >= ran) {
            again.push_back(RunCommandLine(options, engines[i].argument, options.settings.resume));
        }
    }
    const bool stopped = std::any_of(engines.begin(), engines.end(), [](const EngineCheck& e) {
        return e.outcome == RunOutcome::Stopped;
    });
    const bool allStopped = std::all_of(engines.begin(), engines.end(), [](const EngineCheck& e) {
        return e.outcome == RunOutcome::Stopped;
    });
    if (allStopped && engines.size() > 1) again = {RunCommandLine(options, options.engine, true)};
    if (stopped) {
        std::string hint = "rankcheck: stopped. To go on where it left off:";
        for (const std::string& line : again)
            hint += "\n  " + line;
        display.Note(hint);
        return static_cast<int>(RunOutcome::Stopped);
    }
    if (!summaries.empty()) {
        display.Note("rankcheck: the ranks: " + ShellQuote(options.program) + " report" +
                     (options.dir == "." ? "" : " --dir " + ShellQuote(options.dir)));
    }
    return status;
}

}  // namespace rankcheck
