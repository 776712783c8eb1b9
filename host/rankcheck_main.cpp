// rankcheck: the command-line host of the Quillon and Verrin search plug-ins. `run` loads a
// plug-in and drives a search run over the job files of a folder; `report` shows where the
// user's URLs rank in the result files. This file holds the command line only; the commands are
// in commands.cpp.
#include <CLI/CLI.hpp>
#include <climits>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "host/commands.h"

namespace {

const char kFiles[] = R"(
Files in the working folder (--dir), lines ending in CR LF:
  keywords.lst        the keywords, one per line (at most 500)
  urls.lst            your own URLs, one per line (matched case-insensitively)
  proxy.def           "0" for a direct connection, or: a line other than "0"; "1" if the
                      proxy needs a user name and password, else "0"; host; port;
                      [user; password]
  <Engine>-<i>.urls   written: the result links of keyword i, line n = position n
                      (a line like "3#Error found#" marks a keyword given up at page 3)
  <Engine>.set        written: the progress a --resume continues from
  <Engine>.start      written: the first-page request URL of each keyword
<Engine> is Quillon or Verrin.)";

std::vector<const CLI::App*> Commands(const CLI::App& app) {
    return app.get_subcommands(std::function<bool(const CLI::App*)>());
}

// The command called `name`, or null.
const CLI::App* FindCommand(const CLI::App& app, const std::string& name) {
    for (const CLI::App* command : Commands(app)) {
        if (command->check_name(name)) return command;
    }
    return nullptr;
}

// "init, run, report and help".
std::string CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : Commands(app))
        names.push_back(command->get_name());
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "rankcheck: runs the Quillon and Verrin search plug-ins over your keywords and "
        "reports where your URLs rank.",
        "rankcheck"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "rankcheck 0.1");
    app.footer(std::string("Run `rankcheck help COMMAND` or `rankcheck COMMAND --help` for the "
                           "options of a command; start a project with `rankcheck init`.\n") +
               kFiles);

    rankcheck::InitCommandOptions init;
    init.program = argv[0] != nullptr ? argv[0] : "rankcheck";
    CLI::App* initCommand = app.add_subcommand(
        "init", "Start a project: write keywords.lst and urls.lst with an example, and proxy.def");
    initCommand->add_option("--dir", init.dir, "the project folder (made when missing)")
        ->capture_default_str();
    initCommand->add_option("--proxy", init.proxy,
                            "HOST:PORT of an HTTP proxy to reach the engines through (default: "
                            "a direct connection)");
    initCommand->add_option("--proxy-user", init.proxyUser,
                            "the proxy's user name; the password is asked for at the terminal");
    initCommand->add_option("--proxy-password-file", init.proxyPasswordFile,
                            "read the proxy password from the first line of this file instead");
    initCommand->footer(R"(
An existing file is never overwritten: init then writes nothing and exits with status 2.)");


    rankcheck::RunCommandOptions run;
    run.program = argv[0] != nullptr ? argv[0] : "rankcheck";
    CLI::App* runCommand = app.add_subcommand(
        "run", "Search the keywords of keywords.lst on an engine and record the result links");
    runCommand
        ->add_option("engine", run.engine,
                     "quillon, verrin, all (both at the same time), the word of another "
                     "lib<word>.so in the plug-in folders, or the path of a plug-in library")
        ->required();
    runCommand->add_flag("--sequential", run.sequential,
                         "with all: run Quillon, then Verrin, instead of both at the same time");
    runCommand->add_flag("--resume", run.settings.resume,
                         "continue from the saved progress (<Engine>.set and the result files) "
                         "instead of starting at the first keyword");
    runCommand
        ->add_option("--max-results", run.settings.maxResults,
                     "result positions examined per keyword (a whole page is always recorded)")
        ->check(CLI::Range(0, INT_MAX))
        ->capture_default_str();
    runCommand->add_flag("--stop-when-all-found", run.settings.stopWhenAllFound,
                         "end a keyword as soon as every URL of urls.lst is among its results "
                         "(or a page repeats the one before)");
    runCommand->add_flag("--exact-match", run.settings.exactMatch,
                         "with --stop-when-all-found: a URL must equal the whole link; by "
                         "default it may occur anywhere inside it");
    runCommand
        ->add_option("--dir", run.dir,
                     "the folder holding the job files; the plug-in works "
                     "there")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    runCommand->add_option("--db", run.db,
                           "the check ledger (default: rankcheck.db in the --dir folder)");
    runCommand->add_flag("!--no-preflight", run.preflight,
                         "start without first reaching the proxy of proxy.def (or, for a direct "
                         "connection, the engine's host) with a TCP connect");
    runCommand
        ->add_option("--plugin-dir", run.pluginDir,
                     "the folder holding libquillon.so and libverrin.so (default: beside the "
                     "rankcheck binary, else ../lib/rankcheck from it as installed, else "
                     "../plugin from it as in the build tree)")
        ->check(CLI::ExistingDirectory);
    runCommand->footer(R"(
Each status line of the plug-in is printed as it arrives, oldest first. On a terminal a
progress line (keyword i of n, the keyword, its positions so far, the time taken) follows
them; piped output holds the status lines only.

Each run of an engine is one check in the ledger (rankcheck.db, or --db): every keyword is
recorded there as it completes. --resume goes on with the engine's latest check when it was
stopped, failed or killed, and refuses when keywords.lst has changed since it began. Only one
run works in a folder at a time (the lock file rankcheck.lock names its PID).

Ctrl-C stops the run after the page under way has been saved, and rankcheck prints the
command that resumes it. A second Ctrl-C quits at once; the job files stay whole.

Exit status: 0 every run completed; 3 completed, keywords given up (the summary names them);
1 a run ended early through a failure (a "Search on <Engine> stopped:" line, or no closing
line); 2 bad arguments, an unreachable proxy or engine host, another run in the folder, a
--resume with nothing to resume or with changed keywords, or a plug-in that could not be
loaded or started (its message names the file and line); 130 stopped with Ctrl-C.)");

    rankcheck::ReportCommandOptions report;
    CLI::App* reportCommand = app.add_subcommand(
        "report", "Show where the URLs of urls.lst rank for each keyword on each engine");
    reportCommand->add_option("--dir", report.dir, "the folder holding the job files")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    reportCommand
        ->add_option("--format", report.format,
                     "table (aligned text), csv, json, or html (one self-contained page with "
                     "the table coloured by rank band and a chart per URL)")
        ->check(CLI::IsMember({"table", "csv", "json", "html"}))
        ->capture_default_str();
    reportCommand->add_option("--db", report.db,
                              "the check ledger (default: rankcheck.db in the --dir folder)");
    reportCommand->add_option("--check", report.check,
                              "show this check (its id, see `rankcheck checks`) instead of each "
                              "engine's latest")
        ->check(CLI::PositiveNumber);
    reportCommand->add_option("--compare", report.compare,
                              "compare with this check instead of the engine's previous complete "
                              "check")
        ->check(CLI::PositiveNumber);
    reportCommand->add_option("--output,-o", report.output,
                              "write the report to this file instead of standard output");
    reportCommand->add_option("--top", report.top, "count positions beyond N as not found")
        ->check(CLI::Range(1, INT_MAX));
    reportCommand->add_flag("--exact-match", report.exactMatch,
                            "a URL must equal the whole link; by default it may occur anywhere "
                            "inside it (case is ignored either way)");
    reportCommand
        ->add_option("--engines", report.engines,
                     "the engines to show, by the file names of their results (<Engine>-<i>.urls)")
        ->delimiter(',')
        ->capture_default_str();
    reportCommand->footer(R"TXT(
The report is read from the check ledger (rankcheck.db), which every `rankcheck run` writes:
each engine's latest check, compared with its previous complete check. Each cell is the best
(first) position of the URL among the keyword's results, with the change since the compared
check (up 3, down 2, new, lost), or: "-" (not found among every position requested),
"partial (30 of 100)" (the check examined fewer positions), "error" (the engine gave the
keyword up; with the last known rank and its date) or "not searched" (the check did not
reach the keyword). Keywords are followed by their text, whatever their line in keywords.lst.
URLs match with or without http:// or https://, ignoring case, with blanks and one trailing
"/" dropped; www. counts.

CSV and JSON: one record per keyword, URL and engine with keyword, url, engine, rank, status
(ranked, not_found, partial, error, not_searched), previous_rank, change (previous_rank -
rank, new, lost or empty), check_id and checked_at (the check's start, UTC).

A folder searched before it had a ledger is imported once, as a check marked imported.

Exit status: 0 report written; 2 bad arguments, no ledger or no such check, or the output
cannot be written.)TXT");

    rankcheck::HistoryCommandOptions history;
    CLI::App* historyCommand = app.add_subcommand(
        "history", "Show the rank of each URL in every check, oldest first");
    historyCommand->add_option("--dir", history.dir, "the folder of the checks")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    historyCommand->add_option("--db", history.db,
                               "the check ledger (default: rankcheck.db in the --dir folder)");
    historyCommand->add_option("--keyword", history.keyword, "only this keyword (its exact text)");
    historyCommand->add_option("--url", history.url, "only this URL of urls.lst");
    historyCommand->add_option("--engine", history.engine, "only this engine (quillon, verrin)");
    historyCommand->add_flag("--exact-match", history.exactMatch,
                             "a URL must equal the whole link");
    historyCommand
        ->add_option("--format", history.format,
                     "table, or csv (engine,check_id,checked_at,keyword,url,rank,status), or json")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->capture_default_str();
    historyCommand->add_option("--output,-o", history.output,
                               "write to this file instead of standard output");

    rankcheck::ChecksCommandOptions checks;
    CLI::App* checksCommand =
        app.add_subcommand("checks", "List the checks of the ledger, one line per check");
    checksCommand->add_option("--dir", checks.dir, "the folder of the checks")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    checksCommand->add_option("--db", checks.db,
                              "the check ledger (default: rankcheck.db in the --dir folder)");
    checksCommand
        ->add_option("--format", checks.format, "table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->capture_default_str();
    checksCommand->add_option("--output,-o", checks.output,
                              "write to this file instead of standard output");

    std::string helpTopic;
    CLI::App* helpCommand = app.add_subcommand("help", "Describe rankcheck or one of its commands");
    helpCommand->add_option("command", helpTopic, "the command to describe");

    // A word where the command belongs that names none: say which there are.
    if (argc > 1 && argv[1][0] != '-' && FindCommand(app, argv[1]) == nullptr) {
        std::cerr << "rankcheck: unknown command \"" << argv[1] << "\"; the commands are "
                  << CommandNames(app) << " (rankcheck --help describes them)\n";
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (initCommand->parsed()) return rankcheck::InitCommand(init);
    if (runCommand->parsed()) return rankcheck::RunCommand(run);
    if (reportCommand->parsed()) return rankcheck::ReportCommand(report);
    if (historyCommand->parsed()) return rankcheck::HistoryCommand(history);
    if (checksCommand->parsed()) return rankcheck::ChecksCommand(checks);
    if (helpCommand->parsed() && !helpTopic.empty()) {
        const CLI::App* topic = FindCommand(app, helpTopic);
        if (topic == nullptr) {
            std::cerr << "rankcheck: unknown command \"" << helpTopic << "\"; the commands are "
                      << CommandNames(app) << '\n';
            return 2;
        }
        std::cout << topic->help();
        return 0;
    }
    if (helpCommand->parsed()) {
        app.clear();  // the help of rankcheck itself, not of its help command
        std::cout << app.help();
        return 0;
    }
    std::cerr << app.help() << "\nrankcheck: a command is needed: " << CommandNames(app) << '\n';
    return 2;
}
