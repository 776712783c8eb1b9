#include "host/check_recorder.h"

#include <cstdio>

#include "jobfiles/job_files.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
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
            if (!ranks[u].exact && jobfiles::UpperLinkMatchesUpperUrl(upperLinks[i], wanted, true)) {
                ranks[u].exact = position;
            }
            if (ranks[u].contains && ranks[u].exact) break;
        }
    }
    return ranks;
}

std::string ContentHash(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

CheckRecorder::CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check,
                             std::vector<ledger::UserUrl> urls, std::function<std::string()> now)
    : ledger_(ledger), check_(check), urls_(std::move(urls)), now_(std::move(now)) {
    for (const ledger::CheckedKeyword& keyword : ledger_.LoadCheck(check_.id).keywords) {
        if (keyword.state == ledger::KeywordState::Done) final_.insert(keyword.index);
        if (keyword.state == ledger::KeywordState::GivenUp) {
            final_.insert(keyword.index);
            givenUp_.insert(keyword.index);
        }
    }
}

void CheckRecorder::Record(int index, bool partial) {
    TStringList lines;
    lines.LoadFromFile(jobfiles::ResultFileName(check_.engine, index));
    const jobfiles::ResultLines sorted = jobfiles::ResultLines::From(lines.Lines());
    ledger::KeywordResult result;
    result.index = index;
    result.positionsExamined = static_cast<int>(sorted.links.size());
    if (sorted.givenUp) {
        result.state = ledger::KeywordState::GivenUp;
    } else if (partial && result.positionsExamined < check_.options.maxResults) {
        result.state = ledger::KeywordState::Partial;
    } else {
        result.state = ledger::KeywordState::Done;
    }
    result.ranks = RanksOf(sorted.links, urls_);
    result.links = sorted.links;
    result.recordedAt = now_();
    ledger_.RecordKeyword(check_.id, result);
    if (result.state != ledger::KeywordState::Partial) final_.insert(index);
    if (result.state == ledger::KeywordState::GivenUp) givenUp_.insert(index);
}

void CheckRecorder::CatchUp(int keywordIndex) {
    const int end = std::min(keywordIndex, check_.keywordsTotal);
    for (int i = 0; i < end; ++i) {
        if (!final_.count(i)) Record(i, false);
    }
}

void CheckRecorder::OnStatusLine(const StatusLine& line) {
    switch (line.kind) {
        case StatusLine::Kind::Positions:
        case StatusLine::Kind::Retrying:
        case StatusLine::Kind::PageSkipped:
            pageSeen_ = true;
            return;
        case StatusLine::Kind::KeywordStart:
            break;
        default:
            return;
    }
    if (!pageSeen_) return;  // the progress file may still be an older run's
    const jobfiles::ProgressRecord progress =
        jobfiles::ProgressRecord::Load(jobfiles::ProgressFileName(check_.engine));
    const bool retryingFirstPage = progress.pageNumber == 1 && progress.position == 0;
    CatchUp(retryingFirstPage ? progress.keywordIndex : progress.keywordIndex + 1);
}

void CheckRecorder::Finish(bool completed, bool stoppedByUser) {
    if (pageSeen_) {
        const jobfiles::ProgressRecord progress =
            jobfiles::ProgressRecord::Load(jobfiles::ProgressFileName(check_.engine));
        const int current = progress.keywordIndex;
        CatchUp(completed ? current + 1 : current);
        if (!completed && current >= 0 && current < check_.keywordsTotal && !final_.count(current)) {
            Record(current, true);
        }
    } else if (completed) {
        CatchUp(check_.keywordsTotal);
    }
    const ledger::CheckState state = completed       ? ledger::CheckState::Complete
                                     : stoppedByUser ? ledger::CheckState::Stopped
                                                     : ledger::CheckState::Failed;
    ledger_.EndCheck(check_.id, state, now_());
}

std::vector<int> CheckRecorder::GivenUp() const {
    return {givenUp_.begin(), givenUp_.end()};
}

}  // namespace rankcheck
