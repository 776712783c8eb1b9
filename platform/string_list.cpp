#include "platform/string_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/exceptions.h"

namespace {

std::string SystemReason(int err) {
    return std::strerror(err);
}

// Writes all of `data` to `fd`; returns false with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Creates `name` as a new, empty file and opens it for writing, after removing whatever stands
// there (a file left by an earlier write cut short, or a link planted under the name). The file
// opened is always the one just created: never a file reached through a symbolic link, whose
// target would be overwritten. Returns the descriptor, or -1 with errno set.
int CreateNewFile(const std::string& name) {
    // Someone who puts a new entry under the name between the removal and the creation makes
    // the creation fail; a few tries outlast a leftover, not a determined attacker.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::unlink(name.c_str()) != 0 && errno != ENOENT) return -1;
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

void TStringList::IndexError(int index) const {
    throw EStringListError("list index " + std::to_string(index) + " is out of bounds (" +
                           std::to_string(lines_.size()) + " lines)");
}

const AnsiString& TStringList::operator[](int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return lines_[static_cast<size_t>(index)];
}

AnsiString& TStringList::operator[](int index) {
    if (index < 0 || index >= Count()) IndexError(index);
    return lines_[static_cast<size_t>(index)];
}

void TStringList::Insert(int index, const AnsiString& line) {
    if (index < 0 || index > Count()) IndexError(index);
    lines_.insert(lines_.begin() + index, line);
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) IndexError(index);
    lines_.erase(lines_.begin() + index);
}

void TStringList::SetText(const AnsiString& text) {
    std::vector<AnsiString> lines;
    size_t start = 0;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(text, start, i - start);
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.emplace_back(text, start, n - start);
    lines_ = std::move(lines);
}

AnsiString TStringList::Text() const {
    size_t size = 0;
    for (const auto& l : lines_)
        size += l.size() + 2;
    AnsiString text;
    text.reserve(size);
    for (const auto& l : lines_) {
        text += l;
        text += "\r\n";
    }
    return text;
}

void TStringList::LoadFromFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw EFOpenError("cannot open \"" + fileName + "\": " + SystemReason(errno));
    }
    AnsiString text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw EFOpenError("cannot read \"" + fileName + "\": " + SystemReason(err));
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    SetText(text);
}

void TStringList::SaveToFile(const std::string& fileName) const {
    SaveTextToFile(Text(), fileName);
}

void TStringList::SaveTextToFile(const AnsiString& text, const std::string& fileName) {
    // The temporary file sits beside the target so that the rename stays within one file system.
    // Its name is fixed: a write cut short by a kill leaves at most this one file, which the next
    // save of the same file replaces.
    const std::string tmpName = fileName + ".tmp";
    const auto fail = [&](int err) {
        throw EFCreateError("cannot write \"" + fileName + "\": " + SystemReason(err));
    };
    const int fd = CreateNewFile(tmpName);
    if (fd < 0) fail(errno);
    if (!WriteAll(fd, text.data(), text.size())) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmpName.c_str());
        fail(err);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpName.c_str());
        fail(err);
    }
    if (::rename(tmpName.c_str(), fileName.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpName.c_str());
        fail(err);
    }
}
