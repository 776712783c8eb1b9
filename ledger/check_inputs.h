// How the inputs of a run differ from those a check was made with: a check owns its URLs and
// options, so a run that resumes or rechecks it must have the same, or be refused naming what
// differs (keywords.lst is compared by the caller, which words its changes itself).
//
//   urls.lst: line 2 was www.a.example, is www.b.example
//   urls.lst: line 3 is new (www.c.example)
//   urls.lst: line 3 (www.c.example) is gone
//   --max-results: the check has 100
//   --stop-when-all-found: the check was made without it
//
// URLs compare by their lines as written; a run whose urls.lst says the same URLs in other
// words differs all the same (its ranks would be worked out from other lines).
//
// Pure function; any thread.
#pragma once

#include <string>
#include <vector>

#include "ledger/ledger_types.h"

namespace rankcheck::ledger {

// Every difference in words, URL lines first (at most `maxLines` of them, then "urls.lst: and 4
// more lines differ"), then the options; empty when they agree.
std::vector<std::string> InputDifferences(const CheckDetail& check,
                                          const std::vector<UserUrl>& urls,
                                          const CheckOptions& options, size_t maxLines = 3);

}  // namespace rankcheck::ledger
