// Fuzz target: the string-list loader (TStringList::SetText and LoadFromFile) on any bytes.
// Lines never hold a line break; Text() is the input with every line end written as CR LF and a
// CR LF after an unterminated last line (checked directly for inputs without a lone CR, whose
// only line ends are CR LF and LF); loading the saved text gives the same lines; a file loads
// like the same bytes given to SetText, and SaveToFile writes exactly Text().
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/string_list.h"

namespace {

bool HasLoneCr(const AnsiString& text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return true;
    return false;
}

// `text` (without a lone CR) with each lone LF widened to CR LF and a final CR LF if missing.
AnsiString WithCrLfLineEnds(const AnsiString& text) {
    AnsiString out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString input = fuzzsupport::Bytes(data, size);
    TStringList list;
    list.SetText(input);

    size_t lineBytes = 0;
    for (const AnsiString& line : list.Lines()) {
        FUZZ_CHECK(line.find_first_of("\r\n") == AnsiString::npos, "a line holds no CR or LF");
        lineBytes += line.size();
    }
    FUZZ_CHECK(lineBytes + fuzzsupport::CountOccurrences(input, "\r") +
                       fuzzsupport::CountOccurrences(input, "\n") ==
                   input.size(),
               "only line ends are dropped");
    FUZZ_CHECK(input.empty() == (list.Count() == 0), "an empty text, and only that, has no lines");

    const AnsiString text = list.Text();
    if (!HasLoneCr(input)) {
        FUZZ_CHECK(text == WithCrLfLineEnds(input), "Text() gives the input back with CR LF ends");
    }
    TStringList again;
    again.SetText(text);
    FUZZ_CHECK(again.Lines() == list.Lines(), "the saved text loads to the same lines");

    // The same through files.
    const std::string inputFile = (fuzzsupport::ScratchDir() / "input.lst").string();
    const std::string savedFile = (fuzzsupport::ScratchDir() / "saved.lst").string();
    fuzzsupport::WriteFile(inputFile, input);
    TStringList fromFile;
    fromFile.Add("stale line");
    fromFile.LoadFromFile(inputFile);
    FUZZ_CHECK(fromFile.Lines() == list.Lines(), "a file loads like its bytes");
    list.SaveToFile(savedFile);
    FUZZ_CHECK(fuzzsupport::ReadFile(savedFile) == text, "SaveToFile writes Text()");
    return 0;
}
