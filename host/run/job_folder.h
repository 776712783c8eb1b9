// PrepareJobFolder: a job folder of its own inside the project folder, "jobs/<name>/", for a
// plug-in run on inputs other than the project's own files (a recheck searches some keywords of
// a check there, so that the project's result and progress files stay as they are). A plug-in
// resolves its job files against the current directory: the host enters the folder while the
// plug-in runs (hostkit/working_directory.h), one plug-in at a time.
//
// The folder is made anew each time (whatever an earlier run left in it goes) with mode 0700,
// and holds keywords.lst and urls.lst as given and a copy of the project's proxy.def, which may
// hold the proxy password: every file is written new, never through a link, and the copy has
// mode 0600 from its first byte (new_file.h). "jobs" or the folder itself being a symbolic link
// (or not a folder) is refused, naming it, and nothing is written there.
//
// A free function; main thread. Raises std::runtime_error naming the file or folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace rankcheck {

struct JobInputs {
    std::vector<std::string> keywords;  // the lines of keywords.lst, bytes as they are
    std::vector<std::string> urls;      // the lines of urls.lst
};

inline constexpr char kJobsFolder[] = "jobs";

// Returns the folder made, <project>/jobs/<name>.
std::filesystem::path PrepareJobFolder(const std::filesystem::path& project,
                                       const std::string& name, const JobInputs& inputs);

// The name of the folder a recheck of `engine` runs in: "recheck-quillon" (the engine's word on
// the command line, as the engine table has it; another plug-in's name in lower case).
std::string RecheckFolderName(const std::string& engine);

}  // namespace rankcheck
