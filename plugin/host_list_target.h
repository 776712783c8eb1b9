// THostListTarget: a host's HostListControl (plugin/host_list_control.h) as the status target of
// a search job. It forwards hand-overs to the host's synchronize and checkSynchronize functions
// and lines to its insertLine, and is the one place where the job meets the host's C struct.
//
// Ownership: the start export creates one per job and destroys it after the job; the control it
// points to is the host's and outlives both.
//
// Threads: RunSynchronized on the job thread; CheckSynchronize and InsertLine on the host's main
// thread, as the control requires.
#pragma once

#include "job/status_target.h"
#include "plugin/host_list_control.h"

class THostListTarget final : public TStatusTarget {
  public:
    explicit THostListTarget(const HostListControl* control) : control_(control) {}

    void RunSynchronized(const std::function<void()>& method) override;
    int CheckSynchronize(int timeoutMs) override;
    void InsertLine(const AnsiString& line) override;

  private:
    const HostListControl* control_;
};
