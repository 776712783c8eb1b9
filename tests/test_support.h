// Helpers shared by the tests: a scratch directory that becomes the current directory (the
// plug-ins read and write their files there), and small file helpers. Test-thread only.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/string_list.h"

namespace testsupport {

namespace fs = std::filesystem;

class ScratchDir {
  public:
    ScratchDir() : previous_(fs::current_path()) {
        char pattern[] = "/tmp/rc-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
        fs::current_path(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::current_path(previous_, ec);
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path previous_;
    fs::path path_;
};

inline void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

// Writes `lines` as a job file: every line followed by CR LF.
inline void WriteLines(const std::string& name, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines)
        text += l + "\r\n";
    WriteFile(name, text);
}

inline std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> ReadLines(const std::string& name) {
    TStringList list;
    list.LoadFromFile(name);
    return list.Lines();
}

inline std::vector<std::string> DirectoryEntries(const fs::path& dir = ".") {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testsupport
