// The commands of rankcheck behind its command line (rankcheck_main.cpp parses the options into
// these structs): `init`, which starts a project folder; `run`, which drives one or both plug-ins
// over the job files of a folder; and `report`, which prints where the user's URLs rank. Each
// returns the process's exit status and prints its own messages.
//
// Main thread only; `run` changes the process's current directory to the job folder.
#pragma once

#include <string>
#include <vector>

#include "host/search_run.h"

namespace rankcheck {

struct RunCommandOptions {
    std::string program = "rankcheck";  // as the user typed it, for the hints printed
    std::string engine;                 // quillon, verrin, all, or a library path
    RunSettings settings;
    std::string dir = ".";
    std::string pluginDir;  // empty: the folders of PluginFolders()
    bool preflight = true;  // reach the first hop of the requests before anything starts
    std::string db;         // the ledger; empty: rankcheck.db in `dir`
    bool sequential = false;  // with two engines: one after the other instead of both at once
};

// The exit status of a run that completed with keywords given up.
inline constexpr int kExitGivenUp = 3;

struct InitCommandOptions {
    std::string program = "rankcheck";
    std::string dir = ".";
    std::string proxy;              // HOST:PORT; empty: a direct connection
    std::string proxyUser;          // with a password from the terminal or proxyPasswordFile
    std::string proxyPasswordFile;  // its first line is the password
};

struct ReportCommandOptions {
    std::string dir = ".";
    std::string db;                // empty: rankcheck.db in `dir`
    std::string format = "table";  // table, csv, json, html
    std::string output;            // empty: standard output
    int top = 0;
    bool exactMatch = false;
    std::vector<std::string> engines{"Quillon", "Verrin"};
    long long check = 0;    // > 0: show this check
    long long compare = 0;  // > 0: compare with this check
};

struct HistoryCommandOptions {
    std::string dir = ".";
    std::string db;
    std::string format = "table";  // table, csv, json
    std::string output;
    std::string keyword;  // empty: every keyword
    std::string url;      // empty: every URL
    std::string engine;   // empty: both
    bool exactMatch = false;
};

struct ChecksCommandOptions {
    std::string dir = ".";
    std::string db;
    std::string format = "table";  // table, csv, json
    std::string output;
};

// 0: the three input files written; 2: bad options, or a file exists already (nothing written).
int InitCommand(const InitCommandOptions& options);
// 0: every run completed; 3: completed, keywords given up; 1: a run ended early through a
// failure; 2: a plug-in could not be loaded or started, or the folder, its lock or its ledger
// refused the run; 130: stopped by the user (a hint says how to resume). With two engines the
// worse outcome counts, in the order 2, 1, 3, 0.
int RunCommand(const RunCommandOptions& options);
// 0: report written; 2: there is no ledger with a check to report, a check named does not
// exist, or the output cannot be written.
int ReportCommand(const ReportCommandOptions& options);
// The rank of each URL in every check. 0, or 2 as for the report.
int HistoryCommand(const HistoryCommandOptions& options);
// One line per check. 0, or 2 as for the report.
int ChecksCommand(const ChecksCommandOptions& options);

// The engine word as the plug-ins spell it in their files and lines, from any case: "quillon" and
// "QUILLON" are "Quillon"; another engine gets a capital first letter.
std::string EngineName(const std::string& word);

// `word` as a shell reads it back: unchanged when it is plain, else in single quotes.
std::string ShellQuote(const std::string& word);

}  // namespace rankcheck
