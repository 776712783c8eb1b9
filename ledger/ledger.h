// Ledger: the check ledger of a working folder, an SQLite database ("rankcheck.db" by default).
// Every check rankcheck makes is kept in it with its date, its options, the keywords and URLs it
// was made with, the full result list of every keyword and the best position of every URL in
// both matching modes, so that reports can show change and history long after keywords.lst and
// the result files have changed. Keywords are identified across checks by their text (byte for
// byte), URLs by their key (UserUrl::Key), never by their line numbers.
//
// Checks are ordered by id, which is the order they were begun; "latest" and "previous" follow
// that order. Times are given by the caller as ISO 8601 UTC ("2026-12-08T04:21:16Z").
//
// The ledger is never given the proxy password and never stores it: proxy.def stays out of it.
//
// Safety: every change is one transaction, so a process killed at any point leaves either the
// whole change or none of it. Recording a keyword replaces what the check had for it, so a
// resumed check records a keyword again without duplicate rows. WAL lets readers in other
// processes (rankcheck report) read a consistent snapshot while one writer (rankcheck run)
// records; a writer waits for another for up to the busy time-out, then fails with "database is
// locked". Commits are made with synchronous=NORMAL: a killed process loses nothing that was
// committed; a power cut may lose the last commits but never leaves the file inconsistent
// (Options::durableCommits makes every commit reach the disk, at one flush per commit).
//
// Failures: SqliteError (the database: "rankcheck.db: database is locked") and LedgerError (a
// request the ledger refuses: an unknown check, a schema newer than this program, bad input); the
// message of both starts with the file name. Both are std::runtime_error.
//
// Owned by one command; one connection, used from the thread that opened it. Any number of
// Ledger objects, in one process or several, may have the same file open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ledger/ledger_types.h"
#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

class LedgerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Ledger {
  public:
    static constexpr const char* kDefaultFileName = "rankcheck.db";

    struct Options {
        bool readOnly = false;        // no file is created, nothing is written or migrated
        int busyTimeoutMs = 5000;     // how long a writer waits for another writer
        bool durableCommits = false;  // synchronous=FULL: flush the WAL on every commit
    };

    // Opens `path`, creating it unless read-only, and takes its schema forward to this program's
    // version. Raises when the file cannot be opened or created, is not a database, or has a
    // newer schema (or, read-only, an older one).
    explicit Ledger(const std::string& path);
    Ledger(const std::string& path, const Options& options);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    const std::string& Path() const;
    int SchemaVersion();

    // Recording -----------------------------------------------------------------------------

    // A new check in state running, every keyword not reached; returns its id.
    int64_t BeginCheck(const CheckStart& start);
    // Stores what the check found for one keyword, replacing whatever it had for it. The check
    // must be running; the state must not be NotReached; `ranks` has one entry per URL of the
    // check and each rank lies within the links.
    void RecordKeyword(int64_t check, const KeywordResult& result);
    // Ends a running check as complete, stopped or failed.
    void EndCheck(int64_t check, CheckState state, const std::string& endedAt);
    // A stopped or failed check goes back to running, to be resumed; its recorded keywords stay.
    void ReopenCheck(int64_t check);

    // Checks ---------------------------------------------------------------------------------

    // Raises LedgerError for an unknown id.
    CheckInfo Check(int64_t id);
    // Every check of `engine` (every check: empty engine), by id, with their keyword counts.
    std::vector<CheckInfo> Checks(const std::string& engine = "");
    std::optional<CheckInfo> LatestCheck(const std::string& engine);
    // The latest check of the engine when it is not complete (running, stopped or failed).
    std::optional<CheckInfo> ResumableCheck(const std::string& engine);
    // The latest complete check of the engine begun before `beforeCheck`.
    std::optional<CheckInfo> PreviousComplete(const std::string& engine, int64_t beforeCheck);

    // Contents -------------------------------------------------------------------------------

    CheckDetail LoadCheck(int64_t id);
    // The stored result list of one keyword, in position order (empty while not reached).
    std::vector<std::string> ResultList(int64_t check, int keywordIndex);

    // Reports --------------------------------------------------------------------------------

    // Every keyword and URL of a check with its status, the previous complete check's rank of
    // the same keyword text and URL key, and the last known rank where this check has none.
    CheckReport Report(int64_t check, RankMode mode);
    // The rank of every URL in every check, filtered, ordered by engine, keyword text, URL key
    // and check. A keyword or URL key that a check lists twice gives one row, its first line's.
    void History(const HistoryFilter& filter, const std::function<void(const HistoryRow&)>& row);
    std::vector<HistoryRow> History(const HistoryFilter& filter);

  private:
    struct Statements;

    [[noreturn]] void Refuse(const std::string& message) const;
    CheckInfo RequireCheck(int64_t id);
    std::optional<CheckInfo> FindCheck(const char* where, int64_t a, const std::string& engine);
    int64_t KeywordId(const std::string& text);
    int64_t LinkId(const std::string& text);
    void LastKnown(const CheckInfo& check, int64_t keywordId, const std::string& urlKey,
                   RankMode mode, ReportRow& row);

    std::unique_ptr<SqliteDb> db_;
    std::unique_ptr<Statements> statements_;
};

}  // namespace rankcheck::ledger
