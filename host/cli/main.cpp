// rankcheck: the command-line host of the Quillon and Verrin search plug-ins. `init` starts a
// project folder, `run` searches its keywords with the plug-ins and records each run in the
// folder's check ledger, and `report`, `history` and `checks` show what the ledger holds. This
// file declares the command line and calls the command asked for; the commands are in
// commands.h (run: host/run/run_session.h).
#include <CLI/CLI.hpp>
#include <climits>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/cli/commands.h"
#include "host/cli/gateway_command.h"
#include "host/cli/help_formatter.h"
#include "host/cli/help_texts.h"
#include "host/report/text_table.h"
#include "host/run/stop_signal.h"

namespace rankcheck {
namespace {

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

// --dir and --db, as every command that works on a folder's ledger declares them.
void AddLedgerOptions(CLI::App* command, std::string& dir, std::string& db,
                      const std::string& dirHelp) {
    command->add_option("--dir", dir, dirHelp)
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    command->add_option("--db", db, "the check ledger (default: rankcheck.db in the --dir folder)");
}

// --format (one of `formats`) and --output.
void AddOutputOptions(CLI::App* command, OutputOptions& out,
                      const std::vector<std::string>& formats, const std::string& formatHelp,
                      const std::string& outputHelp) {
    command->add_option("--format", out.format, formatHelp)
        ->check(CLI::IsMember(formats))
        ->capture_default_str();
    command->add_option("--output,-o", out.output, outputHelp);
}

CLI::App* AddInit(CLI::App& app, InitCommandOptions& init) {
    CLI::App* command = app.add_subcommand(
        "init", "Start a project: write keywords.lst and urls.lst with an example, and proxy.def");
    command->add_option("--dir", init.dir, "the project folder (made when missing)")
        ->capture_default_str();
    CLI::Option* proxy =
        command->add_option("--proxy", init.proxy,
                            "HOST:PORT of an HTTP proxy to reach the engines through (default: a "
                            "direct connection); in a folder that is a project already, replaces "
                            "proxy.def alone (the old one kept as proxy.def.bak)");
    command
        ->add_flag("--direct", init.direct,
                   "a direct connection; in a folder that is a project already, replaces "
                   "proxy.def alone (the old one kept as proxy.def.bak)")
        ->excludes(proxy);
    command->add_option("--proxy-user", init.proxyUser,
                        "the proxy's user name; the password is asked for at the terminal");
    command->add_option("--proxy-password-file", init.proxyPasswordFile,
                        "read the proxy password from the first line of this file instead");
    command
        ->add_option("--proxies", init.proxies,
                     "a list of proxies, one a line (direct, http://[user:password@]host:port, "
                     "https://..., socks5://...), copied into the project as proxies.lst: the "
                     "runs go round them")
        ->check(CLI::ExistingFile);
    command->footer(kInitFooter);
    return command;
}

CLI::App* AddRun(CLI::App& app, RunOptions& run) {
    CLI::App* command = app.add_subcommand(
        "run", "Search the keywords of keywords.lst on an engine and record the result links");
    command
        ->add_option("engine", run.engine,
                     "quillon, verrin, all (both at the same time), the word of another "
                     "lib<word>.so in the plug-in folders, or the path of a plug-in library")
        ->required();
    command->add_flag("--quiet,-q", run.quiet,
                      "print only the summary and the errors: no status lines, no progress line");
    command->add_flag("--sequential", run.sequential,
                      "with all: run Quillon, then Verrin, instead of both at the same time");
    CLI::Option* resume = command->add_flag(
        "--resume", run.settings.resume,
        "go on with the engine's latest check where it was stopped, failed or interrupted "
        "(<Engine>.set and the result files), with the check's own URLs and options");
    command
        ->add_flag("--recheck", run.recheck,
                   "search again, inside the engine's latest check, its keywords given up, "
                   "suspect, partial or not searched (in jobs/recheck-<engine>/; with all, one "
                   "engine after the other)")
        ->excludes(resume);
    command
        ->add_option("--max-results", run.settings.maxResults,
                     "result positions examined per keyword (a whole page is always recorded)")
        ->check(CLI::Range(0, INT_MAX))
        ->capture_default_str();
    command
        ->add_option("--give-up-limit", run.giveUpLimit,
                     "stop the run when this many keywords in a row were given up or suspect "
                     "(the engine or the proxy is not answering); 0: never")
        ->check(CLI::Range(0, INT_MAX))
        ->capture_default_str();
    command->add_flag("--stop-when-all-found", run.settings.stopWhenAllFound,
                      "end a keyword as soon as every URL of urls.lst is among its results (or a "
                      "page repeats the one before)");
    command->add_flag("--exact-match", run.settings.exactMatch,
                      "with --stop-when-all-found: a URL must equal the whole link; by default it "
                      "may occur anywhere inside it");
    AddLedgerOptions(command, run.dir, run.db,
                     "the folder holding the job files; the plug-in works there");
    command->add_flag("!--no-preflight", run.preflight,
                      "start without first reaching the proxy of proxy.def (or, for a direct "
                      "connection, the engine's host) with a TCP connect");
    command
        ->add_option("--plugin-dir", run.pluginDir,
                     "the folder holding libquillon.so and libverrin.so (default: beside the "
                     "rankcheck binary, else ../lib/rankcheck from it as installed, else "
                     "../plugin from it as in the build tree)")
        ->check(CLI::ExistingDirectory);
    AddRunGatewayOptions(command, run.gateway);
    command->footer(kRunFooter);
    return command;
}

CLI::App* AddReport(CLI::App& app, ReportCommandOptions& report) {
    CLI::App* command = app.add_subcommand(
        "report", "Show where the URLs of urls.lst rank for each keyword on each engine");
    AddLedgerOptions(command, report.ledger.dir, report.ledger.db,
                     "the folder holding the job files");
    AddOutputOptions(command, report.out, {"table", "csv", "json", "html"},
                     "table (aligned text), csv, json, or html (one self-contained page with the "
                     "table coloured by rank band and a chart per URL)",
                     "write the report to this file instead of standard output");
    command->add_option("--check", report.check,
                        "show this check instead of the engine's latest: its id (see `rankcheck "
                        "checks`) or ENGINE=ID, once per engine (--check quillon=12 --check "
                        "verrin=13); without --at only the engines named are shown");
    command->add_option("--at", report.at,
                        "YYYY-MM-DD: show each engine's latest check begun on or before that day "
                        "(UTC)");
    command->add_option("--compare", report.compare,
                        "compare with this check instead of the engine's previous complete "
                        "check: its id or ENGINE=ID, once per engine");
    command->add_option("--top", report.top, "count positions beyond N as not found")
        ->check(CLI::Range(1, INT_MAX));
    command->add_flag("--exact-match", report.exactMatch,
                      "a URL must equal the whole link; by default it may occur anywhere inside "
                      "it (case is ignored either way)");
    CLI::Option* changes = command->add_flag(
        "--changes", report.changes,
        "only what changed: ranks moved, new and lost, then the keywords that could not be "
        "checked; nothing at all when nothing changed (for cron)");
    command
        ->add_option("--min-change", report.minChange,
                     "with --changes: moves of at least this many places")
        ->check(CLI::Range(1, INT_MAX))
        ->needs(changes)
        ->capture_default_str();
    command
        ->add_option("--engines", report.engines,
                     "the engines to show, by the file names of their results (<Engine>-<i>.urls)")
        ->delimiter(',')
        ->capture_default_str();
    command->footer(kReportFooter);
    return command;
}

CLI::App* AddHistory(CLI::App& app, HistoryCommandOptions& history) {
    CLI::App* command =
        app.add_subcommand("history", "Show the rank of each URL in every check, oldest first");
    AddLedgerOptions(command, history.ledger.dir, history.ledger.db, "the folder of the checks");
    command->add_option("--keyword", history.keyword, "only this keyword (its exact text)");
    command->add_option("--url", history.url, "only this URL of urls.lst");
    command->add_option("--engine", history.engine, "only this engine (quillon, verrin)");
    command->add_option("--at", history.at,
                        "YYYY-MM-DD: only the checks begun on or before that day (UTC)");
    command->add_flag("--exact-match", history.exactMatch, "a URL must equal the whole link");
    AddOutputOptions(command, history.out, {"table", "csv", "json"},
                     "table, or csv (engine, check_id, checked_at, keyword, url, rank, status), or json",
                     "write to this file instead of standard output");
    return command;
}

CLI::App* AddChecks(CLI::App& app, ChecksCommandOptions& checks) {
    CLI::App* command =
        app.add_subcommand("checks", "List the checks of the ledger, one line per check");
    AddLedgerOptions(command, checks.ledger.dir, checks.ledger.db, "the folder of the checks");
    AddOutputOptions(command, checks.out, {"table", "csv", "json"}, "table, csv or json",
                     "write to this file instead of standard output");
    command->add_flag("--upstreams", checks.upstreams,
                      "per check, what each upstream of the gateway carried: requests, pages, "
                      "blocks, failures and the median time of a request");
    return command;
}

// `rankcheck help [COMMAND]`.
ExitStatus Help(CLI::App& app, const std::string& topic) {
    if (topic.empty()) {
        app.clear();  // the help of rankcheck itself, not of its help command
        std::cout << app.help();
        return ExitStatus::Success;
    }
    const CLI::App* command = FindCommand(app, topic);
    if (command == nullptr) {
        std::cerr << "rankcheck: unknown command \"" << topic << "\"; the commands are "
                  << CommandNames(app) << '\n';
        return ExitStatus::Refused;
    }
    std::cout << command->help();
    return ExitStatus::Success;
}

ExitStatus Main(int argc, char** argv) {
    CLI::App app{
        "rankcheck: runs the Quillon and Verrin search plug-ins over your keywords and reports "
        "where your URLs rank.",
        "rankcheck"};
    // Set before the commands are added: they take the main command's formatter.
    app.formatter(std::make_shared<HelpFormatter>(OutputColumns(STDOUT_FILENO)));
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "rankcheck 0.1");
    app.footer(kMainFooter);
    const std::string program = argv[0] != nullptr ? argv[0] : "rankcheck";

    InitCommandOptions init;
    init.program = program;
    RunOptions run;
    run.program = program;
    ReportCommandOptions report;
    HistoryCommandOptions history;
    ChecksCommandOptions checks;
    std::string helpTopic;
    CLI::App* initCommand = AddInit(app, init);
    CLI::App* runCommand = AddRun(app, run);
    CLI::App* reportCommand = AddReport(app, report);
    CLI::App* historyCommand = AddHistory(app, history);
    CLI::App* checksCommand = AddChecks(app, checks);
    GatewayCommandOptions gatewayOptions;
    CLI::App* gatewayCommand = AddGatewayCommand(app, gatewayOptions);
    CLI::App* helpCommand = app.add_subcommand("help", "Describe rankcheck or one of its commands");
    helpCommand->add_option("command", helpTopic, "the command to describe");

    // A word where the command belongs that names none: say which there are.
    if (argc > 1 && argv[1][0] != '-' && FindCommand(app, argv[1]) == nullptr) {
        std::cerr << "rankcheck: unknown command \"" << argv[1] << "\"; the commands are "
                  << CommandNames(app) << " (rankcheck --help describes them)\n";
        return ExitStatus::Refused;
    }
    // A password typed on the command line by a guess at an option rankcheck does not have: the
    // parser's message would repeat it, so it is refused here, without repeating it.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--proxy-password" || argument.rfind("--proxy-password=", 0) == 0) {
            std::cerr << "rankcheck: there is no --proxy-password: a password on the command line "
                         "shows in the process list and the shell history (what was given is not "
                         "repeated here); give it with --proxy-password-file FILE, or type it when "
                         "init asks for it\n";
            return ExitStatus::Refused;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitStatus::Success : ExitStatus::Refused;
    }
    if (initCommand->parsed()) return InitCommand(init);
    if (runCommand->parsed()) {
        run.given = {runCommand->count("--max-results") > 0,
                     runCommand->count("--stop-when-all-found") > 0,
                     runCommand->count("--exact-match") > 0};
        const RunVerdict verdict = RunSession(run).Run();
        return ExitStatusOf(verdict, StopSignal::First());
    }
    if (reportCommand->parsed()) return ReportCommand(report);
    if (historyCommand->parsed()) return HistoryCommand(history);
    if (checksCommand->parsed()) return ChecksCommand(checks);
    if (gatewayCommand->parsed()) return GatewayCommand(gatewayOptions);
    if (helpCommand->parsed()) return Help(app, helpTopic);
    std::cerr << app.help() << "\nrankcheck: a command is needed: " << CommandNames(app) << '\n';
    return ExitStatus::Refused;
}

}  // namespace
}  // namespace rankcheck

int main(int argc, char** argv) {
    return static_cast<int>(rankcheck::Main(argc, argv));
}
