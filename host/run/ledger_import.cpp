#include "host/run/ledger_import.h"

#include <sys/stat.h>

#include <optional>

#include "host/report/ledger_urls.h"
#include "jobfiles/job_files.h"
#include "platform/string_list.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

// The modification time of a result file; none when there is no such regular file (a folder of
// that name is not a result).
std::optional<std::time_t> ModifiedAt(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return info.st_mtime;
}

std::vector<std::string> LinesOf(const fs::path& file) {
    TStringList lines;
    lines.LoadFromFile(file.string());
    return lines.Lines();
}

// One engine's result files as an imported check; none when the engine has no result file.
std::optional<int64_t> ImportEngine(ledger::Ledger& ledger, const fs::path& folder,
                                    const FolderInputs& inputs,
                                    const std::vector<ledger::UserUrl>& urls,
                                    const std::string& engine) {
    const std::vector<std::string>& keywords = inputs.keywords;
    std::vector<std::optional<std::time_t>> modified;
    std::optional<std::time_t> first, last;
    for (size_t i = 0; i < keywords.size(); ++i) {
        const auto at = ModifiedAt(folder / jobfiles::ResultFileName(engine, static_cast<int>(i)));
        modified.push_back(at);
        if (!at) continue;
        first = first ? std::min(*first, *at) : *at;
        last = last ? std::max(*last, *at) : *at;
    }
    if (!first) return std::nullopt;
    ledger::CheckStart start;
    start.engine = engine;
    start.startedAt = ledger::UtcTimestamp(*first);
    start.keywordsHash = inputs.keywordsHash;
    start.keywords = keywords;
    start.urls = urls;
    start.imported = true;
    const int64_t check = ledger.BeginCheck(start);
    int found = 0;
    for (size_t i = 0; i < keywords.size(); ++i) {
        if (!modified[i]) continue;
        ++found;
        const fs::path file = folder / jobfiles::ResultFileName(engine, static_cast<int>(i));
        const jobfiles::ResultLines sorted = jobfiles::ResultLines::From(LinesOf(file));
        ledger::KeywordResult result;
        result.index = static_cast<int>(i);
        result.state = sorted.givenUp ? ledger::KeywordState::GivenUp : ledger::KeywordState::Done;
        result.positionsExamined = static_cast<int>(sorted.links.size());
        result.ranks = RanksOf(sorted.links, urls);
        result.links = sorted.links;
        result.recordedAt = ledger::UtcTimestamp(*modified[i]);
        ledger.RecordKeyword(check, result);
    }
    ledger.EndCheck(check,
                    found == static_cast<int>(keywords.size()) ? ledger::CheckState::Complete
                                                               : ledger::CheckState::Stopped,
                    ledger::UtcTimestamp(*last));
    return check;
}

}  // namespace

std::vector<int64_t> ImportFolderOnce(ledger::Ledger& ledger, const fs::path& folder,
                                      const FolderInputs& inputs,
                                      const std::vector<std::string>& engines) {
    std::vector<int64_t> made;
    if (!ledger.Checks().empty()) return made;
    // Without the inputs the files cannot be told apart.
    if (!inputs.keywordsRead || !inputs.urlsRead) return made;
    const std::vector<ledger::UserUrl> urls = LedgerUrls(inputs.urls);
    for (const std::string& engine : engines) {
        if (const auto check = ImportEngine(ledger, folder, inputs, urls, engine))
            made.push_back(*check);
    }
    return made;
}

bool HasResultFiles(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const auto ref = jobfiles::ParseResultFileName(entry.path().filename().string());
        const jobfiles::EngineInfo* engine = ref ? jobfiles::FindEngine(ref->engine) : nullptr;
        if (engine != nullptr && ref->engine == engine->name) return true;
    }
    return false;
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
