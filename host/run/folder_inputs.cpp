#include "host/run/folder_inputs.h"

#include <cstdint>
#include <cstdio>

#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"

namespace rankcheck {

namespace {

// Reads `file` into `lines`; false when it cannot be read.
bool Load(const std::filesystem::path& file, TStringList& lines) {
    try {
        lines.LoadFromFile(file.string());
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace

FolderInputs FolderInputs::Read(const std::filesystem::path& folder) {
    FolderInputs inputs;
    TStringList keywords, urls;
    inputs.keywordsRead = Load(folder / jobfiles::kKeywordFile, keywords);
    inputs.keywords = keywords.Lines();
    inputs.keywordsHash = ContentHash(keywords.Text());
    inputs.urlsRead = Load(folder / jobfiles::kUrlFile, urls);
    inputs.urls = urls.Lines();
    return inputs;
}

std::string ContentHash(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace rankcheck
