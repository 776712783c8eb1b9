// ProgressDisplay: rankcheck's output during a run. Every status line is printed as it arrives,
// one per line, oldest first (a log). On a terminal a one-line progress display follows the log:
// per engine under way keyword i of n, the current keyword (with one engine), its positions so
// far and an estimate of the time left, then the elapsed time,
// redrawn in place with a carriage return and erased before anything else is printed, so that it
// never shows up inside a log line. Without a terminal only the plain lines are printed.
//
// Lines and keywords are shown as UTF-8 (text in the ANSI code page is converted), made safe for a
// terminal (host/report/safe_text.h): control characters escaped, a status line wider than
// kLineColumns and a keyword wider than kValueColumns cut. Notes keep their line ends.
// It follows the run from the status lines alone (jobfiles::StatusLine), and from the keyword
// list and the keyword a resumed run starts at. Owned by the run (RunSession); main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "jobfiles/status_lines.h"

namespace rankcheck {

class ProgressDisplay {
  public:
    // `log` receives the status lines and the progress display, `notes` rankcheck's own messages.
    // `live`: draw the progress display (on a terminal). `width` gives the terminal's columns.
    ProgressDisplay(
        std::ostream& log, std::ostream& notes, bool live,
        std::function<int()> width = [] { return 80; });

    // A run begins: the engine word, the keywords as keywords.lst holds them (for "i of n"), the
    // index of the keyword that the run starts on (a resumed run's saved keyword, else 0) and
    // the positions asked for per keyword (for the time left). Several runs may be under way.
    void BeginRun(const std::string& engine, std::vector<std::string> keywords, int firstKeyword,
                  int maxResults = 100);
    // A status line of `engine`'s run arrived: printed, and its progress follows it. While two
    // runs are under way a line that does not name its engine is printed as "<engine>: line".
    void Line(const std::string& engine, const std::string& line);
    // The same for the run begun last.
    void Line(const std::string& line);
    // One of rankcheck's own messages (to `notes`).
    void Note(const std::string& text);
    // Called regularly while waiting: redraws when the elapsed second has changed.
    void Tick();
    // `engine`'s run is over (every run: no engine); the display goes away with the last one.
    void EndRun(const std::string& engine);
    void EndRun();

    // The text the progress display shows now: one part per run under way. `columns` > 0: when
    // the full text is wider, the short form "Quillon 3/12, 40 pos., 0:05 left | ...", so that
    // two runs side by side keep their times left on an 80-column terminal.
    std::string ProgressText(int columns = 0) const;
    // The run begun last (or `engine`'s): its keyword index and positions so far.
    int KeywordIndex(const std::string& engine = "") const;
    int Positions(const std::string& engine = "") const;

  private:
    struct Run {
        std::string engine;
        std::vector<std::string> keywords;
        int firstKeyword = 0;
        int maxResults = 100;
        int keyword = 0;
        bool keywordOver = false;  // the current keyword's next start line begins a later keyword
        int positions = 0;
        std::chrono::steady_clock::time_point started;

        void Follow(const jobfiles::StatusLine& status);
        int FindKeyword(const std::string& keyword, int from) const;
        // "keyword 3 of 12" with the keyword when `withKeyword`, positions, and the time left;
        // `brief`: "3/12", positions and the time left.
        std::string Text(bool withKeyword, bool brief = false) const;
    };

    void Erase();
    void Draw();
    Run* Find(const std::string& engine);
    const Run* Find(const std::string& engine) const;

    std::ostream& log_;
    std::ostream& notes_;
    const bool live_;
    std::function<int()> width_;

    std::vector<Run> runs_;  // under way, in the order begun
    bool drawn_ = false;
    std::chrono::steady_clock::time_point started_;  // of the first run under way
    long long drawnSecond_ = -1;
};

}  // namespace rankcheck
