#include "host/status_line.h"

#include <charconv>
#include <string_view>

namespace rankcheck {

namespace {

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

}  // namespace

StatusLine StatusLine::Parse(const std::string& line) {
    StatusLine s;
    const std::string_view text(line);

    constexpr std::string_view kStart = "Start ";
    constexpr std::string_view kStartMid = " search for keyword ";
    if (StartsWith(text, kStart)) {
        const size_t mid = text.find(kStartMid, kStart.size());
        if (mid != std::string_view::npos &&
            QuotedTail(text.substr(mid + kStartMid.size()), &s.keyword)) {
            s.kind = Kind::KeywordStart;
            s.engine = std::string(text.substr(kStart.size(), mid - kStart.size()));
            return s;
        }
    }

    constexpr std::string_view kPositionsMid = " pos. on ";
    constexpr std::string_view kFor = " for ";
    const size_t digitsEnd = text.find_first_not_of("0123456789");
    if (digitsEnd != 0 && digitsEnd != std::string_view::npos &&
        StartsWith(text.substr(digitsEnd), kPositionsMid)) {
        const std::string_view rest = text.substr(digitsEnd + kPositionsMid.size());
        const size_t forAt = rest.find(kFor);
        int count = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + digitsEnd, count);
        if (forAt != std::string_view::npos && ec == std::errc() &&
            QuotedTail(rest.substr(forAt + kFor.size()), &s.keyword)) {
            s.kind = Kind::Positions;
            s.positions = count;
            s.engine = std::string(rest.substr(0, forAt));
            return s;
        }
    }

    constexpr std::string_view kConnect = "Can't connect to ";
    if (StartsWith(text, kConnect)) {
        for (const auto& [suffix, kind] :
             {std::pair{std::string_view(". Trying again"), Kind::Retrying},
              std::pair{std::string_view(". Page skipped"), Kind::PageSkipped}}) {
            if (EndsWith(text, suffix) && text.size() > kConnect.size() + suffix.size()) {
                s.kind = kind;
                s.engine = std::string(
                    text.substr(kConnect.size(), text.size() - kConnect.size() - suffix.size()));
                return s;
            }
        }
    }

    constexpr std::string_view kFinished = "Finished search on ";
    if (StartsWith(text, kFinished) && text.size() > kFinished.size()) {
        s.kind = Kind::Finished;
        s.engine = std::string(text.substr(kFinished.size()));
        return s;
    }

    constexpr std::string_view kSearchOn = "Search on ";
    constexpr std::string_view kStopped = " stopped: ";
    if (StartsWith(text, kSearchOn)) {
        const size_t at = text.find(kStopped, kSearchOn.size());
        if (at != std::string_view::npos) {
            s.kind = Kind::Stopped;
            s.engine = std::string(text.substr(kSearchOn.size(), at - kSearchOn.size()));
            s.reason = std::string(text.substr(at + kStopped.size()));
            return s;
        }
    }
    return s;
}

}  // namespace rankcheck
