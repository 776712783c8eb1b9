// The values the check ledger takes and gives: check and keyword states, what a check starts
// with, what is recorded per keyword, and what the queries answer. Also the rules every report
// applies to a stored rank (its status, the change against an earlier check) and the timestamp
// form the ledger keeps (ISO 8601 UTC, "2026-12-08T04:21:16Z"), so that all callers show the same.
//
// Plain values; any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rankcheck::ledger {

enum class CheckState { Running, Complete, Stopped, Failed };

enum class KeywordState {
    NotReached,  // the check has not searched it (yet)
    Done,        // the engine ran through it: every requested position, or all it had
    GivenUp,     // the engine gave it up (an error marker line ended its result file)
    Partial,     // the run stopped while it was under way
};

// Which of the two precomputed best positions a query answers with.
enum class RankMode {
    Contains,  // the URL occurs inside the link
    Exact,     // the URL is the whole link
};

// What a report says of one keyword and URL in one check.
enum class RankStatus {
    Ranked,       // the URL was at `rank`
    NotFound,     // not among the positions examined, and every requested position was examined
    Partial,      // not among the positions examined, but fewer were examined than requested
    Error,        // the engine gave the keyword up before the URL was found
    NotSearched,  // the check did not reach the keyword
};

// The names stored in the database and shown in reports: "running", "complete", "stopped",
// "failed"; "not_reached", "done", "given_up", "partial"; "ranked", "not_found", "partial",
// "error", "not_searched".
const char* Name(CheckState state);
const char* Name(KeywordState state);
const char* Name(RankStatus status);
// The state of a stored name; nullopt for any other text.
std::optional<CheckState> CheckStateNamed(std::string_view name);
std::optional<KeywordState> KeywordStateNamed(std::string_view name);

struct CheckOptions {
    int maxResults = 100;  // positions requested per keyword
    bool stopWhenAllFound = false;
    bool exactMatch = false;
};

// One line of urls.lst. `text` is the line as written; `key` is what identifies the URL across
// checks (the caller's normalised form, so that "http://www.a.example/" and "www.a.example" keep
// one history); an empty key means the text itself.
struct UserUrl {
    std::string text;
    std::string key;
    const std::string& Key() const { return key.empty() ? text : key; }
};

// Everything a check starts with. The ledger is never given a proxy password and never stores one.
struct CheckStart {
    std::string engine;     // the engine's file base name: "Quillon", "Verrin"
    std::string startedAt;  // ISO 8601 UTC
    CheckOptions options;
    std::string keywordsHash;           // of keywords.lst, as the caller computes it
    std::vector<std::string> keywords;  // the lines of keywords.lst, in file order, byte-exact
    std::vector<UserUrl> urls;          // the lines of urls.lst, in file order
    bool imported = false;              // made from result files found without a ledger
};

// The best position of one URL in one keyword's result list, for both matching modes; nullopt:
// not among the links.
struct UrlRank {
    std::optional<int> contains;
    std::optional<int> exact;
    std::optional<int> In(RankMode mode) const { return mode == RankMode::Exact ? exact : contains; }
    bool operator==(const UrlRank&) const = default;
};

// What a check found for one keyword, as RecordKeyword stores it.
struct KeywordResult {
    int index = 0;  // the keyword's line in keywords.lst, from 0
    KeywordState state = KeywordState::Done;
    int positionsExamined = 0;
    std::vector<std::string> links;  // the result list in position order: links[n - 1] is position n
    std::vector<UrlRank> ranks;      // one per URL of the check, in urls.lst order
    std::string recordedAt;          // ISO 8601 UTC
};

struct CheckInfo {
    int64_t id = 0;
    std::string engine;
    std::string startedAt;
    std::optional<std::string> endedAt;
    CheckState state = CheckState::Running;
    bool imported = false;
    CheckOptions options;
    std::string keywordsHash;
    int keywordsTotal = 0;
    int keywordsDone = 0;
    int keywordsGivenUp = 0;
    int keywordsPartial = 0;
};

// One keyword of a stored check.
struct CheckedKeyword {
    int index = 0;
    std::string text;
    KeywordState state = KeywordState::NotReached;
    int positionsExamined = 0;
    std::optional<std::string> recordedAt;
    std::vector<UrlRank> ranks;  // one per URL of the check; all nullopt while not reached
};

struct CheckDetail {
    CheckInfo info;
    std::vector<CheckedKeyword> keywords;  // in index order
    std::vector<UserUrl> urls;             // in index order
};

// One keyword and URL of a check, with what a report needs to show it.
struct ReportRow {
    int keywordIndex = 0;
    std::string keyword;
    int urlIndex = 0;
    std::string url;  // as written in this check's urls.lst
    KeywordState keywordState = KeywordState::NotReached;
    int positionsExamined = 0;
    std::optional<int> rank;
    RankStatus status = RankStatus::NotSearched;
    // The same keyword text and URL in the previous complete check of the engine, when there is
    // one and it had both (status NotSearched where it had the keyword or URL not at all).
    std::optional<RankStatus> previousStatus;
    std::optional<int> previousRank;
    std::string change;  // ChangeText(...)
    // For a row that is not Ranked or NotFound: the latest earlier check of the engine where this
    // keyword was done or this URL ranked for it.
    std::optional<int64_t> lastKnownCheck;
    std::optional<std::string> lastKnownAt;  // that check's start
    std::optional<int> lastKnownRank;        // nullopt: not found there
};

struct CheckReport {
    CheckInfo check;
    std::optional<CheckInfo> previous;  // the previous complete check of the engine
    std::vector<ReportRow> rows;        // by keyword index, then URL index
};

struct HistoryFilter {
    std::optional<std::string> engine;   // exact engine name
    std::optional<std::string> keyword;  // exact keyword text (bytes)
    std::optional<std::string> url;      // a URL key (UserUrl::Key)
    RankMode mode = RankMode::Contains;
};

// One keyword and URL in one check.
struct HistoryRow {
    std::string engine;
    int64_t checkId = 0;
    std::string checkedAt;  // the check's start
    std::string keyword;
    std::string url;  // as written in that check's urls.lst
    std::optional<int> rank;
    KeywordState keywordState = KeywordState::NotReached;
    RankStatus status = RankStatus::NotSearched;
};

// The status of a stored rank: Ranked whenever there is a rank (a URL found before a stop or a
// give-up counts); otherwise by the keyword's state, where a keyword that was stopped or given
// up only after every requested position counts as fully examined.
RankStatus StatusOf(KeywordState state, int positionsExamined, int maxResults,
                    std::optional<int> rank);

// The change column: previous − current ("3": moved up three places, "0", "-2") when both ranked;
// "new" when it ranks now and the previous complete check examined the keyword fully without
// finding it, or did not search this keyword or URL at all (NotSearched); "lost" when it ranked
// there and is not found now; empty otherwise (no previous complete check, or one side unknown:
// partial or error). `previous` is nullopt when there is no previous complete check.
std::string ChangeText(RankStatus now, std::optional<int> rank,
                       const std::optional<RankStatus>& previous, std::optional<int> previousRank);

// "2026-12-08T04:21:16Z" for a time in seconds since the epoch.
std::string UtcTimestamp(std::time_t time);
// Whether `text` has exactly that form (and a plausible date and time).
bool IsUtcTimestamp(std::string_view text);

}  // namespace rankcheck::ledger
