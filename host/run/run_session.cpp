#include "host/run/run_session.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <set>
#include <sstream>

#include "host/report/safe_text.h"
#include "host/report/shell_quote.h"
#include "host/run/check_recorder.h"
#include "host/run/input_checks.h"
#include "host/run/ledger_import.h"
#include "host/run/preflight.h"
#include "host/run/stop_signal.h"
#include "hostkit/plugin_lookup.h"
#include "hostkit/working_directory.h"
#include "jobfiles/engine_table.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

#ifndef RC_PLUGIN_DIR_FROM_BIN
#define RC_PLUGIN_DIR_FROM_BIN "../lib/rankcheck"
#endif

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

constexpr int kPreflightMs = 5000;

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool StopWanted() {
    return StopSignal::Count() > 0;
}

std::string Now() {
    return ledger::UtcTimestamp(std::time(nullptr));
}

// "the order changed (line 3 was "a", is "b")" when the same keywords stand in another order.
std::string OrderChange(const std::vector<std::string>& before,
                        const std::vector<std::string>& now) {
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] != before[i]) {
            return "the order changed (line " + std::to_string(i + 1) + " was \"" +
                   TerminalText(AnsiToUtf8(before[i])) + "\", is \"" +
                   TerminalText(AnsiToUtf8(now[i])) + "\")";
        }
    }
    return "";
}

// How the keywords now differ from those a check was made with, in words; empty when equal.
std::string KeywordChanges(const std::vector<std::string>& before,
                           const std::vector<std::string>& now) {
    if (before == now) return {};
    const std::multiset<std::string> was(before.begin(), before.end());
    const std::multiset<std::string> is(now.begin(), now.end());
    std::vector<std::string> added, removed;
    std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::back_inserter(added));
    std::set_difference(was.begin(), was.end(), is.begin(), is.end(), std::back_inserter(removed));
    auto quoted = [](const std::vector<std::string>& words) {
        std::string text;
        for (size_t i = 0; i < words.size() && i < 10; ++i)
            text += (i == 0 ? "\"" : ", \"") + TerminalText(AnsiToUtf8(words[i])) + "\"";
        if (words.size() > 10) text += " and " + std::to_string(words.size() - 10) + " more";
        return text;
    };
    std::string text;
    if (!added.empty()) text += "added " + quoted(added);
    if (!removed.empty())
        text += (text.empty() ? "" : "; ") + std::string("removed ") + quoted(removed);
    return text.empty() ? OrderChange(before, now) : text;
}

// The summary line of one engine's run.
std::string Summary(const ledger::CheckInfo& check, const std::vector<std::string>& keywords,
                    const std::vector<int>& givenUp, std::chrono::steady_clock::duration took,
                    int topTen) {
    const int done = check.keywordsDone;
    const int notReached =
        check.keywordsTotal - check.keywordsDone - check.keywordsGivenUp - check.keywordsPartial;
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(took).count();
    std::ostringstream line;
    line << check.engine << " (check " << check.id << "): " << done << " of " << check.keywordsTotal
         << " keywords done, " << check.keywordsGivenUp << " given up";
    if (check.keywordsPartial > 0) line << ", " << check.keywordsPartial << " partial";
    line << ", " << notReached << " not reached; " << topTen << (topTen == 1 ? " rank" : " ranks")
         << " of your URLs in the top 10; " << seconds / 60 << " min " << seconds % 60 << " s";
    if (!givenUp.empty()) {
        line << "\n  given up:";
        for (size_t i = 0; i < givenUp.size(); ++i) {
            const int k = givenUp[i];
            line << (i == 0 ? " " : ", ") << "\""
                 << (k < static_cast<int>(keywords.size()) ? TerminalText(AnsiToUtf8(keywords[k]))
                                                           : "?")
                 << "\"";
        }
    }
    return line.str();
}

}  // namespace

RunSession::RunSession(RunOptions options) : options_(std::move(options)) {}

RunSession::~RunSession() = default;

RunVerdict RunSession::Run() {
    if (!Prepare()) return RunVerdict::Refused;
    StopSignal::Install();
    display_ = std::make_unique<ProgressDisplay>(std::cout, std::cerr, isatty(STDOUT_FILENO) != 0,
                                                 &TerminalColumns);
    // The plug-ins resolve the names of their job files against the current directory.
    std::optional<hostkit::ScopedWorkingDirectory> inFolder;
    try {
        inFolder.emplace(folder_);
    } catch (const fs::filesystem_error& e) {
        std::cerr << "rankcheck: --dir " << options_.dir << ": " << e.code().message() << '\n';
        return RunVerdict::Refused;
    }
    if (engines_.size() > 1 && !options_.sequential) {
        std::vector<EngineRun*> running;
        for (EngineRun& e : engines_) {
            Start(e);
            if (e.outcome != RunOutcome::StartFailed) running.push_back(&e);
        }
        Drive(running);
        for (EngineRun& e : engines_)
            Finish(e);
    } else {
        for (EngineRun& e : engines_) {
            Start(e);
            if (e.outcome != RunOutcome::StartFailed) Drive({&e});
            Finish(e);
            if (e.outcome == RunOutcome::Stopped) break;
        }
    }
    inFolder.reset();
    return Summarise();
}

// ---- prepare ----

bool RunSession::Prepare() {
    // Everything the user named is resolved before anything else happens.
    if (!ResolvePlugins()) return false;
    std::error_code ec;
    dbPath_ =
        fs::absolute(options_.db.empty() ? fs::path(options_.dir) / ledger::Ledger::kDefaultFileName
                                         : fs::path(options_.db));
    if (::access(options_.dir.c_str(), X_OK) != 0) {
        std::cerr << "rankcheck: --dir " << options_.dir << ": " << std::strerror(errno) << '\n';
        return false;
    }
    folder_ = fs::canonical(options_.dir, ec);
    if (ec) folder_ = fs::absolute(options_.dir);
    inputs_ = FolderInputs::Read(folder_);
    urls_ = LedgerUrls(inputs_.urls);
    std::vector<hostkit::PluginRef> plugins;
    for (const EngineRun& e : engines_)
        plugins.push_back(e.plugin);
    return CheckWritable() && CheckInputs(plugins) && OpenLedger();
}

// A run writes the job files, its lock and the ledger: a folder or ledger it cannot write (an
// archived project, a ledger of mode 0444) is refused before anything starts or changes.
bool RunSession::CheckWritable() {
    if (::access(folder_.c_str(), W_OK) != 0) {
        std::cerr << "rankcheck: " << folder_.string() << ": the folder cannot be written ("
                  << std::strerror(errno)
                  << "): the plug-ins write their result and progress files there; nothing was "
                     "run and no file changed (rankcheck report reads it as it is)\n";
        return false;
    }
    if (const std::optional<std::string> why = ledger::Ledger::WhyNotWritable(dbPath_.string())) {
        std::cerr << "rankcheck: " << *why
                  << ": every check is recorded there; nothing was run and no file changed "
                     "(rankcheck report reads it as it is)\n";
        return false;
    }
    return true;
}

bool RunSession::ResolvePlugins() {
    std::vector<std::string> arguments{options_.engine};
    if (options_.engine == "all") {
        arguments.clear();
        for (const jobfiles::EngineInfo& engine : jobfiles::Engines())
            arguments.emplace_back(engine.id);
    }
    try {
        const std::vector<fs::path> folders =
            hostkit::PluginFolders(options_.pluginDir, RC_PLUGIN_DIR_FROM_BIN);
        for (const std::string& argument : arguments) {
            EngineRun& e = engines_.emplace_back();
            e.plugin = hostkit::ResolvePlugin(argument, folders);
            e.plugin.library = fs::absolute(e.plugin.library);
            e.argument = argument;
        }
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    return true;
}

// What a run needs before anything starts: proxy.def readable and its first hop reachable.
// Prints why not and returns false; warnings about the keywords and URLs are printed and the run
// goes on. Nothing in the folder changes here.
bool RunSession::CheckInputs(const std::vector<hostkit::PluginRef>& plugins) {
    jobfiles::ProxySettings proxy;
    try {
        TStringList lines;
        lines.LoadFromFile((folder_ / jobfiles::kProxyFile).string());
        proxy = jobfiles::ProxySettings::Parse(lines);
    } catch (const EFOpenError& e) {
        std::cerr << "rankcheck: " << e.what()
                  << "; proxy.def says how the engines are reached: a single line 0 for a direct "
                     "connection (`"
                  << ShellQuote(options_.program)
                  << " init` writes one with the other input files)\n";
        return false;
    } catch (const Exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    std::vector<std::string> warnings;
    if (inputs_.keywordsRead) warnings = KeywordWarnings(inputs_.keywords);
    if (proxy.useProxy && proxy.host.find('@') != std::string::npos) {
        warnings.push_back(
            "proxy.def line 3 holds a user name and password before the proxy's host (not shown "
            "here); put 1 on line 2, the user on line 5 and the password on line 6 instead");
    }
    if (inputs_.urlsRead) {
        for (std::string& warning : UrlWarnings(inputs_.urls))
            warnings.push_back(std::move(warning));
    }
    for (const std::string& warning : warnings)
        std::cerr << "rankcheck: warning: " << warning << '\n';
    if (!options_.preflight) return true;
    std::vector<std::string> reached;
    for (const hostkit::PluginRef& plugin : plugins) {
        const std::optional<Endpoint> hop = FirstHop(proxy, plugin.engine);
        if (!hop || std::find(reached.begin(), reached.end(), hop->Text()) != reached.end())
            continue;
        if (const auto why = Unreachable(*hop, kPreflightMs)) {
            std::cerr << "rankcheck: cannot reach " << hop->what << " at " << hop->Text() << ": "
                      << *why << "; nothing was run and no file changed (check proxy.def, or "
                      << "run with --no-preflight to try anyway)\n";
            return false;
        }
        reached.push_back(hop->Text());
    }
    return true;
}

// The folder lock, the ledger (an older folder imported into it once) and the checks a --resume
// goes on with.
bool RunSession::OpenLedger() {
    try {
        lock_ = FolderLock::Acquire(options_.dir);
        ledger_ = std::make_unique<ledger::Ledger>(dbPath_.string());
        ImportFolderOnce(*ledger_, folder_, inputs_);
        for (EngineRun& e : engines_) {
            if (options_.settings.resume && !DecideResume(e)) return false;
        }
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    return true;
}

// The check a --resume of `e` goes on with; false (the reason printed) when there is none, or
// when keywords.lst has changed since it began.
bool RunSession::DecideResume(EngineRun& e) {
    const std::string& engine = e.plugin.engine;
    e.resumed = ledger_->ResumableCheck(engine);
    std::error_code ec;
    e.fromProgress = fs::exists(ProgressFile(engine), ec);
    const std::string afresh = CommandLine(options_.engine, false);
    if (!e.resumed) {
        std::cerr << "rankcheck: there is nothing to resume on " << engine << " (";
        if (e.fromProgress) {
            std::cerr << "its latest check in " << dbPath_.string() << " is complete";
        } else {
            std::cerr << "no stopped check and no " << jobfiles::ProgressFileName(engine) << " in "
                      << folder_.string();
        }
        std::cerr << "); to start afresh: " << afresh << '\n';
        return false;
    }
    std::vector<std::string> checked;
    for (const auto& keyword : ledger_->LoadCheck(e.resumed->id).keywords)
        checked.push_back(keyword.text);
    const std::string changes = KeywordChanges(checked, inputs_.keywords);
    if (changes.empty()) return true;
    std::cerr << "rankcheck: keywords.lst has changed since " << engine << "'s check "
              << e.resumed->id << " began (" << changes
              << "); a resumed run would record pages under the wrong keywords. Put keywords.lst "
                 "back, or start afresh: "
              << afresh << '\n';
    return false;
}

// ---- start, drive, finish ----

// Loads the plug-in and starts its run, recording into a new check or the resumed one.
void RunSession::Start(EngineRun& e) {
    e.ran = true;
    try {
        e.library = std::make_unique<hostkit::PluginLibrary>(e.plugin);
    } catch (const hostkit::PluginError& error) {
        display_->Note(std::string("rankcheck: ") + error.what());
        e.outcome = RunOutcome::StartFailed;
        return;
    }
    const std::string& engine = e.library->Engine();
    RunSettings settings = options_.settings;
    // A check killed before its first page was saved has no progress file: its run starts again
    // at the first keyword, within the same check.
    settings.resume = options_.settings.resume && e.fromProgress;
    std::error_code ec;
    if (settings.resume) {
        try {
            e.firstKeyword =
                jobfiles::ProgressRecord::Load(ProgressFile(engine).string()).keywordIndex;
        } catch (const Exception&) {
            e.firstKeyword = 0;  // the plug-in names what is wrong with the file
        }
    } else {
        // A fresh run starts from nothing; a progress file left by an older run must not be
        // resumed as if it were this check's.
        fs::remove(ProgressFile(engine), ec);
    }
    display_->BeginRun(engine, inputs_.keywords, e.firstKeyword, settings.maxResults);
    e.run = std::make_unique<SearchRun>(*e.library, *display_);
    e.started = std::chrono::steady_clock::now();
    e.run->OnStarted = [this, &e] { BeginCheck(e); };
    e.run->OnStatus = [&e](const jobfiles::StatusLine& line) {
        if (e.recorder) e.recorder->OnStatusLine(line);
    };
    if (!e.run->Start(settings, &doorbell_)) e.outcome = e.run->End();
}

void RunSession::BeginCheck(EngineRun& e) {
    const std::string& engine = e.library->Engine();
    ledger::CheckInfo check;
    if (e.resumed) {
        ledger_->ReopenCheck(e.resumed->id);
        check = ledger_->Check(e.resumed->id);
    } else {
        // A check left running by a rankcheck that was killed: nobody runs it any more (this run
        // holds the folder), so it is stopped, and a --resume would go on with it.
        if (auto stale = ledger_->LatestCheck(engine);
            stale && stale->state == ledger::CheckState::Running) {
            ledger_->EndCheck(stale->id, ledger::CheckState::Stopped, Now());
        }
        ledger::CheckStart begin;
        begin.engine = engine;
        begin.startedAt = Now();
        begin.options = {options_.settings.maxResults, options_.settings.stopWhenAllFound,
                         options_.settings.exactMatch};
        begin.keywordsHash = inputs_.keywordsHash;
        begin.keywords = inputs_.keywords;
        begin.urls = urls_;
        check = ledger_->Check(ledger_->BeginCheck(begin));
    }
    e.recorder = std::make_unique<CheckRecorder>(*ledger_, check, folder_, urls_, &Now);
    if (e.resumed) e.recorder->CatchUp(e.firstKeyword);
}

// Services the runs under way on this thread until each has finished.
void RunSession::Drive(std::vector<EngineRun*> running) {
    while (!running.empty()) {
        const uint64_t rung = doorbell_.Count();
        std::erase_if(running, [&](EngineRun* e) {
            if (e->run->Service(StopWanted())) return false;
            e->outcome = e->run->End();
            return true;
        });
        display_->Tick();
        if (!running.empty()) doorbell_.WaitSince(rung, 100);
    }
}

// The run is over: the keyword under way recorded, the check ended, its summary made.
void RunSession::Finish(EngineRun& e) {
    if (!e.library) {
        Worsen(RunVerdict::Refused);
        return;
    }
    const std::string& engine = e.library->Engine();
    std::vector<int> givenUp;
    if (e.recorder) {
        try {
            e.recorder->Finish(e.outcome == RunOutcome::Completed,
                               e.outcome == RunOutcome::Stopped);
            givenUp = e.recorder->GivenUp();
            const ledger::CheckInfo check = ledger_->Check(e.recorder->Check().id);
            summaries_.push_back(Summary(check, inputs_.keywords, givenUp,
                                         std::chrono::steady_clock::now() - e.started,
                                         TopTenCount(*ledger_, check.id)));
        } catch (const std::exception& error) {
            display_->Note(std::string("rankcheck: the ledger could not be written: ") +
                           error.what());
            Worsen(RunVerdict::Failed);
        }
    }
    switch (e.outcome) {
        case RunOutcome::Completed:
            if (!givenUp.empty()) Worsen(RunVerdict::KeywordsGivenUp);
            break;
        case RunOutcome::StartFailed:
            display_->Note("rankcheck: " + engine + " could not start: " + e.run->Message());
            Worsen(RunVerdict::Refused);
            break;
        case RunOutcome::Failed:
            display_->Note("rankcheck: the " + engine + " run ended early: " + e.run->Message());
            Worsen(RunVerdict::Failed);
            break;
        case RunOutcome::Stopped:
            break;
    }
}

// ---- summarise ----

RunVerdict RunSession::Summarise() {
    for (const std::string& summary : summaries_)
        display_->Note("rankcheck: " + summary);
    const auto stopped = [](const EngineRun& e) { return e.outcome == RunOutcome::Stopped; };
    if (std::none_of(engines_.begin(), engines_.end(), stopped)) {
        if (!summaries_.empty()) {
            display_->Note("rankcheck: the ranks: " + ShellQuote(options_.program) + " report" +
                           (options_.dir == "." ? "" : " --dir " + ShellQuote(options_.dir)));
        }
        return verdict_;
    }
    // Stopped by the user: how to go on with each engine stopped, and those not run yet.
    std::vector<std::string> again;
    if (engines_.size() > 1 && std::all_of(engines_.begin(), engines_.end(), stopped)) {
        again.push_back(CommandLine(options_.engine, true));
    } else {
        for (const EngineRun& e : engines_) {
            if (!e.ran) {
                again.push_back(CommandLine(e.argument, options_.settings.resume));
            } else if (stopped(e)) {
                again.push_back(CommandLine(e.argument, true));
            }
        }
    }
    std::string hint = "rankcheck: stopped. To go on where it left off:";
    for (const std::string& line : again)
        hint += "\n  " + line;
    display_->Note(hint);
    return RunVerdict::Stopped;
}

void RunSession::Worsen(RunVerdict verdict) {
    verdict_ = std::max(verdict_, verdict);
}

std::string RunSession::CommandLine(const std::string& engine, bool resume) const {
    std::string line = ShellQuote(options_.program) + " run " + ShellQuote(engine);
    if (options_.dir != ".") line += " --dir " + ShellQuote(options_.dir);
    if (!options_.pluginDir.empty()) line += " --plugin-dir " + ShellQuote(options_.pluginDir);
    if (options_.settings.maxResults != RunSettings{}.maxResults)
        line += " --max-results " + std::to_string(options_.settings.maxResults);
    if (options_.settings.stopWhenAllFound) line += " --stop-when-all-found";
    if (options_.settings.exactMatch) line += " --exact-match";
    if (resume) line += " --resume";
    return line;
}

fs::path RunSession::ProgressFile(const std::string& engine) const {
    return folder_ / jobfiles::ProgressFileName(engine);
}

}  // namespace rankcheck
