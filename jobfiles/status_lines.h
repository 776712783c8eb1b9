// The status lines: the fixed texts a search job shows in the host's list, and what a host can
// tell from one of them. The job builds every line it writes with the functions here, and
// rankcheck reads them with StatusLine::Parse, so that writer and reader share one spelling:
//
//   Start <engine> search for keyword "<keyword>"    before a keyword's page while none is counted
//   <n> pos. on <engine> for "<keyword>"             after every page fetched; n links so far
//   Can't connect to <engine>. Trying again          after a failed page request
//   Can't connect to <engine>. Page skipped          the keyword is given up after repeated
//   failures Finished search on <engine>                      the run ended normally (done or
//   stopped) Search on <engine> stopped: <reason>             a failure ended the run instead
//
// The keyword is written as keywords.lst holds it; it may itself hold quotation marks.
//
// Free functions and a plain value; any thread (the job thread writes, the host's main thread
// parses inside the status hand-over).
#pragma once

#include <string>

#include "platform/ansi_string.h"

namespace jobfiles {

AnsiString KeywordStartLine(const AnsiString& engine, const AnsiString& keyword);
AnsiString PositionsLine(int positions, const AnsiString& engine, const AnsiString& keyword);
AnsiString RetryingLine(const AnsiString& engine);
AnsiString PageSkippedLine(const AnsiString& engine);
AnsiString FinishedLine(const AnsiString& engine);
AnsiString StoppedLine(const AnsiString& engine, const AnsiString& reason);

struct StatusLine {
    enum class Kind {
        KeywordStart,  // KeywordStartLine
        Positions,     // PositionsLine
        Retrying,      // RetryingLine
        PageSkipped,   // PageSkippedLine (the keyword is given up)
        Finished,      // FinishedLine
        Stopped,       // StoppedLine
        Other,         // anything else: shown, never interpreted
    };

    Kind kind = Kind::Other;
    std::string engine;
    std::string keyword;  // KeywordStart, Positions
    int positions = 0;    // Positions
    std::string reason;   // Stopped

    static StatusLine Parse(const std::string& line);
};

}  // namespace jobfiles
