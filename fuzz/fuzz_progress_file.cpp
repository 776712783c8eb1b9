// Fuzz target: progress file parsing on a resumed start. The input becomes the progress file
// Fuzz.set beside three keywords with their result files, and a resumed job is constructed. The
// job must start exactly when the file is well-formed (four lines, three decimal numbers, a
// keyword index of an existing keyword), take its page, position, keyword and next-page URL from
// the file, read back the result files of the keywords it has reached and no others, and fail
// only with the project's Exception otherwise.
#include <cstddef>
#include <cstdint>

#include "fuzz/job_files.h"

namespace {

using namespace fuzzsupport;

const AnsiString kResults[] = {"a.example\r\nb.example/x\r\n", "", "3#Error found#\r\n"};
constexpr int kKeywords = 3;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InScratchDir here;
    WriteFile("proxy.def", "0\r\n");
    WriteFile("keywords.lst", "red shoes\r\n\r\nblue\r\n");
    WriteFile("urls.lst", "www.mine.example\r\n");
    for (int i = 0; i < kKeywords; ++i)
        WriteFile(TSearchEngines::ResultFileName(ConstructedJob::kEngine, i), kResults[i]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString progressFile = Bytes(data, size);
    TStringList lines;
    lines.SetText(progressFile);

    InScratchDir here;
    WriteFile(TSearchEngines::ProgressFileName(ConstructedJob::kEngine), progressFile);
    const Construction c = Construct(1);

    int page = 0, position = 0, keyword = -1;
    const bool wellFormed = lines.Count() >= 4 && LineAsInt(lines, 0, page) &&
                            LineAsInt(lines, 1, position) && LineAsInt(lines, 2, keyword) &&
                            keyword >= 0 && keyword < kKeywords;
    FUZZ_CHECK(wellFormed == (c.job != nullptr), "the job starts exactly on a well-formed file");
    if (!c.job) return 0;

    const ConstructedJob& job = *c.job;
    FUZZ_CHECK(job.pageNumber == page, "the page number is line 1");
    FUZZ_CHECK(job.position == position && job.positionAtPageStart == position,
               "the position is line 2");
    FUZZ_CHECK(job.keywordIndex == keyword, "the keyword index is line 3");
    FUZZ_CHECK(job.nextPageUrl == lines[3], "the next-page URL is line 4, unchanged");
    for (int i = 0; i < kKeywords; ++i) {
        TStringList expected;
        if (i <= keyword) expected.SetText(kResults[i]);
        FUZZ_CHECK(job.resultLinks[i] && job.resultLinks[i]->Lines() == expected.Lines(),
                   "the result files of the keywords reached are read back, no others");
    }
    return 0;
}
