// The ledger's database file as the operating system sees it: how a reader opens it without ever
// creating or changing a file, and whether a writer could write it.
//
// Reading. SQLite reads a database in WAL mode through its -wal and -shm files, and a read-only
// connection creates both when they are missing and it can (leaving them behind, owned by the
// reader), or fails when it cannot (a folder of mode 0555). Neither is right for `rankcheck
// report`. So a reader first takes a shared lock on the file (on the bytes SQLite's own shared
// lock uses, as an open-file-description lock, which no other close in the process releases):
// while it holds it, a writer that closes cannot take the exclusive lock it needs to copy the
// WAL into the file and delete it. Then:
//   - a -wal with frames in it (a writer is at work, or was killed): the committed frames belong
//     to the ledger, so it is opened with mode=ro; its -shm must be there (it always is beside a
//     -wal, unless someone removed it) and nothing is created;
//   - no -wal, or an empty one: the file alone is the whole ledger; it is opened immutable=1,
//     which reads it without -wal, -shm or locks. A writer that begins meanwhile writes into a
//     -wal of its own and cannot copy it back while the lock is held; only a writer that filled
//     its WAL to the automatic checkpoint (10,000 pages, some 40 MB) within one read could.
//   - a file that is not in WAL mode (not a ledger, or one SQLite could not switch): mode=ro,
//     SQLite's ordinary locking read.
// A file of mode 0444 and a folder of mode 0555 are read that way too.
//
// Writing. WhyNotWritable says, without opening anything, whether a writer could record into
// the file: the file readable and writable, and the folder writable for the -wal and -shm
// (unless both are there and writable already).
//
// Free functions and a move-only lock holder; any thread, one object per opening.
#pragma once

#include <optional>
#include <string>

namespace rankcheck::ledger {

class ReadOnlyFile {
  public:
    // Prepares a read of `path`: nullopt when there is no such file. Raises std::runtime_error,
    // whose message names the file, when it cannot be read without writing (a -wal without its
    // -shm), is a folder, or stays locked exclusively for `waitMs`.
    static std::optional<ReadOnlyFile> Prepare(const std::string& path, int waitMs);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    // Releases the lock; the connection opened with Uri() must be closed first.
    ~ReadOnlyFile();

    // The name for sqlite3_open_v2 with SQLITE_OPEN_READONLY | SQLITE_OPEN_URI: a file: URI
    // with mode=ro or immutable=1.
    const std::string& Uri() const { return uri_; }
    bool Immutable() const { return immutable_; }

  private:
    ReadOnlyFile() = default;

    int fd_ = -1;  // holds the lock
    std::string uri_;
    bool immutable_ = false;
};

// nullopt when a writer can record into the ledger at `path` (an existing file, or a new one in
// an existing folder); else why not, naming the file or folder: "rankcheck.db: the ledger cannot
// be written (Permission denied)". Cheap: it only asks the file system.
std::optional<std::string> WhyNotWritable(const std::string& path);

// `path` as a file: URI with `query` ("mode=ro"): absolute, every byte that is not plainly safe
// percent-encoded.
std::string FileUri(const std::string& path, const std::string& query);

}  // namespace rankcheck::ledger
