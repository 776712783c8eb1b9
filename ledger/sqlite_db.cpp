#include "ledger/sqlite_db.h"

#include <sqlite3.h>

namespace rankcheck::ledger {

namespace {

// A pointer SQLite accepts for an empty blob: a null pointer would bind NULL instead.
const char kEmpty[1] = {0};

}  // namespace

SqliteDb::SqliteDb(const std::string& path, int flags, const std::string& openName) : path_(path) {
    const std::string& name = openName.empty() ? path : openName;
    const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        // The handle, when there is one, carries the message; it must be closed all the same.
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        const int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : rc;
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(path_ + ": " + message, code);
    }
    sqlite3_extended_result_codes(db_, 1);
}

SqliteDb::~SqliteDb() {
    // Every statement is finalized by its own destructor first, so close succeeds.
    sqlite3_close(db_);
}

void SqliteDb::Fail(int rc) const {
    throw SqliteError(path_ + ": " + sqlite3_errmsg(db_), rc);
}

void SqliteDb::Fail(const std::string& message) const {
    throw SqliteError(path_ + ": " + message, 0);
}

void SqliteDb::Exec(const char* sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw SqliteError(path_ + ": " + message, rc);
    }
}

void SqliteDb::SetBusyTimeout(int milliseconds) {
    const int rc = sqlite3_busy_timeout(db_, milliseconds);
    if (rc != SQLITE_OK) Fail(rc);
}

int64_t SqliteDb::LastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

int SqliteDb::Changes() const { return sqlite3_changes(db_); }

bool SqliteDb::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db_.Handle(), sql.data(), static_cast<int>(sql.size()),
                                      &stmt_, nullptr);
    if (rc != SQLITE_OK) db_.Fail(rc);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

void SqliteStatement::Check(int rc) const {
    if (rc != SQLITE_OK) db_.Fail(rc);
}

SqliteStatement& SqliteStatement::BindInt(int index, int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
}

SqliteStatement& SqliteStatement::BindOptionalInt(int index, const std::optional<int64_t>& value) {
    return value ? BindInt(index, *value) : BindNull(index);
}

SqliteStatement& SqliteStatement::BindBlob(int index, std::string_view bytes) {
    const char* data = bytes.empty() ? kEmpty : bytes.data();
    Check(sqlite3_bind_blob64(stmt_, index, data, bytes.size(), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::BindText(int index, std::string_view text) {
    const char* data = text.empty() ? kEmpty : text.data();
    Check(sqlite3_bind_text64(stmt_, index, data, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    Check(sqlite3_bind_null(stmt_, index));
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // Leave the statement reusable; its error stays in the connection for the message.
    const std::string message = sqlite3_errmsg(db_.Handle());
    sqlite3_reset(stmt_);
    throw SqliteError(db_.Path() + ": " + message, rc);
}

void SqliteStatement::Run() {
    while (Step()) {
    }
}

void SqliteStatement::Reset() {
    // The result of reset repeats the last step's error, which Step has already raised.
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::optional<int64_t> SqliteStatement::OptionalInt(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Int(column);
}

std::string_view SqliteStatement::Bytes(int column) const {
    // The pointer first, then the size, as SQLite asks: the size is that of the converted value.
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (data == nullptr || size <= 0) return {};
    return {static_cast<const char*>(data), static_cast<size_t>(size)};
}

SqliteTransaction::SqliteTransaction(SqliteDb& db, Kind kind) : db_(db) {
    db_.Exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

SqliteTransaction::~SqliteTransaction() {
    // SQLite may have rolled the transaction back itself (on some I/O errors); then there is
    // nothing left to roll back. A destructor does not throw: a failed rollback leaves the
    // journal for the next opener to roll back.
    if (open_ && db_.InTransaction()) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::Commit() {
    // A statement still on a row would keep the connection reading its snapshot past the
    // commit; then the WAL could never start over and would grow with every commit.
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_.Handle(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(db_.Handle(), s)) {
        if (sqlite3_stmt_busy(s)) sqlite3_reset(s);
    }
    db_.Exec("COMMIT");
    open_ = false;
}

}  // namespace rankcheck::ledger
