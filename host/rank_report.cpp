#include "host/rank_report.h"

#include <algorithm>
#include <system_error>

#include "jobfiles/job_files.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace fs = std::filesystem;

std::string RankCell::Text() const {
    switch (status) {
        case Status::Found:
            return std::to_string(position);
        case Status::NotFound:
            return "-";
        case Status::GivenUp:
            return "error";
        case Status::NotSearched:
            break;
    }
    return "not searched";
}

KeywordResults::KeywordResults(const std::vector<AnsiString>& lines) : searched_(true) {
    jobfiles::ResultLines sorted = jobfiles::ResultLines::From(lines);
    links_ = std::move(sorted.links);
    gaveUp_ = sorted.givenUp;
    positionsBeforeGiveUp_ = sorted.positionsBeforeGiveUp;
}

RankCell KeywordResults::Best(const AnsiString& normalisedUrl, bool exactMatch, int top) const {
    if (!searched_) return {RankCell::Status::NotSearched, 0};
    const size_t limit =
        top > 0 ? std::min(links_.size(), static_cast<size_t>(top)) : links_.size();
    for (size_t i = 0; i < limit; ++i) {
        if (jobfiles::LinkMatchesUrl(links_[i], normalisedUrl, exactMatch)) {
            return {RankCell::Status::Found, static_cast<int>(i + 1)};
        }
    }
    // A give-up matters only when it cut the keyword short of the positions looked at.
    if (gaveUp_ && (top <= 0 || positionsBeforeGiveUp_ < top)) {
        return {RankCell::Status::GivenUp, 0};
    }
    return {RankCell::Status::NotFound, 0};
}

RankReport::RankReport(std::vector<AnsiString> keywords, std::vector<AnsiString> userUrls,
                       std::vector<std::vector<KeywordResults>> results,
                       const ReportOptions& options)
    : keywords_(std::move(keywords)),
      urls_(std::move(userUrls)),
      results_(std::move(results)),
      options_(options) {
    results_.resize(options_.engines.size());
    for (auto& perKeyword : results_)
        perKeyword.resize(keywords_.size());
}

namespace {

std::vector<AnsiString> ReadList(const fs::path& file) {
    TStringList list;
    try {
        list.LoadFromFile(file.string());
    } catch (const Exception& e) {
        throw ReportError(e.what());
    }
    return list.Lines();
}

}  // namespace

RankReport RankReport::Load(const fs::path& dir, const ReportOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        throw ReportError(dir.string() + ": no such folder");
    }
    std::vector<AnsiString> keywords = ReadList(dir / "keywords.lst");
    std::vector<AnsiString> urls = ReadList(dir / "urls.lst");
    for (size_t i = 0; i < urls.size(); ++i) {
        try {
            urls[i] = jobfiles::NormaliseUrl(urls[i]);
        } catch (const ERangeError&) {
            throw ReportError((dir / "urls.lst").string() + " line " + std::to_string(i + 1) +
                              " is empty or blank");
        }
    }
    std::vector<std::vector<KeywordResults>> results(options.engines.size());
    for (size_t e = 0; e < options.engines.size(); ++e) {
        for (size_t k = 0; k < keywords.size(); ++k) {
            const fs::path file =
                dir / jobfiles::ResultFileName(options.engines[e], static_cast<int>(k));
            if (!fs::exists(file, ec)) {
                results[e].emplace_back();
            } else {
                results[e].emplace_back(ReadList(file));
            }
        }
    }
    return RankReport(std::move(keywords), std::move(urls), std::move(results), options);
}

const KeywordResults& RankReport::Results(size_t engine, size_t keyword) const {
    return results_.at(engine).at(keyword);
}

RankCell RankReport::Cell(size_t keyword, size_t url, size_t engine) const {
    return Results(engine, keyword).Best(urls_.at(url), options_.exactMatch, options_.top);
}

}  // namespace rankcheck
