// ImportFolderOnce: the result files of a folder that was searched before it had a ledger become
// one check per engine, marked imported, so that their ranks are the first entry of the history
// rather than lost. It happens once: only into a ledger that holds no check at all.
//
// An imported check is made of keywords.lst, urls.lst and the engine's result files as they are
// now: keyword i is done (or given up, after an error marker line) when <Engine>-<i>.urls exists,
// and not reached otherwise. It began at the oldest and ended at the newest modification time of
// those files; it is complete when every keyword has its file, stopped otherwise.
//
// The caller holds the folder lock (no run writes the files meanwhile). Free functions; main
// thread. The folder is named explicitly; the current directory does not matter.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "host/run/folder_inputs.h"
#include "jobfiles/engine_table.h"
#include "ledger/ledger.h"

namespace rankcheck {

// Returns the ids of the checks made (none when the ledger holds checks, when keywords.lst or
// urls.lst could not be read, or when there are no result files).
std::vector<int64_t> ImportFolderOnce(
    ledger::Ledger& ledger, const std::filesystem::path& folder, const FolderInputs& inputs,
    const std::vector<std::string>& engines = jobfiles::EngineNames());

// Whether `folder` holds a result file of an engine of the engine table (<Engine>-<i>.urls).
bool HasResultFiles(const std::filesystem::path& folder);

// How many keyword and URL pairs of a check rank in the top 10 (URL inside the link).
int TopTenCount(ledger::Ledger& ledger, int64_t check);

}  // namespace rankcheck
