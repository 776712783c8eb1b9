// Fuzz target: progress file parsing on a resumed start. The input becomes the progress file
// Fuzz.set beside three keywords with their result files, and a resumed job is constructed. The
// job must start exactly when the file is well-formed (four lines, three decimal numbers, a
// keyword index of an existing keyword), take its page, position, keyword and next-page URL from
// the file, read back the result files of the keywords it has reached and no others, keep of the
// current keyword only the links the saved position counts (error marker lines do not count), and
// fail only with the project's Exception otherwise. When the current keyword's file holds fewer
// links than the position counts, or the position is negative, and the keyword was not given up
// (a marker line in the file and the give-up position or beyond in the progress),
// the keyword starts again: first page, position 0, no next-page URL, no links.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/job_files.h"

namespace {

using namespace fuzzsupport;

const AnsiString kResults[] = {"a.example\r\nb.example/x\r\n", "",
                               "c.example\r\n3#Error found#\r\nd.example\r\n"};
constexpr int kKeywords = 3;

// The lines of `results` a resumed job keeps for its current keyword at `position`: everything
// before the link that would be number position + 1.
std::vector<AnsiString> CountedLines(const AnsiString& results, int position) {
    TStringList lines;
    lines.SetText(results);
    std::vector<AnsiString> kept;
    int links = 0;
    for (const AnsiString& line : lines.Lines()) {
        const bool errorMarker = jobfiles::IsErrorMarker(line);
        if (!errorMarker && ++links > position) break;
        kept.push_back(line);
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InScratchDir here;
    WriteFile("proxy.def", "0\r\n");
    WriteFile("keywords.lst", "red shoes\r\n\r\nblue\r\n");
    WriteFile("urls.lst", "www.mine.example\r\n");
    for (int i = 0; i < kKeywords; ++i)
        WriteFile(jobfiles::ResultFileName(ConstructedJob::kEngine, i), kResults[i]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString progressFile = Bytes(data, size);
    TStringList lines;
    lines.SetText(progressFile);

    InScratchDir here;
    WriteFile(jobfiles::ProgressFileName(ConstructedJob::kEngine), progressFile);
    const Construction c = Construct(1);

    int page = 0, position = 0, keyword = -1;
    const bool wellFormed = lines.Count() >= 4 && LineAsInt(lines, 0, page) &&
                            LineAsInt(lines, 1, position) && LineAsInt(lines, 2, keyword) &&
                            keyword >= 0 && keyword < kKeywords;
    FUZZ_CHECK(wellFormed == (c.job != nullptr), "the job starts exactly on a well-formed file");
    if (!c.job) return 0;

    const ConstructedJob& job = *c.job;
    TStringList current;
    current.SetText(kResults[keyword]);
    const jobfiles::ResultLines saved = jobfiles::ResultLines::From(current.Lines());
    // Given up: a marker line in the file and the give-up position (or beyond) in the progress.
    const bool givenUp = saved.givenUp && position >= ConstructedJob::kGiveUpPosition;
    const bool startsAgain =
        position < 0 || (!givenUp && static_cast<int>(saved.links.size()) < position);
    if (startsAgain) {
        FUZZ_CHECK(job.pageNumber == 1 && job.position == 0 && job.positionAtPageStart == 0 &&
                       job.nextPageUrl.empty(),
                   "a keyword whose file lost links the progress counts starts again");
    } else {
        FUZZ_CHECK(job.pageNumber == page, "the page number is line 1");
        FUZZ_CHECK(job.position == position && job.positionAtPageStart == position,
                   "the position is line 2");
        FUZZ_CHECK(job.nextPageUrl == lines[3], "the next-page URL is line 4, unchanged");
    }
    FUZZ_CHECK(job.keywordIndex == keyword, "the keyword index is line 3");
    for (int i = 0; i < kKeywords; ++i) {
        TStringList all;
        if (i < keyword) all.SetText(kResults[i]);
        std::vector<AnsiString> expected = all.Lines();
        if (i == keyword && !startsAgain) expected = CountedLines(kResults[i], position);
        if (i == keyword && startsAgain) expected.clear();
        FUZZ_CHECK(job.resultLinks[i] && job.resultLinks[i]->Lines() == expected,
                   "the result files of the keywords reached are read back, no others, and the "
                   "current keyword keeps the links its position counts");
    }
    return 0;
}
