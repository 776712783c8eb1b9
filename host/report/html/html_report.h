// The HTML form of the rank report: one self-contained page (inline CSS and inline SVG, no
// script, nothing fetched from anywhere) that answers "going up or down, since when, and who is
// above me": a header with each engine's check, its date and state and the check it is compared
// with; summary figures per engine; the rank table coloured by band, with the change and a
// sparkline of the last checks in each cell; and per keyword a trend chart of each URL over the
// checks, each engine's top 10 with the user's links marked, and the sites above the user's best
// URL. Readable from 390 px wide up and in print; labels wrap, never cut.
//
// Free functions without state; any thread.
#pragma once

#include <ostream>
#include <string>

#include "host/report/html/html_sections.h"
#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// Writes the page; `folder` is named in its heading.
void WriteHtml(const RankView& view, const ReportHistory& history, std::ostream& out,
               const std::string& folder);

}  // namespace rankcheck
