// SearchRun: one run of one plug-in, driven the way the plug-in interface asks a host to drive
// it: start with a HostListControl, then poll is-finished while servicing the plug-in's
// synchronize requests on this thread (each one inserts a status line), ask it to stop when the
// user wants that, and clear it once it has finished. Status lines go to the ProgressDisplay as
// they arrive; the run's outcome is read from them.
//
// Owned by the run (RunSession), one per engine under way; everything runs on the host's main
// thread, the one that constructs the SearchRun (its HostBridge takes that thread as the main
// thread).
#pragma once

#include <functional>
#include <string>

#include "host/run/progress_display.h"
#include "hostkit/host_bridge.h"
#include "hostkit/plugin_library.h"
#include "jobfiles/status_lines.h"

namespace rankcheck {

struct RunSettings {
    bool resume = false;
    int maxResults = 100;
    bool stopWhenAllFound = false;
    bool exactMatch = false;
};

// How one plug-in run ended.
enum class RunOutcome {
    Completed,    // the closing line came and no stop was asked for
    Failed,       // a "Search on <engine> stopped:" line, or no closing line
    StartFailed,  // the plug-in could not start; Message() holds its reason
    Stopped,      // a stop was asked for (a signal, or Stop), and the run stopped
};

class SearchRun {
  public:
    SearchRun(const hostkit::PluginLibrary& plugin, ProgressDisplay& display);

    // A run in steps, so that one main thread can drive several: Start, then Service (which
    // never waits) until it returns false, then End for the outcome. `doorbell` (optional) is
    // rung with each synchronize request of this run.
    // Start returns false when the plug-in could not start (End then says StartFailed).
    bool Start(const RunSettings& settings, hostkit::Doorbell* doorbell = nullptr);
    // Runs the pending synchronize requests; asks the plug-in to stop when `stopWanted` (once:
    // a stop signal came). False once the plug-in has finished.
    bool Service(bool stopWanted);
    // Asks the plug-in to stop after the page under way, once, showing `note` (a stop with a
    // reason of rankcheck's own); the run then ends as Stopped.
    void Stop(const std::string& note);
    RunOutcome End();

    // Called once the plug-in has started, before its first status line is taken.
    std::function<void()> OnStarted;
    // Called with every status line, after the display has shown it.
    // An exception from either stops the run, which then ends as Failed with its message.
    std::function<void(const jobfiles::StatusLine&)> OnStatus;

    // Why the run did not complete: the start failure, or the reason of the stop line.
    const std::string& Message() const { return message_; }

  private:
    const hostkit::PluginLibrary& plugin_;
    ProgressDisplay& display_;
    hostkit::HostBridge bridge_;
    std::string message_;
    bool stopAsked_ = false;
    bool started_ = false;
    bool finishedLine_ = false;
    bool stoppedLine_ = false;
    std::string hostError_;  // a failure of OnStarted or OnStatus, which stops the run
};

}  // namespace rankcheck
