#include "host/run/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "host/report/shell_quote.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

long ReadPid(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    return std::strtol(text, nullptr, 10);
}

// Opens the lock file of `file` for `flags` without following a link and without waiting on a
// FIFO; -1 with errno set when it cannot be opened, with errno ELOOP for a link.
int OpenLockFile(const fs::path& file, int flags) {
    return ::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

// Why the file open on `fd` must not serve as the lock file (it is not a plain file, or has other
// names through which another file would be changed); empty when it may.
std::string NotALockFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "it is not a plain file";
    if (st.st_nlink != 1) return "it is a hard link to another file";
    return {};
}

[[noreturn]] void RefuseLockFile(const fs::path& file, const std::string& why) {
    throw LockError(file.string() + " " + why +
                    "; rankcheck writes its PID there and never writes " +
                    "through a link to another file: remove it (rm " + ShellQuote(file.string()) +
                    ") and start again");
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Acquire(const fs::path& folder) {
    const fs::path file = folder / kFileName;
    // Never O_TRUNC: the file is emptied only once it is known to be the lock file, locked.
    const int fd = OpenLockFile(file, O_RDWR | O_CREAT);
    if (fd < 0) {
        if (errno == ELOOP) RefuseLockFile(file, "is a symbolic link");
        throw LockError(file.string() + ": cannot be opened: " + std::strerror(errno));
    }
    if (const std::string why = NotALockFile(fd); !why.empty()) {
        ::close(fd);
        RefuseLockFile(file, "cannot serve as the lock file: " + why);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        // The holder writes its PID right after it has the lock; give it that moment.
        long pid = ReadPid(fd);
        for (int i = 0; pid == 0 && i < 20; ++i) {
            ::usleep(5000);
            pid = ReadPid(fd);
        }
        ::close(fd);
        if (error != EWOULDBLOCK) {
            throw LockError(file.string() + ": cannot be locked: " + std::strerror(error));
        }
        throw LockError("another rankcheck run (PID " +
                        (pid > 0 ? std::to_string(pid) : "unknown") + ") is working in " +
                        folder.string() +
                        "; wait until it ends, or stop it, before starting another");
    }
    // The PID first, then the file cut to it: whoever reads it meanwhile reads a PID.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()) ||
        ::ftruncate(fd, static_cast<off_t>(pid.size())) != 0) {
        const int error = errno;
        ::close(fd);
        throw LockError(file.string() + ": cannot be written: " + std::strerror(error));
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

long FolderLock::HolderPid(const fs::path& folder) {
    const fs::path file = folder / kFileName;
    const int fd = OpenLockFile(file, O_RDONLY);
    if (fd < 0) return 0;
    long pid = 0;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) pid = ReadPid(fd);
    ::close(fd);
    return pid;
}

FolderLock::~FolderLock() {
    // The PID goes before the lock, so that nobody reads a PID of a process that holds nothing.
    // The descriptor is the plain file Acquire checked, never a link.
    // Nothing depends on it: a file left with the PID names a process that holds no lock, and
    // HolderPid only reads it while the lock is held.
    const int truncated = ::ftruncate(fd_, 0);
    static_cast<void>(truncated);
    ::close(fd_);
}

}  // namespace rankcheck
