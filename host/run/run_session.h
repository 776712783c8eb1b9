// RunSession: one `rankcheck run`, the plug-ins of one or two engines over the job files of a
// folder, each engine's run recorded in the check ledger as one check, keyword by keyword. Its
// steps, in order:
//   prepare    resolve the plug-ins, read the input files once (an empty keywords.lst is
//              refused), make sure the folder and the ledger can be written, warn about the
//              inputs, reach the first hop of the requests (preflight), take the folder lock,
//              open the ledger (importing an older folder once) and decide what a --resume or a
//              --recheck goes on with: the check's own URLs and options, or a refusal naming
//              what differs
//   start      per engine: load the plug-in and start its run in its job folder (the project
//              folder; a recheck: jobs/recheck-<engine>/ with just the keywords to search
//              again), recording into a new check or the reopened one
//   drive      service the runs under way on this thread until each has finished; a stop
//              signal, or a stop with a reason (RunStop: the give-up breaker), asks them to stop
//   finish     per engine: record the keyword under way, end the check (complete, stopped with
//              its reason, failed), make its summary
//   summarise  print the summaries and, for every check left unfinished, how to go on
// Two engines run at the same time unless the options say one after the other; a recheck runs
// them one after the other (each in a job folder of its own, and the current directory is the
// process's).
//
// Owned by the command line for one command; main thread only. The folder is named explicitly
// to everything that reads it; the current directory is a job folder only while plug-ins run
// (their job files are relative names).
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/run/folder_inputs.h"
#include "host/run/folder_lock.h"
#include "host/run/give_up_breaker.h"
#include "host/run/progress_display.h"
#include "host/run/run_gateway.h"
#include "host/run/run_stop.h"
#include "host/run/search_run.h"
#include "hostkit/doorbell.h"
#include "hostkit/plugin_library.h"
#include "ledger/ledger.h"

namespace rankcheck {

class CheckRecorder;

struct RunOptions {
    std::string program = "rankcheck";  // as the user typed it, for the hints printed
    std::string engine;                 // quillon, verrin, all, or a library path
    RunSettings settings;
    // Which of the settings the user gave: a resumed or rechecked check takes its own for the
    // others, and refuses those given that differ from its own.
    struct Given {
        bool maxResults = false;
        bool stopWhenAllFound = false;
        bool exactMatch = false;
    } given;
    // Search again, inside the latest check of each engine, its keywords without a trusted
    // outcome (given up, suspect, partial, not searched).
    bool recheck = false;
    // Stop when this many keywords in a row failed (given up or suspect); 0: never.
    int giveUpLimit = GiveUpBreaker::kDefaultLimit;
    std::string dir = ".";
    std::string pluginDir;    // empty: the default plug-in folders
    bool preflight = true;    // reach the first hop of the requests before anything starts
    std::string db;           // the ledger; empty: rankcheck.db in `dir`
    bool sequential = false;  // with two engines: one after the other instead of both at once
    bool quiet = false;       // no status lines and no progress display: the summary and errors
    GatewaySettings gateway;  // how the plug-ins' requests go out (run_gateway.h)
};

// How a whole run ended; with two engines the worse counts, in the order of the values (the
// last is the worst).
enum class RunVerdict {
    Completed,       // every keyword of every check trusted
    KeywordsFailed,  // complete, with keywords given up or suspect (the summary names them)
    Halted,          // stopped with a reason of rankcheck's own (the breaker): resumable
    Failed,          // a run ended early through a failure, or the ledger could not be written
    Refused,         // bad arguments or inputs, the folder, its lock, its ledger, the preflight,
                     // a --resume or --recheck refused the run, or a plug-in could not be
                     // loaded or started
    Stopped,         // stopped by a signal (StopSignal::First says which)
};

class RunSession : private RunStop {
  public:
    explicit RunSession(RunOptions options);
    ~RunSession() override;
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Every step; messages go to standard error, the status lines to standard output.
    RunVerdict Run();

  private:
    // What a run of an engine does to go on.
    enum class Continue { Fresh, Resume, Recheck };

    // One engine's part of the run.
    struct EngineRun {
        hostkit::PluginRef plugin;
        std::string argument;  // as the user named the engine
        RunSettings settings;  // the user's, or those of the check it goes on with
        // The check a --resume or --recheck goes on with, and what a recheck searches again.
        std::optional<ledger::CheckInfo> reopened;
        std::vector<ledger::RecheckKeyword> recheck;
        std::vector<ledger::UserUrl> urls;  // the check's URLs (a new check: the folder's)
        bool fromProgress = false;  // the plug-in resumes from the progress file (else keyword 1)
        bool skipped = false;       // `all`: nothing to resume or recheck on this engine
        std::filesystem::path jobFolder;  // where its plug-in works

        // While it runs, on the main thread.
        std::unique_ptr<hostkit::PluginLibrary> library;
        std::unique_ptr<SearchRun> run;
        std::unique_ptr<CheckRecorder> recorder;
        std::unique_ptr<GiveUpBreaker> breaker;
        std::optional<std::string> stopReason;  // a stop with a reason asked for (RunStop)
        int firstKeyword = 0;
        std::chrono::steady_clock::time_point started;
        RunOutcome outcome = RunOutcome::Completed;
        bool ran = false;         // started (or tried to)
        bool driving = false;     // its plug-in runs
        bool goOn = false;        // its check was left unfinished: the summary says how to go on
        bool ledgerLost = false;  // the check could not be ended in the ledger
    };

    // prepare: false when the run is refused (the reason printed).
    bool Prepare();
    bool ResolvePlugins();
    bool CheckKeywordsFile();
    bool CheckWritable();
    bool CheckInputs(const std::vector<hostkit::PluginRef>& plugins);
    bool PreflightPool(const std::vector<hostkit::PluginRef>& plugins);
    bool OpenLedger();
    // The gateway and the job folder the plug-ins work in (without a gateway: the project
    // folder); false when the run is refused.
    bool OpenGateway();
    bool PrepareRunFolder();
    // The gateway's events since the last status line: those of `e`'s engine printed as its
    // cause lines, a NoUpstreamLeft stopping the run.
    void HandleEvents(EngineRun& e);
    // "  through 10.0.0.5:3128: 40 requests, 38 pages, ..." per upstream of `e`'s run.
    std::string UpstreamLines(const EngineRun& e);
    // The same counts into the ledger, with the check.
    void RecordUpstreams(const EngineRun& e);
    // What each engine goes on with; false when the run is refused.
    bool DecideContinuations();
    // Whether `e` has a check to go on with (false: nothing, `why` says so); raises nothing.
    bool FindResumable(EngineRun& e, std::string& why);
    bool FindRecheck(EngineRun& e, std::string& why);
    // The check's own inputs against the folder's; false (the reason printed) when they differ.
    bool SameInputs(EngineRun& e, const char* going);

    // The engines of `group` in `folder`, started together and driven until each has ended.
    void RunInFolder(const std::vector<EngineRun*>& group, const std::filesystem::path& folder);
    bool PrepareRecheckFolder(EngineRun& e);
    void Start(EngineRun& e);
    void BeginCheck(EngineRun& e);  // once the plug-in has started
    void Drive(std::vector<EngineRun*> running);
    void Finish(EngineRun& e);
    // The state and reason the check of `e` ends with.
    std::pair<ledger::CheckState, std::string> EndOf(const EngineRun& e) const;
    std::string Summary(const EngineRun& e, const ledger::CheckInfo& check);
    RunVerdict Summarise();

    void StopRun(const std::string& engine, const std::string& reason) override;
    void Worsen(RunVerdict verdict);
    // The command line that runs `engine` again with the user's settings.
    std::string CommandLine(const std::string& engine, Continue how) const;
    std::string GatewayArguments() const;
    std::filesystem::path ProgressFile(const std::string& engine) const;

    const RunOptions options_;
    std::filesystem::path folder_;  // the project folder, absolute
    std::filesystem::path dbPath_;
    std::vector<EngineRun> engines_;
    FolderInputs inputs_;
    std::vector<ledger::UserUrl> urls_;
    std::unique_ptr<FolderLock> lock_;
    std::unique_ptr<ledger::Ledger> ledger_;
    jobfiles::ProxySettings userProxy_;  // the project's proxy.def
    std::unique_ptr<RunGateway> gateway_;
    std::filesystem::path runFolder_;  // where the plug-ins work: jobs/run, or the project folder
    // Gateway events taken but not yet printed, by engine (display name; "" for notices).
    std::map<std::string, std::vector<gateway::Event>> pendingEvents_;
    std::unique_ptr<ProgressDisplay> display_;
    hostkit::Doorbell doorbell_;
    RunVerdict verdict_ = RunVerdict::Completed;
    bool nothingToDo_ = false;  // a recheck found every keyword trusted
    std::vector<std::string> summaries_;
};

}  // namespace rankcheck
