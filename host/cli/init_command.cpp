// rankcheck init: a new working folder with the three input files, so that a first project needs
// no knowledge of their formats.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>

#include "host/cli/commands.h"
#include "host/gateway/proxy_list.h"
#include "host/report/shell_quote.h"
#include "host/report/text_table.h"
#include "host/run/new_file.h"
#include "host/run/run_gateway.h"
#include "jobfiles/job_files.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace fs = std::filesystem;

namespace {

// The proxy password typed at the terminal, without echo. Empty optional: no terminal.
std::optional<std::string> PasswordFromTerminal(const std::string& user) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // Echo goes off before the prompt shows: a password typed as soon as the prompt appears is
    // neither echoed nor flushed away. TCSANOW keeps what was typed ahead.
    termios saved{};
    const bool haveTerminal = ::tcgetattr(fd, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSANOW, &quiet);
    }
    const std::string prompt = "Password of proxy user " + user + ": ";
    if (::write(fd, prompt.data(), prompt.size()) < 0) {
        if (haveTerminal) ::tcsetattr(fd, TCSANOW, &saved);
        ::close(fd);
        return std::nullopt;
    }
    std::string password;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n' && c != '\r')
        password += c;
    if (haveTerminal) ::tcsetattr(fd, TCSANOW, &saved);
    const ssize_t echoed = ::write(fd, "\n", 1);  // the line end the user typed was not echoed
    static_cast<void>(echoed);
    ::close(fd);
    return password;
}

// The first line of `file`, without its line end.
std::string FirstLineOf(const std::string& file) {
    TStringList lines;
    lines.LoadFromFile(file);
    return lines.Count() > 0 ? lines[0] : std::string();
}

TStringList ListOf(std::initializer_list<const char*> lines) {
    TStringList list;
    for (const char* line : lines)
        list.Add(line);
    return list;
}

// The proxy of --proxy HOST:PORT (none: a direct connection); false when the option is malformed
// (the reason printed).
bool ParseProxy(const std::string& option, jobfiles::ProxySettings& proxy) {
    if (option.empty()) return true;
    // user:password@host:port: the password would stand in the host line of proxy.def, in the
    // messages that name the proxy and in the process list. It is refused, and not repeated.
    if (option.find('@') != std::string::npos) {
        std::cerr << "rankcheck: --proxy takes HOST:PORT alone, without a user name or password "
                     "(the text given is not repeated here, as it may hold a password); give the "
                     "user with --proxy-user USER and the password with --proxy-password-file "
                     "FILE, or type it when asked\n";
        return false;
    }
    const size_t colon = option.rfind(':');
    int port = 0;
    try {
        if (colon == std::string::npos || colon == 0) throw EConvertError("");
        port = StrToInt(option.substr(colon + 1));
    } catch (const EConvertError&) {
        std::cerr << "rankcheck: --proxy " << option
                  << ": give the proxy as HOST:PORT, for instance proxy.example:3128\n";
        return false;
    }
    if (port < 1 || port > 65535) {
        std::cerr << "rankcheck: --proxy " << option << ": the port must be between 1 and 65535\n";
        return false;
    }
    proxy.useProxy = true;
    proxy.host = option.substr(0, colon);
    proxy.port = port;
    return true;
}

// The proxy's user and password of --proxy-user and --proxy-password-file, or typed at the
// terminal; false when they cannot be had (the reason printed).
bool ReadCredentials(const InitCommandOptions& options, jobfiles::ProxySettings& proxy) {
    if (options.proxyUser.empty()) {
        if (options.proxyPasswordFile.empty()) return true;
        std::cerr << "rankcheck: --proxy-password-file needs --proxy-user USER\n";
        return false;
    }
    if (!proxy.useProxy) {
        std::cerr << "rankcheck: --proxy-user needs --proxy HOST:PORT\n";
        return false;
    }
    proxy.credentials = true;
    proxy.user = options.proxyUser;
    if (!options.proxyPasswordFile.empty()) {
        try {
            proxy.password = FirstLineOf(options.proxyPasswordFile);
        } catch (const Exception& e) {
            std::cerr << "rankcheck: --proxy-password-file: " << e.what() << '\n';
            return false;
        }
        return true;
    }
    const auto typed = PasswordFromTerminal(options.proxyUser);
    if (!typed) {
        std::cerr << "rankcheck: no terminal to read the proxy password from; give it in a file "
                     "with --proxy-password-file FILE\n";
        return false;
    }
    proxy.password = *typed;
    return true;
}

// Makes the folder and writes the three input files; false when the folder cannot be made, one
// of the files exists (nothing written then) or cannot be written (the reason printed). proxy.def
// is mode 0600 from its first byte when it holds a password; no file is written through a link.
bool WriteInputFiles(const fs::path& dir, const jobfiles::ProxySettings& proxy) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::cerr << "rankcheck: " << dir.string() << ": cannot be created: " << ec.message()
                  << '\n';
        return false;
    }
    const auto exists = [](const fs::path& path) {
        std::error_code error;
        return fs::symlink_status(path, error).type() != fs::file_type::not_found;
    };
    for (const char* name : {jobfiles::kKeywordFile, jobfiles::kUrlFile, jobfiles::kProxyFile}) {
        if (exists(dir / name)) {
            std::cerr << "rankcheck: " << (dir / name).string()
                      << " exists already; init never overwrites a file (nothing was written)";
            if (std::string_view(name) != jobfiles::kProxyFile)
                std::cerr << "; in a project, init --proxy HOST:PORT or init --direct replaces "
                             "proxy.def alone";
            std::cerr << '\n';
            return false;
        }
    }
    try {
        WriteNewFile(dir / jobfiles::kKeywordFile,
                     ListOf({"fresh bread", "sourdough starter", "rye flour"}).Text(), 0666);
        WriteNewFile(dir / jobfiles::kUrlFile, ListOf({"www.example.com"}).Text(), 0666);
        WriteNewFile(dir / jobfiles::kProxyFile, proxy.Lines().Text(),
                     proxy.credentials ? 0600 : 0666);
    } catch (const FileExistsError& e) {
        std::cerr << "rankcheck: " << e.what() << "; init never overwrites a file\n";
        return false;
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    return true;
}

// Whether `dir` holds a project already: its keywords.lst or its urls.lst.
bool IsProject(const fs::path& dir) {
    std::error_code ec;
    for (const char* name : {jobfiles::kKeywordFile, jobfiles::kUrlFile}) {
        if (fs::symlink_status(dir / name, ec).type() != fs::file_type::not_found) return true;
    }
    return false;
}

// "the proxy HOST:PORT with user U" or "a direct connection".
std::string ProxyWords(const jobfiles::ProxySettings& proxy) {
    if (!proxy.useProxy) return "a direct connection";
    return "the proxy " + proxy.host + ":" + std::to_string(proxy.port) +
           (proxy.credentials ? " with user " + proxy.user : "");
}

// A project's proxy.def replaced by `proxy`, nothing else touched: the new one written whole
// beside it (0600 from its first byte when it holds a password), the old one hard-linked as
// proxy.def.bak (the same file: its mode kept), then the new one renamed over it, so that
// proxy.def is whole at every moment. `hadOld`: there was a proxy.def. False when it cannot be
// done (the reason printed; proxy.def as it was).
bool ReplaceProxyFile(const fs::path& dir, const jobfiles::ProxySettings& proxy, bool& hadOld) {
    const fs::path target = dir / jobfiles::kProxyFile;
    const fs::path backup = dir / (std::string(jobfiles::kProxyFile) + ".bak");
    const fs::path fresh = dir / (std::string(".") + jobfiles::kProxyFile + ".new");
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(target, ec).type();
    hadOld = type != fs::file_type::not_found;
    if (hadOld && type != fs::file_type::regular) {
        std::cerr << "rankcheck: " << target.string()
                  << " is not a plain file; init replaces only a plain proxy.def (nothing was "
                     "changed)\n";
        return false;
    }
    const auto fail = [&](const std::string& what) {
        std::cerr << "rankcheck: " << what << " (" << target.string() << " is as it was)\n";
        ::unlink(fresh.c_str());
        return false;
    };
    ::unlink(fresh.c_str());  // left by an init that was killed
    try {
        WriteNewFile(fresh, proxy.Lines().Text(), proxy.credentials ? 0600 : 0666);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    if (hadOld) {
        if (::unlink(backup.c_str()) != 0 && errno != ENOENT)
            return fail(backup.string() + ": cannot be replaced: " + std::strerror(errno));
        if (::link(target.c_str(), backup.c_str()) != 0)
            return fail(backup.string() + ": cannot be written: " + std::strerror(errno));
    }
    if (::rename(fresh.c_str(), target.c_str()) != 0)
        return fail(target.string() + ": cannot be replaced: " + std::strerror(errno));
    return true;
}

// The bytes of the --proxies list, checked (none without the option); false when it is wrong (the
// reason, naming the file and line, printed).
bool ReadProxyList(const InitCommandOptions& options, std::string& bytes) {
    if (options.proxies.empty()) return true;
    try {
        const gateway::ProxyList list = gateway::LoadProxyList(options.proxies);
        if (list.upstreams.empty()) {
            std::cerr << "rankcheck: --proxies " << options.proxies
                      << " names no proxy (one a line: direct, http://host:port, ...)\n";
            return false;
        }
        TStringList lines;
        lines.LoadFromFile(options.proxies);
        bytes = lines.Text();
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: --proxies: " << e.what() << '\n';
        return false;
    }
    const fs::path target = fs::path(options.dir) / kProxyListFile;
    std::error_code ec;
    if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) {
        std::cerr << "rankcheck: " << target.string()
                  << " exists already; init never overwrites a file (nothing was written)\n";
        return false;
    }
    return true;
}

// proxies.lst of the project, readable by its owner alone (it may hold passwords).
bool WriteProxyList(const fs::path& dir, const std::string& bytes) {
    if (bytes.empty()) return true;
    try {
        WriteNewFile(dir / kProxyListFile, bytes, 0600);
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return false;
    }
    return true;
}

void PrintNextSteps(const InitCommandOptions& options, const jobfiles::ProxySettings& proxy) {
    const std::string where = options.dir == "." ? "" : " --dir " + ShellQuote(options.dir);
    std::cout
        << "Wrote a new project in " << fs::absolute(options.dir).lexically_normal().string()
        << ":\n"
        << "  keywords.lst  three example keywords: put yours there, one a line, 500 at most\n"
        << "  urls.lst      www.example.com: put your own site's URLs there, one per line\n"
        << "  proxy.def     " << ProxyWords(proxy)
        << "\n\nThen search every keyword on both engines:\n  " << ShellQuote(options.program)
        << " run all" << where << "\nand see where your URLs rank:\n  "
        << ShellQuote(options.program) << " report" << where << '\n';
}

}  // namespace

ExitStatus InitCommand(const InitCommandOptions& options) {
    jobfiles::ProxySettings proxy;
    std::string proxyList;
    if (!ParseProxy(options.proxy, proxy) || !ReadCredentials(options, proxy) ||
        !ReadProxyList(options, proxyList)) {
        return ExitStatus::Refused;
    }
    const bool replacing = !options.proxy.empty() || options.direct;
    if (IsProject(options.dir) && (replacing || !proxyList.empty())) {
        const fs::path dir = fs::absolute(options.dir).lexically_normal();
        if (replacing) {
            bool hadOld = false;
            if (!ReplaceProxyFile(options.dir, proxy, hadOld)) return ExitStatus::Refused;
            const std::string said =
                (hadOld ? "Replaced " : "Wrote ") + (dir / jobfiles::kProxyFile).string() + ": " +
                ProxyWords(proxy) + ".\n" +
                (hadOld ? "The old one is kept as proxy.def.bak; the" : "The") +
                " other files of the project are as they were.";
            std::cout << WrapText(said, OutputColumns(STDOUT_FILENO), 2) << '\n';
        }
        if (!WriteProxyList(options.dir, proxyList)) return ExitStatus::Refused;
        if (!proxyList.empty()) {
            std::cout << WrapText("Wrote " + (dir / kProxyListFile).string() +
                                      " (readable by you alone): the runs go round its proxies.",
                                  OutputColumns(STDOUT_FILENO), 2)
                      << '\n';
        }
        return ExitStatus::Success;
    }
    if (!WriteInputFiles(options.dir, proxy) || !WriteProxyList(options.dir, proxyList)) {
        return ExitStatus::Refused;
    }
    PrintNextSteps(options, proxy);
    if (!proxyList.empty()) {
        std::cout << "The runs go round the proxies of proxies.lst (readable by you alone); "
                     "proxy.def is used with --no-gateway.\n";
    }
    return ExitStatus::Success;
}

}  // namespace rankcheck
