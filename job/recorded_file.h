// TRecordedFile: one of the files that the search job rewrites after every result page (the
// current keyword's result file, the progress file, the first-page file), together with the text
// the job last put there. A rewrite that would put the same bytes under the same name again is
// skipped: the first-page file changes only when a keyword starts, a keyword's result file not on
// a page that brought no link, and on this machine's disk every atomic replace costs a flush.
//
// The job owns one per file kind and uses it on the job thread only. It knows only its own
// writes: the first Save of a run always writes, so a file that an earlier run left behind is
// replaced as before; a file that someone else changes or removes while the job runs is written
// again only once its content changes.
#pragma once

#include <string>

#include "platform/ansi_string.h"
#include "platform/string_list.h"

class TRecordedFile {
  public:
    // Writes `lines` to `fileName` as TStringList::SaveToFile does (atomically, EFCreateError on
    // failure), unless the last successful Save of this object wrote exactly this text to
    // exactly this name. Returns whether it wrote.
    bool Save(const std::string& fileName, const TStringList& lines);

  private:
    bool known_ = false;  // fileName_ holds text_ since this object last wrote it
    std::string fileName_;
    AnsiString text_;
};
