// StopSignal: the signals that stop rankcheck's run: Ctrl-C (SIGINT), SIGTERM (a service manager,
// `kill`) and SIGHUP (the terminal closed). The first signal only counts, and the main thread's
// pump loop, which looks at the count between synchronize requests, asks the plug-ins to stop:
// the page under way is finished and saved, and the check ends stopped. A second signal ends the
// process at once with 128 + its number (the plug-ins replace every job file atomically, so the
// files stay whole; the check is left running, which shows as interrupted and is resumed).
//
// The handler does nothing but lock-free atomic operations, and on the second signal write(2)
// and _exit. Process-wide; Install on the main thread before a plug-in starts its thread, and
// start plug-ins inside a Blocked scope so that their threads never receive the signals.
#pragma once

#include <signal.h>

#include <string>

namespace rankcheck {

class StopSignal {
  public:
    // Installs the handler for SIGINT, SIGTERM and SIGHUP, and ignores SIGPIPE.
    static void Install();
    // How many stop signals arrived (0, 1; a second one never returns here).
    static int Count();
    // The number of the first stop signal (SIGINT, SIGTERM, SIGHUP), or 0 before any.
    static int First();
    // What the first signal was, for the check's reason and the messages: "Ctrl-C", "SIGTERM",
    // "SIGHUP"; empty before any.
    static std::string FirstInWords();

    // Blocks the stop signals on the calling thread for the scope; threads created meanwhile
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
