// The four exports of a search plug-in and the library's one current job. This one source is
// built into both libraries: PLUGIN_ADAPTER_HEADER and PLUGIN_ADAPTER_CLASS name the engine
// adapter, PLUGIN_EXPORT_PREFIX the engine word of the export names (_Quillon, _Verrin).
//
// Every export is called on the host's main thread; the job itself runs on its own thread. No
// exception crosses the C boundary: a start that cannot make a job reports through the host's
// startFailed callback and leaves no job and no thread behind.
#include <exception>
#include <memory>

#include PLUGIN_ADAPTER_HEADER
#include "plugin/host_list_control.h"
#include "plugin/host_list_target.h"

#define PLUGIN_CONCAT2(a, b) a##b
#define PLUGIN_CONCAT(a, b) PLUGIN_CONCAT2(a, b)
#define PLUGIN_EXPORT(type, name) \
    extern "C" __attribute__((visibility("default"))) type PLUGIN_CONCAT(PLUGIN_EXPORT_PREFIX, name)

namespace {

// The live job, from a successful start until clear, and the host's list control as its status
// target, which outlives it. Plain pointers: a host that exits without clear must not have the
// target destroyed under a job thread that still runs.
PLUGIN_ADAPTER_CLASS* currentJob = nullptr;
THostListTarget* currentTarget = nullptr;

void ReportStartFailure(const HostListControl* target, const char* message) {
    if (target->startFailed != nullptr) target->startFailed(target->host, message);
}

}  // namespace

PLUGIN_EXPORT(void, StartSearch)
(char resume, int maxResults, char stopWhenAllFound, char exactMatch,
 const HostListControl* statusTarget) {
    if (statusTarget == nullptr) return;  // nowhere to report anything
    if (statusTarget->version != HOST_LIST_CONTROL_VERSION) {
        ReportStartFailure(statusTarget,
                           "the host's list control has an unknown version; this plug-in "
                           "supports version 1");
        return;
    }
    if (currentJob != nullptr) {
        ReportStartFailure(statusTarget,
                           "a search job exists already; wait until it has finished and clear "
                           "it before starting another");
        return;
    }
    try {
        auto target = std::make_unique<THostListTarget>(statusTarget);
        auto job = std::make_unique<PLUGIN_ADAPTER_CLASS>(resume, maxResults, stopWhenAllFound,
                                                          exactMatch, target.get());
        // The job becomes the library's only once its thread runs. A thread that cannot start
        // leaves no job behind: is-finished does not wait on it and the next start is not refused.
        job->Resume();
        currentTarget = target.release();
        currentJob = job.release();
    } catch (const std::exception& e) {
        ReportStartFailure(statusTarget, e.what());
    } catch (...) {
        ReportStartFailure(statusTarget, "the search job could not be created");
    }
}

PLUGIN_EXPORT(void, StopSearch)() {
    if (currentJob != nullptr) currentJob->stopRequested = true;
}

PLUGIN_EXPORT(char, IsFinished)() {
    return currentJob == nullptr || currentJob->finished ? 1 : 0;
}

PLUGIN_EXPORT(void, ClearMemory)() {
    if (currentJob == nullptr) return;
    // A running job is waited for before anything of it is destroyed (its thread still calls
    // the adapter's SearchPage); the wait services the job's status lines meanwhile.
    currentJob->WaitFor();
    delete currentJob;
    currentJob = nullptr;
    delete currentTarget;
    currentTarget = nullptr;
}
