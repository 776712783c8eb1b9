#include "host/run/job_folder.h"

#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/run/new_file.h"
#include "jobfiles/engine_table.h"
#include "jobfiles/job_files.h"
#include "platform/string_list.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

// `path` is a folder of its own (or nothing yet): never a link to one somewhere else.
void RequireRealFolderOrNothing(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || status.type() == fs::file_type::not_found) return;
    if (status.type() != fs::file_type::directory) {
        throw std::runtime_error(path.string() +
                                 " is not a folder (a link or a file): rankcheck makes its job "
                                 "folders itself and writes nothing there");
    }
}

std::string LinesText(const std::vector<std::string>& lines) {
    TStringList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list.Text();
}

std::string FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) throw std::runtime_error(file.string() + ": cannot be read");
    return bytes.str();
}

}  // namespace

fs::path PrepareJobFolder(const fs::path& project, const std::string& name,
                          const JobInputs& inputs) {
    const fs::path jobs = project / kJobsFolder;
    const fs::path folder = jobs / name;
    RequireRealFolderOrNothing(jobs);
    RequireRealFolderOrNothing(folder);
    // The proxy settings are read before anything is made, so that a failure leaves nothing.
    const std::string proxy = FileBytes(project / jobfiles::kProxyFile);
    try {
        fs::create_directory(jobs);
        fs::remove_all(folder);  // a real folder: remove_all follows no link inside it
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error(folder.string() + ": " + e.code().message());
    }
    WriteNewFile(folder / jobfiles::kKeywordFile, LinesText(inputs.keywords), 0666);
    WriteNewFile(folder / jobfiles::kUrlFile, LinesText(inputs.urls), 0666);
    WriteNewFile(folder / jobfiles::kProxyFile, proxy, 0600);
    return folder;
}

std::string RecheckFolderName(const std::string& engine) {
    std::string id;
    if (const jobfiles::EngineInfo* known = jobfiles::FindEngine(engine)) {
        id = known->id;
    } else {
        for (const char c : engine)
            id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return "recheck-" + id;
}

}  // namespace rankcheck
