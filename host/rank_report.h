// RankReport: where the user's URLs rank. It reads a working folder as the plug-ins left it
// (keywords.lst, urls.lst and each engine's result files <Engine>-<i>.urls) and answers, per
// keyword, user URL and engine, the best (first) position at which a result link matches the URL,
// by the plug-ins' own matching rule: both sides upper-cased with AnsiUpperCase; with exact
// matching the whole link equals the URL, otherwise the URL occurs inside the link (an empty URL
// occurs nowhere). The user's URLs are normalised as the plug-ins normalise them.
//
// A result file holds one line per position, except error marker lines ("3#Error found#") that a
// plug-in appends when it gives a keyword up: those are not positions.
//
// Owned by whoever loads it; a plain value after Load, read from one thread.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ansi_string.h"

namespace rankcheck {

// A report cannot be made: the message names the file (and line) and the cause.
class ReportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ReportOptions {
    // File base names of the engines, as the plug-ins name their files ("Quillon-0.urls").
    std::vector<std::string> engines{"Quillon", "Verrin"};
    bool exactMatch = false;
    int top = 0;  // > 0: positions above it count as not found
};

struct RankCell {
    enum class Status {
        Found,        // `position` holds the best position
        NotFound,     // not among the positions examined
        GivenUp,      // the engine gave the keyword up before the URL was found
        NotSearched,  // no result file for this keyword yet
    };
    Status status = Status::NotSearched;
    int position = 0;

    // "3", "-", "error", "not searched": the text every report format shows.
    std::string Text() const;
};

// The result file of one keyword on one engine.
class KeywordResults {
  public:
    KeywordResults() = default;  // not searched
    // From the lines of a result file.
    explicit KeywordResults(const std::vector<AnsiString>& lines);

    bool Searched() const { return searched_; }
    // Result links in position order: links()[n - 1] is position n.
    const std::vector<AnsiString>& Links() const { return links_; }
    // Whether the engine gave the keyword up, and how many positions it had counted before.
    bool GaveUp() const { return gaveUp_; }
    int PositionsBeforeGiveUp() const { return positionsBeforeGiveUp_; }

    // The best position of `normalisedUrl` (already through NormaliseUrl), looking at positions
    // 1..top (all when top <= 0).
    RankCell Best(const AnsiString& normalisedUrl, bool exactMatch, int top) const;

  private:
    bool searched_ = false;
    std::vector<AnsiString> links_;
    bool gaveUp_ = false;
    int positionsBeforeGiveUp_ = 0;
};

class RankReport {
  public:
    // Reads the folder; raises ReportError when keywords.lst or urls.lst cannot be read or a
    // line of urls.lst is empty or blank. A missing result file is a keyword not searched yet.
    static RankReport Load(const std::filesystem::path& dir, const ReportOptions& options);
    // Builds a report from data in memory (results[engine][keyword]).
    RankReport(std::vector<AnsiString> keywords, std::vector<AnsiString> userUrls,
               std::vector<std::vector<KeywordResults>> results, const ReportOptions& options);

    const ReportOptions& Options() const { return options_; }
    const std::vector<AnsiString>& Keywords() const { return keywords_; }
    // The user's URLs as they are matched (normalised).
    const std::vector<AnsiString>& Urls() const { return urls_; }
    const std::vector<std::string>& Engines() const { return options_.engines; }
    const KeywordResults& Results(size_t engine, size_t keyword) const;

    RankCell Cell(size_t keyword, size_t url, size_t engine) const;

  private:
    std::vector<AnsiString> keywords_;
    std::vector<AnsiString> urls_;
    std::vector<std::vector<KeywordResults>> results_;
    ReportOptions options_;
};

}  // namespace rankcheck
