#include "host/run/run_session.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iostream>
#include <set>
#include <sstream>

#include "host/gateway/proxy_list.h"
#include "host/report/safe_text.h"
#include "host/report/shell_quote.h"
#include "host/report/text_table.h"
#include "host/run/check_recorder.h"
#include "host/run/input_checks.h"
#include "host/run/job_folder.h"
#include "host/run/ledger_import.h"
#include "host/run/preflight.h"
#include "host/run/stop_signal.h"
#include "hostkit/plugin_lookup.h"
#include "hostkit/working_directory.h"
#include "jobfiles/engine_table.h"
#include "jobfiles/job_files.h"
#include "ledger/check_inputs.h"
#include "ledger/check_state_words.h"
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

std::string Shown(const std::string& keyword) {
    return TerminalText(AnsiToUtf8(keyword));
}

// "the order changed (line 3 was "a", is "b")" when the same keywords stand in another order.
std::string OrderChange(const std::vector<std::string>& before,
                        const std::vector<std::string>& now) {
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] != before[i]) {
            return "the order changed (line " + std::to_string(i + 1) + " was \"" +
                   Shown(before[i]) + "\", is \"" + Shown(now[i]) + "\")";
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
            text += (i == 0 ? "\"" : ", \"") + Shown(words[i]) + "\"";
        if (words.size() > 10) text += " and " + std::to_string(words.size() - 10) + " more";
        return text;
    };
    std::string text;
    if (!added.empty()) text += "added " + quoted(added);
    if (!removed.empty())
        text += (text.empty() ? "" : "; ") + std::string("removed ") + quoted(removed);
    return text.empty() ? OrderChange(before, now) : text;
}

// "a; b; c"
std::string Joined(const std::vector<std::string>& parts, const char* between) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : between) + part;
    return text;
}

// The keywords of a check without a trusted outcome, by kind, as the summary names them:
// "  given up: "a", "b"" and "  suspect: "c" (no results on page 1)".
std::string FailedKeywords(const ledger::CheckDetail& detail,
                           const std::vector<ledger::KeywordOutcome>& outcomes) {
    using ledger::RankStatus;
    std::vector<std::string> givenUp, suspect, partial;
    for (size_t i = 0; i < outcomes.size() && i < detail.keywords.size(); ++i) {
        const std::string keyword = "\"" + Shown(detail.keywords[i].text) + "\"";
        switch (outcomes[i].status) {
            case RankStatus::Error:
                givenUp.push_back(keyword);
                break;
            case RankStatus::Suspect:
                suspect.push_back(keyword + " (" + outcomes[i].note + ")");
                break;
            case RankStatus::Partial:
                partial.push_back(keyword);
                break;
            default:
                break;
        }
    }
    std::string text;
    if (!givenUp.empty()) text += "\n  given up: " + Joined(givenUp, ", ");
    if (!suspect.empty()) text += "\n  suspect: " + Joined(suspect, ", ");
    if (!partial.empty()) text += "\n  partial: " + Joined(partial, ", ");
    return text;
}

std::string Keywords(int count) {
    return std::to_string(count) + (count == 1 ? " keyword" : " keywords");
}

// Where a --quiet run's status lines go: nowhere.
std::ostream& NoLog() {
    static std::ostream none(nullptr);
    return none;
}

// "rankcheck: <label> <command>" on one line when it fits the columns of standard error, else
// the command on a line of its own: a command is never broken.
std::string CommandHint(const std::string& label, const std::string& command) {
    const std::string line = "rankcheck: " + label + " " + command;
    if (DisplayWidth(line) <= static_cast<size_t>(OutputColumns(STDERR_FILENO))) return line;
    return "rankcheck: " + label + "\n  " + command;
}

}  // namespace

RunSession::RunSession(RunOptions options) : options_(std::move(options)) {}

RunSession::~RunSession() = default;

RunVerdict RunSession::Run() {
    if (!Prepare()) return RunVerdict::Refused;
    if (nothingToDo_) return RunVerdict::Completed;
    if (gateway_) {
        if (const auto until = gateway_->AllSuspendedUntil()) {
            std::cerr << "rankcheck: every upstream is suspended after a block; resume after "
                      << gateway::ClockText(*until) << " (nothing was run)\n";
            return RunVerdict::Halted;
        }
    }
    StopSignal::Install();
    display_ = std::make_unique<ProgressDisplay>(options_.quiet ? NoLog() : std::cout, std::cerr,
                                                 !options_.quiet && isatty(STDOUT_FILENO) != 0,
                                                 &TerminalColumns);
    std::vector<EngineRun*> engines;
    for (EngineRun& e : engines_) {
        if (!e.skipped) engines.push_back(&e);
    }
    if (engines.size() > 1 && !options_.sequential && !options_.recheck) {
        RunInFolder(engines, runFolder_);
    } else {
        for (EngineRun* e : engines) {
            if (!options_.recheck) {
                RunInFolder({e}, runFolder_);
            } else if (PrepareRecheckFolder(*e)) {
                RunInFolder({e}, e->jobFolder);
            }
            if (StopWanted()) break;
        }
    }
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
    for (EngineRun& e : engines_) {
        plugins.push_back(e.plugin);
        e.settings = options_.settings;
        e.jobFolder = folder_;
    }
    runFolder_ = folder_;
    return CheckKeywordsFile() && CheckWritable() && CheckInputs(plugins) && OpenLedger() &&
           OpenGateway() && DecideContinuations() && PrepareRunFolder();
}

// A keywords.lst without a line gives a run with nothing to search: refused before anything
// starts. (One that cannot be read is named by the plug-in when it starts.)
bool RunSession::CheckKeywordsFile() {
    if (!inputs_.keywordsRead || !inputs_.keywords.empty()) return true;
    std::cerr << "rankcheck: " << (folder_ / jobfiles::kKeywordFile).string()
              << " is empty: there is no keyword to search (write one keyword per line); nothing "
                 "was run and no file changed\n";
    return false;
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
    std::error_code ec;
    jobfiles::ProxySettings& proxy = userProxy_;
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
    // A shared gateway is asked for its upstreams when it is opened, and it reaches them itself.
    if (!options_.preflight || (options_.gateway.use && !options_.gateway.remote.empty()))
        return true;
    if (options_.gateway.use && fs::exists(folder_ / kProxyListFile, ec))
        return PreflightPool(plugins);
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

// Every upstream of proxies.lst reached at once: none reached refuses the run as for proxy.def;
// some not reached are named (the pages sent through them fail, and the plug-in's next try goes
// through another).
bool RunSession::PreflightPool(const std::vector<hostkit::PluginRef>& plugins) {
    std::vector<gateway::Upstream> upstreams;
    try {
        upstreams = gateway::LoadProxyList((folder_ / kProxyListFile).string()).upstreams;
    } catch (const gateway::ProxyListError&) {
        return true;  // opening the gateway says what is wrong with the file
    }
    std::vector<Endpoint> hops;
    for (const gateway::Upstream& upstream : upstreams) {
        if (upstream.IsProxy()) {
            std::string host = upstream.host;  // "[::1]" is connected to as ::1
            if (host.size() > 2 && host.front() == '[' && host.back() == ']')
                host = host.substr(1, host.size() - 2);
            hops.push_back({host, upstream.port, "the upstream of proxies.lst"});
            continue;
        }
        for (const hostkit::PluginRef& plugin : plugins) {
            if (auto hop = FirstHop(jobfiles::ProxySettings{}, plugin.engine)) {
                hop->what = "the upstream \"direct\" of proxies.lst (" + hop->what + ")";
                hops.push_back(std::move(*hop));
            }
        }
    }
    const std::vector<std::optional<std::string>> failures = UnreachableEach(hops, kPreflightMs);
    const bool none = std::all_of(failures.begin(), failures.end(),
                                  [](const auto& failure) { return failure.has_value(); });
    for (size_t i = 0; i < hops.size(); ++i) {
        if (!failures[i]) continue;
        std::cerr << "rankcheck: " << (none ? "" : "warning: ") << "cannot reach " << hops[i].what
                  << " at " << hops[i].Text() << ": " << *failures[i]
                  << (none ? "" : "; the pages sent through it will fail") << '\n';
    }
    if (none && !hops.empty()) {
        std::cerr << "rankcheck: no upstream of proxies.lst can be reached; nothing was run and no "
                     "file changed (check proxies.lst, or run with --no-preflight to try anyway)\n";
        return false;
    }
    return true;
}

// The folder lock and the ledger, whose checks of this folder are the run's (a ledger shared
// through --db keeps every other folder's apart); an older folder is imported into it once.
bool RunSession::OpenLedger() {
    try {
        lock_ = FolderLock::Acquire(options_.dir);
        ledger::Ledger::Options options;
        options.folder = folder_.string();
        ledger_ = std::make_unique<ledger::Ledger>(dbPath_.string(), options);
        ImportFolderOnce(*ledger_, folder_, inputs_);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    return true;
}

bool RunSession::OpenGateway() {
    if (!options_.gateway.use) return true;
    try {
        gateway_ = std::make_unique<RunGateway>(options_.gateway, folder_, userProxy_, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << "; nothing was run\n";
        return false;
    }
    runFolder_ = gateway_->JobFolder();
    for (EngineRun& e : engines_)
        e.jobFolder = runFolder_;
    return true;
}

// Once the run is decided: the job folder's inputs written, and the plug-in files of a run
// without a gateway taken over (a resume of theirs goes on from the progress file they hold).
bool RunSession::PrepareRunFolder() {
    if (!gateway_ || nothingToDo_) return true;
    try {
        gateway_->PrepareJobFolder(inputs_);
        std::vector<std::string> engines;
        for (const EngineRun& e : engines_)
            engines.push_back(e.plugin.engine);
        gateway_->TakeOverProjectFiles(engines);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << "; nothing was run\n";
        return false;
    }
    std::error_code ec;
    for (EngineRun& e : engines_) {
        if (options_.settings.resume && e.reopened)
            e.fromProgress = fs::exists(ProgressFile(e.plugin.engine), ec);
    }
    return true;
}

void RunSession::HandleEvents(EngineRun& e) {
    if (!gateway_ || !e.library) return;
    for (gateway::Event& event : gateway_->NewEvents()) {
        if (event.kind == gateway::EventKind::Notice || event.kind == gateway::EventKind::Failure ||
            event.kind == gateway::EventKind::Block ||
            event.kind == gateway::EventKind::NoUpstreamLeft) {
            pendingEvents_[event.engine].push_back(std::move(event));
        }
    }
    const std::string& engine = e.library->Engine();
    for (const std::string& key : {std::string(), engine}) {
        for (const gateway::Event& event : pendingEvents_[key]) {
            display_->Note(WrapText("rankcheck: " + (key.empty() ? std::string() : key + ": ") +
                                        TerminalText(event.cause, 2000),
                                    OutputColumns(STDERR_FILENO), 4));
            if (event.kind == gateway::EventKind::NoUpstreamLeft && event.until) {
                StopRun(engine, "every upstream is suspended after a block: resume after " +
                                    gateway::ClockText(*event.until));
            }
        }
        pendingEvents_.erase(key);
    }
}

void RunSession::RecordUpstreams(const EngineRun& e) {
    if (!gateway_ || !e.recorder) return;
    std::vector<ledger::UpstreamCounts> rows;
    for (const gateway::UpstreamStats& s : gateway_->Stats(e.library->Engine()))
        rows.push_back({s.upstream, s.requests, s.pages, s.blocks, s.failures, s.medianMs});
    ledger_->RecordUpstreams(e.recorder->Check().id, rows);
}

std::string RunSession::UpstreamLines(const EngineRun& e) {
    if (!gateway_ || !e.library) return "";
    std::string text;
    auto counted = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    const size_t columns = static_cast<size_t>(OutputColumns(STDERR_FILENO));
    for (const gateway::UpstreamStats& row : gateway_->Stats(e.library->Engine())) {
        if (row.requests == 0) continue;
        std::ostringstream counts;
        counts << counted(row.requests, "request", "requests") << ", "
               << counted(row.pages, "page", "pages") << ", "
               << counted(row.blocks, "block", "blocks") << ", "
               << counted(row.failures, "failure", "failures") << ", median "
               << static_cast<long long>(std::llround(row.medianMs)) << " ms";
        // The counts go under the upstream when the line would not fit, so that wrapping never
        // leaves a figure apart from its unit.
        const std::string through = "  through " + row.upstream + ":";
        const std::string line = through + " " + counts.str();
        text += "\n" + (DisplayWidth(line) <= columns ? line : through + "\n    " + counts.str());
    }
    return text;
}

// The check each engine goes on with. With `all`, an engine that has nothing to resume or
// recheck is left out (and named); the run is refused when none has anything, or when a check's
// own inputs differ from the folder's.
bool RunSession::DecideContinuations() {
    const bool resume = options_.settings.resume;
    if (!resume && !options_.recheck) return true;
    std::vector<std::string> nothing;  // "Verrin (its latest check 2 is complete)"
    bool someWithoutCheck = false;
    try {
        for (EngineRun& e : engines_) {
            std::string why;
            if (resume ? FindResumable(e, why) : FindRecheck(e, why)) {
                if (!SameInputs(e, resume ? "resumed" : "rechecked")) return false;
                continue;
            }
            e.skipped = true;
            someWithoutCheck = someWithoutCheck || !ledger_->LatestCheck(e.plugin.engine);
            nothing.push_back(e.plugin.engine + " (" + why + ")");
        }
    } catch (const std::exception& error) {
        std::cerr << "rankcheck: " << error.what() << '\n';
        return false;
    }
    const char* what = resume ? "resume" : "recheck";
    const bool any = std::any_of(engines_.begin(), engines_.end(),
                                 [](const EngineRun& e) { return !e.skipped; });
    if (!any && (resume || someWithoutCheck)) {
        // No engine has a check to go on with: a fresh run abandons nothing.
        std::cerr << "rankcheck: there is nothing to " << what << " on "
                  << Joined(nothing, " nor on ")
                  << "; to start afresh: " << CommandLine(options_.engine, Continue::Fresh) << '\n';
        return false;
    }
    if (!any) {
        std::cerr << "rankcheck: nothing to recheck on " << Joined(nothing, " nor on ") << '\n';
        nothingToDo_ = true;
        return true;
    }
    for (const std::string& engine : nothing)
        std::cerr << "rankcheck: nothing to " << what << " on " << engine << '\n';
    return true;
}

bool RunSession::FindResumable(EngineRun& e, std::string& why) {
    const std::string& engine = e.plugin.engine;
    std::error_code ec;
    e.fromProgress = fs::exists(ProgressFile(engine), ec);
    e.reopened = ledger_->ResumableCheck(engine);
    if (e.reopened) return true;
    if (const auto latest = ledger_->LatestCheck(engine)) {
        why = "its latest check " + std::to_string(latest->id) + " is complete";
    } else {
        why = "no stopped check and no " + jobfiles::ProgressFileName(engine) + " in " +
              folder_.string();
    }
    return false;
}

bool RunSession::FindRecheck(EngineRun& e, std::string& why) {
    const auto latest = ledger_->LatestCheck(e.plugin.engine);
    if (!latest) {
        why = "no check yet";
        return false;
    }
    e.recheck = ledger_->KeywordsToRecheck(latest->id);
    if (e.recheck.empty()) {
        why = "every keyword of its check " + std::to_string(latest->id) + " is trusted";
        return false;
    }
    e.reopened = latest;
    return true;
}

// A check owns its inputs: the run goes on with the check's URLs and options, and is refused
// (nothing changed) when keywords.lst or urls.lst differs from the check's, or an option given
// differs from the check's own. An option not given is the check's.
bool RunSession::SameInputs(EngineRun& e, const char* going) {
    const ledger::CheckDetail detail = ledger_->LoadCheck(e.reopened->id);
    const std::string check = e.plugin.engine + "'s check " + std::to_string(e.reopened->id);
    std::vector<std::string> keywords;
    for (const ledger::CheckedKeyword& keyword : detail.keywords)
        keywords.push_back(keyword.text);
    const std::string changes = KeywordChanges(keywords, inputs_.keywords);
    if (!changes.empty()) {
        std::cerr << "rankcheck: keywords.lst has changed since " << check << " began (" << changes
                  << "); a " << going
                  << " check would record pages under the wrong keywords. Put keywords.lst back "
                     "as it was to go on with the check; nothing was run and no file changed\n";
        return false;
    }
    const ledger::CheckOptions& own = detail.info.options;
    const RunSettings& asked = options_.settings;
    const ledger::CheckOptions wanted{
        options_.given.maxResults ? asked.maxResults : own.maxResults,
        options_.given.stopWhenAllFound ? asked.stopWhenAllFound : own.stopWhenAllFound,
        options_.given.exactMatch ? asked.exactMatch : own.exactMatch};
    const std::vector<std::string> differences = InputDifferences(detail, urls_, wanted);
    if (!differences.empty()) {
        const bool urls =
            std::any_of(differences.begin(), differences.end(),
                        [](const std::string& d) { return d.rfind("urls.lst", 0) == 0; });
        const bool flags = differences.back().rfind("urls.lst", 0) != 0;
        std::vector<std::string> advice;
        if (urls) advice.push_back("put urls.lst back as it was");
        if (flags) advice.push_back("leave the option out (the check's own is taken)");
        std::cerr << "rankcheck: " << check << " was made with other inputs, and a " << going
                  << " check goes on with its own: "
                  << TerminalText(AnsiToUtf8(Joined(differences, "; ")), 2000) << ". To go on "
                  << "with it, " << Joined(advice, " and ")
                  << "; nothing was run and no file changed\n";
        return false;
    }
    e.settings = {options_.settings.resume, own.maxResults, own.stopWhenAllFound, own.exactMatch};
    e.urls = detail.urls;
    return true;
}

// ---- start, drive, finish ----

void RunSession::RunInFolder(const std::vector<EngineRun*>& group, const fs::path& folder) {
    // The plug-ins resolve the names of their job files against the current directory.
    std::optional<hostkit::ScopedWorkingDirectory> inFolder;
    try {
        inFolder.emplace(folder);
    } catch (const fs::filesystem_error& error) {
        display_->Note("rankcheck: " + folder.string() + ": " + error.code().message());
        Worsen(RunVerdict::Refused);
        return;
    }
    std::vector<EngineRun*> running;
    for (EngineRun* e : group) {
        Start(*e);
        if (e->outcome != RunOutcome::StartFailed) running.push_back(e);
    }
    Drive(running);
    for (EngineRun* e : group)
        Finish(*e);
}

// A recheck's job folder, jobs/recheck-<engine>/, holding just the keywords it searches again.
bool RunSession::PrepareRecheckFolder(EngineRun& e) {
    JobInputs inputs;
    for (const ledger::RecheckKeyword& keyword : e.recheck)
        inputs.keywords.push_back(keyword.text);
    for (const ledger::UserUrl& url : e.urls)
        inputs.urls.push_back(url.text);
    try {
        e.jobFolder = PrepareJobFolder(folder_, RecheckFolderName(e.plugin.engine), inputs);
        if (gateway_) gateway_->WriteProxyFile(e.jobFolder);
        return true;
    } catch (const std::exception& error) {
        display_->Note(std::string("rankcheck: the recheck of ") + e.plugin.engine +
                       " could not begin: " + error.what() + "; nothing was searched");
        Worsen(RunVerdict::Refused);
        return false;
    }
}

// Loads the plug-in and starts its run, recording into a new check or the reopened one.
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
    RunSettings settings = e.settings;
    // A check killed before its first page was saved has no progress file: its run starts again
    // at the first keyword, within the same check. A recheck starts afresh in its own folder.
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
        fs::remove(e.jobFolder / jobfiles::ProgressFileName(engine), ec);
    }
    std::vector<std::string> keywords = inputs_.keywords;
    if (options_.recheck) {
        keywords.clear();
        for (const ledger::RecheckKeyword& keyword : e.recheck)
            keywords.push_back(keyword.text);
    }
    display_->BeginRun(engine, keywords, e.firstKeyword, settings.maxResults);
    e.run = std::make_unique<SearchRun>(*e.library, *display_);
    e.started = std::chrono::steady_clock::now();
    e.run->OnStarted = [this, &e] { BeginCheck(e); };
    e.run->OnStatus = [this, &e](const jobfiles::StatusLine& line) {
        if (e.recorder) e.recorder->OnStatusLine(line);
        HandleEvents(e);
    };
    if (e.run->Start(settings, &doorbell_)) {
        e.driving = true;
    } else {
        e.outcome = e.run->End();
    }
}

void RunSession::BeginCheck(EngineRun& e) {
    const std::string& engine = e.library->Engine();
    ledger::CheckInfo check;
    if (e.reopened) {
        ledger_->ReopenCheck(e.reopened->id,
                             options_.recheck ? ledger::Reopen::Recheck : ledger::Reopen::Resume);
        check = ledger_->Check(e.reopened->id);
    } else {
        // A check left running by a rankcheck that was killed: nobody runs it any more (this run
        // holds the folder), and this fresh run begins another: it is stopped as it is.
        if (auto stale = ledger_->LatestCheck(engine);
            stale && stale->state == ledger::CheckState::Running) {
            ledger_->EndCheck(stale->id, ledger::CheckState::Stopped, Now(),
                              "interrupted: its run ended without closing it");
        }
        ledger::CheckStart begin;
        begin.engine = engine;
        begin.startedAt = Now();
        begin.options = {e.settings.maxResults, e.settings.stopWhenAllFound, e.settings.exactMatch};
        begin.keywordsHash = inputs_.keywordsHash;
        begin.keywords = inputs_.keywords;
        begin.urls = urls_;
        e.urls = urls_;
        check = ledger_->Check(ledger_->BeginCheck(begin));
    }
    CheckRecorder::Job job{e.jobFolder};
    for (const ledger::RecheckKeyword& keyword : e.recheck)
        job.checkIndexes.push_back(keyword.index);
    e.recorder = std::make_unique<CheckRecorder>(*ledger_, check, job, e.urls, &Now);
    if (e.reopened && !options_.recheck) e.recorder->CatchUp(e.firstKeyword);
    if (options_.giveUpLimit > 0) {
        e.breaker = std::make_unique<GiveUpBreaker>(options_.giveUpLimit, engine,
                                                    static_cast<RunStop&>(*this));
        e.recorder->OnRecorded = [&e](int, const ledger::KeywordOutcome& outcome) {
            e.breaker->OnOutcome(outcome);
        };
    }
}

void RunSession::StopRun(const std::string& engine, const std::string& reason) {
    for (EngineRun& e : engines_) {
        if (!e.driving || e.stopReason || (!engine.empty() && e.library->Engine() != engine))
            continue;
        e.stopReason = reason;
    }
}

// Services the runs under way on this thread until each has finished.
void RunSession::Drive(std::vector<EngineRun*> running) {
    while (!running.empty()) {
        const uint64_t rung = doorbell_.Count();
        std::erase_if(running, [&](EngineRun* e) {
            if (e->stopReason) {
                e->run->Stop("rankcheck: stopping " + e->library->Engine() + " after the page " +
                             "under way has been saved: " + *e->stopReason);
            }
            if (e->run->Service(StopWanted())) return false;
            e->outcome = e->run->End();
            e->driving = false;
            return true;
        });
        display_->Tick();
        if (!running.empty()) doorbell_.WaitSince(rung, 100);
    }
}

std::pair<ledger::CheckState, std::string> RunSession::EndOf(const EngineRun& e) const {
    using ledger::CheckState;
    std::pair<CheckState, std::string> end{CheckState::Complete, ""};
    switch (e.outcome) {
        case RunOutcome::Completed:
            return end;
        case RunOutcome::Stopped:
            end = {CheckState::Stopped, e.stopReason.value_or(StopSignal::FirstInWords())};
            break;
        case RunOutcome::Failed:
        case RunOutcome::StartFailed:
            end = {CheckState::Failed, e.run ? e.run->Message() : ""};
            break;
    }
    // A recheck cut short leaves a complete check complete: every keyword was searched.
    if (options_.recheck && e.reopened && e.reopened->state == CheckState::Complete) {
        end = {CheckState::Complete, ""};
    }
    return end;
}

// The run is over: the keyword under way recorded, the check ended, its summary made.
void RunSession::Finish(EngineRun& e) {
    if (!e.library) {
        Worsen(RunVerdict::Refused);
        return;
    }
    const std::string& engine = e.library->Engine();
    HandleEvents(e);
    if (e.recorder) {
        const auto [state, reason] = EndOf(e);
        try {
            e.recorder->Finish(e.outcome == RunOutcome::Completed, state, reason);
            RecordUpstreams(e);
        } catch (const std::exception& error) {
            display_->Note(std::string("rankcheck: ") + engine + "'s check " +
                           std::to_string(e.recorder->Check().id) +
                           " could not be recorded whole: " + error.what());
            e.ledgerLost = true;
            Worsen(RunVerdict::Failed);
        }
        try {
            const ledger::CheckInfo check = ledger_->Check(e.recorder->Check().id);
            summaries_.push_back(Summary(e, check));
            if (check.state != ledger::CheckState::Complete) e.goOn = true;
            if (e.outcome == RunOutcome::Completed && check.KeywordsFailed() > 0) {
                Worsen(RunVerdict::KeywordsFailed);
            }
        } catch (const std::exception& error) {
            if (!e.ledgerLost) {
                display_->Note(std::string("rankcheck: the ledger could not be read: ") +
                               error.what());
            }
            e.ledgerLost = true;
            Worsen(RunVerdict::Failed);
        }
    }
    switch (e.outcome) {
        case RunOutcome::Completed:
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
            Worsen(e.stopReason ? RunVerdict::Halted : RunVerdict::Stopped);
            break;
    }
    // A check reopened or begun that could not be ended is still open: it goes on by a resume.
    if (e.ledgerLost || (e.outcome == RunOutcome::Failed && (e.reopened || e.recorder))) {
        e.goOn = true;
    }
}

// The summary of one engine's run: its check's state in the words every output uses, then on
// lines of their own the keywords trusted, the ranks in the top 10 and the time taken, and the
// keywords that failed.
std::string RunSession::Summary(const EngineRun& e, const ledger::CheckInfo& check) {
    const ledger::CheckDetail detail = ledger_->LoadCheck(check.id);
    const std::vector<ledger::KeywordOutcome> outcomes = ledger_->Outcomes(check.id);
    const int topTen = TopTenCount(*ledger_, check.id);
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::steady_clock::now() - e.started)
                                  .count();
    std::ostringstream line;
    line << check.engine << " (check " << check.id;
    if (options_.recheck)
        line << ", " << Keywords(static_cast<int>(e.recheck.size())) << " rechecked";
    line << "): " << ledger::StateWords(check, false).text << "\n  " << check.KeywordsTrusted()
         << " of " << Keywords(check.keywordsTotal) << " trusted; " << topTen
         << (topTen == 1 ? " rank" : " ranks") << " of your URLs in the top 10; " << seconds / 60
         << " min " << seconds % 60 << " s" << FailedKeywords(detail, outcomes) << UpstreamLines(e);
    return line.str();
}

// ---- summarise ----

RunVerdict RunSession::Summarise() {
    for (const std::string& summary : summaries_)
        display_->Note(WrapText("rankcheck: " + summary, OutputColumns(STDERR_FILENO), 4));
    std::vector<const EngineRun*> again;  // the engines to go on with, in order
    for (const EngineRun& e : engines_) {
        const bool notRun = !e.ran && !e.skipped && StopWanted();
        if (e.goOn || notRun) again.push_back(&e);
    }
    if (again.empty()) {
        if (!summaries_.empty()) {
            display_->Note(
                CommandHint("the ranks:",
                            ShellQuote(options_.program) + " report" +
                                (options_.dir == "." ? "" : " --dir " + ShellQuote(options_.dir))));
        }
        return verdict_;
    }
    // How to go on with each check left unfinished, and with the engines not run yet; never a
    // fresh run of an engine whose check is left unfinished.
    const Continue how = options_.recheck ? Continue::Recheck : Continue::Resume;
    std::vector<std::string> lines;
    const bool everyEngine =
        engines_.size() > 1 && again.size() == engines_.size() &&
        std::all_of(again.begin(), again.end(), [](const EngineRun* e) { return e->ran; });
    if (everyEngine) {
        lines.push_back(CommandLine(options_.engine, how));
    } else {
        for (const EngineRun* e : again) {
            const Continue next =
                e->ran || options_.settings.resume || options_.recheck ? how : Continue::Fresh;
            lines.push_back(CommandLine(e->argument, next));
        }
    }
    std::string hint =
        StopWanted() ? "rankcheck: stopped." : "rankcheck: not every check is finished.";
    hint += " To go on where it left off:";
    for (const std::string& line : lines)
        hint += "\n  " + line;
    display_->Note(hint);
    return verdict_;
}

void RunSession::Worsen(RunVerdict verdict) {
    verdict_ = std::max(verdict_, verdict);
}

std::string RunSession::CommandLine(const std::string& engine, Continue how) const {
    std::string line = ShellQuote(options_.program) + " run " + ShellQuote(engine);
    if (options_.dir != ".") line += " --dir " + ShellQuote(options_.dir);
    if (!options_.db.empty()) line += " --db " + ShellQuote(options_.db);
    if (!options_.pluginDir.empty()) line += " --plugin-dir " + ShellQuote(options_.pluginDir);
    if (options_.settings.maxResults != RunSettings{}.maxResults)
        line += " --max-results " + std::to_string(options_.settings.maxResults);
    if (options_.settings.stopWhenAllFound) line += " --stop-when-all-found";
    if (options_.settings.exactMatch) line += " --exact-match";
    if (options_.giveUpLimit != GiveUpBreaker::kDefaultLimit)
        line += " --give-up-limit " + std::to_string(options_.giveUpLimit);
    line += GatewayArguments();
    if (how == Continue::Resume) line += " --resume";
    if (how == Continue::Recheck) line += " --recheck";
    return line;
}

// The gateway options of the run, as the command line gives them.
std::string RunSession::GatewayArguments() const {
    const GatewaySettings& g = options_.gateway;
    if (!g.use) return " --no-gateway";
    std::string line;
    auto number = [](double seconds) {
        std::ostringstream text;
        text << seconds;
        return text.str();
    };
    if (!g.remote.empty()) line += " --gateway " + ShellQuote(g.remote);
    if (g.paceSeconds != GatewaySettings{}.paceSeconds) line += " --pace " + number(g.paceSeconds);
    if (g.timeoutSeconds != GatewaySettings{}.timeoutSeconds)
        line += " --timeout " + number(g.timeoutSeconds);
    if (g.suspendRateLimited) line += " --suspend-rate-limited " + number(*g.suspendRateLimited);
    if (g.suspendBlocked) line += " --suspend-blocked " + number(*g.suspendBlocked);
    if (g.suspendLongest) line += " --suspend-longest " + number(*g.suspendLongest);
    return line;
}

fs::path RunSession::ProgressFile(const std::string& engine) const {
    return runFolder_ / jobfiles::ProgressFileName(engine);
}

}  // namespace rankcheck
