// ImportFolderOnce: the result files of a folder that was searched before it had a ledger become
// one check per engine, marked imported, so that their ranks are the first entry of the history
// rather than lost. It happens once: only into a ledger that holds no check at all.
//
// An imported check is made of keywords.lst, urls.lst and the engine's result files as they are
// now: keyword i is done (or given up, after an error marker line) when <Engine>-<i>.urls exists,
// and not reached otherwise. It began at the oldest and ended at the newest modification time of
// those files; it is complete when every keyword has its file, stopped otherwise.
//
// The caller holds the folder lock (no run writes the files meanwhile). Main thread, in the folder.
#pragma once

#include <string>
#include <vector>

#include "ledger/ledger.h"

namespace rankcheck {

// Returns the ids of the checks made (none when the ledger holds checks or there are no result
// files).
std::vector<int64_t> ImportFolderOnce(ledger::Ledger& ledger, const std::vector<std::string>& engines);

// How many keyword and URL pairs of a check rank in the top 10 (URL inside the link).
int TopTenCount(ledger::Ledger& ledger, int64_t check);

}  // namespace rankcheck
