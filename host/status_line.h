// StatusLine: what a host can tell from one status line of a search plug-in. The plug-ins write
// fixed texts (start of a keyword, positions counted, a failed page, a skipped keyword, the end of
// the run, a run stopped by a failure); the run driver and the progress display read them here
// rather than each matching texts of their own.
//
// A plain value, parsed on whichever thread holds the line (in rankcheck: the main thread, inside
// the plug-in's status hand-over).
#pragma once

#include <string>

namespace rankcheck {

struct StatusLine {
    enum class Kind {
        KeywordStart,  // Start <engine> search for keyword "<keyword>"
        Positions,     // <count> pos. on <engine> for "<keyword>"
        Retrying,      // Can't connect to <engine>. Trying again
        PageSkipped,   // Can't connect to <engine>. Page skipped (the keyword is given up)
        Finished,      // Finished search on <engine>
        Stopped,       // Search on <engine> stopped: <reason>
        Other,         // anything else: shown, never interpreted
    };

    Kind kind = Kind::Other;
    std::string engine;
    std::string keyword;  // KeywordStart, Positions
    int positions = 0;    // Positions
    std::string reason;   // Stopped

    static StatusLine Parse(const std::string& line);
};

}  // namespace rankcheck
