// The text formats of a RankReport: an aligned table for people, CSV and JSON for programs. The
// self-contained HTML page is html_report.h's. Every writer shows keywords and URLs as UTF-8
// (text in the ANSI code page is converted) and a rank cell as RankCell::Text() or, in JSON, as
// a status with the position.
//
// Free functions without state; any thread.
#pragma once

#include <ostream>

#include "host/rank_report.h"

namespace rankcheck {

// One row per keyword and user URL, one column per engine; a legend follows the table.
void WriteTable(const RankReport& report, std::ostream& out);
// Header "keyword,url,<engine>...", then one record per keyword and user URL (RFC 4180 quoting).
void WriteCsv(const RankReport& report, std::ostream& out);
// One JSON document: the options, the engines, the user URLs, and per keyword what each engine
// examined and each URL's rank on each engine.
void WriteJson(const RankReport& report, std::ostream& out);

// The JSON name of a cell status: "found", "notFound", "error", "notSearched".
const char* StatusName(RankCell::Status status);

}  // namespace rankcheck
