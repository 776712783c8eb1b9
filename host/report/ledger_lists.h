// The ledger's lists as `rankcheck history` and `rankcheck checks` print them: the rank of each
// URL in every check, and one line per check, each as an aligned table for people or as CSV or
// JSON for programs.
//
//   history CSV: engine,check_id,checked_at,keyword,url,rank,status
//   checks CSV:  check_id,engine,started_at,ended_at,state,keywords_done,keywords_given_up,
//                keywords_total
//
// Free functions without state; any thread.
#pragma once

#include <string>
#include <vector>

#include "ledger/ledger.h"

namespace rankcheck {

// `format` is "table", "csv" or "json".
std::string HistoryText(const std::vector<ledger::HistoryRow>& rows, const std::string& format);
std::string ChecksText(const std::vector<ledger::CheckInfo>& checks, const std::string& format);

}  // namespace rankcheck
