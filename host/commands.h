// The two commands of rankcheck behind its command line (rankcheck_main.cpp parses the options
// into these structs): `run`, which drives one or both plug-ins over the job files of a folder,
// and `report`, which reads the result files and prints where the user's URLs rank. Each returns
// the process's exit status and prints its own messages.
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
    std::string pluginDir;  // empty: DefaultPluginDir()
};

struct ReportCommandOptions {
    std::string dir = ".";
    std::string format = "table";  // table, csv, json, html
    std::string output;            // empty: standard output
    int top = 0;
    bool exactMatch = false;
    std::vector<std::string> engines{"Quillon", "Verrin"};
};

// 0: every run completed; 1: a run ended early through a failure; 2: a plug-in could not be
// loaded or started; 130: stopped by the user (a hint says how to resume).
int RunCommand(const RunCommandOptions& options);
// 0: report written; 2: the folder's files cannot be read or the output cannot be written.
int ReportCommand(const ReportCommandOptions& options);

}  // namespace rankcheck
