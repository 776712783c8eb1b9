// Fuzz target: proxy.def parsing. The input becomes proxy.def beside fixed keyword and URL files,
// and a job is constructed. The job must start exactly when the file is well-formed (line 1 "0",
// or at least four lines with a decimal port, and six with "1" on line 2), set the client's proxy
// from the file's lines when it starts, and fail only with the project's Exception otherwise;
// what it says on failure must not depend on the password line.
#include <cstddef>
#include <cstdint>

#include "fuzz/job_files.h"

namespace {

using namespace fuzzsupport;

Construction ConstructWithProxyFile(const AnsiString& proxyFile) {
    WriteFile("proxy.def", proxyFile);
    return Construct(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InScratchDir here;
    WriteFile("keywords.lst", "red shoes\r\nblue\r\n");
    WriteFile("urls.lst", "www.mine.example\r\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString proxyFile = Bytes(data, size);
    TStringList lines;
    lines.SetText(proxyFile);

    InScratchDir here;
    const Construction c = ConstructWithProxyFile(proxyFile);

    const bool direct = lines.Count() >= 1 && lines[0] == "0";
    const bool withCredentials = !direct && lines.Count() >= 2 && lines[1] == "1";
    int port = 0;
    const bool wellFormed =
        direct || (lines.Count() >= (withCredentials ? 6 : 4) && LineAsInt(lines, 3, port));
    FUZZ_CHECK(wellFormed == (c.job != nullptr), "the job starts exactly on a well-formed file");

    if (c.job) {
        const THttpClient& http = *c.job->http;
        FUZZ_CHECK(http.ProxyBasicAuthentication, "basic authentication is always switched on");
        FUZZ_CHECK(http.ProxyServer == (direct ? "" : lines[2]), "the proxy host is line 3");
        FUZZ_CHECK(http.ProxyPort == (direct ? 0 : port), "the proxy port is line 4");
        FUZZ_CHECK(http.ProxyUsername == (withCredentials ? lines[4] : ""), "the user is line 5");
        FUZZ_CHECK(http.ProxyPassword == (withCredentials ? lines[5] : ""),
                   "the password is line 6");
    } else if (withCredentials && lines.Count() >= 6) {
        // The same file with another password must fail with the same words.
        TStringList other = lines;
        other[5] = lines[5] == "x" ? "y" : "x";
        const Construction again = ConstructWithProxyFile(other.Text());
        FUZZ_CHECK(again.error == c.error, "the failure message does not depend on the password");
    }
    return 0;
}
