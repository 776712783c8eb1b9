#include "host/run/run_gateway.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/gateway/proxy_list.h"
#include "host/gateway/remote_gateway.h"
#include "host/run/new_file.h"
#include "platform/string_list.h"

namespace rankcheck {

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

milliseconds Seconds(double seconds, const char* option, bool zeroAllowed) {
    if (!std::isfinite(seconds) || seconds < 0 || (!zeroAllowed && seconds == 0) ||
        seconds > 366.0 * 24 * 3600) {
        throw std::invalid_argument(std::string(option) + " must be a number of seconds" +
                                    (zeroAllowed ? " of 0 or more" : " above 0") +
                                    " (at most a year)");
    }
    return milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

std::string LinesText(const std::vector<std::string>& lines) {
    TStringList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list.Text();
}

// The plug-in files of `engine` in `folder`: its progress file, first page and result files.
std::vector<fs::path> PluginFiles(const fs::path& folder, const std::string& engine) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const auto ref = jobfiles::ParseResultFileName(name);
        if ((ref && ref->engine == engine) || name == jobfiles::ProgressFileName(engine) ||
            name == jobfiles::FirstPageFileName(engine)) {
            if (entry.is_regular_file(ec)) files.push_back(entry.path());
        }
    }
    return files;
}

// "bakery-12345": the project folder's name and this process, to name the run at a gateway
// shared by several projects.
std::string ClientName(const fs::path& project) {
    std::string name;
    for (const char c : project.filename().string())
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
    if (name.empty()) name = "project";
    return name + "-" + std::to_string(::getpid());
}

std::vector<gateway::Upstream> ProjectUpstreams(const fs::path& project,
                                                const jobfiles::ProxySettings& userProxy,
                                                std::ostream& warnings) {
    const fs::path list = project / kProxyListFile;
    std::error_code ec;
    if (!fs::exists(list, ec)) return {gateway::UpstreamFromProxySettings(userProxy)};
    gateway::ProxyList proxies = gateway::LoadProxyList(list.string());
    if (const auto warning = gateway::OwnerOnlyWarning(list.string(), proxies.holdsPasswords))
        warnings << "rankcheck: warning: " << *warning << '\n';
    return std::move(proxies.upstreams);
}

}  // namespace

gateway::GatewayOptions GatewayOptionsOf(const GatewaySettings& settings,
                                         std::vector<gateway::Upstream> upstreams) {
    gateway::GatewayOptions options;
    options.upstreams = std::move(upstreams);
    options.pace = Seconds(settings.paceSeconds, "--pace", true);
    options.timeout = Seconds(settings.timeoutSeconds, "--timeout", false);
    if (settings.suspendRateLimited) {
        options.blocks.rateLimited =
            Seconds(*settings.suspendRateLimited, "--suspend-rate-limited", false);
    }
    if (settings.suspendBlocked)
        options.blocks.blocked = Seconds(*settings.suspendBlocked, "--suspend-blocked", false);
    if (settings.suspendLongest)
        options.blocks.longest = Seconds(*settings.suspendLongest, "--suspend-longest", false);
    if (options.blocks.longest < std::max(options.blocks.rateLimited, options.blocks.blocked)) {
        throw std::invalid_argument(
            "--suspend-longest must be at least --suspend-rate-limited and --suspend-blocked");
    }
    return options;
}

std::pair<std::string, int> ParseHostPort(const std::string& text, const std::string& option) {
    const size_t colon = text.rfind(':');
    int port = 0;
    if (colon != std::string::npos && colon > 0) {
        try {
            size_t used = 0;
            port = std::stoi(text.substr(colon + 1), &used);
            if (used != text.size() - colon - 1) port = 0;
        } catch (const std::exception&) {
            port = 0;
        }
    }
    if (port <= 0 || port > 65535) {
        throw std::invalid_argument(option + " " + text +
                                    ": give HOST:PORT, for example 127.0.0.1:8118");
    }
    return {text.substr(0, colon), port};
}

RunGateway::RunGateway(const GatewaySettings& settings, const fs::path& project,
                       const jobfiles::ProxySettings& userProxy, std::ostream& warnings)
    : project_(project), jobFolder_(project / kJobsFolder / kRunFolder) {
    if (!settings.remote.empty()) {
        std::tie(remoteHost_, remotePort_) = ParseHostPort(settings.remote, "--gateway");
        client_ = ClientName(project);
        try {
            uint64_t last = 0;
            gateway::RemoteGateway(remoteHost_, remotePort_).EventsSince(0, client_, last);
            seen_ = last;
        } catch (const std::exception& e) {
            throw std::runtime_error("--gateway " + settings.remote +
                                     ": no rankcheck gateway answers there (" + e.what() +
                                     "); start one with `rankcheck gateway --listen " +
                                     settings.remote + "`");
        }
        return;
    }
    gateway::GatewayOptions options =
        GatewayOptionsOf(settings, ProjectUpstreams(project, userProxy, warnings));
    options.stateFile = (project / kJobsFolder / kGatewayStateFile).string();
    local_ = std::make_unique<gateway::Gateway>(std::move(options));
    local_->Start();
}

RunGateway::~RunGateway() = default;

void RunGateway::TakeOverProjectFiles(const std::vector<std::string>& engines) {
    std::error_code ec;
    for (const std::string& engine : engines) {
        if (!PluginFiles(jobFolder_, engine).empty()) continue;
        for (const fs::path& file : PluginFiles(project_, engine)) {
            fs::rename(file, jobFolder_ / file.filename(), ec);
            if (ec) throw std::runtime_error(file.string() + ": " + ec.message());
        }
    }
}

void RunGateway::PrepareJobFolder(const FolderInputs& inputs) {
    std::error_code ec;
    for (const fs::path& folder : {project_ / kJobsFolder, jobFolder_}) {
        const fs::file_status status = fs::symlink_status(folder, ec);
        if (status.type() == fs::file_type::not_found) {
            if (!fs::create_directory(folder, ec) && ec)
                throw std::runtime_error(folder.string() + ": " + ec.message());
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
        } else if (status.type() != fs::file_type::directory) {
            throw std::runtime_error(folder.string() +
                                     " is not a folder (a link or a file): rankcheck makes its "
                                     "job folders itself and writes nothing there");
        }
    }
    const auto replace = [&](const char* name, bool read, const std::vector<std::string>& lines) {
        if (read) {
            ReplaceWholeFile(jobFolder_ / name, LinesText(lines), 0666);
        } else {
            fs::remove(jobFolder_ / name, ec);
        }
    };
    replace(jobfiles::kKeywordFile, inputs.keywordsRead, inputs.keywords);
    replace(jobfiles::kUrlFile, inputs.urlsRead, inputs.urls);
    WriteProxyFile(jobFolder_);
}

void RunGateway::WriteProxyFile(const fs::path& folder) const {
    ReplaceWholeFile(folder / jobfiles::kProxyFile, JobProxy().Lines().Text(), 0600);
}

jobfiles::ProxySettings RunGateway::JobProxy() const {
    if (local_) return local_->JobProxySettings();
    jobfiles::ProxySettings settings = gateway::GatewayProxySettings(remoteHost_, remotePort_);
    settings.credentials = true;
    settings.user = client_;
    settings.password = "-";
    return settings;
}

std::optional<gateway::SystemTime> RunGateway::AllSuspendedUntil() const {
    if (local_) return local_->AllSuspendedUntil();
    std::optional<gateway::SystemTime> first;
    for (const gateway::UpstreamState& state :
         gateway::RemoteGateway(remoteHost_, remotePort_).Upstreams()) {
        if (!state.suspendedUntil || *state.suspendedUntil <= system_clock::now()) return {};
        if (!first || *state.suspendedUntil < *first) first = state.suspendedUntil;
    }
    return first;
}

std::vector<gateway::Event> RunGateway::NewEvents() {
    if (local_) {
        std::vector<gateway::Event> events = local_->Events().Since(seen_);
        if (!events.empty()) seen_ = events.back().sequence;
        return events;
    }
    uint64_t last = seen_;
    std::vector<gateway::Event> events;
    try {
        events = gateway::RemoteGateway(remoteHost_, remotePort_).EventsSince(seen_, client_, last);
    } catch (const std::exception&) {
        return {};  // the pages failing say so; their causes are lost with the gateway
    }
    seen_ = last;
    return events;
}

std::vector<gateway::UpstreamStats> RunGateway::Stats(const std::string& engine) const {
    if (local_) return local_->Stats(engine);
    try {
        return gateway::RemoteGateway(remoteHost_, remotePort_).Stats(engine, client_);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace rankcheck
