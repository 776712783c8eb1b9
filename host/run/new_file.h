// WriteNewFile: a file that did not exist, written whole under its name in one step and never
// through a link, with its final mode from its first byte on. `rankcheck init` writes its input
// files so, among them proxy.def, which may hold the proxy password: at no moment is there a
// file with the password that others may read, and a link planted under the name (or under a
// temporary name) is never followed.
//
// The bytes go to a temporary file beside the target, created new (O_CREAT | O_EXCL, which never
// follows a link, under a name nobody can foresee) with mode 0600, set to `mode` (less the
// umask) before the first byte, flushed, and then renamed to the target only if the target still
// does not exist (renameat2 RENAME_NOREPLACE, or a hard link where the file system lacks it).
// ReplaceWholeFile writes the temporary file alike and renames it over what stands under the name:
// the inputs rankcheck gives the plug-in in its job folder are replaced so, and a crash leaves
// the old file or the new one.
//
// Free functions without state; main thread (it reads the umask by setting it).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace rankcheck {

// The target of WriteNewFile exists already (as a file, a folder or a link of any kind).
class FileExistsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes `bytes` as the new file `path` with the permissions `mode` (0600 for a secret; the
// umask removes bits, never adds any). Raises FileExistsError when `path` exists, and
// std::runtime_error naming the file when it cannot be written; no temporary file is left.
void WriteNewFile(const std::filesystem::path& path, const std::string& bytes, mode_t mode);

// Writes `bytes` as `path` with the permissions `mode`, replacing in one step whatever file or
// link stands under the name (a link is replaced, never followed): a reader, or a crash, finds
// the old file or the new one, never a part. Raises std::runtime_error naming the file when it
// cannot be written or when `path` is a folder.
void ReplaceWholeFile(const std::filesystem::path& path, const std::string& bytes, mode_t mode);

}  // namespace rankcheck
