// The HTML form of the rank report: one self-contained page (inline CSS, inline SVG and a small
// inline script; nothing fetched from anywhere, which its content security policy enforces)
// that answers "what moved, what failed, going up or down since when, and who is above me". It
// opens with the overview (html_overview.h): each engine's check with its date and state and the
// check it is compared with, the summary figures per engine, the biggest moves and the keywords
// that could not be checked; then the rank table of every keyword and URL coloured by band, with
// the change and a sparkline of the last checks in each cell; then per keyword, folded until
// opened, a trend chart of each URL over the checks, each engine's top 10 with the user's links
// marked, and the sites above the user's best URL (html_sections.h). The script only adds a
// search, a band filter and an order to the table, opens a keyword a link leads to and opens all
// of them for print: the page reads completely without it. Built for 500 keywords: a year of
// daily checks of 500 keywords and 3 URLs is a page of about 1.5 MB. Readable from 390 px wide up
// and in print; labels wrap, never cut. Landmarks, header cells and text alternatives as a
// screen reader needs them.
//
// Free functions without state; any thread.
#pragma once

#include <ostream>
#include <string>

#include "host/report/html/html_sections.h"
#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// Writes the page; `folder` is named in its heading. `folderLockFree`: nothing holds the
// folder's lock, so a check still recorded as running was interrupted (ledger::StateWords); the
// report command tells.
void WriteHtml(const RankView& view, const ReportHistory& history, std::ostream& out,
               const std::string& folder, bool folderLockFree = false);

}  // namespace rankcheck
