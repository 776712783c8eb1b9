#include "hostkit/working_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace hostkit {

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::filesystem::path& folder) {
    previous_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous_ < 0) {
        throw std::filesystem::filesystem_error("cannot keep the current directory",
                                                std::error_code(errno, std::generic_category()));
    }
    if (::chdir(folder.c_str()) != 0) {
        const int error = errno;
        ::close(previous_);
        throw std::filesystem::filesystem_error("cannot enter the folder", folder,
                                                std::error_code(error, std::generic_category()));
    }
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    // Nothing sensible is left to do when the way back fails; the process goes on where it is.
    const int back = ::fchdir(previous_);
    static_cast<void>(back);
    ::close(previous_);
}

}  // namespace hostkit
