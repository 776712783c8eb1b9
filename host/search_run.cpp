#include "host/search_run.h"

#include <exception>

#include "host/status_line.h"
#include "host/stop_signal.h"

namespace rankcheck {

SearchRun::SearchRun(const PluginLibrary& plugin, ProgressDisplay& display)
    : plugin_(plugin), display_(display) {
    bridge_.OnLine = [this](const std::string& line) {
        display_.Line(line);
        const StatusLine status = StatusLine::Parse(line);
        if (status.kind == StatusLine::Kind::Finished) finishedLine_ = true;
        if (status.kind == StatusLine::Kind::Stopped && !stoppedLine_) {
            stoppedLine_ = true;
            message_ = status.reason;
        }
        // The line came through the plug-in's hand-over: nothing may be thrown back into it.
        // A failure of our own stops the run instead.
        try {
            if (OnStatus) OnStatus(status);
        } catch (const std::exception& e) {
            if (hostError_.empty()) hostError_ = e.what();
        }
    };
}

RunOutcome SearchRun::Run(const RunSettings& settings, bool (*stopRequested)(), int pollMs) {
    {
        // The plug-in's job thread is created here; it must not take the user's Ctrl-C.
        StopSignal::Blocked blocked;
        plugin_.Start(settings.resume, settings.maxResults, settings.stopWhenAllFound,
                      settings.exactMatch, bridge_.Control());
    }
    if (bridge_.StartFailed()) {
        message_ = bridge_.StartFailure();
        display_.EndRun();
        return RunOutcome::StartFailed;
    }
    if (OnStarted) {
        try {
            OnStarted();
        } catch (const std::exception& e) {
            hostError_ = e.what();
        }
    }
    while (!plugin_.IsFinished()) {
        if (!hostError_.empty() && !stopAsked_) {
            stopAsked_ = true;
            plugin_.Stop();
        }
        bridge_.Pump(pollMs);
        if (!stopAsked_ && stopRequested != nullptr && stopRequested()) {
            stopAsked_ = true;
            plugin_.Stop();
            display_.Note(
                "rankcheck: stopping after the page under way has been saved "
                "(press Ctrl-C again to quit at once)");
        }
        display_.Tick();
    }
    plugin_.Clear();
    display_.EndRun();

    if (!hostError_.empty()) {
        message_ = hostError_;
        return RunOutcome::Failed;
    }
    if (stoppedLine_) return RunOutcome::Failed;
    if (!finishedLine_) {
        message_ = "the run ended without its closing line";
        return RunOutcome::Failed;
    }
    return stopAsked_ ? RunOutcome::Stopped : RunOutcome::Completed;
}

}  // namespace rankcheck
