// RunStop: how something other than the user stops a run under way, with a reason of its own:
// the give-up breaker (keywords in a row failed, give_up_breaker.h), and whatever else finds
// that going on is pointless (a gateway whose every upstream is blocked: "resume after 14:05").
// A stop asked for this way goes through the plug-in's stop export, as Ctrl-C does: the page
// under way is finished and saved, the keywords not reached stay not searched, the engine's
// check ends stopped with the reason, the command that resumes it is printed and `run` exits 4.
//
// Implemented by RunSession. Called on the main thread, also from inside the handling of a
// status line: the request is only noted there, and the plug-in is asked to stop once the line
// has been handled.
#pragma once

#include <string>

namespace rankcheck {

class RunStop {
  public:
    virtual ~RunStop() = default;
    // Stops the run of `engine` (its display name, "Quillon"; empty: every engine under way)
    // with `reason`, said in words ("3 keywords in a row failed: the engine or the proxy is not
    // answering"). A run already asked to stop keeps its first reason.
    virtual void StopRun(const std::string& engine, const std::string& reason) = 0;
};

}  // namespace rankcheck
