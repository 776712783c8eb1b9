// TStringList: an ordered, unsorted list of 8-bit strings that allows duplicates, and the one
// way job files are read and written. A list belongs to whoever created it and is used by one
// thread at a time.
//
// File format. Reading: a line ends at CR LF, at a lone CR or at a lone LF; the last line needs
// no end; a line end at the very end of the file starts no further line; an empty file has no
// lines. Writing: every line, the last one included, is followed by CR LF; an empty list writes
// an empty file. SaveToFile replaces the file by rename: the text goes to a temporary file in the
// same directory (the file's name + ".tmp", always created new, so that a symbolic link planted
// under that name is removed, never written through), which is then renamed over the old file
// (a link under the file's own name is replaced, its target left alone). A process that is
// killed or crashes at any point leaves either the old file or the new one, never a part of one.
// Nothing is flushed to the disk, so after a power loss or a system crash the file may be empty or
// hold only part of the new text, as the file system left it.
#pragma once

#include <string>
#include <vector>

#include "platform/ansi_string.h"

class TStringList {
  public:
    TStringList() = default;

    int Count() const { return static_cast<int>(lines_.size()); }

    // Checked access; raises EStringListError when index is not in 0..Count()-1.
    const AnsiString& operator[](int index) const;
    AnsiString& operator[](int index);

    void Add(const AnsiString& line) { lines_.push_back(line); }
    void Add(AnsiString&& line) { lines_.push_back(std::move(line)); }
    // Inserts before `index` (0..Count()); raises EStringListError otherwise.
    void Insert(int index, const AnsiString& line);
    // Removes entry `index`; raises EStringListError when out of range.
    void Delete(int index);

    // Replaces the contents with the lines of `fileName`; raises EFOpenError naming the file and
    // the system's reason when it cannot be read. On failure the list is left unchanged.
    void LoadFromFile(const std::string& fileName);
    // Replaces the contents with the lines of `text` (the same line rules as LoadFromFile).
    void SetText(const AnsiString& text);
    // The file text: every line followed by CR LF.
    AnsiString Text() const;
    // Writes the list to `fileName`, replacing it by rename (see above); raises EFCreateError
    // naming the file and the system's reason. On failure an existing file keeps its old content.
    void SaveToFile(const std::string& fileName) const;
    // Writes `text` to `fileName` the way SaveToFile writes a list's Text(): replaced atomically,
    // EFCreateError on failure with an existing file left as it was.
    static void SaveTextToFile(const AnsiString& text, const std::string& fileName);

    const std::vector<AnsiString>& Lines() const { return lines_; }

  private:
    [[noreturn]] void IndexError(int index) const;

    std::vector<AnsiString> lines_;
};
