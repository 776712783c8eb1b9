// FolderLock: the exclusive right of one `rankcheck run` to work in a job folder. Two runs in one
// folder would drive plug-ins that write the same job files; the second one is refused at once.
//
// The lock is an flock(2) on the file "rankcheck.lock" in the folder, held as long as the object
// lives (and released by the system when the process ends in any way, SIGKILL included, so a
// stale lock never needs clearing). The holder writes its PID into the file so that the refused
// run can name it. The file itself stays in the folder. Readers (`rankcheck report`) take no lock.
//
// A shared folder may hold a planted "rankcheck.lock": the file is opened without following a
// symbolic link and never truncated on opening; a link, a hard link (a second name of another
// file) or anything but a plain file is refused with a message naming it, and nothing is written.
// The PID is written only once the lock is held, on the plain file opened.
//
// Owned by the run (RunSession), or by a reading command while it imports; main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace rankcheck {

// The folder is locked by another process, or the lock file cannot be made or is not a plain file
// of its own; the message says which folder or file, and the holder's PID when it is known.
class LockError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class FolderLock {
  public:
    static constexpr char kFileName[] = "rankcheck.lock";

    // Takes the lock of `folder` without waiting; raises LockError when another process holds it.
    static std::unique_ptr<FolderLock> Acquire(const std::filesystem::path& folder);
    // The PID written in the lock file of `folder` while a process holds the lock (this one
    // included), or 0 when nobody holds it.
    static long HolderPid(const std::filesystem::path& folder);

    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    explicit FolderLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace rankcheck
