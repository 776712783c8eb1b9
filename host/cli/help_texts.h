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

inline constexpr char kInitFooter[] = R"(
An existing file is never overwritten: init then writes nothing and exits with status 2.)";

inline constexpr char kRunFooter[] = R"(
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
loaded or started (its message names the file and line); 130 stopped with Ctrl-C.)";

inline constexpr char kReportFooter[] = R"TXT(
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
cannot be written.)TXT";

}  // namespace rankcheck
