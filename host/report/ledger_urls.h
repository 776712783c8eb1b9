// The user's URLs as the ledger keeps them, and where they rank in a result list. Recording a
// run, importing a folder and the report's top lists all match URLs to links here, by the rule
// the plug-ins use (jobfiles/url_match.h), so that a rank means the same everywhere.
//
// Free functions without state; any thread.
#pragma once

#include <string>
#include <vector>

#include "ledger/ledger.h"

namespace rankcheck {

// The ledger's form of the user's URLs: each line as written, keyed by its normalised form
// upper-cased, so that "http://www.a.example/" and "WWW.A.EXAMPLE" keep one history. A blank line
// (which no plug-in accepts) is kept under its own text.
std::vector<ledger::UserUrl> LedgerUrls(const std::vector<std::string>& lines);

// The best positions of every URL among `links` (links[n - 1] is position n), matched on the
// links without their scheme so that a URL written with or without http:// or https:// finds
// links shown either way.
std::vector<ledger::UrlRank> RanksOf(const std::vector<std::string>& links,
                                     const std::vector<ledger::UserUrl>& urls);

}  // namespace rankcheck
