// The ledger's lists as `rankcheck history` and `rankcheck checks` print them: the rank of each
// URL in every check, and one line per check, each as an aligned table for people or as CSV or
// JSON for programs.
//
//   history CSV: engine,check_id,checked_at,keyword,url,rank,status,note
//   checks CSV:  check_id,engine,started_at,ended_at,state,keywords_done,keywords_given_up,
//                keywords_total,keywords_failed,reason
// A check's state is worded as every output words it (ledger/check_state_words.h): its name in
// CSV and JSON ("interrupted" for a running check whose folder nobody holds), the words in the
// table ("stopped after 12 of 30 keywords (Ctrl-C)").
//
// Free functions without state; any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/report/text_table.h"
#include "ledger/ledger.h"

namespace rankcheck {

// `format` is "table", "csv" or "json"; a table fits `columns` (its keyword and rank columns
// wrap). URLs are shown as the report shows them (ShownUrl).
std::string HistoryText(const std::vector<ledger::HistoryRow>& rows, const std::string& format,
                        int columns = kDefaultColumns);
// `lockFree` tells whether nothing holds a check's folder (a running check was interrupted); a
// table fits `columns` (its state column wraps).
std::string ChecksText(const std::vector<ledger::CheckInfo>& checks, const std::string& format,
                       const std::function<bool(const ledger::CheckInfo&)>& lockFree,
                       int columns = kDefaultColumns);

// A check's counts per upstream of the gateway, as `rankcheck checks --upstreams` lists them.
struct CheckUpstreams {
    ledger::CheckInfo check;
    std::vector<ledger::UpstreamCounts> upstreams;
};
// A row per check and upstream; `format` is "table", "csv" or "json".
std::string UpstreamsText(const std::vector<CheckUpstreams>& checks, const std::string& format);

}  // namespace rankcheck
