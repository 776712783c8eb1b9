// What the job-file fuzz targets share: a search job that only gets constructed (its thread
// never runs), the fixed input files around the file under test, and a run of the constructor
// that sorts its outcome. Construction may only fail with the project's Exception; any other
// exception, a crash or an abort is a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

#include "fuzz/fuzz_support.h"
#include "job/search_engines.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace fuzzsupport {

// A job built the way an engine adapter builds one, for an engine named "Fuzz".
class ConstructedJob : public TSearchEngines {
  public:
    static constexpr const char* kEngine = "Fuzz";

    explicit ConstructedJob(char resume) : TSearchEngines(resume, 100, 0, 0, nullptr, kEngine) {
        engineName = kEngine;
        resultsPerPage = 10;
        EncodeKeywords();
    }

  protected:
    void SearchPage() override {}
};

// The outcome of one construction: the job, or the message of the Exception that stopped it.
struct Construction {
    std::unique_ptr<ConstructedJob> job;
    AnsiString error;
};

inline Construction Construct(char resume) {
    Construction c;
    try {
        c.job = std::make_unique<ConstructedJob>(resume);
    } catch (const Exception& e) {
        c.error = e.what();
        FUZZ_CHECK(!c.error.empty(), "a failed construction says why");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "construction raised %s: %s\n", typeid(e).name(), e.what());
        FUZZ_CHECK(false, "construction fails with the project's Exception only");
    }
    return c;
}

// Line `index` (0-based) as a number, or false when StrToInt rejects it.
inline bool LineAsInt(const TStringList& lines, int index, int& value) {
    try {
        value = StrToInt(lines[index]);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

}  // namespace fuzzsupport
