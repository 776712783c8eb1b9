// ScopedWorkingDirectory: the process's current directory changed to a folder for a scope, and
// changed back when the scope ends, also when it ends by an exception. A plug-in resolves the
// names of its job files against the current directory, so a host enters the job folder while
// a plug-in runs there; the host's own reading and writing names its folders explicitly.
//
// The current directory belongs to the whole process: hold one guard at a time, on the host's
// main thread, and only while no other thread of the host resolves relative names.
#pragma once

#include <filesystem>

namespace hostkit {

class ScopedWorkingDirectory {
  public:
    // Enters `folder`; raises std::filesystem::filesystem_error naming it when it cannot.
    explicit ScopedWorkingDirectory(const std::filesystem::path& folder);
    // Returns to the directory that was current at construction (by its handle, so that a
    // renamed or relative path does not matter).
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  private:
    int previous_ = -1;  // a descriptor of the directory to return to
};

}  // namespace hostkit
