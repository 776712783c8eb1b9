// ProgressDisplay: rankcheck's output during a run. Every status line is printed as it arrives,
// one per line, oldest first (a log). On a terminal a one-line progress display follows the log:
// the engine, keyword i of n, the current keyword, its positions so far and the elapsed time,
// redrawn in place with a carriage return and erased before anything else is printed, so that it
// never shows up inside a log line. Without a terminal only the plain lines are printed.
//
// Lines and keywords are shown as UTF-8 (text in the ANSI code page is converted).
// It follows the run from the status lines alone (see StatusLine), and from the keyword list and
// the keyword a resumed run starts at. Owned by the run command; main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "host/status_line.h"

namespace rankcheck {

class ProgressDisplay {
  public:
    // `log` receives the status lines and the progress display, `notes` rankcheck's own messages.
    // `live`: draw the progress display (on a terminal). `width` gives the terminal's columns.
    ProgressDisplay(
        std::ostream& log, std::ostream& notes, bool live,
        std::function<int()> width = [] { return 80; });

    // A run begins: the engine word, the keywords as keywords.lst holds them (for "i of n") and
    // the index of the keyword that the run starts on (a resumed run's saved keyword, else 0).
    void BeginRun(const std::string& engine, std::vector<std::string> keywords, int firstKeyword);
    // A status line arrived: printed, and the progress follows it.
    void Line(const std::string& line);
    // One of rankcheck's own messages (to `notes`).
    void Note(const std::string& text);
    // Called regularly while waiting: redraws when the elapsed second has changed.
    void Tick();
    // The run is over: the progress display goes away.
    void EndRun();

    // The text the progress display shows now.
    std::string ProgressText() const;
    int KeywordIndex() const { return keyword_; }
    int Positions() const { return positions_; }

  private:
    void Erase();
    void Draw();
    void Follow(const StatusLine& status);
    int FindKeyword(const std::string& keyword, int from) const;

    std::ostream& log_;
    std::ostream& notes_;
    const bool live_;
    std::function<int()> width_;

    bool running_ = false;
    bool drawn_ = false;
    std::string engine_;
    std::vector<std::string> keywords_;
    int keyword_ = 0;
    bool keywordOver_ = false;  // the current keyword's next start line begins a later keyword
    int positions_ = 0;
    std::chrono::steady_clock::time_point started_;
    long long drawnSecond_ = -1;
};

}  // namespace rankcheck
