#include "host/ledger_import.h"

#include <sys/stat.h>

#include <optional>

#include "host/check_recorder.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"

namespace rankcheck {

namespace {

// The modification time of a result file; none when there is no such regular file (a folder of
// that name is not a result).
std::optional<std::time_t> ModifiedAt(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return info.st_mtime;
}

std::vector<std::string> LinesOf(const std::string& file) {
    TStringList lines;
    lines.LoadFromFile(file);
    return lines.Lines();
}

}  // namespace

std::vector<int64_t> ImportFolderOnce(ledger::Ledger& ledger, const std::vector<std::string>& engines) {
    std::vector<int64_t> made;
    if (!ledger.Checks().empty()) return made;
    std::vector<std::string> keywords, urlLines;
    try {
        keywords = LinesOf(jobfiles::kKeywordFile);
        urlLines = LinesOf(jobfiles::kUrlFile);
    } catch (const Exception&) {
        return made;  // without the inputs the files cannot be told apart
    }
    const std::vector<ledger::UserUrl> urls = LedgerUrls(urlLines);
    std::string keywordBytes;
    {
        TStringList list;
        list.LoadFromFile(jobfiles::kKeywordFile);
        keywordBytes = list.Text();
    }
    for (const std::string& engine : engines) {
        std::optional<std::time_t> first, last;
        int found = 0;
        for (size_t i = 0; i < keywords.size(); ++i) {
            const auto at = ModifiedAt(jobfiles::ResultFileName(engine, static_cast<int>(i)));
            if (!at) continue;
            ++found;
            first = first ? std::min(*first, *at) : *at;
            last = last ? std::max(*last, *at) : *at;
        }
        if (found == 0) continue;
        ledger::CheckStart start;
        start.engine = engine;
        start.startedAt = ledger::UtcTimestamp(*first);
        start.keywordsHash = ContentHash(keywordBytes);
        start.keywords = keywords;
        start.urls = urls;
        start.imported = true;
        const int64_t check = ledger.BeginCheck(start);
        for (size_t i = 0; i < keywords.size(); ++i) {
            const std::string file = jobfiles::ResultFileName(engine, static_cast<int>(i));
            if (!ModifiedAt(file)) continue;
            const jobfiles::ResultLines sorted = jobfiles::ResultLines::From(LinesOf(file));
            ledger::KeywordResult result;
            result.index = static_cast<int>(i);
            result.state = sorted.givenUp ? ledger::KeywordState::GivenUp : ledger::KeywordState::Done;
            result.positionsExamined = static_cast<int>(sorted.links.size());
            result.ranks = RanksOf(sorted.links, urls);
            result.links = sorted.links;
            result.recordedAt = ledger::UtcTimestamp(*ModifiedAt(file));
            ledger.RecordKeyword(check, result);
        }
        ledger.EndCheck(check,
                        found == static_cast<int>(keywords.size()) ? ledger::CheckState::Complete
                                                                   : ledger::CheckState::Stopped,
                        ledger::UtcTimestamp(*last));
        made.push_back(check);
    }
    return made;
}

int TopTenCount(ledger::Ledger& ledger, int64_t check) {
    int count = 0;
    for (const ledger::CheckedKeyword& keyword : ledger.LoadCheck(check).keywords) {
        for (const ledger::UrlRank& rank : keyword.ranks) {
            if (rank.contains && *rank.contains <= 10) ++count;
        }
    }
    return count;
}

}  // namespace rankcheck
