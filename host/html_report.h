// The HTML form of a RankView: one self-contained page (inline CSS and inline SVG, no script,
// no external reference) with each engine's check and its date, the rank table coloured by rank
// band with the change since the compared check and, per user URL, a small chart of its
// positions across keywords and engines.
//
// Free functions without state; any thread.
#pragma once

#include <ostream>
#include <string>

#include "host/rank_view.h"

namespace rankcheck {

// The band a cell is coloured by: "b1" (positions 1-3), "b2" (4-10), "b3" (11-20), "b4" (21-50),
// "b5" (51 and beyond), "nf" (not found), "pa" (partial), "err" (given up), "ns" (not searched).
const char* RankBand(const std::optional<ledger::ReportRow>& cell);

// Writes the page; `folder` is named in its heading.
void WriteHtml(const RankView& view, std::ostream& out, const std::string& folder);

}  // namespace rankcheck
