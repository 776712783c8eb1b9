// RunSession: one `rankcheck run`, the plug-ins of one or two engines over the job files of a
// folder, each engine's run recorded in the check ledger as one check, keyword by keyword. Its
// steps, in order:
//   prepare    resolve the plug-ins, read the input files once, make sure the folder and the
//              ledger can be written, warn about the inputs, reach the first hop of the requests
//              (preflight), take the folder lock, open the ledger (importing an older folder
//              once) and decide what a --resume goes on with
//   start      per engine: load the plug-in and start its run in the job folder, recording into
//              a new check or the resumed one
//   drive      service the runs under way on this thread until each has finished
//   finish     per engine: record the keyword under way, end the check, make its summary
//   summarise  print the summaries and the command that resumes a stopped run
// Two engines run at the same time unless the options say one after the other.
//
// Owned by the command line for one command; main thread only. The folder is named explicitly
// to everything that reads it; the current directory is the job folder only while plug-ins run
// (their job files are relative names).
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/run/folder_inputs.h"
#include "host/run/folder_lock.h"
#include "host/run/progress_display.h"
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
    std::string dir = ".";
    std::string pluginDir;    // empty: the default plug-in folders
    bool preflight = true;    // reach the first hop of the requests before anything starts
    std::string db;           // the ledger; empty: rankcheck.db in `dir`
    bool sequential = false;  // with two engines: one after the other instead of both at once
};

// How a whole run ended; with two engines the worse counts, in the order Refused, Failed,
// KeywordsGivenUp, Completed, and Stopped before all of them.
enum class RunVerdict {
    Completed,        // every run completed
    KeywordsGivenUp,  // completed, keywords given up (the summary names them)
    Failed,           // a run ended early through a failure, or the ledger could not be written
    Refused,          // bad arguments, the folder, its lock, its ledger, the preflight or a
                      // --resume refused the run, or a plug-in could not be loaded or started
    Stopped,          // stopped by the user (a hint says how to resume)
};

class RunSession {
  public:
    explicit RunSession(RunOptions options);
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Every step; messages go to standard error, the status lines to standard output.
    RunVerdict Run();

  private:
    // One engine's part of the run.
    struct EngineRun {
        hostkit::PluginRef plugin;
        std::string argument;                      // as the user named the engine
        std::optional<ledger::CheckInfo> resumed;  // the check a --resume goes on with
        bool fromProgress = false;  // the plug-in resumes from the progress file (else keyword 1)

        // While it runs, on the main thread.
        std::unique_ptr<hostkit::PluginLibrary> library;
        std::unique_ptr<SearchRun> run;
        std::unique_ptr<CheckRecorder> recorder;
        int firstKeyword = 0;
        std::chrono::steady_clock::time_point started;
        RunOutcome outcome = RunOutcome::Completed;
        bool ran = false;  // started (or tried to)
    };

    // prepare: false when the run is refused (the reason printed).
    bool Prepare();
    bool ResolvePlugins();
    bool CheckWritable();
    bool CheckInputs(const std::vector<hostkit::PluginRef>& plugins);
    bool OpenLedger();
    bool DecideResume(EngineRun& e);

    void Start(EngineRun& e);
    void BeginCheck(EngineRun& e);  // once the plug-in has started
    void Drive(std::vector<EngineRun*> running);
    void Finish(EngineRun& e);
    RunVerdict Summarise();

    void Worsen(RunVerdict verdict);
    // The command line that runs `engine` again with the user's settings.
    std::string CommandLine(const std::string& engine, bool resume) const;
    std::filesystem::path ProgressFile(const std::string& engine) const;

    const RunOptions options_;
    std::filesystem::path folder_;  // the job folder, absolute
    std::filesystem::path dbPath_;
    std::vector<EngineRun> engines_;
    FolderInputs inputs_;
    std::vector<ledger::UserUrl> urls_;
    std::unique_ptr<FolderLock> lock_;
    std::unique_ptr<ledger::Ledger> ledger_;
    std::unique_ptr<ProgressDisplay> display_;
    hostkit::Doorbell doorbell_;
    RunVerdict verdict_ = RunVerdict::Completed;
    std::vector<std::string> summaries_;
};

}  // namespace rankcheck
