#include "ledger/ledger_types.h"

#include <cstdio>

#include "ledger/keyword_outcome.h"

namespace rankcheck::ledger {

const char* Name(CheckState state) {
    switch (state) {
        case CheckState::Running:
            return "running";
        case CheckState::Complete:
            return "complete";
        case CheckState::Stopped:
            return "stopped";
        case CheckState::Failed:
            break;
    }
    return "failed";
}

const char* Name(KeywordState state) {
    switch (state) {
        case KeywordState::NotReached:
            return "not_reached";
        case KeywordState::Done:
            return "done";
        case KeywordState::GivenUp:
            return "given_up";
        case KeywordState::Partial:
            break;
    }
    return "partial";
}

const char* Name(RankStatus status) {
    switch (status) {
        case RankStatus::Ranked:
            return "ranked";
        case RankStatus::NotFound:
            return "not_found";
        case RankStatus::Beyond:
            return "beyond";
        case RankStatus::Suspect:
            return "suspect";
        case RankStatus::Partial:
            return "partial";
        case RankStatus::Error:
            return "error";
        case RankStatus::NotSearched:
            break;
    }
    return "not_searched";
}

std::optional<CheckState> CheckStateNamed(std::string_view name) {
    for (CheckState s : {CheckState::Running, CheckState::Complete, CheckState::Stopped,
                         CheckState::Failed}) {
        if (name == Name(s)) return s;
    }
    return std::nullopt;
}

std::optional<KeywordState> KeywordStateNamed(std::string_view name) {
    for (KeywordState s : {KeywordState::NotReached, KeywordState::Done, KeywordState::GivenUp,
                           KeywordState::Partial}) {
        if (name == Name(s)) return s;
    }
    return std::nullopt;
}

std::optional<RankStatus> RankStatusNamed(std::string_view name) {
    for (RankStatus s :
         {RankStatus::Ranked, RankStatus::NotFound, RankStatus::Beyond, RankStatus::Suspect,
          RankStatus::Error, RankStatus::Partial, RankStatus::NotSearched}) {
        if (name == Name(s)) return s;
    }
    return std::nullopt;
}

RankStatus StatusOf(KeywordState state, int positionsExamined, int maxResults,
                    std::optional<int> rank) {
    if (rank) return RankStatus::Ranked;
    return OutcomeOf({0, "", state, positionsExamined, maxResults}, std::nullopt).status;
}

std::string ChangeText(RankStatus now, std::optional<int> rank,
                       const std::optional<RankStatus>& previous, std::optional<int> previousRank) {
    if (!previous) return "";
    if (now == RankStatus::Ranked && rank) {
        if (*previous == RankStatus::Ranked && previousRank) {
            return std::to_string(*previousRank - *rank);
        }
        if (*previous == RankStatus::NotFound || *previous == RankStatus::NotSearched) return "new";
        return "";
    }
    if (now == RankStatus::NotFound && *previous == RankStatus::Ranked) return "lost";
    return "";
}

std::string UtcTimestamp(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];  // room for any year gmtime_r gives
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool IsUtcTimestamp(std::string_view text) {
    constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kForm.size()) return false;
    for (size_t i = 0; i < kForm.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
    }
    const auto number = [&](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    const int month = number(5), day = number(8), hour = number(11), minute = number(14),
              second = number(17);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 60;
}

}  // namespace rankcheck::ledger
