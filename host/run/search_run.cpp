#include "host/run/search_run.h"

#include <exception>

#include "host/run/stop_signal.h"

namespace rankcheck {

SearchRun::SearchRun(const hostkit::PluginLibrary& plugin, ProgressDisplay& display)
    : plugin_(plugin), display_(display) {
    bridge_.OnLine = [this](const std::string& line) {
        display_.Line(plugin_.Engine(), line);
        using jobfiles::StatusLine;
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

bool SearchRun::Start(const RunSettings& settings, hostkit::Doorbell* doorbell) {
    bridge_.SetDoorbell(doorbell);
    {
        // The plug-in's job thread is created here; it must not take the user's Ctrl-C.
        StopSignal::Blocked blocked;
        plugin_.Start(settings.resume, settings.maxResults, settings.stopWhenAllFound,
                      settings.exactMatch, bridge_.Control());
    }
    if (bridge_.StartFailed()) {
        message_ = bridge_.StartFailure();
        return false;
    }
    started_ = true;
    if (OnStarted) {
        try {
            OnStarted();
        } catch (const std::exception& e) {
            hostError_ = e.what();
        }
    }
    return true;
}

bool SearchRun::Service(bool stopWanted) {
    if (!started_) return false;
    bridge_.Pump(0);
    if (plugin_.IsFinished()) return false;
    if (!hostError_.empty() && !stopAsked_) {
        stopAsked_ = true;
        plugin_.Stop();
    }
    if (stopWanted) {
        Stop("rankcheck: stopping " + plugin_.Engine() +
             " after the page under way has been saved (press Ctrl-C again to quit at once)");
    }
    return true;
}

void SearchRun::Stop(const std::string& note) {
    if (!started_ || stopAsked_) return;
    stopAsked_ = true;
    plugin_.Stop();
    display_.Note(note);
}

RunOutcome SearchRun::End() {
    display_.EndRun(plugin_.Engine());
    if (!started_) return RunOutcome::StartFailed;
    bridge_.Pump(0);
    plugin_.Clear();

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
