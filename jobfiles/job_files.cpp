#include "jobfiles/job_files.h"

#include <charconv>
#include <string_view>

#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace jobfiles {

namespace {

constexpr std::string_view kErrorMarkerSuffix = "#Error found#";

// StrToInt of line `line` (1-based) of `list`, with the file and line named on failure.
int IntFromLine(const TStringList& list, int line, const AnsiString& fileName) {
    try {
        return StrToInt(list[line - 1]);
    } catch (const EConvertError& e) {
        throw EConvertError(fileName + " line " + IntToStr(line) + ": " + e.what());
    }
}

void RequireLines(const TStringList& list, int needed, const AnsiString& fileName,
                  const char* what) {
    if (list.Count() < needed) {
        throw EStringListError(fileName + " has " + IntToStr(list.Count()) +
                               (list.Count() == 1 ? " line; " : " lines; ") + what +
                               " needs at least " + IntToStr(needed));
    }
}

}  // namespace

AnsiString ProgressFileName(const AnsiString& engine) {
    return engine + ".set";
}

AnsiString ResultFileName(const AnsiString& engine, int keyword) {
    return engine + "-" + IntToStr(keyword) + ".urls";
}

AnsiString FirstPageFileName(const AnsiString& engine) {
    return engine + ".start";
}

std::optional<ResultFileRef> ParseResultFileName(const AnsiString& name) {
    constexpr std::string_view kSuffix = ".urls";
    const std::string_view text(name);
    if (text.size() <= kSuffix.size() || text.substr(text.size() - kSuffix.size()) != kSuffix)
        return std::nullopt;
    const std::string_view stem = text.substr(0, text.size() - kSuffix.size());
    const size_t dash = stem.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == stem.size()) return std::nullopt;
    const std::string_view digits = stem.substr(dash + 1);
    ResultFileRef ref;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), ref.keyword);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.front() == '-' ||
        digits.front() == '+') {
        return std::nullopt;
    }
    ref.engine = AnsiString(stem.substr(0, dash));
    return ref;
}

ProgressRecord ProgressRecord::Parse(const TStringList& lines, const AnsiString& fileName) {
    RequireLines(lines, 4, fileName, "a progress file");
    ProgressRecord record;
    record.pageNumber = IntFromLine(lines, 1, fileName);
    record.position = IntFromLine(lines, 2, fileName);
    record.keywordIndex = IntFromLine(lines, 3, fileName);
    record.nextPageUrl = lines[3];
    return record;
}

ProgressRecord ProgressRecord::Load(const AnsiString& fileName) {
    TStringList lines;
    lines.LoadFromFile(fileName);
    return Parse(lines, fileName);
}

TStringList ProgressRecord::Lines() const {
    TStringList lines;
    lines.Add(IntToStr(pageNumber));
    lines.Add(IntToStr(position));
    lines.Add(IntToStr(keywordIndex));
    lines.Add(nextPageUrl);
    return lines;
}

ProxySettings ProxySettings::Parse(const TStringList& lines) {
    if (lines.Count() == 0) {
        throw EStringListError(AnsiString(kProxyFile) +
                               " is empty; its first line must be \"0\" (direct connection) "
                               "or say that a proxy is used");
    }
    ProxySettings settings;
    if (lines[0] == "0") return settings;
    settings.useProxy = true;
    RequireLines(lines, 4, kProxyFile, "a proxy");
    settings.host = lines[2];
    settings.port = IntFromLine(lines, 4, kProxyFile);
    if (lines[1] == "1") {
        RequireLines(lines, 6, kProxyFile, "a proxy with a user name and password");
        settings.credentials = true;
        settings.user = lines[4];
        settings.password = lines[5];
    }
    return settings;
}

ProxySettings ProxySettings::Load() {
    TStringList lines;
    lines.LoadFromFile(kProxyFile);
    return Parse(lines);
}

TStringList ProxySettings::Lines() const {
    TStringList lines;
    if (!useProxy) {
        lines.Add("0");
        return lines;
    }
    lines.Add("1");
    lines.Add(credentials ? "1" : "0");
    lines.Add(host);
    lines.Add(IntToStr(port));
    if (credentials) {
        lines.Add(user);
        lines.Add(password);
    }
    return lines;
}

AnsiString ErrorMarker(int pageNumber) {
    return IntToStr(pageNumber) + AnsiString(kErrorMarkerSuffix);
}

bool IsErrorMarker(const AnsiString& line) {
    const std::string_view text(line);
    if (text.size() <= kErrorMarkerSuffix.size()) return false;
    const std::string_view number = text.substr(0, text.size() - kErrorMarkerSuffix.size());
    if (text.substr(number.size()) != kErrorMarkerSuffix) return false;
    const size_t digitsFrom = number.front() == '-' ? 1 : 0;
    return number.size() > digitsFrom &&
           number.find_first_not_of("0123456789", digitsFrom) == std::string_view::npos;
}

ResultLines ResultLines::From(const std::vector<AnsiString>& lines) {
    ResultLines result;
    result.links.reserve(lines.size());
    for (const AnsiString& line : lines) {
        if (IsErrorMarker(line)) {
            if (!result.givenUp) result.positionsBeforeGiveUp = static_cast<int>(result.links.size());
            result.givenUp = true;
        } else {
            result.links.push_back(line);
        }
    }
    result.endsWithGiveUp = !lines.empty() && IsErrorMarker(lines.back());
    return result;
}

}  // namespace jobfiles
