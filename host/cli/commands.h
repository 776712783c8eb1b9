// The commands of rankcheck behind its command line (main.cpp declares the options into these
// structs and calls one command): `init` writes the input files of a new project folder;
// `run` (host/run/run_session.h) searches the keywords with the plug-ins and records each run in
// the folder's check ledger; `report`, `history` and `checks` read that ledger. Each prints its
// own messages and returns how it ended.
//
// Main thread only. No command changes the current directory (a run enters the job folder only
// while its plug-ins run there).
#pragma once

#include <string>
#include <vector>

#include "host/cli/exit_status.h"
#include "host/run/run_session.h"
#include "jobfiles/engine_table.h"

namespace rankcheck {

struct InitCommandOptions {
    std::string program = "rankcheck";
    std::string dir = ".";
    std::string proxy;              // HOST:PORT; empty: a direct connection
    bool direct = false;            // a direct connection, said explicitly
    std::string proxyUser;          // with a password from the terminal or proxyPasswordFile
    std::string proxyPasswordFile;  // its first line is the password
    std::string proxies;            // a proxies.lst to copy into the project (a pool)
};

// The folder and ledger options every reading command shares.
struct LedgerOptions {
    std::string dir = ".";
    std::string db;  // empty: rankcheck.db in `dir`
};

// Where and how a reading command writes.
struct OutputOptions {
    std::string format = "table";  // table, csv, json; html for the report
    std::string output;            // empty: standard output
};

struct ReportCommandOptions {
    LedgerOptions ledger;
    OutputOptions out;
    int top = 0;
    bool exactMatch = false;
    std::vector<std::string> engines = jobfiles::EngineNames();
    std::vector<std::string> check;    // ID or ENGINE=ID: show these checks
    std::string at;                    // YYYY-MM-DD: each engine's latest check by then
    std::vector<std::string> compare;  // ID or ENGINE=ID: compare with these checks
    bool changes = false;              // only what changed (ledger/change_alerts.h)
    int minChange = 1;                 // with `changes`: moves of at least this many places
};

struct HistoryCommandOptions {
    LedgerOptions ledger;
    OutputOptions out;
    std::string keyword;  // empty: every keyword
    std::string url;      // empty: every URL
    std::string engine;   // empty: every engine
    std::string at;       // YYYY-MM-DD: only the checks begun on or before that day
    bool exactMatch = false;
};

struct ChecksCommandOptions {
    LedgerOptions ledger;
    OutputOptions out;
    bool upstreams = false;  // the counts per upstream of the gateway instead
};

// Success: the three input files written, or in a folder that is a project already, with
// --proxy or --direct, proxy.def alone replaced (the old one kept as proxy.def.bak); Refused:
// bad options, or a file exists already (nothing written).
ExitStatus InitCommand(const InitCommandOptions& options);
// Success: report written (with `changes`: nothing at all when nothing changed); Refused: there is
// no ledger with a check to report, a check named does not exist, or the output cannot be written.
ExitStatus ReportCommand(const ReportCommandOptions& options);
// The rank of each URL in every check; as the report.
ExitStatus HistoryCommand(const HistoryCommandOptions& options);
// One line per check; as the report.
ExitStatus ChecksCommand(const ChecksCommandOptions& options);

}  // namespace rankcheck
