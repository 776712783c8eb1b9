#include "job/recorded_file.h"

bool TRecordedFile::Save(const std::string& fileName, const TStringList& lines) {
    AnsiString text = lines.Text();
    if (known_ && fileName == fileName_ && text == text_) return false;
    // Until this write has succeeded the file may hold either text.
    known_ = false;
    TStringList::SaveTextToFile(text, fileName);
    fileName_ = fileName;
    text_ = std::move(text);
    known_ = true;
    return true;
}
