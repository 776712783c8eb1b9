// FolderInputs: the user's input files of a job folder, keywords.lst and urls.lst, as rankcheck
// reads them once per command: the warnings, the checks begun, the resume test and the import
// of an older folder all work from this one reading. (The plug-in reads them again itself.)
//
// A plain value, read on the main thread and then only read.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace rankcheck {

struct FolderInputs {
    bool keywordsRead = false;          // keywords.lst could be read
    std::vector<std::string> keywords;  // its lines (none when it could not be read)
    std::string keywordsHash;           // ContentHash of its bytes as lines
    bool urlsRead = false;              // urls.lst could be read
    std::vector<std::string> urls;      // its lines (none when it could not be read)

    // A file that cannot be read is left empty here: the plug-in names it when it starts.
    static FolderInputs Read(const std::filesystem::path& folder);
};

// A stable hash of a file's bytes (FNV-1a, 64 bits, in hex): tells whether keywords.lst changed.
std::string ContentHash(const std::string& bytes);

}  // namespace rankcheck
