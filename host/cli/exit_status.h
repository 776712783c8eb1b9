// ExitStatus: how a rankcheck command ends, as the process's exit status. Every command returns
// one; main hands it to the system. The values are part of rankcheck's interface (scripts, cron
// and systemd units test them) and never change.
//
// Plain values; any thread.
#pragma once

#include <cstddef>
#include <iterator>

#include "host/run/run_session.h"

namespace rankcheck {

enum class ExitStatus {
    Success = 0,    // done; for `run`: every run completed
    RunFailed = 1,  // a run ended early through a failure, or the ledger could not be written
    Refused = 2,    // bad arguments, or the command could not do its work (the reason printed)
    KeywordsGivenUp = 3,  // `run` completed, keywords given up
    Stopped = 130,        // `run` stopped with Ctrl-C
};

constexpr ExitStatus ExitStatusOf(RunVerdict verdict) {
    // In the order of RunVerdict's values.
    constexpr ExitStatus kOfVerdict[] = {ExitStatus::Success, ExitStatus::KeywordsGivenUp,
                                         ExitStatus::RunFailed, ExitStatus::Refused,
                                         ExitStatus::Stopped};
    static_assert(std::size(kOfVerdict) == static_cast<size_t>(RunVerdict::Stopped) + 1);
    return kOfVerdict[static_cast<size_t>(verdict)];
}

}  // namespace rankcheck
