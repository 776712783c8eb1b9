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
};

struct InitCommandOptions {
    std::string program = "rankcheck";
    std::string dir = ".";
    std::string proxy;              // HOST:PORT; empty: a direct connection
    std::string proxyUser;          // with a password from the terminal or proxyPasswordFile
    std::string proxyPasswordFile;  // its first line is the password
};

struct ReportCommandOptions {
    std::string dir = ".";
    std::string format = "table";  // table, csv, json, html
    std::string output;            // empty: standard output
    int top = 0;
    bool exactMatch = false;
    std::vector<std::string> engines{"Quillon", "Verrin"};
};

// 0: the three input files written; 2: bad options, or a file exists already (nothing written).
int InitCommand(const InitCommandOptions& options);
// 0: every run completed; 1: a run ended early through a failure; 2: a plug-in could not be
// loaded or started; 130: stopped by the user (a hint says how to resume).
int RunCommand(const RunCommandOptions& options);
// 0: report written; 2: the folder's files cannot be read or the output cannot be written.
int ReportCommand(const ReportCommandOptions& options);

// The engine word as the plug-ins spell it in their files and lines, from any case: "quillon" and
// "QUILLON" are "Quillon"; another engine gets a capital first letter.
std::string EngineName(const std::string& word);

// `word` as a shell reads it back: unchanged when it is plain, else in single quotes.
std::string ShellQuote(const std::string& word);

}  // namespace rankcheck
