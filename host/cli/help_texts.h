// The longer help texts of rankcheck's command line: what `rankcheck --help` and each
// command's --help print below the options.
//
// Constant text; any thread.
#pragma once

namespace rankcheck {

inline constexpr char kMainFooter[] =
    "Run `rankcheck help COMMAND` or `rankcheck COMMAND --help` for the options of a command; "
    "start a project with `rankcheck init`.\n"
    R"(
Files in the project folder (--dir), lines ending in CR LF:
  keywords.lst        the keywords, one per line (at most 500)
  urls.lst            your own URLs, one per line (matched case-insensitively)
  proxy.def           "0" for a direct connection, or: a line other than "0"; "1" if the
                      proxy needs a user name and password, else "0"; host; port;
                      [user; password]
  proxies.lst         optional: the gateway's upstreams, one a line (direct,
                      http://[user:password@]host:port, https://..., socks5://...)
  rankcheck.db        written: the check ledger
The plug-ins write in jobs/run/ (with --no-gateway, in the project folder):
  <Engine>-<i>.urls   the result links of keyword i, line n = position n
                      (a line like "3#Error found#" marks a keyword given up at page 3)
  <Engine>.set        the progress a --resume continues from
  <Engine>.start      the first-page request URL of each keyword
<Engine> is Quillon or Verrin.)";

inline constexpr char kInitFooter[] = R"(
An existing file is never overwritten: init then writes nothing and exits with status 2. In a
folder that is a project already (keywords.lst or urls.lst there), --proxy HOST:PORT or
--direct replaces proxy.def alone: the old one is kept as proxy.def.bak (with its mode), and
no other file is touched.)";

inline constexpr char kRunFooter[] = R"(
Each status line of the plug-in is printed as it arrives, oldest first. On a terminal a
progress line (keyword i of n, the keyword, its positions so far, the time taken) follows
them; piped output holds the status lines only. A summary per engine ends the run (on
standard error). --quiet (-q) prints only the summary and the errors.

Each run of an engine is one check in the ledger (rankcheck.db, or --db): every keyword is
recorded there as it completes. A check owns its inputs: --resume goes on with the engine's
latest check when it was stopped, failed or interrupted, and --recheck searches again the
keywords of its latest check that were given up, suspect, partial or not searched (in a job
folder of its own, jobs/recheck-<engine>/; with all, one engine after the other), both with
the check's own URLs and options; they refuse, changing nothing, when keywords.lst or urls.lst
differs from the check's or an option given differs from the check's own. With all, each
engine that has something to resume or recheck goes on, and the others are named. Only one
run works in a folder at a time (the lock file rankcheck.lock names its PID).

When --give-up-limit keywords in a row (default 3; 0: never) are given up or suspect (a page
without results, as a block or captcha page looks), the engine or the proxy is not answering:
the run stops after the page under way, its check is stopped with that reason, and rankcheck
prints the command that resumes it.

The plug-ins work in jobs/run/ through rankcheck's gateway (--no-gateway: in the folder, on
proxy.def as it is): it paces the requests (--pace), sends them round the proxies of
proxies.lst (else the one of proxy.def), routes around blocks (a captcha, 403, 429, 503) and
says the cause of every failed page after the plug-in's line.

Ctrl-C, SIGTERM and SIGHUP stop the run after the page under way has been saved, and
rankcheck prints the command that resumes it. A second signal quits at once; the job files
stay whole and the check, shown as interrupted, is resumed the same way.

Exit status: 0 every keyword trusted; 3 complete, with keywords given up or suspect (the
summary names them); 4 stopped by the give-up limit or because every upstream of the
gateway is suspended after a block (resumable); 2 bad arguments or inputs
(an empty keywords.lst, an unreachable proxy or engine host, another run in the folder, a
--resume or --recheck with nothing to go on with or with changed inputs, a plug-in that could
not be loaded or started); 130 Ctrl-C, 143 SIGTERM, 129 SIGHUP; 1 anything else (a run ended
early through a failure, the ledger could not be written: the summary says how to go on).)";

inline constexpr char kReportFooter[] = R"TXT(
The report is read from the check ledger (rankcheck.db), which every `rankcheck run` writes:
each engine's latest check, each keyword and URL compared like with like, with the latest
earlier check whose outcome for it was trusted and that examined it at least as deep. Each
cell is the best (first) position of the URL among the keyword's results, with the change
since the compared check (up 3, down 2, new, lost), or: "-" (not found among every position
requested), "beyond 20" (not among the 20 positions examined, fewer than the compared check),
"susp (3, 12-06)" (suspect: the engine's results ended early, as a block page looks; the last
trusted rank and its date), "err (7, 12-06)" (error: the engine gave the keyword up),
"part (30/100)" (partial: the run stopped with it under way) or "not searched". Only ranks and
"-" are ever counted as a move, new or lost. Keywords are followed by their text, whatever
their line in keywords.lst. URLs match with or without http:// or https://, ignoring case,
with blanks and one trailing "/" dropped; www. counts.

--check ID shows that check (its engine alone); --check quillon=12 --check verrin=13 shows
both engines at those checks; --at 2026-12-06 each engine's latest check begun on or before
that day (--check then picks for its engine). --compare ID or ENGINE=ID, once per engine,
compares with that check. The table fits the terminal (COLUMNS, else its width, else 80).

CSV and JSON: one record per keyword, URL and engine with keyword, url, engine, rank, status
(ranked, not_found, beyond, suspect, error, partial, not_searched), previous_rank, change
(previous_rank - rank, new, lost or empty; in JSON a number, "new", "lost" or null),
check_id, checked_at (the check's start, UTC) and note (why a row is suspect).

--changes prints only what moved (by --min-change places or more), new and lost pairs, then
apart the keywords that could not be checked with their last trusted rank, and nothing at
all when nothing happened: for cron, which mails what a command prints.

A folder searched before it had a ledger is imported once, as a check marked imported.

Exit status: 0 report written (or, with --changes, nothing to tell); 2 bad arguments, no
ledger or no such check, or the output cannot be written.)TXT";

}  // namespace rankcheck
