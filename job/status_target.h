// TStatusTarget: the host's list control as the search job sees it. It is the thread that status
// lines are handed to (a TSyncTarget: the host's main thread) and the list at whose top they go.
// The job stores a line, hands WriteStatus over with TThread::Synchronize, and WriteStatus calls
// InsertLine there.
//
// Ownership: the plug-in creates the target over the host's own control at start and keeps it
// until the job is destroyed; the job only uses it.
//
// Threads: InsertLine on the target's (the host's main) thread only, inside a hand-over.
#pragma once

#include "platform/ansi_string.h"
#include "platform/sync_target.h"

class TStatusTarget : public TSyncTarget {
  public:
    // Inserts `line` (any bytes) at index 0 of the host's list; the newest line is always first.
    virtual void InsertLine(const AnsiString& line) = 0;
};
