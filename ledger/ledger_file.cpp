#include "ledger/ledger_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace rankcheck::ledger {

namespace fs = std::filesystem;

namespace {

// SQLite's lock bytes (its file format's locking protocol): a reader's shared lock is a read
// lock on the 510 bytes after the pending and reserved bytes at 1 GiB.
constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;

// The header bytes that say the file is in WAL mode (write and read format versions 2).
constexpr size_t kHeaderSize = 100;
constexpr size_t kWriteVersion = 18;
constexpr size_t kReadVersion = 19;

std::string Error(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool InWalMode(int fd) {
    unsigned char header[kHeaderSize];
    const ssize_t n = pread(fd, header, sizeof header, 0);
    return n == static_cast<ssize_t>(sizeof header) &&
           std::memcmp(header, "SQLite format 3", 16) == 0 &&
           (header[kWriteVersion] == 2 || header[kReadVersion] == 2);
}

// Takes the shared lock, waiting up to `waitMs` for a writer's exclusive lock (held for a
// moment while it closes). False when the file system has no such locks.
bool LockShared(int fd, const std::string& path, int waitMs) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kSharedFirst;
    lock.l_len = kSharedSize;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            throw std::runtime_error(path + ": database is locked");
        }
        // SQLite's own busy handler waits the same way.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The size of a file beside the ledger; nullopt when there is none.
std::optional<off_t> SizeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_size;
}

bool Writable(const std::string& path) {
    return faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

}  // namespace

std::string FileUri(const std::string& path, const std::string& query) {
    const std::string absolute = fs::absolute(path).string();
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (size_t i = 0; i < absolute.size(); ++i) {
        const auto c = static_cast<unsigned char>(absolute[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           (c == '/' && !(i == 1 && absolute[0] == '/'));
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            // "//" at the start would begin an authority; SQLite decodes %2F to "/".
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?" + query;
}

std::optional<ReadOnlyFile> ReadOnlyFile::Prepare(const std::string& path, int waitMs) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw std::runtime_error(Error(path, errno));
    }
    ReadOnlyFile file;
    file.fd_ = fd;
    struct stat st {};
    if (fstat(fd, &st) != 0) throw std::runtime_error(Error(path, errno));
    if (S_ISDIR(st.st_mode)) throw std::runtime_error(path + ": is a folder, not a ledger");
    if (!InWalMode(fd)) {
        file.uri_ = FileUri(path, "mode=ro");
        return file;
    }
    const bool locked = LockShared(fd, path, waitMs);
    const std::optional<off_t> wal = SizeOf(path + "-wal");
    if (wal && *wal > 0) {
        if (!SizeOf(path + "-shm")) {
            throw std::runtime_error(
                path + ": " + path +
                "-wal holds changes that are not in the ledger file yet, and " + path +
                "-shm, which reading them needs, is missing; a command that writes to the "
                "ledger (rankcheck run) takes them in");
        }
        file.uri_ = FileUri(path, "mode=ro");
        return file;
    }
    // Without the lock a writer could copy its WAL into the file while it is read; read it as
    // SQLite reads any file then, which may leave a -wal and -shm behind.
    file.immutable_ = locked;
    file.uri_ = FileUri(path, locked ? "immutable=1" : "mode=ro");
    return file;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(other.fd_), uri_(std::move(other.uri_)), immutable_(other.immutable_) {
    other.fd_ = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        uri_ = std::move(other.uri_);
        immutable_ = other.immutable_;
        other.fd_ = -1;
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    // Closing the descriptor releases its open-file-description lock, and no other lock.
    if (fd_ >= 0) close(fd_);
}

std::optional<std::string> WhyNotWritable(const std::string& path) {
    const std::string folderName = fs::absolute(path).parent_path().lexically_normal().string();
    struct stat st {};
    if (stat(folderName.c_str(), &st) != 0) {
        return Error(folderName + ": the ledger's folder", errno);
    }
    if (!S_ISDIR(st.st_mode)) return folderName + ": the ledger's folder is not a folder";

    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return path + ": is a folder, not a ledger";
        if (!Writable(path)) return Error(path + ": the ledger cannot be written", errno);
    }
    bool besideFiles = exists;  // the -wal and -shm are there and writable
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string beside = path + suffix;
        if (!SizeOf(beside)) {
            besideFiles = false;
        } else if (!Writable(beside)) {
            return Error(beside + ": cannot be written, and the ledger is written through it",
                         errno);
        }
    }
    if (!besideFiles && faccessat(AT_FDCWD, folderName.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        const std::string name = fs::path(path).filename().string();
        return Error(folderName + ": the ledger's folder cannot be written, and " +
                         (exists ? "" : "the ledger " + name + " and ") + "its " + name +
                         "-wal and " + name + "-shm are made there",
                     errno);
    }
    return std::nullopt;
}

}  // namespace rankcheck::ledger
