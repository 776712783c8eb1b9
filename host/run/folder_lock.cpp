#include "host/run/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

long ReadPid(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    return std::strtol(text, nullptr, 10);
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Acquire(const fs::path& folder) {
    const fs::path file = folder / kFileName;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw LockError(file.string() + ": cannot be opened: " + std::strerror(errno));
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
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        const int error = errno;
        ::close(fd);
        throw LockError(file.string() + ": cannot be written: " + std::strerror(error));
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

long FolderLock::HolderPid(const fs::path& folder) {
    const fs::path file = folder / kFileName;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    long pid = 0;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) pid = ReadPid(fd);
    ::close(fd);
    return pid;
}

FolderLock::~FolderLock() {
    // The PID goes before the lock, so that nobody reads a PID of a process that holds nothing.
    // Nothing depends on it: a file left with the PID names a process that holds no lock, and
    // HolderPid only reads it while the lock is held.
    const int truncated = ::ftruncate(fd_, 0);
    static_cast<void>(truncated);
    ::close(fd_);
}

}  // namespace rankcheck
