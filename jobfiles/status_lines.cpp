#include "jobfiles/status_lines.h"

#include <charconv>
#include <string_view>

namespace jobfiles {

namespace {

constexpr std::string_view kStart = "Start ";
constexpr std::string_view kStartMid = " search for keyword ";
constexpr std::string_view kPositionsMid = " pos. on ";
constexpr std::string_view kFor = " for ";
constexpr std::string_view kConnect = "Can't connect to ";
constexpr std::string_view kTryingAgain = ". Trying again";
constexpr std::string_view kPageSkipped = ". Page skipped";
constexpr std::string_view kFinished = "Finished search on ";
constexpr std::string_view kSearchOn = "Search on ";
constexpr std::string_view kStopped = " stopped: ";

using Kind = StatusLine::Kind;

AnsiString Text(std::string_view piece) {
    return AnsiString(piece);
}

AnsiString Quoted(const AnsiString& keyword) {
    return "\"" + keyword + "\"";
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// `"keyword"` at the end of `text`: the keyword itself may hold quotation marks.
bool QuotedTail(std::string_view text, std::string* keyword) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    *keyword = std::string(text.substr(1, text.size() - 2));
    return true;
}

// Each of these fills `s` and returns true when `text` is a line of its kind.

bool ParseKeywordStart(std::string_view text, StatusLine& s) {
    if (!StartsWith(text, kStart)) return false;
    const size_t mid = text.find(kStartMid, kStart.size());
    if (mid == std::string_view::npos ||
        !QuotedTail(text.substr(mid + kStartMid.size()), &s.keyword))
        return false;
    s.kind = Kind::KeywordStart;
    s.engine = std::string(text.substr(kStart.size(), mid - kStart.size()));
    return true;
}

bool ParsePositions(std::string_view text, StatusLine& s) {
    const size_t digitsEnd = text.find_first_not_of("0123456789");
    if (digitsEnd == 0 || digitsEnd == std::string_view::npos ||
        !StartsWith(text.substr(digitsEnd), kPositionsMid)) {
        return false;
    }
    const std::string_view rest = text.substr(digitsEnd + kPositionsMid.size());
    const size_t forAt = rest.find(kFor);
    int count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + digitsEnd, count);
    if (forAt == std::string_view::npos || ec != std::errc() ||
        !QuotedTail(rest.substr(forAt + kFor.size()), &s.keyword)) {
        return false;
    }
    s.kind = Kind::Positions;
    s.positions = count;
    s.engine = std::string(rest.substr(0, forAt));
    return true;
}

bool ParseConnectFailure(std::string_view text, StatusLine& s) {
    if (!StartsWith(text, kConnect)) return false;
    for (const auto& [suffix, kind] :
         {std::pair{kTryingAgain, Kind::Retrying}, std::pair{kPageSkipped, Kind::PageSkipped}}) {
        if (EndsWith(text, suffix) && text.size() > kConnect.size() + suffix.size()) {
            s.kind = kind;
            s.engine = std::string(
                text.substr(kConnect.size(), text.size() - kConnect.size() - suffix.size()));
            return true;
        }
    }
    return false;
}

bool ParseFinished(std::string_view text, StatusLine& s) {
    if (!StartsWith(text, kFinished) || text.size() == kFinished.size()) return false;
    s.kind = Kind::Finished;
    s.engine = std::string(text.substr(kFinished.size()));
    return true;
}

bool ParseStopped(std::string_view text, StatusLine& s) {
    if (!StartsWith(text, kSearchOn)) return false;
    const size_t at = text.find(kStopped, kSearchOn.size());
    if (at == std::string_view::npos) return false;
    s.kind = Kind::Stopped;
    s.engine = std::string(text.substr(kSearchOn.size(), at - kSearchOn.size()));
    s.reason = std::string(text.substr(at + kStopped.size()));
    return true;
}

}  // namespace

AnsiString KeywordStartLine(const AnsiString& engine, const AnsiString& keyword) {
    return Text(kStart) + engine + Text(kStartMid) + Quoted(keyword);
}

AnsiString PositionsLine(int positions, const AnsiString& engine, const AnsiString& keyword) {
    return std::to_string(positions) + Text(kPositionsMid) + engine + Text(kFor) + Quoted(keyword);
}

AnsiString RetryingLine(const AnsiString& engine) {
    return Text(kConnect) + engine + Text(kTryingAgain);
}

AnsiString PageSkippedLine(const AnsiString& engine) {
    return Text(kConnect) + engine + Text(kPageSkipped);
}

AnsiString FinishedLine(const AnsiString& engine) {
    return Text(kFinished) + engine;
}

AnsiString StoppedLine(const AnsiString& engine, const AnsiString& reason) {
    return Text(kSearchOn) + engine + Text(kStopped) + reason;
}

StatusLine StatusLine::Parse(const std::string& line) {
    const std::string_view text(line);
    // No line fits two of the forms; each attempt starts from an empty value.
    for (bool (*parse)(std::string_view, StatusLine&) :
         {&ParseKeywordStart, &ParsePositions, &ParseConnectFailure, &ParseFinished,
          &ParseStopped}) {
        StatusLine attempt;
        if (parse(text, attempt)) return attempt;
    }
    return {};
}

}  // namespace jobfiles
