// StopSignal: Ctrl-C (SIGINT) and SIGTERM for rankcheck's run. The first signal only
// counts, and the main thread's pump loop, which looks at the count between synchronize
// requests, asks the plug-in to stop; a second signal ends the process at once with status 130
// (the plug-ins replace every job file atomically, so the files stay whole).
//
// The handler does nothing but a lock-free atomic increment, and on the second signal write(2)
// and _exit. Process-wide; Install on the main thread before a plug-in starts its thread, and
// start plug-ins inside a Blocked scope so that their threads never receive the signals.
#pragma once

#include <signal.h>

namespace rankcheck {

class StopSignal {
  public:
    // Installs the handler for SIGINT and SIGTERM, and ignores SIGPIPE.
    static void Install();
    // How many stop signals arrived (0, 1; a second one never returns here).
    static int Count();

    // Blocks SIGINT and SIGTERM on the calling thread for the scope; threads created meanwhile
    // inherit the blocked mask.
    class Blocked {
      public:
        Blocked();
        ~Blocked();
        Blocked(const Blocked&) = delete;
        Blocked& operator=(const Blocked&) = delete;

      private:
        sigset_t previous_;
    };
};

}  // namespace rankcheck
