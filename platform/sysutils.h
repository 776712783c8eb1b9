// Text and number helpers of the framework: integer conversion, upper-casing, the conversion of
// 8-bit ANSI text to UTF-8, and the pauses Sleep and TPacer. The functions are pure and safe on
// any thread, independent of the process locale (nothing here calls or depends on setlocale); a
// TPacer belongs to the thread that pauses with it.
#pragma once

#include <ctime>

#include "platform/ansi_string.h"

// Converts an optional sign followed by decimal digits, within the 32-bit signed range. Anything
// else (blanks, an empty text, other characters, overflow) raises EConvertError, whose message
// quotes the text: "x7" is not an integer.
int StrToInt(const AnsiString& text);

// Decimal text of `value`, with a leading "-" for negatives.
AnsiString IntToStr(long long value);

// Upper-cases ASCII letters and the common letters outside ASCII (Latin-1, Latin Extended-A,
// Greek, Cyrillic). A text that is valid UTF-8 is upper-cased as UTF-8 (é becomes É); any other
// text is taken as Windows-1252. Only mappings that keep the byte length are applied.
AnsiString AnsiUpperCase(const AnsiString& text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const AnsiString& text);

// The system's ANSI code page to UTF-8: a text that is valid UTF-8 already passes unchanged; any
// other text is read as Windows-1252 and converted.
AnsiString AnsiToUtf8(const AnsiString& text);

// Blocks the calling thread for at least `milliseconds` (nothing for 0 or less), also when signals
// interrupt the wait. How much longer it takes is up to the system: the thread's timer slack (see
// TThread) and how soon the thread gets a CPU again.
void Sleep(int milliseconds);

// A series of pauses of `stepMs` each, as a page's result links take them: the k-th Pause returns
// no earlier than k x stepMs after the first Pause began, so the series as a whole never lasts
// less than its pauses add up to. Each pause ends at that deadline rather than stepMs after the
// previous pause happened to end: when a wake-up comes late, the next pause is that much shorter,
// and the lateness of one wake-up is not added to every pause after it.
class TPacer {
  public:
    explicit TPacer(int stepMs) : stepMs_(stepMs) {}
    // Starts the series now rather than at the first Pause, so that work done before the first
    // Pause is part of the first pauses instead of coming in front of them.
    void Begin();
    void Pause();

  private:
    int stepMs_;
    bool started_ = false;
    timespec next_{};  // when the latest pause ends, on the monotonic clock
};
