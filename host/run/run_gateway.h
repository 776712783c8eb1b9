// RunGateway: the gateway one `rankcheck run` sends its plug-ins' requests through, and the job
// folder they work in. By default a Gateway of the run's own (in this process, on 127.0.0.1 and a
// free port) over the upstreams of the project: its proxies.lst when there is one, else the one
// upstream (or the direct connection) its proxy.def names; its suspensions are kept in
// jobs/gateway-state.json, so that they outlive the run. With `remote` set, a gateway that runs
// on its own (`rankcheck gateway`) serves the requests, and its status pages give the events and
// statistics of this run (named by a client name of its own).
//
// The plug-ins work in jobs/run/ of the project folder: keywords.lst and urls.lst of the check
// and a proxy.def pointing at the gateway are written there for each run, while the plug-ins'
// result and progress files stay from run to run (a --resume goes on there). The user's own
// files in the project folder are never written. A project whose plug-in files stand in the
// project folder from before (runs without a gateway) has them moved into jobs/run/ once, so that
// an unfinished run still resumes.
//
// Owned by RunSession for one run; main thread. The gateway's own threads serve the requests.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/gateway/event_log.h"
#include "host/gateway/gateway.h"
#include "host/gateway/upstream_stats.h"
#include "host/run/folder_inputs.h"
#include "host/run/job_folder.h"
#include "jobfiles/job_files.h"

namespace rankcheck {

// How a run uses the gateway (the options of `run`).
struct GatewaySettings {
    bool use = true;     // --no-gateway: false, the plug-ins work on the user's proxy.def
    std::string remote;  // --gateway HOST:PORT: a gateway that runs on its own
    double paceSeconds = 0;
    double timeoutSeconds = 20;
    // The suspensions of a block, in seconds; unset: the gateway's defaults.
    std::optional<double> suspendRateLimited, suspendBlocked, suspendLongest;
};

inline constexpr char kProxyListFile[] = "proxies.lst";
inline constexpr char kRunFolder[] = "run";
inline constexpr char kGatewayStateFile[] = "gateway-state.json";

// The options of a gateway from the command line's settings (pace, time-out, suspensions) and
// its upstreams. Raises std::invalid_argument naming the option that is out of range.
gateway::GatewayOptions GatewayOptionsOf(const GatewaySettings& settings,
                                         std::vector<gateway::Upstream> upstreams);

// "HOST:PORT" into its parts; raises std::invalid_argument naming `option` otherwise.
std::pair<std::string, int> ParseHostPort(const std::string& text, const std::string& option);

class RunGateway {
  public:
    // Reads the upstreams (proxies.lst, else `userProxy`), warns on `warnings` about a
    // proxies.lst with a password that others may read, and starts the gateway (or reaches the
    // remote one). Raises std::runtime_error with the reason (the file and line of a bad
    // proxies.lst, an address it cannot listen on, a remote gateway that does not answer).
    RunGateway(const GatewaySettings& settings, const std::filesystem::path& project,
               const jobfiles::ProxySettings& userProxy, std::ostream& warnings);
    ~RunGateway();
    RunGateway(const RunGateway&) = delete;
    RunGateway& operator=(const RunGateway&) = delete;

    // <project>/jobs/run: where the plug-ins work.
    const std::filesystem::path& JobFolder() const { return jobFolder_; }
    // Moves the plug-in files of a run without a gateway from the project folder into the job
    // folder, once: only when the job folder holds none of them yet.
    void TakeOverProjectFiles(const std::vector<std::string>& engines);
    // Writes the job folder's keywords.lst, urls.lst and proxy.def anew. An input file the
    // project folder lacks (or that could not be read) is left out, so that the plug-in refuses
    // to start naming it, as it does without the gateway.
    void PrepareJobFolder(const FolderInputs& inputs);
    // Replaces the proxy.def of `folder` (a recheck's job folder) with the gateway's.
    void WriteProxyFile(const std::filesystem::path& folder) const;

    // When every upstream is suspended: the time the first is back.
    std::optional<gateway::SystemTime> AllSuspendedUntil() const;
    // The events of this run that came since the last call.
    std::vector<gateway::Event> NewEvents();
    // A row per upstream for `engine` (its display name) in this run.
    std::vector<gateway::UpstreamStats> Stats(const std::string& engine) const;

  private:
    jobfiles::ProxySettings JobProxy() const;

    const std::filesystem::path project_;
    const std::filesystem::path jobFolder_;
    std::unique_ptr<gateway::Gateway> local_;
    std::string remoteHost_;
    int remotePort_ = 0;
    std::string client_;  // names this run at a remote gateway
    uint64_t seen_ = 0;
};

}  // namespace rankcheck
