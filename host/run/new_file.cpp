#include "host/run/new_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const fs::path& path, const std::string& what, int error) {
    if (error == EEXIST) {
        throw FileExistsError(path.string() + " exists already");
    }
    throw std::runtime_error(path.string() + ": " + what + ": " + std::strerror(error));
}

mode_t Umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A temporary file created new beside `path`, mode 0600; its name is left in `name`.
int CreateTemporary(const fs::path& path, std::string& name) {
    name = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkostemp creates with O_CREAT | O_EXCL and mode 0600: a link under the name fails it.
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) Fail(path, "cannot be created", errno);
    return fd;
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Gives `temporary` the name `path` unless `path` exists; errno set on failure.
bool RenameNoReplace(const std::string& temporary, const fs::path& path) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without RENAME_NOREPLACE: a second name, which never replaces one.
    if (::link(temporary.c_str(), path.c_str()) != 0) return false;
    ::unlink(temporary.c_str());
    return true;
}

// The bytes as a whole temporary file beside `path`, mode `mode` from the first byte; returns
// its name. Nothing is left behind when it fails.
std::string WriteTemporary(const fs::path& path, const std::string& bytes, mode_t mode) {
    std::string temporary;
    const int fd = CreateTemporary(path, temporary);
    const auto failWith = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        Fail(path, what, error);
    };
    if (::fchmod(fd, mode & ~Umask() & 0777) != 0) failWith("cannot be created", errno);
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) failWith("cannot be written", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Fail(path, "cannot be written", error);
    }
    return temporary;
}

}  // namespace

void WriteNewFile(const fs::path& path, const std::string& bytes, mode_t mode) {
    const std::string temporary = WriteTemporary(path, bytes, mode);
    if (!RenameNoReplace(temporary, path)) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Fail(path, "cannot be created", error);
    }
}

void ReplaceWholeFile(const fs::path& path, const std::string& bytes, mode_t mode) {
    const std::string temporary = WriteTemporary(path, bytes, mode);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Fail(path, "cannot be replaced", error);
    }
}

}  // namespace rankcheck
