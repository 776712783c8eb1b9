// A small RAII wrapper of the SQLite C API, as much of it as the check ledger needs: a connection
// (SqliteDb), a prepared statement (SqliteStatement) and a transaction guard (SqliteTransaction).
// Every failure raises SqliteError, whose message names the database file as it was given and
// SQLite's own message ("rankcheck.db: database is locked").
//
// Text the caller hands over is bound with its explicit length, as a blob where its bytes must
// come back unchanged (job file lines are 8-bit text, not always UTF-8); SQLite compares blobs
// byte by byte.
//
// A SqliteDb is owned by one object (the Ledger) and used from one thread at a time; statements
// and transactions live within the lifetime of their connection and on the same thread. Other
// processes and other connections may use the same file at the same time: that is SQLite's
// business (locks, WAL, the busy time-out).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace rankcheck::ledger {

class SqliteError : public std::runtime_error {
  public:
    SqliteError(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
    // SQLite's extended result code (SQLITE_BUSY, SQLITE_CANTOPEN, ...); 0 when the failure
    // was found by this wrapper rather than by SQLite.
    int Code() const { return code_; }

  private:
    int code_;
};

class SqliteDb {
  public:
    // Opens `path` with sqlite3_open_v2 `flags` (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, ...).
    // `openName`, when given, is what is opened instead (a file: URI of `path`); messages name
    // `path` all the same.
    SqliteDb(const std::string& path, int flags, const std::string& openName = "");
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Runs SQL that returns no rows; several statements separated by ';' are allowed.
    void Exec(const char* sql);
    void SetBusyTimeout(int milliseconds);
    int64_t LastInsertRowid() const;
    // Rows changed by the latest INSERT, UPDATE or DELETE.
    int Changes() const;
    bool InTransaction() const;

    const std::string& Path() const { return path_; }
    sqlite3* Handle() const { return db_; }
    // Raises SqliteError for result code `rc` with SQLite's latest message on this connection.
    [[noreturn]] void Fail(int rc) const;
    // Raises SqliteError with a message of this wrapper's own, prefixed with the file.
    [[noreturn]] void Fail(const std::string& message) const;

  private:
    std::string path_;
    sqlite3* db_ = nullptr;
};

class SqliteStatement {
  public:
    SqliteStatement(SqliteDb& db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Parameters are numbered from 1, as in SQLite. Each binder returns *this.
    SqliteStatement& BindInt(int index, int64_t value);
    SqliteStatement& BindOptionalInt(int index, const std::optional<int64_t>& value);
    // The bytes as they are, as a blob (an empty text is an empty blob, not NULL).
    SqliteStatement& BindBlob(int index, std::string_view bytes);
    // ASCII text (names, states, timestamps), bound as text with its explicit length.
    SqliteStatement& BindText(int index, std::string_view text);
    SqliteStatement& BindNull(int index);

    // Runs the statement one step: true when a row is there to read, false when it is done.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();
    // Back to the first step, with every parameter unbound (NULL). A statement kept for reuse
    // must be reset once its rows are read: one left on a row holds on to its snapshot of the
    // database, beyond the end of the transaction.
    void Reset();

    // Columns are numbered from 0, as in SQLite.
    bool IsNull(int column) const;
    int64_t Int(int column) const;
    std::optional<int64_t> OptionalInt(int column) const;
    // The column's bytes, blob or text alike; valid until the next Step or Reset.
    std::string_view Bytes(int column) const;
    std::string String(int column) const { return std::string(Bytes(column)); }

  private:
    void Check(int rc) const;

    SqliteDb& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteTransaction {
  public:
    enum class Kind {
        Read,   // BEGIN: one consistent snapshot for several reads; never waits on a writer in WAL
        Write,  // BEGIN IMMEDIATE: takes the write lock now (waiting up to the busy time-out)
    };
    SqliteTransaction(SqliteDb& db, Kind kind);
    // Rolls back unless Commit() has run.
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    // Statements of the connection still on a row are reset first: their rows belong to the
    // transaction, and one left open would hold the connection's snapshot beyond it.
    void Commit();

  private:
    SqliteDb& db_;
    bool open_ = true;
};

}  // namespace rankcheck::ledger
