#include "ledger/check_state_words.h"

#include <vector>

namespace rankcheck::ledger {

namespace {

std::string Keywords(int searched, int total) {
    return std::to_string(searched) + " of " + std::to_string(total) +
           (total == 1 ? " keyword" : " keywords");
}

// "2 given up, 1 suspect"
std::string FailedParts(const CheckInfo& check) {
    std::vector<std::string> parts;
    if (check.keywordsError > 0) parts.push_back(std::to_string(check.keywordsError) + " given up");
    if (check.keywordsSuspect > 0)
        parts.push_back(std::to_string(check.keywordsSuspect) + " suspect");
    if (check.keywordsCutShort > 0) {
        parts.push_back(std::to_string(check.keywordsCutShort) + " partial");
    }
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

}  // namespace

CheckStateWords StateWords(const CheckInfo& check, bool lockFree) {
    const int searched = check.keywordsTotal - check.KeywordsNotReached();
    const std::string reason = check.reason.empty() ? "" : " (" + check.reason + ")";
    switch (check.state) {
        case CheckState::Complete: {
            const int failed = check.KeywordsFailed();
            if (failed == 0) return {"complete", "complete"};
            return {"complete", "complete with " + std::to_string(failed) + " failed (" +
                                    FailedParts(check) + ")"};
        }
        case CheckState::Stopped:
            return {"stopped", "stopped after " + Keywords(searched, check.keywordsTotal) + reason};
        case CheckState::Failed:
            return {"failed", "failed after " + Keywords(searched, check.keywordsTotal) + reason};
        case CheckState::Running:
            break;
    }
    if (lockFree) {
        return {"interrupted", "interrupted after " + Keywords(searched, check.keywordsTotal)};
    }
    return {"running", "running: " + Keywords(searched, check.keywordsTotal) + " so far"};
}

}  // namespace rankcheck::ledger
