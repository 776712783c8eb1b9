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
// Folders: a check belongs to the project folder it was made in (Options::folder), so that one
// ledger file shared by several folders (--db) keeps their checks apart: every query that finds
// checks to continue, list or compare (LatestCheck, ResumableCheck, PreviousComplete, Checks,
// History, and the comparisons of Report) keeps to the folder, and a check of another folder is
// never reopened, ended or recorded into. Checks recorded before the ledger kept folders (schema
// version 1) have none: every folder counts them as its own until a run in some folder begins or
// reopens a check, which claims them all for that folder. Check(id) and Report(id) find a check
// of any folder by its id; Report compares it within its own folder.
//
// What a report says is true: a keyword's outcome in a check is told from its state, how deep it
// was examined and its history (keyword_outcome.h), so that a page without results, a shallow
// check or a given-up keyword never reads as "not found", "lost" or "new"; and a change compares
// like with like (ReportRow). Outcomes are worked out when asked for and never stored; each
// keyword of a check keeps only its last trusted check, worked out when the check begins.
//
// The ledger is never given the proxy password and never stores it: proxy.def stays out of it.
//
// Safety: every change is one transaction, so a process killed at any point leaves either the
// whole change or none of it. Recording a keyword replaces what the check had for it, so a
// resumed or rechecked check records a keyword again without duplicate rows. WAL lets readers in
// other processes (rankcheck report) read a consistent snapshot while one writer (rankcheck run)
// records; a writer waits for another for up to the busy time-out, then fails with "database is
// locked". Creating a ledger and taking its schema forward is one transaction: a reader finds no
// ledger or a whole one. Commits are made with synchronous=NORMAL: a killed process loses nothing
// that was committed; a power cut may lose the last commits but never leaves the file
// inconsistent (Options::durableCommits makes every commit reach the disk, at one flush per
// commit). A read-only Ledger never creates or changes a file, and reads a ledger file of mode
// 0444 or in a folder of mode 0555 (ledger_file.h).
//
// Failures: SqliteError (the database: "rankcheck.db: database is locked") and LedgerError (a
// request the ledger refuses: an unknown check, a schema newer than this program, bad input); the
// message of both starts with the file name. LedgerMissing, a LedgerError, is raised by a
// read-only open that finds no ledger, or one not created yet. All are std::runtime_error.
//
// Beside it: keyword_outcome.h (the outcome rule), check_state_words.h (a check's state in the
// words every output uses), check_inputs.h (how a run's urls.lst and options differ from a
// check's, for refusing a resume or recheck), change_alerts.h (what moved, for `report
// --changes`) and ledger_file.h (opening the file read-only; whether it can be written).
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

#include "ledger/keyword_outcome.h"
#include "ledger/ledger_file.h"
#include "ledger/ledger_types.h"
#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

struct CheckRow;

class LedgerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A read-only open found no ledger: no file, or a file whose ledger is still being created (or
// whose creation failed before anything was recorded). A reader treats both alike.
class LedgerMissing : public LedgerError {
  public:
    using LedgerError::LedgerError;
};

// Why a recheck searches a keyword again (KeywordsToRecheck).
struct RecheckKeyword {
    int index = 0;  // its line in the check's keywords.lst, from 0
    std::string text;
    KeywordOutcome outcome;  // Error, Suspect, Partial or NotSearched
};

// What ReopenCheck reopens a check for.
enum class Reopen {
    Resume,   // go on with a stopped, failed or left-running check
    Recheck,  // search some of its keywords again: a complete check too
};

class Ledger {
  public:
    static constexpr const char* kDefaultFileName = "rankcheck.db";

    struct Options {
        // No file is created, nothing is written or migrated. A ledger of schema version 1 is
        // read as it is (its checks have no folder and no reason).
        bool readOnly = false;
        int busyTimeoutMs = 5000;     // how long a writer waits for another writer
        bool durableCommits = false;  // synchronous=FULL: flush the WAL on every commit
        // The project folder this connection works for; empty: the folder of the ledger file,
        // which is the project folder unless the ledger is kept elsewhere (--db): then every
        // command of the project must give its folder here. Made absolute and canonical.
        std::string folder = {};
    };

    // Opens `path`, creating it unless read-only, and takes its schema forward to this program's
    // version. Raises when the file cannot be opened or created, is not a database, or has a
    // newer schema; read-only, LedgerMissing when there is no ledger yet.
    explicit Ledger(const std::string& path);
    Ledger(const std::string& path, const Options& options);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    const std::string& Path() const;
    // The canonical absolute project folder (Options::folder).
    const std::string& Folder() const;
    int SchemaVersion();

    // nullopt when a writer could record into the ledger at `path`; else why not, naming the
    // file or folder. Cheap, and opens nothing: for a run to refuse before anything starts.
    static std::optional<std::string> WhyNotWritable(const std::string& path);

    // Recording -----------------------------------------------------------------------------

    // A new check of this folder in state running, every keyword not reached; returns its id.
    // Claims the checks that have no folder.
    int64_t BeginCheck(const CheckStart& start);
    // Stores what the check found for one keyword, replacing whatever it had for it (a resumed
    // keyword, or a rechecked one: the check's counts and outcomes follow). The check must be
    // running and of this folder; the state must not be NotReached; `ranks` has one entry per URL
    // of the check and each rank lies within the links.
    void RecordKeyword(int64_t check, const KeywordResult& result);
    // Ends a running check of this folder as complete, stopped or failed, with the reason the run
    // gives ("3 keywords in a row failed: the engine or the proxy is not answering"; empty: none).
    void EndCheck(int64_t check, CheckState state, const std::string& endedAt,
                  const std::string& reason = "");
    // The latest check of its engine in this folder goes back to running; its recorded keywords
    // stay, its end time and reason go. Resume: a stopped or failed one (or one left running by
    // a killed process, as it is); Recheck: a complete one too. Claims the checks that have no
    // folder.
    void ReopenCheck(int64_t check, Reopen why = Reopen::Resume);
    // Adds a run's counts per upstream to those the check has (a row per upstream label; the
    // median is the latest run's).
    void RecordUpstreams(int64_t check, const std::vector<UpstreamCounts>& rows);
    // The check's counts per upstream, in the order first recorded.
    std::vector<UpstreamCounts> Upstreams(int64_t check);

    // Checks ---------------------------------------------------------------------------------

    // Any folder's check by its id. Raises LedgerError for an unknown id.
    CheckInfo Check(int64_t id);
    // Every check of this folder of `engine` (of every engine: empty), by id, with their counts.
    std::vector<CheckInfo> Checks(const std::string& engine = "");
    // The latest check of the engine in this folder.
    std::optional<CheckInfo> LatestCheck(const std::string& engine);
    // The latest check of the engine in this folder when it is not complete (running, stopped or
    // failed). A running one is running when the folder's lock is held, and was interrupted
    // (its process is gone) when it is free: the caller knows which (CheckStateWords).
    std::optional<CheckInfo> ResumableCheck(const std::string& engine);
    // The latest complete check of the engine in this folder begun before `beforeCheck`.
    std::optional<CheckInfo> PreviousComplete(const std::string& engine, int64_t beforeCheck);

    // Contents -------------------------------------------------------------------------------

    CheckDetail LoadCheck(int64_t id);
    // The stored result list of one keyword, in position order (empty while not reached).
    std::vector<std::string> ResultList(int64_t check, int keywordIndex);
    // The outcome of every keyword of a check, by keyword index (keyword_outcome.h), held
    // against the keyword's history in the check's folder; `top` > 0 cuts positions there.
    std::vector<KeywordOutcome> Outcomes(int64_t check, int top = 0);
    // The outcome of one keyword of a check, as Outcomes gives it: for a run that has just
    // recorded it (a suspect keyword counts as failed, like a given-up one).
    KeywordOutcome Outcome(int64_t check, int keywordIndex, int top = 0);
    // The keywords a recheck of the check searches again, in index order: those given up
    // (Error), Suspect, Partial or not searched. Empty when every keyword is trusted.
    std::vector<RecheckKeyword> KeywordsToRecheck(int64_t check);

    // Reports --------------------------------------------------------------------------------

    // Every keyword and URL of a check with its status and note, the side it is compared with
    // (like with like, or options.compareWith) and the change, and the last trusted rank where
    // this check has no trusted one. Raises LedgerError for an unknown check, or a compared
    // check of another engine.
    CheckReport Report(int64_t check, const ReportOptions& options);
    CheckReport Report(int64_t check, RankMode mode);
    // The rank of every URL in every check of this folder, filtered, ordered by engine, keyword
    // text, URL key and check, with the full outcome rule. A keyword or URL key that a check
    // lists twice gives one row, its first line's.
    void History(const HistoryFilter& filter, const std::function<void(const HistoryRow&)>& row);
    std::vector<HistoryRow> History(const HistoryFilter& filter);

  private:
    struct Statements;

    void OpenForReading(const std::string& path, const Options& options);
    void OpenForWriting(const std::string& path, const Options& options);
    // Which counts a check is read with: every one, or those of its recorded states only (no
    // keywordsSuspect, which reads the keywords' history), for the ledger's own use.
    enum class Counts { All, OfStates };

    [[noreturn]] void Refuse(const std::string& message) const;
    CheckInfo RequireCheck(int64_t id, Counts counts = Counts::All);
    std::optional<CheckInfo> FindCheck(const char* where, int64_t a, const std::string& engine,
                                       Counts counts = Counts::All);
    // The folder a check's comparisons keep to: its own, or this one's for a check without one.
    std::string FolderOf(const CheckInfo& check) const;
    // Refuses a check of another folder.
    void RequireOwnFolder(const CheckInfo& check, const std::string& what) const;
    void ClaimChecksWithoutFolder();
    // The checks with the outcome counts that need the keywords' history (keywordsSuspect).
    std::vector<CheckInfo> FinishCounts(std::vector<CheckRow> rows, Counts counts);
    void CountSuspectsInHistory(std::vector<CheckRow>& rows);
    // Every keyword's outcome, or only that of keyword `only` (>= 0).
    std::vector<KeywordOutcome> OutcomesOf(const CheckInfo& check, int top, int only = -1);
    int64_t KeywordId(const std::string& text);
    int64_t LinkId(const std::string& text);

    std::unique_ptr<ReadOnlyFile> readOnlyFile_;  // a read-only connection's lock on the file
    std::unique_ptr<SqliteDb> db_;
    std::unique_ptr<Statements> statements_;
    std::string folder_;
};

}  // namespace rankcheck::ledger
