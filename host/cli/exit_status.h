// ExitStatus: how a rankcheck command ends, as the process's exit status. Every command returns
// one; main hands it to the system. The values are part of rankcheck's interface (scripts, cron
// and systemd units test them) and never change.
//
// Plain values; any thread.
#pragma once

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
    switch (verdict) {
        case RunVerdict::Completed:
            return ExitStatus::Success;
        case RunVerdict::KeywordsGivenUp:
            return ExitStatus::KeywordsGivenUp;
        case RunVerdict::Failed:
            return ExitStatus::RunFailed;
        case RunVerdict::Refused:
            return ExitStatus::Refused;
        case RunVerdict::Stopped:
            break;
    }
    return ExitStatus::Stopped;
}

}  // namespace rankcheck
