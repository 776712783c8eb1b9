// Helpers shared by the libFuzzer targets: a property check that stops the fuzzer with a message
// (libFuzzer then keeps the input as a crash artifact), a private scratch directory for targets
// that need files, and small text helpers. One fuzzer process runs one input at a time.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ansi_string.h"

// A property of the code under test that does not hold for the current input.
#define FUZZ_CHECK(condition, what)                                                            \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property violated: %s\n  (%s)\n", __FILE__, __LINE__, \
                         what, #condition);                                                    \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace fuzzsupport {

inline AnsiString Bytes(const uint8_t* data, size_t size) {
    return AnsiString(reinterpret_cast<const char*>(data), size);
}

inline bool StartsWith(const AnsiString& s, const AnsiString& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

inline bool Contains(const AnsiString& s, const AnsiString& part) {
    return s.find(part) != AnsiString::npos;
}

// Occurrences of `part` in `s`, overlapping ones included.
inline size_t CountOccurrences(const AnsiString& s, const AnsiString& part) {
    size_t n = 0;
    for (size_t at = s.find(part); at != AnsiString::npos; at = s.find(part, at + 1))
        ++n;
    return n;
}

// A directory of the fuzzer's own, removed when the process exits normally. Targets that need
// files keep them there, never in the directory the fuzzer was started from (which holds the
// corpus and receives the crash artifacts). It lies in memory (/dev/shm) where there is one: on
// ext4, replacing a file forces its data out to the disk, which would cut the executions per
// second by a factor of fifty.
inline const std::filesystem::path& ScratchDir() {
    // Never destroyed, so that the exit handler can still use it.
    static const std::filesystem::path* const dir = [] {
        std::string pattern =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/rc-fuzz-XXXXXX" : "/tmp/rc-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        const auto* path = new std::filesystem::path(pattern);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return path;
    }();
    return *dir;
}

// Makes the scratch directory the current directory for its lifetime (the search job reads its
// files from the current directory) and goes back afterwards, also when an exception leaves.
class InScratchDir {
  public:
    InScratchDir() : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (previous_ < 0 || ::chdir(ScratchDir().c_str()) != 0) {
            std::perror("chdir to the scratch directory");
            std::abort();
        }
    }
    ~InScratchDir() {
        if (::fchdir(previous_) != 0) std::abort();
        ::close(previous_);
    }
    InScratchDir(const InScratchDir&) = delete;
    InScratchDir& operator=(const InScratchDir&) = delete;

  private:
    int previous_;
};

// Replaces `name` (relative to the current directory) with exactly `bytes`.
inline void WriteFile(const std::string& name, const AnsiString& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0) {
        std::perror(name.c_str());
        std::abort();
    }
}

inline AnsiString ReadFile(const std::string& name) {
    AnsiString text;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        std::perror(name.c_str());
        std::abort();
    }
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

}  // namespace fuzzsupport
