#include "ledger/check_inputs.h"

#include <algorithm>

namespace rankcheck::ledger {

namespace {

constexpr const char* kUrlFile = "urls.lst";

std::string Flag(const char* name, bool made) {
    return std::string(name) + ": the check was made " + (made ? "with" : "without") + " it";
}

}  // namespace

std::vector<std::string> InputDifferences(const CheckDetail& check,
                                          const std::vector<UserUrl>& urls,
                                          const CheckOptions& options, size_t maxLines) {
    std::vector<std::string> differences;
    const size_t lines = std::max(check.urls.size(), urls.size());
    size_t differing = 0;
    for (size_t i = 0; i < lines; ++i) {
        const std::string line = std::string(kUrlFile) + ": line " + std::to_string(i + 1);
        std::string difference;
        if (i >= check.urls.size()) {
            difference = line + " is new (" + urls[i].text + ")";
        } else if (i >= urls.size()) {
            difference = line + " (" + check.urls[i].text + ") is gone";
        } else if (check.urls[i].text != urls[i].text) {
            difference = line + " was " + check.urls[i].text + ", is " + urls[i].text;
        } else {
            continue;
        }
        if (++differing <= maxLines) differences.push_back(std::move(difference));
    }
    if (differing > maxLines) {
        const size_t more = differing - maxLines;
        differences.push_back(std::string(kUrlFile) + ": and " + std::to_string(more) + " more " +
                              (more == 1 ? "line differs" : "lines differ"));
    }
    const CheckOptions& made = check.info.options;
    if (made.maxResults != options.maxResults) {
        differences.push_back("--max-results: the check has " + std::to_string(made.maxResults));
    }
    if (made.stopWhenAllFound != options.stopWhenAllFound) {
        differences.push_back(Flag("--stop-when-all-found", made.stopWhenAllFound));
    }
    if (made.exactMatch != options.exactMatch) {
        differences.push_back(Flag("--exact-match", made.exactMatch));
    }
    return differences;
}

}  // namespace rankcheck::ledger
