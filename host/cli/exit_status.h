// ExitStatus: how a rankcheck command ends, as the process's exit status. Every command returns
// one; main hands it to the system. The values are part of rankcheck's interface (scripts, cron
// and systemd units test them) and never change.
//
// Plain values; any thread.
#pragma once

#include <signal.h>

#include "host/run/run_session.h"

namespace rankcheck {

enum class ExitStatus {
    Success = 0,    // done; for `run`: every keyword of every check trusted
    RunFailed = 1,  // anything else: a run ended early through a failure, or the ledger could
                    // not be written
    Refused = 2,    // bad arguments or inputs, or the command could not do its work (the reason
                    // printed); for `run` nothing was run
    KeywordsFailed = 3,              // `run` completed, with keywords given up or suspect (named)
    Halted = 4,                      // `run` stopped by the give-up breaker (resumable)
    StoppedByHangup = 128 + SIGHUP,  // 129: `run` stopped by SIGHUP
    StoppedByInterrupt = 128 + SIGINT,   // 130: `run` stopped by Ctrl-C
    StoppedByTerminate = 128 + SIGTERM,  // 143: `run` stopped by SIGTERM
};

// `stopSignal`: the signal that stopped a run (StopSignal::First).
constexpr ExitStatus ExitStatusOf(RunVerdict verdict, int stopSignal) {
    switch (verdict) {
        case RunVerdict::Completed:
            return ExitStatus::Success;
        case RunVerdict::KeywordsFailed:
            return ExitStatus::KeywordsFailed;
        case RunVerdict::Halted:
            return ExitStatus::Halted;
        case RunVerdict::Failed:
            return ExitStatus::RunFailed;
        case RunVerdict::Refused:
            return ExitStatus::Refused;
        case RunVerdict::Stopped:
            break;
    }
    switch (stopSignal) {
        case SIGHUP:
            return ExitStatus::StoppedByHangup;
        case SIGTERM:
            return ExitStatus::StoppedByTerminate;
        default:
            return ExitStatus::StoppedByInterrupt;
    }
}

}  // namespace rankcheck
