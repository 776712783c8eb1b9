#include "host/report/ledger_urls.h"

#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace rankcheck {

std::vector<ledger::UserUrl> LedgerUrls(const std::vector<std::string>& lines) {
    std::vector<ledger::UserUrl> urls;
    for (const std::string& line : lines) {
        ledger::UserUrl url{line, ""};
        try {
            url.key = AnsiUpperCase(jobfiles::NormaliseUrl(line));
        } catch (const ERangeError&) {
            url.key = line;
        }
        urls.push_back(std::move(url));
    }
    return urls;
}

std::vector<ledger::UrlRank> RanksOf(const std::vector<std::string>& links,
                                     const std::vector<ledger::UserUrl>& urls) {
    std::vector<AnsiString> upperLinks;
    upperLinks.reserve(links.size());
    for (const std::string& link : links)
        upperLinks.push_back(AnsiUpperCase(jobfiles::WithoutScheme(link)));
    std::vector<ledger::UrlRank> ranks(urls.size());
    for (size_t u = 0; u < urls.size(); ++u) {
        AnsiString wanted;
        try {
            wanted = AnsiUpperCase(jobfiles::NormaliseUrl(urls[u].text));
        } catch (const ERangeError&) {
            continue;  // a blank line ranks nowhere
        }
        for (size_t i = 0; i < upperLinks.size(); ++i) {
            const int position = static_cast<int>(i + 1);
            if (!ranks[u].contains &&
                jobfiles::UpperLinkMatchesUpperUrl(upperLinks[i], wanted, false)) {
                ranks[u].contains = position;
            }
            if (!ranks[u].exact &&
                jobfiles::UpperLinkMatchesUpperUrl(upperLinks[i], wanted, true)) {
                ranks[u].exact = position;
            }
            if (ranks[u].contains && ranks[u].exact) break;
        }
    }
    return ranks;
}

}  // namespace rankcheck
