// Fuzz target: the status lines as rankcheck reads them. The input is a status line from a
// plug-in, which may quote any keyword of keywords.lst. Whatever kind a line is read as, writing
// that reading back gives the line itself (the count of a positions line as it is written,
// without leading zeros), so a reading never invents or drops a piece. The input split into an
// engine and a keyword also makes every kind of line, each read back as it was written when the
// engine cannot be mistaken for the fixed text around it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "jobfiles/status_lines.h"

namespace {

using jobfiles::StatusLine;
using Kind = StatusLine::Kind;

// The line that `s` says was written.
std::string Written(const StatusLine& s) {
    switch (s.kind) {
        case Kind::KeywordStart:
            return jobfiles::KeywordStartLine(s.engine, s.keyword);
        case Kind::Positions:
            return jobfiles::PositionsLine(s.positions, s.engine, s.keyword);
        case Kind::Retrying:
            return jobfiles::RetryingLine(s.engine);
        case Kind::PageSkipped:
            return jobfiles::PageSkippedLine(s.engine);
        case Kind::Finished:
            return jobfiles::FinishedLine(s.engine);
        case Kind::Stopped:
            return jobfiles::StoppedLine(s.engine, s.reason);
        case Kind::Other:
            break;
    }
    return {};
}

// `line` with the leading zeros of its count dropped ("007 pos." -> "7 pos.").
std::string WithoutLeadingZeros(const std::string& line) {
    const size_t digits = line.find_first_not_of('0');
    if (digits == 0 || digits == std::string::npos) return line;
    const bool allZeros = line[digits] < '0' || line[digits] > '9';
    return line.substr(allZeros ? digits - 1 : digits);
}

void ReadBack(const std::string& line) {
    const StatusLine s = StatusLine::Parse(line);
    if (s.kind == Kind::Other) return;
    const std::string expected = s.kind == Kind::Positions ? WithoutLeadingZeros(line) : line;
    FUZZ_CHECK(Written(s) == expected, "a line read and written again is the line itself");
    FUZZ_CHECK(s.positions >= 0, "a count of positions is never negative");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = fuzzsupport::Bytes(data, size);
    ReadBack(line);

    // The first byte says where the engine ends; the rest is the engine, then the keyword.
    if (size == 0) return 0;
    const std::string rest = line.substr(1);
    const size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    const std::string engine = rest.substr(0, cut);
    const std::string keyword = rest.substr(cut);
    const int count = static_cast<int>(size * 7);
    for (const std::string& written :
         {jobfiles::KeywordStartLine(engine, keyword),
          jobfiles::PositionsLine(count, engine, keyword), jobfiles::RetryingLine(engine),
          jobfiles::PageSkippedLine(engine), jobfiles::FinishedLine(engine),
          jobfiles::StoppedLine(engine, keyword)}) {
        ReadBack(written);
    }
    // An engine word as the plug-ins have them (letters) is never mistaken: each line reads back
    // as the kind, engine and keyword it was written with.
    bool word = !engine.empty();
    for (const char c : engine)
        word = word && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    if (!word) return 0;
    const StatusLine start = StatusLine::Parse(jobfiles::KeywordStartLine(engine, keyword));
    FUZZ_CHECK(
        start.kind == Kind::KeywordStart && start.engine == engine && start.keyword == keyword,
        "a start line gives back its engine and keyword");
    const StatusLine positions = StatusLine::Parse(jobfiles::PositionsLine(count, engine, keyword));
    FUZZ_CHECK(positions.kind == Kind::Positions && positions.engine == engine &&
                   positions.keyword == keyword && positions.positions == count,
               "a positions line gives back its count, engine and keyword");
    const StatusLine stopped = StatusLine::Parse(jobfiles::StoppedLine(engine, keyword));
    FUZZ_CHECK(
        stopped.kind == Kind::Stopped && stopped.engine == engine && stopped.reason == keyword,
        "a stop line gives back its engine and reason");
    FUZZ_CHECK(StatusLine::Parse(jobfiles::FinishedLine(engine)).kind == Kind::Finished &&
                   StatusLine::Parse(jobfiles::PageSkippedLine(engine)).kind == Kind::PageSkipped &&
                   StatusLine::Parse(jobfiles::RetryingLine(engine)).kind == Kind::Retrying,
               "the closing and connection lines are read as what they are");
    return 0;
}
