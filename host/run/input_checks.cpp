#include "host/run/input_checks.h"

#include <map>

#include "host/report/safe_text.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace rankcheck {

std::string NumberList(const std::vector<int>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i) {
        text += (i == 0                    ? ""
                 : i + 1 == numbers.size() ? " and "
                                           : ", ") +
                std::to_string(numbers[i]);
    }
    return text;
}

namespace {

// The keys found on more than one line, in the order they first appear, with their line
// numbers. `keyed` holds (key, line number) pairs in file order.
std::vector<std::pair<AnsiString, std::vector<int>>> Repeats(
    const std::vector<std::pair<AnsiString, int>>& keyed) {
    std::map<AnsiString, size_t> slot;
    std::vector<std::pair<AnsiString, std::vector<int>>> lines;
    for (const auto& [key, line] : keyed) {
        const auto [at, fresh] = slot.emplace(key, lines.size());
        if (fresh) lines.push_back({key, {}});
        lines[at->second].second.push_back(line);
    }
    std::vector<std::pair<AnsiString, std::vector<int>>> repeated;
    for (auto& entry : lines) {
        if (entry.second.size() > 1) repeated.push_back(std::move(entry));
    }
    return repeated;
}

}  // namespace

std::vector<std::string> KeywordWarnings(const std::vector<AnsiString>& keywords) {
    std::vector<std::string> warnings;
    std::vector<int> blank;
    std::vector<std::pair<AnsiString, int>> keyed;
    for (size_t i = 0; i < keywords.size(); ++i) {
        const int line = static_cast<int>(i + 1);
        if (keywords[i].find_first_not_of(" \t") == AnsiString::npos) {
            blank.push_back(line);
        } else {
            keyed.emplace_back(keywords[i], line);
        }
    }
    if (!blank.empty()) {
        const bool one = blank.size() == 1;
        warnings.push_back(std::string("keywords.lst ") + (one ? "line " : "lines ") +
                           NumberList(blank) + (one ? " is" : " are") + " blank: searched as " +
                           (one ? "an empty keyword" : "empty keywords") + " (delete " +
                           (one ? "it" : "them") + " to skip)");
    }
    for (const auto& [keyword, lines] : Repeats(keyed)) {
        warnings.push_back("keywords.lst lines " + NumberList(lines) + " hold the same keyword \"" +
                           TerminalText(AnsiToUtf8(keyword)) + "\": it is searched " +
                           std::to_string(lines.size()) + " times");
    }
    return warnings;
}

std::vector<std::string> UrlWarnings(const std::vector<AnsiString>& urls) {
    std::vector<std::string> warnings;
    if (urls.empty()) {
        warnings.push_back(
            "urls.lst holds no URL: the results are recorded, but there is no URL of yours to "
            "rank (put your site's URLs there, one per line)");
        return warnings;
    }
    std::vector<std::pair<AnsiString, int>> keyed;
    std::map<int, AnsiString> shown;
    for (size_t i = 0; i < urls.size(); ++i) {
        const int line = static_cast<int>(i + 1);
        try {
            shown[line] = jobfiles::NormaliseUrl(urls[i]);
            keyed.emplace_back(AnsiUpperCase(shown[line]), line);
        } catch (const ERangeError&) {
            // A blank line: the plug-in refuses the file and names the line itself.
        }
    }
    for (const auto& [key, lines] : Repeats(keyed)) {
        warnings.push_back("urls.lst lines " + NumberList(lines) + " are the same URL \"" +
                           TerminalText(AnsiToUtf8(shown[lines.front()])) +
                           "\" once blanks, a trailing \"/\", the scheme and case are set aside");
    }
    return warnings;
}

}  // namespace rankcheck
